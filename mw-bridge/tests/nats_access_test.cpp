/* A MAMA application on a transport whose session meets others on a
 * nats-server with permissions: what the server refuses reaches the
 * application as the embedded router's access control refusals do. */
#include <mutex>

#include "natsServer.h"
#include "subscriptionFixture.h"

namespace
{
/* User "a" may neither subscribe to nor publish on subjects under SECRET. */
const char* const PERMISSIONS =
    "authorization { users = [ {user: a, password: b, permissions: {"
    "publish: {deny: [\"SECRET.>\"]}, subscribe: {deny: [\"SECRET.>\"]}}} ] }";

/* Clients that present no login are the user "guest"; a login the server
 * does not know is refused. */
const char* const GUEST_ADMITTED =
    "authorization { users = [ {user: a, password: b}, {user: guest, password: \"\"} ] }\n"
    "no_auth_user: guest";

struct TopicEvents
{
    std::mutex mLock;
    std::vector<std::pair<int, std::string>> mSeen;

    size_t count()
    {
        std::lock_guard<std::mutex> guard(mLock);
        return mSeen.size();
    }
};

void MAMACALLTYPE onTopicEvent(mamaTransport, mamaTransportTopicEvent event, const char* topic,
                               const void*, void* closure)
{
    TopicEvents* events = static_cast<TopicEvents*>(closure);
    std::lock_guard<std::mutex> guard(events->mLock);
    events->mSeen.emplace_back(event, topic != nullptr ? topic : "");
}

class NatsAccessTest : public SubscriptionTest
{
  protected:
    /* Transport "t1" logged in as user "a" on a server of the test's own. */
    void startGuarded(const char* subscribeAsync = nullptr)
    {
        if (!NatsServer::path())
            GTEST_SKIP() << "nats-server is not installed (scripts/setup.sh installs it)";
        ASSERT_TRUE(mServer.startWithConfig(NatsServer::freePort(), PERMISSIONS));
        const std::string url = mServer.url();
        mama_setProperty("mama.corvex.transport.t1.SESSION_ROUTER", url.c_str());
        mama_setProperty("mama.corvex.transport.t1.SESSION_USERNAME", "a");
        mama_setProperty("mama.corvex.transport.t1.SESSION_PASSWORD", "b");
        start(subscribeAsync);
    }

    /* A refused subscription's only error is NOT_ENTITLED, on the queue's
     * dispatch thread; an allowed one on the same transport receives. */
    void expectRefusedAndAllowed()
    {
        MsgRecorder* refused = nullptr;
        const mama_status created = subscribe("SECRET.PLANS", &refused);
        MsgRecorder* allowed = nullptr;
        ASSERT_EQ(MAMA_STATUS_OK, subscribe("OPEN.PLANS", &allowed));
        startDispatch();
        ASSERT_TRUE(refused->waitUntil([](MsgRecorder& r) { return r.mErrors.size() >= 1; }));
        const MsgRecorder::Error error = refused->errors()[0];
        EXPECT_EQ(MAMA_STATUS_NOT_ENTITLED, error.mStatus);
        EXPECT_EQ("SECRET.PLANS", error.mSubject);
        EXPECT_EQ(mDispatching.load(), error.mThread);
        EXPECT_TRUE(created == MAMA_STATUS_OK || created == MAMA_STATUS_NOT_ENTITLED)
            << mamaStatus_stringForStatus(created);

        send(publisher("PLANS", "OPEN"), 2);
        EXPECT_TRUE(allowed->waitUntil([](MsgRecorder& r) { return r.mMessages.size() == 2u; }));
        EXPECT_TRUE(allowed->errors().empty());
        EXPECT_EQ(1u, refused->errors().size());
        EXPECT_TRUE(refused->mMessages.empty());
    }

