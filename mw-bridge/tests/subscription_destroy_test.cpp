/* Destroying subscriptions: the destroy request travels through the queue
 * behind the messages already queued, and the destroy callback arrives
 * exactly once, on the dispatch thread, whichever of subscription and
 * transport goes first. */
#include <bridge.h>

#include "subscriptionFixture.h"

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
        ASSERT_TRUE(eventually([&] { return queuedEvents() == (size_t)count; })) << queuedEvents();
    }

    bool destroyedOnce(Recorder& recorder)
    {
        return recorder.waitUntil([](Recorder& r) { return r.mDestroys >= 1; });
    }

    void destroyTransport()
    {
        EXPECT_EQ(MAMA_STATUS_OK, mamaTransport_destroy(mTransport));
        mTransport = nullptr;
    }
};
} // namespace

TEST_F(SubscriptionDestroyTest, HostDestroyDropsQueuedMessagesAsMutedThenReportsOnce)
{
    start();
    Recorder* recorder = nullptr;
    mamaSubscription subscription = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, subscribe("NYSE.IBM", &recorder, &subscription));
    queueMessages(QUEUED_MESSAGES);

    size_t mutedAtDestroy = 0;
    size_t queuedAtDestroy = 1;
    recorder->mAtDestroy = [&]
    {
        mutedAtDestroy = LogCapture::count(MUTED_LINE);
        queuedAtDestroy = queuedEvents();
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
    EXPECT_EQ(0u, recorder->messages());
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
    Recorder* application = nullptr;
    mamaSubscription parent = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, subscribe("ELSEWHERE", &application, &parent));

    /* A second bridge subscription for the same application, created and
     * destroyed as the host would, minus the mute. */
    Recorder bridgeSide;
    mamaMsgCallbacks callbacks = Recorder::callbacks();
    subscriptionBridge created = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK,
              mBridge->bridgeMamaSubscriptionCreate(&created, "NYSE.IBM", nullptr, mTransport,
                                                    mQueue, callbacks, parent, &bridgeSide));
    queueMessages(QUEUED_MESSAGES);

    size_t deliveredAtDestroy = 0;
    bridgeSide.mAtDestroy = [&] { deliveredAtDestroy = application->messages(); };
    ASSERT_EQ(MAMA_STATUS_OK, mBridge->bridgeMamaSubscriptionDestroy(created));
    startDispatch();
    ASSERT_TRUE(destroyedOnce(bridgeSide));
    EXPECT_EQ((size_t)QUEUED_MESSAGES, deliveredAtDestroy);
    EXPECT_EQ(mDispatching.load(), bridgeSide.destroyThread());
    stopDispatch();
    EXPECT_EQ(1, bridgeSide.destroys());
    EXPECT_EQ((size_t)QUEUED_MESSAGES, application->messages());
}

TEST_F(SubscriptionDestroyTest, SubscriptionDestroyedAfterItsTransportStillReportsOnce)
{
    start();
    Recorder* recorder = nullptr;
    mamaSubscription subscription = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, subscribe("NYSE.IBM", &recorder, &subscription));
    startDispatch();

    destroyTransport();
    EXPECT_EQ(0, recorder->destroys()) << "the application has not destroyed it";
    ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_destroy(subscription));
    /* Where the bridge's report came first, OpenMAMA calls the destroy
     * callback on the destroying thread itself, else on the dispatch
     * thread: either way, once. */
    ASSERT_TRUE(destroyedOnce(*recorder));
    stopDispatch();
    EXPECT_EQ(1, recorder->destroys());
}

TEST_F(SubscriptionDestroyTest, TransportDestroyedAfterItsSubscription)
{
    start();
    Recorder* recorder = nullptr;
    mamaSubscription subscription = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, subscribe("NYSE.IBM", &recorder, &subscription));
    startDispatch();
    send(publisher("IBM", "NYSE"), 10);
    ASSERT_TRUE(recorder->waitUntil([](Recorder& r) { return r.mMessages == 10; }));

    ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_destroy(subscription));
    ASSERT_TRUE(destroyedOnce(*recorder));
    EXPECT_EQ(1u, LogCapture::count("Completed for topic=NYSE/IBM"));
    destroyTransport();
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
        Recorder* recorder = nullptr;
        mamaSubscription subscription = newSubscription(&recorder);
        mamaMsgCallbacks callbacks = Recorder::callbacks();
        ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_createBasic(subscription, transport, mQueue,
                                                               &callbacks, "NYSE.IBM", recorder));
        /* The confirmation first: a session destroyed before it runs never
         * reports it (a case of its own below). */
        ASSERT_TRUE(
            eventually([&] { return !hasOutstandingTags(bridgeSubscription(subscription)); }));

        std::thread other([&] { EXPECT_EQ(MAMA_STATUS_OK, mamaTransport_destroy(transport)); });
        EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_destroy(subscription));
        other.join();
        ASSERT_TRUE(destroyedOnce(*recorder)) << "round " << round;
    }
    stopDispatch();
    for (const std::unique_ptr<Recorder>& recorder : mRecorders)
    {
        EXPECT_EQ(1, recorder->destroys());
    }
}

TEST_F(SubscriptionDestroyTest, DestroyWhileMessagesFlowDeliversNothingAfterTheReport)
{
    start();
    Recorder* recorder = nullptr;
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
    ASSERT_TRUE(recorder->waitUntil([](Recorder& r) { return r.mMessages >= 1000; }));
    ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_destroy(subscription));
    ASSERT_TRUE(destroyedOnce(*recorder));
    stop = true;
    sender.join();
    stopDispatch();

    EXPECT_EQ(recorder->messagesAtDestroy(), recorder->messages());
    EXPECT_EQ(1, recorder->destroys());
}

/* OpenMAMA's own suite drives the bridge directly: a subscription destroyed,
 * then its queue destroyed before the vendor has reported the removal. The
 * queue refuses until the destroy request is on it, so the late report never
 * enqueues on a freed queue. */
TEST_F(SubscriptionDestroyTest, AQueueIsKeptUntilThePendingDestroyRequestIsOnIt)
{
    start();
    mamaQueue queue = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_create(&queue, mBridge));
    void* bridgeQueue = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_getNativeHandle(queue, &bridgeQueue));
    mamaBridgeImpl* table = reinterpret_cast<mamaBridgeImpl*>(mBridge);
    mamaSubscription parent = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_allocate(&parent));
    Recorder recorder;
    subscriptionBridge bridgeSubscription = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK,
              table->bridgeMamaSubscriptionCreate(&bridgeSubscription, "NYSE", "IBM", mTransport,
                                                  queue, Recorder::callbacks(), parent,
                                                  &recorder));

    LogCapture::holdAt("Deleted topic subscription from corvex session for topic=NYSE/IBM");
    ASSERT_EQ(MAMA_STATUS_OK, table->bridgeMamaSubscriptionDestroy(bridgeSubscription));
    ASSERT_TRUE(LogCapture::waitHeld()) << "the removal report is on its way";
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG,
              table->bridgeMamaQueueDestroy(static_cast<queueBridge>(bridgeQueue)));
    EXPECT_EQ(1u, LogCapture::count("it still has 1 subscriptions."));
    LogCapture::release();

    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_timedDispatch(queue, 5000));
    EXPECT_EQ(1, recorder.destroys());
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_destroy(queue));
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_deallocate(parent));
}
