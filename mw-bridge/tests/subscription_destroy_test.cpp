/* Destroying subscriptions: the destroy request travels through the queue
 * behind the messages already queued, and the destroy callback arrives
 * exactly once, on the dispatch thread, whichever of subscription and
 * transport goes first. */
#include <bridge.h>

#include "subscriptionFixture.h"
#include "transport.h"

namespace
{
const int QUEUED_MESSAGES = 10000;
const char* MUTED_LINE = "muted - not queueing update for topic NYSE/IBM";

class SubscriptionDestroyTest : public SubscriptionTest
{
  protected:
    /* Publishes `count` messages on NYSE/IBM and waits until all of them are
     * queued, none dispatched. */
    void queueMessages(int count)
    {
        send(publisher("IBM", "NYSE"), count);
        ASSERT_TRUE(pollUntil([&] { return queuedEvents(mQueue) == (size_t)count; }))
            << queuedEvents(mQueue);
    }

    bool destroyedOnce(MsgRecorder& recorder)
    {
        return recorder.waitUntil([](MsgRecorder& r) { return r.mDestroys >= 1; });
    }

    mamaTransport createTransport(const std::string& name)
    {
        mamaTransport transport = nullptr;
        mamaTransport_allocate(&transport);
        mama_setProperty(("mama.corvex.transport." + name + ".allow_recover_gaps").c_str(), "true");
        EXPECT_EQ(MAMA_STATUS_OK, mamaTransport_create(transport, name.c_str(), mBridge));
        return transport;
    }

    /* Creates `count` subscriptions on `transport` (asynchronous subscribes:
     * each confirmation is queued on the vendor thread) and destroys them all
     * at once. Their recorders are returned. */
    std::vector<MsgRecorder*> subscribeAndDestroy(mamaTransport transport, int count)
    {
        std::vector<MsgRecorder*> recorders;
        std::vector<mamaSubscription> created;
        mamaMsgCallbacks callbacks = MsgRecorder::callbacks();
        for (int i = 0; i < count; ++i)
        {
            MsgRecorder* recorder = nullptr;
            mamaSubscription subscription = newSubscription(&recorder);
            std::string symbol = "SYM" + std::to_string(i);
            EXPECT_EQ(MAMA_STATUS_OK,
                      mamaSubscription_createBasic(subscription, transport, mQueue, &callbacks,
                                                   symbol.c_str(), recorder));
            recorders.push_back(recorder);
            created.push_back(subscription);
        }
        for (mamaSubscription subscription : created)
        {
            EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_destroy(subscription));
        }
        return recorders;
    }

    /* A subscription on NYSE.IBM made through the bridge's own table, as
     * OpenMAMA's suite does, on a queue of its own that nobody dispatches. */
    struct DirectSubscription
    {
        mamaQueue mQueue = nullptr;
        void* mBridgeQueue = nullptr;
        mamaBridgeImpl* mTable = nullptr;
        mamaSubscription mParent = nullptr;
        MsgRecorder mRecorder;
        subscriptionBridge mBridgeSubscription = nullptr;
    };

    void createDirect(DirectSubscription* direct)
    {
        ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_create(&direct->mQueue, mBridge));
        ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_getNativeHandle(direct->mQueue, &direct->mBridgeQueue));
        direct->mTable = reinterpret_cast<mamaBridgeImpl*>(mBridge);
        ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_allocate(&direct->mParent));
        ASSERT_EQ(MAMA_STATUS_OK,
                  direct->mTable->bridgeMamaSubscriptionCreate(
                      &direct->mBridgeSubscription, "NYSE", "IBM", mTransport, direct->mQueue,
                      MsgRecorder::callbacks(), direct->mParent, &direct->mRecorder));
    }

    static bool allDestroyed(const std::vector<MsgRecorder*>& recorders)
    {
        for (MsgRecorder* recorder : recorders)
        {
            if (!recorder->waitUntil([](MsgRecorder& r) { return r.mDestroys >= 1; }))
            {
                return false;
            }
        }
        return true;
    }
};

