/* Flow control between event queues and the sessions that feed them: a queue
 * at the maximum size suspends its transports, a drained queue resumes them,
 * and a transport suspends its session on the first queue and resumes it on
 * the last. The queue learns which transports feed it from subscriptions;
 * these tests enter that record directly. */
#include <atomic>
#include <string>
#include <thread>
#include <tuple>

#include <corvexClientTest.h>
#include <mama/mama.h>
#include <mama/transport.h>
#include <wombat/wlock.h>

#include "bridgeTest.h"
#include "flowControl.h"
#include "queue.h"
#include "transport.h"

namespace
{
void MAMACALLTYPE ignoreEvent(mamaQueue, void*) {}

class FlowControlTest : public BridgeTest
{
  protected:
    void start(const char* queueMaxSize, const char* subscribeAsync = nullptr)
    {
        openWithTransport(queueMaxSize, subscribeAsync);
        mCorvexTransport = static_cast<CorvexTransportBridge*>(nativeTransport());
        corvexClientTest_setRecording(1);
    }

    /* `quiet`, a transport without a session, and two queues fed by t1, the
     * first also by quiet. The first reaches the maximum while t1's vendor
     * suspend fails: it holds quiet only. */
    void startQuietHold(CorvexTransportBridge* quiet, size_t* first, size_t* second)
    {
        start("3");
        ASSERT_EQ(MAMA_STATUS_OK, corvexFlowControl_initTransport(&quiet->mFlowControl, "quiet"));
        *first = addQueue();
        setFeeding(mQueueBridges[*first], true, quiet);
        *second = addQueue();
        fill(*first, 3);
        corvexClientTest_failNext("corvexClient_session_suspend", CORVEXCLIENT_FAIL,
                                  CORVEXCLIENT_SUBCODE_INTERNAL_ERROR, "injected");
        fill(*first, 1);
    }

    void SetUp() override {}

    void TearDown() override
    {
        for (size_t i = 0; i < mQueues.size(); ++i)
        {
            setFeeding(mQueueBridges[i], false);
            drain(mQueues[i]);
            EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_destroy(mQueues[i]));
        }
        destroyTransport();
        BridgeTest::TearDown();
    }

    size_t addQueue()
    {
        mamaQueue queue = nullptr;
        EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_create(&queue, mBridge));
        void* native = nullptr;
        EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_getNativeHandle(queue, &native));
        mQueues.push_back(queue);
        mQueueBridges.push_back(static_cast<CorvexQueueBridge*>(native));
        setFeeding(mQueueBridges.back(), true);
        return mQueues.size() - 1;
    }

    /* What a subscription of the transport on the queue would record; the
     * end of feeding forgets every transport of the queue. */
    void setFeeding(CorvexQueueBridge* queue, bool feeding,
                    CorvexTransportBridge* transport = nullptr)
    {
        CorvexFlowControlQueue* flow = &queue->mFlowControl;
        wlock_lock(flow->mTransportsLock);
        if (feeding)
        {
            (*flow->mTransports)[&(transport != nullptr ? transport : mCorvexTransport)
                                      ->mFlowControl]
                .mSubscriptions = 1;
        }
        else
        {
            flow->mTransports->clear();
            flow->mIsSuspended = 0;
        }
        wlock_unlock(flow->mTransportsLock);
    }

    void fill(size_t index, size_t events)
    {
        for (size_t i = 0; i < events; ++i)
        {
            ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_enqueueEvent(mQueues[index], ignoreEvent, nullptr));
        }
    }

    static void drain(mamaQueue queue)
    {
        while (queuedEvents(queue) > 0)
        {
            ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_dispatchEvent(queue));
        }
    }

    /* Dispatches until the transport is no longer held; the queue size seen
     * by the dispatch that resumed it, or 0 when it never was. */
    size_t drainUntilResumed(size_t index)
    {
        while (queuedEvents(mQueues[index]) > 0)
        {
            size_t before = queuedEvents(mQueues[index]);
            EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_dispatchEvent(mQueues[index]));
            if (mCorvexTransport->mFlowControl.mSuspendedQueues == 0)
            {
                return before;
            }
        }
        return 0;
    }

    CorvexTransportBridge* mCorvexTransport = nullptr;
    std::vector<mamaQueue> mQueues;
    std::vector<CorvexQueueBridge*> mQueueBridges;
};

class ResumeMarkTest : public FlowControlTest,
                       public ::testing::WithParamInterface<std::tuple<uint64_t, uint64_t>>
{
};
} // namespace

