#define CORVEX_LOG_MODULE "queue"

#include "queue.h"

#include <chrono>
#include <new>

#include <mama/mama.h>
#include <mama/integration/bridge.h>
#include <mama/integration/msg.h>
#include <mama/integration/queue.h>

#include "corvexBridge.h"
#include "flowControl.h"
#include "logging.h"
#include "msgBatch.h"
#include "subscription.h"
#include "transport.h"

namespace
{
const uint32_t QUEUE_MAX_SIZE = 2147483647;
const uint32_t QUEUE_CHUNK_SIZE = 64;
/* A dispatch loop wakes at least this often to notice a stop. */
const std::chrono::milliseconds DISPATCH_WAKE(500);

/* For as long as it lives, sends from this thread never wait for a
 * suspended session's room: a dispatching thread is what drains the queue
 * that suspended it, so it would wait for itself. */
class SendsNeverWait
{
  public:
    SendsNeverWait() : mPrevious(corvexClient_thread_setSendMayWait(0)) {}
    ~SendsNeverWait()
    {
        corvexClient_thread_setSendMayWait(mPrevious);
    }
    SendsNeverWait(const SendsNeverWait&) = delete;
    SendsNeverWait& operator=(const SendsNeverWait&) = delete;

  private:
    int mPrevious;
};

bool isDispatchOk(wombatQueueStatus status)
{
    return status == WOMBAT_QUEUE_OK || status == WOMBAT_QUEUE_TIMEOUT;
}

bool hasHostEvents(CorvexQueueBridge* queue)
{
    int size = 0;
    return wombatQueue_getSize(queue->mQueue, &size) == WOMBAT_QUEUE_OK && size > 0;
}

/* The dispatch loop, once the host queue is empty: sleeps until an event is
 * queued or the loop is to stop, or for at most `timeout`. */
void sleepUntilEvents(CorvexQueueBridge* queue, std::chrono::milliseconds timeout)
{
    CorvexQueueWaker& waker = *queue->mWaker;
    /* Announced before the host queue is looked at: an enqueuer either sees
     * the sleeper or is seen by it. */
    waker.mSleeping.store(1, std::memory_order_seq_cst);
    std::unique_lock<std::mutex> lock(waker.mLock);
    waker.mWake.wait_for(
        lock, timeout,
        [queue] { return hasHostEvents(queue) || !mamaQueueImpl_isDispatching(queue->mParent); });
    /* Cleared at once, so that enqueuers stop taking the lock to wake it. */
    waker.mSleeping.store(0, std::memory_order_relaxed);
}

/* Under the queue's message lock, right after a host event was queued: the
 * waker to call once the locks are released, when a loop sleeps. */
std::shared_ptr<CorvexQueueWaker> sleeperToWake(CorvexQueueBridge* queue)
{
    /* Read with a read-modify-write, which orders it after the host
     * queue's update as a plain load would not. */
    if (0 == queue->mWaker->mSleeping.fetch_add(0, std::memory_order_seq_cst))
    {
        return nullptr;
    }
    return queue->mWaker;
}

void wake(const std::shared_ptr<CorvexQueueWaker>& waker)
{
    if (waker == nullptr)
    {
        return;
    }
    {
        /* The sleeper is either before its test (it will see the event) or
         * waiting: taking the lock orders the notify after it. */
        std::lock_guard<std::mutex> guard(waker->mLock);
    }
    waker->mWake.notify_one();
}

size_t eventCount(CorvexQueueBridge* queue)
{
    size_t count = 0;
    if (corvexBridgeMamaQueue_getEventCount(queue, &count) != MAMA_STATUS_OK)
    {
        return 0;
    }
    return count;
}

/* Runs before every dispatch, on the dispatching thread, and before each
 * message of a batch after its first, so that watermarks and the resume of
 * flow control see the queue drain message by message. */
void beforeDispatch(CorvexQueueBridge* queue)
{
    corvexQueue_checkWatermarks(queue);
    corvexFlowControl_checkResume(&queue->mFlowControl);
}

void beforeNextMsg(void* queue)
{
    beforeDispatch(static_cast<CorvexQueueBridge*>(queue));
}

/* The host event of a batch of received messages (data: the queue). */
void runBatch(void* data, void* closure)
{
    CorvexQueueBridge* queue = static_cast<CorvexQueueBridge*>(data);
    corvexMsgBatches_run(&queue->mMsgs, static_cast<CorvexMsgBatch*>(closure), queue->mParent,
                         beforeNextMsg, queue);
}
} // namespace

