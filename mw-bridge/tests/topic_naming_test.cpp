/* Mapping between MAMA names and vendor topics. The host reaches these rules
 * only through publishers and subscriptions, so the module is linked into the
 * test and exercised directly, cut rules included. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include <gtest/gtest.h>

#include "subscription.h"
#include "topic.h"
#include "transport.h"

namespace
{
struct BuildResult
{
    mama_status status;
    std::string topic;
};

BuildResult build(const char* root, const char* source, const char* symbol, bool allowWildcards,
                  CorvexTransportBridge* transport = nullptr)
{
    static CorvexTransportBridge noInbox;
    char* topic = nullptr;
    BuildResult result;
    result.status = corvexTopic_build(root, source, symbol, &topic, allowWildcards,
                                      transport ? transport : &noInbox);
    if (topic != nullptr)
    {
        result.topic = topic;
        free(topic);
    }
    return result;
}

std::string decode(const std::string& topic, size_t size = CORVEX_TOPIC_BUFFER_SIZE)
{
    char buffer[CORVEX_TOPIC_BUFFER_SIZE];
    memset(buffer, 'x', sizeof(buffer));
    size_t written = corvexTopic_decode(topic.c_str(), buffer, size);
    EXPECT_EQ(written, size == 0 ? 0 : strlen(buffer) + 1);
    return size == 0 ? std::string() : std::string(buffer);
}

std::string secondLevel(const char* text)
{
    char buffer[64];
    snprintf(buffer, sizeof(buffer), "%s", text);
    corvexTopic_wildcardSecondLevel(buffer);
    return buffer;
}
} // namespace

TEST(TopicBuild, DocumentedExamples)
{
    struct Case
    {
        const char* root;
        const char* source;
        const char* symbol;
        bool allowWildcards;
        const char* expected;
    };
    const Case cases[] = {
        {nullptr, "NYSE", "IBM", false, "NYSE/IBM"},
        {nullptr, "NYSE", "BRK.A", false, "NYSE/BRK/A"},
        {nullptr, "NYSE.ARCA", "IBM", false, "NYSE/ARCA/IBM"},
        {nullptr, "FX", "EUR/USD", false, "FX/EUR^USD"},
        {nullptr, "IDX", "^DJI", false, "IDX/\\^DJI"},
        {nullptr, nullptr, "IBM", false, "IBM"},
        {"_MD", "NYSE", nullptr, false, "_MD/NYSE"},
        {nullptr, "SRC", "DATA_DICT", false, "#MDDD/SRC/DATA_DICT"},
        {nullptr, "_MDDD", "DATA_DICT", false, "_MDDD/DATA_DICT"},
        {"_MDDD", "SRC", "DATA_DICT", false, "_MDDD/SRC/DATA_DICT"},
        {nullptr, "NYSE", "*", true, "NYSE/*"},
        {nullptr, "NYSE.>", nullptr, true, "NYSE/>"},
        {nullptr, "NYSE", "A>B", false, "NYSE/A>B"},
    };
    for (const Case& c : cases)
    {
        BuildResult result = build(c.root, c.source, c.symbol, c.allowWildcards);
        EXPECT_EQ(MAMA_STATUS_OK, result.status) << c.expected;
        EXPECT_EQ(c.expected, result.topic);
    }
}

TEST(TopicBuild, WildcardsRefusedWhereNotAllowed)
{
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG, build(nullptr, "NYSE", "*", false).status);
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG, build(nullptr, "NYSE", "IBM>", false).status);
    /* A '*' inside a level is still refused. */
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG, build(nullptr, "NYSE", "I*M", false).status);
    EXPECT_TRUE(build(nullptr, "NYSE", "IBM", false).topic.size() > 0);
}

TEST(TopicBuild, SourceNeedsTransportAndEmptyPartsAreSkipped)
{
    char* topic = nullptr;
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, corvexTopic_build(nullptr, "NYSE", "IBM", &topic, 0, nullptr));
    EXPECT_EQ(nullptr, topic);
    ASSERT_EQ(MAMA_STATUS_OK, corvexTopic_build(nullptr, nullptr, "IBM", &topic, 0, nullptr));
    EXPECT_STREQ("IBM", topic);
    free(topic);
    EXPECT_EQ("NYSE/IBM", build("", "NYSE", "IBM", false).topic);
    EXPECT_EQ("NYSE", build(nullptr, "NYSE", "", false).topic);
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, corvexTopic_build(nullptr, "A", "B", nullptr, 0, nullptr));
}

