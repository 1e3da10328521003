/*
 * mamabench: MAMA publish/subscribe figures over a bridge loaded by its
 * middleware name. The embedded router lives in the process, so the
 * publisher (a thread of its own) and every subscriber (each with its own
 * queue and dispatch thread) run here together. Subscriber 0 subscribes to
 * every symbol, subscriber 1 takes <source>.* as a wildcard, and further ones
 * alternate. Every message carries its symbol's sequence number, the symbol's
 * index, a CLOCK_MONOTONIC send time and an opaque of -l bytes.
 *
 *   -mode throughput  (default) as fast as the publisher can (or at -target):
 *                     messages per second received per subscriber, gaps and
 *                     out-of-order arrivals, process CPU time per message,
 *                     peak RSS;
 *   -mode latency     at -target msg/s (default 10000) for -time seconds
 *                     (default 5): publish-to-callback percentiles;
 *   -mode memory      at -target msg/s (default 10000) for -time seconds
 *                     (default 600), printing RSS every -t seconds (default 60).
 *
 * -inboxes n keeps n inboxes open on the transport through the run, as an
 * application with many requests outstanding would; none is answered.
 *
 * Between processes (a transport whose router they share, such as a NATS
 * server), -role subscriber runs the subscribers alone and -role publisher
 * the publisher alone, both with the same -n: the publisher sends warm-up
 * messages until the subscriber process, once every subscription is live,
 * answers on "_READY.<source>"; the subscriber's rate runs from its first
 * message to its last.
 *
 * The last line holds every figure as key=value. Exits 1 on any gap, loss,
 * out-of-order or malformed message, 2 on a usage error.
 */
#include <mama/mama.h>

#include <pthread.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

#include "benchClock.h"

#define SEQ_FIELD "seq"
#define SEQ_FID 10001
#define SYM_FIELD "sym"
#define SYM_FID 10002
#define TIME_FIELD "sent"
#define TIME_FID 10003
#define PAD_FIELD "pad"
#define PAD_FID 10004

#define MAX_SYMBOLS 1024
#define MAX_SUBSCRIBERS 16

typedef enum
{
    MODE_THROUGHPUT,
    MODE_LATENCY,
    MODE_MEMORY
} Mode;

typedef enum
{
    ROLE_BOTH,
    ROLE_PUBLISHER,
    ROLE_SUBSCRIBER
} Role;

typedef struct Subscriber
{
    int mIndex;
    int mWildcard;
    mamaQueue mQueue;
    mamaDispatcher mDispatcher;
    mamaSubscription mSubs[MAX_SYMBOLS]; /* one per symbol, or the wildcard alone */
    int mSubCount;
    /* Touched by the dispatch thread only, read once mReceived says so. */
    mama_u64_t mExpected[MAX_SYMBOLS]; /* next sequence number per symbol */
    unsigned char mWarm[MAX_SYMBOLS];
    uint64_t* mLatencies; /* nanoseconds, latency mode only */
    size_t mLatencyCap;
    size_t mLatencyCount;
    _Atomic uint64_t mFirstNs; /* time of the first run message */
    _Atomic uint64_t mLastNs;  /* time of the latest run message */
    _Atomic uint64_t mReceived;
    _Atomic uint64_t mGaps; /* messages skipped over */
    _Atomic uint64_t mOutOfOrder;
    _Atomic uint64_t mMalformed;
    _Atomic uint32_t mWarmCount;
    _Atomic int mDestroyed; /* subscriptions whose destroy was reported */
} Subscriber;

static Mode gMode = MODE_THROUGHPUT;
static Role gRole = ROLE_BOTH;
static const char* gMiddleware = "corvex";
static const char* gTportName = "t1";
static const char* gSource = "NYSE";
static const char* gSymbols[MAX_SYMBOLS];
static char gSymbolNames[MAX_SYMBOLS][64];
static int gNumSymbols = 0;
static int gSymbolsGiven = 0;
static int gNumSubs = 1;
static uint32_t gMsgSize = 64;
static double gTargetRate = 0; /* msg/s over all symbols; 0 = as fast as possible */
static double gDuration = 0;   /* seconds; 0 = run for -n messages */
static uint64_t gCount = 0;    /* messages over all symbols; 0 = run for -time */
static double gInterval = 60;  /* memory mode: seconds between RSS lines */
static int gQuiet = 0;
static int gNumInboxes = 0;
static mamaPublisher gPublishers[MAX_SYMBOLS];
static Subscriber gSubscribers[MAX_SUBSCRIBERS];
static _Atomic uint64_t gSent;
static _Atomic int gPublishing;
static _Atomic int gPeerReady; /* the subscriber process answered a warm-up */

