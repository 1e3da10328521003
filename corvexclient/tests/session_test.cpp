/* Sessions: properties, login, subscription outcomes with their correlation
 * pointers, access control, removal reports and destroy. */
#include "clientTestSupport.h"

using namespace corvextest;

namespace
{
class SessionTest : public ClientTest
{
  protected:
    std::vector<Event> events()
    {
        return mRecorder.read<std::vector<Event>>([&] { return mRecorder.mEvents; });
    }
    std::vector<Removal> removals()
    {
        return mRecorder.read<std::vector<Removal>>(
            [&]
            {
                std::vector<Removal> found;
                for (const Removal& removal : mRecorder.mRemovals)
                    if (removal.mTopic.compare(0, 6, "drain/") != 0)
                        found.push_back(removal);
                return found;
            });
    }
};
} // namespace

TEST_F(SessionTest, PropertiesDescribeTheSession)
{
    corvexClient_session_t session =
        this->session({"SESSION_CLIENT_NAME", "c1", "SESSION_USERNAME", "alice", "SESSION_ROUTER",
                       "embedded:node7", "custom", "v"});
    char buffer[64];
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClient_session_getProperty(session, "SESSION_REPLY_TO_DEFAULT_DEST", buffer,
                                               sizeof(buffer)));
    EXPECT_STREQ("#P2P/v:node7/c1/#", buffer);
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_getProperty(session, "session_username", buffer,
                                                                sizeof(buffer)));
    EXPECT_STREQ("alice", buffer);
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClient_session_getProperty(session, "CUSTOM", buffer, sizeof(buffer)));
    EXPECT_STREQ("v", buffer);

    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_session_getProperty(
                                     session, "SESSION_REPLY_TO_DEFAULT_DEST", buffer, 8));
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_BUFFER_TOO_SMALL, corvexClient_getLastErrorInfo()->mSubCode);
    EXPECT_EQ(CORVEXCLIENT_FAIL,
              corvexClient_session_getProperty(session, "nothing", buffer, sizeof(buffer)));
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_UNKNOWN_PROPERTY, corvexClient_getLastErrorInfo()->mSubCode);
    EXPECT_EQ(CORVEXCLIENT_FAIL,
              corvexClient_session_getProperty(nullptr, "x", buffer, sizeof(buffer)));
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT, corvexClient_getLastErrorInfo()->mSubCode);
}

TEST_F(SessionTest, DefaultUserNameAndGeneratedClientNamesAreUsable)
{
    corvexClient_session_t first = session();
    corvexClient_session_t second = session();
    char a[260];
    char b[260];
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_getProperty(
                                   first, "SESSION_REPLY_TO_DEFAULT_DEST", a, sizeof(a)));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_getProperty(
                                   second, "SESSION_REPLY_TO_DEFAULT_DEST", b, sizeof(b)));
    EXPECT_STRNE(a, b);
    EXPECT_EQ(0, std::strncmp(a, "#P2P/v:embedded/", 16));
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClient_session_getProperty(first, "SESSION_USERNAME", a, sizeof(a)));
    EXPECT_GT(std::strlen(a), 0u);
}

TEST_F(SessionTest, BadConfigurationIsRefusedAtCreate)
{
    const char* badRouter[] = {"SESSION_ROUTER", "tcp://localhost:4222", nullptr};
    const char* badName[] = {"SESSION_CLIENT_NAME", "a/b", nullptr};
    const char* badLimit[] = {"SESSION_SUSPEND_HOLD_LIMIT", "many", nullptr};
    const char* noValue[] = {"SESSION_USERNAME", nullptr};
    corvexClient_session_t session = nullptr;
    EXPECT_EQ(CORVEXCLIENT_FAIL,
              corvexClient_session_create(badRouter, mContext, &session, nullptr, 0));
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_UNSUPPORTED_ROUTER, corvexClient_getLastErrorInfo()->mSubCode);
    EXPECT_EQ(CORVEXCLIENT_FAIL,
              corvexClient_session_create(badName, mContext, &session, nullptr, 0));
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_BAD_PROPERTY_VALUE, corvexClient_getLastErrorInfo()->mSubCode);
    EXPECT_EQ(CORVEXCLIENT_FAIL,
              corvexClient_session_create(badLimit, mContext, &session, nullptr, 0));
    EXPECT_EQ(CORVEXCLIENT_FAIL,
              corvexClient_session_create(noValue, mContext, &session, nullptr, 0));
    EXPECT_EQ(nullptr, session);
    corvexClient_session_createFuncInfo_t reserved{};
    reserved.mReserved.mReserved = &reserved;
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_session_create(nullptr, mContext, &session, &reserved,
                                                             sizeof(reserved)));
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_BAD_ARGUMENT, corvexClient_getLastErrorInfo()->mSubCode);
}

