/* The NATS router: topic levels as subject tokens, and sessions on separate
 * contexts (as in separate processes) meeting through a nats-server that
 * the tests start on a free loopback port. */

#include <algorithm>

#include "clientTestSupport.h"
#include "natsServer.h"
#include "router/natsSubject.h"

using namespace corvextest;

namespace
{
std::string toSubject(const std::string& topic)
{
    return corvexNatsSubject_fromTopic(topic.data(), topic.size());
}

std::string patternSubject(const std::string& pattern, bool* filtered)
{
    return corvexNatsSubject_fromPattern(pattern.data(), pattern.size(), filtered);
}

bool toTopic(const std::string& subject, std::string* topic)
{
    return corvexNatsSubject_toTopic(subject.data(), subject.size(), topic);
}

TEST(NatsSubjectTest, OddBytesAndEmptyLevelsRoundTrip)
{
    const std::string odd = std::string("a.b c*d>e%f\t\x01\x7f\xc3\xa9", 16);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"plain/topic", "plain.topic"},
        {odd + "/x", "a%2Eb%20c%2Ad%3Ee%25f%09%01%7F\xc3\xa9.x"},
        {"a//b", "a.%.b"},
        {"/lead", "%.lead"},
        {"%", "%25"},               /* the escape byte alone is not an empty level */
        {"a/*/b/>", "a.%2A.b.%3E"}, /* published topics have no wildcards */
        {"#P2P/v:nats:127.0.0.1:4222/client/x", "#P2P.v:nats:127%2E0%2E0%2E1:4222.client.x"},
    };
    for (const auto& entry : cases)
    {
        EXPECT_EQ(entry.second, toSubject(entry.first)) << entry.first;
        std::string back;
        EXPECT_TRUE(toTopic(entry.second, &back)) << entry.second;
        EXPECT_EQ(entry.first, back);
    }
}

TEST(NatsSubjectTest, WildcardLevelsKeepTheirMeaning)
{
    bool filtered = true;
    EXPECT_EQ("a.*.c", patternSubject("a/*/c", &filtered));
    EXPECT_FALSE(filtered);
    EXPECT_EQ("a.>", patternSubject("a/>", &filtered));
    EXPECT_FALSE(filtered);
    EXPECT_EQ(">", patternSubject(">", &filtered));
    /* A prefix before '*' cannot be said in a subject: the whole level is
     * taken and received topics are filtered. */
    EXPECT_EQ("a.*.c", patternSubject("a/AB*/c", &filtered));
    EXPECT_TRUE(filtered);
    /* '>' before the last level and '*' inside a level are plain bytes. */
    EXPECT_EQ("%3E.a%2Ab.x", patternSubject(">/a*b/x", &filtered));
    EXPECT_FALSE(filtered);
}

TEST(NatsSubjectTest, SubjectsThatAreNoTopicAreRefused)
{
    std::string topic;
    for (const char* subject : {"a.*", "a.>", "a..b", "a.", "a.%4", "a.%ZZ", "%G0"})
    {
        EXPECT_FALSE(toTopic(subject, &topic)) << subject;
    }
}

class NatsRouterTest : public ClientTest
{
  protected:
    void SetUp() override
    {
        ClientTest::SetUp();
        const char* properties[] = {"CONTEXT_CREATE_THREAD", "1", nullptr};
        ASSERT_EQ(CORVEXCLIENT_OK,
                  corvexClient_context_create(properties, &mOtherContext, nullptr, 0));
    }

