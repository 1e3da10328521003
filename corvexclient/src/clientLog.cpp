#include "clientLog.h"

#include "clientError.h"

#include <atomic>
#include <chrono>
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

std::string corvexLog_escape(const char* bytes, size_t length)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(length);
    for (size_t i = 0; i < length; ++i)
    {
        const unsigned char byte = static_cast<unsigned char>(bytes[i]);
        if (byte >= ' ' && byte < 0x7f && byte != '\\')
        {
            text += static_cast<char>(byte);
            continue;
        }
        text += "\\x";
        text += kHex[byte >> 4];
        text += kHex[byte & 0xf];
    }
    return text;
}

bool corvexLogThrottle_pass(CorvexLogThrottle* throttle, uint64_t* held)
{
    const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
    int64_t last = throttle->mLastMs.load(std::memory_order_relaxed);
    if (now - last < 1000 || !throttle->mLastMs.compare_exchange_strong(last, now))
    {
        throttle->mHeld.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    *held = throttle->mHeld.exchange(0, std::memory_order_relaxed);
    return true;
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
