// One received message decoded again and again, as a queue's reusable
// message is: each decode shows exactly the fields of its own bytes, whatever
// the earlier ones held, and refused bytes leave the last good decode intact.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <mama/mama.h>
#include <mama/msg.h>
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
        // Owning what it decoded into, its destroy frees that.
        mamaMsgImpl_setMessageOwner(mDecoded, 1);
        mamaMsg_destroy(mDecoded);
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

} // namespace
