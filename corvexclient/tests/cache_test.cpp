/* Cache sessions: the last-value cache of the embedded router and the
 * outcomes of cache requests. */
#include "clientTestSupport.h"

using namespace corvextest;

namespace
{
constexpr uint32_t kNoWait = CORVEXCLIENT_CACHEREQUEST_FLAGS_DELIVER_CACHED |
                             CORVEXCLIENT_CACHEREQUEST_FLAGS_NO_LIVE_SUBSCRIBE |
                             CORVEXCLIENT_CACHEREQUEST_FLAGS_NO_WAIT;

class CacheTest : public ClientTest
{
  protected:
    void SetUp() override
    {
        ClientTest::SetUp();
        ASSERT_EQ(CORVEXCLIENT_OK, corvexClientTest_addCachedTopics(nullptr, "md/>"));
        mPublisher = session();
        mReceiver = session();
        ASSERT_EQ(CORVEXCLIENT_OK,
                  corvexClient_session_createCacheSession(nullptr, mReceiver, &mCache));
    }

    void TearDown() override
    {
        if (mCache)
        {
            EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_cacheSession_destroy(&mCache));
        }
        ClientTest::TearDown();
    }

    corvexClient_returnCode_t request(const char* topic, corvexClient_cacheRequestId_t id,
                                      ClientRecorder& outcomes)
    {
        return corvexClient_cacheSession_sendCacheRequest(
            mCache, topic, id, ClientRecorder::onCacheEvent, &outcomes, kNoWait, 0);
    }

    std::vector<CacheOutcome> outcomes(ClientRecorder& recorder)
    {
        return recorder.read<std::vector<CacheOutcome>>([&] { return recorder.mCacheOutcomes; });
    }

    corvexClient_session_t mPublisher = nullptr;
    corvexClient_session_t mReceiver = nullptr;
    corvexClient_cacheSession_t mCache = nullptr;
};
} // namespace

TEST_F(CacheTest, CachedMessagesArriveMarkedBeforeTheCompletedEvent)
{
    ASSERT_EQ(CORVEXCLIENT_OK, send(mPublisher, "md/IBM", "old"));
    ASSERT_EQ(CORVEXCLIENT_OK, send(mPublisher, "md/IBM", "last"));
    ASSERT_EQ(CORVEXCLIENT_OK, send(mPublisher, "other/IBM", "not cached"));
    Tagged tagged{&mRecorder, 1};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(mReceiver, "md/IBM", tagged,
                                         CORVEXCLIENT_SUBSCRIBE_FLAGS_LOCAL_DISPATCH_ONLY));

    /* The outcome is recorded in the same recorder, after the messages. */
    ASSERT_EQ(CORVEXCLIENT_IN_PROGRESS, request("md/IBM", 77, mRecorder));
    ASSERT_TRUE(mRecorder.waitUntil([&] { return mRecorder.mCacheOutcomes.size() == 1; }));
    const std::vector<ClientMsg> got =
        mRecorder.read<std::vector<ClientMsg>>([&] { return mRecorder.mMessages; });
    ASSERT_EQ(1u, got.size());
    EXPECT_EQ("last", got[0].mContent);
    EXPECT_EQ(CORVEXCLIENT_MSG_CACHED, got[0].mCached);
    EXPECT_EQ(77u, got[0].mRequestId);
    const CacheOutcome outcome = outcomes(mRecorder)[0];
    EXPECT_EQ(CORVEXCACHE_EVENT_REQUEST_COMPLETED_NOTICE, outcome.mEvent);
    EXPECT_EQ(CORVEXCLIENT_OK, outcome.mCode);
    EXPECT_EQ("md/IBM", outcome.mTopic);
    EXPECT_EQ(77u, outcome.mRequestId);
    EXPECT_EQ(&mRecorder, outcome.mUser);
}

TEST_F(CacheTest, RequestWithoutDataCompletesIncompleteWithSubCode51)
{
    ClientRecorder outcomesOf;
    ASSERT_EQ(CORVEXCLIENT_IN_PROGRESS, request("md/NONE", 5, outcomesOf));
    ASSERT_EQ(CORVEXCLIENT_OK, send(mPublisher, "other/x", "uncached topic"));
    ASSERT_EQ(CORVEXCLIENT_IN_PROGRESS, request("other/x", 6, outcomesOf));
    ASSERT_TRUE(outcomesOf.waitUntil([&] { return outcomesOf.mCacheOutcomes.size() == 2; }));
    for (const CacheOutcome& outcome : outcomes(outcomesOf))
    {
        EXPECT_EQ(CORVEXCLIENT_INCOMPLETE, outcome.mCode);
        EXPECT_EQ(51u, outcome.mSubCode);
    }
    EXPECT_EQ(5u, outcomes(outcomesOf)[0].mRequestId);
}

TEST_F(CacheTest, WildcardRequestIsAnsweredByEveryMatchingTopic)
{
    for (const char* topic : {"md/a/1", "md/a/2", "md/b/1"})
    {
        ASSERT_EQ(CORVEXCLIENT_OK, send(mPublisher, topic, topic));
    }
    Tagged tagged{&mRecorder, 1};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(mReceiver, "md/>", tagged,
                                         CORVEXCLIENT_SUBSCRIBE_FLAGS_LOCAL_DISPATCH_ONLY));
    ASSERT_EQ(CORVEXCLIENT_IN_PROGRESS, request("md/a/*", 9, mRecorder));
    ASSERT_TRUE(mRecorder.waitUntil([&] { return mRecorder.mCacheOutcomes.size() == 1; }));
    std::vector<std::string> topics = topicsOf(mRecorder);
    std::sort(topics.begin(), topics.end());
    EXPECT_EQ((std::vector<std::string>{"md/a/1", "md/a/2"}), topics);
    EXPECT_EQ(CORVEXCLIENT_OK, outcomes(mRecorder)[0].mCode);
}

