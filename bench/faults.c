/*
 * faults: a MAMA publisher and subscriber with sequence numbers, for
 * measuring what faults cost and what the application is told of them
 * (bench/faults.sh drives it against a nats-server it kills, freezes and
 * restarts).
 *
 *   -role sub     subscribes to <source>.<symbol> on -tport; ends on the
 *                 publisher's end marker or after -maxTime seconds. Counts
 *                 the messages received, the messages missing between them
 *                 (lost) in how many gaps, the quality events (reported) and
 *                 how many gaps had one since the message before (flagged),
 *                 disconnects and reconnects, and its peak resident memory.
 *                 -sleepUs n makes it a slow consumer (n microseconds per
 *                 message).
 *   -role pub     sends -n messages, or for -time seconds, at -rate msg/s
 *                 (0: as fast as it can), then end markers for a second.
 *                 Counts failed sends, the longest send, and the transport
 *                 and topic events (publish errors among them).
 *   -role both    both in one process (for the embedded router).
 *   -trace 1      also writes to stderr, with the monotonic clock's time in
 *                 ms, each gap (its ends, whether flagged), each failed or
 *                 slow (over 100 ms) send, and each transport event.
 *
 * Events go to the subscriber's own queue, so a quality event is seen in
 * order with the messages around it. Prints one key=value line.
 */
#include <mama/mama.h>

#include <pthread.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

#include "benchClock.h"

#define SEQ_FIELD "seq"
#define SEQ_FID 10001
#define PAD_FIELD "pad"
#define PAD_FID 10004

typedef struct
{
    int64_t mLast;
    uint64_t mReceived;
    uint64_t mLost;
    uint64_t mGaps;
    uint64_t mFlagged;
    uint64_t mDisorder;
    uint64_t mQuality;
    uint64_t mQualitySinceLast;
    uint64_t mDisconnects;
    uint64_t mReconnects;
    int mEnded;
} SubscriberCounts;

typedef struct
{
    atomic_ullong mTransportEvents;
    atomic_ullong mPublishErrors;
    atomic_ullong mDisconnects;
    atomic_ullong mReconnects;
} PublisherEvents;

static const char* gRole = "both";
static const char* gTportName = "nats";
static const char* gSource = "FAULT";
static const char* gSymbol = "SEQ";
static double gRate = 2000;
static double gSeconds = 10;
static uint64_t gCount = 0;
static double gMaxSeconds = 60;
static long gSleepUs = 0;
static int gPadBytes = 100;
static int gTrace = 0;

static SubscriberCounts gSub;
static PublisherEvents gPub;

static double nowMs(void)
{
    return (double)benchNowNs() / 1e6;
}

static void check(mama_status status, const char* what)
{
    if (status != MAMA_STATUS_OK)
    {
        fprintf(stderr, "faults: %s: %s\n", what, mamaStatus_stringForStatus(status));
        exit(2);
    }
}

static void usage(void)
{
    fprintf(stderr, "usage: faults [-role sub|pub|both] [-tport name] [-rate msg/s] "
                    "[-time s | -n count] [-maxTime s] [-sleepUs us] [-l bytes]\n");
    exit(2);
}

static void parseArgs(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
    {
        const char* value = i + 1 < argc ? argv[i + 1] : NULL;
        if (value == NULL)
            usage();
        if (strcmp(argv[i], "-role") == 0)
            gRole = value;
        else if (strcmp(argv[i], "-tport") == 0)
            gTportName = value;
        else if (strcmp(argv[i], "-rate") == 0)
            gRate = atof(value);
        else if (strcmp(argv[i], "-time") == 0)
            gSeconds = atof(value);
        else if (strcmp(argv[i], "-n") == 0)
            gCount = strtoull(value, NULL, 10);
        else if (strcmp(argv[i], "-maxTime") == 0)
            gMaxSeconds = atof(value);
        else if (strcmp(argv[i], "-sleepUs") == 0)
            gSleepUs = atol(value);
        else if (strcmp(argv[i], "-l") == 0)
            gPadBytes = atoi(value);
        else if (strcmp(argv[i], "-trace") == 0)
            gTrace = atoi(value);
        else
            usage();
        ++i;
    }
    if (strcmp(gRole, "sub") != 0 && strcmp(gRole, "pub") != 0 && strcmp(gRole, "both") != 0)
        usage();
}