CORVEX_EXPORT mama_status corvexBridgeMamaQueue_create(CorvexQueueBridge** queue, mamaQueue parent)
{
    if (queue == NULL || parent == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }

    wombatQueue nativeQueue = NULL;
    wombatQueueStatus wStatus = wombatQueue_allocate(&nativeQueue);
    if (wStatus != WOMBAT_QUEUE_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "corvexBridgeMamaQueue_create (): Failed to allocate queue: %d", (int)wStatus);
        return MAMA_STATUS_NOMEM;
    }

    wStatus = wombatQueue_create(nativeQueue, QUEUE_MAX_SIZE, QUEUE_CHUNK_SIZE, QUEUE_CHUNK_SIZE);
    if (wStatus != WOMBAT_QUEUE_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "corvexBridgeMamaQueue_create (): Failed to create queue: %d",
                   (int)wStatus);
        /* A queue whose create failed is freed with deallocate, not destroy. */
        wombatQueue_deallocate(nativeQueue);
        return MAMA_STATUS_PLATFORM;
    }

    mama_status status = corvexBridgeMamaQueue_create_usingNative(queue, parent, nativeQueue);
    if (status != MAMA_STATUS_OK)
    {
        wombatQueue_destroy(nativeQueue);
        return status;
    }
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT mama_status corvexBridgeMamaQueue_create_usingNative(CorvexQueueBridge** queue,
                                                                   mamaQueue parent,
                                                                   void* nativeQueue)
{
    if (queue == NULL || parent == NULL || nativeQueue == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    *queue = NULL;

    CorvexQueueBridge* impl = new (std::nothrow) CorvexQueueBridge();
    if (impl == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "corvexBridgeMamaQueue_create (): Failed to allocate memory for queue.");
        return MAMA_STATUS_NOMEM;
    }
    impl->mQueue = (wombatQueue)nativeQueue;

    mamaBridge bridgeImpl = mamaQueueImpl_getBridgeImpl(parent);
    void* closure = NULL;
    if (bridgeImpl == NULL || mamaBridgeImpl_getClosure(bridgeImpl, &closure) != MAMA_STATUS_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "No bridge implementation for queue.");
        delete impl;
        return MAMA_STATUS_INVALID_ARG;
    }
    impl->mBridge = (CorvexBridge*)closure;

    try
    {
        impl->mWaker = std::make_shared<CorvexQueueWaker>();
    }
    catch (const std::bad_alloc&)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "corvexBridgeMamaQueue_create (): Failed to allocate memory for queue.");
        delete impl;
        return MAMA_STATUS_NOMEM;
    }
    impl->mDispatchLock = wlock_create();
    impl->mParent = parent;

    mama_status status =
        corvexFlowControl_initQueue(&impl->mFlowControl, impl->mBridge, impl->mQueue, &impl->mMsgs);
    if (status != MAMA_STATUS_OK)
    {
        wlock_destroy(impl->mDispatchLock);
        delete impl;
        return status;
    }

    *queue = impl;
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT mama_status corvexBridgeMamaQueue_destroy(CorvexQueueBridge* queue)
{
    if (queue == NULL || queue->mQueue == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }

    uint64_t subscriptions = queue->mSubscriptions.load();
    if (subscriptions > 0)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Cannot destroy queue %p; it still has %u subscriptions.",
                   (void*)queue, (unsigned)subscriptions);
        return MAMA_STATUS_INVALID_ARG;
    }

    /* The host's reusable message of this queue keeps the payload it last
     * decoded into without owning it, and nothing else frees it. Made its
     * owner, the message releases it in its own destroy, which the host runs
     * right after this one. */
    mamaMsg reusable = mamaQueueImpl_getMsg(queue->mParent);
    if (reusable != NULL)
    {
        mamaMsgImpl_setMessageOwner(reusable, 1);
    }

    wlock_lock(queue->mDispatchLock);
    wombatQueueStatus wStatus = wombatQueue_destroy(queue->mQueue);
    queue->mQueue = NULL;
    wlock_unlock(queue->mDispatchLock);
    /* The host freed the batches' events without running them. */
    corvexMsgBatches_destroy(&queue->mMsgs);

    wlock_destroy(queue->mDispatchLock);
    corvexFlowControl_destroyQueue(&queue->mFlowControl);
    delete queue;

    if (wStatus != WOMBAT_QUEUE_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "corvexBridgeMamaQueue_destroy () failed to destroy queue: %d",
                   (int)wStatus);
        return MAMA_STATUS_PLATFORM;
    }
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT mama_status corvexBridgeMamaQueue_dispatch(CorvexQueueBridge* queue)
{
    if (queue == NULL || queue->mQueue == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }

    SendsNeverWait sendsNeverWait;

    wlock_lock(queue->mDispatchLock);
    queue->mDispatchesRunning.fetch_add(1);
    wombatQueueStatus wStatus;
    do
    {
        beforeDispatch(queue);
        if (!hasHostEvents(queue))
        {
            sleepUntilEvents(queue, DISPATCH_WAKE);
        }
        /* Waits no longer: an event the sleep saw is there, and a loop woken
         * to stop or by its timeout goes round to look. */
        wStatus = wombatQueue_timedDispatch(queue->mQueue, NULL, NULL, 0);
    } while (isDispatchOk(wStatus) && mamaQueueImpl_isDispatching(queue->mParent));
    queue->mDispatchesRunning.fetch_sub(1);
    wlock_unlock(queue->mDispatchLock);

    if (!isDispatchOk(wStatus))
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "corvexBridgeMamaQueue_dispatch () failed to dispatch: %d",
                   (int)wStatus);
        return MAMA_STATUS_PLATFORM;
    }
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT mama_status corvexBridgeMamaQueue_timedDispatch(CorvexQueueBridge* queue,
                                                              uint64_t timeout)
{
    if (queue == NULL || queue->mQueue == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }

    SendsNeverWait sendsNeverWait;

    queue->mDispatchesRunning.fetch_add(1);
    beforeDispatch(queue);
    wombatQueueStatus wStatus = wombatQueue_timedDispatch(queue->mQueue, NULL, NULL, timeout);
    queue->mDispatchesRunning.fetch_sub(1);
    if (wStatus == WOMBAT_QUEUE_OK)
    {
        return MAMA_STATUS_OK;
    }
    if (wStatus == WOMBAT_QUEUE_TIMEOUT)
    {
        return MAMA_STATUS_TIMEOUT;
    }
    CORVEX_LOG(CORVEX_LOG_ERROR, "corvexBridgeMamaQueue_timedDispatch () Failed to dispatch: %d",
               (int)wStatus);
    return MAMA_STATUS_PLATFORM;
}

