/* Delivery: ordering, ownership of kept messages, suspension with its
 * bounded hold buffer, and sending from several threads at once. */
#include <atomic>
#include <chrono>

#include "clientTestSupport.h"

using namespace corvextest;

namespace
{
class DeliveryTest : public ClientTest
{
  protected:
    std::vector<ClientMsg> messages()
    {
        return mRecorder.read<std::vector<ClientMsg>>([&] { return mRecorder.mMessages; });
    }
};

} // namespace

TEST_F(DeliveryTest, EachPublisherIsReceivedInPublishOrderIncludingItsOwnSubscription)
{
    corvexClient_session_t a = session();
    corvexClient_session_t b = session();
    Tagged onA{&mRecorder, 1};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(a, "seq/>", onA));
    constexpr int kCount = 2000;
    std::thread other(
        [&]
        {
            for (int i = 0; i < kCount; ++i)
                send(b, "seq/b", std::to_string(i));
        });
    for (int i = 0; i < kCount; ++i)
    {
        ASSERT_EQ(CORVEXCLIENT_OK, send(a, "seq/a", std::to_string(i)));
    }
    other.join();
    ASSERT_TRUE(mRecorder.waitForMessages(2 * kCount));
    int next[2] = {0, 0};
    for (const ClientMsg& message : messages())
    {
        const int from = message.mTopic == "seq/a" ? 0 : 1;
        EXPECT_EQ(std::to_string(next[from]), message.mContent) << message.mTopic;
        ++next[from];
    }
    EXPECT_EQ(kCount, next[0]);
    EXPECT_EQ(kCount, next[1]);
}

TEST_F(DeliveryTest, MessageWhoseEntryWasRemovedGoesToSessionCallback)
{
    corvexClient_session_t receiver = session();
    corvexClient_session_t publisher = session();
    Tagged tagged{&mRecorder, 1};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(receiver, "u/x", tagged));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_suspend(receiver));
    ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "u/x", "held"));
    drain(publisher);
    CorvexDispatchInfo dispatch = dispatchTo(tagged);
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_topicUnsubscribeWithDispatch(
                                   receiver, 0, "u/x", &dispatch, nullptr));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_resume(receiver));
    ASSERT_TRUE(mRecorder.waitForMessages(1));
    EXPECT_EQ("held", messages()[0].mContent);
    EXPECT_EQ(nullptr, messages()[0].mUser);
}

TEST_F(DeliveryTest, KeptMessageIsSharedByEveryKeeperAndFreedOnAnyThread)
{
    corvexClient_session_t session = this->session();
    MsgKeeper first;
    MsgKeeper second;
    CorvexDispatchInfo one{CORVEXCLIENT_DISPATCH_TYPE_CALLBACK, MsgKeeper::onMessage, &first,
                           nullptr};
    CorvexDispatchInfo two{CORVEXCLIENT_DISPATCH_TYPE_CALLBACK, MsgKeeper::onMessage, &second,
                           nullptr};
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClient_session_topicSubscribeWithDispatch(session, 2, "keep/x", &one, nullptr));
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClient_session_topicSubscribeWithDispatch(session, 2, "keep/*", &two, nullptr));
    const std::string content(300, 'k');
    ASSERT_EQ(CORVEXCLIENT_OK, send(session, "keep/x", content));
    ASSERT_TRUE(first.waitFor(1));
    ASSERT_TRUE(second.waitFor(1));
    corvexClient_msg_t a = first.mKept[0];
    corvexClient_msg_t b = second.mKept[0];
    EXPECT_EQ(a, b);
    /* The first keeper frees on its own thread; the message stays readable
     * for the second until it frees it as well. */
    std::thread freer([&] { EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_msg_free(&a)); });
    freer.join();
    EXPECT_EQ(nullptr, a);
    void* bytes = nullptr;
    uint32_t size = 0;
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_msg_getBinaryAttachmentPtr(b, &bytes, &size));
    EXPECT_EQ(content, std::string(static_cast<char*>(bytes), size));
    EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_msg_free(&b));
}

