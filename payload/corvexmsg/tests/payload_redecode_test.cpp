// One received message decoded again and again, as a queue's reusable
// message is: each decode shows exactly the fields of its own bytes, whatever
// the earlier ones held, and refused bytes leave the last good decode intact.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <mama/datetime.h>
#include <mama/mama.h>
#include <mama/msg.h>
#include <mama/price.h>
#include <mama/integration/msg.h>

#include "msgBytes.h"

namespace
{

class RedecodeTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ(MAMA_STATUS_OK, mama_loadPayloadBridge(&mBridge, "corvexmsg"));
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsgImpl_createForPayload(&mDecoded, nullptr, nullptr, 0));
    }

    void TearDown() override
    {
        for (mamaMsg m : mMade)
        {
            mamaMsg_destroy(m);
        }
        // Owning what it decoded into, its destroy frees that.
        mamaMsgImpl_setMessageOwner(mDecoded, 1);
        mamaMsg_destroy(mDecoded);
    }

    // A message of the payload, destroyed after the test.
    mamaMsg create()
    {
        mamaMsg msg = nullptr;
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_createForPayloadBridge(&msg, mBridge));
        mMade.push_back(msg);
        return msg;
    }

    // The encoded bytes of a message holding the named int fields, fid i+1.
    std::vector<uint8_t> encode(const std::vector<std::pair<std::string, int32_t>>& fields,
                                const char* text = nullptr)
    {
        mamaMsg msg = nullptr;
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_createForPayloadBridge(&msg, mBridge));
        for (size_t i = 0; i < fields.size(); ++i)
        {
            EXPECT_EQ(MAMA_STATUS_OK,
                      mamaMsg_addI32(msg, fields[i].first.c_str(), static_cast<mama_fid_t>(i + 1),
                                     fields[i].second));
        }
        if (text != nullptr)
        {
            EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_addString(msg, "text", 100, text));
        }
        std::vector<uint8_t> encoded = msgBytes(msg);
        mamaMsg_destroy(msg);
        return encoded;
    }

    mama_status decode(const std::vector<uint8_t>& bytes)
    {
        return mamaMsgImpl_setMsgBuffer(mDecoded, bytes.data(), static_cast<uint32_t>(bytes.size()),
                                        bytes[0]);
    }

    // Every field of the decoded message, in order, as name=value.
    std::vector<std::string> fields()
    {
        std::vector<std::string> seen;
        mama_size_t count = 0;
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_getNumFields(mDecoded, &count));
        mamaMsgIterator iterator = nullptr;
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsgIterator_create(&iterator, nullptr));
        EXPECT_EQ(MAMA_STATUS_OK, mamaMsgIterator_associate(iterator, mDecoded));
        while (mamaMsgField field = mamaMsgIterator_next(iterator))
        {
            const char* name = nullptr;
            mamaMsgField_getName(field, &name);
            mama_i32_t value = 0;
            const char* text = nullptr;
            std::string shown =
                mamaMsgField_getI32(field, &value) == MAMA_STATUS_OK
                    ? std::to_string(value)
                    : (mamaMsgField_getString(field, &text) == MAMA_STATUS_OK ? text : "?");
            seen.push_back(std::string(name != nullptr ? name : "") + "=" + shown);
        }
        mamaMsgIterator_destroy(iterator);
        EXPECT_EQ(seen.size(), count);
        return seen;
    }

    mamaPayloadBridge mBridge = nullptr;
    mamaMsg mDecoded = nullptr;
    std::vector<mamaMsg> mMade;
};

TEST_F(RedecodeTest, EachDecodeShowsOnlyItsOwnFields)
{
    const std::vector<uint8_t> three = encode({{"a", 1}, {"b", 2}, {"c", 3}}, "first");
    const std::vector<uint8_t> one = encode({{"z", 26}});
    const std::vector<uint8_t> five = encode({{"v", 5}, {"w", 6}, {"x", 7}, {"y", 8}, {"z", 9}});

    ASSERT_EQ(MAMA_STATUS_OK, decode(three));
    EXPECT_EQ((std::vector<std::string>{"a=1", "b=2", "c=3", "text=first"}), fields());

    // Fewer fields than before: none of the earlier ones remain.
    ASSERT_EQ(MAMA_STATUS_OK, decode(one));
    EXPECT_EQ((std::vector<std::string>{"z=26"}), fields());
    mama_i32_t value = 0;
    EXPECT_NE(MAMA_STATUS_OK, mamaMsg_getI32(mDecoded, "a", 0, &value));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getI32(mDecoded, nullptr, 1, &value));
    EXPECT_EQ(26, value);
    const char* text = nullptr;
    EXPECT_NE(MAMA_STATUS_OK, mamaMsg_getString(mDecoded, "text", 100, &text));

    // More fields than any decode before.
    ASSERT_EQ(MAMA_STATUS_OK, decode(five));
    EXPECT_EQ((std::vector<std::string>{"v=5", "w=6", "x=7", "y=8", "z=9"}), fields());

    // The first bytes again, read in place from their own buffer.
    ASSERT_EQ(MAMA_STATUS_OK, decode(three));
    EXPECT_EQ((std::vector<std::string>{"a=1", "b=2", "c=3", "text=first"}), fields());
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getString(mDecoded, "text", 100, &text));
    EXPECT_TRUE(reinterpret_cast<const uint8_t*>(text) >= three.data() &&
                reinterpret_cast<const uint8_t*>(text) < three.data() + three.size());
}