    NatsServer mServer;
};

/* The bridge's stand-ins for a login (the operating-system user and host
 * names) are not credentials: a transport configured with none presents
 * none, and the server admits it as its anonymous user; configured ones are
 * presented. */
TEST_F(NatsAccessTest, ATransportWithoutCredentialsPresentsNoLoginAndConfiguredOnesArePresented)
{
    if (!NatsServer::path())
        GTEST_SKIP() << "nats-server is not installed (scripts/setup.sh installs it)";
    ASSERT_TRUE(mServer.startWithConfig(NatsServer::freePort(), GUEST_ADMITTED));
    const std::string url = mServer.url();
    mama_setProperty("mama.corvex.transport.t1.SESSION_ROUTER", url.c_str());
    mama_setProperty("mama.corvex.transport.t2.SESSION_ROUTER", url.c_str());
    mama_setProperty("mama.corvex.transport.t2.allow_recover_gaps", "true");
    mama_setProperty("mama.corvex.transport.t2.SESSION_USERNAME", "a");
    mama_setProperty("mama.corvex.transport.t2.SESSION_PASSWORD", "b");
    mama_setProperty("mama.corvex.transport.t3.SESSION_ROUTER", url.c_str());
    mama_setProperty("mama.corvex.transport.t3.allow_recover_gaps", "true");
    mama_setProperty("mama.corvex.transport.t3.SESSION_USERNAME", "a");
    mama_setProperty("mama.corvex.transport.t3.SESSION_PASSWORD", "wrong");
    start();
    ASSERT_NE(nullptr, mTransport) << "the guest's transport was refused";
    MsgRecorder* guest = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, subscribe("GUEST.IN", &guest));
    startDispatch();
    send(publisher("IN", "GUEST"), 2);
    EXPECT_TRUE(guest->waitUntil([](MsgRecorder& r) { return r.mMessages.size() == 2u; }));

    mamaTransport user = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_allocate(&user));
    EXPECT_EQ(MAMA_STATUS_OK, mamaTransport_create(user, "t2", mBridge));
    mamaTransport_destroy(user);
    mamaTransport refused = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_allocate(&refused));
    EXPECT_NE(MAMA_STATUS_OK, mamaTransport_create(refused, "t3", mBridge));
    mamaTransport_destroy(refused);
}

TEST_F(NatsAccessTest, AnAsynchronousSubscriptionTheServerRefusesGetsNotEntitled)
{
    startGuarded();
    if (IsSkipped())
        return;
    expectRefusedAndAllowed();
}

TEST_F(NatsAccessTest, ASynchronousSubscriptionTheServerRefusesFailsAsNotEntitled)
{
    startGuarded("false");
    if (IsSkipped())
        return;
    MsgRecorder* refused = nullptr;
    EXPECT_EQ(MAMA_STATUS_NOT_ENTITLED, subscribe("SECRET.SYNC", &refused));
    startDispatch();
    ASSERT_TRUE(refused->waitUntil([](MsgRecorder& r) { return r.mErrors.size() >= 1; }));
    EXPECT_EQ(MAMA_STATUS_NOT_ENTITLED, refused->errors()[0].mStatus);
    expectRefusedAndAllowed();
}

TEST_F(NatsAccessTest, APublishTheServerRefusesReachesTheTopicCallbackAndTheLog)
{
    startGuarded();
    if (IsSkipped())
        return;
    TopicEvents events;
    mamaTransport_setTransportTopicCallback(mTransport, onTopicEvent, &events);
    startDispatch();
    send(publisher("OUT", "SECRET"), 1);
    /* Topic events go to the bridge's default queue without a queue of
     * the transport's own. */
    mamaQueue defaultQueue = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mama_getDefaultEventQueue(mBridge, &defaultQueue));
    ASSERT_TRUE(pollUntil(
        [&]
        {
            mamaQueue_dispatchEvent(defaultQueue);
            return events.count() >= 1;
        }));
    {
        std::lock_guard<std::mutex> guard(events.mLock);
        EXPECT_EQ(MAMA_TRANSPORT_TOPIC_PUBLISH_ERROR_NOT_ENTITLED, events.mSeen[0].first);
        EXPECT_EQ("SECRET.OUT", events.mSeen[0].second);
    }
    EXPECT_TRUE(
        LogCapture::waitFor("Message rejected: event=CORVEXCLIENT_SESSION_EVENT_MSG_REJECTED "
                            "subCode=CORVEXCLIENT_SUBCODE_PUBLISH_NOT_PERMITTED responseCode=403 "
                            "reason=Publish refused by NATS permissions for Topic 'SECRET/OUT'"));
    mamaTransport_setTransportTopicCallback(mTransport, nullptr, nullptr);
}
} // namespace
