// Transports on the host side: the bridge calls of create and destroy, load
// balancing, the optional refresh timer, and the application's callbacks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakebridges/objectsFakeBridge.h"

namespace
{
struct Events
{
    std::vector<int> mEvents;
    short mCauseInside = -1;
    const void* mInfoInside = nullptr;
    std::string mTopic;
    const void* mTopicInfo = nullptr;
};

void MAMACALLTYPE onTransportEvent(mamaTransport tport, mamaTransportEvent event, short,
                                   const void*, void* closure)
{
    Events* events = static_cast<Events*>(closure);
    events->mEvents.push_back(event);
    mamaTransport_getAdvisoryCauseAndPlatformInfo(tport, &events->mCauseInside,
                                                  &events->mInfoInside);
}

void MAMACALLTYPE onTopicEvent(mamaTransport, mamaTransportTopicEvent event, const char* topic,
                               const void* info, void* closure)
{
    Events* events = static_cast<Events*>(closure);
    events->mEvents.push_back(100 + event);
    events->mTopic = topic;
    events->mTopicInfo = info;
}

class TransportTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        objfake::world() = objfake::World();
        mBridge = objfake::openBridge();
    }
    void TearDown() override
    {
        EXPECT_EQ(MAMA_STATUS_OK, objfake::closeBridge(mBridge));
    }

    mamaBridge mBridge = nullptr;
    Events mEvents;
};

TEST_F(TransportTest, CreateAsksForLoadBalancingThenCreatesAndDestroys)
{
    mamaTransport tport = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_allocate(&tport));
    ASSERT_EQ(MAMA_STATUS_OK,
              mamaTransport_setTransportCallback(tport, onTransportEvent, &mEvents));
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_create(tport, "t1", mBridge));
    std::vector<std::string> expected = {"Transport_getNumLoadBalanceAttributes t1",
                                         "Transport_create t1"};
    EXPECT_EQ(expected, objfake::world().mCalls);
    // The connect event raised inside the bridge's create reached the application at once.
    EXPECT_EQ(std::vector<int>({MAMA_TRANSPORT_CONNECT}), mEvents.mEvents);

    const char* name = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_getName(tport, &name));
    EXPECT_STREQ("t1", name);
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_getMiddleware(tport, &name));
    EXPECT_STREQ("objfake", name);
    EXPECT_EQ(mBridge, mamaTransportImpl_getBridgeImpl(tport));
    transportBridge sub = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_getBridgeTransport(tport, &sub));
    EXPECT_EQ("t1", *reinterpret_cast<std::string*>(sub));
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG, mamaTransport_getBridgeTransportByIndex(tport, 1, &sub));
    EXPECT_EQ(nullptr, sub);
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG, mamaTransport_create(tport, "again", mBridge));

    objfake::world().mCalls.clear();
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_destroy(tport));
    EXPECT_EQ(std::vector<std::string>({"Transport_destroy t1"}), objfake::world().mCalls);
}

TEST_F(TransportTest, NullNameMeansDefault)
{
    mamaTransport tport = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_allocate(&tport));
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_create(tport, nullptr, mBridge));
    EXPECT_TRUE(objfake::called("Transport_create default"));
    EXPECT_EQ(MAMA_STATUS_OK, mamaTransport_destroy(tport));
}

TEST_F(TransportTest, LoadBalancedTransportHasOneSubTransportPerAttribute)
{
    objfake::world().mLoadBalanceCount = 3;
    mamaTransport tport = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_allocate(&tport));
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_create(tport, "lb", mBridge));
    for (int i = 0; i < 3; ++i)
    {
        transportBridge sub = nullptr;
        ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_getBridgeTransportByIndex(tport, i, &sub));
        EXPECT_EQ("lb.lb" + std::to_string(i), *reinterpret_cast<std::string*>(sub));
    }
    EXPECT_EQ(MAMA_STATUS_OK, mamaTransport_destroy(tport));
    EXPECT_TRUE(objfake::called("Transport_destroy lb.lb2"));
}

