/* Topics as NATS subjects: each '/'-separated level becomes one '.'-separated
 * token. Bytes a token cannot hold ('.', '*', '>', whitespace and control
 * bytes) and the escape byte '%' itself become '%' and two hex digits; an
 * empty level becomes the token "%". */
#ifndef CORVEXCLIENT_NATS_SUBJECT_H
#define CORVEXCLIENT_NATS_SUBJECT_H

#include <cstddef>
#include <cstdint>
#include <string>

/* The subject a message on the topic is published on. */
std::string corvexNatsSubject_fromTopic(const char* topic, size_t length);

/* The subject a subscription to the topic pattern listens on: a level that
 * is exactly "*" and a last level ">" stay wildcards. A level ending in '*'
 * after a prefix becomes "*" too, and *needsFilter tells that received
 * topics must then be matched against the pattern. */
std::string corvexNatsSubject_fromPattern(const char* pattern, size_t length, bool* needsFilter);

/* A message's user properties travel as the value of one NATS header: the
 * entries in the map's order, separated by ',', each "<key>=s<text>" or
 * "<key>=i<int32 in decimal>". In key and text, '%', '=', ':', ',',
 * blanks, control bytes and bytes beyond ASCII become '%' and two hex
 * digits, so nothing the server trims, splits or drops is left, and an
 * empty text is still "s". One value, not one per entry: each header value
 * costs the NATS client allocations on both sides. */
#define CORVEX_NATS_PROPERTY_HEADER "Corvex-Properties"

std::string corvexNatsProperty_encode(const char* key, bool isString, const char* text,
                                      int32_t number);

/* False for a value that is no encoded property. */
bool corvexNatsProperty_decode(const char* value, std::string* key, bool* isString,
                               std::string* text, int32_t* number);

/* The topic of a received subject; false unless the subject is exactly
 * the one corvexNatsSubject_fromTopic gives for that topic (a bad or
 * needless escape, a lowercase one, a byte left unescaped, a wildcard
 * token) or the topic would hold a NUL. */
bool corvexNatsSubject_toTopic(const char* subject, size_t length, std::string* topic);

#endif
