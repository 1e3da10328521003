/* Router configuration by session properties: which topics the last-value
 * cache keeps, access rules, who configures a shared router, and test
 * control's overrides. */
#include <algorithm>
#include <atomic>

#include "clientTestSupport.h"

using namespace corvextest;

namespace
{
constexpr uint32_t kNoWait =
    CORVEXCLIENT_CACHEREQUEST_FLAGS_DELIVER_CACHED | CORVEXCLIENT_CACHEREQUEST_FLAGS_NO_WAIT;

/* One line of everything a cached answer carries, for comparison. */
struct Summaries : ClientRecorder
{
    std::vector<std::string> mLines;

    static int onMessage(corvexClient_session_t, corvexClient_msg_t msg, void* user)
    {
        Summaries* summaries = static_cast<Summaries*>(user);
        const ClientMsg copy = copyOf(msg, user);
        int32_t mode = -1;
        corvexClient_container_t map = nullptr;
        std::string line = copy.mContent + " reply=" + copy.mReplyTo;
        corvexClient_msg_getDeliveryMode(msg, &mode);
        if (corvexClient_msg_getUserPropertyMap(msg, &map) == CORVEXCLIENT_OK)
        {
            const char* text = "";
            int32_t number = -1;
            corvexClient_container_getStringPtr(map, "U", &text);
            corvexClient_container_getInt32(map, "N", &number);
            line += std::string(" U=") + text + " N=" + std::to_string(number);
        }
        line += " mode=" + std::to_string(mode) + " cached=" + std::to_string(copy.mCached) +
                " id=" + std::to_string(copy.mRequestId);
        summaries->record([&] { summaries->mLines.push_back(line); });
        return CORVEXCLIENT_CALLBACK_OK;
    }
};

class RouterConfigTest : public ClientTest
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_log_setCallback(onLog, this));
        ClientTest::SetUp();
    }
    void TearDown() override
    {
        ClientTest::TearDown();
        corvexClient_log_unsetCallback();
    }

    /* Sends a cache request and waits for its outcome; the cached messages
     * were delivered before it. */
    CacheOutcome ask(corvexClient_session_t session, const char* topic,
                     corvexClient_cacheRequestId_t id = 1)
    {
        corvexClient_cacheSession_t cache = nullptr;
        ClientRecorder outcomes;
        EXPECT_EQ(CORVEXCLIENT_OK,
                  corvexClient_session_createCacheSession(nullptr, session, &cache));
        EXPECT_EQ(CORVEXCLIENT_IN_PROGRESS,
                  corvexClient_cacheSession_sendCacheRequest(
                      cache, topic, id, ClientRecorder::onCacheEvent, &outcomes, kNoWait, 0));
        const bool done = outcomes.waitUntil([&] { return !outcomes.mCacheOutcomes.empty(); });
        EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_cacheSession_destroy(&cache));
        return done
                   ? outcomes.read<CacheOutcome>([&] { return outcomes.mCacheOutcomes[0]; })
                   : CacheOutcome{-1, topic,  CORVEXCLIENT_FAIL, CORVEXCLIENT_SUBCODE_CACHE_TIMEOUT,
                                  id, nullptr};
    }

    /* The topics a request answers with (sorted); empty when the outcome says
     * nothing was cached. */
    std::vector<std::string> cached(corvexClient_session_t session, const char* topic)
    {
        const size_t before = mRecorder.messageCount();
        const CacheOutcome outcome = ask(session, topic);
        std::vector<std::string> topics = topicsOf(mRecorder);
        topics.erase(topics.begin(), topics.begin() + static_cast<std::ptrdiff_t>(before));
        std::sort(topics.begin(), topics.end());
        EXPECT_EQ(topics.empty() ? CORVEXCLIENT_INCOMPLETE : CORVEXCLIENT_OK, outcome.mCode)
            << topic;
        EXPECT_EQ(topics.empty() ? CORVEXCLIENT_SUBCODE_CACHE_NO_DATA : CORVEXCLIENT_SUBCODE_OK,
                  outcome.mSubCode);
        return topics;
    }

    corvexClient_returnCode_t create(std::vector<const char*> properties)
    {
        properties.push_back(nullptr);
        mSessions.push_back(nullptr);
        return corvexClient_session_create(properties.data(), mContext, &mSessions.back(), nullptr,
                                           0);
    }

    /* Keeps what the library logs at warning level or above, with its category. */
    static void onLog(const corvexClient_logInfo_t* record, void* user)
    {
        RouterConfigTest* test = static_cast<RouterConfigTest*>(user);
        std::lock_guard<std::mutex> guard(test->mLogLock);
        if (record->mLevel <= CORVEXCLIENT_LOG_WARNING)
            test->mWarnings.push_back(std::to_string(record->mCategory) + " " + record->mMessage);
    }
    std::vector<std::string> lines()
    {
        std::lock_guard<std::mutex> guard(mLogLock);
        return mWarnings;
    }

    /* Sends content with a map of (user, number) when user is given; the
     * sender's buffers are overwritten at once, as the router must copy. */
    static void publish(corvexClient_session_t session, const char* topic,
                        const std::string& content, const char* user, int32_t number,
                        const char* replyTo = nullptr, int32_t mode = 0)
    {
        alignas(8) char buffer[256];
        std::string bytes = content;
        corvexClient_container_t map = nullptr;
        corvexClient_msg_t msg = nullptr;
        corvexClient_destination_t dest{CORVEXCLIENT_DEST_TOPIC, replyTo};
        ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_msg_alloc(&msg));
        corvexClient_msg_setTopicPtr(msg, topic);
        corvexClient_msg_setBinaryAttachmentPtr(msg, bytes.data(),
                                                static_cast<uint32_t>(bytes.size()));
        corvexClient_msg_setDeliveryMode(msg, mode);
        if (replyTo)
            corvexClient_msg_setReplyTo(msg, &dest, sizeof(dest));
        if (user)
        {
            corvexClient_container_createMap(&map, buffer, sizeof(buffer));
            corvexClient_container_addString(map, user, "U");
            corvexClient_container_addInt32(map, number, "N");
            corvexClient_msg_setUserPropertyMap(msg, map);
        }
        EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_session_sendMsg(session, msg));
        corvexClient_msg_free(&msg);
        std::fill(bytes.begin(), bytes.end(), 'X');
        std::memset(buffer, 0, sizeof(buffer));
        if (map)
            corvexClient_container_closeMapStream(&map);
    }

    std::mutex mLogLock;
    std::vector<std::string> mWarnings;
};