    void TearDown() override
    {
        /* Before the other context goes, which their callbacks run on. */
        destroySessions();
        if (mOtherContext)
        {
            EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_context_destroy(&mOtherContext));
        }
        ClientTest::TearDown();
    }

    void startServer(std::vector<std::string> extra = {})
    {
        if (!NatsServer::path())
            GTEST_SKIP() << "nats-server is not installed (scripts/setup.sh installs it)";
        ASSERT_TRUE(mServer.start(NatsServer::freePort(), extra)) << "nats-server did not start";
        mSelector = mServer.url();
    }

    /* A session on the router of the server, on the given context. */
    corvexClient_session_t natsSession(corvexClient_context_t context, ClientRecorder* recorder,
                                       const char* clientName, std::vector<const char*> login = {})
    {
        std::vector<const char*> properties = {"SESSION_ROUTER", mSelector.c_str(),
                                               "SESSION_CLIENT_NAME", clientName};
        properties.insert(properties.end(), login.begin(), login.end());
        properties.push_back(nullptr);
        corvexClient_session_createFuncInfo_t funcInfo{};
        funcInfo.mEventInfo.mCallback = ClientRecorder::onEvent;
        funcInfo.mEventInfo.mUser = recorder;
        funcInfo.mRxMsgInfo.mCallback = ClientRecorder::onSessionMessage;
        funcInfo.mRxMsgInfo.mUser = recorder;
        corvexClient_session_t created = nullptr;
        EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_session_create(properties.data(), context, &created,
                                                               &funcInfo, sizeof(funcInfo)));
        _corvexClient_session_registerForTopicDispatchDestroy(created, onRemoval);
        mSessions.push_back(created);
        return created;
    }

    /* A connected publisher and a connected subscriber, each on a context of
     * its own, as two processes would be. */
    void connectPair(corvexClient_session_t* publisher, corvexClient_session_t* subscriber)
    {
        *publisher = natsSession(mContext, &mPublisher, "publisher");
        *subscriber = natsSession(mOtherContext, &mSubscriber, "subscriber");
        ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(*publisher));
        ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(*subscriber));
    }

    /* Sends until the subscriber has one message, so that the server is
     * known to route between the two sessions. */
    void awaitRoute(corvexClient_session_t sender, const char* topic, ClientRecorder& recorder)
    {
        ASSERT_TRUE(pollUntil(
            [&]
            {
                send(sender, topic, "probe");
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                return recorder.messageCount() > 0;
            }));
    }

    std::vector<int> eventsOf(ClientRecorder& recorder)
    {
        return recorder.read<std::vector<int>>(
            [&]
            {
                std::vector<int> events;
                for (const Event& event : recorder.mEvents)
                    events.push_back(event.mEvent);
                return events;
            });
    }

    NatsServer mServer;
    std::string mSelector;
    corvexClient_context_t mOtherContext = nullptr;
    ClientRecorder mPublisher;
    ClientRecorder mSubscriber;
};

TEST_F(NatsRouterTest, SelectorNamesTheRouterAndBadServersAreRefused)
{
    mSelector = "nats://127.0.0.1:4222,nats://127.0.0.1:4223";
    corvexClient_session_t session = natsSession(mContext, &mPublisher, "named");
    char name[128] = {};
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClient_session_getProperty(session, "SESSION_ROUTER_NAME", name, sizeof(name)));
    EXPECT_STREQ("nats:127.0.0.1:4222,127.0.0.1:4223", name);

    for (const char* selector : {"nats://", "nats://h:1,", "nats://h:1,tcp://h:2",
                                 "nats://user:secret@h:1", "nats://h:1/path"})
    {
        const char* properties[] = {"SESSION_ROUTER", selector, nullptr};
        corvexClient_session_t refused = nullptr;
        EXPECT_EQ(CORVEXCLIENT_FAIL,
                  corvexClient_session_create(properties, mContext, &refused, nullptr, 0))
            << selector;
        EXPECT_EQ(CORVEXCLIENT_SUBCODE_UNSUPPORTED_ROUTER,
                  corvexClient_getLastErrorInfo()->mSubCode);
        EXPECT_EQ(nullptr, refused);
    }
}

TEST_F(NatsRouterTest, ConnectWithoutServerFailsAsRefused)
{
    mSelector = "nats://127.0.0.1:" + std::to_string(NatsServer::freePort());
    corvexClient_session_t session = natsSession(mContext, &mPublisher, "lonely");
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_session_connect(session));
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_CONNECT_REFUSED, corvexClient_getLastErrorInfo()->mSubCode);
}