const int UNCONFIRMED_SUBSCRIPTIONS = 20;
const int UNCONFIRMED_ROUNDS = 5;
/* Whether a confirmation was dropped with its session rather than reported
 * is seen only in the line the bridge logs when it lets the tag go. */
const char* ABANDONED_LINE = "with 1 subscribe confirmation(s) its destroyed session will never";
} // namespace

TEST_F(SubscriptionDestroyTest, HostDestroyDropsQueuedMessagesAsMutedThenReportsOnce)
{
    start();
    MsgRecorder* recorder = nullptr;
    mamaSubscription subscription = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, subscribe("NYSE.IBM", &recorder, &subscription));
    queueMessages(QUEUED_MESSAGES);

    size_t mutedAtDestroy = 0;
    size_t queuedAtDestroy = 1;
    recorder->mAtDestroy = [&]
    {
        mutedAtDestroy = LogCapture::count(MUTED_LINE);
        queuedAtDestroy = queuedEvents(mQueue);
    };
    /* The host mutes before it destroys. */
    ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_destroy(subscription));
    EXPECT_EQ(MAMA_SUBSCRIPTION_DESTROYING, stateOf(subscription))
        << "the report waits behind the messages";
    EXPECT_EQ(0, recorder->destroys());

    startDispatch();
    ASSERT_TRUE(destroyedOnce(*recorder));
    EXPECT_EQ((size_t)QUEUED_MESSAGES, mutedAtDestroy);
    EXPECT_EQ(0u, queuedAtDestroy);
    EXPECT_EQ(0u, recorder->messageCount());
    EXPECT_EQ(mDispatching.load(), recorder->destroyThread());
    EXPECT_EQ(MAMA_SUBSCRIPTION_DESTROYED, stateOf(subscription));
    stopDispatch();
    EXPECT_EQ(1, recorder->destroys());
}

/* Without the host's mute the queued messages are still delivered, and the
 * bridge's destroy callback follows them. */
TEST_F(SubscriptionDestroyTest, DestroyDeliversQueuedMessagesBeforeTheDestroyCallback)
{
    start();
    MsgRecorder* application = nullptr;
    mamaSubscription parent = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, subscribe("ELSEWHERE", &application, &parent));

    /* A second bridge subscription for the same application, created and
     * destroyed as the host would, minus the mute. */
    MsgRecorder bridgeSide;
    mamaMsgCallbacks callbacks = MsgRecorder::callbacks();
    subscriptionBridge created = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK,
              mBridge->bridgeMamaSubscriptionCreate(&created, "NYSE.IBM", nullptr, mTransport,
                                                    mQueue, callbacks, parent, &bridgeSide));
    queueMessages(QUEUED_MESSAGES);

    size_t deliveredAtDestroy = 0;
    bridgeSide.mAtDestroy = [&] { deliveredAtDestroy = application->messageCount(); };
    ASSERT_EQ(MAMA_STATUS_OK, mBridge->bridgeMamaSubscriptionDestroy(created));
    startDispatch();
    ASSERT_TRUE(destroyedOnce(bridgeSide));
    EXPECT_EQ((size_t)QUEUED_MESSAGES, deliveredAtDestroy);
    EXPECT_EQ(mDispatching.load(), bridgeSide.destroyThread());
    stopDispatch();
    EXPECT_EQ(1, bridgeSide.destroys());
    EXPECT_EQ((size_t)QUEUED_MESSAGES, application->messageCount());
}

TEST_F(SubscriptionDestroyTest, SubscriptionDestroyedAfterItsTransportStillReportsOnce)
{
    start();
    MsgRecorder* recorder = nullptr;
    mamaSubscription subscription = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, subscribe("NYSE.IBM", &recorder, &subscription));
    startDispatch();

    EXPECT_EQ(MAMA_STATUS_OK, destroyTransport());
    EXPECT_EQ(0, recorder->destroys()) << "the application has not destroyed it";
    ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_destroy(subscription));
    /* Where the bridge's report came first, OpenMAMA calls the destroy
     * callback on the destroying thread itself, else on the dispatch
     * thread: either way, once. */
    ASSERT_TRUE(destroyedOnce(*recorder));
    stopDispatch();
    EXPECT_EQ(1, recorder->destroys());
}

