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
#include <subscriptionimpl.h>

#include "bridgeFixture.h"
#include "subscription.h"

/* What one application subscription has been told, and on which threads. */
class Recorder
{
  public:
    struct Error
    {
        mama_status mStatus;
        std::string mSubject;
        std::thread::id mThread;
        mamaSubscriptionState mState;
    };

    static mamaMsgCallbacks callbacks()
    {
        mamaMsgCallbacks result = {};
        result.onCreate = onCreate;
        result.onError = onError;
        result.onMsg = onMsg;
        result.onDestroy = onDestroy;
        return result;
    }

    static mamaWildCardMsgCallbacks wildCardCallbacks()
    {
        mamaWildCardMsgCallbacks result = {};
        result.onCreate = onCreate;
        result.onError = onError;
        result.onMsg = onWildCardMsg;
        result.onDestroy = onDestroy;
        return result;
    }

    /* Waits until `done` holds, re-testing after every callback. */
    template <typename Condition>
    bool waitUntil(Condition done,
                   std::chrono::milliseconds limit = std::chrono::milliseconds(10000))
    {
        std::unique_lock<std::mutex> guard(mLock);
        return mChanged.wait_for(guard, limit, [&] { return done(*this); });
    }

    size_t messages()
    {
        return locked([this] { return mMessages; });
    }
    int destroys()
    {
        return locked([this] { return mDestroys; });
    }
    std::vector<Error> errors()
    {
        return locked([this] { return mErrors; });
    }
    std::vector<std::string> subjects()
    {
        return locked([this] { return mSubjects; });
    }
    std::thread::id destroyThread()
    {
        return locked([this] { return mDestroyThread; });
    }
    std::thread::id messageThread()
    {
        return locked([this] { return mMessageThread; });
    }
    /* Messages seen when the destroy callback ran. */
    size_t messagesAtDestroy()
    {
        return locked([this] { return mMessagesAtDestroy; });
    }

    /* Guarded by mLock; waitUntil's conditions run with it held and read
     * these directly. */
    size_t mMessages = 0;
    int mDestroys = 0;
    std::vector<Error> mErrors;
    std::vector<std::string> mSubjects;
    std::thread::id mDestroyThread;
    std::thread::id mMessageThread;
    size_t mMessagesAtDestroy = 0;
    /* Runs in the destroy callback, before it is recorded. */
    std::function<void()> mAtDestroy;

  private:
    template <typename Read> auto locked(Read read) -> decltype(read())
    {
        std::lock_guard<std::mutex> guard(mLock);
        return read();
    }

    static void MAMACALLTYPE onCreate(mamaSubscription, void*) {}

    static void MAMACALLTYPE onError(mamaSubscription subscription, mama_status status, void*,
                                     const char* subject, void* closure)
    {
        auto* self = static_cast<Recorder*>(closure);
        mamaSubscriptionState state = MAMA_SUBSCRIPTION_UNKNOWN;
        mamaSubscription_getState(subscription, &state);
        std::lock_guard<std::mutex> guard(self->mLock);
        self->mErrors.push_back(
            Error{status, subject != nullptr ? subject : "", std::this_thread::get_id(), state});
        self->mChanged.notify_all();
    }

    static void MAMACALLTYPE onMsg(mamaSubscription, mamaMsg, void* closure, void*)
    {
        auto* self = static_cast<Recorder*>(closure);
        std::lock_guard<std::mutex> guard(self->mLock);
        self->mMessages++;
        self->mMessageThread = std::this_thread::get_id();
        self->mChanged.notify_all();
    }

    static void MAMACALLTYPE onWildCardMsg(mamaSubscription, mamaMsg, const char* topic,
                                           void* closure, void*)
    {
        auto* self = static_cast<Recorder*>(closure);
        std::lock_guard<std::mutex> guard(self->mLock);
        self->mMessages++;
        self->mSubjects.push_back(topic != nullptr ? topic : "");
        self->mMessageThread = std::this_thread::get_id();
        self->mChanged.notify_all();
    }

