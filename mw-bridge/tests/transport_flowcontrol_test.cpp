/* Flow control between event queues and the sessions that feed them: a queue
 * at the maximum size suspends its transports, a drained queue resumes them,
 * and a transport suspends its session on the first queue and resumes it on
 * the last. The queue learns which transports feed it from subscriptions;
 * these tests enter that record directly. */
#include <string>
#include <tuple>

#include <corvexClientTest.h>
#include <mama/mama.h>
#include <mama/transport.h>
#include <wombat/wlock.h>

#include "bridgeFixture.h"
#include "queue.h"
#include "transport.h"

namespace
{
void MAMACALLTYPE ignoreEvent (mamaQueue, void*)
{
}

class FlowControlTest : public BridgeTest
{
protected:
    void start (const char* queueMaxSize, const char* subscribeAsync = nullptr)
    {
        mama_setProperty ("mama.corvex.transport.queue_max_size", queueMaxSize);
        if (subscribeAsync != nullptr)
        {
            mama_setProperty ("mama.corvex.transport.subscribe_async", subscribeAsync);
        }
        mama_setProperty ("mama.corvex.transport.t1.allow_recover_gaps", "true");
        mama_setProperty ("mama.corvex.transport.t2.allow_recover_gaps", "true");
        BridgeTest::SetUp ();
        mamaTransport_allocate (&mTransport);
        ASSERT_EQ (MAMA_STATUS_OK, mamaTransport_create (mTransport, "t1", mBridge));
        void* native = nullptr;
        ASSERT_EQ (MAMA_STATUS_OK, mamaTransport_getNativeTransport (mTransport, 0, &native));
        mCorvexTransport = static_cast<CorvexTransportBridge*> (native);
        corvexClientTest_setRecording (1);
    }

    void SetUp () override {}

    void TearDown () override
    {
        for (size_t i = 0; i < mQueues.size (); ++i)
        {
            setFeeding (mQueueBridges[i], false);
            drain (mQueues[i]);
            EXPECT_EQ (MAMA_STATUS_OK, mamaQueue_destroy (mQueues[i]));
        }
        if (mTransport != nullptr)
        {
            mamaTransport_destroy (mTransport);
        }
        BridgeTest::TearDown ();
    }

    size_t addQueue ()
    {
        mamaQueue queue = nullptr;
        EXPECT_EQ (MAMA_STATUS_OK, mamaQueue_create (&queue, mBridge));
        void* native = nullptr;
        EXPECT_EQ (MAMA_STATUS_OK, mamaQueue_getNativeHandle (queue, &native));
        mQueues.push_back (queue);
        mQueueBridges.push_back (static_cast<CorvexQueueBridge*> (native));
        setFeeding (mQueueBridges.back (), true);
        return mQueues.size () - 1;
    }

    /* What a subscription of the transport on the queue would record. */
    void setFeeding (CorvexQueueBridge* queue, bool feeding)
    {
        wlock_lock (queue->mTransportsLock);
        if (feeding)
        {
            (*queue->mTransports)[mCorvexTransport] = CorvexQueueFeed{1, false};
        }
        else
        {
            queue->mTransports->erase (mCorvexTransport);
            queue->mIsSuspended = 0;
        }
        wlock_unlock (queue->mTransportsLock);
    }

    void fill (size_t index, size_t events)
    {
        for (size_t i = 0; i < events; ++i)
        {
            ASSERT_EQ (MAMA_STATUS_OK, mamaQueue_enqueueEvent (mQueues[index], ignoreEvent, nullptr));
        }
    }

    static size_t size (mamaQueue queue)
    {
        size_t count = 0;
        EXPECT_EQ (MAMA_STATUS_OK, mamaQueue_getEventCount (queue, &count));
        return count;
    }

    static void drain (mamaQueue queue)
    {
        while (size (queue) > 0)
        {
            ASSERT_EQ (MAMA_STATUS_OK, mamaQueue_dispatchEvent (queue));
        }
    }

    /* Dispatches until the transport is no longer held; the queue size seen
     * by the dispatch that resumed it, or 0 when it never was. */
    size_t drainUntilResumed (size_t index)
    {
        while (size (mQueues[index]) > 0)
        {
            size_t before = size (mQueues[index]);
            EXPECT_EQ (MAMA_STATUS_OK, mamaQueue_dispatchEvent (mQueues[index]));
            if (mCorvexTransport->mSuspendedQueues == 0)
            {
                return before;
            }
        }
        return 0;
    }

