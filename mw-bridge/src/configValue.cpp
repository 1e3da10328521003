#define CORVEX_LOG_MODULE "configValue"

#include "configValue.h"

#include <inttypes.h>
#include <string.h>

#include "logging.h"

namespace
{
/* Enough of a refused value to recognise it, escaped. */
const size_t QUOTED_SIZE = 128;

const char* quoted(const char* text, char* buffer)
{
    return corvexLog_escapeText(text, strlen(text), buffer, QUOTED_SIZE);
}

bool isOneOf(const char* text, const char* const* words)
{
    for (; *words != NULL; ++words)
    {
        if (strcmp(text, *words) == 0)
        {
            return true;
        }
    }
    return false;
}
} // namespace

bool corvexConfig_getBool(const char* key, const char* text, int level, uint8_t* value)
{
    static const char* const YES[] = {"1",    "t",    "T",   "y",   "Y",   "true",
                                      "True", "TRUE", "yes", "Yes", "YES", NULL};
    static const char* const NO[] = {"0",     "f",     "F",  "n",  "N",  "false",
                                     "False", "FALSE", "no", "No", "NO", NULL};
    if (text != NULL && isOneOf(text, YES))
    {
        *value = 1;
        return true;
    }
    if (text != NULL && isOneOf(text, NO))
    {
        *value = 0;
        return true;
    }
    char buffer[QUOTED_SIZE];
    CORVEX_LOG(level, "%s: '%s' is not a boolean (true or false, yes or no, 1 or 0)", key,
               text != NULL ? quoted(text, buffer) : "");
    return false;
}

bool corvexConfig_getNumber(const char* key, const char* text, int64_t low, int64_t high, int level,
                            int64_t* value)
{
    const char* digit = text != NULL && text[0] == '-' ? text + 1 : text;
    const bool negative = digit != text;
    bool whole = digit != NULL && *digit != '\0';
    uint64_t magnitude = 0;
    for (; whole && *digit != '\0'; ++digit)
    {
        const unsigned next = (unsigned)(*digit - '0');
        whole = next <= 9;
        /* Beyond the 64-bit range: saturated, out of any range asked for. */
        magnitude = magnitude > (UINT64_MAX - next) / 10 ? UINT64_MAX : magnitude * 10 + next;
    }
    int64_t number = 0;
    if (whole)
    {
        if (negative)
        {
            number = magnitude > (uint64_t)INT64_MAX ? INT64_MIN : -(int64_t)magnitude;
        }
        else
        {
            number = magnitude > (uint64_t)INT64_MAX ? INT64_MAX : (int64_t)magnitude;
        }
    }
    if (!whole || number < low || number > high)
    {
        char buffer[QUOTED_SIZE];
        CORVEX_LOG(level, "%s: '%s' is not a whole number from %" PRId64 " to %" PRId64, key,
                   text != NULL ? quoted(text, buffer) : "", low, high);
        return false;
    }
    *value = number;
    return true;
}
