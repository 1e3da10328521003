// An in-process fake middleware bridge for the host object tests
// (transports, publishers, subscriptions, inboxes, timers): a mamaBridgeImpl
// filled with this file's functions, so no library is loaded. Every call is
// recorded in objfake::world() for the tests to check what the host passed;
// the Report knobs choose whether a destroy is reported back from inside the
// bridge's destroy or later, from the object's queue, as a real bridge does.
#ifndef OBJECTS_FAKE_BRIDGE_H
#define OBJECTS_FAKE_BRIDGE_H

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "bridge.h"
#include "mama/mama.h"
#include "publisherimpl.h"
#include "queueimpl.h"
#include "subscriptionimpl.h"
#include "transportimpl.h"

namespace objfake
{
enum class Report
{
    Synchronous, // from inside the bridge's destroy
    Queued       // later, from the object's queue
};

struct Queue
{
    mamaQueue mParent = nullptr;
    std::mutex mLock;
    std::condition_variable mChanged;
    std::deque<std::function<void()>> mEvents;
};

struct Subscription
{
    mamaMsgCallbacks mCallbacks;
    mamaSubscription mParent;
    void* mClosure;
    mamaQueue mQueue;
};

struct Publisher
{
    mamaPublisher mParent;
    mamaPublisherCallbacks mCallbacks;
    void* mClosure;
    bool mHasCallbacks;
};

struct Inbox
{
    mamaInboxDestroyCallback mOnDestroyed;
    mamaInbox mParent;
    void* mClosure;
    mamaQueue mQueue;
};

struct Timer
{
    mamaTimerCb mOnDestroyed;
    mamaTimer mParent;
    void* mClosure;
    Queue* mQueue;
    mama_f64_t mInterval;
};

// What the host passed, and how the fake answers.
struct World
{
    std::vector<std::string> mCalls; // bridge calls in order, e.g. "Transport_create t1"
    mama_status mTransportCreateStatus = MAMA_STATUS_OK;
    int mLoadBalanceCount = 0;
    bool mTransportsValid = true;
    bool mConnectOnCreate = true; // raise MAMA_TRANSPORT_CONNECT inside Transport_create

    mama_status mSubscriptionCreateStatus = MAMA_STATUS_OK;
    Report mSubscriptionReport = Report::Synchronous;
    bool mSourceWasNull = false;
    bool mSymbolWasNull = false;
    std::string mSource;
    Subscription* mLastSubscription = nullptr;

    Report mPublisherReport = Report::Synchronous;
    std::string mPublisherTopic, mPublisherSource, mPublisherRoot;
    int mPublisherIndex = -1;
    Publisher* mLastPublisher = nullptr;
    int mSends = 0;
    void* mReplyHandle = nullptr;
    int mFromInbox = 0;

    mamaInboxMsgCallback mInboxMsgCb = nullptr;
    mamaInboxErrorCallback mInboxErrorCb = nullptr;
    Report mInboxReport = Report::Queued;

