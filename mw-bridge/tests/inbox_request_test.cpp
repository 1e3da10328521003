/* Requests from inboxes and their replies, through OpenMAMA: plain requests
 * answered both ways, and the subscription requests market-data
 * subscriptions make, whose handling depends on the transport's cache
 * configuration. */
#include <gtest/gtest.h>

#include <malloc.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <corvexClientTest.h>
#include <mama/mama.h>
#include <mama/msgstatus.h>
#include <mama/reservedfields.h>
#include <mama/subscmsgtype.h>
#include <mama/integration/inbox.h>
#include <mama/integration/subscription.h>
#include <msgimpl.h>

#include "inbox.h"
#include "msg.h"
#include "subscription.h"
#include "receptionFixture.h"

namespace
{
/* The reply-to topic a received request carries ("" without one). */
std::string replyToOf(mamaMsg msg)
{
    CorvexBridgeMsg* bridgeMsg = nullptr;
    if (mamaMsgImpl_getBridgeMsg(msg, (msgBridge*)&bridgeMsg) != MAMA_STATUS_OK)
    {
        return "";
    }
    void* handle = nullptr;
    corvexBridgeMamaMsg_duplicateReplyHandle(bridgeMsg, &handle);
    std::string topic = handle != nullptr ? static_cast<const char*>(handle) : "";
    free(handle);
    return topic;
}

const char* const CHECK_SUBSCRIBE = "corvexClient_session_topicSubscribeWithDispatch";
const char* const CACHE_REQUEST = "corvexClient_cacheSession_sendCacheRequest";
} // namespace

