// The "corvexmsg" payload seen through the host's message API: every type
// survives serialise/decode, decoding reads in place, and damaged buffers are
// refused without reading outside them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <mama/mama.h>
#include <mama/msg.h>
#include <mama/datetime.h>
#include <mama/price.h>
#include <mama/reservedfields.h>
#include <mama/integration/msg.h>

#include "msgBytes.h"

namespace
{

class CorvexMsgTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ(MAMA_STATUS_OK, mama_loadPayloadBridge(&mBridge, "corvexmsg"));
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_createForPayloadBridge(&mMsg, mBridge));
    }

    void TearDown() override
    {
        for (mamaMsg m : mOthers)
        {
            mamaMsg_destroy(m);
        }
        mamaMsg_destroy(mMsg);
    }

    // Decodes from an exactly sized heap copy, so that a read past the end is
    // caught by the address sanitizer.
    mama_status decode(const std::vector<uint8_t>& bytes, mamaMsg* result)
    {
        mBuffers.emplace_back(new uint8_t[bytes.size() ? bytes.size() : 1]);
        std::memcpy(mBuffers.back().get(), bytes.data(), bytes.size());
        mamaMsg msg = nullptr;
        mama_status status =
            mamaMsg_createFromByteBuffer(&msg, mBuffers.back().get(), bytes.size());
        // The host hands back the message it created even when the decode
        // fails: the caller owns it either way.
        if (msg != nullptr)
        {
            mOthers.push_back(msg);
        }
        if (status == MAMA_STATUS_OK)
        {
            *result = msg;
        }
        return status;
    }

    void addEveryType(mamaMsg msg)
    {
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addBool(msg, "bool", 101, 1));
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addChar(msg, "char", 102, 'x'));
        ASSERT_EQ(MAMA_STATUS_OK,
                  mamaMsg_addI8(msg, "i8", 103, std::numeric_limits<int8_t>::min()));
        ASSERT_EQ(MAMA_STATUS_OK,
                  mamaMsg_addU8(msg, "u8", 104, std::numeric_limits<uint8_t>::max()));
        ASSERT_EQ(MAMA_STATUS_OK,
                  mamaMsg_addI16(msg, "i16", 105, std::numeric_limits<int16_t>::min()));
        ASSERT_EQ(MAMA_STATUS_OK,
                  mamaMsg_addU16(msg, "u16", 106, std::numeric_limits<uint16_t>::max()));
        ASSERT_EQ(MAMA_STATUS_OK,
                  mamaMsg_addI32(msg, "i32", 107, std::numeric_limits<int32_t>::min()));
        ASSERT_EQ(MAMA_STATUS_OK,
                  mamaMsg_addU32(msg, "u32", 108, std::numeric_limits<uint32_t>::max()));
        ASSERT_EQ(MAMA_STATUS_OK,
                  mamaMsg_addI64(msg, "i64", 109, std::numeric_limits<int64_t>::min()));
        ASSERT_EQ(MAMA_STATUS_OK,
                  mamaMsg_addU64(msg, "u64", 110, std::numeric_limits<uint64_t>::max()));
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addF32(msg, "f32", 111, -1.5e-30f));
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addF64(msg, "f64", 112, 0.1));
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addString(msg, "string", 113, "hello world"));
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addString(msg, "empty", 114, ""));
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addOpaque(msg, "opaque", 115, "a\0b\0c", 5));
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addOpaque(msg, "none", 116, nullptr, 0));
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addI32(msg, nullptr, 117, 42)); // fid only
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addI32(msg, "nameOnly", 0, 43));
    }

    void expectEveryType(mamaMsg msg)
    {
        mama_bool_t b = 0;
        char c = 0;
        mama_i8_t i8 = 0;
        mama_u8_t u8 = 0;
        mama_i16_t i16 = 0;
        mama_u16_t u16 = 0;
        mama_i32_t i32 = 0;
        mama_u32_t u32 = 0;
        mama_i64_t i64 = 0;
        mama_u64_t u64 = 0;
        mama_f32_t f32 = 0;
        mama_f64_t f64 = 0;
        const char* s = nullptr;
        const void* o = nullptr;
        mama_size_t size = 99;
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_getBool(msg, "bool", 101, &b));
        EXPECT_EQ(1, b);
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_getChar(msg, "char", 102, &c));
        EXPECT_EQ('x', c);
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_getI8(msg, "i8", 103, &i8));
        EXPECT_EQ(std::numeric_limits<int8_t>::min(), i8);
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_getU8(msg, "u8", 104, &u8));
        EXPECT_EQ(std::numeric_limits<uint8_t>::max(), u8);
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_getI16(msg, "i16", 105, &i16));
        EXPECT_EQ(std::numeric_limits<int16_t>::min(), i16);
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_getU16(msg, "u16", 106, &u16));
        EXPECT_EQ(std::numeric_limits<uint16_t>::max(), u16);
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_getI32(msg, "i32", 107, &i32));
        EXPECT_EQ(std::numeric_limits<int32_t>::min(), i32);
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_getU32(msg, "u32", 108, &u32));
        EXPECT_EQ(std::numeric_limits<uint32_t>::max(), u32);
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_getI64(msg, "i64", 109, &i64));
        EXPECT_EQ(std::numeric_limits<int64_t>::min(), i64);
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_getU64(msg, "u64", 110, &u64));
        EXPECT_EQ(std::numeric_limits<uint64_t>::max(), u64);
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_getF32(msg, "f32", 111, &f32));
        EXPECT_EQ(-1.5e-30f, f32);
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_getF64(msg, "f64", 112, &f64));
        EXPECT_EQ(0.1, f64);
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_getString(msg, "string", 113, &s));
        EXPECT_STREQ("hello world", s);
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_getString(msg, "empty", 114, &s));
        EXPECT_STREQ("", s);
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_getOpaque(msg, "opaque", 115, &o, &size));
        ASSERT_EQ(5u, size);
        EXPECT_EQ(0, std::memcmp(o, "a\0b\0c", 5));
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_getOpaque(msg, "none", 116, &o, &size));
        EXPECT_EQ(0u, size);
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_getI32(msg, nullptr, 117, &i32));
        EXPECT_EQ(42, i32);
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_getI32(msg, "nameOnly", 0, &i32));
        EXPECT_EQ(43, i32);
        mama_size_t count = 0;
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_getNumFields(msg, &count));
        EXPECT_EQ(18u, count);
    }

    mamaPayloadBridge mBridge = nullptr;
    mamaMsg mMsg = nullptr;
    std::vector<mamaMsg> mOthers;
    std::vector<std::unique_ptr<uint8_t[]>> mBuffers;
};

