/* Market-data subscriptions made the way applications make them (a source,
 * the transport's throttle, the initial request from an inbox, MAMA's
 * data-quality checks): the initial value from the platform cache, or
 * without it the publisher's own answer; what a subscriber is told when there
 * is nothing to give it or it may not see the symbol; and many subscriptions
 * made and dropped while their symbols are being updated. */
#include "subscriptionFixture.h"

#include <nats/nats.h>

#include <algorithm>

#include <mama/dqpublisher.h>
#include <mama/dqpublishermanager.h>
#include <mama/msgstatus.h>
#include <mama/msgtype.h>
#include <mama/quality.h>
#include <mama/reservedfields.h>
#include <mama/source.h>

#include "natsServer.h"

namespace
{
const char* const SOURCE = "NYSE";
const char* const CACHE_REQUEST = "corvexClient_cacheSession_sendCacheRequest";
const char* const SEND = "corvexClient_session_sendMsg";

/* The test's own value field, besides the sequence number the recorder
 * reads: each update's value follows from its number. */
const char* const BID_NAME = "wBidPrice";
const mama_fid_t BID_FID = 237;

double bidFor(int64_t seq)
{
    return 100.0 + (double)seq / 100.0;
}

/* A market-data publisher's message: an update with status OK (MAMA drops
 * market data without a status), numbered `seq` both in MAMA's sequence
 * field (checked by MAMA's data quality) and in the test's own field. */
void fillUpdate(mamaMsg msg, int64_t seq, mamaMsgType type = MAMA_MSG_TYPE_UPDATE)
{
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateU8(msg, MamaFieldMsgType.mName, MamaFieldMsgType.mFid,
                                               (mama_u8_t)type));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateU8(msg, MamaFieldMsgStatus.mName,
                                               MamaFieldMsgStatus.mFid, MAMA_MSG_STATUS_OK));
    ASSERT_EQ(MAMA_STATUS_OK,
              mamaMsg_updateU32(msg, MamaFieldSeqNum.mName, MamaFieldSeqNum.mFid, (mama_u32_t)seq));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateI64(msg, TEST_SEQ_NAME, TEST_SEQ_FID, seq));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateF64(msg, BID_NAME, BID_FID, bidFor(seq)));
}

/* Empty when the subscription was told an INITIAL followed by updates that
 * each carry the next number, with no gap, duplicate or quality event
 * reported; else what is wrong. */
std::string checkSequence(MsgRecorder& feed)
{
    std::vector<MsgRecorder::Message> messages = feed.messages();
    std::string problems;
    if (messages.empty() || messages[0].mType != MAMA_MSG_TYPE_INITIAL)
    {
        problems += "the first message is not an INITIAL; ";
    }
    /* An update published while the initial is read from the cache can
     * reach the subscription after it too: MAMA forwards it with a
     * DUPLICATE quality event (and OK with the next one). */
    size_t first = 1;
    bool duplicate = messages.size() > 1 && messages[1].mType == MAMA_MSG_TYPE_UPDATE &&
                     messages[1].mSeq == messages[0].mSeq;
    if (duplicate)
    {
        first = 2;
    }
    for (size_t i = first; i < messages.size(); ++i)
    {
        const MsgRecorder::Message& m = messages[i];
        if (m.mType != MAMA_MSG_TYPE_UPDATE || m.mSeq != messages[i - 1].mSeq + 1)
        {
            problems += "message " + std::to_string(i) + " is " +
                        mamaMsgType_stringForType(m.mType) + " " + std::to_string(m.mSeq) +
                        " after " + std::to_string(messages[i - 1].mSeq) + "; ";
        }
    }
    std::vector<mamaQuality> qualities = feed.qualities();
    bool qualitiesExplained =
        qualities.empty() ||
        (duplicate && std::all_of(qualities.begin(), qualities.end(),
                                  [](mamaQuality q)
                                  { return q == MAMA_QUALITY_DUPLICATE || q == MAMA_QUALITY_OK; }));
    size_t errors = feed.errors().size();
    if (feed.gaps() != 0 || !qualitiesExplained || errors != 0)
    {
        problems += std::to_string(feed.gaps()) + " gaps, " + std::to_string(qualities.size()) +
                    " quality events, " + std::to_string(errors) + " errors; ";
    }
    return problems;
}

/* A market-data publisher as OpenMAMA's data-quality publisher manager runs
 * one: it listens for requests on "_MD.<source>", answers a symbol's first
 * request by creating the symbol's publisher and replying with its image,
 * and publishes updates; all of it on a queue and dispatcher of its own. */
