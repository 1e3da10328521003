#define CORVEX_LOG_MODULE "transport"

#include "transportList.h"

#include <stdlib.h>
#include <string.h>

#include "logging.h"
#include "transport.h"

namespace
{
const size_t POOL_INITIAL_CAPACITY = 16;

CorvexTransportBridge* pool_take(CorvexNodePool* pool)
{
    CorvexTransportBridge* node;
    if (pool->mKeptCount > 0)
    {
        node = pool->mKept[--pool->mKeptCount];
        memset((void*)node, 0, sizeof(*node));
    }
    else
    {
        node = (CorvexTransportBridge*)calloc(1, sizeof(CorvexTransportBridge));
        if (node == NULL)
        {
            return NULL;
        }
    }
    pool->mHandedOut++;
    return node;
}

void pool_give(CorvexNodePool* pool, CorvexTransportBridge* node)
{
    pool->mHandedOut--;
    if (pool->mKeptCount == pool->mKeptCapacity)
    {
        size_t capacity =
            pool->mKeptCapacity == 0 ? POOL_INITIAL_CAPACITY : pool->mKeptCapacity * 2;
        CorvexTransportBridge** kept =
            (CorvexTransportBridge**)realloc(pool->mKept, capacity * sizeof(*kept));
        if (kept == NULL)
        {
            free(node);
            return;
        }
        pool->mKept = kept;
        pool->mKeptCapacity = capacity;
    }
    pool->mKept[pool->mKeptCount++] = node;
}

/* Unlinks `node`, whose predecessor is `previous` (NULL for the head). */
void unlink(CorvexTransportList* list, CorvexTransportBridge* previous, CorvexTransportBridge* node)
{
    if (previous == NULL)
    {
        list->mHead = node->mNext;
    }
    else
    {
        previous->mNext = node->mNext;
    }
    list->mCount--;
    pool_give(&list->mPool, node);
}
} // namespace

CorvexTransportList* corvexTransportList_create(void)
{
    CorvexTransportList* list = (CorvexTransportList*)calloc(1, sizeof(CorvexTransportList));
    if (list == NULL)
    {
        return NULL;
    }
    list->mSentinel = pool_take(&list->mPool);
    if (list->mSentinel == NULL)
    {
        free(list);
        return NULL;
    }
    list->mHead = list->mSentinel;
    return list;
}

void corvexTransportList_destroy(CorvexTransportList* list)
{
    if (list == NULL)
    {
        return;
    }
    CorvexTransportBridge* node = list->mHead;
    while (node != list->mSentinel)
    {
        CorvexTransportBridge* next = node->mNext;
        free(node);
        node = next;
    }
    free(list->mSentinel);
    for (size_t i = 0; i < list->mPool.mKeptCount; i++)
    {
        free(list->mPool.mKept[i]);
    }
    free(list->mPool.mKept);
    free(list);
}

CorvexTransportBridge* corvexTransportList_pushFront(CorvexTransportList* list)
{
    if (list == NULL)
    {
        return NULL;
    }
    CorvexTransportBridge* node = pool_take(&list->mPool);
    if (node == NULL)
    {
        return NULL;
    }
    node->mNext = list->mHead;
    list->mHead = node;
    list->mCount++;
    return node;
}

CorvexTransportBridge* corvexTransportList_findByName(CorvexTransportList* list, const char* name)
{
    if (list == NULL || name == NULL)
    {
        return NULL;
    }
    for (CorvexTransportBridge* node = list->mHead; node != list->mSentinel; node = node->mNext)
    {
        if (node->mName == NULL)
        {
            CORVEX_LOG(CORVEX_LOG_ERROR, "transport %p exists with null name", (void*)node);
            continue;
        }
        /* A destroyed transport still waiting for its subscriptions has no
         * session and gives its name up at once. */
        if (strcmp(node->mName, name) == 0 && node->mSession != NULL)
        {
            return node;
        }
    }
    return NULL;
}

int corvexTransportList_popFront(CorvexTransportList* list)
{
    if (list == NULL || list->mHead == list->mSentinel)
    {
        return -1;
    }
    unlink(list, NULL, list->mHead);
    return 0;
}

int corvexTransportList_remove(CorvexTransportList* list, CorvexTransportBridge* node)
{
    if (list == NULL || node == NULL || node == list->mSentinel)
    {
        return -1;
    }
    CorvexTransportBridge* previous = NULL;
    for (CorvexTransportBridge* current = list->mHead; current != list->mSentinel;
         previous = current, current = current->mNext)
    {
        if (current == node)
        {
            unlink(list, previous, node);
            return 0;
        }
    }
    return -1;
}