TEST_F(CorvexMsgTest, EveryTypeSurvivesSerialiseAndDecode)
{
    addEveryType(mMsg);
    expectEveryType(mMsg);
    std::vector<uint8_t> bytes = msgBytes(mMsg);
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ('1', bytes[0]);

    mamaMsg decoded = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, decode(bytes, &decoded));
    expectEveryType(decoded);
    // A decoded, unchanged message serialises to the same bytes.
    EXPECT_EQ(bytes, msgBytes(decoded));

    double nan = std::numeric_limits<double>::quiet_NaN();
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateF64(decoded, "f64", 112, nan));
    mamaMsg again = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, decode(msgBytes(decoded), &again));
    mama_f64_t f64 = 0;
    EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_getF64(again, "f64", 112, &f64));
    EXPECT_TRUE(std::isnan(f64));
}

TEST_F(CorvexMsgTest, DecodedMessageReadsInPlaceUntilModified)
{
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addString(mMsg, "s", 1, "in place"));
    std::vector<uint8_t> bytes = msgBytes(mMsg);
    const uint8_t* buffer = bytes.data();
    // The receive path: a queue's reusable message, created without a
    // payload, is lent a buffer the bridge keeps alive; owning what it
    // decodes into, its destroy frees that (as the bridge arranges).
    mamaMsg decoded = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsgImpl_createForPayload(&decoded, nullptr, nullptr, 0));
    mOthers.push_back(decoded);
    ASSERT_EQ(MAMA_STATUS_OK,
              mamaMsgImpl_setMsgBuffer(decoded, buffer, static_cast<uint32_t>(bytes.size()), 0));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsgImpl_setMessageOwner(decoded, 1));

    const char* s = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getString(decoded, "s", 1, &s));
    EXPECT_TRUE(reinterpret_cast<const uint8_t*>(s) >= buffer &&
                reinterpret_cast<const uint8_t*>(s) < buffer + bytes.size());
    const void* out = nullptr;
    mama_size_t length = 0;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getByteBuffer(decoded, &out, &length));
    EXPECT_EQ(buffer, out);

    // The first change copies: the message no longer needs the buffer.
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addI32(decoded, "n", 2, 7));
    std::fill(bytes.begin(), bytes.end(), 0xEE);
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getString(decoded, "s", 1, &s));
    EXPECT_STREQ("in place", s);
}

