/* The NATS router: topic levels as subject tokens, and sessions on separate
 * contexts (as in separate processes) meeting through a nats-server that
 * the tests start on a free loopback port. */

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <iostream>
#include <map>
#include <set>

#include <nats/nats.h>

#include "clientTestSupport.h"
#include "natsServer.h"
#include "router/natsSubject.h"

using namespace corvextest;

namespace
{
/* A server that speaks enough of the NATS protocol to take one client
 * (greeting, PONG to every PING) and then says `errors` to it, as a hostile
 * or broken server might. */
class ScriptedNatsServer
{
  public:
    explicit ScriptedNatsServer(std::vector<std::string> errors) : mErrors(std::move(errors))
    {
        mListener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (bind(mListener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
            listen(mListener, 1) != 0 ||
            getsockname(mListener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        mPort = ntohs(address.sin_port);
        mThread = std::thread([this] { serve(); });
    }

    ~ScriptedNatsServer()
    {
        mStop = true;
        if (mThread.joinable())
            mThread.join();
        close(mListener);
    }

    std::string url() const
    {
        return "nats://127.0.0.1:" + std::to_string(mPort);
    }

  private:
    void serve()
    {
        pollfd waiting{mListener, POLLIN, 0};
        while (!mStop && poll(&waiting, 1, 50) <= 0)
        {
        }
        if (mStop)
            return;
        const int client = accept(mListener, nullptr, nullptr);
        const std::string greeting =
            "INFO {\"server_id\":\"scripted\",\"version\":\"2.9.10\",\"proto\":1,"
            "\"headers\":true,\"max_payload\":1048576}\r\n";
        say(client, greeting);
        std::string heard;
        bool spoken = false;
        pollfd reading{client, POLLIN, 0};
        while (!mStop)
        {
            if (poll(&reading, 1, 50) <= 0)
                continue;
            char buffer[4096];
            const ssize_t got = read(client, buffer, sizeof(buffer));
            if (got <= 0)
                break;
            heard.append(buffer, static_cast<size_t>(got));
            for (size_t ping; (ping = heard.find("PING\r\n")) != std::string::npos;)
            {
                heard.erase(0, ping + 6);
                say(client, "PONG\r\n");
                if (spoken)
                    continue;
                spoken = true;
                for (const std::string& error : mErrors)
                    say(client, "-ERR '" + error + "'\r\n");
            }
        }
        close(client);
    }

    static void say(int client, const std::string& text)
    {
        ssize_t written = write(client, text.data(), text.size());
        (void)written;
    }

    std::vector<std::string> mErrors;
    int mListener = -1;
    int mPort = 0;
    std::atomic<bool> mStop{false};
    std::thread mThread;
};

/* Whether text holds a byte that is not printable ASCII. */
bool hasRawBytes(const std::string& text)
{
    return std::any_of(text.begin(), text.end(),
                       [](char c) {
                           return static_cast<unsigned char>(c) < ' ' ||
                                  static_cast<unsigned char>(c) >= 0x7f;
                       });
}

std::string toSubject(const std::string& topic)
{
    return corvexNatsSubject_fromTopic(topic.data(), topic.size());
}

std::string patternSubject(const std::string& pattern, bool* filtered)
{
    return corvexNatsSubject_fromPattern(pattern.data(), pattern.size(), filtered);
}

bool toTopic(const std::string& subject, std::string* topic)
{
    return corvexNatsSubject_toTopic(subject.data(), subject.size(), topic);
}

TEST(NatsSubjectTest, OddBytesAndEmptyLevelsRoundTrip)
{
    const std::string odd = std::string("a.b c*d>e%f\t\x01\x7f\xc3\xa9", 16);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"plain/topic", "plain.topic"},
        {odd + "/x", "a%2Eb%20c%2Ad%3Ee%25f%09%01%7F\xc3\xa9.x"},
        {"a//b", "a.%.b"},
        {"/lead", "%.lead"},
        {"%", "%25"},               /* the escape byte alone is not an empty level */
        {"a/*/b/>", "a.%2A.b.%3E"}, /* published topics have no wildcards */
        {"#P2P/v:nats:127.0.0.1:4222/client/x", "#P2P.v:nats:127%2E0%2E0%2E1:4222.client.x"},
    };
    for (const auto& entry : cases)
    {
        EXPECT_EQ(entry.second, toSubject(entry.first)) << entry.first;
        std::string back;
        EXPECT_TRUE(toTopic(entry.second, &back)) << entry.second;
        EXPECT_EQ(entry.first, back);
    }
}

TEST(NatsSubjectTest, WildcardLevelsKeepTheirMeaning)
{
    bool filtered = true;
    EXPECT_EQ("a.*.c", patternSubject("a/*/c", &filtered));
    EXPECT_FALSE(filtered);
    EXPECT_EQ("a.>", patternSubject("a/>", &filtered));
    EXPECT_FALSE(filtered);
    EXPECT_EQ(">", patternSubject(">", &filtered));
    /* A prefix before '*' cannot be said in a subject: the whole level is
     * taken and received topics are filtered. */
    EXPECT_EQ("a.*.c", patternSubject("a/AB*/c", &filtered));
    EXPECT_TRUE(filtered);
    /* '>' before the last level and '*' inside a level are plain bytes. */
    EXPECT_EQ("%3E.a%2Ab.x", patternSubject(">/a*b/x", &filtered));
    EXPECT_FALSE(filtered);
}

TEST(NatsSubjectTest, SubjectsThatAreNoTopicAreRefused)
{
    std::string topic;
    for (const char* subject : {"a.*", "a.>", "a..b", "a.", "a.%4", "a.%ZZ", "%G0"})
    {
        EXPECT_FALSE(toTopic(subject, &topic)) << subject;
    }
}

/* A subject is a topic only in the one form its topic is published on:
 * an escape of a byte that needs none, a lowercase escape, a raw byte that
 * needs one and an escaped NUL would let one topic be reached under other
 * subjects (which the server's permissions do not cover). */
TEST(NatsSubjectTest, OnlyTheCanonicalSubjectOfATopicIsATopic)
{
    std::string topic;
    for (const std::string subject : {"REL.T%00", "REL.T%00anything", "REL.%54", "REL.T%2e",
                                      "a.%41b", "a.b%25%32", "a.x*y", "a.%%", "a.%2"})
    {
        EXPECT_FALSE(toTopic(subject, &topic)) << subject;
    }
    for (const std::string subject : {"REL.T%2Ex", "a.%", "%25.%7F.%20"})
    {
        EXPECT_TRUE(toTopic(subject, &topic)) << subject;
        EXPECT_EQ(subject, toSubject(topic));
    }
}

/* Holds the thread that logs a dropped "not a topic" message (a NATS
 * subscription's delivery thread) until released, and notes the slow
 * consumer warning. */
struct DeliveryStall
{
    Signal mHeld;
    Signal mRelease;
    Signal mSlowConsumer;

    static void onLog(const corvexClient_logInfo_t* record, void* user)
    {
        DeliveryStall* stall = static_cast<DeliveryStall*>(user);
        if (std::strstr(record->mMessage, "not a topic"))
        {
            stall->mHeld.raise();
            stall->mRelease.wait();
        }
        else if (std::strstr(record->mMessage, "slow consumer"))
            stall->mSlowConsumer.raise();
    }
};

/* What the receive callback read of a message's user properties: the
 * texts and numbers under the keys it was asked for. */
struct PropertyCapture
{
    std::vector<std::string> mStringKeys;
    std::vector<std::string> mNumberKeys;
    std::mutex mLock;
    Signal mReceived;
    uint32_t mCount = 0;
    std::map<std::string, std::string> mStrings;
    std::map<std::string, int32_t> mNumbers;

    static int onMessage(corvexClient_session_t, corvexClient_msg_t msg, void* user)
    {
        PropertyCapture* capture = static_cast<PropertyCapture*>(user);
        corvexClient_container_t map = nullptr;
        if (corvexClient_msg_getUserPropertyMap(msg, &map) == CORVEXCLIENT_OK)
        {
            std::lock_guard<std::mutex> guard(capture->mLock);
            corvexClient_container_getSize(map, &capture->mCount);
            for (const std::string& key : capture->mStringKeys)
            {
                const char* text = nullptr;
                if (corvexClient_container_getStringPtr(map, key.c_str(), &text) == CORVEXCLIENT_OK)
                    capture->mStrings[key] = text;
            }
            for (const std::string& key : capture->mNumberKeys)
            {
                int32_t number = 0;
                if (corvexClient_container_getInt32(map, key.c_str(), &number) == CORVEXCLIENT_OK)
                    capture->mNumbers[key] = number;
            }
        }
        capture->mReceived.raise();
        return CORVEXCLIENT_CALLBACK_OK;
    }
};

class NatsRouterTest : public ClientTest
{
  protected:
    void SetUp() override
    {
        ClientTest::SetUp();
        const char* properties[] = {"CONTEXT_CREATE_THREAD", "1", nullptr};
        ASSERT_EQ(CORVEXCLIENT_OK,
                  corvexClient_context_create(properties, &mOtherContext, nullptr, 0));
    }

    void TearDown() override
    {
        /* A test that failed may have left a delivery thread held. */
        mStall.mRelease.raise();
        corvexClient_log_unsetCallback();
        /* Before the other context goes, which their callbacks run on. */
        destroySessions();
        if (mOtherContext)
        {
            EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_context_destroy(&mOtherContext));
        }
        ClientTest::TearDown();
    }

    void startServer(std::vector<std::string> extra = {})
    {
        if (!NatsServer::path())
            GTEST_SKIP() << "nats-server is not installed (scripts/setup.sh installs it)";
        ASSERT_TRUE(mServer.start(NatsServer::freePort(), extra)) << "nats-server did not start";
        mSelector = mServer.url();
    }

    /* A server on which user "a" (password "b") may neither subscribe to
     * nor publish on topics under "secret". */
    void startGuardedServer()
    {
        if (!NatsServer::path())
            GTEST_SKIP() << "nats-server is not installed (scripts/setup.sh installs it)";
        ASSERT_TRUE(mServer.startWithConfig(
            NatsServer::freePort(),
            "authorization { users = [ {user: a, password: b, permissions: {"
            "publish: {deny: [\"secret.>\"]}, subscribe: {deny: [\"secret.>\"]}}} ] }"))
            << "nats-server did not start";
        mSelector = mServer.url();
    }

    corvexClient_session_t guardedSession(corvexClient_context_t context, ClientRecorder* recorder,
                                          const char* clientName)
    {
        return natsSession(context, recorder, clientName,
                           {"SESSION_USERNAME", "a", "SESSION_PASSWORD", "b"});
    }

    std::vector<Event> eventsNamed(ClientRecorder& recorder, corvexClient_session_event_t event)
    {
        return recorder.read<std::vector<Event>>(
            [&]
            {
                std::vector<Event> found;
                for (const Event& seen : recorder.mEvents)
                    if (seen.mEvent == event)
                        found.push_back(seen);
                return found;
            });
    }

    /* A session on the router of the server, on the given context. */
    void expectSlowSubscriptionLossReported(std::vector<const char*> limits,
                                            const std::string& content);
    void expectFrozenServerLossReported(bool heardLate);

