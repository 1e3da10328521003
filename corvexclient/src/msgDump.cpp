/* Readable dump of a message, for logs. */
#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "clientError.h"
#include "clientLog.h"
#include "message.h"
#include "testControl.h"

namespace
{
constexpr uint32_t kBriefContentBytes = 64;

/* Appends to a fixed buffer; once full, further text is dropped. */
struct DumpWriter
{
    char* mBuffer;
    size_t mSize;
    size_t mUsed;

    void add(const char* format, ...) __attribute__((format(printf, 2, 3)))
    {
        if (mUsed + 1 >= mSize)
            return;
        va_list args;
        va_start(args, format);
        const int written = vsnprintf(mBuffer + mUsed, mSize - mUsed, format, args);
        va_end(args);
        if (written > 0)
            mUsed = std::min(mSize - 1, mUsed + static_cast<size_t>(written));
    }
};

/* A text of the message (from outside, it may be) as a log line may show it. */
std::string shown(const char* text)
{
    return text ? corvexLog_escape(text, std::strlen(text)) : std::string();
}

void dumpMapEntry(void* closure, const char* key, bool isString, const char* text, int32_t number)
{
    DumpWriter* writer = static_cast<DumpWriter*>(closure);
    if (isString)
        writer->add("    Key '%s' (string): '%s'\n", shown(key).c_str(), shown(text).c_str());
    else
        writer->add("    Key '%s' (int32): %d\n", shown(key).c_str(), number);
}

void dumpContent(DumpWriter& writer, const unsigned char* bytes, uint32_t length, uint32_t shown)
{
    for (uint32_t row = 0; row < shown; row += 16)
    {
        writer.add("  %08" PRIx32 ":", row);
        char ascii[17] = {};
        for (uint32_t i = 0; i < 16; ++i)
        {
            if (row + i < shown)
            {
                const unsigned char c = bytes[row + i];
                writer.add(" %02x", c);
                ascii[i] = std::isprint(c) ? static_cast<char>(c) : '.';
            }
            else
            {
                writer.add("   ");
            }
        }
        writer.add("  %s\n", ascii);
    }
    if (shown < length)
        writer.add("  ... %" PRIu32 " more bytes\n", length - shown);
}
} // namespace

extern "C" corvexClient_returnCode_t corvexClient_msg_dumpExt(corvexClient_msg_t msg, char* buffer,
                                                              size_t bufferSize, uint32_t flags)
{
    CORVEX_TEST_HOOK("corvexClient_msg_dumpExt", "msg=%p size=%zu flags=%u",
                     static_cast<void*>(msg), bufferSize, flags);
    if (!msg || !buffer)
        return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
    if (bufferSize == 0)
        return corvexError_fail(CORVEXCLIENT_SUBCODE_BUFFER_TOO_SMALL);
    if (!corvexMsg_isValid(msg))
        return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_STATE);
    if (flags > CORVEXCLIENT_MSGDUMP_FULL)
        return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_ARGUMENT);

    buffer[0] = '\0';
    DumpWriter writer{buffer, bufferSize, 0};
    writer.add("Destination:            Topic '%s'\n", shown(msg->mTopic).c_str());
    if (msg->mHasReplyTo)
        writer.add("ReplyTo:                Topic '%s'\n", shown(msg->mReplyTo).c_str());
    writer.add("DeliveryMode:           %s\n",
               msg->mDeliveryMode == CORVEXCLIENT_DELIVERY_MODE_PERSISTENT ? "PERSISTENT"
                                                                           : "DIRECT");
    if (msg->mDiscard)
        writer.add("Discard Indication:     true\n");
    if (msg->mCacheStatus != CORVEXCLIENT_MSG_LIVE)
        writer.add("Cache Message:          %s, CacheRequestId %" PRIu64 "\n",
                   msg->mCacheStatus == CORVEXCLIENT_MSG_CACHED_SUSPECT ? "suspect" : "yes",
                   msg->mCacheRequestId);
    if (const corvexClientContainer* map = corvexMsg_map(msg))
    {
        writer.add("User Property Map:      %u entries\n", map->mCount);
        corvexContainer_forEach(map, dumpMapEntry, &writer);
    }
    if (msg->mContent)
    {
        writer.add("Binary Attachment:      len=%" PRIu32 "\n", msg->mContentLength);
        const uint32_t shown = flags == CORVEXCLIENT_MSGDUMP_FULL
                                   ? msg->mContentLength
                                   : std::min(msg->mContentLength, kBriefContentBytes);
        dumpContent(writer, static_cast<const unsigned char*>(msg->mContent), msg->mContentLength,
                    shown);
    }
    return CORVEXCLIENT_OK;
}
