/* Flow control at a suspended session's hold: under the "wait" policy a
 * sender waits for room instead of the session discarding, threads that may
 * not wait are held beyond the limit up to twice it, an expired wait and the
 * "discard" policy discard with the indication, and destroying the session
 * releases a waiting sender. */
#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>

#include "clientTestSupport.h"

using namespace corvextest;

namespace
{
/* Sends the sender's number and the message's index as its content. */
corvexClient_returnCode_t sendIndexed(corvexClient_session_t session, const char* topic,
                                      uint32_t sender, uint32_t index)
{
    const uint32_t packed[2] = {sender, index};
    corvexClient_msg_t msg = nullptr;
    corvexClient_msg_alloc(&msg);
    corvexClient_msg_setTopicPtr(msg, topic);
    corvexClient_msg_setBinaryAttachmentPtr(msg, packed, sizeof(packed));
    const corvexClient_returnCode_t code = corvexClient_session_sendMsg(session, msg);
    corvexClient_msg_free(&msg);
    return code;
}

/* Checks that each sender's messages arrive in order: a message's content
 * is its sender's number and its index. */
struct Sequence
{
    static constexpr int kSenders = 8;

    std::mutex mLock;
    std::condition_variable mChanged;
    uint64_t mNext[kSenders] = {};
    uint64_t mCount = 0;
    uint64_t mOutOfOrder = 0;
    std::vector<uint64_t> mDiscardsAt; /* counts at which a message carried the indication */

    static int onMessage(corvexClient_session_t, corvexClient_msg_t msg, void* user)
    {
        Sequence* sequence = static_cast<Sequence*>(user);
        void* content = nullptr;
        uint32_t size = 0;
        uint32_t packed[2] = {0, 0};
        if (corvexClient_msg_getBinaryAttachmentPtr(msg, &content, &size) == CORVEXCLIENT_OK &&
            size == sizeof(packed))
            std::memcpy(packed, content, sizeof(packed));
        const bool discard = corvexClient_msg_isDiscardIndication(msg) != 0;
        std::lock_guard<std::mutex> guard(sequence->mLock);
        const uint32_t sender = packed[0] % kSenders;
        if (packed[1] != sequence->mNext[sender])
            ++sequence->mOutOfOrder;
        sequence->mNext[sender] = packed[1] + 1;
        if (discard)
            sequence->mDiscardsAt.push_back(sequence->mCount);
        ++sequence->mCount;
        sequence->mChanged.notify_all();
        return CORVEXCLIENT_CALLBACK_OK;
    }

    bool waitFor(uint64_t count, std::chrono::milliseconds limit = WAIT_LIMIT)
    {
        std::unique_lock<std::mutex> lock(mLock);
        return mChanged.wait_for(lock, limit, [&] { return mCount >= count; });
    }
    uint64_t count()
    {
        std::lock_guard<std::mutex> guard(mLock);
        return mCount;
    }
};

class FlowWaitTest : public ClientTest
{
  protected:
    void subscribeSequence(corvexClient_session_t session, const char* topic, Sequence& sequence)
    {
        CorvexDispatchInfo dispatch{CORVEXCLIENT_DISPATCH_TYPE_CALLBACK, Sequence::onMessage,
                                    &sequence, nullptr};
        ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_topicSubscribeWithDispatch(
                                       session, CORVEXCLIENT_SUBSCRIBE_FLAGS_WAIT_FOR_CONFIRM,
                                       topic, &dispatch, nullptr));
    }

    static uint64_t number(corvexClient_session_t session, const char* name)
    {
        char buffer[32] = "";
        EXPECT_EQ(CORVEXCLIENT_OK,
                  corvexClient_session_getProperty(session, name, buffer, sizeof(buffer)));
        return std::strtoull(buffer, nullptr, 10);
    }

