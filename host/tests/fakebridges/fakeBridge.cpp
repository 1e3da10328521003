// A small middleware bridge for host tests. One source builds several
// libraries; FAKE_BRIDGE_NAME is the middleware name (and symbol prefix), and
// the FAKE_OMIT_* / FAKE_UNRESOLVED switches make deliberately broken or
// minimal ones (FAKE_OMIT_OPTIONAL leaves out the optional queue functions).
// Events are queued on wombat queues, as a real bridge does. Every lifecycle
// call is reported through mama_log at NORMAL as "<name>: <call>" so tests can
// follow the host's order of calls with the log capture.
//
// Environment (read when the call happens):
//   FAKE_BRIDGE_COMPILE_VERSION  compile version to record ("none": record nothing)
//   FAKE_BRIDGE_INIT_STATUS      status init returns
//   FAKE_BRIDGE_OPEN_STATUS      status open returns
//   FAKE_BRIDGE_PAYLOAD          payload name offered by getDefaultPayloadId
//   FAKE_BRIDGE_PAYLOAD_ID       its id character
//   FAKE_BRIDGE_EXTENDS_BASE     "true": declare that the base bridge fills the gaps
// The integration declarations are what a bridge compiles against.
#define OPENMAMA_INTEGRATION

#include <stdlib.h>
#include <string.h>

#include <new>

#include "mama/integration/bridge.h"
#include "mamainternal.h"
#include "queueimpl.h"
#include "subscriptionimpl.h"
#include "wombat/queue.h"

#define FAKE_CAT2(a, b) a##b
#define FAKE_CAT(a, b) FAKE_CAT2(a, b)
#define FAKE_FN(suffix) FAKE_CAT(FAKE_BRIDGE_NAME, suffix)
#define FAKE_STR2(x) #x
#define FAKE_STR(x) FAKE_STR2(x)
#define FAKE_EXPORT extern "C"

#ifdef FAKE_UNRESOLVED
// Defined nowhere: loading the library must fail because of it.
extern "C" void fakeBridgeSymbolThatDoesNotExist(void);
#endif

namespace
{
const char* const kName = FAKE_STR(FAKE_BRIDGE_NAME);

struct FakeQueue
{
    wombatQueue mQueue;
    mamaQueue mParent;
    mamaQueueEnqueueCB mEnqueueCb;
    void* mEnqueueClosure;
};

struct FakeSubscription
{
    mamaMsgCallbacks mCallbacks;
    mamaSubscription mParent;
    void* mClosure;
};

struct FakeInbox
{
    mamaInboxDestroyCallback mOnDestroyed;
    mamaInbox mParent;
    void* mClosure;
};

struct FakeToken
{
    int mUnused;
};

void report(const char* call)
{
    mama_log(MAMA_LOG_LEVEL_NORMAL, "%s: %s", kName, call);
}

mama_status statusFromEnv(const char* variable)
{
    const char* text = getenv(variable);
    return text ? static_cast<mama_status>(atoi(text)) : MAMA_STATUS_OK;
}

mama_status fromWombat(wombatQueueStatus status)
{
    if (status == WOMBAT_QUEUE_OK)
    {
        return MAMA_STATUS_OK;
    }
    return status == WOMBAT_QUEUE_TIMEOUT ? MAMA_STATUS_TIMEOUT : MAMA_STATUS_PLATFORM;
}

template <typename T> mama_status newToken(T** result)
{
    if (!result)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    *result = reinterpret_cast<T*>(new (std::nothrow) FakeToken());
    return *result ? MAMA_STATUS_OK : MAMA_STATUS_NOMEM;
}

template <typename T> mama_status deleteToken(T* token)
{
    delete reinterpret_cast<FakeToken*>(token);
    return MAMA_STATUS_OK;
}
} // namespace

// Bridge

#ifndef FAKE_OMIT_INIT
FAKE_EXPORT mama_status FAKE_FN(Bridge_init)(mamaBridge bridgeImpl)
{
#ifdef FAKE_UNRESOLVED
    fakeBridgeSymbolThatDoesNotExist();
#endif
    report("init");
    const char* version = getenv("FAKE_BRIDGE_COMPILE_VERSION");
    if (!version)
    {
        MAMA_SET_BRIDGE_COMPILE_TIME_VERSION(kName);
    }
    else if (strcmp(version, "none") != 0)
    {
        mamaBridgeImpl_setReadOnlyProperty(bridgeImpl, "compile_version", version);
    }
    return statusFromEnv("FAKE_BRIDGE_INIT_STATUS");
}
#endif

FAKE_EXPORT mama_status FAKE_FN(Bridge_open)(mamaBridge bridgeImpl)
{
    report("open");
    mama_status status = statusFromEnv("FAKE_BRIDGE_OPEN_STATUS");
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }
    mamaQueue queue = nullptr;
    status = mamaQueue_create(&queue, bridgeImpl);
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }
    mamaQueue_setQueueName(queue, "FAKE_DEFAULT_QUEUE");
    return mamaImpl_setDefaultEventQueue(bridgeImpl, queue);
}