TEST_F(CorvexMsgTest, EveryTruncationIsRefused)
{
    addEveryType(mMsg);
    std::vector<uint8_t> bytes = msgBytes(mMsg);
    for (size_t length = 1; length < bytes.size(); ++length)
    {
        mamaMsg decoded = nullptr;
        std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + length);
        EXPECT_EQ(MAMA_STATUS_PLATFORM, decode(prefix, &decoded)) << "length " << length;
    }
    std::vector<uint8_t> longer = bytes;
    longer.push_back(0);
    mamaMsg decoded = nullptr;
    EXPECT_EQ(MAMA_STATUS_PLATFORM, decode(longer, &decoded));
}

TEST_F(CorvexMsgTest, CorruptHeadersAndFieldsAreRefused)
{
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addString(mMsg, "s", 1, "abc"));
    const std::vector<uint8_t> good = msgBytes(mMsg);
    // layout: id, version, count(4), type, fid(2), nameSize(2), "s\0", size(4), "abc\0"
    ASSERT_EQ(6u + 5u + 2u + 4u + 4u, good.size());
    struct Damage
    {
        size_t mOffset;
        uint8_t mValue;
        const char* mWhat;
    } damages[] = {
        {1, 0, "format version 0"},
        {1, 3, "format version from the future"},
        {2, 0xFF, "field count larger than the buffer"},
        {5, 0x80, "huge field count"},
        {6, 3, "unknown field type"},
        {6, MAMA_FIELD_TYPE_COLLECTION, "unsupported field type"},
        {9, 9, "name longer than the buffer"},
        {12, 'x', "name without its terminator"},
        {13, 0xFF, "string longer than the buffer"},
        {16, 0x80, "string size overflowing"},
        {20, 'x', "string without its terminator"},
    };
    for (const Damage& d : damages)
    {
        std::vector<uint8_t> bad = good;
        bad[d.mOffset] = d.mValue;
        mamaMsg decoded = nullptr;
        EXPECT_EQ(MAMA_STATUS_PLATFORM, decode(bad, &decoded)) << d.mWhat;
    }
    mamaMsg decoded = nullptr;
    std::vector<uint8_t> zeroString = good;
    zeroString[13] = 0; // string size 0: not even a terminator
    EXPECT_EQ(MAMA_STATUS_PLATFORM, decode(zeroString, &decoded));
}

TEST_F(CorvexMsgTest, RandomDamageNeverReadsOutsideTheBuffer)
{
    addEveryType(mMsg);
    const std::vector<uint8_t> good = msgBytes(mMsg);
    std::mt19937 random(12345);
    for (int round = 0; round < 3000; ++round)
    {
        std::vector<uint8_t> bad = good;
        const int flips = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < flips; ++i)
        {
            bad[1 + random() % (bad.size() - 1)] = static_cast<uint8_t>(random());
        }
        mamaMsg decoded = nullptr;
        if (decode(bad, &decoded) == MAMA_STATUS_OK)
        {
            ASSERT_NE(nullptr, mamaMsg_toString(decoded));
            mamaMsg_destroy(decoded);
            mOthers.pop_back();
        }
        mBuffers.clear();
    }
}