    uint32_t vendorCalls (const char* operation) { return corvexClientTest_callCount (operation); }

    mamaTransport                   mTransport       = nullptr;
    CorvexTransportBridge*          mCorvexTransport = nullptr;
    std::vector<mamaQueue>          mQueues;
    std::vector<CorvexQueueBridge*> mQueueBridges;
};

class ResumeMarkTest : public FlowControlTest, public ::testing::WithParamInterface<std::tuple<uint64_t, uint64_t>>
{
};
} // namespace

TEST_P (ResumeMarkTest, SuspendsAtTheMaximumAndResumesAtTheMark)
{
    const uint64_t max  = std::get<0> (GetParam ());
    const uint64_t mark = std::get<1> (GetParam ());
    start (std::to_string (max).c_str ());
    size_t queue = addQueue ();

    fill (queue, max);
    EXPECT_EQ (0u, mCorvexTransport->mSuspendedQueues) << "the enqueue that finds M-1 events does nothing";
    fill (queue, 1);
    EXPECT_EQ (1u, mCorvexTransport->mSuspendedQueues);
    EXPECT_EQ (1u, vendorCalls ("corvexClient_session_suspend"));
    EXPECT_EQ (1u, LogCapture::count ("suspending the transport 't1'; cannot exceed maximum queue depth"));

    EXPECT_EQ (mark + 1, drainUntilResumed (queue));
    EXPECT_EQ (1u, vendorCalls ("corvexClient_session_resume"));
    EXPECT_EQ (1u, LogCapture::count ("resuming the transport 't1'; queue now has enough room to continue"));
}

INSTANTIATE_TEST_SUITE_P (Table, ResumeMarkTest,
                          ::testing::Values (std::make_tuple (1, 0), std::make_tuple (3, 2),
                                             std::make_tuple (1000, 666), std::make_tuple (1498, 998),
                                             std::make_tuple (1499, 999), std::make_tuple (1501, 1001),
                                             std::make_tuple (50000, 49500)),
                          [] (const ::testing::TestParamInfo<std::tuple<uint64_t, uint64_t>>& info) {
                              return "Max" + std::to_string (std::get<0> (info.param)) + "Resume"
                                   + std::to_string (std::get<1> (info.param));
                          });

TEST_F (FlowControlTest, TwoQueuesHoldOneSessionUntilBothDrain)
{
    start ("3");
    size_t first  = addQueue ();
    size_t second = addQueue ();
    fill (first, 4);
    fill (second, 4);
    EXPECT_EQ (2u, mCorvexTransport->mSuspendedQueues);
    EXPECT_EQ (1u, vendorCalls ("corvexClient_session_suspend"));

    drain (mQueues[first]);
    EXPECT_EQ (1u, mCorvexTransport->mSuspendedQueues);
    EXPECT_EQ (0u, vendorCalls ("corvexClient_session_resume"));

    drain (mQueues[second]);
    EXPECT_EQ (0u, mCorvexTransport->mSuspendedQueues);
    EXPECT_EQ (1u, vendorCalls ("corvexClient_session_resume"));
}

TEST_F (FlowControlTest, FailedVendorResumeKeepsTheSessionCounted)
{
    start ("3");
    size_t queue = addQueue ();
    fill (queue, 4);
    ASSERT_EQ (1u, mCorvexTransport->mSuspendedQueues);

    corvexClientTest_failNext ("corvexClient_session_resume", CORVEXCLIENT_FAIL,
                               CORVEXCLIENT_SUBCODE_INTERNAL_ERROR, "injected");
    drain (mQueues[queue]);
    EXPECT_EQ (1u, mCorvexTransport->mSuspendedQueues);
    EXPECT_EQ (0, mQueueBridges[queue]->mIsSuspended.load());
    EXPECT_EQ (1u, LogCapture::count ("could not resume the transport 't1'"));
    EXPECT_EQ (1u, LogCapture::count ("resuming a transport failed, marking queue as resumed anyway"));

    /* The transport's destroy resumes the session it still counts as suspended. */
    mamaTransport_destroy (mTransport);
    mTransport = nullptr;
    EXPECT_EQ (2u, vendorCalls ("corvexClient_session_resume"));
}

