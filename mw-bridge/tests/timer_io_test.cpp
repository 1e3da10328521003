#include <atomic>
#include <chrono>
#include <thread>

#include <mama/mama.h>
#include <mama/io.h>
#include <mama/timer.h>

#include "bridgeTest.h"

namespace
{
struct TimerLog
{
    std::atomic<int> mTicks{0};
    std::atomic<int> mDestroyed{0};
    std::atomic<bool> mOffThread{false};
    std::thread::id mDispatcher;
    Signal mThreeTicks;
    Signal mGone;
};

void MAMACALLTYPE onTick(mamaTimer, void* closure)
{
    TimerLog* log = static_cast<TimerLog*>(closure);
    if (log->mDispatcher != std::thread::id() && std::this_thread::get_id() != log->mDispatcher)
    {
        log->mOffThread = true;
    }
    if (++log->mTicks == 3)
    {
        log->mThreeTicks.raise();
    }
}

void MAMACALLTYPE onTimerDestroyed(mamaTimer, void* closure)
{
    TimerLog* log = static_cast<TimerLog*>(closure);
    log->mDestroyed++;
    log->mGone.raise();
}

void MAMACALLTYPE noteThread(mamaQueue, void* closure)
{
    static_cast<TimerLog*>(closure)->mDispatcher = std::this_thread::get_id();
}

class TimerTest : public BridgeTest
{
  protected:
    void SetUp() override
    {
        BridgeTest::SetUp();
        ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_create(&mQueue, mBridge));
    }

    void TearDown() override
    {
        EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_destroy(mQueue));
        BridgeTest::TearDown();
    }

    mamaQueue mQueue = nullptr;
};
} // namespace

TEST_F(TimerTest, RepeatsOnItsQueuesDispatchThreadUntilDestroyed)
{
    TimerLog log;
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_enqueueEvent(mQueue, noteThread, &log));
    DispatchThread dispatcher(mQueue);

    mamaTimer timer = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK,
              mamaTimer_create2(&timer, mQueue, onTick, onTimerDestroyed, 0.02, &log));
    ASSERT_TRUE(log.mThreeTicks.wait());
    EXPECT_FALSE(log.mOffThread.load());

    ASSERT_EQ(MAMA_STATUS_OK, mamaTimer_destroy(timer));
    ASSERT_TRUE(log.mGone.wait());
    int ticks = log.mTicks.load();
    EXPECT_EQ(1, log.mDestroyed.load());

    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_stopDispatch(mQueue));
    ASSERT_TRUE(dispatcher.waitReturned(std::chrono::milliseconds(2000)));
    EXPECT_EQ(ticks, log.mTicks.load()) << "no tick after the destroyed callback";
}

TEST_F(TimerTest, DestroyWithATickWaitingGivesOnlyTheDestroyedCallback)
{
    TimerLog log;
    mamaTimer timer = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK,
              mamaTimer_create2(&timer, mQueue, onTick, onTimerDestroyed, 0.01, &log));
    ASSERT_TRUE(pollUntil([this] { return queuedEvents(mQueue) >= 1; }));
    ASSERT_EQ(MAMA_STATUS_OK, mamaTimer_destroy(timer));

    while (mamaQueue_timedDispatch(mQueue, 0) == MAMA_STATUS_OK)
    {
    }
    EXPECT_EQ(0, log.mTicks.load());
    EXPECT_EQ(1, log.mDestroyed.load());
}

TEST_F(TimerTest, IntervalCanBeReadAndChanged)
{
    TimerLog log;
    mamaTimer timer = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK,
              mamaTimer_create2(&timer, mQueue, onTick, onTimerDestroyed, 1.5, &log));
    mama_f64_t interval = 0;
    ASSERT_EQ(MAMA_STATUS_OK, mamaTimer_getInterval(timer, &interval));
    EXPECT_DOUBLE_EQ(1.5, interval);
    ASSERT_EQ(MAMA_STATUS_OK, mamaTimer_setInterval(timer, 0.01));
    ASSERT_TRUE(pollUntil([this] { return queuedEvents(mQueue) >= 1; }))
        << "re-armed with the new interval";
    ASSERT_EQ(MAMA_STATUS_OK, mamaTimer_reset(timer));

    ASSERT_EQ(MAMA_STATUS_OK, mamaTimer_destroy(timer));
    while (mamaQueue_timedDispatch(mQueue, 0) == MAMA_STATUS_OK)
    {
    }
    EXPECT_EQ(1, log.mDestroyed.load());
}

TEST_F(TimerTest, IoIsNotOffered)
{
    mamaIo io = nullptr;
    EXPECT_EQ(MAMA_STATUS_NOT_IMPLEMENTED,
              mamaIo_create(
                  &io, mQueue, 0, [](mamaIo, mamaIoType, void*) {}, MAMA_IO_READ, nullptr));
    EXPECT_EQ(nullptr, io);
}