using Topics = std::vector<std::string>;
} // namespace

TEST_F(RouterConfigTest, ByDefaultEveryPublishedTopicIsCachedButPeerToPeerTopicsNever)
{
    corvexClient_session_t publisher = session();
    corvexClient_session_t receiver = session({"SESSION_CLIENT_NAME", "rx"});
    EXPECT_EQ(Topics{}, cached(receiver, "a/b"));
    ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "a/b", "one"));
    ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "x/y/z", "two"));
    ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "#P2P/v:embedded/rx/inbox", "reply"));
    ASSERT_TRUE(mRecorder.waitForMessages(1)); /* the peer-to-peer message itself arrives */

    EXPECT_EQ(Topics{"a/b"}, cached(receiver, "a/b"));
    EXPECT_EQ(Topics{}, cached(receiver, "#P2P/v:embedded/rx/inbox"));
    EXPECT_EQ(Topics{}, cached(receiver, "never/sent"));
    EXPECT_EQ((Topics{"a/b", "x/y/z"}), cached(receiver, ">"));
    EXPECT_EQ(Topics{"x/y/z"}, cached(receiver, "x/*/z"));
}

TEST_F(RouterConfigTest, CacheServesOnlyTheLastValueWithItsOwnFieldsAfterEveryRefill)
{
    corvexClient_session_t publisher = session();
    corvexClient_session_t receiver = session();
    Summaries summaries;
    CorvexDispatchInfo dispatch{CORVEXCLIENT_DISPATCH_TYPE_CALLBACK, Summaries::onMessage,
                                &summaries, nullptr};
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_topicSubscribeWithDispatch(
                                   receiver, CORVEXCLIENT_SUBSCRIBE_FLAGS_LOCAL_DISPATCH_ONLY,
                                   "q/IBM", &dispatch, nullptr));
    struct Version
    {
        std::string mContent;
        const char* mUser; /* NULL: no map */
        const char* mReplyTo;
        int32_t mMode;
    };
    /* Medium, shorter, much longer (the cached copy must grow), short again. */
    const std::vector<Version> versions = {
        {"medium", "alice", "#P2P/v:embedded/a/r", 1},
        {"s", nullptr, nullptr, 0},
        {std::string(20000, 'L') + "end", "bob-longer", "#P2P/v:embedded/b/r/to", 1},
        {"tiny", nullptr, "#P2P/v:embedded/c/r", 0}};
    for (size_t i = 0; i < versions.size(); ++i)
    {
        const Version& version = versions[i];
        publish(publisher, "q/IBM", version.mContent, version.mUser, static_cast<int32_t>(i),
                version.mReplyTo, version.mMode);
        const std::string expected =
            version.mContent + " reply=" + (version.mReplyTo ? version.mReplyTo : "") +
            (version.mUser ? std::string(" U=") + version.mUser + " N=" + std::to_string(i) : "") +
            " mode=" + std::to_string(version.mMode);
        /* Asked twice, the cache answers twice with the last value only. */
        for (corvexClient_cacheRequestId_t id : {40 + i, 50 + i})
        {
            const size_t before = summaries.read<size_t>([&] { return summaries.mLines.size(); });
            EXPECT_EQ(CORVEXCLIENT_OK, ask(receiver, "q/IBM", id).mCode);
            const std::vector<std::string> got =
                summaries.read<std::vector<std::string>>([&] { return summaries.mLines; });
            ASSERT_EQ(before + 1, got.size()) << "version " << i;
            EXPECT_EQ(expected + " cached=1 id=" + std::to_string(id), got.back())
                << "version " << i;
        }
    }
}

