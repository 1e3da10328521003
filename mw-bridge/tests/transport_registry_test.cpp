/* The transport's registry of subscriptions: a destroyed transport takes no
 * new subscription and is released by whichever of its destroy and its last
 * subscription's removal comes last; every order of destruction ends with
 * each subscription's destroy callback called once, on its dispatch thread. */
#include <atomic>

#include <bridge.h>

#include "corvexBridge.h"
#include "receptionFixture.h"
#include "subscription.h"
#include "transportLifetime.h"
#include "transportList.h"

namespace
{
/* Counts the events the vendor thread queues. */
void MAMACALLTYPE countEnqueue(mamaQueue, void* closure)
{
    static_cast<std::atomic<size_t>*>(closure)->fetch_add(1);
}

class RegistryTest : public ReceptionTest
{
  protected:
    size_t linkedTransports()
    {
        void* closure = nullptr;
        mamaBridgeImpl_getClosure(mBridge, &closure);
        return static_cast<CorvexBridge*>(closure)->mTransportList->mCount;
    }
};
} // namespace

TEST_F(RegistryTest, ATransportDestroyedFirstIsReleasedByItsLastSubscription)
{
    start();
    mamaQueue queue = addQueue();
    MsgRecorder& first = subscribe(queue, "R.A");
    MsgRecorder& second = subscribe(queue, "R", "*");
    ASSERT_EQ(1u, linkedTransports());
    /* Destroyed at once: the subscriptions' confirmations may never be
     * handled, which must not keep their release waiting. */

    ASSERT_EQ(MAMA_STATUS_OK, destroyTransport());
    EXPECT_EQ(2u, LogCapture::count("Corvex Subscriptions unsubscribed without invoking "
                                    "mamaSubscription_deactivate or mamaSubscription_destroy"));
    EXPECT_EQ(1u, linkedTransports()) << "two subscriptions still point at it";

    /* What a subscription created now would be refused with. */
    CorvexSubscription late;
    memset(static_cast<void*>(&late), 0, sizeof(late));
    CorvexTransportBridge* transport = corvexSubscription(0)->mTransportBridge;
    EXPECT_EQ(MAMA_STATUS_PLATFORM, corvexTransportLifetime_addSubscription(transport, &late));
    EXPECT_EQ(1u, LogCapture::count("Transport has been destroyed"));

    destroySubscription(0);
    EXPECT_EQ(1u, linkedTransports());
    destroySubscription(1);
    EXPECT_EQ(0u, linkedTransports());
    for (MsgRecorder* received : {&first, &second})
    {
        /* Where the bridge's report came first, the host calls the destroy
         * callback from the destroying thread itself; either way, once. */
        EXPECT_EQ(1, received->destroys());
    }
}

TEST_F(RegistryTest, ATransportWithoutSubscriptionsIsReleasedByItsDestroy)
{
    start();
    MsgRecorder& received = subscribe(addQueue(), "R.B");
    destroySubscription(0);
    EXPECT_EQ(1, received.destroys());
    EXPECT_EQ(1u, linkedTransports());
    ASSERT_EQ(MAMA_STATUS_OK, destroyTransport());
    EXPECT_EQ(0u, linkedTransports());
}

TEST_F(RegistryTest, DuplicateAndUnknownSubscriptionsAreLoggedAndHarmless)
{
    start();
    CorvexSubscription subscription;
    memset(static_cast<void*>(&subscription), 0, sizeof(subscription));
    EXPECT_EQ(MAMA_STATUS_OK,
              corvexTransportLifetime_addSubscription(mCorvexTransport, &subscription));
    EXPECT_EQ(MAMA_STATUS_OK,
              corvexTransportLifetime_addSubscription(mCorvexTransport, &subscription));
    EXPECT_EQ(1u, LogCapture::count("Adding same subscription to transport twice"));
    EXPECT_EQ(MAMA_STATUS_OK,
              corvexTransportLifetime_removeSubscription(mCorvexTransport, &subscription));
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG,
              corvexTransportLifetime_removeSubscription(mCorvexTransport, &subscription));
    EXPECT_EQ(1u, LogCapture::count("subscription not registered on transport"));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG,
              corvexTransportLifetime_addSubscription(mCorvexTransport, nullptr));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG,
              corvexTransportLifetime_removeSubscription(nullptr, &subscription));
}

/* The host mutes a subscription before destroying it, so messages queued
 * before the destroy are dispatched (and dropped as muted) ahead of the
 * destroy request, which releases the subscription last. */
TEST_F(RegistryTest, QueuedMessagesAreDispatchedBeforeTheDestroyCallback)
{
    start();
    mamaQueue queue = addQueue(false);
    MsgRecorder& received = subscribe(queue, "R.C");
    std::atomic<size_t> enqueued(0);
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_setEnqueueCallback(queue, countEnqueue, &enqueued));
    mamaPublisher publisher = addPublisher("R.C");
    const int count = 10000;
    for (int seq = 1; seq <= count; ++seq)
    {
        send(publisher, seq);
    }
    ASSERT_TRUE(
        pollUntil([&] { return enqueued.load() >= (size_t)count; }, std::chrono::seconds(30)));
    ASSERT_EQ((size_t)count, queuedEvents(queue));

    ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_destroy(mSubscriptions[0]));
    dispatchAll();
    ASSERT_TRUE(received.waitUntil([](MsgRecorder& r) { return r.mDestroys > 0; }));
    EXPECT_EQ((size_t)count, LogCapture::count("muted - not queueing update for topic R/C"));
    EXPECT_EQ(0u, received.messageCount());
    EXPECT_EQ(1, received.destroys());
    EXPECT_NE(std::this_thread::get_id(), received.destroyThread());
    mamaSubscription_deallocate(mSubscriptions[0]);
    mSubscriptions[0] = nullptr;
}
