/* MAMA event queues on the host's wombatQueue, with watermarks, an enqueue
 * callback, batches of received messages, and the record of the transports
 * that feed each queue, on which flow control (flowControl.h) decides. */
#ifndef CORVEX_BRIDGE_QUEUE_H
#define CORVEX_BRIDGE_QUEUE_H

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <unordered_map>

#include <mama/mama.h>
#include <wombat/queue.h>
#include <wombat/wlock.h>

#include "corvexBridge.h"
#include "msgBatch.h"

struct CorvexBridge;
struct CorvexSubscription;
struct CorvexTransportBridge;

/* One transport that feeds a queue. */
struct CorvexQueueFeed
{
    /* This queue's subscriptions using the transport; above 0 while the
     * transport is in the map. */
    uint64_t mSubscriptions;
    /* This queue's suspend of the transport took effect and has not been
     * undone: the queue owns one count of the transport's suspension, and
     * only such a transport is resumed by the queue. */
    bool mHeld;
};

typedef std::unordered_map<CorvexTransportBridge*, CorvexQueueFeed> CorvexQueueTransportMap;

/* A dispatch loop with nothing to do sleeps here rather than in the host
 * queue, whose enqueue signals its waiter while it still holds the queue's
 * own mutex: the waiter, woken, at once blocks on that mutex, two wake-ups
 * an event for an idle loop. Whoever queues a host event wakes the loop
 * after its locks are released: the enqueuer holds a reference to the
 * waker, not to the queue, which the application may destroy as soon as
 * the event has run. */
struct CorvexQueueWaker
{
    /* A loop sleeps, or is about to look at the host queue and sleep. */
    std::atomic<uint32_t> mSleeping{0};
    /* Only orders the sleep against the wake. */
    std::mutex mLock;
    std::condition_variable mWake;
};

struct CorvexQueueBridge
{
    mamaQueue mParent;
    wombatQueue mQueue;
    uint8_t mHighWatermarkFired;
    size_t mHighWatermark;
    size_t mLowWatermark;
    mamaQueueEnqueueCB mEnqueueCallback;
    void* mEnqueueClosure;
    /* Held by a dispatch loop for its whole run; destroy waits for it. */
    wLock mDispatchLock;
    /* Dispatch calls under way (a dispatch loop counts for its whole run);
     * raised before an event is taken, lowered after it was handled. */
    std::atomic<uint32_t> mDispatchesRunning;
    /* Flow control's record (see flowControl.h). The lock guards the map
     * and every decision on the flag; the flag is also read without it, as
     * the quick check before each enqueue and each dispatch. Taken before
     * any transport's mSuspendedQueuesLock. */
    wLock mTransportsLock;
    CorvexBridge* mBridge;
    std::atomic<uint8_t> mIsSuspended;
    CorvexQueueTransportMap* mTransports;
    /* Subscriptions registered on the queue; it refuses its destroy while
     * any is. */
    std::atomic<uint64_t> mSubscriptions;
    /* Received messages, delivered in batches (msgBatch.h). */
    CorvexMsgBatches mMsgs;
    /* Where the dispatch loop sleeps when it has nothing to do (see
     * CorvexQueueWaker); shared with the enqueuers that wake it. */
    std::shared_ptr<CorvexQueueWaker> mWaker;
};

/* The events waiting on the queue that are not received messages: the host
 * queue's events less those of message batches. False when the host queue
 * cannot tell its size. */
inline bool corvexQueue_readOtherEvents(CorvexQueueBridge* queue, size_t* others)
{
    int size = 0;
    if (wombatQueue_getSize(queue->mQueue, &size) != WOMBAT_QUEUE_OK || size < 0)
    {
        return false;
    }
    size_t batches = queue->mMsgs.mWaiting.load(std::memory_order_acquire);
    *others = (size_t)size > batches ? (size_t)size - batches : 0;
    return true;
}
/* Events waiting on the queue, each received message counting as one: the
 * other events plus the messages not yet delivered. The figures are read
 * one after the other, so while an event is being queued or taken the sum
 * may be off by one. False when the host queue cannot tell its size. */
inline bool corvexQueue_readEventCount(CorvexQueueBridge* queue, size_t* count)
{
    size_t others = 0;
    if (!corvexQueue_readOtherEvents(queue, &others))
    {
        return false;
    }
    *count = others + (size_t)corvexMsgBatches_pending(&queue->mMsgs);
    return true;
}