    corvexClient_session_t natsSession(corvexClient_context_t context, ClientRecorder* recorder,
                                       const char* clientName, std::vector<const char*> login = {})
    {
        std::vector<const char*> properties = {"SESSION_ROUTER", mSelector.c_str(),
                                               "SESSION_CLIENT_NAME", clientName};
        properties.insert(properties.end(), login.begin(), login.end());
        properties.push_back(nullptr);
        corvexClient_session_createFuncInfo_t funcInfo{};
        funcInfo.mEventInfo.mCallback = ClientRecorder::onEvent;
        funcInfo.mEventInfo.mUser = recorder;
        funcInfo.mRxMsgInfo.mCallback = ClientRecorder::onSessionMessage;
        funcInfo.mRxMsgInfo.mUser = recorder;
        corvexClient_session_t created = nullptr;
        EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_session_create(properties.data(), context, &created,
                                                               &funcInfo, sizeof(funcInfo)));
        _corvexClient_session_registerForTopicDispatchDestroy(created, onRemoval);
        mSessions.push_back(created);
        return created;
    }

    /* A connected publisher and a connected subscriber, each on a context of
     * its own, as two processes would be. */
    void connectPair(corvexClient_session_t* publisher, corvexClient_session_t* subscriber)
    {
        *publisher = natsSession(mContext, &mPublisher, "publisher");
        *subscriber = natsSession(mOtherContext, &mSubscriber, "subscriber");
        ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(*publisher));
        ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(*subscriber));
    }

    /* Sends "<prefix>/0", "<prefix>/1", ... from a thread of its own, with a
     * pause after each, until stopped (at the latest when it goes); counts
     * the sends that failed. */
    class SequencedSender
    {
      public:
        SequencedSender(NatsRouterTest* test, corvexClient_session_t session, std::string prefix,
                        std::chrono::microseconds pause, std::string content = "x")
            : mThread(
                  [this, test, session, prefix, pause, content]
                  {
                      while (!mStop)
                      {
                          const std::string topic = prefix + "/" + std::to_string(mSent++);
                          if (test->send(session, topic.c_str(), content) != CORVEXCLIENT_OK)
                              ++mRefused;
                          std::this_thread::sleep_for(pause);
                      }
                  })
        {
        }
        ~SequencedSender()
        {
            stop();
        }
        /* The number of sends made. */
        long stop()
        {
            mStop = true;
            if (mThread.joinable())
                mThread.join();
            return mSent;
        }

        std::atomic<long> mRefused{0};

      private:
        std::atomic<bool> mStop{false};
        std::atomic<long> mSent{0};
        std::thread mThread;
    };

    static void sleepOnClose(natsConnection*, void* milliseconds)
    {
        std::this_thread::sleep_for(
            std::chrono::milliseconds(reinterpret_cast<intptr_t>(milliseconds)));
    }

    /* Another user of the NATS client in this process whose callback takes
     * its time: the client runs the callbacks of every connection on one
     * thread, so the sessions hear of their connections' losses and returns
     * that much later. */
    void holdNatsCallbacks(std::chrono::milliseconds hold)
    {
        natsOptions* options = nullptr;
        natsConnection* raw = nullptr;
        ASSERT_EQ(NATS_OK, natsOptions_Create(&options));
        ASSERT_EQ(NATS_OK, natsOptions_SetURL(options, mServer.url().c_str()));
        ASSERT_EQ(NATS_OK, natsOptions_SetClosedCB(
                               options, sleepOnClose,
                               reinterpret_cast<void*>(static_cast<intptr_t>(hold.count()))));
        ASSERT_EQ(NATS_OK, natsConnection_Connect(&raw, options));
        natsOptions_Destroy(options);
        natsConnection_Destroy(raw);
    }

    /* Sends until the subscriber has one message, so that the server is
     * known to route between the two sessions. */
    void awaitRoute(corvexClient_session_t sender, const char* topic, ClientRecorder& recorder)
    {
        ASSERT_TRUE(pollUntil(
            [&]
            {
                send(sender, topic, "probe");
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                return recorder.messageCount() > 0;
            }));
    }

    /* Sends "<prefix>/<last>" and waits until the subscriber has it; then
     * what the subscriber received, its route probe ("<prefix>/probe") left
     * out. */
    void receivedThrough(corvexClient_session_t publisher, const std::string& prefix, long last,
                         std::vector<ClientMsg>* received)
    {
        const std::string marker = prefix + "/" + std::to_string(last);
        ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, marker.c_str(), "x"));
        ASSERT_TRUE(mSubscriber.waitUntil(
            [&] {
                return !mSubscriber.mMessages.empty() &&
                       mSubscriber.mMessages.back().mTopic == marker;
            }));
        *received = mSubscriber.read<std::vector<ClientMsg>>([&] { return mSubscriber.mMessages; });
        const std::string probe = prefix + "/probe";
        received->erase(std::remove_if(received->begin(), received->end(),
                                       [&](const ClientMsg& m) { return m.mTopic == probe; }),
                        received->end());
    }

    /* Where messages whose topics end in consecutive numbers ("x/0",
     * "x/1", ...) miss some: the indexes of the first one after each gap. */
    static std::vector<size_t> gapsOf(const std::vector<ClientMsg>& received)
    {
        std::vector<size_t> gaps;
        long expected = 0;
        for (size_t i = 0; i < received.size(); ++i)
        {
            const std::string& topic = received[i].mTopic;
            const long number = std::stol(topic.substr(topic.rfind('/') + 1));
            if (number != expected)
                gaps.push_back(i);
            expected = number + 1;
        }
        return gaps;
    }

    static std::vector<size_t> discardsOf(const std::vector<ClientMsg>& received)
    {
        std::vector<size_t> discards;
        for (size_t i = 0; i < received.size(); ++i)
            if (received[i].mDiscard)
                discards.push_back(i);
        return discards;
    }

    std::vector<int> eventsOf(ClientRecorder& recorder)
    {
        return recorder.read<std::vector<int>>(
            [&]
            {
                std::vector<int> events;
                for (const Event& event : recorder.mEvents)
                    events.push_back(event.mEvent);
                return events;
            });
    }

    void checkPropertiesRoundTrip(std::vector<const char*> options);

    NatsServer mServer;
    std::string mSelector;
    corvexClient_context_t mOtherContext = nullptr;
    ClientRecorder mPublisher;
    ClientRecorder mSubscriber;
    DeliveryStall mStall;
    PropertyCapture mCapture;
};

TEST_F(NatsRouterTest, SelectorNamesTheRouterAndBadServersAreRefused)
{
    mSelector = "nats://127.0.0.1:4222,nats://127.0.0.1:4223";
    corvexClient_session_t session = natsSession(mContext, &mPublisher, "named");
    char name[128] = {};
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClient_session_getProperty(session, "SESSION_ROUTER_NAME", name, sizeof(name)));
    EXPECT_STREQ("nats:127.0.0.1:4222,127.0.0.1:4223", name);

    for (const char* selector : {"nats://", "nats://h:1,", "nats://h:1,tcp://h:2",
                                 "nats://user:secret@h:1", "nats://h:1/path"})
    {
        const char* properties[] = {"SESSION_ROUTER", selector, nullptr};
        corvexClient_session_t refused = nullptr;
        EXPECT_EQ(CORVEXCLIENT_FAIL,
                  corvexClient_session_create(properties, mContext, &refused, nullptr, 0))
            << selector;
        EXPECT_EQ(CORVEXCLIENT_SUBCODE_UNSUPPORTED_ROUTER,
                  corvexClient_getLastErrorInfo()->mSubCode);
        EXPECT_EQ(nullptr, refused);
    }
}

TEST_F(NatsRouterTest, ConnectWithoutServerFailsAsRefused)
{
    mSelector = "nats://127.0.0.1:" + std::to_string(NatsServer::freePort());
    corvexClient_session_t session = natsSession(mContext, &mPublisher, "lonely");
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_session_connect(session));
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_CONNECT_REFUSED, corvexClient_getLastErrorInfo()->mSubCode);
}

TEST_F(NatsRouterTest, LoginCredentialsReachTheServer)
{
    startServer({"--user", "trader", "--pass", "s3cret"});
    if (IsSkipped())
        return;
    corvexClient_session_t wrong =
        natsSession(mContext, &mPublisher, "trader1",
                    {"SESSION_USERNAME", "trader", "SESSION_PASSWORD", "guess"});
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_session_connect(wrong));
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_LOGIN_REFUSED, corvexClient_getLastErrorInfo()->mSubCode);
    /* The refused client name is free again. */
    corvexClient_session_t right =
        natsSession(mContext, &mPublisher, "trader1",
                    {"SESSION_USERNAME", "trader", "SESSION_PASSWORD", "s3cret"});
    EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(right));
}

TEST_F(NatsRouterTest, TenThousandMessagesArriveInOrderOnPlainAndWildcardSubscriptions)
{
    startServer();
    if (IsSkipped())
        return;
    corvexClient_session_t publisher = nullptr;
    corvexClient_session_t subscriber = nullptr;
    ASSERT_NO_FATAL_FAILURE(connectPair(&publisher, &subscriber));
    Tagged plain{&mSubscriber, 1};
    Tagged wildcard{&mSubscriber, 2};
    Tagged prefix{&mSubscriber, 3};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(subscriber, "ticks/A.B/last", plain));
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(subscriber, "wild/*/>", wildcard));
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(subscriber, "pre/AB*", prefix));

    const int count = 10000;
    for (int i = 0; i < count; ++i)
    {
        const std::string content = std::to_string(i);
        ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "ticks/A.B/last", content));
        ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "wild/x y/z", content));
    }
    for (const char* topic : {"pre/AB", "pre/ABC", "pre/XAB", "pre/AB/deeper", "wild/x"})
    {
        ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, topic, "filtered"));
    }
    /* Filtered topics share one server subscription, which delivers in order. */
    ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "pre/ABend", "end"));
    ASSERT_TRUE(mSubscriber.waitUntil(
        [&]
        {
            return mSubscriber.mMessages.size() >= 2 * count + 3 &&
                   std::any_of(mSubscriber.mMessages.begin(), mSubscriber.mMessages.end(),
                               [](const ClientMsg& m) { return m.mContent == "end"; });
        }));
    std::vector<int> next(4, 0);
    std::vector<std::string> prefixed;
    for (const ClientMsg& message :
         mSubscriber.read<std::vector<ClientMsg>>([&] { return mSubscriber.mMessages; }))
    {
        const int tag = static_cast<Tagged*>(message.mUser)->mTag;
        if (tag == 3)
        {
            prefixed.push_back(message.mTopic);
            continue;
        }
        EXPECT_EQ(tag == 1 ? "ticks/A.B/last" : "wild/x y/z", message.mTopic);
        ASSERT_EQ(std::to_string(next[tag]), message.mContent) << "tag " << tag;
        ++next[tag];
    }
    EXPECT_EQ(count, next[1]);
    EXPECT_EQ(count, next[2]);
    EXPECT_EQ((std::vector<std::string>{"pre/AB", "pre/ABC", "pre/ABend"}), prefixed);
}

/* What one sender publishes on different subscriptions of a receiver
 * arrives in the order it was sent (as an inbox reply and the updates
 * around it must). */
