/*
 * mamapubsubdemo: a run of sequenced messages published on <source>.<symbol>
 * and received by a basic subscriber (on the full subject) and a wildcard
 * subscriber (<source>.*), on queues of their own, each dispatched by its own
 * thread. Exits 0 when every subscriber saw every message exactly once, in
 * order, with the right subject.
 *
 * By default (-role all) one process does everything. Across processes (a
 * router that joins them, such as NATS) each runs one role: "publisher"
 * publishes, "basic" and "wildcard" receive. Before the run the publisher
 * sends warm-up messages (sequence 0) until as many subscribers as it is
 * told (-subscribers, 2 by default) have answered one with a notice on
 * <source>_READY.<symbol>, a subject the wildcard subscription does not
 * match. During the run each subscriber reports its progress there, and the
 * publisher stays a bounded window ahead of the slowest, so that a slow
 * subscriber process is not sent more than its connection holds.
 *
 *   mamapubsubdemo [-m middleware] [-tport name] [-S source] [-s symbol] [-n count]
 *                  [-role all|publisher|basic|wildcard] [-subscribers count]
 */
#include <mama/mama.h>

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "demoSupport.h"

#define SEQ_FIELD "seq"
#define SEQ_FID 10001
#define PID_FIELD "pid"
#define PID_FID 10002
#define RECEIVED_FIELD "received"
#define RECEIVED_FID 10003
#define MAX_READY 16

/* Across processes the publisher keeps at most WINDOW messages ahead of the
 * slowest subscriber, which reports its progress every PROGRESS_EVERY
 * messages: what a subscriber process has not yet taken stays within what
 * its connection buffers. STALL_SECONDS without progress fail the run. */
#define WINDOW 20000
#define PROGRESS_EVERY 2000
#define STALL_SECONDS 30.0

/* How long a subscriber in a process of its own waits for the whole run,
 * warm-up included. */
#define RUN_WAIT_SECONDS 120.0

typedef struct Receiver
{
    const char* mName;
    char mSubject[256];
    mama_u64_t mExpected; /* next sequence number wanted; 0 = warming up */
    mama_u64_t mReceived;
    mama_u64_t mErrors;
    int mWarm;
    /* Where the receiver's notices go, when it has a process of its own. */
    mamaPublisher mReady;
    pthread_mutex_t mLock;
    pthread_cond_t mChanged;
} Receiver;

static mama_u64_t gCount = 1000000;

/* Publisher side: the subscriber processes that reported ready, and what
 * each has received. */
static pthread_mutex_t gReadyLock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t gReadyChanged = PTHREAD_COND_INITIALIZER;
static mama_u64_t gReadyPids[MAX_READY];
static mama_u64_t gReadyReceived[MAX_READY];
static int gReadyCount = 0;

/* A subscriber process's notice to the publisher: its process id and how
 * many messages of the run it has received. */
static void sendProgress(mamaPublisher publisher, mama_u64_t received)
{
    mamaMsg notice = NULL;
    check(mamaMsg_create(&notice), "mamaMsg_create");
    check(mamaMsg_addU64(notice, PID_FIELD, PID_FID, (mama_u64_t)getpid()), "mamaMsg_addU64");
    check(mamaMsg_addU64(notice, RECEIVED_FIELD, RECEIVED_FID, received), "mamaMsg_addU64");
    check(mamaPublisher_send(publisher, notice), "mamaPublisher_send");
    mamaMsg_destroy(notice);
}

/* Sequence 0 marks warm-up messages, sent until every subscription is
 * live; the run proper counts from 1. A subscriber in a process of its own
 * answers each warm-up message and every PROGRESS_EVERY messages of the run
 * with a notice. */