TEST_F(CorvexMsgTest, ReadsWidenButNeverLoseValues)
{
    ASSERT_EQ(MAMA_STATUS_OK,
              mamaMsg_addU8(mMsg, MamaFieldMsgType.mName, MamaFieldMsgType.mFid, 13));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addI32(mMsg, "negative", 20, -1));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addI64(mMsg, "big", 21, int64_t(1) << 40));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addF64(mMsg, "double", 22, 2.5));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addString(mMsg, "text", 23, "7"));

    mama_i32_t i32 = 0;
    EXPECT_EQ(MAMA_STATUS_OK,
              mamaMsg_getI32(mMsg, MamaFieldMsgType.mName, MamaFieldMsgType.mFid, &i32));
    EXPECT_EQ(13, i32);
    EXPECT_EQ(MAMA_MSG_TYPE_QUOTE, mamaMsgType_typeForMsg(mMsg));
    mama_f64_t f64 = 0;
    EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_getF64(mMsg, "negative", 20, &f64));
    EXPECT_EQ(-1.0, f64);

    mama_u32_t u32 = 0;
    mama_f32_t f32 = 0;
    EXPECT_EQ(MAMA_STATUS_WRONG_FIELD_TYPE, mamaMsg_getU32(mMsg, "negative", 20, &u32));
    EXPECT_EQ(MAMA_STATUS_WRONG_FIELD_TYPE, mamaMsg_getI32(mMsg, "big", 21, &i32));
    EXPECT_EQ(MAMA_STATUS_WRONG_FIELD_TYPE, mamaMsg_getF32(mMsg, "double", 22, &f32));
    EXPECT_EQ(MAMA_STATUS_WRONG_FIELD_TYPE, mamaMsg_getI32(mMsg, "text", 23, &i32));
    EXPECT_EQ(MAMA_STATUS_NOT_FOUND, mamaMsg_getI32(mMsg, "absent", 99, &i32));
    EXPECT_EQ(13, i32) << "a failed read leaves the result alone";
}

TEST_F(CorvexMsgTest, UpdateReplacesAndLookupPrefersTheFid)
{
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addString(mMsg, "sym", 71, "A"));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateString(mMsg, "other", 71, "B"));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateI32(mMsg, "count", 0, 1));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateI32(mMsg, "count", 0, 2));
    mama_size_t count = 0;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getNumFields(mMsg, &count));
    EXPECT_EQ(2u, count);
    const char* s = nullptr;
    EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_getString(mMsg, nullptr, 71, &s));
    EXPECT_STREQ("B", s);
    EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_getString(mMsg, "sym", 0, &s));
    EXPECT_STREQ("B", s);
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaMsg_addI32(mMsg, nullptr, 0, 1)) << "neither name nor fid";
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaMsg_addString(mMsg, "x", 5, nullptr));
}

TEST_F(CorvexMsgTest, TextFormsNameEveryField)
{
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addI32(mMsg, "MdMsgStatus", 2, 0));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addString(mMsg, "MdSubscSymbol", 71, "IBM"));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addF64(mMsg, nullptr, 300, 0.1));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addChar(mMsg, "c", 301, 'Z'));
    EXPECT_STREQ("{MdMsgStatus[2]=0,MdSubscSymbol[71]=IBM,[300]=0.1,c[301]=Z}",
                 mamaMsg_toString(mMsg));

    char text[8];
    EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_getFieldAsString(mMsg, nullptr, 71, text, sizeof text));
    EXPECT_STREQ("IBM", text);
    EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_getFieldAsString(mMsg, nullptr, 300, text, 3));
    EXPECT_STREQ("0.", text) << "cut to the buffer, still terminated";
    EXPECT_EQ(MAMA_STATUS_NOT_FOUND, mamaMsg_getFieldAsString(mMsg, "none", 0, text, sizeof text));
}

struct Seen
{
    std::vector<std::string> mLines;
};

void MAMACALLTYPE collect(const mamaMsg, const mamaMsgField field, void* closure)
{
    const char* name = nullptr;
    uint16_t fid = 0;
    const char* typeName = nullptr;
    char value[64];
    mamaMsgField_getName(field, &name);
    mamaMsgField_getFid(field, &fid);
    mamaMsgField_getTypeName(field, &typeName);
    mamaMsgField_getAsString(field, value, sizeof value);
    static_cast<Seen*>(closure)->mLines.push_back(
        std::string(name ? name : "-") + "/" + std::to_string(fid) + "/" + typeName + "/" + value);
}

TEST_F(CorvexMsgTest, IterationVisitsFieldsInOrder)
{
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addU16(mMsg, "a", 1, 65535));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addString(mMsg, nullptr, 2, "two"));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addOpaque(mMsg, "o", 3, "xyz", 3));
    mamaMsg decoded = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, decode(msgBytes(mMsg), &decoded));
    Seen seen;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_iterateFields(decoded, collect, nullptr, &seen));
    std::vector<std::string> expected = {"a/1/U16/65535", "-/2/STRING/two",
                                         "o/3/OPAQUE/<opaque 3 bytes>"};
    EXPECT_EQ(expected, seen.mLines);
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaMsg_iterateFields(decoded, nullptr, nullptr, &seen));

    mamaMsgField field = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getField(decoded, "a", 1, &field));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsgField_updateU16(field, 7));
    mama_u16_t u16 = 0;
    EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_getU16(decoded, "a", 1, &u16));
    EXPECT_EQ(7, u16);
}

