// A message keeps its last encoding and writes the values of updated fields
// into it when they take the same bytes: whatever the updates, the bytes it
// hands out are those a fresh encoding of the same fields would have, and
// bytes it reads in place are never written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <mama/mama.h>
#include <mama/datetime.h>
#include <mama/msg.h>
#include <mama/price.h>
#include <mama/integration/msg.h>

#include "msgBytes.h"

namespace
{

class EncodingTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ(MAMA_STATUS_OK, mama_loadPayloadBridge(&mBridge, "corvexmsg"));
        ASSERT_EQ(MAMA_STATUS_OK, mamaPrice_create(&mPrice));
        ASSERT_EQ(MAMA_STATUS_OK, mamaDateTime_create(&mTime));
    }

    void TearDown() override
    {
        for (mamaMsg m : mMsgs)
        {
            mamaMsg_destroy(m);
        }
        mamaPrice_destroy(mPrice);
        mamaDateTime_destroy(mTime);
    }

    mamaMsg create()
    {
        mamaMsg msg = nullptr;
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_createForPayloadBridge(&msg, mBridge));
        mMsgs.push_back(msg);
        return msg;
    }

    // The bytes of a new message holding copies of msg's fields: what msg's
    // own encoding must be.
    std::vector<uint8_t> freshBytes(mamaMsg msg)
    {
        mamaMsg copy = nullptr;
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_copy(msg, &copy));
        std::vector<uint8_t> bytes = msgBytes(copy);
        mamaMsg_destroy(copy);
        return bytes;
    }

    void setPrice(double value)
    {
        ASSERT_EQ(MAMA_STATUS_OK, mamaPrice_setValue(mPrice, value));
    }

    void setTime(uint64_t micros)
    {
        ASSERT_EQ(MAMA_STATUS_OK, mamaDateTime_setEpochTimeMicroseconds(mTime, micros));
    }

    // A message with a field of most kinds, fids 1..13, and a sub-message.
    mamaMsg everyKind()
    {
        mamaMsg msg = create();
        mamaMsg inner = create();
        const mama_i32_t ints[] = {1, 2, 3};
        const char* texts[] = {"a", "bc"};
        setPrice(10.5);
        setTime(1700000000000000);
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_addI32(inner, "qty", 1, 5));
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_addU64(msg, "seq", 1, 0));
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_addU32(msg, "sym", 2, 0));
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_addI8(msg, "i8", 3, -1));
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_addBool(msg, "flag", 4, 1));
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_addF32(msg, "f32", 5, 1.5f));
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_addF64(msg, nullptr, 6, 2.5));
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_addString(msg, "text", 7, "abc"));
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_addOpaque(msg, "blob", 8, "xyz", 3));
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_addPrice(msg, "price", 9, mPrice));
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_addDateTime(msg, "time", 10, mTime));
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_addVectorI32(msg, "ints", 11, ints, 3));
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_addVectorString(msg, "texts", 12, texts, 2));
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_addMsg(msg, "inner", 13, inner));
        return msg;
    }

    mamaPayloadBridge mBridge = nullptr;
    mamaPrice mPrice = nullptr;
    mamaDateTime mTime = nullptr;
    std::vector<mamaMsg> mMsgs;
};