class InboxRequestTest : public ReceptionTest
{
  protected:
    void TearDown() override
    {
        destroyInboxes();
        for (mamaMsg msg : mKept)
        {
            EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_destroy(msg));
        }
        corvexClientTest_setRecording(0);
        corvexClientTest_clearCalls();
        corvexClientTest_clearAcl("embedded");
        ReceptionTest::TearDown();
    }

    /* Properties of transport "t1" read when it is created. */
    void configure(const char* useCache, const char* sendSubReq)
    {
        mama_setProperty("mama.corvex.transport.t1.use_corvexcache", useCache);
        mama_setProperty("mama.corvex.transport.t1.send_subreq", sendSubReq);
    }

    /* Outlives the test body: inboxes left are destroyed in TearDown. */
    MsgRecorder& newRecord()
    {
        mRecords.emplace_back(new MsgRecorder);
        return *mRecords.back();
    }

    /* Every message the inbox is given is detached and kept to the end of
     * the test; read mKept once the messages have been recorded. */
    void keepMessages(MsgRecorder& record)
    {
        record.mOnMsg = [this](mamaMsg msg)
        {
            if (mamaMsg_detach(msg) == MAMA_STATUS_OK)
            {
                mKept.push_back(msg);
            }
        };
    }

    mamaInbox addInbox(mamaQueue queue, MsgRecorder* record)
    {
        mamaInbox inbox = nullptr;
        EXPECT_EQ(MAMA_STATUS_OK,
                  mamaInbox_create2(&inbox, mTransport, queue, MsgRecorder::onInboxMsg,
                                    MsgRecorder::onInboxError, MsgRecorder::onInboxDestroy,
                                    record));
        mInboxes.push_back({inbox, record});
        return inbox;
    }

    void destroyInboxes()
    {
        for (auto& entry : mInboxes)
        {
            EXPECT_EQ(MAMA_STATUS_OK, mamaInbox_destroy(entry.first));
            EXPECT_TRUE(entry.second->waitUntil([](MsgRecorder& r) { return r.mDestroys > 0; }));
        }
        mInboxes.clear();
    }

    /* The request a market-data subscription sends for its initial value. */
    static mamaMsg subscriptionRequest(int msgType, int subscriptionType = MAMA_SUBSC_TYPE_NORMAL)
    {
        mamaMsg msg = nullptr;
        mamaMsg_create(&msg);
        mamaMsg_addI32(msg, MamaFieldSubscMsgType.mName, MamaFieldSubscMsgType.mFid, msgType);
        mamaMsg_addI32(msg, MamaFieldSubscriptionType.mName, MamaFieldSubscriptionType.mFid,
                       subscriptionType);
        return msg;
    }

    /* A publisher of NYSE.IBM requests, as the host makes one for a
     * market-data subscription, and a responder that records the reply-to
     * of every request it receives. */
    mamaPublisher addRequestPublisher()
    {
        mamaPublisher publisher = nullptr;
        EXPECT_EQ(MAMA_STATUS_OK,
                  mamaPublisher_create(&publisher, mTransport, "IBM", "NYSE", "_MD"));
        mPublishers.push_back(publisher);
        return publisher;
    }

    MsgRecorder& addResponder()
    {
        MsgRecorder& responder = subscribe(addQueue(), "_MD.NYSE");
        responder.mOnMsg = [this](mamaMsg msg)
        {
            mama_i64_t seq = -1;
            if (mamaMsg_getI64(msg, TEST_SEQ_NAME, TEST_SEQ_FID, &seq) == MAMA_STATUS_OK &&
                seq == 0)
            {
                return; /* a probe */
            }
            std::lock_guard<std::mutex> guard(mReplyToLock);
            mReplyTos.push_back(replyToOf(msg));
        };
        return responder;
    }

    std::string inboxReplyPrefix() const
    {
        return mCorvexTransport->mInboxCorvexReplyToPrefix;
    }

    /* What the subscription-request tests start from: transport "t1" with
     * these cache settings, a live responder and a request publisher, and an
     * inbox on a queue of its own recording into mRecord, with the vendor's
     * calls recorded from here. */
    void startRequests(const char* useCache, const char* sendSubReq,
                       const char* subscribeAsync = nullptr)
    {
        configure(useCache, sendSubReq);
        start(nullptr, subscribeAsync);
        MsgRecorder& responder = addResponder();
        mRequestPublisher = addRequestPublisher();
        awaitLive(mRequestPublisher, responder);
        mRecord = &newRecord();
        mInbox = addInbox(addQueue(), mRecord);
        corvexClientTest_setRecording(1);
    }

    /* Sends a subscription request of this type from mInbox. */
    void sendRequest(int msgType)
    {
        mamaMsg request = subscriptionRequest(msgType);
        ASSERT_EQ(MAMA_STATUS_OK, mamaPublisher_sendFromInbox(mRequestPublisher, mInbox, request));
        mamaMsg_destroy(request);
    }

    /* The responder's subscription is placed asynchronously. */
    void awaitLive(mamaPublisher probePublisher, MsgRecorder& responder)
    {
        ASSERT_TRUE(pollUntil(
            [&]
            {
                send(probePublisher, 0);
                return responder.waitForMessages(1, std::chrono::seconds(0));
            }));
    }

    /* Waits for `count` requests at the responder. */
    bool awaitRequests(size_t count)
    {
        return pollUntil([&] { return replyTos().size() >= count; });
    }

    /* Nothing signals that a request was not sent: one would have reached
     * the responder well within this pause. */
    bool noRequestSent()
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return replyTos().empty();
    }

    std::vector<std::string> replyTos()
    {
        std::lock_guard<std::mutex> guard(mReplyToLock);
        return mReplyTos;
    }

    std::vector<std::unique_ptr<MsgRecorder>> mRecords;
    std::vector<std::pair<mamaInbox, MsgRecorder*>> mInboxes;
    /* Written by one inbox's dispatch thread, see keepMessages. */
    std::vector<mamaMsg> mKept;
    mamaPublisher mRequestPublisher = nullptr;
    mamaInbox mInbox = nullptr;
    MsgRecorder* mRecord = nullptr;
    std::mutex mReplyToLock;
    std::vector<std::string> mReplyTos;
};

