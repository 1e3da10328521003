// The table behind wproperty_t and the reader of the properties file syntax.
#ifndef WOMBAT_PROPERTYTABLE_H
#define WOMBAT_PROPERTYTABLE_H

#include <optional>
#include <string>
#include <unordered_map>

struct WombatPropertyTable
{
    // A key stored without a value ("key=") reads as absent.
    std::unordered_map<std::string, std::optional<std::string>> mEntries;
};

// Stores value after replacing $(VAR) / ${VAR} from the environment.
void propertyTable_set (WombatPropertyTable& table, const std::string& key,
                        const std::optional<std::string>& value);

// Adds every entry of text, written in the properties file syntax; later
// lines replace earlier values.
void propertyTable_parse (WombatPropertyTable& table, const std::string& text);

#endif // WOMBAT_PROPERTYTABLE_H
