#include "msgBatch.h"

#include <mutex>
#include <new>

namespace
{
/* Caller holds mLock. A block of unused nodes. */
CorvexMsgBlock* takeBlock(CorvexMsgBatches* batches)
{
    CorvexMsgBlock* block = batches->mFreeBlocks;
    if (block != NULL)
    {
        batches->mFreeBlocks = block->mNext;
    }
    else
    {
        block = new (std::nothrow) CorvexMsgBlock();
        if (block == NULL)
        {
            return NULL;
        }
        try
        {
            batches->mBlocks.push_back(block);
        }
        catch (const std::bad_alloc&)
        {
            delete block;
            return NULL;
        }
    }
    block->mNext = NULL;
    block->mDone.store(0, std::memory_order_relaxed);
    return block;
}

/* Caller holds mLock. */
void unlinkWaiting(CorvexMsgBatches* batches, CorvexMsgBatch* batch)
{
    if (batch->mOlder != NULL)
    {
        batch->mOlder->mNewer = batch->mNewer;
    }
    else
    {
        batches->mOldest = batch->mNewer;
    }
    if (batch->mNewer != NULL)
    {
        batch->mNewer->mOlder = batch->mOlder;
    }
    else
    {
        batches->mNewest = batch->mOlder;
    }
    batches->mWaiting.fetch_sub(1, std::memory_order_release);
}

/* Caller holds mLock. */
void freeBatch(CorvexMsgBatches* batches, CorvexMsgBatch* batch)
{
    if (batches->mOpen == batch)
    {
        batches->mOpen = NULL;
    }
    batch->mNewer = batches->mFreeBatches;
    batches->mFreeBatches = batch;
}

/* Counts `count` more nodes of the block as done; true when that was the
 * last of them, so that the block may be reused. */
bool finishNodes(CorvexMsgBlock* block, uint32_t count)
{
    return block != NULL && count > 0 &&
           block->mDone.fetch_add(count, std::memory_order_acq_rel) + count ==
               CORVEX_MSG_BLOCK_NODES;
}

/* Caller holds mLock. */
void reuseBlock(CorvexMsgBatches* batches, CorvexMsgBlock* block)
{
    block->mNext = batches->mFreeBlocks;
    batches->mFreeBlocks = block;
}
} // namespace

void corvexMsgNode_release(CorvexMsgNode* node)
{
    if (node->mMsg != NULL)
    {
        corvexClient_msg_free(&node->mMsg);
    }
}

CorvexMsgBatch* corvexMsgBatches_openFor(CorvexMsgBatches* batches, mamaQueueEnqueueCB callback)
{
    CorvexMsgBatch* open = batches->mOpen;
    if (open != NULL && open->mCallback == callback)
    {
        return open;
    }
    return NULL;
}

CorvexMsgBatch* corvexMsgBatches_start(CorvexMsgBatches* batches, mamaQueueEnqueueCB callback,
                                       bool open)
{
    CorvexMsgBatch* batch = batches->mFreeBatches;
    if (batch != NULL)
    {
        batches->mFreeBatches = batch->mNewer;
    }
    else
    {
        batch = new (std::nothrow) CorvexMsgBatch();
        if (batch == NULL)
        {
            return NULL;
        }
    }
    batch->mCallback = callback;
    batch->mBlock = NULL;
    batch->mIndex = 0;
    batch->mLength.store(0, std::memory_order_relaxed);
    batch->mStarted = false;
    batch->mOlder = batches->mNewest;
    batch->mNewer = NULL;
    if (batches->mNewest != NULL)
    {
        batches->mNewest->mNewer = batch;
    }
    else
    {
        batches->mOldest = batch;
    }
    batches->mNewest = batch;
    batches->mWaiting.fetch_add(1, std::memory_order_release);
    batches->mOpen = open ? batch : NULL;
    return batch;
}

void corvexMsgBatches_abandon(CorvexMsgBatches* batches, CorvexMsgBatch* batch)
{
    unlinkWaiting(batches, batch);
    freeBatch(batches, batch);
}