TEST_F(NatsRouterTest, MessagesOnDifferentSubscriptionsKeepTheSendersOrder)
{
    startServer();
    if (IsSkipped())
        return;
    corvexClient_session_t publisher = nullptr;
    corvexClient_session_t subscriber = nullptr;
    ASSERT_NO_FATAL_FAILURE(connectPair(&publisher, &subscriber));
    Tagged first{&mSubscriber, 1};
    Tagged second{&mSubscriber, 2};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(subscriber, "order/a", first));
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(subscriber, "order/b", second));
    awaitRoute(publisher, "order/b", mSubscriber);
    mSubscriber.record([&] { mSubscriber.mMessages.clear(); });
    const int count = 5000;
    std::vector<std::string> sent;
    for (int i = 0; i < count; ++i)
    {
        const std::string topic = i % 3 == 0 ? "order/b" : "order/a";
        sent.push_back(topic + "=" + std::to_string(i));
        ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, topic.c_str(), std::to_string(i)));
    }
    ASSERT_TRUE(mSubscriber.waitForMessages(count));
    std::vector<std::string> received;
    for (const ClientMsg& message :
         mSubscriber.read<std::vector<ClientMsg>>([&] { return mSubscriber.mMessages; }))
        received.push_back(message.mTopic + "=" + message.mContent);
    EXPECT_EQ(sent, received);
}

/* Senders on several threads of one session, each alternating single
 * messages with pauses between them and bursts: a message goes out from its
 * sender at once or with others a moment later, and whichever way, every
 * message arrives once, in each sender's order, over a connection that
 * never drops. */
TEST_F(NatsRouterTest, SparseSendsAndBurstsFromSeveralThreadsAllArriveInOrder)
{
    startServer();
    if (IsSkipped())
        return;
    corvexClient_session_t publisher = nullptr;
    corvexClient_session_t subscriber = nullptr;
    ASSERT_NO_FATAL_FAILURE(connectPair(&publisher, &subscriber));
    Tagged tagged{&mSubscriber, 1};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(subscriber, "mix/>", tagged));
    awaitRoute(publisher, "mix/probe", mSubscriber);
    mSubscriber.record([&] { mSubscriber.mMessages.clear(); });
    const int senders = 4;
    const int perSender = 6000;
    std::atomic<int> failed{0};
    std::vector<std::thread> threads;
    for (int s = 0; s < senders; ++s)
        threads.emplace_back(
            [&, s]
            {
                const std::string topic = "mix/" + std::to_string(s);
                int sent = 0;
                for (int round = 0; sent < perSender; ++round)
                {
                    /* 1, 2, 4 ... 32 messages back to back, then a pause of
                     * up to 150 µs. */
                    const int burst = std::min(1 << ((round + s) % 6), perSender - sent);
                    for (int i = 0; i < burst; ++i, ++sent)
                        if (send(publisher, topic.c_str(), std::to_string(sent)) != CORVEXCLIENT_OK)
                            ++failed;
                    std::this_thread::sleep_for(std::chrono::microseconds(25 * (round % 7)));
                }
            });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(0, failed.load());
    ASSERT_TRUE(mSubscriber.waitForMessages(senders * perSender));
    std::vector<int> next(senders, 0);
    for (const ClientMsg& message :
         mSubscriber.read<std::vector<ClientMsg>>([&] { return mSubscriber.mMessages; }))
    {
        const int s = std::stoi(message.mTopic.substr(4));
        ASSERT_EQ(std::to_string(next[s]), message.mContent) << message.mTopic;
        ++next[s];
    }
    EXPECT_EQ(std::vector<int>(senders, perSender), next);
    EXPECT_TRUE(eventsOf(mPublisher).empty()) << ::testing::PrintToString(eventsOf(mPublisher));
    EXPECT_TRUE(eventsOf(mSubscriber).empty()) << ::testing::PrintToString(eventsOf(mSubscriber));
}

/* A sender that leaves right after sending: what it sent still reaches the
 * server before its connection closes. */
TEST_F(NatsRouterTest, MessagesSentJustBeforeTheSenderLeavesAreDelivered)
{
    startServer();
    if (IsSkipped())
        return;
    corvexClient_session_t publisher = nullptr;
    corvexClient_session_t subscriber = nullptr;
    ASSERT_NO_FATAL_FAILURE(connectPair(&publisher, &subscriber));
    Tagged tagged{&mSubscriber, 1};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(subscriber, "last/words", tagged));
    awaitRoute(publisher, "last/words", mSubscriber);
    const size_t probes = mSubscriber.messageCount();
    const int count = 20000;
    const std::string content(1000, 'x');
    for (int i = 0; i < count; ++i)
    {
        ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "last/words", content));
    }
    ASSERT_EQ(publisher, mSessions.front());
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_destroy(&mSessions.front()));
    EXPECT_TRUE(mSubscriber.waitForMessages(probes + count));
}

TEST_F(NatsRouterTest, OverlappingSubscriptionsDeliverEachMessageOnceAndUnsubscribeStops)
{
    startServer();
    if (IsSkipped())
        return;
    corvexClient_session_t publisher = nullptr;
    corvexClient_session_t subscriber = nullptr;
    ASSERT_NO_FATAL_FAILURE(connectPair(&publisher, &subscriber));
    Tagged exact{&mSubscriber, 1};
    Tagged wildcard{&mSubscriber, 2};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(subscriber, "over/lap", exact));
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(subscriber, "over/*", wildcard));
    ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "over/lap", "one"));
    ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "over/other", "two"));
    /* Each server subscription delivers on its own thread: a copy delivered
     * twice may come late. */
    ASSERT_TRUE(mSubscriber.waitForMessages(3));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    /* The session hands a message to every entry it matches, once. */
    std::vector<std::string> seen;
    for (const ClientMsg& message :
         mSubscriber.read<std::vector<ClientMsg>>([&] { return mSubscriber.mMessages; }))
        seen.push_back(message.mContent + ":" +
                       std::to_string(static_cast<Tagged*>(message.mUser)->mTag));
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ((std::vector<std::string>{"one:1", "one:2", "two:2"}), seen);

    CorvexDispatchInfo dispatch = dispatchTo(wildcard);
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_topicUnsubscribeWithDispatch(
                                   subscriber, CORVEXCLIENT_SUBSCRIBE_FLAGS_WAIT_FOR_CONFIRM,
                                   "over/*", &dispatch, nullptr));
    const size_t before = mSubscriber.messageCount();
    ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "over/other", "gone"));
    ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "over/lap", "three"));
    ASSERT_TRUE(mSubscriber.waitForMessages(before + 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(before + 1, mSubscriber.messageCount());
    EXPECT_EQ("three",
              mSubscriber.read<std::string>([&] { return mSubscriber.mMessages.back().mContent; }));
}

TEST_F(NatsRouterTest, ReplyToTopicArrivesAndReachesTheAskingSession)
{
    startServer();
    if (IsSkipped())
        return;
    corvexClient_session_t asker = natsSession(mContext, &mPublisher, "asker");
    corvexClient_session_t answerer = natsSession(mOtherContext, &mSubscriber, "answerer");
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(asker));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(answerer));
    Tagged question{&mSubscriber, 1};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(answerer, "questions", question));
    char inbox[256] = {};
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_getProperty(
                                   asker, "SESSION_REPLY_TO_DEFAULT_DEST", inbox, sizeof(inbox)));
    const std::string replyTo = std::string(inbox, std::strlen(inbox) - 1) + "answer";
    ASSERT_EQ(CORVEXCLIENT_OK, send(asker, "questions", "why?", replyTo.c_str()));
    ASSERT_TRUE(mSubscriber.waitForMessages(1));
    const ClientMsg asked = mSubscriber.read<ClientMsg>([&] { return mSubscriber.mMessages[0]; });
    EXPECT_EQ("why?", asked.mContent);
    EXPECT_EQ(replyTo, asked.mReplyTo);

    /* The peer-to-peer answer needs no subscription of the asker. */
    ASSERT_EQ(CORVEXCLIENT_OK, send(answerer, asked.mReplyTo.c_str(), "because"));
    ASSERT_TRUE(mPublisher.waitForMessages(1));
    const ClientMsg answer = mPublisher.read<ClientMsg>([&] { return mPublisher.mMessages[0]; });
    EXPECT_EQ(replyTo, answer.mTopic);
    EXPECT_EQ("because", answer.mContent);
}

/* The count an outage report gives before a phrase ("<n> sends failed
 * ..."); 0 without the phrase. */
unsigned long countBefore(const std::string& info, const std::string& phrase)
{
    const size_t at = info.find(phrase);
    if (at == std::string::npos)
        return 0;
    size_t start = at;
    while (start > 0 && std::isdigit(static_cast<unsigned char>(info[start - 1])))
        --start;
    return start == at ? 0 : std::stoul(info.substr(start, at - start));
}

TEST_F(NatsRouterTest, ServerRestartReconnectsAndSubscriptionsWorkAgain)
{
    startServer();
    if (IsSkipped())
        return;
    corvexClient_session_t publisher = nullptr;
    corvexClient_session_t subscriber = nullptr;
    ASSERT_NO_FATAL_FAILURE(connectPair(&publisher, &subscriber));
    Tagged tagged{&mSubscriber, 1};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(subscriber, "kept/*", tagged));
    ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "kept/before", "before"));
    ASSERT_TRUE(mSubscriber.waitForMessages(1));

    mServer.stop();
    ASSERT_TRUE(mSubscriber.waitUntil([&] { return !mSubscriber.mEvents.empty(); }));
    ASSERT_TRUE(mServer.start(mServer.mPort));
    ASSERT_TRUE(mSubscriber.waitForEvents(2));
    ASSERT_TRUE(mPublisher.waitForEvents(2));
    const std::vector<int> expected = {CORVEXCLIENT_SESSION_EVENT_RECONNECTING,
                                       CORVEXCLIENT_SESSION_EVENT_RECONNECTED};
    EXPECT_EQ(expected, eventsOf(mSubscriber));
    /* The kill may come before the server's confirmation of the one send:
     * then the outage's report counts it as one that may not have reached
     * the server, and nothing else. */
    const std::vector<Event> published =
        mPublisher.read<std::vector<Event>>([&] { return mPublisher.mEvents; });
    std::vector<int> publisherEvents;
    for (const Event& event : published)
        publisherEvents.push_back(event.mEvent);
    if (publisherEvents.size() == 3)
    {
        EXPECT_EQ(CORVEXCLIENT_SESSION_EVENT_MSG_REJECTED, publisherEvents.back());
        EXPECT_EQ(1u, countBefore(published.back().mInfo, " sends may not have reached"))
            << published.back().mInfo;
        EXPECT_EQ(0u, countBefore(published.back().mInfo, " sends failed"));
        publisherEvents.pop_back();
    }
    EXPECT_EQ(expected, publisherEvents);

    mSubscriber.record([&] { mSubscriber.mMessages.clear(); });
    awaitRoute(publisher, "kept/after", mSubscriber);
    EXPECT_EQ("kept/after",
              mSubscriber.read<std::string>([&] { return mSubscriber.mMessages.back().mTopic; }));
}
/* A NATS user the server forbids to publish on a topic's subject cannot
 * reach its subscribers under another spelling of that subject, nor name
 * it as the reply subject; what is dropped is reported, its outside bytes
 * escaped. */
