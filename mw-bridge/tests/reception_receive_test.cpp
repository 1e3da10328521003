/* Messages received by MAMA subscriptions on the bridge: delivery order and
 * subjects, cache-response filtering, the queue-depth rule, decode failures,
 * detached messages, and flow control seen end to end. */
#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

#include <msgimpl.h>

#include "msg.h"
#include "receptionFixture.h"
#include "subscription.h"

namespace
{
void MAMACALLTYPE ignoreEvent(mamaQueue, void*) {}

void onCacheOutcome(corvexClient_session_t, const corvexClient_cacheSession_eventInfo_t*, void*) {}
} // namespace

TEST_F(ReceptionTest, BasicAndWildcardSubscribersReceiveEveryMessageInOrderWithTheirSubjects)
{
    start();
    MsgRecorder& basic = subscribe(addQueue(), "NYSE.IBM");
    MsgRecorder& wildcard = subscribe(addQueue(), "NYSE", "*");
    mamaPublisher ibm = addPublisher("NYSE.IBM");
    mamaPublisher msft = addPublisher("NYSE.MSFT");
    const int64_t count = 5000;
    for (int64_t seq = 1; seq <= count; ++seq)
    {
        send(seq % 2 ? ibm : msft, seq);
    }
    ASSERT_TRUE(basic.waitForMessages(count / 2));
    ASSERT_TRUE(wildcard.waitForMessages(count));

    std::vector<int64_t> expectedBasic;
    std::vector<int64_t> expectedAll;
    for (int64_t seq = 1; seq <= count; ++seq)
    {
        expectedAll.push_back(seq);
        if (seq % 2)
        {
            expectedBasic.push_back(seq);
        }
    }
    EXPECT_EQ(expectedBasic, basic.seqs());
    EXPECT_EQ(expectedAll, wildcard.seqs());
    std::vector<MsgRecorder::Message> messages = wildcard.messages();
    for (size_t i = 0; i < messages.size(); ++i)
    {
        ASSERT_EQ(i % 2 ? "NYSE.MSFT" : "NYSE.IBM", messages[i].mSubject) << "message " << i;
    }
    EXPECT_NE(std::this_thread::get_id(), wildcard.messageThread());
}

TEST_F(ReceptionTest, CacheResponsesReachTheRequesterOrEverySubscriptionForIdZero)
{
    start();
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClientTest_addCachedTopics("embedded", "C/>"));
    MsgRecorder& requester = subscribe(addQueue(), "C.X");
    MsgRecorder& other = subscribe(addQueue(), "C.X");
    corvexSubscription(0)->mCacheRequestId = 7;
    mamaPublisher publisher = addPublisher("C.X");
    send(publisher, 1);
    ASSERT_TRUE(requester.waitForMessages(1));
    ASSERT_TRUE(other.waitForMessages(1));

    corvexClient_cacheSession_t cache = nullptr;
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClient_session_createCacheSession(nullptr, mCorvexTransport->mSession, &cache));
    for (corvexClient_cacheRequestId_t id : {7, 0, 9})
    {
        EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_cacheSession_sendCacheRequest(
                                       cache, "C/X", id, onCacheOutcome, nullptr,
                                       CORVEXCLIENT_CACHEREQUEST_FLAGS_DELIVER_CACHED, 0));
    }
    send(publisher, 2);
    ASSERT_TRUE(requester.waitForMessages(4));
    ASSERT_TRUE(other.waitForMessages(3));
    EXPECT_EQ((std::vector<int64_t>{1, 1, 1, 2}), requester.seqs());
    EXPECT_EQ((std::vector<int64_t>{1, 1, 2}), other.seqs());
    /* Id 7 for the other subscription, id 9 for both. */
    EXPECT_EQ(3u,
              LogCapture::count("Discarding cache response not requested by this subscription"));
    EXPECT_EQ(1u, LogCapture::count("ReceivedCacheRequestId=9 subscCacheRequestId=7 "));
    corvexClient_cacheSession_destroy(&cache);
}

TEST_F(ReceptionTest, WithoutAsynchronousModeTheMessageFindingNEventsIsDiscarded)
{
    start("5", "false");
    mamaQueue queue = addQueue(false);
    MsgRecorder& received = subscribe(queue, "D.X");
    for (int i = 0; i < 4; ++i)
    {
        ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_enqueueEvent(queue, ignoreEvent, nullptr));
    }
    mamaPublisher publisher = addPublisher("D.X");
    send(publisher, 1); /* finds 4 events: queued */
    send(publisher, 2); /* finds 5: discarded */
    ASSERT_TRUE(LogCapture::waitFor(
        "Discarding message with topic 'D/X'; cannot exceed maximum queue depth of 5"))
        << ::testing::PrintToString(LogCapture::lines());
    EXPECT_EQ(5u, queuedEvents(queue));

    dispatchAll();
    ASSERT_TRUE(received.waitForMessages(1)); /* the queue has drained */
    send(publisher, 3);
    ASSERT_TRUE(received.waitForMessages(2));
    EXPECT_EQ((std::vector<int64_t>{1, 3}), received.seqs());
}