TEST_F(RedecodeTest, RefusedBytesLeaveTheLastGoodDecode)
{
    const std::vector<uint8_t> good = encode({{"a", 1}, {"b", 2}});
    ASSERT_EQ(MAMA_STATUS_OK, decode(good));

    // Fields that decode, then a truncated one; and trailing bytes after
    // well-formed fields.
    std::vector<uint8_t> longer = encode({{"p", 10}, {"q", 11}, {"r", 12}});
    std::vector<uint8_t> truncated(longer.begin(), longer.end() - 2);
    EXPECT_NE(MAMA_STATUS_OK, decode(truncated));
    EXPECT_EQ((std::vector<std::string>{"a=1", "b=2"}), fields());
    longer.push_back(0);
    EXPECT_NE(MAMA_STATUS_OK, decode(longer));
    EXPECT_EQ((std::vector<std::string>{"a=1", "b=2"}), fields());

    // The next good bytes decode in full, nothing left from the refused ones.
    const std::vector<uint8_t> next = encode({{"c", 3}});
    ASSERT_EQ(MAMA_STATUS_OK, decode(next));
    EXPECT_EQ((std::vector<std::string>{"c=3"}), fields());
}

// Fields of one kind decoded where fields of another were, sub-messages and
// vectors of other sizes: each decode reads as the message it came from, also
// after its vectors and sub-messages were read (views built, sub-messages
// handed out).
TEST_F(RedecodeTest, CompositeFieldsDecodeAfreshOverOthers)
{
    auto withInts = [&](std::vector<std::pair<std::string, int32_t>> fields)
    {
        mamaMsg msg = create();
        for (size_t i = 0; i < fields.size(); ++i)
        {
            EXPECT_EQ(MAMA_STATUS_OK,
                      mamaMsg_addI32(msg, fields[i].first.c_str(), static_cast<mama_fid_t>(i + 1),
                                     fields[i].second));
        }
        return msg;
    };
    // fid 1: a sub-message, then a number, then a sub-message again; fid 2:
    // vectors of 3, 2 and 4 elements; fid 3: 2, 1 and 3 sub-messages; fid 4:
    // a string, then a sub-message
    const int32_t ints[] = {1, 2, 3, 4};
    mamaMsg a = create();
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addMsg(a, "m", 1, withInts({{"a", 1}, {"b", 2}})));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addVectorI32(a, "v", 2, ints, 3));
    const mamaMsg twoParts[] = {withInts({{"x", 1}}), withInts({{"y", 2}, {"w", 3}})};
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addVectorMsg(a, "vm", 3, twoParts, 2));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addString(a, "s", 4, "text"));
    mamaMsg b = create();
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addI32(b, "m", 1, 5));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addVectorI32(b, "v", 2, ints + 2, 2));
    const mamaMsg onePart[] = {withInts({{"z", 3}})};
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addVectorMsg(b, "vm", 3, onePart, 1));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addMsg(b, "s", 4, withInts({{"q", 9}})));
    mamaMsg c = create();
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addMsg(c, "m", 1, withInts({{"c", 3}})));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addVectorI32(c, "v", 2, ints, 4));
    const mamaMsg threeParts[] = {withInts({}), withInts({{"r", 4}}), withInts({{"t", 5}})};
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addVectorMsg(c, "vm", 3, threeParts, 3));
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addString(c, "s", 4, "other text"));

    std::vector<std::vector<uint8_t>> wires;
    std::vector<std::string> texts;
    for (mamaMsg m : {a, b, c})
    {
        wires.push_back(msgBytes(m));
        texts.push_back(mamaMsg_toString(m));
    }
    for (size_t k : {0, 1, 2, 0, 2, 1})
    {
        ASSERT_EQ(MAMA_STATUS_OK, decode(wires[k]));
        EXPECT_EQ(texts[k], mamaMsg_toString(mDecoded)) << "message " << k;
        // read what builds views and hands out sub-messages
        const mama_i32_t* values = nullptr;
        const mamaMsg* parts = nullptr;
        mama_size_t count = 0;
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getVectorI32(mDecoded, "v", 2, &values, &count));
        const size_t first[] = {0, 2, 0};
        const size_t sizes[] = {3, 2, 4};
        const size_t partCounts[] = {2, 1, 3};
        EXPECT_EQ(std::vector<int32_t>(ints + first[k], ints + first[k] + sizes[k]),
                  std::vector<int32_t>(values, values + count));
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_getVectorMsg(mDecoded, "vm", 3, &parts, &count));
        EXPECT_EQ(partCounts[k], count);
        mamaMsg sub = nullptr;
        EXPECT_EQ(k != 1, mamaMsg_getMsg(mDecoded, "m", 1, &sub) == MAMA_STATUS_OK);
        EXPECT_EQ(wires[k], msgBytes(mDecoded));
        mamaMsg copy = nullptr;
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_copy(mDecoded, &copy));
        EXPECT_EQ(texts[k], mamaMsg_toString(copy)) << "copy of message " << k;
        mamaMsg_destroy(copy);
    }
}