TEST_F(NatsRouterTest, NonCanonicalSubjectsFromARawClientReachNoSubscriber)
{
    if (!NatsServer::path())
        GTEST_SKIP() << "nats-server is not installed (scripts/setup.sh installs it)";
    ASSERT_TRUE(mServer.startWithConfig(
        NatsServer::freePort(),
        "authorization { users = [ {user: sub, password: s}, {user: spoof, password: p, "
        "permissions: {publish: {deny: [\"REL.T\"]}}} ] }"));
    mSelector = mServer.url();
    ClientLogLines log;
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_log_setCallback(ClientLogLines::onLog, &log));
    corvexClient_session_t subscriber =
        natsSession(mOtherContext, &mSubscriber, "subscriber",
                    {"SESSION_USERNAME", "sub", "SESSION_PASSWORD", "s"});
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(subscriber));
    Tagged plain{&mSubscriber, 1};
    Tagged wildcard{&mSubscriber, 2};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(subscriber, "REL/T", plain));
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(subscriber, "REL/>", wildcard));

    natsOptions* options = nullptr;
    ASSERT_EQ(NATS_OK, natsOptions_Create(&options));
    ASSERT_EQ(NATS_OK, natsOptions_SetURL(options, mServer.url().c_str()));
    ASSERT_EQ(NATS_OK, natsOptions_SetUserInfo(options, "spoof", "p"));
    natsConnection* raw = nullptr;
    ASSERT_EQ(NATS_OK, natsConnection_Connect(&raw, options));
    natsOptions_Destroy(options);
    for (const char* subject :
         {"REL.\xffT%41\x01", "REL.T%00", "REL.T%00anything", "REL.%54", "REL.T%2e"})
        EXPECT_EQ(NATS_OK, natsConnection_PublishString(raw, subject, "spoofed"));
    EXPECT_EQ(NATS_OK, natsConnection_PublishRequestString(raw, "REL.U", "REL.T%00", "spoofed"));
    EXPECT_EQ(NATS_OK, natsConnection_PublishString(raw, "REL.U", "last"));
    EXPECT_EQ(NATS_OK, natsConnection_Flush(raw));
    natsConnection_Destroy(raw);

    ASSERT_TRUE(mSubscriber.waitForMessages(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::vector<ClientMsg> received =
        mSubscriber.read<std::vector<ClientMsg>>([&] { return mSubscriber.mMessages; });
    ASSERT_EQ(1u, received.size()) << received[0].mTopic << " " << received[0].mContent;
    EXPECT_EQ("REL/U", received[0].mTopic);
    EXPECT_EQ("last", received[0].mContent);
    /* One warning for the burst, the subject's raw bytes escaped. */
    const std::vector<std::string> dropped = log.containing("not a topic");
    ASSERT_EQ(1u, dropped.size());
    EXPECT_NE(std::string::npos, dropped[0].find("'REL.\\xFFT%41\\x01'")) << dropped[0];
    corvexClient_log_unsetCallback();
}

/* Short ping and write bounds, so that a test sees a stale connection in
 * well under a second or two. */
const std::vector<const char*> kQuickLiveness = {"SESSION_ROUTER_PING_INTERVAL_MS",  "200",
                                                 "SESSION_ROUTER_MAX_PINGS_OUT",     "2",
                                                 "SESSION_ROUTER_WRITE_DEADLINE_MS", "300"};

/* A server that stops answering (a hung host: its sockets stay open) holds
 * no sender beyond the write deadline: sends fail with a status instead,
 * both sessions see the connection go stale and come back, and the failed
 * sends of the outage are reported in one event that counts them. */
TEST_F(NatsRouterTest, AFrozenServerBlocksNoSendAndIsReportedAsAnOutage)
{
    startServer();
    if (IsSkipped())
        return;
    corvexClient_session_t publisher =
        natsSession(mContext, &mPublisher, "publisher", kQuickLiveness);
    corvexClient_session_t subscriber =
        natsSession(mOtherContext, &mSubscriber, "subscriber", kQuickLiveness);
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(publisher));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(subscriber));
    /* The subscriber takes the probe only: what the sends fill the frozen
     * server with is not for it. (The NATS client leaks the buffer of a large
     * message split across reads when its connection drops in the middle of
     * one.) */
    Tagged tagged{&mSubscriber, 1};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(subscriber, "frozen/probe", tagged));
    awaitRoute(publisher, "frozen/probe", mSubscriber);

    mServer.freeze();
    const std::string content(64 * 1024, 'x');
    std::atomic<bool> done{false};
    std::atomic<int64_t> longestMs{0};
    std::atomic<int> failed{0};
    std::thread sender(
        [&]
        {
            const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
            while (std::chrono::steady_clock::now() < end)
            {
                const auto before = std::chrono::steady_clock::now();
                if (send(publisher, "frozen/data", content) != CORVEXCLIENT_OK)
                {
                    ++failed;
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                }
                const int64_t took = std::chrono::duration_cast<std::chrono::milliseconds>(
                                         std::chrono::steady_clock::now() - before)
                                         .count();
                if (took > longestMs)
                    longestMs = took;
            }
            done = true;
        });
    /* A send blocked for good is let go by thawing the server. */
    const bool returned = pollUntil([&] { return done.load(); }, std::chrono::seconds(8));
    const bool staleSeen = mSubscriber.waitUntil(
        [&]
        {
            return !mSubscriber.mEvents.empty() &&
                   mSubscriber.mEvents[0].mEvent == CORVEXCLIENT_SESSION_EVENT_RECONNECTING;
        });
    mServer.thaw();
    sender.join();
    EXPECT_TRUE(returned) << "a send was still blocked 5 s after the sender's last start";
    EXPECT_LT(longestMs.load(), 1500) << "longest send";
    EXPECT_GT(failed.load(), 0);
    EXPECT_TRUE(staleSeen) << "the subscriber never heard of the stale connection";

    const auto heard = [](ClientRecorder& recorder, corvexClient_session_event_t wanted)
    {
        return recorder.waitUntil(
            [&]
            {
                for (const Event& event : recorder.mEvents)
                    if (event.mEvent == wanted)
                        return true;
                return false;
            });
    };
    const bool subscriberBack = heard(mSubscriber, CORVEXCLIENT_SESSION_EVENT_RECONNECTED);
    const bool publisherBack = heard(mPublisher, CORVEXCLIENT_SESSION_EVENT_RECONNECTED);
    /* The outage's failed sends are reported just after the reconnection. */
    heard(mPublisher, CORVEXCLIENT_SESSION_EVENT_MSG_REJECTED);
    corvexClient_session_destroy(&mSessions[1]);
    ASSERT_TRUE(subscriberBack) << ::testing::PrintToString(eventsOf(mSubscriber));
    ASSERT_TRUE(publisherBack) << ::testing::PrintToString(eventsOf(mPublisher));
    const std::vector<Event> rejected =
        eventsNamed(mPublisher, CORVEXCLIENT_SESSION_EVENT_MSG_REJECTED);
    ASSERT_EQ(1u, rejected.size());
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_NOT_CONNECTED, rejected[0].mSubCode);
    EXPECT_NE(std::string::npos,
              rejected[0].mInfo.find(std::to_string(failed.load()) + " sends failed"))
        << rejected[0].mInfo;
    EXPECT_EQ(CORVEXCLIENT_SESSION_EVENT_RECONNECTING, eventsOf(mPublisher).front());
}

/* A server killed and restarted under a steady sequenced stream: what the
 * subscriber misses in each outage is reported, once, on the first message
 * after it; nothing comes twice or out of order, and every message sent is
 * either received, lost in an outage so reported, or refused to its
 * sender. */
TEST_F(NatsRouterTest, ServerRestartsDuringSequencedTrafficReportEachOutageOnce)
{
    startServer();
    if (IsSkipped())
        return;
    corvexClient_session_t publisher = nullptr;
    corvexClient_session_t subscriber = nullptr;
    ASSERT_NO_FATAL_FAILURE(connectPair(&publisher, &subscriber));
    Tagged tagged{&mSubscriber, 1};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(subscriber, "seq/>", tagged));
    awaitRoute(publisher, "seq/probe", mSubscriber);

    SequencedSender sender(this, publisher, "seq", std::chrono::microseconds(500));
    const int outages = 3;
    for (int i = 0; i < outages; ++i)
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        mServer.stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASSERT_TRUE(mServer.start(mServer.mPort));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    const long sent = sender.stop();
    std::vector<ClientMsg> received;
    ASSERT_NO_FATAL_FAILURE(receivedThrough(publisher, "seq", sent, &received));
    long previous = -1;
    for (const ClientMsg& message : received)
    {
        const long number = std::stol(message.mTopic.substr(4));
        ASSERT_GT(number, previous) << "duplicate or out of order";
        previous = number;
    }
    const std::vector<size_t> discards = discardsOf(received);
    /* Every gap is reported where it ends; an outage that lost nothing
     * (the subscriber was back first) is reported all the same. */
    for (size_t gap : gapsOf(received))
        EXPECT_NE(discards.end(), std::find(discards.begin(), discards.end(), gap))
            << "unreported gap before " << received[gap].mTopic;
    EXPECT_EQ(static_cast<size_t>(outages), discards.size());
    EXPECT_EQ(static_cast<size_t>(outages),
              eventsNamed(mSubscriber, CORVEXCLIENT_SESSION_EVENT_RECONNECTED).size());
    std::cout << "sent " << sent + 1 << ", received " << received.size() << ", refused "
              << sender.mRefused << ", reported outages " << discards.size() << std::endl;
}

/* Held up on the NATS client's callback thread, the news of the outage
 * reaches the subscriber's connection only after it is back and messages
 * flow again: the first message after the gap still carries the indication. */
TEST_F(NatsRouterTest, AnOutageHeardOfLateIsStillReportedWhereItEnds)
{
    startServer();
    if (IsSkipped())
        return;
    corvexClient_session_t publisher = nullptr;
    corvexClient_session_t subscriber = nullptr;
    ASSERT_NO_FATAL_FAILURE(connectPair(&publisher, &subscriber));
    Tagged tagged{&mSubscriber, 1};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(subscriber, "late/>", tagged));
    awaitRoute(publisher, "late/probe", mSubscriber);

    SequencedSender sender(this, publisher, "late", std::chrono::microseconds(500));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_NO_FATAL_FAILURE(holdNatsCallbacks(std::chrono::milliseconds(1500)));
    mServer.stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(mServer.start(mServer.mPort));
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    const long sent = sender.stop();
    std::vector<ClientMsg> received;
    ASSERT_NO_FATAL_FAILURE(receivedThrough(publisher, "late", sent, &received));
    const std::vector<size_t> gaps = gapsOf(received);
    const std::vector<size_t> discards = discardsOf(received);
    std::cout << "sent " << sent + 1 << ", received " << received.size() << ", gaps at "
              << ::testing::PrintToString(gaps) << ", indications at "
              << ::testing::PrintToString(discards) << std::endl;
    ASSERT_EQ(1u, eventsNamed(mSubscriber, CORVEXCLIENT_SESSION_EVENT_RECONNECTED).size());
    EXPECT_EQ(gaps.empty() ? std::vector<size_t>{} : std::vector<size_t>{gaps[0]}, gaps);
    /* Reported once, where it ends (even when the subscriber was back in
     * time to lose nothing). */
    ASSERT_EQ(1u, discards.size());
    if (!gaps.empty())
    {
        EXPECT_EQ(gaps[0], discards[0]);
    }
}

/* A publisher whose connection goes stale while the server is frozen loses
 * what it had written to the socket since the server last confirmed
 * receipt; a subscriber that never noticed the freeze cannot tell. Every
 * message lost is reported all the same: flagged at the subscriber, or
 * counted in the publisher's one report of the outage. */
