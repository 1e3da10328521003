#define CORVEX_LOG_MODULE "flowControl"

#include "flowControl.h"

#include <new>

#include <mama/mama.h>
#include <wombat/wlock.h>

#include "corvexBridge.h"
#include "logging.h"
#include "msgBatch.h"

namespace
{
/* Queues up to about 1500 events resume at two thirds, larger ones 500
 * events below the maximum, so that they do not flap on every event. */
uint64_t resumeMark(uint64_t maxSize)
{
    uint64_t mark = 2 * (maxSize / 3);
    if (maxSize - mark > 500)
    {
        mark = maxSize - 500;
    }
    return mark;
}

/* Flow control runs only in the bridge's asynchronous mode. */
bool isOn(const CorvexFlowControlQueue* queue)
{
    return queue->mBridge != NULL && queue->mBridge->mSubscribeAsync != 0;
}

bool isSuspended(const CorvexFlowControlQueue* queue)
{
    return queue->mIsSuspended.load(std::memory_order_acquire) != 0;
}

void setSuspended(CorvexFlowControlQueue* queue, bool suspended)
{
    queue->mIsSuspended.store(suspended ? 1 : 0, std::memory_order_release);
}

/* The event count read of both checks; false (logged) when it failed. */
bool readEventCount(CorvexFlowControlQueue* queue, size_t* count)
{
    if (!corvexMsgBatches_readEventCount(queue->mMsgs, queue->mHostQueue, count))
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "could not get event count of queue %p", (void*)queue);
        return false;
    }
    return true;
}

/* Whether the count may have reached `size`: first from the enqueuer's copy
 * of the delivered count, which overstates the count and reads nothing the
 * dispatch thread writes for every message; only when that says it may,
 * the copy is refreshed and the exact count decides. */
bool mayHaveReached(CorvexFlowControlQueue* queue, uint64_t size)
{
    CorvexMsgBatches* msgs = queue->mMsgs;
    size_t others = 0;
    if (corvexMsgBatches_readOtherEvents(msgs, queue->mHostQueue, &others))
    {
        const uint64_t room = others < size ? size - others : 0;
        if (corvexMsgBatches_pendingAtMost(msgs) < room)
        {
            return false;
        }
        corvexMsgBatches_noteDelivered(msgs);
    }
    size_t count = 0;
    return readEventCount(queue, &count) && count >= size;
}

/* Under mTransportsLock: suspends every transport of a queue found full. */
void suspendAll(CorvexFlowControlQueue* queue)
{
    CORVEX_LOG(CORVEX_LOG_FINEST, "queue %p is too full, suspending all associated transports",
               (void*)queue);
    for (auto& entry : *queue->mTransports)
    {
        mama_status status = corvexFlowControl_suspendTransport(entry.first);
        if (status != MAMA_STATUS_OK)
        {
            CORVEX_LOG(CORVEX_LOG_WARN, "unable to suspend a transport %p: %s", (void*)entry.first,
                       mamaStatus_stringForStatus(status));
        }
        else
        {
            entry.second.mHeld = true;
            setSuspended(queue, true);
        }
    }
}

/* Under mTransportsLock: lets go of every transport this queue holds. */
void resumeHeld(CorvexFlowControlQueue* queue)
{
    /* Cleared first: a resumed session delivers its held messages at once,
     * and the enqueue check must be able to suspend it again meanwhile (it
     * waits for this lock before it does). */
    setSuspended(queue, false);
    mama_status failed = MAMA_STATUS_OK;
    for (auto& entry : *queue->mTransports)
    {
        if (!entry.second.mHeld)
        {
            continue;
        }
        /* Not held any more even when the resume fails: the transport keeps
         * that count until its destroy or a reconnect. */
        entry.second.mHeld = false;
        mama_status status = corvexFlowControl_resumeTransport(entry.first);
        if (status != MAMA_STATUS_OK)
        {
            failed = status;
        }
    }
    if (failed != MAMA_STATUS_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "resuming a transport failed, marking queue as resumed anyway: %s",
                   mamaStatus_stringForStatus(failed));
    }
}
} // namespace

mama_status corvexFlowControl_initQueue(CorvexFlowControlQueue* queue, const CorvexBridge* bridge,
                                        wombatQueue hostQueue, CorvexMsgBatches* msgs)
{
    queue->mTransports = new (std::nothrow) CorvexQueueTransportMap();
    if (queue->mTransports == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "corvexBridgeMamaQueue_create (): Failed to allocate memory for transport map.");
        return MAMA_STATUS_NOMEM;
    }
    queue->mTransportsLock = wlock_create();
    setSuspended(queue, false);
    queue->mBridge = bridge;
    queue->mHostQueue = hostQueue;
    queue->mMsgs = msgs;
    return MAMA_STATUS_OK;
}

