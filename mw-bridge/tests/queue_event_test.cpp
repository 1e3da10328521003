#include <stdint.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include <mama/mama.h>
#include <wombat/queue.h>

#include "bridgeTest.h"
#include "corvexBridge.h"
#include "msgBatch.h"
#include "queue.h"
#include "subscription.h"
#include "transport.h"

namespace
{
void MAMACALLTYPE countEvent(mamaQueue, void* closure)
{
    static_cast<std::atomic<int>*>(closure)->fetch_add(1);
}

struct WatermarkLog
{
    std::vector<size_t> mHigh;
    std::vector<size_t> mLow;
};

void MAMACALLTYPE onHigh(mamaQueue, size_t size, void* closure)
{
    static_cast<WatermarkLog*>(closure)->mHigh.push_back(size);
}

void MAMACALLTYPE onLow(mamaQueue, size_t size, void* closure)
{
    static_cast<WatermarkLog*>(closure)->mLow.push_back(size);
}

class QueueTest : public BridgeTest
{
  protected:
    void SetUp() override
    {
        BridgeTest::SetUp();
        ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_create(&mQueue, mBridge));
        void* native = nullptr;
        ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_getNativeHandle(mQueue, &native));
        mQueueBridge = static_cast<CorvexQueueBridge*>(native);
    }

    void TearDown() override
    {
        if (mQueue != nullptr)
        {
            EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_destroy(mQueue));
        }
        BridgeTest::TearDown();
    }

    void enqueue(int events)
    {
        for (int i = 0; i < events; i++)
        {
            ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_enqueueEvent(mQueue, countEvent, &mRun));
        }
    }

    /* The queue's watermark reports go to `log`. */
    void watchWatermarks(WatermarkLog& log, size_t high, size_t low)
    {
        mamaQueueMonitorCallbacks callbacks = {onHigh, onLow};
        ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_setQueueMonitorCallbacks(mQueue, &callbacks, &log));
        ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_setHighWatermark(mQueue, high));
        ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_setLowWatermark(mQueue, low));
    }

    /* Flow control on, suspending at `maxSize`, for a subscription of
     * `transport` on the queue; stopFlowControl takes it off again. */
    void startFlowControl(CorvexSubscription& subscription, CorvexTransportBridge* transport,
                          uint64_t maxSize)
    {
        subscription.mTransportBridge = transport;
        mQueueBridge->mBridge->mSubscribeAsync = 1;
        mQueueBridge->mBridge->mQueueMaxSize = maxSize;
        ASSERT_EQ(MAMA_STATUS_OK, corvexQueue_addSubscription(mQueueBridge, &subscription));
    }

    /* What a subscription's destroy does with its queue, both steps. */
    mama_status leaveQueue(CorvexSubscription* subscription)
    {
        mama_status status = corvexQueue_stopFeeding(mQueueBridge, subscription);
        if (status == MAMA_STATUS_OK)
        {
            corvexQueue_removeSubscription(mQueueBridge);
        }
        return status;
    }

    void stopFlowControl(CorvexSubscription& subscription)
    {
        ASSERT_EQ(MAMA_STATUS_OK, leaveQueue(&subscription));
        mQueueBridge->mBridge->mSubscribeAsync = 0;
    }

    mamaQueue mQueue = nullptr;
    CorvexQueueBridge* mQueueBridge = nullptr;
    std::atomic<int> mRun{0};
};
} // namespace

TEST_F(QueueTest, WatermarksReportHighOnceThenLowOnlyAtTheExactMark)
{
    WatermarkLog log;
    watchWatermarks(log, 10, 5);

    enqueue(9);
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_dispatchEvent(mQueue));
    EXPECT_TRUE(log.mHigh.empty()) << "9 events are below the high mark";

    enqueue(4); // 12 pending
    for (int i = 0; i < 12; i++)
    {
        ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_dispatchEvent(mQueue));
    }
    EXPECT_EQ(std::vector<size_t>({12}), log.mHigh);
    EXPECT_EQ(std::vector<size_t>({5}), log.mLow);
    EXPECT_EQ(13, mRun.load());
}

