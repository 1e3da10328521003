#include "container.h"

#include <cstring>

#include "clientError.h"
#include "testControl.h"

namespace
{
constexpr uint32_t kMagic = 0x43564d50; /* "CVMP" */
constexpr uint8_t kTypeString = 1;
constexpr uint8_t kTypeInt32 = 2;
constexpr size_t kMaxKeyBytes = 256; /* 255 characters and the terminator */

struct EntryHeader
{
    uint8_t mType;
    uint8_t mUnused;
    uint16_t mKeySize;   /* with the terminator */
    uint32_t mValueSize; /* strings with their terminator */
};

const char* entryKey(const EntryHeader* entry)
{
    return reinterpret_cast<const char*>(entry + 1);
}

const EntryHeader* firstEntry(const corvexClientContainer* map)
{
    return reinterpret_cast<const EntryHeader*>(map + 1);
}

/* Entries are packed without padding, so headers are read through memcpy. */
EntryHeader readHeader(const EntryHeader* entry)
{
    EntryHeader header;
    std::memcpy(&header, entry, sizeof(header));
    return header;
}

corvexClient_returnCode_t addEntry(corvexClient_container_t map, uint8_t type, const char* key,
                                   const void* value, uint32_t valueSize)
{
    if (!map || !key)
        return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
    if (!corvexContainer_isValid(map))
        return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_ARGUMENT);
    if (map->mReadOnly || map->mClosed)
        return corvexError_fail(CORVEXCLIENT_SUBCODE_CONTAINER_CLOSED);
    const size_t keySize = strnlen(key, kMaxKeyBytes) + 1;
    if (keySize > kMaxKeyBytes)
        return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_ARGUMENT);
    const size_t needed = sizeof(EntryHeader) + keySize + valueSize;
    if (needed > map->mCapacity - map->mUsed || map->mCount == UINT16_MAX)
        return corvexError_fail(CORVEXCLIENT_SUBCODE_CONTAINER_FULL);

    char* at = reinterpret_cast<char*>(map) + map->mUsed;
    EntryHeader header{type, 0, static_cast<uint16_t>(keySize), valueSize};
    std::memcpy(at, &header, sizeof(header));
    std::memcpy(at + sizeof(header), key, keySize);
    std::memcpy(at + sizeof(header) + keySize, value, valueSize);
    map->mUsed += static_cast<uint32_t>(needed);
    ++map->mCount;
    return CORVEXCLIENT_OK;
}

/* The first entry under key, with its header copied out. */
const char* findEntry(const corvexClientContainer* map, const char* key, EntryHeader* found)
{
    const EntryHeader* entry = firstEntry(map);
    for (uint16_t i = 0; i < map->mCount; ++i)
    {
        EntryHeader header = readHeader(entry);
        if (std::strcmp(entryKey(entry), key) == 0)
        {
            *found = header;
            return entryKey(entry) + header.mKeySize;
        }
        entry = reinterpret_cast<const EntryHeader*>(entryKey(entry) + header.mKeySize +
                                                     header.mValueSize);
    }
    return nullptr;
}

corvexClient_returnCode_t checkReadable(corvexClient_container_t map, const char* key,
                                        const void* out)
{
    if (!map || !key || !out)
        return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
    if (!corvexContainer_isValid(map))
        return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_ARGUMENT);
    return CORVEXCLIENT_OK;
}
} // namespace

uint32_t corvexContainer_size(const corvexClientContainer* map)
{
    return map->mUsed;
}

bool corvexContainer_isValid(const corvexClientContainer* map)
{
    return map->mMagic == kMagic;
}

corvexClientContainer* corvexContainer_adoptCopy(void* bytes, uint32_t size)
{
    corvexClientContainer* map = static_cast<corvexClientContainer*>(bytes);
    map->mCapacity = size;
    map->mReadOnly = 1;
    map->mClosed = 0;
    return map;
}