/* 10,000 requests from one inbox, interleaved with a second inbox's; the
 * responder answers even requests with sendReplyToInbox and odd ones
 * through a duplicated reply handle. Each inbox gets its own replies, all of
 * them, in order; each destroy callback comes once. */
TEST_F(InboxRequestTest, EveryReplyReachesItsInboxInOrder)
{
    start();
    mamaPublisher replier = addPublisher("REPLIES");
    MsgRecorder& responder = subscribe(addQueue(), "REQUESTS");
    std::atomic<int> failedReplies(0);
    responder.mOnMsg = [replier, &failedReplies](mamaMsg request)
    {
        mama_i64_t seq = -1;
        mamaMsg_getI64(request, TEST_SEQ_NAME, TEST_SEQ_FID, &seq);
        mamaMsg reply = nullptr;
        mamaMsg_create(&reply);
        mamaMsg_addI64(reply, TEST_SEQ_NAME, TEST_SEQ_FID, seq);
        mama_status status = MAMA_STATUS_OK;
        if (seq % 2 == 0)
        {
            status = mamaPublisher_sendReplyToInbox(replier, request, reply);
        }
        else
        {
            mamaMsgReply handle = nullptr;
            status = mamaMsg_getReplyHandle(request, &handle);
            if (status == MAMA_STATUS_OK)
            {
                status = mamaPublisher_sendReplyToInboxHandle(replier, handle, reply);
                mamaMsg_destroyReplyHandle(handle);
            }
        }
        failedReplies += status != MAMA_STATUS_OK ? 1 : 0;
        mamaMsg_destroy(reply);
    };
    mamaPublisher requester = addPublisher("REQUESTS");
    mamaQueue inboxQueue = addQueue();
    MsgRecorder& first = newRecord();
    MsgRecorder& second = newRecord();
    mamaInbox firstInbox = addInbox(inboxQueue, &first);
    mamaInbox secondInbox = addInbox(inboxQueue, &second);

    const int64_t count = 10000;
    const int64_t secondEvery = 10;
    for (int64_t seq = 1; seq <= count; ++seq)
    {
        mamaMsg request = nullptr;
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_create(&request));
        mamaMsg_addI64(request, TEST_SEQ_NAME, TEST_SEQ_FID, seq);
        ASSERT_EQ(MAMA_STATUS_OK, mamaPublisher_sendFromInbox(requester, firstInbox, request));
        if (seq % secondEvery == 0)
        {
            mamaMsg_updateI64(request, TEST_SEQ_NAME, TEST_SEQ_FID, -seq);
            ASSERT_EQ(MAMA_STATUS_OK, mamaPublisher_sendFromInbox(requester, secondInbox, request));
        }
        mamaMsg_destroy(request);
    }

    ASSERT_TRUE(first.waitForMessages(count, std::chrono::seconds(60)));
    ASSERT_TRUE(second.waitForMessages(count / secondEvery));
    std::vector<int64_t> expectedFirst;
    std::vector<int64_t> expectedSecond;
    for (int64_t seq = 1; seq <= count; ++seq)
    {
        expectedFirst.push_back(seq);
        if (seq % secondEvery == 0)
        {
            expectedSecond.push_back(-seq);
        }
    }
    EXPECT_EQ(expectedFirst, first.seqs());
    EXPECT_TRUE(first.errors().empty());
    EXPECT_EQ(expectedSecond, second.seqs());
    EXPECT_EQ(0, failedReplies.load());

    destroyInboxes();
    EXPECT_EQ(1, first.destroys());
    EXPECT_EQ(1, second.destroys());
}

/* Without the cache, a request of a subscription type the cache could not
 * serve (here a group's) goes to the publisher as any request does, with
 * the inbox's reply-to and no check. */
