/* MAMA event queues on the host's wombatQueue, with watermarks, an enqueue
 * callback, batches of received messages, and flow control's record of the
 * transports that feed each queue (flowControl.h). */
#ifndef CORVEX_BRIDGE_QUEUE_H
#define CORVEX_BRIDGE_QUEUE_H

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>

#include <mama/mama.h>
#include <wombat/queue.h>
#include <wombat/wlock.h>

#include "corvexBridge.h"
#include "flowControl.h"
#include "msgBatch.h"

struct CorvexSubscription;

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
    /* Flow control's record of the transports feeding the queue (see
     * flowControl.h); first, so that the address its log gives is the
     * queue's. */
    CorvexFlowControlQueue mFlowControl;
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
    CorvexBridge* mBridge;
    /* Subscriptions registered on the queue; it refuses its destroy while
     * any is. */
    std::atomic<uint64_t> mSubscriptions;
    /* Received messages, delivered in batches (msgBatch.h). */
    CorvexMsgBatches mMsgs;
    /* Where the dispatch loop sleeps when it has nothing to do (see
     * CorvexQueueWaker); shared with the enqueuers that wake it. */
    std::shared_ptr<CorvexQueueWaker> mWaker;
};

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