CORVEX_EXPORT mama_status corvexBridgeMamaQueue_dispatchEvent(CorvexQueueBridge* queue)
{
    if (queue == NULL || queue->mQueue == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }

    SendsNeverWait sendsNeverWait;

    queue->mDispatchesRunning.fetch_add(1);
    beforeDispatch(queue);
    wombatQueueStatus wStatus = wombatQueue_dispatch(queue->mQueue, NULL, NULL);
    queue->mDispatchesRunning.fetch_sub(1);
    if (!isDispatchOk(wStatus))
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "corvexBridgeMamaQueue_dispatchEvent() failed to dispatch: %d",
                   (int)wStatus);
        return MAMA_STATUS_PLATFORM;
    }
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT mama_status corvexBridgeMamaQueue_enqueueEvent(CorvexQueueBridge* queue,
                                                             mamaQueueEnqueueCB callback,
                                                             void* closure)
{
    if (callback == NULL || queue == NULL || queue->mQueue == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }

    corvexFlowControl_checkSuspend(&queue->mFlowControl);

    /* Read before the event becomes visible: from then on a dispatch thread
     * may run it and the application destroy the queue. */
    mamaQueue parent = queue->mParent;
    mamaQueueEnqueueCB enqueueCallback = queue->mEnqueueCallback;
    void* enqueueClosure = queue->mEnqueueClosure;

    /* The event callback has the shape (data, closure); data is the parent
     * queue, so it is called as (mamaQueue, closure). Messages queued after
     * it start a batch of their own, behind it. */
    wombatQueueStatus wStatus = WOMBAT_QUEUE_OK;
    std::shared_ptr<CorvexQueueWaker> sleeper;
    {
        std::lock_guard<CorvexSpinLock> guard(queue->mMsgs.mLock);
        corvexMsgBatches_close(&queue->mMsgs);
        wStatus = wombatQueue_enqueue(queue->mQueue, (wombatQueueCb)callback, parent, closure);
        if (WOMBAT_QUEUE_OK == wStatus)
        {
            sleeper = sleeperToWake(queue);
        }
    }
    wake(sleeper);
    /* Whoever watches the queue learns of every attempt, even a refused one. */
    if (enqueueCallback != NULL)
    {
        enqueueCallback(parent, enqueueClosure);
    }

    if (wStatus != WOMBAT_QUEUE_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "corvexBridgeMamaQueue_enqueueEvent(): failed to enqueue: %d; Callback: %p; "
                   "Closure: %p",
                   (int)wStatus, (void*)callback, closure);
        return MAMA_STATUS_PLATFORM;
    }
    return MAMA_STATUS_OK;
}