TEST_F(NatsRouterTest, LoginCredentialsReachTheServer)
{
    startServer({"--user", "trader", "--pass", "s3cret"});
    if (IsSkipped())
        return;
    corvexClient_session_t wrong =
        natsSession(mContext, &mPublisher, "trader1",
                    {"SESSION_USERNAME", "trader", "SESSION_PASSWORD", "guess"});
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_session_connect(wrong));
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_LOGIN_REFUSED, corvexClient_getLastErrorInfo()->mSubCode);
    /* The refused client name is free again. */
    corvexClient_session_t right =
        natsSession(mContext, &mPublisher, "trader1",
                    {"SESSION_USERNAME", "trader", "SESSION_PASSWORD", "s3cret"});
    EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(right));
}

TEST_F(NatsRouterTest, TenThousandMessagesArriveInOrderOnPlainAndWildcardSubscriptions)
{
    startServer();
    if (IsSkipped())
        return;
    corvexClient_session_t publisher = nullptr;
    corvexClient_session_t subscriber = nullptr;
    ASSERT_NO_FATAL_FAILURE(connectPair(&publisher, &subscriber));
    Tagged plain{&mSubscriber, 1};
    Tagged wildcard{&mSubscriber, 2};
    Tagged prefix{&mSubscriber, 3};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(subscriber, "ticks/A.B/last", plain));
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(subscriber, "wild/*/>", wildcard));
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(subscriber, "pre/AB*", prefix));

    const int count = 10000;
    for (int i = 0; i < count; ++i)
    {
        const std::string content = std::to_string(i);
        ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "ticks/A.B/last", content));
        ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "wild/x y/z", content));
    }
    for (const char* topic : {"pre/AB", "pre/ABC", "pre/XAB", "pre/AB/deeper", "wild/x"})
    {
        ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, topic, "filtered"));
    }
    /* Filtered topics share one server subscription, which delivers in order. */
    ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "pre/ABend", "end"));
    ASSERT_TRUE(mSubscriber.waitUntil(
        [&]
        {
            return mSubscriber.mMessages.size() >= 2 * count + 3 &&
                   std::any_of(mSubscriber.mMessages.begin(), mSubscriber.mMessages.end(),
                               [](const ClientMsg& m) { return m.mContent == "end"; });
        }));
    std::vector<int> next(4, 0);
    std::vector<std::string> prefixed;
    for (const ClientMsg& message :
         mSubscriber.read<std::vector<ClientMsg>>([&] { return mSubscriber.mMessages; }))
    {
        const int tag = static_cast<Tagged*>(message.mUser)->mTag;
        if (tag == 3)
        {
            prefixed.push_back(message.mTopic);
            continue;
        }
        EXPECT_EQ(tag == 1 ? "ticks/A.B/last" : "wild/x y/z", message.mTopic);
        ASSERT_EQ(std::to_string(next[tag]), message.mContent) << "tag " << tag;
        ++next[tag];
    }
    EXPECT_EQ(count, next[1]);
    EXPECT_EQ(count, next[2]);
    EXPECT_EQ((std::vector<std::string>{"pre/AB", "pre/ABC", "pre/ABend"}), prefixed);
}

/* A sender that leaves right after sending: what it sent still reaches the
 * server before its connection closes. */
TEST_F(NatsRouterTest, MessagesSentJustBeforeTheSenderLeavesAreDelivered)
{
    startServer();
    if (IsSkipped())
        return;
    corvexClient_session_t publisher = nullptr;
    corvexClient_session_t subscriber = nullptr;
    ASSERT_NO_FATAL_FAILURE(connectPair(&publisher, &subscriber));
    Tagged tagged{&mSubscriber, 1};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(subscriber, "last/words", tagged));
    awaitRoute(publisher, "last/words", mSubscriber);
    const size_t probes = mSubscriber.messageCount();
    const int count = 20000;
    const std::string content(1000, 'x');
    for (int i = 0; i < count; ++i)
    {
        ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "last/words", content));
    }
    ASSERT_EQ(publisher, mSessions.front());
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_destroy(&mSessions.front()));
    EXPECT_TRUE(mSubscriber.waitForMessages(probes + count));
}

