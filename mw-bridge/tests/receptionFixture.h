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

#include "bridgeTest.h"
#include "msgRecorder.h"
#include "transport.h"

class ReceptionTest : public BridgeTest
{
  protected:
    void SetUp() override {}

    /* Properties are read when the bridge opens and the vendor starts. */
    void start(const char* queueMaxSize = nullptr, const char* subscribeAsync = nullptr)
    {
        openWithTransport(queueMaxSize, subscribeAsync);
        mCorvexTransport = static_cast<CorvexTransportBridge*>(nativeTransport());
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
        destroyTransport();
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

    void stopDispatching()
    {
        for (auto& dispatcher : mDispatchers)
        {
            EXPECT_TRUE(dispatcher->stop(mQueues));
        }
        mDispatchers.clear();
    }

    /* A basic subscription to `subject`, or a wildcard one to source.symbol. */
    MsgRecorder& subscribe(mamaQueue queue, const char* subject,
                           const char* wildcardSymbol = nullptr)
    {
        mReceived.emplace_back(new MsgRecorder);
        MsgRecorder* received = mReceived.back().get();
        mamaSubscription subscription = nullptr;
        EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_allocate(&subscription));
        if (wildcardSymbol == nullptr)
        {
            mamaMsgCallbacks callbacks = MsgRecorder::callbacks();
            EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_createBasic(subscription, mTransport, queue,
                                                                   &callbacks, subject, received));
        }
        else
        {
            mamaWildCardMsgCallbacks callbacks = MsgRecorder::wildCardCallbacks();
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
            mReceived[index]->waitUntil([](MsgRecorder& r) { return r.mDestroys > 0; });
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
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addI64(msg, TEST_SEQ_NAME, TEST_SEQ_FID, seq));
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

    CorvexTransportBridge* mCorvexTransport = nullptr;
    std::vector<mamaQueue> mQueues;
    std::vector<bool> mDispatched;
    std::vector<std::unique_ptr<DispatchThread>> mDispatchers;
    std::vector<mamaSubscription> mSubscriptions;
    std::vector<std::unique_ptr<MsgRecorder>> mReceived;
    std::vector<mamaPublisher> mPublishers;
};

#endif /* CORVEX_BRIDGE_TESTS_RECEPTIONFIXTURE_H */