TEST_F(RouterConfigTest, NoneOrEmptyTurnsTheCacheOffAndPatternsSelectTopics)
{
    const char* off[] = {"none", "", " NONE "};
    for (int i = 0; i < 3; ++i)
    {
        const std::string router = "embedded:off" + std::to_string(i);
        corvexClient_session_t s =
            session({"SESSION_ROUTER", router.c_str(), "SESSION_ROUTER_CACHED_TOPICS", off[i]});
        ASSERT_EQ(CORVEXCLIENT_OK, send(s, "a/b", "x"));
        EXPECT_EQ(Topics{}, cached(s, ">")) << "'" << off[i] << "'";
    }
    corvexClient_session_t s = session({"SESSION_ROUTER", "embedded:some",
                                        "SESSION_ROUTER_CACHED_TOPICS", " NYSE/>, FX/EUR* ,x/*/z"});
    for (const char* topic :
         {"NYSE/IBM", "NYSE", "FX/EURUSD", "FX/USDJPY", "FX/EUR/USD", "x/y/z", "x/y", "other/x"})
    {
        ASSERT_EQ(CORVEXCLIENT_OK, send(s, topic, topic));
    }
    EXPECT_EQ((Topics{"FX/EURUSD", "NYSE/IBM", "x/y/z"}), cached(s, ">"));
    /* ">" among patterns caches every topic. */
    corvexClient_session_t all =
        session({"SESSION_ROUTER", "embedded:all", "SESSION_ROUTER_CACHED_TOPICS", "a/b,>"});
    ASSERT_EQ(CORVEXCLIENT_OK, send(all, "c/d", "y"));
    EXPECT_EQ(Topics{"c/d"}, cached(all, ">"));
}