void NatsRouterTest::expectFrozenServerLossReported(bool heardLate)
{
    corvexClient_session_t publisher =
        natsSession(mContext, &mPublisher, "publisher", kQuickLiveness);
    /* The default liveness: the subscriber notices no freeze of a few
     * seconds. */
    corvexClient_session_t subscriber = natsSession(mOtherContext, &mSubscriber, "subscriber");
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(publisher));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(subscriber));
    Tagged tagged{&mSubscriber, 1};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(subscriber, "held/>", tagged));
    awaitRoute(publisher, "held/probe", mSubscriber);

    SequencedSender sender(this, publisher, "held", std::chrono::microseconds(250),
                           std::string(200, 'x'));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    /* Held past the thaw, the publisher's connection hears of its loss
     * only once it is back and its sends are confirmed again. */
    if (heardLate)
    {
        ASSERT_NO_FATAL_FAILURE(holdNatsCallbacks(std::chrono::milliseconds(3000)));
    }
    mServer.freeze();
    if (heardLate)
        std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    else
        mPublisher.waitUntil(
            [&]
            {
                for (const Event& event : mPublisher.mEvents)
                    if (event.mEvent == CORVEXCLIENT_SESSION_EVENT_RECONNECTING)
                        return true;
                return false;
            });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    mServer.thaw();
    const bool back = mPublisher.waitUntil(
        [&]
        {
            for (const Event& event : mPublisher.mEvents)
                if (event.mEvent == CORVEXCLIENT_SESSION_EVENT_RECONNECTED)
                    return true;
            return false;
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long sent = sender.stop();
    ASSERT_FALSE(eventsNamed(mPublisher, CORVEXCLIENT_SESSION_EVENT_RECONNECTING).empty())
        << "the publisher never found its connection stale";
    ASSERT_TRUE(back) << ::testing::PrintToString(eventsOf(mPublisher));
    std::vector<ClientMsg> received;
    ASSERT_NO_FATAL_FAILURE(receivedThrough(publisher, "held", sent, &received));
    ASSERT_TRUE(eventsNamed(mSubscriber, CORVEXCLIENT_SESSION_EVENT_RECONNECTING).empty())
        << "the subscriber had an outage of its own";

    /* After the thaw the server reads the old socket and the publisher's
     * new connection in either order: what it still had of the old one can
     * come after what the publisher sent since. Such a late message fills
     * the gap it was counted in; a duplicate fails. */
    struct Gap
    {
        long mFrom, mTo; /* the numbers missing, both included */
        bool mFlagged;
    };
    std::vector<Gap> gaps;
    std::set<long> seen;
    long previous = -1;
    long lostUnflagged = 0;
    long lost = 0;
    long late = 0;
    for (const ClientMsg& message : received)
    {
        const long number = std::stol(message.mTopic.substr(5));
        ASSERT_TRUE(seen.insert(number).second) << "duplicate " << number;
        if (number < previous)
        {
            ++late;
            --lost;
            for (const Gap& gap : gaps)
                if (gap.mFrom <= number && number <= gap.mTo && !gap.mFlagged)
                    --lostUnflagged;
            continue;
        }
        if (number > previous + 1)
            gaps.push_back({previous + 1, number - 1, message.mDiscard != 0});
        lost += number - previous - 1;
        if (!message.mDiscard)
            lostUnflagged += number - previous - 1;
        previous = number;
    }
    /* The outage's report came just after the reconnection. */
    const std::vector<Event> reports =
        eventsNamed(mPublisher, CORVEXCLIENT_SESSION_EVENT_MSG_REJECTED);
    unsigned long reported = 0;
    for (const Event& report : reports)
        reported += countBefore(report.mInfo, " sends failed") +
                    countBefore(report.mInfo, " sends may not have reached");
    std::cout << "sent " << sent + 1 << ", received " << received.size() << " (" << late
              << " late), lost " << lost << " (" << lostUnflagged
              << " without an indication), refused " << sender.mRefused
              << ", the publisher's reports counted " << reported << std::endl;
    EXPECT_LE(reports.size(), 1u);
    EXPECT_LE(static_cast<unsigned long>(lostUnflagged), reported)
        << "messages lost with nobody told; the publisher's reports: "
        << ::testing::PrintToString(eventsOf(mPublisher));
}

TEST_F(NatsRouterTest, WhatAFrozenServerNeverGotIsReportedToItsPublisher)
{
    startServer();
    if (IsSkipped())
        return;
    expectFrozenServerLossReported(false);
}

TEST_F(NatsRouterTest, WhatAFrozenServerNeverGotIsReportedWhenTheLossIsHeardOfLate)
{
    startServer();
    if (IsSkipped())
        return;
    expectFrozenServerLossReported(true);
}

/* The server's permissions refuse subscriptions as access control does:
 * in the result of a subscribe that waits, else as event SUBSCRIBE_REFUSED
 * carrying the correlation pointer of that subscribe; a refused entry is
 * not kept. A confirmation is only given once the server has the
 * subscription. */
TEST_F(NatsRouterTest, SubscriptionsTheServerRefusesAreRefusedWithTheirCorrelation)
{
    startGuardedServer();
    if (IsSkipped())
        return;
    corvexClient_session_t publisher = guardedSession(mContext, &mPublisher, "publisher");
    corvexClient_session_t subscriber = guardedSession(mOtherContext, &mSubscriber, "subscriber");
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(publisher));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(subscriber));
    Tagged refused{&mSubscriber, 1};
    Tagged open{&mSubscriber, 2};

    ASSERT_EQ(CORVEXCLIENT_FAIL, subscribe(subscriber, "secret/waited", refused));
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_SUBSCRIBE_NOT_PERMITTED,
              corvexClient_getLastErrorInfo()->mSubCode);
    EXPECT_NE(nullptr,
              std::strstr(corvexClient_getLastErrorInfo()->mErrorText, "Topic 'secret/waited'"));
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(subscriber, "open/waited", open));

    int plain = 0;
    int asked = 0;
    int joined = 0;
    int confirmed = 0;
    EXPECT_EQ(CORVEXCLIENT_OK, subscribe(subscriber, "secret/plain", refused, 0, &plain));
    EXPECT_EQ(CORVEXCLIENT_IN_PROGRESS,
              subscribe(subscriber, "secret/a b.c", refused,
                        CORVEXCLIENT_SUBSCRIBE_FLAGS_REQUEST_CONFIRM, &asked));
    /* A second entry on the same topic shares its server subscription. */
    EXPECT_EQ(CORVEXCLIENT_IN_PROGRESS,
              subscribe(subscriber, "secret/a b.c", open,
                        CORVEXCLIENT_SUBSCRIBE_FLAGS_REQUEST_CONFIRM, &joined));
    /* One that waits is answered at once, whichever of them asked first. */
    EXPECT_EQ(CORVEXCLIENT_FAIL, subscribe(subscriber, "secret/a b.c", refused));
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_SUBSCRIBE_NOT_PERMITTED,
              corvexClient_getLastErrorInfo()->mSubCode);
    EXPECT_EQ(CORVEXCLIENT_IN_PROGRESS,
              subscribe(subscriber, "open/asked", open,
                        CORVEXCLIENT_SUBSCRIBE_FLAGS_REQUEST_CONFIRM, &confirmed));
    /* Removed before its outcome came, an entry still gets one. */
    int removed = 0;
    EXPECT_EQ(CORVEXCLIENT_IN_PROGRESS,
              subscribe(subscriber, "open/removed", open,
                        CORVEXCLIENT_SUBSCRIBE_FLAGS_REQUEST_CONFIRM, &removed));
    CorvexDispatchInfo removedDispatch = dispatchTo(open);
    EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_session_topicUnsubscribeWithDispatch(
                                   subscriber, 0, "open/removed", &removedDispatch, nullptr));
    ASSERT_TRUE(mSubscriber.waitUntil(
        [&]
        {
            size_t outcomes = 0;
            for (const Event& event : mSubscriber.mEvents)
                outcomes += event.mEvent == CORVEXCLIENT_SESSION_EVENT_SUBSCRIBE_REFUSED ||
                            event.mEvent == CORVEXCLIENT_SESSION_EVENT_SUBSCRIBE_CONFIRMED;
            return outcomes >= 5;
        }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    std::map<void*, std::string> refusals;
    for (const Event& event :
         eventsNamed(mSubscriber, CORVEXCLIENT_SESSION_EVENT_SUBSCRIBE_REFUSED))
    {
        EXPECT_EQ(CORVEXCLIENT_SUBCODE_SUBSCRIBE_NOT_PERMITTED, event.mSubCode);
        EXPECT_EQ(403, event.mResponseCode);
        refusals[event.mCorrelation] = event.mInfo;
    }
    ASSERT_EQ(3u, refusals.size());
    EXPECT_NE(std::string::npos, refusals[&plain].find("Topic 'secret/plain'"));
    EXPECT_NE(std::string::npos, refusals[&asked].find("Topic 'secret/a b.c'"));
    EXPECT_NE(std::string::npos, refusals[&joined].find("Topic 'secret/a b.c'"));
    const std::vector<Event> confirmations =
        eventsNamed(mSubscriber, CORVEXCLIENT_SESSION_EVENT_SUBSCRIBE_CONFIRMED);
    std::set<void*> confirmedOnes;
    for (const Event& event : confirmations)
        confirmedOnes.insert(event.mCorrelation);
    EXPECT_EQ(2u, confirmations.size());
    EXPECT_EQ((std::set<void*>{&confirmed, &removed}), confirmedOnes);

    for (Tagged* tagged : {&refused, &open})
    {
        CorvexDispatchInfo dispatch = dispatchTo(*tagged);
        EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_session_topicUnsubscribeWithDispatch(
                                         subscriber, 0, "secret/a b.c", &dispatch, nullptr));
        EXPECT_EQ(CORVEXCLIENT_SUBCODE_NOT_SUBSCRIBED, corvexClient_getLastErrorInfo()->mSubCode);
    }
    /* The confirmed subscription receives what is published after it. */
    ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "open/asked", "after"));
    ASSERT_TRUE(mSubscriber.waitForMessages(1));
    EXPECT_EQ("open/asked",
              mSubscriber.read<std::string>([&] { return mSubscriber.mMessages[0].mTopic; }));
}

/* A publish the server refuses is rejected as access control rejects one,
 * naming the topic (not the subject); the connection goes on. */
TEST_F(NatsRouterTest, PublishesTheServerRefusesRaiseMessageRejectedNamingTheTopic)
{
    startGuardedServer();
    if (IsSkipped())
        return;
    corvexClient_session_t publisher = guardedSession(mContext, &mPublisher, "publisher");
    corvexClient_session_t subscriber = guardedSession(mOtherContext, &mSubscriber, "subscriber");
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(publisher));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(subscriber));
    Tagged open{&mSubscriber, 1};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(subscriber, "open/after", open));

    EXPECT_EQ(CORVEXCLIENT_OK, send(publisher, "secret/x.y z", "refused"));
    ASSERT_TRUE(mPublisher.waitForEvents(1));
    const Event rejected = mPublisher.read<Event>([&] { return mPublisher.mEvents[0]; });
    EXPECT_EQ(CORVEXCLIENT_SESSION_EVENT_MSG_REJECTED, rejected.mEvent);
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_PUBLISH_NOT_PERMITTED, rejected.mSubCode);
    EXPECT_EQ(403, rejected.mResponseCode);
    EXPECT_NE(std::string::npos, rejected.mInfo.find("Topic 'secret/x.y z'")) << rejected.mInfo;
    EXPECT_EQ(nullptr, rejected.mCorrelation);

    ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "open/after", "allowed"));
    ASSERT_TRUE(mSubscriber.waitForMessages(1));
    EXPECT_EQ("allowed",
              mSubscriber.read<std::string>([&] { return mSubscriber.mMessages[0].mContent; }));
    EXPECT_EQ(1u, mPublisher.read<size_t>([&] { return mPublisher.mEvents.size(); }));
}
/* What the connection drops for a stalled subscription beyond its pending
 * limit is lost, and the first message delivered afterwards says so. */
