#include "message.h"

#include <cstdlib>
#include <cstring>
#include <thread>

#include "clientError.h"
#include "testControl.h"

namespace
{
constexpr uint32_t kAlign = 8;

uint32_t alignUp(uint32_t size)
{
    return (size + kAlign - 1) & ~(kAlign - 1);
}

bool reserveStorage(corvexClientMsg* msg, uint32_t size)
{
    if (size <= msg->mStorageCapacity)
        return true;
    uint32_t capacity = msg->mStorageCapacity ? msg->mStorageCapacity : 256;
    while (capacity < size)
        capacity = capacity > UINT32_MAX / 2 ? size : capacity * 2;
    /* malloc alignment covers the map header placed first. */
    char* storage = static_cast<char*>(std::malloc(capacity));
    if (!storage)
        return false;
    std::free(msg->mStorage);
    msg->mStorage = storage;
    msg->mStorageCapacity = capacity;
    return true;
}

/* Checks the handle every message call receives. */
corvexClient_returnCode_t checkMsg(corvexClient_msg_t msg)
{
    if (!msg)
        return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
    if (!corvexMsg_isValid(msg))
        return corvexError_set(CORVEXCLIENT_FAIL, CORVEXCLIENT_SUBCODE_BAD_STATE, 0,
                               "message %p was already freed", static_cast<void*>(msg));
    return CORVEXCLIENT_OK;
}

corvexClient_returnCode_t checkDestination(const corvexClient_destination_t* dest, size_t destSize)
{
    if (!dest)
        return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
    if (destSize < sizeof(corvexClient_destination_t))
        return corvexError_fail(CORVEXCLIENT_SUBCODE_BUFFER_TOO_SMALL);
    return CORVEXCLIENT_OK;
}

corvexClient_returnCode_t setTopic(corvexClient_msg_t msg, const char* topic)
{
    const size_t length = topic ? std::strlen(topic) : 0;
    if (length > UINT32_MAX)
        return corvexError_fail(CORVEXCLIENT_SUBCODE_TOPIC_TOO_LONG);
    msg->mTopic = topic;
    msg->mTopicLength = static_cast<uint32_t>(length);
    return CORVEXCLIENT_OK;
}
} // namespace

namespace
{
/* The property text a message has not decoded: its own, or the one the
 * router's message holds, checked; false when there is none. */
bool undecodedText(const corvexClientMsg* msg, const char** text, uint32_t* length)
{
    *text = msg->mEncodedMap;
    *length = msg->mEncodedMapLength;
    if (msg->mFindMap && !msg->mFindMap(msg->mMapOrigin, text, length))
        *text = nullptr;
    return *text != nullptr;
}

/* Fills a message's own storage with a copy of source, its content and
 * property text too unless those are borrowed; on failure the message is
 * left as it was. A copy that holds its own content takes a property text
 * left in the router's message from there: the caller is then source's
 * only holder. */
bool fillCopy(corvexClientMsg* copy, const corvexClientMsg* source, bool copyContent = true)
{
    /* A property text not decoded yet travels as it came. */
    const bool pending = (source->mEncodedMap || source->mFindMap) &&
                         source->mMapState.load(std::memory_order_acquire) != 2;
    const bool left = pending && source->mFindMap && !copyContent;
    const char* text = nullptr;
    uint32_t textLength = 0;
    const bool encoded = pending && !left && undecodedText(source, &text, &textLength);
    const uint32_t mapSize = !pending && source->mMap ? corvexContainer_size(source->mMap) : 0;
    const uint32_t mapBytes = alignUp(mapSize);
    const uint32_t encodedSize = encoded && copyContent ? textLength : 0;
    const uint32_t replySize = source->mHasReplyTo ? source->mReplyToLength + 1 : 0;
    const uint32_t contentSize = copyContent ? source->mContentLength : 0;
    const uint64_t total =
        uint64_t{mapBytes} + encodedSize + contentSize + source->mTopicLength + 1 + replySize;
    if (total > UINT32_MAX || !reserveStorage(copy, static_cast<uint32_t>(total)))
        return false;
    char* at = copy->mStorage;
    copy->mMap = nullptr;
    copy->mEncodedMap = nullptr;
    copy->mEncodedMapLength = 0;
    copy->mDecodeMap = nullptr;
    copy->mFindMap = nullptr;
    copy->mMapOrigin = nullptr;
    copy->mMapState.store(0, std::memory_order_relaxed);
    copy->mMapLost = 0;
    if (mapSize)
    {
        std::memcpy(at, source->mMap, mapSize);
        copy->mMap = corvexContainer_adoptCopy(at, mapSize);
        at += mapBytes;
    }
    if (encoded)
    {
        copy->mEncodedMap = text;
        if (copyContent)
        {
            std::memcpy(at, text, encodedSize);
            copy->mEncodedMap = at;
            at += encodedSize;
        }
        copy->mEncodedMapLength = textLength;
        copy->mDecodeMap = source->mDecodeMap;
    }
    else if (left)
    {
        copy->mFindMap = source->mFindMap;
        copy->mMapOrigin = source->mMapOrigin;
        copy->mDecodeMap = source->mDecodeMap;
    }
    copy->mContent = nullptr;
    copy->mContentLength = 0;
    if (!copyContent)
    {
        copy->mContent = source->mContent;
        copy->mContentLength = source->mContentLength;
    }
    else if (source->mContent)
    {
        std::memcpy(at, source->mContent, source->mContentLength);
        copy->mContent = at;
        copy->mContentLength = source->mContentLength;
        at += source->mContentLength;
    }
    std::memcpy(at, source->mTopic, source->mTopicLength);
    at[source->mTopicLength] = '\0';
    copy->mTopic = at;
    copy->mTopicLength = source->mTopicLength;
    at += source->mTopicLength + 1;
    copy->mReplyTo = nullptr;
    copy->mReplyToLength = 0;
    copy->mHasReplyTo = 0;
    if (source->mHasReplyTo)
    {
        std::memcpy(at, source->mReplyTo, source->mReplyToLength);
        at[source->mReplyToLength] = '\0';
        copy->mReplyTo = at;
        copy->mReplyToLength = source->mReplyToLength;
        copy->mHasReplyTo = 1;
    }
    copy->mDeliveryMode = source->mDeliveryMode;
    copy->mDiscard = 0;
    copy->mCacheStatus = CORVEXCLIENT_MSG_LIVE;
    copy->mCacheRequestId = 0;
    return true;
}
} // namespace