TEST(TopicBuild, LongNamesAreCutAt259Bytes)
{
    std::string longSource(300, 's');
    BuildResult result = build(nullptr, longSource.c_str(), "X", false);
    ASSERT_EQ(MAMA_STATUS_OK, result.status);
    EXPECT_EQ(std::string(259, 's'), result.topic);

    /* One byte left after a cut part: the separator still fits, the next part does not. */
    std::string cutByEscape = std::string(258, 's') + "^x";
    result = build(nullptr, cutByEscape.c_str(), "IBM", false);
    EXPECT_EQ(std::string(258, 's') + "/", result.topic);

    /* An escape pair is never split across the end. */
    std::string withBackslash = std::string(253, 'a') + "\\b";
    result = build(nullptr, "NYSE", withBackslash.c_str(), false);
    EXPECT_EQ("NYSE/" + std::string(253, 'a'), result.topic);
    EXPECT_EQ(258u, result.topic.size());
}

TEST(TopicBuild, DictionaryPrefixIsAddedAfterTheLimit)
{
    std::string source = std::string(249, 'd');
    BuildResult result = build(nullptr, source.c_str(), "DATA_DICT", false);
    ASSERT_EQ(MAMA_STATUS_OK, result.status);
    EXPECT_EQ("#MDDD/" + source + "/DATA_DICT", result.topic);
    EXPECT_EQ(265u, result.topic.size());
}

TEST(TopicBuild, SourceUnderInboxPrefixIsCopiedAsIs)
{
    CorvexTransportBridge transport;
    memset(&transport, 0, sizeof(transport));
    snprintf(transport.mInboxCorvexSubPrefix, sizeof(transport.mInboxCorvexSubPrefix),
             "#P2P/*/client42/");
    transport.mInboxCorvexSubPrefixLen = strlen(transport.mInboxCorvexSubPrefix);

    BuildResult result = build(nullptr, "#P2P/*/client42/inbox.1", nullptr, true, &transport);
    EXPECT_EQ("#P2P/*/client42/inbox.1", result.topic);
    /* Other sources on the same transport are translated as usual. */
    EXPECT_EQ("a/b", build(nullptr, "a.b", nullptr, false, &transport).topic);
}

TEST(TopicBuild, EmptyInboxPrefixDoesNotDisableTranslation)
{
    CorvexTransportBridge transport;
    memset(&transport, 0, sizeof(transport));
    EXPECT_EQ("NYSE/BRK/A", build(nullptr, "NYSE.BRK", "A", false, &transport).topic);
}

TEST(TopicWildcard, Rule)
{
    EXPECT_FALSE(corvexTopic_hasWildcard(nullptr));
    EXPECT_FALSE(corvexTopic_hasWildcard(""));
    EXPECT_TRUE(corvexTopic_hasWildcard("a/*/c"));
    EXPECT_TRUE(corvexTopic_hasWildcard("ab*"));
    EXPECT_TRUE(corvexTopic_hasWildcard("a/>"));
    EXPECT_TRUE(corvexTopic_hasWildcard(">"));
    EXPECT_FALSE(corvexTopic_hasWildcard("a>b/c"));
    EXPECT_FALSE(corvexTopic_hasWildcard("NYSE/IBM"));
}

TEST(TopicDecode, Examples)
{
    EXPECT_EQ("NYSE.BRK.A", decode("NYSE/BRK/A"));
    EXPECT_EQ("FX.EUR/USD", decode("FX/EUR^USD"));
    EXPECT_EQ("#MDDD.SRC.DATA_DICT", decode("#MDDD/SRC/DATA_DICT"));
    EXPECT_EQ("IDX.^DJI", decode("IDX/\\^DJI"));
    EXPECT_EQ("a\\b", decode("a\\\\b"));
    /* A backslash at the very end ends the text. */
    EXPECT_EQ("ab", decode("ab\\"));
}

TEST(TopicDecode, BoundedOutput)
{
    EXPECT_EQ("", decode("NYSE/IBM", 1));
    EXPECT_EQ("NYS", decode("NYSE/IBM", 4));
    EXPECT_EQ("", decode("NYSE/IBM", 0));
    char buffer[8];
    EXPECT_EQ(1u, corvexTopic_decode(nullptr, buffer, sizeof(buffer)));
    EXPECT_STREQ("", buffer);
}

TEST(TopicInboxPattern, SecondLevelBecomesWildcard)
{
    EXPECT_EQ("a/*/c", secondLevel("a/b/c"));
    EXPECT_EQ("x/*/", secondLevel("x/y/"));
    EXPECT_EQ("/*/y", secondLevel("/x/y"));
    EXPECT_EQ("abc", secondLevel("abc"));
    EXPECT_EQ("a/bc", secondLevel("a/bc"));
    EXPECT_EQ("#P2P/*/client42/", secondLevel("#P2P/v:node7/client42/"));
    /* An empty second level is left alone rather than grown past its buffer. */
    EXPECT_EQ("a//b", secondLevel("a//b"));
}