TEST_F(InboxRequestTest, WithoutTheCacheAnyTypeOfRequestGoesToThePublisher)
{
    startRequests("false", "true");

    mamaMsg group = subscriptionRequest(MAMA_SUBSC_SUBSCRIBE, MAMA_SUBSC_TYPE_GROUP);
    EXPECT_EQ(MAMA_STATUS_OK, mamaPublisher_sendFromInbox(mRequestPublisher, mInbox, group));
    mamaMsg_destroy(group);

    ASSERT_TRUE(awaitRequests(1));
    EXPECT_EQ(0u, replyTos()[0].find(inboxReplyPrefix()));
    EXPECT_EQ(0u, LogCapture::count("Invalid mamaSubscriptionType="));
    EXPECT_EQ(0u, corvexClientTest_callCount(CHECK_SUBSCRIBE));
}

/* Replying where there is nowhere to reply to is refused, not sent. */
TEST_F(InboxRequestTest, RepliesWithoutAnAddressAreRefused)
{
    start();
    mamaPublisher replier = addPublisher("REPLIES");
    MsgRecorder& responder = subscribe(addQueue(), "PLAIN");
    /* Requests sent by the loop below may still arrive after the test body
     * has returned: the status outlives it. */
    auto replyStatus = std::make_shared<std::atomic<mama_status>>(MAMA_STATUS_OK);
    responder.mOnMsg = [replier, replyStatus](mamaMsg request)
    {
        mamaMsg reply = nullptr;
        mamaMsg_create(&reply);
        replyStatus->store(mamaPublisher_sendReplyToInbox(replier, request, reply));
        mamaMsg_destroy(reply);
    };
    mamaPublisher sender = addPublisher("PLAIN");
    ASSERT_TRUE(pollUntil(
        [&]
        {
            send(sender, 1);
            return responder.waitForMessages(1, std::chrono::seconds(0));
        }));
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG, replyStatus->load());
}

/* Cache off: the request goes to the publisher with the inbox's reply-to,
 * after an access check subscription on the data topic (asynchronous:
 * flags 16), and no cache request is made. */
TEST_F(InboxRequestTest, WithoutTheCacheTheRequestCarriesTheInboxReplyTo)
{
    startRequests("false", "true");

    sendRequest(MAMA_SUBSC_SUBSCRIBE);

    ASSERT_TRUE(awaitRequests(1));
    std::vector<std::string> replies = replyTos();
    ASSERT_EQ(1u, replies.size());
    EXPECT_EQ(0u, replies[0].find(inboxReplyPrefix())) << replies[0] << " / " << inboxReplyPrefix();
    EXPECT_EQ(std::string::npos, replies[0].find("discard"));
    EXPECT_LT(0u, countContaining(vendorCalls(CHECK_SUBSCRIBE), "flags=16 topic=NYSE/IBM "));
    EXPECT_EQ(0u, corvexClientTest_callCount(CACHE_REQUEST));
}

/* Cache on, "send_subreq" off: one cache request on the data topic (flags
 * 25, the id the publisher knows: 0 outside a subscription's creation), no
 * request message. The empty cache answers "not found" to the inbox. */
TEST_F(InboxRequestTest, CacheOnlyAsksTheCacheAndSendsNothing)
{
    startRequests("true", "false");
    corvexClientTest_clearCache("embedded");

    sendRequest(MAMA_SUBSC_SUBSCRIBE);

    ASSERT_TRUE(pollUntil([] { return corvexClientTest_callCount(CACHE_REQUEST) >= 1; }));
    std::vector<std::string> cacheRequests = vendorCalls(CACHE_REQUEST);
    ASSERT_EQ(1u, cacheRequests.size());
    EXPECT_EQ(0u, cacheRequests[0].find("topic=NYSE/IBM requestId=0 flags=25 "));
    EXPECT_LT(0u, countContaining(vendorCalls(CHECK_SUBSCRIBE), "flags=16 topic=NYSE/IBM "));
    EXPECT_EQ(1u, LogCapture::count("Using CacheRequestId=0."));
    ASSERT_TRUE(mRecord->waitForMessages(1));
    EXPECT_EQ(MAMA_MSG_STATUS_NOT_FOUND, mRecord->messages()[0].mStatus);
    EXPECT_TRUE(noRequestSent()) << "nothing is sent to the publisher";
}