TEST_F(TransportTest, FailedSubTransportUndoesTheOthers)
{
    objfake::world().mLoadBalanceCount = 2;
    mamaTransport tport = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_allocate(&tport));
    // Refuse the second sub-transport only.
    mBridge->bridgeMamaTransportCreate =
        [](transportBridge* result, const char* name, mamaTransport parent)
    {
        if (std::string(name) == "bad.lb1")
        {
            return MAMA_STATUS_PLATFORM;
        }
        return objfake::transportCreate(result, name, parent);
    };
    EXPECT_EQ(MAMA_STATUS_PLATFORM, mamaTransport_create(tport, "bad", mBridge));
    EXPECT_TRUE(objfake::called("Transport_destroy bad.lb0"));
    const char* name = "unchanged";
    EXPECT_EQ(MAMA_STATUS_OK, mamaTransport_getName(tport, &name));
    EXPECT_EQ(nullptr, name);
    EXPECT_EQ(MAMA_STATUS_OK, mamaTransport_deallocate(tport));
}

TEST_F(TransportTest, CreateNeedsBridgeAndDefaultQueue)
{
    mamaTransport tport = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_allocate(&tport));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaTransport_create(nullptr, "t", mBridge));
    EXPECT_EQ(MAMA_STATUS_NO_BRIDGE_IMPL, mamaTransport_create(tport, "t", nullptr));

    mamaBridgeImpl bare = {};
    EXPECT_EQ(MAMA_STATUS_INVALID_QUEUE, mamaTransport_create(tport, "t", &bare));
    EXPECT_TRUE(objfake::world().mCalls.empty());
    EXPECT_EQ(MAMA_STATUS_OK, mamaTransport_deallocate(tport));
}

TEST_F(TransportTest, BridgeWithoutLoadBalancingFunctionStillCreates)
{
    mBridge->bridgeMamaTransportGetNumLoadBalanceAttributes = nullptr;
    mamaTransport tport = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_allocate(&tport));
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_create(tport, "t", mBridge));
    EXPECT_EQ(MAMA_STATUS_OK, mamaTransport_destroy(tport));
}

TEST_F(TransportTest, RefreshTimerOnlyWhenEnabledAndAlwaysDestroyed)
{
    mamaQueue defaultQueue = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mama_getDefaultEventQueue(mBridge, &defaultQueue));

    mamaTransport plain = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_allocate(&plain));
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_create(plain, "plain", mBridge));
    EXPECT_FALSE(objfake::called("Timer_create"));
    EXPECT_TRUE(mamaTransportImpl_disableRefresh(plain));
    EXPECT_EQ(MAMA_STATUS_OK, mamaTransport_destroy(plain));

    ASSERT_EQ(MAMA_STATUS_OK, mama_setProperty("mama.transport.refreshed.enable_refresh", "true"));
    mamaTransport refreshed = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_allocate(&refreshed));
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_create(refreshed, "refreshed", mBridge));
    EXPECT_TRUE(objfake::called("Timer_create"));
    EXPECT_DOUBLE_EQ(13.99, objfake::world().mTimerInterval);
    EXPECT_FALSE(mamaTransportImpl_disableRefresh(refreshed));

    // Even with an invalid sub-transport the timer goes, so the default queue can close.
    objfake::world().mTransportsValid = false;
    EXPECT_EQ(MAMA_STATUS_OK, mamaTransport_destroy(refreshed));
    EXPECT_TRUE(objfake::called("Timer_destroy"));
    EXPECT_EQ(1, objfake::runPending(defaultQueue));
}

