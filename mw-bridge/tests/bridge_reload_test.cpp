/* The bridge loaded, used and closed many times in one process, as a
 * long-running application that reconnects does it: nothing it started may
 * outlive mama_close. */
#include <dirent.h>
#include <malloc.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include <mama/mama.h>
#include <mama/publisher.h>
#include <mama/subscription.h>
#include <mama/timer.h>

#include <gtest/gtest.h>

namespace
{
#if defined(__SANITIZE_THREAD__)
/* Each cycle starts and joins threads, which the race detector makes slow. */
const int WARM_UP_CYCLES = 20;
const int CYCLES = 50;
#else
const int WARM_UP_CYCLES = 100;
const int CYCLES = 200;
#endif
/* What the C library's loader and allocator caches still move by after the
 * warm-up (measured: about 5 KiB, none of it the host's or the bridge's); a
 * leak of one 100-byte object per cycle exceeds it. */
const size_t HEAP_SLACK_BYTES = 16 * 1024;

size_t entriesIn(const char* directory)
{
    size_t count = 0;
    DIR* dir = opendir(directory);
    if (dir == nullptr)
    {
        return 0;
    }
    while (const dirent* entry = readdir(dir))
    {
        count += entry->d_name[0] != '.' ? 1 : 0;
    }
    closedir(dir);
    return count;
}

struct Usage
{
    size_t mThreads;
    size_t mDescriptors;
    size_t mHeapBytes;

    static Usage now()
    {
        /* The directory stream itself holds one descriptor while it is read. */
        return Usage{entriesIn("/proc/self/task"), entriesIn("/proc/self/fd") - 1,
                     mallinfo2().uordblks};
    }
};

struct Events
{
    std::atomic<int> mMessages{0};
    std::atomic<int> mSubscriptionDestroyed{0};
    std::atomic<int> mTimerFired{0};
    std::atomic<int> mTimerDestroyed{0};
};

std::atomic<int> gBridgeProblems{0};
/* The first of them, for the failure message (a fixed buffer: no growth). */
char gFirstProblem[512];

void MAMACALLTYPE countBridgeProblems(MamaLogLevel, const char* line)
{
    if (line != nullptr && strstr(line, "CORVEX-MW-Bridge") != nullptr)
    {
        if (gBridgeProblems++ == 0)
        {
            snprintf(gFirstProblem, sizeof(gFirstProblem), "%s", line);
        }
    }
}

void MAMACALLTYPE onCreate(mamaSubscription, void*) {}
void MAMACALLTYPE onError(mamaSubscription, mama_status, void*, const char*, void*) {}
void MAMACALLTYPE onMsg(mamaSubscription, mamaMsg, void* closure, void*)
{
    static_cast<Events*>(closure)->mMessages++;
}
void MAMACALLTYPE onSubscriptionDestroy(mamaSubscription, void* closure)
{
    static_cast<Events*>(closure)->mSubscriptionDestroyed++;
}
void MAMACALLTYPE onTimer(mamaTimer, void* closure)
{
    static_cast<Events*>(closure)->mTimerFired++;
}
void MAMACALLTYPE onTimerDestroy(mamaTimer, void* closure)
{
    static_cast<Events*>(closure)->mTimerDestroyed++;
}

/* Where a cycle's subscription and timer live. */
enum class CycleQueue
{
    /* A queue of the cycle's own, dispatched by the test thread. */
    OWN,
    /* The default queue, dispatched by mama_start on a thread of its own. */
    DEFAULT
};

/* Dispatches `queue` until `done` holds, for at most about five seconds; a
 * queue another thread dispatches is only watched. */
template <typename Done> bool dispatchUntil(mamaQueue queue, CycleQueue kind, Done done)
{
    for (int i = 0; i < 500 && !done(); ++i)
    {
        if (kind == CycleQueue::OWN)
        {
            mamaQueue_timedDispatch(queue, 10);
        }
        else
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    return done();
}

/* One application life: open, a transport with a publisher, a subscription
 * that receives what it publishes and a timer that fires, all destroyed
 * again, close. */
void runOneCycle(int cycle, CycleQueue kind = CycleQueue::OWN)
{
    SCOPED_TRACE("cycle " + std::to_string(cycle));
    /* mama_close frees the property table: set them again each time. */
    ASSERT_EQ(MAMA_STATUS_OK,
              mama_setProperty("mama.corvex.transport.t1.allow_recover_gaps", "true"));
    /* On the default queue the transport keeps its refresh timer, as
     * OpenMAMA's tools do: destroyed with the transport, it leaves the
     * queue free to go at close (no warning). */
    ASSERT_EQ(MAMA_STATUS_OK, mama_setProperty("mama.transport.t1.disable_refresh",
                                               kind == CycleQueue::OWN ? "true" : "false"));
    mamaBridge bridge = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mama_loadBridge(&bridge, "corvex"));
    ASSERT_EQ(MAMA_STATUS_OK, mama_open());

    mamaTransport transport = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_allocate(&transport));
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_create(transport, "t1", bridge));
    mamaQueue queue = nullptr;
    /* Stopped and joined however the cycle ends. */
    struct StartedThread
    {
        mamaBridge mBridge = nullptr;
        std::thread mThread;
        ~StartedThread()
        {
            if (mThread.joinable())
            {
                mama_stop(mBridge);
                mThread.join();
            }
        }
    } started;
    started.mBridge = bridge;
    if (kind == CycleQueue::OWN)
    {
        ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_create(&queue, bridge));
    }
    else
    {
        ASSERT_EQ(MAMA_STATUS_OK, mama_getDefaultEventQueue(bridge, &queue));
        started.mThread = std::thread([bridge] { EXPECT_EQ(MAMA_STATUS_OK, mama_start(bridge)); });
    }
    Events events;

    mamaSubscription subscription = nullptr;
    mamaMsgCallbacks callbacks = {};
    callbacks.onCreate = onCreate;
    callbacks.onError = onError;
    callbacks.onMsg = onMsg;
    callbacks.onDestroy = onSubscriptionDestroy;
    ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_allocate(&subscription));
    ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_createBasic(subscription, transport, queue,
                                                           &callbacks, "RELOAD.TOPIC", &events));

    mamaPublisher publisher = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK,
              mamaPublisher_create(&publisher, transport, "RELOAD.TOPIC", nullptr, nullptr));
    mamaMsg msg = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_create(&msg));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addI32(msg, "cycle", 10, cycle));
    /* The subscribe completes asynchronously: publish until one arrives,
     * then let any still on their way arrive too (after the unsubscribe they
     * would reach the session as strays, which the bridge reports). */
    EXPECT_TRUE(dispatchUntil(queue, kind,
                              [&]
                              {
                                  if (events.mMessages.load() > 0)
                                  {
                                      return true;
                                  }
                                  mamaPublisher_send(publisher, msg);
                                  return false;
                              }));
    int quietRounds = 0;
    int seen = events.mMessages.load();
    EXPECT_TRUE(dispatchUntil(queue, kind,
                              [&]
                              {
                                  int now = events.mMessages.load();
                                  quietRounds = now == seen ? quietRounds + 1 : 0;
                                  seen = now;
                                  return quietRounds >= 3;
                              }));
    mamaMsg_destroy(msg);

    mamaTimer timer = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK,
              mamaTimer_create2(&timer, queue, onTimer, onTimerDestroy, 0.001, &events));
    EXPECT_TRUE(dispatchUntil(queue, kind, [&] { return events.mTimerFired.load() > 0; }));
    ASSERT_EQ(MAMA_STATUS_OK, mamaTimer_destroy(timer));
    ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_destroy(subscription));
    EXPECT_TRUE(dispatchUntil(queue, kind,
                              [&] {
                                  return events.mTimerDestroyed.load() == 1 &&
                                         events.mSubscriptionDestroyed.load() == 1;
                              }));
    ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_deallocate(subscription));
    ASSERT_EQ(MAMA_STATUS_OK, mamaPublisher_destroy(publisher));
    if (kind == CycleQueue::OWN)
    {
        ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_destroy(queue));
    }
    else
    {
        /* mama_start returns once the default queue's dispatch has ended. */
        ASSERT_EQ(MAMA_STATUS_OK, mama_stop(bridge));
        started.mThread.join();
    }
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_destroy(transport));
    ASSERT_EQ(MAMA_STATUS_OK, mama_close());
}
} // namespace