FAKE_EXPORT mama_status FAKE_FN(Bridge_close)(mamaBridge bridgeImpl)
{
    // Payload libraries are expected to be gone before a bridge closes.
    report(mamaInternal_getDefaultPayload() ? "close (payload still loaded)" : "close");
    mamaQueue queue = nullptr;
    if (mama_getDefaultEventQueue(bridgeImpl, &queue) == MAMA_STATUS_OK)
    {
        mamaQueue_destroyTimedWait(queue, mamaBridgeImpl_getDefaultQueueTimeout());
    }
    return MAMA_STATUS_OK;
}

FAKE_EXPORT mama_status FAKE_FN(Bridge_start)(mamaQueue defaultEventQueue)
{
    report("start");
    return mamaQueue_dispatch(defaultEventQueue);
}

FAKE_EXPORT mama_status FAKE_FN(Bridge_stop)(mamaQueue defaultEventQueue)
{
    report("stop");
    return mamaQueue_stopDispatch(defaultEventQueue);
}

FAKE_EXPORT const char* FAKE_FN(Bridge_getVersion)(void)
{
    return "1.0-fake";
}

FAKE_EXPORT const char* FAKE_FN(Bridge_getName)(void)
{
    return kName;
}

FAKE_EXPORT mama_status FAKE_FN(Bridge_getDefaultPayloadId)(char*** name, char** id)
{
    static char payloadName[64];
    static char* names[] = {payloadName, nullptr};
    static char ids[2];
    if (!name || !id)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    const char* wanted = getenv("FAKE_BRIDGE_PAYLOAD");
    const char* wantedId = getenv("FAKE_BRIDGE_PAYLOAD_ID");
    strncpy(payloadName, wanted ? wanted : "corvexmsg", sizeof(payloadName) - 1);
    ids[0] = wantedId && *wantedId ? wantedId[0] : '1';
    *name = names;
    *id = ids;
    return MAMA_STATUS_OK;
}

// Queue

FAKE_EXPORT mama_status FAKE_FN(BridgeMamaQueue_create)(queueBridge* queue, mamaQueue parent)
{
    if (!queue || !parent)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    FakeQueue* impl = static_cast<FakeQueue*>(calloc(1, sizeof(FakeQueue)));
    if (!impl)
    {
        return MAMA_STATUS_NOMEM;
    }
    if (wombatQueue_allocate(&impl->mQueue) != WOMBAT_QUEUE_OK)
    {
        free(impl);
        return MAMA_STATUS_NOMEM;
    }
    if (wombatQueue_create(impl->mQueue, 0, 0, 0) != WOMBAT_QUEUE_OK)
    {
        wombatQueue_deallocate(impl->mQueue);
        free(impl);
        return MAMA_STATUS_PLATFORM;
    }
    impl->mParent = parent;
    *queue = reinterpret_cast<queueBridge>(impl);
    return MAMA_STATUS_OK;
}

FAKE_EXPORT mama_status FAKE_FN(BridgeMamaQueue_destroy)(queueBridge queue)
{
    FakeQueue* impl = reinterpret_cast<FakeQueue*>(queue);
    wombatQueue_destroy(impl->mQueue);
    free(impl);
    return MAMA_STATUS_OK;
}

#ifndef FAKE_OMIT_OPTIONAL
FAKE_EXPORT mama_status FAKE_FN(BridgeMamaQueue_getEventCount)(queueBridge queue, size_t* count)
{
    int size = 0;
    wombatQueue_getSize(reinterpret_cast<FakeQueue*>(queue)->mQueue, &size);
    *count = static_cast<size_t>(size);
    return MAMA_STATUS_OK;
}
#endif

#ifndef FAKE_OMIT_DISPATCH
FAKE_EXPORT mama_status FAKE_FN(BridgeMamaQueue_dispatch)(queueBridge queue)
{
    FakeQueue* impl = reinterpret_cast<FakeQueue*>(queue);
    while (mamaQueueImpl_isDispatching(impl->mParent))
    {
        wombatQueueStatus status = wombatQueue_timedDispatch(impl->mQueue, nullptr, nullptr, 50);
        if (status != WOMBAT_QUEUE_OK && status != WOMBAT_QUEUE_TIMEOUT)
        {
            return MAMA_STATUS_PLATFORM;
        }
    }
    return MAMA_STATUS_OK;
}
#endif

FAKE_EXPORT mama_status FAKE_FN(BridgeMamaQueue_timedDispatch)(queueBridge queue, uint64_t timeout)
{
    return fromWombat(wombatQueue_timedDispatch(reinterpret_cast<FakeQueue*>(queue)->mQueue,
                                                nullptr, nullptr, timeout));
}

