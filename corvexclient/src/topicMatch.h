/* Topic syntax and wildcard matching ('/'-separated levels; "*" for one
 * level or the rest of a level, ">" as the last level for one or more). */
#ifndef CORVEXCLIENT_TOPIC_MATCH_H
#define CORVEXCLIENT_TOPIC_MATCH_H

#include <cstddef>

#include "corvexClient.h"

/* CORVEXCLIENT_SUBCODE_OK, or why the text cannot be a topic. */
corvexClient_subCode_t corvexTopic_validate(const char* topic, size_t* length);

/* True when the subscription topic contains a wildcard level. */
bool corvexTopic_isWildcard(const char* topic, size_t length);

/* True when the message topic matches the subscription topic. */
bool corvexTopic_matches(const char* pattern, size_t patternLength, const char* topic,
                         size_t topicLength);

#endif