namespace
{
/* Transport events on the subscription's own queue, each with the number of
 * messages delivered before it: where in the stream the application saw it. */
struct QualityPlacement
{
    MsgRecorder* mReceived;
    std::mutex mLock;
    std::vector<size_t> mAt;

    static void MAMACALLTYPE onEvent(mamaTransport, mamaTransportEvent event, short, const void*,
                                     void* closure)
    {
        QualityPlacement* placement = static_cast<QualityPlacement*>(closure);
        if (event != MAMA_TRANSPORT_QUALITY)
        {
            return;
        }
        std::lock_guard<std::mutex> guard(placement->mLock);
        placement->mAt.push_back(placement->mReceived->messageCount());
    }

    std::vector<size_t> at()
    {
        std::lock_guard<std::mutex> guard(mLock);
        return mAt;
    }
};

/* Dispatches on the test's thread until `done`. */
bool dispatchUntil(mamaQueue queue, const std::function<bool()>& done)
{
    return pollUntil(
        [&]
        {
            mamaQueue_timedDispatch(queue, 10);
            return done();
        });
}
} // namespace

/* Without asynchronous mode a full queue discards what arrives; each run of
 * discarded messages reaches the application as one quality event, just
 * ahead of the first message delivered after it, and nowhere else. */
TEST_F(ReceptionTest, WithoutAsynchronousModeEachRunOfDiscardsIsReportedAheadOfTheNextMessage)
{
    start("5", "false");
    mamaQueue queue = addQueue(false);
    MsgRecorder& received = subscribe(queue, "Q.X");
    /* Has every message once the slow subscription has been offered it. */
    MsgRecorder& witness = subscribe(addQueue(), "Q.X");
    QualityPlacement placement{&received, {}, {}};
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_setTransportCallback(
                                  mTransport, QualityPlacement::onEvent, &placement));
    mamaTransport_setTransportCallbackQueue(mTransport, queue);
    mamaPublisher publisher = addPublisher("Q.X");

    int64_t seq = 0;
    /* Two runs of discards: 2 and 3 (after 1 filled the queue), then 6 and 7. */
    for (int run = 0; run < 2; ++run)
    {
        const size_t fill = run == 0 ? 4 : 5;
        for (size_t i = 0; i < fill; ++i)
        {
            ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_enqueueEvent(queue, ignoreEvent, nullptr));
        }
        if (run == 0)
        {
            send(publisher, ++seq);
            ASSERT_TRUE(pollUntil([&] { return queuedEvents(queue) == 5u; }));
        }
        send(publisher, ++seq);
        send(publisher, ++seq);
        ASSERT_TRUE(witness.waitForMessages(static_cast<size_t>(seq)));
        ASSERT_TRUE(dispatchUntil(queue, [&] { return queuedEvents(queue) == 0u; }));
        send(publisher, ++seq);
        send(publisher, ++seq);
        const size_t expected = run == 0 ? 3u : 5u;
        ASSERT_TRUE(dispatchUntil(queue, [&] { return received.messageCount() == expected; }))
            << received.messageCount();
    }
    ASSERT_TRUE(dispatchUntil(queue, [&] { return queuedEvents(queue) == 0u; }));
    EXPECT_EQ((std::vector<int64_t>{1, 4, 5, 8, 9}), received.seqs());
    EXPECT_EQ((std::vector<size_t>{1, 3}), placement.at())
        << "one quality event ahead of 4 and one ahead of 8";
    mamaTransport_setTransportCallback(mTransport, nullptr, nullptr);
}