TEST_F(QueueTest, LowWatermarkWaitsForTheExactCount)
{
    WatermarkLog log;
    watchWatermarks(log, 10, 5);

    enqueue(10);
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_dispatchEvent(mQueue)); // high at 10
    for (int i = 0; i < 4; i++)
    {
        ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_dispatchEvent(mQueue)); // checks at 9..6
    }
    EXPECT_TRUE(log.mLow.empty());

    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_dispatchEvent(mQueue)); // check at exactly 5
    EXPECT_EQ(std::vector<size_t>({10}), log.mHigh);
    EXPECT_EQ(std::vector<size_t>({5}), log.mLow);
}

TEST_F(QueueTest, WatermarkOfZeroIsRefused)
{
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, corvexBridgeMamaQueue_setHighWatermark(mQueueBridge, 0));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, corvexBridgeMamaQueue_setLowWatermark(mQueueBridge, 0));
    EXPECT_EQ(MAMA_STATUS_OK, corvexBridgeMamaQueue_setHighWatermark(mQueueBridge, 7));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, corvexBridgeMamaQueue_setHighWatermark(mQueueBridge, 0));
    EXPECT_EQ(7u, mQueueBridge->mHighWatermark);
}

TEST_F(QueueTest, TimedDispatchOnAnEmptyQueueTimesOutWithoutLogging)
{
    const size_t linesBefore = LogCapture::matching("CORVEX-MW-Bridge").size();
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(MAMA_STATUS_TIMEOUT, mamaQueue_timedDispatch(mQueue, 50));
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(40));
    EXPECT_EQ(linesBefore, LogCapture::matching("CORVEX-MW-Bridge").size());

    enqueue(1);
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_timedDispatch(mQueue, 50));
    EXPECT_EQ(1, mRun.load());
}

TEST_F(QueueTest, DestroyIsRefusedWhileSubscriptionsAreRegistered)
{
    CorvexTransportBridge* transport = reinterpret_cast<CorvexTransportBridge*>(0x1000);
    CorvexSubscription first = {};
    CorvexSubscription second = {};
    first.mTransportBridge = transport;
    second.mTransportBridge = transport;
    ASSERT_EQ(MAMA_STATUS_OK, corvexQueue_addSubscription(mQueueBridge, &first));
    ASSERT_EQ(MAMA_STATUS_OK, corvexQueue_addSubscription(mQueueBridge, &second));
    ASSERT_EQ(1u, mQueueBridge->mFlowControl.mTransports->size());
    EXPECT_EQ(2u,
              mQueueBridge->mFlowControl.mTransports->at(&transport->mFlowControl).mSubscriptions);

    EXPECT_EQ(MAMA_STATUS_INVALID_ARG, corvexBridgeMamaQueue_destroy(mQueueBridge));
    EXPECT_EQ(1u, LogCapture::count("it still has 2 subscriptions."));

    // Still a working queue.
    enqueue(1);
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_dispatchEvent(mQueue));
    EXPECT_EQ(1, mRun.load());

    ASSERT_EQ(MAMA_STATUS_OK, leaveQueue(&first));
    EXPECT_EQ(1u, mQueueBridge->mFlowControl.mTransports->size())
        << "one subscription still uses the transport";
    ASSERT_EQ(MAMA_STATUS_OK, leaveQueue(&second));
    EXPECT_TRUE(mQueueBridge->mFlowControl.mTransports->empty());

    second.mTopic = const_cast<char*>("NYSE/IBM");
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG, leaveQueue(&second));
    EXPECT_EQ(1u, LogCapture::count("Attempted to remove subscription 'NYSE/IBM' not on queue"));
    // TearDown destroys the queue, which is allowed again.
}

