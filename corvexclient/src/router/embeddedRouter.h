/* The embedded router: an in-process router that every session of the
 * process naming it shares, with access control and a last-value cache. */
#ifndef CORVEXCLIENT_EMBEDDED_ROUTER_H
#define CORVEXCLIENT_EMBEDDED_ROUTER_H

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "router/router.h"

struct CorvexRouterLink
{
    corvexClientSession* mSession;
    std::string          mClientName;
    std::string          mUserName;
};

struct CorvexRouterSubscriber
{
    CorvexRouterLink* mLink;
    uint32_t          mCount; /* dispatch entries of the session behind it */
};

struct CorvexAclRule
{
    std::string mUserName; /* "*" for everyone */
    std::string mPattern;
    uint32_t    mOperations;
    bool        mAllow;
};

struct CorvexLoginRefusal
{
    std::string            mUserName;
    corvexClient_subCode_t mSubCode;
};

struct CorvexEmbeddedRouter : CorvexRouter
{
    /* Shared while publishing, exclusive while links, subscriptions or access
     * rules change. */
    std::shared_mutex mLock;
    std::unordered_map<std::string, CorvexRouterLink*> mClients;
    struct ExactTopic
    {
        std::string                         mTopic;
        std::vector<CorvexRouterSubscriber> mSubscribers;
    };
    std::unordered_map<std::string_view, std::unique_ptr<ExactTopic>> mExact;
    struct WildcardTopic
    {
        std::string            mPattern;
        CorvexRouterSubscriber mSubscriber;
    };
    std::vector<WildcardTopic>      mWildcards;
    std::vector<CorvexAclRule>      mRules;
    std::vector<CorvexLoginRefusal> mLoginRefusals;

    /* The last-value cache; publishers fill it under the shared router lock. */
    std::mutex                              mCacheLock;
    std::atomic<bool>                       mCaching;
    std::vector<std::string>                mCachedPatterns;
    std::map<std::string, corvexClientMsg*> mCache;
};

CorvexEmbeddedRouter* corvexEmbeddedRouter_create (const std::string& name);

/* Caller holds the router lock: whether the user may do the operation
 * (CORVEXCLIENT_TEST_ACL_*) on the topic. */
bool corvexEmbeddedRouter_permits (const CorvexEmbeddedRouter* router, const std::string& userName,
                                   uint32_t operation, const char* topic, size_t length);

/* The embedded router of that name, created on first use. */
CorvexEmbeddedRouter* corvexRouter_findEmbedded (const std::string& name);

#endif
