/* mamaPublisher: sends messages on one topic of a transport. Freeing waits for
 * the bridge to report its publisher gone, through the onDestroy callback the
 * host registers with the bridge. */
#include <atomic>
#include <cstdlib>
#include <new>

#include "bridge.h"
#include "mama/mama.h"
#include "msgimpl.h"
#include "publisherimpl.h"
#include "transportimpl.h"
#include "wombat/wlock.h"

struct mamaPublisherImpl_
{
    mamaTransport mTransport = nullptr;
    mamaBridgeImpl* mBridgeImpl = nullptr;
    publisherBridge mBridgePublisher = nullptr;
    mamaPublisherCallbacks mUserCallbacks = {};
    void* mClosure = nullptr;
    /* True when the bridge accepted the host's onDestroy; otherwise nothing
     * will report the bridge publisher gone and destroy frees at once. */
    bool mBridgeReportsDestroy = false;
    std::atomic<int> mState{MAMA_PUBLISHER_UNKNOWN};
    wLock mLock = nullptr; /* recursive: the bridge may report inside destroy */
};

namespace
{

void setState(mamaPublisher self, mamaPublisherState state)
{
    self->mState.store(state);
}

mamaPublisherState getState(mamaPublisher self)
{
    return static_cast<mamaPublisherState>(self->mState.load());
}

void freePublisher(mamaPublisher self)
{
    wlock_destroy(self->mLock);
    delete self;
}

/* Called with the lock held; releases it. The application hears of the
 * destruction last, and the publisher is gone when this returns. */
void finishDestroy(mamaPublisher self)
{
    setState(self, MAMA_PUBLISHER_DESTROYED);
    mama_publisherOnDestroyCb onDestroy = self->mUserCallbacks.onDestroy;
    void* closure = self->mClosure;
    wlock_unlock(self->mLock);
    if (onDestroy != nullptr)
        onDestroy(self, closure);
    freePublisher(self);
}

void MAMACALLTYPE onBridgePublisherDestroyed(mamaPublisher self, void*)
{
    if (self == nullptr)
        return;
    wlock_lock(self->mLock);
    switch (getState(self))
    {
    case MAMA_PUBLISHER_DESTROYING:
        /* Reported from inside the bridge's destroy: mamaPublisher_destroy
         * finishes once the bridge returns. */
        setState(self, MAMA_PUBLISHER_DESTROYED_BRIDGE);
        break;
    case MAMA_PUBLISHER_DESTROYING_WAIT_BRIDGE:
        finishDestroy(self);
        return;
    case MAMA_PUBLISHER_LIVE:
        /* The bridge dropped the publisher on its own; destroy frees it later. */
        self->mBridgePublisher = nullptr;
        setState(self, MAMA_PUBLISHER_DESTROYED_BRIDGE);
        break;
    default:
        mama_log(MAMA_LOG_LEVEL_WARN,
                 "mamaPublisher: destroy notification for publisher %p in state %s ignored",
                 static_cast<void*>(self), mamaPublisher_stringForState(getState(self)));
        break;
    }
    wlock_unlock(self->mLock);
}

/* Hands the bridge the callbacks it reports through. The structure is the
 * host's and is freed as soon as the bridge has copied it. */
void registerBridgeCallbacks(mamaPublisher self, mamaQueue queue)
{
    mamaBridgeImpl* bridge = self->mBridgeImpl;
    if (bridge->bridgeMamaPublisherSetUserCallbacks == nullptr)
        return;
    mamaPublisherCallbacks* callbacks = nullptr;
    if (mamaPublisherCallbacks_allocate(&callbacks) != MAMA_STATUS_OK)
    {
        mama_log(MAMA_LOG_LEVEL_ERROR, "mamaPublisher_create(): no memory for bridge callbacks");
        return;
    }
    callbacks->onError = self->mUserCallbacks.onError;
    callbacks->onSuccess = self->mUserCallbacks.onSuccess;
    callbacks->onDestroy = onBridgePublisherDestroyed;
    mama_status status = bridge->bridgeMamaPublisherSetUserCallbacks(self->mBridgePublisher, queue,
                                                                     callbacks, self->mClosure);
    mamaPublisherCallbacks_deallocate(callbacks);
    if (status != MAMA_STATUS_OK)
    {
        mama_log(MAMA_LOG_LEVEL_WARN,
                 "mamaPublisher_create(): bridge refused the publisher callbacks: %s",
                 mamaStatus_stringForStatus(status));
        return;
    }
    self->mBridgeReportsDestroy = true;
}

/* A publisher that can send: live, with its bridge part. */
mama_status checkSendable(mamaPublisher publisher)
{
    if (getState(publisher) != MAMA_PUBLISHER_LIVE || publisher->mBridgePublisher == nullptr)
        return MAMA_STATUS_INVALID_ARG;
    return MAMA_STATUS_OK;
}

} // namespace