class ManagedPublisher
{
  public:
    ManagedPublisher(mamaBridge bridge, mamaTransport transport) : mTransport(transport)
    {
        EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_create(&mQueue, bridge));
        EXPECT_EQ(MAMA_STATUS_OK, mamaDispatcher_create(&mDispatcher, mQueue));
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_create(&mImage));
        mamaDQPublisherManagerCallbacks callbacks = {};
        callbacks.onCreate = onCreate;
        callbacks.onNewRequest = onNewRequest;
        callbacks.onRequest = onRequest;
        callbacks.onRefresh = onRefresh;
        callbacks.onError = onError;
        callbacks.onMsg = onMsg;
        EXPECT_EQ(MAMA_STATUS_OK, mamaDQPublisherManager_allocate(&mManager));
        EXPECT_EQ(MAMA_STATUS_OK, mamaDQPublisherManager_create(mManager, transport, mQueue,
                                                                &callbacks, SOURCE, "_MD", this));
    }

    ~ManagedPublisher()
    {
        Signal closed;
        runOnQueue(
            [this, &closed]
            {
                if (mPublisher != nullptr)
                {
                    mamaDQPublisherManager_destroyPublisher(mManager, mSymbol.c_str());
                }
                if (!mListSymbol.empty())
                {
                    mamaDQPublisherManager_destroyPublisher(mManager, mListSymbol.c_str());
                }
                mamaDQPublisherManager_destroy(mManager);
                closed.raise();
            });
        EXPECT_TRUE(closed.wait());
        EXPECT_EQ(MAMA_STATUS_OK, mamaDispatcher_destroy(mDispatcher));
        EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_destroyWait(mQueue));
        mamaMsg_destroy(mImage);
    }

    /* The manager's subscription is placed asynchronously: messages that are
     * not requests are sent on its subject until one reaches it. */
    bool waitLive()
    {
        mamaPublisher probe = nullptr;
        mamaMsg msg = nullptr;
        EXPECT_EQ(MAMA_STATUS_OK,
                  mamaPublisher_create(&probe, mTransport, "_MD.NYSE", nullptr, nullptr));
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_create(&msg));
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_addI64(msg, TEST_SEQ_NAME, TEST_SEQ_FID, 0));
        bool live = false;
        for (int i = 0; i < 500 && !live; ++i)
        {
            EXPECT_EQ(MAMA_STATUS_OK, mamaPublisher_send(probe, msg));
            live = mLive.wait(std::chrono::milliseconds(10));
        }
        mamaMsg_destroy(msg);
        mamaPublisher_destroy(probe);
        return live;
    }

    /* The symbols the manager's answer to a symbol-list request names. */
    void setSymbolList(const std::string& symbols)
    {
        mSymbolList = symbols;
    }

    /* Sets the number the next image carries. */
    void setSeq(int64_t seq)
    {
        mSeq = seq;
    }

    /* Publishes updates up to `last` from the manager's queue. */
    void publishUpTo(int64_t last)
    {
        runOnQueue(
            [this, last]
            {
                while (mSeq < last)
                {
                    fillUpdate(mImage, ++mSeq);
                    EXPECT_EQ(MAMA_STATUS_OK, mamaDQPublisher_send(mPublisher, mImage));
                }
            });
    }

    std::atomic<int> mNewRequests{0};
    std::atomic<int> mRequests{0};
    std::atomic<int> mErrors{0};

  private:
    void runOnQueue(std::function<void()> work)
    {
        auto* held = new std::function<void()>(std::move(work));
        EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_enqueueEvent(mQueue, runWork, held));
    }

    static void MAMACALLTYPE runWork(mamaQueue, void* closure)
    {
        std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(closure));
        (*work)();
    }

    static ManagedPublisher* of(mamaDQPublisherManager manager)
    {
        return static_cast<ManagedPublisher*>(mamaDQPublisherManager_getClosure(manager));
    }

    /* Replies to the request with the current image as an INITIAL. */
    void answer(mamaMsg request)
    {
        fillUpdate(mImage, mSeq, MAMA_MSG_TYPE_INITIAL);
        EXPECT_EQ(MAMA_STATUS_OK, mamaDQPublisher_sendReply(mPublisher, request, mImage));
    }

    static void MAMACALLTYPE onCreate(mamaDQPublisherManager) {}

    static void MAMACALLTYPE onNewRequest(mamaDQPublisherManager manager, const char* symbol,
                                          short subscriptionType, short, mamaMsg request)
    {
        ManagedPublisher* self = of(manager);
        self->mNewRequests++;
        if (subscriptionType == MAMA_SUBSC_TYPE_SYMBOL_LIST)
        {
            self->answerSymbolList(manager, symbol, request);
            return;
        }
        self->mSymbol = symbol;
        EXPECT_EQ(MAMA_STATUS_OK,
                  mamaDQPublisherManager_createPublisher(manager, symbol, self, &self->mPublisher));
        self->answer(request);
    }

    /* The list as one INITIAL, the way a symbol-list subscription reads it. */
    void answerSymbolList(mamaDQPublisherManager manager, const char* symbol, mamaMsg request)
    {
        mamaDQPublisher list = nullptr;
        EXPECT_EQ(MAMA_STATUS_OK,
                  mamaDQPublisherManager_createPublisher(manager, symbol, this, &list));
        mamaMsg answer = nullptr;
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_create(&answer));
        mamaMsg_addU8(answer, MamaFieldMsgType.mName, MamaFieldMsgType.mFid, MAMA_MSG_TYPE_INITIAL);
        mamaMsg_addU8(answer, MamaFieldMsgStatus.mName, MamaFieldMsgStatus.mFid,
                      MAMA_MSG_STATUS_OK);
        mamaMsg_addString(answer, MamaFieldSymbolList.mName, MamaFieldSymbolList.mFid,
                          mSymbolList.c_str());
        EXPECT_EQ(MAMA_STATUS_OK, mamaDQPublisher_sendReply(list, request, answer));
        mamaMsg_destroy(answer);
        mListSymbol = symbol;
    }

    static void MAMACALLTYPE onRequest(mamaDQPublisherManager manager, mamaPublishTopic*, short,
                                       short, mamaMsg request)
    {
        ManagedPublisher* self = of(manager);
        self->mRequests++;
        self->answer(request);
    }

    static void MAMACALLTYPE onRefresh(mamaDQPublisherManager, mamaPublishTopic*, short, short,
                                       mamaMsg)
    {
    }

    static void MAMACALLTYPE onError(mamaDQPublisherManager manager, mama_status, const char*,
                                     mamaMsg)
    {
        of(manager)->mErrors++;
    }

    static void MAMACALLTYPE onMsg(mamaDQPublisherManager manager, mamaMsg)
    {
        of(manager)->mLive.raise();
    }

    mamaTransport mTransport;
    mamaQueue mQueue = nullptr;
    mamaDispatcher mDispatcher = nullptr;
    mamaDQPublisherManager mManager = nullptr;
    /* Used on the manager's queue only. */
    mamaDQPublisher mPublisher = nullptr;
    std::string mSymbol;
    std::string mSymbolList;
    std::string mListSymbol;
    mamaMsg mImage = nullptr;
    int64_t mSeq = 0;
    Signal mLive;
};

