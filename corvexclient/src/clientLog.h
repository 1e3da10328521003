/* The library's own log lines: filtered per category, then handed to the
 * application's callback or written to standard error. */
#ifndef CORVEXCLIENT_CLIENT_LOG_H
#define CORVEXCLIENT_CLIENT_LOG_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "corvexClient.h"

bool corvexLog_enabled(corvexClient_log_category_t category, corvexClient_log_level_t level);

void corvexLog_write(corvexClient_log_category_t category, corvexClient_log_level_t level,
                     const char* format, ...) __attribute__((format(printf, 3, 4)));

/* Bytes from outside (subjects, header texts) as a log line shows them:
 * printable ASCII as it is, a backslash and every other byte as "\xNN". */
std::string corvexLog_escape(const char* bytes, size_t length);

/* Lets one line of a kind through a second and counts those held back. */
struct CorvexLogThrottle
{
    std::atomic<int64_t> mLastMs{INT64_MIN / 2}; /* steady clock */
    std::atomic<uint64_t> mHeld{0};
};

/* True when a line may be written now; *held is then the number of lines
 * held back since the last one written. */
bool corvexLogThrottle_pass(CorvexLogThrottle* throttle, uint64_t* held);

/* Formats only when the line passes the filter. */
#define CORVEX_LOG(category, level, ...)                                                           \
    do                                                                                             \
    {                                                                                              \
        if (corvexLog_enabled(category, level))                                                    \
            corvexLog_write(category, level, __VA_ARGS__);                                         \
    } while (0)

#endif