TEST_F(CorvexMsgTest, CopyApplyAndClear)
{
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addI32(mMsg, "a", 1, 1));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addString(mMsg, "b", 2, "two"));
    mamaMsg decoded = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, decode(msgBytes(mMsg), &decoded));

    mamaMsg copy = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_copy(decoded, &copy));
    mOthers.push_back(copy);
    mBuffers.clear(); // the copy owns its data
    const char* s = nullptr;
    EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_getString(copy, "b", 2, &s));
    EXPECT_STREQ("two", s);
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG, mamaMsg_copy(copy, &copy));

    mamaMsg other = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_createForPayloadBridge(&other, mBridge));
    mOthers.push_back(other);
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addI32(other, "a", 1, 10));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addI32(other, "c", 3, 30));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_applyMsg(copy, other));
    EXPECT_STREQ("{a[1]=10,b[2]=two,c[3]=30}", mamaMsg_toString(copy));

    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_clear(copy));
    mama_size_t count = 1;
    EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_getNumFields(copy, &count));
    EXPECT_EQ(0u, count);
    EXPECT_STREQ("{}", mamaMsg_toString(copy));
}

// Prices, date-times, sub-messages and vectors keep every part of their value
// through the wire, read in place on the receive path.
TEST_F(CorvexMsgTest, CompositeTypesSurviveSerialiseAndDecode)
{
    mamaPrice price = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaPrice_create(&price));
    mamaPrice_setValue(price, 101.25);
    mamaPrice_setHints(price, MAMA_PRICE_HINTS_NONE | 4);
    mamaDateTime time = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaDateTime_create(&time));
    mamaDateTime_setEpochTimeExt(time, 1700000000, 123456789);
    mamaDateTime_setPrecision(time, MAMA_DATE_TIME_PREC_NANOSECONDS);
    mamaDateTime_setHints(time, MAMA_DATE_TIME_HAS_DATE | MAMA_DATE_TIME_HAS_TIME);

    mamaMsg inner = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_createForPayloadBridge(&inner, mBridge));
    mOthers.push_back(inner);
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addString(inner, "venue", 1, "XLON"));
    mamaMsg middle = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_createForPayloadBridge(&middle, mBridge));
    mOthers.push_back(middle);
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addMsg(middle, "inner", 2, inner));

    const mama_i32_t sizes[] = {100, -200, 300};
    const mama_f64_t levels[] = {1.5, -2.25};
    const char* names[] = {"bid", "", "ask"};
    const mamaPrice prices[] = {price, price};
    const mamaDateTime times[] = {time};
    const mamaMsg msgs[] = {inner, middle};
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addPrice(mMsg, "price", 1, price));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addDateTime(mMsg, "time", 2, time));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addMsg(mMsg, "middle", 3, middle));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addVectorI32(mMsg, "sizes", 4, sizes, 3));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addVectorF64(mMsg, "levels", 5, levels, 2));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addVectorString(mMsg, "names", 6, names, 3));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addVectorPrice(mMsg, "prices", 7, prices, 2));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addVectorDateTime(mMsg, "times", 8, times, 1));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addVectorMsg(mMsg, "msgs", 9, msgs, 2));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addVectorI32(mMsg, "none", 10, sizes, 0));

    std::vector<uint8_t> bytes = msgBytes(mMsg);
    mamaMsg decoded = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsgImpl_createForPayload(&decoded, nullptr, nullptr, 0));
    mOthers.push_back(decoded);
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsgImpl_setMsgBuffer(decoded, bytes.data(),
                                                       static_cast<uint32_t>(bytes.size()), 0));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsgImpl_setMessageOwner(decoded, 1));

    mamaPrice outPrice = nullptr;
    mamaDateTime outTime = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaPrice_create(&outPrice));
    ASSERT_EQ(MAMA_STATUS_OK, mamaDateTime_create(&outTime));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getPrice(decoded, "price", 1, outPrice));
    EXPECT_EQ(1, mamaPrice_equal(price, outPrice));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getDateTime(decoded, "time", 2, outTime));
    EXPECT_EQ(1, mamaDateTime_equal(time, outTime));
    mama_i64_t seconds = 0;
    mama_u32_t nanos = 0;
    mamaDateTimePrecision precision = MAMA_DATE_TIME_PREC_UNKNOWN;
    mamaDateTime_getEpochTimeExt(outTime, &seconds, &nanos);
    mamaDateTime_getPrecision(outTime, &precision);
    EXPECT_EQ(1700000000, seconds);
    EXPECT_EQ(123456789u, nanos);
    EXPECT_EQ(MAMA_DATE_TIME_PREC_NANOSECONDS, precision);

    mamaMsg sub = nullptr;
    mamaMsg subSub = nullptr;
    const char* venue = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getMsg(decoded, "middle", 3, &sub));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getMsg(sub, "inner", 2, &subSub));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getString(subSub, "venue", 1, &venue));
    EXPECT_STREQ("XLON", venue);

    const mama_i32_t* outSizes = nullptr;
    const mama_f64_t* outLevels = nullptr;
    const char** outNames = nullptr;
    const mamaPrice* outPrices = nullptr;
    const mamaDateTime* outTimes = nullptr;
    const mamaMsg* outMsgs = nullptr;
    mama_size_t n = 0;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getVectorI32(decoded, "sizes", 4, &outSizes, &n));
    EXPECT_EQ(std::vector<mama_i32_t>(sizes, sizes + 3),
              std::vector<mama_i32_t>(outSizes, outSizes + n));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getVectorF64(decoded, "levels", 5, &outLevels, &n));
    EXPECT_EQ(std::vector<mama_f64_t>(levels, levels + 2),
              std::vector<mama_f64_t>(outLevels, outLevels + n));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getVectorString(decoded, "names", 6, &outNames, &n));
    ASSERT_EQ(3u, n);
    EXPECT_STREQ("bid", outNames[0]);
    EXPECT_STREQ("", outNames[1]);
    EXPECT_STREQ("ask", outNames[2]);
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getVectorPrice(decoded, "prices", 7, &outPrices, &n));
    ASSERT_EQ(2u, n);
    EXPECT_EQ(1, mamaPrice_equal(price, outPrices[1]));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getVectorDateTime(decoded, "times", 8, &outTimes, &n));
    ASSERT_EQ(1u, n);
    EXPECT_EQ(1, mamaDateTime_equal(time, outTimes[0]));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getVectorMsg(decoded, "msgs", 9, &outMsgs, &n));
    ASSERT_EQ(2u, n);
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getString(outMsgs[0], "venue", 1, &venue));
    EXPECT_STREQ("XLON", venue);
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getVectorI32(decoded, "none", 10, &outSizes, &n));
    EXPECT_EQ(0u, n);
    // a vector is read as its own type only
    EXPECT_EQ(MAMA_STATUS_WRONG_FIELD_TYPE,
              mamaMsg_getVectorI64(decoded, "sizes", 4, (const mama_i64_t**)&outSizes, &n));
    EXPECT_EQ(bytes, msgBytes(decoded)) << "unchanged: the received bytes are the encoding";

    mamaPrice_destroy(outPrice);
    mamaDateTime_destroy(outTime);
    mamaPrice_destroy(price);
    mamaDateTime_destroy(time);
}