/* A subscriber with `limits` whose delivery is stalled while `sent`
 * messages of `content` arrive: its connection drops what is beyond them,
 * and the first message delivered after the loss carries the indication. */
void NatsRouterTest::expectSlowSubscriptionLossReported(std::vector<const char*> limits,
                                                        const std::string& content)
{
    DeliveryStall* stall = &mStall;
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_log_setCallback(DeliveryStall::onLog, stall));
    corvexClient_session_t publisher = natsSession(mContext, &mPublisher, "publisher");
    corvexClient_session_t subscriber =
        natsSession(mOtherContext, &mSubscriber, "subscriber", std::move(limits));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(publisher));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(subscriber));
    Tagged slow{&mSubscriber, 1};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(subscriber, "slow/>", slow));

    /* Every subscription of a connection is delivered by one thread: a
     * message that is no topic stalls it in the log line that reports it. */
    natsConnection* raw = nullptr;
    ASSERT_EQ(NATS_OK, natsConnection_ConnectTo(&raw, mServer.url().c_str()));
    EXPECT_EQ(NATS_OK, natsConnection_PublishString(raw, "slow.%zz", "stalls its receiver"));
    EXPECT_EQ(NATS_OK, natsConnection_Flush(raw));
    natsConnection_Destroy(raw);
    ASSERT_TRUE(stall->mHeld.wait());
    const int sent = 40;
    for (int i = 0; i < sent; ++i)
        ASSERT_EQ(CORVEXCLIENT_OK,
                  send(publisher, ("slow/" + std::to_string(i)).c_str(), content.c_str()));
    /* The connection reads what is still on its way while delivery stays
     * stalled; once released, delivery drops what waits past the limit. */
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stall->mRelease.raise();
    /* Sent at once, the last one could find the connection's queue still
     * full and be dropped too: once the first waiting message is delivered,
     * there is room for it. */
    ASSERT_TRUE(mSubscriber.waitForMessages(1));
    ASSERT_EQ(CORVEXCLIENT_OK,
              send(publisher, ("slow/" + std::to_string(sent)).c_str(), content.c_str()));
    ASSERT_TRUE(mSubscriber.waitUntil(
        [&]
        {
            return !mSubscriber.mMessages.empty() &&
                   mSubscriber.mMessages.back().mTopic == "slow/" + std::to_string(sent);
        }));

    EXPECT_TRUE(stall->mSlowConsumer.wait());
    std::vector<ClientMsg> received =
        mSubscriber.read<std::vector<ClientMsg>>([&] { return mSubscriber.mMessages; });
    EXPECT_LT(received.size(), static_cast<size_t>(sent + 1));
    /* The messages the connection held when it began to drop come first,
     * with no indication: it is on the first one after the loss. */
    EXPECT_EQ(1, std::count_if(received.begin(), received.end(),
                               [](const ClientMsg& m) { return m.mDiscard; }));
    EXPECT_EQ(gapsOf(received), discardsOf(received));
}
TEST_F(NatsRouterTest, MessagesDroppedForASlowSubscriptionMarkTheNextOneDelivered)
{
    startServer();
    if (IsSkipped())
        return;
    expectSlowSubscriptionLossReported({"SESSION_ROUTER_PENDING_LIMIT", "4"}, "x");
}

/* The connection holds a slow subscription's messages up to a number of
 * bytes as well: 8 KB messages beyond 32 KB are dropped long before the
 * message limit, and the loss is reported as above. */
TEST_F(NatsRouterTest, ASlowSubscriptionsWaitingBytesAreBoundedAndTheirLossReported)
{
    startServer();
    if (IsSkipped())
        return;
    expectSlowSubscriptionLossReported({"SESSION_ROUTER_PENDING_BYTES_LIMIT", "32768"},
                                       std::string(8192, 'b'));
}

/* The library delivers every subscription of the process on one thread. A
 * subscription of another connection that naps in each of its messages,
 * and sends itself the next one, keeps that thread busy a good part of the
 * time, so a full-speed burst outruns a subscription with a small pending
 * limit and loses messages in many runs. Each run is reported once, on the
 * first message delivered after it, and no other message carries a
 * discard indication. */
TEST_F(NatsRouterTest, EachRunOfMessagesABurstOutrunsIsReportedOnTheMessageAfterIt)
{
    startServer();
    if (IsSkipped())
        return;
    corvexClient_session_t publisher = natsSession(mContext, &mPublisher, "publisher");
    corvexClient_session_t subscriber = natsSession(mOtherContext, &mSubscriber, "subscriber",
                                                    {"SESSION_ROUTER_PENDING_LIMIT", "50"});
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(publisher));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(subscriber));
    Tagged tagged{&mSubscriber, 1};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(subscriber, "burst/>", tagged));
    awaitRoute(publisher, "burst/probe", mSubscriber);

    struct Napper
    {
        natsConnection* mConnection = nullptr;
        std::atomic<bool> mStop{false};
        std::atomic<bool> mStopped{false};

        static void onNap(natsConnection*, natsSubscription*, natsMsg* msg, void* closure)
        {
            Napper* napper = static_cast<Napper*>(closure);
            natsMsg_Destroy(msg);
            if (napper->mStop)
            {
                napper->mStopped = true;
                return;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(100));
            natsConnection_PublishString(napper->mConnection, "nap", "z");
        }
    } napper;
    natsOptions* options = nullptr;
    ASSERT_EQ(NATS_OK, natsOptions_Create(&options));
    EXPECT_EQ(NATS_OK, natsOptions_SetURL(options, mServer.url().c_str()));
    EXPECT_EQ(NATS_OK, natsOptions_UseGlobalMessageDelivery(options, true));
    ASSERT_EQ(NATS_OK, natsConnection_Connect(&napper.mConnection, options));
    natsOptions_Destroy(options);
    natsSubscription* naps = nullptr;
    ASSERT_EQ(NATS_OK,
              natsConnection_Subscribe(&naps, napper.mConnection, "nap", Napper::onNap, &napper));
    EXPECT_EQ(NATS_OK, natsConnection_Flush(napper.mConnection));
    EXPECT_EQ(NATS_OK, natsConnection_PublishString(napper.mConnection, "nap", "z"));
    EXPECT_EQ(NATS_OK, natsConnection_Flush(napper.mConnection));

    const int sent = 20000;
    for (int i = 0; i < sent; ++i)
        ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, ("burst/" + std::to_string(i)).c_str(), "x"));
    napper.mStop = true;
    EXPECT_TRUE(pollUntil([&] { return napper.mStopped.load(); }));
    natsSubscription_Destroy(naps);
    natsConnection_Destroy(napper.mConnection);
    /* Once what waits is delivered, the last message finds room. */
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::vector<ClientMsg> received;
    ASSERT_NO_FATAL_FAILURE(receivedThrough(publisher, "burst", sent, &received));
    const std::vector<size_t> gaps = gapsOf(received);
    const std::vector<size_t> discards = discardsOf(received);
    std::cout << "sent " << sent + 1 << ", received " << received.size() << ", gaps " << gaps.size()
              << ", discard indications " << discards.size() << std::endl;
    EXPECT_FALSE(gaps.empty()) << "the burst did not outrun the subscription";
    size_t unreported = 0;
    for (size_t gap : gaps)
        unreported += std::find(discards.begin(), discards.end(), gap) == discards.end();
    size_t misplaced = 0;
    for (size_t discard : discards)
        misplaced += std::find(gaps.begin(), gaps.end(), discard) == gaps.end();
    EXPECT_EQ(0u, unreported) << "gaps without an indication on the message after them";
    EXPECT_EQ(0u, misplaced) << "indications on messages that follow no gap";
}
/* What a server says when it refuses an operation reaches the application
 * (the rejected event's text) and the log with its outside bytes escaped:
 * the subject of a refused publish, a topic or not, and the rest of the
 * text. */
TEST_F(NatsRouterTest, AServersRefusalIsReportedWithItsOutsideBytesEscaped)
{
    ClientLogLines logged;
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_log_setCallback(ClientLogLines::onLog, &logged));
    ScriptedNatsServer server({"Permissions Violation for Publish to \"REL.%01T\"",
                               "Permissions Violation for Publish to \"\x1b[2J\xff\"",
                               "Permissions Violation for Subscription to \"a\x07\" \x01\xfe"});
    mSelector = server.url();
    corvexClient_session_t session = natsSession(mContext, &mSubscriber, "victim");
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(session))
        << corvexClient_getLastErrorInfo()->mErrorText;
    ASSERT_TRUE(mSubscriber.waitUntil(
        [&]
        {
            return std::count_if(mSubscriber.mEvents.begin(), mSubscriber.mEvents.end(),
                                 [](const Event& e) {
                                     return e.mEvent == CORVEXCLIENT_SESSION_EVENT_MSG_REJECTED;
                                 }) >= 3;
        }));
    std::vector<std::string> texts;
    for (const Event& event :
         mSubscriber.read<std::vector<Event>>([&] { return mSubscriber.mEvents; }))
        if (event.mEvent == CORVEXCLIENT_SESSION_EVENT_MSG_REJECTED)
            texts.push_back(event.mInfo);
    for (const std::string& line : logged.lines())
        texts.push_back(line);
    std::string joined;
    for (const std::string& text : texts)
    {
        EXPECT_FALSE(hasRawBytes(text)) << ::testing::PrintToString(text);
        joined += text + "\n";
    }
    EXPECT_NE(std::string::npos, joined.find("Topic 'REL/\\x01T'")) << joined;
    EXPECT_NE(std::string::npos, joined.find("\"\\x1B[2J\\xFF\"")) << joined;
    EXPECT_NE(std::string::npos, joined.find("\"a\\x07\" \\x01\\xFE")) << joined;
    corvexClient_log_unsetCallback();
}

/* User properties travel as NATS headers: keys and texts the server would
 * trim, split or drop come back unchanged, numbers stay numbers, a key given
 * twice reads its first value, and hundreds of them fit. */
/* Odd keys and texts, numbers at their limits, a key given twice and 300
 * entries come back as they were sent, with the sender's properties sent
 * as the session's options say. */
