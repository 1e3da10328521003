/* Wildcard subscriptions by level: a tree whose edges are the levels of the
 * patterns, so that a topic is matched by walking its own levels instead of
 * testing every pattern. A level is literal, "*" or a prefix ending in "*"
 * (one level), or a last ">" (one or more levels); the semantics are those of
 * corvexTopic_matches. Each pattern keeps a list of values (its entries or
 * subscribers); nodes left without values or children are removed, so
 * patterns that come and go (an inbox per request) leave nothing behind.
 * Not thread-safe: the owner's lock guards it. */
#ifndef CORVEXCLIENT_TOPIC_TREE_H
#define CORVEXCLIENT_TOPIC_TREE_H

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

template <typename Value> struct CorvexTopicNode
{
    std::string mLevel; /* the text of the edge into this node, which keys view */
    std::unordered_map<std::string_view, std::unique_ptr<CorvexTopicNode>> mLiteral;
    /* Levels ending in "*", by their prefix ("" for "*"); few, so scanned. */
    std::vector<std::unique_ptr<CorvexTopicNode>> mPrefixed;
    std::vector<Value> mHere; /* patterns ending at this node */
    std::vector<Value> mRest; /* patterns ending in ">" right after it */

    bool empty() const
    {
        return mLiteral.empty() && mPrefixed.empty() && mHere.empty() && mRest.empty();
    }
};

template <typename Value> struct CorvexTopicTree
{
    CorvexTopicNode<Value> mRoot;
    size_t mPatterns = 0; /* patterns with at least one value */
};

namespace corvexTopicTreeDetail
{
inline size_t levelEnd(std::string_view text, size_t start)
{
    const size_t slash = text.find('/', start);
    return slash == std::string_view::npos ? text.size() : slash;
}

inline bool isPrefixed(std::string_view level)
{
    return !level.empty() && level.back() == '*';
}

/* The child for one pattern level; created when `create`. */
template <typename Value>
CorvexTopicNode<Value>* child(CorvexTopicNode<Value>& node, std::string_view level, bool create)
{
    if (isPrefixed(level))
    {
        const std::string_view prefix = level.substr(0, level.size() - 1);
        for (auto& prefixed : node.mPrefixed)
        {
            if (prefixed->mLevel == prefix)
                return prefixed.get();
        }
        if (!create)
            return nullptr;
        node.mPrefixed.push_back(std::make_unique<CorvexTopicNode<Value>>());
        node.mPrefixed.back()->mLevel = std::string(prefix);
        return node.mPrefixed.back().get();
    }
    auto it = node.mLiteral.find(level);
    if (it != node.mLiteral.end())
        return it->second.get();
    if (!create)
        return nullptr;
    auto made = std::make_unique<CorvexTopicNode<Value>>();
    made->mLevel = std::string(level);
    CorvexTopicNode<Value>* result = made.get();
    node.mLiteral.emplace(std::string_view(result->mLevel), std::move(made));
    return result;
}

/* The value list of a pattern, reached from `node` at pattern offset `p`. */
template <typename Value>
std::vector<Value>* values(CorvexTopicNode<Value>& node, std::string_view pattern, size_t p,
                           bool create)
{
    const size_t end = levelEnd(pattern, p);
    const std::string_view level = pattern.substr(p, end - p);
    if (end == pattern.size() && level == ">")
        return &node.mRest;
    CorvexTopicNode<Value>* next = child(node, level, create);
    if (!next)
        return nullptr;
    return end == pattern.size() ? &next->mHere : values(*next, pattern, end + 1, create);
}

/* Removes the nodes on the pattern's path that are left empty. */
template <typename Value>
void prune(CorvexTopicNode<Value>& node, std::string_view pattern, size_t p)
{
    const size_t end = levelEnd(pattern, p);
    const std::string_view level = pattern.substr(p, end - p);
    if (end == pattern.size() && level == ">")
        return;
    CorvexTopicNode<Value>* next = child(node, level, false);
    if (!next)
        return;
    if (end < pattern.size())
        prune(*next, pattern, end + 1);
    if (!next->empty())
        return;
    if (isPrefixed(level))
    {
        for (auto it = node.mPrefixed.begin(); it != node.mPrefixed.end(); ++it)
        {
            if (it->get() == next)
            {
                node.mPrefixed.erase(it);
                return;
            }
        }
    }
    node.mLiteral.erase(level);
}

/* `t` is where the topic's next level starts, npos once every level is
 * consumed. */
template <typename Value, typename Visit>
void match(const CorvexTopicNode<Value>& node, std::string_view topic, size_t t, Visit& visit)
{
    if (t == std::string_view::npos)
    {
        if (!node.mHere.empty())
            visit(node.mHere);
        return;
    }
    if (!node.mRest.empty())
        visit(node.mRest);
    const size_t end = levelEnd(topic, t);
    const std::string_view level = topic.substr(t, end - t);
    const size_t next = end == topic.size() ? std::string_view::npos : end + 1;
    if (!node.mLiteral.empty())
    {
        auto it = node.mLiteral.find(level);
        if (it != node.mLiteral.end())
            match(*it->second, topic, next, visit);
    }
    for (const auto& prefixed : node.mPrefixed)
    {
        const std::string& prefix = prefixed->mLevel;
        if (level.size() >= prefix.size() && 0 == level.compare(0, prefix.size(), prefix))
            match(*prefixed, topic, next, visit);
    }
}

template <typename Node, typename Visit> void forEach(Node& node, Visit& visit)
{
    if (!node.mHere.empty())
        visit(node.mHere);
    if (!node.mRest.empty())
        visit(node.mRest);
    for (auto& literal : node.mLiteral)
        forEach(*literal.second, visit);
    for (auto& prefixed : node.mPrefixed)
        forEach(*prefixed, visit);
}

/* Drops the values `drop` answers true for, and the nodes left empty;
 * answers how many patterns lost their last value. */
template <typename Value, typename Drop> size_t removeIf(CorvexTopicNode<Value>& node, Drop& drop)
{
    size_t emptied = 0;
    for (std::vector<Value>* list : {&node.mHere, &node.mRest})
    {
        const bool had = !list->empty();
        list->erase(std::remove_if(list->begin(), list->end(), drop), list->end());
        if (had && list->empty())
            ++emptied;
    }
    for (auto it = node.mLiteral.begin(); it != node.mLiteral.end();)
    {
        emptied += removeIf(*it->second, drop);
        it = it->second->empty() ? node.mLiteral.erase(it) : std::next(it);
    }
    for (auto it = node.mPrefixed.begin(); it != node.mPrefixed.end();)
    {
        emptied += removeIf(**it, drop);
        it = (*it)->empty() ? node.mPrefixed.erase(it) : std::next(it);
    }
    return emptied;
}
} // namespace corvexTopicTreeDetail

