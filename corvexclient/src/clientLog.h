/* The library's own log lines: filtered per category, then handed to the
 * application's callback or written to standard error. */
#ifndef CORVEXCLIENT_CLIENT_LOG_H
#define CORVEXCLIENT_CLIENT_LOG_H

#include "corvexClient.h"

bool corvexLog_enabled(corvexClient_log_category_t category, corvexClient_log_level_t level);

void corvexLog_write(corvexClient_log_category_t category, corvexClient_log_level_t level,
                     const char* format, ...) __attribute__((format(printf, 3, 4)));

/* Formats only when the line passes the filter. */
#define CORVEX_LOG(category, level, ...)                                                           \
    do                                                                                             \
    {                                                                                              \
        if (corvexLog_enabled(category, level))                                                    \
            corvexLog_write(category, level, __VA_ARGS__);                                         \
    } while (0)

#endif