void corvexContainer_forEach(const corvexClientContainer* map,
                             void (*visit)(void* closure, const char* key, bool isString,
                                           const char* text, int32_t number),
                             void* closure)
{
    const EntryHeader* entry = firstEntry(map);
    for (uint16_t i = 0; i < map->mCount; ++i)
    {
        EntryHeader header = readHeader(entry);
        const char* value = entryKey(entry) + header.mKeySize;
        int32_t number = 0;
        if (header.mType == kTypeInt32)
            std::memcpy(&number, value, sizeof(number));
        visit(closure, entryKey(entry), header.mType == kTypeString, value, number);
        entry = reinterpret_cast<const EntryHeader*>(value + header.mValueSize);
    }
}

extern "C"
{

    corvexClient_returnCode_t corvexClient_container_createMap(corvexClient_container_t* map,
                                                               char* buffer, size_t size)
    {
        CORVEX_TEST_HOOK("corvexClient_container_createMap", "buffer=%p size=%zu",
                         static_cast<void*>(buffer), size);
        if (!map || !buffer)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
        /* The map starts at the first suitably aligned byte of the buffer. */
        const size_t skip = (alignof(corvexClientContainer) -
                             reinterpret_cast<uintptr_t>(buffer) % alignof(corvexClientContainer)) %
                            alignof(corvexClientContainer);
        if (size < CORVEXCLIENT_CONTAINER_MIN_SIZE || size > UINT32_MAX)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_ARGUMENT);
        corvexClientContainer* header = reinterpret_cast<corvexClientContainer*>(buffer + skip);
        *header = corvexClientContainer{
            kMagic, sizeof(corvexClientContainer), static_cast<uint32_t>(size - skip), 0, 0, 0};
        *map = header;
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t corvexClient_container_addString(corvexClient_container_t map,
                                                               const char* value, const char* key)
    {
        CORVEX_TEST_HOOK("corvexClient_container_addString", "key=%s value=%s",
                         corvexText_orNull(key), corvexText_orNull(value));
        if (!value)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
        const size_t length = std::strlen(value);
        if (length >= UINT32_MAX)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_ARGUMENT);
        return addEntry(map, kTypeString, key, value, static_cast<uint32_t>(length + 1));
    }

    corvexClient_returnCode_t corvexClient_container_addInt32(corvexClient_container_t map,
                                                              int32_t value, const char* key)
    {
        CORVEX_TEST_HOOK("corvexClient_container_addInt32", "key=%s value=%d",
                         corvexText_orNull(key), value);
        return addEntry(map, kTypeInt32, key, &value, sizeof(value));
    }

    corvexClient_returnCode_t corvexClient_container_getStringPtr(corvexClient_container_t map,
                                                                  const char* key,
                                                                  const char** value)
    {
        corvexClient_returnCode_t code = checkReadable(map, key, value);
        if (code != CORVEXCLIENT_OK)
            return code;
        EntryHeader header;
        const char* found = findEntry(map, key, &header);
        if (!found)
            return CORVEXCLIENT_NOT_FOUND;
        if (header.mType != kTypeString)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_TYPE_MISMATCH);
        *value = found;
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t corvexClient_container_getInt32(corvexClient_container_t map,
                                                              const char* key, int32_t* value)
    {
        corvexClient_returnCode_t code = checkReadable(map, key, value);
        if (code != CORVEXCLIENT_OK)
            return code;
        EntryHeader header;
        const char* found = findEntry(map, key, &header);
        if (!found)
            return CORVEXCLIENT_NOT_FOUND;
        if (header.mType != kTypeInt32)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_TYPE_MISMATCH);
        std::memcpy(value, found, sizeof(*value));
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t corvexClient_container_getSize(corvexClient_container_t map,
                                                             uint32_t* count)
    {
        if (!map || !count)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
        if (!corvexContainer_isValid(map))
            return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_ARGUMENT);
        *count = map->mCount;
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t corvexClient_container_closeMapStream(corvexClient_container_t* map)
    {
        CORVEX_TEST_HOOK("corvexClient_container_closeMapStream", "map=%p",
                         map ? static_cast<void*>(*map) : nullptr);
        if (!map || !*map)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
        if (!corvexContainer_isValid(*map))
            return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_ARGUMENT);
        if (!(*map)->mReadOnly)
            (*map)->mClosed = 1;
        *map = nullptr;
        return CORVEXCLIENT_OK;
    }
}
