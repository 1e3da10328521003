/* The bridge's registry of transports: a singly linked list whose nodes are
 * the CorvexTransportBridge objects themselves (linked through mNext), with a
 * sentinel end node and a pool that keeps released nodes for reuse, so that
 * repeated transport create/destroy does not allocate. All operations run
 * under the bridge's mTransportListLock. */
#ifndef CORVEX_BRIDGE_TRANSPORTLIST_H
#define CORVEX_BRIDGE_TRANSPORTLIST_H

#include <stddef.h>

struct CorvexTransportBridge;

struct CorvexNodePool
{
    size_t mHandedOut;
    size_t mKeptCount;
    size_t mKeptCapacity;
    CorvexTransportBridge** mKept;
};

struct CorvexTransportList
{
    CorvexTransportBridge* mHead;
    CorvexTransportBridge* mSentinel;
    CorvexNodePool mPool;
    size_t mCount;
};

/* NULL when memory is short. */
CorvexTransportList* corvexTransportList_create(void);
/* Frees every linked node, the sentinel and all kept nodes; transports still
 * linked are released as plain memory, without any session clean-up. */
void corvexTransportList_destroy(CorvexTransportList* list);
/* A zero-filled node linked at the front; NULL when memory is short. */
CorvexTransportBridge* corvexTransportList_pushFront(CorvexTransportList* list);
/* The live transport (session set) named exactly `name`, or NULL. */
CorvexTransportBridge* corvexTransportList_findByName(CorvexTransportList* list, const char* name);
/* Unlinks the head node back into the pool; -1 when the list is empty. */
int corvexTransportList_popFront(CorvexTransportList* list);
/* Unlinks `node` wherever it is back into the pool; -1 when it is not linked. */
int corvexTransportList_remove(CorvexTransportList* list, CorvexTransportBridge* node);

#endif /* CORVEX_BRIDGE_TRANSPORTLIST_H */
