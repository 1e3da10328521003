#include "clientError.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace
{
struct ThreadError
{
    bool mSet = false;
    corvexClient_errorInfo_t mInfo{};
};

thread_local ThreadError tError;
} // namespace

corvexClient_returnCode_t corvexError_set(corvexClient_returnCode_t code,
                                          corvexClient_subCode_t subCode, int32_t responseCode,
                                          const char* format, ...)
{
    tError.mSet = true;
    tError.mInfo.mSubCode = subCode;
    tError.mInfo.mResponseCode = responseCode;
    va_list args;
    va_start(args, format);
    vsnprintf(tError.mInfo.mErrorText, sizeof(tError.mInfo.mErrorText), format, args);
    va_end(args);
    return code;
}

corvexClient_returnCode_t corvexError_fail(corvexClient_subCode_t subCode)
{
    return corvexError_set(CORVEXCLIENT_FAIL, subCode, 0, "%s",
                           corvexClient_subCodeDescription(subCode));
}

void corvexError_makeRecord(corvexClient_errorInfo_t* record, corvexClient_subCode_t subCode,
                            int32_t responseCode, const char* text)
{
    record->mSubCode = subCode;
    record->mResponseCode = responseCode;
    snprintf(record->mErrorText, sizeof(record->mErrorText), "%s", text ? text : "");
}

void corvexError_setRecord(const corvexClient_errorInfo_t* record)
{
    tError.mSet = true;
    tError.mInfo = *record;
}

const char* corvexText_orNull(const char* text)
{
    return text ? text : "(null)";
}

extern "C"
{

    const corvexClient_errorInfo_t* corvexClient_getLastErrorInfo(void)
    {
        return tError.mSet ? &tError.mInfo : nullptr;
    }

    void corvexClient_resetLastErrorInfo(void)
    {
        tError.mSet = false;
        std::memset(&tError.mInfo, 0, sizeof(tError.mInfo));
    }
}
