/* Unbounded-by-default FIFO event queue with blocking dispatch. */
#ifndef WOMBAT_QUEUE_H
#define WOMBAT_QUEUE_H

#include <limits.h>
#include <stdint.h>

#include "wombat/port.h"

#if defined(__cplusplus)
extern "C" {
#endif

typedef void* wombatQueue;

/* Run by dispatch as cb (data, closure) on the dispatching thread. */
typedef void (MAMACALLTYPE *wombatQueueCb) (void* data, void* closure);

/* Run by flush for every pending item before it is discarded. */
typedef void (*wombatQueueFlushCb) (wombatQueue queue, void* data,
                                    void* itemClosure, void* closure);

typedef enum
{
    WOMBAT_QUEUE_OK          = 1,
    WOMBAT_QUEUE_FULL        = 2,
    WOMBAT_QUEUE_NOMEM       = 3,
    WOMBAT_QUEUE_SEM_ERR     = 4,
    WOMBAT_QUEUE_MTX_ERR     = 5,
    WOMBAT_QUEUE_INVALID_ARG = 6,
    WOMBAT_QUEUE_WOULD_BLOCK = 7,
    WOMBAT_QUEUE_END         = 8,
    WOMBAT_QUEUE_TIMEOUT     = 9
} wombatQueueStatus;

#define WOMBAT_QUEUE_CHUNK_SIZE 64
#define WOMBAT_QUEUE_MAX_SIZE   2147483647

/* Allocation and set-up. 0 for any create argument selects the default
 * (max WOMBAT_QUEUE_MAX_SIZE, initial and grow-by WOMBAT_QUEUE_CHUNK_SIZE). */
COMMONExpDLL wombatQueueStatus wombatQueue_allocate (wombatQueue* result);
COMMONExpDLL wombatQueueStatus wombatQueue_create (wombatQueue queue, uint32_t maxSize,
                                                   uint32_t initialSize, uint32_t growBySize);
COMMONExpDLL wombatQueueStatus wombatQueue_setMaxSize (wombatQueue queue, unsigned int value);
COMMONExpDLL wombatQueueStatus wombatQueue_getMaxSize (wombatQueue queue, unsigned int* value);

/* Discards pending items without running them. No thread may be dispatching
 * (refused with WOMBAT_QUEUE_SEM_ERR while one is waiting). */
COMMONExpDLL wombatQueueStatus wombatQueue_destroy (wombatQueue queue);
/* Frees a queue that was allocated but whose create failed. */
COMMONExpDLL wombatQueueStatus wombatQueue_deallocate (wombatQueue queue);

/* Never blocks: WOMBAT_QUEUE_FULL when no further chunk may be added. */
COMMONExpDLL wombatQueueStatus wombatQueue_enqueue (wombatQueue queue, wombatQueueCb cb,
                                                    void* data, void* closure);

/* Blocks until an item or an unblock arrives. After an unblock the out
 * pointers are left untouched. */
COMMONExpDLL wombatQueueStatus wombatQueue_dispatch (wombatQueue queue, void** data,
                                                     void** closure);
/* As dispatch, waiting at most timeout milliseconds (WOMBAT_QUEUE_TIMEOUT). */
COMMONExpDLL wombatQueueStatus wombatQueue_timedDispatch (wombatQueue queue, void** data,
                                                          void** closure, uint64_t timeout);
/* Non-blocking dispatch: WOMBAT_QUEUE_WOULD_BLOCK when nothing is pending. */
COMMONExpDLL wombatQueueStatus wombatQueue_poll (wombatQueue queue, void** data,
                                                 void** closure);
/* Releases one dispatcher without dispatching anything. */
COMMONExpDLL wombatQueueStatus wombatQueue_unblock (wombatQueue queue);
/* Hands every pending item to cb and removes it without running it. */
COMMONExpDLL wombatQueueStatus wombatQueue_flush (wombatQueue queue, wombatQueueFlushCb cb,
                                                  void* closure);
/* Pending items, counting a pending unblock. */
COMMONExpDLL wombatQueueStatus wombatQueue_getSize (wombatQueue queue, int* size);

/* One shared iterator per queue. begin/end position it before the first or
 * after the last item; next/prev move it and report the item there
 * (WOMBAT_QUEUE_END when they run off the list); cur reports the current
 * item; remove takes the current item out (the iterator steps back); insert
 * and replace act relative to the current item. */
COMMONExpDLL wombatQueueStatus wombatQueue_next (wombatQueue queue, void** data, void** closure);
COMMONExpDLL wombatQueueStatus wombatQueue_prev (wombatQueue queue, void** data, void** closure);
COMMONExpDLL wombatQueueStatus wombatQueue_cur (wombatQueue queue, void** data, void** closure);
COMMONExpDLL wombatQueueStatus wombatQueue_remove (wombatQueue queue, void** data, void** closure);
COMMONExpDLL wombatQueueStatus wombatQueue_insertAfter (wombatQueue queue, wombatQueueCb cb,
                                                        void* data, void* closure);
COMMONExpDLL wombatQueueStatus wombatQueue_insertBefore (wombatQueue queue, wombatQueueCb cb,
                                                         void* data, void* closure);
COMMONExpDLL wombatQueueStatus wombatQueue_replace (wombatQueue queue, wombatQueueCb cb,
                                                    void* data, void* closure);
COMMONExpDLL wombatQueueStatus wombatQueue_begin (wombatQueue queue);
COMMONExpDLL wombatQueueStatus wombatQueue_end (wombatQueue queue);

#if defined(__cplusplus)
}
#endif

#endif /* WOMBAT_QUEUE_H */