TEST_F(NatsRouterTest, OverlappingSubscriptionsDeliverEachMessageOnceAndUnsubscribeStops)
{
    startServer();
    if (IsSkipped())
        return;
    corvexClient_session_t publisher = nullptr;
    corvexClient_session_t subscriber = nullptr;
    ASSERT_NO_FATAL_FAILURE(connectPair(&publisher, &subscriber));
    Tagged exact{&mSubscriber, 1};
    Tagged wildcard{&mSubscriber, 2};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(subscriber, "over/lap", exact));
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(subscriber, "over/*", wildcard));
    ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "over/lap", "one"));
    ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "over/other", "two"));
    /* Each server subscription delivers on its own thread: a copy delivered
     * twice may come late. */
    ASSERT_TRUE(mSubscriber.waitForMessages(3));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    /* The session hands a message to every entry it matches, once. */
    std::vector<std::string> seen;
    for (const ClientMsg& message :
         mSubscriber.read<std::vector<ClientMsg>>([&] { return mSubscriber.mMessages; }))
        seen.push_back(message.mContent + ":" +
                       std::to_string(static_cast<Tagged*>(message.mUser)->mTag));
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ((std::vector<std::string>{"one:1", "one:2", "two:2"}), seen);

    CorvexDispatchInfo dispatch = dispatchTo(wildcard);
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_topicUnsubscribeWithDispatch(
                                   subscriber, CORVEXCLIENT_SUBSCRIBE_FLAGS_WAIT_FOR_CONFIRM,
                                   "over/*", &dispatch, nullptr));
    const size_t before = mSubscriber.messageCount();
    ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "over/other", "gone"));
    ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "over/lap", "three"));
    ASSERT_TRUE(mSubscriber.waitForMessages(before + 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(before + 1, mSubscriber.messageCount());
    EXPECT_EQ("three",
              mSubscriber.read<std::string>([&] { return mSubscriber.mMessages.back().mContent; }));
}

TEST_F(NatsRouterTest, ReplyToTopicArrivesAndReachesTheAskingSession)
{
    startServer();
    if (IsSkipped())
        return;
    corvexClient_session_t asker = natsSession(mContext, &mPublisher, "asker");
    corvexClient_session_t answerer = natsSession(mOtherContext, &mSubscriber, "answerer");
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(asker));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(answerer));
    Tagged question{&mSubscriber, 1};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(answerer, "questions", question));
    char inbox[256] = {};
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_getProperty(
                                   asker, "SESSION_REPLY_TO_DEFAULT_DEST", inbox, sizeof(inbox)));
    const std::string replyTo = std::string(inbox, std::strlen(inbox) - 1) + "answer";
    ASSERT_EQ(CORVEXCLIENT_OK, send(asker, "questions", "why?", replyTo.c_str()));
    ASSERT_TRUE(mSubscriber.waitForMessages(1));
    const ClientMsg asked = mSubscriber.read<ClientMsg>([&] { return mSubscriber.mMessages[0]; });
    EXPECT_EQ("why?", asked.mContent);
    EXPECT_EQ(replyTo, asked.mReplyTo);

    /* The peer-to-peer answer needs no subscription of the asker. */
    ASSERT_EQ(CORVEXCLIENT_OK, send(answerer, asked.mReplyTo.c_str(), "because"));
    ASSERT_TRUE(mPublisher.waitForMessages(1));
    const ClientMsg answer = mPublisher.read<ClientMsg>([&] { return mPublisher.mMessages[0]; });
    EXPECT_EQ(replyTo, answer.mTopic);
    EXPECT_EQ("because", answer.mContent);
}

