/*
 * mamarequest: MAMA request/reply round trips over a bridge loaded by its
 * middleware name, between two processes that share a router (a NATS
 * server, for instance):
 *
 *   -role replier    answers every request on <source>.<symbol> with
 *                    mamaPublisher_sendReplyToInbox, until killed;
 *   -role requester  sends -n requests from one inbox, one after the other,
 *                    each carrying its number, and reports round-trip
 *                    percentiles of the answered ones.
 *
 * Requests go unanswered until the replier's subscription is live: the
 * requester repeats its first one until an answer comes. The last line
 * holds every figure as key=value; exits 1 when a request goes unanswered
 * for two seconds, 2 on a usage error.
 */
#include <mama/mama.h>

#include <pthread.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "benchClock.h"

#define SEQ_FIELD "seq"
#define SEQ_FID 10001
#define PAD_FIELD "pad"
#define PAD_FID 10004

static const char* gMiddleware = "corvex";
static const char* gTportName = "t1";
static const char* gSource = "NYSE";
static const char* gSymbol = "REQ";
static uint64_t gCount = 10000;
static uint32_t gMsgSize = 100;
static int gReplier = 0;
static int gQuiet = 0;

static mamaPublisher gPublisher;
static pthread_mutex_t gLock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t gAnswered = PTHREAD_COND_INITIALIZER;
static mama_u64_t gLastAnswer; /* guarded by gLock */

static void check(mama_status status, const char* what)
{
    if (status != MAMA_STATUS_OK)
    {
        fprintf(stderr, "%s failed: %s\n", what, mamaStatus_stringForStatus(status));
        exit(1);
    }
}

static void usage(const char* program)
{
    fprintf(stderr,
            "usage: %s -role requester|replier [-m middleware] [-tport name] [-S source]\n"
            "       [-s symbol] [-n count] [-l bytes] [-q]\n",
            program);
    exit(2);
}

static void parseArgs(int argc, char** argv)
{
    int i;
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
        if (strcmp(argv[i], "-role") == 0 && strcmp(value, "requester") == 0)
            gReplier = 0;
        else if (strcmp(argv[i], "-role") == 0 && strcmp(value, "replier") == 0)
            gReplier = 1;
        else if (strcmp(argv[i], "-m") == 0)
            gMiddleware = value;
        else if (strcmp(argv[i], "-tport") == 0)
            gTportName = value;
        else if (strcmp(argv[i], "-S") == 0)
            gSource = value;
        else if (strcmp(argv[i], "-s") == 0)
            gSymbol = value;
        else if (strcmp(argv[i], "-n") == 0)
            gCount = strtoull(value, NULL, 10);
        else if (strcmp(argv[i], "-l") == 0)
            gMsgSize = (uint32_t)strtoul(value, NULL, 10);
        else
            usage(argv[0]);
        ++i;
    }
}

static void MAMACALLTYPE onRequest(mamaSubscription s, mamaMsg request, void* closure,
                                   void* itemClosure)
{
    mamaMsg reply = NULL;
    mama_u64_t seq = 0;
    (void)s;
    (void)closure;
    (void)itemClosure;
    if (!mamaMsg_isFromInbox(request))
        return;
    mamaMsg_getU64(request, SEQ_FIELD, SEQ_FID, &seq);
    check(mamaMsg_create(&reply), "mamaMsg_create");
    check(mamaMsg_addU64(reply, SEQ_FIELD, SEQ_FID, seq), "mamaMsg_addU64");
    check(mamaPublisher_sendReplyToInbox(gPublisher, request, reply),
          "mamaPublisher_sendReplyToInbox");
    mamaMsg_destroy(reply);
}

static void MAMACALLTYPE onSubscriptionError(mamaSubscription s, mama_status status,
                                             void* platformError, const char* subject,
                                             void* closure)
{
    (void)s;
    (void)platformError;
    (void)closure;
    fprintf(stderr, "subscription error %s on '%s'\n", mamaStatus_stringForStatus(status),
            subject ? subject : "");
    exit(1);
}

static void MAMACALLTYPE onReply(mamaMsg reply, void* closure)
{
    mama_u64_t seq = 0;
    (void)closure;
    mamaMsg_getU64(reply, SEQ_FIELD, SEQ_FID, &seq);
    pthread_mutex_lock(&gLock);
    if (seq > gLastAnswer)
        gLastAnswer = seq;
    pthread_cond_broadcast(&gAnswered);
    pthread_mutex_unlock(&gLock);
}

static void MAMACALLTYPE onInboxError(mama_status status, void* closure)
{
    (void)closure;
    fprintf(stderr, "inbox error %s\n", mamaStatus_stringForStatus(status));
    exit(1);
}

/* True when request `seq` was answered within `limitNs`. */
static int awaitAnswer(mama_u64_t seq, uint64_t limitNs)
{
    struct timespec until;
    int answered;
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += (time_t)(limitNs / 1000000000ull);
    until.tv_nsec += (long)(limitNs % 1000000000ull);
    if (until.tv_nsec >= 1000000000L)
    {
        until.tv_sec += 1;
        until.tv_nsec -= 1000000000L;
    }
    pthread_mutex_lock(&gLock);
    while (gLastAnswer < seq && pthread_cond_timedwait(&gAnswered, &gLock, &until) == 0)
        ;
    answered = gLastAnswer >= seq;
    pthread_mutex_unlock(&gLock);
    return answered;
}