extern "C"
{

    mama_status mamaPublisherCallbacks_allocate(mamaPublisherCallbacks** cb)
    {
        if (cb == nullptr)
            return MAMA_STATUS_NULL_ARG;
        *cb = static_cast<mamaPublisherCallbacks*>(calloc(1, sizeof(mamaPublisherCallbacks)));
        return *cb == nullptr ? MAMA_STATUS_NOMEM : MAMA_STATUS_OK;
    }

    mama_status mamaPublisherCallbacks_deallocate(mamaPublisherCallbacks* cb)
    {
        if (cb == nullptr)
            return MAMA_STATUS_NULL_ARG;
        free(cb);
        return MAMA_STATUS_OK;
    }

    mama_status mamaPublisher_createWithCallbacks(mamaPublisher* result, mamaTransport tport,
                                                  mamaQueue queue, const char* symbol,
                                                  const char* source, const char* root,
                                                  mamaPublisherCallbacks* cb, void* closure)
    {
        if (result == nullptr || tport == nullptr || symbol == nullptr)
            return MAMA_STATUS_NULL_ARG;
        *result = nullptr;
        mamaBridgeImpl* bridge = mamaTransportImpl_getBridgeImpl(tport);
        if (bridge == nullptr)
            return MAMA_STATUS_NO_BRIDGE_IMPL;

        mamaPublisher self = new (std::nothrow) mamaPublisherImpl_();
        if (self == nullptr)
            return MAMA_STATUS_NOMEM;
        self->mLock = wlock_create();
        self->mTransport = tport;
        self->mBridgeImpl = bridge;
        self->mClosure = closure;
        if (cb != nullptr)
            self->mUserCallbacks = *cb;
        setState(self, MAMA_PUBLISHER_CREATING);

        mama_status status = bridge->bridgeMamaPublisherCreateByIndex(
            &self->mBridgePublisher, tport, 0, symbol, source, root, self);
        if (status != MAMA_STATUS_OK)
        {
            mama_log(MAMA_LOG_LEVEL_ERROR,
                     "mamaPublisher_create(): bridge could not create publisher for %s: %s", symbol,
                     mamaStatus_stringForStatus(status));
            freePublisher(self);
            return status;
        }
        registerBridgeCallbacks(self, queue);
        setState(self, MAMA_PUBLISHER_LIVE);
        *result = self;
        if (self->mUserCallbacks.onCreate != nullptr)
            self->mUserCallbacks.onCreate(self, closure);
        return MAMA_STATUS_OK;
    }

    mama_status mamaPublisher_create(mamaPublisher* result, mamaTransport tport, const char* symbol,
                                     const char* source, const char* root)
    {
        return mamaPublisher_createWithCallbacks(result, tport, nullptr, symbol, source, root,
                                                 nullptr, nullptr);
    }

    mama_status mamaPublisher_send(mamaPublisher publisher, mamaMsg msg)
    {
        if (publisher == nullptr || msg == nullptr)
            return MAMA_STATUS_NULL_ARG;
        mama_status status = checkSendable(publisher);
        if (status != MAMA_STATUS_OK)
            return status;
        return publisher->mBridgeImpl->bridgeMamaPublisherSend(publisher->mBridgePublisher, msg);
    }

    mama_status mamaPublisher_sendFromInbox(mamaPublisher publisher, mamaInbox inbox, mamaMsg msg)
    {
        if (publisher == nullptr || inbox == nullptr || msg == nullptr)
            return MAMA_STATUS_NULL_ARG;
        mama_status status = checkSendable(publisher);
        if (status != MAMA_STATUS_OK)
            return status;
        return publisher->mBridgeImpl->bridgeMamaPublisherSendFromInbox(publisher->mBridgePublisher,
                                                                        inbox, msg);
    }

    mama_status mamaPublisher_sendReplyToInbox(mamaPublisher publisher, mamaMsg request,
                                               mamaMsg reply)
    {
        if (publisher == nullptr || request == nullptr || reply == nullptr)
            return MAMA_STATUS_NULL_ARG;
        mama_status status = checkSendable(publisher);
        if (status != MAMA_STATUS_OK)
            return status;
        if (!mamaMsg_isFromInbox(request))
        {
            mama_log(MAMA_LOG_LEVEL_WARN,
                     "mamaPublisher_sendReplyToInbox(): request was not sent from an inbox");
            return MAMA_STATUS_INVALID_ARG;
        }
        return publisher->mBridgeImpl->bridgeMamaPublisherSendReplyToInbox(
            publisher->mBridgePublisher, request, reply);
    }

    mama_status mamaPublisher_sendReplyToInboxHandle(mamaPublisher publisher,
                                                     mamaMsgReply replyAddress, mamaMsg reply)
    {
        if (publisher == nullptr || replyAddress == nullptr || reply == nullptr)
            return MAMA_STATUS_NULL_ARG;
        mama_status status = checkSendable(publisher);
        if (status != MAMA_STATUS_OK)
            return status;
        mamaBridgeImpl* bridge = publisher->mBridgeImpl;
        if (bridge->bridgeMamaPublisherSendReplyToInboxHandle == nullptr)
            return MAMA_STATUS_NOT_IMPLEMENTED;
        void* handle = reinterpret_cast<mamaMsgReplyImpl*>(replyAddress)->replyHandle;
        if (handle == nullptr)
            return MAMA_STATUS_INVALID_ARG;
        return bridge->bridgeMamaPublisherSendReplyToInboxHandle(publisher->mBridgePublisher,
                                                                 handle, reply);
    }

    mama_status mamaPublisher_destroy(mamaPublisher publisher)
    {
        if (publisher == nullptr)
            return MAMA_STATUS_NULL_ARG;
        wlock_lock(publisher->mLock);
        switch (getState(publisher))
        {
        case MAMA_PUBLISHER_LIVE:
            break;
        case MAMA_PUBLISHER_DESTROYED_BRIDGE:
            finishDestroy(publisher);
            return MAMA_STATUS_OK;
        default:
            mama_log(MAMA_LOG_LEVEL_WARN, "mamaPublisher_destroy(): publisher %p is %s",
                     static_cast<void*>(publisher),
                     mamaPublisher_stringForState(getState(publisher)));
            wlock_unlock(publisher->mLock);
            return MAMA_STATUS_INVALID_ARG;
        }

        setState(publisher, MAMA_PUBLISHER_DESTROYING);
        mama_status status =
            publisher->mBridgeImpl->bridgeMamaPublisherDestroy(publisher->mBridgePublisher);
        if (getState(publisher) == MAMA_PUBLISHER_DESTROYED_BRIDGE)
        {
            finishDestroy(publisher);
            return status;
        }
        if (status != MAMA_STATUS_OK)
        {
            mama_log(MAMA_LOG_LEVEL_ERROR, "mamaPublisher_destroy(): bridge refused: %s",
                     mamaStatus_stringForStatus(status));
            setState(publisher, MAMA_PUBLISHER_LIVE);
            wlock_unlock(publisher->mLock);
            return status;
        }
        if (!publisher->mBridgeReportsDestroy)
        {
            finishDestroy(publisher);
            return MAMA_STATUS_OK;
        }
        setState(publisher, MAMA_PUBLISHER_DESTROYING_WAIT_BRIDGE);
        wlock_unlock(publisher->mLock);
        return MAMA_STATUS_OK;
    }

    mama_status mamaPublisher_getTransport(mamaPublisher publisher, mamaTransport* transport)
    {
        if (publisher == nullptr || transport == nullptr)
            return MAMA_STATUS_NULL_ARG;
        *transport = publisher->mTransport;
        return MAMA_STATUS_OK;
    }

    mama_status mamaPublisher_getState(mamaPublisher publisher, mamaPublisherState* state)
    {
        if (publisher == nullptr || state == nullptr)
            return MAMA_STATUS_NULL_ARG;
        *state = getState(publisher);
        return MAMA_STATUS_OK;
    }

    const char* mamaPublisher_stringForState(mamaPublisherState state)
    {
        switch (state)
        {
        case MAMA_PUBLISHER_UNKNOWN:
            return "MAMA_PUBLISHER_UNKNOWN";
        case MAMA_PUBLISHER_CREATING:
            return "MAMA_PUBLISHER_CREATING";
        case MAMA_PUBLISHER_LIVE:
            return "MAMA_PUBLISHER_LIVE";
        case MAMA_PUBLISHER_DESTROYING:
            return "MAMA_PUBLISHER_DESTROYING";
        case MAMA_PUBLISHER_DESTROYED_BRIDGE:
            return "MAMA_PUBLISHER_DESTROYED_BRIDGE";
        case MAMA_PUBLISHER_DESTROYING_WAIT_BRIDGE:
            return "MAMA_PUBLISHER_DESTROYING_WAIT_BRIDGE";
        case MAMA_PUBLISHER_DESTROYED:
            return "MAMA_PUBLISHER_DESTROYED";
        }
        return "unknown";
    }

    publisherBridge mamaPublisherImpl_getPublisherBridge(mamaPublisher publisher)
    {
        return publisher == nullptr ? nullptr : publisher->mBridgePublisher;
    }

    mamaBridge mamaPublisherImpl_getBridgeImpl(mamaPublisher publisher)
    {
        return publisher == nullptr ? nullptr : publisher->mBridgeImpl;
    }

} // extern "C"