/* The values of a pattern, NULL when it has none. */
template <typename Value>
std::vector<Value>* corvexTopicTree_find(CorvexTopicTree<Value>& tree, std::string_view pattern)
{
    std::vector<Value>* list = corvexTopicTreeDetail::values(tree.mRoot, pattern, 0, false);
    return list != nullptr && !list->empty() ? list : nullptr;
}

/* Adds a value to a pattern, after the ones it has. */
template <typename Value>
void corvexTopicTree_add(CorvexTopicTree<Value>& tree, std::string_view pattern, Value value)
{
    std::vector<Value>* list = corvexTopicTreeDetail::values(tree.mRoot, pattern, 0, true);
    if (list->empty())
        ++tree.mPatterns;
    list->push_back(std::move(value));
}

/* After values of a pattern found with corvexTopicTree_find were erased:
 * forgets the pattern once it has none. */
template <typename Value>
void corvexTopicTree_settle(CorvexTopicTree<Value>& tree, std::string_view pattern)
{
    std::vector<Value>* list = corvexTopicTreeDetail::values(tree.mRoot, pattern, 0, false);
    if (list == nullptr || !list->empty())
        return;
    --tree.mPatterns;
    corvexTopicTreeDetail::prune(tree.mRoot, pattern, 0);
}

/* Calls visit(const std::vector<Value>&) for each pattern matching the topic. */
template <typename Value, typename Visit>
void corvexTopicTree_match(const CorvexTopicTree<Value>& tree, std::string_view topic, Visit visit)
{
    if (tree.mPatterns > 0 && !topic.empty())
        corvexTopicTreeDetail::match(tree.mRoot, topic, 0, visit);
}

/* Calls visit with the value list of each pattern. */
template <typename Tree, typename Visit> void corvexTopicTree_forEach(Tree& tree, Visit visit)
{
    corvexTopicTreeDetail::forEach(tree.mRoot, visit);
}

template <typename Value, typename Drop>
void corvexTopicTree_removeIf(CorvexTopicTree<Value>& tree, Drop drop)
{
    tree.mPatterns -= corvexTopicTreeDetail::removeIf(tree.mRoot, drop);
}

template <typename Value> void corvexTopicTree_clear(CorvexTopicTree<Value>& tree)
{
    tree.mRoot = CorvexTopicNode<Value>();
    tree.mPatterns = 0;
}

#endif
