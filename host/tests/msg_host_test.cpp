// Host messages: received buffers chosen by payload id, the middleware's part
// of a message, reply handles, detach and statuses.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bridge.h"
#include "mama/mama.h"
#include "mama/msg.h"
#include "mama/reservedfields.h"
#include "msgimpl.h"
#include "payloadbridge.h"
#include "queueimpl.h"

namespace
{

// A middleware whose message functions only record what the host asks.
struct Recorder
{
    std::vector<std::string> mCalls;
    int mNextId = 1;
};
Recorder gRecorder;

msgBridge fakeHandle (int id)
{
    return reinterpret_cast<msgBridge> (static_cast<intptr_t> (id));
}

mama_status recCreate (msgBridge* msg, mamaMsg)
{
    *msg = fakeHandle (gRecorder.mNextId++);
    gRecorder.mCalls.push_back ("create " + std::to_string (reinterpret_cast<intptr_t> (*msg)));
    return MAMA_STATUS_OK;
}

mama_status recDestroy (msgBridge msg, int owner)
{
    gRecorder.mCalls.push_back ("destroy " + std::to_string (reinterpret_cast<intptr_t> (msg)) +
                                " " + std::to_string (owner));
    return MAMA_STATUS_OK;
}

mama_status recDestroyMiddlewareMsg (msgBridge msg)
{
    gRecorder.mCalls.push_back ("destroyMiddlewareMsg " +
                                std::to_string (reinterpret_cast<intptr_t> (msg)));
    return MAMA_STATUS_OK;
}

int recIsFromInbox (msgBridge)
{
    return 1;
}

mama_status recDuplicateReplyHandle (msgBridge, void** result)
{
    *result = strdup ("_INBOX.reply");
    return MAMA_STATUS_OK;
}

mama_status recCopyReplyHandle (void* src, void** dest)
{
    *dest = strdup (static_cast<const char*> (src));
    return MAMA_STATUS_OK;
}

mama_status recDestroyReplyHandle (void* handle)
{
    gRecorder.mCalls.push_back (std::string ("destroyReplyHandle ") +
                                static_cast<const char*> (handle));
    free (handle);
    return MAMA_STATUS_OK;
}

mama_status recSetReplyHandle (msgBridge msg, void* handle)
{
    gRecorder.mCalls.push_back ("setReplyHandle " +
                                std::to_string (reinterpret_cast<intptr_t> (msg)) + " " +
                                static_cast<const char*> (handle));
    return MAMA_STATUS_OK;
}

mama_status recSetSendSubject (msgBridge, const char* symbol, const char* subject)
{
    gRecorder.mCalls.push_back (std::string ("setSendSubject ") + symbol + " " + subject);
    return MAMA_STATUS_OK;
}

class MsgHostTest : public ::testing::Test
{
  protected:
    void SetUp () override
    {
        gRecorder = Recorder ();
        mBridge = static_cast<mamaBridgeImpl*> (calloc (1, sizeof (mamaBridgeImpl)));
        mBridge->bridgeMamaMsgCreate = recCreate;
        mBridge->bridgeMamaMsgDestroy = recDestroy;
        mBridge->bridgeMamaMsgDestroyMiddlewareMsg = recDestroyMiddlewareMsg;
        mBridge->bridgeMamaMsgIsFromInbox = recIsFromInbox;
        mBridge->bridgeMamaMsgDuplicateReplyHandle = recDuplicateReplyHandle;
        mBridge->bridgeMamaMsgCopyReplyHandle = recCopyReplyHandle;
        mBridge->bridgeMamaMsgDestroyReplyHandle = recDestroyReplyHandle;
        mBridge->bridgeMamaMsgImplSetReplyHandleAndIncrement = recSetReplyHandle;
        mBridge->bridgeMamaMsgSetSendSubject = recSetSendSubject;
        ASSERT_EQ (MAMA_STATUS_OK, mama_loadPayloadBridge (&mPayload, "corvexmsg"));
    }

    void TearDown () override
    {
        free (mBridge);
    }