/* Every number and boolean is read as its whole text and within its range;
 * the refusal names the property and the value it was given. */
TEST_F(SessionTest, NumbersAndBooleansAreTakenWholeAndARefusalNamesPropertyAndValue)
{
    const std::vector<std::pair<const char*, const char*>> bad = {
        {"SESSION_ROUTER_PENDING_LIMIT", " 100"},
        {"SESSION_ROUTER_PENDING_LIMIT", "+100"},
        {"SESSION_ROUTER_PENDING_LIMIT", "0x10"},
        {"SESSION_SUSPEND_HOLD_LIMIT", "50000abc"},
        {"SESSION_SUSPEND_HOLD_LIMIT", "0"},
        {"SESSION_SUSPEND_HOLD_WAIT_MS", " -1"},
        {"SESSION_SUSPEND_HOLD_WAIT_MS", "99999999999999999999"},
        {"SESSION_ROUTER_CACHE_REPLICAS", "9"},
        {"SESSION_ROUTER_PING_INTERVAL_MS", "100 "},
        {"SESSION_CONNECT_BLOCKING", "maybe"},
        {"SESSION_TOPIC_DISPATCH", ""},
        {"SESSION_USERNAME_IS_DEFAULT", "2"},
    };
    for (const auto& entry : bad)
    {
        const char* properties[] = {entry.first, entry.second, nullptr};
        corvexClient_session_t session = nullptr;
        EXPECT_EQ(CORVEXCLIENT_FAIL,
                  corvexClient_session_create(properties, mContext, &session, nullptr, 0))
            << entry.first << "='" << entry.second << "'";
        const corvexClient_errorInfo_t* error = corvexClient_getLastErrorInfo();
        EXPECT_EQ(CORVEXCLIENT_SUBCODE_BAD_PROPERTY_VALUE, error->mSubCode);
        const std::string text = error->mErrorText;
        EXPECT_NE(std::string::npos, text.find(entry.first)) << text;
        EXPECT_NE(std::string::npos, text.find(std::string("'") + entry.second + "'")) << text;
        if (session)
            corvexClient_session_destroy(&session);
    }
    const char* good[] = {"SESSION_ROUTER_PENDING_LIMIT",
                          "100",
                          "SESSION_SUSPEND_HOLD_WAIT_MS",
                          "0",
                          "SESSION_CONNECT_BLOCKING",
                          "TRUE",
                          nullptr};
    corvexClient_session_t session = nullptr;
    EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_session_create(good, mContext, &session, nullptr, 0));
    EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_session_destroy(&session));
}

TEST_F(SessionTest, RefusedLoginFailsConnectWithItsSubCode)
{
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClientTest_denyLogin("embedded", "mallory",
                                         CORVEXCLIENT_SUBCODE_LOGIN_NOT_PERMITTED));
    corvexClient_session_t refused = session({"SESSION_USERNAME", "mallory"}, false);
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_session_connect(refused));
    const corvexClient_errorInfo_t* error = corvexClient_getLastErrorInfo();
    ASSERT_NE(nullptr, error);
    EXPECT_EQ(47u, error->mSubCode);
    EXPECT_NE(nullptr, std::strstr(error->mErrorText, "mallory"));

    corvexClient_session_t allowed = session({"SESSION_USERNAME", "alice"}, false);
    EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(allowed));
    /* Sending needs a connected session. */
    EXPECT_EQ(CORVEXCLIENT_NOT_READY, send(refused, "a/b", "x"));
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_NOT_CONNECTED, corvexClient_getLastErrorInfo()->mSubCode);
}

