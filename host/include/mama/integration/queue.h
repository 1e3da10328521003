/* Queue services used by bridges while dispatching. */
#ifndef MamaIntegrationQueueH__
#define MamaIntegrationQueueH__

#if defined(OPENMAMA_INTEGRATION)

#include "mama/mama.h"
#include "mama/integration/types.h"

#if defined(__cplusplus)
extern "C" {
#endif

/* 1 while the application wants the queue dispatched (after dispatch or
 * timedDispatch, until stopDispatch or destroy). */
int mamaQueueImpl_isDispatching (mamaQueue queue);
mamaBridge mamaQueueImpl_getBridgeImpl (mamaQueue queue);
/* The queue's reusable message for incoming data, created on first use. */
mamaMsg mamaQueueImpl_getMsg (mamaQueue queue);
/* Forgets the reusable message (the application now owns it); the next
 * mamaQueueImpl_getMsg makes a fresh one. */
mama_status mamaQueueImpl_detachMsg (mamaQueue queue, mamaMsg msg);
mama_status mamaQueueImpl_highWatermarkExceeded (mamaQueue queue, size_t size);
mama_status mamaQueueImpl_lowWatermarkExceeded (mamaQueue queue, size_t size);

/* Objects created on a queue (subscriptions, inboxes, timers) hold it open:
 * mamaQueue_destroy answers MAMA_STATUS_QUEUE_OPEN_OBJECTS until released. */
mamaQueueLockHandle mamaQueue_incrementObjectCount (mamaQueue queue, void* owner);
void mamaQueue_decrementObjectCount (mamaQueueLockHandle* handle, mamaQueue queue);

#if defined(__cplusplus)
}
#endif

#endif /* OPENMAMA_INTEGRATION */

#endif