TEST_F(CacheTest, WaitingRequestReturnsTheOutcome)
{
    ASSERT_EQ(CORVEXCLIENT_OK, send(mPublisher, "md/W", "w"));
    drain(mPublisher);
    EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_cacheSession_sendCacheRequest(
                                   mCache, "md/W", 1, nullptr, nullptr,
                                   CORVEXCLIENT_CACHEREQUEST_FLAGS_DELIVER_CACHED, 0));
    EXPECT_EQ(CORVEXCLIENT_INCOMPLETE, corvexClient_cacheSession_sendCacheRequest(
                                           mCache, "md/none", 2, nullptr, nullptr, 0, 0));
    EXPECT_EQ(51u, corvexClient_getLastErrorInfo()->mSubCode);
    /* A cached message reaches the session callback when no entry matches. */
    ASSERT_TRUE(mRecorder.waitForMessages(1));
}

TEST_F(CacheTest, ForcedOutcomeAndBadArguments)
{
    ClientRecorder outcomesOf;
    corvexClientTest_setNextCacheOutcome(CORVEXCLIENT_FAIL, CORVEXCLIENT_SUBCODE_CACHE_TIMEOUT);
    ASSERT_EQ(CORVEXCLIENT_IN_PROGRESS, request("md/T", 3, outcomesOf));
    ASSERT_TRUE(outcomesOf.waitUntil([&] { return outcomesOf.mCacheOutcomes.size() == 1; }));
    EXPECT_EQ(CORVEXCLIENT_FAIL, outcomes(outcomesOf)[0].mCode);
    EXPECT_EQ(55u, outcomes(outcomesOf)[0].mSubCode);

    EXPECT_EQ(CORVEXCLIENT_FAIL,
              corvexClient_cacheSession_sendCacheRequest(
                  mCache, "md/T", 3, ClientRecorder::onCacheEvent, &outcomesOf, kNoWait, 2));
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_cacheSession_sendCacheRequest(
                                     mCache, "md/T", 3, nullptr, nullptr, kNoWait, 0));
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_cacheSession_sendCacheRequest(
                                     nullptr, "md/T", 3, nullptr, nullptr, 0, 0));
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT, corvexClient_getLastErrorInfo()->mSubCode);
}

TEST_F(CacheTest, AccessControlAppliesToCacheRequests)
{
    corvexClientTest_addAclRule(nullptr, "*", "md/secret", CORVEXCLIENT_TEST_ACL_SUBSCRIBE,
                                CORVEXCLIENT_TEST_ACL_DENY);
    ASSERT_EQ(CORVEXCLIENT_OK, send(mPublisher, "md/secret", "s"));
    ClientRecorder outcomesOf;
    ASSERT_EQ(CORVEXCLIENT_IN_PROGRESS, request("md/secret", 4, outcomesOf));
    ASSERT_TRUE(outcomesOf.waitUntil([&] { return outcomesOf.mCacheOutcomes.size() == 1; }));
    EXPECT_EQ(CORVEXCLIENT_FAIL, outcomes(outcomesOf)[0].mCode);
    EXPECT_EQ(68u, outcomes(outcomesOf)[0].mSubCode);
}

TEST_F(CacheTest, OutcomeStillReportedWhenSessionIsDestroyedFirst)
{
    ClientRecorder outcomesOf;
    /* Hold the context thread inside a callback until both calls are made, so
     * the outcome is still queued when the session goes. */
    std::mutex gate;
    std::unique_lock<std::mutex> closed(gate);
    struct Blocker
    {
        static int onMessage(corvexClient_session_t, corvexClient_msg_t, void* user)
        {
            std::lock_guard<std::mutex> wait(*static_cast<std::mutex*>(user));
            return CORVEXCLIENT_CALLBACK_OK;
        }
    };
    CorvexDispatchInfo block{CORVEXCLIENT_DISPATCH_TYPE_CALLBACK, Blocker::onMessage, &gate,
                             nullptr};
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_topicSubscribeWithDispatch(
                                   mPublisher, 2, "block", &block, nullptr));
    ASSERT_EQ(CORVEXCLIENT_OK, send(mPublisher, "block", "x"));
    ASSERT_EQ(CORVEXCLIENT_IN_PROGRESS, request("md/none", 8, outcomesOf));
    std::thread destroyer(
        [&] { EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_session_destroy(&mSessions[1])); });
    /* Requests are refused once the destroy has closed the session. */
    pollUntil([&] { return request("md/none", 8, outcomesOf) != CORVEXCLIENT_IN_PROGRESS; });
    closed.unlock();
    destroyer.join();
    const std::vector<CacheOutcome> reported = outcomes(outcomesOf);
    ASSERT_GE(reported.size(), 1u);
    for (const CacheOutcome& outcome : reported)
    {
        EXPECT_EQ(CORVEXCLIENT_FAIL, outcome.mCode);
        EXPECT_EQ(87u, outcome.mSubCode);
    }
    /* The cache session outlived its session and now refuses requests. */
    EXPECT_EQ(CORVEXCLIENT_FAIL, request("md/none", 9, outcomesOf));
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_BAD_STATE, corvexClient_getLastErrorInfo()->mSubCode);
}
