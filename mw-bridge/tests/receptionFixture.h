/* A MAMA application on one corvex transport: queues dispatched on threads of
 * their own, subscriptions that record what they receive, a publisher, and
 * raw vendor messages sent on the transport's own session. */
#ifndef CORVEX_BRIDGE_TESTS_RECEPTIONFIXTURE_H
#define CORVEX_BRIDGE_TESTS_RECEPTIONFIXTURE_H

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <corvexClientTest.h>
#include <mama/mama.h>
#include <mama/transport.h>
#include <subscriptionimpl.h>

#include "bridgeFixture.h"
#include "transport.h"

/* What one subscription saw, in order; guarded for the test thread. */
struct Received
{
    std::mutex mLock;
    std::condition_variable mChanged;
    std::vector<int64_t> mSeqs;
    std::vector<std::string> mSubjects;
    std::vector<mama_status> mErrors;
    std::thread::id mThread;
    int mDestroyed = 0;
    /* Optional action run inside the message callback. */
    std::function<void(mamaMsg)> mOnMsg;

    void record(mamaMsg msg, const char* subject)
    {
        mama_i64_t seq = -1;
        mamaMsg_getI64(msg, "seq", 10001, &seq);
        if (mOnMsg)
        {
            mOnMsg(msg);
        }
        std::lock_guard<std::mutex> guard(mLock);
        mSeqs.push_back(seq);
        mSubjects.push_back(subject != nullptr ? subject : "");
        mThread = std::this_thread::get_id();
        mChanged.notify_all();
    }

    template <typename Predicate> bool waitUntil(Predicate predicate, int seconds = 10)
    {
        std::unique_lock<std::mutex> guard(mLock);
        return mChanged.wait_for(guard, std::chrono::seconds(seconds),
                                 [&] { return predicate(*this); });
    }

    bool waitForCount(size_t count, int seconds = 10)
    {
        return waitUntil([count](Received& r) { return r.mSeqs.size() >= count; }, seconds);
    }

    size_t count()
    {
        std::lock_guard<std::mutex> guard(mLock);
        return mSeqs.size();
    }
};

class ReceptionTest : public BridgeTest
{
  protected:
    void SetUp() override {}