TEST_F(SessionTest, ClientNameIsUniquePerRouter)
{
    session({"SESSION_CLIENT_NAME", "same"});
    corvexClient_session_t second = session({"SESSION_CLIENT_NAME", "same"}, false);
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_session_connect(second));
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_CLIENT_NAME_IN_USE, corvexClient_getLastErrorInfo()->mSubCode);
    corvexClient_session_t elsewhere =
        session({"SESSION_CLIENT_NAME", "same", "SESSION_ROUTER", "embedded:other"}, false);
    EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(elsewhere));
}

TEST_F(SessionTest, NonBlockingConnectReportsOutcomeAsEvent)
{
    corvexClientTest_denyLogin(nullptr, "bob", CORVEXCLIENT_SUBCODE_LOGIN_EXPIRED);
    corvexClient_session_t up =
        session({"SESSION_CONNECT_BLOCKING", "0", "SESSION_USERNAME", "ann"}, false);
    corvexClient_session_t down =
        session({"SESSION_CONNECT_BLOCKING", "0", "SESSION_USERNAME", "bob"}, false);
    EXPECT_EQ(CORVEXCLIENT_IN_PROGRESS, corvexClient_session_connect(up));
    EXPECT_EQ(CORVEXCLIENT_IN_PROGRESS, corvexClient_session_connect(down));
    ASSERT_TRUE(mRecorder.waitForEvents(2));
    const std::vector<Event> seen = events();
    EXPECT_EQ(CORVEXCLIENT_SESSION_EVENT_UP, seen[0].mEvent);
    EXPECT_EQ(CORVEXCLIENT_SESSION_EVENT_CONNECT_FAILED, seen[1].mEvent);
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_LOGIN_EXPIRED, seen[1].mSubCode);
}

TEST_F(SessionTest, SubscribeFlagTwoReturnsTheFinalOutcome)
{
    corvexClientTest_addAclRule(nullptr, "*", "secret/>", CORVEXCLIENT_TEST_ACL_SUBSCRIBE,
                                CORVEXCLIENT_TEST_ACL_DENY);
    corvexClient_session_t session = this->session();
    Tagged tagged{&mRecorder, 1};
    EXPECT_EQ(CORVEXCLIENT_OK, subscribe(session, "open/a", tagged));
    EXPECT_EQ(CORVEXCLIENT_FAIL, subscribe(session, "secret/a", tagged));
    const corvexClient_errorInfo_t* error = corvexClient_getLastErrorInfo();
    EXPECT_EQ(68u, error->mSubCode);
    EXPECT_NE(nullptr, std::strstr(error->mErrorText, "Topic 'secret/a'"));
    /* The refused entry was not kept: nothing arrives, and there is nothing to remove. */
    corvexClient_session_t publisher = this->session();
    send(publisher, "secret/a", "x");
    drain(session);
    EXPECT_EQ(0u, mRecorder.messageCount());
    CorvexDispatchInfo dispatch = dispatchTo(tagged);
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_session_topicUnsubscribeWithDispatch(
                                     session, 0, "secret/a", &dispatch, nullptr));
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_NOT_SUBSCRIBED, corvexClient_getLastErrorInfo()->mSubCode);
    EXPECT_TRUE(events().empty());
}

TEST_F(SessionTest, SubscribeFlagSixteenReportsOutcomeWithCorrelation)
{
    corvexClientTest_addAclRule(nullptr, "*", "secret/*", CORVEXCLIENT_TEST_ACL_SUBSCRIBE,
                                CORVEXCLIENT_TEST_ACL_DENY);
    corvexClient_session_t session = this->session();
    Tagged tagged{&mRecorder, 1};
    int confirmedTag = 0;
    int refusedTag = 0;
    EXPECT_EQ(CORVEXCLIENT_IN_PROGRESS,
              subscribe(session, "open/a", tagged, CORVEXCLIENT_SUBSCRIBE_FLAGS_REQUEST_CONFIRM,
                        &confirmedTag));
    EXPECT_EQ(CORVEXCLIENT_IN_PROGRESS,
              subscribe(session, "secret/a", tagged, CORVEXCLIENT_SUBSCRIBE_FLAGS_REQUEST_CONFIRM,
                        &refusedTag));
    ASSERT_TRUE(mRecorder.waitForEvents(2));
    const std::vector<Event> seen = events();
    EXPECT_EQ(16, seen[0].mEvent);
    EXPECT_EQ(&confirmedTag, seen[0].mCorrelation);
    EXPECT_EQ(4, seen[1].mEvent);
    EXPECT_EQ(&refusedTag, seen[1].mCorrelation);
    EXPECT_EQ(68u, seen[1].mSubCode);
    /* Events run on the context thread, never on the caller's. */
    EXPECT_NE(std::this_thread::get_id(), seen[0].mThread);
    EXPECT_EQ(seen[0].mThread, seen[1].mThread);
}