void corvexFlowControl_destroyQueue(CorvexFlowControlQueue* queue)
{
    wlock_destroy(queue->mTransportsLock);
    queue->mTransportsLock = NULL;
    delete queue->mTransports;
    queue->mTransports = NULL;
}

mama_status corvexFlowControl_addTransport(CorvexFlowControlQueue* queue,
                                           CorvexFlowControlTransport* transport)
{
    mama_status status = MAMA_STATUS_OK;
    wlock_lock(queue->mTransportsLock);
    try
    {
        auto inserted = queue->mTransports->emplace(transport, CorvexQueueFeed());
        CorvexQueueFeed& feed = inserted.first->second;
        feed.mSubscriptions++;
        if (inserted.second && isSuspended(queue))
        {
            status = corvexFlowControl_suspendTransport(transport);
            if (status != MAMA_STATUS_OK)
            {
                queue->mTransports->erase(inserted.first);
            }
            else
            {
                feed.mHeld = true;
            }
        }
    }
    catch (const std::bad_alloc&)
    {
        status = MAMA_STATUS_NOMEM;
    }
    wlock_unlock(queue->mTransportsLock);
    return status;
}

mama_status corvexFlowControl_removeTransport(CorvexFlowControlQueue* queue,
                                              CorvexFlowControlTransport* transport)
{
    mama_status result = MAMA_STATUS_OK;
    wlock_lock(queue->mTransportsLock);
    auto found = queue->mTransports->find(transport);
    if (found == queue->mTransports->end())
    {
        result = MAMA_STATUS_INVALID_ARG;
    }
    else if (--found->second.mSubscriptions == 0)
    {
        bool held = found->second.mHeld;
        queue->mTransports->erase(found);
        if (held)
        {
            mama_status status = corvexFlowControl_resumeTransport(transport);
            if (status != MAMA_STATUS_OK)
            {
                CORVEX_LOG(CORVEX_LOG_ERROR, "unable to resume subscription: %s",
                           mamaStatus_stringForStatus(status));
            }
        }
    }
    wlock_unlock(queue->mTransportsLock);
    return result;
}

void corvexFlowControl_checkSuspend(CorvexFlowControlQueue* queue)
{
    if (!isOn(queue) || isSuspended(queue))
    {
        return;
    }

    /* The size is read without the lock first, so that a queue below the
     * maximum costs nothing more; the decision is made under the lock. */
    const uint64_t maxSize = queue->mBridge->mQueueMaxSize;
    if (!mayHaveReached(queue, maxSize))
    {
        return;
    }

    size_t count = 0;
    wlock_lock(queue->mTransportsLock);
    if (!isSuspended(queue) && readEventCount(queue, &count) && count >= maxSize)
    {
        suspendAll(queue);
    }
    wlock_unlock(queue->mTransportsLock);
}

void corvexFlowControl_checkResume(CorvexFlowControlQueue* queue)
{
    if (!isOn(queue) || !isSuspended(queue))
    {
        return;
    }
    /* A queue still above the mark by the dispatcher's lower bound needs no
     * exact count (see below: the message about to go counts no more). */
    const uint64_t mark = resumeMark(queue->mBridge->mQueueMaxSize);
    if (corvexMsgBatches_pendingAtLeast(queue->mMsgs) > mark + 1)
    {
        return;
    }

    wlock_lock(queue->mTransportsLock);
    if (!isSuspended(queue))
    {
        wlock_unlock(queue->mTransportsLock);
        return;
    }

    corvexMsgBatches_noteQueued(queue->mMsgs);
    size_t count = 0;
    /* The event or message about to be dispatched no longer counts. */
    if (readEventCount(queue, &count) && (count > 0 ? (uint64_t)count - 1 : 0) <= mark)
    {
        resumeHeld(queue);
    }
    wlock_unlock(queue->mTransportsLock);
}

mama_status corvexFlowControl_initTransport(CorvexFlowControlTransport* transport, const char* name)
{
    transport->mSuspendedQueuesLock = wlock_create();
    if (transport->mSuspendedQueuesLock == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to initialize lock for suspended queues");
        return MAMA_STATUS_PLATFORM;
    }
    transport->mSuspendedQueues = 0;
    transport->mSession = NULL;
    transport->mName = name;
    return MAMA_STATUS_OK;
}

void corvexFlowControl_destroyTransport(CorvexFlowControlTransport* transport)
{
    if (transport->mSuspendedQueuesLock != NULL)
    {
        wlock_destroy(transport->mSuspendedQueuesLock);
        transport->mSuspendedQueuesLock = NULL;
    }
}

