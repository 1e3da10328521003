#include "router/embeddedRouter.h"

#include <algorithm>
#include <cstring>

#include "clientError.h"
#include "clientLog.h"
#include "message.h"
#include "testControl.h"
#include "topicMatch.h"

namespace
{
CorvexEmbeddedRouter* embedded(CorvexRouter* router)
{
    return static_cast<CorvexEmbeddedRouter*>(router);
}

/* Peer-to-peer topics name their receiver: "#P2P/v:<router>/<client>/...". */
CorvexRouterLink* peerOf(CorvexEmbeddedRouter* router, const char* topic, size_t length)
{
    const size_t prefix = std::strlen(CORVEXCLIENT_P2P_TOPIC_PREFIX "v:");
    if (length <= prefix || std::memcmp(topic, CORVEXCLIENT_P2P_TOPIC_PREFIX "v:", prefix) != 0)
        return nullptr;
    const char* routerName = topic + prefix;
    const char* routerEnd = static_cast<const char*>(std::memchr(routerName, '/', length - prefix));
    if (!routerEnd || std::string_view(routerName, routerEnd - routerName) != router->mName)
        return nullptr;
    const char* client = routerEnd + 1;
    const char* clientEnd =
        static_cast<const char*>(std::memchr(client, '/', topic + length - client));
    if (!clientEnd)
        return nullptr;
    auto it = router->mClients.find(std::string(client, clientEnd - client));
    return it == router->mClients.end() ? nullptr : it->second;
}

void addTarget(std::vector<CorvexRouterLink*>& targets, CorvexRouterLink* link)
{
    if (std::find(targets.begin(), targets.end(), link) == targets.end())
        targets.push_back(link);
}

/* Caller holds the router lock. */
void collectSubscribers(CorvexEmbeddedRouter* router, const char* topic, size_t length,
                        std::vector<CorvexRouterLink*>& targets)
{
    auto it = router->mExact.find(std::string_view(topic, length));
    if (it != router->mExact.end())
    {
        for (const CorvexRouterSubscriber& subscriber : it->second->mSubscribers)
            targets.push_back(subscriber.mLink);
    }
    corvexTopicTree_match(router->mWildcards, std::string_view(topic, length),
                          [&targets](const std::vector<CorvexRouterSubscriber>& subscribers)
                          {
                              for (const CorvexRouterSubscriber& subscriber : subscribers)
                                  addTarget(targets, subscriber.mLink);
                          });
}

bool isPeerToPeer(const char* topic, size_t length)
{
    const size_t prefix = sizeof(CORVEXCLIENT_P2P_TOPIC_PREFIX) - 1;
    return length > prefix && std::memcmp(topic, CORVEXCLIENT_P2P_TOPIC_PREFIX, prefix) == 0;
}

/* Caller holds the router lock. Replies and other peer-to-peer messages are
 * never cached. */
bool cachesTopic(const CorvexEmbeddedRouter* router, const char* topic, size_t length)
{
    const CorvexCacheSetting& setting = router->mCacheSetting;
    if (setting.mMode == CORVEX_CACHE_OFF || isPeerToPeer(topic, length))
        return false;
    if (setting.mMode == CORVEX_CACHE_PUBLISHED)
        return true;
    return std::any_of(setting.mPatterns.begin(), setting.mPatterns.end(),
                       [topic, length](const std::string& p)
                       { return corvexTopic_matches(p.data(), p.size(), topic, length); });
}

/* Caller holds the router lock (shared is enough). */
void storeInCache(CorvexEmbeddedRouter* router, const corvexClientMsg* msg)
{
    std::lock_guard<std::mutex> guard(router->mCacheLock);
    auto it = router->mCache.find(std::string_view(msg->mTopic, msg->mTopicLength));
    if (it != router->mCache.end())
    {
        if (corvexMsg_refill(it->second->mMsg, msg))
            return;
        /* An older value must not be served as the last one. */
        corvexMsg_release(it->second->mMsg);
        router->mCache.erase(it);
    }
    else
    {
        corvexClientMsg* copy = corvexMsg_copyForDelivery(msg);
        if (copy)
        {
            auto entry = std::make_unique<CorvexEmbeddedRouter::CachedTopic>();
            entry->mTopic = std::string(msg->mTopic, msg->mTopicLength);
            entry->mMsg = copy;
            router->mCache.emplace(std::string_view(entry->mTopic), std::move(entry));
            return;
        }
    }
    CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_ERROR,
               "out of memory: last value of '%s' not cached", msg->mTopic);
}

void complete(CorvexRouterLink* link, const CorvexCacheRequest* request,
              corvexClient_returnCode_t code, corvexClient_subCode_t subCode)
{
    link->mEndpoint.mOps->mCompleteCacheRequest(link->mEndpoint.mSession, request, code, subCode);
}

