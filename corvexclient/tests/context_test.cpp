/* The context thread, its timers, the library's lifecycle and the test
 * control hooks. */
#include <atomic>
#include <set>

#include "clientTestSupport.h"

using namespace corvextest;

namespace
{
class ContextTest : public ClientTest
{
};

struct TimerLog
{
    std::mutex mLock;
    std::condition_variable mChanged;
    std::vector<corvexClient_timer_t> mFired;
    std::vector<std::thread::id> mThreads;

    static void onTimer(corvexClient_context_t, corvexClient_timer_t timer, void* user)
    {
        TimerLog* log = static_cast<TimerLog*>(user);
        std::lock_guard<std::mutex> guard(log->mLock);
        log->mFired.push_back(timer);
        log->mThreads.push_back(std::this_thread::get_id());
        log->mChanged.notify_all();
    }

    bool waitFor(size_t count)
    {
        std::unique_lock<std::mutex> lock(mLock);
        return mChanged.wait_for(lock, WAIT_LIMIT, [&] { return mFired.size() >= count; });
    }
};
} // namespace

TEST_F(ContextTest, OneShotTimersFireOnceInDueOrderOnTheContextThread)
{
    TimerLog log;
    corvexClient_timer_t late = 0;
    corvexClient_timer_t early = 0;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClient_context_startTimer(mContext, CORVEXCLIENT_TIMER_ONE_SHOT, 60,
                                              TimerLog::onTimer, &log, &late));
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClient_context_startTimer(mContext, CORVEXCLIENT_TIMER_ONE_SHOT, 20,
                                              TimerLog::onTimer, &log, &early));
    ASSERT_TRUE(log.waitFor(2));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
    std::lock_guard<std::mutex> guard(log.mLock);
    EXPECT_EQ((std::vector<corvexClient_timer_t>{early, late}), log.mFired);
    EXPECT_NE(std::this_thread::get_id(), log.mThreads[0]);
    EXPECT_EQ(log.mThreads[0], log.mThreads[1]);
    /* A fired one-shot timer cannot be stopped any more. */
    EXPECT_EQ(CORVEXCLIENT_NOT_FOUND, corvexClient_context_stopTimer(mContext, &early));
}

TEST_F(ContextTest, StoppedTimerNeverFiresAndRepeatingTimerRepeats)
{
    TimerLog stopped;
    TimerLog repeating;
    corvexClient_timer_t never = 0;
    corvexClient_timer_t every = 0;
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClient_context_startTimer(mContext, CORVEXCLIENT_TIMER_ONE_SHOT, 30,
                                              TimerLog::onTimer, &stopped, &never));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_context_stopTimer(mContext, &never));
    EXPECT_EQ(0u, never);
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_context_startTimer(mContext, 5, 10, TimerLog::onTimer,
                                                                 &stopped, nullptr));
    EXPECT_EQ(CORVEXCLIENT_FAIL,
              corvexClient_context_startTimer(mContext, 0, 10, nullptr, nullptr, nullptr));
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClient_context_startTimer(mContext, CORVEXCLIENT_TIMER_REPEAT, 10,
                                              TimerLog::onTimer, &repeating, &every));
    ASSERT_TRUE(repeating.waitFor(5));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_context_stopTimer(mContext, &every));
    /* A callback already under way is not waited for by stop: joining the
     * thread makes sure none touches the logs after the test. */
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_context_destroy(&mContext));
    EXPECT_TRUE(stopped.mFired.empty());
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_context_startTimer(nullptr, 0, 10, TimerLog::onTimer,
                                                                 &stopped, nullptr));
}

TEST_F(ContextTest, EveryCallbackOfEverySessionRunsOnOneThreadOneAtATime)
{
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::mutex lock;
    std::set<std::thread::id>* threads = new std::set<std::thread::id>;
    struct Probe
    {
        std::atomic<int>* mInside;
        std::atomic<int>* mOverlaps;
        std::mutex* mLock;
        std::set<std::thread::id>* mThreads;
        ClientRecorder* mRecorder;
    } probe{&inside, &overlaps, &lock, threads, &mRecorder};
    struct Callback
    {
        static int onMessage(corvexClient_session_t session, corvexClient_msg_t msg, void* user)
        {
            Probe* probe = static_cast<Probe*>(user);
            if (probe->mInside->fetch_add(1) != 0)
                probe->mOverlaps->fetch_add(1);
            {
                std::lock_guard<std::mutex> guard(*probe->mLock);
                probe->mThreads->insert(std::this_thread::get_id());
            }
            std::this_thread::yield();
            probe->mInside->fetch_sub(1);
            Tagged tagged{probe->mRecorder, 0};
            return ClientRecorder::onMessage(session, msg, &tagged);
        }
    };
    CorvexDispatchInfo dispatch{CORVEXCLIENT_DISPATCH_TYPE_CALLBACK, Callback::onMessage, &probe,
                                nullptr};
    corvexClient_session_t a = session();
    corvexClient_session_t b = session();
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClient_session_topicSubscribeWithDispatch(a, 2, "one/>", &dispatch, nullptr));
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClient_session_topicSubscribeWithDispatch(b, 2, "one/>", &dispatch, nullptr));
    std::thread other(
        [&]
        {
            for (int i = 0; i < 500; ++i)
                send(b, "one/b", "x");
        });
    for (int i = 0; i < 500; ++i)
        send(a, "one/a", "x");
    other.join();
    ASSERT_TRUE(mRecorder.waitForMessages(2000));
    EXPECT_EQ(0, overlaps.load());
    EXPECT_EQ(1u, threads->size());
    delete threads;
}