corvexClientContainer* corvexMsg_map(corvexClientMsg* msg)
{
    if (!msg->mEncodedMap && !msg->mFindMap)
        return msg->mMap;
    uint8_t state = msg->mMapState.load(std::memory_order_acquire);
    if (state == 0 && msg->mMapState.compare_exchange_strong(state, 1, std::memory_order_acquire))
    {
        const char* text = nullptr;
        uint32_t length = 0;
        const bool found = undecodedText(msg, &text, &length);
        msg->mMap =
            found ? msg->mDecodeMap(text, length, &msg->mMapStorage, &msg->mMapStorageCapacity)
                  : nullptr;
        msg->mMapLost = found && !msg->mMap;
        msg->mMapState.store(2, std::memory_order_release);
        return msg->mMap;
    }
    /* Another holder of the message is decoding it. */
    while (msg->mMapState.load(std::memory_order_acquire) != 2)
        std::this_thread::yield();
    return msg->mMap;
}

corvexClientMsg* corvexMsg_copyForDelivery(const corvexClientMsg* source)
{
    corvexClientMsg* copy = corvexMsg_allocate();
    if (!copy)
        return nullptr;
    if (!fillCopy(copy, source))
    {
        corvexMsg_release(copy);
        return nullptr;
    }
    return copy;
}

corvexClientMsg* corvexMsg_borrowForDelivery(const corvexClientMsg* source,
                                             void (*release)(void* borrowed), void* borrowed)
{
    corvexClientMsg* msg = corvexMsg_allocate();
    if (!msg)
        return nullptr;
    if (!fillCopy(msg, source, false))
    {
        corvexMsg_release(msg);
        return nullptr;
    }
    msg->mReleaseBorrowed = release;
    msg->mBorrowed = borrowed;
    return msg;
}

bool corvexMsg_refill(corvexClientMsg* target, const corvexClientMsg* source)
{
    return fillCopy(target, source);
}

