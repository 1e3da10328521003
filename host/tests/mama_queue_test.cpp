// Host event queues on the fake bridge: dispatching, the open-object rule,
// timed destroy, dispatcher threads and the optional bridge functions.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "mama_test_support.h"
#include "queueimpl.h"

using mamatest::Signal;

namespace
{
class QueueTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ(MAMA_STATUS_OK, mama_loadBridge(&mBridge, "fake"));
        ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_create(&mQueue, mBridge));
    }
    void TearDown() override
    {
        if (mQueue)
        {
            EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_destroy(mQueue));
        }
        mama_close();
    }

    static void MAMACALLTYPE countEvent(mamaQueue queue, void* closure)
    {
        auto* seen = static_cast<std::pair<mamaQueue, int>*>(closure);
        seen->first = queue;
        ++seen->second;
    }

    static void MAMACALLTYPE releaseObject(mamaQueue queue, void*)
    {
        mamaQueueLockHandle handle = queue;
        mamaQueue_decrementObjectCount(&handle, queue);
    }

    mamaBridge mBridge = nullptr;
    mamaQueue mQueue = nullptr;
};

TEST_F(QueueTest, EnqueuedEventsRunOnTheDispatchingThreadWithTheParentQueue)
{
    std::pair<mamaQueue, int> seen(nullptr, 0);
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_enqueueEvent(mQueue, countEvent, &seen));
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_enqueueEvent(mQueue, countEvent, &seen));
    size_t pending = 0;
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_getEventCount(mQueue, &pending));
    EXPECT_EQ(2u, pending);

    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_timedDispatch(mQueue, 100));
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_dispatchEvent(mQueue));
    EXPECT_EQ(2, seen.second);
    EXPECT_EQ(mQueue, seen.first);
    EXPECT_EQ(MAMA_STATUS_TIMEOUT, mamaQueue_timedDispatch(mQueue, 1));
    EXPECT_EQ(1, mamaQueueImpl_isDispatching(mQueue));
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_stopDispatch(mQueue));
    EXPECT_EQ(0, mamaQueueImpl_isDispatching(mQueue));
    EXPECT_EQ(mBridge, mamaQueueImpl_getBridgeImpl(mQueue));
}

TEST_F(QueueTest, NamesAndClosure)
{
    const char* name = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_getQueueName(mQueue, &name));
    EXPECT_EQ(0, std::string(name).rfind("NO_NAME_", 0));
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_setQueueName(mQueue, "orders"));
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_getQueueName(mQueue, &name));
    EXPECT_STREQ("orders", name);
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG, mamaQueue_setQueueName(mQueue, nullptr));
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_getQueueBridgeName(mQueue, &name));
    EXPECT_STREQ("fake", name);

    int token = 0;
    void* closure = nullptr;
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_setClosure(mQueue, &token));
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_getClosure(mQueue, &closure));
    EXPECT_EQ(&token, closure);
}

TEST_F(QueueTest, NullArguments)
{
    mamaQueue queue = nullptr;
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaQueue_create(nullptr, mBridge));
    EXPECT_EQ(MAMA_STATUS_NO_BRIDGE_IMPL, mamaQueue_create(&queue, nullptr));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaQueue_destroy(nullptr));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaQueue_dispatch(nullptr));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaQueue_timedDispatch(nullptr, 1));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaQueue_stopDispatch(nullptr));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaQueue_enqueueEvent(nullptr, countEvent, nullptr));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaQueue_enqueueEvent(mQueue, nullptr, nullptr));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaQueue_getNativeHandle(mQueue, nullptr));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaQueue_getEventCount(nullptr, nullptr));
    EXPECT_EQ(0, mamaQueueImpl_isDispatching(nullptr));
    EXPECT_EQ(nullptr, mamaQueueImpl_getBridgeImpl(nullptr));
    EXPECT_EQ(nullptr, mamaQueue_incrementObjectCount(nullptr, nullptr));
    mamaQueue_decrementObjectCount(nullptr, nullptr);
}