// One field decoded over another of each kind, in each order, with the
// values of the kind before read (views built) or changed (copies made of the
// names and values it read in place) in between: the field reads, copies and
// re-encodes as the one its bytes hold, nothing of the kind before left.
TEST_F(RedecodeTest, EachKindDecodesOverEveryOther)
{
    mamaPrice price = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaPrice_create(&price));
    mamaPrice_setValue(price, 12.25);
    mamaPrice_setPrecision(price, MAMA_PRICE_PREC_100);
    mamaDateTime time = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaDateTime_create(&time));
    mamaDateTime_setEpochTimeExt(time, 1700000000, 250000000);
    const mama_f64_t reals[] = {1.5, -2.5, 3.25};
    const char* names[] = {"one", "two"};
    const uint8_t bytes[] = {1, 0, 2, 0, 3, 0, 4};

    mamaMsg inner = create();
    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addI32(inner, "in", 7, -7));
    const mamaMsg parts[] = {inner, inner};
    // each a field "f", fid 1, between two numbers that keep their kind
    const std::vector<std::function<mama_status(mamaMsg)>> kinds = {
        [](mamaMsg m) { return mamaMsg_addI32(m, "f", 1, -5); },
        [](mamaMsg m) { return mamaMsg_addU64(m, "f", 1, 0x8000000000000005ull); },
        [](mamaMsg m) { return mamaMsg_addF64(m, "f", 1, 2.5); },
        [](mamaMsg m) { return mamaMsg_addBool(m, "f", 1, 1); },
        [](mamaMsg m) { return mamaMsg_addString(m, "f", 1, "text"); },
        [&](mamaMsg m) { return mamaMsg_addOpaque(m, "f", 1, bytes, sizeof bytes); },
        [&](mamaMsg m) { return mamaMsg_addPrice(m, "f", 1, price); },
        [&](mamaMsg m) { return mamaMsg_addDateTime(m, "f", 1, time); },
        [&](mamaMsg m) { return mamaMsg_addVectorF64(m, "f", 1, reals, 3); },
        [&](mamaMsg m) { return mamaMsg_addVectorString(m, "f", 1, names, 2); },
        [&](mamaMsg m) { return mamaMsg_addMsg(m, "f", 1, inner); },
        [&](mamaMsg m) { return mamaMsg_addVectorMsg(m, "f", 1, parts, 2); },
    };
    std::vector<std::vector<uint8_t>> wires;
    std::vector<std::string> texts;
    for (const auto& add : kinds)
    {
        mamaMsg msg = create();
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addU32(msg, "before", 2, 2));
        ASSERT_EQ(MAMA_STATUS_OK, add(msg));
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addI64(msg, "after", 3, -3));
        wires.push_back(msgBytes(msg));
        texts.push_back(mamaMsg_toString(msg));
    }

    for (bool change : {false, true})
    {
        for (size_t from = 0; from < kinds.size(); ++from)
        {
            for (size_t to = 0; to < kinds.size(); ++to)
            {
                ASSERT_EQ(MAMA_STATUS_OK, decode(wires[from]));
                const mama_f64_t* values = nullptr;
                const char** strings = nullptr;
                const mamaMsg* msgs = nullptr;
                mama_size_t count = 0;
                mamaMsg_getVectorF64(mDecoded, "f", 1, &values, &count);
                mamaMsg_getVectorString(mDecoded, "f", 1, &strings, &count);
                mamaMsg_getVectorMsg(mDecoded, "f", 1, &msgs, &count);
                if (change)
                {
                    mamaMsgImpl_setMessageOwner(mDecoded, 1);
                    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateU32(mDecoded, "before", 2, 20));
                }
                ASSERT_EQ(MAMA_STATUS_OK, decode(wires[to]));
                // twice: the second decodes into the fields the first replaced
                for (int again = 0; again < 2; ++again)
                {
                    const std::string what = std::to_string(from) + " then " + std::to_string(to) +
                                             (change ? ", changed" : "");
                    EXPECT_EQ(texts[to], mamaMsg_toString(mDecoded)) << what;
                    mamaMsg copy = nullptr;
                    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_copy(mDecoded, &copy));
                    EXPECT_EQ(texts[to], mamaMsg_toString(copy)) << "copy, " << what;
                    ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateI64(copy, "after", 3, -3));
                    EXPECT_EQ(wires[to], msgBytes(copy)) << "copy, " << what;
                    mamaMsg_destroy(copy);
                    ASSERT_EQ(MAMA_STATUS_OK, decode(wires[to]));
                }
            }
        }
    }
    mamaDateTime_destroy(time);
    mamaPrice_destroy(price);
}

} // namespace