TEST_F(ReceptionTest, DecodeFailuresCarryADumpOnTheFirstSecondAndEvery500th)
{
    start();
    MsgRecorder& received = subscribe(addQueue(), "E.X");
    const unsigned char corrupt[] = {'1', 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
    const int failures = 1001;
    for (int i = 0; i < failures; ++i)
    {
        sendRaw("E/X", corrupt, sizeof(corrupt));
    }
    ASSERT_TRUE(
        LogCapture::waitFor("Cannot decode message received", failures, std::chrono::seconds(30)));
    EXPECT_EQ(4u, LogCapture::count("\nMessage :\n"));
    std::vector<std::string> lines = LogCapture::matching("Cannot decode message received");
    std::vector<size_t> dumped;
    for (size_t i = 0; i < lines.size(); ++i)
    {
        if (lines[i].find("\nMessage :\n") != std::string::npos)
        {
            dumped.push_back(i + 1);
        }
    }
    EXPECT_EQ((std::vector<size_t>{1, 2, 501, 1001}), dumped);
    EXPECT_NE(std::string::npos, lines[0].find("status=[2]"));

    /* An id no payload answers to, an empty attachment and none at all cost
     * the message only. */
    sendRaw("E/X", "Zabc", 4);
    sendRaw("E/X", "", 0);
    sendRaw("E/X", nullptr, 0);
    ASSERT_TRUE(LogCapture::waitFor("payload ID is 'Z' [0x5A]"));
    ASSERT_TRUE(LogCapture::waitFor("Cannot decode message received", failures + 1));
    ASSERT_TRUE(LogCapture::waitFor("Could not get binary attachment from msg."));
    mamaPublisher publisher = addPublisher("E.X");
    send(publisher, 1);
    ASSERT_TRUE(received.waitForMessages(1));
    EXPECT_EQ((std::vector<int64_t>{1}), received.seqs());
}

/* A payload id byte from the wire that no payload answers to is shown
 * escaped when it is not printable: NUL and bytes above 0x7f write nothing
 * raw into the log. */
TEST_F(ReceptionTest, AnUnprintablePayloadIdIsLoggedEscaped)
{
    start();
    MsgRecorder& received = subscribe(addQueue(), "G.X");
    sendRaw("G/X", "\0abc", 4);
    sendRaw("G/X", "\xc3\xa9", 2);
    ASSERT_TRUE(LogCapture::waitFor("payload ID is '\\xC3' [0xC3]"))
        << ::testing::PrintToString(LogCapture::matching("payload ID"));
    EXPECT_EQ(1u, LogCapture::count("payload ID is '\\x00' [0x00]"))
        << ::testing::PrintToString(LogCapture::matching("payload ID"));
    for (const std::string& line : LogCapture::matching("payload ID"))
    {
        EXPECT_TRUE(
            std::all_of(line.begin(), line.end(), [](char c) { return (unsigned char)c < 0x7f; }))
            << ::testing::PrintToString(line);
    }
    EXPECT_EQ(0u, received.messageCount());
}

TEST_F(ReceptionTest, ADetachedMessageKeepsItsVendorMessage)
{
    start();
    MsgRecorder& received = subscribe(addQueue(), "F.X");
    std::vector<mamaMsg> kept;
    received.mOnMsg = [&kept](mamaMsg msg)
    {
        mama_i64_t seq = 0;
        mamaMsg_getI64(msg, TEST_SEQ_NAME, TEST_SEQ_FID, &seq);
        if (seq == 1 || seq == 2)
        {
            ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_detach(msg));
        }
        if (seq == 1)
        {
            kept.push_back(msg);
        }
        if (seq == 2)
        {
            /* Destroyed before the callback returns: the bridge must not look at it again. */
            mamaMsg_destroy(msg);
        }
    };
    mamaPublisher publisher = addPublisher("F.X");
    for (int64_t seq = 1; seq <= 4; ++seq)
    {
        send(publisher, seq);
    }
    ASSERT_TRUE(received.waitForMessages(4));
    EXPECT_EQ((std::vector<int64_t>{1, 2, 3, 4}), received.seqs());

    ASSERT_EQ(1u, kept.size());
    CorvexBridgeMsg* bridgeMsg = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsgImpl_getBridgeMsg(kept[0], (msgBridge*)&bridgeMsg));
    EXPECT_EQ(1, bridgeMsg->mIsDetached);
    ASSERT_NE(nullptr, bridgeMsg->mCorvexMsg);
    corvexClient_destination_t destination;
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_msg_getDestination(bridgeMsg->mCorvexMsg, &destination,
                                                               sizeof(destination)));
    EXPECT_STREQ("F/X", destination.mTopic);
    mama_i64_t seq = 0;
    EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_getI64(kept[0], TEST_SEQ_NAME, TEST_SEQ_FID, &seq));
    EXPECT_EQ(1, seq);
    EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_destroy(kept[0]));
}

/* A subscription that requires an initial value is placed before MAMA, back
 * from create, starts waiting for that value: what reaches it in between
 * would overtake the initial, so it is set aside until MAMA is seen waiting
 * (here the moment is held open by hand). */
