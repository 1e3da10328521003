#include "router/natsSubject.h"

#include <cstring>

namespace
{
bool mustEscape(unsigned char byte)
{
    return byte <= ' ' || byte == 0x7f || byte == '.' || byte == '*' || byte == '>' || byte == '%';
}

void appendLevel(std::string& subject, const char* level, size_t length)
{
    static const char kHex[] = "0123456789ABCDEF";
    if (!subject.empty())
        subject += '.';
    if (length == 0)
    {
        subject += '%';
        return;
    }
    for (size_t i = 0; i < length; ++i)
    {
        const unsigned char byte = static_cast<unsigned char>(level[i]);
        if (mustEscape(byte))
        {
            subject += '%';
            subject += kHex[byte >> 4];
            subject += kHex[byte & 0xf];
        }
        else
        {
            subject += static_cast<char>(byte);
        }
    }
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
        const size_t size = end - start;
        const char* token = subject + start;
        if (size == 0 || (size == 1 && (token[0] == '*' || token[0] == '>')))
            return false;
        if (size > 1 || token[0] != '%')
        {
            for (size_t i = 0; i < size; ++i)
            {
                if (token[i] != '%')
                {
                    *topic += token[i];
                    continue;
                }
                const int high = i + 2 < size ? hexValue(token[i + 1]) : -1;
                const int low = i + 2 < size ? hexValue(token[i + 2]) : -1;
                if (high < 0 || low < 0)
                    return false;
                *topic += static_cast<char>(high * 16 + low);
                i += 2;
            }
        }
        if (end == length)
            return true;
        start = end + 1;
    }
}