namespace
{
void runCycles(CycleQueue kind)
{
    /* Lines are counted, not kept: kept lines would be growth themselves. */
    mama_setLogLevel(MAMA_LOG_LEVEL_WARN);
    mama_setLogCallback2(countBridgeProblems);
    /* The first cycles pay the process's one-time costs and fill the caches
     * of the C library's allocator and loader; the counted cycles after them
     * must leave nothing behind. */
    for (int cycle = 0; cycle < WARM_UP_CYCLES && !::testing::Test::HasFailure(); ++cycle)
    {
        runOneCycle(cycle, kind);
    }
    Usage before = Usage::now();
    for (int cycle = 0; cycle < CYCLES && !::testing::Test::HasFailure(); ++cycle)
    {
        runOneCycle(WARM_UP_CYCLES + cycle, kind);
    }
    Usage after = Usage::now();
    EXPECT_EQ(before.mThreads, after.mThreads);
    EXPECT_EQ(before.mDescriptors, after.mDescriptors);
    EXPECT_LE(after.mHeapBytes, before.mHeapBytes + HEAP_SLACK_BYTES)
        << "bytes still allocated after " << CYCLES << " cycles";
    EXPECT_EQ(0, gBridgeProblems.load())
        << "bridge warnings or errors, the first: " << gFirstProblem;
}
} // namespace

TEST(BridgeReload, RepeatedLifeCyclesLeaveNoThreadDescriptorOrByteBehind)
{
    runCycles(CycleQueue::OWN);
}

/* The same with everything on the default queue, dispatched by mama_start as
 * OpenMAMA's tools do: the host closes the payloads before the default queue,
 * whose message must not keep a payload of theirs then. */
TEST(BridgeReload, RepeatedLifeCyclesOnTheDefaultQueueLeaveNoByteBehind)
{
    runCycles(CycleQueue::DEFAULT);
}
