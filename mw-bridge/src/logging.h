/* Diagnostics of the bridge: every line goes through the host's mama_log so
 * the application's log level and destination apply.
 *
 * Each source file names its module before including this header, e.g.
 *     #define CORVEX_LOG_MODULE "queue"
 * so that every line reads
 *     "<level name> CORVEX-MW-Bridge: (<module>:<line>): <text>". */
#ifndef CORVEX_BRIDGE_LOGGING_H
#define CORVEX_BRIDGE_LOGGING_H

#include <stddef.h>
#include <stdint.h>

#include <mama/mama.h>
#include <mama/log.h>

#include "corvexClient.h"

#ifndef CORVEX_LOG_MODULE
#error "define CORVEX_LOG_MODULE (the module name shown in log lines) before including logging.h"
#endif

#define CORVEX_LOG_STR_(x) #x
#define CORVEX_LOG_STR(x) CORVEX_LOG_STR_(x)
#define CORVEX_LOG_PREFIX                                                                          \
    "%s CORVEX-MW-Bridge: (" CORVEX_LOG_MODULE ":" CORVEX_LOG_STR(__LINE__) "): "

/* Lets the compiler check every format against its arguments; never runs. */
static inline void corvexLog_checkFormat(const char*, ...) __attribute__((format(printf, 1, 2)));
static inline void corvexLog_checkFormat(const char*, ...) {}

/* The prefix is part of the format and the level name its first argument, as
 * the host expects. Arguments are evaluated only when the host would emit the
 * line, so costly ones (message dumps, event names) cost nothing otherwise. */
#define CORVEX_LOG(level, format, ...)                                                             \
    do                                                                                             \
    {                                                                                              \
        if (corvexLog_isEnabled((int)(level)))                                                     \
        {                                                                                          \
            if (0)                                                                                 \
                corvexLog_checkFormat(format, ##__VA_ARGS__);                                      \
            mama_log((MamaLogLevel)(level), CORVEX_LOG_PREFIX format,                              \
                     mama_logLevelToString((MamaLogLevel)(level)), ##__VA_ARGS__);                 \
        }                                                                                          \
    } while (0)

/* Reports a failed vendor call: "<text> - ReturnCode='..', SubCode='..',
 * ResponseCode=.., Info='..'" when the vendor has error details (codes -1
 * and 3), else "<text> - ReturnCode='..'". */
#define CORVEX_LOG_VENDOR_ERROR(level, returnCode, text)                                           \
    corvexLog_vendorError((int)(level), CORVEX_LOG_MODULE, __LINE__, (returnCode), (text))

#define CORVEX_LOG_OFF 0
#define CORVEX_LOG_SEVERE 1
#define CORVEX_LOG_ERROR 2
#define CORVEX_LOG_WARN 3
#define CORVEX_LOG_NORMAL 4
#define CORVEX_LOG_FINE 5
#define CORVEX_LOG_FINER 6
#define CORVEX_LOG_FINEST 7

int corvexLog_isEnabled(int level);
void corvexLog_vendorError(int level, const char* module, int line, int32_t returnCode,
                           const char* text);

/* snprintf semantics: truncates, always terminates (size > 0), returns the
 * length of the whole text or -1 when formatting fails. */
int corvexLog_formatBuffer(char* buffer, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

/* Bytes from outside (the wire, the configuration, a server's text) as a
 * log line may show them: printable ASCII as it is, every other byte (and
 * the backslash) as \xHH, NUL included. Escapes `length` bytes, as many as
 * fit: truncates to the buffer and always terminates it (size > 0). Returns
 * the buffer. */
const char* corvexLog_escapeText(const char* bytes, size_t length, char* buffer, size_t size);

/* "(null)" for a null text, so that no log line formats a null. */
const char* corvexLog_orNull(const char* text);

int corvexBridge_mamaToKlixLogLevel(int mamaLevel);
int corvexBridge_klixToMamaLogLevel(int klixLevel);

/* Forwards the vendor library's own log output into MAMA logging. */
void corvexBridge_logCallback(const corvexClient_logInfo_t* record, void* user);

/* Folds a burst of like messages into one line per second. Lock-free; may be
 * used from any thread while its timer runs on the vendor context thread. */
struct CorvexThrottledLog;

CorvexThrottledLog* corvexThrottledLog_create(int level, corvexClient_context_pt context);
void corvexThrottledLog_log(CorvexThrottledLog* log, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
/* Frees at once, or when a pending timer fires; a second call does nothing. */
void corvexThrottledLog_destroy(CorvexThrottledLog* log);

#endif /* CORVEX_BRIDGE_LOGGING_H */
