#include "wombat/queue.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace {

struct QueueItem
{
    wombatQueueCb mCb = nullptr;
    void*         mData = nullptr;
    void*         mClosure = nullptr;
    QueueItem*    mPrev = nullptr;
    QueueItem*    mNext = nullptr;
};

// Items live in chunks that are never returned before destroy; a free list
// recycles them, so capacity only ever grows in whole chunks.
struct WombatQueue
{
    std::mutex              mMutex;
    std::condition_variable mReady;
    uint32_t                mMaxSize = WOMBAT_QUEUE_MAX_SIZE;
    uint32_t                mGrowBySize = WOMBAT_QUEUE_CHUNK_SIZE;
    std::vector<std::unique_ptr<QueueItem[]>> mChunks;
    QueueItem*              mFree = nullptr;
    QueueItem               mHead;   // sentinels of the pending list
    QueueItem               mTail;
    QueueItem*              mIterator = &mHead;
    uint32_t                mPending = 0;
    // Each unblock releases exactly one dispatcher, so they are counted.
    uint32_t                mUnblocks = 0;
    int                     mWaiters = 0;

    WombatQueue ()
    {
        mHead.mNext = &mTail;
        mTail.mPrev = &mHead;
    }
};

WombatQueue* asQueue (wombatQueue queue)
{
    return static_cast<WombatQueue*> (queue);
}

bool addChunk (WombatQueue& q, uint32_t count)
{
    std::unique_ptr<QueueItem[]> chunk (new (std::nothrow) QueueItem[count]);
    if (!chunk)
        return false;
    for (uint32_t i = 0; i < count; ++i)
    {
        chunk[i].mNext = q.mFree;
        q.mFree = &chunk[i];
    }
    q.mChunks.push_back (std::move (chunk));
    return true;
}

// Caller holds the mutex. Null when the queue may not grow any further.
QueueItem* takeFreeItem (WombatQueue& q, wombatQueueCb cb, void* data, void* closure)
{
    if (q.mFree == nullptr)
    {
        if (static_cast<uint64_t> (q.mPending) + q.mGrowBySize > q.mMaxSize)
            return nullptr;
        if (!addChunk (q, q.mGrowBySize))
            return nullptr;
    }
    QueueItem* item = q.mFree;
    q.mFree = item->mNext;
    item->mCb = cb;
    item->mData = data;
    item->mClosure = closure;
    return item;
}

void linkAfter (WombatQueue& q, QueueItem* where, QueueItem* item)
{
    item->mPrev = where;
    item->mNext = where->mNext;
    where->mNext->mPrev = item;
    where->mNext = item;
    ++q.mPending;
}

// Caller holds the mutex; the item goes back to the free list.
void unlinkItem (WombatQueue& q, QueueItem* item)
{
    if (q.mIterator == item)
        q.mIterator = item->mPrev;
    item->mPrev->mNext = item->mNext;
    item->mNext->mPrev = item->mPrev;
    item->mNext = q.mFree;
    q.mFree = item;
    --q.mPending;
}

void report (const QueueItem& item, void** data, void** closure)
{
    if (data != nullptr)
        *data = item.mData;
    if (closure != nullptr)
        *closure = item.mClosure;
}

// Caller holds `lock` and has seen a pending item; runs it without the lock.
wombatQueueStatus dispatchHead (WombatQueue& q, std::unique_lock<std::mutex>& lock,
                                void** data, void** closure)
{
    QueueItem* head = q.mHead.mNext;
    const QueueItem item = *head;
    unlinkItem (q, head);
    lock.unlock ();

    report (item, data, closure);
    if (item.mCb != nullptr)
        item.mCb (item.mData, item.mClosure);
    return WOMBAT_QUEUE_OK;
}

