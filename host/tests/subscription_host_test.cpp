// Subscriptions on the host side: what reaches the bridge, the state machine,
// the queue's open-object count and the exactly-once destroy notification.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "fakebridges/objectsFakeBridge.h"
#include "mama_test_support.h"

namespace
{
// What the application's callbacks saw.
struct AppLog
{
    int mCreates = 0;
    std::atomic<int> mMsgs{0};
    std::atomic<int> mDestroys{0};
    int mMsgsAtDestroy = -1;
    std::thread::id mDestroyThread;
    std::vector<std::string> mTopics;
    mamatest::Signal mDestroyed;
};

void MAMACALLTYPE onCreate(mamaSubscription, void* closure)
{
    ++static_cast<AppLog*>(closure)->mCreates;
}

void MAMACALLTYPE onMsg(mamaSubscription, mamaMsg, void* closure, void*)
{
    ++static_cast<AppLog*>(closure)->mMsgs;
}

void MAMACALLTYPE onWildCardMsg(mamaSubscription, mamaMsg, const char* topic, void* closure, void*)
{
    static_cast<AppLog*>(closure)->mTopics.push_back(topic);
}

void MAMACALLTYPE onDestroy(mamaSubscription, void* closure)
{
    AppLog* log = static_cast<AppLog*>(closure);
    log->mMsgsAtDestroy = log->mMsgs;
    log->mDestroyThread = std::this_thread::get_id();
    ++log->mDestroys;
    log->mDestroyed.set();
}

void MAMACALLTYPE deallocateOnDestroy(mamaSubscription subscription, void* closure)
{
    onDestroy(subscription, closure);
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_deallocate(subscription));
}

const mamaMsgCallbacks kCallbacks = {onCreate, nullptr, onMsg,    nullptr,
                                     nullptr,  nullptr, onDestroy};

class SubscriptionTest : public ::testing::Test
{
  protected:
    mamaSubscriptionState state()
    {
        mamaSubscriptionState result = MAMA_SUBSCRIPTION_UNKNOWN;
        mamaSubscription_getState(mSub, &result);
        return result;
    }

    void createBasic(const char* topic = "NYSE.BRK.A")
    {
        ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_allocate(&mSub));
        ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_createBasic(mSub, mFake.mTransport, mFake.mQueue,
                                                               &kCallbacks, topic, &mApp));
    }

    objfake::Fixture mFake;
    AppLog mApp;
    mamaSubscription mSub = nullptr;
};

TEST_F(SubscriptionTest, BasicCreatePassesTopicAsSourceAndHostDestroyHandler)
{
    createBasic();
    objfake::World& w = objfake::world();
    EXPECT_FALSE(w.mSourceWasNull);
    EXPECT_TRUE(w.mSymbolWasNull);
    EXPECT_EQ("NYSE.BRK.A", w.mSource);

    const mamaMsgCallbacks& given = w.mLastSubscription->mCallbacks;
    EXPECT_EQ(onCreate, given.onCreate);
    EXPECT_EQ(onMsg, given.onMsg);
    // Missing application callbacks are replaced by host defaults.
    EXPECT_NE(nullptr, given.onError);
    EXPECT_NE(nullptr, given.onQuality);
    EXPECT_NE(nullptr, given.onGap);
    EXPECT_NE(nullptr, given.onRecapRequest);
    // The bridge reports to the host, never straight to the application.
    EXPECT_NE(onDestroy, given.onDestroy);
    EXPECT_EQ(&mApp, w.mLastSubscription->mClosure);
    EXPECT_EQ(mSub, w.mLastSubscription->mParent);

    EXPECT_EQ(1, mApp.mCreates);
    EXPECT_EQ(MAMA_SUBSCRIPTION_ACTIVATED, state());
    EXPECT_EQ(reinterpret_cast<subscriptionBridge>(w.mLastSubscription),
              mamaSubscription_getSubscriptionBridge(mSub));

    mamaSubscriptionType type;
    ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_getSubscriptionType(mSub, &type));
    EXPECT_EQ(MAMA_SUBSC_TYPE_BASIC, type);
    const char* text = nullptr;
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG, mamaSubscription_getSource(mSub, &text));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaSubscription_setRecoverGaps(mSub, 1));
    ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_getSymbol(mSub, &text));
    EXPECT_STREQ("NYSE.BRK.A", text);
    EXPECT_EQ(onMsg, mamaSubscription_getUserCallbacks(mSub)->onMsg);
    EXPECT_EQ(onDestroy, mamaSubscription_getUserCallbacks(mSub)->onDestroy);

    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_destroy(mSub));
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_deallocate(mSub));
}

