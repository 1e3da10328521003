#include "testControl.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "clientError.h"
#include "corvexClientTest.h"

std::atomic<bool> gCorvexTestActive{false};

namespace
{
struct Failure
{
    corvexClient_returnCode_t mCode;
    corvexClient_subCode_t mSubCode;
    std::string mText;
};

struct Call
{
    std::string mOperation;
    std::string mArguments;
};

struct CacheOutcome
{
    corvexClient_returnCode_t mCode;
    corvexClient_subCode_t mSubCode;
};

std::mutex gLock;
std::map<std::string, std::deque<Failure>> gFailures;
size_t gArmed = 0;
bool gRecording = false;
std::vector<Call> gCalls;
std::deque<CacheOutcome> gCacheOutcomes;

/* Caller holds gLock. */
void updateActive()
{
    gCorvexTestActive.store(gArmed > 0 || gRecording, std::memory_order_relaxed);
}
} // namespace

bool corvexTest_enter(const char* operation, corvexClient_returnCode_t* code, const char* format,
                      ...)
{
    Failure failure;
    {
        std::lock_guard<std::mutex> guard(gLock);
        if (gRecording)
        {
            char arguments[512];
            va_list args;
            va_start(args, format);
            vsnprintf(arguments, sizeof(arguments), format, args);
            va_end(args);
            gCalls.push_back({operation, arguments});
        }
        auto it = gFailures.find(operation);
        if (it == gFailures.end() || it->second.empty())
            return false;
        failure = std::move(it->second.front());
        it->second.pop_front();
        --gArmed;
        updateActive();
    }
    *code = failure.mCode;
    if (failure.mCode == CORVEXCLIENT_FAIL || failure.mCode == CORVEXCLIENT_NOT_READY)
        corvexError_set(failure.mCode, failure.mSubCode, 0, "%s", failure.mText.c_str());
    return true;
}

bool corvexTest_takeCacheOutcome(corvexClient_returnCode_t* code, corvexClient_subCode_t* subCode)
{
    std::lock_guard<std::mutex> guard(gLock);
    if (gCacheOutcomes.empty())
        return false;
    *code = gCacheOutcomes.front().mCode;
    *subCode = gCacheOutcomes.front().mSubCode;
    gCacheOutcomes.pop_front();
    return true;
}

extern "C"
{

    void corvexClientTest_failNext(const char* operation, corvexClient_returnCode_t returnCode,
                                   corvexClient_subCode_t subCode, const char* text)
    {
        if (!operation)
            return;
        std::lock_guard<std::mutex> guard(gLock);
        gFailures[operation].push_back({returnCode, subCode, text ? text : ""});
        ++gArmed;
        updateActive();
    }

    void corvexClientTest_clearFailures(void)
    {
        std::lock_guard<std::mutex> guard(gLock);
        gFailures.clear();
        gArmed = 0;
        gCacheOutcomes.clear();
        updateActive();
    }

    void corvexClientTest_setNextCacheOutcome(corvexClient_returnCode_t returnCode,
                                              corvexClient_subCode_t subCode)
    {
        std::lock_guard<std::mutex> guard(gLock);
        gCacheOutcomes.push_back({returnCode, subCode});
    }

    void corvexClientTest_setRecording(int on)
    {
        std::lock_guard<std::mutex> guard(gLock);
        gRecording = on != 0;
        updateActive();
    }

    void corvexClientTest_clearCalls(void)
    {
        std::lock_guard<std::mutex> guard(gLock);
        gCalls.clear();
    }

    uint32_t corvexClientTest_callCount(const char* operation)
    {
        std::lock_guard<std::mutex> guard(gLock);
        uint32_t count = 0;
        for (const Call& call : gCalls)
        {
            if (!operation || call.mOperation == operation)
                ++count;
        }
        return count;
    }

    corvexClient_returnCode_t corvexClientTest_getCall(const char* operation, uint32_t index,
                                                       char* buffer, size_t bufferSize)
    {
        if (!buffer || bufferSize == 0)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
        std::lock_guard<std::mutex> guard(gLock);
        for (const Call& call : gCalls)
        {
            if (operation && call.mOperation != operation)
                continue;
            if (index-- == 0)
            {
                snprintf(buffer, bufferSize, "%s", call.mArguments.c_str());
                return CORVEXCLIENT_OK;
            }
        }
        return CORVEXCLIENT_NOT_FOUND;
    }
}