/* Cache on and "send_subreq" on: the cache is asked, and the request is
 * sent as well with the discard reply-to, so the publisher's answer is
 * dropped while the data comes from the cache. */
TEST_F(InboxRequestTest, CacheAndRequestSendTheRequestWithTheDiscardReplyTo)
{
    startRequests("true", "true");

    sendRequest(MAMA_SUBSC_SUBSCRIBE);

    ASSERT_TRUE(awaitRequests(1));
    std::vector<std::string> replies = replyTos();
    ASSERT_EQ(1u, replies.size());
    EXPECT_EQ(inboxReplyPrefix() + "discard", replies[0]);
    EXPECT_EQ(1u, corvexClientTest_callCount(CACHE_REQUEST));
}

/* A cache request the library refuses: nothing is sent, even with
 * "send_subreq" on, and the inbox learns of the failure. */
TEST_F(InboxRequestTest, ARefusedCacheRequestSendsNothing)
{
    startRequests("true", "true");
    corvexClientTest_failNext(CACHE_REQUEST, CORVEXCLIENT_FAIL, CORVEXCLIENT_SUBCODE_INTERNAL_ERROR,
                              "injected");

    sendRequest(MAMA_SUBSC_SUBSCRIBE);

    ASSERT_TRUE(mRecord->waitUntil([](MsgRecorder& r) { return !r.mErrors.empty(); }));
    EXPECT_EQ(MAMA_STATUS_PLATFORM, mRecord->errors()[0].mStatus);
    EXPECT_EQ(1u, LogCapture::count("Error Sending Cache Request returnCode="));
    EXPECT_TRUE(noRequestSent());
}

/* A snapshot request with the cache on places the data topic in the inbox
 * subscription's local dispatch (flags 8) and asks the cache with that
 * subscription's own request id (never 0 for an inbox: an answer with id 0
 * would be taken by every subscription on the topic), so the cached value
 * reaches the inbox. */
TEST_F(InboxRequestTest, ASnapshotFromTheCacheIsDeliveredToTheInbox)
{
    configure("true", "false");
    start();
    mamaPublisher data = addPublisher("NYSE.IBM");
    send(data, 42);
    mamaPublisher publisher = addRequestPublisher();
    MsgRecorder& record = newRecord();
    mamaInbox inbox = addInbox(addQueue(), &record);
    corvexClientTest_setRecording(1);

    mamaMsg request = subscriptionRequest(MAMA_SUBSC_SNAPSHOT);
    ASSERT_EQ(MAMA_STATUS_OK, mamaPublisher_sendFromInbox(publisher, inbox, request));
    mamaMsg_destroy(request);

    ASSERT_TRUE(record.waitForMessages(1));
    EXPECT_EQ(42, record.messages()[0].mSeq);
    EXPECT_LT(0u, countContaining(vendorCalls(CHECK_SUBSCRIBE), "flags=8 topic=NYSE/IBM "));
    std::vector<std::string> cacheRequests = vendorCalls(CACHE_REQUEST);
    ASSERT_EQ(1u, cacheRequests.size());
    CorvexInbox* inboxBridge = reinterpret_cast<CorvexInbox*>(mamaInboxImpl_getInboxBridge(inbox));
    const int64_t inboxId = reinterpret_cast<CorvexSubscription*>(
                                mamaSubscription_getSubscriptionBridge(inboxBridge->mSubscription))
                                ->mCacheRequestId;
    EXPECT_NE(0, inboxId);
    EXPECT_EQ(0u, cacheRequests[0].find("topic=NYSE/IBM requestId=" + std::to_string(inboxId) +
                                        " flags=25 "));
    EXPECT_EQ(1u, LogCapture::count("Adding topic 'NYSE/IBM' to local dispatch"));
}

/* Two snapshot requests from one inbox while a live subscription listens on
 * the topic: each answer reaches the inbox once and the live subscription
 * never; once they are answered, the inbox no longer hears the topic's live
 * updates, which the live subscription gets once each. */