TEST_F(SessionTest, UnsubscribeRemovesExactlyTheEntryGivenAndReportsIt)
{
    corvexClient_session_t session = this->session();
    corvexClient_session_t publisher = this->session();
    Tagged first{&mRecorder, 1};
    Tagged second{&mRecorder, 2};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(session, "t/x", first));
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(session, "t/x", second));
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(session, "t/*", first));

    CorvexDispatchInfo dispatch = dispatchTo(first);
    int tag = 0;
    EXPECT_EQ(CORVEXCLIENT_IN_PROGRESS,
              corvexClient_session_topicUnsubscribeWithDispatch(
                  session, CORVEXCLIENT_SUBSCRIBE_FLAGS_REQUEST_CONFIRM, "t/x", &dispatch, &tag));
    ASSERT_TRUE(mRecorder.waitForEvents(1));
    EXPECT_EQ(CORVEXCLIENT_SESSION_EVENT_UNSUBSCRIBE_CONFIRMED, events()[0].mEvent);
    EXPECT_EQ(&tag, events()[0].mCorrelation);
    ASSERT_TRUE(mRecorder.waitUntil([&] { return mRecorder.mRemovals.size() >= 1; }));
    ASSERT_EQ(1u, removals().size());
    EXPECT_EQ("t/x", removals()[0].mTopic);
    EXPECT_EQ(&first, removals()[0].mUser);

    /* The other entry on t/x and the wildcard entry still receive; the router
     * still sends t/x because the session keeps other entries. */
    ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "t/x", "x"));
    drain(session);
    const std::vector<ClientMsg> got =
        mRecorder.read<std::vector<ClientMsg>>([&] { return mRecorder.mMessages; });
    ASSERT_EQ(2u, got.size());
    EXPECT_EQ(&second, got[0].mUser);
    EXPECT_EQ(&first, got[1].mUser);
}

/* A stream repeats its topic: entries added and removed between two of its
 * messages decide who receives the next one. */
TEST_F(SessionTest, EntriesChangedBetweenMessagesOnOneTopicDecideWhoReceivesTheNext)
{
    corvexClient_session_t session = this->session();
    corvexClient_session_t publisher = this->session();
    Tagged first{&mRecorder, 1};
    Tagged second{&mRecorder, 2};
    /* No other topic between them: the session sees t/x and only t/x. */
    auto receivedBy = [&](size_t count)
    {
        ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "t/x", "x"));
        ASSERT_TRUE(mRecorder.waitForMessages(count));
    };
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(session, "t/x", first));
    receivedBy(1);
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(session, "t/*", second));
    receivedBy(3);
    CorvexDispatchInfo dispatch = dispatchTo(first);
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_topicUnsubscribeWithDispatch(
                                   session, 0, "t/x", &dispatch, nullptr));
    receivedBy(4);
    drain(session);
    const std::vector<ClientMsg> got =
        mRecorder.read<std::vector<ClientMsg>>([&] { return mRecorder.mMessages; });
    std::vector<void*> users;
    for (const ClientMsg& msg : got)
        users.push_back(msg.mUser);
    EXPECT_EQ((std::vector<void*>{&first, &first, &second, &second}), users);
}

TEST_F(SessionTest, DestroyReportsEveryRemainingEntryBeforeReturning)
{
    corvexClient_session_t session = this->session();
    Tagged a{&mRecorder, 1};
    Tagged b{&mRecorder, 2};
    Tagged c{&mRecorder, 3};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(session, "d/1", a));
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(session, "d/*", b));
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(session, "#P2P/*/me/x", c,
                                         CORVEXCLIENT_SUBSCRIBE_FLAGS_LOCAL_DISPATCH_ONLY));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_destroy(&mSessions[0]));
    EXPECT_EQ(nullptr, mSessions[0]);
    const std::vector<Removal> reported = removals();
    ASSERT_EQ(3u, reported.size());
    EXPECT_EQ("d/1", reported[0].mTopic);
    EXPECT_EQ(&a, reported[0].mUser);
    EXPECT_EQ("d/*", reported[1].mTopic);
    EXPECT_EQ(&b, reported[1].mUser);
    EXPECT_EQ("#P2P/*/me/x", reported[2].mTopic);
    EXPECT_EQ(&c, reported[2].mUser);
}