void NatsRouterTest::checkPropertiesRoundTrip(std::vector<const char*> options)
{
    corvexClient_session_t publisher = natsSession(mContext, &mPublisher, "publisher", options);
    corvexClient_session_t subscriber = natsSession(mOtherContext, &mSubscriber, "subscriber");
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(publisher));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(subscriber));
    const std::vector<std::pair<std::string, std::string>> texts = {
        {"", "no key"},
        {"empty", ""},
        {" padded key ", "  spaced value  "},
        {"a:b", "c: d"},
        {"eq=ual", "x=y%z"},
        {"\xc3\xbcn\xc3\xaf", "\xe4\xb8\xad\xe6\x96\x87 \xe2\x9c\x93"},
        {"tab\tkey", "line\r\nbreak"},
        {"dup", "first"}};
    const std::vector<std::pair<std::string, int32_t>> numbers = {
        {"negative", -42}, {"max", INT32_MAX}, {"min", INT32_MIN}};
    const int many = 300;
    PropertyCapture* capture = &mCapture;
    for (const auto& text : texts)
        capture->mStringKeys.push_back(text.first);
    for (int i = 0; i < many; ++i)
        capture->mStringKeys.push_back("key " + std::to_string(i));
    for (const auto& number : numbers)
        capture->mNumberKeys.push_back(number.first);
    CorvexDispatchInfo dispatch{CORVEXCLIENT_DISPATCH_TYPE_CALLBACK, PropertyCapture::onMessage,
                                capture, nullptr};
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_topicSubscribeWithDispatch(
                                   subscriber, CORVEXCLIENT_SUBSCRIBE_FLAGS_WAIT_FOR_CONFIRM,
                                   "props", &dispatch, nullptr));

    std::vector<char> buffer(64 * 1024);
    corvexClient_container_t map = nullptr;
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClient_container_createMap(&map, buffer.data(), buffer.size()));
    for (const auto& text : texts)
        ASSERT_EQ(CORVEXCLIENT_OK,
                  corvexClient_container_addString(map, text.second.c_str(), text.first.c_str()));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_container_addString(map, "second", "dup"));
    for (const auto& number : numbers)
        ASSERT_EQ(CORVEXCLIENT_OK,
                  corvexClient_container_addInt32(map, number.second, number.first.c_str()));
    for (int i = 0; i < many; ++i)
        ASSERT_EQ(CORVEXCLIENT_OK,
                  corvexClient_container_addString(map, ("value " + std::to_string(i)).c_str(),
                                                   ("key " + std::to_string(i)).c_str()));
    corvexClient_msg_t msg = nullptr;
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_msg_alloc(&msg));
    corvexClient_msg_setTopicPtr(msg, "props");
    corvexClient_msg_setUserPropertyMap(msg, map);
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_sendMsg(publisher, msg));
    corvexClient_msg_free(&msg);
    corvexClient_container_closeMapStream(&map);
    ASSERT_TRUE(capture->mReceived.wait());

    std::lock_guard<std::mutex> guard(capture->mLock);
    EXPECT_EQ(texts.size() + 1 + numbers.size() + many, capture->mCount);
    for (const auto& text : texts)
        EXPECT_EQ(text.second, capture->mStrings[text.first]) << "key '" << text.first << "'";
    for (const auto& number : numbers)
        EXPECT_EQ(number.second, capture->mNumbers[number.first]) << number.first;
    for (int i = 0; i < many; ++i)
        EXPECT_EQ("value " + std::to_string(i), capture->mStrings["key " + std::to_string(i)]);
    EXPECT_EQ(0u, capture->mNumbers.count("dup"));
}

TEST_F(NatsRouterTest, UserPropertiesComeBackUnchangedThroughHeaders)
{
    startServer();
    if (IsSkipped())
        return;
    checkPropertiesRoundTrip({"SESSION_ROUTER_PROPERTIES_HEADER", "true"});
}

TEST_F(NatsRouterTest, UserPropertiesComeBackUnchangedThroughThePayloadFrame)
{
    startServer();
    if (IsSkipped())
        return;
    checkPropertiesRoundTrip({});
}

/* What each message of a subscription held: its content and the text of
 * its property "k" ("-" without a map). */
struct PayloadCapture
{
    std::mutex mLock;
    std::vector<std::pair<std::string, std::string>> mSeen;

    static int onMessage(corvexClient_session_t, corvexClient_msg_t msg, void* user)
    {
        PayloadCapture* capture = static_cast<PayloadCapture*>(user);
        void* content = nullptr;
        uint32_t size = 0;
        std::string text;
        if (corvexClient_msg_getBinaryAttachmentPtr(msg, &content, &size) == CORVEXCLIENT_OK)
            text.assign(static_cast<const char*>(content), size);
        std::string property = "-";
        corvexClient_container_t map = nullptr;
        const char* value = nullptr;
        if (corvexClient_msg_getUserPropertyMap(msg, &map) == CORVEXCLIENT_OK)
            property = corvexClient_container_getStringPtr(map, "k", &value) == CORVEXCLIENT_OK
                           ? value
                           : "?";
        std::lock_guard<std::mutex> guard(capture->mLock);
        capture->mSeen.emplace_back(text, property);
        return CORVEXCLIENT_CALLBACK_OK;
    }

    size_t size()
    {
        std::lock_guard<std::mutex> guard(mLock);
        return mSeen.size();
    }
};

/* A program on the NATS client alone meets sessions as the library's
 * header documents: its plain payloads are content without properties, a
 * frame's properties and a header's both reach the receiver (a header that
 * is no property text leaves the message without properties, with a
 * warning), content that itself starts like a frame survives in an empty
 * frame (and a session frames such content it sends), and payloads that
 * start like a frame but are none are dropped with a warning. */
TEST_F(NatsRouterTest, PayloadsFromARawClientAreFramedPlainOrDroppedAsDocumented)
{
    startServer();
    if (IsSkipped())
        return;
    ClientLogLines log;
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_log_setCallback(ClientLogLines::onLog, &log));
    corvexClient_session_t publisher = nullptr;
    corvexClient_session_t subscriber = nullptr;
    ASSERT_NO_FATAL_FAILURE(connectPair(&publisher, &subscriber));
    PayloadCapture capture;
    CorvexDispatchInfo dispatch{CORVEXCLIENT_DISPATCH_TYPE_CALLBACK, PayloadCapture::onMessage,
                                &capture, nullptr};
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_topicSubscribeWithDispatch(
                                   subscriber, CORVEXCLIENT_SUBSCRIBE_FLAGS_WAIT_FOR_CONFIRM, "raw",
                                   &dispatch, nullptr));
    natsConnection* raw = nullptr;
    ASSERT_EQ(NATS_OK, natsConnection_ConnectTo(&raw, mServer.url().c_str()));
    natsSubscription* sniffer = nullptr;
    ASSERT_EQ(NATS_OK, natsConnection_SubscribeSync(&sniffer, raw, "raw"));
    ASSERT_EQ(NATS_OK, natsConnection_Flush(raw));
    const std::string magic("\0CX", 3);
    auto frame = [&](char version, const std::string& properties, const std::string& content)
    {
        const uint32_t length = static_cast<uint32_t>(properties.size());
        std::string out = magic + version;
        for (int shift = 24; shift >= 0; shift -= 8)
            out += static_cast<char>((length >> shift) & 0xff);
        return out + properties + content;
    };
    auto publish = [&](const std::string& payload)
    {
        EXPECT_EQ(NATS_OK, natsConnection_Publish(raw, "raw", payload.data(),
                                                  static_cast<int>(payload.size())));
    };
    publish("plain");
    publish(frame(1, "k=sframed%2C value,n=i7", "with a frame"));
    natsMsg* headed = nullptr;
    ASSERT_EQ(NATS_OK, natsMsg_Create(&headed, "raw", nullptr, "with a header", 13));
    ASSERT_EQ(NATS_OK, natsMsgHeader_Set(headed, "Corvex-Properties", "k=sheaded"));
    EXPECT_EQ(NATS_OK, natsConnection_PublishMsg(raw, headed));
    natsMsg_Destroy(headed);
    ASSERT_EQ(NATS_OK, natsMsg_Create(&headed, "raw", nullptr, "with a bad header", 17));
    ASSERT_EQ(NATS_OK, natsMsgHeader_Set(headed, "Corvex-Properties", "no property"));
    EXPECT_EQ(NATS_OK, natsConnection_PublishMsg(raw, headed));
    natsMsg_Destroy(headed);
    publish(frame(1, "", magic + "starts like a frame"));
    publish(frame(2, "k=sv", "another version"));
    publish(magic + '\1' + "\0\0");
    publish(frame(1, "k=sv", "").substr(0, 10));
    publish(frame(1, "no property", "bad text"));
    publish(frame(1, std::string("k=s\0x", 5), "a NUL in the text"));
    ASSERT_EQ(NATS_OK, natsConnection_Flush(raw));
    send(publisher, "raw", magic + "sent by a session");
    send(publisher, "raw", "last");

    ASSERT_TRUE(pollUntil([&] { return capture.size() >= 7; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"plain", "-"},
        {"with a frame", "framed, value"},
        {"with a header", "headed"},
        {"with a bad header", "-"},
        {magic + "starts like a frame", "-"},
        {magic + "sent by a session", "-"},
        {"last", "-"}};
    {
        std::lock_guard<std::mutex> guard(capture.mLock);
        EXPECT_EQ(expected, capture.mSeen);
    }
    EXPECT_FALSE(log.containing("dropped: its payload starts like a frame but is none").empty());
    EXPECT_FALSE(log.containing("its header \"Corvex-Properties\" is no property text").empty());
    /* What a raw reader sees of the session's message: an empty frame. */
    natsMsg* seen = nullptr;
    std::string sessionPayload;
    while (natsSubscription_NextMsg(&seen, sniffer, 1000) == NATS_OK)
    {
        const std::string payload(natsMsg_GetData(seen), natsMsg_GetDataLength(seen));
        natsMsg_Destroy(seen);
        if (payload.find("sent by a session") != std::string::npos)
            sessionPayload = payload;
        if (payload == "last")
            break;
    }
    EXPECT_EQ(frame(1, "", magic + "sent by a session"), sessionPayload);
    natsSubscription_Destroy(sniffer);
    natsConnection_Destroy(raw);
    corvexClient_log_unsetCallback();
}

/* Messages an application keeps past its callback (their content stays in
 * the NATS client's message until their last reference goes) outlive their
 * session and its connection: two overlapping subscriptions hold each
 * message, and content, topic and properties read back unchanged from both,
 * before and after one of them has freed it. */