/* Subscriber's queue: messages and the subscriber transport's events. */
static void MAMACALLTYPE onMsg(mamaSubscription subscription, mamaMsg msg, void* closure,
                               void* itemClosure)
{
    (void)subscription;
    (void)closure;
    (void)itemClosure;
    mama_i64_t seq = 0;
    if (mamaMsg_getI64(msg, SEQ_FIELD, SEQ_FID, &seq) != MAMA_STATUS_OK)
        return;
    if (seq == 0)
    {
        gSub.mEnded = 1;
        return;
    }
    ++gSub.mReceived;
    if (gSub.mLast != 0 && seq <= gSub.mLast)
    {
        ++gSub.mDisorder;
        if (gTrace)
            fprintf(stderr, "faults: t=%.1f disorder %lld after %lld\n", nowMs(), (long long)seq,
                    (long long)gSub.mLast);
    }
    else if (gSub.mLast != 0 && seq > gSub.mLast + 1)
    {
        gSub.mLost += (uint64_t)(seq - gSub.mLast - 1);
        ++gSub.mGaps;
        gSub.mFlagged += gSub.mQualitySinceLast > 0;
        if (gTrace)
            fprintf(stderr, "faults: t=%.1f gap after %lld to %lld (%lld lost) flagged=%d\n",
                    nowMs(), (long long)gSub.mLast, (long long)seq,
                    (long long)(seq - gSub.mLast - 1), gSub.mQualitySinceLast > 0);
    }
    if (seq > gSub.mLast)
        gSub.mLast = seq;
    gSub.mQualitySinceLast = 0;
    if (gSleepUs > 0)
        usleep((useconds_t)gSleepUs);
}

static void MAMACALLTYPE onError(mamaSubscription subscription, mama_status status,
                                 void* platformError, const char* subject, void* closure)
{
    (void)subscription;
    (void)platformError;
    (void)closure;
    fprintf(stderr, "faults: subscription %s: %s\n", subject ? subject : "",
            mamaStatus_stringForStatus(status));
}

static void MAMACALLTYPE onCreate(mamaSubscription subscription, void* closure)
{
    (void)subscription;
    (void)closure;
}

static void MAMACALLTYPE onTransportEvent(mamaTransport transport, mamaTransportEvent event,
                                          short cause, const void* info, void* closure)
{
    (void)transport;
    (void)cause;
    (void)info;
    if (gTrace)
        fprintf(stderr, "faults: t=%.1f %s transport event %s (last received %lld)\n", nowMs(),
                closure == &gSub ? "sub" : "pub", mamaTransportEvent_toString(event),
                (long long)gSub.mLast);
    if (closure == &gSub)
    {
        gSub.mQuality += event == MAMA_TRANSPORT_QUALITY;
        gSub.mQualitySinceLast += event == MAMA_TRANSPORT_QUALITY;
        gSub.mDisconnects += event == MAMA_TRANSPORT_DISCONNECT;
        gSub.mReconnects += event == MAMA_TRANSPORT_RECONNECT;
        return;
    }
    atomic_fetch_add(&gPub.mTransportEvents, 1);
    if (event == MAMA_TRANSPORT_DISCONNECT)
        atomic_fetch_add(&gPub.mDisconnects, 1);
    if (event == MAMA_TRANSPORT_RECONNECT)
        atomic_fetch_add(&gPub.mReconnects, 1);
}

static void MAMACALLTYPE onTopicEvent(mamaTransport transport, mamaTransportTopicEvent event,
                                      const char* topic, const void* info, void* closure)
{
    (void)transport;
    (void)topic;
    (void)info;
    (void)closure;
    if (event == MAMA_TRANSPORT_TOPIC_PUBLISH_ERROR ||
        event == MAMA_TRANSPORT_TOPIC_PUBLISH_ERROR_NOT_ENTITLED ||
        event == MAMA_TRANSPORT_TOPIC_PUBLISH_ERROR_BAD_SYMBOL)
        atomic_fetch_add(&gPub.mPublishErrors, 1);
}