TEST_F(RouterConfigTest, MalformedValuesFailSessionCreateNamingTheProperty)
{
    const char* cachedTopics = "SESSION_ROUTER_CACHED_TOPICS";
    const char* accessRules = "SESSION_ROUTER_ACCESS_RULES";
    const char* pendingLimit = "SESSION_ROUTER_PENDING_LIMIT";
    const std::vector<std::pair<const char*, const char*>> bad = {
        {pendingLimit, "0"},
        {pendingLimit, "many"},
        {pendingLimit, "4294967296"},
        {cachedTopics, "a/>,,b"},
        {cachedTopics, "a/>,"},
        {cachedTopics, "none,a/b"},
        {cachedTopics, "a/b, None"},
        {cachedTopics, "a//b"},
        {"session_router_cached_topics", "/a"},
        {accessRules, "deny alice subscribe"},
        {accessRules, "deny alice subscribe a/b extra"},
        {accessRules, "allow * all >; block alice subscribe a"},
        {accessRules, "deny alice read a"},
        {accessRules, "deny alice subscribe a//b"}};
    for (const auto& property : bad)
    {
        EXPECT_EQ(CORVEXCLIENT_FAIL, create({property.first, property.second})) << property.second;
        const corvexClient_errorInfo_t* error = corvexClient_getLastErrorInfo();
        ASSERT_NE(nullptr, error);
        EXPECT_EQ(CORVEXCLIENT_SUBCODE_BAD_PROPERTY_VALUE, error->mSubCode) << property.second;
        const char* name = property.first == accessRules || property.first == pendingLimit
                               ? property.first
                               : cachedTopics;
        EXPECT_NE(nullptr, std::strstr(error->mErrorText, name)) << error->mErrorText;
    }
    /* A bad value of one property is refused even when the other is good. */
    EXPECT_EQ(CORVEXCLIENT_FAIL, create({cachedTopics, "a/>", accessRules, "x"}));
    EXPECT_EQ(CORVEXCLIENT_FAIL, create({cachedTopics, "a,", accessRules, ""}));
    /* Blanks, tabs and empty rules are fine. */
    EXPECT_EQ(CORVEXCLIENT_OK,
              create({accessRules, " ;deny\tbob  publish a/* ;; ALLOW * All > ;"}));
}

