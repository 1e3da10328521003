/*
 * natsbench: the same publish/subscribe and request/reply figures as
 * mamabench, straight on the NATS C client, so that MAMA over the bridge on
 * a NATS server can be compared with the layer under it. Each role is a
 * process of its own:
 *
 *   -role sub      receives -n messages on -subject: messages per second from
 *                  the first to the last, skipped and out-of-order ones,
 *                  CPU time per message; with -mode latency, send-to-callback
 *                  percentiles too;
 *   -role pub      waits until a subscriber is ready, then sends -n messages
 *                  of -l bytes as fast as it can, or at -target msg/s; with
 *                  -flush each, flushing after every message, as a
 *                  latency-minded user of the NATS client publishes (by
 *                  default the client's flusher gathers what was published
 *                  for about a millisecond before it writes);
 *   -role reply    answers every request on -subject with its own bytes,
 *                  flushing each answer, as the NATS client's documentation
 *                  advises repliers;
 *   -role request  sends -n requests one after the other: round-trip
 *                  percentiles.
 *
 * With -header <value>, pub sends every message with that value in the
 * header "Corvex-Properties" (a message created, given the header, published
 * and destroyed each time, as a Corvex session sends a message with user
 * properties) and sub reads it from every message: the cost of a header in
 * the NATS client alone.
 *
 * The publisher sends warm-up messages (sequence 0) until the subscriber
 * answers one on "<subject>.ready". Each message holds its sequence number
 * and send time (CLOCK_MONOTONIC) in its first 16 bytes. The last line holds
 * every figure as key=value; exits 1 on loss, disorder or timeout, 2 on a
 * usage error.
 */
#include <nats/nats.h>

#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "benchClock.h"

typedef enum
{
    ROLE_SUB,
    ROLE_PUB,
    ROLE_REPLY,
    ROLE_REQUEST
} Role;

static Role gRole = ROLE_SUB;
static const char* gUrl = "nats://127.0.0.1:4222";
static const char* gSubject = "bench.x";
static uint64_t gCount = 1000000;
static uint32_t gSize = 100;
static int gQuiet = 0;
static const char* gHeader = NULL;
static int gLatency = 0;       /* sub: keep send-to-callback samples */
static double gTargetRate = 0; /* pub: msg/s; 0 = as fast as it can */
static int gFlushEach = 0;     /* pub: flush after every message */
static uint64_t* gSamples = NULL;
static size_t gSampleCount = 0;

#define HEADER_NAME "Corvex-Properties"

static char gReadySubject[256];
static _Atomic uint64_t gReceived;
static _Atomic uint64_t gGaps;
static _Atomic uint64_t gOutOfOrder;
static _Atomic uint64_t gMalformed;
static _Atomic uint64_t gFirstNs;
static _Atomic uint64_t gLastNs;
static _Atomic int gReady;
static uint64_t gExpected = 1;

static void check(natsStatus status, const char* what)
{
    if (status != NATS_OK)
    {
        fprintf(stderr, "%s: %s\n", what, natsStatus_GetText(status));
        exit(1);
    }
}