// A change made through a sub-message reaches the encoding of the message
// holding it, also when both were decoded in place.
TEST_F(CorvexMsgTest, ChangingASubMessageReEncodesItsHolder)
{
    mamaMsg inner = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_createForPayloadBridge(&inner, mBridge));
    mOthers.push_back(inner);
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addI32(inner, "qty", 1, 5));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addMsg(mMsg, "order", 2, inner));
    std::vector<uint8_t> bytes = msgBytes(mMsg);

    mamaMsg decoded = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsgImpl_createForPayload(&decoded, nullptr, nullptr, 0));
    mOthers.push_back(decoded);
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsgImpl_setMsgBuffer(decoded, bytes.data(),
                                                       static_cast<uint32_t>(bytes.size()), 0));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsgImpl_setMessageOwner(decoded, 1));
    mamaMsg sub = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getMsg(decoded, "order", 2, &sub));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateI32(sub, "qty", 1, 7));
    std::fill(bytes.begin(), bytes.end(), 0xEE); // nothing may still point into it

    mamaMsg again = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, decode(msgBytes(decoded), &again));
    mamaMsg againSub = nullptr;
    mama_i32_t qty = 0;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getMsg(again, "order", 2, &againSub));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getI32(againSub, "qty", 1, &qty));
    EXPECT_EQ(7, qty);
}