class MarketDataTest : public SubscriptionTest
{
  protected:
    /* useCache, sendSubReq: the transport's "use_corvexcache" and
     * "send_subreq". */
    void start(const char* useCache, const char* sendSubReq)
    {
        mama_setProperty("mama.corvex.transport.t1.use_corvexcache", useCache);
        mama_setProperty("mama.corvex.transport.t1.send_subreq", sendSubReq);
        SubscriptionTest::start();
        /* Counted from here: what the subscriptions cause. */
        corvexClientTest_clearCalls();
        mamaQueue defaultQueue = nullptr;
        ASSERT_EQ(MAMA_STATUS_OK, mama_getDefaultEventQueue(mBridge, &defaultQueue));
        /* The transport's throttle places market-data subscriptions from the
         * default queue. */
        ASSERT_EQ(MAMA_STATUS_OK, mamaDispatcher_create(&mDefaultDispatcher, defaultQueue));
        ASSERT_EQ(MAMA_STATUS_OK, mamaSource_create(&mSource));
        ASSERT_EQ(MAMA_STATUS_OK, mamaSource_setSymbolNamespace(mSource, SOURCE));
        ASSERT_EQ(MAMA_STATUS_OK, mamaSource_setTransport(mSource, mTransport));
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_create(&mUpdate));
        startDispatch();
    }

    void TearDown() override
    {
        for (size_t i = 0; i < mMarketData.size(); ++i)
        {
            destroyMarketData(i);
        }
        /* The host destroys a market-data subscription's inboxes after the
         * subscription itself: their destroy still runs on the queue. */
        EXPECT_TRUE(pollUntil([this] { return mamaQueue_canDestroy(mQueue) == MAMA_STATUS_OK; }));
        if (mSource != nullptr)
        {
            mamaSource_destroy(mSource);
        }
        if (mDefaultDispatcher != nullptr)
        {
            EXPECT_EQ(MAMA_STATUS_OK, mamaDispatcher_destroy(mDefaultDispatcher));
        }
        if (mUpdate != nullptr)
        {
            mamaMsg_destroy(mUpdate);
        }
        SubscriptionTest::TearDown();
    }

    /* A market-data subscription to SOURCE.symbol on the fixture's queue;
     * `configure` may set its type or service level before it is created. */
    size_t subscribeMarketData(const char* symbol,
                               std::function<void(mamaSubscription)> configure = nullptr)
    {
        mFeeds.emplace_back(new MsgRecorder);
        mFeeds.back()->mOnMsg = [this](mamaMsg msg)
        {
            mama_i64_t seq = -1;
            double bid = 0.0;
            const char* symbols = nullptr;
            if (mamaMsg_getString(msg, MamaFieldSymbolList.mName, MamaFieldSymbolList.mFid,
                                  &symbols) == MAMA_STATUS_OK)
            {
                mListSeen = symbols;
                return;
            }
            mamaMsg_getI64(msg, TEST_SEQ_NAME, TEST_SEQ_FID, &seq);
            mamaMsg_getF64(msg, BID_NAME, BID_FID, &bid);
            mWrongValues += bid != bidFor(seq) ? 1 : 0;
        };
        mamaSubscription subscription = nullptr;
        EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_allocate(&subscription));
        /* Generous: a thousand initials on an instrumented build take
         * longer than the default allows. */
        EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_setTimeout(subscription, 60.0));
        if (configure)
        {
            configure(subscription);
        }
        mamaMsgCallbacks callbacks = MsgRecorder::callbacks();
        EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_create(subscription, mQueue, &callbacks, mSource,
                                                          symbol, mFeeds.back().get()));
        mMarketData.push_back(subscription);
        return mMarketData.size() - 1;
    }

    MsgRecorder& feed(size_t index)
    {
        return *mFeeds[index];
    }

    /* Destroys and frees the subscription once its destroy was reported. */
    void destroyMarketData(size_t index)
    {
        if (mMarketData[index] == nullptr)
        {
            return;
        }
        EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_destroy(mMarketData[index]));
        EXPECT_TRUE(feed(index).waitUntil([](MsgRecorder& f) { return f.mDestroys > 0; }))
            << "subscription " << index;
        EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_deallocate(mMarketData[index]));
        mMarketData[index] = nullptr;
    }

    /* Sends an update numbered `seq` with a message of the caller's. */
    static void publish(mamaPublisher publisher, mamaMsg msg, int64_t seq)
    {
        fillUpdate(msg, seq);
        ASSERT_EQ(MAMA_STATUS_OK, mamaPublisher_send(publisher, msg));
    }

    size_t recordedCalls(const char* operation, const std::string& needle)
    {
        return countContaining(vendorCalls(operation), needle);
    }

    mamaDispatcher mDefaultDispatcher = nullptr;
    mamaSource mSource = nullptr;
    /* The test thread's update message. */
    mamaMsg mUpdate = nullptr;
    std::vector<mamaSubscription> mMarketData;
    std::vector<std::unique_ptr<MsgRecorder>> mFeeds;
    /* Messages, on any subscription, whose value does not follow from their
     * number. */
    std::atomic<int> mWrongValues{0};
    /* The symbol list a subscription was given; written on its queue's
     * dispatch thread before the message is recorded. */
    std::string mListSeen;
};
} // namespace