TEST_F(QueueTest, FlowControlStaysOffUntilVendorInitialisation)
{
    ASSERT_EQ(0, mQueueBridge->mBridge->mSubscribeAsync.load());
    EXPECT_FALSE(corvexQueue_isSubscribeAsync(mQueueBridge));
    EXPECT_FALSE(corvexQueue_isSubscribeAsync(nullptr));

    CorvexSubscription subscription = {};
    subscription.mTransportBridge = reinterpret_cast<CorvexTransportBridge*>(0x1000);
    ASSERT_EQ(MAMA_STATUS_OK, corvexQueue_addSubscription(mQueueBridge, &subscription));
    mQueueBridge->mBridge->mQueueMaxSize = 1;
    enqueue(3); // far above the maximum, but nothing may be suspended
    EXPECT_EQ(0, mQueueBridge->mFlowControl.mIsSuspended.load());
    ASSERT_EQ(MAMA_STATUS_OK, leaveQueue(&subscription));
}

TEST_F(QueueTest, EnqueueCallbackRunsEvenWhenTheHostQueueRefuses)
{
    // A host queue of at most 64 events refuses the 65th at once.
    wombatQueue native = nullptr;
    ASSERT_EQ(WOMBAT_QUEUE_OK, wombatQueue_allocate(&native));
    ASSERT_EQ(WOMBAT_QUEUE_OK, wombatQueue_create(native, 64, 64, 64));
    mamaQueue small = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_create_usingNative(&small, mBridge, native));

    std::atomic<int> notified{0};
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_setEnqueueCallback(small, countEvent, &notified));
    for (int i = 0; i < 64; i++)
    {
        ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_enqueueEvent(small, countEvent, &mRun));
    }
    EXPECT_EQ(MAMA_STATUS_PLATFORM, mamaQueue_enqueueEvent(small, countEvent, &mRun));
    EXPECT_EQ(65, notified.load());
    EXPECT_EQ(1u, LogCapture::count("corvexBridgeMamaQueue_enqueueEvent(): failed to enqueue: 2;"));

    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_removeEnqueueCallback(small));
    while (mamaQueue_timedDispatch(small, 0) == MAMA_STATUS_OK)
    {
    }
    EXPECT_EQ(64, mRun.load());
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_enqueueEvent(small, countEvent, &mRun));
    EXPECT_EQ(65, notified.load()) << "removed callback must not run";
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_destroy(small));
}

TEST_F(QueueTest, DispatchRunsEventsFromSeveralProducersAndReturnsPromptlyAfterStop)
{
    DispatchThread dispatcher(mQueue);
    const int perProducer = 2000;
    std::thread first([this] { enqueue(perProducer); });
    std::thread second([this] { enqueue(perProducer); });
    first.join();
    second.join();

    Signal drained;
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_enqueueEvent(mQueue, raiseSignal, &drained));
    ASSERT_TRUE(drained.wait());
    EXPECT_EQ(2 * perProducer, mRun.load());

    auto stopped = std::chrono::steady_clock::now();
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_stopDispatch(mQueue));
    ASSERT_TRUE(dispatcher.waitReturned(std::chrono::milliseconds(2000)));
    EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::milliseconds(500));
    EXPECT_EQ(MAMA_STATUS_OK, dispatcher.status());
}

TEST_F(QueueTest, IdleDispatchLoopReturnsAtOnceWhenTheHostStopsDispatching)
{
    // A loop asleep on an empty queue is woken by the stop.
    DispatchThread dispatcher(mQueue);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    auto started = std::chrono::steady_clock::now();
    ASSERT_TRUE(dispatcher.stop({mQueue}));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(400))
        << "sooner than the loop's periodic wake";

    // A loop started after the stop (its wake-up used up) sees the cleared
    // flag without waiting for an event.
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_stopDispatch(mQueue));
    ASSERT_EQ(MAMA_STATUS_OK, corvexBridgeMamaQueue_timedDispatch(mQueueBridge, 0));
    started = std::chrono::steady_clock::now();
    EXPECT_EQ(MAMA_STATUS_OK, corvexBridgeMamaQueue_dispatch(mQueueBridge));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(400));
}

