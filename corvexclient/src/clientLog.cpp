#include "clientLog.h"

#include "clientError.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace
{
/* Index 0 is unused: filters are per real category; "all" sets both. */
std::atomic<int32_t> gFilter[3] = {
    {CORVEXCLIENT_LOG_NOTICE}, {CORVEXCLIENT_LOG_NOTICE}, {CORVEXCLIENT_LOG_NOTICE}};

/* The callback and its user pointer change together, so they share a lock;
 * a reader copies both under it and calls outside it. */
std::mutex gCallbackLock;
corvexClient_logCb gCallback = nullptr;
void* gCallbackUser = nullptr;

int categoryIndex(corvexClient_log_category_t category)
{
    return (category == CORVEXCLIENT_LOG_CATEGORY_API || category == CORVEXCLIENT_LOG_CATEGORY_APP)
               ? category
               : 2;
}
} // namespace

bool corvexLog_enabled(corvexClient_log_category_t category, corvexClient_log_level_t level)
{
    return level <= gFilter[categoryIndex(category)].load(std::memory_order_relaxed);
}

void corvexLog_write(corvexClient_log_category_t category, corvexClient_log_level_t level,
                     const char* format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);

    corvexClient_logCb callback;
    void* user;
    {
        std::lock_guard<std::mutex> guard(gCallbackLock);
        callback = gCallback;
        user = gCallbackUser;
    }
    if (callback)
    {
        corvexClient_logInfo_t record{category, level, text};
        callback(&record, user);
    }
    else
    {
        fprintf(stderr, "corvexClient[%d/%d]: %s\n", category, level, text);
    }
}

extern "C"
{

    corvexClient_returnCode_t corvexClient_log_setCallback(corvexClient_logCb callback, void* user)
    {
        std::lock_guard<std::mutex> guard(gCallbackLock);
        gCallback = callback;
        gCallbackUser = user;
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t corvexClient_log_unsetCallback(void)
    {
        return corvexClient_log_setCallback(nullptr, nullptr);
    }

    corvexClient_returnCode_t corvexClient_log_setFilterLevel(corvexClient_log_category_t category,
                                                              corvexClient_log_level_t level)
    {
        if (level < CORVEXCLIENT_LOG_EMERGENCY || level > CORVEXCLIENT_LOG_DEBUG)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_ARGUMENT);
        if (category == CORVEXCLIENT_LOG_CATEGORY_ALL)
        {
            gFilter[CORVEXCLIENT_LOG_CATEGORY_API].store(level);
            gFilter[CORVEXCLIENT_LOG_CATEGORY_APP].store(level);
            return CORVEXCLIENT_OK;
        }
        if (category != CORVEXCLIENT_LOG_CATEGORY_API && category != CORVEXCLIENT_LOG_CATEGORY_APP)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_ARGUMENT);
        gFilter[category].store(level);
        return CORVEXCLIENT_OK;
    }
}