/* ---- The platform cache gives the initial value ------------------------- */

TEST_F(MarketDataTest, CachedValueIsTheInitialThenLiveUpdatesFollowWithoutGapOrDuplicate)
{
    start("true", "false");
    mamaPublisher ibm = publisher("IBM", SOURCE);
    for (int64_t seq = 1; seq <= 3; ++seq)
    {
        publish(ibm, mUpdate, seq);
    }

    size_t index = subscribeMarketData("IBM");
    ASSERT_TRUE(feed(index).waitForMessages(1)) << ::testing::PrintToString(LogCapture::lines());
    const MsgRecorder::Message initial = feed(index).messages()[0];
    EXPECT_EQ(MAMA_MSG_TYPE_INITIAL, initial.mType);
    EXPECT_EQ(3, initial.mSeq) << "the last value published";
    EXPECT_EQ(0, mWrongValues.load());
    for (int64_t seq = 4; seq <= 20; ++seq)
    {
        publish(ibm, mUpdate, seq);
    }
    ASSERT_TRUE(feed(index).waitForMessages(18));
    EXPECT_EQ("", checkSequence(feed(index)));
    EXPECT_EQ(0, mWrongValues.load());

    EXPECT_EQ(1u, recordedCalls(CACHE_REQUEST, "topic=NYSE/IBM "));
    EXPECT_EQ(0u, recordedCalls(SEND, "topic=_MD/NYSE ")) << "send_subreq is off";
}