namespace
{
/* A transport without a session: the counted suspension works on it while
 * no vendor call is made. */
struct FakeTransport
{
    FakeTransport(const char* name)
    {
        corvexFlowControl_initTransport(&mTransport.mFlowControl, name);
    }
    ~FakeTransport()
    {
        corvexFlowControl_destroyTransport(&mTransport.mFlowControl);
    }

    CorvexTransportBridge mTransport = {};
};
} // namespace

TEST_F(QueueTest, SuspendedQueueHoldsExactlyTheTransportsRegisteredOnIt)
{
    FakeTransport first("first");
    FakeTransport second("second");
    CorvexSubscription onFirst = {};
    CorvexSubscription onSecond = {};
    onSecond.mTransportBridge = &second.mTransport;
    startFlowControl(onFirst, &first.mTransport, 3); // resume mark 2

    enqueue(3);
    EXPECT_EQ(0, mQueueBridge->mFlowControl.mIsSuspended.load())
        << "the event being enqueued does not count";
    enqueue(1); // finds 3 queued
    EXPECT_EQ(1, mQueueBridge->mFlowControl.mIsSuspended.load());
    EXPECT_EQ(1u, first.mTransport.mFlowControl.mSuspendedQueues);

    // A transport that joins the suspended queue is held at once.
    ASSERT_EQ(MAMA_STATUS_OK, corvexQueue_addSubscription(mQueueBridge, &onSecond));
    EXPECT_EQ(1u, second.mTransport.mFlowControl.mSuspendedQueues);
    // ... and released as soon as its last subscription leaves, queue still full.
    ASSERT_EQ(MAMA_STATUS_OK, leaveQueue(&onSecond));
    EXPECT_EQ(0u, second.mTransport.mFlowControl.mSuspendedQueues);

    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_dispatchEvent(mQueue)); // check at 4: 3 > 2
    EXPECT_EQ(1, mQueueBridge->mFlowControl.mIsSuspended.load());
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_dispatchEvent(mQueue)); // check at 3: 2 <= 2
    EXPECT_EQ(0, mQueueBridge->mFlowControl.mIsSuspended.load());
    EXPECT_EQ(0u, first.mTransport.mFlowControl.mSuspendedQueues);
    stopFlowControl(onFirst);
}

TEST_F(QueueTest, SuspendedQueueWithoutTransportsResumesWithoutCallingAny)
{
    FakeTransport only("only");
    CorvexSubscription subscription = {};
    startFlowControl(subscription, &only.mTransport, 1); // resume mark 0
    enqueue(2);
    ASSERT_EQ(1, mQueueBridge->mFlowControl.mIsSuspended.load());
    ASSERT_EQ(MAMA_STATUS_OK, leaveQueue(&subscription));
    EXPECT_EQ(0u, only.mTransport.mFlowControl.mSuspendedQueues);
    EXPECT_EQ(1, mQueueBridge->mFlowControl.mIsSuspended.load());

    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_dispatchEvent(mQueue)); // check at 2: 1 > 0
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_dispatchEvent(mQueue)); // check at 1: 0 <= 0
    EXPECT_EQ(0, mQueueBridge->mFlowControl.mIsSuspended.load());
    EXPECT_EQ(0u, LogCapture::count("transport with no suspended queues"));
    mQueueBridge->mBridge->mSubscribeAsync = 0;
}

namespace
{
/* What the queue delivered, in order: received messages by their tag
 * (carried in the node's subscription field, never read as one), other
 * events by the negative tag of their closure. */
struct DeliveryLog
{
    std::mutex mLock;
    std::vector<int64_t> mOrder;
    /* Optional action before each message is recorded. */
    std::function<void(int64_t)> mOnMsg;

    void add(int64_t tag)
    {
        std::lock_guard<std::mutex> guard(mLock);
        mOrder.push_back(tag);
    }

