#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "wombat/timers.h"

namespace {

using namespace std::chrono_literals;

// A flag another thread raises; waits are bounded.
class Signal
{
public:
    void raise ()
    {
        std::lock_guard<std::mutex> guard (mMutex);
        mRaised = true;
        mCond.notify_all ();
    }

    bool wait (std::chrono::milliseconds limit = 5000ms)
    {
        std::unique_lock<std::mutex> lock (mMutex);
        return mCond.wait_for (lock, limit, [this] { return mRaised; });
    }

private:
    std::mutex              mMutex;
    std::condition_variable mCond;
    bool                    mRaised = false;
};

struct timeval after (long millis)
{
    struct timeval tv;
    tv.tv_sec = millis / 1000;
    tv.tv_usec = (millis % 1000) * 1000;
    return tv;
}

struct TimerHeapFixture : ::testing::Test
{
    timerHeap mHeap = nullptr;

    void SetUp () override
    {
        ASSERT_EQ (0, createTimerHeap (&mHeap));
        ASSERT_EQ (0, startDispatchTimerHeap (mHeap));
    }

    void TearDown () override
    {
        if (mHeap != nullptr)
        {
            EXPECT_EQ (0, destroyHeap (mHeap));
        }
    }

    // Arms a timer that raises `done`; being created last and due last, it
    // fires after every earlier timer had its chance.
    timerElement sentinel (Signal& done, long millis)
    {
        timerElement timer = nullptr;
        struct timeval tv = after (millis);
        EXPECT_EQ (0, createTimer (&timer, mHeap, [] (timerElement, void* closure) {
                                       static_cast<Signal*> (closure)->raise ();
                                   }, &tv, &done));
        return timer;
    }
};

struct Firing
{
    std::atomic<int> mCount{0};
    std::atomic<bool> mOnHeapThread{false};
    timerHeap mHeap = nullptr;
    timerElement mTimer = nullptr;
    std::vector<int>* mOrder = nullptr;
    int mId = 0;
    Signal mFired;
    Signal mFiredTwice;
};

void countFiring (timerElement timer, void* closure)
{
    auto* firing = static_cast<Firing*> (closure);
    firing->mOnHeapThread = pthread_equal (pthread_self (), timerHeapGetTid (firing->mHeap)) != 0
                         && timer == firing->mTimer;
    if (firing->mOrder != nullptr)
        firing->mOrder->push_back (firing->mId);
    if (++firing->mCount == 2)
        firing->mFiredTwice.raise ();
    firing->mFired.raise ();
}

TEST_F (TimerHeapFixture, TimerFiresOnceOnTheHeapThread)
{
    Firing firing;
    firing.mHeap = mHeap;
    struct timeval tv = after (10);
    ASSERT_EQ (0, createTimer (&firing.mTimer, mHeap, countFiring, &tv, &firing));
    ASSERT_TRUE (firing.mFired.wait ());

    Signal done;
    timerElement last = sentinel (done, 60);
    ASSERT_TRUE (done.wait ());
    EXPECT_EQ (1, firing.mCount);
    EXPECT_TRUE (firing.mOnHeapThread);
    EXPECT_EQ (0, destroyTimer (mHeap, firing.mTimer));
    EXPECT_EQ (0, destroyTimer (mHeap, last));
}

TEST_F (TimerHeapFixture, TimersFireInDeadlineOrder)
{
    std::vector<int> order;
    Firing late, early;
    late.mHeap = early.mHeap = mHeap;
    late.mOrder = early.mOrder = &order;
    late.mId = 2;
    early.mId = 1;
    struct timeval tvLate = after (40), tvEarly = after (5);
    lockTimerHeap (mHeap);   // both armed before either may fire
    ASSERT_EQ (0, createTimer (&late.mTimer, mHeap, countFiring, &tvLate, &late));
    ASSERT_EQ (0, createTimer (&early.mTimer, mHeap, countFiring, &tvEarly, &early));
    unlockTimerHeap (mHeap);
    ASSERT_TRUE (late.mFired.wait ());
    lockTimerHeap (mHeap);
    EXPECT_EQ ((std::vector<int>{1, 2}), order);
    unlockTimerHeap (mHeap);
    destroyTimer (mHeap, late.mTimer);
    destroyTimer (mHeap, early.mTimer);
}

TEST_F (TimerHeapFixture, DestroyedPendingTimerNeverFires)
{
    Firing firing;
    firing.mHeap = mHeap;
    struct timeval tv = after (10);
    ASSERT_EQ (0, createTimer (&firing.mTimer, mHeap, countFiring, &tv, &firing));
    ASSERT_EQ (0, destroyTimer (mHeap, firing.mTimer));

    Signal done;
    timerElement last = sentinel (done, 60);
    ASSERT_TRUE (done.wait ());
    EXPECT_EQ (0, firing.mCount);
    EXPECT_EQ (0, destroyTimer (mHeap, last));
}

struct Repeater
{
    timerHeap mHeap = nullptr;
    int mFirings = 0;
    Signal mDone;
};

// Re-arms itself twice, then frees itself from inside its own callback.
void repeatThenDestroy (timerElement timer, void* closure)
{
    auto* repeater = static_cast<Repeater*> (closure);
    if (++repeater->mFirings < 3)
    {
        struct timeval tv = after (1);
        EXPECT_EQ (0, resetTimer (repeater->mHeap, timer, &tv));
        return;
    }
    EXPECT_EQ (0, destroyTimer (repeater->mHeap, timer));
    repeater->mDone.raise ();
}

TEST_F (TimerHeapFixture, CallbackMayResetAndDestroyItsOwnTimer)
{
    Repeater repeater;
    repeater.mHeap = mHeap;
    timerElement timer = nullptr;
    struct timeval tv = after (1);
    ASSERT_EQ (0, createTimer (&timer, mHeap, repeatThenDestroy, &tv, &repeater));
    ASSERT_TRUE (repeater.mDone.wait ());

    Signal done;
    timerElement last = sentinel (done, 30);
    ASSERT_TRUE (done.wait ());
    EXPECT_EQ (3, repeater.mFirings);
    EXPECT_EQ (0, destroyTimer (mHeap, last));
}

struct Blocking
{
    Signal mEntered;
    Signal mRelease;
    std::atomic<bool> mFinished{false};
};

TEST_F (TimerHeapFixture, DestroyFromAnotherThreadWaitsForARunningCallback)
{
    Blocking blocking;
    timerElement timer = nullptr;
    struct timeval tv = after (1);
    ASSERT_EQ (0, createTimer (&timer, mHeap, [] (timerElement, void* closure) {
                                   auto* b = static_cast<Blocking*> (closure);
                                   b->mEntered.raise ();
                                   b->mRelease.wait ();
                                   b->mFinished = true;
                               }, &tv, &blocking));
    ASSERT_TRUE (blocking.mEntered.wait ());

    std::atomic<bool> finishedFirst{false};
    std::thread destroyer ([&] {
        EXPECT_EQ (0, destroyTimer (mHeap, timer));
        finishedFirst = blocking.mFinished.load ();
    });
    blocking.mRelease.raise ();
    destroyer.join ();
    EXPECT_TRUE (finishedFirst);
}

TEST_F (TimerHeapFixture, ResetRearmsATimerThatAlreadyFired)
{
    Firing firing;
    firing.mHeap = mHeap;
    struct timeval tv = after (1);
    ASSERT_EQ (0, createTimer (&firing.mTimer, mHeap, countFiring, &tv, &firing));
    ASSERT_TRUE (firing.mFired.wait ());
    ASSERT_EQ (0, resetTimer (mHeap, firing.mTimer, &tv));
    ASSERT_TRUE (firing.mFiredTwice.wait ());
    EXPECT_EQ (2, firing.mCount);
    EXPECT_EQ (0, destroyTimer (mHeap, firing.mTimer));
}

thread_local struct ExitWitness
{
    std::atomic<bool>* mExited = nullptr;
    ~ExitWitness ()
    {
        if (mExited != nullptr)
            *mExited = true;
    }
} tExitWitness;

TEST (TimerHeap, DestroyHeapJoinsTheThreadAndFreesPendingTimers)
{
    timerHeap heap = nullptr;
    ASSERT_EQ (0, createTimerHeap (&heap));
    ASSERT_EQ (0, startDispatchTimerHeap (heap));

    std::atomic<bool> exited{false};
    Signal armed;
    struct Arming
    {
        std::atomic<bool>* mExited;
        Signal* mArmed;
    } arming{&exited, &armed};
    timerElement witness = nullptr;
    struct timeval now = after (0);
    ASSERT_EQ (0, createTimer (&witness, heap, [] (timerElement, void* closure) {
                                   auto* a = static_cast<Arming*> (closure);
                                   tExitWitness.mExited = a->mExited;
                                   a->mArmed->raise ();
                               }, &now, &arming));
    ASSERT_TRUE (armed.wait ());

    timerElement pending = nullptr;
    struct timeval hour = after (3600 * 1000);
    ASSERT_EQ (0, createTimer (&pending, heap, [] (timerElement, void*) {}, &hour, nullptr));

    EXPECT_EQ (0, destroyHeap (heap));
    EXPECT_TRUE (exited);   // the heap thread has ended, not merely been told to
}

TEST (TimerHeap, NullArgumentsFail)
{
    timerElement timer = nullptr;
    struct timeval tv = after (1);
    EXPECT_EQ (-1, destroyHeap (nullptr));
    EXPECT_TRUE (pthread_equal (static_cast<pthread_t> (-1), timerHeapGetTid (nullptr)));

    timerHeap heap = nullptr;
    ASSERT_EQ (0, createTimerHeap (&heap));
    const timerFireCb cb = [] (timerElement, void*) {};
    EXPECT_EQ (-1, createTimer (&timer, heap, cb, nullptr, nullptr));
    EXPECT_EQ (-1, resetTimer (heap, nullptr, &tv));
    EXPECT_EQ (0, destroyHeap (heap));   // never started: nothing to join
}

} // namespace
