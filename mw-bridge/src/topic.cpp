/* The mapping between MAMA names and vendor topics. It logs under the
 * subscription's location: topic naming is part of subscribing. */
#define CORVEX_LOG_MODULE "subscription"

#include "topic.h"

#include <stdlib.h>
#include <string.h>

#include "transport.h"

static const size_t TOPIC_CAPACITY = CORVEX_TOPIC_BUFFER_SIZE - 1;

size_t corvexTopic_encodeLevel(const char* input, char* output, size_t capacity, int translate)
{
    if (input == NULL || output == NULL)
    {
        return 0;
    }
    size_t written = 0;
    for (const char* in = input; '\0' != *in; ++in)
    {
        if (written == capacity)
        {
            break;
        }
        char c = *in;
        if (translate)
        {
            if (c == '\\' || c == '^')
            {
                /* An escape pair is never split: a cut name must still decode. */
                if (capacity - written < 2)
                {
                    break;
                }
                output[written++] = '\\';
            }
            else if (c == '/')
            {
                c = '^';
            }
            else if (c == '.')
            {
                c = '/';
            }
        }
        output[written++] = c;
    }
    return written;
}

int corvexTopic_hasWildcard(const char* topic)
{
    if (topic == NULL || topic[0] == '\0')
    {
        return 0;
    }
    if (strchr(topic, '*') != NULL)
    {
        return 1;
    }
    return topic[strlen(topic) - 1] == '>';
}

/* A source under the transport's inbox subscription prefix is already a vendor
 * topic and is taken byte for byte. An empty prefix matches nothing: otherwise
 * every source would skip translation. */
static int isInboxTopic(const char* source, const CorvexTransportBridge* transport)
{
    return transport->mInboxCorvexSubPrefixLen > 0 &&
           strncmp(source, transport->mInboxCorvexSubPrefix, transport->mInboxCorvexSubPrefixLen) ==
               0;
}

static int isDictionaryTopic(const char* topic, size_t length)
{
    const size_t rootLength = sizeof(CORVEX_DICTIONARY_ROOT) - 1;
    const size_t suffixLength = sizeof(CORVEX_DICTIONARY_SUFFIX) - 1;
    if (strncmp(topic, CORVEX_DICTIONARY_ROOT, rootLength) == 0)
    {
        return 0;
    }
    return length >= suffixLength &&
           strcmp(topic + length - suffixLength, CORVEX_DICTIONARY_SUFFIX) == 0;
}

mama_status corvexTopic_build(const char* root, const char* source, const char* symbol,
                              char** topic, int allowWildcards, CorvexTransportBridge* transport)
{
    if (topic == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    char buffer[CORVEX_TOPIC_BUFFER_SIZE];
    size_t length = 0;
    size_t lastPartSize = 0;

    if (root != NULL && root[0] != '\0')
    {
        lastPartSize = corvexTopic_encodeLevel(root, buffer, TOPIC_CAPACITY, 1);
        length += lastPartSize;
    }
    if (source != NULL && source[0] != '\0')
    {
        if (lastPartSize > 0 && length < TOPIC_CAPACITY)
        {
            buffer[length++] = '/';
        }
        if (transport == NULL)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        lastPartSize = corvexTopic_encodeLevel(source, buffer + length, TOPIC_CAPACITY - length,
                                               !isInboxTopic(source, transport));
        length += lastPartSize;
    }
    if (symbol != NULL && symbol[0] != '\0')
    {
        if (lastPartSize > 0 && length < TOPIC_CAPACITY)
        {
            buffer[length++] = '/';
        }
        length += corvexTopic_encodeLevel(symbol, buffer + length, TOPIC_CAPACITY - length, 1);
    }
    buffer[length] = '\0';

    if (!allowWildcards && corvexTopic_hasWildcard(buffer))
    {
        return MAMA_STATUS_INVALID_ARG;
    }

    const char* prefix = isDictionaryTopic(buffer, length) ? CORVEX_DICTIONARY_PREFIX : "";
    size_t prefixLength = strlen(prefix);
    char* result = (char*)malloc(prefixLength + length + 1);
    if (result == NULL)
    {
        return MAMA_STATUS_NOMEM;
    }
    memcpy(result, prefix, prefixLength);
    memcpy(result + prefixLength, buffer, length + 1);
    *topic = result;
    return MAMA_STATUS_OK;
}

size_t corvexTopic_decode(const char* topic, char* output, size_t size)
{
    if (size == 0 || output == NULL)
    {
        return 0;
    }
    size_t written = 0;
    for (const char* in = topic; NULL != in && *in != '\0' && written < size - 1; ++in)
    {
        char c = *in;
        if (c == '\\')
        {
            ++in;
            if (*in == '\0')
            {
                break;
            }
            c = *in;
        }
        else if (c == '^')
        {
            c = '/';
        }
        else if (c == '/')
        {
            c = '.';
        }
        output[written++] = c;
    }
    output[written] = '\0';
    return written + 1;
}

void corvexTopic_wildcardSecondLevel(char* text)
{
    if (text == NULL)
    {
        return;
    }
    char* first = strchr(text, '/');
    if (first == NULL)
    {
        return;
    }
    char* second = strchr(first + 1, '/');
    /* An empty second level would have to grow the text; such a prefix is
     * left as it is rather than written past its end. */
    if (second == NULL || second == first + 1)
    {
        return;
    }
    first[1] = '*';
    memmove(first + 2, second, strlen(second) + 1);
}
