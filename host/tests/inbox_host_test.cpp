// Inboxes on the host side: the application's callbacks go to the bridge
// unchanged, and the host inbox lives until the bridge reports it gone.
#include <gtest/gtest.h>

#include "fakebridges/objectsFakeBridge.h"
#include "inboximpl.h"

namespace
{
int gDestroys = 0;
mamaInbox gDestroyedInbox = nullptr;
void* gDestroyedClosure = nullptr;

void MAMACALLTYPE onMsg(mamaMsg, void*) {}

void MAMACALLTYPE onError(mama_status, void*) {}

void MAMACALLTYPE onDestroyed(mamaInbox inbox, void* closure)
{
    ++gDestroys;
    gDestroyedInbox = inbox;
    gDestroyedClosure = closure;
}

class InboxTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        gDestroys = 0;
        gDestroyedInbox = nullptr;
    }
    objfake::Fixture mFake;
    int mClosure = 0;
};

TEST_F(InboxTest, QueueStaysOpenUntilTheBridgeReportsTheInboxGone)
{
    mamaInbox inbox = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaInbox_create2(&inbox, mFake.mTransport, mFake.mQueue, onMsg,
                                                onError, onDestroyed, &mClosure));
    EXPECT_TRUE(objfake::called("Inbox_create"));
    EXPECT_EQ(onMsg, objfake::world().mInboxMsgCb);
    EXPECT_EQ(onError, objfake::world().mInboxErrorCb);
    EXPECT_NE(nullptr, mamaInboxImpl_getInboxBridge(inbox));
    EXPECT_EQ(MAMA_STATUS_QUEUE_OPEN_OBJECTS, mamaQueue_destroy(mFake.mQueue));

    EXPECT_EQ(MAMA_STATUS_OK, mamaInbox_destroy(inbox));
    EXPECT_EQ(0, gDestroys);
    EXPECT_EQ(MAMA_STATUS_QUEUE_OPEN_OBJECTS, mamaQueue_destroy(mFake.mQueue));
    EXPECT_EQ(1, objfake::runPending(mFake.mQueue)); // frees the inbox
    EXPECT_EQ(1, gDestroys);
    EXPECT_EQ(inbox, gDestroyedInbox);
    EXPECT_EQ(&mClosure, gDestroyedClosure);
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_destroy(mFake.mQueue));
    mFake.mQueue = nullptr;
}

TEST_F(InboxTest, ReportFromInsideTheBridgeDestroyIsSafe)
{
    objfake::world().mInboxReport = objfake::Report::Synchronous;
    mamaInbox inbox = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK,
              mamaInbox_create(&inbox, mFake.mTransport, mFake.mQueue, onMsg, nullptr, &mClosure));
    EXPECT_EQ(nullptr, objfake::world().mInboxErrorCb);
    EXPECT_EQ(MAMA_STATUS_OK, mamaInbox_destroy(inbox));
    EXPECT_EQ(0, gDestroys); // mamaInbox_create registers no application destroy callback
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_destroy(mFake.mQueue));
    mFake.mQueue = nullptr;
}

TEST_F(InboxTest, ByIndexUsesTheBridgesIndexedCreate)
{
    mamaInbox inbox = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaInbox_createByIndex(&inbox, mFake.mTransport, 0, mFake.mQueue,
                                                      onMsg, onError, nullptr));
    EXPECT_TRUE(objfake::called("Inbox_createByIndex"));
    EXPECT_EQ(MAMA_STATUS_OK, mamaInbox_destroy(inbox));
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG,
              mamaInbox_createByIndex(&inbox, mFake.mTransport, -1, mFake.mQueue, onMsg, onError,
                                      nullptr));
}

TEST_F(InboxTest, CreateRejectsMissingArguments)
{
    mamaInbox inbox = nullptr;
    EXPECT_EQ(MAMA_STATUS_NULL_ARG,
              mamaInbox_create(nullptr, mFake.mTransport, mFake.mQueue, onMsg, onError, nullptr));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG,
              mamaInbox_create(&inbox, nullptr, mFake.mQueue, onMsg, onError, nullptr));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG,
              mamaInbox_create(&inbox, mFake.mTransport, mFake.mQueue, nullptr, onError, nullptr));
    EXPECT_EQ(MAMA_STATUS_INVALID_QUEUE,
              mamaInbox_create(&inbox, mFake.mTransport, nullptr, onMsg, onError, nullptr));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaInbox_destroy(nullptr));
    EXPECT_EQ(nullptr, mamaInboxImpl_getInboxBridge(nullptr));
    EXPECT_TRUE(objfake::world().mCalls.empty());
}
} // namespace
