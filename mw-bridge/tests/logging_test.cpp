#define CORVEX_LOG_MODULE "loggingTest"

#include <stdlib.h>

#include <corvexClientTest.h>

#include "bridgeTest.h"
#include "logging.h"

namespace
{
const char* const FOLDED = "(similar message repeated";

/* A vendor context with its own thread, on which throttled logs run their
 * timers. */
class ThrottledLogTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        LogCapture::start(MAMA_LOG_LEVEL_FINEST);
        const char* properties[] = {"CONTEXT_CREATE_THREAD", "1", nullptr};
        ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_initialize(CORVEXCLIENT_LOG_ERROR, properties));
        corvexClient_context_createFuncInfo_t funcInfo = {};
        ASSERT_EQ(CORVEXCLIENT_OK,
                  corvexClient_context_create(properties, &mContext, &funcInfo, sizeof(funcInfo)));
    }

    void TearDown() override
    {
        EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_context_destroy(&mContext));
        corvexClient_cleanup();
    }

    /* Waits until a timer started now for `ms` has run on the context thread:
     * every earlier timer of shorter duration has run by then. */
    void waitPast(uint32_t ms)
    {
        Signal fired;
        corvexClient_timer_t timer = 0;
        ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_context_startTimer(
                                       mContext, CORVEXCLIENT_TIMER_ONE_SHOT, ms,
                                       [](corvexClient_context_t, corvexClient_timer_t, void* user)
                                       { static_cast<Signal*>(user)->raise(); },
                                       &fired, &timer));
        ASSERT_TRUE(fired.wait(std::chrono::milliseconds(ms + 5000)));
    }

    corvexClient_context_t mContext = nullptr;
};
} // namespace

TEST_F(ThrottledLogTest, SingleMessageIsLoggedAtOnceAndNeverFolded)
{
    CorvexThrottledLog* log = corvexThrottledLog_create(CORVEX_LOG_ERROR, mContext);
    ASSERT_NE(nullptr, log);
    corvexThrottledLog_log(log, "Discarding message with topic '%s'", "NYSE/IBM");
    EXPECT_EQ(std::vector<std::string>({"Discarding message with topic 'NYSE/IBM'"}),
              LogCapture::matching("Discarding"));

    waitPast(1200);
    EXPECT_EQ(0u, LogCapture::count(FOLDED));
    corvexThrottledLog_destroy(log);
}

TEST_F(ThrottledLogTest, BurstIsFoldedIntoOneLineWithTheLatestMessage)
{
    CorvexThrottledLog* log = corvexThrottledLog_create(CORVEX_LOG_ERROR, mContext);
    ASSERT_NE(nullptr, log);
    for (int i = 1; i <= 5; i++)
    {
        corvexThrottledLog_log(log, "message %d", i);
    }
    EXPECT_EQ(std::vector<std::string>({"message 1"}), LogCapture::matching("message"));

    ASSERT_TRUE(LogCapture::waitFor(FOLDED));
    EXPECT_EQ(
        std::vector<std::string>({"message 1", "message 5 (similar message repeated 4 times)"}),
        LogCapture::matching("message"));

    // A later burst opens a window of its own, once this one has closed.
    waitPast(10);
    corvexThrottledLog_log(log, "message %d", 6);
    corvexThrottledLog_log(log, "message %d", 7);
    ASSERT_TRUE(LogCapture::waitFor(FOLDED, 2)) << ::testing::PrintToString(LogCapture::lines());
    EXPECT_EQ(
        std::vector<std::string>({"message 1", "message 5 (similar message repeated 4 times)",
                                  "message 6", "message 7 (similar message repeated 1 times)"}),
        LogCapture::matching("message"));
    corvexThrottledLog_destroy(log);
}

TEST_F(ThrottledLogTest, DestroyWhileTheTimerIsPendingFreesItOnce)
{
    CorvexThrottledLog* log = corvexThrottledLog_create(CORVEX_LOG_ERROR, mContext);
    ASSERT_NE(nullptr, log);
    corvexThrottledLog_log(log, "first");
    corvexThrottledLog_destroy(log);
    waitPast(1200); // a timer that was not cancelled would run on freed memory here
    EXPECT_EQ(1u, LogCapture::count("first"));
    EXPECT_EQ(0u, LogCapture::count(FOLDED)) << "a destroy is not a repeated message";
}

TEST_F(ThrottledLogTest, DestroyRightBeforeTheContextGoesReportsTheWindowAndLeaksNothing)
{
    CorvexThrottledLog* log = corvexThrottledLog_create(CORVEX_LOG_ERROR, mContext);
    ASSERT_NE(nullptr, log);
    corvexThrottledLog_log(log, "burst %d", 1);
    corvexThrottledLog_log(log, "burst %d", 2);
    corvexThrottledLog_log(log, "burst %d", 3);
    corvexThrottledLog_destroy(log);
    // TearDown destroys the context at once, dropping its pending timers:
    // the leak checker sees the object if the destroy left it to the timer.
    EXPECT_EQ(std::vector<std::string>({"burst 1", "burst 3 (similar message repeated 2 times)"}),
              LogCapture::matching("burst"));
}

