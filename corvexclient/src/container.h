/* Map containers: a header and packed entries in one byte buffer, so a map
 * can be copied into a message by a single memcpy and read in place. */
#ifndef CORVEXCLIENT_CONTAINER_H
#define CORVEXCLIENT_CONTAINER_H

#include <cstdint>

#include "corvexClient.h"

struct corvexClientContainer
{
    uint32_t mMagic;
    uint32_t mUsed;     /* bytes of header and entries */
    uint32_t mCapacity; /* bytes of the buffer */
    uint16_t mCount;
    uint8_t mReadOnly; /* a copy inside a received message */
    uint8_t mClosed;
};

/* The bytes to copy when the map travels with a message. */
uint32_t corvexContainer_size(const corvexClientContainer* map);

/* Turns bytes copied from a sent map into a read-only map; the bytes must be
 * 8-byte aligned. */
corvexClientContainer* corvexContainer_adoptCopy(void* bytes, uint32_t size);

bool corvexContainer_isValid(const corvexClientContainer* map);

/* Calls visit for each entry in order (for dumps). */
void corvexContainer_forEach(const corvexClientContainer* map,
                             void (*visit)(void* closure, const char* key, bool isString,
                                           const char* text, int32_t number),
                             void* closure);

#endif
