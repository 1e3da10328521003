#include "topicMatch.h"

#include <cstring>

namespace
{
/* One level of a pattern against one level of a topic. */
bool levelMatches(const char* pattern, size_t patternLength, const char* level, size_t levelLength)
{
    if (patternLength > 0 && pattern[patternLength - 1] == '*')
    {
        const size_t prefix = patternLength - 1;
        return levelLength >= prefix && std::memcmp(pattern, level, prefix) == 0;
    }
    return patternLength == levelLength && std::memcmp(pattern, level, levelLength) == 0;
}

size_t levelEnd(const char* text, size_t start, size_t length)
{
    const void* slash = std::memchr(text + start, '/', length - start);
    return slash ? static_cast<size_t>(static_cast<const char*>(slash) - text) : length;
}
} // namespace

corvexClient_subCode_t corvexTopic_validate(const char* topic, size_t* length)
{
    const size_t size = strnlen(topic, CORVEXCLIENT_MAX_TOPIC_LEN + 1);
    if (size > CORVEXCLIENT_MAX_TOPIC_LEN)
        return CORVEXCLIENT_SUBCODE_TOPIC_TOO_LONG;
    if (size == 0 || topic[0] == '/' || topic[size - 1] == '/' || std::strstr(topic, "//"))
        return CORVEXCLIENT_SUBCODE_BAD_TOPIC;
    *length = size;
    return CORVEXCLIENT_SUBCODE_OK;
}

bool corvexTopic_isWildcard(const char* topic, size_t length)
{
    /* A level ending in '*', or a last level of ">" alone. */
    if (length > 0 && topic[length - 1] == '>' && (length == 1 || topic[length - 2] == '/'))
        return true;
    const char* star = static_cast<const char*>(std::memchr(topic, '*', length));
    while (star)
    {
        const size_t next = static_cast<size_t>(star - topic) + 1;
        if (next == length || topic[next] == '/')
            return true;
        star = static_cast<const char*>(std::memchr(topic + next, '*', length - next));
    }
    return false;
}

bool corvexTopic_matches(const char* pattern, size_t patternLength, const char* topic,
                         size_t topicLength)
{
    size_t p = 0;
    size_t t = 0;
    while (true)
    {
        const size_t patternEnd = levelEnd(pattern, p, patternLength);
        if (patternEnd == patternLength && patternEnd - p == 1 && pattern[p] == '>')
            return t < topicLength;
        const size_t topicEnd = levelEnd(topic, t, topicLength);
        if (!levelMatches(pattern + p, patternEnd - p, topic + t, topicEnd - t))
            return false;
        const bool patternDone = patternEnd == patternLength;
        const bool topicDone = topicEnd == topicLength;
        if (patternDone || topicDone)
            return patternDone && topicDone;
        p = patternEnd + 1;
        t = topicEnd + 1;
    }
}
