/* A session's topic dispatch entries: exact topics in a hash map (looked up
 * without building a string per message), wildcard topics in a tree of
 * their levels. */
#ifndef CORVEXCLIENT_DISPATCH_TABLE_H
#define CORVEXCLIENT_DISPATCH_TABLE_H

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "corvexClient.h"
#include "topicTree.h"

struct CorvexDispatchEntry
{
    std::string mTopic;
    CorvexDispatchInfo mDispatch;
    uint32_t mFlags;
    uint64_t mOrder; /* deliveries follow the order entries were added */
};

struct CorvexDispatchTarget
{
    corvexClient_session_rxMsgCb mCallback;
    void* mUser;
    uint64_t mOrder;
};

struct CorvexDispatchTable
{
    /* Keys view the bucket's own copy of the topic, so lookups need no string. */
    struct Bucket
    {
        std::string mTopic;
        std::vector<CorvexDispatchEntry> mEntries;
    };
    std::unordered_map<std::string_view, std::unique_ptr<Bucket>> mExact;
    CorvexTopicTree<CorvexDispatchEntry> mWildcards;
    uint64_t mNextOrder = 0;
    size_t mCount = 0;
    /* Changes with every change of the entries, to a value no other table
     * had; 0 while none was added. */
    uint64_t mStamp = 0;
};

/* The targets the topic last matched and the table's stamp then: a stream
 * repeats its topics. */
struct CorvexDispatchMatch
{
    std::string mTopic;
    uint64_t mStamp = UINT64_MAX;
    std::vector<CorvexDispatchTarget> mTargets;
};

void corvexDispatchTable_add(CorvexDispatchTable& table, const char* topic, size_t length,
                             const CorvexDispatchInfo& dispatch, uint32_t flags);

/* The order the next entry added gets. */
inline uint64_t corvexDispatchTable_nextOrder(const CorvexDispatchTable& table)
{
    return table.mNextOrder;
}

/* Removes the entry with this topic and order, if still there. */
bool corvexDispatchTable_removeOrder(CorvexDispatchTable& table, const char* topic, size_t length,
                                     uint64_t order);

/* Removes the first entry with this topic, callback and user pointer. */
bool corvexDispatchTable_remove(CorvexDispatchTable& table, const char* topic, size_t length,
                                const CorvexDispatchInfo& dispatch, CorvexDispatchEntry* removed);

/* Appends the targets of every entry matching the topic, in entry order. */
void corvexDispatchTable_match(const CorvexDispatchTable& table, const char* topic, size_t length,
                               std::vector<CorvexDispatchTarget>& targets);

/* The targets of every entry matching the topic, in entry order: those of
 * *last when it matched the same topic in the table as it is. */
const std::vector<CorvexDispatchTarget>&
corvexDispatchTable_matchRepeated(const CorvexDispatchTable& table, const char* topic,
                                  size_t length, CorvexDispatchMatch* last);

/* Moves every entry out (session destroy). */
void corvexDispatchTable_takeAll(CorvexDispatchTable& table,
                                 std::vector<CorvexDispatchEntry>& entries);

/* Calls visit for each entry that needs a router subscription. */
template <typename Visit>
void corvexDispatchTable_forEachRouted(const CorvexDispatchTable& table, Visit visit)
{
    for (const auto& bucket : table.mExact)
    {
        for (const CorvexDispatchEntry& entry : bucket.second->mEntries)
        {
            if (!(entry.mFlags & CORVEXCLIENT_SUBSCRIBE_FLAGS_LOCAL_DISPATCH_ONLY))
                visit(entry);
        }
    }
    corvexTopicTree_forEach(
        table.mWildcards,
        [&visit](const std::vector<CorvexDispatchEntry>& entries)
        {
            for (const CorvexDispatchEntry& entry : entries)
            {
                if (!(entry.mFlags & CORVEXCLIENT_SUBSCRIBE_FLAGS_LOCAL_DISPATCH_ONLY))
                    visit(entry);
            }
        });
}

#endif