TEST_F(RouterConfigTest, AccessRulesRefuseSubscriptionsPublishesAndCacheRequestsPerUser)
{
    const char* rules = "deny alice subscribe NYSE/IBM; deny eve publish orders/>; deny * all "
                        "secret/>; allow * all >";
    corvexClient_session_t alice =
        session({"SESSION_USERNAME", "alice", "SESSION_ROUTER_ACCESS_RULES", rules});
    corvexClient_session_t bob = session({"SESSION_USERNAME", "bob"});
    corvexClient_session_t eve = session({"SESSION_USERNAME", "eve"});
    Tagged tagged{&mRecorder, 1};
    EXPECT_EQ(CORVEXCLIENT_FAIL, subscribe(alice, "NYSE/IBM", tagged));
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_SUBSCRIBE_NOT_PERMITTED,
              corvexClient_getLastErrorInfo()->mSubCode);
    EXPECT_EQ(CORVEXCLIENT_OK, subscribe(alice, "NYSE/MSFT", tagged));
    EXPECT_EQ(CORVEXCLIENT_OK, subscribe(bob, "NYSE/IBM", tagged));
    EXPECT_EQ(CORVEXCLIENT_FAIL, subscribe(bob, "secret/plans", tagged));
    Tagged orders{&mRecorder, 2};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(bob, "orders/>", orders));
    EXPECT_EQ(CORVEXCLIENT_OK, send(eve, "orders/new", "refused"));
    EXPECT_EQ(CORVEXCLIENT_OK, send(bob, "secret/plans", "refused too"));
    ASSERT_TRUE(mRecorder.waitForEvents(2));
    for (const Event& event : mRecorder.read<std::vector<Event>>([&] { return mRecorder.mEvents; }))
    {
        EXPECT_EQ(CORVEXCLIENT_SESSION_EVENT_MSG_REJECTED, event.mEvent);
        EXPECT_EQ(CORVEXCLIENT_SUBCODE_PUBLISH_NOT_PERMITTED, event.mSubCode);
    }
    EXPECT_EQ(CORVEXCLIENT_OK, send(bob, "orders/new", "allowed"));
    EXPECT_EQ(CORVEXCLIENT_OK, send(bob, "NYSE/IBM", "price"));
    ASSERT_TRUE(mRecorder.waitForMessages(1));
    drain(bob);
    EXPECT_EQ((Topics{"orders/new", "NYSE/IBM"}), topicsOf(mRecorder))
        << "a refused publish was delivered";

    /* Cache requests are checked as subscriptions; refused publishes left
     * nothing in the cache. */
    EXPECT_EQ(CORVEXCLIENT_FAIL, ask(alice, "NYSE/IBM").mCode);
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_SUBSCRIBE_NOT_PERMITTED, ask(alice, "NYSE/IBM").mSubCode);
    EXPECT_EQ(CORVEXCLIENT_OK, ask(bob, "NYSE/IBM").mCode);
    EXPECT_EQ(CORVEXCLIENT_OK, ask(eve, "orders/new").mCode); /* publish rules do not apply */
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_SUBSCRIBE_NOT_PERMITTED, ask(eve, "secret/plans").mSubCode);
    corvexClientTest_clearAcl(nullptr);
    EXPECT_EQ(Topics{}, cached(eve, "secret/plans"));
}

TEST_F(RouterConfigTest, FirstMatchingRuleDecides)
{
    corvexClient_session_t ann = session({"SESSION_ROUTER", "embedded:r1", "SESSION_USERNAME",
                                          "ann", "SESSION_ROUTER_ACCESS_RULES",
                                          "allow ann subscribe px/open; deny * subscribe px/>"});
    corvexClient_session_t bob =
        session({"SESSION_ROUTER", "embedded:r1", "SESSION_USERNAME", "bob"});
    corvexClient_session_t late = session({"SESSION_ROUTER", "embedded:r2", "SESSION_USERNAME",
                                           "ann", "SESSION_ROUTER_ACCESS_RULES",
                                           "deny * subscribe px/>; allow ann subscribe px/open"});
    Tagged tagged{&mRecorder, 1};
    EXPECT_EQ(CORVEXCLIENT_OK, subscribe(ann, "px/open", tagged));
    EXPECT_EQ(CORVEXCLIENT_FAIL, subscribe(ann, "px/closed", tagged));
    EXPECT_EQ(CORVEXCLIENT_FAIL, subscribe(bob, "px/open", tagged));
    EXPECT_EQ(CORVEXCLIENT_OK, subscribe(bob, "other", tagged));
    EXPECT_EQ(CORVEXCLIENT_FAIL, subscribe(late, "px/open", tagged));
}

