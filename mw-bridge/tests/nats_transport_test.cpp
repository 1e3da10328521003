/* MAMA transports on the NATS router: a publisher on one transport and
 * subscribers on another, each with a session of its own on the server, as
 * two processes would be; a server that goes away and comes back; two
 * servers joined by a route. Every test starts its own nats-server. */
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <iterator>
#include <thread>

#include "natsServer.h"
#include "receptionFixture.h"

namespace
{
/* The transport events an application's callback was given, in order. */
struct TransportEvents
{
    std::mutex mLock;
    std::condition_variable mChanged;
    std::vector<int> mEvents;

    static void MAMACALLTYPE onEvent(mamaTransport, mamaTransportEvent event, short, const void*,
                                     void* closure)
    {
        TransportEvents* events = static_cast<TransportEvents*>(closure);
        std::lock_guard<std::mutex> guard(events->mLock);
        events->mEvents.push_back(event);
        events->mChanged.notify_all();
    }

    bool waitFor(int event)
    {
        std::unique_lock<std::mutex> guard(mLock);
        return mChanged.wait_for(
            guard, WAIT_LIMIT,
            [&] { return std::find(mEvents.begin(), mEvents.end(), event) != mEvents.end(); });
    }

    std::vector<int> events()
    {
        std::lock_guard<std::mutex> guard(mLock);
        return mEvents;
    }
};

void setTransportProperty(const char* transport, const char* key, const std::string& value)
{
    const std::string name = std::string("mama.corvex.transport.") + transport + "." + key;
    mama_setProperty(name.c_str(), value.c_str());
}

/* Whether the sequence numbers rise strictly: nothing duplicated or
 * reordered, whatever a gap may have lost. */
bool strictlyRising(const std::vector<int64_t>& seqs)
{
    return std::adjacent_find(seqs.begin(), seqs.end(),
                              [](int64_t a, int64_t b) { return a >= b; }) == seqs.end();
}

std::vector<int64_t> countingFrom(int64_t first, int64_t last)
{
    std::vector<int64_t> seqs;
    for (int64_t seq = first; seq <= last; ++seq)
    {
        seqs.push_back(seq);
    }
    return seqs;
}

/* Whether a message numbered above `seq` arrives. */
bool received(MsgRecorder& recorder, int64_t seq)
{
    return recorder.waitUntil([seq](MsgRecorder& r)
                              { return !r.mMessages.empty() && r.mMessages.back().mSeq > seq; });
}

std::vector<int64_t> withoutWarmUp(const std::vector<int64_t>& seqs)
{
    std::vector<int64_t> counted;
    std::copy_if(seqs.begin(), seqs.end(), std::back_inserter(counted),
                 [](int64_t seq) { return seq > 0; });
    return counted;
}

/* How many times rising sequence numbers skip some. */
size_t gapsIn(const std::vector<int64_t>& seqs)
{
    size_t gaps = 0;
    for (size_t i = 1; i < seqs.size(); ++i)
    {
        gaps += seqs[i] > seqs[i - 1] + 1 ? 1 : 0;
    }
    return gaps;
}

uint64_t sessionNumber(corvexClient_session_t session, const char* name)
{
    char buffer[32] = "";
    EXPECT_EQ(CORVEXCLIENT_OK,
              corvexClient_session_getProperty(session, name, buffer, sizeof(buffer)));
    return std::strtoull(buffer, nullptr, 10);
}
} // namespace

/* The fixture's transport "t1" subscribes; transport "t2", created here,
 * publishes. Each names its NATS server list. */
class NatsTransportTest : public ReceptionTest
{
  protected:
    void SetUp() override
    {
        if (NatsServer::path() == nullptr)
        {
            GTEST_SKIP() << "nats-server is not installed";
        }
    }

    void TearDown() override
    {
        /* Subscriptions go before the publishers their callbacks reply with. */
        dispatchAll();
        for (size_t i = 0; i < mSubscriptions.size(); ++i)
        {
            destroySubscription(i);
        }
        for (mamaPublisher publisher : mPublishers)
        {
            mamaPublisher_destroy(publisher);
        }
        mPublishers.clear();
        if (mPublishingTransport != nullptr)
        {
            EXPECT_EQ(MAMA_STATUS_OK, mamaTransport_destroy(mPublishingTransport));
        }
        if (mOpen)
        {
            ReceptionTest::TearDown();
        }
    }