TEST_F(NatsRouterTest, ServerRestartReconnectsAndSubscriptionsWorkAgain)
{
    startServer();
    if (IsSkipped())
        return;
    corvexClient_session_t publisher = nullptr;
    corvexClient_session_t subscriber = nullptr;
    ASSERT_NO_FATAL_FAILURE(connectPair(&publisher, &subscriber));
    Tagged tagged{&mSubscriber, 1};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(subscriber, "kept/*", tagged));
    ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "kept/before", "before"));
    ASSERT_TRUE(mSubscriber.waitForMessages(1));

    mServer.stop();
    ASSERT_TRUE(mSubscriber.waitUntil([&] { return !mSubscriber.mEvents.empty(); }));
    ASSERT_TRUE(mServer.start(mServer.mPort));
    ASSERT_TRUE(mSubscriber.waitForEvents(2));
    ASSERT_TRUE(mPublisher.waitForEvents(2));
    const std::vector<int> expected = {CORVEXCLIENT_SESSION_EVENT_RECONNECTING,
                                       CORVEXCLIENT_SESSION_EVENT_RECONNECTED};
    EXPECT_EQ(expected, eventsOf(mSubscriber));
    EXPECT_EQ(expected, eventsOf(mPublisher));

    mSubscriber.record([&] { mSubscriber.mMessages.clear(); });
    awaitRoute(publisher, "kept/after", mSubscriber);
    EXPECT_EQ("kept/after",
              mSubscriber.read<std::string>([&] { return mSubscriber.mMessages.back().mTopic; }));
}
class NatsCacheTest : public NatsRouterTest
{
  protected:
    void TearDown() override
    {
        if (mCache)
        {
            EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_cacheSession_destroy(&mCache));
        }
        NatsRouterTest::TearDown();
    }

    /* Publisher and subscriber caching "md/>" and the "EUR" prefix of the
     * second "fx" level; the subscriber's cache session in mCache. */
    void connectCaching(corvexClient_session_t* publisher, corvexClient_session_t* subscriber)
    {
        const std::vector<const char*> caching = {"SESSION_ROUTER_CACHED_TOPICS", "md/>,fx/EUR*"};
        *publisher = natsSession(mContext, &mPublisher, "publisher", caching);
        *subscriber = natsSession(mOtherContext, &mSubscriber, "subscriber", caching);
        ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(*publisher));
        ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(*subscriber));
        ASSERT_EQ(CORVEXCLIENT_OK,
                  corvexClient_session_createCacheSession(nullptr, *subscriber, &mCache));
    }

    /* The outcome of one request and the contents it delivered, sorted. */
    CacheOutcome request(const char* topic, corvexClient_cacheRequestId_t id,
                         std::vector<std::string>* contents)
    {
        mSubscriber.record(
            [&]
            {
                mSubscriber.mMessages.clear();
                mSubscriber.mCacheOutcomes.clear();
            });
        const uint32_t flags = CORVEXCLIENT_CACHEREQUEST_FLAGS_DELIVER_CACHED |
                               CORVEXCLIENT_CACHEREQUEST_FLAGS_NO_LIVE_SUBSCRIBE |
                               CORVEXCLIENT_CACHEREQUEST_FLAGS_NO_WAIT;
        EXPECT_EQ(CORVEXCLIENT_IN_PROGRESS,
                  corvexClient_cacheSession_sendCacheRequest(
                      mCache, topic, id, ClientRecorder::onCacheEvent, &mSubscriber, flags, 0));
        EXPECT_TRUE(mSubscriber.waitUntil([&] { return !mSubscriber.mCacheOutcomes.empty(); }));
        return mSubscriber.read<CacheOutcome>(
            [&]
            {
                contents->clear();
                for (const ClientMsg& message : mSubscriber.mMessages)
                {
                    EXPECT_EQ(CORVEXCLIENT_MSG_CACHED, message.mCached);
                    EXPECT_EQ(id, message.mRequestId);
                    contents->push_back(message.mTopic + "=" + message.mContent);
                }
                std::sort(contents->begin(), contents->end());
                return mSubscriber.mCacheOutcomes.empty() ? CacheOutcome{}
                                                          : mSubscriber.mCacheOutcomes[0];
            });
    }

    corvexClient_cacheSession_t mCache = nullptr;
};

