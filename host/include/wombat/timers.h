/* Timer heap: one-shot timers fired on the heap's own dispatch thread. */
#ifndef WOMBAT_TIMERS_H
#define WOMBAT_TIMERS_H

#include <sys/time.h>

#include "wombat/port.h"

#if defined(__cplusplus)
extern "C" {
#endif

typedef void* timerHeap;
typedef void* timerElement;

/* Runs on the heap thread with the heap lock held. The lock is recursive, so
 * the callback may create, reset or destroy timers, its own included. */
typedef void (*timerFireCb) (timerElement timer, void* mClosure);

/* Results are 0 on success and -1 on failure unless stated otherwise. */
COMMONExpDLL int createTimerHeap (timerHeap* heap);
/* pthread_create's result; -1 if heap is NULL. */
COMMONExpDLL int startDispatchTimerHeap (timerHeap heap);
/* The dispatch thread; INVALID_THREAD if heap is NULL. */
COMMONExpDLL wthread_t timerHeapGetTid (timerHeap heap);
/* Stops and joins the dispatch thread and frees the heap. Pending timer
 * elements are not freed. Do not join the thread again afterwards. */
COMMONExpDLL int destroyHeap (timerHeap heap);

/* Arms a one-shot timer `timeout` from now; *timer is set before arming. */
COMMONExpDLL int createTimer (timerElement* timer, timerHeap heap, timerFireCb cb,
                              struct timeval* timeout, void* closure);
/* Cancels the timer if pending and frees it. */
COMMONExpDLL int destroyTimer (timerHeap heap, timerElement timer);
/* Re-arms the timer at now + timeout, whether or not it already fired. */
COMMONExpDLL int resetTimer (timerHeap heap, timerElement timer, struct timeval* timeout);

COMMONExpDLL int lockTimerHeap (timerHeap heap);
COMMONExpDLL int unlockTimerHeap (timerHeap heap);

#if defined(__cplusplus)
}
#endif

#endif /* WOMBAT_TIMERS_H */