static void check(mama_status status, const char* what)
{
    if (status != MAMA_STATUS_OK)
    {
        fprintf(stderr, "%s failed: %s\n", what, mamaStatus_stringForStatus(status));
        exit(1);
    }
}

static void sleepUntilNs(uint64_t when)
{
    struct timespec ts;
    ts.tv_sec = (time_t)(when / 1000000000ull);
    ts.tv_nsec = (long)(when % 1000000000ull);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, NULL) != 0)
        ;
}

static long rssKb(void)
{
    long pages = 0, resident = 0;
    FILE* f = fopen("/proc/self/statm", "r");
    if (f == NULL)
        return -1;
    if (fscanf(f, "%ld %ld", &pages, &resident) != 2)
        resident = -1;
    fclose(f);
    return resident < 0 ? -1 : resident * (sysconf(_SC_PAGESIZE) / 1024);
}

/* Sequence 0 marks warm-up messages, sent until every subscriber has one on
 * every symbol; the run proper counts from 1 on each symbol. */
static void receive(Subscriber* sub, mamaMsg msg)
{
    mama_u64_t seq = 0, sent = 0;
    mama_u32_t sym = 0;
    uint64_t arrived = benchNowNs();
    if (mamaMsg_getU64(msg, SEQ_FIELD, SEQ_FID, &seq) != MAMA_STATUS_OK ||
        mamaMsg_getU32(msg, SYM_FIELD, SYM_FID, &sym) != MAMA_STATUS_OK ||
        mamaMsg_getU64(msg, TIME_FIELD, TIME_FID, &sent) != MAMA_STATUS_OK ||
        sym >= (mama_u32_t)gNumSymbols)
    {
        atomic_fetch_add(&sub->mMalformed, 1);
        return;
    }
    if (seq == 0)
    {
        if (!sub->mWarm[sym])
        {
            sub->mWarm[sym] = 1;
            atomic_fetch_add(&sub->mWarmCount, 1);
        }
        return;
    }
    if (seq > sub->mExpected[sym])
        atomic_fetch_add(&sub->mGaps, seq - sub->mExpected[sym]);
    if (seq < sub->mExpected[sym])
        atomic_fetch_add(&sub->mOutOfOrder, 1);
    else
        sub->mExpected[sym] = seq + 1;
    if (atomic_load_explicit(&sub->mReceived, memory_order_relaxed) == 0)
        atomic_store_explicit(&sub->mFirstNs, arrived, memory_order_relaxed);
    if (sub->mLatencies != NULL && sub->mLatencyCount < sub->mLatencyCap)
        sub->mLatencies[sub->mLatencyCount++] = arrived - sent;
    atomic_store_explicit(&sub->mLastNs, arrived, memory_order_relaxed);
    atomic_fetch_add_explicit(&sub->mReceived, 1, memory_order_release);
}

static void MAMACALLTYPE onMsg(mamaSubscription s, mamaMsg msg, void* closure, void* itemClosure)
{
    (void)s;
    (void)itemClosure;
    receive((Subscriber*)closure, msg);
}

static void MAMACALLTYPE onWildCardMsg(mamaSubscription s, mamaMsg msg, const char* topic,
                                       void* closure, void* itemClosure)
{
    (void)s;
    (void)topic;
    (void)itemClosure;
    receive((Subscriber*)closure, msg);
}

static void MAMACALLTYPE onError(mamaSubscription s, mama_status status, void* platformError,
                                 const char* subject, void* closure)
{
    (void)s;
    (void)platformError;
    fprintf(stderr, "subscriber %d: subscription error %s on '%s'\n",
            ((Subscriber*)closure)->mIndex, mamaStatus_stringForStatus(status),
            subject ? subject : "");
    exit(1);
}

static void MAMACALLTYPE onReady(mamaSubscription s, mamaMsg msg, void* closure, void* itemClosure)
{
    (void)s;
    (void)msg;
    (void)closure;
    (void)itemClosure;
    atomic_store(&gPeerReady, 1);
}

static void MAMACALLTYPE onCreate(mamaSubscription s, void* closure)
{
    (void)s;
    (void)closure;
}