TEST_F(SubscriptionTest, CreateRejectsBadArgumentsBeforeReachingTheBridge)
{
    ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_allocate(&mSub));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG,
              mamaSubscription_createBasic(nullptr, mFake.mTransport, mFake.mQueue, &kCallbacks,
                                           "A", nullptr));
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG,
              mamaSubscription_createBasic(mSub, nullptr, mFake.mQueue, &kCallbacks, "A", nullptr));
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG,
              mamaSubscription_createBasic(mSub, mFake.mTransport, mFake.mQueue, &kCallbacks, "",
                                           nullptr));
    EXPECT_EQ(
        MAMA_STATUS_INVALID_QUEUE,
        mamaSubscription_createBasic(mSub, mFake.mTransport, nullptr, &kCallbacks, "A", nullptr));
    EXPECT_EQ(
        MAMA_STATUS_NULL_ARG,
        mamaSubscription_createBasic(mSub, mFake.mTransport, mFake.mQueue, nullptr, "A", nullptr));
    EXPECT_FALSE(objfake::called("Subscription_create"));
    EXPECT_EQ(MAMA_SUBSCRIPTION_ALLOCATED, state());
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_deallocate(mSub));
}

TEST_F(SubscriptionTest, RefusedCreateLeavesAReusableSubscriptionAndNoOpenObject)
{
    objfake::world().mSubscriptionCreateStatus = MAMA_STATUS_NOT_ENTITLED;
    ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_allocate(&mSub));
    EXPECT_EQ(MAMA_STATUS_NOT_ENTITLED,
              mamaSubscription_createBasic(mSub, mFake.mTransport, mFake.mQueue, &kCallbacks, "A",
                                           &mApp));
    EXPECT_EQ(MAMA_SUBSCRIPTION_ALLOCATED, state());
    EXPECT_EQ(0, mApp.mCreates);
    EXPECT_EQ(nullptr, mamaSubscription_getSubscriptionBridge(mSub));

    objfake::world().mSubscriptionCreateStatus = MAMA_STATUS_OK;
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_createBasic(mSub, mFake.mTransport, mFake.mQueue,
                                                           &kCallbacks, "A", &mApp));
    EXPECT_EQ(MAMA_STATUS_SUBSCRIPTION_INVALID_STATE,
              mamaSubscription_createBasic(mSub, mFake.mTransport, mFake.mQueue, &kCallbacks, "A",
                                           &mApp));
    EXPECT_EQ(MAMA_STATUS_SUBSCRIPTION_INVALID_STATE, mamaSubscription_deallocate(mSub));
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_destroy(mSub));
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_deallocate(mSub));
}

TEST_F(SubscriptionTest, SynchronousBridgeReportFinishesDestroyAtOnce)
{
    createBasic();
    EXPECT_EQ(MAMA_STATUS_QUEUE_OPEN_OBJECTS, mamaQueue_destroy(mFake.mQueue));
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_destroy(mSub));
    EXPECT_TRUE(objfake::called("Subscription_mute"));
    EXPECT_EQ(MAMA_SUBSCRIPTION_DESTROYED, state());
    EXPECT_EQ(1, mApp.mDestroys);
    EXPECT_EQ(nullptr, mamaSubscription_getSubscriptionBridge(mSub));
    // A second destroy is harmless and says nothing to the application.
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_destroy(mSub));
    EXPECT_EQ(1, mApp.mDestroys);
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_destroy(mFake.mQueue));
    mFake.mQueue = nullptr;
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_deallocate(mSub));
}

TEST_F(SubscriptionTest, QueuedBridgeReportKeepsQueueOpenUntilItArrives)
{
    objfake::world().mSubscriptionReport = objfake::Report::Queued;
    createBasic();
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_destroy(mSub));
    EXPECT_EQ(MAMA_SUBSCRIPTION_DESTROYING, state());
    EXPECT_EQ(0, mApp.mDestroys);
    EXPECT_EQ(MAMA_STATUS_QUEUE_OPEN_OBJECTS, mamaQueue_destroy(mFake.mQueue));

    EXPECT_EQ(1, objfake::runPending(mFake.mQueue));
    EXPECT_EQ(MAMA_SUBSCRIPTION_DESTROYED, state());
    EXPECT_EQ(1, mApp.mDestroys);
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_destroy(mFake.mQueue));
    mFake.mQueue = nullptr;
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_deallocate(mSub));
}

