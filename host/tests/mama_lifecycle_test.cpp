// mama_open/mama_close reference counting and payload loading, and the
// start/stop dispatch of a bridge's default queue.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <thread>

#include "mama_test_support.h"
#include "mamainternal.h"

using mamatest::LogCapture;
using mamatest::Signal;

namespace
{
class LifecycleTest : public ::testing::Test
{
  protected:
    void TearDown() override
    {
        mama_stopAll();
        while (mStarter.joinable())
        {
            mStarter.join();
        }
        mama_close();
    }

    mamaBridge loadFake()
    {
        mamaBridge bridge = nullptr;
        EXPECT_EQ(MAMA_STATUS_OK, mama_loadBridge(&bridge, "fake"));
        return bridge;
    }

    // Runs mama_start on its own thread; the result is kept in mStartStatus.
    void startInBackground(mamaBridge bridge)
    {
        mStarter = std::thread([this, bridge] { mStartStatus = mama_start(bridge); });
        waitUntilDispatching(bridge);
    }

    // A stop that overtakes the start of dispatching would be lost, so wait
    // until an event has run on the default queue.
    static void waitUntilDispatching(mamaBridge bridge)
    {
        mamaQueue queue = nullptr;
        ASSERT_EQ(MAMA_STATUS_OK, mama_getDefaultEventQueue(bridge, &queue));
        Signal ran;
        ASSERT_EQ(MAMA_STATUS_OK,
                  mamaQueue_enqueueEvent(
                      queue, [](mamaQueue, void* closure) { static_cast<Signal*>(closure)->set(); },
                      &ran));
        ASSERT_TRUE(ran.waitFor());
    }

    LogCapture mLog;
    std::thread mStarter;
    std::atomic<int> mStartStatus{-1};
};

TEST_F(LifecycleTest, OpenNeedsALoadedBridge)
{
    EXPECT_EQ(MAMA_STATUS_NO_BRIDGE_IMPL, mama_open());
}

TEST_F(LifecycleTest, OpenFailsWhenNoPayloadCanBeLoaded)
{
    setenv("FAKE_BRIDGE_PAYLOAD", "nosuchpayload", 1);
    setenv("FAKE_BRIDGE_PAYLOAD_ID", "Z", 1);
    loadFake();
    unsigned int count = 99;
    EXPECT_EQ(MAMA_STATUS_NO_BRIDGE_IMPL, mama_openCount(&count));
    EXPECT_EQ(99u, count);
}

TEST_F(LifecycleTest, OpenLoadsTheBridgePayloadAndCloseUnloadsItBeforeClosingTheBridge)
{
    mamaBridge bridge = loadFake();
    unsigned int count = 0;
    ASSERT_EQ(MAMA_STATUS_OK, mama_openCount(&count));
    EXPECT_EQ(1u, count);
    EXPECT_NE(nullptr, mamaInternal_findPayload('1'));
    EXPECT_GE(LogCapture::indexOf(mama_getVersion(bridge)), 0);

    ASSERT_EQ(MAMA_STATUS_OK, mama_openCount(&count));
    EXPECT_EQ(2u, count);
    ASSERT_EQ(MAMA_STATUS_OK, mama_closeCount(&count));
    EXPECT_EQ(1u, count);
    EXPECT_EQ(-1, LogCapture::indexOf("fake: close"));

    ASSERT_EQ(MAMA_STATUS_OK, mama_closeCount(&count));
    EXPECT_EQ(0u, count);
    EXPECT_EQ(1, LogCapture::count("fake: close"));
    EXPECT_EQ(nullptr, mamaInternal_findPayload('1'));
}

TEST_F(LifecycleTest, VersionText)
{
    mamaBridge bridge = loadFake();
    EXPECT_STREQ("mama 6.3.2 (1.0-fake) (non entitled)", mama_getVersion(bridge));
    EXPECT_EQ(nullptr, mama_getVersion(nullptr));
}

TEST_F(LifecycleTest, StartBlocksUntilStopAndOnlyTheFirstStartDispatches)
{
    mamaBridge bridge = loadFake();
    startInBackground(bridge);
    // A nested start only counts.
    EXPECT_EQ(MAMA_STATUS_OK, mama_start(bridge));
    EXPECT_EQ(MAMA_STATUS_OK, mama_stop(bridge));
    EXPECT_EQ(-1, LogCapture::indexOf("fake: stop"));
    EXPECT_EQ(-1, mStartStatus.load());

    EXPECT_EQ(MAMA_STATUS_OK, mama_stop(bridge));
    mStarter.join();
    EXPECT_EQ(MAMA_STATUS_OK, mStartStatus.load());
    EXPECT_EQ(1, LogCapture::count("fake: start"));
    EXPECT_EQ(1, LogCapture::count("fake: stop"));

    // Not started any more: nothing reaches the bridge.
    EXPECT_EQ(MAMA_STATUS_OK, mama_stop(bridge));
    EXPECT_EQ(1, LogCapture::count("fake: stop"));
}

struct BackgroundResult
{
    Signal mDone;
    mama_status mStatus = MAMA_STATUS_PLATFORM;
    mamaBridge mBridge = nullptr;
};

TEST_F(LifecycleTest, StartBackgroundReportsWhenDispatchEnds)
{
    mamaBridge bridge = loadFake();
    static BackgroundResult result;
    ASSERT_EQ(MAMA_STATUS_OK, mama_startBackgroundEx(
                                  bridge,
                                  [](mama_status status, mamaBridge stopped, void* closure)
                                  {
                                      auto* out = static_cast<BackgroundResult*>(closure);
                                      out->mStatus = status;
                                      out->mBridge = stopped;
                                      out->mDone.set();
                                  },
                                  &result));
    waitUntilDispatching(bridge);
    EXPECT_EQ(MAMA_STATUS_OK, mama_stopAll());
    ASSERT_TRUE(result.mDone.waitFor());
    EXPECT_EQ(MAMA_STATUS_OK, result.mStatus);
    EXPECT_EQ(bridge, result.mBridge);
}

TEST_F(LifecycleTest, StartBackgroundWithoutExtras)
{
    mamaBridge bridge = loadFake();
    static Signal done;
    static std::atomic<int> status{-1};
    ASSERT_EQ(MAMA_STATUS_OK, mama_startBackground(bridge,
                                                   [](mama_status result)
                                                   {
                                                       status = result;
                                                       done.set();
                                                   }));
    waitUntilDispatching(bridge);
    EXPECT_EQ(MAMA_STATUS_OK, mama_stop(bridge));
    ASSERT_TRUE(done.waitFor());
    EXPECT_EQ(MAMA_STATUS_OK, status.load());
}

TEST_F(LifecycleTest, StartAndStopArguments)
{
    EXPECT_EQ(MAMA_STATUS_NO_BRIDGE_IMPL, mama_start(nullptr));
    EXPECT_EQ(MAMA_STATUS_NO_BRIDGE_IMPL, mama_stop(nullptr));
    mamaBridge bridge = loadFake();
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mama_startBackground(bridge, nullptr));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mama_startBackgroundEx(bridge, nullptr, nullptr));
}

TEST_F(LifecycleTest, OpenAppliesTheLoggingLevelProperty)
{
    loadFake();
    ASSERT_EQ(MAMA_STATUS_OK, mama_setProperty("mama.logging.level", "FINER"));
    ASSERT_EQ(MAMA_STATUS_OK, mama_open());
    EXPECT_EQ(MAMA_LOG_LEVEL_FINER, mama_getLogLevel());
}
} // namespace