FAKE_EXPORT mama_status FAKE_FN(BridgeMamaQueue_dispatchEvent)(queueBridge queue)
{
    mama_status status = fromWombat(wombatQueue_timedDispatch(
        reinterpret_cast<FakeQueue*>(queue)->mQueue, nullptr, nullptr, 0));
    return status == MAMA_STATUS_TIMEOUT ? MAMA_STATUS_OK : status;
}

FAKE_EXPORT mama_status FAKE_FN(BridgeMamaQueue_enqueueEvent)(queueBridge queue,
                                                              mamaQueueEnqueueCB callback,
                                                              void* closure)
{
    FakeQueue* impl = reinterpret_cast<FakeQueue*>(queue);
    wombatQueueStatus status = wombatQueue_enqueue(
        impl->mQueue, reinterpret_cast<wombatQueueCb>(callback), impl->mParent, closure);
    if (impl->mEnqueueCb)
    {
        impl->mEnqueueCb(impl->mParent, impl->mEnqueueClosure);
    }
    return fromWombat(status);
}

FAKE_EXPORT mama_status FAKE_FN(BridgeMamaQueue_stopDispatch)(queueBridge queue)
{
    return fromWombat(wombatQueue_unblock(reinterpret_cast<FakeQueue*>(queue)->mQueue));
}

#ifndef FAKE_OMIT_OPTIONAL
FAKE_EXPORT mama_status FAKE_FN(BridgeMamaQueue_setEnqueueCallback)(queueBridge queue,
                                                                    mamaQueueEnqueueCB callback,
                                                                    void* closure)
{
    FakeQueue* impl = reinterpret_cast<FakeQueue*>(queue);
    impl->mEnqueueCb = callback;
    impl->mEnqueueClosure = closure;
    return MAMA_STATUS_OK;
}
#endif

#ifndef FAKE_OMIT_OPTIONAL
FAKE_EXPORT mama_status FAKE_FN(BridgeMamaQueue_removeEnqueueCallback)(queueBridge queue)
{
    FakeQueue* impl = reinterpret_cast<FakeQueue*>(queue);
    impl->mEnqueueCb = nullptr;
    impl->mEnqueueClosure = nullptr;
    return MAMA_STATUS_OK;
}
#endif

#ifndef FAKE_OMIT_OPTIONAL
FAKE_EXPORT mama_status FAKE_FN(BridgeMamaQueue_getNativeHandle)(queueBridge queue,
                                                                 void** nativeHandle)
{
    *nativeHandle = queue;
    return MAMA_STATUS_OK;
}
#endif

#ifndef FAKE_OMIT_OPTIONAL
FAKE_EXPORT mama_status FAKE_FN(BridgeMamaQueue_setLowWatermark)(queueBridge, size_t lowWatermark)
{
    return lowWatermark == 0 ? MAMA_STATUS_NULL_ARG : MAMA_STATUS_OK;
}
#endif

#ifndef FAKE_OMIT_OPTIONAL
FAKE_EXPORT mama_status FAKE_FN(BridgeMamaQueue_setHighWatermark)(queueBridge, size_t highWatermark)
{
    return highWatermark == 0 ? MAMA_STATUS_NULL_ARG : MAMA_STATUS_OK;
}
#endif

// Transport

FAKE_EXPORT int FAKE_FN(BridgeMamaTransport_isValid)(transportBridge transport)
{
    return transport != nullptr;
}

FAKE_EXPORT mama_status FAKE_FN(BridgeMamaTransport_destroy)(transportBridge transport)
{
    return deleteToken(transport);
}

FAKE_EXPORT mama_status FAKE_FN(BridgeMamaTransport_create)(transportBridge* result, const char*,
                                                            mamaTransport)
{
    return newToken(result);
}

FAKE_EXPORT mama_status
FAKE_FN(BridgeMamaTransport_getNumLoadBalanceAttributes)(const char*, int* numLoadBalanceAttributes)
{
    *numLoadBalanceAttributes = 0;
    return MAMA_STATUS_OK;
}

// Subscription: accepted and kept; destroy reports back at once.

FAKE_EXPORT mama_status FAKE_FN(BridgeMamaSubscription_create)(
    subscriptionBridge* subsc_, const char*, const char*, mamaTransport, mamaQueue,
    mamaMsgCallbacks callback, mamaSubscription subscription, void* closure)
{
    FakeSubscription* impl = new (std::nothrow) FakeSubscription{callback, subscription, closure};
    if (!impl)
    {
        return MAMA_STATUS_NOMEM;
    }
    *subsc_ = reinterpret_cast<subscriptionBridge>(impl);
    return MAMA_STATUS_OK;
}