bool corvexMsgBatches_add(CorvexMsgBatches* batches, CorvexMsgBatch* batch, corvexClient_msg_t msg,
                          CorvexSubscription* subscription)
{
    if (batches->mTail == NULL)
    {
        batches->mTail = takeBlock(batches);
        batches->mTailIndex = 0;
        if (batches->mTail == NULL)
        {
            return false;
        }
    }
    /* The next block is linked before the last node of this one is
     * published, so the reader of that node finds it, and a full block is
     * never the one written. */
    CorvexMsgBlock* next = NULL;
    if (CORVEX_MSG_BLOCK_NODES - 1 == batches->mTailIndex)
    {
        next = takeBlock(batches);
        if (next == NULL)
        {
            return false;
        }
    }
    CorvexMsgBlock* block = batches->mTail;
    CorvexMsgNode& node = block->mNodes[batches->mTailIndex];
    node.mMsg = msg;
    node.mSubscription = subscription;
    const uint32_t length = batch->mLength.load(std::memory_order_relaxed);
    if (0 == length)
    {
        batch->mBlock = block;
        batch->mIndex = batches->mTailIndex;
    }
    if (next != NULL)
    {
        block->mNext = next;
        batches->mTail = next;
        batches->mTailIndex = 0;
    }
    else
    {
        ++batches->mTailIndex;
    }
    batches->mQueued.store(batches->mQueued.load(std::memory_order_relaxed) + 1,
                           std::memory_order_release);
    batch->mLength.store(length + 1, std::memory_order_release);
    if (CORVEX_MSG_BATCH_MAX == length + 1 && batches->mOpen == batch)
    {
        batches->mOpen = NULL;
    }
    return true;
}

void corvexMsgBatches_run(CorvexMsgBatches* batches, CorvexMsgBatch* batch, mamaQueue parent,
                          void (*before)(void* queue), void* queue)
{
    mamaQueueEnqueueCB callback = NULL;
    {
        std::lock_guard<CorvexSpinLock> guard(batches->mLock);
        if (!batch->mStarted)
        {
            batch->mStarted = true;
            unlinkWaiting(batches, batch);
        }
        callback = batch->mCallback;
    }
    CorvexMsgBlock* block = NULL;
    uint32_t index = 0;
    uint32_t doneInBlock = 0;
    uint32_t done = 0;
    while (true)
    {
        if (batch->mLength.load(std::memory_order_acquire) == done)
        {
            /* Caught up: the batch closes unless a message joined it. */
            std::lock_guard<CorvexSpinLock> guard(batches->mLock);
            if (batch->mLength.load(std::memory_order_relaxed) != done)
            {
                continue;
            }
            if (finishNodes(block, doneInBlock))
            {
                reuseBlock(batches, block);
            }
            freeBatch(batches, batch);
            return;
        }
        if (0 == done)
        {
            block = batch->mBlock;
            index = batch->mIndex;
        }
        else if (CORVEX_MSG_BLOCK_NODES == index)
        {
            CorvexMsgBlock* next = block->mNext;
            if (finishNodes(block, doneInBlock))
            {
                std::lock_guard<CorvexSpinLock> guard(batches->mLock);
                reuseBlock(batches, block);
            }
            block = next;
            index = 0;
            doneInBlock = 0;
        }
        CorvexMsgNode* node = &block->mNodes[index++];
        ++doneInBlock;
        if (done > 0)
        {
            before(queue);
        }
        ++done;
        batches->mDelivered.fetch_add(1, std::memory_order_release);
        callback(parent, node);
    }
}

void corvexMsgBatches_destroy(CorvexMsgBatches* batches)
{
    std::lock_guard<CorvexSpinLock> guard(batches->mLock);
    while (batches->mOldest != NULL)
    {
        CorvexMsgBatch* batch = batches->mOldest;
        unlinkWaiting(batches, batch);
        CorvexMsgBlock* block = batch->mBlock;
        uint32_t index = batch->mIndex;
        const uint32_t length = batch->mLength.load(std::memory_order_relaxed);
        for (uint32_t i = 0; i < length; ++i)
        {
            if (CORVEX_MSG_BLOCK_NODES == index)
            {
                block = block->mNext;
                index = 0;
            }
            corvexMsgNode_release(&block->mNodes[index++]);
        }
        batches->mDelivered.fetch_add(length, std::memory_order_release);
        delete batch;
    }
    while (batches->mFreeBatches != NULL)
    {
        CorvexMsgBatch* batch = batches->mFreeBatches;
        batches->mFreeBatches = batch->mNewer;
        delete batch;
    }
    for (CorvexMsgBlock* block : batches->mBlocks)
    {
        delete block;
    }
    batches->mBlocks.clear();
    batches->mFreeBlocks = NULL;
    batches->mTail = NULL;
    batches->mOpen = NULL;
}