/* Caller holds the router lock and mCacheLock: hands a copy of a cached
 * message to the requester's session, marked as the request's answer. */
bool answerFromCache(CorvexRouterLink* link, const CorvexCacheRequest* request,
                     const corvexClientMsg* cached)
{
    corvexClientMsg* copy = corvexMsg_copyForDelivery(cached);
    if (!copy)
    {
        CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_ERROR,
                   "out of memory: cached message on '%s' not delivered", cached->mTopic);
        return false;
    }
    copy->mCacheStatus = CORVEXCLIENT_MSG_CACHED;
    copy->mCacheRequestId = request->mRequestId;
    link->mEndpoint.mOps->mReceiveCached(link->mEndpoint.mSession, copy);
    return true;
}

/* Caller holds the router lock exclusively. The first session connected
 * configures the router; test control keeps the cache setting it made. */
void configureLocked(CorvexEmbeddedRouter* router, const CorvexRouterConfig& config,
                     const std::string& clientName)
{
    if (!router->mConfigured)
    {
        router->mConfigured = true;
        router->mConfiguredBy = clientName;
        router->mCachedTopicsSetting = config.mCachedTopicsText;
        router->mAccessRulesSetting = config.mAccessRulesText;
        router->mRules.insert(router->mRules.end(), config.mRules.begin(), config.mRules.end());
        if (!router->mCacheOverridden)
            router->mCacheSetting = config.mCache;
        CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_INFO,
                   "router %s configured by session %s: %s '%s'%s, %s '%s'", router->mName.c_str(),
                   clientName.c_str(), CORVEXCLIENT_SESSION_PROP_ROUTER_CACHED_TOPICS,
                   config.mCachedTopicsText.c_str(),
                   router->mCacheOverridden ? " (test control's setting kept)" : "",
                   CORVEXCLIENT_SESSION_PROP_ROUTER_ACCESS_RULES, config.mAccessRulesText.c_str());
        return;
    }
    if (config.mCachedTopicsGiven && config.mCachedTopicsText != router->mCachedTopicsSetting)
        CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_WARNING,
                   "session %s: \"%s\" '%s' ignored: router %s keeps '%s' from session %s, the "
                   "first connected to it",
                   clientName.c_str(), CORVEXCLIENT_SESSION_PROP_ROUTER_CACHED_TOPICS,
                   config.mCachedTopicsText.c_str(), router->mName.c_str(),
                   router->mCachedTopicsSetting.c_str(), router->mConfiguredBy.c_str());
    if (config.mAccessRulesGiven && config.mAccessRulesText != router->mAccessRulesSetting)
        CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_WARNING,
                   "session %s: \"%s\" '%s' ignored: router %s keeps '%s' from session %s, the "
                   "first connected to it",
                   clientName.c_str(), CORVEXCLIENT_SESSION_PROP_ROUTER_ACCESS_RULES,
                   config.mAccessRulesText.c_str(), router->mName.c_str(),
                   router->mAccessRulesSetting.c_str(), router->mConfiguredBy.c_str());
}

corvexClient_returnCode_t connect(CorvexRouter* base, const CorvexRouterEndpoint* endpoint,
                                  const CorvexRouterLogin* login, CorvexRouterLink** link)
{
    CorvexEmbeddedRouter* router = embedded(base);
    std::unique_lock<CorvexSharedLock> lock(router->mLock);
    for (const CorvexLoginRefusal& refusal : router->mLoginRefusals)
    {
        if (refusal.mUserName == "*" || refusal.mUserName == login->mUserName)
            return corvexError_set(CORVEXCLIENT_FAIL, refusal.mSubCode, 401,
                                   "Login refused for user '%s': %s", login->mUserName,
                                   corvexClient_subCodeDescription(refusal.mSubCode));
    }
    if (router->mClients.count(login->mClientName))
        return corvexError_set(CORVEXCLIENT_FAIL, CORVEXCLIENT_SUBCODE_CLIENT_NAME_IN_USE, 0,
                               "client name '%s' is already connected to router '%s'",
                               login->mClientName, base->mName.c_str());
    CorvexRouterLink* created =
        new (std::nothrow) CorvexRouterLink{*endpoint, login->mClientName, login->mUserName};
    if (!created)
        return corvexError_fail(CORVEXCLIENT_SUBCODE_NO_MEMORY);
    router->mClients.emplace(created->mClientName, created);
    if (login->mConfig)
        configureLocked(router, *login->mConfig, created->mClientName);
    *link = created;
    return CORVEXCLIENT_OK;
}

