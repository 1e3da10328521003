// Publishers on the host side: what reaches the bridge, the callbacks it is
// given, and freeing only once the bridge reports its publisher gone.
#include <gtest/gtest.h>

#include "fakebridges/objectsFakeBridge.h"
#include "msgimpl.h"

namespace
{
struct AppLog
{
    int mCreates = 0;
    int mDestroys = 0;
};

void MAMACALLTYPE onCreate(mamaPublisher, void* closure)
{
    ++static_cast<AppLog*>(closure)->mCreates;
}

void MAMACALLTYPE onError(mamaPublisher, mama_status, const char*, void*) {}

void MAMACALLTYPE onSuccess(mamaPublisher, mama_status, const char*, void*) {}

void MAMACALLTYPE onDestroy(mamaPublisher, void* closure)
{
    ++static_cast<AppLog*>(closure)->mDestroys;
}

class PublisherTest : public ::testing::Test
{
  protected:
    mamaPublisher createWithCallbacks()
    {
        mamaPublisherCallbacks callbacks = {onCreate, onError, onDestroy, onSuccess};
        mamaPublisher publisher = nullptr;
        EXPECT_EQ(MAMA_STATUS_OK,
                  mamaPublisher_createWithCallbacks(&publisher, mFake.mTransport, mFake.mQueue,
                                                    "BRK.A", "NYSE", "_MD", &callbacks, &mApp));
        return publisher;
    }

    objfake::Fixture mFake;
    AppLog mApp;
};

TEST_F(PublisherTest, CreatePassesNamesAndGivesTheBridgeACopyOfTheCallbacks)
{
    mamaPublisher publisher = createWithCallbacks();
    ASSERT_NE(nullptr, publisher);
    objfake::World& w = objfake::world();
    EXPECT_EQ(std::vector<std::string>({"Publisher_createByIndex", "Publisher_setUserCallbacks"}),
              w.mCalls);
    EXPECT_EQ(0, w.mPublisherIndex);
    EXPECT_EQ("BRK.A", w.mPublisherTopic);
    EXPECT_EQ("NYSE", w.mPublisherSource);
    EXPECT_EQ("_MD", w.mPublisherRoot);

    const objfake::Publisher* given = w.mLastPublisher;
    EXPECT_EQ(publisher, given->mParent);
    EXPECT_EQ(onError, given->mCallbacks.onError);
    EXPECT_EQ(onSuccess, given->mCallbacks.onSuccess);
    // The host keeps the destroy report for itself and tells the application after.
    EXPECT_NE(nullptr, given->mCallbacks.onDestroy);
    EXPECT_NE(onDestroy, given->mCallbacks.onDestroy);
    EXPECT_EQ(&mApp, given->mClosure);
    EXPECT_EQ(1, mApp.mCreates);

    mamaPublisherState state = MAMA_PUBLISHER_UNKNOWN;
    ASSERT_EQ(MAMA_STATUS_OK, mamaPublisher_getState(publisher, &state));
    EXPECT_EQ(MAMA_PUBLISHER_LIVE, state);
    mamaTransport tport = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaPublisher_getTransport(publisher, &tport));
    EXPECT_EQ(mFake.mTransport, tport);
    EXPECT_EQ(reinterpret_cast<publisherBridge>(w.mLastPublisher),
              mamaPublisherImpl_getPublisherBridge(publisher));

    EXPECT_EQ(MAMA_STATUS_OK, mamaPublisher_destroy(publisher));
    EXPECT_EQ(1, mApp.mDestroys);
}

TEST_F(PublisherTest, NullSourceAndRootReachTheBridgeAsNull)
{
    mamaPublisher publisher = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK,
              mamaPublisher_create(&publisher, mFake.mTransport, "TOPIC", nullptr, nullptr));
    EXPECT_EQ("(null)", objfake::world().mPublisherSource);
    EXPECT_EQ("(null)", objfake::world().mPublisherRoot);
    EXPECT_EQ(MAMA_STATUS_OK, mamaPublisher_destroy(publisher));
}

TEST_F(PublisherTest, CreateRejectsMissingArguments)
{
    mamaPublisher publisher = nullptr;
    EXPECT_EQ(MAMA_STATUS_NULL_ARG,
              mamaPublisher_create(nullptr, mFake.mTransport, "T", nullptr, nullptr));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG,
              mamaPublisher_create(&publisher, nullptr, "T", nullptr, nullptr));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG,
              mamaPublisher_create(&publisher, mFake.mTransport, nullptr, nullptr, nullptr));
    mamaTransport uncreated = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_allocate(&uncreated));
    EXPECT_EQ(MAMA_STATUS_NO_BRIDGE_IMPL,
              mamaPublisher_create(&publisher, uncreated, "T", nullptr, nullptr));
    EXPECT_EQ(MAMA_STATUS_OK, mamaTransport_deallocate(uncreated));
    EXPECT_TRUE(objfake::world().mCalls.empty());
}