    /* Suspends the receiver until a sender has waited for it (or every
     * sender is done), then resumes it and lets it deliver a part of its
     * hold; repeated until the senders are done. Answers the cycles run. */
    int cycleUntilDone(corvexClient_session_t receiver, corvexClient_session_t publisher,
                       Sequence& sequence, const std::atomic<int>& running, uint64_t progress)
    {
        int cycles = 0;
        uint64_t waits = 0; /* counted before the last resume: waits begun since are new */
        while (running.load() > 0)
        {
            EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_session_suspend(receiver));
            /* Senders that already waited before the last resume and are
             * still waiting start no new wait: once one has waited, the
             * suspension is bounded by half a second. */
            pollUntil(
                [&]
                {
                    return running.load() == 0 ||
                           number(publisher, CORVEXCLIENT_SESSION_PROP_PUBLISH_WAITS) != waits;
                },
                waits == 0 ? WAIT_LIMIT : std::chrono::milliseconds(500));
            const uint64_t before = sequence.count();
            waits = number(publisher, CORVEXCLIENT_SESSION_PROP_PUBLISH_WAITS);
            EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_session_resume(receiver));
            EXPECT_TRUE(sequence.waitFor(before + progress) || running.load() == 0);
            ++cycles;
        }
        return cycles;
    }

    /* Resumes the suspended receiver, then sends message `next` from
     * `sender`: the receiver is given the `held` messages of its hold, in
     * order, then `next` with the indication of what was discarded. */
    void expectHoldDelivered(corvexClient_session_t receiver, corvexClient_session_t sender,
                             const char* topic, Sequence& sequence, uint64_t held, uint32_t next)
    {
        ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_resume(receiver));
        ASSERT_EQ(CORVEXCLIENT_OK, sendIndexed(sender, topic, 0, next));
        ASSERT_TRUE(sequence.waitFor(held + 1));
        drain(receiver);
        EXPECT_EQ(held + 1, sequence.count());
        EXPECT_EQ(std::vector<uint64_t>({held}), sequence.mDiscardsAt);
    }
};

/* Posts from the context thread: the receiver's callback suspends its own
 * session and sends three times its hold limit to itself. */
struct SelfSender
{
    corvexClient_session_t mSession = nullptr;
    uint32_t mCount = 0;
    std::promise<void> mDone;

    static int onMessage(corvexClient_session_t session, corvexClient_msg_t msg, void* user)
    {
        SelfSender* self = static_cast<SelfSender*>(user);
        void* content = nullptr;
        uint32_t size = 0;
        corvexClient_msg_getBinaryAttachmentPtr(msg, &content, &size);
        if (size == 2 && std::memcmp(content, "go", 2) == 0)
        {
            corvexClient_session_suspend(session);
            for (uint32_t i = 0; i < self->mCount; ++i)
                sendIndexed(session, "self/x", 0, i);
            self->mDone.set_value();
        }
        return CORVEXCLIENT_CALLBACK_OK;
    }
};
} // namespace

TEST_F(FlowWaitTest, FastPublisherWaitsForASuspendedSubscriberAndLosesNothing)
{
    corvexClient_session_t receiver = session();
    corvexClient_session_t publisher = session();
    Sequence sequence;
    subscribeSequence(receiver, "fw/x", sequence);
    constexpr uint32_t kCount = 1000000;
    constexpr uint64_t kLimit = 100000; /* the default hold limit */
    std::atomic<int> running{1};
    const auto start = std::chrono::steady_clock::now();
    std::thread sender(
        [&]
        {
            for (uint32_t i = 0; i < kCount; ++i)
                EXPECT_EQ(CORVEXCLIENT_OK, sendIndexed(publisher, "fw/x", 0, i));
            running.store(0);
        });
    const int cycles = cycleUntilDone(receiver, publisher, sequence, running, kLimit / 2);
    sender.join();
    ASSERT_TRUE(sequence.waitFor(kCount));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    EXPECT_EQ(kCount, sequence.count());
    EXPECT_EQ(0u, sequence.mOutOfOrder);
    EXPECT_TRUE(sequence.mDiscardsAt.empty());
    const uint64_t waits = number(publisher, CORVEXCLIENT_SESSION_PROP_PUBLISH_WAITS);
    const uint64_t peak = number(receiver, CORVEXCLIENT_SESSION_PROP_SUSPEND_HELD_PEAK);
    EXPECT_GT(waits, 0u);
    EXPECT_GT(number(publisher, CORVEXCLIENT_SESSION_PROP_PUBLISH_WAIT_US), 0u);
    EXPECT_GT(peak, 0u);
    EXPECT_LE(peak, kLimit + 1) << "one sender holds at most its one message beyond the limit";
    EXPECT_EQ(0u, number(receiver, CORVEXCLIENT_SESSION_PROP_PUBLISH_WAITS))
        << "counted on the sending session";
    std::printf("%u messages in %.2f s (%.0f/s), %d suspensions, %llu waits, %llu us waited, peak "
                "held %llu\n",
                kCount, seconds, kCount / seconds, cycles, static_cast<unsigned long long>(waits),
                static_cast<unsigned long long>(
                    number(publisher, CORVEXCLIENT_SESSION_PROP_PUBLISH_WAIT_US)),
                static_cast<unsigned long long>(peak));
}