mama_status corvexQueue_enqueueMsg(CorvexQueueBridge* queue, mamaQueueEnqueueCB callback,
                                   corvexClient_msg_t msg, CorvexSubscription* subscription)
{
    if (callback == NULL || queue == NULL || queue->mQueue == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }

    corvexFlowControl_checkSuspend(&queue->mFlowControl);

    /* Read before the message becomes visible (see enqueueEvent). */
    mamaQueue parent = queue->mParent;
    mamaQueueEnqueueCB enqueueCallback = queue->mEnqueueCallback;
    void* enqueueClosure = queue->mEnqueueClosure;

    CorvexMsgBatches* msgs = &queue->mMsgs;
    bool newEvent = false;
    bool added = false;
    wombatQueueStatus wStatus = WOMBAT_QUEUE_OK;
    std::shared_ptr<CorvexQueueWaker> sleeper;
    {
        std::lock_guard<CorvexSpinLock> guard(msgs->mLock);
        /* A watched queue keeps one event per message: its watcher may
         * dispatch one event per call it hears of. */
        CorvexMsgBatch* batch =
            enqueueCallback == NULL ? corvexMsgBatches_openFor(msgs, callback) : NULL;
        if (batch == NULL)
        {
            batch = corvexMsgBatches_start(msgs, callback, enqueueCallback == NULL);
            if (batch == NULL)
            {
                return MAMA_STATUS_NOMEM;
            }
            newEvent = true;
            wStatus = wombatQueue_enqueue(queue->mQueue, runBatch, queue, batch);
            if (wStatus != WOMBAT_QUEUE_OK)
            {
                corvexMsgBatches_abandon(msgs, batch);
                batch = NULL;
            }
        }
        /* A batch whose event is queued and that stays empty closes when
         * the event runs. */
        added = batch != NULL && corvexMsgBatches_add(msgs, batch, msg, subscription);
        if (newEvent && batch != NULL)
        {
            sleeper = sleeperToWake(queue);
        }
    }

    wake(sleeper);
    /* Told of every host event, and of every refused attempt: with a
     * callback set, of every message. */
    if (newEvent && enqueueCallback != NULL)
    {
        enqueueCallback(parent, enqueueClosure);
    }

    if (wStatus != WOMBAT_QUEUE_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "corvexQueue_enqueueMsg(): failed to enqueue: %d; Msg: %p",
                   (int)wStatus, (void*)msg);
        return MAMA_STATUS_PLATFORM;
    }
    return added ? MAMA_STATUS_OK : MAMA_STATUS_NOMEM;
}

bool corvexQueue_isIdle(CorvexQueueBridge* queue)
{
    if (queue == NULL || queue->mQueue == NULL)
    {
        return false;
    }
    /* The size first: an event taken after it was read is counted by its
     * dispatch call until it has been handled. */
    int size = 0;
    if (wombatQueue_getSize(queue->mQueue, &size) != WOMBAT_QUEUE_OK || size > 0)
    {
        return false;
    }
    return queue->mDispatchesRunning.load() == 0;
}

