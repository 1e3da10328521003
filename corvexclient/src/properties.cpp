#include "properties.h"

#include <cstring>
#include <strings.h>

#include "clientError.h"
#include "clientLog.h"

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

std::string corvexProperties_quoted(const char* value)
{
    /* Enough of a refused value to recognise it. */
    constexpr size_t kQuotedBytes = 96;
    return corvexLog_escape(value, strnlen(value, kQuotedBytes));
}

corvexClient_returnCode_t corvexProperties_getBool(const CorvexPropertyList& list, const char* name,
                                                   bool* value)
{
    const char* text = corvexProperties_get(list, name);
    if (!text)
        return CORVEXCLIENT_OK;
    for (const char* yes : {"1", "true", "yes", "on"})
    {
        if (strcasecmp(text, yes) == 0)
        {
            *value = true;
            return CORVEXCLIENT_OK;
        }
    }
    for (const char* no : {"0", "false", "no", "off"})
    {
        if (strcasecmp(text, no) == 0)
        {
            *value = false;
            return CORVEXCLIENT_OK;
        }
    }
    return corvexError_set(CORVEXCLIENT_FAIL, CORVEXCLIENT_SUBCODE_BAD_PROPERTY_VALUE, 0,
                           "\"%s\": '%s' is not a boolean (\"1\" or \"0\", \"true\" or \"false\", "
                           "\"yes\" or \"no\", \"on\" or \"off\")",
                           name, corvexProperties_quoted(text).c_str());
}

corvexClient_returnCode_t corvexProperties_getUnsigned(const CorvexPropertyList& list,
                                                       const char* name, uint64_t low,
                                                       uint64_t high, uint64_t* value)
{
    const char* text = corvexProperties_get(list, name);
    if (!text)
        return CORVEXCLIENT_OK;
    uint64_t number = 0;
    bool whole = *text != '\0';
    for (const char* digit = text; whole && *digit; ++digit)
    {
        const unsigned next = static_cast<unsigned>(*digit - '0');
        whole = next <= 9 && number <= (UINT64_MAX - next) / 10;
        number = number * 10 + next;
    }
    if (!whole || number < low || number > high)
        return corvexError_set(CORVEXCLIENT_FAIL, CORVEXCLIENT_SUBCODE_BAD_PROPERTY_VALUE, 0,
                               "\"%s\": '%s' is not a whole number from %llu to %llu", name,
                               corvexProperties_quoted(text).c_str(),
                               static_cast<unsigned long long>(low),
                               static_cast<unsigned long long>(high));
    *value = number;
    return CORVEXCLIENT_OK;
}
