/* Test control of the embedded router: access rules, login refusals and the
 * topics its cache keeps. */
#include "clientError.h"
#include "corvexClientTest.h"
#include "message.h"
#include "router/embeddedRouter.h"
#include "topicMatch.h"

/* A test's rule masks are the router's own. */
static_assert(CORVEXCLIENT_TEST_ACL_SUBSCRIBE == CORVEX_ACCESS_SUBSCRIBE &&
                  CORVEXCLIENT_TEST_ACL_PUBLISH == CORVEX_ACCESS_PUBLISH,
              "test access masks differ from the router's");

namespace
{
corvexClient_returnCode_t findRouter(const char* routerName, CorvexEmbeddedRouter** router)
{
    std::string name;
    corvexClient_returnCode_t code = corvexRouter_nameOf(
        routerName ? (std::string("embedded:") + routerName).c_str() : nullptr, &name);
    if (code != CORVEXCLIENT_OK)
        return code;
    *router = corvexRouter_findEmbedded(name);
    return *router ? CORVEXCLIENT_OK : corvexError_fail(CORVEXCLIENT_SUBCODE_NO_MEMORY);
}

corvexClient_returnCode_t checkPattern(const char* pattern)
{
    if (!pattern)
        return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
    size_t length;
    const corvexClient_subCode_t invalid = corvexTopic_validate(pattern, &length);
    return invalid == CORVEXCLIENT_SUBCODE_OK ? CORVEXCLIENT_OK : corvexError_fail(invalid);
}
} // namespace

extern "C"
{

    corvexClient_returnCode_t corvexClientTest_addAclRule(const char* routerName,
                                                          const char* userName,
                                                          const char* topicPattern,
                                                          uint32_t operations, int32_t action)
    {
        if (!userName)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
        corvexClient_returnCode_t code = checkPattern(topicPattern);
        CorvexEmbeddedRouter* router = nullptr;
        if (code == CORVEXCLIENT_OK)
            code = findRouter(routerName, &router);
        if (code != CORVEXCLIENT_OK)
            return code;
        std::unique_lock<CorvexSharedLock> lock(router->mLock);
        /* Ahead of the configured rules, after the ones added before. */
        router->mRules.insert(router->mRules.begin() +
                                  static_cast<std::ptrdiff_t>(router->mTestRuleCount),
                              CorvexAclRule{userName, topicPattern, operations,
                                            action == CORVEXCLIENT_TEST_ACL_ALLOW});
        ++router->mTestRuleCount;
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t corvexClientTest_denyLogin(const char* routerName,
                                                         const char* userName,
                                                         corvexClient_subCode_t subCode)
    {
        if (!userName)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
        CorvexEmbeddedRouter* router = nullptr;
        corvexClient_returnCode_t code = findRouter(routerName, &router);
        if (code != CORVEXCLIENT_OK)
            return code;
        std::unique_lock<CorvexSharedLock> lock(router->mLock);
        router->mLoginRefusals.push_back({userName, subCode});
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t corvexClientTest_clearAcl(const char* routerName)
    {
        CorvexEmbeddedRouter* router = nullptr;
        corvexClient_returnCode_t code = findRouter(routerName, &router);
        if (code != CORVEXCLIENT_OK)
            return code;
        std::unique_lock<CorvexSharedLock> lock(router->mLock);
        router->mRules.clear();
        router->mTestRuleCount = 0;
        router->mLoginRefusals.clear();
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t corvexClientTest_addCachedTopics(const char* routerName,
                                                               const char* topicPattern)
    {
        corvexClient_returnCode_t code = checkPattern(topicPattern);
        CorvexEmbeddedRouter* router = nullptr;
        if (code == CORVEXCLIENT_OK)
            code = findRouter(routerName, &router);
        if (code != CORVEXCLIENT_OK)
            return code;
        std::unique_lock<CorvexSharedLock> lock(router->mLock);
        std::lock_guard<std::mutex> guard(router->mCacheLock);
        if (!router->mCacheOverridden)
        {
            /* Test control takes the cache over: what the configuration cached
             * is forgotten. */
            corvexEmbeddedRouter_forgetCache(router);
            router->mCacheSetting = CorvexCacheSetting{CORVEX_CACHE_PATTERNS, {}};
            router->mCacheOverridden = true;
        }
        router->mCacheSetting.mMode = CORVEX_CACHE_PATTERNS;
        router->mCacheSetting.mPatterns.push_back(topicPattern);
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t corvexClientTest_clearCache(const char* routerName)
    {
        CorvexEmbeddedRouter* router = nullptr;
        corvexClient_returnCode_t code = findRouter(routerName, &router);
        if (code != CORVEXCLIENT_OK)
            return code;
        std::unique_lock<CorvexSharedLock> lock(router->mLock);
        std::lock_guard<std::mutex> guard(router->mCacheLock);
        corvexEmbeddedRouter_forgetCache(router);
        router->mCacheSetting = CorvexCacheSetting{CORVEX_CACHE_OFF, {}};
        router->mCacheOverridden = true;
        return CORVEXCLIENT_OK;
    }
}