void disconnect(CorvexRouter* base, CorvexRouterLink* link)
{
    CorvexEmbeddedRouter* router = embedded(base);
    std::unique_lock<CorvexSharedLock> lock(router->mLock);
    for (auto it = router->mExact.begin(); it != router->mExact.end();)
    {
        auto& subscribers = it->second->mSubscribers;
        subscribers.erase(std::remove_if(subscribers.begin(), subscribers.end(),
                                         [link](const CorvexRouterSubscriber& s)
                                         { return s.mLink == link; }),
                          subscribers.end());
        it = subscribers.empty() ? router->mExact.erase(it) : std::next(it);
    }
    corvexTopicTree_removeIf(router->mWildcards,
                             [link](const CorvexRouterSubscriber& s) { return s.mLink == link; });
    router->mClients.erase(link->mClientName);
    delete link;
}

/* Every outcome is known at once: requests are answered as they wait. */
corvexClient_returnCode_t subscribe(CorvexRouter* base, CorvexRouterLink* link, const char* topic,
                                    size_t length, const CorvexSubscribeRequest*)
{
    CorvexEmbeddedRouter* router = embedded(base);
    std::unique_lock<CorvexSharedLock> lock(router->mLock);
    if (!corvexEmbeddedRouter_permits(router, link->mUserName, CORVEX_ACCESS_SUBSCRIBE, topic,
                                      length))
        return corvexError_set(CORVEXCLIENT_FAIL, CORVEXCLIENT_SUBCODE_SUBSCRIBE_NOT_PERMITTED, 403,
                               "Subscription refused by access control for Topic '%.*s'",
                               static_cast<int>(length), topic);
    if (corvexTopic_isWildcard(topic, length))
    {
        const std::string_view pattern(topic, length);
        if (std::vector<CorvexRouterSubscriber>* subscribers =
                corvexTopicTree_find(router->mWildcards, pattern))
        {
            for (CorvexRouterSubscriber& subscriber : *subscribers)
            {
                if (subscriber.mLink == link)
                {
                    ++subscriber.mCount;
                    return CORVEXCLIENT_OK;
                }
            }
        }
        corvexTopicTree_add(router->mWildcards, pattern, CorvexRouterSubscriber{link, 1});
        return CORVEXCLIENT_OK;
    }
    auto it = router->mExact.find(std::string_view(topic, length));
    if (it == router->mExact.end())
    {
        auto entry = std::make_unique<CorvexEmbeddedRouter::ExactTopic>();
        entry->mTopic = std::string(topic, length);
        it = router->mExact.emplace(std::string_view(entry->mTopic), std::move(entry)).first;
    }
    for (CorvexRouterSubscriber& subscriber : it->second->mSubscribers)
    {
        if (subscriber.mLink == link)
        {
            ++subscriber.mCount;
            return CORVEXCLIENT_OK;
        }
    }
    it->second->mSubscribers.push_back({link, 1});
    return CORVEXCLIENT_OK;
}

void unsubscribe(CorvexRouter* base, CorvexRouterLink* link, const char* topic, size_t length)
{
    CorvexEmbeddedRouter* router = embedded(base);
    std::unique_lock<CorvexSharedLock> lock(router->mLock);
    if (corvexTopic_isWildcard(topic, length))
    {
        const std::string_view pattern(topic, length);
        std::vector<CorvexRouterSubscriber>* subscribers =
            corvexTopicTree_find(router->mWildcards, pattern);
        if (subscribers == nullptr)
            return;
        for (auto it = subscribers->begin(); it != subscribers->end(); ++it)
        {
            if (it->mLink == link)
            {
                if (--it->mCount == 0)
                {
                    subscribers->erase(it);
                    corvexTopicTree_settle(router->mWildcards, pattern);
                }
                return;
            }
        }
        return;
    }
    auto it = router->mExact.find(std::string_view(topic, length));
    if (it == router->mExact.end())
        return;
    auto& subscribers = it->second->mSubscribers;
    for (auto s = subscribers.begin(); s != subscribers.end(); ++s)
    {
        if (s->mLink == link)
        {
            if (--s->mCount == 0)
                subscribers.erase(s);
            break;
        }
    }
    if (subscribers.empty())
        router->mExact.erase(it);
}

