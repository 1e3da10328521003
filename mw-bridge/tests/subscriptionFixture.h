/* Shared by the subscription tests: one transport "t1" on the embedded
 * router, an event queue of the test's own, and an application that records
 * what its subscription callbacks see. */
#ifndef CORVEX_BRIDGE_TESTS_SUBSCRIPTIONFIXTURE_H
#define CORVEX_BRIDGE_TESTS_SUBSCRIPTIONFIXTURE_H

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <corvexClientTest.h>
#include <mama/mama.h>
#include <mama/publisher.h>
#include <mama/subscription.h>
#include <mama/transport.h>
#include <bridge.h>
#include <subscriptionimpl.h>

#include "bridgeTest.h"
#include "msgRecorder.h"
#include "subscription.h"

class SubscriptionTest : public BridgeTest
{
  protected:
    void SetUp() override {}

    /* subscribeAsync: value of "mama.corvex.transport.subscribe_async", or
     * nullptr for the default (on). */
    void start(const char* subscribeAsync = nullptr)
    {
        openWithTransport(nullptr, subscribeAsync);
        ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_create(&mQueue, mBridge));
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_create(&mMsg));
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addI32(mMsg, "seq", 10, 0));
        corvexClientTest_setRecording(1);
    }

    void TearDown() override
    {
        for (mamaPublisher publisher : mPublishers)
        {
            mamaPublisher_destroy(publisher);
        }
        startDispatch();
        for (size_t i = 0; i < mSubscriptions.size(); ++i)
        {
            mamaSubscription_destroy(mSubscriptions[i]);
        }
        for (size_t i = 0; i < mSubscriptions.size(); ++i)
        {
            mamaSubscriptionState state = MAMA_SUBSCRIPTION_UNKNOWN;
            mamaSubscription_getState(mSubscriptions[i], &state);
            EXPECT_TRUE(pollUntil(
                [&]
                {
                    mamaSubscription_getState(mSubscriptions[i], &state);
                    return state == MAMA_SUBSCRIPTION_DESTROYED ||
                           state == MAMA_SUBSCRIPTION_ALLOCATED;
                }))
                << "subscription " << i << " state " << mamaSubscription_stringForState(state);
            mamaSubscription_deallocate(mSubscriptions[i]);
        }
        stopDispatch();
        if (mQueue != nullptr)
        {
            EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_destroy(mQueue))
                << "every subscription reported its destroy";
        }
        if (mMsg != nullptr)
        {
            mamaMsg_destroy(mMsg);
        }
        destroyTransport();
        corvexClientTest_clearAcl("embedded");
        corvexClientTest_clearFailures();
        BridgeTest::TearDown();
    }

    void startDispatch()
    {
        if (!mDispatch)
        {
            mDispatching.store(std::thread::id());
            mDispatch.reset(new DispatchThread(
                [this]
                {
                    mDispatching.store(std::this_thread::get_id());
                    return mamaQueue_dispatch(mQueue);
                }));
        }
    }

    void stopDispatch()
    {
        if (mDispatch)
        {
            ASSERT_TRUE(mDispatch->stop({mQueue}));
            mDispatch.reset();
        }
    }

    /* A subscription kept for the tear-down, with its recorder. */
    mamaSubscription newSubscription(MsgRecorder** recorder)
    {
        mamaSubscription subscription = nullptr;
        EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_allocate(&subscription));
        mSubscriptions.push_back(subscription);
        mRecorders.emplace_back(new MsgRecorder);
        *recorder = mRecorders.back().get();
        return subscription;
    }

    mama_status subscribe(const char* topic, MsgRecorder** recorder,
                          mamaSubscription* result = nullptr)
    {
        mamaSubscription subscription = newSubscription(recorder);
        mamaMsgCallbacks callbacks = MsgRecorder::callbacks();
        if (result != nullptr)
        {
            *result = subscription;
        }
        return keepIfRefused(subscription,
                             mamaSubscription_createBasic(subscription, mTransport, mQueue,
                                                          &callbacks, topic, *recorder));
    }

    /* The host leaves a subscription whose basic create was refused in its
     * activating state, where neither destroy nor deallocate accepts it: it
     * can only be kept (reachable, so leak checks stay meaningful). */
    mama_status keepIfRefused(mamaSubscription subscription, mama_status status)
    {
        if (status != MAMA_STATUS_OK && stateOf(subscription) == MAMA_SUBSCRIPTION_ACTIVATING)
        {
            static std::vector<mamaSubscription>* stuck = new std::vector<mamaSubscription>;
            stuck->push_back(subscription);
            mSubscriptions.erase(
                std::find(mSubscriptions.begin(), mSubscriptions.end(), subscription));
        }
        return status;
    }

    mama_status subscribeWildCard(const char* source, const char* symbol, MsgRecorder** recorder,
                                  mamaSubscription* result = nullptr)
    {
        mamaSubscription subscription = newSubscription(recorder);
        mamaWildCardMsgCallbacks callbacks = MsgRecorder::wildCardCallbacks();
        if (result != nullptr)
        {
            *result = subscription;
        }
        return keepIfRefused(subscription, mamaSubscription_createBasicWildCard(
                                               subscription, mTransport, mQueue, &callbacks, source,
                                               symbol, *recorder));
    }

    mamaPublisher publisher(const char* symbol, const char* source)
    {
        mamaPublisher result = nullptr;
        EXPECT_EQ(MAMA_STATUS_OK,
                  mamaPublisher_create(&result, mTransport, symbol, source, nullptr));
        mPublishers.push_back(result);
        return result;
    }

    void send(mamaPublisher publisher, int count)
    {
        for (int i = 0; i < count; ++i)
        {
            mamaMsg_updateI32(mMsg, "seq", 10, i);
            ASSERT_EQ(MAMA_STATUS_OK, mamaPublisher_send(publisher, mMsg));
        }
    }

    static CorvexSubscription* bridgeSubscription(mamaSubscription subscription)
    {
        return reinterpret_cast<CorvexSubscription*>(
            mamaSubscription_getSubscriptionBridge(subscription));
    }

    /* The bridge's own answers, asked through the host's table of bridge
     * functions. */
    bool bridgeIsValid(mamaSubscription subscription)
    {
        return reinterpret_cast<mamaBridgeImpl*>(mBridge)->bridgeMamaSubscriptionIsValid(
                   mamaSubscription_getSubscriptionBridge(subscription)) != 0;
    }

    bool bridgeHasWildcards(mamaSubscription subscription)
    {
        return reinterpret_cast<mamaBridgeImpl*>(mBridge)->bridgeMamaSubscriptionHasWildcards(
                   mamaSubscription_getSubscriptionBridge(subscription)) != 0;
    }

    /* The subscription's correlation tags live in the bridge only. */
    static bool hasOutstandingTags(CorvexSubscription* subscription)
    {
        pthread_mutex_lock(&subscription->mSyncManager.mLock);
        bool outstanding = subscription->mSyncManager.mTags != nullptr;
        pthread_mutex_unlock(&subscription->mSyncManager.mLock);
        return outstanding;
    }

    static mamaSubscriptionState stateOf(mamaSubscription subscription)
    {
        mamaSubscriptionState state = MAMA_SUBSCRIPTION_UNKNOWN;
        mamaSubscription_getState(subscription, &state);
        return state;
    }

    mamaQueue mQueue = nullptr;
    mamaMsg mMsg = nullptr;
    std::unique_ptr<DispatchThread> mDispatch;
    std::atomic<std::thread::id> mDispatching{};
    std::vector<mamaSubscription> mSubscriptions;
    std::vector<std::unique_ptr<MsgRecorder>> mRecorders;
    std::vector<mamaPublisher> mPublishers;
};

#endif /* CORVEX_BRIDGE_TESTS_SUBSCRIPTIONFIXTURE_H */
