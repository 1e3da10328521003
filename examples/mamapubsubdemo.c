/*
 * mamapubsubdemo: one process publishes a run of sequenced messages on
 * <source>.<symbol> while a basic subscriber (on the full subject) and a
 * wildcard subscriber (<source>.*) receive them on queues of their own,
 * each dispatched by its own thread. Exits 0 when both subscribers saw
 * every message exactly once, in order, with the right subject.
 *
 *   mamapubsubdemo [-m middleware] [-tport name] [-S source] [-s symbol] [-n count]
 */
#include <mama/mama.h>

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#define SEQ_FIELD "seq"
#define SEQ_FID 10001

typedef struct Receiver
{
    const char* mName;
    char mSubject[256];
    mama_u64_t mExpected; /* next sequence number wanted; 0 = warming up */
    mama_u64_t mReceived;
    mama_u64_t mErrors;
    int mWarm;
    pthread_mutex_t mLock;
    pthread_cond_t mChanged;
} Receiver;

static mama_u64_t gCount = 1000000;

static void check(mama_status status, const char* what)
{
    if (status != MAMA_STATUS_OK)
    {
        fprintf(stderr, "%s failed: %s\n", what, mamaStatus_stringForStatus(status));
        exit(1);
    }
}

static double now(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

/* Sequence 0 marks warm-up messages, sent until both subscriptions are
 * live; the run proper counts from 1. */
static void receive(Receiver* receiver, mamaMsg msg, const char* topic)
{
    mama_u64_t seq = 0;
    pthread_mutex_lock(&receiver->mLock);
    if (mamaMsg_getU64(msg, SEQ_FIELD, SEQ_FID, &seq) != MAMA_STATUS_OK)
    {
        ++receiver->mErrors;
    }
    else if (seq == 0)
    {
        receiver->mWarm = 1;
    }
    else
    {
        if (seq != receiver->mExpected || (topic && strcmp(topic, receiver->mSubject) != 0))
        {
            if (receiver->mErrors++ < 5)
                fprintf(stderr, "%s: got %llu on '%s', wanted %llu on '%s'\n", receiver->mName,
                        (unsigned long long)seq, topic ? topic : "",
                        (unsigned long long)receiver->mExpected, receiver->mSubject);
        }
        receiver->mExpected = seq + 1;
        ++receiver->mReceived;
    }
    pthread_cond_broadcast(&receiver->mChanged);
    pthread_mutex_unlock(&receiver->mLock);
}

static void MAMACALLTYPE onMsg(mamaSubscription sub, mamaMsg msg, void* closure, void* itemClosure)
{
    (void)sub;
    (void)itemClosure;
    receive((Receiver*)closure, msg, NULL);
}

static void MAMACALLTYPE onWildCardMsg(mamaSubscription sub, mamaMsg msg, const char* topic,
                                       void* closure, void* itemClosure)
{
    (void)sub;
    (void)itemClosure;
    receive((Receiver*)closure, msg, topic);
}

static void MAMACALLTYPE onError(mamaSubscription sub, mama_status status, void* platformError,
                                 const char* subject, void* closure)
{
    (void)sub;
    (void)platformError;
    fprintf(stderr, "%s: subscription error %s on '%s'\n", ((Receiver*)closure)->mName,
            mamaStatus_stringForStatus(status), subject ? subject : "");
    exit(1);
}

static void MAMACALLTYPE onCreate(mamaSubscription sub, void* closure)
{
    (void)sub;
    (void)closure;
}

static void MAMACALLTYPE onDestroy(mamaSubscription sub, void* closure)
{
    (void)sub;
    (void)closure;
}

static void initReceiver(Receiver* receiver, const char* name, const char* subject)
{
    memset(receiver, 0, sizeof(*receiver));
    receiver->mName = name;
    snprintf(receiver->mSubject, sizeof(receiver->mSubject), "%s", subject);
    receiver->mExpected = 1;
    pthread_mutex_init(&receiver->mLock, NULL);
    pthread_cond_init(&receiver->mChanged, NULL);
}

static int isWarm(Receiver* receiver)
{
    int warm;
    pthread_mutex_lock(&receiver->mLock);
    warm = receiver->mWarm;
    pthread_mutex_unlock(&receiver->mLock);
    return warm;
}

/* Waits up to `seconds` for the whole run; returns what arrived. */
static mama_u64_t awaitRun(Receiver* receiver, double seconds)
{
    mama_u64_t received;
    double deadline = now() + seconds;
    pthread_mutex_lock(&receiver->mLock);
    while (receiver->mReceived < gCount && now() < deadline)
    {
        struct timespec ts;
        clock_gettime(CLOCK_REALTIME, &ts);
        ts.tv_nsec += 100 * 1000 * 1000;
        if (ts.tv_nsec >= 1000000000L)
        {
            ts.tv_sec += 1;
            ts.tv_nsec -= 1000000000L;
        }
        pthread_cond_timedwait(&receiver->mChanged, &receiver->mLock, &ts);
    }
    received = receiver->mReceived;
    pthread_mutex_unlock(&receiver->mLock);
    return received;
}

int main(int argc, char** argv)
{
    const char* middleware = "corvex";
    const char* tportName = "t1";
    const char* source = "NYSE";
    const char* symbol = "IBM";
    char subject[256];
    char property[512];
    mamaBridge bridge = NULL;
    mamaTransport transport = NULL;
    mamaQueue queues[2] = {NULL, NULL};
    mamaDispatcher dispatchers[2] = {NULL, NULL};
    mamaSubscription basic = NULL;
    mamaSubscription wildcard = NULL;
    mamaPublisher publisher = NULL;
    mamaMsg msg = NULL;
    mamaMsgCallbacks callbacks;
    mamaWildCardMsgCallbacks wildCallbacks;
    Receiver receivers[2];
    mama_u64_t seq;
    double started, elapsed;
    int i;
    int ok = 1;

    for (i = 1; i < argc; ++i)
    {
        if (i + 1 < argc && strcmp(argv[i], "-m") == 0)
            middleware = argv[++i];
        else if (i + 1 < argc && strcmp(argv[i], "-tport") == 0)
            tportName = argv[++i];
        else if (i + 1 < argc && strcmp(argv[i], "-S") == 0)
            source = argv[++i];
        else if (i + 1 < argc && strcmp(argv[i], "-s") == 0)
            symbol = argv[++i];
        else if (i + 1 < argc && strcmp(argv[i], "-n") == 0)
            gCount = strtoull(argv[++i], NULL, 10);
        else
        {
            fprintf(stderr,
                    "usage: %s [-m middleware] [-tport name] [-S source] [-s symbol] [-n count]\n",
                    argv[0]);
            return 2;
        }
    }
    if (gCount == 0)
        gCount = 1;
    snprintf(subject, sizeof(subject), "%s.%s", source, symbol);

    check(mama_loadBridge(&bridge, middleware), "mama_loadBridge");
    /* A corvex transport needs this setting; keep a value from mama.properties. */
    snprintf(property, sizeof(property), "mama.%s.transport.%s.allow_recover_gaps", middleware,
             tportName);
    if (mama_getProperty(property) == NULL)
        check(mama_setProperty(property, "false"), "mama_setProperty");
    check(mama_open(), "mama_open");

    check(mamaTransport_allocate(&transport), "mamaTransport_allocate");
    check(mamaTransport_create(transport, tportName, bridge), "mamaTransport_create");

    initReceiver(&receivers[0], "basic", subject);
    initReceiver(&receivers[1], "wildcard", subject);
    for (i = 0; i < 2; ++i)
    {
        check(mamaQueue_create(&queues[i], bridge), "mamaQueue_create");
        check(mamaDispatcher_create(&dispatchers[i], queues[i]), "mamaDispatcher_create");
    }

    memset(&callbacks, 0, sizeof(callbacks));
    callbacks.onCreate = onCreate;
    callbacks.onError = onError;
    callbacks.onMsg = onMsg;
    callbacks.onDestroy = onDestroy;
    check(mamaSubscription_allocate(&basic), "mamaSubscription_allocate");
    check(mamaSubscription_createBasic(basic, transport, queues[0], &callbacks, subject,
                                       &receivers[0]),
          "mamaSubscription_createBasic");

    memset(&wildCallbacks, 0, sizeof(wildCallbacks));
    wildCallbacks.onCreate = onCreate;
    wildCallbacks.onError = onError;
    wildCallbacks.onMsg = onWildCardMsg;
    wildCallbacks.onDestroy = onDestroy;
    check(mamaSubscription_allocate(&wildcard), "mamaSubscription_allocate");
    check(mamaSubscription_createBasicWildCard(wildcard, transport, queues[1], &wildCallbacks,
                                               source, "*", &receivers[1]),
          "mamaSubscription_createBasicWildCard");

    check(mamaPublisher_create(&publisher, transport, symbol, source, NULL),
          "mamaPublisher_create");
    check(mamaMsg_create(&msg), "mamaMsg_create");
    check(mamaMsg_addU64(msg, SEQ_FIELD, SEQ_FID, 0), "mamaMsg_addU64");

    /* Subscriptions are placed asynchronously: warm up until both are live. */
    for (i = 0; !(isWarm(&receivers[0]) && isWarm(&receivers[1])); ++i)
    {
        if (i == 500)
        {
            fprintf(stderr, "subscriptions did not become live\n");
            return 1;
        }
        check(mamaPublisher_send(publisher, msg), "mamaPublisher_send");
        usleep(10000);
    }

    started = now();
    for (seq = 1; seq <= gCount; ++seq)
    {
        check(mamaMsg_updateU64(msg, SEQ_FIELD, SEQ_FID, seq), "mamaMsg_updateU64");
        check(mamaPublisher_send(publisher, msg), "mamaPublisher_send");
    }
    for (i = 0; i < 2; ++i)
    {
        mama_u64_t received = awaitRun(&receivers[i], 120.0);
        if (received != gCount || receivers[i].mErrors != 0)
            ok = 0;
        printf("%-8s received %llu of %llu, %llu out of order or malformed\n", receivers[i].mName,
               (unsigned long long)received, (unsigned long long)gCount,
               (unsigned long long)receivers[i].mErrors);
    }
    elapsed = now() - started;
    printf("%llu messages to 2 subscribers in %.3f s (%.0f msg/s per subscriber)\n",
           (unsigned long long)gCount, elapsed, gCount / elapsed);

    check(mamaMsg_destroy(msg), "mamaMsg_destroy");
    check(mamaPublisher_destroy(publisher), "mamaPublisher_destroy");
    check(mamaSubscription_destroy(basic), "mamaSubscription_destroy");
    check(mamaSubscription_destroy(wildcard), "mamaSubscription_destroy");
    for (i = 0; i < 2; ++i)
    {
        check(mamaDispatcher_destroy(dispatchers[i]), "mamaDispatcher_destroy");
        /* The final release of a subscription travels through its queue. */
        check(mamaQueue_destroyWait(queues[i]), "mamaQueue_destroyWait");
    }
    check(mamaSubscription_deallocate(basic), "mamaSubscription_deallocate");
    check(mamaSubscription_deallocate(wildcard), "mamaSubscription_deallocate");
    check(mamaTransport_destroy(transport), "mamaTransport_destroy");
    check(mama_close(), "mama_close");
    printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