TEST_F (FlowControlTest, FailedVendorSuspendIsRetriedByTheNextEnqueue)
{
    start ("3");
    size_t queue = addQueue ();
    fill (queue, 3);
    corvexClientTest_failNext ("corvexClient_session_suspend", CORVEXCLIENT_FAIL,
                               CORVEXCLIENT_SUBCODE_INTERNAL_ERROR, "injected");
    fill (queue, 1);
    EXPECT_EQ (0u, mCorvexTransport->mSuspendedQueues);
    EXPECT_EQ (0, mQueueBridges[queue]->mIsSuspended.load());
    EXPECT_EQ (1u, LogCapture::count ("could not suspend the transport 't1'"));

    fill (queue, 1);
    EXPECT_EQ (1u, mCorvexTransport->mSuspendedQueues);
    EXPECT_EQ (2u, vendorCalls ("corvexClient_session_suspend"));
}

TEST_F (FlowControlTest, NothingIsSuspendedWithoutAsynchronousMode)
{
    start ("3", "false");
    size_t queue = addQueue ();
    fill (queue, 10);
    EXPECT_EQ (0u, mCorvexTransport->mSuspendedQueues);
    EXPECT_EQ (0u, vendorCalls ("corvexClient_session_suspend"));
}

TEST_F (FlowControlTest, QueueResumesOnlyTheTransportsItsSuspendHeld)
{
    start ("3");
    mamaTransport second = nullptr;
    mamaTransport_allocate (&second);
    ASSERT_EQ (MAMA_STATUS_OK, mamaTransport_create (second, "t2", mBridge));
    void* native = nullptr;
    ASSERT_EQ (MAMA_STATUS_OK, mamaTransport_getNativeTransport (second, 0, &native));
    CorvexTransportBridge* t2 = static_cast<CorvexTransportBridge*> (native);

    /* Queue A is fed by both transports; the first of its two suspends fails. */
    size_t a = addQueue ();
    wlock_lock (mQueueBridges[a]->mTransportsLock);
    (*mQueueBridges[a]->mTransports)[t2] = CorvexQueueFeed{1, false};
    wlock_unlock (mQueueBridges[a]->mTransportsLock);
    fill (a, 3);
    corvexClientTest_failNext ("corvexClient_session_suspend", CORVEXCLIENT_FAIL,
                               CORVEXCLIENT_SUBCODE_INTERNAL_ERROR, "injected");
    fill (a, 1);
    ASSERT_EQ (1, mQueueBridges[a]->mIsSuspended.load ());
    ASSERT_EQ (1u, mCorvexTransport->mSuspendedQueues + t2->mSuspendedQueues);
    CorvexTransportBridge* failed = mCorvexTransport->mSuspendedQueues == 0 ? mCorvexTransport : t2;

    /* Queue B, fed only by the transport A failed to suspend, fills and holds it. */
    size_t b = addQueue ();
    wlock_lock (mQueueBridges[b]->mTransportsLock);
    mQueueBridges[b]->mTransports->clear ();
    (*mQueueBridges[b]->mTransports)[failed] = CorvexQueueFeed{1, false};
    wlock_unlock (mQueueBridges[b]->mTransportsLock);
    fill (b, 4);
    ASSERT_EQ (1u, failed->mSuspendedQueues);

    /* A drains: it resumes the transport it held and leaves B's hold alone. */
    drain (mQueues[a]);
    EXPECT_EQ (0u, mCorvexTransport->mSuspendedQueues + t2->mSuspendedQueues - failed->mSuspendedQueues);
    EXPECT_EQ (1u, failed->mSuspendedQueues) << "B still holds it";
    EXPECT_EQ (1u, vendorCalls ("corvexClient_session_resume"));
    EXPECT_EQ (0u, LogCapture::count ("transport with no suspended queues being resumed"));

    drain (mQueues[b]);
    EXPECT_EQ (0u, failed->mSuspendedQueues);
    EXPECT_EQ (2u, vendorCalls ("corvexClient_session_resume"));

    for (CorvexQueueBridge* queue : mQueueBridges)
    {
        wlock_lock (queue->mTransportsLock);
        queue->mTransports->erase (t2);
        wlock_unlock (queue->mTransportsLock);
    }
    mamaTransport_destroy (second);
}
