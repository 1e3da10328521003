#include "router/natsFrame.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "router/natsSubject.h"

namespace
{
constexpr char kMagic[3] = {'\0', 'C', 'X'};

struct DecodedProperty
{
    std::string mKey;
    bool mIsString;
    std::string mText;
    int32_t mNumber;
};

/* The entries of a property text; false when one is no property. */
bool splitProperties(const char* text, size_t length, std::vector<DecodedProperty>* properties)
{
    if (length == 0 || std::memchr(text, '\0', length))
        return false;
    const char* end = text + length;
    for (const char* entry = text;;)
    {
        const char* comma = static_cast<const char*>(std::memchr(entry, ',', end - entry));
        const std::string one(entry, comma ? comma : end);
        DecodedProperty property;
        if (!corvexNatsProperty_decode(one.c_str(), &property.mKey, &property.mIsString,
                                       &property.mText, &property.mNumber))
            return false;
        properties->push_back(std::move(property));
        if (!comma)
            return true;
        entry = comma + 1;
    }
}
} // namespace

void corvexNatsProperties_add(void* closure, const char* key, bool isString, const char* text,
                              int32_t number)
{
    std::string& value = *static_cast<std::string*>(closure);
    if (!value.empty())
        value += ',';
    value += corvexNatsProperty_encode(key, isString, text, number);
}

bool corvexNatsFrame_needed(const void* content, size_t length)
{
    return content && length >= sizeof(kMagic) && std::memcmp(content, kMagic, sizeof(kMagic)) == 0;
}

void corvexNatsFrame_appendHeader(std::string& out, uint32_t propertiesLength)
{
    const char header[kCorvexNatsFrameHeaderSize] = {
        kMagic[0],
        kMagic[1],
        kMagic[2],
        static_cast<char>(kCorvexNatsFrameVersion),
        static_cast<char>(propertiesLength >> 24),
        static_cast<char>((propertiesLength >> 16) & 0xff),
        static_cast<char>((propertiesLength >> 8) & 0xff),
        static_cast<char>(propertiesLength & 0xff)};
    out.append(header, sizeof(header));
}

CorvexNatsFrameKind corvexNatsFrame_read(const char* payload, size_t length, CorvexNatsFrame* frame)
{
    if (!corvexNatsFrame_needed(payload, length))
    {
        frame->mProperties = nullptr;
        frame->mPropertiesLength = 0;
        frame->mContent = payload;
        frame->mContentLength = static_cast<uint32_t>(length);
        return CORVEX_NATS_FRAME_NONE;
    }
    if (length < kCorvexNatsFrameHeaderSize ||
        static_cast<uint8_t>(payload[3]) != kCorvexNatsFrameVersion)
        return CORVEX_NATS_FRAME_MALFORMED;
    uint32_t properties = 0;
    for (size_t i = 4; i < kCorvexNatsFrameHeaderSize; ++i)
        properties = properties << 8 | static_cast<uint8_t>(payload[i]);
    if (properties > length - kCorvexNatsFrameHeaderSize)
        return CORVEX_NATS_FRAME_MALFORMED;
    frame->mProperties = properties ? payload + kCorvexNatsFrameHeaderSize : nullptr;
    frame->mPropertiesLength = properties;
    frame->mContent = payload + kCorvexNatsFrameHeaderSize + properties;
    frame->mContentLength = static_cast<uint32_t>(length - kCorvexNatsFrameHeaderSize - properties);
    return CORVEX_NATS_FRAME_OK;
}

bool corvexNatsProperties_valid(const char* text, size_t length)
{
    std::vector<DecodedProperty> properties;
    return splitProperties(text, length, &properties);
}

corvexClientContainer* corvexNatsProperties_decode(const char* text, uint32_t length,
                                                   char** storage, uint32_t* capacity)
{
    std::vector<DecodedProperty> properties;
    if (!splitProperties(text, length, &properties))
        return nullptr;
    size_t size = sizeof(corvexClientContainer) + alignof(corvexClientContainer);
    for (const DecodedProperty& property : properties)
        size += 16 + property.mKey.size() + property.mText.size();
    if (size > UINT32_MAX)
        return nullptr;
    if (size > *capacity)
    {
        char* grown = static_cast<char*>(std::malloc(size));
        if (!grown)
            return nullptr;
        std::free(*storage);
        *storage = grown;
        *capacity = static_cast<uint32_t>(size);
    }
    corvexClient_container_t map = nullptr;
    if (corvexClient_container_createMap(&map, *storage, *capacity) != CORVEXCLIENT_OK)
        return nullptr;
    for (const DecodedProperty& property : properties)
    {
        const corvexClient_returnCode_t code =
            property.mIsString
                ? corvexClient_container_addString(map, property.mText.c_str(),
                                                   property.mKey.c_str())
                : corvexClient_container_addInt32(map, property.mNumber, property.mKey.c_str());
        if (code != CORVEXCLIENT_OK)
            return nullptr;
    }
    map->mReadOnly = 1;
    return map;
}
