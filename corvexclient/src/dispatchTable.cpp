#include "dispatchTable.h"

#include <algorithm>
#include <atomic>

#include "topicMatch.h"

namespace
{
void changed(CorvexDispatchTable& table)
{
    static std::atomic<uint64_t> stamps{0};
    table.mStamp = ++stamps;
}

bool sameEntry(const CorvexDispatchEntry& entry, const CorvexDispatchInfo& dispatch)
{
    return entry.mDispatch.mCallback == dispatch.mCallback &&
           entry.mDispatch.mUser == dispatch.mUser;
}

template <typename Same>
bool takeFrom(std::vector<CorvexDispatchEntry>& entries, std::string_view topic, Same same,
              CorvexDispatchEntry* removed)
{
    for (auto it = entries.begin(); it != entries.end(); ++it)
    {
        if (it->mTopic == topic && same(*it))
        {
            *removed = std::move(*it);
            entries.erase(it);
            return true;
        }
    }
    return false;
}

template <typename Same>
bool removeFirst(CorvexDispatchTable& table, const char* topic, size_t length, Same same,
                 CorvexDispatchEntry* removed)
{
    const std::string_view key(topic, length);
    bool found;
    if (corvexTopic_isWildcard(topic, length))
    {
        std::vector<CorvexDispatchEntry>* entries = corvexTopicTree_find(table.mWildcards, key);
        found = entries != nullptr && takeFrom(*entries, key, same, removed);
        if (found)
            corvexTopicTree_settle(table.mWildcards, key);
    }
    else
    {
        auto it = table.mExact.find(key);
        found = it != table.mExact.end() && takeFrom(it->second->mEntries, key, same, removed);
        if (found && it->second->mEntries.empty())
            table.mExact.erase(it);
    }
    if (found)
    {
        --table.mCount;
        changed(table);
    }
    return found;
}
} // namespace

void corvexDispatchTable_add(CorvexDispatchTable& table, const char* topic, size_t length,
                             const CorvexDispatchInfo& dispatch, uint32_t flags)
{
    CorvexDispatchEntry entry{std::string(topic, length), dispatch, flags, table.mNextOrder++};
    ++table.mCount;
    changed(table);
    if (corvexTopic_isWildcard(topic, length))
    {
        corvexTopicTree_add(table.mWildcards, std::string_view(topic, length), std::move(entry));
        return;
    }
    auto it = table.mExact.find(std::string_view(topic, length));
    if (it == table.mExact.end())
    {
        auto bucket = std::make_unique<CorvexDispatchTable::Bucket>();
        bucket->mTopic = entry.mTopic;
        it = table.mExact.emplace(std::string_view(bucket->mTopic), std::move(bucket)).first;
    }
    it->second->mEntries.push_back(std::move(entry));
}

bool corvexDispatchTable_removeOrder(CorvexDispatchTable& table, const char* topic, size_t length,
                                     uint64_t order)
{
    CorvexDispatchEntry removed;
    return removeFirst(
        table, topic, length,
        [order](const CorvexDispatchEntry& entry) { return entry.mOrder == order; }, &removed);
}

bool corvexDispatchTable_remove(CorvexDispatchTable& table, const char* topic, size_t length,
                                const CorvexDispatchInfo& dispatch, CorvexDispatchEntry* removed)
{
    return removeFirst(
        table, topic, length,
        [&dispatch](const CorvexDispatchEntry& entry) { return sameEntry(entry, dispatch); },
        removed);
}

void corvexDispatchTable_match(const CorvexDispatchTable& table, const char* topic, size_t length,
                               std::vector<CorvexDispatchTarget>& targets)
{
    const size_t start = targets.size();
    auto add = [&targets](const std::vector<CorvexDispatchEntry>& entries)
    {
        for (const CorvexDispatchEntry& entry : entries)
            targets.push_back({entry.mDispatch.mCallback, entry.mDispatch.mUser, entry.mOrder});
    };
    /* Each list is in entry order; more than one are merged by it. */
    size_t lists = 0;
    auto it = table.mExact.find(std::string_view(topic, length));
    if (it != table.mExact.end())
    {
        add(it->second->mEntries);
        ++lists;
    }
    corvexTopicTree_match(table.mWildcards, std::string_view(topic, length),
                          [&add, &lists](const std::vector<CorvexDispatchEntry>& entries)
                          {
                              add(entries);
                              ++lists;
                          });
    if (lists > 1)
    {
        std::sort(targets.begin() + static_cast<std::ptrdiff_t>(start), targets.end(),
                  [](const CorvexDispatchTarget& a, const CorvexDispatchTarget& b)
                  { return a.mOrder < b.mOrder; });
    }
}

const std::vector<CorvexDispatchTarget>&
corvexDispatchTable_matchRepeated(const CorvexDispatchTable& table, const char* topic,
                                  size_t length, CorvexDispatchMatch* last)
{
    if (last->mStamp == table.mStamp &&
        last->mTopic.compare(0, std::string::npos, topic, length) == 0)
        return last->mTargets;
    last->mTargets.clear();
    corvexDispatchTable_match(table, topic, length, last->mTargets);
    last->mTopic.assign(topic, length);
    last->mStamp = table.mStamp;
    return last->mTargets;
}

void corvexDispatchTable_takeAll(CorvexDispatchTable& table,
                                 std::vector<CorvexDispatchEntry>& entries)
{
    changed(table);
    for (auto& bucket : table.mExact)
    {
        for (CorvexDispatchEntry& entry : bucket.second->mEntries)
            entries.push_back(std::move(entry));
    }
    corvexTopicTree_forEach(table.mWildcards,
                            [&entries](std::vector<CorvexDispatchEntry>& wildcards)
                            {
                                for (CorvexDispatchEntry& entry : wildcards)
                                    entries.push_back(std::move(entry));
                            });
    table.mExact.clear();
    corvexTopicTree_clear(table.mWildcards);
    table.mCount = 0;
    std::sort(entries.begin(), entries.end(),
              [](const CorvexDispatchEntry& a, const CorvexDispatchEntry& b)
              { return a.mOrder < b.mOrder; });
}
