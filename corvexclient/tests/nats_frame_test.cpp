/* The payload frame that carries a message's user properties over NATS. */
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "router/natsFrame.h"

namespace
{
const std::string kMagic("\0CX", 3);

std::string framed(const std::string& properties, const std::string& content)
{
    std::string out;
    corvexNatsFrame_appendHeader(out, static_cast<uint32_t>(properties.size()));
    return out + properties + content;
}

CorvexNatsFrameKind read(const std::string& payload, CorvexNatsFrame* frame)
{
    return corvexNatsFrame_read(payload.data(), payload.size(), frame);
}

std::string text(const char* bytes, uint32_t length)
{
    return bytes ? std::string(bytes, length) : std::string("(none)");
}
} // namespace

/* A frame's first bytes are the documented ones, and what was framed reads
 * back: properties and content, an empty property text, an empty content,
 * and content that itself starts like a frame. */
TEST(NatsFrameTest, FramesReadBackAsTheyWereWritten)
{
    const std::string properties = "k=sv,n=i-3";
    EXPECT_EQ(kMagic + '\1' + std::string("\0\0\0\x0a", 4) + properties + "content",
              framed(properties, "content"));
    struct Case
    {
        std::string mProperties;
        std::string mContent;
    };
    for (const Case& sent :
         {Case{properties, "content"}, Case{"", "content"}, Case{properties, ""},
          Case{"", kMagic + "inner"}, Case{std::string(70000, 'x'), std::string(3, '\0')}})
    {
        CorvexNatsFrame frame;
        const std::string payload = framed(sent.mProperties, sent.mContent);
        ASSERT_EQ(CORVEX_NATS_FRAME_OK, read(payload, &frame)) << sent.mContent;
        EXPECT_EQ(sent.mProperties.empty() ? "(none)" : sent.mProperties,
                  text(frame.mProperties, frame.mPropertiesLength));
        EXPECT_EQ(sent.mContent, text(frame.mContent, frame.mContentLength));
    }
}

/* Only content that starts with the three bytes needs a frame without
 * properties; any other payload, a NATS program's plain one, is content
 * alone. */
TEST(NatsFrameTest, PayloadsWithoutTheMagicBytesAreContentAlone)
{
    EXPECT_TRUE(corvexNatsFrame_needed(kMagic.data(), kMagic.size()));
    EXPECT_TRUE(corvexNatsFrame_needed((kMagic + "x").data(), 4));
    for (const std::string& plain :
         {std::string(), std::string("hello"), std::string("\0C", 2), std::string("\0CY", 3),
          std::string("CX\0", 3), std::string(1, '\0')})
    {
        EXPECT_FALSE(corvexNatsFrame_needed(plain.data(), plain.size()));
        CorvexNatsFrame frame;
        ASSERT_EQ(CORVEX_NATS_FRAME_NONE, read(plain, &frame));
        EXPECT_EQ(nullptr, frame.mProperties);
        EXPECT_EQ(plain, std::string(frame.mContent, frame.mContentLength));
    }
    EXPECT_FALSE(corvexNatsFrame_needed(nullptr, 0));
}

/* A payload that starts like a frame but is none: too short for its first
 * bytes, another version, a property length beyond the payload (also one
 * that would wrap around). */
TEST(NatsFrameTest, MalformedFramesAreRecognised)
{
    const std::string good = framed("k=sv", "content");
    std::string otherVersion = good;
    otherVersion[3] = 2;
    std::string tooLong = good;
    tooLong[7] = static_cast<char>(good.size());
    std::string wrapping = good;
    for (size_t i = 4; i < 8; ++i)
        wrapping[i] = '\xff';
    for (const std::string& bad : {kMagic, kMagic + '\1', good.substr(0, 7), otherVersion, tooLong,
                                   wrapping, good.substr(0, 10)})
    {
        CorvexNatsFrame frame;
        EXPECT_EQ(CORVEX_NATS_FRAME_MALFORMED, read(bad, &frame)) << bad.size();
    }
}

/* A property text is checked before a message is delivered, and decoded
 * into a read-only map only when asked for. */
TEST(NatsFrameTest, PropertyTextsAreCheckedAndDecoded)
{
    std::string text;
    corvexNatsProperties_add(&text, "k, y", true, "v=1%", 0);
    corvexNatsProperties_add(&text, "n", false, nullptr, -2147483647 - 1);
    corvexNatsProperties_add(&text, "e", true, "", 0);
    EXPECT_EQ("k%2C%20y=sv%3D1%25,n=i-2147483648,e=s", text);
    ASSERT_TRUE(corvexNatsProperties_valid(text.data(), text.size()));
    char* storage = nullptr;
    uint32_t capacity = 0;
    corvexClientContainer* map = corvexNatsProperties_decode(
        text.data(), static_cast<uint32_t>(text.size()), &storage, &capacity);
    ASSERT_NE(nullptr, map);
    uint32_t count = 0;
    EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_container_getSize(map, &count));
    EXPECT_EQ(3u, count);
    const char* value = nullptr;
    EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_container_getStringPtr(map, "k, y", &value));
    EXPECT_STREQ("v=1%", value);
    int32_t number = 0;
    EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_container_getInt32(map, "n", &number));
    EXPECT_EQ(-2147483647 - 1, number);
    EXPECT_NE(CORVEXCLIENT_OK, corvexClient_container_addString(map, "more", "x"));
    /* The storage is reused for the next text, and grows for a longer one. */
    const std::string longer = "k=s" + std::string(5000, 'x');
    EXPECT_NE(nullptr,
              corvexNatsProperties_decode(longer.data(), static_cast<uint32_t>(longer.size()),
                                          &storage, &capacity));
    EXPECT_GE(capacity, 5000u);
    std::free(storage);

    for (const std::string& bad :
         {std::string(), std::string("k"), std::string("k=x1"), std::string("k=i"),
          std::string("k=i12x"), std::string("k=i99999999999"), std::string("k=sv,"),
          std::string(",k=sv"), std::string("k=s%zz"), std::string("k=s\0", 4),
          std::string("k=s%00"), std::string("k=sv,,n=i1")})
        EXPECT_FALSE(corvexNatsProperties_valid(bad.data(), bad.size())) << bad;
}
