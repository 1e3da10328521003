#include "wombat/strutils.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Reads a non-negative decimal number that fits an int; advances `s`.
bool readNumber (const char*& s, int& out)
{
    if (!std::isdigit (static_cast<unsigned char> (*s)))
        return false;
    long long value = 0;
    while (std::isdigit (static_cast<unsigned char> (*s)))
    {
        value = value * 10 + (*s - '0');
        if (value > INT_MAX)
            return false;
        ++s;
    }
    out = static_cast<int> (value);
    return true;
}

} // namespace

extern "C" {

int strToVersionInfo (const char* s, versionInfo* version)
{
    if (s == nullptr || version == nullptr)
        return 0;

    while (*s != '\0' && !std::isdigit (static_cast<unsigned char> (*s)))
        ++s;

    versionInfo parsed{};
    if (!readNumber (s, parsed.mMajor) || *s != '.')
        return 0;
    ++s;
    if (!readNumber (s, parsed.mMinor))
        return 0;
    if (*s == '.')
    {
        ++s;
        if (!readNumber (s, parsed.mRelease))
            return 0;
    }
    std::strncpy (parsed.mExtra, s, VERSION_INFO_EXTRA_MAX - 1);
    *version = parsed;
    return 1;
}

int strtobool (const char* s)
{
    if (s == nullptr)
        return 0;

    if (s[0] != '\0' && s[1] == '\0')
        return std::strchr ("1yYtT", s[0]) != nullptr;

    static const char* const trueTexts[] = {"true", "True", "TRUE", "yes", "Yes", "YES"};
    for (const char* text : trueTexts)
    {
        if (std::strcmp (s, text) == 0)
            return 1;
    }
    return 0;
}

char* strReplaceEnvironmentVariable (const char* value)
{
    if (value == nullptr)
        return nullptr;

    const std::string text (value);
    const bool parenthesised = text.find ("$(") != std::string::npos;
    const char* const open = parenthesised ? "$(" : "${";
    const char close = parenthesised ? ')' : '}';

    std::string result;
    std::string::size_type pos = 0;
    for (;;)
    {
        const auto start = text.find (open, pos);
        const auto end = start == std::string::npos ? std::string::npos
                                                    : text.find (close, start + 2);
        if (end == std::string::npos)
            break;
        const char* env = std::getenv (text.substr (start + 2, end - start - 2).c_str ());
        if (env == nullptr)
            break;
        result.append (text, pos, start - pos).append (env);
        pos = end + 1;
    }
    result.append (text, pos, std::string::npos);
    return strdup (result.c_str ());
}

} // extern "C"