static void* dispatchQueue(void* queue)
{
    mamaQueue_dispatch((mamaQueue)queue);
    return NULL;
}

static void pauseUntil(uint64_t deadlineNs)
{
    uint64_t now = benchNowNs();
    if (deadlineNs > now)
    {
        struct timespec ts = {(time_t)((deadlineNs - now) / 1000000000ull),
                              (long)((deadlineNs - now) % 1000000000ull)};
        nanosleep(&ts, NULL);
    }
}

/* Sends until the count or the time is reached; returns how many. */
static uint64_t publish(mamaPublisher publisher, uint64_t* failed, double* longestMs)
{
    mamaMsg msg = NULL;
    char* pad = calloc(1, (size_t)gPadBytes + 1);
    check(mamaMsg_create(&msg), "mamaMsg_create");
    check(mamaMsg_addI64(msg, SEQ_FIELD, SEQ_FID, 1), "mamaMsg_addI64");
    check(mamaMsg_addOpaque(msg, PAD_FIELD, PAD_FID, pad, (mama_size_t)gPadBytes),
          "mamaMsg_addOpaque");
    const uint64_t begin = benchNowNs();
    const uint64_t endNs = begin + (uint64_t)(gSeconds * 1e9);
    uint64_t sent = 0;
    uint64_t longest = 0;
    for (int64_t seq = 1;; ++seq)
    {
        if (gCount ? (uint64_t)(seq - 1) >= gCount : benchNowNs() >= endNs)
            break;
        if (gRate > 0)
            pauseUntil(begin + (uint64_t)((double)(seq - 1) * 1e9 / gRate));
        mamaMsg_updateI64(msg, SEQ_FIELD, SEQ_FID, seq);
        const uint64_t before = benchNowNs();
        const mama_status status = mamaPublisher_send(publisher, msg);
        if (status != MAMA_STATUS_OK)
            ++*failed;
        const uint64_t took = benchNowNs() - before;
        if (gTrace && (status != MAMA_STATUS_OK || took > 100000000ull))
            fprintf(stderr, "faults: t=%.1f send %lld took %.1f ms: %s\n", nowMs(), (long long)seq,
                    (double)took / 1e6, mamaStatus_stringForStatus(status));
        longest = took > longest ? took : longest;
        ++sent;
    }
    /* End markers, in case some are lost. */
    mamaMsg_updateI64(msg, SEQ_FIELD, SEQ_FID, 0);
    for (int i = 0; i < 100; ++i)
    {
        mamaPublisher_send(publisher, msg);
        usleep(10000);
    }
    *longestMs = (double)longest / 1e6;
    mamaMsg_destroy(msg);
    free(pad);
    return sent;
}

typedef struct
{
    mamaPublisher mPublisher;
    uint64_t mSent;
    uint64_t mFailed;
    double mLongestMs;
} PublishRun;

static void* publishThread(void* closure)
{
    PublishRun* run = closure;
    run->mSent = publish(run->mPublisher, &run->mFailed, &run->mLongestMs);
    return NULL;
}

