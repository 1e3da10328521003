// Write-once "meta" properties: facts libraries record about themselves (their
// compile version, entitlement mode) kept apart from the user's properties.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <mutex>
#include <string>

#include "mamainternal.h"

namespace
{
std::mutex gMetaLock;

std::map<std::string, std::string>& metaTable()
{
    static std::map<std::string, std::string> table;
    return table;
}

struct ParsedVersion
{
    long mMajor;
    long mMinor;
    long mRelease; // -1 when absent
};

bool parseNumber(const char*& cursor, long& value)
{
    if (*cursor < '0' || *cursor > '9')
    {
        return false;
    }
    char* end = nullptr;
    value = strtol(cursor, &end, 10);
    cursor = end;
    return true;
}

// "major.minor[.release...]"; anything after the release digits is ignored.
bool parseVersion(const char* text, ParsedVersion& version)
{
    const char* cursor = text;
    version.mRelease = -1;
    if (!parseNumber(cursor, version.mMajor) || *cursor != '.')
    {
        return false;
    }
    ++cursor;
    if (!parseNumber(cursor, version.mMinor))
    {
        return false;
    }
    if (*cursor == '.')
    {
        ++cursor;
        if (!parseNumber(cursor, version.mRelease))
        {
            version.mRelease = -1;
        }
    }
    return true;
}

// Versions that predate the current numbering map onto the level they match.
void normalise(ParsedVersion& version)
{
    if (version.mMajor == 6 && version.mMinor == 0 && version.mRelease >= 7)
    {
        version.mMinor = 1;
    }
    else if (version.mMajor == 2 && version.mMinor == 4)
    {
        version.mMajor = 6;
        version.mMinor = 1;
    }
    else if (version.mMajor == 2 && version.mMinor < 4)
    {
        version.mMajor = 6;
        version.mMinor = 0;
    }
}
} // namespace

extern "C"
{

    const char* mama_version = "mama " MAMA_VERSION;

    void mamaInternal_init(void)
    {
        static std::once_flag once;
        std::call_once(once,
                       [] { mamaInternal_setMetaProperty("mama.runtime_version", MAMA_VERSION); });
    }

    mama_status mamaInternal_setMetaProperty(const char* name, const char* value)
    {
        if (!name || !value)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        std::lock_guard<std::mutex> guard(gMetaLock);
        try
        {
            if (!metaTable().emplace(name, value).second)
            {
                return MAMA_STATUS_INVALID_ARG;
            }
        }
        catch (const std::bad_alloc&)
        {
            return MAMA_STATUS_NOMEM;
        }
        return MAMA_STATUS_OK;
    }

    const char* mamaInternal_getMetaProperty(const char* name)
    {
        if (!name)
        {
            return nullptr;
        }
        std::lock_guard<std::mutex> guard(gMetaLock);
        auto found = metaTable().find(name);
        // Entries are never replaced or erased, so the text outlives the lock.
        return found == metaTable().end() ? nullptr : found->second.c_str();
    }

    mama_status mamaInternal_checkCompileVersion(const char* libraryName)
    {
        if (!libraryName)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        char name[MAX_INTERNAL_PROP_LEN];
        snprintf(name, sizeof(name), "mama.%s.compile_version", libraryName);
        const char* text = mamaInternal_getMetaProperty(name);
        ParsedVersion version;
        if (!text || !parseVersion(text, version))
        {
            mama_log(MAMA_LOG_LEVEL_ERROR, "mama: %s has no usable compile version (%s = %s)",
                     libraryName, name, text ? text : "unset");
            return MAMA_STATUS_INVALID_ARG;
        }
        normalise(version);
        if (version.mMajor != MAMA_VERSION_MAJOR || version.mMinor != MAMA_VERSION_MINOR)
        {
            mama_log(MAMA_LOG_LEVEL_ERROR, "mama: %s was compiled for MAMA %s; this is MAMA %s",
                     libraryName, text, MAMA_VERSION);
            return MAMA_STATUS_INVALID_ARG;
        }
        return MAMA_STATUS_OK;
    }

} // extern "C"