TEST_F(QueueTest, OpenObjectsPreventDestroyUntilReleased)
{
    mamaQueueLockHandle first = mamaQueue_incrementObjectCount(mQueue, this);
    mamaQueueLockHandle second = mamaQueue_incrementObjectCount(mQueue, this);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(MAMA_STATUS_QUEUE_OPEN_OBJECTS, mamaQueue_destroy(mQueue));
    mamaQueue_decrementObjectCount(&first, mQueue);
    EXPECT_EQ(nullptr, first);
    EXPECT_EQ(MAMA_STATUS_QUEUE_OPEN_OBJECTS, mamaQueue_destroy(mQueue));
    mamaQueue_decrementObjectCount(&second, mQueue);
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_destroy(mQueue));
    mQueue = nullptr;
}

TEST_F(QueueTest, TimedDestroyRejectsNonPositiveTimeouts)
{
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaQueue_destroyTimedWait(mQueue, 0));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaQueue_destroyTimedWait(mQueue, -5));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaQueue_destroyTimedWait(nullptr, 100));
}

TEST_F(QueueTest, TimedDestroyDispatchesUntilObjectsAreReleased)
{
    mamaQueue_incrementObjectCount(mQueue, this);
    // The release arrives as a queued event, as a bridge's destroy notification would.
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_enqueueEvent(mQueue, releaseObject, nullptr));
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_destroyTimedWait(mQueue, 1000));
    mQueue = nullptr;
}

TEST_F(QueueTest, TimedDestroyGivesUpWithTimeoutAndLeavesTheQueueUsable)
{
    mamaQueueLockHandle handle = mamaQueue_incrementObjectCount(mQueue, this);
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(MAMA_STATUS_TIMEOUT, mamaQueue_destroyTimedWait(mQueue, 100));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(90));

    std::pair<mamaQueue, int> seen(nullptr, 0);
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_enqueueEvent(mQueue, countEvent, &seen));
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_timedDispatch(mQueue, 100));
    EXPECT_EQ(1, seen.second);
    mamaQueue_decrementObjectCount(&handle, mQueue);
}

TEST_F(QueueTest, DestroyWaitReturnsOnceAnotherThreadReleasesTheObject)
{
    mamaQueueLockHandle handle = mamaQueue_incrementObjectCount(mQueue, this);
    // Runs inside destroyWait's own dispatching, proving it waits for the release.
    Signal waiting;
    ASSERT_EQ(MAMA_STATUS_OK,
              mamaQueue_enqueueEvent(
                  mQueue, [](mamaQueue, void* closure) { static_cast<Signal*>(closure)->set(); },
                  &waiting));
    std::thread releaser(
        [this, handle, &waiting]() mutable
        {
            waiting.waitFor();
            mamaQueue_decrementObjectCount(&handle, mQueue);
        });
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_destroyWait(mQueue));
    releaser.join();
    mQueue = nullptr;
}

TEST_F(QueueTest, DispatcherRunsEventsOnItsOwnThreadOnePerQueue)
{
    mamaDispatcher dispatcher = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaDispatcher_create(&dispatcher, mQueue));
    mamaDispatcher second = nullptr;
    EXPECT_EQ(MAMA_STATUS_TOO_MANY_DISPATCHERS, mamaDispatcher_create(&second, mQueue));
    mamaQueue owner = nullptr;
    EXPECT_EQ(MAMA_STATUS_OK, mamaDispatcher_getQueue(dispatcher, &owner));
    EXPECT_EQ(mQueue, owner);

    struct Seen
    {
        Signal mRan;
        std::thread::id mThread;
    } seen;
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_enqueueEvent(
                                  mQueue,
                                  [](mamaQueue, void* closure)
                                  {
                                      auto* out = static_cast<Seen*>(closure);
                                      out->mThread = std::this_thread::get_id();
                                      out->mRan.set();
                                  },
                                  &seen));
    ASSERT_TRUE(seen.mRan.waitFor());
    EXPECT_NE(std::this_thread::get_id(), seen.mThread);

    EXPECT_EQ(MAMA_STATUS_OK, mamaDispatcher_destroy(dispatcher));
    EXPECT_EQ(MAMA_STATUS_OK, mamaDispatcher_create(&second, mQueue));
    EXPECT_EQ(MAMA_STATUS_OK, mamaDispatcher_destroy(second));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaDispatcher_destroy(nullptr));
}

