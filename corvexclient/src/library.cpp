#include "library.h"

#include <algorithm>
#include <list>
#include <mutex>
#include <string>
#include <vector>

#include "clientError.h"
#include "clientLog.h"
#include "context.h"
#include "message.h"
#include "properties.h"
#include "router/router.h"
#include "testControl.h"

namespace
{
std::mutex gLock;
bool gInitialized = false;
std::vector<corvexClientContext*> gContexts;

/* The version record and the texts it points at; replaced records are kept,
 * because callers may still hold pointers to them. */
struct VersionRecord
{
    std::string mVersion;
    std::string mDateTime;
    std::string mVariant;
    corvexClient_versionInfo_t mInfo;
};

std::mutex gVersionLock;
std::list<VersionRecord> gVersions;

const corvexClient_versionInfo_t* currentVersion()
{
    if (gVersions.empty())
    {
        gVersions.push_back({"1.0.0", __DATE__ " " __TIME__, "embedded", {}});
        VersionRecord& record = gVersions.back();
        record.mInfo = {record.mVersion.c_str(), record.mDateTime.c_str(), record.mVariant.c_str()};
    }
    return &gVersions.back().mInfo;
}

/* Registers a context for cleanup; false when the library is not initialised. */
bool addContext(corvexClientContext* context)
{
    std::lock_guard<std::mutex> guard(gLock);
    if (!gInitialized)
        return false;
    gContexts.push_back(context);
    return true;
}

void removeContext(corvexClientContext* context)
{
    std::lock_guard<std::mutex> guard(gLock);
    gContexts.erase(std::remove(gContexts.begin(), gContexts.end(), context), gContexts.end());
}
} // namespace

bool corvexLibrary_isInitialized()
{
    std::lock_guard<std::mutex> guard(gLock);
    return gInitialized;
}

extern "C"
{

    corvexClient_returnCode_t corvexClient_initialize(corvexClient_log_level_t level,
                                                      const char** properties)
    {
        CORVEX_TEST_HOOK("corvexClient_initialize", "level=%d", level);
        CorvexPropertyList list;
        corvexClient_returnCode_t code = corvexProperties_copy(properties, &list);
        if (code != CORVEXCLIENT_OK)
            return code;
        /* Levels beyond the most verbose one ask for everything. */
        code = corvexClient_log_setFilterLevel(CORVEXCLIENT_LOG_CATEGORY_ALL,
                                               std::min(level, CORVEXCLIENT_LOG_DEBUG));
        if (code != CORVEXCLIENT_OK)
            return code;
        {
            std::lock_guard<std::mutex> guard(gLock);
            if (gInitialized)
                return corvexError_fail(CORVEXCLIENT_SUBCODE_ALREADY_INITIALIZED);
            gInitialized = true;
        }
        CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_API, CORVEXCLIENT_LOG_INFO,
                   "initialized with %zu global properties", list.mEntries.size());
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t corvexClient_cleanup(void)
    {
        CORVEX_TEST_HOOK("corvexClient_cleanup", "%s", "");
        if (corvexContext_onAnyContextThread())
            return corvexError_fail(CORVEXCLIENT_SUBCODE_ON_CONTEXT_THREAD);
        std::vector<corvexClientContext*> contexts;
        {
            std::lock_guard<std::mutex> guard(gLock);
            if (!gInitialized)
                return corvexError_fail(CORVEXCLIENT_SUBCODE_NOT_INITIALIZED);
            gInitialized = false;
            contexts.swap(gContexts);
        }
        for (corvexClientContext* context : contexts)
            corvexContext_destroy(context);
        corvexRouter_destroyAll();
        /* Nothing the library kept for reuse outlives its clean-up. */
        corvexMsg_releaseSpares();
        CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_API, CORVEXCLIENT_LOG_INFO, "cleaned up");
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t
    corvexClient_context_create(const char** properties, corvexClient_context_t* context,
                                corvexClient_context_createFuncInfo_t* funcInfo,
                                size_t funcInfoSize)
    {
        CORVEX_TEST_HOOK("corvexClient_context_create", "funcInfoSize=%zu", funcInfoSize);
        if (!context)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
        *context = nullptr;
        if (!corvexLibrary_isInitialized())
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NOT_INITIALIZED);
        if (funcInfo && funcInfoSize < sizeof(corvexClient_context_createFuncInfo_t))
            return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_ARGUMENT);
        corvexClientContext* created = nullptr;
        corvexClient_returnCode_t code = corvexContext_create(properties, funcInfo, &created);
        if (code != CORVEXCLIENT_OK)
            return code;
        if (!addContext(created))
        {
            corvexContext_destroy(created);
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NOT_INITIALIZED);
        }
        CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_API, CORVEXCLIENT_LOG_INFO, "context %p created",
                   static_cast<void*>(created));
        *context = created;
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t corvexClient_context_destroy(corvexClient_context_t* context)
    {
        CORVEX_TEST_HOOK("corvexClient_context_destroy", "context=%p",
                         context ? static_cast<void*>(*context) : nullptr);
        if (!context || !*context)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
        if (!corvexContext_isValid(*context))
            return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_ARGUMENT);
        if (corvexContext_onThread(*context))
            return corvexError_fail(CORVEXCLIENT_SUBCODE_ON_CONTEXT_THREAD);
        removeContext(*context);
        CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_API, CORVEXCLIENT_LOG_INFO, "context %p destroyed",
                   static_cast<void*>(*context));
        corvexContext_destroy(*context);
        *context = nullptr;
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t corvexClient_version_get(const corvexClient_versionInfo_t** info)
    {
        CORVEX_TEST_HOOK("corvexClient_version_get", "%s", "");
        if (!info)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
        std::lock_guard<std::mutex> guard(gVersionLock);
        *info = currentVersion();
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t _corvexClient_version_set(const corvexClient_versionInfo_t* info)
    {
        CORVEX_TEST_HOOK("_corvexClient_version_set", "version=%s",
                         info ? corvexText_orNull(info->mVersion) : "(null)");
        if (!info || !info->mVersion || !info->mDateTime || !info->mVariant)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
        std::lock_guard<std::mutex> guard(gVersionLock);
        gVersions.push_back({info->mVersion, info->mDateTime, info->mVariant, {}});
        VersionRecord& record = gVersions.back();
        record.mInfo = {record.mVersion.c_str(), record.mDateTime.c_str(), record.mVariant.c_str()};
        return CORVEXCLIENT_OK;
    }
}
