/*
 * mamainboxdemo: one process runs an inbox requester and a responder on the
 * same transport. The responder listens on the request subject
 * <source>.<symbol> with a basic subscription and answers every request:
 * even-numbered ones with mamaPublisher_sendReplyToInbox, odd-numbered ones
 * through a reply handle (mamaMsg_getReplyHandle, which has the bridge
 * duplicate the request's reply address, then
 * mamaPublisher_sendReplyToInboxHandle and mamaMsg_destroyReplyHandle). The
 * requester creates one inbox and sends numbered requests from it with
 * mamaPublisher_sendFromInbox, at most MAX_IN_FLIGHT of them unanswered at a
 * time. Requester and responder have event queues of their own, each
 * dispatched by its own thread. Nothing here goes through the transport's
 * throttle, so the default queue is not dispatched.
 *
 * Across processes (a router that joins them, such as NATS) each runs one
 * side: -role responder answers until it has answered the run's requests
 * (warm-up requests aside), -role requester sends them and checks the
 * replies.
 *
 * Exits 0 when every reply arrived on the inbox exactly once, in order, by
 * the path its number says, and destroying the inbox called its destroy
 * callback exactly once (the responder alone: when it answered every
 * request, each by the path its number says); 1 on any failure (every wait
 * is bounded), 2 on a bad command line.
 *
 *   mamainboxdemo [-m middleware] [-tport name] [-S source] [-s symbol]
 *                 [-n requests] [-role all|requester|responder] [-v]... [-q]
 */
#include <mama/mama.h>

#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "demoSupport.h"

#define SEQ_FIELD "DemoRequestNum"
#define SEQ_FID 10001
#define PATH_FIELD "DemoReplyPath"
#define PATH_FID 10002

/* How a reply was sent; the request's number decides. */
#define PATH_DIRECT 0 /* mamaPublisher_sendReplyToInbox */
#define PATH_HANDLE 1 /* mamaPublisher_sendReplyToInboxHandle */

/* Requests sent and not yet answered, at most. */
#define MAX_IN_FLIGHT 1000

/* Everything below is guarded by gLock. Number 0 marks the warm-up requests,
 * sent until the responder's subscription is live; the run counts from 1. */
static pthread_mutex_t gLock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t gChanged = PTHREAD_COND_INITIALIZER;
static mama_u32_t gCount = 10000;
static int gQuiet = 0;
/* Responder side (responder dispatch thread). */
static mamaPublisher gResponder = NULL;
static mamaMsg gReply = NULL;
static mama_u64_t gWarmRequests = 0;
static mama_u64_t gSentDirect = 0;
static mama_u64_t gSentByHandle = 0;
static mama_u64_t gResponderErrors = 0;
/* Requester side (requester dispatch thread). */
static mama_u32_t gExpected = 1; /* next number wanted */
static mama_u64_t gReplies = 0;
static mama_u64_t gWarmReplies = 0;
static mama_u64_t gRequesterErrors = 0;
static int gInboxDestroyed = 0;
static int gResponderDestroyed = 0;

/* Waits as long as replies keep coming: fails once 10 s pass without one. */
static int awaitProgress(int (*done)(void))
{
    mama_u64_t seen;
    int result;
    pthread_mutex_lock(&gLock);
    do
    {
        seen = gReplies + gWarmReplies;
        result = awaitLocked(&gLock, &gChanged, done, 10.0);
    } while (!result && gReplies + gWarmReplies != seen);
    pthread_mutex_unlock(&gLock);
    return result;
}

/* ---- Responder ----------------------------------------------------------- */

static void responderError(const char* what, mama_u32_t seq, mama_status status)
{
    pthread_mutex_lock(&gLock);
    if (gResponderErrors++ < 5)
        fprintf(stderr, "responder: request %u: %s: %s\n", (unsigned)seq, what,
                mamaStatus_stringForStatus(status));
    pthread_mutex_unlock(&gLock);
}