// Waits for an item or an unblock until `deadline` (none when null).
wombatQueueStatus waitAndDispatch (wombatQueue queue, void** data, void** closure,
                                   const std::chrono::steady_clock::time_point* deadline)
{
    WombatQueue* q = asQueue (queue);
    if (q == nullptr)
        return WOMBAT_QUEUE_INVALID_ARG;

    std::unique_lock<std::mutex> lock (q->mMutex);
    const auto ready = [q] { return q->mUnblocks > 0 || q->mPending > 0; };
    ++q->mWaiters;
    bool signalled = true;
    if (deadline == nullptr)
        q->mReady.wait (lock, ready);
    else
        signalled = q->mReady.wait_until (lock, *deadline, ready);
    --q->mWaiters;

    if (!signalled)
        return WOMBAT_QUEUE_TIMEOUT;
    if (q->mUnblocks > 0)
    {
        --q->mUnblocks;
        return WOMBAT_QUEUE_OK;
    }
    return dispatchHead (*q, lock, data, closure);
}

// Shared body of insertAfter/insertBefore: links a new item after `where`.
wombatQueueStatus insertItem (WombatQueue& q, QueueItem* where, wombatQueueCb cb,
                              void* data, void* closure)
{
    QueueItem* item = takeFreeItem (q, cb, data, closure);
    if (item == nullptr)
        return WOMBAT_QUEUE_FULL;
    linkAfter (q, where, item);
    q.mReady.notify_one ();
    return WOMBAT_QUEUE_OK;
}

bool isSentinel (const WombatQueue& q, const QueueItem* item)
{
    return item == &q.mHead || item == &q.mTail;
}

} // namespace

