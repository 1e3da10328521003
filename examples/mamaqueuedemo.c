/*
 * mamaqueuedemo: loads the "corvex" middleware, pushes events through an
 * event queue from two producer threads while a third thread dispatches it,
 * then runs the default queue with mama_start and stops it from another
 * thread. Exits 0 when every event was dispatched exactly once.
 *
 *   mamaqueuedemo [-m middleware] [-n eventsPerProducer]
 */
#include <mama/mama.h>

#include <pthread.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "demoSupport.h"

#define PRODUCERS 2

static mamaQueue gQueue = NULL;
static long gPerProducer = 100000;
static long gDispatched = 0;
static pthread_mutex_t gCountLock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t gCountDone = PTHREAD_COND_INITIALIZER;

static void MAMACALLTYPE onEvent(mamaQueue queue, void* closure)
{
    (void)queue;
    (void)closure;
    pthread_mutex_lock(&gCountLock);
    if (++gDispatched == PRODUCERS * gPerProducer)
        pthread_cond_signal(&gCountDone);
    pthread_mutex_unlock(&gCountLock);
}

static void* produce(void* arg)
{
    long i;
    (void)arg;
    for (i = 0; i < gPerProducer; ++i)
    {
        mama_status status;
        /* The queue may refuse while it is full: retry until the
         * dispatcher has made room. */
        while ((status = mamaQueue_enqueueEvent(gQueue, onEvent, NULL)) != MAMA_STATUS_OK)
        {
            if (status != MAMA_STATUS_QUEUE_FULL && status != MAMA_STATUS_PLATFORM)
                check(status, "mamaQueue_enqueueEvent");
            usleep(100);
        }
    }
    return NULL;
}

static void* dispatch(void* arg)
{
    (void)arg;
    mamaQueue_dispatch(gQueue);
    return NULL;
}

static void MAMACALLTYPE onDefaultQueueEvent(mamaQueue queue, void* closure)
{
    (void)queue;
    atomic_store((atomic_int*)closure, 1);
}

static void* stopDefaultQueue(void* arg)
{
    mamaBridge bridge = (mamaBridge)arg;
    mamaQueue defaultQueue = NULL;
    atomic_int ran = 0;
    check(mama_getDefaultEventQueue(bridge, &defaultQueue), "mama_getDefaultEventQueue");
    /* One event through the default queue proves mama_start dispatches it. */
    check(mamaQueue_enqueueEvent(defaultQueue, onDefaultQueueEvent, &ran),
          "enqueue on default queue");
    while (!atomic_load(&ran))
        usleep(1000);
    check(mama_stop(bridge), "mama_stop");
    return NULL;
}

int main(int argc, char** argv)
{
    const char* middleware = "corvex";
    mamaBridge bridge = NULL;
    pthread_t producers[PRODUCERS];
    pthread_t dispatcher;
    pthread_t stopper;
    int opt;
    int i;

    while ((opt = getopt(argc, argv, "m:n:")) != -1)
    {
        if (opt == 'm')
            middleware = optarg;
        else if (opt == 'n')
            gPerProducer = atol(optarg);
        else
        {
            fprintf(stderr, "usage: %s [-m middleware] [-n eventsPerProducer]\n", argv[0]);
            return 2;
        }
    }
    if (gPerProducer <= 0)
        gPerProducer = 1;

    check(mama_loadBridge(&bridge, middleware), "mama_loadBridge");
    check(mama_open(), "mama_open");
    printf("%s\n", mama_getVersion(bridge));

    check(mamaQueue_create(&gQueue, bridge), "mamaQueue_create");
    check(mamaQueue_setQueueName(gQueue, "DEMO_QUEUE"), "mamaQueue_setQueueName");
    pthread_create(&dispatcher, NULL, dispatch, NULL);
    for (i = 0; i < PRODUCERS; ++i)
        pthread_create(&producers[i], NULL, produce, NULL);
    for (i = 0; i < PRODUCERS; ++i)
        pthread_join(producers[i], NULL);

    pthread_mutex_lock(&gCountLock);
    while (gDispatched < PRODUCERS * gPerProducer)
        pthread_cond_wait(&gCountDone, &gCountLock);
    pthread_mutex_unlock(&gCountLock);

    check(mamaQueue_stopDispatch(gQueue), "mamaQueue_stopDispatch");
    pthread_join(dispatcher, NULL);
    check(mamaQueue_destroy(gQueue), "mamaQueue_destroy");
    printf("dispatched %ld events from %d producers\n", gDispatched, PRODUCERS);

    pthread_create(&stopper, NULL, stopDefaultQueue, bridge);
    check(mama_start(bridge), "mama_start");
    pthread_join(stopper, NULL);
    printf("default queue started and stopped\n");

    check(mama_close(), "mama_close");
    return gDispatched == PRODUCERS * gPerProducer ? 0 : 1;
}