    std::vector<int64_t> order()
    {
        std::lock_guard<std::mutex> guard(mLock);
        return mOrder;
    }
};

DeliveryLog* gLog = nullptr;

void MAMACALLTYPE recordMsg(mamaQueue, void* closure)
{
    CorvexMsgNode* node = static_cast<CorvexMsgNode*>(closure);
    int64_t tag = (int64_t) reinterpret_cast<intptr_t>(node->mSubscription);
    corvexMsgNode_release(node);
    if (gLog->mOnMsg)
    {
        gLog->mOnMsg(tag);
    }
    gLog->add(tag);
}

void MAMACALLTYPE recordEvent(mamaQueue, void* closure)
{
    gLog->add(-(int64_t) reinterpret_cast<intptr_t>(closure));
}

class BatchTest : public QueueTest
{
  protected:
    void SetUp() override
    {
        QueueTest::SetUp();
        gLog = &mLog;
    }

    void TearDown() override
    {
        QueueTest::TearDown();
        gLog = nullptr;
    }

    /* A received message as the vendor thread queues it; `withMsg` gives it
     * a vendor message that the queue must give back. */
    mama_status queueMsg(int64_t tag, mamaQueue queue = nullptr, bool withMsg = false)
    {
        corvexClient_msg_t msg = nullptr;
        if (withMsg && corvexClient_msg_alloc(&msg) != CORVEXCLIENT_OK)
        {
            return MAMA_STATUS_NOMEM;
        }
        mama_status status = corvexQueue_enqueueMsg(
            bridgeOf(queue), recordMsg, msg, reinterpret_cast<CorvexSubscription*>((intptr_t)tag));
        if (status != MAMA_STATUS_OK && msg != nullptr)
        {
            corvexClient_msg_free(&msg);
        }
        return status;
    }

    void queueMsgs(int64_t first, int64_t last)
    {
        for (int64_t tag = first; tag <= last; ++tag)
        {
            ASSERT_EQ(MAMA_STATUS_OK, queueMsg(tag));
        }
    }

    mama_status queueEvent(int64_t tag, mamaQueue queue = nullptr)
    {
        return mamaQueue_enqueueEvent(queue != nullptr ? queue : mQueue, recordEvent,
                                      reinterpret_cast<void*>((intptr_t)tag));
    }

    CorvexQueueBridge* bridgeOf(mamaQueue queue)
    {
        if (queue == nullptr)
        {
            return mQueueBridge;
        }
        void* native = nullptr;
        mamaQueue_getNativeHandle(queue, &native);
        return static_cast<CorvexQueueBridge*>(native);
    }

    size_t eventCount()
    {
        size_t count = 0;
        EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_getEventCount(mQueue, &count));
        return count;
    }

    int hostEvents()
    {
        int size = -1;
        wombatQueue_getSize(mQueueBridge->mQueue, &size);
        return size;
    }

    DeliveryLog mLog;
};

std::vector<int64_t> range(int64_t first, int64_t last)
{
    std::vector<int64_t> tags;
    for (int64_t tag = first; tag <= last; ++tag)
    {
        tags.push_back(tag);
    }
    return tags;
}
} // namespace

TEST_F(BatchTest, ConsecutiveMessagesShareOneEventAndKeepTheirPlaceAroundOtherEvents)
{
    for (int64_t tag : {1, 2, 3})
    {
        ASSERT_EQ(MAMA_STATUS_OK, queueMsg(tag));
    }
    ASSERT_EQ(MAMA_STATUS_OK, queueEvent(10));
    ASSERT_EQ(MAMA_STATUS_OK, queueMsg(4));
    ASSERT_EQ(MAMA_STATUS_OK, queueMsg(5));

    EXPECT_EQ(3, hostEvents()) << "a batch, the event, a second batch";
    EXPECT_EQ(6u, eventCount()) << "each message counts as an event";

    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_dispatchEvent(mQueue));
    EXPECT_EQ(range(1, 3), mLog.order());
    EXPECT_EQ(3u, eventCount());
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_dispatchEvent(mQueue));
    EXPECT_EQ(2u, eventCount());
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_dispatchEvent(mQueue));
    EXPECT_EQ(std::vector<int64_t>({1, 2, 3, -10, 4, 5}), mLog.order());
    EXPECT_EQ(0u, eventCount());
    EXPECT_EQ(0, hostEvents());
}

