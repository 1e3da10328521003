/* A copied name/value property array: names compare without regard to case
 * and the last value of a name wins. */
#ifndef CORVEXCLIENT_PROPERTIES_H
#define CORVEXCLIENT_PROPERTIES_H

#include <string>
#include <utility>
#include <vector>

#include "corvexClient.h"

struct CorvexPropertyList
{
    std::vector<std::pair<std::string, std::string>> mEntries;
};

/* Copies a null-terminated name/value array (NULL gives an empty list). A
 * name without a value is refused. */
corvexClient_returnCode_t corvexProperties_copy(const char** array, CorvexPropertyList* list);

/* The value of the last entry named name, or NULL. */
const char* corvexProperties_get(const CorvexPropertyList& list, const char* name);

/* Boolean value ("1", "true", "yes", "on" and their opposites), or the
 * default when absent; false with *valid cleared for anything else. */
bool corvexProperties_getBool(const CorvexPropertyList& list, const char* name, bool defaultValue,
                              bool* valid);

/* Unsigned decimal value, or the default when absent; *valid cleared for
 * text that is not a number. */
uint64_t corvexProperties_getUnsigned(const CorvexPropertyList& list, const char* name,
                                      uint64_t defaultValue, bool* valid);

#endif