TEST_F(DeliveryTest, SuspendedSessionHoldsThenDeliversInOrder)
{
    corvexClient_session_t receiver = session();
    corvexClient_session_t publisher = session();
    Tagged tagged{&mRecorder, 1};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(receiver, "s/x", tagged));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_suspend(receiver));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_suspend(receiver));
    for (int i = 0; i < 10; ++i)
        send(publisher, "s/x", std::to_string(i));
    /* Once the publisher's own traffic has been handled, the receiver's has
     * been too: held, not delivered. */
    drain(publisher);
    EXPECT_EQ(0u, mRecorder.messageCount());
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_resume(receiver));
    send(publisher, "s/x", "10");
    ASSERT_TRUE(mRecorder.waitForMessages(11));
    const std::vector<ClientMsg> got = messages();
    for (int i = 0; i <= 10; ++i)
    {
        EXPECT_EQ(std::to_string(i), got[i].mContent);
        EXPECT_FALSE(got[i].mDiscard);
    }
}

TEST_F(DeliveryTest, HoldBufferOverflowDiscardsAndMarksNextMessage)
{
    corvexClient_session_t receiver = session({"SESSION_SUSPEND_HOLD_LIMIT", "5"});
    corvexClient_session_t publisher = session();
    Tagged tagged{&mRecorder, 1};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(receiver, "h/x", tagged));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_suspend(receiver));
    for (int i = 0; i < 8; ++i)
        send(publisher, "h/x", std::to_string(i));
    drain(publisher);
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_resume(receiver));
    ASSERT_TRUE(mRecorder.waitForMessages(5));
    send(publisher, "h/x", "8");
    send(publisher, "h/x", "9");
    ASSERT_TRUE(mRecorder.waitForMessages(7));
    const std::vector<ClientMsg> got = messages();
    ASSERT_EQ(7u, got.size());
    for (int i = 0; i < 5; ++i)
    {
        EXPECT_EQ(std::to_string(i), got[i].mContent);
        EXPECT_FALSE(got[i].mDiscard);
    }
    /* 5, 6 and 7 were discarded: the next message carries the indication. */
    EXPECT_EQ("8", got[5].mContent);
    EXPECT_TRUE(got[5].mDiscard);
    EXPECT_FALSE(got[6].mDiscard);
}

/* A suspended session holds messages up to a number of bytes as well: of
 * eight 10 KB messages a 45 KB hold takes four, discards the rest, and the
 * next message after them carries the indication. The session tells the
 * most bytes it held. */
TEST_F(DeliveryTest, HoldBoundedInBytesDiscardsAndMarksNextMessage)
{
    corvexClient_session_t receiver = session(
        {"SESSION_SUSPEND_HOLD_BYTES_LIMIT", "45000", "SESSION_SUSPEND_HOLD_POLICY", "discard"});
    corvexClient_session_t publisher = session();
    Tagged tagged{&mRecorder, 1};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(receiver, "b/x", tagged));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_suspend(receiver));
    const std::string padding(10000, 'p');
    for (int i = 0; i < 8; ++i)
        send(publisher, "b/x", std::to_string(i) + padding);
    drain(publisher);
    char peak[32] = "0";
    EXPECT_EQ(CORVEXCLIENT_OK,
              corvexClient_session_getProperty(receiver, "SESSION_SUSPEND_HELD_BYTES_PEAK", peak,
                                               sizeof(peak)));
    EXPECT_LE(std::stoull(peak), 45000u);
    EXPECT_GE(std::stoull(peak), 40000u);
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_resume(receiver));
    ASSERT_TRUE(mRecorder.waitForMessages(4));
    send(publisher, "b/x", "8");
    send(publisher, "b/x", "9");
    ASSERT_TRUE(mRecorder.waitForMessages(6));
    const std::vector<ClientMsg> got = messages();
    ASSERT_EQ(6u, got.size());
    for (int i = 0; i < 4; ++i)
    {
        EXPECT_EQ(std::to_string(i) + padding, got[i].mContent);
        EXPECT_FALSE(got[i].mDiscard);
    }
    EXPECT_EQ("8", got[4].mContent);
    EXPECT_TRUE(got[4].mDiscard);
    EXPECT_FALSE(got[5].mDiscard);
}