TEST_F(BatchTest, AQueueWithAnEnqueueCallbackKeepsOneEventPerMessage)
{
    ASSERT_EQ(MAMA_STATUS_OK, queueMsg(1)); // an open batch, before the callback is set
    std::atomic<int> notified{0};
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_setEnqueueCallback(mQueue, countEvent, &notified));
    for (int64_t tag : {2, 3, 4})
    {
        ASSERT_EQ(MAMA_STATUS_OK, queueMsg(tag));
    }
    EXPECT_EQ(4, hostEvents());
    EXPECT_EQ(3, notified.load()) << "one call per message";
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_dispatchEvent(mQueue));
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_dispatchEvent(mQueue));
    EXPECT_EQ(range(1, 2), mLog.order()) << "one message per dispatched event";

    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_removeEnqueueCallback(mQueue));
    ASSERT_EQ(MAMA_STATUS_OK, queueMsg(5)); // a new open batch
    ASSERT_EQ(MAMA_STATUS_OK, queueMsg(6));
    EXPECT_EQ(3, hostEvents());
    while (mamaQueue_timedDispatch(mQueue, 0) == MAMA_STATUS_OK)
    {
    }
    EXPECT_EQ(range(1, 6), mLog.order());
}

TEST_F(BatchTest, ABatchHoldsAtMostItsLimitAndOneDispatchRunsOneBatch)
{
    for (int64_t tag = 1; tag <= 600; ++tag)
    {
        ASSERT_EQ(MAMA_STATUS_OK, queueMsg(tag));
    }
    EXPECT_EQ(3, hostEvents()) << "256 + 256 + 88";
    EXPECT_EQ(600u, eventCount());

    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_timedDispatch(mQueue, 0));
    EXPECT_EQ(range(1, 256), mLog.order());
    EXPECT_EQ(344u, eventCount());

    // A message queued now joins the last batch, which is still open.
    ASSERT_EQ(MAMA_STATUS_OK, queueMsg(601));
    EXPECT_EQ(2, hostEvents());
    while (mamaQueue_timedDispatch(mQueue, 0) == MAMA_STATUS_OK)
    {
    }
    EXPECT_EQ(range(1, 601), mLog.order());
    EXPECT_EQ(0u, eventCount());
}

TEST_F(BatchTest, ARunningBatchTakesMessagesUntilItCatchesUpOrAnEventIsQueued)
{
    // Messages queued while a batch is delivered join it: one host event
    // serves a stream the dispatcher keeps up with.
    mLog.mOnMsg = [this](int64_t tag)
    {
        if (tag <= 3)
        {
            ASSERT_EQ(MAMA_STATUS_OK, queueMsg(tag + 100));
        }
        if (tag == 103)
        {
            ASSERT_EQ(MAMA_STATUS_OK, queueEvent(10));
            ASSERT_EQ(MAMA_STATUS_OK, queueMsg(200));
        }
    };
    ASSERT_EQ(MAMA_STATUS_OK, queueMsg(1));
    ASSERT_EQ(MAMA_STATUS_OK, queueMsg(2));
    ASSERT_EQ(MAMA_STATUS_OK, queueMsg(3));
    ASSERT_EQ(1, hostEvents());
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_dispatchEvent(mQueue));
    EXPECT_EQ(std::vector<int64_t>({1, 2, 3, 101, 102, 103}), mLog.order());
    EXPECT_EQ(2, hostEvents()) << "the event, then a batch of its own for 200";
    while (mamaQueue_timedDispatch(mQueue, 0) == MAMA_STATUS_OK)
    {
    }
    EXPECT_EQ(std::vector<int64_t>({1, 2, 3, 101, 102, 103, -10, 200}), mLog.order());
    EXPECT_EQ(0u, eventCount());

    // A batch that caught up is closed: the next message has an event of its own.
    ASSERT_EQ(MAMA_STATUS_OK, queueMsg(300));
    EXPECT_EQ(1, hostEvents());
}