/* A subscription on a queue nobody dispatches fills it to the maximum (3),
 * so the queue holds its transport suspended; the transport is destroyed
 * first, then the subscription. The subscription lets go of the queue's hold
 * while the transport still exists, and the application goes on with a new
 * transport. */
TEST_F(SubscriptionDestroyTest, TransportDestroyedFirstWhileItsSubscriptionsQueueHoldsIt)
{
    mama_setProperty("mama.corvex.transport.queue_max_size", "3");
    start();
    MsgRecorder* recorder = nullptr;
    mamaSubscription subscription = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, subscribe("NYSE.IBM", &recorder, &subscription));
    mamaPublisher ibm = publisher("IBM", "NYSE");
    ASSERT_TRUE(pollUntil(
        [&]
        {
            send(ibm, 1);
            return queuedEvents(mQueue) >= 4;
        }));
    auto* held = static_cast<CorvexTransportBridge*>(nativeTransport());
    ASSERT_EQ(1u, held->mFlowControl.mSuspendedQueues);

    mamaPublisher_destroy(ibm);
    mPublishers.clear();
    EXPECT_EQ(MAMA_STATUS_OK, destroyTransport());
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_destroy(subscription));
    startDispatch();
    ASSERT_TRUE(destroyedOnce(*recorder));

    mamaTransport next = createTransport("next");
    MsgRecorder* nextRecorder = nullptr;
    mamaSubscription nextSubscription = newSubscription(&nextRecorder);
    mamaMsgCallbacks callbacks = MsgRecorder::callbacks();
    ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_createBasic(nextSubscription, next, mQueue,
                                                           &callbacks, "NYSE.MSFT", nextRecorder));
    mamaPublisher msft = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaPublisher_create(&msft, next, "MSFT", "NYSE", nullptr));
    EXPECT_TRUE(pollUntil(
        [&]
        {
            send(msft, 1);
            return nextRecorder->waitForMessages(1, std::chrono::milliseconds(10));
        }));
    mamaPublisher_destroy(msft);
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_destroy(nextSubscription));
    ASSERT_TRUE(destroyedOnce(*nextRecorder));
    EXPECT_EQ(MAMA_STATUS_OK, mamaTransport_destroy(next));
    EXPECT_TRUE(BridgeLine::at("Error").empty())
        << ::testing::PrintToString(BridgeLine::at("Error"));
}

TEST_F(SubscriptionDestroyTest, TransportDestroyedAfterItsSubscription)
{
    start();
    MsgRecorder* recorder = nullptr;
    mamaSubscription subscription = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, subscribe("NYSE.IBM", &recorder, &subscription));
    startDispatch();
    send(publisher("IBM", "NYSE"), 10);
    ASSERT_TRUE(recorder->waitUntil([](MsgRecorder& r) { return r.mMessages.size() == 10u; }));

    ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_destroy(subscription));
    ASSERT_TRUE(destroyedOnce(*recorder));
    EXPECT_EQ(1u, LogCapture::count("Completed for topic=NYSE/IBM"));
    EXPECT_EQ(MAMA_STATUS_OK, destroyTransport());
    stopDispatch();
    EXPECT_EQ(1, recorder->destroys());
}

/* Both orders at once, several times: whichever side removes the last topic
 * entry, the destroy request is queued exactly once. */
