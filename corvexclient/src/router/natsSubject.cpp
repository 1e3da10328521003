#include "router/natsSubject.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace
{
bool mustEscape(unsigned char byte)
{
    return byte <= ' ' || byte == 0x7f || byte == '.' || byte == '*' || byte == '>' || byte == '%';
}

/* Property keys and texts keep printable ASCII other than the escape byte
 * and the separators of a header line, of entries and of the encoding. */
bool mustEscapeInHeader(unsigned char byte)
{
    return byte <= ' ' || byte >= 0x7f || byte == '%' || byte == '=' || byte == ':' || byte == ',';
}

void appendEscaped(std::string& out, const char* bytes, size_t length,
                   bool (*mustEscapeByte)(unsigned char))
{
    static const char kHex[] = "0123456789ABCDEF";
    for (size_t i = 0; i < length; ++i)
    {
        const unsigned char byte = static_cast<unsigned char>(bytes[i]);
        if (mustEscapeByte(byte))
        {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0xf];
        }
        else
        {
            out += static_cast<char>(byte);
        }
    }
}

void appendLevel(std::string& subject, const char* level, size_t length)
{
    if (!subject.empty())
        subject += '.';
    if (length == 0)
        subject += '%';
    else
        appendEscaped(subject, level, length, mustEscape);
}

int hexValue(char digit)
{
    if (digit >= '0' && digit <= '9')
        return digit - '0';
    if (digit >= 'A' && digit <= 'F')
        return digit - 'A' + 10;
    if (digit >= 'a' && digit <= 'f')
        return digit - 'a' + 10;
    return -1;
}

/* False for a bad escape. */
bool appendUnescaped(std::string& out, const char* text, size_t size)
{
    for (size_t i = 0; i < size; ++i)
    {
        if (text[i] != '%')
        {
            out += text[i];
            continue;
        }
        const int high = i + 2 < size ? hexValue(text[i + 1]) : -1;
        const int low = i + 2 < size ? hexValue(text[i + 2]) : -1;
        if (high < 0 || low < 0)
            return false;
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

size_t levelEnd(const char* text, size_t start, size_t length, char separator)
{
    const void* found = std::memchr(text + start, separator, length - start);
    return found ? static_cast<size_t>(static_cast<const char*>(found) - text) : length;
}

/* Walks the '/'-separated levels of a topic. */
template <typename Visit> void forEachLevel(const char* topic, size_t length, Visit visit)
{
    size_t start = 0;
    while (true)
    {
        const size_t end = levelEnd(topic, start, length, '/');
        visit(topic + start, end - start, end == length);
        if (end == length)
            return;
        start = end + 1;
    }
}
} // namespace

std::string corvexNatsSubject_fromTopic(const char* topic, size_t length)
{
    std::string subject;
    subject.reserve(length + 8);
    forEachLevel(topic, length,
                 [&subject](const char* level, size_t size, bool)
                 { appendLevel(subject, level, size); });
    return subject;
}

std::string corvexNatsSubject_fromPattern(const char* pattern, size_t length, bool* needsFilter)
{
    std::string subject;
    subject.reserve(length + 8);
    *needsFilter = false;
    forEachLevel(pattern, length,
                 [&subject, needsFilter](const char* level, size_t size, bool last)
                 {
                     if (size > 0 && level[size - 1] == '*')
                     {
                         subject += subject.empty() ? "*" : ".*";
                         *needsFilter = *needsFilter || size > 1;
                     }
                     else if (last && size == 1 && level[0] == '>')
                     {
                         subject += subject.empty() ? ">" : ".>";
                     }
                     else
                     {
                         appendLevel(subject, level, size);
                     }
                 });
    return subject;
}

namespace
{
int upperHexValue(char digit)
{
    return (digit >= 'a' && digit <= 'f') ? -1 : hexValue(digit);
}

/* Appends the level a token stands for; false unless the token is that
 * level's one spelling: every byte that must be escaped is, and no other,
 * in uppercase hex, and no level holds a NUL. */
bool appendCanonicalLevel(std::string& topic, const char* token, size_t size)
{
    if (size == 1 && token[0] == '%')
        return true;
    for (size_t i = 0; i < size; ++i)
    {
        const unsigned char byte = static_cast<unsigned char>(token[i]);
        if (byte != '%')
        {
            if (mustEscape(byte))
                return false;
            topic += static_cast<char>(byte);
            continue;
        }
        const int high = i + 2 < size ? upperHexValue(token[i + 1]) : -1;
        const int low = i + 2 < size ? upperHexValue(token[i + 2]) : -1;
        const int value = high * 16 + low;
        if (high < 0 || low < 0 || value == 0 || !mustEscape(static_cast<unsigned char>(value)))
            return false;
        topic += static_cast<char>(value);
        i += 2;
    }
    return size > 0;
}
} // namespace

bool corvexNatsSubject_toTopic(const char* subject, size_t length, std::string* topic)
{
    topic->clear();
    topic->reserve(length);
    size_t start = 0;
    while (true)
    {
        const size_t end = levelEnd(subject, start, length, '.');
        if (start > 0)
            *topic += '/';
        if (!appendCanonicalLevel(*topic, subject + start, end - start))
            return false;
        if (end == length)
            return true;
        start = end + 1;
    }
}

std::string corvexNatsProperty_encode(const char* key, bool isString, const char* text,
                                      int32_t number)
{
    std::string value;
    appendEscaped(value, key, std::strlen(key), mustEscapeInHeader);
    value += isString ? "=s" : "=i";
    if (isString)
        appendEscaped(value, text, std::strlen(text), mustEscapeInHeader);
    else
        value += std::to_string(number);
    return value;
}

bool corvexNatsProperty_decode(const char* value, std::string* key, bool* isString,
                               std::string* text, int32_t* number)
{
    const char* separator = std::strchr(value, '=');
    if (!separator || (separator[1] != 's' && separator[1] != 'i'))
        return false;
    key->clear();
    text->clear();
    if (!appendUnescaped(*key, value, static_cast<size_t>(separator - value)) ||
        key->find('\0') != std::string::npos)
        return false;
    *isString = separator[1] == 's';
    const char* rest = separator + 2;
    if (*isString)
        return appendUnescaped(*text, rest, std::strlen(rest)) &&
               text->find('\0') == std::string::npos;
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(rest, &end, 10);
    if (*rest == '\0' || *end != '\0' || errno != 0 || parsed < INT32_MIN || parsed > INT32_MAX)
        return false;
    *number = static_cast<int32_t>(parsed);
    return true;
}
