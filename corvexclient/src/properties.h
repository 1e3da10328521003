/* A copied name/value property array: names compare without regard to case
 * and the last value of a name wins. */
#ifndef CORVEXCLIENT_PROPERTIES_H
#define CORVEXCLIENT_PROPERTIES_H

#include <cstdint>
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

/* A property's value as an error text shows it: its first bytes, escaped. */
std::string corvexProperties_quoted(const char* value);

/* The boolean value of a property ("1", "true", "yes", "on" and their
 * opposites, in any case) into *value, which keeps its default when the
 * property is absent. Any other text is refused with an error that names
 * the property and the text. */
corvexClient_returnCode_t corvexProperties_getBool(const CorvexPropertyList& list, const char* name,
                                                   bool* value);

/* The unsigned decimal value of a property, digits only, from low to high,
 * into *value, which keeps its default when the property is absent. Any
 * other text (blanks, signs, other bases, trailing characters, numbers out
 * of range) is refused with an error that names the property, the text and
 * the range. */
corvexClient_returnCode_t corvexProperties_getUnsigned(const CorvexPropertyList& list,
                                                       const char* name, uint64_t low,
                                                       uint64_t high, uint64_t* value);

#endif