static void MAMACALLTYPE onDestroy(mamaSubscription s, void* closure)
{
    (void)s;
    atomic_fetch_add(&((Subscriber*)closure)->mDestroyed, 1);
}

/* mamaQueue_destroyWait gives up when a destroy does not reach the queue
 * within its 10 ms: the queue's dispatcher runs until every destroy has been
 * reported. */
static void awaitDestroyed(Subscriber* sub, int count)
{
    int i;
    for (i = 0; atomic_load(&sub->mDestroyed) < count && i < 10000; ++i)
        usleep(1000);
}

static void usage(const char* program)
{
    fprintf(stderr,
            "usage: %s [-m middleware] [-tport name] [-S source] [-s symbol]... [-numSymbols n]\n"
            "       [-numSubs n] [-l bytes] [-target msg/s] [-time seconds] [-n count]\n"
            "       [-mode throughput|latency|memory] [-t seconds]\n"
            "       [-role both|publisher|subscriber] [-inboxes n] [-q]\n",
            program);
    exit(2);
}

static void parseArgs(int argc, char** argv)
{
    int i;
    int numSymbols = 0;
    for (i = 1; i < argc; ++i)
    {
        const char* value = i + 1 < argc ? argv[i + 1] : NULL;
        if (strcmp(argv[i], "-q") == 0)
        {
            gQuiet = 1;
            continue;
        }
        if (value == NULL)
            usage(argv[0]);
        if (strcmp(argv[i], "-m") == 0)
            gMiddleware = value;
        else if (strcmp(argv[i], "-tport") == 0)
            gTportName = value;
        else if (strcmp(argv[i], "-S") == 0)
            gSource = value;
        else if (strcmp(argv[i], "-s") == 0 && gSymbolsGiven < MAX_SYMBOLS)
            gSymbols[gSymbolsGiven++] = value;
        else if (strcmp(argv[i], "-numSymbols") == 0)
            numSymbols = atoi(value);
        else if (strcmp(argv[i], "-numSubs") == 0)
            gNumSubs = atoi(value);
        else if (strcmp(argv[i], "-inboxes") == 0)
            gNumInboxes = atoi(value);
        else if (strcmp(argv[i], "-l") == 0)
            gMsgSize = (uint32_t)strtoul(value, NULL, 10);
        else if (strcmp(argv[i], "-target") == 0)
            gTargetRate = strtod(value, NULL);
        else if (strcmp(argv[i], "-time") == 0)
            gDuration = strtod(value, NULL);
        else if (strcmp(argv[i], "-n") == 0)
            gCount = strtoull(value, NULL, 10);
        else if (strcmp(argv[i], "-t") == 0)
            gInterval = strtod(value, NULL);
        else if (strcmp(argv[i], "-mode") == 0 && strcmp(value, "throughput") == 0)
            gMode = MODE_THROUGHPUT;
        else if (strcmp(argv[i], "-mode") == 0 && strcmp(value, "latency") == 0)
            gMode = MODE_LATENCY;
        else if (strcmp(argv[i], "-mode") == 0 && strcmp(value, "memory") == 0)
            gMode = MODE_MEMORY;
        else if (strcmp(argv[i], "-role") == 0 && strcmp(value, "both") == 0)
            gRole = ROLE_BOTH;
        else if (strcmp(argv[i], "-role") == 0 && strcmp(value, "publisher") == 0)
            gRole = ROLE_PUBLISHER;
        else if (strcmp(argv[i], "-role") == 0 && strcmp(value, "subscriber") == 0)
            gRole = ROLE_SUBSCRIBER;
        else
            usage(argv[0]);
        ++i;
    }
    if (gNumSubs < 1 || gNumSubs > MAX_SUBSCRIBERS || numSymbols < 0 || numSymbols > MAX_SYMBOLS ||
        gInterval <= 0 || gNumInboxes < 0)
        usage(argv[0]);
    if (gSymbolsGiven == 0)
        gSymbols[gSymbolsGiven++] = "IBM";
    /* -numSymbols n over one -s name makes <name>0 .. <name>n-1. */
    if (numSymbols > 1 && gSymbolsGiven == 1)
    {
        for (i = 0; i < numSymbols; ++i)
        {
            snprintf(gSymbolNames[i], sizeof(gSymbolNames[i]), "%s%d", gSymbols[0], i);
            gSymbols[i] = gSymbolNames[i];
        }
        gSymbolsGiven = numSymbols;
    }
    gNumSymbols = gSymbolsGiven;
    if (gMode != MODE_THROUGHPUT && gTargetRate <= 0)
        gTargetRate = 10000;
    if (gMode == MODE_LATENCY && gDuration <= 0 && gCount == 0)
        gDuration = 5;
    if (gMode == MODE_MEMORY && gDuration <= 0 && gCount == 0)
        gDuration = 600;
    if (gDuration <= 0 && gCount == 0)
        gCount = 1000000;
    /* A subscriber process knows the end of the run by its count. */
    if (gRole == ROLE_SUBSCRIBER && gCount == 0)
        usage(argv[0]);
}