/* Over NATS the cache is the server's JetStream stream: what a publisher
 * sent before the subscription was made is its INITIAL there too. */
class NatsMarketDataTest : public MarketDataTest
{
  protected:
    void startOnNats()
    {
        if (!NatsServer::path())
        {
            GTEST_SKIP() << "nats-server is not installed (scripts/setup.sh installs it)";
        }
        ASSERT_TRUE(mServer.enableJetStream());
        ASSERT_TRUE(mServer.start(NatsServer::freePort())) << "nats-server did not start";
        mama_setProperty("mama.corvex.transport.t1.SESSION_ROUTER", mServer.url().c_str());
        mama_setProperty("mama.corvex.transport.t1.SESSION_ROUTER_CACHED_TOPICS", "NYSE/>");
        start("true", "false");
    }

    /* True once the stream has stored `count` messages (kept or replaced
     * since): the server stores what it routes on a queue of its own. */
    bool streamStored(uint64_t count)
    {
        natsConnection* connection = nullptr;
        jsCtx* jetStream = nullptr;
        bool held = false;
        if (natsConnection_ConnectTo(&connection, mServer.url().c_str()) == NATS_OK &&
            natsConnection_JetStream(&jetStream, connection, nullptr) == NATS_OK)
        {
            held = pollUntil(
                [&]
                {
                    jsStreamInfo* info = nullptr;
                    bool done = js_GetStreamInfo(&info, jetStream, "CORVEX_CACHE", nullptr,
                                                 nullptr) == NATS_OK &&
                                info->State.LastSeq >= count;
                    jsStreamInfo_Destroy(info);
                    return done;
                });
        }
        jsCtx_Destroy(jetStream);
        natsConnection_Destroy(connection);
        return held;
    }

    /* Outlives the transport, destroyed in TearDown. */
    NatsServer mServer;
};

TEST_F(NatsMarketDataTest, TheInitialComesFromTheJetStreamCache)
{
    startOnNats();
    if (IsSkipped())
    {
        return;
    }
    mamaPublisher ibm = publisher("IBM", SOURCE);
    for (int64_t seq = 1; seq <= 3; ++seq)
    {
        publish(ibm, mUpdate, seq);
    }
    ASSERT_TRUE(streamStored(3));

    size_t index = subscribeMarketData("IBM");
    ASSERT_TRUE(feed(index).waitForMessages(1)) << ::testing::PrintToString(LogCapture::lines());
    const MsgRecorder::Message initial = feed(index).messages()[0];
    EXPECT_EQ(MAMA_MSG_TYPE_INITIAL, initial.mType);
    EXPECT_EQ(3, initial.mSeq) << "the last value published";
    for (int64_t seq = 4; seq <= 20; ++seq)
    {
        publish(ibm, mUpdate, seq);
    }
    ASSERT_TRUE(feed(index).waitForMessages(18));
    EXPECT_EQ("", checkSequence(feed(index)));
    EXPECT_EQ(0, mWrongValues.load());
    EXPECT_EQ(1u, recordedCalls(CACHE_REQUEST, "topic=NYSE/IBM "));
}

/* A later request of the same subscription (MAMA's recap after a gap) is
 * answered by the cache too, and is a RECAP then, not a second INITIAL. */
