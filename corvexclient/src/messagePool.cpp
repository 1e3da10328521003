/* Message pool: each thread keeps a small free list and trades batches with
 * a shared one, so the publish and free paths rarely take a lock even when
 * messages are allocated on one thread and freed on another. The shared
 * list keeps the batches whole, so that taking one is a pointer swap: the
 * thread that gives a batch back has just touched its messages, the one
 * that takes it would otherwise walk a chain that is cold in its cache. */
#include <cstdlib>
#include <mutex>
#include <new>

#include "message.h"

namespace
{
constexpr uint32_t kMagicLive = 0x4d534721; /* "MSG!" */
constexpr uint32_t kMagicFree = 0x46524545; /* "FREE" */
constexpr uint32_t kLocalLimit = 256;
constexpr uint32_t kBatch = 128;
constexpr uint32_t kMaxKeptStorage = 64 * 1024;
/* Messages kept for reuse across all threads; a burst beyond it (a slow
 * receiver holding many) is returned to the heap, not kept for good. */
constexpr uint32_t kSharedLimit = 16 * 1024;

struct SharedPool
{
    std::mutex mLock;
    corvexClientMsg* mBatches = nullptr; /* linked through mNextBatch */
    uint32_t mCount = 0;                 /* messages in all batches */
};

/* Never destroyed: threads return their lists to it while the process ends. */
SharedPool& sharedPool()
{
    static SharedPool* pool = new SharedPool;
    return *pool;
}

void freeList(corvexClientMsg* first)
{
    while (first)
    {
        corvexClientMsg* next = first->mNextFree;
        std::free(first->mStorage);
        std::free(first->mMapStorage);
        delete first;
        first = next;
    }
}

void freeBatches(corvexClientMsg* batch)
{
    while (batch)
    {
        corvexClientMsg* next = batch->mNextBatch;
        freeList(batch);
        batch = next;
    }
}

/* A plain structure, so that reaching it is one lookup with no guard; the
 * thread's exit gives its messages back through LocalPoolExit. */
struct LocalPool
{
    corvexClientMsg* mHead = nullptr;
    uint32_t mCount = 0;
    bool mExitSet = false;

    void giveBack(uint32_t count)
    {
        if (count == 0)
            return;
        corvexClientMsg* first = mHead;
        corvexClientMsg* last = mHead;
        for (uint32_t i = 1; i < count; ++i)
            last = last->mNextFree;
        mHead = last->mNextFree;
        mCount -= count;
        last->mNextFree = nullptr;
        first->mBatchSize = count;

        SharedPool& shared = sharedPool();
        {
            std::lock_guard<std::mutex> guard(shared.mLock);
            if (shared.mCount + count <= kSharedLimit)
            {
                first->mNextBatch = shared.mBatches;
                shared.mBatches = first;
                shared.mCount += count;
                return;
            }
        }
        freeList(first);
    }

    /* Only when the local list is empty. */
    void takeBatch()
    {
        SharedPool& shared = sharedPool();
        std::lock_guard<std::mutex> guard(shared.mLock);
        corvexClientMsg* batch = shared.mBatches;
        if (!batch)
            return;
        shared.mBatches = batch->mNextBatch;
        shared.mCount -= batch->mBatchSize;
        mHead = batch;
        mCount = batch->mBatchSize;
    }
};

thread_local LocalPool tPool;

struct LocalPoolExit
{
    ~LocalPoolExit()
    {
        tPool.giveBack(tPool.mCount);
    }
};

thread_local LocalPoolExit tPoolExit;

/* The thread's pool, set to be given back at the thread's exit once it
 * holds messages. */
LocalPool& localPool()
{
    LocalPool& pool = tPool;
    if (!pool.mExitSet)
    {
        pool.mExitSet = true;
        /* The first use constructs it, which registers its destructor. */
        static_cast<void>(&tPoolExit);
    }
    return pool;
}

void resetFields(corvexClientMsg* msg)
{
    msg->mRefs.store(1, std::memory_order_relaxed);
    msg->mMagic = kMagicLive;
    msg->mTopic = nullptr;
    msg->mTopicLength = 0;
    msg->mContentLength = 0;
    msg->mContent = nullptr;
    msg->mReplyTo = nullptr;
    msg->mReplyToLength = 0;
    msg->mDeliveryMode = CORVEXCLIENT_DELIVERY_MODE_DIRECT;
    msg->mMap = nullptr;
    msg->mHasReplyTo = 0;
    msg->mDiscard = 0;
    msg->mCacheStatus = CORVEXCLIENT_MSG_LIVE;
    msg->mCacheRequestId = 0;
    msg->mReleaseBorrowed = nullptr;
    msg->mEncodedMap = nullptr;
    msg->mEncodedMapLength = 0;
    msg->mDecodeMap = nullptr;
    msg->mFindMap = nullptr;
    msg->mMapOrigin = nullptr;
    msg->mMapState.store(0, std::memory_order_relaxed);
    msg->mMapLost = 0;
    msg->mNextFree = nullptr;
}
} // namespace

corvexClientMsg* corvexMsg_allocate()
{
    /* One lookup of the thread's pool: each use of the thread_local in a
     * shared library is a call. */
    LocalPool& pool = tPool;
    if (!pool.mHead)
        localPool().takeBatch();
    corvexClientMsg* msg = pool.mHead;
    if (msg)
    {
        pool.mHead = msg->mNextFree;
        --pool.mCount;
    }
    else
    {
        msg = new (std::nothrow) corvexClientMsg;
        if (!msg)
            return nullptr;
        msg->mStorage = nullptr;
        msg->mStorageCapacity = 0;
        msg->mMapStorage = nullptr;
        msg->mMapStorageCapacity = 0;
    }
    resetFields(msg);
    return msg;
}

void corvexMsg_addReference(corvexClientMsg* msg)
{
    msg->mRefs.fetch_add(1, std::memory_order_relaxed);
}

void corvexMsg_release(corvexClientMsg* msg)
{
    if (msg->mRefs.fetch_sub(1, std::memory_order_acq_rel) != 1)
        return;
    msg->mMagic = kMagicFree;
    if (msg->mReleaseBorrowed)
        msg->mReleaseBorrowed(msg->mBorrowed);
    if (msg->mStorageCapacity > kMaxKeptStorage)
    {
        std::free(msg->mStorage);
        msg->mStorage = nullptr;
        msg->mStorageCapacity = 0;
    }
    if (msg->mMapStorageCapacity > kMaxKeptStorage)
    {
        std::free(msg->mMapStorage);
        msg->mMapStorage = nullptr;
        msg->mMapStorageCapacity = 0;
    }
    LocalPool& pool = localPool();
    msg->mNextFree = pool.mHead;
    pool.mHead = msg;
    if (++pool.mCount > kLocalLimit)
        pool.giveBack(kBatch);
}

bool corvexMsg_isValid(const corvexClientMsg* msg)
{
    return msg->mMagic == kMagicLive;
}

void corvexMsg_releaseSpares()
{
    freeList(tPool.mHead);
    tPool.mHead = nullptr;
    tPool.mCount = 0;
    SharedPool& shared = sharedPool();
    corvexClientMsg* spares = nullptr;
    {
        std::lock_guard<std::mutex> guard(shared.mLock);
        spares = shared.mBatches;
        shared.mBatches = nullptr;
        shared.mCount = 0;
    }
    freeBatches(spares);
}