TEST_F(RouterConfigTest, FirstSessionConnectedConfiguresTheRouterAndLaterOnesAreWarned)
{
    /* Neither a session only created nor one whose login is refused configures. */
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClientTest_denyLogin(
                                   "shared", "mallory", CORVEXCLIENT_SUBCODE_LOGIN_NOT_PERMITTED));
    corvexClient_session_t refused =
        session({"SESSION_ROUTER", "embedded:shared", "SESSION_USERNAME", "mallory",
                 "SESSION_ROUTER_CACHED_TOPICS", "none"},
                false);
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_session_connect(refused));
    corvexClient_session_t created =
        session({"SESSION_ROUTER", "embedded:shared", "SESSION_CLIENT_NAME", "early",
                 "SESSION_ROUTER_CACHED_TOPICS", "x/>"},
                false);
    corvexClient_session_t first =
        session({"SESSION_ROUTER", "embedded:shared", "SESSION_CLIENT_NAME", "first",
                 "SESSION_ROUTER_CACHED_TOPICS", "a/>", "SESSION_ROUTER_ACCESS_RULES",
                 "deny * subscribe a/secret"});
    EXPECT_TRUE(lines().empty());
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(created));
    std::vector<std::string> seen = lines();
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(0u, seen[0].find(std::to_string(CORVEXCLIENT_LOG_CATEGORY_APP) + " ")) << seen[0];
    EXPECT_NE(std::string::npos, seen[0].find("SESSION_ROUTER_CACHED_TOPICS")) << seen[0];
    EXPECT_NE(std::string::npos, seen[0].find("early")) << seen[0];

    /* The same values (written differently), or none at all, are not warned. */
    session({"SESSION_ROUTER", "embedded:shared", "SESSION_ROUTER_CACHED_TOPICS", " a/> ",
             "SESSION_ROUTER_ACCESS_RULES", "DENY *   subscribe a/secret;"});
    session({"SESSION_ROUTER", "embedded:shared"});
    EXPECT_EQ(1u, lines().size());
    corvexClient_session_t other =
        session({"SESSION_ROUTER", "embedded:shared", "SESSION_CLIENT_NAME", "other",
                 "SESSION_ROUTER_CACHED_TOPICS", ">", "SESSION_ROUTER_ACCESS_RULES", ""});
    seen = lines();
    ASSERT_EQ(3u, seen.size());
    EXPECT_NE(std::string::npos, seen[2].find("SESSION_ROUTER_ACCESS_RULES")) << seen[2];

    /* Nothing the later sessions gave took effect. */
    for (corvexClient_session_t s : {created, other})
    {
        ASSERT_EQ(CORVEXCLIENT_OK, send(s, "x/1", "x"));
        ASSERT_EQ(CORVEXCLIENT_OK, send(s, "a/1", "a"));
        EXPECT_EQ(Topics{"a/1"}, cached(s, ">"));
        Tagged tagged{&mRecorder, 1};
        EXPECT_EQ(CORVEXCLIENT_FAIL, subscribe(s, "a/secret", tagged));
    }
    /* Once the first session is gone, the configuration stays. */
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_disconnect(first));
    ASSERT_EQ(CORVEXCLIENT_OK, send(other, "b/1", "b"));
    EXPECT_EQ(Topics{"a/1"}, cached(other, ">"));
}

TEST_F(RouterConfigTest, TestControlOverridesTheConfiguration)
{
    /* Set before any session: the first session's cache setting is kept out. */
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClientTest_addCachedTopics("pre", "p/>"));
    corvexClient_session_t pre =
        session({"SESSION_ROUTER", "embedded:pre", "SESSION_ROUTER_CACHED_TOPICS", "q/>"});
    ASSERT_EQ(CORVEXCLIENT_OK, send(pre, "p/1", "p"));
    ASSERT_EQ(CORVEXCLIENT_OK, send(pre, "q/1", "q"));
    EXPECT_EQ(Topics{"p/1"}, cached(pre, ">"));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClientTest_clearCache("pre"));
    corvexClient_session_t cleared =
        session({"SESSION_ROUTER", "embedded:pre", "SESSION_ROUTER_CACHED_TOPICS", ">"});
    ASSERT_EQ(CORVEXCLIENT_OK, send(cleared, "p/2", "p"));
    EXPECT_EQ(Topics{}, cached(cleared, ">"));

    /* Set after the configuration: what it cached is forgotten, only the
     * added patterns are cached, and test rules come first. */
    corvexClient_session_t s =
        session({"SESSION_ROUTER", "embedded:post", "SESSION_ROUTER_ACCESS_RULES",
                 "deny * subscribe d/hidden; allow * all >"});
    ASSERT_EQ(CORVEXCLIENT_OK, send(s, "c/1", "c"));
    EXPECT_EQ(Topics{"c/1"}, cached(s, ">"));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClientTest_addCachedTopics("post", "d/>"));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClientTest_addCachedTopics("post", "e/*"));
    for (const char* topic : {"c/2", "d/hidden", "d/1", "e/1", "e/1/2"})
    {
        ASSERT_EQ(CORVEXCLIENT_OK, send(s, topic, topic));
    }
    EXPECT_EQ((Topics{"d/1", "d/hidden", "e/1"}), cached(s, ">"));
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClientTest_addAclRule("post", "*", "c/x", CORVEXCLIENT_TEST_ACL_SUBSCRIBE,
                                          CORVEXCLIENT_TEST_ACL_DENY));
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClientTest_addAclRule("post", "*", "d/hidden", CORVEXCLIENT_TEST_ACL_SUBSCRIBE,
                                          CORVEXCLIENT_TEST_ACL_ALLOW));
    Tagged tagged{&mRecorder, 1};
    EXPECT_EQ(CORVEXCLIENT_FAIL, subscribe(s, "c/x", tagged));
    EXPECT_EQ(CORVEXCLIENT_OK, subscribe(s, "d/hidden", tagged));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClientTest_clearAcl("post"));
    EXPECT_EQ(CORVEXCLIENT_OK, subscribe(s, "c/x", tagged));
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClientTest_addCachedTopics("post", "a//b"));
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClientTest_addAclRule("post", "*", "", 1, 0));
}

