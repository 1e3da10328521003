#include "wombat/property.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "propertyTable.h"
#include "wombat/strutils.h"

namespace {

WombatPropertyTable* asTable (wproperty_t handle)
{
    return static_cast<WombatPropertyTable*> (handle);
}

// The whole file, or nothing when it cannot be read (e.g. a directory).
std::optional<std::string> readFile (const std::string& name)
{
    std::FILE* file = std::fopen (name.c_str (), "r");
    if (file == nullptr)
        return std::nullopt;
    std::string text;
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread (buffer, 1, sizeof buffer, file)) > 0)
        text.append (buffer, got);
    const bool failed = std::ferror (file) != 0;
    std::fclose (file);
    if (failed)
        return std::nullopt;
    return text;
}

// Candidate directories in order; an empty path stands for the root.
std::vector<std::string> searchDirectories (const char* path)
{
    std::vector<std::string> dirs;
    std::string current;
    for (const char* p = path != nullptr ? path : ""; *p != '\0'; ++p)
    {
        if (*p == '"')
            continue;
        if (*p == ':')
        {
            if (!current.empty ())
                dirs.push_back (std::move (current));
            current.clear ();
        }
        else
            current += *p;
    }
    if (!current.empty ())
        dirs.push_back (std::move (current));
    if (dirs.empty ())
        dirs.emplace_back ();
    return dirs;
}

} // namespace

void propertyTable_set (WombatPropertyTable& table, const std::string& key,
                        const std::optional<std::string>& value)
{
    if (!value)
    {
        table.mEntries[key] = std::nullopt;
        return;
    }
    std::unique_ptr<char, decltype (&std::free)> substituted (
        strReplaceEnvironmentVariable (value->c_str ()), &std::free);
    if (!substituted)
        throw std::bad_alloc ();
    table.mEntries[key] = std::string (substituted.get ());
}

extern "C" {

wproperty_t properties_Load (const char* path, const char* fileName)
{
    if (fileName == nullptr)
        return nullptr;
    for (const std::string& dir : searchDirectories (path))
    {
        const std::optional<std::string> text = readFile (dir + "/" + fileName);
        if (!text)
            continue;
        try
        {
            auto table = std::make_unique<WombatPropertyTable> ();
            propertyTable_parse (*table, *text);
            return table.release ();
        }
        catch (const std::bad_alloc&)
        {
            return nullptr;
        }
    }
    return nullptr;
}

wproperty_t properties_Create (void)
{
    return new (std::nothrow) WombatPropertyTable ();
}

wproperty_t properties_Copy (wproperty_t src)
{
    const WombatPropertyTable* table = asTable (src);
    if (table == nullptr)
        return nullptr;
    try
    {
        return new WombatPropertyTable (*table);
    }
    catch (const std::bad_alloc&)
    {
        return nullptr;
    }
}

int properties_Merge (wproperty_t to, wproperty_t from)
{
    WombatPropertyTable* target = asTable (to);
    const WombatPropertyTable* source = asTable (from);
    if (target == nullptr || source == nullptr)
        return 0;
    if (target == source)
        return 1;
    try
    {
        for (const auto& entry : source->mEntries)
            target->mEntries[entry.first] = entry.second;
        return 1;
    }
    catch (const std::bad_alloc&)
    {
        return 0;
    }
}

int properties_AddString (wproperty_t handle, const char* propString)
{
    WombatPropertyTable* table = asTable (handle);
    if (table == nullptr || propString == nullptr)
        return 0;
    try
    {
        propertyTable_parse (*table, propString);
        return 1;
    }
    catch (const std::bad_alloc&)
    {
        return 0;
    }
}

int properties_setProperty (wproperty_t handle, const char* name, const char* value)
{
    WombatPropertyTable* table = asTable (handle);
    if (table == nullptr || name == nullptr || name[0] == '\0')
        return 0;
    try
    {
        propertyTable_set (*table, name,
                           value != nullptr ? std::optional<std::string> (value) : std::nullopt);
        return 1;
    }
    catch (const std::bad_alloc&)
    {
        return 0;
    }
}

const char* properties_Get (wproperty_t handle, const char* name)
{
    const WombatPropertyTable* table = asTable (handle);
    if (table == nullptr || name == nullptr || name[0] == '\0')
        return nullptr;
    const auto found = table->mEntries.find (name);
    if (found == table->mEntries.end () || !found->second)
        return nullptr;
    return found->second->c_str ();
}

int properties_GetPropertyValueAsBoolean (const char* propertyValue)
{
    return strtobool (propertyValue);
}

void properties_ForEach (wproperty_t handle, propertiesCallback cb, void* closure)
{
    const WombatPropertyTable* table = asTable (handle);
    if (table == nullptr || cb == nullptr)
        return;
    // A snapshot, so that the callback may change the table it walks.
    std::vector<std::pair<std::string, std::string>> entries;
    try
    {
        entries.reserve (table->mEntries.size ());
        for (const auto& entry : table->mEntries)
        {
            if (entry.second)
                entries.emplace_back (entry.first, *entry.second);
        }
    }
    catch (const std::bad_alloc&)
    {
        return;
    }
    for (const auto& entry : entries)
        cb (entry.first.c_str (), entry.second.c_str (), closure);
}

void properties_Free (wproperty_t handle)
{
    delete asTable (handle);
}

} // extern "C"