TEST_F(SessionTest, DestroyFromOwnCallbackCompletes)
{
    corvexClient_session_t session = this->session();
    static corvexClient_session_t* target;
    target = &mSessions[0];
    struct Destroyer
    {
        static int onMessage(corvexClient_session_t, corvexClient_msg_t, void* user)
        {
            ClientRecorder* recorder = static_cast<ClientRecorder*>(user);
            const corvexClient_returnCode_t code = corvexClient_session_destroy(target);
            recorder->record([&] { recorder->mEvents.push_back({code, 0, 0, "", nullptr, {}}); });
            return CORVEXCLIENT_CALLBACK_OK;
        }
    };
    CorvexDispatchInfo dispatch{CORVEXCLIENT_DISPATCH_TYPE_CALLBACK, Destroyer::onMessage,
                                &mRecorder, nullptr};
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_topicSubscribeWithDispatch(
                                   session, CORVEXCLIENT_SUBSCRIBE_FLAGS_WAIT_FOR_CONFIRM,
                                   "self/destroy", &dispatch, nullptr));
    corvexClient_session_t publisher = this->session();
    ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "self/destroy", "x"));
    ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "self/destroy", "y"));
    ASSERT_TRUE(mRecorder.waitForEvents(1));
    EXPECT_EQ(CORVEXCLIENT_OK, events()[0].mEvent);
    ASSERT_TRUE(mRecorder.waitUntil([&] { return mRecorder.mRemovals.size() >= 1; }));
    drain(publisher);
    /* The second message was dropped with the session. */
    EXPECT_EQ(1u, events().size());
}

TEST_F(SessionTest, RefusedPublishRaisesRejectedEventWithTopicInText)
{
    corvexClientTest_addAclRule(nullptr, "eve", "orders/>", CORVEXCLIENT_TEST_ACL_PUBLISH,
                                CORVEXCLIENT_TEST_ACL_DENY);
    corvexClient_session_t eve = session({"SESSION_USERNAME", "eve"});
    corvexClient_session_t receiver = session();
    Tagged tagged{&mRecorder, 1};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(receiver, "orders/>", tagged));
    EXPECT_EQ(CORVEXCLIENT_OK, send(eve, "orders/new/1", "x"));
    ASSERT_TRUE(mRecorder.waitForEvents(1));
    const Event rejected = events()[0];
    EXPECT_EQ(3, rejected.mEvent);
    EXPECT_EQ(69u, rejected.mSubCode);
    EXPECT_NE(std::string::npos, rejected.mInfo.find("Topic 'orders/new/1'"));
    /* The text ends with the topic's closing quote. */
    EXPECT_EQ('\'', rejected.mInfo.back());
    drain(receiver);
    EXPECT_EQ(0u, mRecorder.messageCount());
}

TEST_F(SessionTest, AccessRulesApplyInOrderPerUser)
{
    corvexClientTest_addAclRule(nullptr, "ann", "px/allowed", CORVEXCLIENT_TEST_ACL_SUBSCRIBE,
                                CORVEXCLIENT_TEST_ACL_ALLOW);
    corvexClientTest_addAclRule(nullptr, "*", "px/>", CORVEXCLIENT_TEST_ACL_SUBSCRIBE,
                                CORVEXCLIENT_TEST_ACL_DENY);
    corvexClient_session_t ann = session({"SESSION_USERNAME", "ann"});
    corvexClient_session_t bob = session({"SESSION_USERNAME", "bob"});
    Tagged tagged{&mRecorder, 1};
    EXPECT_EQ(CORVEXCLIENT_OK, subscribe(ann, "px/allowed", tagged));
    EXPECT_EQ(CORVEXCLIENT_FAIL, subscribe(ann, "px/other", tagged));
    EXPECT_EQ(CORVEXCLIENT_FAIL, subscribe(bob, "px/allowed", tagged));
    /* Local dispatch asks nothing of the router, so no rule applies. */
    EXPECT_EQ(CORVEXCLIENT_OK, subscribe(bob, "px/allowed", tagged,
                                         CORVEXCLIENT_SUBSCRIBE_FLAGS_LOCAL_DISPATCH_ONLY));
    corvexClientTest_clearAcl(nullptr);
    EXPECT_EQ(CORVEXCLIENT_OK, subscribe(bob, "px/other", tagged));
}