TEST_F(FlowWaitTest, SeveralWaitingPublishersKeepTheirOrder)
{
    corvexClient_session_t receiver = session({"SESSION_SUSPEND_HOLD_LIMIT", "1000"});
    corvexClient_session_t publisher = session();
    Sequence sequence;
    subscribeSequence(receiver, "fw/many", sequence);
    constexpr int kThreads = 4;
    constexpr uint32_t kEach = 50000;
    std::atomic<int> running{kThreads};
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t)
    {
        senders.emplace_back(
            [&, t]
            {
                for (uint32_t i = 0; i < kEach; ++i)
                    EXPECT_EQ(CORVEXCLIENT_OK,
                              sendIndexed(publisher, "fw/many", static_cast<uint32_t>(t), i));
                running.fetch_sub(1);
            });
    }
    cycleUntilDone(receiver, publisher, sequence, running, 500);
    for (std::thread& sender : senders)
        sender.join();
    ASSERT_TRUE(sequence.waitFor(kThreads * kEach));
    EXPECT_EQ(static_cast<uint64_t>(kThreads * kEach), sequence.count());
    EXPECT_EQ(0u, sequence.mOutOfOrder);
    EXPECT_TRUE(sequence.mDiscardsAt.empty());
    EXPECT_GT(number(publisher, CORVEXCLIENT_SESSION_PROP_PUBLISH_WAITS), 0u);
    EXPECT_LE(number(receiver, CORVEXCLIENT_SESSION_PROP_SUSPEND_HELD_PEAK), 1000u + kThreads);
}

TEST_F(FlowWaitTest, DiscardPolicyAndAnExpiredWaitDiscardWithTheIndication)
{
    const char* bad[] = {"SESSION_SUSPEND_HOLD_POLICY", "drop", nullptr};
    corvexClient_session_t refused = nullptr;
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_session_create(bad, mContext, &refused, nullptr, 0));
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_BAD_PROPERTY_VALUE, corvexClient_getLastErrorInfo()->mSubCode);

    struct Case
    {
        const char* mPolicy;
        const char* mWaitMs;
        uint64_t mWaits;
    };
    const Case cases[] = {{"discard", "60000", 0}, {"wait", "100", 1}};
    int round = 0;
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.mPolicy);
        corvexClient_session_t receiver =
            session({"SESSION_SUSPEND_HOLD_LIMIT", "100", "SESSION_SUSPEND_HOLD_POLICY", c.mPolicy,
                     "SESSION_SUSPEND_HOLD_WAIT_MS", c.mWaitMs});
        corvexClient_session_t publisher = session();
        const std::string topic = "fw/d" + std::to_string(round++);
        Sequence sequence;
        subscribeSequence(receiver, topic.c_str(), sequence);
        ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_suspend(receiver));
        const auto start = std::chrono::steady_clock::now();
        for (uint32_t i = 0; i < 150; ++i)
            ASSERT_EQ(CORVEXCLIENT_OK, sendIndexed(publisher, topic.c_str(), 0, i));
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30))
            << "no second wait";
        drain(publisher);
        EXPECT_EQ(c.mWaits, number(publisher, CORVEXCLIENT_SESSION_PROP_PUBLISH_WAITS));
        if (c.mWaits)
        {
            EXPECT_GE(number(publisher, CORVEXCLIENT_SESSION_PROP_PUBLISH_WAIT_US), 100000u);
        }
        /* 0..99 in order, 100..149 discarded, 150 carries the indication. */
        expectHoldDelivered(receiver, publisher, topic.c_str(), sequence, 100, 150);
        EXPECT_EQ(1u, sequence.mOutOfOrder);
        EXPECT_EQ(100u, number(receiver, CORVEXCLIENT_SESSION_PROP_SUSPEND_HELD_PEAK));
    }
}

