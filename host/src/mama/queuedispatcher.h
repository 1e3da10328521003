/* Link between a queue and the one dispatcher thread it may have. */
#ifndef MAMA_QUEUE_DISPATCHER_H
#define MAMA_QUEUE_DISPATCHER_H

#include "mama/queue.h"

#if defined(__cplusplus)
extern "C"
{
#endif

    /* MAMA_STATUS_TOO_MANY_DISPATCHERS when the queue already has one. */
    mama_status mamaQueueImpl_attachDispatcher(mamaQueue queue, mamaDispatcher dispatcher);
    void mamaQueueImpl_detachDispatcher(mamaQueue queue, mamaDispatcher dispatcher);

#if defined(__cplusplus)
}
#endif

#endif