TEST_F(SubscriptionTest, DeallocateWhileDestroyingFreesOnTheBridgeReport)
{
    objfake::world().mSubscriptionReport = objfake::Report::Queued;
    createBasic();
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_destroy(mSub));
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_deallocate(mSub));
    EXPECT_EQ(MAMA_SUBSCRIPTION_DEALLOCATING, state());
    objfake::runPending(mFake.mQueue); // frees it; the sanitizer builds catch any later use
    EXPECT_EQ(1, mApp.mDestroys);
}

TEST_F(SubscriptionTest, DeactivateThenDestroyNotifiesOnce)
{
    objfake::world().mSubscriptionReport = objfake::Report::Queued;
    createBasic();
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_deactivate(mSub));
    EXPECT_EQ(MAMA_SUBSCRIPTION_DEACTIVATING, state());
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_deactivate(mSub));
    objfake::runPending(mFake.mQueue);
    EXPECT_EQ(MAMA_SUBSCRIPTION_DEACTIVATED, state());
    EXPECT_EQ(0, mApp.mDestroys);
    // The bridge part is gone, so the queue no longer counts it.
    EXPECT_EQ(MAMA_STATUS_SUBSCRIPTION_INVALID_STATE, mamaSubscription_deactivate(mSub));

    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_destroy(mSub));
    EXPECT_EQ(MAMA_SUBSCRIPTION_DESTROYED, state());
    EXPECT_EQ(1, mApp.mDestroys);
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_deallocate(mSub));
    EXPECT_EQ(1, std::count(objfake::world().mCalls.begin(), objfake::world().mCalls.end(),
                            std::string("Subscription_destroy")));
}

TEST_F(SubscriptionTest, ActivateAfterDeactivateSubscribesAgain)
{
    createBasic();
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_deactivate(mSub));
    EXPECT_EQ(MAMA_SUBSCRIPTION_DEACTIVATED, state());
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_activate(mSub));
    EXPECT_EQ(MAMA_SUBSCRIPTION_ACTIVATED, state());
    EXPECT_EQ(2, mApp.mCreates);
    EXPECT_EQ(MAMA_STATUS_QUEUE_OPEN_OBJECTS, mamaQueue_destroy(mFake.mQueue));
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_destroy(mSub));
    EXPECT_EQ(1, mApp.mDestroys);
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_deallocate(mSub));
}

TEST_F(SubscriptionTest, DestroyExFreesAfterNotifying)
{
    objfake::world().mSubscriptionReport = objfake::Report::Queued;
    createBasic();
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_destroyEx(mSub));
    objfake::runPending(mFake.mQueue);
    EXPECT_EQ(1, mApp.mDestroys);
}

TEST_F(SubscriptionTest, ApplicationMayDeallocateInsideItsDestroyCallback)
{
    objfake::world().mSubscriptionReport = objfake::Report::Queued;
    mamaMsgCallbacks callbacks = kCallbacks;
    callbacks.onDestroy = deallocateOnDestroy;
    ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_allocate(&mSub));
    ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_createBasic(mSub, mFake.mTransport, mFake.mQueue,
                                                           &callbacks, "A", &mApp));
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_destroy(mSub));
    objfake::runPending(mFake.mQueue);
    EXPECT_EQ(1, mApp.mDestroys);
}

TEST_F(SubscriptionTest, QueuedMessagesAreDeliveredBeforeTheDestroyCallbackOnTheDispatchThread)
{
    objfake::world().mSubscriptionReport = objfake::Report::Queued;
    createBasic();
    int dummy = 0;
    mamaMsg msg = reinterpret_cast<mamaMsg>(&dummy); // passed through, never read
    const int count = 10000;
    for (int i = 0; i < count; ++i)
    {
        objfake::deliver(mSub, msg);
    }
    std::thread::id dispatchThread;
    std::thread dispatcher(
        [this, &dispatchThread]
        {
            dispatchThread = std::this_thread::get_id();
            mamaQueue_dispatch(mFake.mQueue);
        });
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_destroy(mSub));
    ASSERT_TRUE(mApp.mDestroyed.waitFor());
    mamaQueue_stopDispatch(mFake.mQueue);
    dispatcher.join();

    EXPECT_EQ(count, mApp.mMsgsAtDestroy);
    EXPECT_EQ(1, mApp.mDestroys);
    EXPECT_EQ(dispatchThread, mApp.mDestroyThread);
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_deallocate(mSub));
}