static void runReplier(mamaTransport transport, mamaQueue queue)
{
    mamaSubscription subscription = NULL;
    mamaMsgCallbacks callbacks;
    char subject[256];

    memset(&callbacks, 0, sizeof(callbacks));
    callbacks.onMsg = onRequest;
    callbacks.onError = onSubscriptionError;
    snprintf(subject, sizeof(subject), "%s.%s", gSource, gSymbol);
    check(mamaSubscription_allocate(&subscription), "mamaSubscription_allocate");
    check(mamaSubscription_createBasic(subscription, transport, queue, &callbacks, subject, NULL),
          "mamaSubscription_createBasic");
    if (!gQuiet)
        fprintf(stderr, "answering requests on %s\n", subject);
    for (;;)
        pause();
}

static int runRequester(mamaTransport transport, mamaQueue queue)
{
    mamaInbox inbox = NULL;
    mamaMsg request = NULL;
    uint64_t* samples = calloc(gCount ? gCount : 1, sizeof(uint64_t));
    void* pad = calloc(1, gMsgSize ? gMsgSize : 1);
    size_t answered = 0;
    mama_u64_t seq;
    int tries;

    if (samples == NULL || pad == NULL)
        check(MAMA_STATUS_NOMEM, "samples");
    check(mamaInbox_create(&inbox, transport, queue, onReply, onInboxError, NULL),
          "mamaInbox_create");
    check(mamaMsg_create(&request), "mamaMsg_create");
    check(mamaMsg_addU64(request, SEQ_FIELD, SEQ_FID, 1), "mamaMsg_addU64");
    if (gMsgSize > 0)
        check(mamaMsg_addOpaque(request, PAD_FIELD, PAD_FID, pad, gMsgSize), "mamaMsg_addOpaque");
    /* Request 1 until the replier is there; it is not counted. */
    for (tries = 0; !awaitAnswer(1, 100000000ull); ++tries)
    {
        if (tries == 300)
        {
            fprintf(stderr, "no replier answered on %s.%s\n", gSource, gSymbol);
            return 1;
        }
        check(mamaPublisher_sendFromInbox(gPublisher, inbox, request),
              "mamaPublisher_sendFromInbox");
    }
    for (seq = 2; seq < gCount + 2; ++seq)
    {
        const uint64_t sent = benchNowNs();
        check(mamaMsg_updateU64(request, SEQ_FIELD, SEQ_FID, seq), "mamaMsg_updateU64");
        check(mamaPublisher_sendFromInbox(gPublisher, inbox, request),
              "mamaPublisher_sendFromInbox");
        if (!awaitAnswer(seq, 2000000000ull))
            break;
        samples[answered++] = benchNowNs() - sent;
    }
    qsort(samples, answered, sizeof(uint64_t), benchCompareU64);
    printf("mamarequest role=requester middleware=%s size=%u requests=%llu answered=%zu "
           "p50_us=%.1f p90_us=%.1f p99_us=%.1f max_us=%.1f ok=%d\n",
           gMiddleware, gMsgSize, (unsigned long long)gCount, answered,
           benchPercentileUs(samples, answered, 50), benchPercentileUs(samples, answered, 90),
           benchPercentileUs(samples, answered, 99), answered ? samples[answered - 1] / 1000.0 : 0,
           answered == gCount);
    mamaMsg_destroy(request);
    mamaInbox_destroy(inbox);
    free(samples);
    free(pad);
    return answered == gCount ? 0 : 1;
}

int main(int argc, char** argv)
{
    char property[512];
    mamaBridge bridge = NULL;
    mamaTransport transport = NULL;
    mamaQueue queue = NULL;
    mamaDispatcher dispatcher = NULL;
    int result;

    parseArgs(argc, argv);
    check(mama_loadBridge(&bridge, gMiddleware), "mama_loadBridge");
    snprintf(property, sizeof(property), "mama.%s.transport.%s.allow_recover_gaps", gMiddleware,
             gTportName);
    if (mama_getProperty(property) == NULL)
        check(mama_setProperty(property, "false"), "mama_setProperty");
    check(mama_open(), "mama_open");
    check(mamaTransport_allocate(&transport), "mamaTransport_allocate");
    check(mamaTransport_create(transport, gTportName, bridge), "mamaTransport_create");
    check(mamaQueue_create(&queue, bridge), "mamaQueue_create");
    check(mamaDispatcher_create(&dispatcher, queue), "mamaDispatcher_create");
    check(mamaPublisher_create(&gPublisher, transport, gSymbol, gSource, NULL),
          "mamaPublisher_create");
    if (gReplier)
        runReplier(transport, queue);
    result = runRequester(transport, queue);
    check(mamaPublisher_destroy(gPublisher), "mamaPublisher_destroy");
    check(mamaDispatcher_destroy(dispatcher), "mamaDispatcher_destroy");
    check(mamaQueue_destroyWait(queue), "mamaQueue_destroyWait");
    check(mamaTransport_destroy(transport), "mamaTransport_destroy");
    check(mama_close(), "mama_close");
    return result;
}