TEST_F(SubscriptionDestroyTest, TransportAndSubscriptionDestroyedConcurrently)
{
    start();
    startDispatch();
    for (int round = 0; round < 20; ++round)
    {
        mamaTransport transport = nullptr;
        mamaTransport_allocate(&transport);
        std::string name = "race" + std::to_string(round);
        mama_setProperty(("mama.corvex.transport." + name + ".allow_recover_gaps").c_str(), "true");
        ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_create(transport, name.c_str(), mBridge));
        MsgRecorder* recorder = nullptr;
        mamaSubscription subscription = newSubscription(&recorder);
        mamaMsgCallbacks callbacks = MsgRecorder::callbacks();
        ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_createBasic(subscription, transport, mQueue,
                                                               &callbacks, "NYSE.IBM", recorder));
        /* The confirmation first: a session destroyed before it runs never
         * reports it (a case of its own below). */
        ASSERT_TRUE(
            pollUntil([&] { return !hasOutstandingTags(bridgeSubscription(subscription)); }));

        std::thread other([&] { EXPECT_EQ(MAMA_STATUS_OK, mamaTransport_destroy(transport)); });
        EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_destroy(subscription));
        other.join();
        ASSERT_TRUE(destroyedOnce(*recorder)) << "round " << round;
    }
    stopDispatch();
    for (const std::unique_ptr<MsgRecorder>& recorder : mRecorders)
    {
        EXPECT_EQ(1, recorder->destroys());
    }
}

TEST_F(SubscriptionDestroyTest, DestroyWhileMessagesFlowDeliversNothingAfterTheReport)
{
    start();
    MsgRecorder* recorder = nullptr;
    mamaSubscription subscription = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, subscribe("NYSE.IBM", &recorder, &subscription));
    startDispatch();

    mamaPublisher pub = publisher("IBM", "NYSE");
    std::atomic<bool> stop(false);
    std::thread sender(
        [&]
        {
            mamaMsg msg = nullptr;
            mamaMsg_create(&msg);
            mamaMsg_addI32(msg, "seq", 10, 0);
            while (!stop)
            {
                mamaPublisher_send(pub, msg);
            }
            mamaMsg_destroy(msg);
        });
    ASSERT_TRUE(recorder->waitUntil([](MsgRecorder& r) { return r.mMessages.size() >= 1000u; }));
    ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_destroy(subscription));
    ASSERT_TRUE(destroyedOnce(*recorder));
    stop = true;
    sender.join();
    stopDispatch();

    EXPECT_EQ(recorder->messagesAtDestroy(), recorder->messageCount());
    EXPECT_EQ(1, recorder->destroys());
}

/* OpenMAMA's own suite drives the bridge directly: a subscription destroyed,
 * then its queue destroyed at once, nobody dispatching it. The destroy
 * completes on the destroying thread, so the queue can go next. */
TEST_F(SubscriptionDestroyTest, OnAQueueNobodyDispatchesDestroyCompletesAtOnce)
{
    start();
    DirectSubscription direct;
    ASSERT_NO_FATAL_FAILURE(createDirect(&direct));
    mamaQueue queue = direct.mQueue;
    mamaBridgeImpl* table = direct.mTable;
    mamaSubscription parent = direct.mParent;
    MsgRecorder& recorder = direct.mRecorder;
    subscriptionBridge bridgeSubscription = direct.mBridgeSubscription;

    ASSERT_EQ(MAMA_STATUS_OK, table->bridgeMamaSubscriptionDestroy(bridgeSubscription));
    EXPECT_EQ(1, recorder.destroys()) << "before destroy returned";
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_destroy(queue));
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_deallocate(parent));
}

/* When the vendor's removal report is late (its thread is held here), the
 * destroy leaves the rest to the queue: the queue refuses to go until the
 * destroy request is on it, so the late report never enqueues on a freed
 * queue. */