    void* mTimerNativeQueue = nullptr;
    mama_f64_t mTimerInterval = 0;
};

inline World& world()
{
    static World instance;
    return instance;
}

inline void record(const std::string& call)
{
    world().mCalls.push_back(call);
}

inline bool called(const std::string& call)
{
    for (const std::string& c : world().mCalls)
    {
        if (c == call)
        {
            return true;
        }
    }
    return false;
}

inline Queue* queueOf(mamaQueue queue)
{
    void* handle = nullptr;
    mamaQueue_getNativeHandle(queue, &handle);
    return static_cast<Queue*>(handle);
}

inline void post(Queue* queue, std::function<void()> event)
{
    std::lock_guard<std::mutex> guard(queue->mLock);
    queue->mEvents.push_back(std::move(event));
    queue->mChanged.notify_all();
}

// Runs one event, waiting at most `timeout` for it; false when none came.
inline bool runOne(Queue* queue, std::chrono::milliseconds timeout)
{
    std::function<void()> event;
    {
        std::unique_lock<std::mutex> guard(queue->mLock);
        if (!queue->mChanged.wait_for(guard, timeout, [queue] { return !queue->mEvents.empty(); }))
        {
            return false;
        }
        event = std::move(queue->mEvents.front());
        queue->mEvents.pop_front();
    }
    event();
    return true;
}

// Runs every event already queued (and those they queue) on this thread.
inline int runPending(mamaQueue queue)
{
    int ran = 0;
    while (runOne(queueOf(queue), std::chrono::milliseconds(0)))
    {
        ++ran;
    }
    return ran;
}

// Hands a message to a subscription from its queue, as a bridge delivers.
inline void deliver(mamaSubscription subscription, mamaMsg msg)
{
    Subscription* sub =
        reinterpret_cast<Subscription*>(mamaSubscription_getSubscriptionBridge(subscription));
    post(queueOf(sub->mQueue),
         [subscription, msg] { mamaSubscription_processMsg(subscription, msg); });
}

// Queue
inline mama_status queueCreate(queueBridge* queue, mamaQueue parent)
{
    Queue* impl = new Queue();
    impl->mParent = parent;
    *queue = reinterpret_cast<queueBridge>(impl);
    return MAMA_STATUS_OK;
}
inline mama_status queueDestroy(queueBridge queue)
{
    delete reinterpret_cast<Queue*>(queue);
    return MAMA_STATUS_OK;
}
inline mama_status queueTimedDispatch(queueBridge queue, uint64_t timeout)
{
    return runOne(reinterpret_cast<Queue*>(queue), std::chrono::milliseconds(timeout))
               ? MAMA_STATUS_OK
               : MAMA_STATUS_TIMEOUT;
}
inline mama_status queueDispatch(queueBridge queue)
{
    Queue* impl = reinterpret_cast<Queue*>(queue);
    while (mamaQueueImpl_isDispatching(impl->mParent))
    {
        runOne(impl, std::chrono::milliseconds(20));
    }
    return MAMA_STATUS_OK;
}
inline mama_status queueDispatchEvent(queueBridge queue)
{
    runOne(reinterpret_cast<Queue*>(queue), std::chrono::milliseconds(0));
    return MAMA_STATUS_OK;
}
inline mama_status queueEnqueueEvent(queueBridge queue, mamaQueueEnqueueCB callback, void* closure)
{
    Queue* impl = reinterpret_cast<Queue*>(queue);
    mamaQueue parent = impl->mParent;
    post(impl, [callback, parent, closure] { callback(parent, closure); });
    return MAMA_STATUS_OK;
}
inline mama_status queueStopDispatch(queueBridge queue)
{
    reinterpret_cast<Queue*>(queue)->mChanged.notify_all();
    return MAMA_STATUS_OK;
}
inline mama_status queueGetNativeHandle(queueBridge queue, void** handle)
{
    *handle = queue;
    return MAMA_STATUS_OK;
}

// Transport
inline mama_status transportCreate(transportBridge* result, const char* name, mamaTransport parent)
{
    record(std::string("Transport_create ") + name);
    if (world().mTransportCreateStatus != MAMA_STATUS_OK)
    {
        return world().mTransportCreateStatus;
    }
    *result = reinterpret_cast<transportBridge>(new std::string(name));
    if (world().mConnectOnCreate)
    {
        mamaTransportImpl_invokeTransportCallback(parent, MAMA_TRANSPORT_CONNECT, 0, nullptr);
    }
    return MAMA_STATUS_OK;
}
inline mama_status transportDestroy(transportBridge transport)
{
    std::string* name = reinterpret_cast<std::string*>(transport);
    record("Transport_destroy " + *name);
    delete name;
    return MAMA_STATUS_OK;
}
inline int transportIsValid(transportBridge transport)
{
    record("Transport_isValid");
    return transport != nullptr && world().mTransportsValid;
}
inline mama_status transportGetNumLoadBalanceAttributes(const char* name, int* count)
{
    record(std::string("Transport_getNumLoadBalanceAttributes ") + name);
    *count = world().mLoadBalanceCount;
    return MAMA_STATUS_OK;
}

// Subscription
inline mama_status subscriptionCreate(subscriptionBridge* result, const char* source,
                                      const char* symbol, mamaTransport, mamaQueue queue,
                                      mamaMsgCallbacks callbacks, mamaSubscription parent,
                                      void* closure)
{
    World& w = world();
    record("Subscription_create");
    w.mSourceWasNull = source == nullptr;
    w.mSymbolWasNull = symbol == nullptr;
    w.mSource = source ? source : "";
    if (w.mSubscriptionCreateStatus != MAMA_STATUS_OK)
    {
        return w.mSubscriptionCreateStatus;
    }
    w.mLastSubscription = new Subscription{callbacks, parent, closure, queue};
    *result = reinterpret_cast<subscriptionBridge>(w.mLastSubscription);
    return MAMA_STATUS_OK;
}
inline mama_status subscriptionCreateWildCard(subscriptionBridge* result, const char* source,
                                              const char* symbol, mamaTransport transport,
                                              mamaQueue queue, mamaMsgCallbacks callbacks,
                                              mamaSubscription parent, void* closure)
{
    record("Subscription_createWildCard");
    return subscriptionCreate(result, source, symbol, transport, queue, callbacks, parent, closure);
}
inline mama_status subscriptionMute(subscriptionBridge)
{
    record("Subscription_mute");
    return MAMA_STATUS_OK;
}
inline mama_status subscriptionDestroy(subscriptionBridge subscriber)
{
    record("Subscription_destroy");
    Subscription* sub = reinterpret_cast<Subscription*>(subscriber);
    std::function<void()> report = [sub]
    {
        sub->mCallbacks.onDestroy(sub->mParent, sub->mClosure);
        delete sub;
    };
    if (world().mSubscriptionReport == Report::Synchronous)
    {
        report();
    }
    else
    {
        post(queueOf(sub->mQueue), report);
    }
    return MAMA_STATUS_OK;
}
inline int subscriptionIsValid(subscriptionBridge subscriber)
{
    return subscriber != nullptr;
}

// Publisher
inline mama_status publisherCreateByIndex(publisherBridge* result, mamaTransport, int index,
                                          const char* topic, const char* source, const char* root,
                                          mamaPublisher parent)
{
    World& w = world();
    record("Publisher_createByIndex");
    w.mPublisherIndex = index;
    w.mPublisherTopic = topic ? topic : "(null)";
    w.mPublisherSource = source ? source : "(null)";
    w.mPublisherRoot = root ? root : "(null)";
    w.mLastPublisher = new Publisher{parent, {}, nullptr, false};
    *result = reinterpret_cast<publisherBridge>(w.mLastPublisher);
    return MAMA_STATUS_OK;
}
inline mama_status publisherSetUserCallbacks(publisherBridge publisher, mamaQueue,
                                             mamaPublisherCallbacks* cb, void* closure)
{
    record("Publisher_setUserCallbacks");
    Publisher* pub = reinterpret_cast<Publisher*>(publisher);
    pub->mCallbacks = *cb;
    pub->mClosure = closure;
    pub->mHasCallbacks = true;
    return MAMA_STATUS_OK;
}
inline mama_status publisherDestroy(publisherBridge publisher)
{
    record("Publisher_destroy");
    Publisher* pub = reinterpret_cast<Publisher*>(publisher);
    if (world().mLastPublisher == pub)
    {
        world().mLastPublisher = nullptr;
    }
    if (!pub->mHasCallbacks)
    {
        delete pub;
        return MAMA_STATUS_OK;
    }
    std::function<void()> report = [pub]
    {
        pub->mCallbacks.onDestroy(pub->mParent, pub->mClosure);
        delete pub;
    };
    if (world().mPublisherReport == Report::Synchronous)
    {
        report();
    }
    else
    {
        mamaQueue queue = nullptr;
        mama_getDefaultEventQueue(mamaPublisherImpl_getBridgeImpl(pub->mParent), &queue);
        post(queueOf(queue), report);
    }
    return MAMA_STATUS_OK;
}
inline mama_status publisherSend(publisherBridge, mamaMsg)
{
    ++world().mSends;
    return MAMA_STATUS_OK;
}
inline mama_status publisherSendFromInbox(publisherBridge, mamaInbox, mamaMsg)
{
    record("Publisher_sendFromInbox");
    return MAMA_STATUS_OK;
}
inline mama_status publisherSendFromInboxByIndex(publisherBridge, int, mamaInbox, mamaMsg)
{
    return MAMA_STATUS_OK;
}
inline mama_status publisherSendReplyToInbox(publisherBridge, mamaMsg, mamaMsg)
{
    record("Publisher_sendReplyToInbox");
    return MAMA_STATUS_OK;
}
inline mama_status publisherSendReplyToInboxHandle(publisherBridge, void* request, mamaMsg)
{
    world().mReplyHandle = request;
    return MAMA_STATUS_OK;
}

// Inbox
inline mama_status inboxCreate(inboxBridge* result, mamaTransport, mamaQueue queue,
                               mamaInboxMsgCallback msgCB, mamaInboxErrorCallback errorCB,
                               mamaInboxDestroyCallback onDestroyed, void* closure,
                               mamaInbox parent)
{
    record("Inbox_create");
    world().mInboxMsgCb = msgCB;
    world().mInboxErrorCb = errorCB;
    *result = reinterpret_cast<inboxBridge>(new Inbox{onDestroyed, parent, closure, queue});
    return MAMA_STATUS_OK;
}
inline mama_status inboxCreateByIndex(inboxBridge* result, mamaTransport transport, int,
                                      mamaQueue queue, mamaInboxMsgCallback msgCB,
                                      mamaInboxErrorCallback errorCB,
                                      mamaInboxDestroyCallback onDestroyed, void* closure,
                                      mamaInbox parent)
{
    record("Inbox_createByIndex");
    return inboxCreate(result, transport, queue, msgCB, errorCB, onDestroyed, closure, parent);
}
inline mama_status inboxDestroy(inboxBridge inbox)
{
    record("Inbox_destroy");
    Inbox* impl = reinterpret_cast<Inbox*>(inbox);
    std::function<void()> report = [impl]
    {
        impl->mOnDestroyed(impl->mParent, impl->mClosure);
        delete impl;
    };
    if (world().mInboxReport == Report::Synchronous)
    {
        report();
    }
    else
    {
        post(queueOf(impl->mQueue), report);
    }
    return MAMA_STATUS_OK;
}

// Timer: the destroy report always travels through the timer's queue.
inline mama_status timerCreate(timerBridge* result, void* nativeQueue, mamaTimerCb,
                               mamaTimerCb onDestroyed, mama_f64_t interval, mamaTimer parent,
                               void* closure)
{
    record("Timer_create");
    world().mTimerNativeQueue = nativeQueue;
    world().mTimerInterval = interval;
    *result = reinterpret_cast<timerBridge>(
        new Timer{onDestroyed, parent, closure, static_cast<Queue*>(nativeQueue), interval});
    return MAMA_STATUS_OK;
}
inline mama_status timerDestroy(timerBridge timer)
{
    record("Timer_destroy");
    Timer* impl = reinterpret_cast<Timer*>(timer);
    post(impl->mQueue,
         [impl]
         {
             impl->mOnDestroyed(impl->mParent, impl->mClosure);
             delete impl;
         });
    return MAMA_STATUS_OK;
}
inline mama_status timerGetInterval(timerBridge timer, mama_f64_t* interval)
{
    *interval = reinterpret_cast<Timer*>(timer)->mInterval;
    return MAMA_STATUS_OK;
}

// Msg: enough for a message to have a bridge part.
inline mama_status msgCreate(msgBridge* result, mamaMsg)
{
    *result = reinterpret_cast<msgBridge>(new int(0));
    return MAMA_STATUS_OK;
}
inline mama_status msgDestroy(msgBridge msg, int)
{
    delete reinterpret_cast<int*>(msg);
    return MAMA_STATUS_OK;
}
inline int msgIsFromInbox(msgBridge)
{
    return world().mFromInbox;
}

inline const char* bridgeName(void)
{
    return "objfake";
}

// A bridge with every function above in its slots (optional ones included
// unless a test clears them) and its default event queue.
inline mamaBridge openBridge()
{
    mamaBridgeImpl* bridge = new mamaBridgeImpl();
    bridge->bridgeGetName = bridgeName;
    bridge->bridgeMamaQueueCreate = queueCreate;
    bridge->bridgeMamaQueueDestroy = queueDestroy;
    bridge->bridgeMamaQueueDispatch = queueDispatch;
    bridge->bridgeMamaQueueTimedDispatch = queueTimedDispatch;
    bridge->bridgeMamaQueueDispatchEvent = queueDispatchEvent;
    bridge->bridgeMamaQueueEnqueueEvent = queueEnqueueEvent;
    bridge->bridgeMamaQueueStopDispatch = queueStopDispatch;
    bridge->bridgeMamaQueueGetNativeHandle = queueGetNativeHandle;
    bridge->bridgeMamaTransportCreate = transportCreate;
    bridge->bridgeMamaTransportDestroy = transportDestroy;
    bridge->bridgeMamaTransportIsValid = transportIsValid;
    bridge->bridgeMamaTransportGetNumLoadBalanceAttributes = transportGetNumLoadBalanceAttributes;
    bridge->bridgeMamaSubscriptionCreate = subscriptionCreate;
    bridge->bridgeMamaSubscriptionCreateWildCard = subscriptionCreateWildCard;
    bridge->bridgeMamaSubscriptionMute = subscriptionMute;
    bridge->bridgeMamaSubscriptionDestroy = subscriptionDestroy;
    bridge->bridgeMamaSubscriptionIsValid = subscriptionIsValid;
    bridge->bridgeMamaPublisherCreateByIndex = publisherCreateByIndex;
    bridge->bridgeMamaPublisherSetUserCallbacks = publisherSetUserCallbacks;
    bridge->bridgeMamaPublisherDestroy = publisherDestroy;
    bridge->bridgeMamaPublisherSend = publisherSend;
    bridge->bridgeMamaPublisherSendFromInbox = publisherSendFromInbox;
    bridge->bridgeMamaPublisherSendFromInboxByIndex = publisherSendFromInboxByIndex;
    bridge->bridgeMamaPublisherSendReplyToInbox = publisherSendReplyToInbox;
    bridge->bridgeMamaPublisherSendReplyToInboxHandle = publisherSendReplyToInboxHandle;
    bridge->bridgeMamaInboxCreate = inboxCreate;
    bridge->bridgeMamaInboxCreateByIndex = inboxCreateByIndex;
    bridge->bridgeMamaInboxDestroy = inboxDestroy;
    bridge->bridgeMamaTimerCreate = timerCreate;
    bridge->bridgeMamaTimerDestroy = timerDestroy;
    bridge->bridgeMamaTimerGetInterval = timerGetInterval;
    bridge->bridgeMamaMsgCreate = msgCreate;
    bridge->bridgeMamaMsgDestroy = msgDestroy;
    bridge->bridgeMamaMsgIsFromInbox = msgIsFromInbox;

    mamaQueue queue = nullptr;
    mamaQueue_create(&queue, bridge);
    mamaImpl_setDefaultEventQueue(bridge, queue);
    return bridge;
}

// Destroys the default queue (after running what is left on it) and the bridge.
inline mama_status closeBridge(mamaBridge bridge)
{
    mamaQueue queue = nullptr;
    mama_getDefaultEventQueue(bridge, &queue);
    runPending(queue);
    mama_status status = mamaQueue_destroy(queue);
    delete bridge;
    return status;
}

// A bridge with its default queue, transport "t1" and one more queue.
class Fixture
{
  public:
    Fixture()
    {
        world() = World();
        mBridge = openBridge();
        mamaTransport_allocate(&mTransport);
        mamaTransport_create(mTransport, "t1", mBridge);
        mamaQueue_create(&mQueue, mBridge);
        world().mCalls.clear();
    }
    ~Fixture()
    {
        if (mQueue)
        {
            runPending(mQueue);
            mamaQueue_destroy(mQueue);
        }
        if (mTransport)
        {
            mamaTransport_destroy(mTransport);
        }
        closeBridge(mBridge);
    }
    Fixture(const Fixture&) = delete;
    Fixture& operator=(const Fixture&) = delete;

    mamaBridge mBridge = nullptr;
    mamaTransport mTransport = nullptr;
    mamaQueue mQueue = nullptr;
};
} // namespace objfake

#endif
