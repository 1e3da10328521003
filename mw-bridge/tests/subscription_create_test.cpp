/* Creating subscriptions: the topic placed on the session with the flags of
 * the bridge's mode, the outcome settled in the call or by the session event,
 * and every refusal delivered to the application's error callback on the
 * thread that dispatches its queue. */
#include "subscriptionFixture.h"
#include "transport.h"

namespace
{
const char* const SUBSCRIBE = "corvexClient_session_topicSubscribeWithDispatch";

/* Text of a recorded subscribe call, up to the user pointer. */
std::string subscribeCall(uint32_t flags, const char* topic)
{
    return "flags=" + std::to_string(flags) + " topic=" + topic + " user=";
}

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool errorDeliveredOnce(MsgRecorder& recorder)
{
    return recorder.waitUntil([](MsgRecorder& r) { return r.mErrors.size() >= 1; });
}
} // namespace

TEST_F(SubscriptionTest, SynchronousSubscribeIsSettledWhenCreateReturns)
{
    start("false");
    MsgRecorder* recorder = nullptr;
    mamaSubscription subscription = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, subscribe("NYSE.IBM", &recorder, &subscription));

    std::vector<std::string> placed = vendorCalls(SUBSCRIBE);
    ASSERT_EQ(1u, placed.size());
    EXPECT_TRUE(startsWith(
        placed[0], subscribeCall(CORVEXCLIENT_SUBSCRIBE_FLAGS_WAIT_FOR_CONFIRM, "NYSE/IBM")))
        << placed[0];
    EXPECT_TRUE(bridgeIsValid(subscription));
    EXPECT_FALSE(bridgeHasWildcards(subscription));
    EXPECT_EQ(0u, corvexClientTest_callCount("corvexClient_cacheSession_sendCacheRequest"))
        << "basic subscriptions make no cache requests";
    CorvexSubscription* bridge = bridgeSubscription(subscription);
    ASSERT_NE(nullptr, bridge);
    /* The default depth shows only once 50000 events wait on the queue. */
    EXPECT_EQ(50000u, bridge->mMaxQueueDepth);
    EXPECT_FALSE(hasOutstandingTags(bridge));
}

TEST_F(SubscriptionTest, AsynchronousSubscribeIsConfirmedByTheSessionEventAndReceives)
{
    start();
    MsgRecorder* recorder = nullptr;
    mamaSubscription subscription = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, subscribe("NYSE.IBM", &recorder, &subscription));

    std::vector<std::string> placed = vendorCalls(SUBSCRIBE);
    ASSERT_EQ(1u, placed.size());
    EXPECT_TRUE(startsWith(placed[0],
                           subscribeCall(CORVEXCLIENT_SUBSCRIBE_FLAGS_REQUEST_CONFIRM, "NYSE/IBM")))
        << placed[0];
    EXPECT_TRUE(bridgeIsValid(subscription));
    CorvexSubscription* bridge = bridgeSubscription(subscription);
    EXPECT_TRUE(pollUntil([&] { return !hasOutstandingTags(bridge); }))
        << "the confirmation completes the tag";

    startDispatch();
    send(publisher("IBM", "NYSE"), 3);
    EXPECT_TRUE(recorder->waitUntil([](MsgRecorder& r) { return r.mMessages.size() == 3u; }));
    EXPECT_EQ(mDispatching.load(), recorder->messageThread());
    EXPECT_TRUE(recorder->errors().empty());
}

TEST_F(SubscriptionTest, AccessControlRefusalFailsTheCreateAndReachesTheErrorCallback)
{
    start("false");
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClientTest_addAclRule("embedded", "*", "SECRET/>",
                                                           CORVEXCLIENT_TEST_ACL_SUBSCRIBE,
                                                           CORVEXCLIENT_TEST_ACL_DENY));
    MsgRecorder* recorder = nullptr;
    EXPECT_EQ(MAMA_STATUS_NOT_ENTITLED, subscribe("SECRET.PLANS", &recorder));

    std::vector<std::string> refusals =
        LogCapture::matching("Error in corvexClient_session_topicSubscribe().");
    ASSERT_EQ(1u, refusals.size());
    EXPECT_EQ(0u, refusals[0].find("Normal ")) << refusals[0];
    EXPECT_TRUE(recorder->errors().empty()) << "errors wait for the queue's dispatch thread";

    startDispatch();
    ASSERT_TRUE(errorDeliveredOnce(*recorder));
    MsgRecorder::Error error = recorder->errors()[0];
    EXPECT_EQ(MAMA_STATUS_NOT_ENTITLED, error.mStatus);
    EXPECT_EQ("SECRET.PLANS", error.mSubject);
    EXPECT_EQ(mDispatching.load(), error.mThread);
}

