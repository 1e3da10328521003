/* What the demo programs share: stopping at the first MAMA call that fails,
 * a monotonic clock, and waits with a bound on a lock and condition pair
 * (each program keeps its own pairs). */
#ifndef CORVEX_DEMO_SUPPORT_H
#define CORVEX_DEMO_SUPPORT_H

#include <mama/mama.h>

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static inline void check(mama_status status, const char* what)
{
    if (status != MAMA_STATUS_OK)
    {
        fprintf(stderr, "%s failed: %s\n", what, mamaStatus_stringForStatus(status));
        exit(1);
    }
}

static inline double now(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

/* With `lock` held: waits on `changed` for at most `milliseconds`; the
 * caller looks again at what it waits for, woken or not. */
static inline void waitAtMost(pthread_cond_t* changed, pthread_mutex_t* lock, long milliseconds)
{
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    ts.tv_nsec += milliseconds * 1000 * 1000;
    ts.tv_sec += ts.tv_nsec / 1000000000L;
    ts.tv_nsec %= 1000000000L;
    pthread_cond_timedwait(changed, lock, &ts);
}

/* With `lock` held: waits up to `seconds` for `done` to hold, looking again
 * at least every 50 ms. */
static inline int awaitLocked(pthread_mutex_t* lock, pthread_cond_t* changed, int (*done)(void),
                              double seconds)
{
    double deadline = now() + seconds;
    while (!done() && now() < deadline)
        waitAtMost(changed, lock, 50);
    return done();
}

static inline int await(pthread_mutex_t* lock, pthread_cond_t* changed, int (*done)(void),
                        double seconds)
{
    int result;
    pthread_mutex_lock(lock);
    result = awaitLocked(lock, changed, done, seconds);
    pthread_mutex_unlock(lock);
    return result;
}

#endif