static void usage(const char* program)
{
    fprintf(stderr,
            "usage: %s -role sub|pub|reply|request [-url nats://host:port] [-subject s]\n"
            "       [-n count] [-l bytes] [-header value] [-mode throughput|latency]\n"
            "       [-target msg/s] [-flush each|default] [-q]\n",
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
        if (strcmp(argv[i], "-role") == 0 && strcmp(value, "sub") == 0)
            gRole = ROLE_SUB;
        else if (strcmp(argv[i], "-role") == 0 && strcmp(value, "pub") == 0)
            gRole = ROLE_PUB;
        else if (strcmp(argv[i], "-role") == 0 && strcmp(value, "reply") == 0)
            gRole = ROLE_REPLY;
        else if (strcmp(argv[i], "-role") == 0 && strcmp(value, "request") == 0)
            gRole = ROLE_REQUEST;
        else if (strcmp(argv[i], "-url") == 0)
            gUrl = value;
        else if (strcmp(argv[i], "-subject") == 0)
            gSubject = value;
        else if (strcmp(argv[i], "-n") == 0)
            gCount = strtoull(value, NULL, 10);
        else if (strcmp(argv[i], "-l") == 0)
            gSize = (uint32_t)strtoul(value, NULL, 10);
        else if (strcmp(argv[i], "-header") == 0)
            gHeader = value;
        else if (strcmp(argv[i], "-mode") == 0 && strcmp(value, "throughput") == 0)
            gLatency = 0;
        else if (strcmp(argv[i], "-mode") == 0 && strcmp(value, "latency") == 0)
            gLatency = 1;
        else if (strcmp(argv[i], "-target") == 0)
            gTargetRate = strtod(value, NULL);
        else if (strcmp(argv[i], "-flush") == 0 && strcmp(value, "each") == 0)
            gFlushEach = 1;
        else if (strcmp(argv[i], "-flush") == 0 && strcmp(value, "default") == 0)
            gFlushEach = 0;
        else
            usage(argv[0]);
        ++i;
    }
    if (gSize < 16)
        gSize = 16;
}

static void stamp(char* data, uint64_t seq)
{
    const uint64_t sent = benchNowNs();
    memcpy(data, &seq, sizeof(seq));
    memcpy(data + 8, &sent, sizeof(sent));
}

static void onMessage(natsConnection* connection, natsSubscription* sub, natsMsg* msg,
                      void* closure)
{
    uint64_t seq = 0, sent = 0;
    const uint64_t arrived = benchNowNs();
    (void)sub;
    (void)closure;
    if (natsMsg_GetDataLength(msg) >= 16)
    {
        memcpy(&seq, natsMsg_GetData(msg), sizeof(seq));
        memcpy(&sent, natsMsg_GetData(msg) + 8, sizeof(sent));
    }
    if (seq == 0)
    {
        natsConnection_PublishString(connection, gReadySubject, "ready");
        natsMsg_Destroy(msg);
        return;
    }
    if (gHeader != NULL)
    {
        const char* header = NULL;
        if (natsMsgHeader_Get(msg, HEADER_NAME, &header) != NATS_OK || strcmp(header, gHeader) != 0)
            atomic_fetch_add(&gMalformed, 1);
    }
    if (atomic_load_explicit(&gReceived, memory_order_relaxed) == 0)
        atomic_store(&gFirstNs, arrived);
    if (seq > gExpected)
        atomic_fetch_add(&gGaps, seq - gExpected);
    if (seq < gExpected)
        atomic_fetch_add(&gOutOfOrder, 1);
    else
        gExpected = seq + 1;
    if (gSamples != NULL && gSampleCount < gCount)
        gSamples[gSampleCount++] = arrived - sent;
    atomic_store_explicit(&gLastNs, arrived, memory_order_relaxed);
    atomic_fetch_add_explicit(&gReceived, 1, memory_order_release);
    natsMsg_Destroy(msg);
}

static void onReady(natsConnection* connection, natsSubscription* sub, natsMsg* msg, void* closure)
{
    (void)connection;
    (void)sub;
    (void)closure;
    atomic_store(&gReady, 1);
    natsMsg_Destroy(msg);
}

static void onRequest(natsConnection* connection, natsSubscription* sub, natsMsg* msg,
                      void* closure)
{
    (void)sub;
    (void)closure;
    if (natsMsg_GetReply(msg) != NULL &&
        natsConnection_Publish(connection, natsMsg_GetReply(msg), natsMsg_GetData(msg),
                               natsMsg_GetDataLength(msg)) == NATS_OK)
        natsConnection_Flush(connection);
    natsMsg_Destroy(msg);
}

