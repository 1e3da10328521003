#include "properties.h"

#include <cerrno>
#include <cstdlib>
#include <strings.h>

#include "clientError.h"

corvexClient_returnCode_t corvexProperties_copy(const char** array, CorvexPropertyList* list)
{
    list->mEntries.clear();
    if (!array)
        return CORVEXCLIENT_OK;
    for (size_t i = 0; array[i]; i += 2)
    {
        if (!array[i + 1])
            return corvexError_set(CORVEXCLIENT_FAIL, CORVEXCLIENT_SUBCODE_BAD_PROPERTY_VALUE, 0,
                                   "property '%s' has no value", array[i]);
        list->mEntries.emplace_back(array[i], array[i + 1]);
    }
    return CORVEXCLIENT_OK;
}

const char* corvexProperties_get(const CorvexPropertyList& list, const char* name)
{
    for (auto it = list.mEntries.rbegin(); it != list.mEntries.rend(); ++it)
    {
        if (strcasecmp(it->first.c_str(), name) == 0)
            return it->second.c_str();
    }
    return nullptr;
}

bool corvexProperties_getBool(const CorvexPropertyList& list, const char* name, bool defaultValue,
                              bool* valid)
{
    const char* value = corvexProperties_get(list, name);
    if (!value)
        return defaultValue;
    for (const char* yes : {"1", "true", "yes", "on"})
    {
        if (strcasecmp(value, yes) == 0)
            return true;
    }
    for (const char* no : {"0", "false", "no", "off"})
    {
        if (strcasecmp(value, no) == 0)
            return false;
    }
    *valid = false;
    return false;
}

uint64_t corvexProperties_getUnsigned(const CorvexPropertyList& list, const char* name,
                                      uint64_t defaultValue, bool* valid)
{
    const char* value = corvexProperties_get(list, name);
    if (!value)
        return defaultValue;
    char* end = nullptr;
    errno = 0;
    unsigned long long number = strtoull(value, &end, 10);
    if (errno != 0 || end == value || *end != '\0' || value[0] == '-')
    {
        *valid = false;
        return 0;
    }
    return number;
}