TEST_P(ResumeMarkTest, SuspendsAtTheMaximumAndResumesAtTheMark)
{
    const uint64_t max = std::get<0>(GetParam());
    const uint64_t mark = std::get<1>(GetParam());
    start(std::to_string(max).c_str());
    size_t queue = addQueue();

    fill(queue, max);
    EXPECT_EQ(0u, mCorvexTransport->mFlowControl.mSuspendedQueues)
        << "the enqueue that finds M-1 events does nothing";
    fill(queue, 1);
    EXPECT_EQ(1u, mCorvexTransport->mFlowControl.mSuspendedQueues);
    EXPECT_EQ(1u, corvexClientTest_callCount("corvexClient_session_suspend"));
    EXPECT_EQ(
        1u, LogCapture::count("suspending the transport 't1'; cannot exceed maximum queue depth"));

    EXPECT_EQ(mark + 1, drainUntilResumed(queue));
    EXPECT_EQ(1u, corvexClientTest_callCount("corvexClient_session_resume"));
    EXPECT_EQ(1u, LogCapture::count(
                      "resuming the transport 't1'; queue now has enough room to continue"));
}

INSTANTIATE_TEST_SUITE_P(Table, ResumeMarkTest,
                         ::testing::Values(std::make_tuple(1, 0), std::make_tuple(3, 2),
                                           std::make_tuple(1000, 666), std::make_tuple(1498, 998),
                                           std::make_tuple(1499, 999), std::make_tuple(1501, 1001),
                                           std::make_tuple(50000, 49500)),
                         [](const ::testing::TestParamInfo<std::tuple<uint64_t, uint64_t>>& info)
                         {
                             return "Max" + std::to_string(std::get<0>(info.param)) + "Resume" +
                                    std::to_string(std::get<1>(info.param));
                         });

TEST_F(FlowControlTest, TwoQueuesHoldOneSessionUntilBothDrain)
{
    start("3");
    size_t first = addQueue();
    size_t second = addQueue();
    fill(first, 4);
    fill(second, 4);
    EXPECT_EQ(2u, mCorvexTransport->mFlowControl.mSuspendedQueues);
    EXPECT_EQ(1u, corvexClientTest_callCount("corvexClient_session_suspend"));

    drain(mQueues[first]);
    EXPECT_EQ(1u, mCorvexTransport->mFlowControl.mSuspendedQueues);
    EXPECT_EQ(0u, corvexClientTest_callCount("corvexClient_session_resume"));

    drain(mQueues[second]);
    EXPECT_EQ(0u, mCorvexTransport->mFlowControl.mSuspendedQueues);
    EXPECT_EQ(1u, corvexClientTest_callCount("corvexClient_session_resume"));
}

TEST_F(FlowControlTest, FailedVendorResumeKeepsTheSessionCounted)
{
    start("3");
    size_t queue = addQueue();
    fill(queue, 4);
    ASSERT_EQ(1u, mCorvexTransport->mFlowControl.mSuspendedQueues);

    corvexClientTest_failNext("corvexClient_session_resume", CORVEXCLIENT_FAIL,
                              CORVEXCLIENT_SUBCODE_INTERNAL_ERROR, "injected");
    drain(mQueues[queue]);
    EXPECT_EQ(1u, mCorvexTransport->mFlowControl.mSuspendedQueues);
    EXPECT_EQ(0, mQueueBridges[queue]->mFlowControl.mIsSuspended.load());
    EXPECT_EQ(1u, LogCapture::count("could not resume the transport 't1'"));
    EXPECT_EQ(1u,
              LogCapture::count("resuming a transport failed, marking queue as resumed anyway"));

    /* The transport's destroy resumes the session it still counts as suspended. */
    destroyTransport();
    EXPECT_EQ(2u, corvexClientTest_callCount("corvexClient_session_resume"));
}

TEST_F(FlowControlTest, FailedVendorSuspendIsRetriedByTheNextEnqueue)
{
    start("3");
    size_t queue = addQueue();
    fill(queue, 3);
    corvexClientTest_failNext("corvexClient_session_suspend", CORVEXCLIENT_FAIL,
                              CORVEXCLIENT_SUBCODE_INTERNAL_ERROR, "injected");
    fill(queue, 1);
    EXPECT_EQ(0u, mCorvexTransport->mFlowControl.mSuspendedQueues);
    EXPECT_EQ(0, mQueueBridges[queue]->mFlowControl.mIsSuspended.load());
    EXPECT_EQ(1u, LogCapture::count("could not suspend the transport 't1'"));

    fill(queue, 1);
    EXPECT_EQ(1u, mCorvexTransport->mFlowControl.mSuspendedQueues);
    EXPECT_EQ(2u, corvexClientTest_callCount("corvexClient_session_suspend"));
}

TEST_F(FlowControlTest, NothingIsSuspendedWithoutAsynchronousMode)
{
    start("3", "false");
    size_t queue = addQueue();
    fill(queue, 10);
    EXPECT_EQ(0u, mCorvexTransport->mFlowControl.mSuspendedQueues);
    EXPECT_EQ(0u, corvexClientTest_callCount("corvexClient_session_suspend"));
}