// Composite fields get the same protection as the rest: every truncation, a
// vector count beyond the buffer and nesting beyond the limit are refused.
TEST_F(CorvexMsgTest, DamagedCompositeFieldsAreRefused)
{
    const mama_u64_t values[] = {1, 2, 3};
    const char* names[] = {"a", "bc"};
    mamaMsg inner = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_createForPayloadBridge(&inner, mBridge));
    mOthers.push_back(inner);
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addVectorString(inner, "names", 1, names, 2));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addVectorU64(mMsg, "v", 1, values, 3));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addMsg(mMsg, "m", 2, inner));
    const std::vector<uint8_t> good = msgBytes(mMsg);
    mamaMsg decoded = nullptr;
    for (size_t length = 1; length < good.size(); ++length)
    {
        std::vector<uint8_t> prefix(good.begin(), good.begin() + length);
        EXPECT_EQ(MAMA_STATUS_PLATFORM, decode(prefix, &decoded)) << "length " << length;
    }
    // field 1: type, fid(2), name size(2), "v\0", then the u32 count
    std::vector<uint8_t> huge = good;
    huge[6 + 7 + 3] = 0x7F;
    EXPECT_EQ(MAMA_STATUS_PLATFORM, decode(huge, &decoded));

    // a date-time the host cannot hold: nanoseconds beyond the second, an
    // unknown precision (field: type, fid, name size, "t", then the value)
    mamaMsg withTime = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_createForPayloadBridge(&withTime, mBridge));
    mOthers.push_back(withTime);
    mamaDateTime time = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaDateTime_create(&time));
    mamaDateTime_setEpochTimeExt(time, 1700000000, 5);
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addDateTime(withTime, "t", 1, time));
    mamaDateTime_destroy(time);
    const std::vector<uint8_t> goodTime = msgBytes(withTime);
    const size_t value = 6 + 7;
    std::vector<uint8_t> badNanos = goodTime;
    badNanos[value + 11] = 0x40; // about 1.07e9 nanoseconds
    EXPECT_EQ(MAMA_STATUS_PLATFORM, decode(badNanos, &decoded));
    std::vector<uint8_t> badPrecision = goodTime;
    badPrecision[value + 12] = 200;
    EXPECT_EQ(MAMA_STATUS_PLATFORM, decode(badPrecision, &decoded));
    EXPECT_EQ(MAMA_STATUS_OK, decode(goodTime, &decoded));

    // 40 messages nested in one another: each level a MSG field holding the next
    std::vector<uint8_t> nested = {'1', 2, 0, 0, 0, 0};
    for (int level = 0; level < 40; ++level)
    {
        std::vector<uint8_t> outer = {'1', 2, 1, 0, 0, 0, MAMA_FIELD_TYPE_MSG, 1, 0, 0, 0};
        const uint32_t size = static_cast<uint32_t>(nested.size());
        for (int i = 0; i < 4; ++i)
        {
            outer.push_back(static_cast<uint8_t>(size >> (8 * i)));
        }
        outer.insert(outer.end(), nested.begin(), nested.end());
        nested.swap(outer);
        if (level == 20)
        {
            EXPECT_EQ(MAMA_STATUS_OK, decode(nested, &decoded)) << "within the limit";
        }
    }
    EXPECT_EQ(MAMA_STATUS_PLATFORM, decode(nested, &decoded));
}

// Buffers of format version 1 (scalars, strings, opaque values) still decode.
TEST_F(CorvexMsgTest, VersionOneBuffersStillDecode)
{
    const std::vector<uint8_t> v1 = {'1', 1, 1,  0, 0, 0, MAMA_FIELD_TYPE_I32, 7, 0, 2, 0,
                                     'n', 0, 42, 0, 0, 0};
    mamaMsg decoded = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, decode(v1, &decoded));
    mama_i32_t value = 0;
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getI32(decoded, "n", 7, &value));
    EXPECT_EQ(42, value);
    std::vector<uint8_t> vectorInV1 = {'1', 1, 1, 0, 0, 0, MAMA_FIELD_TYPE_VECTOR_U8, 7, 0, 0,
                                       0,   1, 0, 0, 0, 9};
    EXPECT_EQ(MAMA_STATUS_PLATFORM, decode(vectorInV1, &decoded)) << "vectors came with version 2";
}

} // namespace