static mamaInbox* gInboxes = NULL;
static mamaQueue gInboxQueue = NULL;
static mamaDispatcher gInboxDispatcher = NULL;

static void MAMACALLTYPE onInboxMsg(mamaMsg msg, void* closure)
{
    (void)msg;
    (void)closure;
}

static void MAMACALLTYPE onInboxError(mama_status status, void* closure)
{
    (void)closure;
    fprintf(stderr, "inbox error: %s\n", mamaStatus_stringForStatus(status));
}

/* Inboxes on a queue of their own, waiting for replies that never come. */
static void openInboxes(mamaBridge bridge, mamaTransport transport)
{
    int i;
    if (gNumInboxes == 0)
        return;
    gInboxes = calloc((size_t)gNumInboxes, sizeof(mamaInbox));
    if (gInboxes == NULL)
        check(MAMA_STATUS_NOMEM, "inboxes");
    check(mamaQueue_create(&gInboxQueue, bridge), "mamaQueue_create");
    check(mamaDispatcher_create(&gInboxDispatcher, gInboxQueue), "mamaDispatcher_create");
    for (i = 0; i < gNumInboxes; ++i)
        check(
            mamaInbox_create(&gInboxes[i], transport, gInboxQueue, onInboxMsg, onInboxError, NULL),
            "mamaInbox_create");
}

static void closeInboxes(void)
{
    int i;
    if (gNumInboxes == 0)
        return;
    for (i = 0; i < gNumInboxes; ++i)
        check(mamaInbox_destroy(gInboxes[i]), "mamaInbox_destroy");
    check(mamaDispatcher_destroy(gInboxDispatcher), "mamaDispatcher_destroy");
    check(mamaQueue_destroyWait(gInboxQueue), "mamaQueue_destroyWait");
    free(gInboxes);
}

static void createSubscriber(Subscriber* sub, int index, mamaBridge bridge, mamaTransport transport)
{
    mamaMsgCallbacks callbacks;
    mamaWildCardMsgCallbacks wildCallbacks;
    int i;

    sub->mIndex = index;
    sub->mWildcard = index % 2 == 1;
    for (i = 0; i < gNumSymbols; ++i)
        sub->mExpected[i] = 1;
    if (gMode == MODE_LATENCY)
    {
        double planned = gCount ? (double)gCount : gTargetRate * gDuration * 1.1 + 1000;
        sub->mLatencyCap = (size_t)planned;
        sub->mLatencies = malloc(sub->mLatencyCap * sizeof(uint64_t));
        if (sub->mLatencies == NULL)
            check(MAMA_STATUS_NOMEM, "latency buffer");
    }
    check(mamaQueue_create(&sub->mQueue, bridge), "mamaQueue_create");
    check(mamaDispatcher_create(&sub->mDispatcher, sub->mQueue), "mamaDispatcher_create");

    memset(&callbacks, 0, sizeof(callbacks));
    callbacks.onCreate = onCreate;
    callbacks.onError = onError;
    callbacks.onMsg = onMsg;
    callbacks.onDestroy = onDestroy;
    memset(&wildCallbacks, 0, sizeof(wildCallbacks));
    wildCallbacks.onCreate = onCreate;
    wildCallbacks.onError = onError;
    wildCallbacks.onMsg = onWildCardMsg;
    wildCallbacks.onDestroy = onDestroy;
    if (sub->mWildcard)
    {
        check(mamaSubscription_allocate(&sub->mSubs[0]), "mamaSubscription_allocate");
        check(mamaSubscription_createBasicWildCard(sub->mSubs[0], transport, sub->mQueue,
                                                   &wildCallbacks, gSource, "*", sub),
              "mamaSubscription_createBasicWildCard");
        sub->mSubCount = 1;
        return;
    }
    for (i = 0; i < gNumSymbols; ++i)
    {
        char subject[256];
        snprintf(subject, sizeof(subject), "%s.%s", gSource, gSymbols[i]);
        check(mamaSubscription_allocate(&sub->mSubs[i]), "mamaSubscription_allocate");
        check(mamaSubscription_createBasic(sub->mSubs[i], transport, sub->mQueue, &callbacks,
                                           subject, sub),
              "mamaSubscription_createBasic");
    }
    sub->mSubCount = gNumSymbols;
}