TEST_F(BatchTest, BlocksOfMessagesAreReusedAcrossManyBatches)
{
    // Many thousands of messages through batches of every length, crossing
    // block boundaries at every offset; every message once, in order, and
    // the queue keeps only the blocks its deepest backlog needed.
    int64_t tag = 0;
    for (int round = 1; round <= 300; ++round)
    {
        for (int i = 0; i < round; ++i)
        {
            ASSERT_EQ(MAMA_STATUS_OK, queueMsg(++tag, nullptr, true));
        }
        while (mamaQueue_timedDispatch(mQueue, 0) == MAMA_STATUS_OK)
        {
        }
    }
    EXPECT_EQ(range(1, tag), mLog.order());
    EXPECT_EQ(0u, eventCount());
    EXPECT_LE(mQueueBridge->mMsgs.mBlocks.size(), 3u);
}

TEST_F(BatchTest, QueueDestroyReleasesMessagesWhoseBatchNeverRan)
{
    mamaQueue other = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_create(&other, mBridge));
    for (int64_t tag : {1, 2, 3})
    {
        ASSERT_EQ(MAMA_STATUS_OK, queueMsg(tag, other, true));
    }
    ASSERT_EQ(MAMA_STATUS_OK, queueEvent(10, other));
    ASSERT_EQ(MAMA_STATUS_OK, queueMsg(4, other, true));
    // Leak checks find the vendor messages if the destroy does not free them.
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_destroy(other));
    EXPECT_TRUE(mLog.order().empty()) << "nothing is delivered by a destroy";
}

TEST_F(BatchTest, ProducersKeepTheirOrderOfMessagesAndEventsUnderConcurrentDispatch)
{
    DispatchThread dispatcher(mQueue);
    const int64_t perProducer = 20000;
    const int64_t secondBase = 1000000;
    // The first mixes messages with an event now and then, the second sends
    // messages only, both while the queue is being drained.
    std::thread first(
        [this]
        {
            for (int64_t tag = 1; tag <= perProducer; ++tag)
            {
                ASSERT_EQ(MAMA_STATUS_OK, tag % 7 == 0 ? queueEvent(tag) : queueMsg(tag));
            }
        });
    std::thread second(
        [this]
        {
            for (int64_t tag = 1; tag <= perProducer; ++tag)
            {
                ASSERT_EQ(MAMA_STATUS_OK, queueMsg(secondBase + tag));
            }
        });
    first.join();
    second.join();
    Signal drained;
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_enqueueEvent(mQueue, raiseSignal, &drained));
    ASSERT_TRUE(drained.wait(std::chrono::milliseconds(30000)));
    EXPECT_EQ(0u, eventCount());
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_stopDispatch(mQueue));
    ASSERT_TRUE(dispatcher.waitReturned(std::chrono::milliseconds(2000)));

    std::vector<int64_t> fromFirst;
    std::vector<int64_t> fromSecond;
    for (int64_t tag : mLog.order())
    {
        if (tag > secondBase)
        {
            fromSecond.push_back(tag - secondBase);
        }
        else
        {
            fromFirst.push_back(tag < 0 ? -tag : tag);
        }
    }
    EXPECT_EQ(range(1, perProducer), fromFirst);
    EXPECT_EQ(range(1, perProducer), fromSecond);
}