TEST_F(FlowWaitTest, SendsThatMayNotWaitAreHeldUpToTwiceTheLimitAndNeverHang)
{
    /* From the subscriber's own callback, on its context thread. */
    corvexClient_session_t self =
        session({"SESSION_SUSPEND_HOLD_LIMIT", "100", "SESSION_SUSPEND_HOLD_WAIT_MS", "60000"});
    SelfSender selfSender;
    selfSender.mSession = self;
    selfSender.mCount = 300;
    Sequence sequence;
    CorvexDispatchInfo go{CORVEXCLIENT_DISPATCH_TYPE_CALLBACK, SelfSender::onMessage, &selfSender,
                          nullptr};
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClient_session_topicSubscribeWithDispatch(self, 2, "self/go", &go, nullptr));
    subscribeSequence(self, "self/x", sequence);
    std::future<void> done = selfSender.mDone.get_future();
    ASSERT_EQ(CORVEXCLIENT_OK, send(self, "self/go", "go"));
    ASSERT_EQ(std::future_status::ready, done.wait_for(WAIT_LIMIT));
    EXPECT_EQ(0u, number(self, CORVEXCLIENT_SESSION_PROP_PUBLISH_WAITS));
    expectHoldDelivered(self, self, "self/x", sequence, 200, 300);

    /* From a thread that declared it may not wait. */
    corvexClient_session_t receiver =
        session({"SESSION_SUSPEND_HOLD_LIMIT", "100", "SESSION_SUSPEND_HOLD_WAIT_MS", "60000"});
    corvexClient_session_t publisher = session();
    Sequence declared;
    subscribeSequence(receiver, "nowait/x", declared);
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_suspend(receiver));
    std::thread dispatcher(
        [&]
        {
            EXPECT_EQ(1, corvexClient_thread_setSendMayWait(0));
            for (uint32_t i = 0; i < 300; ++i)
                EXPECT_EQ(CORVEXCLIENT_OK, sendIndexed(publisher, "nowait/x", 0, i));
            EXPECT_EQ(0, corvexClient_thread_setSendMayWait(1));
        });
    dispatcher.join();
    drain(publisher);
    EXPECT_EQ(200u, number(receiver, CORVEXCLIENT_SESSION_PROP_SUSPEND_HELD_PEAK));
    EXPECT_EQ(0u, number(publisher, CORVEXCLIENT_SESSION_PROP_PUBLISH_WAITS));
    expectHoldDelivered(receiver, publisher, "nowait/x", declared, 200, 300);
    EXPECT_EQ(1u, declared.mOutOfOrder);
}

TEST_F(FlowWaitTest, DestroyingTheSessionReleasesAWaitingPublisher)
{
    corvexClient_session_t receiver =
        session({"SESSION_SUSPEND_HOLD_LIMIT", "10", "SESSION_SUSPEND_HOLD_WAIT_MS", "60000"});
    corvexClient_session_t publisher = session();
    Sequence sequence;
    subscribeSequence(receiver, "close/x", sequence);
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_suspend(receiver));
    std::promise<void> filled;
    std::future<void> returned =
        std::async(std::launch::async,
                   [&]
                   {
                       for (uint32_t i = 0; i < 10; ++i)
                           EXPECT_EQ(CORVEXCLIENT_OK, sendIndexed(publisher, "close/x", 0, i));
                       filled.set_value();
                       EXPECT_EQ(CORVEXCLIENT_OK, sendIndexed(publisher, "close/x", 0, 10));
                   });
    ASSERT_EQ(std::future_status::ready, filled.get_future().wait_for(WAIT_LIMIT));
    EXPECT_EQ(std::future_status::timeout, returned.wait_for(std::chrono::milliseconds(200)))
        << "the eleventh send waits for room";
    corvexClient_session_t& handle = mSessions[mSessions.size() - 2];
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_destroy(&handle));
    ASSERT_EQ(std::future_status::ready, returned.wait_for(WAIT_LIMIT));
    EXPECT_EQ(1u, number(publisher, CORVEXCLIENT_SESSION_PROP_PUBLISH_WAITS));
    EXPECT_LT(number(publisher, CORVEXCLIENT_SESSION_PROP_PUBLISH_WAIT_US), 30000000u);
    EXPECT_EQ(0u, sequence.count());
}