static void destroySubscriber(Subscriber* sub)
{
    int i;
    for (i = 0; i < sub->mSubCount; ++i)
        check(mamaSubscription_destroy(sub->mSubs[i]), "mamaSubscription_destroy");
    awaitDestroyed(sub, sub->mSubCount);
    check(mamaDispatcher_destroy(sub->mDispatcher), "mamaDispatcher_destroy");
    /* The final release of a subscription travels through its queue. */
    check(mamaQueue_destroyWait(sub->mQueue), "mamaQueue_destroyWait");
    for (i = 0; i < sub->mSubCount; ++i)
        check(mamaSubscription_deallocate(sub->mSubs[i]), "mamaSubscription_deallocate");
    free(sub->mLatencies);
}

static int allWarm(void)
{
    int i;
    for (i = 0; i < gNumSubs; ++i)
        if (atomic_load(&gSubscribers[i].mWarmCount) < (uint32_t)gNumSymbols)
            return 0;
    return 1;
}

static mamaMsg createMessage(void)
{
    mamaMsg msg = NULL;
    void* pad = calloc(1, gMsgSize ? gMsgSize : 1);
    if (pad == NULL)
        check(MAMA_STATUS_NOMEM, "pad");
    check(mamaMsg_create(&msg), "mamaMsg_create");
    check(mamaMsg_addU64(msg, SEQ_FIELD, SEQ_FID, 0), "mamaMsg_addU64");
    check(mamaMsg_addU32(msg, SYM_FIELD, SYM_FID, 0), "mamaMsg_addU32");
    check(mamaMsg_addU64(msg, TIME_FIELD, TIME_FID, 0), "mamaMsg_addU64");
    if (gMsgSize > 0)
        check(mamaMsg_addOpaque(msg, PAD_FIELD, PAD_FID, pad, gMsgSize), "mamaMsg_addOpaque");
    free(pad);
    return msg;
}

static void sendOne(mamaMsg msg, int sym, mama_u64_t seq)
{
    check(mamaMsg_updateU64(msg, SEQ_FIELD, SEQ_FID, seq), "mamaMsg_updateU64");
    check(mamaMsg_updateU32(msg, SYM_FIELD, SYM_FID, (mama_u32_t)sym), "mamaMsg_updateU32");
    check(mamaMsg_updateU64(msg, TIME_FIELD, TIME_FID, benchNowNs()), "mamaMsg_updateU64");
    check(mamaPublisher_send(gPublishers[sym], msg), "mamaPublisher_send");
}

/* The run proper: round robin over the symbols, paced when there is a target
 * rate, until -n messages or -time seconds. */
static void* publish(void* start)
{
    const uint64_t startNs = *(const uint64_t*)start;
    const uint64_t endNs = gDuration > 0 ? startNs + (uint64_t)(gDuration * 1e9) : UINT64_MAX;
    const double gapNs = gTargetRate > 0 ? 1e9 / gTargetRate : 0;
    mama_u64_t seqs[MAX_SYMBOLS];
    mamaMsg msg = createMessage();
    uint64_t sent = 0;
    int sym = 0;

    memset(seqs, 0, sizeof(seqs));
    while (gCount == 0 || sent < gCount)
    {
        /* Sleeping only when ahead: a sleep call per message, even one that
         * returns at once, held high target rates far below their target. */
        if (gapNs > 0 && benchNowNs() < startNs + (uint64_t)(sent * gapNs))
            sleepUntilNs(startNs + (uint64_t)(sent * gapNs));
        /* Checking the clock every message would weigh on the fastest runs. */
        if ((gapNs > 0 || (sent & 1023) == 0) && benchNowNs() >= endNs)
            break;
        sendOne(msg, sym, ++seqs[sym]);
        atomic_store_explicit(&gSent, ++sent, memory_order_relaxed);
        if (++sym == gNumSymbols)
            sym = 0;
    }
    check(mamaMsg_destroy(msg), "mamaMsg_destroy");
    atomic_store(&gPublishing, 0);
    return NULL;
}