    void startServer(NatsServer& server, std::vector<std::string> extra = {})
    {
        ASSERT_TRUE(server.start(NatsServer::freePort(), extra)) << "nats-server did not start";
    }

    /* Opens the bridge with "t1" on `subscriberRouter` and "t2" on
     * `publisherRouter`; transport events of both are recorded, delivered on
     * a dispatched queue. */
    void open(const std::string& subscriberRouter, const std::string& publisherRouter,
              const char* queueMaxSize = nullptr)
    {
        setTransportProperty("t1", "SESSION_ROUTER", subscriberRouter);
        setTransportProperty("t2", "SESSION_ROUTER", publisherRouter);
        setTransportProperty("t2", "allow_recover_gaps", "true");
        for (const char* transport : {"t1", "t2"})
        {
            setTransportProperty(transport, "use_corvexcache", "false");
        }
        start(queueMaxSize);
        ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_allocate(&mPublishingTransport));
        ASSERT_EQ(MAMA_STATUS_OK,
                  mamaTransport_setTransportCallback(mPublishingTransport, TransportEvents::onEvent,
                                                     &mPublisherEvents));
        ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_create(mPublishingTransport, "t2", mBridge));
        ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_setTransportCallback(
                                      mTransport, TransportEvents::onEvent, &mSubscriberEvents));
        mamaQueue events = addQueue();
        mamaTransport_setTransportCallbackQueue(mTransport, events);
        mamaTransport_setTransportCallbackQueue(mPublishingTransport, events);
    }

    mamaPublisher publisherOnT2(const char* subject)
    {
        mamaPublisher publisher = nullptr;
        EXPECT_EQ(MAMA_STATUS_OK, mamaPublisher_create(&publisher, mPublishingTransport, subject,
                                                       nullptr, nullptr));
        mPublishers.push_back(publisher);
        return publisher;
    }

    /* Sends warm-up messages (sequence 0) until every recorder has one: the
     * subscriptions are in place on the server and, across servers, the
     * route carries their interest. */
    static bool warmUp(mamaPublisher publisher, const std::vector<MsgRecorder*>& recorders)
    {
        return pollUntil(
            [&]
            {
                send(publisher, 0);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                return std::all_of(recorders.begin(), recorders.end(),
                                   [](MsgRecorder* r) { return r->messageCount() > 0; });
            });
    }

    mamaTransport mPublishingTransport = nullptr;
    /* What an inbox on "t2" is given. */
    MsgRecorder mReplies;
    TransportEvents mSubscriberEvents;
    TransportEvents mPublisherEvents;
};

TEST_F(NatsTransportTest, BasicAndWildcardSubscribersOnAnotherTransportReceiveEveryMessageInOrder)
{
    NatsServer server;
    startServer(server);
    open(server.url(), server.url());
    MsgRecorder& basic = subscribe(addQueue(), "NYSE.IBM");
    MsgRecorder& wildcard = subscribe(addQueue(), "NYSE", "*");
    mamaPublisher ibm = publisherOnT2("NYSE.IBM");
    mamaPublisher msft = publisherOnT2("NYSE.MSFT");
    ASSERT_TRUE(warmUp(ibm, {&basic, &wildcard}));

    const int64_t count = 10000;
    for (int64_t seq = 1; seq <= count; ++seq)
    {
        send(seq % 2 ? ibm : msft, seq);
    }
    ASSERT_TRUE(received(wildcard, count - 1)) << wildcard.messageCount() << " messages";
    ASSERT_TRUE(received(basic, count - 2)) << basic.messageCount() << " messages";

    std::vector<int64_t> odd;
    for (int64_t seq = 1; seq <= count; seq += 2)
    {
        odd.push_back(seq);
    }
    EXPECT_EQ(odd, withoutWarmUp(basic.seqs()));
    EXPECT_EQ(countingFrom(1, count), withoutWarmUp(wildcard.seqs()));
    for (const MsgRecorder::Message& message : wildcard.messages())
    {
        if (message.mSeq > 0)
        {
            ASSERT_EQ(message.mSeq % 2 ? "NYSE.IBM" : "NYSE.MSFT", message.mSubject)
                << "message " << message.mSeq;
        }
    }
    EXPECT_TRUE(mSubscriberEvents.events().empty()) << "nothing happened to the connection";
}