TEST_F(QueueTest, WatermarksAndMonitorCallbacks)
{
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_setHighWatermark(mQueue, 10));
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_setLowWatermark(mQueue, 2));
    // A value the bridge refuses leaves the old one.
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaQueue_setHighWatermark(mQueue, 0));
    size_t value = 0;
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_getHighWatermark(mQueue, &value));
    EXPECT_EQ(10u, value);
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_getLowWatermark(mQueue, &value));
    EXPECT_EQ(2u, value);

    static std::pair<size_t, size_t> reported;
    mamaQueueMonitorCallbacks callbacks;
    callbacks.onQueueHighWatermarkExceeded = [](mamaQueue, size_t size, void* closure)
    { static_cast<std::pair<size_t, size_t>*>(closure)->first = size; };
    callbacks.onQueueLowWatermark = [](mamaQueue, size_t size, void* closure)
    { static_cast<std::pair<size_t, size_t>*>(closure)->second = size; };
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueueImpl_highWatermarkExceeded(mQueue, 5)); // no callbacks yet
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_setQueueMonitorCallbacks(mQueue, &callbacks, &reported));
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueueImpl_highWatermarkExceeded(mQueue, 11));
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueueImpl_lowWatermarkExceeded(mQueue, 2));
    EXPECT_EQ(11u, reported.first);
    EXPECT_EQ(2u, reported.second);
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaQueueImpl_highWatermarkExceeded(nullptr, 1));
}

TEST_F(QueueTest, EnqueueCallbackRunsOnEveryEnqueueUntilRemoved)
{
    static int enqueued = 0;
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_setEnqueueCallback(
                                  mQueue, [](mamaQueue, void*) { ++enqueued; }, nullptr));
    std::pair<mamaQueue, int> seen(nullptr, 0);
    mamaQueue_enqueueEvent(mQueue, countEvent, &seen);
    EXPECT_EQ(1, enqueued);
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_removeEnqueueCallback(mQueue));
    mamaQueue_enqueueEvent(mQueue, countEvent, &seen);
    EXPECT_EQ(1, enqueued);
    void* native = nullptr;
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_getNativeHandle(mQueue, &native));
    EXPECT_NE(nullptr, native);
}

TEST_F(QueueTest, ReusableMessageIsKeptUntilDetached)
{
    mamaMsg msg = mamaQueueImpl_getMsg(mQueue);
    ASSERT_NE(nullptr, msg);
    EXPECT_EQ(msg, mamaQueueImpl_getMsg(mQueue));
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueueImpl_detachMsg(mQueue, msg));
    mamaMsg fresh = mamaQueueImpl_getMsg(mQueue);
    EXPECT_NE(nullptr, fresh);
    EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_destroy(msg));
}

TEST(QueueOptionalFunctionsTest, MissingBridgeFunctionsAreReportedNotCalled)
{
    mamaBridge bridge = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mama_loadBridge(&bridge, "fakebare"));
    mamaQueue queue = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_create(&queue, bridge));
    void* native = nullptr;
    size_t count = 0;
    EXPECT_EQ(MAMA_STATUS_NOT_IMPLEMENTED, mamaQueue_getNativeHandle(queue, &native));
    EXPECT_EQ(MAMA_STATUS_NOT_IMPLEMENTED, mamaQueue_getEventCount(queue, &count));
    EXPECT_EQ(MAMA_STATUS_NOT_IMPLEMENTED, mamaQueue_setHighWatermark(queue, 5));
    EXPECT_EQ(MAMA_STATUS_NOT_IMPLEMENTED, mamaQueue_setLowWatermark(queue, 5));
    EXPECT_EQ(MAMA_STATUS_NOT_IMPLEMENTED, mamaQueue_setEnqueueCallback(
                                               queue, [](mamaQueue, void*) {}, nullptr));
    EXPECT_EQ(MAMA_STATUS_NOT_IMPLEMENTED, mamaQueue_removeEnqueueCallback(queue));
    mamaQueue other = nullptr;
    EXPECT_EQ(MAMA_STATUS_NOT_IMPLEMENTED, mamaQueue_create_usingNative(&other, bridge, native));
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_destroy(queue));
    mama_close();
}
} // namespace