/* Waits until every subscriber has every message, or nothing has arrived
 * for ten seconds. */
static void awaitDelivery(uint64_t sent)
{
    uint64_t total = 0, lastTotal = 0;
    uint64_t lastProgress = benchNowNs();
    int i;
    for (;;)
    {
        total = 0;
        for (i = 0; i < gNumSubs; ++i)
            total += atomic_load_explicit(&gSubscribers[i].mReceived, memory_order_acquire);
        if (total >= sent * (uint64_t)gNumSubs)
            return;
        if (total != lastTotal)
        {
            lastTotal = total;
            lastProgress = benchNowNs();
        }
        else if (benchNowNs() - lastProgress > 10000000000ull)
            return;
        usleep(1000);
    }
}

/* Publisher process: warm-up messages until the subscriber process says
 * every subscription is live. */
static void awaitPeer(mamaBridge bridge, mamaTransport transport)
{
    mamaQueue queue = NULL;
    mamaDispatcher dispatcher = NULL;
    mamaSubscription ready = NULL;
    mamaMsgCallbacks callbacks;
    mamaMsg warmMsg = createMessage();
    char subject[256];
    int i, sym;

    memset(&callbacks, 0, sizeof(callbacks));
    callbacks.onCreate = onCreate;
    callbacks.onError = onError;
    callbacks.onMsg = onReady;
    callbacks.onDestroy = onDestroy;
    snprintf(subject, sizeof(subject), "_READY.%s", gSource);
    check(mamaQueue_create(&queue, bridge), "mamaQueue_create");
    check(mamaDispatcher_create(&dispatcher, queue), "mamaDispatcher_create");
    check(mamaSubscription_allocate(&ready), "mamaSubscription_allocate");
    check(mamaSubscription_createBasic(ready, transport, queue, &callbacks, subject,
                                       &gSubscribers[0]),
          "mamaSubscription_createBasic");
    for (i = 0; !atomic_load(&gPeerReady); ++i)
    {
        if (i == 6000)
        {
            fprintf(stderr, "no subscriber process answered on %s\n", subject);
            exit(1);
        }
        for (sym = 0; sym < gNumSymbols; ++sym)
            sendOne(warmMsg, sym, 0);
        usleep(10000);
    }
    check(mamaMsg_destroy(warmMsg), "mamaMsg_destroy");
    check(mamaSubscription_destroy(ready), "mamaSubscription_destroy");
    awaitDestroyed(&gSubscribers[0], 1);
    check(mamaDispatcher_destroy(dispatcher), "mamaDispatcher_destroy");
    check(mamaQueue_destroyWait(queue), "mamaQueue_destroyWait");
    check(mamaSubscription_deallocate(ready), "mamaSubscription_deallocate");
}

static int anyReceived(void)
{
    int i;
    for (i = 0; i < gNumSubs; ++i)
        if (atomic_load(&gSubscribers[i].mReceived) > 0)
            return 1;
    return 0;
}

/* Subscriber process: once every subscription has had a warm-up message,
 * answers until the run's first message arrives. */
static void announceReady(mamaTransport transport)
{
    mamaPublisher ready = NULL;
    mamaMsg msg = NULL;
    int i;

    check(mamaPublisher_create(&ready, transport, gSource, "_READY", NULL), "mamaPublisher_create");
    check(mamaMsg_create(&msg), "mamaMsg_create");
    check(mamaMsg_addU64(msg, SEQ_FIELD, SEQ_FID, 0), "mamaMsg_addU64");
    for (i = 0; !anyReceived(); ++i)
    {
        if (i == 12000)
        {
            fprintf(stderr, "no publisher process started the run\n");
            exit(1);
        }
        if (allWarm())
            check(mamaPublisher_send(ready, msg), "mamaPublisher_send");
        usleep(10000);
    }
    check(mamaMsg_destroy(msg), "mamaMsg_destroy");
    check(mamaPublisher_destroy(ready), "mamaPublisher_destroy");
}