/* A subscriber whose queue is not dispatched: at queue_max_size messages
 * its transport's session is suspended and holds what keeps coming, up to
 * twice its hold limit (the connection's delivery thread never waits for
 * room); beyond that messages are discarded, and the message after each gap
 * reaches the transport callback as MAMA_TRANSPORT_QUALITY. Once the queue
 * is dispatched, delivery goes on in order. */
TEST_F(NatsTransportTest,
       ASubscriberTooSlowForItsQueueIsSuspendedHoldsABoundedBacklogAndReportsTheDiscard)
{
    NatsServer server;
    startServer(server);
    const size_t queueMax = 100;
    const uint64_t holdLimit = 200;
    setTransportProperty("t1", "SESSION_SUSPEND_HOLD_LIMIT", std::to_string(holdLimit));
    open(server.url(), server.url(), std::to_string(queueMax).c_str());
    mamaQueue queue = addQueue(false);
    MsgRecorder& slow = subscribe(queue, "S.X");
    mamaPublisher publisher = publisherOnT2("S.X");
    ASSERT_TRUE(pollUntil(
        [&]
        {
            send(publisher, 0);
            mamaQueue_timedDispatch(queue, 20);
            return slow.messageCount() > 0;
        }));

    const int64_t burst = 2000;
    for (int64_t seq = 1; seq <= burst; ++seq)
    {
        send(publisher, seq);
    }
    ASSERT_TRUE(LogCapture::waitFor("discarding")) << "the hold never filled";
    /* The enqueue that finds the queue full suspends the session, and joins
     * the queue itself. */
    EXPECT_LE(queuedEvents(queue), queueMax + 1);
    dispatchAll();
    /* Once a message sent after the burst arrives, the burst has been
     * handled: from the next one sent on, every message arrives. The first
     * message after a gap carries the discard. */
    int64_t next = burst + 1;
    ASSERT_TRUE(pollUntil(
        [&]
        {
            send(publisher, next++);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            return slow.waitUntil([burst](MsgRecorder& r)
                                  { return r.mMessages.back().mSeq > burst; },
                                  std::chrono::milliseconds(0));
        }));
    const int64_t resumedAt = next;
    const int64_t last = resumedAt + 99;
    for (; next <= last; ++next)
    {
        send(publisher, next);
    }
    ASSERT_TRUE(received(slow, last - 1)) << slow.messageCount() << " messages";

    const std::vector<int64_t> seqs = withoutWarmUp(slow.seqs());
    EXPECT_TRUE(strictlyRising(seqs)) << "duplicated or reordered";
    const size_t fromBurst = static_cast<size_t>(
        std::count_if(seqs.begin(), seqs.end(), [burst](int64_t seq) { return seq <= burst; }));
    EXPECT_GE(fromBurst, queueMax) << "the queue's fill arrived";
    EXPECT_LT(fromBurst, static_cast<size_t>(burst)) << "messages beyond the hold are discarded";
    EXPECT_EQ(countingFrom(1, static_cast<int64_t>(queueMax)),
              std::vector<int64_t>(seqs.begin(), seqs.begin() + std::min(seqs.size(), queueMax)));
    EXPECT_LE(
        sessionNumber(mCorvexTransport->mSession, CORVEXCLIENT_SESSION_PROP_SUSPEND_HELD_PEAK),
        2 * holdLimit);
    const auto resumed = std::find(seqs.begin(), seqs.end(), resumedAt);
    ASSERT_NE(seqs.end(), resumed) << "lost after the burst";
    EXPECT_EQ(countingFrom(resumedAt, last), std::vector<int64_t>(resumed, seqs.end()));
    /* Each gap was reported once, on the transport callback. */
    const size_t gaps = gapsIn(seqs);
    EXPECT_GE(gaps, 1u);
    const auto qualities = [this]
    {
        const std::vector<int> events = mSubscriberEvents.events();
        return static_cast<size_t>(
            std::count(events.begin(), events.end(), MAMA_TRANSPORT_QUALITY));
    };
    EXPECT_TRUE(pollUntil([&] { return qualities() >= gaps; }));
    EXPECT_EQ(gaps, qualities());
}

