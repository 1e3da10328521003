/* Which subscriptions a published topic reaches: levels, "*", a prefix
 * ending in "*", ">", and peer-to-peer topics. */
#include "clientTestSupport.h"

using namespace corvextest;

namespace
{
class TopicMatchTest : public ClientTest
{
  protected:
    /* Subscribes one pattern, publishes each topic, and answers the topics
     * that reached the subscription. */
    std::vector<std::string> reached(const char* pattern, const std::vector<std::string>& topics)
    {
        corvexClient_session_t session = this->session();
        Tagged tagged{&mRecorder, 1};
        EXPECT_EQ(CORVEXCLIENT_OK, subscribe(session, pattern, tagged));
        for (const std::string& topic : topics)
        {
            EXPECT_EQ(CORVEXCLIENT_OK, send(session, topic.c_str(), "x")) << topic;
        }
        drain(session);
        std::vector<std::string> matched;
        for (const ClientMsg& message : mRecorder.mMessages)
        {
            if (message.mUser == &tagged)
                matched.push_back(message.mTopic);
        }
        return matched;
    }
};
} // namespace

TEST_F(TopicMatchTest, ExactTopicMatchesOnlyItself)
{
    EXPECT_EQ((std::vector<std::string>{"a/b/c"}),
              reached("a/b/c", {"a/b/c", "a/b", "a/b/c/d", "a/b/cd", "x/b/c"}));
}

TEST_F(TopicMatchTest, StarMatchesExactlyOneLevel)
{
    EXPECT_EQ((std::vector<std::string>{"a/x/c", "a/yy/c"}),
              reached("a/*/c", {"a/x/c", "a/yy/c", "a/c", "a/x/y/c", "a/x/c/d"}));
}

TEST_F(TopicMatchTest, StarAfterPrefixMatchesRestOfLevel)
{
    EXPECT_EQ((std::vector<std::string>{"quote/IBM", "quote/IBMX", "quote/IB"}),
              reached("quote/IB*", {"quote/IBM", "quote/IBMX", "quote/IB", "quote/I", "quote/IBM/x",
                                    "quotes/IBM"}));
}

TEST_F(TopicMatchTest, StarInsideLevelIsLiteral)
{
    EXPECT_EQ((std::vector<std::string>{"a/b*c"}), reached("a/b*c", {"a/b*c", "a/bxc", "a/bc"}));
}

TEST_F(TopicMatchTest, GreaterThanMatchesOneOrMoreTrailingLevels)
{
    EXPECT_EQ((std::vector<std::string>{"a/b", "a/b/c", "a/b/c/d"}),
              reached("a/>", {"a", "a/b", "a/b/c", "a/b/c/d", "b/a"}));
}

TEST_F(TopicMatchTest, GreaterThanOnlyAsWholeLastLevel)
{
    /* "a>" and ">/b" are plain topics, matched literally. */
    EXPECT_EQ((std::vector<std::string>{"x/a>"}), reached("x/a>", {"x/a>", "x/a", "x/ab"}));
    mRecorder.mMessages.clear();
    EXPECT_EQ((std::vector<std::string>{">/b"}), reached(">/b", {">/b", "a/b"}));
}

TEST_F(TopicMatchTest, StarAndGreaterThanCombine)
{
    EXPECT_EQ((std::vector<std::string>{"md/x/IBM/trade", "md/y/IBM/quote/bid"}),
              reached("md/*/IBM/>",
                      {"md/x/IBM/trade", "md/y/IBM/quote/bid", "md/x/IBM", "md/x/MSFT/trade"}));
}

