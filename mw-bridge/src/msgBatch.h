/* Received messages waiting on a queue, and the batches that deliver them.
 *
 * The vendor context thread writes each message it queues into the queue's
 * next free node: nodes lie in blocks of CORVEX_MSG_BLOCK_NODES that the
 * queue keeps for reuse, so queueing a message costs neither the heap nor
 * an atomic operation that another thread contends for, and the dispatch
 * thread reads the nodes one after the other. Consecutive messages form a
 * batch, which one host event delivers in order. A batch takes messages
 * for as long as it is open: from its first message until the dispatch
 * thread running it has caught up with them, until any other event is
 * queued behind it, or until it is full; so while the dispatch thread
 * keeps up, a stream of messages needs one host event, and the thread is
 * woken only when it had nothing left to do. */
#ifndef CORVEX_BRIDGE_MSG_BATCH_H
#define CORVEX_BRIDGE_MSG_BATCH_H

#include <stdint.h>

#include <atomic>
#include <vector>

#include <mama/mama.h>
#include <wombat/queue.h>

#include "corvexClient.h"
#include "spinLock.h"

struct CorvexSubscription;

/* One received message on its way to its subscription's queue. */
struct CorvexMsgNode
{
    corvexClient_msg_t mMsg;
    CorvexSubscription* mSubscription;
};

const uint32_t CORVEX_MSG_BLOCK_NODES = 256;
/* Messages one batch delivers at most, so that one event (a dispatchEvent
 * call) hands over a bounded number of them. */
const uint32_t CORVEX_MSG_BATCH_MAX = 256;

struct CorvexMsgBlock
{
    CorvexMsgNode mNodes[CORVEX_MSG_BLOCK_NODES];
    /* The block written after this one, set before this block's last node
     * is published; the link of the free list while the block is unused. */
    CorvexMsgBlock* mNext;
    /* Nodes of this block already delivered (or given up); the block is
     * reused once all of them are. */
    std::atomic<uint32_t> mDone;
};

struct CorvexMsgBatch
{
    mamaQueueEnqueueCB mCallback;
    /* Where its first message lies. */
    CorvexMsgBlock* mBlock;
    uint32_t mIndex;
    /* Messages in the batch, published with release: the dispatch thread
     * reads the nodes up to it. Grows while the batch is open. */
    std::atomic<uint32_t> mLength;
    /* Its event has begun. */
    bool mStarted;
    /* The batches whose event has not begun, oldest first; the free list's
     * link while unused. */
    CorvexMsgBatch* mOlder;
    CorvexMsgBatch* mNewer;
};

/* A queue's received messages. mLock guards everything but the atomics; a
 * leaf lock, but for the host queue's own, taken by whoever queues a host
 * event on the queue, so that a message never overtakes an event queued
 * before it. It is taken for every message, by the vendor thread, and by the
 * dispatch thread whenever it catches up: a spin lock. */
struct CorvexMsgBatches
{
    CorvexSpinLock mLock;
    /* Where the next message is written. */
    CorvexMsgBlock* mTail;
    uint32_t mTailIndex;
    CorvexMsgBatch* mOldest;
    CorvexMsgBatch* mNewest;
    /* The newest batch while it still takes messages. */
    CorvexMsgBatch* mOpen;
    CorvexMsgBlock* mFreeBlocks;
    CorvexMsgBatch* mFreeBatches;
    /* Every block the queue owns, used or not. */
    std::vector<CorvexMsgBlock*> mBlocks;
    /* Batches whose event has not begun (read without the lock). */
    std::atomic<size_t> mWaiting;
    /* Messages queued, and messages whose delivery has begun (or that were
     * given up), each written by one side and read by the other. Beside its
     * own count each side keeps the last value it read of the other's:
     * both only grow, so the copy bounds the number pending without
     * fetching the line the other side writes for every message. */
    alignas(64) std::atomic<uint64_t> mQueued;
    std::atomic<uint64_t> mDeliveredSeen;
    alignas(64) std::atomic<uint64_t> mDelivered;
    std::atomic<uint64_t> mQueuedSeen;
};

/* The message back to the vendor; the node is left as it is. */
void corvexMsgNode_release(CorvexMsgNode* node);

/* Messages queued whose delivery has not begun. */
inline uint64_t corvexMsgBatches_pending(const CorvexMsgBatches* batches)
{
    /* Delivered first: it never passes what was queued before it was read. */
    uint64_t delivered = batches->mDelivered.load(std::memory_order_acquire);
    return batches->mQueued.load(std::memory_order_acquire) - delivered;
}

