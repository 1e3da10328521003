/* What happens to a transport's session reaches the application as MAMA
 * transport events and topic events on the transport's callback queue, on a
 * dispatch thread; subscription events complete their correlation tags. */
#include <thread>

#include <bridge.h>
#include <transportimpl.h>

#include "corvexBridge.h"
#include "flowControl.h"
#include "receptionFixture.h"
#include "synchronism.h"
#include "transportList.h"

namespace
{
struct Events
{
    std::mutex mLock;
    std::condition_variable mChanged;
    std::vector<int> mEvents;
    std::vector<std::string> mTopics;
    std::vector<std::thread::id> mThreads;

    void add(int event, const char* topic)
    {
        std::lock_guard<std::mutex> guard(mLock);
        mEvents.push_back(event);
        mTopics.push_back(topic != nullptr ? topic : "");
        mThreads.push_back(std::this_thread::get_id());
        mChanged.notify_all();
    }

    bool waitForCount(size_t count)
    {
        std::unique_lock<std::mutex> guard(mLock);
        return mChanged.wait_for(guard, std::chrono::seconds(10),
                                 [&] { return mEvents.size() >= count; });
    }
};

void MAMACALLTYPE onTransportEvent(mamaTransport, mamaTransportEvent event, short, const void*,
                                   void* closure)
{
    static_cast<Events*>(closure)->add(event, nullptr);
}

void MAMACALLTYPE onTopicEvent(mamaTransport, mamaTransportTopicEvent event, const char* topic,
                               const void*, void* closure)
{
    static_cast<Events*>(closure)->add(event, topic);
}

class SessionEventTest : public ReceptionTest
{
  protected:
    /* The transport's callbacks; delivered on `queue`, or on the bridge's
     * default queue when it is null. */
    void listen(mamaQueue queue)
    {
        mamaTransport_setTransportCallback(mTransport, onTransportEvent, &mEvents);
        mamaTransport_setTransportTopicCallback(mTransport, onTopicEvent, &mTopicEvents);
        if (queue != nullptr)
        {
            mamaTransport_setTransportCallbackQueue(mTransport, queue);
        }
    }

    void inject(corvexClient_session_event_t event, corvexClient_subCode_t subCode = 0,
                const char* info = nullptr, void* correlation = nullptr)
    {
        ASSERT_EQ(CORVEXCLIENT_OK,
                  corvexClientTest_injectSessionEvent(mCorvexTransport->mSession, event, subCode, 0,
                                                      info, correlation));
    }

    Events mEvents;
    Events mTopicEvents;
};

struct Completion
{
    int mCalls = 0;
    int mFromSessionEvent = -1;
    int32_t mCode = 99;
};

mama_status onCompleted(int fromSessionEvent, CorvexCorrelationContext* context)
{
    Completion* completion =
        *static_cast<Completion**>(corvexSynchronismManager_getContextPayload(context));
    completion->mCalls++;
    completion->mFromSessionEvent = fromSessionEvent;
    completion->mCode = corvexSynchronismManager_getContextReturnCode(context);
    return MAMA_STATUS_OK;
}
} // namespace

TEST_F(SessionEventTest, DisconnectReconnectAndFailedConnectReachTheCallbackOnItsQueue)
{
    start();
    mamaQueue queue = addQueue(false);
    listen(queue);
    inject(CORVEXCLIENT_SESSION_EVENT_DOWN);
    inject(CORVEXCLIENT_SESSION_EVENT_RECONNECTING);
    inject(CORVEXCLIENT_SESSION_EVENT_RECONNECTED);
    inject(CORVEXCLIENT_SESSION_EVENT_CONNECT_FAILED);
    ASSERT_TRUE(pollUntil([queue] { return queuedEvents(queue) >= 4; }));
    EXPECT_TRUE(mEvents.mEvents.empty()) << "nothing runs on the vendor thread";

    dispatchAll();
    ASSERT_TRUE(mEvents.waitForCount(4));
    EXPECT_EQ((std::vector<int>{MAMA_TRANSPORT_DISCONNECT, MAMA_TRANSPORT_DISCONNECT,
                                MAMA_TRANSPORT_RECONNECT, MAMA_TRANSPORT_CONNECT_FAILED}),
              mEvents.mEvents);
    EXPECT_NE(std::this_thread::get_id(), mEvents.mThreads[0]);
}