static mama_status replyByHandle(mamaMsg request)
{
    mamaMsgReply handle = NULL;
    mama_status status = mamaMsg_getReplyHandle(request, &handle);
    if (status == MAMA_STATUS_OK)
        status = mamaPublisher_sendReplyToInboxHandle(gResponder, handle, gReply);
    /* MAMA hands out a handle even when the bridge could not fill it. */
    if (handle != NULL)
        mamaMsg_destroyReplyHandle(handle);
    return status;
}

static void MAMACALLTYPE onRequest(mamaSubscription sub, mamaMsg msg, void* closure,
                                   void* itemClosure)
{
    mama_u32_t seq = 0;
    mama_u8_t path;
    mama_status status;
    (void)sub;
    (void)closure;
    (void)itemClosure;
    if (mamaMsg_getU32(msg, SEQ_FIELD, SEQ_FID, &seq) != MAMA_STATUS_OK ||
        mamaMsg_isFromInbox(msg) != 1)
    {
        responderError("not a numbered request from an inbox", seq, MAMA_STATUS_INVALID_ARG);
        return;
    }
    path = seq % 2 == 0 ? PATH_DIRECT : PATH_HANDLE;
    check(mamaMsg_updateU32(gReply, SEQ_FIELD, SEQ_FID, seq), "mamaMsg_updateU32");
    check(mamaMsg_updateU8(gReply, PATH_FIELD, PATH_FID, path), "mamaMsg_updateU8");
    status = path == PATH_DIRECT ? mamaPublisher_sendReplyToInbox(gResponder, msg, gReply)
                                 : replyByHandle(msg);
    if (status != MAMA_STATUS_OK)
    {
        responderError(path == PATH_DIRECT ? "mamaPublisher_sendReplyToInbox"
                                           : "reply through a handle",
                       seq, status);
        return;
    }
    pthread_mutex_lock(&gLock);
    if (seq == 0)
        ++gWarmRequests;
    else if (path == PATH_DIRECT)
        ++gSentDirect;
    else
        ++gSentByHandle;
    pthread_mutex_unlock(&gLock);
}

static void MAMACALLTYPE onResponderCreate(mamaSubscription sub, void* closure)
{
    (void)sub;
    (void)closure;
}

static void MAMACALLTYPE onResponderError(mamaSubscription sub, mama_status status,
                                          void* platformError, const char* subject, void* closure)
{
    (void)sub;
    (void)platformError;
    (void)closure;
    fprintf(stderr, "responder: subscription error %s on '%s'\n",
            mamaStatus_stringForStatus(status), subject ? subject : "");
    pthread_mutex_lock(&gLock);
    ++gResponderErrors;
    pthread_cond_broadcast(&gChanged);
    pthread_mutex_unlock(&gLock);
}

static void MAMACALLTYPE onResponderDestroy(mamaSubscription sub, void* closure)
{
    (void)sub;
    (void)closure;
    pthread_mutex_lock(&gLock);
    gResponderDestroyed = 1;
    pthread_cond_broadcast(&gChanged);
    pthread_mutex_unlock(&gLock);
}

/* ---- Requester ----------------------------------------------------------- */

static void MAMACALLTYPE onReply(mamaMsg msg, void* closure)
{
    mama_u32_t seq = 0;
    mama_u8_t path = 0;
    int numbered = mamaMsg_getU32(msg, SEQ_FIELD, SEQ_FID, &seq) == MAMA_STATUS_OK &&
                   mamaMsg_getU8(msg, PATH_FIELD, PATH_FID, &path) == MAMA_STATUS_OK;
    (void)closure;
    pthread_mutex_lock(&gLock);
    if (numbered && seq == 0 && gReplies == 0)
    {
        ++gWarmReplies;
    }
    else
    {
        if (!numbered || seq != gExpected || path != (seq % 2 == 0 ? PATH_DIRECT : PATH_HANDLE))
        {
            if (gRequesterErrors++ < 5)
                fprintf(stderr, "requester: got reply %u by path %u, wanted %u by path %u\n",
                        (unsigned)seq, (unsigned)path, (unsigned)gExpected,
                        (unsigned)(gExpected % 2));
        }
        gExpected = seq + 1;
        ++gReplies;
    }
    pthread_cond_broadcast(&gChanged);
    pthread_mutex_unlock(&gLock);
}