static void receive(Receiver* receiver, mamaMsg msg, const char* topic)
{
    mama_u64_t seq = 0;
    mama_u64_t received = 0;
    int notify = 0;
    pthread_mutex_lock(&receiver->mLock);
    if (mamaMsg_getU64(msg, SEQ_FIELD, SEQ_FID, &seq) != MAMA_STATUS_OK)
    {
        ++receiver->mErrors;
    }
    else if (seq == 0)
    {
        receiver->mWarm = 1;
        notify = 1;
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
        notify = receiver->mReceived % PROGRESS_EVERY == 0 || receiver->mReceived == gCount;
    }
    received = receiver->mReceived;
    pthread_cond_broadcast(&receiver->mChanged);
    pthread_mutex_unlock(&receiver->mLock);
    if (notify && receiver->mReady != NULL)
        sendProgress(receiver->mReady, received);
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

/* A subscriber process's notice: the first makes it ready. */
static void MAMACALLTYPE onReady(mamaSubscription sub, mamaMsg msg, void* closure,
                                 void* itemClosure)
{
    mama_u64_t pid = 0;
    mama_u64_t received = 0;
    int i;
    (void)sub;
    (void)closure;
    (void)itemClosure;
    if (mamaMsg_getU64(msg, PID_FIELD, PID_FID, &pid) != MAMA_STATUS_OK ||
        mamaMsg_getU64(msg, RECEIVED_FIELD, RECEIVED_FID, &received) != MAMA_STATUS_OK)
        return;
    pthread_mutex_lock(&gReadyLock);
    for (i = 0; i < gReadyCount && gReadyPids[i] != pid; ++i)
        ;
    if (i == gReadyCount && gReadyCount < MAX_READY)
        gReadyPids[gReadyCount++] = pid;
    if (i < gReadyCount && received > gReadyReceived[i])
        gReadyReceived[i] = received;
    pthread_cond_broadcast(&gReadyChanged);
    pthread_mutex_unlock(&gReadyLock);
}

static int readyCount(void)
{
    int count;
    pthread_mutex_lock(&gReadyLock);
    count = gReadyCount;
    pthread_mutex_unlock(&gReadyLock);
    return count;
}

/* Waits until every subscriber process has received all but WINDOW of the
 * `sent` messages; 0 when one made no progress for STALL_SECONDS. */
static int awaitWindow(mama_u64_t sent)
{
    double deadline = now() + STALL_SECONDS;
    mama_u64_t slowest = 0;
    int i;
    pthread_mutex_lock(&gReadyLock);
    while (1)
    {
        mama_u64_t previous = slowest;
        slowest = sent;
        for (i = 0; i < gReadyCount; ++i)
            slowest = gReadyReceived[i] < slowest ? gReadyReceived[i] : slowest;
        if (sent - slowest <= WINDOW)
            break;
        if (slowest != previous)
            deadline = now() + STALL_SECONDS;
        else if (now() >= deadline)
        {
            pthread_mutex_unlock(&gReadyLock);
            fprintf(stderr, "a subscriber stalled at %llu of %llu sent\n",
                    (unsigned long long)slowest, (unsigned long long)sent);
            return 0;
        }
        waitAtMost(&gReadyChanged, &gReadyLock, 10);
    }
    pthread_mutex_unlock(&gReadyLock);
    return 1;
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

/* Subscriptions whose destroy callback has run; under gReadyLock. */
static int gDestroyed = 0;

static void MAMACALLTYPE onDestroy(mamaSubscription sub, void* closure)
{
    (void)sub;
    (void)closure;
    pthread_mutex_lock(&gReadyLock);
    ++gDestroyed;
    pthread_cond_broadcast(&gReadyChanged);
    pthread_mutex_unlock(&gReadyLock);
}

/* Waits up to 10 s until `count` subscriptions have reported their destroy:
 * the queues they were on stay dispatched meanwhile. */
static int awaitDestroyed(int count)
{
    double deadline = now() + 10.0;
    int done;
    pthread_mutex_lock(&gReadyLock);
    while (gDestroyed < count && now() < deadline)
    {
        waitAtMost(&gReadyChanged, &gReadyLock, 10);
    }
    done = gDestroyed >= count;
    pthread_mutex_unlock(&gReadyLock);
    return done;
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
        waitAtMost(&receiver->mChanged, &receiver->mLock, 100);
    }
    received = receiver->mReceived;
    pthread_mutex_unlock(&receiver->mLock);
    return received;
}

/* Creates a subscription of the receiver on a queue dispatched by a thread
 * of its own: the basic one on the full subject, or the wildcard one on
 * <source>.*. */
static void subscribe(Receiver* receiver, mamaBridge bridge, mamaTransport transport,
                      const char* source, int wildcard, mamaQueue* queue,
                      mamaDispatcher* dispatcher, mamaSubscription* subscription)
{
    check(mamaQueue_create(queue, bridge), "mamaQueue_create");
    check(mamaDispatcher_create(dispatcher, *queue), "mamaDispatcher_create");
    check(mamaSubscription_allocate(subscription), "mamaSubscription_allocate");
    if (wildcard)
    {
        mamaWildCardMsgCallbacks callbacks;
        memset(&callbacks, 0, sizeof(callbacks));
        callbacks.onCreate = onCreate;
        callbacks.onError = onError;
        callbacks.onMsg = onWildCardMsg;
        callbacks.onDestroy = onDestroy;
        check(mamaSubscription_createBasicWildCard(*subscription, transport, *queue, &callbacks,
                                                   source, "*", receiver),
              "mamaSubscription_createBasicWildCard");
    }
    else
    {
        mamaMsgCallbacks callbacks;
        memset(&callbacks, 0, sizeof(callbacks));
        callbacks.onCreate = onCreate;
        callbacks.onError = onError;
        callbacks.onMsg = onMsg;
        callbacks.onDestroy = onDestroy;
        check(mamaSubscription_createBasic(*subscription, transport, *queue, &callbacks,
                                           receiver->mSubject, receiver),
              "mamaSubscription_createBasic");
    }
}

static int usage(const char* program)
{
    fprintf(stderr,
            "usage: %s [-m middleware] [-tport name] [-S source] [-s symbol] [-n count]\n"
            "       [-role all|publisher|basic|wildcard] [-subscribers count]\n",
            program);
    return 2;
}

int main(int argc, char** argv)
{
    const char* middleware = "corvex";
    const char* tportName = "t1";
    const char* source = "NYSE";
    const char* symbol = "IBM";
    const char* role = "all";
    int subscribers = 2;
    char subject[256];
    char readySymbol[256];
    char property[512];
    mamaBridge bridge = NULL;
    mamaTransport transport = NULL;
    mamaQueue queues[2] = {NULL, NULL};
    mamaDispatcher dispatchers[2] = {NULL, NULL};
    mamaSubscription subscriptions[2] = {NULL, NULL};
    mamaSubscription readySubscription = NULL;
    mamaPublisher publisher = NULL;
    mamaPublisher readyPublisher = NULL;
    mamaMsg msg = NULL;
    Receiver receivers[2];
    int receives[2];
    int publishes;
    mama_u64_t seq;
    double started = 0, elapsed;
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
        else if (i + 1 < argc && strcmp(argv[i], "-role") == 0)
            role = argv[++i];
        else if (i + 1 < argc && strcmp(argv[i], "-subscribers") == 0)
            subscribers = atoi(argv[++i]);
        else
            return usage(argv[0]);
    }
    publishes = strcmp(role, "all") == 0 || strcmp(role, "publisher") == 0;
    receives[0] = strcmp(role, "all") == 0 || strcmp(role, "basic") == 0;
    receives[1] = strcmp(role, "all") == 0 || strcmp(role, "wildcard") == 0;
    if (!publishes && !receives[0] && !receives[1])
        return usage(argv[0]);
    if (subscribers < 1 || subscribers > MAX_READY)
        return usage(argv[0]);
    if (gCount == 0)
        gCount = 1;
    snprintf(subject, sizeof(subject), "%s.%s", source, symbol);
    snprintf(readySymbol, sizeof(readySymbol), "%s_READY", source);

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
    if (!publishes)
        check(mamaPublisher_create(&readyPublisher, transport, symbol, readySymbol, NULL),
              "mamaPublisher_create");
    for (i = 0; i < 2; ++i)
    {
        receivers[i].mReady = readyPublisher;
        if (receives[i])
            subscribe(&receivers[i], bridge, transport, source, i == 1, &queues[i], &dispatchers[i],
                      &subscriptions[i]);
    }

    if (publishes)
    {
        if (!receives[0] || !receives[1])
        {
            mamaMsgCallbacks callbacks;
            char readySubject[512];
            memset(&callbacks, 0, sizeof(callbacks));
            callbacks.onCreate = onCreate;
            callbacks.onError = onError;
            callbacks.onMsg = onReady;
            callbacks.onDestroy = onDestroy;
            snprintf(readySubject, sizeof(readySubject), "%s.%s", readySymbol, symbol);
            check(mamaQueue_create(&queues[0], bridge), "mamaQueue_create");
            check(mamaDispatcher_create(&dispatchers[0], queues[0]), "mamaDispatcher_create");
            check(mamaSubscription_allocate(&readySubscription), "mamaSubscription_allocate");
            check(mamaSubscription_createBasic(readySubscription, transport, queues[0], &callbacks,
                                               readySubject, &receivers[0]),
                  "mamaSubscription_createBasic");
        }
        check(mamaPublisher_create(&publisher, transport, symbol, source, NULL),
              "mamaPublisher_create");
        check(mamaMsg_create(&msg), "mamaMsg_create");
        check(mamaMsg_addU64(msg, SEQ_FIELD, SEQ_FID, 0), "mamaMsg_addU64");

        /* Subscriptions are placed asynchronously: warm up until every one
         * is live, here or in its own process. */
        for (i = 0; readySubscription != NULL ? readyCount() < subscribers
                                              : !(isWarm(&receivers[0]) && isWarm(&receivers[1]));
             ++i)
        {
            if (i == 3000)
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
            if (readySubscription != NULL && seq % PROGRESS_EVERY == 1 && !awaitWindow(seq - 1))
                return 1;
            check(mamaMsg_updateU64(msg, SEQ_FIELD, SEQ_FID, seq), "mamaMsg_updateU64");
            check(mamaPublisher_send(publisher, msg), "mamaPublisher_send");
        }
        elapsed = now() - started;
        if (readySubscription != NULL)
            printf("publisher sent %llu messages to %d subscribers in %.3f s (%.0f msg/s)\n",
                   (unsigned long long)gCount, readyCount(), elapsed, gCount / elapsed);
    }
    for (i = 0; i < 2; ++i)
    {
        mama_u64_t received;
        if (!receives[i])
            continue;
        received = awaitRun(&receivers[i], publishes ? 120.0 : RUN_WAIT_SECONDS);
        if (received != gCount || receivers[i].mErrors != 0)
            ok = 0;
        printf("%-8s received %llu of %llu, %llu out of order or malformed\n", receivers[i].mName,
               (unsigned long long)received, (unsigned long long)gCount,
               (unsigned long long)receivers[i].mErrors);
    }
    if (publishes && receives[0] && receives[1])
    {
        elapsed = now() - started;
        printf("%llu messages to 2 subscribers in %.3f s (%.0f msg/s per subscriber)\n",
               (unsigned long long)gCount, elapsed, gCount / elapsed);
    }

    if (msg != NULL)
        check(mamaMsg_destroy(msg), "mamaMsg_destroy");
    if (publisher != NULL)
        check(mamaPublisher_destroy(publisher), "mamaPublisher_destroy");
    if (readySubscription != NULL)
        check(mamaSubscription_destroy(readySubscription), "mamaSubscription_destroy");
    for (i = 0; i < 2; ++i)
    {
        if (subscriptions[i] != NULL)
            check(mamaSubscription_destroy(subscriptions[i]), "mamaSubscription_destroy");
    }
    if (!awaitDestroyed((readySubscription != NULL) + (subscriptions[0] != NULL) +
                        (subscriptions[1] != NULL)))
    {
        fprintf(stderr, "not every subscription reported its destroy\n");
        ok = 0;
    }
    for (i = 0; i < 2; ++i)
    {
        if (queues[i] == NULL)
            continue;
        check(mamaDispatcher_destroy(dispatchers[i]), "mamaDispatcher_destroy");
        /* The final release of a subscription travels through its queue. */
        check(mamaQueue_destroyWait(queues[i]), "mamaQueue_destroyWait");
    }
    for (i = 0; i < 2; ++i)
    {
        if (subscriptions[i] != NULL)
            check(mamaSubscription_deallocate(subscriptions[i]), "mamaSubscription_deallocate");
    }
    if (readySubscription != NULL)
        check(mamaSubscription_deallocate(readySubscription), "mamaSubscription_deallocate");
    /* The dispatch threads that sent progress notices have stopped. */
    if (readyPublisher != NULL)
        check(mamaPublisher_destroy(readyPublisher), "mamaPublisher_destroy");
    check(mamaTransport_destroy(transport), "mamaTransport_destroy");
    check(mama_close(), "mama_close");
    printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