    // The bytes of a message holding the given fields.
    std::vector<uint8_t> encoded (mama_i32_t value, const char* text)
    {
        mamaMsg msg = nullptr;
        EXPECT_EQ (MAMA_STATUS_OK, mamaMsg_createForPayloadBridge (&msg, mPayload));
        EXPECT_EQ (MAMA_STATUS_OK, mamaMsg_addI32 (msg, "n", 1, value));
        EXPECT_EQ (MAMA_STATUS_OK, mamaMsg_addString (msg, "s", 2, text));
        const void* buffer = nullptr;
        mama_size_t length = 0;
        EXPECT_EQ (MAMA_STATUS_OK, mamaMsg_getByteBuffer (msg, &buffer, &length));
        std::vector<uint8_t> bytes (static_cast<const uint8_t*> (buffer),
                                    static_cast<const uint8_t*> (buffer) + length);
        mamaMsg_destroy (msg);
        return bytes;
    }

    mamaMsg received ()
    {
        mamaMsg msg = nullptr;
        EXPECT_EQ (MAMA_STATUS_OK, mamaMsgImpl_createForPayload (&msg, nullptr, nullptr, 0));
        EXPECT_EQ (MAMA_STATUS_OK, mamaMsgImpl_setBridgeImpl (msg, mBridge));
        return msg;
    }