TEST_F(ThrottledLogTest, MessageArrivingWhileAWindowClosesIsStillCounted)
{
    CorvexThrottledLog* log = corvexThrottledLog_create(CORVEX_LOG_ERROR, mContext);
    ASSERT_NE(nullptr, log);
    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};
    std::thread logger(
        [&]
        {
            while (!stop)
            {
                corvexThrottledLog_log(log, "steady");
                sent++;
                std::this_thread::sleep_for(std::chrono::microseconds(200)); // pacing, not waiting
            }
        });
    ASSERT_TRUE(LogCapture::waitFor(FOLDED, 2));
    stop = true;
    logger.join();
    waitPast(2500);

    int reported = 0;
    for (const std::string& line : LogCapture::matching("steady"))
    {
        size_t at = line.find("repeated ");
        reported += at == std::string::npos ? 1 : atoi(line.c_str() + at + strlen("repeated "));
    }
    EXPECT_EQ(sent.load(), reported);
    corvexThrottledLog_destroy(log);
}

TEST_F(ThrottledLogTest, ConcurrentLoggersLoseNoCount)
{
    CorvexThrottledLog* log = corvexThrottledLog_create(CORVEX_LOG_ERROR, mContext);
    ASSERT_NE(nullptr, log);
    std::vector<std::thread> loggers;
    for (int t = 0; t < 4; t++)
    {
        loggers.emplace_back(
            [log]
            {
                for (int i = 0; i < 250; i++)
                {
                    corvexThrottledLog_log(log, "burst");
                }
            });
    }
    for (std::thread& logger : loggers)
    {
        logger.join();
    }
    ASSERT_TRUE(LogCapture::waitFor(FOLDED));
    waitPast(2500); // any later window has closed too

    int folded = 0;
    for (const std::string& line : LogCapture::matching(FOLDED))
    {
        folded += atoi(line.c_str() + line.find("repeated ") + strlen("repeated "));
    }
    size_t immediate = 0;
    for (const std::string& line : LogCapture::lines())
    {
        immediate += line == "burst" ? 1 : 0;
    }
    EXPECT_EQ(1000u, immediate + (size_t)folded);
    corvexThrottledLog_destroy(log);
}

TEST(VendorLogCallback, MapsLevelsAndMarksCategories)
{
    LogCapture::start(MAMA_LOG_LEVEL_FINEST);
    corvexClient_logInfo_t records[] = {
        {0, 1, "plain"}, {5, 6, "other"}, {1, 3, "call"}, {2, 2, "machinery"}};
    for (const corvexClient_logInfo_t& record : records)
    {
        corvexBridge_logCallback(&record, nullptr);
    }
    std::vector<std::string> lines = LogCapture::matching("CORVEX-MW-Bridge");
    ASSERT_EQ(4u, lines.size());
    EXPECT_TRUE(BridgeLine::is(lines[0], "Finest", "logging", "plain")) << lines[0];
    EXPECT_TRUE(BridgeLine::is(lines[1], "Fine", "logging", "other")) << lines[1];
    EXPECT_TRUE(BridgeLine::is(lines[2], "Error", "logging", "[API] call")) << lines[2];
    EXPECT_TRUE(BridgeLine::is(lines[3], "Severe", "logging", "[APP] machinery")) << lines[3];
    corvexBridge_logCallback(nullptr, nullptr);
}

TEST(VendorErrorReport, LongFormCarriesTheVendorDetailsShortFormOnlyTheCode)
{
    LogCapture::start(MAMA_LOG_LEVEL_FINEST);
    corvexClientTest_failNext("corvexClient_version_get", CORVEXCLIENT_FAIL, 47,
                              "not permitted by test");
    const corvexClient_versionInfo_t* version = nullptr;
    corvexClient_returnCode_t rc = corvexClient_version_get(&version);
    ASSERT_EQ(CORVEXCLIENT_FAIL, rc);
    CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_ERROR, rc, "Error in corvexClient_version_get()");

    CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_WARN, CORVEXCLIENT_NOT_FOUND, "Nothing there");

    std::vector<std::string> lines = LogCapture::matching("CORVEX-MW-Bridge");
    ASSERT_EQ(2u, lines.size());
    std::string expectedLong = std::string("Error in corvexClient_version_get() - ReturnCode='") +
                               corvexClient_returnCodeToString(rc) + "', SubCode='" +
                               corvexClient_subCodeToString(47) + "', ResponseCode=";
    EXPECT_NE(std::string::npos, lines[0].find(expectedLong)) << lines[0];
    EXPECT_NE(std::string::npos, lines[0].find("Info='not permitted by test'")) << lines[0];
    EXPECT_EQ(0u, lines[0].find("Error CORVEX-MW-Bridge: (loggingTest:")) << lines[0];

    std::string expectedShort = std::string("): Nothing there - ReturnCode='") +
                                corvexClient_returnCodeToString(CORVEXCLIENT_NOT_FOUND) + "'";
    EXPECT_EQ(lines[1].size() - expectedShort.size(), lines[1].find(expectedShort)) << lines[1];
    EXPECT_EQ(0u, lines[1].find("Warn CORVEX-MW-Bridge: (loggingTest:")) << lines[1];
}