int main(int argc, char** argv)
{
    mamaBridge bridge = NULL;
    mamaTransport transport = NULL;
    mamaQueue subQueue = NULL;
    mamaQueue pubQueue = NULL;
    mamaSubscription subscription = NULL;
    mamaPublisher publisher = NULL;
    pthread_t pubDispatch;
    pthread_t pubThread;
    PublishRun run = {0};
    char property[256];
    char subject[128];

    parseArgs(argc, argv);
    const int subscribing = strcmp(gRole, "pub") != 0;
    const int publishing = strcmp(gRole, "sub") != 0;
    check(mama_loadBridge(&bridge, "corvex"), "mama_loadBridge");
    snprintf(property, sizeof(property), "mama.corvex.transport.%s.allow_recover_gaps", gTportName);
    if (mama_getProperty(property) == NULL)
        check(mama_setProperty(property, "false"), "mama_setProperty");
    check(mama_open(), "mama_open");
    check(mamaQueue_create(&subQueue, bridge), "mamaQueue_create");
    check(mamaQueue_create(&pubQueue, bridge), "mamaQueue_create");
    check(mamaTransport_allocate(&transport), "mamaTransport_allocate");
    /* One transport: in "both", the subscriber's closure marks its events. */
    check(mamaTransport_setTransportCallback(transport, onTransportEvent,
                                             subscribing ? (void*)&gSub : (void*)&gPub),
          "mamaTransport_setTransportCallback");
    check(mamaTransport_setTransportTopicCallback(transport, onTopicEvent, NULL),
          "mamaTransport_setTransportTopicCallback");
    check(mamaTransport_create(transport, gTportName, bridge), "mamaTransport_create");
    mamaTransport_setTransportCallbackQueue(transport, subscribing ? subQueue : pubQueue);
    pthread_create(&pubDispatch, NULL, dispatchQueue, pubQueue);
    snprintf(subject, sizeof(subject), "%s.%s", gSource, gSymbol);
    if (subscribing)
    {
        mamaMsgCallbacks callbacks;
        memset(&callbacks, 0, sizeof(callbacks));
        callbacks.onCreate = onCreate;
        callbacks.onError = onError;
        callbacks.onMsg = onMsg;
        check(mamaSubscription_allocate(&subscription), "mamaSubscription_allocate");
        check(mamaSubscription_createBasic(subscription, transport, subQueue, &callbacks, subject,
                                           NULL),
              "mamaSubscription_createBasic");
    }
    if (publishing)
    {
        check(mamaPublisher_create(&publisher, transport, gSymbol, gSource, NULL),
              "mamaPublisher_create");
        run.mPublisher = publisher;
        pthread_create(&pubThread, NULL, publishThread, &run);
    }
    long rssPeakKb = 0;
    if (subscribing)
    {
        const uint64_t deadline = benchNowNs() + (uint64_t)(gMaxSeconds * 1e9);
        while (!gSub.mEnded && benchNowNs() < deadline)
            mamaQueue_timedDispatch(subQueue, 100);
        struct rusage usage;
        getrusage(RUSAGE_SELF, &usage);
        rssPeakKb = usage.ru_maxrss;
    }
    if (publishing)
        pthread_join(pubThread, NULL);
    /* Late events of the publishing side. */
    usleep(300000);
    if (subscribing)
    {
        printf("role=%s received=%llu lost=%llu gaps=%llu flagged=%llu quality=%llu "
               "disorder=%llu disconnects=%llu reconnects=%llu ended=%d rss_peak_mb=%.1f",
               gRole, (unsigned long long)gSub.mReceived, (unsigned long long)gSub.mLost,
               (unsigned long long)gSub.mGaps, (unsigned long long)gSub.mFlagged,
               (unsigned long long)gSub.mQuality, (unsigned long long)gSub.mDisorder,
               (unsigned long long)gSub.mDisconnects, (unsigned long long)gSub.mReconnects,
               gSub.mEnded, rssPeakKb / 1024.0);
    }
    if (publishing)
    {
        printf("%ssent=%llu failed_sends=%llu longest_send_ms=%.1f publish_error_events=%llu "
               "pub_transport_events=%llu pub_disconnects=%llu pub_reconnects=%llu",
               subscribing ? " " : "role=pub ", (unsigned long long)run.mSent,
               (unsigned long long)run.mFailed, run.mLongestMs,
               (unsigned long long)atomic_load(&gPub.mPublishErrors),
               (unsigned long long)atomic_load(&gPub.mTransportEvents),
               (unsigned long long)atomic_load(&gPub.mDisconnects),
               (unsigned long long)atomic_load(&gPub.mReconnects));
    }
    printf("\n");
    fflush(stdout);
    /* A fault run may leave the transport in any state: no orderly close. */
    _exit(0);
}