TEST_F(InboxRequestTest, SnapshotAnswersReachOnlyTheAskingInboxAndOnlyWhileItAsks)
{
    configure("true", "false");
    start();
    mamaPublisher data = addPublisher("NYSE.IBM");
    MsgRecorder& live = subscribe(addQueue(), "NYSE.IBM");
    awaitLive(data, live);
    send(data, 42);
    ASSERT_TRUE(live.waitUntil([](MsgRecorder& r) { return r.mMessages.back().mSeq == 42; }));
    mamaPublisher publisher = addRequestPublisher();
    MsgRecorder& record = newRecord();
    mamaInbox inbox = addInbox(addQueue(), &record);

    for (int i = 0; i < 2; ++i)
    {
        mamaMsg request = subscriptionRequest(MAMA_SUBSC_SNAPSHOT);
        ASSERT_EQ(MAMA_STATUS_OK, mamaPublisher_sendFromInbox(publisher, inbox, request));
        mamaMsg_destroy(request);
    }
    ASSERT_TRUE(record.waitForMessages(2));
    /* Everything the context thread had to do for the requests is done
     * once it has been held and let go. */
    ASSERT_TRUE(holdContextThread(mCorvexTransport->mSession));
    LogCapture::release();
    send(data, 43);
    ASSERT_TRUE(live.waitUntil([](MsgRecorder& r) { return r.mMessages.back().mSeq == 43; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    EXPECT_EQ((std::vector<int64_t>{42, 42}), record.seqs()) << "the two answers, nothing live";
    std::vector<int64_t> seen = live.seqs();
    EXPECT_EQ(1, std::count(seen.begin(), seen.end(), 42)) << ::testing::PrintToString(seen);
    EXPECT_EQ(1, std::count(seen.begin(), seen.end(), 43)) << ::testing::PrintToString(seen);
}

/* The router refuses the access check: the inbox gets a "not entitled"
 * status message and neither the cache nor the publisher is asked. */
TEST_F(InboxRequestTest, ARefusedAccessCheckSendsNothingAndReportsNotEntitled)
{
    startRequests("true", "true");
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClientTest_addAclRule("embedded", "*", "NYSE/IBM",
                                                           CORVEXCLIENT_TEST_ACL_SUBSCRIBE,
                                                           CORVEXCLIENT_TEST_ACL_DENY));
    keepMessages(*mRecord);

    sendRequest(MAMA_SUBSC_SUBSCRIBE);
    sendRequest(MAMA_SUBSC_SUBSCRIBE);

    ASSERT_TRUE(mRecord->waitForMessages(2));
    EXPECT_EQ(MAMA_MSG_STATUS_NOT_ENTITLED, mRecord->messages()[0].mStatus);
    /* The status message the application kept is whole after the next one
     * went through the same queue. */
    ASSERT_EQ(2u, mKept.size());
    int32_t kept = MAMA_MSG_STATUS_OK;
    EXPECT_EQ(MAMA_STATUS_OK,
              mamaMsg_getI32(mKept[0], MamaFieldMsgStatus.mName, MamaFieldMsgStatus.mFid, &kept));
    EXPECT_EQ(MAMA_MSG_STATUS_NOT_ENTITLED, kept);
    EXPECT_EQ(0u, corvexClientTest_callCount(CACHE_REQUEST));
    EXPECT_TRUE(noRequestSent());
}

/* With asynchronous subscriptions off the check completes inside the call
 * (flags 2) and the request has been sent when it returns. */
TEST_F(InboxRequestTest, SynchronousChecksSendBeforeTheCallReturns)
{
    startRequests("false", "true", "false");

    sendRequest(MAMA_SUBSC_SUBSCRIBE);

    EXPECT_EQ(1u, corvexClientTest_callCount("corvexClient_session_sendMsg"));
    EXPECT_LT(0u, countContaining(vendorCalls(CHECK_SUBSCRIBE), "flags=2 topic=NYSE/IBM "));
    EXPECT_TRUE(awaitRequests(1));
}

/* Where the cache is used, requests of a subscription type it cannot serve
 * are refused as such (the inbox hears of it: no subscription is being
 * created on this thread); messages that are not subscription requests go
 * out as plain requests without any check. */
TEST_F(InboxRequestTest, RequestTypesOutsideTheSubscriptionRequestsAreHandledAsTheyMustBe)
{
    startRequests("true", "false");

    mamaMsg basic = subscriptionRequest(MAMA_SUBSC_SUBSCRIBE, MAMA_SUBSC_TYPE_BASIC);
    EXPECT_EQ(MAMA_STATUS_SUBSCRIPTION_INVALID_TYPE,
              mamaPublisher_sendFromInbox(mRequestPublisher, mInbox, basic));
    mamaMsg_destroy(basic);
    EXPECT_EQ(1u, LogCapture::count("Invalid mamaSubscriptionType="));
    ASSERT_TRUE(mRecord->waitUntil([](MsgRecorder& r) { return !r.mErrors.empty(); }));
    EXPECT_EQ(MAMA_STATUS_SUBSCRIPTION_INVALID_TYPE, mRecord->errors()[0].mStatus);

    mamaMsg plain = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_create(&plain));
    mamaMsg_addI64(plain, TEST_SEQ_NAME, TEST_SEQ_FID, 7);
    ASSERT_EQ(MAMA_STATUS_OK, mamaPublisher_sendFromInbox(mRequestPublisher, mInbox, plain));
    mamaMsg_destroy(plain);

    ASSERT_TRUE(awaitRequests(1));
    std::vector<std::string> replies = replyTos();
    ASSERT_EQ(1u, replies.size());
    EXPECT_EQ(0u, replies[0].find(inboxReplyPrefix()));
    EXPECT_EQ(0u, corvexClientTest_callCount(CHECK_SUBSCRIBE));
    EXPECT_EQ(0u, corvexClientTest_callCount(CACHE_REQUEST));
}

/* A subscription request whose access check the router has not confirmed yet
 * (the context thread, which would report the confirmation, is held) when
 * its inbox and then its transport are destroyed: the destroyed session
 * never reports it. The request must go with the inbox all the same: its
 * copy of the message, its correlation and the inbox's subscription. Memory
 * in use stays level over the rounds (and the leak check at exit finds
 * nothing). */
TEST_F(InboxRequestTest, ARequestWhoseCheckIsPendingGoesWithItsInboxAndTransport)
{
    start();
    mamaQueue queue = addQueue();
    mama_setProperty("mama.corvex.transport.lost.allow_recover_gaps", "true");
    corvexClientTest_setRecording(1);
    auto oneRound = [&]
    {
        /* Kept lines and recorded calls would be growth of their own: each
         * round keeps its own only, and no more lines than it needs. */
        LogCapture::start(MAMA_LOG_LEVEL_FINE);
        corvexClientTest_clearCalls();
        mamaTransport transport = nullptr;
        ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_allocate(&transport));
        ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_create(transport, "lost", mBridge));
        mamaPublisher publisher = nullptr;
        ASSERT_EQ(MAMA_STATUS_OK,
                  mamaPublisher_create(&publisher, transport, "IBM", "NYSE", "_MD"));
        MsgRecorder record;
        mamaInbox inbox = nullptr;
        ASSERT_EQ(MAMA_STATUS_OK,
                  mamaInbox_create2(&inbox, transport, queue, MsgRecorder::onInboxMsg,
                                    MsgRecorder::onInboxError, MsgRecorder::onInboxDestroy,
                                    &record));

        ASSERT_TRUE(holdContextThread(mCorvexTransport->mSession));
        mamaMsg request = subscriptionRequest(MAMA_SUBSC_SUBSCRIBE);
        EXPECT_EQ(MAMA_STATUS_OK, mamaPublisher_sendFromInbox(publisher, inbox, request));
        mamaMsg_destroy(request);
        EXPECT_EQ(MAMA_STATUS_OK, mamaPublisher_destroy(publisher));
        EXPECT_EQ(MAMA_STATUS_OK, mamaInbox_destroy(inbox));
        uint32_t sessionDestroys = corvexClientTest_callCount("corvexClient_session_destroy");
        std::thread destroying([transport]
                               { EXPECT_EQ(MAMA_STATUS_OK, mamaTransport_destroy(transport)); });
        /* The session is closed right after the call is recorded; its
         * teardown then waits for the context thread. */
        bool closing = pollUntil(
            [&] {
                return corvexClientTest_callCount("corvexClient_session_destroy") > sessionDestroys;
            });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        LogCapture::release();
        destroying.join();
        ASSERT_TRUE(closing);
        ASSERT_TRUE(record.waitUntil([](MsgRecorder& r) { return r.mDestroys > 0; }));
        EXPECT_TRUE(record.errors().empty());
    };

    /* The first rounds fill the allocator's caches. */
    for (int i = 0; i < 3 && !HasFailure(); ++i)
    {
        oneRound();
    }
    size_t before = mallinfo2().uordblks;
    const int rounds = 20;
    for (int i = 0; i < rounds && !HasFailure(); ++i)
    {
        oneRound();
    }
    /* A request lost with its inbox held about 5 KB; the rest of a round
     * (transport, publisher, inbox) leaves well under 2 KB in the caches of
     * the host and the client library. */
    EXPECT_LT(mallinfo2().uordblks, before + rounds * 2048)
        << "bytes still in use after " << rounds << " rounds";
}