TEST_F(MarketDataTest, GapIsRecoveredFromTheCacheAsARecap)
{
    start("true", "false");
    mamaPublisher ibm = publisher("IBM", SOURCE);
    publish(ibm, mUpdate, 1);
    size_t index = subscribeMarketData("IBM");
    ASSERT_TRUE(feed(index).waitForMessages(1));
    publish(ibm, mUpdate, 2);
    publish(ibm, mUpdate, 4);
    auto recapped = [](MsgRecorder& f)
    {
        return std::find_if(f.mMessages.begin(), f.mMessages.end(),
                            [](const MsgRecorder::Message& m)
                            { return m.mType == MAMA_MSG_TYPE_RECAP; }) != f.mMessages.end();
    };
    ASSERT_TRUE(feed(index).waitUntil(recapped)) << ::testing::PrintToString(LogCapture::lines());
    publish(ibm, mUpdate, 5);
    ASSERT_TRUE(feed(index).waitUntil([](MsgRecorder& f) { return f.mMessages.back().mSeq == 5; }));

    const std::vector<MsgRecorder::Message> messages = feed(index).messages();
    EXPECT_EQ(MAMA_MSG_TYPE_INITIAL, messages.front().mType);
    EXPECT_EQ(1, std::count_if(messages.begin(), messages.end(),
                               [](const MsgRecorder::Message& m)
                               { return m.mType == MAMA_MSG_TYPE_INITIAL; }));
    auto recap =
        std::find_if(messages.begin(), messages.end(),
                     [](const MsgRecorder::Message& m) { return m.mType == MAMA_MSG_TYPE_RECAP; });
    EXPECT_EQ(4, recap->mSeq) << "the cached value";
    EXPECT_EQ(0, mWrongValues.load());
    EXPECT_EQ(1, feed(index).gaps());
    const std::vector<mamaQuality> qualities = feed(index).qualities();
    ASSERT_FALSE(qualities.empty());
    EXPECT_EQ(MAMA_QUALITY_OK, qualities.back()) << "recovered";
    EXPECT_EQ(2u, recordedCalls(CACHE_REQUEST, "topic=NYSE/IBM "));
}

/* ---- Without the cache the publisher answers ---------------------------- */

TEST_F(MarketDataTest, WithoutTheCacheThePublishersAnswerIsTheInitial)
{
    start("false", "true");
    ManagedPublisher managed(mBridge, mTransport);
    ASSERT_TRUE(managed.waitLive());
    managed.setSeq(5);

    size_t index = subscribeMarketData("IBM");
    ASSERT_TRUE(feed(index).waitForMessages(1)) << ::testing::PrintToString(LogCapture::lines());
    const MsgRecorder::Message initial = feed(index).messages()[0];
    EXPECT_EQ(MAMA_MSG_TYPE_INITIAL, initial.mType);
    EXPECT_EQ(5, initial.mSeq) << "the publisher's image";
    EXPECT_EQ(0, mWrongValues.load());
    managed.publishUpTo(20);
    ASSERT_TRUE(feed(index).waitForMessages(16));
    EXPECT_EQ("", checkSequence(feed(index)));
    EXPECT_EQ(0, mWrongValues.load());

    EXPECT_EQ(1, managed.mNewRequests.load());
    EXPECT_EQ(0, managed.mRequests.load()) << "answered at the first request";
    EXPECT_EQ(0, managed.mErrors.load());
    EXPECT_EQ(0u, corvexClientTest_callCount(CACHE_REQUEST));
}

/* A symbol-list subscription's request, which the cache could not serve,
 * goes to the publisher on a transport without the cache: OpenMAMA's
 * data-quality publisher manager answers it with the list. */
TEST_F(MarketDataTest, WithoutTheCacheTheDataQualityManagerAnswersASymbolList)
{
    start("false", "true");
    ManagedPublisher managed(mBridge, mTransport);
    ASSERT_TRUE(managed.waitLive());
    managed.setSymbolList("IBM,MSFT");

    size_t list = subscribeMarketData(
        "Symbol List", [](mamaSubscription subscription)
        { mamaSubscription_setSubscriptionType(subscription, MAMA_SUBSC_TYPE_SYMBOL_LIST); });
    ASSERT_TRUE(feed(list).waitForMessages(1)) << ::testing::PrintToString(LogCapture::lines());
    EXPECT_EQ(MAMA_MSG_TYPE_INITIAL, feed(list).messages()[0].mType);
    EXPECT_EQ("IBM,MSFT", mListSeen);
    EXPECT_TRUE(feed(list).errors().empty());
    EXPECT_EQ(1, managed.mNewRequests.load());
    EXPECT_EQ(0u, LogCapture::count("Invalid mamaSubscriptionType"));
}

/* Where the cache is used, a symbol-list request has nothing to ask it:
 * the subscription learns so at once, not by MAMA's timeout. */
TEST_F(MarketDataTest, WithTheCacheASymbolListIsRefusedAtOnceAsAnInvalidType)
{
    start("true", "false");
    size_t list = subscribeMarketData(
        "Symbol List", [](mamaSubscription subscription)
        { mamaSubscription_setSubscriptionType(subscription, MAMA_SUBSC_TYPE_SYMBOL_LIST); });
    ASSERT_TRUE(feed(list).waitUntil([](MsgRecorder& f) { return !f.mErrors.empty(); }))
        << ::testing::PrintToString(LogCapture::lines());
    EXPECT_EQ(std::vector<mama_status>{MAMA_STATUS_SUBSCRIPTION_INVALID_TYPE},
              feed(list).errorStatuses());
    EXPECT_EQ(0u, feed(list).messageCount());
}