TEST_F(ContextTest, ThreadCallbacksBracketTheContextThread)
{
    struct Bracket
    {
        std::atomic<int> mStarted{0};
        std::atomic<int> mStopped{0};
        static void onStart(corvexClient_context_t, void* user)
        {
            static_cast<Bracket*>(user)->mStarted.fetch_add(1);
        }
        static void onStop(corvexClient_context_t, void* user)
        {
            static_cast<Bracket*>(user)->mStopped.fetch_add(1);
        }
    } bracket;
    corvexClient_context_createFuncInfo_t funcInfo{Bracket::onStart, Bracket::onStop, &bracket};
    corvexClient_context_t context = nullptr;
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClient_context_create(nullptr, &context, &funcInfo, sizeof(funcInfo)));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_context_destroy(&context));
    EXPECT_EQ(nullptr, context);
    EXPECT_EQ(1, bracket.mStarted.load());
    EXPECT_EQ(1, bracket.mStopped.load());
}

TEST_F(ContextTest, ContextDestroyDestroysItsSessionsAndReportsTheirEntries)
{
    corvexClient_context_t other = nullptr;
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_context_create(nullptr, &other, nullptr, 0));
    corvexClient_session_t session = nullptr;
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_create(nullptr, other, &session, nullptr, 0));
    _corvexClient_session_registerForTopicDispatchDestroy(session, onRemoval);
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(session));
    Tagged tagged{&mRecorder, 1};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(session, "gone/x", tagged));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_context_destroy(&other));
    ASSERT_EQ(1u, mRecorder.mRemovals.size());
    EXPECT_EQ("gone/x", mRecorder.mRemovals[0].mTopic);
}

TEST_F(ContextTest, CleanupEndsContextsWithTheirSessionsAndFreesTheRouter)
{
    corvexClient_session_t left = session({"SESSION_CLIENT_NAME", "left"});
    Tagged tagged{&mRecorder, 1};
    ASSERT_EQ(CORVEXCLIENT_OK, subscribe(left, "left/x", tagged));
    corvexClient_cacheSession_t cacheSession = nullptr;
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClient_session_createCacheSession(nullptr, left, &cacheSession));

    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_cleanup());
    /* Cleanup destroyed the context and its session, which the fixture must
     * not destroy again. */
    mContext = nullptr;
    mSessions.clear();
    ASSERT_EQ(1u, mRecorder.mRemovals.size());
    EXPECT_EQ("left/x", mRecorder.mRemovals[0].mTopic);
    /* The cache session outlived its session and now refuses requests. */
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_cacheSession_sendCacheRequest(
                                     cacheSession, "left/x", 1, nullptr, nullptr, 0, 0));
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_BAD_STATE, corvexClient_getLastErrorInfo()->mSubCode);
    EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_cacheSession_destroy(&cacheSession));

    /* Started again, the router is a new one: the client name is free. */
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_initialize(CORVEXCLIENT_LOG_WARNING, nullptr));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_context_create(nullptr, &mContext, nullptr, 0));
    session({"SESSION_CLIENT_NAME", "left"});
}

TEST_F(ContextTest, ContextPropertiesAreChecked)
{
    corvexClient_context_t context = nullptr;
    const char* noThread[] = {"CONTEXT_CREATE_THREAD", "0", nullptr};
    const char* badLimit[] = {"CONTEXT_QUEUE_LIMIT", "-5", nullptr};
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_context_create(noThread, &context, nullptr, 0));
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_BAD_PROPERTY_VALUE, corvexClient_getLastErrorInfo()->mSubCode);
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_context_create(badLimit, &context, nullptr, 0));
    for (const char* value : {"0", " 5", "5x", "0x10"})
    {
        const char* limit[] = {"CONTEXT_QUEUE_LIMIT", value, nullptr};
        EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_context_create(limit, &context, nullptr, 0))
            << "'" << value << "'";
        const std::string text = corvexClient_getLastErrorInfo()->mErrorText;
        EXPECT_NE(std::string::npos, text.find(std::string("\"CONTEXT_QUEUE_LIMIT\": '") + value))
            << text;
    }
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_context_create(nullptr, nullptr, nullptr, 0));
    corvexClient_context_createFuncInfo_t funcInfo{};
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_context_create(nullptr, &context, &funcInfo, 8));
    EXPECT_EQ(nullptr, context);
}

