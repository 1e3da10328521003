/* String helpers shared by the host libraries. */
#ifndef WOMBAT_STRUTILS_H
#define WOMBAT_STRUTILS_H

#include "wombat/port.h"

#if defined(__cplusplus)
extern "C" {
#endif

#define VERSION_INFO_EXTRA_MAX 16

typedef struct
{
    int  mMajor;
    int  mMinor;
    int  mRelease;
    char mExtra[VERSION_INFO_EXTRA_MAX];
} versionInfo;

/* Parses "6.3.2rc1"-style text after any non-digit prefix into major, minor,
 * release and the (truncated) remainder. 1 on success, 0 on failure. */
COMMONExpDLL int strToVersionInfo (const char* s, versionInfo* version);

/* 1 for "1", "y", "Y", "t", "T", "true", "True", "TRUE", "yes", "Yes",
 * "YES"; 0 for anything else, NULL included. No trimming. */
COMMONExpDLL int strtobool (const char* s);

/* A malloc'd copy of value with $(VAR) or ${VAR} replaced by getenv ("VAR").
 * When the text contains "$(", only that form is replaced; an unset variable
 * stops substitution and leaves the rest as it is. NULL for a NULL value or
 * when out of memory. The caller frees the result. */
COMMONExpDLL char* strReplaceEnvironmentVariable (const char* value);

#if defined(__cplusplus)
}
#endif

#endif /* WOMBAT_STRUTILS_H */