    static void MAMACALLTYPE onDestroy(mamaSubscription, void* closure)
    {
        auto* self = static_cast<Recorder*>(closure);
        if (self->mAtDestroy)
        {
            self->mAtDestroy();
        }
        std::lock_guard<std::mutex> guard(self->mLock);
        self->mDestroys++;
        self->mDestroyThread = std::this_thread::get_id();
        self->mMessagesAtDestroy = self->mMessages;
        self->mChanged.notify_all();
    }

    std::mutex mLock;
    std::condition_variable mChanged;
};

class SubscriptionTest : public BridgeTest
{
  protected:
    void SetUp() override {}

    /* subscribeAsync: value of "mama.corvex.transport.subscribe_async", or
     * nullptr for the default (on). */
    void start(const char* subscribeAsync = nullptr)
    {
        if (subscribeAsync != nullptr)
        {
            mama_setProperty("mama.corvex.transport.subscribe_async", subscribeAsync);
        }
        mama_setProperty("mama.corvex.transport.t1.allow_recover_gaps", "true");
        BridgeTest::SetUp();
        mamaTransport_allocate(&mTransport);
        ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_create(mTransport, "t1", mBridge));
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
            EXPECT_TRUE(eventually(
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
        if (mTransport != nullptr)
        {
            mamaTransport_destroy(mTransport);
        }
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
            /* A stop that comes before the thread has begun to dispatch is
             * lost (dispatch raises the flag again): repeat it. */
            bool returned = false;
            for (int i = 0; i < 100 && !returned; ++i)
            {
                mamaQueue_stopDispatch(mQueue);
                returned = mDispatch->waitReturned(std::chrono::milliseconds(50));
            }
            ASSERT_TRUE(returned);
            mDispatch.reset();
        }
    }

    /* A subscription kept for the tear-down, with its recorder. */
    mamaSubscription newSubscription(Recorder** recorder)
    {
        mamaSubscription subscription = nullptr;
        EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_allocate(&subscription));
        mSubscriptions.push_back(subscription);
        mRecorders.emplace_back(new Recorder);
        *recorder = mRecorders.back().get();
        return subscription;
    }

    mama_status subscribe(const char* topic, Recorder** recorder,
                          mamaSubscription* result = nullptr)
    {
        mamaSubscription subscription = newSubscription(recorder);
        mamaMsgCallbacks callbacks = Recorder::callbacks();
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

    mama_status subscribeWildCard(const char* source, const char* symbol, Recorder** recorder,
                                  mamaSubscription* result = nullptr)
    {
        mamaSubscription subscription = newSubscription(recorder);
        mamaWildCardMsgCallbacks callbacks = Recorder::wildCardCallbacks();
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

    size_t queuedEvents()
    {
        size_t count = 0;
        mamaQueue_getEventCount(mQueue, &count);
        return count;
    }

    /* Polls, with a bound, a count other threads move. */
    template <typename Condition>
    static bool eventually(Condition done,
                           std::chrono::milliseconds limit = std::chrono::milliseconds(10000))
    {
        auto end = std::chrono::steady_clock::now() + limit;
        while (!done())
        {
            if (std::chrono::steady_clock::now() > end)
            {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    static CorvexSubscription* bridgeSubscription(mamaSubscription subscription)
    {
        return reinterpret_cast<CorvexSubscription*>(
            mamaSubscription_getSubscriptionBridge(subscription));
    }

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

    /* The recorded calls of one vendor operation, as argument texts. */
    static std::vector<std::string> calls(const char* operation)
    {
        std::vector<std::string> result;
        char buffer[1024];
        for (uint32_t i = 0;
             corvexClientTest_getCall(operation, i, buffer, sizeof(buffer)) == CORVEXCLIENT_OK; ++i)
        {
            result.push_back(buffer);
        }
        return result;
    }

    mamaTransport mTransport = nullptr;
    mamaQueue mQueue = nullptr;
    mamaMsg mMsg = nullptr;
    std::unique_ptr<DispatchThread> mDispatch;
    std::atomic<std::thread::id> mDispatching{};
    std::vector<mamaSubscription> mSubscriptions;
    std::vector<std::unique_ptr<Recorder>> mRecorders;
    std::vector<mamaPublisher> mPublishers;
};

#endif /* CORVEX_BRIDGE_TESTS_SUBSCRIPTIONFIXTURE_H */