/* ---- Nothing to give, or not to be seen -------------------------------- */

TEST_F(MarketDataTest, SymbolWithoutDataIsReportedNotFound)
{
    start("true", "false");
    size_t index = subscribeMarketData("NODATA");
    ASSERT_TRUE(feed(index).waitUntil([](MsgRecorder& f) { return !f.mErrors.empty(); }))
        << ::testing::PrintToString(LogCapture::lines());
    EXPECT_EQ(std::vector<mama_status>{MAMA_STATUS_NOT_FOUND}, feed(index).errorStatuses());
    EXPECT_EQ(0u, feed(index).messageCount());
}

TEST_F(MarketDataTest, SymbolRefusedByAccessControlIsNotEntitledAndNothingIsRequested)
{
    start("true", "true");
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClientTest_addAclRule("embedded", "*", "NYSE/SECRET",
                                                           CORVEXCLIENT_TEST_ACL_SUBSCRIBE,
                                                           CORVEXCLIENT_TEST_ACL_DENY));
    mamaPublisher secret = publisher("SECRET", SOURCE);
    publish(secret, mUpdate, 1);

    size_t index = subscribeMarketData("SECRET");
    ASSERT_TRUE(feed(index).waitUntil([](MsgRecorder& f) { return !f.mErrors.empty(); }))
        << ::testing::PrintToString(LogCapture::lines());
    EXPECT_EQ(std::vector<mama_status>{MAMA_STATUS_NOT_ENTITLED}, feed(index).errorStatuses());
    EXPECT_EQ(0u, feed(index).messageCount());
    EXPECT_EQ(0u, corvexClientTest_callCount(CACHE_REQUEST));
    EXPECT_EQ(0u, recordedCalls(SEND, "topic=_MD/NYSE ")) << "no request reaches the publisher";
}

/* A snapshot subscription asks once and is given the cached value. */
TEST_F(MarketDataTest, ASnapshotSubscriptionIsGivenTheCachedValue)
{
    start("true", "false");
    mamaPublisher ibm = publisher("IBM", SOURCE);
    publish(ibm, mUpdate, 3);

    size_t snapshot = subscribeMarketData(
        "IBM", [](mamaSubscription subscription)
        { mamaSubscription_setServiceLevel(subscription, MAMA_SERVICE_LEVEL_SNAPSHOT, 0); });
    ASSERT_TRUE(feed(snapshot).waitForMessages(1)) << ::testing::PrintToString(LogCapture::lines());
    EXPECT_EQ(3, feed(snapshot).messages()[0].mSeq);
    EXPECT_EQ(0, mWrongValues.load());
    EXPECT_TRUE(feed(snapshot).errors().empty());
}

/* ---- Subscriptions the cache cannot serve ------------------------------- */

/* The throttle thread creates every market-data subscription and sends its
 * initial request. A group subscription, whose request the cache cannot
 * serve, is destroyed from the application's thread; the snapshot made next
 * on the throttle thread is its own request and learns its own outcome (the
 * group subscription is gone by then). MAMA takes an answer only once the
 * throttle thread, back from sending the request, has marked the
 * subscription active: on a loaded machine the cache's answer can come
 * sooner, is dropped, and the request is asked again at its timeout (short
 * here, so the outcome still comes within the wait). */
TEST_F(MarketDataTest, ARefusedGroupSubscriptionDestroyedElsewhereLeavesTheNextRequestAlone)
{
    start("true", "false");
    size_t group = subscribeMarketData(
        "GROUP", [](mamaSubscription subscription)
        { mamaSubscription_setSubscriptionType(subscription, MAMA_SUBSC_TYPE_GROUP); });
    ASSERT_TRUE(LogCapture::waitFor("Invalid mamaSubscriptionType='GROUP'"))
        << ::testing::PrintToString(LogCapture::lines());
    destroyMarketData(group);

    auto snapshotAskedAgainSoon = [](mamaSubscription subscription)
    {
        mamaSubscription_setServiceLevel(subscription, MAMA_SERVICE_LEVEL_SNAPSHOT, 0);
        mamaSubscription_setTimeout(subscription, 2.0);
        mamaSubscription_setRetries(subscription, 2);
    };
    size_t snapshot = subscribeMarketData("NODATA", snapshotAskedAgainSoon);
    ASSERT_TRUE(feed(snapshot).waitUntil([](MsgRecorder& f) { return !f.mErrors.empty(); }))
        << ::testing::PrintToString(LogCapture::lines());
    EXPECT_EQ(std::vector<mama_status>{MAMA_STATUS_NOT_FOUND}, feed(snapshot).errorStatuses());
}

