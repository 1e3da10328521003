#define CORVEX_LOG_MODULE "logging"

#include "logging.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

#include <atomic>
#include <new>

namespace
{
const uint32_t THROTTLE_WINDOW_MS = 1000;

/* Long form only when the vendor keeps details for the code. */
bool hasErrorDetails(int32_t returnCode)
{
    return returnCode == CORVEXCLIENT_FAIL || returnCode == CORVEXCLIENT_NOT_READY;
}

int formatV(char** result, const char* format, va_list args)
{
    va_list measure;
    va_copy(measure, args);
    int length = vsnprintf(NULL, 0, format, measure);
    va_end(measure);
    if (length < 0)
    {
        return -1;
    }
    char* text = (char*)malloc((size_t)length + 1);
    if (text == NULL)
    {
        return -1;
    }
    if (vsnprintf(text, (size_t)length + 1, format, args) < 0)
    {
        free(text);
        return -1;
    }
    *result = text;
    return length;
}
} // namespace

int corvexLog_isEnabled(int level)
{
    MamaLogLevel current = mama_getLogLevel();
    return current != MAMA_LOG_LEVEL_OFF && (int)current >= level;
}

void corvexLog_vendorError(int level, const char* module, int line, int32_t returnCode,
                           const char* text)
{
    if (!corvexLog_isEnabled(level))
    {
        return;
    }
    const char* levelName = mama_logLevelToString((MamaLogLevel)level);
    const char* codeText = corvexClient_returnCodeToString(returnCode);
    const corvexClient_errorInfo_t* info =
        hasErrorDetails(returnCode) ? corvexClient_getLastErrorInfo() : NULL;
    if (info != NULL)
    {
        mama_log((MamaLogLevel)level,
                 "%s CORVEX-MW-Bridge: (%s:%d): %s - ReturnCode='%s', SubCode='%s', "
                 "ResponseCode=%d, Info='%s'",
                 levelName, module, line, text, codeText,
                 corvexClient_subCodeToString(info->mSubCode), (int)info->mResponseCode,
                 info->mErrorText);
    }
    else
    {
        mama_log((MamaLogLevel)level, "%s CORVEX-MW-Bridge: (%s:%d): %s - ReturnCode='%s'",
                 levelName, module, line, text, codeText);
    }
}

const char* corvexLog_orNull(const char* text)
{
    return text != NULL ? text : "(null)";
}

int corvexLog_formatBuffer(char* buffer, size_t size, const char* format, ...)
{
    if (format == NULL || (buffer == NULL && size > 0))
    {
        return -1;
    }
    va_list args;
    va_start(args, format);
    int length = vsnprintf(buffer, size, format, args);
    va_end(args);
    return length < 0 ? -1 : length;
}

const char* corvexLog_escapeText(const char* bytes, size_t length, char* buffer, size_t size)
{
    static const char HEX[] = "0123456789ABCDEF";
    size_t used = 0;
    for (size_t i = 0; i < length; ++i)
    {
        const unsigned char byte = (unsigned char)bytes[i];
        const bool plain = byte >= ' ' && byte < 0x7f && byte != '\\';
        const size_t needed = plain ? 1 : 4;
        if (used + needed >= size)
        {
            break;
        }
        if (plain)
        {
            buffer[used++] = (char)byte;
            continue;
        }
        buffer[used++] = '\\';
        buffer[used++] = 'x';
        buffer[used++] = HEX[byte >> 4];
        buffer[used++] = HEX[byte & 0xf];
    }
    buffer[used] = '\0';
    return buffer;
}

int corvexBridge_mamaToKlixLogLevel(int mamaLevel)
{
    static const int map[] = {0, 2, 3, 5, 5, 6, 6, 7};
    if (mamaLevel <= 0)
    {
        return map[0];
    }
    return mamaLevel >= 7 ? map[7] : map[mamaLevel];
}

int corvexBridge_klixToMamaLogLevel(int klixLevel)
{
    static const int map[] = {0, 7, 1, 2, 3, 3, 5, 7};
    if (klixLevel <= 0)
    {
        return map[0];
    }
    return klixLevel >= 7 ? map[7] : map[klixLevel];
}

void corvexBridge_logCallback(const corvexClient_logInfo_t* record, void*)
{
    if (record == NULL)
    {
        return;
    }
    const char* prefix = "";
    if (record->mCategory == CORVEXCLIENT_LOG_CATEGORY_API)
    {
        prefix = "[API] ";
    }
    else if (record->mCategory == CORVEXCLIENT_LOG_CATEGORY_APP)
    {
        prefix = "[APP] ";
    }
    CORVEX_LOG(corvexBridge_klixToMamaLogLevel(record->mLevel), "%s%s", prefix,
               record->mMessage != NULL ? record->mMessage : "");
}