extern "C" {

wombatQueueStatus wombatQueue_allocate (wombatQueue* result)
{
    if (result == nullptr)
        return WOMBAT_QUEUE_INVALID_ARG;
    *result = new (std::nothrow) WombatQueue ();
    return *result != nullptr ? WOMBAT_QUEUE_OK : WOMBAT_QUEUE_NOMEM;
}

wombatQueueStatus wombatQueue_create (wombatQueue queue, uint32_t maxSize,
                                      uint32_t initialSize, uint32_t growBySize)
{
    WombatQueue* q = asQueue (queue);
    if (q == nullptr)
        return WOMBAT_QUEUE_INVALID_ARG;

    std::lock_guard<std::mutex> guard (q->mMutex);
    q->mMaxSize = maxSize != 0 ? maxSize : WOMBAT_QUEUE_MAX_SIZE;
    q->mGrowBySize = growBySize != 0 ? growBySize : WOMBAT_QUEUE_CHUNK_SIZE;
    const uint32_t initial = initialSize != 0 ? initialSize : WOMBAT_QUEUE_CHUNK_SIZE;
    if (initial > q->mMaxSize || !addChunk (*q, initial))
        return WOMBAT_QUEUE_NOMEM;
    return WOMBAT_QUEUE_OK;
}

wombatQueueStatus wombatQueue_setMaxSize (wombatQueue queue, unsigned int value)
{
    WombatQueue* q = asQueue (queue);
    if (q == nullptr || value > WOMBAT_QUEUE_MAX_SIZE)
        return WOMBAT_QUEUE_INVALID_ARG;
    std::lock_guard<std::mutex> guard (q->mMutex);
    q->mMaxSize = value;
    return WOMBAT_QUEUE_OK;
}

wombatQueueStatus wombatQueue_getMaxSize (wombatQueue queue, unsigned int* value)
{
    WombatQueue* q = asQueue (queue);
    if (q == nullptr || value == nullptr)
        return WOMBAT_QUEUE_INVALID_ARG;
    std::lock_guard<std::mutex> guard (q->mMutex);
    *value = q->mMaxSize;
    return WOMBAT_QUEUE_OK;
}

wombatQueueStatus wombatQueue_destroy (wombatQueue queue)
{
    WombatQueue* q = asQueue (queue);
    if (q == nullptr)
        return WOMBAT_QUEUE_INVALID_ARG;
    {
        // Freeing the queue under a waiting dispatcher would leave it
        // sleeping on freed memory; refuse instead.
        std::lock_guard<std::mutex> guard (q->mMutex);
        if (q->mWaiters > 0)
            return WOMBAT_QUEUE_SEM_ERR;
    }
    delete q;
    return WOMBAT_QUEUE_OK;
}

wombatQueueStatus wombatQueue_deallocate (wombatQueue queue)
{
    delete asQueue (queue);
    return WOMBAT_QUEUE_OK;
}

wombatQueueStatus wombatQueue_enqueue (wombatQueue queue, wombatQueueCb cb,
                                       void* data, void* closure)
{
    WombatQueue* q = asQueue (queue);
    if (q == nullptr)
        return WOMBAT_QUEUE_INVALID_ARG;
    std::lock_guard<std::mutex> guard (q->mMutex);
    return insertItem (*q, q->mTail.mPrev, cb, data, closure);
}

wombatQueueStatus wombatQueue_dispatch (wombatQueue queue, void** data, void** closure)
{
    return waitAndDispatch (queue, data, closure, nullptr);
}

wombatQueueStatus wombatQueue_timedDispatch (wombatQueue queue, void** data,
                                             void** closure, uint64_t timeout)
{
    // Far beyond any real wait, yet clear of overflow in the clock arithmetic.
    constexpr uint64_t longestWaitMs = 1000ULL * 60 * 60 * 24 * 365 * 100;
    const auto wait = std::chrono::milliseconds (timeout < longestWaitMs ? timeout : longestWaitMs);
    const auto deadline = std::chrono::steady_clock::now () + wait;
    return waitAndDispatch (queue, data, closure, &deadline);
}

wombatQueueStatus wombatQueue_poll (wombatQueue queue, void** data, void** closure)
{
    WombatQueue* q = asQueue (queue);
    if (q == nullptr)
        return WOMBAT_QUEUE_INVALID_ARG;
    std::unique_lock<std::mutex> lock (q->mMutex);
    if (q->mPending == 0)
        return WOMBAT_QUEUE_WOULD_BLOCK;
    return dispatchHead (*q, lock, data, closure);
}

wombatQueueStatus wombatQueue_unblock (wombatQueue queue)
{
    WombatQueue* q = asQueue (queue);
    if (q == nullptr)
        return WOMBAT_QUEUE_INVALID_ARG;
    std::lock_guard<std::mutex> guard (q->mMutex);
    ++q->mUnblocks;
    q->mReady.notify_one ();
    return WOMBAT_QUEUE_OK;
}

wombatQueueStatus wombatQueue_flush (wombatQueue queue, wombatQueueFlushCb cb, void* closure)
{
    WombatQueue* q = asQueue (queue);
    if (q == nullptr)
        return WOMBAT_QUEUE_INVALID_ARG;

    // Take the items out first so that the callback may use the queue.
    std::vector<QueueItem> flushed;
    {
        std::lock_guard<std::mutex> guard (q->mMutex);
        flushed.reserve (q->mPending);
        while (q->mPending > 0)
        {
            flushed.push_back (*q->mHead.mNext);
            unlinkItem (*q, q->mHead.mNext);
        }
    }
    if (cb != nullptr)
    {
        for (const QueueItem& item : flushed)
            cb (queue, item.mData, item.mClosure, closure);
    }
    return WOMBAT_QUEUE_OK;
}

wombatQueueStatus wombatQueue_getSize (wombatQueue queue, int* size)
{
    WombatQueue* q = asQueue (queue);
    if (q == nullptr || size == nullptr)
        return WOMBAT_QUEUE_INVALID_ARG;
    std::lock_guard<std::mutex> guard (q->mMutex);
    *size = static_cast<int> (q->mPending + q->mUnblocks);
    return WOMBAT_QUEUE_OK;
}

wombatQueueStatus wombatQueue_next (wombatQueue queue, void** data, void** closure)
{
    WombatQueue* q = asQueue (queue);
    if (q == nullptr)
        return WOMBAT_QUEUE_INVALID_ARG;
    std::lock_guard<std::mutex> guard (q->mMutex);
    if (q->mIterator == &q->mTail || q->mIterator->mNext == &q->mTail)
        return WOMBAT_QUEUE_END;
    q->mIterator = q->mIterator->mNext;
    report (*q->mIterator, data, closure);
    return WOMBAT_QUEUE_OK;
}

wombatQueueStatus wombatQueue_prev (wombatQueue queue, void** data, void** closure)
{
    WombatQueue* q = asQueue (queue);
    if (q == nullptr)
        return WOMBAT_QUEUE_INVALID_ARG;
    std::lock_guard<std::mutex> guard (q->mMutex);
    if (q->mIterator == &q->mHead || q->mIterator->mPrev == &q->mHead)
        return WOMBAT_QUEUE_END;
    q->mIterator = q->mIterator->mPrev;
    report (*q->mIterator, data, closure);
    return WOMBAT_QUEUE_OK;
}

wombatQueueStatus wombatQueue_cur (wombatQueue queue, void** data, void** closure)
{
    WombatQueue* q = asQueue (queue);
    if (q == nullptr)
        return WOMBAT_QUEUE_INVALID_ARG;
    std::lock_guard<std::mutex> guard (q->mMutex);
    if (isSentinel (*q, q->mIterator))
        return WOMBAT_QUEUE_END;
    report (*q->mIterator, data, closure);
    return WOMBAT_QUEUE_OK;
}

wombatQueueStatus wombatQueue_remove (wombatQueue queue, void** data, void** closure)
{
    WombatQueue* q = asQueue (queue);
    if (q == nullptr)
        return WOMBAT_QUEUE_INVALID_ARG;
    std::lock_guard<std::mutex> guard (q->mMutex);
    if (isSentinel (*q, q->mIterator))
        return WOMBAT_QUEUE_END;
    report (*q->mIterator, data, closure);
    unlinkItem (*q, q->mIterator);
    return WOMBAT_QUEUE_OK;
}

wombatQueueStatus wombatQueue_insertAfter (wombatQueue queue, wombatQueueCb cb,
                                           void* data, void* closure)
{
    WombatQueue* q = asQueue (queue);
    if (q == nullptr)
        return WOMBAT_QUEUE_INVALID_ARG;
    std::lock_guard<std::mutex> guard (q->mMutex);
    if (q->mIterator == &q->mTail)
        return WOMBAT_QUEUE_END;
    return insertItem (*q, q->mIterator, cb, data, closure);
}

wombatQueueStatus wombatQueue_insertBefore (wombatQueue queue, wombatQueueCb cb,
                                            void* data, void* closure)
{
    WombatQueue* q = asQueue (queue);
    if (q == nullptr)
        return WOMBAT_QUEUE_INVALID_ARG;
    std::lock_guard<std::mutex> guard (q->mMutex);
    if (q->mIterator == &q->mHead)
        return WOMBAT_QUEUE_END;
    return insertItem (*q, q->mIterator->mPrev, cb, data, closure);
}

wombatQueueStatus wombatQueue_replace (wombatQueue queue, wombatQueueCb cb,
                                       void* data, void* closure)
{
    WombatQueue* q = asQueue (queue);
    if (q == nullptr)
        return WOMBAT_QUEUE_INVALID_ARG;
    std::lock_guard<std::mutex> guard (q->mMutex);
    if (isSentinel (*q, q->mIterator))
        return WOMBAT_QUEUE_END;
    q->mIterator->mCb = cb;
    q->mIterator->mData = data;
    q->mIterator->mClosure = closure;
    return WOMBAT_QUEUE_OK;
}

wombatQueueStatus wombatQueue_begin (wombatQueue queue)
{
    WombatQueue* q = asQueue (queue);
    if (q == nullptr)
        return WOMBAT_QUEUE_INVALID_ARG;
    std::lock_guard<std::mutex> guard (q->mMutex);
    q->mIterator = &q->mHead;
    return WOMBAT_QUEUE_OK;
}

wombatQueueStatus wombatQueue_end (wombatQueue queue)
{
    WombatQueue* q = asQueue (queue);
    if (q == nullptr)
        return WOMBAT_QUEUE_INVALID_ARG;
    std::lock_guard<std::mutex> guard (q->mMutex);
    q->mIterator = &q->mTail;
    return WOMBAT_QUEUE_OK;
}

} // extern "C"
