/* The tree that indexes wildcard subscriptions: it must find exactly the
 * patterns the one-pattern matcher accepts, keep each pattern's values in
 * order, and leave no node behind once patterns go. */
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "../src/topicMatch.h"
#include "../src/topicTree.h"

namespace
{
using Tree = CorvexTopicTree<std::string>;

std::set<std::string> treeMatches(const Tree& tree, const std::string& topic)
{
    std::set<std::string> found;
    corvexTopicTree_match(tree, topic,
                          [&found](const std::vector<std::string>& patterns)
                          { found.insert(patterns.begin(), patterns.end()); });
    return found;
}

std::set<std::string> oneByOne(const std::vector<std::string>& patterns, const std::string& topic)
{
    std::set<std::string> found;
    for (const std::string& pattern : patterns)
    {
        if (corvexTopic_matches(pattern.data(), pattern.size(), topic.data(), topic.size()))
            found.insert(pattern);
    }
    return found;
}

/* Every pattern and topic of up to three levels over a small alphabet, so
 * that literal, "*", prefix "*" and ">" levels overlap at every depth. */
std::vector<std::string> combinations(const std::vector<std::string>& levels, size_t depth)
{
    std::vector<std::string> result;
    std::vector<std::string> previous{""};
    for (size_t d = 0; d < depth; ++d)
    {
        std::vector<std::string> next;
        for (const std::string& head : previous)
        {
            for (const std::string& level : levels)
                next.push_back(head.empty() ? level : head + "/" + level);
        }
        result.insert(result.end(), next.begin(), next.end());
        previous = next;
    }
    return result;
}
} // namespace

TEST(TopicTreeTest, FindsExactlyThePatternsThatMatchOneByOne)
{
    std::vector<std::string> patterns;
    for (const std::string& pattern : combinations({"a", "ab", "*", "a*", "b*c", ">", "a>"}, 3))
    {
        /* The tree holds what a session files as wildcards. */
        if (corvexTopic_isWildcard(pattern.data(), pattern.size()))
            patterns.push_back(pattern);
    }
    Tree tree;
    for (const std::string& pattern : patterns)
        corvexTopicTree_add(tree, pattern, pattern);
    ASSERT_EQ(patterns.size(), tree.mPatterns);

    size_t checked = 0;
    size_t matched = 0;
    for (const std::string& topic : combinations({"a", "ab", "b", "abc", "b*c", ">", "a>"}, 4))
    {
        const std::set<std::string> expected = oneByOne(patterns, topic);
        EXPECT_EQ(expected, treeMatches(tree, topic)) << topic;
        ++checked;
        matched += expected.size();
    }
    EXPECT_GT(checked, 1000u);
    EXPECT_GT(matched, checked); /* the sets overlap, not just one pattern each */
}

TEST(TopicTreeTest, KeepsThePatternValuesInOrderAndForgetsEmptyPatterns)
{
    Tree tree;
    corvexTopicTree_add(tree, "md/*/IBM/>", std::string("first"));
    corvexTopicTree_add(tree, "md/*/IBM/>", std::string("second"));
    corvexTopicTree_add(tree, "md/x*", std::string("other"));
    EXPECT_EQ(2u, tree.mPatterns);

    std::vector<std::string>* values = corvexTopicTree_find(tree, "md/*/IBM/>");
    ASSERT_NE(nullptr, values);
    EXPECT_EQ((std::vector<std::string>{"first", "second"}), *values);
    EXPECT_EQ(nullptr, corvexTopicTree_find(tree, "md/*/IBM"));
    EXPECT_EQ(nullptr, corvexTopicTree_find(tree, "md/*/MSFT/>"));

    values->erase(values->begin());
    corvexTopicTree_settle(tree, "md/*/IBM/>");
    EXPECT_EQ(2u, tree.mPatterns);
    EXPECT_EQ((std::set<std::string>{"second"}), treeMatches(tree, "md/q/IBM/trade"));

    values->clear();
    corvexTopicTree_settle(tree, "md/*/IBM/>");
    EXPECT_EQ(1u, tree.mPatterns);
    EXPECT_TRUE(treeMatches(tree, "md/q/IBM/trade").empty());
    EXPECT_EQ((std::set<std::string>{"other"}), treeMatches(tree, "md/xyz"));
}

TEST(TopicTreeTest, InboxesThatComeAndGoLeaveNoNodes)
{
    Tree tree;
    for (int round = 0; round < 3; ++round)
    {
        for (int i = 0; i < 2000; ++i)
            corvexTopicTree_add(tree, "#P2P/*/client/" + std::to_string(i), std::string("inbox"));
        corvexTopicTree_add(tree, "md/>", std::string("listener"));
        EXPECT_EQ(2001u, tree.mPatterns);
        EXPECT_EQ((std::set<std::string>{"inbox"}), treeMatches(tree, "#P2P/v:r/client/1999"));
        EXPECT_EQ((std::set<std::string>{"listener"}), treeMatches(tree, "md/IBM"));

        for (int i = 0; i < 2000; ++i)
        {
            const std::string pattern = "#P2P/*/client/" + std::to_string(i);
            corvexTopicTree_find(tree, pattern)->clear();
            corvexTopicTree_settle(tree, pattern);
        }
        EXPECT_EQ(1u, tree.mPatterns);
        EXPECT_EQ(1u, tree.mRoot.mLiteral.size()); /* "md" only */
        EXPECT_TRUE(tree.mRoot.mPrefixed.empty());

        corvexTopicTree_removeIf(tree,
                                 [](const std::string& value) { return value == "listener"; });
        EXPECT_EQ(0u, tree.mPatterns);
        EXPECT_TRUE(tree.mRoot.empty());
    }
}