TEST_F(TransportTest, CallbacksAreInvokedSynchronouslyWithTheirClosure)
{
    mamaTransport tport = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_allocate(&tport));
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_create(tport, "t", mBridge));
    // Nothing set: nothing called, nothing breaks.
    mamaTransportImpl_invokeTransportCallback(tport, MAMA_TRANSPORT_DISCONNECT, 0, nullptr);
    mamaTransportImpl_invokeTransportTopicCallback(tport, MAMA_TRANSPORT_TOPIC_PUBLISH_ERROR, "A",
                                                   nullptr);
    mamaTransportImpl_invokeTransportCallback(nullptr, MAMA_TRANSPORT_DISCONNECT, 0, nullptr);

    ASSERT_EQ(MAMA_STATUS_OK,
              mamaTransport_setTransportCallback(tport, onTransportEvent, &mEvents));
    ASSERT_EQ(MAMA_STATUS_OK,
              mamaTransport_setTransportTopicCallback(tport, onTopicEvent, &mEvents));
    int info = 0;
    mamaTransportImpl_invokeTransportCallback(tport, MAMA_TRANSPORT_DISCONNECT, 7, &info);
    EXPECT_EQ(std::vector<int>({MAMA_TRANSPORT_DISCONNECT}), mEvents.mEvents);
    EXPECT_EQ(7, mEvents.mCauseInside);
    EXPECT_EQ(&info, mEvents.mInfoInside);
    // Outside a callback the advisory information is cleared.
    short cause = -1;
    const void* platformInfo = &cause;
    ASSERT_EQ(MAMA_STATUS_OK,
              mamaTransport_getAdvisoryCauseAndPlatformInfo(tport, &cause, &platformInfo));
    EXPECT_EQ(0, cause);
    EXPECT_EQ(nullptr, platformInfo);

    mamaTransportImpl_invokeTransportTopicCallback(
        tport, MAMA_TRANSPORT_TOPIC_PUBLISH_ERROR_BAD_SYMBOL, "NYSE.X", &info);
    EXPECT_EQ(100 + MAMA_TRANSPORT_TOPIC_PUBLISH_ERROR_BAD_SYMBOL, mEvents.mEvents.back());
    EXPECT_EQ("NYSE.X", mEvents.mTopic);
    EXPECT_EQ(&info, mEvents.mTopicInfo);
    EXPECT_EQ(MAMA_STATUS_OK, mamaTransport_destroy(tport));
}

TEST_F(TransportTest, CallbackQueueIsNullUntilSet)
{
    mamaTransport tport = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_allocate(&tport));
    mamaQueue queue = reinterpret_cast<mamaQueue>(&queue);
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_getTransportCallbackQueue(tport, &queue));
    EXPECT_EQ(nullptr, queue);
    mamaQueue defaultQueue = nullptr;
    mama_getDefaultEventQueue(mBridge, &defaultQueue);
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_setTransportCallbackQueue(tport, defaultQueue));
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_getTransportCallbackQueue(tport, &queue));
    EXPECT_EQ(defaultQueue, queue);
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaTransport_getTransportCallbackQueue(tport, nullptr));
    EXPECT_EQ(MAMA_STATUS_OK, mamaTransport_deallocate(tport));
}

TEST_F(TransportTest, ThrottleRatesAndUnsupportedNativeAccess)
{
    mamaTransport tport = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_allocate(&tport));
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_create(tport, "t", mBridge));
    double rate = 0;
    ASSERT_EQ(MAMA_STATUS_OK,
              mamaTransport_getOutboundThrottle(tport, MAMA_THROTTLE_DEFAULT, &rate));
    EXPECT_EQ(MAMA_DEFAULT_THROTTLE_RATE, rate);
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_getOutboundThrottle(tport, MAMA_THROTTLE_RECAP, &rate));
    EXPECT_EQ(MAMA_DEFAULT_RECAP_THROTTLE_RATE, rate);
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG,
              mamaTransport_setOutboundThrottle(tport, MAMA_THROTTLE_DEFAULT, -1));
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG, mamaTransport_getOutboundThrottle(
                                           tport, static_cast<mamaThrottleInstance>(9), &rate));
    void* native = nullptr;
    EXPECT_EQ(MAMA_STATUS_NOT_IMPLEMENTED, mamaTransport_getNativeTransport(tport, 0, &native));
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG, mamaTransport_getNativeTransport(tport, -1, &native));
    EXPECT_EQ(MAMA_STATUS_OK, mamaTransport_destroy(tport));
}

TEST(TransportTexts, EventNames)
{
    EXPECT_STREQ("RECONNECT", mamaTransportEvent_toString(MAMA_TRANSPORT_RECONNECT));
    EXPECT_STREQ("MAMA_TRANSPORT_WRITE_QUEUE_LOW_WATER_MARK",
                 mamaTransportEvent_toString(MAMA_TRANSPORT_WRITE_QUEUE_LOW_WATER_MARK));
    EXPECT_STREQ("UNKNOWN", mamaTransportEvent_toString(static_cast<mamaTransportEvent>(12)));
    EXPECT_STREQ("PUBLISH_ERROR_NOT_ENTITLED",
                 mamaTransportTopicEvent_toString(MAMA_TRANSPORT_TOPIC_PUBLISH_ERROR_NOT_ENTITLED));
    EXPECT_STREQ("UNKNOWN",
                 mamaTransportTopicEvent_toString(static_cast<mamaTransportTopicEvent>(-1)));
}
} // namespace
