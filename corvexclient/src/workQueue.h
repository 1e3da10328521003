/* The context's queue: many senders, one context thread. Senders link nodes
 * with one atomic exchange and never take a lock; received messages carry
 * their node inside them, so delivering a message allocates nothing. */
#ifndef CORVEXCLIENT_WORK_QUEUE_H
#define CORVEXCLIENT_WORK_QUEUE_H

#include <atomic>

struct corvexClientSession;

struct CorvexWorkNode
{
    std::atomic<CorvexWorkNode*> mNext;
    corvexClientSession* mSession;
    /* Runs the work and disposes of the node. */
    void (*mRun)(CorvexWorkNode* node);
    /* Posted by a publishing thread of this process, not a network thread. */
    bool mFromSender;
};

struct CorvexWorkQueue
{
    std::atomic<CorvexWorkNode*> mBack{&mStub}; /* senders' end */
    CorvexWorkNode* mFront = &mStub;            /* the context thread's end */
    CorvexWorkNode mStub{};
};

/* Any thread. */
inline void corvexWorkQueue_push(CorvexWorkQueue& queue, CorvexWorkNode* node)
{
    node->mNext.store(nullptr, std::memory_order_relaxed);
    CorvexWorkNode* previous = queue.mBack.exchange(node, std::memory_order_acq_rel);
    previous->mNext.store(node, std::memory_order_release);
}

/* Context thread only. NULL when empty or when a sender is between its two
 * steps (the caller's count of queued nodes tells the two apart). */
inline CorvexWorkNode* corvexWorkQueue_pop(CorvexWorkQueue& queue)
{
    CorvexWorkNode* front = queue.mFront;
    CorvexWorkNode* next = front->mNext.load(std::memory_order_acquire);
    if (front == &queue.mStub)
    {
        if (!next)
            return nullptr;
        queue.mFront = next;
        front = next;
        next = next->mNext.load(std::memory_order_acquire);
    }
    if (next)
    {
        queue.mFront = next;
        return front;
    }
    if (front != queue.mBack.load(std::memory_order_acquire))
        return nullptr;
    corvexWorkQueue_push(queue, &queue.mStub);
    next = front->mNext.load(std::memory_order_acquire);
    if (next)
    {
        queue.mFront = next;
        return front;
    }
    return nullptr;
}

#endif
