/* The library side of test control: each public call passes through
 * CORVEX_TEST_HOOK, which costs one relaxed load unless a test armed a
 * failure or turned recording on. */
#ifndef CORVEXCLIENT_TEST_CONTROL_H
#define CORVEXCLIENT_TEST_CONTROL_H

#include <atomic>

#include "corvexClient.h"

extern std::atomic<bool> gCorvexTestActive;

/* Records the call when recording is on; answers true (with the code in
 * *code) when an armed failure is consumed. */
bool corvexTest_enter (const char* operation, corvexClient_returnCode_t* code, const char* format, ...)
    __attribute__ ((format (printf, 3, 4)));

#define CORVEX_TEST_HOOK(operation, ...)                                                                     \
    do                                                                                                       \
    {                                                                                                        \
        corvexClient_returnCode_t injected_;                                                                 \
        if (gCorvexTestActive.load (std::memory_order_relaxed)                                               \
            && corvexTest_enter (operation, &injected_, __VA_ARGS__))                                        \
            return injected_;                                                                                \
    } while (0)

/* Pops the next forced cache outcome; false when none is queued. */
bool corvexTest_takeCacheOutcome (corvexClient_returnCode_t* code, corvexClient_subCode_t* subCode);

#endif