// Random updates of every kind, the same size or not, of the same type or
// not, by name, by fid and through a field, with the encoding read now and
// then: every encoding read is a fresh encoding's bytes.
TEST_F(EncodingTest, UpdatedEncodingIsAFreshEncoding)
{
    mamaMsg msg = everyKind();
    std::mt19937 random(2024);
    const char* const texts[] = {"abc", "xyz", "a", "", "longer than before"};
    int added = 0;
    for (int step = 0; step < 4000; ++step)
    {
        const uint32_t r = static_cast<uint32_t>(random());
        switch (r % 18)
        {
        case 0:
            ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateU64(msg, "seq", 1, r * 7919ull));
            break;
        case 1:
            ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateU32(msg, nullptr, 2, r));
            break;
        case 2:
            ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateI8(msg, "i8", 0, static_cast<mama_i8_t>(r)));
            break;
        case 3:
            // another type under the same fid: a size of its own
            ASSERT_EQ(MAMA_STATUS_OK, r % 2 ? mamaMsg_updateU16(msg, "flag", 4, 7)
                                            : mamaMsg_updateBool(msg, "flag", 4, 0));
            break;
        case 4:
            ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateF32(msg, "f32", 5, r * 0.5f));
            ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateF64(msg, nullptr, 6, r * 0.25));
            break;
        case 5:
            ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateString(msg, "text", 7, texts[r % 5]));
            break;
        case 6:
            ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateOpaque(msg, "blob", 8, &r, 1 + r % 4));
            break;
        case 7:
            setPrice(r * 0.01);
            ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updatePrice(msg, "price", 9, mPrice));
            setTime(1700000000000000 + r);
            ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateDateTime(msg, "time", 10, mTime));
            break;
        case 8:
        {
            const mama_i32_t ints[] = {static_cast<mama_i32_t>(r), 2, 3, 4};
            ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateVectorI32(msg, "ints", 11, ints, 3 + r % 2));
            break;
        }
        case 9:
        {
            // the same byte size with a count of its own: {"ab"} and {"", "a"}
            const char* one[] = {"ab"};
            const char* two[] = {"", "a"};
            ASSERT_EQ(MAMA_STATUS_OK, r % 2 ? mamaMsg_updateVectorString(msg, "texts", 12, one, 1)
                                            : mamaMsg_updateVectorString(msg, "texts", 12, two, 2));
            break;
        }
        case 10:
        {
            mamaMsgField field = nullptr;
            ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getField(msg, "seq", 1, &field));
            mamaFieldType type = MAMA_FIELD_TYPE_UNKNOWN;
            ASSERT_EQ(MAMA_STATUS_OK, mamaMsgField_getType(field, &type));
            ASSERT_EQ(MAMA_STATUS_OK, type == MAMA_FIELD_TYPE_U64
                                          ? mamaMsgField_updateU64(field, r)
                                          : mamaMsgField_updateU32(field, r));
            break;
        }
        case 11:
            // the other type under the fid of "seq"
            ASSERT_EQ(MAMA_STATUS_OK, r % 2 ? mamaMsg_updateU32(msg, "seq", 1, r)
                                            : mamaMsg_updateU64(msg, "seq", 1, r));
            break;
        case 12:
        {
            mamaMsg inner = nullptr;
            ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getMsg(msg, "inner", 13, &inner));
            ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateI32(inner, "qty", 1, static_cast<int>(r)));
            break;
        }
        case 13:
        {
            // a sub-message replaced by another of another size
            mamaMsg other = create();
            for (uint32_t i = 0; i <= r % 3; ++i)
            {
                ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addI32(other, "qty", 1, static_cast<int>(r)));
            }
            ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateSubMsg(msg, "inner", 13, other));
            break;
        }
        case 14:
            if (added < 20)
            {
                ++added;
                ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addU8(msg, "more", 100, static_cast<uint8_t>(r)));
            }
            break;
        default:
            EXPECT_EQ(freshBytes(msg), msgBytes(msg)) << "step " << step;
            break;
        }
    }
    EXPECT_EQ(freshBytes(msg), msgBytes(msg));
}

// mamabench's publisher: the same fields updated before every send. Each
// encoding holds the values of its own updates only.
TEST_F(EncodingTest, EachSendCarriesItsOwnValues)
{
    mamaMsg msg = create();
    const std::vector<uint8_t> pad(100, 0x5A);
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addU64(msg, "seq", 10001, 0));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addU32(msg, "sym", 10002, 0));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addU64(msg, "sent", 10003, 0));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addOpaque(msg, "pad", 10004, pad.data(), pad.size()));
    mamaMsg decoded = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsgImpl_createForPayload(&decoded, nullptr, nullptr, 0));
    mMsgs.push_back(decoded);
    for (mama_u64_t seq = 1; seq <= 50; ++seq)
    {
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateU64(msg, "seq", 10001, seq));
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateU32(msg, "sym", 10002, seq % 3));
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateU64(msg, "sent", 10003, seq << 40));
        const std::vector<uint8_t> bytes = msgBytes(msg);
        ASSERT_EQ(freshBytes(msg), bytes);
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsgImpl_setMsgBuffer(decoded, bytes.data(),
                                                           static_cast<uint32_t>(bytes.size()), 0));
        mama_u64_t gotSeq = 0;
        mama_u32_t gotSym = 0;
        mama_u64_t gotSent = 0;
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getU64(decoded, "seq", 10001, &gotSeq));
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getU32(decoded, "sym", 10002, &gotSym));
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getU64(decoded, "sent", 10003, &gotSent));
        EXPECT_EQ(seq, gotSeq);
        EXPECT_EQ(seq % 3, gotSym);
        EXPECT_EQ(seq << 40, gotSent);
    }
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsgImpl_setMessageOwner(decoded, 1));
}

