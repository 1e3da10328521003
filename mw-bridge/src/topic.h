/* The mapping between MAMA names (root, source, symbol) and vendor
 * topics, both ways. */
#ifndef CORVEX_BRIDGE_TOPIC_H
#define CORVEX_BRIDGE_TOPIC_H

#include <stddef.h>

#include <mama/mama.h>

struct CorvexTransportBridge;

/* Vendor topics are built in buffers of this size: at most 259 bytes of
 * topic plus the terminator, before the data-dictionary prefix is added. */
#define CORVEX_TOPIC_BUFFER_SIZE 260

/* Prefix put in front of data-dictionary topics, and the exempt form. */
#define CORVEX_DICTIONARY_PREFIX "#MDDD/"
#define CORVEX_DICTIONARY_ROOT "_MDDD/"
#define CORVEX_DICTIONARY_SUFFIX "/DATA_DICT"

/* Builds the vendor topic for root/source/symbol into a new heap string
 * (caller frees). MAMA_STATUS_OK; MAMA_STATUS_NOMEM; MAMA_STATUS_INVALID_ARG
 * for a wildcard where none may be; MAMA_STATUS_NULL_ARG without a result
 * pointer, or for a source given without a transport bridge. */
mama_status corvexTopic_build(const char* root, const char* source, const char* symbol,
                              char** topic, int allowWildcards,
                              struct CorvexTransportBridge* transport);

/* Encodes one name part into output, never more than capacity bytes and never
 * splitting an escape pair; writes no terminator. Returns bytes written. */
size_t corvexTopic_encodeLevel(const char* input, char* output, size_t capacity, int translate);

/* True when topic contains '*' or ends with '>'; false for null or empty. */
int corvexTopic_hasWildcard(const char* topic);

/* Turns a vendor topic back into a MAMA subject. Returns bytes written
 * including the terminator, 0 when size is 0. */
size_t corvexTopic_decode(const char* topic, char* output, size_t size);

/* Replaces the level between the first and second '/' by '*', in place. */
void corvexTopic_wildcardSecondLevel(char* text);

#endif /* CORVEX_BRIDGE_TOPIC_H */