void corvexFlowControl_attachSession(CorvexFlowControlTransport* transport,
                                     corvexClient_session_t session)
{
    wlock_lock(transport->mSuspendedQueuesLock);
    transport->mSession = session;
    wlock_unlock(transport->mSuspendedQueuesLock);
}

mama_status corvexFlowControl_suspendTransport(CorvexFlowControlTransport* transport)
{
    if (transport == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "no transport closure");
        return MAMA_STATUS_NULL_ARG;
    }
    mama_status result = MAMA_STATUS_OK;
    wlock_lock(transport->mSuspendedQueuesLock);
    uint32_t count = ++transport->mSuspendedQueues;
    CORVEX_LOG(
        CORVEX_LOG_FINEST,
        "incremented suspended queues for transport '%s' because queue is full; value is now '%u'",
        transport->mName, count);
    if (transport->mSession != NULL && count == 1)
    {
        int32_t rc = corvexClient_session_suspend(transport->mSession);
        if (rc != CORVEXCLIENT_OK)
        {
            CORVEX_LOG(CORVEX_LOG_ERROR, "could not suspend the transport '%s'", transport->mName);
            CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_ERROR, rc,
                                    "error in corvexClient_session_suspend()");
            count = --transport->mSuspendedQueues;
            CORVEX_LOG(CORVEX_LOG_FINEST,
                       "decremented suspended queues for transport '%s' because "
                       "corvexClient_session_suspend "
                       "failed; value is now '%u'",
                       transport->mName, count);
            result = MAMA_STATUS_PLATFORM;
        }
        else
        {
            CORVEX_LOG(CORVEX_LOG_FINER,
                       "suspending the transport '%s'; cannot exceed maximum queue depth",
                       transport->mName);
        }
    }
    wlock_unlock(transport->mSuspendedQueuesLock);
    return result;
}

mama_status corvexFlowControl_resumeTransport(CorvexFlowControlTransport* transport)
{
    if (transport == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "no transport closure");
        return MAMA_STATUS_NULL_ARG;
    }
    mama_status result = MAMA_STATUS_OK;
    wlock_lock(transport->mSuspendedQueuesLock);
    if (transport->mSuspendedQueues == 0)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "transport with no suspended queues being resumed. corvexTransportBridge=%p",
                   (void*)transport);
        wlock_unlock(transport->mSuspendedQueuesLock);
        return MAMA_STATUS_PLATFORM;
    }
    uint32_t count = --transport->mSuspendedQueues;
    CORVEX_LOG(CORVEX_LOG_FINEST,
               "decremented suspended queues for transport '%s' because queue has enough room; "
               "value is now '%u'",
               transport->mName, count);
    if (count == 0 && transport->mSession != NULL)
    {
        int32_t rc = corvexClient_session_resume(transport->mSession);
        if (rc != CORVEXCLIENT_OK)
        {
            CORVEX_LOG(CORVEX_LOG_ERROR, "could not resume the transport '%s'", transport->mName);
            CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_ERROR, rc, "error in corvexClient_session_resume()");
            count = ++transport->mSuspendedQueues;
            CORVEX_LOG(CORVEX_LOG_FINEST,
                       "incremented suspended queues for transport '%s' because "
                       "corvexClient_session_resume "
                       "failed; value is now '%u'",
                       transport->mName, count);
            result = MAMA_STATUS_PLATFORM;
        }
        else
        {
            CORVEX_LOG(CORVEX_LOG_FINER,
                       "resuming the transport '%s'; queue now has enough room to continue",
                       transport->mName);
        }
    }
    wlock_unlock(transport->mSuspendedQueuesLock);
    return result;
}

void corvexFlowControl_resuspendAfterReconnect(CorvexFlowControlTransport* transport)
{
    wlock_lock(transport->mSuspendedQueuesLock);
    if (transport->mSuspendedQueues != 0 && transport->mSession != NULL)
    {
        int32_t rc = corvexClient_session_suspend(transport->mSession);
        if (rc != CORVEXCLIENT_OK)
        {
            CORVEX_LOG(CORVEX_LOG_ERROR, "could not suspend the transport '%s' after reconnect.",
                       transport->mName);
            CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_ERROR, rc,
                                    "error in corvexClient_session_suspend()");
        }
    }
    wlock_unlock(transport->mSuspendedQueuesLock);
}

bool corvexFlowControl_detachSession(CorvexFlowControlTransport* transport)
{
    wlock_lock(transport->mSuspendedQueuesLock);
    bool suspended = transport->mSuspendedQueues != 0;
    transport->mSession = NULL;
    wlock_unlock(transport->mSuspendedQueuesLock);
    return suspended;
}