TEST_F(TopicMatchTest, PublishingOnWildcardOrMalformedTopicFails)
{
    corvexClient_session_t session = this->session();
    for (const char* wildcard : {"a/*", "a/>", "*", ">", "a*/b", "a/b*", "x*/y/>"})
    {
        EXPECT_EQ(CORVEXCLIENT_FAIL, send(session, wildcard, "x")) << wildcard;
        EXPECT_EQ(CORVEXCLIENT_SUBCODE_PUBLISH_TOPIC_INVALID,
                  corvexClient_getLastErrorInfo()->mSubCode)
            << wildcard;
    }
    for (const char* bad : {"", "a//b", "x/y//z", "/a", "a/"})
    {
        EXPECT_EQ(CORVEXCLIENT_FAIL, send(session, bad, "x")) << bad;
        EXPECT_EQ(CORVEXCLIENT_SUBCODE_BAD_TOPIC, corvexClient_getLastErrorInfo()->mSubCode) << bad;
    }
    const std::string longTopic(CORVEXCLIENT_MAX_TOPIC_LEN + 1, 'a');
    EXPECT_EQ(CORVEXCLIENT_FAIL, send(session, longTopic.c_str(), "x"));
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_TOPIC_TOO_LONG, corvexClient_getLastErrorInfo()->mSubCode);
}

TEST_F(TopicMatchTest, PeerToPeerTopicReachesOnlyItsSessionWithoutRouterSubscription)
{
    ClientRecorder otherRecorder;
    corvexClient_session_t target = session({"SESSION_CLIENT_NAME", "client42"});
    corvexClient_session_t other =
        session({"SESSION_CLIENT_NAME", "client43"}, true, &otherRecorder);
    corvexClient_session_t sender = session();

    char replyTo[260];
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClient_session_getProperty(target, "SESSION_REPLY_TO_DEFAULT_DEST", replyTo,
                                               sizeof(replyTo)));
    EXPECT_STREQ("#P2P/v:embedded/client42/#", replyTo);

    /* An inbox: local dispatch only, with "*" standing for the router level. */
    Tagged inbox{&mRecorder, 7};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(target, "#P2P/*/client42/inbox1", inbox,
                                         CORVEXCLIENT_SUBSCRIBE_FLAGS_LOCAL_DISPATCH_ONLY));
    ASSERT_EQ(CORVEXCLIENT_OK, send(sender, "#P2P/v:embedded/client42/inbox1", "reply"));
    /* No entry matches: the session's own receive callback gets it. */
    ASSERT_EQ(CORVEXCLIENT_OK, send(sender, "#P2P/v:embedded/client42/other", "stray"));
    /* Another router's or client's address does not arrive here. */
    ASSERT_EQ(CORVEXCLIENT_OK, send(sender, "#P2P/v:elsewhere/client42/inbox1", "lost"));
    drain(target);
    drain(other);

    const std::vector<ClientMsg> got =
        mRecorder.read<std::vector<ClientMsg>>([&] { return mRecorder.mMessages; });
    ASSERT_EQ(2u, got.size());
    EXPECT_EQ("reply", got[0].mContent);
    EXPECT_EQ(&inbox, got[0].mUser);
    EXPECT_EQ("stray", got[1].mContent);
    EXPECT_EQ(nullptr, got[1].mUser);
    EXPECT_EQ(0u, otherRecorder.messageCount());
}

TEST_F(TopicMatchTest, LocalDispatchEntryIsNotSubscribedAtRouter)
{
    corvexClient_session_t receiver = session();
    corvexClient_session_t sender = session();
    Tagged local{&mRecorder, 1};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(receiver, "only/local", local,
                                         CORVEXCLIENT_SUBSCRIBE_FLAGS_LOCAL_DISPATCH_ONLY));
    ASSERT_EQ(CORVEXCLIENT_OK, send(sender, "only/local", "x"));
    drain(receiver);
    EXPECT_EQ(0u, mRecorder.messageCount());

    /* Once the router sends the topic for another entry, the local one gets it too. */
    Tagged routed{&mRecorder, 2};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(receiver, "only/>", routed));
    ASSERT_EQ(CORVEXCLIENT_OK, send(sender, "only/local", "y"));
    ASSERT_TRUE(mRecorder.waitForMessages(2));
}