CORVEX_EXPORT mama_status corvexBridgeMamaQueue_getEventCount(CorvexQueueBridge* queue,
                                                              size_t* count)
{
    if (count == NULL || queue == NULL || queue->mQueue == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    *count = 0;
    corvexMsgBatches_readEventCount(&queue->mMsgs, queue->mQueue, count);
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT mama_status corvexBridgeMamaQueue_stopDispatch(CorvexQueueBridge* queue)
{
    if (queue == NULL || queue->mQueue == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    wombatQueueStatus wStatus = wombatQueue_unblock(queue->mQueue);
    wake(queue->mWaker);
    if (wStatus != WOMBAT_QUEUE_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "corvexBridgeMamaQueue_stopDispatch failed: %d", (int)wStatus);
        return MAMA_STATUS_PLATFORM;
    }
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT mama_status corvexBridgeMamaQueue_setEnqueueCallback(CorvexQueueBridge* queue,
                                                                   mamaQueueEnqueueCB callback,
                                                                   void* closure)
{
    if (callback == NULL || queue == NULL || queue->mQueue == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    queue->mEnqueueClosure = closure;
    queue->mEnqueueCallback = callback;
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT mama_status corvexBridgeMamaQueue_removeEnqueueCallback(CorvexQueueBridge* queue)
{
    if (queue == NULL || queue->mQueue == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    queue->mEnqueueCallback = NULL;
    queue->mEnqueueClosure = NULL;
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT mama_status corvexBridgeMamaQueue_getNativeHandle(CorvexQueueBridge* queue,
                                                                void** nativeHandle)
{
    if (nativeHandle == NULL || queue == NULL || queue->mQueue == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    *nativeHandle = queue;
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT mama_status corvexBridgeMamaQueue_setHighWatermark(CorvexQueueBridge* queue,
                                                                 size_t highWatermark)
{
    if (highWatermark == 0 || queue == NULL || queue->mQueue == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    queue->mHighWatermark = highWatermark;
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT mama_status corvexBridgeMamaQueue_setLowWatermark(CorvexQueueBridge* queue,
                                                                size_t lowWatermark)
{
    if (lowWatermark == 0 || queue == NULL || queue->mQueue == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    queue->mLowWatermark = lowWatermark;
    return MAMA_STATUS_OK;
}

void corvexQueue_checkWatermarks(CorvexQueueBridge* queue)
{
    /* With the high watermark reported, a count above the low one is told
     * by the dispatcher's lower bound alone, which reads nothing the
     * enqueuing thread writes for every message. */
    if (queue->mHighWatermarkFired &&
        corvexMsgBatches_pendingAtLeast(&queue->mMsgs) > queue->mLowWatermark)
    {
        return;
    }
    corvexMsgBatches_noteQueued(&queue->mMsgs);
    size_t count = eventCount(queue);

    if (queue->mHighWatermarkFired)
    {
        if (count == queue->mLowWatermark)
        {
            queue->mHighWatermarkFired = 0;
            mamaQueueImpl_lowWatermarkExceeded(queue->mParent, count);
        }
        return;
    }
    if (count >= queue->mHighWatermark)
    {
        queue->mHighWatermarkFired = 1;
        mamaQueueImpl_highWatermarkExceeded(queue->mParent, count);
    }
}

void corvexQueue_releaseReusableMsg(mamaQueue queue)
{
    mamaMsg reusable = mamaQueueImpl_getMsg(queue);
    if (reusable == NULL)
    {
        return;
    }
    /* As a detach does: the queue forgets it, and the message, made owner of
     * its payload, frees the payload with itself. */
    mamaQueueImpl_detachMsg(queue, reusable);
    mamaMsgImpl_setMessageOwner(reusable, 1);
    mamaMsg_destroy(reusable);
}

mama_status corvexQueue_addSubscription(CorvexQueueBridge* queue, CorvexSubscription* subscription)
{
    if (queue == NULL || subscription == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    mama_status status = corvexFlowControl_addTransport(
        &queue->mFlowControl, &subscription->mTransportBridge->mFlowControl);
    if (status == MAMA_STATUS_OK)
    {
        queue->mSubscriptions.fetch_add(1);
    }
    return status;
}

mama_status corvexQueue_stopFeeding(CorvexQueueBridge* queue, CorvexSubscription* subscription)
{
    if (queue == NULL || subscription == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    mama_status status = corvexFlowControl_removeTransport(
        &queue->mFlowControl, &subscription->mTransportBridge->mFlowControl);
    if (status == MAMA_STATUS_INVALID_ARG)
    {
        CORVEX_LOG(CORVEX_LOG_WARN, "Attempted to remove subscription '%s' not on queue %p",
                   subscription->mTopic != NULL ? subscription->mTopic : "", (void*)queue);
    }
    return status;
}

void corvexQueue_removeSubscription(CorvexQueueBridge* queue)
{
    if (queue != NULL)
    {
        queue->mSubscriptions.fetch_sub(1);
    }
}