/* Waits until -n messages arrived or nothing came for ten seconds. */
static int subscribe(natsConnection* connection)
{
    natsSubscription* sub = NULL;
    uint64_t last = 0, lastProgress = benchNowNs();
    double cpuStart, seconds, rate;
    uint64_t received;
    int ok;

    if (gLatency && (gSamples = malloc((gCount ? gCount : 1) * sizeof(uint64_t))) == NULL)
        check(NATS_NO_MEMORY, "samples");
    check(natsConnection_Subscribe(&sub, connection, gSubject, onMessage, NULL), "subscribe");
    check(natsSubscription_SetPendingLimits(sub, -1, -1), "pending limits");
    check(natsConnection_Flush(connection), "flush");
    cpuStart = benchCpuSeconds();
    for (;;)
    {
        received = atomic_load_explicit(&gReceived, memory_order_acquire);
        if (received >= gCount)
            break;
        if (received != last)
        {
            last = received;
            lastProgress = benchNowNs();
        }
        else if (received > 0 && benchNowNs() - lastProgress > 10000000000ull)
            break;
        usleep(1000);
    }
    seconds = (atomic_load(&gLastNs) - atomic_load(&gFirstNs)) / 1e9;
    rate = received > 1 && seconds > 0 ? (received - 1) / seconds : 0;
    ok = received == gCount && atomic_load(&gGaps) == 0 && atomic_load(&gOutOfOrder) == 0 &&
         atomic_load(&gMalformed) == 0;
    printf("natsbench role=sub size=%u received=%llu msgs_per_sec=%.0f gaps=%llu out_of_order=%llu "
           "malformed=%llu lost=%llu cpu_ns_per_msg=%.0f",
           gSize, (unsigned long long)received, rate, (unsigned long long)atomic_load(&gGaps),
           (unsigned long long)atomic_load(&gOutOfOrder),
           (unsigned long long)atomic_load(&gMalformed),
           (unsigned long long)(gCount > received ? gCount - received : 0),
           received ? (benchCpuSeconds() - cpuStart) * 1e9 / (double)received : 0);
    if (gSamples != NULL)
    {
        qsort(gSamples, gSampleCount, sizeof(uint64_t), benchCompareU64);
        printf(" samples=%zu p50_us=%.1f p90_us=%.1f p99_us=%.1f max_us=%.1f", gSampleCount,
               benchPercentileUs(gSamples, gSampleCount, 50),
               benchPercentileUs(gSamples, gSampleCount, 90),
               benchPercentileUs(gSamples, gSampleCount, 99),
               gSampleCount ? gSamples[gSampleCount - 1] / 1000.0 : 0);
    }
    printf(" ok=%d\n", ok);
    natsSubscription_Destroy(sub);
    free(gSamples);
    return ok ? 0 : 1;
}

/* One run message, with the header when there is one. */
static natsStatus publishOne(natsConnection* connection, const char* data)
{
    natsMsg* msg = NULL;
    natsStatus status;
    if (gHeader == NULL)
        return natsConnection_Publish(connection, gSubject, data, (int)gSize);
    status = natsMsg_Create(&msg, gSubject, NULL, data, (int)gSize);
    if (status == NATS_OK)
        status = natsMsgHeader_Set(msg, HEADER_NAME, gHeader);
    if (status == NATS_OK)
        status = natsConnection_PublishMsg(connection, msg);
    natsMsg_Destroy(msg);
    return status;
}

static void sleepUntilNs(uint64_t when)
{
    struct timespec ts;
    ts.tv_sec = (time_t)(when / 1000000000ull);
    ts.tv_nsec = (long)(when % 1000000000ull);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, NULL) != 0)
        ;
}