    /* Properties are read when the bridge opens and the vendor starts. */
    void start(const char* queueMaxSize = nullptr, const char* subscribeAsync = nullptr)
    {
        if (queueMaxSize != nullptr)
        {
            mama_setProperty("mama.corvex.transport.queue_max_size", queueMaxSize);
        }
        if (subscribeAsync != nullptr)
        {
            mama_setProperty("mama.corvex.transport.subscribe_async", subscribeAsync);
        }
        mama_setProperty("mama.corvex.transport.t1.allow_recover_gaps", "true");
        BridgeTest::SetUp();
        mamaTransport_allocate(&mTransport);
        ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_create(mTransport, "t1", mBridge));
        void* native = nullptr;
        ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_getNativeTransport(mTransport, 0, &native));
        mCorvexTransport = static_cast<CorvexTransportBridge*>(native);
    }

    void TearDown() override
    {
        dispatchAll();
        for (mamaPublisher publisher : mPublishers)
        {
            mamaPublisher_destroy(publisher);
        }
        for (size_t i = 0; i < mSubscriptions.size(); ++i)
        {
            destroySubscription(i);
        }
        /* The transport goes first: its session's callbacks may still be
         * queueing transport events on these queues until it is destroyed;
         * events it left queued are dropped by the dispatch threads. */
        if (mTransport != nullptr)
        {
            mamaTransport_destroy(mTransport);
        }
        stopDispatching();
        for (mamaQueue queue : mQueues)
        {
            EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_destroy(queue));
        }
        BridgeTest::TearDown();
    }

    /* A queue; dispatched on a thread of its own unless `dispatched` is false. */
    mamaQueue addQueue(bool dispatched = true)
    {
        mamaQueue queue = nullptr;
        EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_create(&queue, mBridge));
        mQueues.push_back(queue);
        mDispatched.push_back(dispatched);
        if (dispatched)
        {
            mDispatchers.emplace_back(new DispatchThread(queue));
        }
        return queue;
    }

    /* Queues without a dispatch thread get one (destroy callbacks need it). */
    void dispatchAll()
    {
        for (size_t i = 0; i < mQueues.size(); ++i)
        {
            if (!mDispatched[i])
            {
                mDispatched[i] = true;
                mDispatchers.emplace_back(new DispatchThread(mQueues[i]));
            }
        }
    }

    /* A stop that comes before the dispatch loop has started is not seen by
     * it, so the stop is repeated until every loop has returned. */
    void stopDispatching()
    {
        for (auto& dispatcher : mDispatchers)
        {
            bool returned = false;
            for (int attempt = 0; attempt < 100 && !returned; ++attempt)
            {
                for (mamaQueue queue : mQueues)
                {
                    mamaQueue_stopDispatch(queue);
                }
                returned = dispatcher->waitReturned(std::chrono::milliseconds(100));
            }
            EXPECT_TRUE(returned);
        }
        mDispatchers.clear();
    }

    static void MAMACALLTYPE onCreate(mamaSubscription, void*) {}

    static void MAMACALLTYPE onError(mamaSubscription, mama_status status, void*, const char*,
                                     void* closure)
    {
        Received* received = static_cast<Received*>(closure);
        std::lock_guard<std::mutex> guard(received->mLock);
        received->mErrors.push_back(status);
        received->mChanged.notify_all();
    }

    static void MAMACALLTYPE onMsg(mamaSubscription, mamaMsg msg, void* closure, void*)
    {
        static_cast<Received*>(closure)->record(msg, nullptr);
    }

    static void MAMACALLTYPE onWildCardMsg(mamaSubscription, mamaMsg msg, const char* topic,
                                           void* closure, void*)
    {
        static_cast<Received*>(closure)->record(msg, topic);
    }

    static void MAMACALLTYPE onDestroy(mamaSubscription, void* closure)
    {
        Received* received = static_cast<Received*>(closure);
        std::lock_guard<std::mutex> guard(received->mLock);
        received->mDestroyed++;
        received->mThread = std::this_thread::get_id();
        received->mChanged.notify_all();
    }

    /* A basic subscription to `subject`, or a wildcard one to source.symbol. */
    Received& subscribe(mamaQueue queue, const char* subject, const char* wildcardSymbol = nullptr)
    {
        mReceived.emplace_back(new Received);
        Received* received = mReceived.back().get();
        mamaSubscription subscription = nullptr;
        EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_allocate(&subscription));
        if (wildcardSymbol == nullptr)
        {
            mamaMsgCallbacks callbacks;
            memset(&callbacks, 0, sizeof(callbacks));
            callbacks.onCreate = onCreate;
            callbacks.onError = onError;
            callbacks.onMsg = onMsg;
            callbacks.onDestroy = onDestroy;
            EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_createBasic(subscription, mTransport, queue,
                                                                   &callbacks, subject, received));
        }
        else
        {
            mamaWildCardMsgCallbacks callbacks;
            memset(&callbacks, 0, sizeof(callbacks));
            callbacks.onCreate = onCreate;
            callbacks.onError = onError;
            callbacks.onMsg = onWildCardMsg;
            callbacks.onDestroy = onDestroy;
            EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_createBasicWildCard(
                                          subscription, mTransport, queue, &callbacks, subject,
                                          wildcardSymbol, received));
        }
        mSubscriptions.push_back(subscription);
        return *received;
    }

    void destroySubscription(size_t index)
    {
        if (mSubscriptions[index] != nullptr)
        {
            mamaSubscription_destroy(mSubscriptions[index]);
            /* Freed once the bridge has reported the destroy. */
            mReceived[index]->waitUntil([](Received& r) { return r.mDestroyed > 0; });
            mamaSubscription_deallocate(mSubscriptions[index]);
            mSubscriptions[index] = nullptr;
        }
    }

    CorvexSubscription* corvexSubscription(size_t index)
    {
        return reinterpret_cast<CorvexSubscription*>(
            mamaSubscription_getSubscriptionBridge(mSubscriptions[index]));
    }

    mamaPublisher addPublisher(const char* subject)
    {
        mamaPublisher publisher = nullptr;
        EXPECT_EQ(MAMA_STATUS_OK,
                  mamaPublisher_create(&publisher, mTransport, subject, nullptr, nullptr));
        mPublishers.push_back(publisher);
        return publisher;
    }

    static void send(mamaPublisher publisher, int64_t seq)
    {
        mamaMsg msg = nullptr;
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_create(&msg));
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addI64(msg, "seq", 10001, seq));
        ASSERT_EQ(MAMA_STATUS_OK, mamaPublisher_send(publisher, msg));
        mamaMsg_destroy(msg);
    }

    /* A vendor message with this content, sent as is on a vendor topic. */
    void sendRaw(const char* topic, const void* content, uint32_t size)
    {
        corvexClient_msg_t msg = nullptr;
        ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_msg_alloc(&msg));
        ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_msg_setTopicPtr(msg, topic));
        if (content != nullptr)
        {
            ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_msg_setBinaryAttachmentPtr(msg, content, size));
        }
        ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_sendMsg(mCorvexTransport->mSession, msg));
        corvexClient_msg_free(&msg);
    }

    mamaTransport mTransport = nullptr;
    CorvexTransportBridge* mCorvexTransport = nullptr;
    std::vector<mamaQueue> mQueues;
    std::vector<bool> mDispatched;
    std::vector<std::unique_ptr<DispatchThread>> mDispatchers;
    std::vector<mamaSubscription> mSubscriptions;
    std::vector<std::unique_ptr<Received>> mReceived;
    std::vector<mamaPublisher> mPublishers;
};

#endif /* CORVEX_BRIDGE_TESTS_RECEPTIONFIXTURE_H */