TEST_F(SubscriptionDestroyTest, AQueueIsKeptUntilALateDestroyRequestIsOnIt)
{
    start();
    DirectSubscription direct;
    ASSERT_NO_FATAL_FAILURE(createDirect(&direct));
    mamaQueue queue = direct.mQueue;
    void* bridgeQueue = direct.mBridgeQueue;
    mamaBridgeImpl* table = direct.mTable;
    mamaSubscription parent = direct.mParent;
    MsgRecorder& recorder = direct.mRecorder;
    subscriptionBridge bridgeSubscription = direct.mBridgeSubscription;
    transportBridge held = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_getBridgeTransport(mTransport, &held));
    ASSERT_TRUE(holdContextThread(reinterpret_cast<CorvexTransportBridge*>(held)->mSession));

    ASSERT_EQ(MAMA_STATUS_OK, table->bridgeMamaSubscriptionDestroy(bridgeSubscription));
    EXPECT_EQ(0, recorder.destroys());
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG,
              table->bridgeMamaQueueDestroy(static_cast<queueBridge>(bridgeQueue)));
    EXPECT_EQ(1u, LogCapture::count("it still has 1 subscriptions."));
    LogCapture::release();

    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_timedDispatch(queue, 5000));
    EXPECT_EQ(1, recorder.destroys());
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_destroy(queue));
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_deallocate(parent));
}

/* Subscriptions destroyed while their subscribe confirmations are still
 * queued on the vendor thread, their transport destroyed right after: the
 * destroyed session never reports those confirmations, which must not keep
 * the subscriptions from being freed (leak checks see them otherwise). */
TEST_F(SubscriptionDestroyTest, TransportDestroyedRightAfterItsUnconfirmedSubscriptions)
{
    start();
    startDispatch();
    for (int round = 0; round < UNCONFIRMED_ROUNDS; ++round)
    {
        mamaTransport transport = createTransport("unconfirmed" + std::to_string(round));
        std::vector<MsgRecorder*> recorders =
            subscribeAndDestroy(transport, UNCONFIRMED_SUBSCRIPTIONS);
        EXPECT_EQ(MAMA_STATUS_OK, mamaTransport_destroy(transport));
        ASSERT_TRUE(allDestroyed(recorders)) << "round " << round;
    }
    stopDispatch();
    for (const std::unique_ptr<MsgRecorder>& recorder : mRecorders)
    {
        EXPECT_EQ(1, recorder->destroys());
    }
}

/* The same with the race decided: the vendor thread is held until the
 * session's destroy has begun, so every confirmation is dropped with the
 * session although each destroy found it open. */
TEST_F(SubscriptionDestroyTest, ConfirmationsDroppedWithTheSessionDoNotKeepSubscriptions)
{
    start();
    startDispatch();
    transportBridge held = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_getBridgeTransport(mTransport, &held));
    corvexClient_session_t heldSession = reinterpret_cast<CorvexTransportBridge*>(held)->mSession;
    for (int round = 0; round < UNCONFIRMED_ROUNDS; ++round)
    {
        mamaTransport transport = createTransport("dropped" + std::to_string(round));
        size_t abandonedBefore = LogCapture::count(ABANDONED_LINE);
        ASSERT_TRUE(holdContextThread(heldSession));

        std::vector<MsgRecorder*> recorders =
            subscribeAndDestroy(transport, UNCONFIRMED_SUBSCRIPTIONS);
        uint32_t sessionDestroys = corvexClientTest_callCount("corvexClient_session_destroy");
        std::thread destroying([transport]
                               { EXPECT_EQ(MAMA_STATUS_OK, mamaTransport_destroy(transport)); });
        /* The session is closed right after the call is recorded; its
         * teardown then waits for the vendor thread. */
        bool closing = pollUntil(
            [&] {
                return corvexClientTest_callCount("corvexClient_session_destroy") > sessionDestroys;
            });
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        LogCapture::release();
        destroying.join();
        ASSERT_TRUE(closing) << "round " << round;

        ASSERT_TRUE(allDestroyed(recorders)) << "round " << round;
        EXPECT_EQ(abandonedBefore + UNCONFIRMED_SUBSCRIPTIONS, LogCapture::count(ABANDONED_LINE))
            << "round " << round << ": every confirmation was dropped with the session";
    }
    stopDispatch();
    for (const std::unique_ptr<MsgRecorder>& recorder : mRecorders)
    {
        EXPECT_EQ(1, recorder->destroys());
    }
}
