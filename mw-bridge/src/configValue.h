/* The bridge's configuration values, each read as its whole text. A value
 * that is not of its kind is reported in one line that names the key and
 * shows the value, and the caller refuses it (or goes on without it). */
#ifndef CORVEX_BRIDGE_CONFIGVALUE_H
#define CORVEX_BRIDGE_CONFIGVALUE_H

#include <stdint.h>

/* A boolean as MAMA spells one ("1", "t", "y", "true", "yes" with their
 * capitalised forms, and their opposites "0", "f", "n", "false", "no").
 * False, with the line at `level`, for any other text. */
bool corvexConfig_getBool(const char* key, const char* text, int level, uint8_t* value);

/* A decimal whole number, optionally negative, digits only, from low to
 * high; digits beyond the 64-bit range count as beyond it. False, with the
 * line at `level`, for any other text or a number out of the range. */
bool corvexConfig_getNumber(const char* key, const char* text, int64_t low, int64_t high, int level,
                            int64_t* value);

#endif /* CORVEX_BRIDGE_CONFIGVALUE_H */
