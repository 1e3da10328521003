/* The client library alone, in the cases mamabench runs over the bridge: one
 * publishing thread and one subscribing session on the embedded router, with
 * one topic-dispatch subscription (the plain topic) or two (the second a
 * wildcard over it). Each message's content is -l bytes, starting with its
 * sequence number and a CLOCK_MONOTONIC send time.
 *
 *   corvexclient_throughput [-numSubs 1|2] [-l bytes] [-n count] [-target msg/s]
 *                           [-time seconds] [-mode throughput|latency] [-q]
 *
 * Throughput mode: messages per second received per subscription, skipped and
 * out-of-order messages, CPU time per message, peak RSS. Latency mode (at
 * -target, default 10000 msg/s, for -time seconds, default 5): send-to-callback
 * percentiles. The last line holds the figures as key=value, in mamabench's
 * names. Exits 1 on any loss or disorder, 2 on a usage error. */
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <time.h>

#include "benchClock.h"

#include "corvexClient.h"

namespace
{
const char* const kTopic = "bench/quotes/ABC";
const char* const kWildcardTopic = "bench/quotes/>";

struct Header
{
    uint64_t mSeq;
    uint64_t mSentNs;
};

/* Touched by the context thread only, read once mReceived says so. */
struct Receiver
{
    uint64_t mExpected = 1;
    std::vector<uint64_t> mLatencies;
    std::atomic<uint64_t> mLastNs{0};
    std::atomic<uint64_t> mReceived{0};
    std::atomic<uint64_t> mGaps{0};
    std::atomic<uint64_t> mOutOfOrder{0};
    std::atomic<uint64_t> mMalformed{0};
    bool mKeepLatencies = false;
};

int onMessage(corvexClient_session_t, corvexClient_msg_t msg, void* user)
{
    Receiver& receiver = *static_cast<Receiver*>(user);
    const uint64_t arrived = benchNowNs();
    void* content = nullptr;
    uint32_t size = 0;
    Header header{};
    if (corvexClient_msg_getBinaryAttachmentPtr(msg, &content, &size) != CORVEXCLIENT_OK ||
        size < sizeof(header))
    {
        receiver.mMalformed.fetch_add(1);
        return CORVEXCLIENT_CALLBACK_OK;
    }
    memcpy(&header, content, sizeof(header));
    if (header.mSeq > receiver.mExpected)
        receiver.mGaps.fetch_add(header.mSeq - receiver.mExpected);
    if (header.mSeq < receiver.mExpected)
        receiver.mOutOfOrder.fetch_add(1);
    else
        receiver.mExpected = header.mSeq + 1;
    if (receiver.mKeepLatencies)
        receiver.mLatencies.push_back(arrived - header.mSentNs);
    receiver.mLastNs.store(arrived, std::memory_order_relaxed);
    receiver.mReceived.fetch_add(1, std::memory_order_release);
    return CORVEXCLIENT_CALLBACK_OK;
}

void check(corvexClient_returnCode_t code, const char* what)
{
    if (code == CORVEXCLIENT_OK)
        return;
    const corvexClient_errorInfo_t* info = corvexClient_getLastErrorInfo();
    fprintf(stderr, "%s failed: %s %s\n", what, corvexClient_returnCodeToString(code),
            info ? info->mErrorText : "");
    exit(1);
}

corvexClient_session_t connectSession(corvexClient_context_t context, const char* name)
{
    const char* properties[] = {"SESSION_CLIENT_NAME", name, nullptr};
    corvexClient_session_createFuncInfo_t funcInfo{};
    corvexClient_session_t session = nullptr;
    check(corvexClient_session_create(properties, context, &session, &funcInfo, sizeof(funcInfo)),
          "create");
    check(corvexClient_session_connect(session), "connect");
    return session;
}

void sleepUntilNs(uint64_t when)
{
    timespec ts;
    ts.tv_sec = static_cast<time_t>(when / 1000000000ull);
    ts.tv_nsec = static_cast<long>(when % 1000000000ull);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) != 0)
    {
    }
}

double percentileUs(const std::vector<uint64_t>& sorted, double p)
{
    return benchPercentileUs(sorted.data(), sorted.size(), p);
}

