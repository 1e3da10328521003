/* Process-wide MAMA log: level filtering, default output and replaceable sinks. */
#ifndef MamaLogH__
#define MamaLogH__

#include <stdarg.h>
#include <stdio.h>

#include "mama/types.h"

#if defined(__cplusplus)
extern "C" {
#endif

typedef enum
{
    MAMA_LOG_LEVEL_OFF    = 0,
    MAMA_LOG_LEVEL_SEVERE = 1,
    MAMA_LOG_LEVEL_ERROR  = 2,
    MAMA_LOG_LEVEL_WARN   = 3,
    MAMA_LOG_LEVEL_NORMAL = 4,
    MAMA_LOG_LEVEL_FINE   = 5,
    MAMA_LOG_LEVEL_FINER  = 6,
    MAMA_LOG_LEVEL_FINEST = 7
} MamaLogLevel;

/* Receives the unformatted text and its arguments. */
typedef void (MAMACALLTYPE *mamaLogCb) (MamaLogLevel level, const char* format, va_list ap);
/* Receives the finished line text (no time stamp, no newline). */
typedef void (MAMACALLTYPE *mamaLogCb2) (MamaLogLevel level, const char* message);

/* Current level, exported as data for code that reads it directly;
 * prefer mama_getLogLevel. */
MAMAExpDLL extern MamaLogLevel gMamaLogLevel;

mama_status mama_enableLogging (FILE* file, MamaLogLevel level);
mama_status mama_logToFile (const char* file, MamaLogLevel level);
mama_status mama_disableLogging (void);
mama_status mama_setLogLevel (MamaLogLevel level);
MamaLogLevel mama_getLogLevel (void);
const char* mama_logLevelToString (MamaLogLevel level);
/* Parses off/severe/error/warn/warning/normal/fine/finer/finest, any case.
 * 1 on success, 0 otherwise (level untouched). */
int mama_tryStringToLogLevel (const char* text, MamaLogLevel* level);

void mama_log (MamaLogLevel level, const char* format, ...)
#if defined(__GNUC__)
    __attribute__ ((format (printf, 2, 3)))
#endif
    ;
void mama_logVa (MamaLogLevel level, const char* format, va_list args);
void MAMACALLTYPE mama_log2 (MamaLogLevel level, const char* message);
/* Writes regardless of the current level (unless the level is OFF). */
void mama_forceLog (MamaLogLevel level, const char* format, ...)
#if defined(__GNUC__)
    __attribute__ ((format (printf, 2, 3)))
#endif
    ;

/* Replace the sink; NULL restores the default output. Setting one kind of
 * callback removes the other. */
mama_status mama_setLogCallback (mamaLogCb callback);
mama_status MAMACALLTYPE mama_setLogCallback2 (mamaLogCb2 callback);

#if defined(__cplusplus)
}
#endif

#endif