TEST_F(NatsTransportTest, AServerRestartDisconnectsAndReconnectsBothTransportsAndTrafficResumes)
{
    NatsServer server;
    startServer(server);
    open(server.url(), server.url());
    MsgRecorder& basic = subscribe(addQueue(), "R.X");
    MsgRecorder& wildcard = subscribe(addQueue(), "R", "*");
    mamaPublisher publisher = publisherOnT2("R.X");
    ASSERT_TRUE(warmUp(publisher, {&basic, &wildcard}));

    /* Traffic throughout: the server goes away and comes back under it. */
    std::atomic<bool> publishing(true);
    std::atomic<int64_t> sent(0);
    std::thread traffic(
        [publisher, &publishing, &sent]
        {
            for (int64_t seq = 1; publishing.load(); ++seq)
            {
                send(publisher, seq);
                sent.store(seq);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    const bool flowing = received(basic, sent.load());
    server.stop();
    const bool disconnected = flowing && mSubscriberEvents.waitFor(MAMA_TRANSPORT_DISCONNECT) &&
                              mPublisherEvents.waitFor(MAMA_TRANSPORT_DISCONNECT);
    const bool restarted = disconnected && server.start(server.mPort);
    const bool reconnected = restarted && mSubscriberEvents.waitFor(MAMA_TRANSPORT_RECONNECT) &&
                             mPublisherEvents.waitFor(MAMA_TRANSPORT_RECONNECT);
    /* Once a message sent after the reconnect has arrived, the server has
     * the subscriptions made before the restart again: from the next one
     * sent on, every message must arrive. */
    const bool resubscribed =
        reconnected && received(basic, sent.load()) && received(wildcard, sent.load());
    const int64_t afterReconnect = sent.load() + 1;
    const bool resumed = resubscribed && received(basic, afterReconnect + 100) &&
                         received(wildcard, afterReconnect + 100);
    publishing.store(false);
    traffic.join();
    ASSERT_TRUE(flowing);
    ASSERT_TRUE(disconnected);
    ASSERT_TRUE(restarted) << "nats-server did not restart on port " << server.mPort;
    ASSERT_TRUE(reconnected);
    ASSERT_TRUE(resumed);

    /* MAMA_TRANSPORT_DISCONNECT (3), then MAMA_TRANSPORT_RECONNECT (2) and,
     * for each subscription, MAMA_TRANSPORT_QUALITY (7) ahead of its first
     * message after the outage (which may be on its way before the
     * reconnect is told); the publishing transport, whose callback was set
     * before it was created, had MAMA_TRANSPORT_CONNECT first. */
    std::vector<int> subscriberEvents = mSubscriberEvents.events();
    ASSERT_FALSE(subscriberEvents.empty());
    EXPECT_EQ(MAMA_TRANSPORT_DISCONNECT, subscriberEvents[0]);
    std::sort(subscriberEvents.begin() + 1, subscriberEvents.end());
    EXPECT_EQ((std::vector<int>{MAMA_TRANSPORT_DISCONNECT, MAMA_TRANSPORT_RECONNECT,
                                MAMA_TRANSPORT_QUALITY, MAMA_TRANSPORT_QUALITY}),
              subscriberEvents);
    EXPECT_EQ((std::vector<int>{MAMA_TRANSPORT_CONNECT, MAMA_TRANSPORT_DISCONNECT,
                                MAMA_TRANSPORT_RECONNECT}),
              mPublisherEvents.events());
    EXPECT_EQ(3, MAMA_TRANSPORT_DISCONNECT);
    EXPECT_EQ(2, MAMA_TRANSPORT_RECONNECT);
    for (MsgRecorder* recorder : {&basic, &wildcard})
    {
        const std::vector<int64_t> seqs = withoutWarmUp(recorder->seqs());
        EXPECT_TRUE(strictlyRising(seqs)) << "duplicated or reordered";
        const auto resumedAt = std::find(seqs.begin(), seqs.end(), afterReconnect);
        ASSERT_NE(seqs.end(), resumedAt) << "lost after the reconnect";
        EXPECT_EQ(countingFrom(afterReconnect, seqs.back()),
                  std::vector<int64_t>(resumedAt, seqs.end()));
    }
}

TEST_F(NatsTransportTest, APublisherOnOneServerReachesSubscribersOnAnotherThroughTheRoute)
{
    NatsServer first;
    NatsServer second;
    const int firstRoutePort = NatsServer::freePort();
    startServer(first, {"--cluster_name", "corvex", "--cluster",
                        "nats://127.0.0.1:" + std::to_string(firstRoutePort)});
    startServer(second, {"--cluster_name", "corvex", "--cluster",
                         "nats://127.0.0.1:" + std::to_string(NatsServer::freePort()), "--routes",
                         "nats://127.0.0.1:" + std::to_string(firstRoutePort)});
    open(second.url(), first.url());
    MsgRecorder& basic = subscribe(addQueue(), "C.X");
    MsgRecorder& wildcard = subscribe(addQueue(), "C", "*");
    mamaPublisher publisher = publisherOnT2("C.X");
    ASSERT_TRUE(warmUp(publisher, {&basic, &wildcard})) << "the route did not come up";

    const int64_t count = 10000;
    for (int64_t seq = 1; seq <= count; ++seq)
    {
        send(publisher, seq);
    }
    for (MsgRecorder* recorder : {&basic, &wildcard})
    {
        ASSERT_TRUE(received(*recorder, count - 1)) << recorder->messageCount() << " messages";
        EXPECT_EQ(countingFrom(1, count), withoutWarmUp(recorder->seqs()));
    }
}

TEST_F(NatsTransportTest, RequestsFromAnInboxOnOneServerAreAnsweredFromAnotherThroughTheRoute)
{
    NatsServer first;
    NatsServer second;
    const int firstRoutePort = NatsServer::freePort();
    startServer(first, {"--cluster_name", "corvex", "--cluster",
                        "nats://127.0.0.1:" + std::to_string(firstRoutePort)});
    startServer(second, {"--cluster_name", "corvex", "--cluster",
                         "nats://127.0.0.1:" + std::to_string(NatsServer::freePort()), "--routes",
                         "nats://127.0.0.1:" + std::to_string(firstRoutePort)});
    open(second.url(), first.url());
    /* The responder, on the second server, answers each request with its
     * number; the requester's inbox is on the first. */
    MsgRecorder& requests = subscribe(addQueue(), "C.REQ");
    mamaPublisher responder = addPublisher("C.REQ");
    requests.mOnMsg = [responder](mamaMsg request)
    {
        mama_i64_t seq = -1;
        mamaMsg reply = nullptr;
        if (mamaMsg_getI64(request, TEST_SEQ_NAME, TEST_SEQ_FID, &seq) == MAMA_STATUS_OK &&
            mamaMsg_create(&reply) == MAMA_STATUS_OK)
        {
            mamaMsg_addI64(reply, TEST_SEQ_NAME, TEST_SEQ_FID, seq);
            mamaPublisher_sendReplyToInbox(responder, request, reply);
            mamaMsg_destroy(reply);
        }
    };
    MsgRecorder& replies = mReplies;
    mamaInbox inbox = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK,
              mamaInbox_create2(&inbox, mPublishingTransport, addQueue(), MsgRecorder::onInboxMsg,
                                MsgRecorder::onInboxError, MsgRecorder::onInboxDestroy, &replies));
    mamaPublisher requester = publisherOnT2("C.REQ");
    auto request = [requester, inbox](int64_t seq)
    {
        mamaMsg msg = nullptr;
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_create(&msg));
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_addI64(msg, TEST_SEQ_NAME, TEST_SEQ_FID, seq));
        EXPECT_EQ(MAMA_STATUS_OK, mamaPublisher_sendFromInbox(requester, inbox, msg));
        mamaMsg_destroy(msg);
    };
    /* Until the route carries the responder's interest, requests are lost. */
    const bool warm = pollUntil(
        [&]
        {
            request(0);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            return replies.messageCount() > 0;
        });
    const int64_t count = 1000;
    for (int64_t seq = 1; warm && seq <= count; ++seq)
    {
        request(seq);
    }
    const bool answered = warm && received(replies, count - 1);
    EXPECT_EQ(MAMA_STATUS_OK, mamaInbox_destroy(inbox));
    EXPECT_TRUE(replies.waitUntil([](MsgRecorder& r) { return r.mDestroys > 0; }));
    ASSERT_TRUE(warm) << "no reply came through the route";
    ASSERT_TRUE(answered) << replies.messageCount() << " replies";
    EXPECT_EQ(countingFrom(1, count), withoutWarmUp(replies.seqs()));
    EXPECT_TRUE(replies.errors().empty());
}