static int publish(natsConnection* connection)
{
    natsSubscription* ready = NULL;
    char* data = calloc(1, gSize);
    uint64_t seq, startNs;
    double seconds, cpuStart;
    const double gapNs = gTargetRate > 0 ? 1e9 / gTargetRate : 0;
    int i;

    if (data == NULL)
        check(NATS_NO_MEMORY, "message");
    check(natsConnection_Subscribe(&ready, connection, gReadySubject, onReady, NULL), "ready");
    check(natsConnection_Flush(connection), "flush");
    for (i = 0; !atomic_load(&gReady); ++i)
    {
        if (i == 3000)
        {
            fprintf(stderr, "no subscriber became ready\n");
            return 1;
        }
        stamp(data, 0);
        check(natsConnection_Publish(connection, gSubject, data, (int)gSize), "warm-up");
        natsConnection_Flush(connection);
        usleep(10000);
    }
    startNs = benchNowNs();
    cpuStart = benchCpuSeconds();
    for (seq = 1; seq <= gCount; ++seq)
    {
        /* Sleeping only when ahead of the target. */
        if (gapNs > 0 && benchNowNs() < startNs + (uint64_t)((seq - 1) * gapNs))
            sleepUntilNs(startNs + (uint64_t)((seq - 1) * gapNs));
        stamp(data, seq);
        check(publishOne(connection, data), "publish");
        if (gFlushEach)
            check(natsConnection_Flush(connection), "flush");
    }
    check(natsConnection_Flush(connection), "flush");
    seconds = (benchNowNs() - startNs) / 1e9;
    printf("natsbench role=pub size=%u sent=%llu msgs_per_sec=%.0f cpu_ns_per_msg=%.0f ok=1\n",
           gSize, (unsigned long long)gCount, seconds > 0 ? gCount / seconds : 0,
           gCount ? (benchCpuSeconds() - cpuStart) * 1e9 / (double)gCount : 0);
    natsSubscription_Destroy(ready);
    free(data);
    return 0;
}

static int reply(natsConnection* connection)
{
    natsSubscription* sub = NULL;
    check(natsConnection_Subscribe(&sub, connection, gSubject, onRequest, NULL), "subscribe");
    if (!gQuiet)
        fprintf(stderr, "answering requests on %s\n", gSubject);
    for (;;)
        pause();
    return 0;
}

static int request(natsConnection* connection)
{
    uint64_t* samples = calloc(gCount ? gCount : 1, sizeof(uint64_t));
    char* data = calloc(1, gSize);
    natsMsg* answer = NULL;
    uint64_t i;
    size_t count = 0;

    if (samples == NULL || data == NULL)
        check(NATS_NO_MEMORY, "samples");
    /* The replier's subscription may not be placed yet. */
    for (i = 0; i < 300 && natsConnection_Request(&answer, connection, gSubject, data, (int)gSize,
                                                  100) != NATS_OK;
         ++i)
        ;
    natsMsg_Destroy(answer);
    for (i = 0; i < gCount; ++i)
    {
        const uint64_t sent = benchNowNs();
        answer = NULL;
        if (natsConnection_Request(&answer, connection, gSubject, data, (int)gSize, 2000) !=
            NATS_OK)
            break;
        samples[count++] = benchNowNs() - sent;
        natsMsg_Destroy(answer);
    }
    qsort(samples, count, sizeof(uint64_t), benchCompareU64);
    printf("natsbench role=request size=%u requests=%llu answered=%zu p50_us=%.1f p90_us=%.1f "
           "p99_us=%.1f max_us=%.1f ok=%d\n",
           gSize, (unsigned long long)gCount, count, benchPercentileUs(samples, count, 50),
           benchPercentileUs(samples, count, 90), benchPercentileUs(samples, count, 99),
           count ? samples[count - 1] / 1000.0 : 0, count == gCount);
    free(samples);
    free(data);
    return count == gCount ? 0 : 1;
}

int main(int argc, char** argv)
{
    natsConnection* connection = NULL;
    int result = 0;

    parseArgs(argc, argv);
    snprintf(gReadySubject, sizeof(gReadySubject), "%s.ready", gSubject);
    check(natsConnection_ConnectTo(&connection, gUrl), "connect");
    if (gRole == ROLE_SUB)
        result = subscribe(connection);
    else if (gRole == ROLE_PUB)
        result = publish(connection);
    else if (gRole == ROLE_REPLY)
        result = reply(connection);
    else
        result = request(connection);
    natsConnection_Destroy(connection);
    nats_Close();
    return result;
}