    mamaBridgeImpl* mBridge = nullptr;
    mamaPayloadBridge mPayload = nullptr;
};

TEST_F (MsgHostTest, BufferIsDecodedByTheIdInItsFirstByte)
{
    mamaMsg msg = received ();
    std::vector<uint8_t> first = encoded (1, "one");
    std::vector<uint8_t> second = encoded (2, "two");

    ASSERT_EQ (MAMA_STATUS_OK, mamaMsgImpl_setMsgBuffer (msg, first.data (), first.size (), '\0'));
    char id = 0;
    EXPECT_EQ (MAMA_STATUS_OK, mamaMsgImpl_getPayloadId (msg, &id));
    EXPECT_EQ ('1', id);
    msgPayload payload = nullptr;
    ASSERT_EQ (MAMA_STATUS_OK, mamaMsgImpl_getPayload (msg, &payload));

    // The next buffer of the same payload reuses the message's payload.
    ASSERT_EQ (MAMA_STATUS_OK, mamaMsgImpl_setMsgBuffer (msg, second.data (), second.size (), '1'));
    msgPayload reused = nullptr;
    ASSERT_EQ (MAMA_STATUS_OK, mamaMsgImpl_getPayload (msg, &reused));
    EXPECT_EQ (payload, reused);
    const char* s = nullptr;
    EXPECT_EQ (MAMA_STATUS_OK, mamaMsg_getString (msg, "s", 2, &s));
    EXPECT_STREQ ("two", s);

    EXPECT_EQ (MAMA_STATUS_NO_BRIDGE_IMPL,
               mamaMsgImpl_setMsgBuffer (msg, second.data (), second.size (), 'Q'));
    second[0] = 'Q';
    EXPECT_EQ (MAMA_STATUS_NO_BRIDGE_IMPL,
               mamaMsgImpl_setMsgBuffer (msg, second.data (), second.size (), '\0'));
    EXPECT_EQ (MAMA_STATUS_PLATFORM,
               mamaMsgImpl_setMsgBuffer (msg, second.data (), second.size (), '1'));
    EXPECT_EQ (MAMA_STATUS_INVALID_ARG, mamaMsgImpl_setMsgBuffer (msg, first.data (), 0, '1'));
    EXPECT_EQ (MAMA_STATUS_NULL_ARG, mamaMsgImpl_setMsgBuffer (msg, nullptr, 4, '1'));
    EXPECT_EQ (MAMA_STATUS_NULL_ARG,
               mamaMsgImpl_setMsgBuffer (nullptr, first.data (), first.size (), '1'));
    mamaMsg_destroy (msg);
}

TEST_F (MsgHostTest, BridgePartFollowsTheMessage)
{
    mamaMsg msg = nullptr;
    ASSERT_EQ (MAMA_STATUS_OK, mamaMsg_createForPayloadBridge (&msg, mPayload));
    msgBridge part = nullptr;
    EXPECT_EQ (MAMA_STATUS_INVALID_ARG, mamaMsgImpl_getBridgeMsg (msg, &part));
    EXPECT_EQ (0, mamaMsg_isFromInbox (msg));
    EXPECT_EQ (MAMA_STATUS_NO_BRIDGE_IMPL, mamaMsgImpl_setBridgeImpl (msg, nullptr));

    ASSERT_EQ (MAMA_STATUS_OK, mamaMsgImpl_setBridgeImpl (msg, mBridge));
    ASSERT_EQ (MAMA_STATUS_OK, mamaMsgImpl_getBridgeMsg (msg, &part));
    EXPECT_EQ (fakeHandle (1), part);
    EXPECT_EQ (1, mamaMsg_isFromInbox (msg));
    ASSERT_EQ (MAMA_STATUS_OK,
               mamaMsgImpl_setBridgeImpl (msg, mBridge)); // replaces, old one released

    ASSERT_EQ (MAMA_STATUS_OK, mamaMsgImpl_setSubscInfo (msg, nullptr, "SRC", "IBM", 1));
    const char* subject = nullptr;
    EXPECT_EQ (MAMA_STATUS_OK, mamaMsgImpl_getSubject (msg, &subject));
    EXPECT_STREQ ("SRC.IBM", subject);

    // An owning message drops its middleware message when a new buffer comes.
    std::vector<uint8_t> bytes = encoded (5, "x");
    ASSERT_EQ (MAMA_STATUS_OK, mamaMsgImpl_setMessageOwner (msg, 1));
    ASSERT_EQ (MAMA_STATUS_OK, mamaMsgImpl_setMsgBuffer (msg, bytes.data (), bytes.size (), '1'));
    ASSERT_EQ (MAMA_STATUS_OK, mamaMsg_destroy (msg));

    std::vector<std::string> expected = {"create 1",
                                         "destroy 1 0",
                                         "create 2",
                                         "setSendSubject IBM SRC.IBM",
                                         "destroyMiddlewareMsg 2",
                                         "destroy 2 0"};
    EXPECT_EQ (expected, gRecorder.mCalls);
    EXPECT_EQ (MAMA_STATUS_NULL_ARG, mamaMsgImpl_getBridgeMsg (nullptr, &part));
}

TEST_F (MsgHostTest, ReplyHandlesOutliveTheirMessage)
{
    mamaMsg request = received ();
    mamaMsgReply reply = nullptr;
    ASSERT_EQ (MAMA_STATUS_OK, mamaMsg_getReplyHandle (request, &reply));
    mamaMsg_destroy (request);
    ASSERT_NE (nullptr, reply);
    EXPECT_STREQ ("_INBOX.reply", static_cast<const char*> (reply->replyHandle));

    mamaMsgReply copy = nullptr;
    ASSERT_EQ (MAMA_STATUS_OK, mamaMsg_copyReplyHandle (reply, &copy));
    EXPECT_NE (reply->replyHandle, copy->replyHandle);

    // A message without a middleware part gets one to carry the handle.
    mamaMsg answer = nullptr;
    ASSERT_EQ (MAMA_STATUS_OK, mamaMsg_createForPayloadBridge (&answer, mPayload));
    gRecorder.mCalls.clear ();
    ASSERT_EQ (MAMA_STATUS_OK, mamaMsg_setReplyHandle (answer, copy));
    EXPECT_EQ (MAMA_STATUS_OK, mamaMsg_destroyReplyHandle (reply));
    EXPECT_EQ (MAMA_STATUS_OK, mamaMsg_destroyReplyHandle (copy));
    mamaMsg_destroy (answer);
    std::vector<std::string> expected = {"create 2", "setReplyHandle 2 _INBOX.reply",
                                         "destroyReplyHandle _INBOX.reply",
                                         "destroyReplyHandle _INBOX.reply", "destroy 2 0"};
    EXPECT_EQ (expected, gRecorder.mCalls);

    mamaMsg plain = nullptr;
    ASSERT_EQ (MAMA_STATUS_OK, mamaMsg_createForPayloadBridge (&plain, mPayload));
    EXPECT_EQ (MAMA_STATUS_NO_BRIDGE_IMPL, mamaMsg_getReplyHandle (plain, &reply));
    EXPECT_EQ (MAMA_STATUS_NULL_ARG, mamaMsg_getReplyHandle (plain, nullptr));
    EXPECT_EQ (MAMA_STATUS_NULL_ARG, mamaMsg_destroyReplyHandle (nullptr));
    mBridge->bridgeMamaMsgDuplicateReplyHandle = nullptr;
    ASSERT_EQ (MAMA_STATUS_OK, mamaMsgImpl_setBridgeImpl (plain, mBridge));
    EXPECT_EQ (MAMA_STATUS_NOT_IMPLEMENTED, mamaMsg_getReplyHandle (plain, &reply));
    mamaMsg_destroy (plain);
}

TEST_F (MsgHostTest, DetachedMessageKeepsItsFieldsAndLeavesTheQueue)
{
    mamaBridge middleware = nullptr;
    ASSERT_EQ (MAMA_STATUS_OK, mama_loadBridge (&middleware, "fake"));
    mamaQueue queue = nullptr;
    ASSERT_EQ (MAMA_STATUS_OK, mamaQueue_create (&queue, middleware));
    mamaMsg msg = mamaQueueImpl_getMsg (queue);
    ASSERT_NE (nullptr, msg);

    std::vector<uint8_t>* wire = new std::vector<uint8_t> (encoded (9, "kept"));
    ASSERT_EQ (MAMA_STATUS_OK, mamaMsgImpl_setMsgBuffer (msg, wire->data (), wire->size (), '1'));
    ASSERT_EQ (MAMA_STATUS_OK, mamaMsg_detach (msg));
    delete wire; // the middleware's buffer goes once delivery is over

    const char* s = nullptr;
    EXPECT_EQ (MAMA_STATUS_OK, mamaMsg_getString (msg, "s", 2, &s));
    EXPECT_STREQ ("kept", s);
    EXPECT_NE (msg, mamaQueueImpl_getMsg (queue));
    EXPECT_EQ (MAMA_STATUS_INVALID_QUEUE, mamaMsg_detach (msg)) << "already detached";
    EXPECT_EQ (MAMA_STATUS_OK, mamaMsg_destroy (msg));
    EXPECT_EQ (MAMA_STATUS_OK, mamaQueue_destroy (queue));
}

TEST_F (MsgHostTest, StatusComesFromTheHostThenTheField)
{
    EXPECT_EQ (MAMA_MSG_STATUS_UNKNOWN, mamaMsgStatus_statusForMsg (nullptr));
    mamaMsg msg = nullptr;
    ASSERT_EQ (MAMA_STATUS_OK, mamaMsg_createForPayloadBridge (&msg, mPayload));
    EXPECT_EQ (MAMA_MSG_STATUS_OK, mamaMsgStatus_statusForMsg (msg));
    ASSERT_EQ (MAMA_STATUS_OK,
               mamaMsg_addI32 (msg, MamaFieldMsgStatus.mName, MamaFieldMsgStatus.mFid,
                               MAMA_MSG_STATUS_NOT_ENTITLED));
    EXPECT_EQ (MAMA_MSG_STATUS_NOT_ENTITLED, mamaMsgStatus_statusForMsg (msg));
    ASSERT_EQ (MAMA_STATUS_OK, mamaMsgImpl_setStatus (msg, MAMA_MSG_STATUS_NOT_FOUND));
    EXPECT_EQ (MAMA_MSG_STATUS_NOT_FOUND, mamaMsgStatus_statusForMsg (msg));
    EXPECT_STREQ ("NOT_FOUND", mamaMsgStatus_stringForMsg (msg));
    mamaMsg_destroy (msg);

    EXPECT_STREQ ("PLATFORM_SPECIFIC_STATUS",
                  mamaMsgStatus_stringForStatus (MAMA_MSG_STATUS_PLATFORM_STATUS));
    EXPECT_STREQ ("UNKNOWN", mamaMsgStatus_stringForStatus (MAMA_MSG_STATUS_UNKNOWN));
    EXPECT_STREQ ("error", mamaMsgStatus_stringForStatus (static_cast<mamaMsgStatus> (42)));
    EXPECT_STREQ ("UPDATE", mamaMsgType_stringForType (MAMA_MSG_TYPE_UPDATE));
    EXPECT_STREQ ("UNKNOWN", mamaMsgType_stringForMsg (nullptr));
    EXPECT_STREQ ("MdSubscSymbol", MamaFieldSubscSymbol.mName);
    EXPECT_EQ (71, MamaFieldSubscSymbol.mFid);
    EXPECT_EQ (100, WOMBAT_MAX_RESERVED_FID);
}

TEST_F (MsgHostTest, ReceivedMessagesAreReadOnlyWhenConfigured)
{
    ASSERT_EQ (MAMA_STATUS_OK, mama_setProperty ("mama.message.allowmodify", "false"));
    std::vector<uint8_t> bytes = encoded (1, "a");
    mamaMsg msg = received ();
    ASSERT_EQ (MAMA_STATUS_OK, mamaMsgImpl_setMsgBuffer (msg, bytes.data (), bytes.size (), '1'));
    EXPECT_EQ (MAMA_STATUS_NOT_MODIFIABLE, mamaMsg_addI32 (msg, "b", 3, 1));
    EXPECT_EQ (MAMA_STATUS_NOT_MODIFIABLE, mamaMsg_clear (msg));
    mama_i32_t value = 0;
    EXPECT_EQ (MAMA_STATUS_OK, mamaMsg_getI32 (msg, "n", 1, &value));
    mamaMsg_destroy (msg);

    mamaMsg own = nullptr;
    ASSERT_EQ (MAMA_STATUS_OK, mamaMsg_createForPayloadBridge (&own, mPayload));
    EXPECT_EQ (MAMA_STATUS_OK, mamaMsg_addI32 (own, "b", 3, 1));
    mamaMsg_destroy (own);
}

TEST_F (MsgHostTest, ByteBufferEntryPointsAndMissingPayloads)
{
    std::vector<uint8_t> bytes = encoded (3, "new");
    mamaMsg msg = nullptr;
    ASSERT_EQ (MAMA_STATUS_OK, mamaMsg_createFromByteBuffer (&msg, bytes.data (), bytes.size ()));
    mama_i32_t value = 0;
    EXPECT_EQ (MAMA_STATUS_OK, mamaMsg_getI32 (msg, "n", 1, &value));
    EXPECT_EQ (3, value);

    // setNewBuffer copies: the caller keeps its buffer
    std::vector<uint8_t> other = encoded (4, "copied");
    ASSERT_EQ (MAMA_STATUS_OK, mamaMsg_setNewBuffer (msg, other.data (), other.size ()));
    other.assign (other.size (), 0);
    const char* s = nullptr;
    EXPECT_EQ (MAMA_STATUS_OK, mamaMsg_getString (msg, "s", 2, &s));
    EXPECT_STREQ ("copied", s);
    mamaMsg_destroy (msg);

    EXPECT_EQ (MAMA_STATUS_NULL_ARG, mamaMsg_createForPayloadBridge (&msg, nullptr));
    EXPECT_EQ (MAMA_STATUS_NO_BRIDGE_IMPL, mamaMsg_createForPayload (&msg, 'Q'));
    mamaMsg empty = nullptr;
    ASSERT_EQ (MAMA_STATUS_OK, mamaMsgImpl_createForPayload (&empty, nullptr, nullptr, 0));
    const void* buffer = nullptr;
    mama_size_t length = 0;
    EXPECT_EQ (MAMA_STATUS_NULL_ARG, mamaMsg_getByteBuffer (empty, &buffer, &length));
    EXPECT_EQ (MAMA_STATUS_NULL_ARG, mamaMsg_addI32 (empty, "a", 1, 1));
    EXPECT_EQ (nullptr, mamaMsg_toString (empty));
    EXPECT_EQ (MAMA_STATUS_NULL_ARG, mamaMsgImpl_getPayloadId (empty, nullptr));
    void* native = nullptr;
    EXPECT_EQ (MAMA_STATUS_NULL_ARG, mamaMsg_getNativeMsg (empty, &native));
    mamaMsg_destroy (empty);
    EXPECT_EQ (MAMA_STATUS_NULL_ARG, mamaMsg_destroy (nullptr));
}

TEST_F (MsgHostTest, MessagesOnSeveralThreadsShareOneReceivedBuffer)
{
    const std::vector<uint8_t> bytes = encoded (77, "shared");
    std::vector<std::thread> readers;
    std::vector<int> good (4, 0);
    for (size_t t = 0; t < good.size (); ++t)
    {
        readers.emplace_back (
            [&, t]
            {
                mamaMsg msg = nullptr;
                mamaMsgImpl_createForPayload (&msg, nullptr, nullptr, 0);
                for (int i = 0; i < 500; ++i)
                {
                    mama_i32_t value = 0;
                    const char* s = nullptr;
                    if (mamaMsgImpl_setMsgBuffer (msg, bytes.data (), bytes.size (), '\0') ==
                            MAMA_STATUS_OK &&
                        mamaMsg_getI32 (msg, "n", 1, &value) == MAMA_STATUS_OK && value == 77 &&
                        mamaMsg_getString (msg, "s", 2, &s) == MAMA_STATUS_OK &&
                        std::strcmp (s, "shared") == 0)
                    {
                        ++good[t];
                    }
                }
                mamaMsg_destroy (msg);
            });
    }
    for (int i = 0; i < 500; ++i)
    {
        mamaPayloadBridge found = nullptr;
        mama_getPayloadBridge (&found, "corvexmsg");
        EXPECT_EQ (mPayload, found);
    }
    for (std::thread& reader : readers)
    {
        reader.join ();
    }
    EXPECT_EQ (std::vector<int> (good.size (), 500), good);
}

} // namespace
