/* End to end, a publisher much faster than its subscriber in the same
 * process: the full event queue suspends the session, the session's full
 * hold makes the publisher wait, and every message arrives in order. */
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "receptionFixture.h"

namespace
{
uint64_t sessionNumber(corvexClient_session_t session, const char* name)
{
    char buffer[32] = "";
    EXPECT_EQ(CORVEXCLIENT_OK,
              corvexClient_session_getProperty(session, name, buffer, sizeof(buffer)));
    return std::strtoull(buffer, nullptr, 10);
}
} // namespace

TEST_F(ReceptionTest, AFastPublisherWaitsForTheSuspendedSubscriberAndLosesNothing)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    /* Instrumented publishers are several times slower: fewer messages, and
     * a smaller hold so that they still fill it. */
    const int64_t count = 500000;
    const uint64_t holdLimit = 10000;
    mama_setProperty("mama.corvex.transport.t1.SESSION_SUSPEND_HOLD_LIMIT", "10000");
#else
    const int64_t count = 2000000;
    const uint64_t holdLimit = 100000; /* the default */
#endif
    start("1000");
    mamaQueue queue = addQueue();
    MsgRecorder& received = subscribe(queue, "L.X");
    std::atomic<int64_t> next(1);
    std::atomic<int64_t> outOfOrder(0);
    corvexClient_session_t session = mCorvexTransport->mSession;
    received.mOnMsg = [&](mamaMsg msg)
    {
        mama_i64_t seq = -1;
        mamaMsg_getI64(msg, TEST_SEQ_NAME, TEST_SEQ_FID, &seq);
        if (seq == 1)
        {
            /* However fast either side runs, the subscriber stalls until the
             * publisher has had to wait for room (bounded). */
            pollUntil(
                [session]
                { return sessionNumber(session, CORVEXCLIENT_SESSION_PROP_PUBLISH_WAITS) != 0; },
                std::chrono::seconds(30));
        }
        if (seq != next.load())
        {
            outOfOrder.fetch_add(1);
        }
        next.store(seq + 1);
        /* A subscriber a little slower than the publisher. */
        const auto until = std::chrono::steady_clock::now() + std::chrono::nanoseconds(500);
        while (std::chrono::steady_clock::now() < until)
        {
        }
    };
    mamaPublisher publisher = addPublisher("L.X");
    const auto begin = std::chrono::steady_clock::now();
    for (int64_t seq = 1; seq <= count; ++seq)
    {
        send(publisher, seq);
    }
    ASSERT_TRUE(received.waitForMessages(count, std::chrono::seconds(100)));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    EXPECT_EQ(static_cast<size_t>(count), received.messageCount());
    EXPECT_EQ(0, outOfOrder.load());
    EXPECT_EQ(count + 1, next.load());
    EXPECT_EQ(0u, LogCapture::count("Discarding message with topic"));
    const uint64_t waits = sessionNumber(session, CORVEXCLIENT_SESSION_PROP_PUBLISH_WAITS);
    const uint64_t peak = sessionNumber(session, CORVEXCLIENT_SESSION_PROP_SUSPEND_HELD_PEAK);
    EXPECT_GT(waits, 0u);
    EXPECT_LE(peak, holdLimit + 1);
    std::printf("%lld messages in %.2f s (%.0f/s), %llu waits, %llu us waited, peak held %llu\n",
                static_cast<long long>(count), seconds, count / seconds,
                static_cast<unsigned long long>(waits),
                static_cast<unsigned long long>(
                    sessionNumber(session, CORVEXCLIENT_SESSION_PROP_PUBLISH_WAIT_US)),
                static_cast<unsigned long long>(peak));
}