FAKE_EXPORT mama_status FAKE_FN(BridgeMamaSubscription_mute)(subscriptionBridge)
{
    return MAMA_STATUS_OK;
}

FAKE_EXPORT mama_status FAKE_FN(BridgeMamaSubscription_destroy)(subscriptionBridge subscriber)
{
    FakeSubscription* impl = reinterpret_cast<FakeSubscription*>(subscriber);
    if (impl->mCallbacks.onDestroy)
    {
        impl->mCallbacks.onDestroy(impl->mParent, impl->mClosure);
    }
    delete impl;
    return MAMA_STATUS_OK;
}

FAKE_EXPORT int FAKE_FN(BridgeMamaSubscription_isValid)(subscriptionBridge bridge)
{
    return bridge != nullptr;
}

// Timer: not offered by this bridge.

FAKE_EXPORT mama_status FAKE_FN(BridgeMamaTimer_create)(timerBridge*, void*, mamaTimerCb,
                                                        mamaTimerCb, mama_f64_t, mamaTimer, void*)
{
    return MAMA_STATUS_NOT_IMPLEMENTED;
}

FAKE_EXPORT mama_status FAKE_FN(BridgeMamaTimer_destroy)(timerBridge)
{
    return MAMA_STATUS_NOT_IMPLEMENTED;
}

// Publisher: sends go nowhere.

FAKE_EXPORT mama_status FAKE_FN(BridgeMamaPublisher_createByIndex)(publisherBridge* result,
                                                                   mamaTransport, int, const char*,
                                                                   const char*, const char*,
                                                                   mamaPublisher)
{
    return newToken(result);
}

FAKE_EXPORT mama_status FAKE_FN(BridgeMamaPublisher_destroy)(publisherBridge publisher)
{
    return deleteToken(publisher);
}

FAKE_EXPORT mama_status FAKE_FN(BridgeMamaPublisher_send)(publisherBridge, mamaMsg)
{
    return MAMA_STATUS_OK;
}

FAKE_EXPORT mama_status FAKE_FN(BridgeMamaPublisher_sendFromInbox)(publisherBridge, mamaInbox,
                                                                   mamaMsg)
{
    return MAMA_STATUS_OK;
}

FAKE_EXPORT mama_status FAKE_FN(BridgeMamaPublisher_sendFromInboxByIndex)(publisherBridge, int,
                                                                          mamaInbox, mamaMsg)
{
    return MAMA_STATUS_OK;
}

FAKE_EXPORT mama_status FAKE_FN(BridgeMamaPublisher_sendReplyToInbox)(publisherBridge, mamaMsg,
                                                                      mamaMsg)
{
    return MAMA_STATUS_OK;
}

// Inbox: destroy reports back at once.

FAKE_EXPORT mama_status FAKE_FN(BridgeMamaInbox_createByIndex)(
    inboxBridge* bridge, mamaTransport, int, mamaQueue, mamaInboxMsgCallback,
    mamaInboxErrorCallback, mamaInboxDestroyCallback onInboxDestroyed, void* closure,
    mamaInbox parent)
{
    FakeInbox* impl = new (std::nothrow) FakeInbox{onInboxDestroyed, parent, closure};
    if (!impl)
    {
        return MAMA_STATUS_NOMEM;
    }
    *bridge = reinterpret_cast<inboxBridge>(impl);
    return MAMA_STATUS_OK;
}

FAKE_EXPORT mama_status FAKE_FN(BridgeMamaInbox_create)(inboxBridge* bridge, mamaTransport tport,
                                                        mamaQueue queue, mamaInboxMsgCallback msgCB,
                                                        mamaInboxErrorCallback errorCB,
                                                        mamaInboxDestroyCallback onInboxDestroyed,
                                                        void* closure, mamaInbox parent)
{
    return FAKE_FN(BridgeMamaInbox_createByIndex)(bridge, tport, 0, queue, msgCB, errorCB,
                                                  onInboxDestroyed, closure, parent);
}

FAKE_EXPORT mama_status FAKE_FN(BridgeMamaInbox_destroy)(inboxBridge inbox)
{
    FakeInbox* impl = reinterpret_cast<FakeInbox*>(inbox);
    if (impl->mOnDestroyed)
    {
        impl->mOnDestroyed(impl->mParent, impl->mClosure);
    }
    delete impl;
    return MAMA_STATUS_OK;
}

// Message: a bridge part with nothing in it.

FAKE_EXPORT mama_status FAKE_FN(BridgeMamaMsg_create)(msgBridge* msg, mamaMsg)
{
    return newToken(msg);
}

FAKE_EXPORT mama_status FAKE_FN(BridgeMamaMsg_destroy)(msgBridge msg, int)
{
    return deleteToken(msg);
}

FAKE_EXPORT int FAKE_FN(BridgeMamaMsg_isFromInbox)(msgBridge)
{
    return 0;
}
