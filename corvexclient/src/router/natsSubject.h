/* Topics as NATS subjects: each '/'-separated level becomes one '.'-separated
 * token. Bytes a token cannot hold ('.', '*', '>', whitespace and control
 * bytes) and the escape byte '%' itself become '%' and two hex digits; an
 * empty level becomes the token "%". */
#ifndef CORVEXCLIENT_NATS_SUBJECT_H
#define CORVEXCLIENT_NATS_SUBJECT_H

#include <cstddef>
#include <string>

/* The subject a message on the topic is published on. */
std::string corvexNatsSubject_fromTopic(const char* topic, size_t length);

/* The subject a subscription to the topic pattern listens on: a level that
 * is exactly "*" and a last level ">" stay wildcards. A level ending in '*'
 * after a prefix becomes "*" too, and *needsFilter tells that received
 * topics must then be matched against the pattern. */
std::string corvexNatsSubject_fromPattern(const char* pattern, size_t length, bool* needsFilter);

/* The topic of a received subject; false when the subject is no escaped
 * topic (a bad escape, a wildcard token). */
bool corvexNatsSubject_toTopic(const char* subject, size_t length, std::string* topic);

#endif
