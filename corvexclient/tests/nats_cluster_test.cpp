/* The NATS router on a cluster of three nats-servers joined by routes: a
 * publisher and a subscriber connected to different servers, each given
 * all three; the subscriber's server is killed while traffic flows. */

#include <chrono>
#include <set>

#include "clientTestSupport.h"
#include "natsServer.h"

using namespace corvextest;

namespace
{
using Clock = std::chrono::steady_clock;

long long millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class NatsClusterTest : public ClientTest
{
  protected:
    void SetUp() override
    {
        ClientTest::SetUp();
        if (!NatsServer::path())
            GTEST_SKIP() << "nats-server is not installed (scripts/setup.sh installs it)";
        ASSERT_TRUE(mCluster.start()) << "the cluster did not form";
    }

    /* A session given every server, the first'th first, caching "md/>"
     * in a stream every server keeps a copy of. */
    corvexClient_session_t clusterSession(int first, const char* clientName,
                                          ClientRecorder* recorder)
    {
        const std::string servers = mCluster.urls(first);
        return session({"SESSION_ROUTER", servers.c_str(), "SESSION_CLIENT_NAME", clientName,
                        "SESSION_ROUTER_CACHED_TOPICS", "md/>", "SESSION_ROUTER_CACHE_REPLICAS",
                        "3"},
                       true, recorder);
    }

    /* The outcome of a request for topic's last value, and the contents it
     * delivered (to the session's own callback). */
    CacheOutcome lastValue(corvexClient_cacheSession_t cache, const char* topic,
                           std::vector<std::string>* contents)
    {
        mCached.record([&] { mCached.mCacheOutcomes.clear(); });
        const corvexClient_cacheRequestId_t id = ++mRequestId;
        const uint32_t flags = CORVEXCLIENT_CACHEREQUEST_FLAGS_DELIVER_CACHED |
                               CORVEXCLIENT_CACHEREQUEST_FLAGS_NO_LIVE_SUBSCRIBE |
                               CORVEXCLIENT_CACHEREQUEST_FLAGS_NO_WAIT;
        EXPECT_EQ(CORVEXCLIENT_IN_PROGRESS,
                  corvexClient_cacheSession_sendCacheRequest(
                      cache, topic, id, ClientRecorder::onCacheEvent, &mCached, flags, 0));
        EXPECT_TRUE(mCached.waitUntil([&] { return !mCached.mCacheOutcomes.empty(); }));
        contents->clear();
        for (const ClientMsg& message :
             mSubscriber.read<std::vector<ClientMsg>>([&] { return mSubscriber.mMessages; }))
        {
            if (message.mCached == CORVEXCLIENT_MSG_CACHED && message.mRequestId == id)
                contents->push_back(message.mContent);
        }
        return mCached.read<CacheOutcome>(
            [&] {
                return mCached.mCacheOutcomes.empty() ? CacheOutcome{} : mCached.mCacheOutcomes[0];
            });
    }

    NatsCluster mCluster;
    ClientRecorder mPublisher;
    ClientRecorder mSubscriber;
    ClientRecorder mCached;
    corvexClient_cacheRequestId_t mRequestId = 0;
};

TEST_F(NatsClusterTest, KilledServersSubscriberMovesOnAndTheCacheKeepsServing)
{
    /* The first session creates the cache's stream; the subscriber is
     * connected to the server leading its copies, which is to be killed,
     * the publisher to another. */
    ClientRecorder creator;
    clusterSession(0, "creator", &creator);
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_destroy(&mSessions.back()));
    int killed = -1;
    ASSERT_TRUE(pollUntil([&] { return (killed = mCluster.streamLeader("CORVEX_CACHE")) >= 0; }));
    corvexClient_session_t publisher =
        clusterSession((killed + 1) % NatsCluster::kSize, "publisher", &mPublisher);
    corvexClient_session_t subscriber = clusterSession(killed, "subscriber", &mSubscriber);
    corvexClient_cacheSession_t cache = nullptr;
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClient_session_createCacheSession(nullptr, subscriber, &cache));
    Tagged ticks{&mSubscriber, 1};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(subscriber, "md/TICK", ticks));
    /* The subscription reaches the publisher's server over the route. */
    ASSERT_TRUE(pollUntil(
        [&]
        {
            send(publisher, "md/TICK", "-1");
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            return mSubscriber.messageCount() > 0;
        }));
    ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "md/IBM", "IBM 101.5"));
    std::vector<std::string> contents;
    ASSERT_TRUE(
        pollUntil([&] { return lastValue(cache, "md/IBM", &contents).mCode == CORVEXCLIENT_OK; }));
    EXPECT_EQ((std::vector<std::string>{"IBM 101.5"}), contents);
    mSubscriber.record([&] { mSubscriber.mMessages.clear(); });

    /* Ticks every 2 ms; the subscriber's server dies after the 100th. */
    const Clock::time_point begin = Clock::now();
    Clock::time_point killedAt;
    long long reconnectedMs = -1;
    int sent = 0;
    for (; sent < 100 || (reconnectedMs < 0 || mSubscriber.messageCount() < 150); ++sent)
    {
        ASSERT_LT(millisecondsSince(begin), 20000) << "traffic did not resume";
        ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "md/TICK", std::to_string(sent)));
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (sent == 100)
        {
            killedAt = Clock::now();
            mCluster.mServers[killed].stop();
        }
        if (sent > 100 && reconnectedMs < 0 &&
            mSubscriber.read<bool>(
                [&]
                {
                    for (const Event& event : mSubscriber.mEvents)
                        if (event.mEvent == CORVEXCLIENT_SESSION_EVENT_RECONNECTED)
                            return true;
                    return false;
                }))
            reconnectedMs = millisecondsSince(killedAt);
    }
    const std::vector<int> expected = {CORVEXCLIENT_SESSION_EVENT_RECONNECTING,
                                       CORVEXCLIENT_SESSION_EVENT_RECONNECTED};
    EXPECT_EQ(expected, mSubscriber.read<std::vector<int>>(
                            [&]
                            {
                                std::vector<int> events;
                                for (const Event& event : mSubscriber.mEvents)
                                    events.push_back(event.mEvent);
                                return events;
                            }));
    /* The publisher's server stayed. */
    EXPECT_TRUE(mPublisher.read<bool>([&] { return mPublisher.mEvents.empty(); }));
    /* The library waits 250 ms between attempts on one server; another one
     * is tried at once. */
    EXPECT_LT(reconnectedMs, 1000);

    /* What was sent while the subscriber had no server is missing, the
     * rest in order. */
    const std::vector<ClientMsg> received =
        mSubscriber.read<std::vector<ClientMsg>>([&] { return mSubscriber.mMessages; });
    int previous = -1;
    int missing = 0;
    int firstAfter = -1;
    bool flagged = false;
    int gaps = 0;
    int unflaggedGaps = 0;
    int indications = 0;
    for (const ClientMsg& message : received)
    {
        if (message.mTopic != "md/TICK")
            continue;
        const int number = std::stoi(message.mContent);
        ASSERT_GT(number, previous) << "out of order";
        indications += message.mDiscard ? 1 : 0;
        if (number != previous + 1)
        {
            ++gaps;
            unflaggedGaps += message.mDiscard ? 0 : 1;
            if (firstAfter < 0)
            {
                firstAfter = number;
                flagged = message.mDiscard;
            }
        }
        missing += number - previous - 1;
        previous = number;
    }
    /* The outage is reported once, on the first message after it: every
     * loss it caused ends there. */
    EXPECT_EQ(1, indications);
    EXPECT_EQ(0, unflaggedGaps) << gaps << " gaps";
    ASSERT_TRUE(pollUntil([&] { return mSubscriber.messageCount() >= received.size(); }));
    std::cout << "    reconnected to another server " << reconnectedMs << " ms after the kill; "
              << missing << " of " << sent << " ticks missed"
              << (missing ? ", resuming at tick " + std::to_string(firstAfter) : std::string())
              << (missing ? (flagged ? " (flagged as discarded)" : " (not flagged)") : "")
              << std::endl;

    /* The stream lost its leading copy: the cache answers again once the
     * cluster has chosen another leader, with the value stored before and
     * with one stored since. */
    const Clock::time_point asked = Clock::now();
    std::set<std::string> meanwhile;
    ASSERT_TRUE(pollUntil(
        [&]
        {
            const CacheOutcome outcome = lastValue(cache, "md/IBM", &contents);
            if (outcome.mCode != CORVEXCLIENT_OK)
                meanwhile.insert(corvexClient_subCodeToString(outcome.mSubCode));
            return outcome.mCode == CORVEXCLIENT_OK;
        },
        std::chrono::seconds(20)));
    EXPECT_EQ((std::vector<std::string>{"IBM 101.5"}), contents);
    std::cout << "    the cache answered " << millisecondsSince(killedAt)
              << " ms after the kill (asked from "
              << millisecondsSince(killedAt) - millisecondsSince(asked)
              << " ms); before, requests completed with:";
    for (const std::string& subCode : meanwhile)
        std::cout << " " << subCode;
    std::cout << std::endl;
    ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "md/IBM", "IBM 102"));
    ASSERT_TRUE(pollUntil(
        [&]
        {
            return lastValue(cache, "md/IBM", &contents).mCode == CORVEXCLIENT_OK &&
                   contents == std::vector<std::string>{"IBM 102"};
        },
        std::chrono::seconds(20)));
    EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_cacheSession_destroy(&cache));
}
} // namespace