TEST_F(PublisherTest, QueuedDestroyReportFinishesLater)
{
    objfake::world().mPublisherReport = objfake::Report::Queued;
    mamaPublisher publisher = createWithCallbacks();
    EXPECT_EQ(MAMA_STATUS_OK, mamaPublisher_destroy(publisher));
    mamaPublisherState state = MAMA_PUBLISHER_UNKNOWN;
    ASSERT_EQ(MAMA_STATUS_OK, mamaPublisher_getState(publisher, &state));
    EXPECT_EQ(MAMA_PUBLISHER_DESTROYING_WAIT_BRIDGE, state);
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG,
              mamaPublisher_send(publisher, reinterpret_cast<mamaMsg>(&state)));
    EXPECT_EQ(0, mApp.mDestroys);

    mamaQueue defaultQueue = nullptr;
    mama_getDefaultEventQueue(mFake.mBridge, &defaultQueue);
    EXPECT_EQ(1, objfake::runPending(defaultQueue)); // frees the publisher
    EXPECT_EQ(1, mApp.mDestroys);
}

// Without the bridge's setUserCallbacks nothing would report the publisher
// gone; the host frees it at destroy instead of leaking it.
TEST_F(PublisherTest, BridgeWithoutUserCallbacksStillFreesAtDestroy)
{
    mFake.mBridge->bridgeMamaPublisherSetUserCallbacks = nullptr;
    mamaPublisher publisher = createWithCallbacks();
    EXPECT_FALSE(objfake::called("Publisher_setUserCallbacks"));
    EXPECT_EQ(MAMA_STATUS_OK, mamaPublisher_destroy(publisher));
    EXPECT_EQ(1, mApp.mDestroys);
}

TEST_F(PublisherTest, SendsPassThroughAndRepliesNeedAnInboxRequest)
{
    mamaPublisher publisher = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK,
              mamaPublisher_create(&publisher, mFake.mTransport, "T", nullptr, nullptr));
    mamaMsg request = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_create(&request));
    EXPECT_EQ(MAMA_STATUS_OK, mamaPublisher_send(publisher, request));
    EXPECT_EQ(MAMA_STATUS_OK, mamaPublisher_send(publisher, request));
    EXPECT_EQ(2, objfake::world().mSends);
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaPublisher_send(publisher, nullptr));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaPublisher_send(nullptr, request));

    // A message with no bridge part did not come from an inbox.
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG, mamaPublisher_sendReplyToInbox(publisher, request, request));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsgImpl_setBridgeImpl(request, mFake.mBridge));
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG, mamaPublisher_sendReplyToInbox(publisher, request, request));
    objfake::world().mFromInbox = 1;
    EXPECT_EQ(MAMA_STATUS_OK, mamaPublisher_sendReplyToInbox(publisher, request, request));
    EXPECT_TRUE(objfake::called("Publisher_sendReplyToInbox"));

    int handle = 0;
    mamaMsgReplyImpl reply = {mFake.mBridge, &handle};
    EXPECT_EQ(MAMA_STATUS_OK, mamaPublisher_sendReplyToInboxHandle(
                                  publisher, reinterpret_cast<mamaMsgReply>(&reply), request));
    EXPECT_EQ(&handle, objfake::world().mReplyHandle);
    mFake.mBridge->bridgeMamaPublisherSendReplyToInboxHandle = nullptr;
    EXPECT_EQ(MAMA_STATUS_NOT_IMPLEMENTED,
              mamaPublisher_sendReplyToInboxHandle(
                  publisher, reinterpret_cast<mamaMsgReply>(&reply), request));

    EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_destroy(request));
    EXPECT_EQ(MAMA_STATUS_OK, mamaPublisher_destroy(publisher));
}

TEST(PublisherTexts, States)
{
    EXPECT_STREQ("MAMA_PUBLISHER_DESTROYED_BRIDGE",
                 mamaPublisher_stringForState(MAMA_PUBLISHER_DESTROYED_BRIDGE));
    EXPECT_STREQ("unknown", mamaPublisher_stringForState(static_cast<mamaPublisherState>(7)));
}
} // namespace
