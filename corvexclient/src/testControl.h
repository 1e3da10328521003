/* The library side of test control. The library is built twice from the same
 * sources: the production build, where CORVEX_TEST_HOOK compiles to nothing
 * and no test control is linked in, and the test build (CORVEX_TEST_CONTROL
 * defined), where each public call passes through CORVEX_TEST_HOOK, which
 * costs one relaxed load unless a test armed a failure or turned recording
 * on. */
#ifndef CORVEXCLIENT_TEST_CONTROL_H
#define CORVEXCLIENT_TEST_CONTROL_H

#include <atomic>

#include "corvexClient.h"

/* Records the call when recording is on; answers true (with the code in
 * *code) when an armed failure is consumed. Defined by the test build only. */
bool corvexTest_enter(const char* operation, corvexClient_returnCode_t* code, const char* format,
                      ...) __attribute__((format(printf, 3, 4)));

#if defined(CORVEX_TEST_CONTROL)

extern std::atomic<bool> gCorvexTestActive;

#define CORVEX_TEST_HOOK(operation, ...)                                                           \
    do                                                                                             \
    {                                                                                              \
        corvexClient_returnCode_t injected_;                                                       \
        if (gCorvexTestActive.load(std::memory_order_relaxed) &&                                   \
            corvexTest_enter(operation, &injected_, __VA_ARGS__))                                  \
            return injected_;                                                                      \
    } while (0)

/* Pops the next forced cache outcome; false when none is queued. */
bool corvexTest_takeCacheOutcome(corvexClient_returnCode_t* code, corvexClient_subCode_t* subCode);

/* Takes back the discard indication a test asked for on the session: true
 * once for each request. */
bool corvexTest_takeDiscardIndication(corvexClient_session_t session);

#else

/* The arguments stay compiled (and their format checked) as an operand of
 * sizeof, which evaluates nothing and references no symbol, so both builds
 * see the same code and warnings. */
#define CORVEX_TEST_HOOK(operation, ...)                                                           \
    do                                                                                             \
    {                                                                                              \
        (void)sizeof(corvexTest_enter(operation, nullptr, __VA_ARGS__));                           \
    } while (0)

inline bool corvexTest_takeCacheOutcome(corvexClient_returnCode_t*, corvexClient_subCode_t*)
{
    return false;
}

inline bool corvexTest_takeDiscardIndication(corvexClient_session_t)
{
    return false;
}

#endif

#endif