static void MAMACALLTYPE onInboxError(mama_status status, void* closure)
{
    (void)closure;
    fprintf(stderr, "requester: inbox error %s\n", mamaStatus_stringForStatus(status));
    pthread_mutex_lock(&gLock);
    ++gRequesterErrors;
    pthread_cond_broadcast(&gChanged);
    pthread_mutex_unlock(&gLock);
}

static void MAMACALLTYPE onInboxDestroy(mamaInbox inbox, void* closure)
{
    (void)inbox;
    (void)closure;
    pthread_mutex_lock(&gLock);
    ++gInboxDestroyed;
    pthread_cond_broadcast(&gChanged);
    pthread_mutex_unlock(&gLock);
}

/* ---- Conditions the main thread waits for (gLock held) ------------------ */

static int failed(void)
{
    return gRequesterErrors > 0 || gResponderErrors > 0;
}

static int warm(void)
{
    return gWarmReplies > 0 || failed();
}

/* Requests sent so far in the run; main thread only. */
static mama_u32_t gSent = 0;

static int roomToSend(void)
{
    return gSent - gReplies < MAX_IN_FLIGHT || failed();
}

static int allReplied(void)
{
    return gReplies >= gCount || failed();
}

static int inboxDestroyed(void)
{
    return gInboxDestroyed > 0;
}

static int responderDestroyed(void)
{
    return gResponderDestroyed;
}

static int requested(void)
{
    return gWarmRequests + gSentDirect + gSentByHandle > 0 || failed();
}

static int allAnswered(void)
{
    return gSentDirect + gSentByHandle >= gCount || failed();
}

/* The responder alone: waits as long as requests keep coming, at most 10 s
 * without one. */
static int awaitRequests(int (*done)(void))
{
    mama_u64_t seen;
    int result;
    pthread_mutex_lock(&gLock);
    do
    {
        seen = gWarmRequests + gSentDirect + gSentByHandle;
        result = awaitLocked(&gLock, &gChanged, done, 10.0);
    } while (!result && gWarmRequests + gSentDirect + gSentByHandle != seen);
    pthread_mutex_unlock(&gLock);
    return result;
}

/* ------------------------------------------------------------------------ */

static void usage(const char* program)
{
    fprintf(stderr,
            "usage: %s [-m middleware] [-tport name] [-S source] [-s symbol] [-n requests] "
            "[-role all|requester|responder] [-v]... [-q]\n",
            program);
    exit(2);
}

/* A decimal count; anything else is refused. */
static int parseCount(const char* text, mama_u32_t* count)
{
    char* end = NULL;
    unsigned long value = strtoul(text, &end, 10);
    if (text[0] < '0' || text[0] > '9' || *end != '\0' || value > 0xffffffffUL)
        return 0;
    *count = (mama_u32_t)value;
    return 1;
}