/* The client library refuses a topic with an empty level: the application
 * is told its name is unusable, not that nothing was found. */
TEST_F(SubscriptionTest, ATopicWithAnEmptyLevelIsRefusedAsAnInvalidArgument)
{
    start("false");
    MsgRecorder* recorder = nullptr;
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG, subscribe("A..B", &recorder));
    EXPECT_EQ(1u,
              LogCapture::count("Removed corvex subscription from Bridge subscription after "
                                "corvexClient_session_topicSubscribeWithDispatch failure[rc=-1]"));

    startDispatch();
    ASSERT_TRUE(errorDeliveredOnce(*recorder));
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG, recorder->errors()[0].mStatus);
}

TEST_F(SubscriptionTest, AsynchronousRefusalDeactivatesBeforeTheErrorCallback)
{
    start();
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClientTest_addAclRule("embedded", "*", "SECRET/>",
                                                           CORVEXCLIENT_TEST_ACL_SUBSCRIBE,
                                                           CORVEXCLIENT_TEST_ACL_DENY));
    MsgRecorder* recorder = nullptr;
    mamaSubscription subscription = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, subscribe("SECRET.PLANS", &recorder, &subscription));
    EXPECT_TRUE(bridgeIsValid(subscription)) << "the outcome is not known yet";

    startDispatch();
    ASSERT_TRUE(errorDeliveredOnce(*recorder));
    MsgRecorder::Error error = recorder->errors()[0];
    EXPECT_EQ(MAMA_STATUS_NOT_ENTITLED, error.mStatus);
    EXPECT_EQ(mDispatching.load(), error.mThread);
    EXPECT_TRUE(error.mState == MAMA_SUBSCRIPTION_DEACTIVATING ||
                error.mState == MAMA_SUBSCRIPTION_DEACTIVATED)
        << mamaSubscription_stringForState(error.mState);

    /* The vendor kept nothing of the refused topic, so the deactivation's
     * destroy completes without waiting for a removal report. */
    EXPECT_TRUE(pollUntil([&] { return stateOf(subscription) == MAMA_SUBSCRIPTION_DEACTIVATED; }))
        << mamaSubscription_stringForState(stateOf(subscription));
    EXPECT_EQ(1u, recorder->errors().size());
}

TEST_F(SubscriptionTest, WildcardIsRefusedInAPlainSubscriptionOnly)
{
    start();
    MsgRecorder* plain = nullptr;
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG, subscribe("NYSE.*", &plain));
    EXPECT_EQ(0u, vendorCalls(SUBSCRIBE).size());
    EXPECT_EQ(
        1u, LogCapture::count("Wildcard character used in non-wildcard subscription, source=NYSE.* "
                              "symbol=(null)"));

    MsgRecorder* wildcard = nullptr;
    mamaSubscription subscription = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, subscribeWildCard("NYSE", "*", &wildcard, &subscription));
    EXPECT_TRUE(bridgeHasWildcards(subscription));
    EXPECT_EQ(1u, countContaining(vendorCalls(SUBSCRIBE), " topic=NYSE/* user="));

    startDispatch();
    ASSERT_TRUE(errorDeliveredOnce(*plain));
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG, plain->errors()[0].mStatus);
    EXPECT_EQ("NYSE.*", plain->errors()[0].mSubject);
    EXPECT_EQ(mDispatching.load(), plain->errors()[0].mThread);
    EXPECT_TRUE(wildcard->errors().empty());
}

TEST_F(SubscriptionTest, InboxTopicsAreDispatchedLocallyWhateverTheMode)
{
    start();
    void* native = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_getNativeTransport(mTransport, 0, &native));
    std::string inbox =
        std::string(static_cast<CorvexTransportBridge*>(native)->mInboxCorvexSubPrefix) + "reply1";

    MsgRecorder* recorder = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, subscribeWildCard(inbox.c_str(), nullptr, &recorder));
    std::vector<std::string> placed = vendorCalls(SUBSCRIBE);
    ASSERT_EQ(1u, placed.size());
    EXPECT_TRUE(startsWith(
        placed[0], subscribeCall(CORVEXCLIENT_SUBSCRIBE_FLAGS_LOCAL_DISPATCH_ONLY, inbox.c_str())))
        << placed[0];
}