/* Queues a received message for `subscription`: callback(parent queue, node)
 * delivers it on the dispatch thread, where the node holds the message and
 * the subscription. The message joins the open batch when there is one,
 * else it starts a batch with a host event of its own. While an enqueue
 * callback is set every message has an event of its own, of which the
 * callback is told. MAMA_STATUS_NOMEM when memory is short; on failure the
 * message is the caller's again. */
mama_status corvexQueue_enqueueMsg(CorvexQueueBridge* queue, mamaQueueEnqueueCB callback,
                                   corvexClient_msg_t msg, CorvexSubscription* subscription);

/* Registers the subscription on the queue: its transport
 * (sub->mTransportBridge) feeds the queue for flow control, and the queue
 * may not be destroyed while the subscription is registered. A transport
 * that joins a suspended queue is suspended at once. */
mama_status corvexQueue_addSubscription(CorvexQueueBridge* queue, CorvexSubscription* subscription);
/* The subscription takes no more messages: its transport no longer feeds the
 * queue on its behalf, and one whose last subscription leaves a suspended
 * queue is resumed at once. Done before the subscription leaves its
 * transport, which may release the transport. MAMA_STATUS_INVALID_ARG when
 * the transport is not registered. */
mama_status corvexQueue_stopFeeding(CorvexQueueBridge* queue, CorvexSubscription* subscription);
/* The subscription is done with the queue (its destroy request is on it, or
 * it is released): the queue may be destroyed once no subscription is left. */
void corvexQueue_removeSubscription(CorvexQueueBridge* queue);
/* True when nothing is queued and no dispatch call is under way: an event
 * queued earlier has been handled completely. A queue nobody dispatches
 * stays idle once its events are gone. */
bool corvexQueue_isIdle(CorvexQueueBridge* queue);
/* The bridge's asynchronous mode; false for a NULL queue or bridge. */
inline bool corvexQueue_isSubscribeAsync(const CorvexQueueBridge* queue)
{
    return queue != NULL && queue->mBridge != NULL && queue->mBridge->mSubscribeAsync != 0;
}
void corvexQueue_checkWatermarks(CorvexQueueBridge* queue);
/* Frees the queue's reusable message with the payload it last decoded into
 * (the host makes another when one is needed). For a queue whose dispatch
 * has ended, on the thread that dispatched it. */
void corvexQueue_releaseReusableMsg(mamaQueue queue);

extern "C"
{
    mama_status corvexBridgeMamaQueue_create(CorvexQueueBridge** queue, mamaQueue parent);
    mama_status corvexBridgeMamaQueue_create_usingNative(CorvexQueueBridge** queue,
                                                         mamaQueue parent, void* nativeQueue);
    mama_status corvexBridgeMamaQueue_destroy(CorvexQueueBridge* queue);
    mama_status corvexBridgeMamaQueue_getEventCount(CorvexQueueBridge* queue, size_t* count);
    mama_status corvexBridgeMamaQueue_dispatch(CorvexQueueBridge* queue);
    mama_status corvexBridgeMamaQueue_timedDispatch(CorvexQueueBridge* queue, uint64_t timeout);
    mama_status corvexBridgeMamaQueue_dispatchEvent(CorvexQueueBridge* queue);
    mama_status corvexBridgeMamaQueue_enqueueEvent(CorvexQueueBridge* queue,
                                                   mamaQueueEnqueueCB callback, void* closure);
    mama_status corvexBridgeMamaQueue_stopDispatch(CorvexQueueBridge* queue);
    mama_status corvexBridgeMamaQueue_setEnqueueCallback(CorvexQueueBridge* queue,
                                                         mamaQueueEnqueueCB callback,
                                                         void* closure);
    mama_status corvexBridgeMamaQueue_removeEnqueueCallback(CorvexQueueBridge* queue);
    mama_status corvexBridgeMamaQueue_getNativeHandle(CorvexQueueBridge* queue,
                                                      void** nativeHandle);
    mama_status corvexBridgeMamaQueue_setLowWatermark(CorvexQueueBridge* queue,
                                                      size_t lowWatermark);
    mama_status corvexBridgeMamaQueue_setHighWatermark(CorvexQueueBridge* queue,
                                                       size_t highWatermark);
}

#endif /* CORVEX_BRIDGE_QUEUE_H */