TEST_F(NatsRouterTest, MessagesTheApplicationKeepsOutliveTheirSessionAndConnection)
{
    startServer();
    if (IsSkipped())
        return;
    corvexClient_session_t publisher = nullptr;
    corvexClient_session_t subscriber = nullptr;
    ASSERT_NO_FATAL_FAILURE(connectPair(&publisher, &subscriber));
    MsgKeeper plain;
    MsgKeeper wildcard;
    for (auto entry : {std::make_pair("kept/x", &plain), std::make_pair("kept/>", &wildcard)})
    {
        CorvexDispatchInfo dispatch{CORVEXCLIENT_DISPATCH_TYPE_CALLBACK, MsgKeeper::onMessage,
                                    entry.second, nullptr};
        ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_topicSubscribeWithDispatch(
                                       subscriber, CORVEXCLIENT_SUBSCRIBE_FLAGS_WAIT_FOR_CONFIRM,
                                       entry.first, &dispatch, nullptr));
    }
    /* More than a thread keeps of the NATS messages it is done with. */
    const int count = 300;
    std::vector<char> buffer(1024);
    for (int i = 0; i < count; ++i)
    {
        const std::string content = "content " + std::to_string(i) + std::string(200, '.');
        corvexClient_container_t map = nullptr;
        ASSERT_EQ(CORVEXCLIENT_OK,
                  corvexClient_container_createMap(&map, buffer.data(), buffer.size()));
        ASSERT_EQ(CORVEXCLIENT_OK,
                  corvexClient_container_addString(map, std::to_string(i).c_str(), "k"));
        corvexClient_msg_t msg = nullptr;
        ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_msg_alloc(&msg));
        corvexClient_msg_setTopicPtr(msg, "kept/x");
        corvexClient_msg_setBinaryAttachmentPtr(msg, content.data(),
                                                static_cast<uint32_t>(content.size()));
        corvexClient_msg_setUserPropertyMap(msg, map);
        ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_sendMsg(publisher, msg));
        corvexClient_msg_free(&msg);
        corvexClient_container_closeMapStream(&map);
    }
    ASSERT_TRUE(pollUntil([&] { return plain.count() == count && wildcard.count() == count; }))
        << plain.count() << " and " << wildcard.count() << " messages";
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_destroy(&mSessions.back()));

    auto expectIntact = [](corvexClient_msg_t msg, int i)
    {
        const ClientMsg copy = copyOf(msg, nullptr);
        EXPECT_EQ("kept/x", copy.mTopic);
        EXPECT_EQ("content " + std::to_string(i) + std::string(200, '.'), copy.mContent);
        corvexClient_container_t map = nullptr;
        const char* text = nullptr;
        ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_msg_getUserPropertyMap(msg, &map));
        ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_container_getStringPtr(map, "k", &text));
        EXPECT_EQ(std::to_string(i), text);
    };
    for (int i = 0; i < count; ++i)
    {
        ASSERT_EQ(plain.mKept[i], wildcard.mKept[i]) << "one message for both subscriptions";
        expectIntact(plain.mKept[i], i);
        EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_msg_free(&plain.mKept[i]));
    }
    for (int i = 0; i < count; ++i)
    {
        expectIntact(wildcard.mKept[i], i);
        EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_msg_free(&wildcard.mKept[i]));
    }
}

TEST(NatsPropertyTest, EncodingKeepsNothingTheServerAltersAndRefusesBadValues)
{
    const std::string encoded = corvexNatsProperty_encode(" a:b=c% ", true, " \r\n", 0);
    EXPECT_EQ("%20a%3Ab%3Dc%25%20=s%20%0D%0A", encoded);
    EXPECT_EQ("n=s", corvexNatsProperty_encode("n", true, "", 0));
    EXPECT_EQ("n=i-7", corvexNatsProperty_encode("n", false, nullptr, -7));
    std::string key;
    std::string text;
    bool isString = false;
    int32_t number = 0;
    ASSERT_TRUE(corvexNatsProperty_decode(encoded.c_str(), &key, &isString, &text, &number));
    EXPECT_EQ(" a:b=c% ", key);
    EXPECT_TRUE(isString);
    EXPECT_EQ(" \r\n", text);
    for (const char* bad : {"no separator", "k=x1", "k=i", "k=i12x", "k=i2147483648", "k=s%4",
                            "k%zz=s", "k=s%00", ""})
        EXPECT_FALSE(corvexNatsProperty_decode(bad, &key, &isString, &text, &number)) << bad;
}

class NatsCacheTest : public NatsRouterTest
{
  protected:
    void TearDown() override
    {
        if (mCache)
        {
            EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_cacheSession_destroy(&mCache));
        }
        NatsRouterTest::TearDown();
    }

    /* Publisher and subscriber caching "md/>" and the "EUR" prefix of the
     * second "fx" level; the subscriber's cache session in mCache. */
    void connectCaching(corvexClient_session_t* publisher, corvexClient_session_t* subscriber)
    {
        const std::vector<const char*> caching = {"SESSION_ROUTER_CACHED_TOPICS", "md/>,fx/EUR*"};
        *publisher = natsSession(mContext, &mPublisher, "publisher", caching);
        *subscriber = natsSession(mOtherContext, &mSubscriber, "subscriber", caching);
        ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(*publisher));
        ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(*subscriber));
        ASSERT_EQ(CORVEXCLIENT_OK,
                  corvexClient_session_createCacheSession(nullptr, *subscriber, &mCache));
    }

    /* The outcome of one request and the contents it delivered, sorted. */
    CacheOutcome request(const char* topic, corvexClient_cacheRequestId_t id,
                         std::vector<std::string>* contents)
    {
        mSubscriber.record(
            [&]
            {
                mSubscriber.mMessages.clear();
                mSubscriber.mCacheOutcomes.clear();
            });
        const uint32_t flags = CORVEXCLIENT_CACHEREQUEST_FLAGS_DELIVER_CACHED |
                               CORVEXCLIENT_CACHEREQUEST_FLAGS_NO_LIVE_SUBSCRIBE |
                               CORVEXCLIENT_CACHEREQUEST_FLAGS_NO_WAIT;
        EXPECT_EQ(CORVEXCLIENT_IN_PROGRESS,
                  corvexClient_cacheSession_sendCacheRequest(
                      mCache, topic, id, ClientRecorder::onCacheEvent, &mSubscriber, flags, 0));
        EXPECT_TRUE(mSubscriber.waitUntil([&] { return !mSubscriber.mCacheOutcomes.empty(); }));
        return mSubscriber.read<CacheOutcome>(
            [&]
            {
                contents->clear();
                for (const ClientMsg& message : mSubscriber.mMessages)
                {
                    EXPECT_EQ(CORVEXCLIENT_MSG_CACHED, message.mCached);
                    EXPECT_EQ(id, message.mRequestId);
                    contents->push_back(message.mTopic + "=" + message.mContent);
                }
                std::sort(contents->begin(), contents->end());
                return mSubscriber.mCacheOutcomes.empty() ? CacheOutcome{}
                                                          : mSubscriber.mCacheOutcomes[0];
            });
    }

    corvexClient_cacheSession_t mCache = nullptr;
};

TEST_F(NatsCacheTest, TheStreamAnswersPlainAndWildcardRequestsWithTheLastValues)
{
    if (!NatsServer::path())
        GTEST_SKIP() << "nats-server is not installed (scripts/setup.sh installs it)";
    ASSERT_TRUE(mServer.enableJetStream());
    startServer();
    corvexClient_session_t publisher = nullptr;
    corvexClient_session_t subscriber = nullptr;
    ASSERT_NO_FATAL_FAILURE(connectCaching(&publisher, &subscriber));
    Tagged tagged{&mSubscriber, 1};
    ASSERT_EQ(CORVEXCLIENT_OK,
              subscribe(subscriber, ">", tagged, CORVEXCLIENT_SUBSCRIBE_FLAGS_LOCAL_DISPATCH_ONLY));
    for (const auto& sent :
         std::vector<std::pair<const char*, const char*>>{{"md/IBM", "old"},
                                                          {"md/IBM", "last"},
                                                          {"md/a.b/x y", "odd"},
                                                          {"fx/EURUSD", "eur"},
                                                          {"fx/GBPUSD", "stored, not cached"},
                                                          {"other/x", "not stored"}})
    {
        ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, sent.first, sent.second));
    }
    /* The server stores what it routes: wait until the last one is in. */
    std::vector<std::string> contents;
    ASSERT_TRUE(
        pollUntil([&] { return request("fx/EURUSD", 1, &contents).mCode == CORVEXCLIENT_OK; }));

    CacheOutcome outcome = request("md/IBM", 77, &contents);
    EXPECT_EQ(CORVEXCLIENT_OK, outcome.mCode);
    EXPECT_EQ(77u, outcome.mRequestId);
    EXPECT_EQ("md/IBM", outcome.mTopic);
    EXPECT_EQ((std::vector<std::string>{"md/IBM=last"}), contents);

    EXPECT_EQ(CORVEXCLIENT_OK, request("md/>", 78, &contents).mCode);
    EXPECT_EQ((std::vector<std::string>{"md/IBM=last", "md/a.b/x y=odd"}), contents);
    EXPECT_EQ(CORVEXCLIENT_OK, request("fx/*", 79, &contents).mCode);
    EXPECT_EQ((std::vector<std::string>{"fx/EURUSD=eur"}), contents);

    for (const char* none : {"fx/GBPUSD", "other/x", "md/NONE", "nothing/*"})
    {
        outcome = request(none, 80, &contents);
        EXPECT_EQ(CORVEXCLIENT_INCOMPLETE, outcome.mCode) << none;
        EXPECT_EQ(CORVEXCLIENT_SUBCODE_CACHE_NO_DATA, outcome.mSubCode) << none;
        EXPECT_TRUE(contents.empty()) << none;
    }
}

/* A last value whose properties came in a NATS header keeps them when the
 * cache hands it on. */
TEST_F(NatsCacheTest, ACachedValueKeepsThePropertiesItsHeaderCarried)
{
    if (!NatsServer::path())
        GTEST_SKIP() << "nats-server is not installed (scripts/setup.sh installs it)";
    ASSERT_TRUE(mServer.enableJetStream());
    startServer();
    corvexClient_session_t publisher = natsSession(
        mContext, &mPublisher, "publisher",
        {"SESSION_ROUTER_CACHED_TOPICS", "md/>", "SESSION_ROUTER_PROPERTIES_HEADER", "true"});
    corvexClient_session_t subscriber = natsSession(mOtherContext, &mSubscriber, "subscriber",
                                                    {"SESSION_ROUTER_CACHED_TOPICS", "md/>"});
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(publisher));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(subscriber));
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClient_session_createCacheSession(nullptr, subscriber, &mCache));
    std::vector<char> buffer(1024);
    corvexClient_container_t map = nullptr;
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClient_container_createMap(&map, buffer.data(), buffer.size()));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_container_addString(map, "in a header", "k"));
    corvexClient_msg_t msg = nullptr;
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_msg_alloc(&msg));
    corvexClient_msg_setTopicPtr(msg, "md/IBM");
    corvexClient_msg_setBinaryAttachmentPtr(msg, "last", 4);
    corvexClient_msg_setUserPropertyMap(msg, map);
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_sendMsg(publisher, msg));
    corvexClient_msg_free(&msg);
    corvexClient_container_closeMapStream(&map);

    std::vector<std::string> contents;
    ASSERT_TRUE(
        pollUntil([&] { return request("md/IBM", 5, &contents).mCode == CORVEXCLIENT_OK; }));
    EXPECT_EQ((std::vector<std::string>{"md/IBM=last"}), contents);
    mSubscriber.record(
        [&]
        {
            ASSERT_EQ(1u, mSubscriber.mMessages.size());
            EXPECT_EQ("in a header", mSubscriber.mMessages[0].mProperty);
        });
}

TEST_F(NatsCacheTest, WithoutJetStreamRequestsCompleteWithNoData)
{
    startServer();
    if (IsSkipped())
        return;
    corvexClient_session_t publisher = nullptr;
    corvexClient_session_t subscriber = nullptr;
    ASSERT_NO_FATAL_FAILURE(connectCaching(&publisher, &subscriber));
    ASSERT_EQ(CORVEXCLIENT_OK, send(publisher, "md/IBM", "last"));
    std::vector<std::string> contents;
    const CacheOutcome outcome = request("md/IBM", 5, &contents);
    EXPECT_EQ(CORVEXCLIENT_INCOMPLETE, outcome.mCode);
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_CACHE_NO_DATA, outcome.mSubCode);
}
} // namespace