TEST_F(ContextTest, FailNextMakesExactlyTheNamedCallsFail)
{
    corvexClientTest_failNext("corvexClient_session_connect", CORVEXCLIENT_FAIL, 47,
                              "refused by test");
    corvexClientTest_failNext("corvexClient_session_connect", CORVEXCLIENT_WOULD_BLOCK, 0, nullptr);
    corvexClient_session_t session = this->session({}, false);
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_session_connect(session));
    EXPECT_EQ(47u, corvexClient_getLastErrorInfo()->mSubCode);
    EXPECT_STREQ("refused by test", corvexClient_getLastErrorInfo()->mErrorText);
    EXPECT_EQ(CORVEXCLIENT_WOULD_BLOCK, corvexClient_session_connect(session));
    EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(session));

    corvexClientTest_failNext("corvexClient_generateUUIDString", CORVEXCLIENT_FAIL, 6, "x");
    corvexClientTest_clearFailures();
    char uuid[37];
    EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_generateUUIDString(uuid, sizeof(uuid)));
}

TEST_F(ContextTest, RecordingKeepsCallsWithTheirArguments)
{
    corvexClient_session_t session = this->session();
    corvexClientTest_setRecording(1);
    Tagged tagged{&mRecorder, 1};
    int correlation;
    subscribe(session, "rec/a", tagged, CORVEXCLIENT_SUBSCRIBE_FLAGS_REQUEST_CONFIRM, &correlation);
    send(session, "rec/a", "x");
    corvexClientTest_setRecording(0);
    send(session, "rec/a", "not recorded");
    // Both deliveries use `tagged`, which lives on this stack frame.
    ASSERT_TRUE(mRecorder.waitForMessages(2));
    EXPECT_EQ(1u, corvexClientTest_callCount("corvexClient_session_topicSubscribeWithDispatch"));
    EXPECT_EQ(1u, corvexClientTest_callCount("corvexClient_session_sendMsg"));
    char arguments[256];
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClientTest_getCall("corvexClient_session_topicSubscribeWithDispatch", 0,
                                       arguments, sizeof(arguments)));
    EXPECT_NE(nullptr, std::strstr(arguments, "flags=16 topic=rec/a"));
    EXPECT_EQ(CORVEXCLIENT_NOT_FOUND, corvexClientTest_getCall("corvexClient_session_sendMsg", 1,
                                                               arguments, sizeof(arguments)));
    corvexClientTest_clearCalls();
    EXPECT_EQ(0u, corvexClientTest_callCount(nullptr));
}

TEST(LibraryTest, LifecycleAndLogging)
{
    corvexClient_context_t context = nullptr;
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_context_create(nullptr, &context, nullptr, 0));
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_NOT_INITIALIZED, corvexClient_getLastErrorInfo()->mSubCode);
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_cleanup());

    struct Lines
    {
        std::mutex mLock;
        std::vector<std::string> mText;
        static void onLog(const corvexClient_logInfo_t* record, void* user)
        {
            Lines* lines = static_cast<Lines*>(user);
            std::lock_guard<std::mutex> guard(lines->mLock);
            lines->mText.push_back(std::to_string(record->mCategory) + "/" +
                                   std::to_string(record->mLevel) + " " + record->mMessage);
        }
    } lines;
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_log_setCallback(Lines::onLog, &lines));
    const char* globals[] = {"queue_max_size", "100", "anything", "goes", nullptr};
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_initialize(CORVEXCLIENT_LOG_DEBUG, globals));
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_initialize(CORVEXCLIENT_LOG_DEBUG, nullptr));
    EXPECT_EQ(CORVEXCLIENT_SUBCODE_ALREADY_INITIALIZED, corvexClient_getLastErrorInfo()->mSubCode);
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_context_create(nullptr, &context, nullptr, 0));
    /* Cleanup destroys what is left. */
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_cleanup());
    {
        std::lock_guard<std::mutex> guard(lines.mLock);
        ASSERT_FALSE(lines.mText.empty());
        EXPECT_EQ(0u, lines.mText[0].find("1/6 initialized"));
    }
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_log_unsetCallback());
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_log_setFilterLevel(9, CORVEXCLIENT_LOG_DEBUG));
    EXPECT_EQ(CORVEXCLIENT_FAIL, corvexClient_initialize(-1, nullptr));
    /* Started again after a cleanup; a level above the most verbose is taken as it. */
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_initialize(42, nullptr));
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_cleanup());
}