struct CorvexThrottledLog
{
    int mLevel;
    corvexClient_context_pt mContext;
    std::atomic<int32_t> mStopping;
    /* Messages and destroy requests not yet seen by a timer; the object lives
     * while it is above zero. */
    std::atomic<int32_t> mPending;
    /* Messages of the current window, and how many of them (0 or 1) were
     * logged at once; the folded line reports the rest. */
    std::atomic<int32_t> mMessages;
    std::atomic<int32_t> mImmediate;
    std::atomic<char*> mLastMessage;
    /* The window's timer, so that a destroy can cancel it: a context
     * destroyed at close drops its pending timers, which would leak us. */
    std::atomic<corvexClient_timer_t> mTimer;
};

namespace
{
void onThrottleTimer(corvexClient_context_t, corvexClient_timer_t, void* user);

void freeThrottledLog(CorvexThrottledLog* log)
{
    free(log->mLastMessage.exchange(NULL));
    delete log;
}

bool startThrottleTimer(CorvexThrottledLog* log)
{
    corvexClient_timer_t timer = 0;
    corvexClient_returnCode_t rc =
        corvexClient_context_startTimer(log->mContext, CORVEXCLIENT_TIMER_ONE_SHOT,
                                        THROTTLE_WINDOW_MS, onThrottleTimer, log, &timer);
    if (rc != CORVEXCLIENT_OK)
    {
        CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_ERROR, rc, "Unable to start throttled log timer");
        return false;
    }
    log->mTimer.store(timer);
    return true;
}

/* Logs the folded line of the window that is closing. */
void reportWindow(CorvexThrottledLog* log)
{
    int32_t messages = log->mMessages.exchange(0);
    int32_t immediate = log->mImmediate.exchange(0);
    char* message = log->mLastMessage.exchange(NULL);

    /* A message that arrives while a window closes opens no window of its
     * own; it is reported in the next folded line instead of being lost. */
    if (messages > immediate && message != NULL)
    {
        mama_log((MamaLogLevel)log->mLevel, "%s (similar message repeated %d times)", message,
                 (int)(messages - immediate));
    }
    free(message);
}

void onThrottleTimer(corvexClient_context_t, corvexClient_timer_t, void* user)
{
    CorvexThrottledLog* log = (CorvexThrottledLog*)user;
    /* Pending before stopping: a destroy sets stopping before it counts
     * itself, so a destroy already counted here is always seen as stopping. */
    int32_t pending = log->mPending.load();
    int32_t stopping = log->mStopping.load();
    reportWindow(log);

    if (log->mPending.fetch_sub(pending) != pending)
    {
        /* More arrived while this window closed: keep folding. */
        if (startThrottleTimer(log))
        {
            return;
        }
        /* Without a timer nobody else will free it; settle the count here. */
        stopping = log->mStopping.load();
        log->mPending.store(0);
    }
    if (stopping)
    {
        freeThrottledLog(log);
    }
}
} // namespace

CorvexThrottledLog* corvexThrottledLog_create(int level, corvexClient_context_pt context)
{
    CorvexThrottledLog* log = new (std::nothrow) CorvexThrottledLog();
    if (log == NULL)
    {
        return NULL;
    }
    log->mLevel = level;
    log->mContext = context;
    return log;
}

void corvexThrottledLog_log(CorvexThrottledLog* log, const char* format, ...)
{
    if (log == NULL || format == NULL || log->mStopping.load())
    {
        return;
    }

    char* message = NULL;
    va_list args;
    va_start(args, format);
    int length = formatV(&message, format, args);
    va_end(args);

    bool opensWindow = log->mPending.fetch_add(1) + 1 == 1;
    if (opensWindow && length >= 0)
    {
        /* Logged at once, while this call still owns the text: the timer may
         * take it from the slot as soon as it is there. */
        mama_log2((MamaLogLevel)log->mLevel, message);
        log->mImmediate.fetch_add(1);
    }
    log->mMessages.fetch_add(1);
    if (length >= 0)
    {
        free(log->mLastMessage.exchange(message));
    }
    if (opensWindow && !startThrottleTimer(log))
    {
        log->mMessages.store(0);
        log->mImmediate.store(0);
        log->mPending.fetch_sub(1);
    }
}

void corvexThrottledLog_destroy(CorvexThrottledLog* log)
{
    if (log == NULL || log->mStopping.exchange(1) != 0)
    {
        return;
    }
    if (log->mPending.fetch_add(1) + 1 > 1)
    {
        corvexClient_timer_t timer = log->mTimer.load();
        if (timer == 0 || corvexClient_context_stopTimer(log->mContext, &timer) != CORVEXCLIENT_OK)
        {
            return; /* the timer has fired: its callback frees it */
        }
        /* Cancelled before it fired: the window closes here. */
        reportWindow(log);
    }
    freeThrottledLog(log);
}
