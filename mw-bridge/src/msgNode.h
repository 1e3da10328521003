/* Message nodes: the records that carry a received message from the vendor
 * context thread to the thread that dispatches its subscription's queue.
 * They come from a pool that needs neither a lock nor the heap once warm. */
#ifndef CORVEX_BRIDGE_MSG_NODE_H
#define CORVEX_BRIDGE_MSG_NODE_H

#include <stdint.h>

#include <mama/mama.h>

#include "corvexClient.h"

struct CorvexMsgNode;
struct CorvexSubscription;

/* What the first node of a batch records for the whole batch: consecutive
 * messages for one queue that one queue event delivers (queue.h). */
struct CorvexMsgBatch
{
    CorvexMsgNode* mLast;
    uint32_t mLength;
    /* Runs each message of the batch, in order, on the dispatch thread. */
    mamaQueueEnqueueCB mCallback;
    /* The queue's batches whose event has not started yet, oldest first. */
    CorvexMsgNode* mOlder;
    CorvexMsgNode* mNewer;
};

/* One received message on its way to its subscription's queue; taken on the
 * vendor thread and given back by the dispatch callback (or by the producer
 * when the queue refuses it, or by the queue's destroy). */
struct CorvexMsgNode
{
    corvexClient_msg_t mMsg;
    CorvexSubscription* mSubscription;
    /* The next message of the same batch. */
    CorvexMsgNode* mNext;
    /* Meaningful in the first node of a batch only. */
    CorvexMsgBatch mBatch;
};

/* A cleared node; NULL when memory is short. */
CorvexMsgNode* corvexMsgNode_take();
/* Back to the pool; the node's message is left alone. */
void corvexMsgNode_give(CorvexMsgNode* node);
/* The message back to the vendor, the node to the pool. */
void corvexMsgNode_release(CorvexMsgNode* node);

#endif /* CORVEX_BRIDGE_MSG_NODE_H */
