#include "msgBytes.h"

#include <gtest/gtest.h>

std::vector<uint8_t> msgBytes(mamaMsg msg)
{
    const void* buffer = nullptr;
    mama_size_t length = 0;
    EXPECT_EQ(MAMA_STATUS_OK, mamaMsg_getByteBuffer(msg, &buffer, &length));
    const uint8_t* bytes = static_cast<const uint8_t*>(buffer);
    return bytes != nullptr ? std::vector<uint8_t>(bytes, bytes + length) : std::vector<uint8_t>();
}
