#include <cinttypes>
#include <cstdio>
#include <random>

#include "clientError.h"
#include "testControl.h"

extern "C" corvexClient_returnCode_t corvexClient_generateUUIDString(char* buffer, size_t size)
{
    CORVEX_TEST_HOOK("corvexClient_generateUUIDString", "size=%zu", size);
    if (!buffer)
        return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
    if (size < CORVEXCLIENT_UUID_STRING_SIZE)
        return corvexError_fail(CORVEXCLIENT_SUBCODE_BUFFER_TOO_SMALL);
    /* Seeded once per thread from the system's entropy. */
    thread_local std::mt19937_64 generator = []
    {
        std::random_device device;
        std::seed_seq seed{device(), device(), device(), device()};
        return std::mt19937_64(seed);
    }();
    uint64_t high = generator();
    uint64_t low = generator();
    high = (high & 0xffffffffffff0fffULL) | 0x0000000000004000ULL; /* version 4 */
    low = (low & 0x3fffffffffffffffULL) | 0x8000000000000000ULL;   /* RFC 4122 variant */
    snprintf(buffer, size, "%08" PRIx64 "-%04" PRIx64 "-%04" PRIx64 "-%04" PRIx64 "-%012" PRIx64,
             high >> 32, (high >> 16) & 0xffff, high & 0xffff, low >> 48,
             low & uint64_t{0xffffffffffff});
    return CORVEXCLIENT_OK;
}