[[noreturn]] void usage(const char* program)
{
    fprintf(stderr,
            "usage: %s [-numSubs 1|2] [-l bytes] [-n count] [-target msg/s] [-time seconds]\n"
            "       [-mode throughput|latency] [-q]\n",
            program);
    exit(2);
}
} // namespace

int main(int argc, char** argv)
{
    bool latency = false;
    bool quiet = false;
    int numSubs = 1;
    uint32_t size = 64;
    uint64_t count = 0;
    double rate = 0;
    double duration = 0;
    for (int i = 1; i < argc; ++i)
    {
        const std::string flag = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (flag == "-q")
        {
            quiet = true;
            continue;
        }
        if (value == nullptr)
            usage(argv[0]);
        if (flag == "-numSubs")
            numSubs = atoi(value);
        else if (flag == "-l")
            size = static_cast<uint32_t>(strtoul(value, nullptr, 10));
        else if (flag == "-n")
            count = strtoull(value, nullptr, 10);
        else if (flag == "-target")
            rate = strtod(value, nullptr);
        else if (flag == "-time")
            duration = strtod(value, nullptr);
        else if (flag == "-mode" &&
                 (strcmp(value, "throughput") == 0 || strcmp(value, "latency") == 0))
            latency = strcmp(value, "latency") == 0;
        else
            usage(argv[0]);
        ++i;
    }
    if (numSubs < 1 || numSubs > 2)
        usage(argv[0]);
    if (latency && rate <= 0)
        rate = 10000;
    if (latency && duration <= 0 && count == 0)
        duration = 5;
    if (duration <= 0 && count == 0)
        count = 1000000;
    size = std::max<uint32_t>(size, sizeof(Header));

    check(corvexClient_initialize(CORVEXCLIENT_LOG_WARNING, nullptr), "initialize");
    const char* contextProperties[] = {"CONTEXT_CREATE_THREAD", "1", nullptr};
    corvexClient_context_t context = nullptr;
    check(corvexClient_context_create(contextProperties, &context, nullptr, 0), "context");
    corvexClient_session_t subscriber = connectSession(context, "bench-sub");
    corvexClient_session_t publisher = connectSession(context, "bench-pub");
    std::vector<Receiver> receivers(numSubs);
    for (int i = 0; i < numSubs; ++i)
    {
        receivers[i].mKeepLatencies = latency;
        if (latency)
            receivers[i].mLatencies.reserve(
                count ? count : static_cast<size_t>(rate * duration * 1.1 + 1000));
        CorvexDispatchInfo dispatch{CORVEXCLIENT_DISPATCH_TYPE_CALLBACK, onMessage, &receivers[i],
                                    nullptr};
        check(corvexClient_session_topicSubscribeWithDispatch(
                  subscriber, CORVEXCLIENT_SUBSCRIBE_FLAGS_WAIT_FOR_CONFIRM,
                  i == 0 ? kTopic : kWildcardTopic, &dispatch, nullptr),
              "subscribe");
    }

    std::vector<char> content(size, 'x');
    corvexClient_msg_t msg = nullptr;
    check(corvexClient_msg_alloc(&msg), "alloc");
    check(corvexClient_msg_setTopicPtr(msg, kTopic), "topic");
    const double cpuStart = benchCpuSeconds();
    const uint64_t startNs = benchNowNs();
    const uint64_t endNs =
        duration > 0 ? startNs + static_cast<uint64_t>(duration * 1e9) : UINT64_MAX;
    const double gapNs = rate > 0 ? 1e9 / rate : 0;
    uint64_t sent = 0;
    std::thread sender(
        [&]
        {
            while (count == 0 || sent < count)
            {
                if (gapNs > 0)
                    sleepUntilNs(startNs + static_cast<uint64_t>(sent * gapNs));
                /* Checking the clock every message would weigh on the fastest runs. */
                if ((gapNs > 0 || (sent & 1023) == 0) && benchNowNs() >= endNs)
                    break;
                const Header header{sent + 1, benchNowNs()};
                memcpy(content.data(), &header, sizeof(header));
                check(corvexClient_msg_setBinaryAttachmentPtr(msg, content.data(), size),
                      "content");
                check(corvexClient_session_sendMsg(publisher, msg), "send");
                ++sent;
            }
        });
    sender.join();

    /* Every message to every subscription, or ten seconds without progress. */
    uint64_t lastTotal = 0, lastProgress = benchNowNs();
    for (;;)
    {
        uint64_t total = 0;
        for (const Receiver& receiver : receivers)
            total += receiver.mReceived.load(std::memory_order_acquire);
        if (total >= sent * receivers.size())
            break;
        if (total != lastTotal)
        {
            lastTotal = total;
            lastProgress = benchNowNs();
        }
        else if (benchNowNs() - lastProgress > 10000000000ull)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const double cpuUsed = benchCpuSeconds() - cpuStart;
    corvexClient_msg_free(&msg);

    std::string line = "corvexclient mode=" + std::string(latency ? "latency" : "throughput") +
                       " size=" + std::to_string(size) + " subs=" + std::to_string(numSubs) +
                       " sent=" + std::to_string(sent);
    uint64_t lost = 0, gaps = 0, outOfOrder = 0, malformed = 0;
    double minRate = 0;
    std::vector<uint64_t> samples;
    for (int i = 0; i < numSubs; ++i)
    {
        const Receiver& receiver = receivers[i];
        const uint64_t received = receiver.mReceived.load(std::memory_order_acquire);
        const double seconds = (receiver.mLastNs.load() - startNs) / 1e9;
        const double perSec = received && seconds > 0 ? received / seconds : 0;
        if (i == 0 || perSec < minRate)
            minRate = perSec;
        lost += received < sent ? sent - received : 0;
        gaps += receiver.mGaps.load();
        outOfOrder += receiver.mOutOfOrder.load();
        malformed += receiver.mMalformed.load();
        samples.insert(samples.end(), receiver.mLatencies.begin(), receiver.mLatencies.end());
        if (!quiet)
            printf("subscription %d (%s): received %llu of %llu, %.0f msg/s, %llu skipped, %llu "
                   "out of order\n",
                   i, i == 0 ? kTopic : kWildcardTopic, static_cast<unsigned long long>(received),
                   static_cast<unsigned long long>(sent), perSec,
                   static_cast<unsigned long long>(receiver.mGaps.load()),
                   static_cast<unsigned long long>(receiver.mOutOfOrder.load()));
        line += " msgs_per_sec_" + std::to_string(i) + "=" +
                std::to_string(static_cast<uint64_t>(perSec));
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    char figures[512];
    snprintf(figures, sizeof(figures),
             " msgs_per_sec=%.0f gaps=%llu out_of_order=%llu lost=%llu malformed=%llu "
             "cpu_ns_per_msg=%.0f"
             " peak_rss_kb=%ld",
             minRate, static_cast<unsigned long long>(gaps),
             static_cast<unsigned long long>(outOfOrder), static_cast<unsigned long long>(lost),
             static_cast<unsigned long long>(malformed),
             sent ? cpuUsed * 1e9 / static_cast<double>(sent) : 0, usage.ru_maxrss);
    line += figures;
    if (latency)
    {
        std::sort(samples.begin(), samples.end());
        snprintf(
            figures, sizeof(figures),
            " rate=%.0f samples=%zu p50_us=%.1f p90_us=%.1f p99_us=%.1f p99.9_us=%.1f max_us=%.1f",
            rate, samples.size(), percentileUs(samples, 50), percentileUs(samples, 90),
            percentileUs(samples, 99), percentileUs(samples, 99.9),
            samples.empty() ? 0 : samples.back() / 1000.0);
        line += figures;
    }

    check(corvexClient_session_destroy(&publisher), "destroy");
    check(corvexClient_session_destroy(&subscriber), "destroy");
    check(corvexClient_context_destroy(&context), "context destroy");
    check(corvexClient_cleanup(), "cleanup");
    const bool ok = lost == 0 && gaps == 0 && outOfOrder == 0 && malformed == 0 && sent > 0;
    printf("%s ok=%d\n", line.c_str(), ok ? 1 : 0);
    return ok ? 0 : 1;
}