/* Snapshot requests are still completing on the context thread (each takes
 * a reference on its inbox subscription's destroy handle and asks the
 * transport's cache session) when the inbox and then the transport are
 * destroyed. Every completion sees a whole subscription and cache session
 * or none: no request goes without its subscription, and the race detector
 * finds nothing. */
TEST_F(InboxRequestTest, SnapshotRequestsStillCompletingWhenTheirInboxAndTransportGo)
{
    start();
    mamaQueue queue = addQueue();
    mama_setProperty("mama.corvex.transport.busy.allow_recover_gaps", "true");
    const int rounds = 10;
    const int requests = 50;
    for (int round = 0; round < rounds && !HasFailure(); ++round)
    {
        mamaTransport transport = nullptr;
        ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_allocate(&transport));
        ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_create(transport, "busy", mBridge));
        mamaPublisher publisher = nullptr;
        ASSERT_EQ(MAMA_STATUS_OK,
                  mamaPublisher_create(&publisher, transport, "IBM", "NYSE", "_MD"));
        MsgRecorder record;
        mamaInbox inbox = nullptr;
        ASSERT_EQ(MAMA_STATUS_OK,
                  mamaInbox_create2(&inbox, transport, queue, MsgRecorder::onInboxMsg,
                                    MsgRecorder::onInboxError, MsgRecorder::onInboxDestroy,
                                    &record));
        std::thread sender(
            [&]
            {
                for (int i = 0; i < requests; ++i)
                {
                    mamaMsg request = subscriptionRequest(MAMA_SUBSC_SNAPSHOT);
                    EXPECT_EQ(MAMA_STATUS_OK,
                              mamaPublisher_sendFromInbox(publisher, inbox, request));
                    mamaMsg_destroy(request);
                }
            });
        sender.join();
        EXPECT_EQ(MAMA_STATUS_OK, mamaPublisher_destroy(publisher));
        EXPECT_EQ(MAMA_STATUS_OK, mamaInbox_destroy(inbox));
        EXPECT_EQ(MAMA_STATUS_OK, mamaTransport_destroy(transport));
        ASSERT_TRUE(record.waitUntil([](MsgRecorder& r) { return r.mDestroys > 0; }))
            << "round " << round;
    }
    EXPECT_EQ(0u, LogCapture::count("user_p==NULL"));
}
