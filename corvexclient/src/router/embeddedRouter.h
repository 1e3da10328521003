/* The embedded router: an in-process router that every session of the
 * process naming it shares, with access control and a last-value cache. */
#ifndef CORVEXCLIENT_EMBEDDED_ROUTER_H
#define CORVEXCLIENT_EMBEDDED_ROUTER_H

#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "router/router.h"
#include "router/routerConfig.h"
#include "sharedLock.h"
#include "topicTree.h"

struct CorvexRouterLink
{
    CorvexRouterEndpoint mEndpoint;
    std::string mClientName;
    std::string mUserName;
};

struct CorvexRouterSubscriber
{
    CorvexRouterLink* mLink;
    uint32_t mCount; /* dispatch entries of the session behind it */
};

struct CorvexLoginRefusal
{
    std::string mUserName;
    corvexClient_subCode_t mSubCode;
};

struct CorvexEmbeddedRouter : CorvexRouter
{
    /* Shared while publishing, exclusive while links, subscriptions or access
     * rules change. */
    CorvexSharedLock mLock;
    std::unordered_map<std::string, CorvexRouterLink*> mClients;
    struct ExactTopic
    {
        std::string mTopic;
        std::vector<CorvexRouterSubscriber> mSubscribers;
    };
    std::unordered_map<std::string_view, std::unique_ptr<ExactTopic>> mExact;
    CorvexTopicTree<CorvexRouterSubscriber> mWildcards;
    /* Rules added by test control come first, then the configured ones. */
    std::vector<CorvexAclRule> mRules;
    size_t mTestRuleCount = 0;
    std::vector<CorvexLoginRefusal> mLoginRefusals;

    /* Configuration taken from the first session connected to the router. */
    bool mConfigured = false;
    std::string mConfiguredBy;
    std::string mCachedTopicsSetting;
    std::string mAccessRulesSetting;

    /* Which topics the cache keeps: read by publishers under the shared
     * router lock, changed under the exclusive one. mCacheOverridden once
     * test control has set it, which sessions then leave alone. */
    CorvexCacheSetting mCacheSetting{CORVEX_CACHE_OFF, {}};
    bool mCacheOverridden = false;

    /* The last-value cache itself; publishers fill it holding the shared
     * router lock and mCacheLock. Each cached message is held by the cache
     * alone (requests are answered with copies), so a newer message on the
     * topic is copied into it in place. */
    struct CachedTopic
    {
        std::string mTopic;
        corvexClientMsg* mMsg;
    };
    std::mutex mCacheLock;
    std::unordered_map<std::string_view, std::unique_ptr<CachedTopic>> mCache;
};

CorvexEmbeddedRouter* corvexEmbeddedRouter_create(const std::string& name);

/* Caller holds the router lock: whether the user may do the operation
 * (CORVEX_ACCESS_*) on the topic. */
bool corvexEmbeddedRouter_permits(const CorvexEmbeddedRouter* router, const std::string& userName,
                                  uint32_t operation, const char* topic, size_t length);

/* Caller holds the router lock exclusively and mCacheLock: forgets every
 * cached message. */
void corvexEmbeddedRouter_forgetCache(CorvexEmbeddedRouter* router);

/* The embedded router of that name, created on first use. */
CorvexEmbeddedRouter* corvexRouter_findEmbedded(const std::string& name);

#endif