extern "C"
{

    corvexClient_returnCode_t corvexClient_msg_alloc(corvexClient_msg_t* msg)
    {
        CORVEX_TEST_HOOK("corvexClient_msg_alloc", "%s", "");
        if (!msg)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
        *msg = corvexMsg_allocate();
        return *msg ? CORVEXCLIENT_OK : corvexError_fail(CORVEXCLIENT_SUBCODE_NO_MEMORY);
    }

    corvexClient_returnCode_t corvexClient_msg_free(corvexClient_msg_t* msg)
    {
        CORVEX_TEST_HOOK("corvexClient_msg_free", "msg=%p",
                         msg ? static_cast<void*>(*msg) : nullptr);
        if (!msg)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
        corvexClient_returnCode_t code = checkMsg(*msg);
        if (code != CORVEXCLIENT_OK)
            return code;
        corvexMsg_release(*msg);
        *msg = nullptr;
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t corvexClient_msg_setTopicPtr(corvexClient_msg_t msg,
                                                           const char* topic)
    {
        CORVEX_TEST_HOOK("corvexClient_msg_setTopicPtr", "topic=%s", corvexText_orNull(topic));
        corvexClient_returnCode_t code = checkMsg(msg);
        if (code != CORVEXCLIENT_OK)
            return code;
        if (!topic)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
        return setTopic(msg, topic);
    }

    corvexClient_returnCode_t corvexClient_msg_getDestination(corvexClient_msg_t msg,
                                                              corvexClient_destination_t* dest,
                                                              size_t destSize)
    {
        CORVEX_TEST_HOOK("corvexClient_msg_getDestination", "msg=%p", static_cast<void*>(msg));
        corvexClient_returnCode_t code = checkMsg(msg);
        if (code == CORVEXCLIENT_OK)
            code = checkDestination(dest, destSize);
        if (code != CORVEXCLIENT_OK)
            return code;
        if (!msg->mTopic)
            return CORVEXCLIENT_NOT_FOUND;
        dest->mDestType = CORVEXCLIENT_DEST_TOPIC;
        dest->mTopic = msg->mTopic;
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t
    corvexClient_msg_setDestination(corvexClient_msg_t msg, const corvexClient_destination_t* dest,
                                    size_t destSize)
    {
        CORVEX_TEST_HOOK("corvexClient_msg_setDestination", "topic=%s",
                         dest ? corvexText_orNull(dest->mTopic) : "(null)");
        corvexClient_returnCode_t code = checkMsg(msg);
        if (code == CORVEXCLIENT_OK)
            code = checkDestination(dest, destSize);
        if (code != CORVEXCLIENT_OK)
            return code;
        if (dest->mDestType != CORVEXCLIENT_DEST_TOPIC)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_ARGUMENT);
        if (!dest->mTopic)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
        return setTopic(msg, dest->mTopic);
    }

    corvexClient_returnCode_t corvexClient_msg_setBinaryAttachmentPtr(corvexClient_msg_t msg,
                                                                      const void* buffer,
                                                                      uint32_t size)
    {
        CORVEX_TEST_HOOK("corvexClient_msg_setBinaryAttachmentPtr", "buffer=%p size=%u", buffer,
                         size);
        corvexClient_returnCode_t code = checkMsg(msg);
        if (code != CORVEXCLIENT_OK)
            return code;
        if (!buffer && size > 0)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
        msg->mContent = buffer;
        msg->mContentLength = buffer ? size : 0;
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t corvexClient_msg_getBinaryAttachmentPtr(corvexClient_msg_t msg,
                                                                      void** buffer, uint32_t* size)
    {
        CORVEX_TEST_HOOK("corvexClient_msg_getBinaryAttachmentPtr", "msg=%p",
                         static_cast<void*>(msg));
        corvexClient_returnCode_t code = checkMsg(msg);
        if (code != CORVEXCLIENT_OK)
            return code;
        if (!buffer || !size)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
        if (!msg->mContent)
            return CORVEXCLIENT_NOT_FOUND;
        *buffer = const_cast<void*>(msg->mContent);
        *size = msg->mContentLength;
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t corvexClient_msg_setReplyTo(corvexClient_msg_t msg,
                                                          const corvexClient_destination_t* dest,
                                                          size_t destSize)
    {
        CORVEX_TEST_HOOK("corvexClient_msg_setReplyTo", "topic=%s",
                         dest ? corvexText_orNull(dest->mTopic) : "(null)");
        corvexClient_returnCode_t code = checkMsg(msg);
        if (code == CORVEXCLIENT_OK)
            code = checkDestination(dest, destSize);
        if (code != CORVEXCLIENT_OK)
            return code;
        if (dest->mDestType != CORVEXCLIENT_DEST_TOPIC)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_ARGUMENT);
        if (!dest->mTopic)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
        const size_t length = std::strlen(dest->mTopic);
        if (length > CORVEXCLIENT_MAX_TOPIC_LEN)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_TOPIC_TOO_LONG);
        msg->mReplyTo = dest->mTopic;
        msg->mReplyToLength = static_cast<uint32_t>(length);
        msg->mHasReplyTo = 1;
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t corvexClient_msg_getReplyTo(corvexClient_msg_t msg,
                                                          corvexClient_destination_t* dest,
                                                          size_t destSize)
    {
        CORVEX_TEST_HOOK("corvexClient_msg_getReplyTo", "msg=%p", static_cast<void*>(msg));
        corvexClient_returnCode_t code = checkMsg(msg);
        if (code == CORVEXCLIENT_OK)
            code = checkDestination(dest, destSize);
        if (code != CORVEXCLIENT_OK)
            return code;
        if (!msg->mHasReplyTo)
            return CORVEXCLIENT_NOT_FOUND;
        dest->mDestType = CORVEXCLIENT_DEST_TOPIC;
        dest->mTopic = msg->mReplyTo;
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t corvexClient_msg_deleteReplyTo(corvexClient_msg_t msg)
    {
        CORVEX_TEST_HOOK("corvexClient_msg_deleteReplyTo", "msg=%p", static_cast<void*>(msg));
        corvexClient_returnCode_t code = checkMsg(msg);
        if (code != CORVEXCLIENT_OK)
            return code;
        msg->mReplyTo = nullptr;
        msg->mReplyToLength = 0;
        msg->mHasReplyTo = 0;
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t corvexClient_msg_setDeliveryMode(corvexClient_msg_t msg, int32_t mode)
    {
        CORVEX_TEST_HOOK("corvexClient_msg_setDeliveryMode", "mode=%d", mode);
        corvexClient_returnCode_t code = checkMsg(msg);
        if (code != CORVEXCLIENT_OK)
            return code;
        if (mode != CORVEXCLIENT_DELIVERY_MODE_DIRECT &&
            mode != CORVEXCLIENT_DELIVERY_MODE_PERSISTENT)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_ARGUMENT);
        msg->mDeliveryMode = mode;
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t corvexClient_msg_getDeliveryMode(corvexClient_msg_t msg,
                                                               int32_t* mode)
    {
        corvexClient_returnCode_t code = checkMsg(msg);
        if (code != CORVEXCLIENT_OK)
            return code;
        if (!mode)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
        *mode = msg->mDeliveryMode;
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t corvexClient_msg_setUserPropertyMap(corvexClient_msg_t msg,
                                                                  corvexClient_container_t map)
    {
        CORVEX_TEST_HOOK("corvexClient_msg_setUserPropertyMap", "map=%p", static_cast<void*>(map));
        corvexClient_returnCode_t code = checkMsg(msg);
        if (code != CORVEXCLIENT_OK)
            return code;
        if (map && !corvexContainer_isValid(map))
            return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_ARGUMENT);
        msg->mMap = map;
        msg->mEncodedMap = nullptr;
        msg->mEncodedMapLength = 0;
        msg->mFindMap = nullptr;
        msg->mMapOrigin = nullptr;
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t corvexClient_msg_getUserPropertyMap(corvexClient_msg_t msg,
                                                                  corvexClient_container_t* map)
    {
        CORVEX_TEST_HOOK("corvexClient_msg_getUserPropertyMap", "msg=%p", static_cast<void*>(msg));
        corvexClient_returnCode_t code = checkMsg(msg);
        if (code != CORVEXCLIENT_OK)
            return code;
        if (!map)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
        *map = corvexMsg_map(msg);
        if (!*map && msg->mMapLost)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NO_MEMORY);
        if (!*map)
            return CORVEXCLIENT_NOT_FOUND;
        return CORVEXCLIENT_OK;
    }

    int corvexClient_msg_isDiscardIndication(corvexClient_msg_t msg)
    {
        return msg && corvexMsg_isValid(msg) && msg->mDiscard;
    }

    int corvexClient_msg_isCacheMsg(corvexClient_msg_t msg)
    {
        return (msg && corvexMsg_isValid(msg)) ? msg->mCacheStatus : CORVEXCLIENT_MSG_LIVE;
    }

    corvexClient_returnCode_t corvexClient_msg_getCacheRequestId(corvexClient_msg_t msg,
                                                                 corvexClient_cacheRequestId_t* id)
    {
        CORVEX_TEST_HOOK("corvexClient_msg_getCacheRequestId", "msg=%p", static_cast<void*>(msg));
        corvexClient_returnCode_t code = checkMsg(msg);
        if (code != CORVEXCLIENT_OK)
            return code;
        if (!id)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
        *id = msg->mCacheRequestId;
        return CORVEXCLIENT_OK;
    }
}