// A decoded message updated, and updated again once encoded: the received
// bytes stay as they came, the encodings follow the updates.
TEST_F(EncodingTest, ReceivedBytesAreNeverWritten)
{
    mamaMsg msg = everyKind();
    const std::vector<uint8_t> received = msgBytes(msg);
    std::vector<uint8_t> buffer = received;
    mamaMsg decoded = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsgImpl_createForPayload(&decoded, nullptr, nullptr, 0));
    mMsgs.push_back(decoded);
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsgImpl_setMsgBuffer(decoded, buffer.data(),
                                                       static_cast<uint32_t>(buffer.size()), 0));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsgImpl_setMessageOwner(decoded, 1));

    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateU64(decoded, "seq", 1, 99));
    EXPECT_EQ(received, buffer);
    EXPECT_EQ(freshBytes(decoded), msgBytes(decoded));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateU64(decoded, "seq", 1, 100));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateString(decoded, "text", 7, "def"));
    EXPECT_EQ(received, buffer);
    const std::vector<uint8_t> updated = msgBytes(decoded);
    EXPECT_EQ(freshBytes(decoded), updated);

    // the same message decoding other bytes, then updated: the new bytes are
    // read in place again, and left alone again
    std::vector<uint8_t> again = received;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsgImpl_setMsgBuffer(decoded, again.data(),
                                                       static_cast<uint32_t>(again.size()), 0));
    /* Each decode leaves the payload to no one again. */
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsgImpl_setMessageOwner(decoded, 1));
    EXPECT_EQ(received, msgBytes(decoded));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateU64(decoded, "seq", 1, 101));
    EXPECT_EQ(received, again);
    mama_u64_t seq = 0;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getU64(decoded, "seq", 1, &seq));
    EXPECT_EQ(101u, seq);
    EXPECT_EQ(freshBytes(decoded), msgBytes(decoded));
}

// A field the application kept from an earlier decode is no field of the
// message any more: updating it leaves the message's encoding as it was.
TEST_F(EncodingTest, AFieldOfAnEarlierDecodeNeverWritesTheEncoding)
{
    mamaMsg msg = everyKind();
    std::vector<uint8_t> first = msgBytes(msg);
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateU64(msg, "seq", 1, 1000));
    std::vector<uint8_t> second = msgBytes(msg);
    mamaMsg decoded = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsgImpl_createForPayload(&decoded, nullptr, nullptr, 0));
    mMsgs.push_back(decoded);
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsgImpl_setMsgBuffer(decoded, first.data(),
                                                       static_cast<uint32_t>(first.size()), 0));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsgImpl_setMessageOwner(decoded, 1));
    mamaMsgField kept = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getField(decoded, "seq", 1, &kept));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateU64(decoded, "seq", 1, 1));
    msgBytes(decoded);

    ASSERT_EQ(MAMA_STATUS_OK, mamaMsgImpl_setMsgBuffer(decoded, second.data(),
                                                       static_cast<uint32_t>(second.size()), 0));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsgImpl_setMessageOwner(decoded, 1));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateU64(decoded, "seq", 1, 2));
    const std::vector<uint8_t> encoded = msgBytes(decoded);
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsgField_updateU64(kept, 3));
    EXPECT_EQ(encoded, msgBytes(decoded));
    mama_u64_t seq = 0;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getU64(decoded, "seq", 1, &seq));
    EXPECT_EQ(2u, seq);
}

// A sub-message cleared through the host: the message holding it is encoded
// without its fields, whether it was built or decoded.
TEST_F(EncodingTest, ClearingASubMessageReachesItsHolder)
{
    mamaMsg msg = everyKind();
    msgBytes(msg);
    mamaMsg inner = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getMsg(msg, "inner", 13, &inner));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_clear(inner));
    const std::vector<uint8_t> bytes = msgBytes(msg);
    EXPECT_EQ(freshBytes(msg), bytes);

    std::vector<uint8_t> received = msgBytes(everyKind());
    mamaMsg decoded = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsgImpl_createForPayload(&decoded, nullptr, nullptr, 0));
    mMsgs.push_back(decoded);
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsgImpl_setMsgBuffer(decoded, received.data(),
                                                       static_cast<uint32_t>(received.size()), 0));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsgImpl_setMessageOwner(decoded, 1));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getMsg(decoded, "inner", 13, &inner));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_clear(inner));
    std::fill(received.begin(), received.end(), 0xEE); // nothing may still point into it
    EXPECT_EQ(bytes, msgBytes(decoded));
    mama_size_t count = 1;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getMsg(decoded, "inner", 13, &inner));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getNumFields(inner, &count));
    EXPECT_EQ(0u, count);
}

} // namespace