/* ---- Many subscriptions while their symbols are updated ----------------- */

TEST_F(MarketDataTest, ThousandSubscriptionsEachGetTheirInitialWhileUpdatesFlow)
{
    const size_t count = 1000;
    start("true", "false");
    /* Every message would be logged at the finest level. */
    LogCapture::start(MAMA_LOG_LEVEL_WARN);
    std::vector<std::string> symbols;
    std::vector<mamaPublisher> publishers;
    for (size_t i = 0; i < count; ++i)
    {
        symbols.push_back("S" + std::to_string(1000 + i));
        publishers.push_back(publisher(symbols.back().c_str(), SOURCE));
        publish(publishers.back(), mUpdate, 1);
    }

    /* Round n publishes update n on every symbol, until told to stop (or
     * after a bound of its own). */
    std::atomic<bool> stop{false};
    std::atomic<int64_t> rounds{1};
    std::thread updates(
        [&]
        {
            mamaMsg msg = nullptr;
            ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_create(&msg));
            auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
            while (!stop && std::chrono::steady_clock::now() < end)
            {
                /* Paced by the dispatcher: at most about a round waits
                 * in the queue, so initials are not starved on a slow
                 * (instrumented) build. */
                if (queuedEvents(mQueue) > count)
                {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    continue;
                }
                int64_t seq = rounds + 1;
                for (mamaPublisher p : publishers)
                {
                    publish(p, msg, seq);
                }
                rounds = seq;
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            mamaMsg_destroy(msg);
        });

    /* One bound for all the waits of a step. */
    auto waitAll = [&](std::function<bool(MsgRecorder&)> done)
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        size_t late = 0;
        for (size_t i = 0; i < count; ++i)
        {
            auto left = std::max(std::chrono::steady_clock::duration::zero(),
                                 end - std::chrono::steady_clock::now());
            late +=
                feed(i).waitUntil(done, std::chrono::duration_cast<std::chrono::milliseconds>(left))
                    ? 0
                    : 1;
        }
        return late;
    };
    auto started = std::chrono::steady_clock::now();
    for (const std::string& symbol : symbols)
    {
        subscribeMarketData(symbol.c_str());
    }
    EXPECT_EQ(0u, waitAll([](MsgRecorder& f) { return f.mMessages.size() >= 2; }))
        << "subscriptions without their initial and an update";
    auto initialsDone = std::chrono::steady_clock::now();
    /* Destroyed while their symbols are still updated. */
    for (size_t i = 0; i < count; ++i)
    {
        EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_destroy(mMarketData[i]));
    }
    EXPECT_EQ(0u, waitAll([](MsgRecorder& f) { return f.mDestroys > 0; }))
        << "subscriptions without their destroy";
    auto destroysDone = std::chrono::steady_clock::now();
    stop = true;
    updates.join();
    EXPECT_TRUE(pollUntil([this] { return queuedEvents(mQueue) == 0; }));

    size_t problems = 0;
    for (size_t i = 0; i < count; ++i)
    {
        std::string sequence = checkSequence(feed(i));
        EXPECT_EQ(1, feed(i).destroys()) << symbols[i];
        EXPECT_EQ(feed(i).messagesAtDestroy(), feed(i).messageCount())
            << symbols[i] << ": nothing after the destroy";
        if (!sequence.empty() && problems++ < 10)
        {
            ADD_FAILURE() << symbols[i] << ": " << sequence;
        }
    }
    EXPECT_EQ(0u, problems);
    EXPECT_EQ(0, mWrongValues.load());
    for (size_t i = 0; i < count; ++i)
    {
        EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_deallocate(mMarketData[i]));
        mMarketData[i] = nullptr;
    }
    using ms = std::chrono::milliseconds;
    std::cout << count << " subscriptions: initials in "
              << std::chrono::duration_cast<ms>(initialsDone - started).count()
              << " ms, destroys in "
              << std::chrono::duration_cast<ms>(destroysDone - initialsDone).count() << " ms, "
              << rounds << " rounds of updates" << std::endl;
}
