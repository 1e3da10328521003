/* Event queues: the places where callbacks are dispatched, and dispatcher threads. */
#ifndef MamaQueueH__
#define MamaQueueH__

#include "mama/types.h"

#if defined(__cplusplus)
extern "C" {
#endif

typedef void (MAMACALLTYPE *mamaQueueEventCB) (mamaQueue queue, void* closure);
typedef void (MAMACALLTYPE *mamaQueueEnqueueCB) (mamaQueue queue, void* closure);
typedef void (MAMACALLTYPE *mamaQueueHighWatermarkExceededCb) (mamaQueue queue, size_t size, void* closure);
typedef void (MAMACALLTYPE *mamaQueueLowWatermarkCb) (mamaQueue queue, size_t size, void* closure);

typedef struct mamaQueueMonitorCallbacks_
{
    mamaQueueHighWatermarkExceededCb onQueueHighWatermarkExceeded;
    mamaQueueLowWatermarkCb          onQueueLowWatermark;
} mamaQueueMonitorCallbacks;

mama_status mamaQueue_create (mamaQueue* queue, mamaBridge bridgeImpl);
mama_status mamaQueue_create_usingNative (mamaQueue* queue, mamaBridge bridgeImpl, void* nativeQueue);
mama_status mamaQueue_destroy (mamaQueue queue);
mama_status mamaQueue_destroyWait (mamaQueue queue);
mama_status mamaQueue_destroyTimedWait (mamaQueue queue, long timeout);

mama_status mamaQueue_setHighWatermark (mamaQueue queue, size_t highWatermark);
mama_status mamaQueue_getHighWatermark (mamaQueue queue, size_t* highWatermark);
mama_status mamaQueue_setLowWatermark (mamaQueue queue, size_t lowWatermark);
mama_status mamaQueue_getLowWatermark (mamaQueue queue, size_t* lowWatermark);
mama_status mamaQueue_setQueueMonitorCallbacks (mamaQueue queue,
                                                mamaQueueMonitorCallbacks* queueMonitorCallbacks,
                                                void* closure);
mama_status mamaQueue_getEventCount (mamaQueue queue, size_t* count);

mama_status mamaQueue_setQueueName (mamaQueue queue, const char* name);
mama_status mamaQueue_getQueueName (mamaQueue queue, const char** name);
mama_status mamaQueue_getQueueBridgeName (mamaQueue queue, const char** name);

mama_status mamaQueue_dispatch (mamaQueue queue);
mama_status mamaQueue_timedDispatch (mamaQueue queue, uint64_t timeout);
mama_status mamaQueue_dispatchEvent (mamaQueue queue);
mama_status mamaQueue_stopDispatch (mamaQueue queue);
mama_status mamaQueue_enqueueEvent (mamaQueue queue, mamaQueueEventCB callback, void* closure);

mama_status mamaQueue_setEnqueueCallback (mamaQueue queue, mamaQueueEnqueueCB callback, void* closure);
mama_status mamaQueue_removeEnqueueCallback (mamaQueue queue);

mama_status mamaQueue_getNativeHandle (mamaQueue queue, void** nativeHandle);
mama_status mamaQueue_setClosure (mamaQueue queue, void* closure);
mama_status mamaQueue_getClosure (mamaQueue queue, void** closure);

/* A host thread that dispatches one queue until destroyed; one per queue. */
mama_status mamaDispatcher_create (mamaDispatcher* result, mamaQueue queue);
mama_status mamaDispatcher_getQueue (mamaDispatcher dispatcher, mamaQueue* result);
mama_status mamaDispatcher_destroy (mamaDispatcher dispatcher);

#if defined(__cplusplus)
}
#endif

#endif
