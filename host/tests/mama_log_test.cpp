// The MAMA log: level filtering, the replaceable sinks and the fixed texts.
#include <gtest/gtest.h>
#include <stdio.h>

#include <fstream>
#include <sstream>
#include <string>

#include "mama_test_support.h"

using mamatest::LogCapture;

namespace
{
TEST(LogTest, LevelFilteringFollowsTheCurrentLevel)
{
    LogCapture capture;
    EXPECT_EQ(MAMA_LOG_LEVEL_NORMAL, mama_getLogLevel());
    mama_log(MAMA_LOG_LEVEL_NORMAL, "normal %d", 1);
    mama_log(MAMA_LOG_LEVEL_FINE, "fine %d", 1);

    ASSERT_EQ(MAMA_STATUS_OK, mama_setLogLevel(MAMA_LOG_LEVEL_WARN));
    EXPECT_EQ(MAMA_LOG_LEVEL_WARN, gMamaLogLevel);
    mama_log(MAMA_LOG_LEVEL_NORMAL, "normal %d", 2);
    mama_log(MAMA_LOG_LEVEL_ERROR, "error %d", 2);
    mama_log2(MAMA_LOG_LEVEL_WARN, "warn 2");

    ASSERT_EQ(MAMA_STATUS_OK, mama_setLogLevel(MAMA_LOG_LEVEL_OFF));
    mama_log(MAMA_LOG_LEVEL_SEVERE, "severe 3");
    ASSERT_EQ(MAMA_STATUS_OK, mama_setLogLevel(MAMA_LOG_LEVEL_FINEST));
    mama_log(MAMA_LOG_LEVEL_OFF, "off 4");
    mama_log(MAMA_LOG_LEVEL_FINEST, "finest 4");

    std::vector<std::string> expected = {"normal 1", "error 2", "warn 2", "finest 4"};
    EXPECT_EQ(expected, LogCapture::snapshot());
}

TEST(LogTest, LongLinesArriveWhole)
{
    LogCapture capture;
    std::string longText(5000, 'x');
    mama_log(MAMA_LOG_LEVEL_ERROR, "<%s>", longText.c_str());
    ASSERT_EQ(1u, LogCapture::snapshot().size());
    EXPECT_EQ("<" + longText + ">", LogCapture::snapshot()[0]);
}

TEST(LogTest, FormatCallbackReceivesTheArguments)
{
    static std::string seen;
    mama_setLogCallback(
        [](MamaLogLevel level, const char* format, va_list ap)
        {
            char text[64];
            vsnprintf(text, sizeof(text), format, ap);
            seen = std::string(mama_logLevelToString(level)) + ":" + text;
        });
    mama_log(MAMA_LOG_LEVEL_WARN, "%s=%d", "answer", 42);
    mama_setLogCallback(nullptr);
    EXPECT_EQ("Warn:answer=42", seen);
}

TEST(LogTest, LogToFileAppendsLines)
{
    char path[] = "/tmp/mama_log_testXXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    ASSERT_EQ(MAMA_STATUS_OK, mama_logToFile(path, MAMA_LOG_LEVEL_NORMAL));
    mama_log(MAMA_LOG_LEVEL_NORMAL, "to the file");
    mama_log(MAMA_LOG_LEVEL_FINE, "filtered");
    ASSERT_EQ(MAMA_STATUS_OK, mama_disableLogging());
    EXPECT_EQ(MAMA_LOG_LEVEL_OFF, mama_getLogLevel());

    std::ifstream file(path);
    std::stringstream content;
    content << file.rdbuf();
    unlink(path);
    EXPECT_NE(std::string::npos, content.str().find(": to the file\n"));
    EXPECT_EQ(std::string::npos, content.str().find("filtered"));
    EXPECT_EQ(MAMA_STATUS_IO_ERROR, mama_logToFile("/nonexistent-dir/log", MAMA_LOG_LEVEL_NORMAL));
}

TEST(LogTest, LevelNamesAndBadValues)
{
    EXPECT_STREQ("Off", mama_logLevelToString(MAMA_LOG_LEVEL_OFF));
    EXPECT_STREQ("Warn", mama_logLevelToString(MAMA_LOG_LEVEL_WARN));
    EXPECT_STREQ("Finest", mama_logLevelToString(MAMA_LOG_LEVEL_FINEST));
    EXPECT_STREQ("???", mama_logLevelToString(static_cast<MamaLogLevel>(8)));

    MamaLogLevel level = MAMA_LOG_LEVEL_OFF;
    EXPECT_EQ(1, mama_tryStringToLogLevel("WARNING", &level));
    EXPECT_EQ(MAMA_LOG_LEVEL_WARN, level);
    EXPECT_EQ(1, mama_tryStringToLogLevel("finer", &level));
    EXPECT_EQ(MAMA_LOG_LEVEL_FINER, level);
    EXPECT_EQ(0, mama_tryStringToLogLevel("loud", &level));
    EXPECT_EQ(MAMA_LOG_LEVEL_FINER, level);

    EXPECT_EQ(MAMA_STATUS_INVALID_ARG, mama_setLogLevel(static_cast<MamaLogLevel>(9)));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mama_enableLogging(nullptr, MAMA_LOG_LEVEL_NORMAL));
    EXPECT_EQ(MAMA_LOG_LEVEL_NORMAL, mama_getLogLevel());
}

TEST(StatusTextTest, TextsMatchTheHostTable)
{
    EXPECT_STREQ("STATUS_OK", mamaStatus_stringForStatus(MAMA_STATUS_OK));
    EXPECT_STREQ("PROPERTY_TOO_LONG", mamaStatus_stringForStatus(MAMA_STATUS_PROPERTY_TOO_LONG));
    EXPECT_STREQ("STATUS_DELETE", mamaStatus_stringForStatus(MAMA_STATUS_DELETE));
    EXPECT_STREQ("MAMA_STATUS_QUEUE_OPEN_OBJECTS",
                 mamaStatus_stringForStatus(MAMA_STATUS_QUEUE_OPEN_OBJECTS));
    EXPECT_STREQ("ENTITLE_SITE_NOT_FOUND", mamaStatus_stringForStatus(MAMA_ENTITLE_SITE_NOT_FOUND));
    EXPECT_STREQ("unknown", mamaStatus_stringForStatus(static_cast<mama_status>(9031)));
    EXPECT_STREQ("unknown", mamaStatus_stringForStatus(static_cast<mama_status>(-1)));
    EXPECT_STREQ("DQ_GROUP_SUBSCRIBER", MamaSubscMsgTypeStr(MAMA_SUBSC_DQ_GROUP_SUBSCRIBER));
    EXPECT_STREQ("unknown", MamaSubscMsgTypeStr(static_cast<mamaSubscMsgType>(13)));
    EXPECT_STREQ("FORCED_STALE", mamaQuality_convertToString(MAMA_QUALITY_FORCED_STALE));
    EXPECT_STREQ("CONFLATED", mamaServiceLevel_toString(MAMA_SERVICE_LEVEL_CONFLATED));
}
} // namespace