TEST_F(FlowControlTest, AQueueResumesOnlyTheTransportsItsSuspendHeld)
{
    /* The quiet transport's suspension only counts, so the one vendor
     * suspend of the first queue is t1's. */
    CorvexTransportBridge quiet = {};
    size_t first = 0;
    size_t second = 0;
    ASSERT_NO_FATAL_FAILURE(startQuietHold(&quiet, &first, &second));
    ASSERT_EQ(1, mQueueBridges[first]->mFlowControl.mIsSuspended.load())
        << "held by the quiet transport";
    ASSERT_EQ(0u, mCorvexTransport->mFlowControl.mSuspendedQueues);
    EXPECT_EQ(1u, quiet.mFlowControl.mSuspendedQueues);

    fill(second, 4);
    ASSERT_EQ(1u, mCorvexTransport->mFlowControl.mSuspendedQueues)
        << "held by the second queue only";
    EXPECT_EQ(2u, corvexClientTest_callCount("corvexClient_session_suspend"));

    /* The first queue drains: it lets go of what it holds, not of the hold
     * the second queue still owns on t1. */
    drain(mQueues[first]);
    EXPECT_EQ(0u, quiet.mFlowControl.mSuspendedQueues);
    EXPECT_EQ(1u, mCorvexTransport->mFlowControl.mSuspendedQueues);
    EXPECT_EQ(0u, corvexClientTest_callCount("corvexClient_session_resume"));
    EXPECT_EQ(0u, LogCapture::count("transport with no suspended queues being resumed"));
    EXPECT_EQ(0u, LogCapture::count("marking queue as resumed anyway"));

    drain(mQueues[second]);
    EXPECT_EQ(0u, mCorvexTransport->mFlowControl.mSuspendedQueues);
    EXPECT_EQ(1u, corvexClientTest_callCount("corvexClient_session_resume"));

    setFeeding(mQueueBridges[first], false);
    corvexFlowControl_destroyTransport(&quiet.mFlowControl);
}

TEST_F(FlowControlTest, ALastSubscriptionLeavingAQueueThatNeverHeldItResumesNothing)
{
    CorvexTransportBridge quiet = {};
    size_t first = 0;
    size_t second = 0;
    ASSERT_NO_FATAL_FAILURE(startQuietHold(&quiet, &first, &second));
    fill(second, 4);
    ASSERT_EQ(1u, mCorvexTransport->mFlowControl.mSuspendedQueues);

    /* t1's last subscription leaves the suspended first queue, which never
     * held it: the second queue's hold stays. */
    ASSERT_EQ(MAMA_STATUS_OK, corvexFlowControl_removeTransport(&mQueueBridges[first]->mFlowControl,
                                                                &mCorvexTransport->mFlowControl));
    EXPECT_EQ(1u, mCorvexTransport->mFlowControl.mSuspendedQueues);
    EXPECT_EQ(0u, corvexClientTest_callCount("corvexClient_session_resume"));

    drain(mQueues[first]);
    drain(mQueues[second]);
    EXPECT_EQ(0u, mCorvexTransport->mFlowControl.mSuspendedQueues);
    EXPECT_EQ(0u, quiet.mFlowControl.mSuspendedQueues);
    setFeeding(mQueueBridges[first], false);
    corvexFlowControl_destroyTransport(&quiet.mFlowControl);
}

/* A producer fills the queue while a dispatcher drains it: the flag the
 * enqueue path reads without a lock is written by the dispatching thread.
 * Every suspend is matched by one resume, and a drained queue holds
 * nothing. */
TEST_F(FlowControlTest, SuspendAndResumeStayPairedUnderConcurrentEnqueueAndDispatch)
{
    start("20");
    size_t queue = addQueue();
    const size_t total = 20000;
    std::atomic<bool> done(false);
    std::thread producer(
        [&]
        {
            for (size_t i = 0; i < total; ++i)
            {
                EXPECT_EQ(MAMA_STATUS_OK,
                          mamaQueue_enqueueEvent(mQueues[queue], ignoreEvent, nullptr));
            }
            done = true;
        });
    size_t dispatched = 0;
    while (!done || queuedEvents(mQueues[queue]) > 0)
    {
        if (mamaQueue_timedDispatch(mQueues[queue], 100) == MAMA_STATUS_OK)
        {
            ++dispatched;
        }
    }
    producer.join();

    EXPECT_EQ(total, dispatched);
    EXPECT_EQ(0, mQueueBridges[queue]->mFlowControl.mIsSuspended.load());
    EXPECT_EQ(0u, mCorvexTransport->mFlowControl.mSuspendedQueues);
    EXPECT_GT(corvexClientTest_callCount("corvexClient_session_suspend"), 0u);
    EXPECT_EQ(corvexClientTest_callCount("corvexClient_session_suspend"),
              corvexClientTest_callCount("corvexClient_session_resume"));
}
