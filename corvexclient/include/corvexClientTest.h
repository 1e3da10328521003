/* Test control of the Corvex client library: fault injection, event
 * injection, call recording and configuration of the embedded router. Only
 * tests include this header; nothing here is needed to use the library.
 * All functions are safe from any thread.
 *
 * These functions exist only in the test build of the library (target
 * corvexclient_testing, lib/testing/libcorvexclient.so); the production
 * library neither exports them nor passes any call through test control.
 * A test binary links the test build, so every library of the process that
 * needs libcorvexclient.so (the bridge too) binds to that one copy. */
#ifndef CORVEX_CLIENT_TEST_H
#define CORVEX_CLIENT_TEST_H

#include "corvexClient.h"

#if defined(__cplusplus)
extern "C"
{
#endif

    /* ---- Fault injection ---------------------------------------------------- */

    /* Makes the next call of the operation named exactly as its function (for
     * example "corvexClient_session_connect") fail with returnCode, having set
     * the last-error record to (subCode, responseCode 0, text) when the code is
     * CORVEXCLIENT_FAIL or CORVEXCLIENT_NOT_READY. The call does nothing else.
     * Each call of failNext arms one failure; several arm several, used in order.
     * Any operation of corvexClient.h that returns a code may be named. */
    CORVEXCLIENT_API void corvexClientTest_failNext(const char* operation,
                                                    corvexClient_returnCode_t returnCode,
                                                    corvexClient_subCode_t subCode,
                                                    const char* text);
    /* Disarms every pending failure. */
    CORVEXCLIENT_API void corvexClientTest_clearFailures(void);

    /* ---- Event injection ---------------------------------------------------- */

    /* Raises a session event on the context thread as if the router had
     * reported it: the last-error record holds (subCode, responseCode, info)
     * during the callback. Injecting CORVEXCLIENT_SESSION_EVENT_RECONNECTED places
     * the router subscriptions again when "SESSION_REAPPLY_SUBSCRIPTIONS" is on.
     * info may be NULL (an empty text). */
    CORVEXCLIENT_API corvexClient_returnCode_t corvexClientTest_injectSessionEvent(
        corvexClient_session_t session, corvexClient_session_event_t event,
        corvexClient_subCode_t subCode, int32_t responseCode, const char* info, void* correlation);
    /* The next message delivered to the session carries the discard indication. */
    CORVEXCLIENT_API corvexClient_returnCode_t
    corvexClientTest_injectDiscardIndication(corvexClient_session_t session);
    /* The next cache request on any cache session completes with this outcome
     * instead of its real one (no cached message is delivered). Several calls
     * queue several outcomes. */
    CORVEXCLIENT_API void corvexClientTest_setNextCacheOutcome(corvexClient_returnCode_t returnCode,
                                                               corvexClient_subCode_t subCode);

    /* ---- Call recording ----------------------------------------------------- */

    /* While on, each call of the library records its operation name and a text
     * of its arguments, e.g. "flags=16 topic=a/b correlation=0x1234". */
    CORVEXCLIENT_API void corvexClientTest_setRecording(int on);
    CORVEXCLIENT_API void corvexClientTest_clearCalls(void);
    /* Number of recorded calls of the operation (all calls for NULL). */
    CORVEXCLIENT_API uint32_t corvexClientTest_callCount(const char* operation);
    /* Copies the arguments text of the index-th (from 0) recorded call of the
     * operation into buffer; CORVEXCLIENT_NOT_FOUND when there is no such call. */
    CORVEXCLIENT_API corvexClient_returnCode_t corvexClientTest_getCall(const char* operation,
                                                                        uint32_t index,
                                                                        char* buffer,
                                                                        size_t bufferSize);

    /* ---- Embedded router configuration -------------------------------------- */

    /* Routers are named as in "SESSION_ROUTER" ("embedded" by default). A router
     * exists from its first configuration or session until corvexClient_cleanup;
     * configuration applies to sessions connected later and to later calls. It
     * overrides the sessions' "SESSION_ROUTER_CACHED_TOPICS" and
     * "SESSION_ROUTER_ACCESS_RULES", before or after they were applied. */

#define CORVEXCLIENT_TEST_ACL_SUBSCRIBE 0x1
#define CORVEXCLIENT_TEST_ACL_PUBLISH 0x2
#define CORVEXCLIENT_TEST_ACL_DENY 0
#define CORVEXCLIENT_TEST_ACL_ALLOW 1

    /* Access rule: for users matching userName ("*" for everyone) and topics
     * matching topicPattern (subscription syntax; a subscription is checked with
     * its own text), the operations in the mask are allowed or denied. Rules are
     * checked in the order added, all ahead of the rules of
     * "SESSION_ROUTER_ACCESS_RULES"; the first match decides; without a match the
     * operation is allowed. A subscription pattern that overlaps a denied
     * pattern without being contained in it is decided by its own text. */
    CORVEXCLIENT_API corvexClient_returnCode_t corvexClientTest_addAclRule(const char* routerName,
                                                                           const char* userName,
                                                                           const char* topicPattern,
                                                                           uint32_t operations,
                                                                           int32_t action);
    /* Refuses the login of userName ("*" for everyone) with subCode, which should
     * be one of the LOGIN_* sub-codes. */
    CORVEXCLIENT_API corvexClient_returnCode_t corvexClientTest_denyLogin(
        const char* routerName, const char* userName, corvexClient_subCode_t subCode);
    /* Removes every access rule (the configured ones too) and login refusal. */
    CORVEXCLIENT_API corvexClient_returnCode_t corvexClientTest_clearAcl(const char* routerName);

    /* Topics matching the pattern are kept in the router's last-value cache from
     * the next publish on. The first call replaces what "SESSION_ROUTER_CACHED_TOPICS"
     * set (and forgets what was cached under it): only the patterns added are
     * cached then. Peer-to-peer topics are never cached. */
    CORVEXCLIENT_API corvexClient_returnCode_t
    corvexClientTest_addCachedTopics(const char* routerName, const char* topicPattern);
    /* Forgets every cached message and every cached-topic pattern: nothing is
     * cached until addCachedTopics, whatever the sessions configured. */
    CORVEXCLIENT_API corvexClient_returnCode_t corvexClientTest_clearCache(const char* routerName);

#if defined(__cplusplus)
}
#endif

#endif /* CORVEX_CLIENT_TEST_H */