int main(int argc, char** argv)
{
    char property[512];
    char line[4096];
    size_t used = 0;
    mamaBridge bridge = NULL;
    mamaTransport transport = NULL;
    mamaMsg warmMsg = NULL;
    pthread_t publisher;
    uint64_t startNs, publishedNs, sent, lost = 0, gaps = 0, outOfOrder = 0, malformed = 0;
    double cpuStart, cpuUsed, elapsed, minRate = 0;
    long rssFirst = 0, rssLast = 0, rssMax = 0;
    struct rusage usage;
    int i, ok = 1, subscribing, publishing;

    parseArgs(argc, argv);
    subscribing = gRole != ROLE_PUBLISHER;
    publishing = gRole != ROLE_SUBSCRIBER;
    check(mama_loadBridge(&bridge, gMiddleware), "mama_loadBridge");
    /* A corvex transport needs this setting; keep a value from mama.properties. */
    snprintf(property, sizeof(property), "mama.%s.transport.%s.allow_recover_gaps", gMiddleware,
             gTportName);
    if (mama_getProperty(property) == NULL)
        check(mama_setProperty(property, "false"), "mama_setProperty");
    check(mama_open(), "mama_open");
    check(mamaTransport_allocate(&transport), "mamaTransport_allocate");
    check(mamaTransport_create(transport, gTportName, bridge), "mamaTransport_create");
    openInboxes(bridge, transport);
    for (i = 0; subscribing && i < gNumSubs; ++i)
        createSubscriber(&gSubscribers[i], i, bridge, transport);
    for (i = 0; publishing && i < gNumSymbols; ++i)
        check(mamaPublisher_create(&gPublishers[i], transport, gSymbols[i], gSource, NULL),
              "mamaPublisher_create");

    /* Subscriptions are placed asynchronously: warm up until all are live. */
    if (gRole == ROLE_PUBLISHER)
        awaitPeer(bridge, transport);
    else if (gRole == ROLE_SUBSCRIBER)
        announceReady(transport);
    warmMsg = createMessage();
    for (i = 0; gRole == ROLE_BOTH && !allWarm(); ++i)
    {
        int sym;
        if (i == 500)
        {
            fprintf(stderr, "subscriptions did not become live\n");
            return 1;
        }
        for (sym = 0; sym < gNumSymbols; ++sym)
            sendOne(warmMsg, sym, 0);
        usleep(10000);
    }
    check(mamaMsg_destroy(warmMsg), "mamaMsg_destroy");

    atomic_store(&gPublishing, 1);
    cpuStart = benchCpuSeconds();
    rssFirst = rssMax = rssKb();
    startNs = benchNowNs();
    if (publishing && pthread_create(&publisher, NULL, publish, &startNs) != 0)
        check(MAMA_STATUS_PLATFORM, "pthread_create");
    if (!publishing)
        atomic_store(&gPublishing, 0);
    if (gMode == MODE_MEMORY)
    {
        uint64_t next = startNs + (uint64_t)(gInterval * 1e9);
        printf("elapsed_s=0 sent=0 rss_kb=%ld\n", rssFirst);
        fflush(stdout);
        while (atomic_load(&gPublishing))
        {
            if (benchNowNs() < next)
            {
                usleep(100000);
                continue;
            }
            rssLast = rssKb();
            if (rssLast > rssMax)
                rssMax = rssLast;
            printf("elapsed_s=%.0f sent=%llu rss_kb=%ld\n", (benchNowNs() - startNs) / 1e9,
                   (unsigned long long)atomic_load(&gSent), rssLast);
            fflush(stdout);
            next += (uint64_t)(gInterval * 1e9);
        }
    }
    if (publishing)
        pthread_join(publisher, NULL);
    publishedNs = benchNowNs();
    sent = publishing ? atomic_load(&gSent) : gCount;
    if (subscribing)
        awaitDelivery(sent);
    cpuUsed = benchCpuSeconds() - cpuStart;
    rssLast = rssKb();
    if (rssLast > rssMax)
        rssMax = rssLast;
    getrusage(RUSAGE_SELF, &usage);

    used += snprintf(line + used, sizeof(line) - used,
                     "mamabench mode=%s role=%s middleware=%s size=%u subs=%d symbols=%d sent=%llu",
                     gMode == MODE_THROUGHPUT ? "throughput"
                     : gMode == MODE_LATENCY  ? "latency"
                                              : "memory",
                     gRole == ROLE_BOTH        ? "both"
                     : gRole == ROLE_PUBLISHER ? "publisher"
                                               : "subscriber",
                     gMiddleware, gMsgSize, gNumSubs, gNumSymbols, (unsigned long long)sent);
    if (!subscribing)
        minRate = publishedNs > startNs ? sent / ((publishedNs - startNs) / 1e9) : 0;
    for (i = 0; subscribing && i < gNumSubs; ++i)
    {
        Subscriber* sub = &gSubscribers[i];
        uint64_t received = atomic_load_explicit(&sub->mReceived, memory_order_acquire);
        /* A subscriber process cannot see the publisher start. */
        uint64_t fromNs = gRole == ROLE_SUBSCRIBER ? atomic_load(&sub->mFirstNs) : startNs;
        double seconds = (atomic_load(&sub->mLastNs) - fromNs) / 1e9;
        double rate = received && seconds > 0 ? received / seconds : 0;
        if (i == 0 || rate < minRate)
            minRate = rate;
        if (received < sent)
            lost += sent - received;
        gaps += atomic_load(&sub->mGaps);
        outOfOrder += atomic_load(&sub->mOutOfOrder);
        malformed += atomic_load(&sub->mMalformed);
        if (!gQuiet)
            printf("subscriber %d (%s): received %llu of %llu, %.0f msg/s, %llu skipped, %llu out "
                   "of order\n",
                   i, sub->mWildcard ? "wildcard" : "basic", (unsigned long long)received,
                   (unsigned long long)sent, rate, (unsigned long long)atomic_load(&sub->mGaps),
                   (unsigned long long)atomic_load(&sub->mOutOfOrder));
        used += snprintf(line + used, sizeof(line) - used, " msgs_per_sec_%d=%.0f", i, rate);
    }
    elapsed = (benchNowNs() - startNs) / 1e9;
    used += snprintf(line + used, sizeof(line) - used,
                     " msgs_per_sec=%.0f gaps=%llu out_of_order=%llu lost=%llu malformed=%llu"
                     " cpu_ns_per_msg=%.0f peak_rss_kb=%ld",
                     minRate, (unsigned long long)gaps, (unsigned long long)outOfOrder,
                     (unsigned long long)lost, (unsigned long long)malformed,
                     sent ? cpuUsed * 1e9 / (double)sent : 0, usage.ru_maxrss);
    if (gMode == MODE_LATENCY)
    {
        /* Percentiles over every subscriber's samples together. */
        size_t total = 0;
        uint64_t* all;
        for (i = 0; i < gNumSubs; ++i)
            total += gSubscribers[i].mLatencyCount;
        all = malloc((total ? total : 1) * sizeof(uint64_t));
        if (all == NULL)
            check(MAMA_STATUS_NOMEM, "latency samples");
        total = 0;
        for (i = 0; i < gNumSubs; ++i)
        {
            memcpy(all + total, gSubscribers[i].mLatencies,
                   gSubscribers[i].mLatencyCount * sizeof(uint64_t));
            total += gSubscribers[i].mLatencyCount;
        }
        qsort(all, total, sizeof(uint64_t), benchCompareU64);
        used += snprintf(
            line + used, sizeof(line) - used,
            " rate=%.0f samples=%zu p50_us=%.1f p90_us=%.1f p99_us=%.1f p99.9_us=%.1f max_us=%.1f",
            gTargetRate, total, benchPercentileUs(all, total, 50),
            benchPercentileUs(all, total, 90), benchPercentileUs(all, total, 99),
            benchPercentileUs(all, total, 99.9), total ? all[total - 1] / 1000.0 : 0);
        free(all);
    }
    if (gMode == MODE_MEMORY)
        used +=
            snprintf(line + used, sizeof(line) - used,
                     " rss_first_kb=%ld rss_last_kb=%ld rss_max_kb=%ld", rssFirst, rssLast, rssMax);
    snprintf(line + used, sizeof(line) - used, " elapsed_s=%.3f", elapsed);

    for (i = 0; publishing && i < gNumSymbols; ++i)
        check(mamaPublisher_destroy(gPublishers[i]), "mamaPublisher_destroy");
    for (i = 0; subscribing && i < gNumSubs; ++i)
        destroySubscriber(&gSubscribers[i]);
    closeInboxes();
    check(mamaTransport_destroy(transport), "mamaTransport_destroy");
    check(mama_close(), "mama_close");

    if (lost || gaps || outOfOrder || malformed || sent == 0)
        ok = 0;
    printf("%s ok=%d\n", line, ok);
    return ok ? 0 : 1;
}