TEST_F(SessionTest, ReconnectPlacesRouterSubscriptionsAgainOnlyWhenAsked)
{
    ClientRecorder keepRecorder;
    ClientRecorder dropRecorder;
    corvexClient_session_t keep = session({}, true, &keepRecorder);
    corvexClient_session_t drop =
        session({"SESSION_REAPPLY_SUBSCRIPTIONS", "0"}, true, &dropRecorder);
    Tagged kept{&keepRecorder, 1};
    Tagged dropped{&dropRecorder, 2};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(keep, "r/x", kept));
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(drop, "r/x", dropped));
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClientTest_injectSessionEvent(keep, 13, 0, 0, "back", nullptr));
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClientTest_injectSessionEvent(drop, 13, 0, 0, "back", nullptr));
    ASSERT_TRUE(keepRecorder.waitForEvents(1));
    ASSERT_TRUE(dropRecorder.waitForEvents(1));
    corvexClient_session_t publisher = session();
    ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "r/x", "after"));
    ASSERT_TRUE(keepRecorder.waitForMessages(1));
    drain(drop);
    EXPECT_EQ(0u, dropRecorder.messageCount());
}

TEST_F(SessionTest, InjectedEventsCarryTheirReason)
{
    corvexClient_session_t session = this->session();
    int correlation;
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClientTest_injectSessionEvent(session, 1, 14, 503,
                                                                   "router went away", nullptr));
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClientTest_injectSessionEvent(session, 12, 0, 0, nullptr, nullptr));
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClientTest_injectSessionEvent(session, 4, 17, 0, "bad", &correlation));
    ASSERT_TRUE(mRecorder.waitForEvents(3));
    const std::vector<Event> seen = events();
    EXPECT_EQ(1, seen[0].mEvent);
    EXPECT_EQ(14u, seen[0].mSubCode);
    EXPECT_EQ(503, seen[0].mResponseCode);
    EXPECT_EQ("router went away", seen[0].mInfo);
    EXPECT_EQ(12, seen[1].mEvent);
    EXPECT_EQ("", seen[1].mInfo);
    EXPECT_EQ(&correlation, seen[2].mCorrelation);
    EXPECT_EQ(17u, seen[2].mSubCode);
}

TEST_F(SessionTest, LastErrorIsPerThread)
{
    corvexClient_resetLastErrorInfo();
    EXPECT_EQ(nullptr, corvexClient_getLastErrorInfo());
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_session_connect(nullptr));
    ASSERT_NE(nullptr, corvexClient_getLastErrorInfo());
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT, corvexClient_getLastErrorInfo()->mSubCode);
    std::thread other(
        []
        {
            EXPECT_EQ(nullptr, corvexClient_getLastErrorInfo());
            corvexClient_msg_t msg = nullptr;
            EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_msg_free(&msg));
            EXPECT_EQ(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT,
                      corvexClient_getLastErrorInfo()->mSubCode);
            EXPECT_EQ(CORVEXCLIENT_FAIL,
                      corvexClient_session_getProperty(nullptr, nullptr, nullptr, 0));
        });
    other.join();
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT, corvexClient_getLastErrorInfo()->mSubCode);
}

TEST_F(SessionTest, TopicDispatchCanBeDisabled)
{
    corvexClient_session_t session = this->session({"SESSION_TOPIC_DISPATCH", "0"});
    Tagged tagged{&mRecorder, 1};
    EXPECT_EQ(CORVEXCLIENT_FAIL, subscribe(session, "a/b", tagged));
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_TOPIC_DISPATCH_DISABLED,
              corvexClient_getLastErrorInfo()->mSubCode);
}