TEST_F(BatchTest, WatermarksAndFlowControlSeeABatchDrainMessageByMessage)
{
    WatermarkLog marks;
    watchWatermarks(marks, 10, 5);
    queueMsgs(1, 12);
    ASSERT_EQ(1, hostEvents());
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_dispatchEvent(mQueue));
    EXPECT_EQ(range(1, 12), mLog.order());
    EXPECT_EQ(std::vector<size_t>({12}), marks.mHigh);
    EXPECT_EQ(std::vector<size_t>({5}), marks.mLow) << "checked before the 8th message";

    FakeTransport transport("t");
    CorvexSubscription subscription = {};
    startFlowControl(subscription, &transport.mTransport, 3); // resume mark 2
    std::vector<int> suspendedAt;
    mLog.mOnMsg = [this, &suspendedAt](int64_t)
    { suspendedAt.push_back(mQueueBridge->mFlowControl.mIsSuspended.load()); };
    for (int64_t tag = 13; tag <= 15; ++tag)
    {
        ASSERT_EQ(MAMA_STATUS_OK, queueMsg(tag));
    }
    EXPECT_EQ(0, mQueueBridge->mFlowControl.mIsSuspended.load())
        << "the message being queued does not count";
    ASSERT_EQ(MAMA_STATUS_OK, queueMsg(16)); // finds 3 queued
    EXPECT_EQ(1, mQueueBridge->mFlowControl.mIsSuspended.load());
    EXPECT_EQ(1u, transport.mTransport.mFlowControl.mSuspendedQueues);

    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_dispatchEvent(mQueue));
    // Checks at 4 (3 > 2) before the first message, at 3 (2 <= 2) before the second.
    EXPECT_EQ(std::vector<int>({1, 0, 0, 0}), suspendedAt);
    EXPECT_EQ(0u, transport.mTransport.mFlowControl.mSuspendedQueues);
    stopFlowControl(subscription);
}

TEST_F(BatchTest, MessagesQueuedDuringADrainMoveTheLowWatermarkToTheirExactCount)
{
    WatermarkLog marks;
    watchWatermarks(marks, 10, 5);
    queueMsgs(1, 12);
    // Ten more arrive while the second is delivered: the count the dispatch
    // thread saw at the first check is stale from then on.
    std::vector<size_t> lowsBefore;
    mLog.mOnMsg = [this, &marks, &lowsBefore](int64_t tag)
    {
        lowsBefore.push_back(marks.mLow.size());
        if (tag == 2)
        {
            queueMsgs(13, 22);
        }
    };
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_dispatchEvent(mQueue));
    EXPECT_EQ(range(1, 22), mLog.order());
    EXPECT_EQ(std::vector<size_t>({12}), marks.mHigh);
    EXPECT_EQ(std::vector<size_t>({5}), marks.mLow);
    // 22 queued, so 5 remain when the 18th is about to go, not the 8th.
    ASSERT_EQ(22u, lowsBefore.size());
    EXPECT_EQ(0u, lowsBefore[16]);
    EXPECT_EQ(1u, lowsBefore[17]);
}

TEST_F(BatchTest, ASuspendCheckFacingANewerCopyOfTheDeliveredCountStillSuspendsAFullQueue)
{
    FakeTransport transport("t");
    CorvexSubscription subscription = {};
    startFlowControl(subscription, &transport.mTransport, 3);
    ASSERT_EQ(MAMA_STATUS_OK, queueEvent(10));
    ASSERT_EQ(MAMA_STATUS_OK, queueMsg(1));
    ASSERT_EQ(MAMA_STATUS_OK, queueMsg(2));
    EXPECT_EQ(0, mQueueBridge->mFlowControl.mIsSuspended.load());
    // As a copy taken on another thread may be: newer than the queued count
    // this thread sees. The event and the two messages fill the queue.
    mQueueBridge->mMsgs.mDeliveredSeen.store(mQueueBridge->mMsgs.mQueued.load() + 1);
    ASSERT_EQ(MAMA_STATUS_OK, queueMsg(3));
    EXPECT_EQ(1, mQueueBridge->mFlowControl.mIsSuspended.load());

    while (hostEvents() > 0)
    {
        ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_dispatchEvent(mQueue));
    }
    EXPECT_EQ(std::vector<int64_t>({-10, 1, 2, 3}), mLog.order());
    EXPECT_EQ(0, mQueueBridge->mFlowControl.mIsSuspended.load());
    stopFlowControl(subscription);
}