TEST_F(ReceptionTest, MessagesBeforeTheWaitForTheInitialAreSetAsideUntilMamaWaits)
{
    start();
    mamaQueue queue = addQueue();
    MsgRecorder& received = subscribe(queue, "H.X");
    /* Behind the first two on the same queue: once it is in, they were seen. */
    MsgRecorder& fence = subscribe(queue, "H.Y");
    mamaPublisher publisher = addPublisher("H.X");
    CorvexSubscription* subscription = corvexSubscription(0);
    subscription->mBeforeInitialWait.store(1);

    send(publisher, 1);
    send(publisher, 2);
    send(addPublisher("H.Y"), 1);
    ASSERT_TRUE(fence.waitForMessages(1));
    EXPECT_EQ(0u, received.messageCount());
    EXPECT_EQ(1, subscription->mBeforeInitialWait.load());

    ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_setExpectingInitial(mSubscriptions[0], 1));
    send(publisher, 3);
    ASSERT_TRUE(received.waitForMessages(1));
    EXPECT_EQ((std::vector<int64_t>{3}), received.seqs());
    EXPECT_EQ(0, subscription->mBeforeInitialWait.load());
    ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_setExpectingInitial(mSubscriptions[0], 0));
}

TEST_F(ReceptionTest, AWildcardMessageWithoutReadableDestinationIsDeliveredAsUnavailable)
{
    start();
    MsgRecorder& received = subscribe(addQueue(), "G", "*");
    mamaPublisher publisher = addPublisher("G.X");
    corvexClientTest_failNext("corvexClient_msg_getDestination", CORVEXCLIENT_FAIL,
                              CORVEXCLIENT_SUBCODE_INTERNAL_ERROR, "injected");
    send(publisher, 1);
    ASSERT_TRUE(received.waitForMessages(1));
    EXPECT_EQ("unavailable", received.messages()[0].mSubject);
}

TEST_F(ReceptionTest, AFullQueueSuspendsAndResumesTheSessionWithoutLosingOrReordering)
{
    start("1000");
    mamaQueue queue = addQueue();
    MsgRecorder& received = subscribe(queue, "H.X");
    std::atomic<size_t> deepest(0);
    received.mOnMsg = [queue, &deepest](mamaMsg)
    {
        size_t events = queuedEvents(queue);
        if (events > deepest.load())
        {
            deepest.store(events);
        }
        /* A slow subscriber. */
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    };
    mamaPublisher publisher = addPublisher("H.X");
    const int64_t count = 10000;
    for (int64_t seq = 1; seq <= count; ++seq)
    {
        send(publisher, seq);
    }
    ASSERT_TRUE(received.waitForMessages(count, std::chrono::seconds(60)));
    std::vector<int64_t> expected;
    for (int64_t seq = 1; seq <= count; ++seq)
    {
        expected.push_back(seq);
    }
    EXPECT_EQ(expected, received.seqs());
    EXPECT_GE(LogCapture::count("suspending the transport 't1'; cannot exceed maximum queue depth"),
              1u);
    EXPECT_GE(
        LogCapture::count("resuming the transport 't1'; queue now has enough room to continue"),
        1u);
    EXPECT_LE(deepest.load(), 1001u);
}

/* A message already on its way when its subscription is destroyed reaches a
 * session that no longer has a topic for it: that is expected, and reported
 * at the fine level by the module that received it, not as an error. */
TEST_F(ReceptionTest, AMessageArrivingAfterItsSubscriptionsDestroyIsNoError)
{
    start();
    MsgRecorder& received = subscribe(addQueue(), "NYSE.IBM");
    mamaPublisher ibm = addPublisher("NYSE.IBM");
    ASSERT_TRUE(pollUntil(
        [&]
        {
            send(ibm, 0);
            return received.waitForMessages(1, std::chrono::milliseconds(10));
        }));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    size_t before = received.messageCount();

    ASSERT_TRUE(holdContextThread(mCorvexTransport->mSession));
    send(ibm, 1);
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_destroy(mSubscriptions[0]));
    LogCapture::release();
    ASSERT_TRUE(received.waitUntil([](MsgRecorder& r) { return r.mDestroys > 0; }));
    ASSERT_TRUE(LogCapture::waitFor("topic=NYSE/IBM"));

    EXPECT_EQ(before, received.messageCount());
    /* At the finest level the message's dump follows on a line of its own. */
    std::vector<std::string> strays;
    for (const std::string& line : LogCapture::matching("Received opaqueSession_p="))
    {
        if (line.find(" msg=\n") == std::string::npos)
        {
            strays.push_back(line);
        }
    }
    ASSERT_EQ(1u, strays.size()) << ::testing::PrintToString(strays);
    BridgeLine parts;
    ASSERT_TRUE(BridgeLine::parse(strays[0], &parts)) << strays[0];
    EXPECT_EQ("Fine", parts.mLevel);
    EXPECT_EQ("receive", parts.mModule);
    EXPECT_TRUE(BridgeLine::at("Error").empty())
        << ::testing::PrintToString(BridgeLine::at("Error"));
}