int main(int argc, char** argv)
{
    const char* middleware = "corvex";
    const char* tportName = "t1";
    const char* source = "DEMO";
    const char* symbol = "REQUEST";
    const char* role = "all";
    int requests, responds;
    MamaLogLevel logLevel = MAMA_LOG_LEVEL_WARN;
    char subject[256];
    char property[512];
    mamaBridge bridge = NULL;
    mamaTransport transport = NULL;
    mamaQueue requesterQueue = NULL;
    mamaQueue responderQueue = NULL;
    mamaDispatcher requesterDispatcher = NULL;
    mamaDispatcher responderDispatcher = NULL;
    mamaSubscription subscription = NULL;
    mamaMsgCallbacks callbacks;
    mamaInbox inbox = NULL;
    mamaPublisher requester = NULL;
    mamaMsg request = NULL;
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
        {
            if (!parseCount(argv[++i], &gCount))
                usage(argv[0]);
        }
        else if (strcmp(argv[i], "-v") == 0)
        {
            if (logLevel < MAMA_LOG_LEVEL_FINEST)
                logLevel = (MamaLogLevel)(logLevel + 1);
        }
        else if (strcmp(argv[i], "-q") == 0)
            gQuiet = 1;
        else if (i + 1 < argc && strcmp(argv[i], "-role") == 0)
            role = argv[++i];
        else
            usage(argv[0]);
    }
    requests = strcmp(role, "all") == 0 || strcmp(role, "requester") == 0;
    responds = strcmp(role, "all") == 0 || strcmp(role, "responder") == 0;
    if (!requests && !responds)
        usage(argv[0]);
    snprintf(subject, sizeof(subject), "%s.%s", source, symbol);

    mama_enableLogging(stderr, logLevel);
    check(mama_loadBridge(&bridge, middleware), "mama_loadBridge");
    /* A corvex transport needs this setting; keep a value from mama.properties. */
    snprintf(property, sizeof(property), "mama.%s.transport.%s.allow_recover_gaps", middleware,
             tportName);
    if (mama_getProperty(property) == NULL)
        check(mama_setProperty(property, "false"), "mama_setProperty");
    check(mama_open(), "mama_open");

    check(mamaTransport_allocate(&transport), "mamaTransport_allocate");
    check(mamaTransport_create(transport, tportName, bridge), "mamaTransport_create");
    check(mamaQueue_create(&requesterQueue, bridge), "mamaQueue_create");
    check(mamaQueue_create(&responderQueue, bridge), "mamaQueue_create");
    check(mamaDispatcher_create(&requesterDispatcher, requesterQueue), "mamaDispatcher_create");
    check(mamaDispatcher_create(&responderDispatcher, responderQueue), "mamaDispatcher_create");

    /* The responder: a basic subscription to the request subject and a
     * publisher to reply with. */
    check(mamaPublisher_create(&gResponder, transport, symbol, source, NULL),
          "mamaPublisher_create");
    check(mamaMsg_create(&gReply), "mamaMsg_create");
    memset(&callbacks, 0, sizeof(callbacks));
    callbacks.onCreate = onResponderCreate;
    callbacks.onError = onResponderError;
    callbacks.onMsg = onRequest;
    callbacks.onDestroy = onResponderDestroy;
    if (responds)
    {
        check(mamaSubscription_allocate(&subscription), "mamaSubscription_allocate");
        check(mamaSubscription_createBasic(subscription, transport, responderQueue, &callbacks,
                                           subject, NULL),
              "mamaSubscription_createBasic");
    }

    /* The requester: one inbox, and a publisher on the request subject. */
    check(mamaInbox_create2(&inbox, transport, requesterQueue, onReply, onInboxError,
                            onInboxDestroy, NULL),
          "mamaInbox_create2");
    check(mamaPublisher_create(&requester, transport, symbol, source, NULL),
          "mamaPublisher_create");
    check(mamaMsg_create(&request), "mamaMsg_create");
    check(mamaMsg_addU32(request, SEQ_FIELD, SEQ_FID, 0), "mamaMsg_addU32");

    started = now();
    if (!requests)
    {
        /* The requester is elsewhere: answer its run, then let the last
         * replies leave before the transport closes. */
        if (!await(&gLock, &gChanged, requested, 60.0))
        {
            fprintf(stderr, "responder: no request came\n");
            ok = 0;
        }
        else if (!awaitRequests(allAnswered))
        {
            fprintf(stderr, "responder: requests stopped coming\n");
            ok = 0;
        }
        sleep(1);
    }

    /* The responder's subscription is placed asynchronously: warm up until
     * a request comes back answered. */
    for (i = 0; requests && !await(&gLock, &gChanged, warm, 0.01); ++i)
    {
        if (i == (responds ? 500 : 3000))
        {
            fprintf(stderr, "the responder's subscription did not become live\n");
            ok = 0;
            break;
        }
        check(mamaPublisher_sendFromInbox(requester, inbox, request),
              "mamaPublisher_sendFromInbox");
    }

    if (requests)
        started = now();
    for (gSent = 0; ok && requests && gSent < gCount;)
    {
        if (!awaitProgress(roomToSend))
        {
            fprintf(stderr, "requester: no reply for 10 s with %d requests unanswered\n",
                    MAX_IN_FLIGHT);
            ok = 0;
            break;
        }
        check(mamaMsg_updateU32(request, SEQ_FIELD, SEQ_FID, gSent + 1), "mamaMsg_updateU32");
        check(mamaPublisher_sendFromInbox(requester, inbox, request),
              "mamaPublisher_sendFromInbox");
        ++gSent;
    }
    if (ok && requests && !awaitProgress(allReplied))
    {
        fprintf(stderr, "requester: replies stopped coming\n");
        ok = 0;
    }
    elapsed = now() - started;

    /* Shut down: the responder stops answering, then the inbox goes; its
     * destroy callback runs once MAMA has finished with it, and must run
     * exactly once. */
    if (subscription != NULL)
        check(mamaSubscription_destroy(subscription), "mamaSubscription_destroy");
    check(mamaInbox_destroy(inbox), "mamaInbox_destroy");
    if (!await(&gLock, &gChanged, inboxDestroyed, 10.0))
    {
        fprintf(stderr, "the inbox did not report its destroy\n");
        ok = 0;
    }
    /* Its queue stays dispatched until then. */
    if (subscription != NULL && !await(&gLock, &gChanged, responderDestroyed, 10.0))
    {
        fprintf(stderr, "the responder's subscription did not report its destroy\n");
        ok = 0;
    }
    check(mamaDispatcher_destroy(requesterDispatcher), "mamaDispatcher_destroy");
    check(mamaDispatcher_destroy(responderDispatcher), "mamaDispatcher_destroy");
    /* The final release of a subscription travels through its queue. */
    check(mamaQueue_destroyWait(requesterQueue), "mamaQueue_destroyWait");
    check(mamaQueue_destroyWait(responderQueue), "mamaQueue_destroyWait");
    if (subscription != NULL)
        check(mamaSubscription_deallocate(subscription), "mamaSubscription_deallocate");
    check(mamaMsg_destroy(request), "mamaMsg_destroy");
    check(mamaPublisher_destroy(requester), "mamaPublisher_destroy");
    check(mamaMsg_destroy(gReply), "mamaMsg_destroy");
    check(mamaPublisher_destroy(gResponder), "mamaPublisher_destroy");
    check(mamaTransport_destroy(transport), "mamaTransport_destroy");

    /* Every dispatcher has stopped: the counts are final. Odd numbers are
     * answered through handles, even ones directly. */
    ok = ok && (!requests || gReplies == gCount) &&
         (!responds || (gSentByHandle == (gCount + 1ULL) / 2 && gSentDirect == gCount / 2)) &&
         gRequesterErrors == 0 && gResponderErrors == 0 && gInboxDestroyed == 1;
    if (responds && (!gQuiet || !requests))
        printf("responder: %llu warm-up requests answered, then %llu directly and %llu through "
               "reply handles\n",
               (unsigned long long)gWarmRequests, (unsigned long long)gSentDirect,
               (unsigned long long)gSentByHandle);
    if (requests)
        printf("%u requests from one inbox: %llu replies, %llu errors, inbox destroyed %d time(s), "
               "in %.3f s (%.0f round trips/s)\n",
               (unsigned)gCount, (unsigned long long)gReplies,
               (unsigned long long)(gRequesterErrors + gResponderErrors), gInboxDestroyed, elapsed,
               elapsed > 0 ? gReplies / elapsed : 0.0);
    check(mama_close(), "mama_close");
    printf("%s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}