TEST_F(SubscriptionTest, WildCardTopicIsComposedFromSourceAndSymbol)
{
    const mamaWildCardMsgCallbacks callbacks = {onCreate, nullptr, onWildCardMsg, onDestroy};
    struct Case
    {
        const char* mSource;
        const char* mSymbol;
        const char* mTopic;
    };
    const Case cases[] = {{"NYSE", "*", "NYSE.*"},
                          {nullptr, "BRK.*", "BRK.*"},
                          {"NYSE", nullptr, "NYSE"},
                          {"", "X.>", "X.>"}};
    for (const Case& c : cases)
    {
        ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_allocate(&mSub));
        ASSERT_EQ(MAMA_STATUS_OK,
                  mamaSubscription_createBasicWildCard(mSub, mFake.mTransport, mFake.mQueue,
                                                       &callbacks, c.mSource, c.mSymbol, &mApp));
        EXPECT_TRUE(objfake::called("Subscription_createWildCard"));
        EXPECT_EQ(c.mTopic, objfake::world().mSource);
        EXPECT_TRUE(objfake::world().mSymbolWasNull);
        const char* symbol = nullptr;
        mamaSubscription_getSymbol(mSub, &symbol);
        EXPECT_STREQ(c.mTopic, symbol);

        // Only creation and errors are the bridge's to call.
        const mamaMsgCallbacks& given = objfake::world().mLastSubscription->mCallbacks;
        EXPECT_EQ(onCreate, given.onCreate);
        EXPECT_NE(nullptr, given.onError);
        EXPECT_EQ(nullptr, given.onMsg);
        EXPECT_EQ(nullptr, given.onQuality);

        int dummy = 0;
        EXPECT_EQ(MAMA_STATUS_OK,
                  mamaSubscription_processWildCardMsg(mSub, reinterpret_cast<mamaMsg>(&dummy),
                                                      "NYSE.IBM", nullptr));
        EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_destroy(mSub));
        EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_deallocate(mSub));
    }
    EXPECT_EQ(4, mApp.mDestroys);
    EXPECT_EQ(std::vector<std::string>(4, "NYSE.IBM"), mApp.mTopics);

    ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_allocate(&mSub));
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG,
              mamaSubscription_createBasicWildCard(mSub, mFake.mTransport, mFake.mQueue, &callbacks,
                                                   "", nullptr, &mApp));
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_deallocate(mSub));
}

TEST_F(SubscriptionTest, WildCardNeedsTheBridgeFunction)
{
    mFake.mBridge->bridgeMamaSubscriptionCreateWildCard = nullptr;
    const mamaWildCardMsgCallbacks callbacks = {nullptr, nullptr, onWildCardMsg, nullptr};
    ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_allocate(&mSub));
    EXPECT_EQ(MAMA_STATUS_NOT_IMPLEMENTED,
              mamaSubscription_createBasicWildCard(mSub, mFake.mTransport, mFake.mQueue, &callbacks,
                                                   "A", "*", nullptr));
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_deallocate(mSub));
}

TEST_F(SubscriptionTest, ProcessMsgHandsClosureAndItemClosureToTheApplication)
{
    struct Seen
    {
        void* mClosure = nullptr;
        void* mItem = nullptr;
    };
    static Seen seen;
    mamaMsgCallbacks callbacks = {};
    callbacks.onMsg = [](mamaSubscription, mamaMsg, void* closure, void* item)
    {
        seen.mClosure = closure;
        seen.mItem = item;
    };
    int item = 0;
    ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_allocate(&mSub));
    ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_createBasic(mSub, mFake.mTransport, mFake.mQueue,
                                                           &callbacks, "A", &mApp));
    ASSERT_EQ(MAMA_STATUS_OK, mamaSubscription_setItemClosure(mSub, &item));
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_processMsg(mSub, reinterpret_cast<mamaMsg>(&item)));
    EXPECT_EQ(&mApp, seen.mClosure);
    EXPECT_EQ(&item, seen.mItem);
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaSubscription_processMsg(mSub, nullptr));
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_destroy(mSub));
    EXPECT_EQ(MAMA_STATUS_OK, mamaSubscription_deallocate(mSub));
}

TEST(SubscriptionTexts, StatesAndTypes)
{
    EXPECT_STREQ("MAMA_SUBSCRIPTION_DESTROYING",
                 mamaSubscription_stringForState(MAMA_SUBSCRIPTION_DESTROYING));
    EXPECT_STREQ("BASIC", MamaSubscTypeStr(MAMA_SUBSC_TYPE_BASIC));
    EXPECT_STREQ("SYMBOL_LIST_NORMAL", MamaSubscTypeStr(MAMA_SUBSC_TYPE_SYMBOL_LIST));
    EXPECT_STREQ("unknown", MamaSubscTypeStr(static_cast<mamaSubscriptionType>(42)));
}
} // namespace