corvexClient_returnCode_t publish(CorvexRouter* base, CorvexRouterLink* link,
                                  const corvexClientMsg* msg, CorvexWaitList* waits)
{
    CorvexEmbeddedRouter* router = embedded(base);
    /* Reused by each publishing thread, so routing allocates nothing; looked
     * up once (each use of a thread_local here is a call). */
    thread_local std::vector<CorvexRouterLink*> tTargets;
    std::vector<CorvexRouterLink*>& targets = tTargets;
    targets.clear();

    std::shared_lock<CorvexSharedLock> lock(router->mLock);
    if (!corvexEmbeddedRouter_permits(router, link->mUserName, CORVEX_ACCESS_PUBLISH, msg->mTopic,
                                      msg->mTopicLength))
    {
        char info[CORVEXCLIENT_ERRORINFO_TEXT_SIZE];
        snprintf(info, sizeof(info), "Publish refused by access control for Topic '%s'",
                 msg->mTopic);
        link->mEndpoint.mOps->mRaiseEvent(
            link->mEndpoint.mSession, CORVEXCLIENT_SESSION_EVENT_MSG_REJECTED,
            CORVEXCLIENT_SUBCODE_PUBLISH_NOT_PERMITTED, 403, info, nullptr);
        return CORVEXCLIENT_OK;
    }
    if (cachesTopic(router, msg->mTopic, msg->mTopicLength))
        storeInCache(router, msg);
    if (isPeerToPeer(msg->mTopic, msg->mTopicLength))
    {
        if (CorvexRouterLink* peer = peerOf(router, msg->mTopic, msg->mTopicLength))
            targets.push_back(peer);
    }
    else
    {
        collectSubscribers(router, msg->mTopic, msg->mTopicLength, targets);
    }
    for (CorvexRouterLink* target : targets)
    {
        corvexClientMsg* copy = corvexMsg_copyForDelivery(msg);
        if (!copy)
        {
            CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_ERROR,
                       "out of memory: message on '%s' not delivered to %s", msg->mTopic,
                       target->mClientName.c_str());
            continue;
        }
        target->mEndpoint.mOps->mReceive(target->mEndpoint.mSession, copy, waits);
    }
    return CORVEXCLIENT_OK;
}

void cacheRequest(CorvexRouter* base, CorvexRouterLink* link, const CorvexCacheRequest* request)
{
    CorvexEmbeddedRouter* router = embedded(base);
    std::shared_lock<CorvexSharedLock> lock(router->mLock);
    corvexClient_returnCode_t code;
    corvexClient_subCode_t subCode;
    if (corvexTest_takeCacheOutcome(&code, &subCode))
    {
        complete(link, request, code, subCode);
        return;
    }
    if (!corvexEmbeddedRouter_permits(router, link->mUserName, CORVEX_ACCESS_SUBSCRIBE,
                                      request->mTopic, request->mTopicLength))
    {
        complete(link, request, CORVEXCLIENT_FAIL, CORVEXCLIENT_SUBCODE_SUBSCRIBE_NOT_PERMITTED);
        return;
    }
    size_t delivered = 0;
    {
        std::lock_guard<std::mutex> guard(router->mCacheLock);
        if (!corvexTopic_isWildcard(request->mTopic, request->mTopicLength))
        {
            auto it = router->mCache.find(std::string_view(request->mTopic, request->mTopicLength));
            if (it != router->mCache.end() && answerFromCache(link, request, it->second->mMsg))
                ++delivered;
        }
        else
        {
            for (const auto& cached : router->mCache)
            {
                if (corvexTopic_matches(request->mTopic, request->mTopicLength, cached.first.data(),
                                        cached.first.size()) &&
                    answerFromCache(link, request, cached.second->mMsg))
                    ++delivered;
            }
        }
    }
    if (delivered > 0)
        complete(link, request, CORVEXCLIENT_OK, CORVEXCLIENT_SUBCODE_OK);
    else
        complete(link, request, CORVEXCLIENT_INCOMPLETE, CORVEXCLIENT_SUBCODE_CACHE_NO_DATA);
}

void destroy(CorvexRouter* base)
{
    CorvexEmbeddedRouter* router = embedded(base);
    corvexEmbeddedRouter_forgetCache(router);
    for (auto& client : router->mClients)
        delete client.second;
    delete router;
}

const CorvexRouterOps kEmbeddedOps = {connect, disconnect,   subscribe, unsubscribe,
                                      publish, cacheRequest, destroy};
} // namespace

CorvexEmbeddedRouter* corvexEmbeddedRouter_create(const std::string& name)
{
    CorvexEmbeddedRouter* router = new (std::nothrow) CorvexEmbeddedRouter();
    if (!router)
        return nullptr;
    router->mOps = &kEmbeddedOps;
    router->mName = name;
    return router;
}

bool corvexEmbeddedRouter_permits(const CorvexEmbeddedRouter* router, const std::string& userName,
                                  uint32_t operation, const char* topic, size_t length)
{
    for (const CorvexAclRule& rule : router->mRules)
    {
        if ((rule.mOperations & operation) &&
            (rule.mUserName == "*" || rule.mUserName == userName) &&
            corvexTopic_matches(rule.mPattern.data(), rule.mPattern.size(), topic, length))
            return rule.mAllow;
    }
    return true;
}

void corvexEmbeddedRouter_forgetCache(CorvexEmbeddedRouter* router)
{
    for (auto& cached : router->mCache)
        corvexMsg_release(cached.second->mMsg);
    router->mCache.clear();
}