TEST_F(DeliveryTest, InjectedDiscardIndicationMarksOneMessage)
{
    corvexClient_session_t session = this->session();
    Tagged tagged{&mRecorder, 1};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(session, "d/x", tagged));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClientTest_injectDiscardIndication(session));
    send(session, "d/x", "1");
    send(session, "d/x", "2");
    ASSERT_TRUE(mRecorder.waitForMessages(2));
    EXPECT_TRUE(messages()[0].mDiscard);
    EXPECT_FALSE(messages()[1].mDiscard);
}

TEST_F(DeliveryTest, SendsFromSeveralThreadsAtOnceAllArrive)
{
    corvexClient_session_t receiver = session();
    corvexClient_session_t publisher = session();
    std::atomic<int> count{0};
    struct Counter
    {
        static int onMessage(corvexClient_session_t, corvexClient_msg_t, void* user)
        {
            static_cast<std::atomic<int>*>(user)->fetch_add(1);
            return CORVEXCLIENT_CALLBACK_OK;
        }
    };
    CorvexDispatchInfo dispatch{CORVEXCLIENT_DISPATCH_TYPE_CALLBACK, Counter::onMessage, &count,
                                nullptr};
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_topicSubscribeWithDispatch(receiver, 2, "mt/>",
                                                                               &dispatch, nullptr));
    constexpr int kThreads = 4;
    constexpr int kEach = 5000;
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t)
    {
        senders.emplace_back(
            [&, t]
            {
                const std::string topic = "mt/" + std::to_string(t);
                for (int i = 0; i < kEach; ++i)
                {
                    EXPECT_EQ(CORVEXCLIENT_OK, send(publisher, topic.c_str(), "payload"));
                }
            });
    }
    for (std::thread& sender : senders)
        sender.join();
    drain(receiver);
    EXPECT_EQ(kThreads * kEach, count.load());
}

TEST_F(DeliveryTest, SendersWaitForAFullQueueAndNothingIsLost)
{
    corvexClient_context_t small = nullptr;
    const char* properties[] = {"CONTEXT_QUEUE_LIMIT", "64", nullptr};
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_context_create(properties, &small, nullptr, 0));
    corvexClient_session_t receiver = nullptr;
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_create(nullptr, small, &receiver, nullptr, 0));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(receiver));
    struct Slow
    {
        static int onMessage(corvexClient_session_t session, corvexClient_msg_t msg, void* user)
        {
            std::this_thread::sleep_for(std::chrono::microseconds(20));
            return ClientRecorder::onMessage(session, msg, user);
        }
    };
    Tagged tagged{&mRecorder, 1};
    CorvexDispatchInfo dispatch{CORVEXCLIENT_DISPATCH_TYPE_CALLBACK, Slow::onMessage, &tagged,
                                nullptr};
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_topicSubscribeWithDispatch(receiver, 2, "slow",
                                                                               &dispatch, nullptr));
    corvexClient_session_t publisher = session();
    constexpr int kCount = 2000;
    for (int i = 0; i < kCount; ++i)
    {
        ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "slow", std::to_string(i)));
    }
    ASSERT_TRUE(mRecorder.waitForMessages(kCount));
    const std::vector<ClientMsg> got = messages();
    for (int i = 0; i < kCount; ++i)
    {
        ASSERT_EQ(std::to_string(i), got[i].mContent);
    }
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_destroy(&receiver));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_context_destroy(&small));
}
