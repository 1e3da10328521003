// Timers and IO on the host side: the bridge gets the queue's native handle,
// the host timer lives until the bridge reports it destroyed, and optional
// bridge functions are checked before use.
#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "fakebridges/objectsFakeBridge.h"
#include "inboximpl.h"
#include "mama_test_support.h"
#include "timerimpl.h"

namespace
{
int gDestroys = 0;
void* gDestroyedClosure = nullptr;

void MAMACALLTYPE onTick(mamaTimer, void*) {}

void MAMACALLTYPE onDestroyed(mamaTimer, void* closure)
{
    ++gDestroys;
    gDestroyedClosure = closure;
}

void MAMACALLTYPE onIo(mamaIo, mamaIoType, void*) {}

class TimerTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        gDestroys = 0;
    }
    objfake::Fixture mFake;
    int mClosure = 0;
};

TEST_F(TimerTest, CreateUsesTheNativeQueueAndHoldsTheQueueUntilDestroyed)
{
    mamaTimer timer = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK,
              mamaTimer_create2(&timer, mFake.mQueue, onTick, onDestroyed, 1.5, &mClosure));
    void* native = nullptr;
    mamaQueue_getNativeHandle(mFake.mQueue, &native);
    EXPECT_EQ(native, objfake::world().mTimerNativeQueue);
    EXPECT_DOUBLE_EQ(1.5, objfake::world().mTimerInterval);
    EXPECT_NE(nullptr, mamaTimerImpl_getTimerBridge(timer));
    mama_f64_t interval = 0;
    ASSERT_EQ(MAMA_STATUS_OK, mamaTimer_getInterval(timer, &interval));
    EXPECT_DOUBLE_EQ(1.5, interval);

    EXPECT_EQ(MAMA_STATUS_QUEUE_OPEN_OBJECTS, mamaQueue_destroy(mFake.mQueue));
    EXPECT_EQ(MAMA_STATUS_OK, mamaTimer_destroy(timer));
    EXPECT_EQ(MAMA_STATUS_QUEUE_OPEN_OBJECTS, mamaQueue_destroy(mFake.mQueue));
    EXPECT_EQ(1, objfake::runPending(mFake.mQueue)); // frees the timer
    EXPECT_EQ(1, gDestroys);
    EXPECT_EQ(&mClosure, gDestroyedClosure);
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_destroy(mFake.mQueue));
    mFake.mQueue = nullptr;
}

TEST_F(TimerTest, RefusedCreateReleasesTheQueue)
{
    mFake.mBridge->bridgeMamaTimerCreate =
        [](timerBridge*, void*, mamaTimerCb, mamaTimerCb, mama_f64_t, mamaTimer, void*)
    { return MAMA_STATUS_PLATFORM; };
    mamaTimer timer = reinterpret_cast<mamaTimer>(&mClosure);
    EXPECT_EQ(MAMA_STATUS_PLATFORM,
              mamaTimer_create2(&timer, mFake.mQueue, onTick, onDestroyed, 1, nullptr));
    EXPECT_EQ(nullptr, timer);
    EXPECT_EQ(0, gDestroys);
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_destroy(mFake.mQueue));
    mFake.mQueue = nullptr;
}

TEST_F(TimerTest, BadArgumentsAndMissingOptionalFunctions)
{
    mamaTimer timer = nullptr;
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaTimer_create(nullptr, mFake.mQueue, onTick, 1, nullptr));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaTimer_create(&timer, mFake.mQueue, nullptr, 1, nullptr));
    EXPECT_EQ(MAMA_STATUS_INVALID_QUEUE, mamaTimer_create(&timer, nullptr, onTick, 1, nullptr));
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG, mamaTimer_create(&timer, mFake.mQueue, onTick, -1, nullptr));
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG,
              mamaTimer_create(&timer, mFake.mQueue, onTick, NAN, nullptr));
    EXPECT_FALSE(objfake::called("Timer_create"));

    ASSERT_EQ(MAMA_STATUS_OK, mamaTimer_create(&timer, mFake.mQueue, onTick, 2, nullptr));
    EXPECT_EQ(MAMA_STATUS_NOT_IMPLEMENTED, mamaTimer_reset(timer));
    EXPECT_EQ(MAMA_STATUS_NOT_IMPLEMENTED, mamaTimer_setInterval(timer, 3));
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG, mamaTimer_setInterval(timer, -3));
    mFake.mBridge->bridgeMamaTimerGetInterval = nullptr;
    mama_f64_t interval = 0;
    ASSERT_EQ(MAMA_STATUS_OK, mamaTimer_getInterval(timer, &interval));
    EXPECT_DOUBLE_EQ(2, interval);
    EXPECT_EQ(MAMA_STATUS_OK, mamaTimer_destroy(timer));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaTimer_destroy(nullptr));
}

TEST_F(TimerTest, AllocatedButUnstartedTimerIsReleasedAtDestroy)
{
    mamaTimer timer = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaTimer_allocate2(&timer, mFake.mQueue, onDestroyed));
    EXPECT_EQ(MAMA_STATUS_QUEUE_OPEN_OBJECTS, mamaQueue_destroy(mFake.mQueue));
    EXPECT_EQ(MAMA_STATUS_OK, mamaTimer_destroy(timer));
    EXPECT_EQ(1, gDestroys);
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_destroy(mFake.mQueue));
    mFake.mQueue = nullptr;
}

// The destroy reports arrive on the dispatch thread while the application
// thread goes on: the queue closes once both are in.
TEST_F(TimerTest, ReportsOnADispatchThreadReleaseTheQueue)
{
    static mamatest::Signal timerGone;
    static mamatest::Signal inboxGone;
    mamaTimer timer = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaTimer_create2(
                                  &timer, mFake.mQueue, onTick,
                                  [](mamaTimer, void*) { timerGone.set(); }, 0.5, nullptr));
    mamaInbox inbox = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaInbox_create2(
                                  &inbox, mFake.mTransport, mFake.mQueue, [](mamaMsg, void*) {},
                                  nullptr, [](mamaInbox, void*) { inboxGone.set(); }, nullptr));
    std::thread dispatcher([this] { mamaQueue_dispatch(mFake.mQueue); });
    EXPECT_EQ(MAMA_STATUS_OK, mamaTimer_destroy(timer));
    EXPECT_EQ(MAMA_STATUS_OK, mamaInbox_destroy(inbox));
    EXPECT_TRUE(timerGone.waitFor());
    EXPECT_TRUE(inboxGone.waitFor());
    mamaQueue_stopDispatch(mFake.mQueue);
    dispatcher.join();
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_destroy(mFake.mQueue));
    mFake.mQueue = nullptr;
}

TEST_F(TimerTest, IoIsRefusedWhenTheBridgeHasNoIoFunctions)
{
    mamaIo io = nullptr;
    EXPECT_EQ(MAMA_STATUS_NOT_IMPLEMENTED,
              mamaIo_create(&io, mFake.mQueue, 3, onIo, MAMA_IO_READ, nullptr));
    EXPECT_EQ(nullptr, io);
    EXPECT_EQ(MAMA_STATUS_NULL_ARG,
              mamaIo_create(&io, mFake.mQueue, 3, nullptr, MAMA_IO_READ, nullptr));
    EXPECT_EQ(MAMA_STATUS_INVALID_QUEUE,
              mamaIo_create(&io, nullptr, 3, onIo, MAMA_IO_READ, nullptr));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaIo_destroy(nullptr));
}
} // namespace