TEST_F(SessionEventTest, WithoutACallbackQueueEventsArriveOnTheDefaultQueue)
{
    start();
    listen(nullptr);
    inject(CORVEXCLIENT_SESSION_EVENT_RECONNECTING);
    mamaQueue defaultQueue = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mama_getDefaultEventQueue(mBridge, &defaultQueue));
    ASSERT_TRUE(pollUntil([defaultQueue] { return queuedEvents(defaultQueue) >= 1; }));
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_dispatchEvent(defaultQueue));
    EXPECT_EQ((std::vector<int>{MAMA_TRANSPORT_DISCONNECT}), mEvents.mEvents);
}

TEST_F(SessionEventTest, AReconnectSuspendsASessionThatFullQueuesHold)
{
    start();
    listen(addQueue());
    corvexClientTest_setRecording(1);
    inject(CORVEXCLIENT_SESSION_EVENT_RECONNECTED);
    ASSERT_TRUE(mEvents.waitForCount(1));
    EXPECT_EQ(0u, corvexClientTest_callCount("corvexClient_session_suspend"));

    ASSERT_EQ(MAMA_STATUS_OK, corvexFlowControl_suspendTransport(&mCorvexTransport->mFlowControl));
    ASSERT_EQ(1u, corvexClientTest_callCount("corvexClient_session_suspend"));
    inject(CORVEXCLIENT_SESSION_EVENT_RECONNECTED);
    ASSERT_TRUE(mEvents.waitForCount(2));
    EXPECT_EQ(2u, corvexClientTest_callCount("corvexClient_session_suspend"));
    EXPECT_EQ(1u, mCorvexTransport->mFlowControl.mSuspendedQueues);
    EXPECT_EQ((std::vector<int>{MAMA_TRANSPORT_RECONNECT, MAMA_TRANSPORT_RECONNECT}),
              mEvents.mEvents);
    ASSERT_EQ(MAMA_STATUS_OK, corvexFlowControl_resumeTransport(&mCorvexTransport->mFlowControl));
}

TEST_F(SessionEventTest, ARefusedPublishReachesTheTopicCallbackWithTheDecodedSubject)
{
    start();
    listen(addQueue());
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClientTest_addAclRule("embedded", "*", "P/>", CORVEXCLIENT_TEST_ACL_PUBLISH,
                                          CORVEXCLIENT_TEST_ACL_DENY));
    mamaPublisher publisher = addPublisher("P.a/b");
    send(publisher, 1);
    ASSERT_TRUE(mTopicEvents.waitForCount(1));
    EXPECT_EQ(MAMA_TRANSPORT_TOPIC_PUBLISH_ERROR_NOT_ENTITLED, mTopicEvents.mEvents[0]);
    EXPECT_EQ("P.a/b", mTopicEvents.mTopics[0]);
    /* Written after the event was queued: it may follow the delivery. */
    EXPECT_TRUE(
        LogCapture::waitFor("Message rejected: event=CORVEXCLIENT_SESSION_EVENT_MSG_REJECTED "
                            "subCode=CORVEXCLIENT_SUBCODE_PUBLISH_NOT_PERMITTED"));
}

TEST_F(SessionEventTest, TheRejectionSubCodeChoosesTheTopicEvent)
{
    start();
    listen(addQueue());
    inject(CORVEXCLIENT_SESSION_EVENT_MSG_REJECTED, CORVEXCLIENT_SUBCODE_PUBLISH_TOPIC_INVALID,
           "for Topic 'a/b' x");
    inject(CORVEXCLIENT_SESSION_EVENT_MSG_REJECTED, CORVEXCLIENT_SUBCODE_MSG_REJECTED,
           "no topic named here");
    inject(CORVEXCLIENT_SESSION_EVENT_MSG_REJECTED, CORVEXCLIENT_SUBCODE_PUBLISH_NOT_PERMITTED,
           "Topic 'c/d");
    ASSERT_TRUE(mTopicEvents.waitForCount(3));
    EXPECT_EQ((std::vector<int>{MAMA_TRANSPORT_TOPIC_PUBLISH_ERROR_BAD_SYMBOL,
                                MAMA_TRANSPORT_TOPIC_PUBLISH_ERROR,
                                MAMA_TRANSPORT_TOPIC_PUBLISH_ERROR_NOT_ENTITLED}),
              mTopicEvents.mEvents);
    EXPECT_EQ((std::vector<std::string>{"a.b", "", "c.d"}), mTopicEvents.mTopics);
}

TEST_F(SessionEventTest, UnexpectedEventsAreOnlyLogged)
{
    start();
    listen(addQueue());
    inject(7);
    inject(8);
    inject(42);
    inject(CORVEXCLIENT_SESSION_EVENT_DOWN);
    ASSERT_TRUE(mEvents.waitForCount(1));
    EXPECT_EQ((std::vector<int>{MAMA_TRANSPORT_DISCONNECT}), mEvents.mEvents);
    EXPECT_EQ(3u, LogCapture::count("Unexpected event."));
}