TEST_F(NatsCacheTest, TheStreamAnswersPlainAndWildcardRequestsWithTheLastValues)
{
    if (!NatsServer::path())
        GTEST_SKIP() << "nats-server is not installed (scripts/setup.sh installs it)";
    ASSERT_TRUE(mServer.enableJetStream());
    startServer();
    corvexClient_session_t publisher = nullptr;
    corvexClient_session_t subscriber = nullptr;
    ASSERT_NO_FATAL_FAILURE(connectCaching(&publisher, &subscriber));
    Tagged tagged{&mSubscriber, 1};
    ASSERT_EQ(CORVEXCLIENT_OK,
              subscribe(subscriber, ">", tagged, CORVEXCLIENT_SUBSCRIBE_FLAGS_LOCAL_DISPATCH_ONLY));
    for (const auto& sent :
         std::vector<std::pair<const char*, const char*>>{{"md/IBM", "old"},
                                                          {"md/IBM", "last"},
                                                          {"md/a.b/x y", "odd"},
                                                          {"fx/EURUSD", "eur"},
                                                          {"fx/GBPUSD", "stored, not cached"},
                                                          {"other/x", "not stored"}})
    {
        ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, sent.first, sent.second));
    }
    /* The server stores what it routes: wait until the last one is in. */
    std::vector<std::string> contents;
    ASSERT_TRUE(
        pollUntil([&] { return request("fx/EURUSD", 1, &contents).mCode == CORVEXCLIENT_OK; }));

    CacheOutcome outcome = request("md/IBM", 77, &contents);
    EXPECT_EQ(CORVEXCLIENT_OK, outcome.mCode);
    EXPECT_EQ(77u, outcome.mRequestId);
    EXPECT_EQ("md/IBM", outcome.mTopic);
    EXPECT_EQ((std::vector<std::string>{"md/IBM=last"}), contents);

    EXPECT_EQ(CORVEXCLIENT_OK, request("md/>", 78, &contents).mCode);
    EXPECT_EQ((std::vector<std::string>{"md/IBM=last", "md/a.b/x y=odd"}), contents);
    EXPECT_EQ(CORVEXCLIENT_OK, request("fx/*", 79, &contents).mCode);
    EXPECT_EQ((std::vector<std::string>{"fx/EURUSD=eur"}), contents);

    for (const char* none : {"fx/GBPUSD", "other/x", "md/NONE", "nothing/*"})
    {
        outcome = request(none, 80, &contents);
        EXPECT_EQ(CORVEXCLIENT_INCOMPLETE, outcome.mCode) << none;
        EXPECT_EQ(CORVEXCLIENT_SUBCODE_CACHE_NO_DATA, outcome.mSubCode) << none;
        EXPECT_TRUE(contents.empty()) << none;
    }
}

TEST_F(NatsCacheTest, WithoutJetStreamRequestsCompleteWithNoData)
{
    startServer();
    if (IsSkipped())
        return;
    corvexClient_session_t publisher = nullptr;
    corvexClient_session_t subscriber = nullptr;
    ASSERT_NO_FATAL_FAILURE(connectCaching(&publisher, &subscriber));
    ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "md/IBM", "last"));
    std::vector<std::string> contents;
    const CacheOutcome outcome = request("md/IBM", 5, &contents);
    EXPECT_EQ(CORVEXCLIENT_INCOMPLETE, outcome.mCode);
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_CACHE_NO_DATA, outcome.mSubCode);
}
} // namespace