/* The events waiting on the host queue that carries the batches, other
 * than the batches' own: its events less those of batches not begun. False
 * when the host queue cannot tell its size. */
inline bool corvexMsgBatches_readOtherEvents(const CorvexMsgBatches* batches, wombatQueue host,
                                             size_t* others)
{
    int size = 0;
    if (wombatQueue_getSize(host, &size) != WOMBAT_QUEUE_OK || size < 0)
    {
        return false;
    }
    size_t waiting = batches->mWaiting.load(std::memory_order_acquire);
    *others = (size_t)size > waiting ? (size_t)size - waiting : 0;
    return true;
}
/* Events waiting on that host queue, each received message counting as one:
 * the other events plus the messages not yet delivered. The figures are read
 * one after the other, so while an event is being queued or taken the sum
 * may be off by one. False when the host queue cannot tell its size. */
inline bool corvexMsgBatches_readEventCount(const CorvexMsgBatches* batches, wombatQueue host,
                                            size_t* count)
{
    size_t others = 0;
    if (!corvexMsgBatches_readOtherEvents(batches, host, &others))
    {
        return false;
    }
    *count = others + (size_t)corvexMsgBatches_pending(batches);
    return true;
}

/* The queueing side: at most the messages pending, from its copy of the
 * delivered count; noteDelivered refreshes the copy. UINT64_MAX (no bound)
 * when a copy another thread took is newer than the queued count this
 * thread sees. */
inline uint64_t corvexMsgBatches_pendingAtMost(const CorvexMsgBatches* batches)
{
    uint64_t queued = batches->mQueued.load(std::memory_order_acquire);
    uint64_t delivered = batches->mDeliveredSeen.load(std::memory_order_relaxed);
    return queued >= delivered ? queued - delivered : UINT64_MAX;
}
inline void corvexMsgBatches_noteDelivered(CorvexMsgBatches* batches)
{
    batches->mDeliveredSeen.store(batches->mDelivered.load(std::memory_order_acquire),
                                  std::memory_order_relaxed);
}

/* The delivering side: at least the messages pending, from its copy of the
 * queued count; noteQueued refreshes the copy. */
inline uint64_t corvexMsgBatches_pendingAtLeast(const CorvexMsgBatches* batches)
{
    uint64_t delivered = batches->mDelivered.load(std::memory_order_acquire);
    uint64_t queued = batches->mQueuedSeen.load(std::memory_order_relaxed);
    return queued > delivered ? queued - delivered : 0;
}
inline void corvexMsgBatches_noteQueued(CorvexMsgBatches* batches)
{
    batches->mQueuedSeen.store(batches->mQueued.load(std::memory_order_acquire),
                               std::memory_order_relaxed);
}

/* Caller holds mLock. The open batch that takes a message for `callback`,
 * or NULL when the message needs a batch of its own. */
CorvexMsgBatch* corvexMsgBatches_openFor(CorvexMsgBatches* batches, mamaQueueEnqueueCB callback);

/* Caller holds mLock. A new, empty batch at the end of the queue's batches;
 * `open` when later messages may join it. NULL when memory is short. */
CorvexMsgBatch* corvexMsgBatches_start(CorvexMsgBatches* batches, mamaQueueEnqueueCB callback,
                                       bool open);

/* Caller holds mLock. Gives up a batch just started whose host event could
 * not be queued. */
void corvexMsgBatches_abandon(CorvexMsgBatches* batches, CorvexMsgBatch* batch);

/* Caller holds mLock. Adds a message to the batch (the newest); false when
 * memory is short, the message is then the caller's again. */
bool corvexMsgBatches_add(CorvexMsgBatches* batches, CorvexMsgBatch* batch, corvexClient_msg_t msg,
                          CorvexSubscription* subscription);

/* Caller holds mLock. No message joins the open batch any more. */
inline void corvexMsgBatches_close(CorvexMsgBatches* batches)
{
    batches->mOpen = NULL;
}

/* The batch's host event: delivers its messages in order, calling the
 * batch's callback with (parent, node) for each, and `before(queue)`
 * before each message after the first; returns once it has caught up with
 * a batch that no longer takes messages. */
void corvexMsgBatches_run(CorvexMsgBatches* batches, CorvexMsgBatch* batch, mamaQueue parent,
                          void (*before)(void* queue), void* queue);

/* The messages of batches whose event never ran go back to the vendor, with
 * no callback; then every block and batch is freed. For the queue's
 * destroy, once nothing dispatches it. */
void corvexMsgBatches_destroy(CorvexMsgBatches* batches);

#endif /* CORVEX_BRIDGE_MSG_BATCH_H */