TEST_F(SessionEventTest, AnEventQueuedForATransportDestroyedMeanwhileIsDropped)
{
    start();
    mamaQueue queue = addQueue(false);
    listen(queue);
    inject(CORVEXCLIENT_SESSION_EVENT_DOWN);
    ASSERT_TRUE(pollUntil([queue] { return queuedEvents(queue) >= 1; }));

    void* closure = nullptr;
    mamaBridgeImpl_getClosure(mBridge, &closure);
    CorvexTransportList* list = static_cast<CorvexBridge*>(closure)->mTransportList;
    /* The host frees its transport here; the queued node holds the bridge's. */
    ASSERT_EQ(MAMA_STATUS_OK, destroyTransport());
    EXPECT_EQ(1u, list->mCount);

    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_dispatchEvent(queue));
    EXPECT_TRUE(mEvents.mEvents.empty());
    EXPECT_EQ(0u, list->mCount);
}

TEST_F(SessionEventTest, SubscriptionEventsCompleteTheirCorrelationTagOnce)
{
    start();
    CorvexSynchronismManager manager;
    memset(&manager, 0, sizeof(manager));
    ASSERT_TRUE(corvexSynchronismManager_init(&manager));
    Completion confirmed;
    Completion refused;
    CorvexCorrelationTag* confirm =
        corvexSynchronismManager_createCorrelationTag(&manager, onCompleted);
    CorvexCorrelationTag* refuse =
        corvexSynchronismManager_createCorrelationTag(&manager, onCompleted);
    *static_cast<Completion**>(corvexSynchronismManager_getTagPayload(confirm)) = &confirmed;
    *static_cast<Completion**>(corvexSynchronismManager_getTagPayload(refuse)) = &refused;

    inject(CORVEXCLIENT_SESSION_EVENT_SUBSCRIBE_CONFIRMED, 0, "ok", confirm);
    inject(CORVEXCLIENT_SESSION_EVENT_SUBSCRIBE_REFUSED,
           CORVEXCLIENT_SUBCODE_SUBSCRIBE_NOT_PERMITTED, "no", refuse);
    inject(CORVEXCLIENT_SESSION_EVENT_SUBSCRIBE_CONFIRMED, 0, "lost");
    /* The event without a tag leaves nothing else behind: its line also
     * marks that the vendor thread has handled all three. */
    ASSERT_TRUE(LogCapture::waitFor(
        "Cannot correlate subscription event 'CORVEXCLIENT_SESSION_EVENT_SUBSCRIBE_CONFIRMED' "
        "(16) (rc 0) to the original request. Event description: lost"));
    /* Returns only once both tags are gone. */
    corvexSynchronismManager_destroy(&manager);
    EXPECT_EQ(1, confirmed.mCalls);
    EXPECT_EQ(1, confirmed.mFromSessionEvent);
    EXPECT_EQ(0, confirmed.mCode);
    EXPECT_EQ(1, refused.mCalls);
    EXPECT_EQ(-1, refused.mCode);
}

namespace
{
/* A transport callback that holds its dispatch thread until released. */
struct Blocking
{
    Signal mEntered;
    Signal mRelease;
};

void MAMACALLTYPE onBlockingEvent(mamaTransport, mamaTransportEvent, short, const void*,
                                  void* closure)
{
    Blocking* blocking = static_cast<Blocking*>(closure);
    blocking->mEntered.raise();
    blocking->mRelease.wait(std::chrono::seconds(10));
}
} // namespace

TEST_F(SessionEventTest, DestroyWaitsForAnEventCallbackRunningOnAnotherThread)
{
    start();
    Blocking blocking;
    mamaTransport_setTransportCallback(mTransport, onBlockingEvent, &blocking);
    mamaTransport_setTransportCallbackQueue(mTransport, addQueue());
    inject(CORVEXCLIENT_SESSION_EVENT_DOWN);
    ASSERT_TRUE(blocking.mEntered.wait());

    /* The host frees its transport when destroy returns: not before the
     * callback that uses it has returned. */
    Signal destroyed;
    mamaTransport transport = mTransport;
    mTransport = nullptr;
    std::thread destroyer(
        [transport, &destroyed]
        {
            EXPECT_EQ(MAMA_STATUS_OK, mamaTransport_destroy(transport));
            destroyed.raise();
        });
    EXPECT_FALSE(destroyed.wait(std::chrono::milliseconds(200)));
    blocking.mRelease.raise();
    EXPECT_TRUE(destroyed.wait());
    destroyer.join();
}