TEST_F(RouterConfigTest, CacheAnswersStayWholeWhilePublishersRefillTheEntry)
{
    corvexClient_session_t publisher = session();
    corvexClient_session_t receiver = session();
    corvexClient_cacheSession_t cache = nullptr;
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_createCacheSession(nullptr, receiver, &cache));
    /* Content of one letter repeated, its length given by the letter, the
     * letter and length in the map: a torn or stale copy shows. */
    Summaries summaries;
    CorvexDispatchInfo dispatch{CORVEXCLIENT_DISPATCH_TYPE_CALLBACK, Summaries::onMessage,
                                &summaries, nullptr};
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_topicSubscribeWithDispatch(
                                   receiver, CORVEXCLIENT_SUBSCRIBE_FLAGS_LOCAL_DISPATCH_ONLY,
                                   "hot/>", &dispatch, nullptr));
    const auto content = [](char letter) { return std::string(1 + (letter - 'a') * 700, letter); };
    const auto publish = [&](uint32_t i)
    {
        const std::string bytes = content(static_cast<char>('a' + (i * 7) % 26));
        RouterConfigTest::publish(publisher, i % 3 ? "hot/1" : "hot/2", bytes,
                                  bytes.substr(0, 1).c_str(), static_cast<int32_t>(bytes.size()));
    };
    publish(1);
    std::atomic<bool> stop{false};
    std::thread writer(
        [&]
        {
            for (uint32_t i = 0; !stop.load(); ++i)
                publish(i);
        });
    for (int i = 0; i < 300; ++i)
    {
        EXPECT_EQ(CORVEXCLIENT_OK,
                  corvexClient_cacheSession_sendCacheRequest(cache, i % 2 ? "hot/1" : "hot/*", i,
                                                             nullptr, nullptr, 0, 0));
    }
    stop.store(true);
    writer.join();
    const std::vector<std::string> got =
        summaries.read<std::vector<std::string>>([&] { return summaries.mLines; });
    EXPECT_GE(got.size(), 300u);
    for (const std::string& line : got)
    {
        ASSERT_TRUE(line[0] >= 'a' && line[0] <= 'z') << line.substr(0, 80);
        const std::string bytes = content(line[0]);
        const std::string whole =
            bytes + " reply= U=" + line[0] + " N=" + std::to_string(bytes.size()) + " mode=0";
        ASSERT_EQ(0, line.compare(0, whole.size(), whole)) << line.substr(0, 80);
    }
    EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_cacheSession_destroy(&cache));
}
