/* Corvex messaging client library: the platform interface.
 *
 * One process initialises the library once, creates a context (which owns one
 * thread), and creates sessions on that context. Sessions connect to a router,
 * subscribe to topics and send messages. Every callback of every session of a
 * context (session events, received messages, topic-dispatch removals, cache
 * events, timers) runs on the context's thread, one at a time.
 *
 * Conventions that hold for every call below:
 * - Results are corvexClient_returnCode_t values. CORVEXCLIENT_OK is success.
 *   A call that fails with CORVEXCLIENT_FAIL or CORVEXCLIENT_NOT_READY leaves
 *   a description in the calling thread's last-error record
 *   (corvexClient_getLastErrorInfo); the other codes carry no details.
 * - Handles are released by calls that take the handle's address and clear it.
 * - Property arrays are null-terminated arrays of name/value text pairs:
 *   { name1, value1, name2, value2, ..., NULL }. Names are matched without
 *   regard to case; when a name appears twice the later value wins. Names the
 *   library does not know are ignored (and logged at debug level), so one
 *   array may carry properties meant for other layers.
 * - Topics are texts of at most CORVEXCLIENT_MAX_TOPIC_LEN bytes whose levels
 *   are separated by '/'. See "Topic matching" below for wildcards.
 */
#ifndef CORVEX_CLIENT_H
#define CORVEX_CLIENT_H

#include <stddef.h>
#include <stdint.h>

#if defined(__cplusplus)
extern "C"
{
#endif

#define CORVEXCLIENT_API __attribute__((visibility("default")))

    /* ------------------------------------------------------------------------ */
    /* Return codes                                                              */
    /* ------------------------------------------------------------------------ */

    typedef int32_t corvexClient_returnCode_t;

#define CORVEXCLIENT_FAIL (-1)     /* failed; details in the last-error record */
#define CORVEXCLIENT_OK 0          /* done */
#define CORVEXCLIENT_WOULD_BLOCK 1 /* refused for now: the call would have had to wait */
#define CORVEXCLIENT_IN_PROGRESS 2 /* accepted; the outcome follows as an event */
/* the session is not in a state to do this yet; details in the last-error record */
#define CORVEXCLIENT_NOT_READY 3
/* the thing asked for is not there (no reply-to, no attachment, no such map key); no details */
#define CORVEXCLIENT_NOT_FOUND 5
/* finished without everything that was asked for (a cache request without data) */
#define CORVEXCLIENT_INCOMPLETE 7

/* Receive callbacks answer one of these. */
#define CORVEXCLIENT_CALLBACK_OK 0 /* the library releases the message */
/* the callback keeps it; it frees it later with corvexClient_msg_free, on any thread */
#define CORVEXCLIENT_CALLBACK_TAKE_MSG 1

    /* ------------------------------------------------------------------------ */
    /* Sub-codes: why a call failed or why an event was raised.                 */
    /* The numbers are stable; corvexClient_subCodeToString gives the name.      */
    /* ------------------------------------------------------------------------ */

    typedef uint32_t corvexClient_subCode_t;

#define CORVEXCLIENT_SUBCODE_OK 0
#define CORVEXCLIENT_SUBCODE_BAD_ARGUMENT 1     /* a number out of range, an unknown flag */
#define CORVEXCLIENT_SUBCODE_NULL_ARGUMENT 2    /* a required pointer or handle was null */
#define CORVEXCLIENT_SUBCODE_NOT_INITIALIZED 3  /* corvexClient_initialize was not called */
#define CORVEXCLIENT_SUBCODE_BUFFER_TOO_SMALL 4 /* the caller's buffer cannot hold the result */
#define CORVEXCLIENT_SUBCODE_NO_MEMORY 5
#define CORVEXCLIENT_SUBCODE_INTERNAL_ERROR 6
#define CORVEXCLIENT_SUBCODE_BAD_STATE 7         /* not allowed in the object's current state */
#define CORVEXCLIENT_SUBCODE_NOT_CONNECTED 8     /* the session is not connected */
#define CORVEXCLIENT_SUBCODE_FIELD_MISSING 9     /* a message lacks a field the call needs */
#define CORVEXCLIENT_SUBCODE_MSG_REJECTED 10     /* the router refused a message */
#define CORVEXCLIENT_SUBCODE_UNKNOWN_PROPERTY 11 /* getProperty of a name the session lacks */
#define CORVEXCLIENT_SUBCODE_BAD_PROPERTY_VALUE 12
#define CORVEXCLIENT_SUBCODE_ON_CONTEXT_THREAD 13 /* a blocking call made from a callback */
#define CORVEXCLIENT_SUBCODE_THREAD_FAILURE 14    /* the context thread could not be started */
#define CORVEXCLIENT_SUBCODE_ALREADY_INITIALIZED 15
#define CORVEXCLIENT_SUBCODE_TOPIC_TOO_LONG 16
#define CORVEXCLIENT_SUBCODE_BAD_TOPIC 17       /* empty topic, empty level */
#define CORVEXCLIENT_SUBCODE_NOT_SUBSCRIBED 18  /* unsubscribe of an entry the session lacks */
#define CORVEXCLIENT_SUBCODE_LOGIN_REFUSED 19   /* the router refused the credentials */
#define CORVEXCLIENT_SUBCODE_CONNECT_REFUSED 20 /* no router answered or it refused the client */
#define CORVEXCLIENT_SUBCODE_CLIENT_NAME_IN_USE 21
#define CORVEXCLIENT_SUBCODE_UNSUPPORTED_ROUTER 22 /* "SESSION_ROUTER" names no known backend */
/* dispatch subscriptions need "SESSION_TOPIC_DISPATCH" */
#define CORVEXCLIENT_SUBCODE_TOPIC_DISPATCH_DISABLED 23
#define CORVEXCLIENT_SUBCODE_CONTAINER_FULL 24
#define CORVEXCLIENT_SUBCODE_CONTAINER_CLOSED 25      /* the map was closed or is read-only */
#define CORVEXCLIENT_SUBCODE_TYPE_MISMATCH 26         /* map entry of another type */
#define CORVEXCLIENT_SUBCODE_PUBLISH_TOPIC_INVALID 33 /* cannot publish on a wildcard topic */
#define CORVEXCLIENT_SUBCODE_LOGIN_UNKNOWN_USER 45
#define CORVEXCLIENT_SUBCODE_LOGIN_BAD_PASSWORD 46
#define CORVEXCLIENT_SUBCODE_LOGIN_NOT_PERMITTED 47 /* access control refuses this user */
#define CORVEXCLIENT_SUBCODE_LOGIN_SESSION_LIMIT 48
#define CORVEXCLIENT_SUBCODE_CACHE_NO_DATA 51      /* the cache holds nothing for the topic */
#define CORVEXCLIENT_SUBCODE_CACHE_DATA_SUSPECT 52 /* delivered data may be stale */
#define CORVEXCLIENT_SUBCODE_CACHE_TIMEOUT 55
#define CORVEXCLIENT_SUBCODE_LOGIN_EXPIRED 67
#define CORVEXCLIENT_SUBCODE_SUBSCRIBE_NOT_PERMITTED 68 /* access control refuses subscribing */
#define CORVEXCLIENT_SUBCODE_PUBLISH_NOT_PERMITTED 69   /* access control refuses the publish */
#define CORVEXCLIENT_SUBCODE_CACHE_REQUEST_CANCELLED 87 /* the cache session went away first */
#define CORVEXCLIENT_SUBCODE_LOGIN_CLIENT_NAME_DENIED 103
#define CORVEXCLIENT_SUBCODE_LOGIN_HOST_DENIED 104
#define CORVEXCLIENT_SUBCODE_LOGIN_SCHEME_UNSUPPORTED 105
#define CORVEXCLIENT_SUBCODE_LOGIN_CERTIFICATE_REFUSED 106
#define CORVEXCLIENT_SUBCODE_LOGIN_ACCOUNT_LOCKED 123

/* Per-thread description of the last failure (CORVEXCLIENT_FAIL or
 * CORVEXCLIENT_NOT_READY). On the context thread it is also set just before
 * each session event and cache event callback, to the event's reason. */
#define CORVEXCLIENT_ERRORINFO_TEXT_SIZE 256
    typedef struct corvexClient_errorInfo
    {
        corvexClient_subCode_t mSubCode;
        int32_t mResponseCode; /* router's response code, 0 when none */
        char mErrorText[CORVEXCLIENT_ERRORINFO_TEXT_SIZE];
    } corvexClient_errorInfo_t;

    /* The calling thread's record, or NULL when nothing has failed on this thread
     * since it started (or since corvexClient_resetLastErrorInfo). Valid until the
     * thread's next call into the library. */
    CORVEXCLIENT_API const corvexClient_errorInfo_t* corvexClient_getLastErrorInfo(void);
    CORVEXCLIENT_API void corvexClient_resetLastErrorInfo(void);

    /* ------------------------------------------------------------------------ */
    /* Texts                                                                    */
    /* ------------------------------------------------------------------------ */

    /* Each returns a static text such as "CORVEXCLIENT_OK"; unknown values give a
     * text that says so (never NULL). */
    CORVEXCLIENT_API const char* corvexClient_returnCodeToString(corvexClient_returnCode_t code);
    CORVEXCLIENT_API const char* corvexClient_subCodeToString(corvexClient_subCode_t subCode);
    CORVEXCLIENT_API const char* corvexClient_subCodeDescription(corvexClient_subCode_t subCode);

/* Writes a random (version 4) UUID as 36 characters and a terminator.
 * size must be at least CORVEXCLIENT_UUID_STRING_SIZE. */
#define CORVEXCLIENT_UUID_STRING_SIZE 37
    CORVEXCLIENT_API corvexClient_returnCode_t corvexClient_generateUUIDString(char* buffer,
                                                                               size_t size);

    /* ------------------------------------------------------------------------ */
    /* Logging                                                                   */
    /* ------------------------------------------------------------------------ */

    /* Levels, most severe first; a filter level lets through its own level and
     * every more severe one. */
    typedef int32_t corvexClient_log_level_t;
#define CORVEXCLIENT_LOG_EMERGENCY 0
#define CORVEXCLIENT_LOG_ALERT 1
#define CORVEXCLIENT_LOG_CRITICAL 2
#define CORVEXCLIENT_LOG_ERROR 3
#define CORVEXCLIENT_LOG_WARNING 4
#define CORVEXCLIENT_LOG_NOTICE 5
#define CORVEXCLIENT_LOG_INFO 6
#define CORVEXCLIENT_LOG_DEBUG 7

    /* Categories: what produced the line. */
    typedef int32_t corvexClient_log_category_t;
#define CORVEXCLIENT_LOG_CATEGORY_ALL 0 /* only for setting filters */
#define CORVEXCLIENT_LOG_CATEGORY_API 1 /* calls made by the application */
#define CORVEXCLIENT_LOG_CATEGORY_APP 2 /* the library's own machinery (router, threads) */

    typedef struct corvexClient_logInfo
    {
        corvexClient_log_category_t mCategory;
        corvexClient_log_level_t mLevel;
        const char* mMessage; /* valid for the duration of the callback */
    } corvexClient_logInfo_t;

    /* Runs on whichever thread logs; must not call back into the library's
     * logging functions. */
    typedef void (*corvexClient_logCb)(const corvexClient_logInfo_t* record, void* user);

    /* May be called before corvexClient_initialize. Without a callback, lines go
     * to standard error. */
    CORVEXCLIENT_API corvexClient_returnCode_t
    corvexClient_log_setCallback(corvexClient_logCb callback, void* user);
    CORVEXCLIENT_API corvexClient_returnCode_t corvexClient_log_unsetCallback(void);
    CORVEXCLIENT_API corvexClient_returnCode_t corvexClient_log_setFilterLevel(
        corvexClient_log_category_t category, corvexClient_log_level_t level);

    /* ------------------------------------------------------------------------ */
    /* Library                                                                   */
    /* ------------------------------------------------------------------------ */

    /* Starts the library with a log filter level for every category (a level
     * above CORVEXCLIENT_LOG_DEBUG counts as DEBUG; a negative one is refused) and
     * the global properties (may be NULL). A second call without cleanup fails with
     * CORVEXCLIENT_SUBCODE_ALREADY_INITIALIZED. */
    CORVEXCLIENT_API corvexClient_returnCode_t
    corvexClient_initialize(corvexClient_log_level_t level, const char** properties);
    /* Ends the library. Contexts still alive are destroyed first (with their
     * sessions). Fails with CORVEXCLIENT_SUBCODE_NOT_INITIALIZED when not started,
     * and with CORVEXCLIENT_SUBCODE_ON_CONTEXT_THREAD from a callback. */
    CORVEXCLIENT_API corvexClient_returnCode_t corvexClient_cleanup(void);

    /* Version record: three texts. */
    typedef struct corvexClient_versionInfo
    {
        const char* mVersion;  /* e.g. "1.4.0" */
        const char* mDateTime; /* build date and time */
        const char* mVariant;  /* build variant */
    } corvexClient_versionInfo_t;

    /* Stores a pointer to the library's record (owned by the library; stays valid
     * until the record is replaced). */
    CORVEXCLIENT_API corvexClient_returnCode_t
    corvexClient_version_get(const corvexClient_versionInfo_t** info);
    /* Replaces the record for the rest of the process: the three texts are
     * copied. Meant for a layer that wraps the library and wants its own version
     * shown. */
    CORVEXCLIENT_API corvexClient_returnCode_t
    _corvexClient_version_set(const corvexClient_versionInfo_t* info);

    /* ------------------------------------------------------------------------ */
    /* Handles                                                                   */
    /* ------------------------------------------------------------------------ */

    typedef struct corvexClientContext* corvexClient_context_t;
    typedef corvexClient_context_t corvexClient_context_pt;
    typedef struct corvexClientSession* corvexClient_session_t;
    typedef struct corvexClientCacheSession* corvexClient_cacheSession_t;
    typedef struct corvexClientMsg* corvexClient_msg_t;
    typedef struct corvexClientContainer* corvexClient_container_t;
    typedef uint64_t corvexClient_timer_t;
    typedef uint64_t corvexClient_cacheRequestId_t;

/* ------------------------------------------------------------------------ */
/* Context                                                                   */
/* ------------------------------------------------------------------------ */

/* Context properties:
 *   "CONTEXT_CREATE_THREAD"  "1" (the default): the context runs its own
 *                            thread. The library has no other way to run a
 *                            context, so "0" is refused
 *                            (CORVEXCLIENT_SUBCODE_BAD_PROPERTY_VALUE).
 *   "CONTEXT_QUEUE_LIMIT"    work items (received messages, events) waiting
 *                            for the context thread above which a sender on
 *                            another thread waits, inside sendMsg, until the
 *                            queue has drained to half; default 65536, "0"
 *                            for no limit. No message is dropped for it, and
 *                            context threads themselves never wait. */
#define CORVEXCLIENT_CONTEXT_PROP_CREATE_THREAD "CONTEXT_CREATE_THREAD"
#define CORVEXCLIENT_CONTEXT_PROP_QUEUE_LIMIT "CONTEXT_QUEUE_LIMIT"

    /* Called on the context thread when it starts and just before it ends. */
    typedef void (*corvexClient_context_threadCb)(corvexClient_context_t context, void* user);

    /* Optional context callbacks; an all-zero record means none. 24 bytes. */
    typedef struct corvexClient_context_createFuncInfo
    {
        corvexClient_context_threadCb mThreadStart;
        corvexClient_context_threadCb mThreadStop;
        void* mUser;
    } corvexClient_context_createFuncInfo_t;

    /* funcInfoSize is sizeof the record (24); NULL funcInfo means none. */
    CORVEXCLIENT_API corvexClient_returnCode_t corvexClient_context_create(
        const char** properties, corvexClient_context_t* context,
        corvexClient_context_createFuncInfo_t* funcInfo, size_t funcInfoSize);
    /* Destroys every session still on the context, stops and joins its thread,
     * drops pending timers, and clears the handle. Refused from the context's
     * own thread (CORVEXCLIENT_SUBCODE_ON_CONTEXT_THREAD). */
    CORVEXCLIENT_API corvexClient_returnCode_t
    corvexClient_context_destroy(corvexClient_context_t* context);

/* Timers run their callback on the context thread. */
#define CORVEXCLIENT_TIMER_ONE_SHOT 0
#define CORVEXCLIENT_TIMER_REPEAT 1
    typedef void (*corvexClient_timerCb)(corvexClient_context_t context, corvexClient_timer_t timer,
                                         void* user);

    /* Starts a timer of durationMs milliseconds (0 fires as soon as possible).
     * timer may be NULL when the caller never stops it. */
    CORVEXCLIENT_API corvexClient_returnCode_t corvexClient_context_startTimer(
        corvexClient_context_t context, int32_t mode, uint32_t durationMs,
        corvexClient_timerCb callback, void* user, corvexClient_timer_t* timer);
    /* Cancels a timer that has not fired (for one-shot timers) and clears the
     * handle; CORVEXCLIENT_NOT_FOUND when it already fired or never existed. A
     * callback already running is not waited for. */
    CORVEXCLIENT_API corvexClient_returnCode_t
    corvexClient_context_stopTimer(corvexClient_context_t context, corvexClient_timer_t* timer);

/* ------------------------------------------------------------------------ */
/* Messages                                                                  */
/* ------------------------------------------------------------------------ */

/* Destination record (16 bytes): what a message is addressed to, or where
 * replies go. The topic belongs to whoever filled the record: on set calls
 * the caller's text is referenced, on get calls the text lives in the
 * message until it is freed. */
#define CORVEXCLIENT_DEST_TOPIC 0
    typedef struct corvexClient_destination
    {
        int32_t mDestType; /* CORVEXCLIENT_DEST_TOPIC */
        const char* mTopic;
    } corvexClient_destination_t;

/* Delivery modes. Every mode is delivered the same way by the routers this
 * library supports; the value travels with the message. */
#define CORVEXCLIENT_DELIVERY_MODE_DIRECT 0
#define CORVEXCLIENT_DELIVERY_MODE_PERSISTENT 1

/* Values of corvexClient_msg_isCacheMsg. */
#define CORVEXCLIENT_MSG_LIVE 0
#define CORVEXCLIENT_MSG_CACHED 1         /* answer to a cache request */
#define CORVEXCLIENT_MSG_CACHED_SUSPECT 2 /* answer to a cache request; may be stale */

    /* Messages are pooled; allocation and free are cheap and safe on any thread.
     * A message being built belongs to one thread at a time. A received message
     * that several receive callbacks kept is shared (each frees its own handle);
     * treat received messages as read-only. */
    CORVEXCLIENT_API corvexClient_returnCode_t corvexClient_msg_alloc(corvexClient_msg_t* msg);
    CORVEXCLIENT_API corvexClient_returnCode_t corvexClient_msg_free(corvexClient_msg_t* msg);

    /* The topic (and the attachment below) are referenced, not copied, on
     * messages being built: they must stay valid until the send returns. */
    CORVEXCLIENT_API corvexClient_returnCode_t corvexClient_msg_setTopicPtr(corvexClient_msg_t msg,
                                                                            const char* topic);
    /* The message's topic as a destination record. */
    CORVEXCLIENT_API corvexClient_returnCode_t corvexClient_msg_getDestination(
        corvexClient_msg_t msg, corvexClient_destination_t* dest, size_t destSize);
    CORVEXCLIENT_API corvexClient_returnCode_t corvexClient_msg_setDestination(
        corvexClient_msg_t msg, const corvexClient_destination_t* dest, size_t destSize);

    /* Content (the binary attachment). get: pointer into the message, valid until
     * it is freed; CORVEXCLIENT_NOT_FOUND when the message has none. */
    CORVEXCLIENT_API corvexClient_returnCode_t corvexClient_msg_setBinaryAttachmentPtr(
        corvexClient_msg_t msg, const void* buffer, uint32_t size);
    CORVEXCLIENT_API corvexClient_returnCode_t
    corvexClient_msg_getBinaryAttachmentPtr(corvexClient_msg_t msg, void** buffer, uint32_t* size);

    /* Reply-to: referenced on set; get answers CORVEXCLIENT_NOT_FOUND when the
     * message carries none. */
    CORVEXCLIENT_API corvexClient_returnCode_t corvexClient_msg_setReplyTo(
        corvexClient_msg_t msg, const corvexClient_destination_t* dest, size_t destSize);
    CORVEXCLIENT_API corvexClient_returnCode_t corvexClient_msg_getReplyTo(
        corvexClient_msg_t msg, corvexClient_destination_t* dest, size_t destSize);
    CORVEXCLIENT_API corvexClient_returnCode_t
    corvexClient_msg_deleteReplyTo(corvexClient_msg_t msg);

    CORVEXCLIENT_API corvexClient_returnCode_t
    corvexClient_msg_setDeliveryMode(corvexClient_msg_t msg, int32_t mode);
    CORVEXCLIENT_API corvexClient_returnCode_t
    corvexClient_msg_getDeliveryMode(corvexClient_msg_t msg, int32_t* mode);

    /* User property map: set references a map built with the container calls
     * (its bytes are copied when the message is sent, so the map may be reused
     * at once after the send); get answers a read-only map that lives in the
     * received message, or CORVEXCLIENT_NOT_FOUND. A NULL map removes it. */
    CORVEXCLIENT_API corvexClient_returnCode_t
    corvexClient_msg_setUserPropertyMap(corvexClient_msg_t msg, corvexClient_container_t map);
    CORVEXCLIENT_API corvexClient_returnCode_t
    corvexClient_msg_getUserPropertyMap(corvexClient_msg_t msg, corvexClient_container_t* map);

    /* Non-zero when messages were discarded on this session just before this
     * one (the suspend hold buffer overflowed). */
    CORVEXCLIENT_API int corvexClient_msg_isDiscardIndication(corvexClient_msg_t msg);
    /* CORVEXCLIENT_MSG_LIVE, _CACHED or _CACHED_SUSPECT; LIVE for a NULL msg. */
    CORVEXCLIENT_API int corvexClient_msg_isCacheMsg(corvexClient_msg_t msg);
    /* The id given with the cache request that produced the message; 0 for live
     * messages. */
    CORVEXCLIENT_API corvexClient_returnCode_t
    corvexClient_msg_getCacheRequestId(corvexClient_msg_t msg, corvexClient_cacheRequestId_t* id);

/* Readable multi-line dump of everything above into buffer (always
 * terminated; cut when too small, which still answers CORVEXCLIENT_OK).
 * flags: CORVEXCLIENT_MSGDUMP_BRIEF shows only the first 64 content bytes,
 * CORVEXCLIENT_MSGDUMP_FULL (1) shows them all. */
#define CORVEXCLIENT_MSGDUMP_BRIEF 0
#define CORVEXCLIENT_MSGDUMP_FULL 1
    CORVEXCLIENT_API corvexClient_returnCode_t corvexClient_msg_dumpExt(corvexClient_msg_t msg,
                                                                        char* buffer,
                                                                        size_t bufferSize,
                                                                        uint32_t flags);

/* ------------------------------------------------------------------------ */
/* Containers (maps of key to typed value, built in the caller's buffer)     */
/* ------------------------------------------------------------------------ */

/* Starts a map in buffer (which must stay valid while the map is used; at
 * least CORVEXCLIENT_CONTAINER_MIN_SIZE bytes, any alignment). */
#define CORVEXCLIENT_CONTAINER_MIN_SIZE 32
    CORVEXCLIENT_API corvexClient_returnCode_t
    corvexClient_container_createMap(corvexClient_container_t* map, char* buffer, size_t size);
    /* Adds a value under key (keys up to 255 bytes; a key added twice keeps both
     * entries and reads give the first). CORVEXCLIENT_SUBCODE_CONTAINER_FULL when
     * the buffer has no room; the map is unchanged then. */
    CORVEXCLIENT_API corvexClient_returnCode_t corvexClient_container_addString(
        corvexClient_container_t map, const char* value, const char* key);
    CORVEXCLIENT_API corvexClient_returnCode_t
    corvexClient_container_addInt32(corvexClient_container_t map, int32_t value, const char* key);
    /* Reads: CORVEXCLIENT_NOT_FOUND for an absent key; string values point into
     * the map. */
    CORVEXCLIENT_API corvexClient_returnCode_t corvexClient_container_getStringPtr(
        corvexClient_container_t map, const char* key, const char** value);
    CORVEXCLIENT_API corvexClient_returnCode_t
    corvexClient_container_getInt32(corvexClient_container_t map, const char* key, int32_t* value);
    CORVEXCLIENT_API corvexClient_returnCode_t
    corvexClient_container_getSize(corvexClient_container_t map, uint32_t* count);
    /* Ends the use of a map made with createMap (messages that referenced it
     * must have been sent or freed) and clears the handle. Closing a map obtained
     * from a received message only clears the handle. */
    CORVEXCLIENT_API corvexClient_returnCode_t
    corvexClient_container_closeMapStream(corvexClient_container_t* map);

/* ------------------------------------------------------------------------ */
/* Sessions                                                                  */
/* ------------------------------------------------------------------------ */

/* The NATS payload of a message (what a program on the NATS client alone
 * writes and reads to meet sessions on the NATS router):
 *   - without user properties, the content alone, unless the content itself
 *     starts with the bytes 0x00 'C' 'X': then it is framed as below with a
 *     property text of length 0;
 *   - with user properties, a frame and then the content:
 *       bytes 0..2  0x00 'C' 'X'
 *       byte  3     version, 1
 *       bytes 4..7  length P of the property text, unsigned, big-endian
 *       P bytes     the property text: the entries in the map's order,
 *                   separated by ',', each "<key>=s<text>" or
 *                   "<key>=i<int32 in decimal>"; in key and text '%', '=',
 *                   ':', ',', blanks, control bytes and bytes beyond ASCII
 *                   are '%' and two upper-case hex digits;
 *       the rest    the content.
 * A reader skips 8 + P bytes of a payload that starts with 0x00 'C' 'X'; a
 * payload that does not is content without properties. A payload that
 * starts so but is no whole frame of version 1 with a property text is
 * dropped with a warning. With "SESSION_ROUTER_PROPERTIES_HEADER" the
 * property text travels as the value of the NATS header
 * "Corvex-Properties" instead (where NATS tools show it); a receiver takes
 * the properties of the frame, or without any there those of the header.
 * Properties are decoded only when a receiver asks for the map, and the
 * header is read only then: a header whose text is no property text leaves
 * the message without properties (with a warning in the log). */

/* Session properties honoured:
 *   "SESSION_ROUTER"                which router to use: "embedded" (the
 *                                   default) or "embedded:<name>", the
 *                                   in-process router of that name (all
 *                                   sessions of the process naming the same
 *                                   router meet; the default name is
 *                                   "embedded"), or a comma-separated list of
 *                                   "nats://<host>:<port>" servers: each
 *                                   session connects to one of them, and
 *                                   sessions of any process meet there (the
 *                                   router is named "nats:<host>:<port>,...").
 *                                   A list of "tls://<host>:<port>" servers
 *                                   is reached over TLS only (the router is
 *                                   named "tls:<host>:<port>,..."); a list
 *                                   mixing both schemes is refused.
 *                                   There the server's permissions stand
 *                                   for access rules: a subscription it
 *                                   refuses fails with
 *                                   SUBSCRIBE_NOT_PERMITTED (response code
 *                                   403) in the result of a subscribe
 *                                   without REQUEST_CONFIRM (such a
 *                                   subscribe waits, up to 2 s, for the
 *                                   server to have it) and as event
 *                                   SUBSCRIBE_REFUSED with that subscribe's
 *                                   correlation pointer after one with it,
 *                                   whose SUBSCRIBE_CONFIRMED comes only once
 *                                   the server has the subscription; a
 *                                   publish it refuses raises MSG_REJECTED
 *                                   with PUBLISH_NOT_PERMITTED, 403 and a
 *                                   text naming "Topic '<topic>'". When the
 *                                   connection drops messages of a
 *                                   subscription that cannot keep up (a
 *                                   slow consumer), the next message
 *                                   delivered once the connection has
 *                                   reported it carries the discard
 *                                   indication. A message's user property
 *                                   map travels in a frame ahead of its
 *                                   content in the NATS payload (below),
 *                                   or with
 *                                   "SESSION_ROUTER_PROPERTIES_HEADER" as
 *                                   one NATS header, and comes back entry
 *                                   for entry; a receiver takes either.
 *   "SESSION_ROUTER_PROPERTIES_HEADER"
 *                                   NATS router: true to send user
 *                                   properties as the NATS header
 *                                   "Corvex-Properties" rather than in the
 *                                   payload's frame; default false.
 *   "SESSION_ROUTER_PENDING_LIMIT"  NATS router: messages one subscription
 *                                   may have waiting behind the one being
 *                                   delivered; past it (a slow consumer)
 *                                   delivery drops the oldest; above 0,
 *                                   default 65536.
 *   "SESSION_ROUTER_PENDING_BYTES_LIMIT" NATS router: the bytes one
 *                                   subscription may have waiting behind
 *                                   the one being delivered, past which it
 *                                   drops the oldest too; 1024 to
 *                                   2147483647, default 16777216 (16 MiB).
 *                                   Each run of drops of either limit marks
 *                                   the first message delivered after it as
 *                                   a discard. The NATS client's own limits
 *                                   are 8 times these (at least 65536
 *                                   messages and 64 MiB), a backstop for
 *                                   what piles up while delivery does not
 *                                   run at all; its drops mark the first
 *                                   message after what waited when they
 *                                   were reported.
 *   "SESSION_ROUTER_CACHE_REPLICAS" NATS router: the servers of a cluster that
 *                                   each keep a copy of the last-value cache's
 *                                   stream, 1 to 5, default 1; with 3, the
 *                                   cache goes on serving when one server
 *                                   of the cluster is lost. Decided by the
 *                                   session that creates the stream.
 *   "SESSION_ROUTER_PING_INTERVAL_MS", "SESSION_ROUTER_MAX_PINGS_OUT"
 *                                   NATS router: the connection pings the
 *                                   server every interval (default 3000 ms)
 *                                   and counts it stale, reconnecting with
 *                                   event RECONNECTING, once more pings
 *                                   than the limit (default 2) are
 *                                   unanswered: a server that stops
 *                                   answering is noticed within about
 *                                   (limit + 1) intervals, 9 s by default.
 *   "SESSION_ROUTER_WRITE_DEADLINE_MS"
 *                                   NATS router: the longest a send waits
 *                                   for the server to take some of what
 *                                   its connection holds unwritten, when
 *                                   that is over 1 MB (default 2000 ms);
 *                                   a send that meets it fails with
 *                                   NOT_CONNECTED and the connection
 *                                   reconnects. Sends that fail so (or
 *                                   while it reconnects, once its buffer
 *                                   is full) are reported together: one
 *                                   MSG_REJECTED with NOT_CONNECTED once
 *                                   the connection is back, its text
 *                                   counting them ("<n> sends failed ...").
 *                                   The same report counts the sends made
 *                                   since the server last confirmed
 *                                   receipt when the connection was found
 *                                   lost ("<n> sends may not have reached
 *                                   the NATS server ..."): the NATS client
 *                                   drops what the lost socket still held,
 *                                   though each of those sends returned OK.
 * NATS router security (files are read at connect; a file that cannot be
 * read, a certificate the server refuses or one of the server's that does
 * not verify fails connect with CONNECT_REFUSED and a text naming the cause;
 * a refused token, NKey or credentials with LOGIN_REFUSED):
 *   "SESSION_NATS_TLS_CA_FILE"      PEM file of the certificate authorities
 *                                   the servers' certificates must chain to;
 *                                   default OpenSSL's system store. Any of
 *                                   the TLS properties requires TLS, as
 *                                   "tls://" servers do: a server without it
 *                                   is refused rather than used in the clear.
 *   "SESSION_NATS_TLS_CERT_FILE",   PEM certificate chain and private key
 *   "SESSION_NATS_TLS_KEY_FILE"     this client shows (mutual TLS); both or
 *                                   neither.
 *   "SESSION_NATS_TLS_VERIFY_SERVER_NAME"
 *                                   "1" (default): a server's certificate
 *                                   must name the server (the
 *                                   subjectAltName DNS name or IP address);
 *                                   "0": only its chain is verified.
 *   "SESSION_NATS_TLS_SERVER_NAME"  the name every server's certificate must
 *                                   carry; default the host of the servers'
 *                                   URLs, which must then all name the same
 *                                   host.
 *   "SESSION_NATS_TOKEN"            token presented at login (a server with
 *                                   "authorization { token: ... }"); never
 *                                   given out by getProperty nor logged.
 *   "SESSION_NATS_NKEY",            the user's NKey public key ("U...") and
 *   "SESSION_NATS_NKEY_SEED_FILE"   the file holding its seed ("SU..."), which
 *                                   signs the server's challenge; both or
 *                                   neither.
 *   "SESSION_NATS_CREDENTIALS_FILE" a user credentials file (the user JWT
 *                                   and its NKey seed), for servers that
 *                                   trust an operator; not with an NKey.
 *   A token, an NKey or credentials stands instead of the user name and
 *   password, which are then not sent.
 * Every router:
 *   "SESSION_CLIENT_NAME"           this client's name, unique per router; one
 *                                   topic level (no '/'). Default: generated.
 *   "SESSION_USERNAME"              the session's user: presented at login
 *                                   when given; without it the session goes
 *                                   by the operating-system user and presents
 *                                   no login.
 *   "SESSION_PASSWORD"              password presented at login (with a
 *                                   user name).
 *   "SESSION_USERNAME_IS_DEFAULT",  "1": the "SESSION_USERNAME" or
 *   "SESSION_PASSWORD_IS_DEFAULT"   "SESSION_PASSWORD" given is the
 *                                   application's stand-in (such as the host's
 *                                   user and host names), not a credential:
 *                                   the session goes by it and a NATS server
 *                                   is not sent it. Default "0".
 *   "SESSION_CONNECT_BLOCKING"      "1" (default): connect returns when the
 *                                   session is up or refused. "0": connect
 *                                   returns CORVEXCLIENT_IN_PROGRESS and the
 *                                   outcome is event UP or CONNECT_FAILED.
 *   "SESSION_REAPPLY_SUBSCRIPTIONS" "1" (default): after a reconnect the
 *                                   router subscriptions are placed again;
 *                                   "0": they are dropped (dispatch entries
 *                                   stay; only local-dispatch delivery works).
 *   "SESSION_TOPIC_DISPATCH"        "1" (default): topicSubscribeWithDispatch
 *                                   is allowed; "0" refuses it.
 *   "SESSION_SUSPEND_HOLD_BYTES_LIMIT" bytes held while suspended (each
 *                                   message's topic, content, reply-to and
 *                                   properties, and 512 for its records),
 *                                   1024 to 2^40, default
 *                                   33554432 (32 MiB); a message that would
 *                                   take the hold beyond them is discarded
 *                                   (under either policy; one larger than
 *                                   the limit is held when the hold is
 *                                   empty), and the next one queued carries
 *                                   the discard indication.
 *   "SESSION_SUSPEND_HOLD_LIMIT"    messages held while suspended; default
 *                                   100000. What happens beyond it is the
 *                                   policy's choice:
 *   "SESSION_SUSPEND_HOLD_POLICY"   "wait" (default): a send to a suspended
 *                                   session with this many messages held or
 *                                   queued for it waits, inside sendMsg and
 *                                   once the sender's locks are released,
 *                                   until the session is resumed or
 *                                   destroyed; its message is then handed
 *                                   over (or dropped with the session), so
 *                                   nothing is lost and each sender's order
 *                                   is kept. A send that may not wait (from
 *                                   any context thread, or from a thread
 *                                   that called
 *                                   corvexClient_thread_setSendMayWait (0))
 *                                   is held beyond the limit instead, up to
 *                                   twice the limit. A wait lasts at most
 *                                   "SESSION_SUSPEND_HOLD_WAIT_MS"; once one
 *                                   has expired, and beyond twice the limit,
 *                                   sends to the session discard their
 *                                   message until it is resumed, and the
 *                                   next message queued for it carries the
 *                                   discard indication.
 *                                   "discard": messages beyond the limit are
 *                                   discarded at once and the next one
 *                                   delivered carries the discard
 *                                   indication; no sender waits.
 *   "SESSION_SUSPEND_HOLD_WAIT_MS"  the longest one send waits for room under
 *                                   "wait"; default 2000.
 *   "SESSION_ALWAYS_BUFFER_IN_CONTEXT", "SESSION_REQUEST_MSG_LIMIT"
 *                                   accepted for compatibility; every message
 *                                   is already buffered in the context.
 *   "SESSION_ROUTER_CACHED_TOPICS"  topics whose last message the router's
 *                                   cache keeps: comma-separated topic
 *                                   patterns (see "Topic matching"), e.g.
 *                                   "NYSE/>,FX/EUR*". Default: every topic sent
 *                                   on (the same as ">"). "none" or an empty
 *                                   value turns the cache off. Peer-to-peer
 *                                   topics ("#P2P/...", replies) are never
 *                                   cached. On a NATS router the cache is
 *                                   the server's JetStream stream
 *                                   "CORVEX_CACHE" (in memory, the last
 *                                   message of each subject), created by the
 *                                   first session that gives patterns: only
 *                                   the topics of the patterns are cached,
 *                                   so without the property nothing is (a
 *                                   stream cannot take every subject but the
 *                                   peer-to-peer ones). A server without
 *                                   JetStream caches nothing (a warning at
 *                                   connect); every request then completes
 *                                   with CACHE_NO_DATA.
 *   "SESSION_ROUTER_ACCESS_RULES"   the router's access rules, separated by
 *                                   ';', each "<allow|deny> <user> <operation>
 *                                   <topic pattern>" with words separated by
 *                                   blanks: user "*" for everyone, operation
 *                                   "subscribe", "publish" or "all", e.g.
 *                                   "deny alice subscribe NYSE/IBM; allow *
 *                                   all >". Rules are checked in order and
 *                                   the first whose user, operation and
 *                                   pattern match decides; without one the
 *                                   operation is allowed. A subscription is
 *                                   checked with its own text (a wildcard
 *                                   subscription that overlaps a denied
 *                                   pattern without being contained in it is
 *                                   decided by its own text), and so is a
 *                                   cache request, as a subscribe. Refused
 *                                   subscriptions fail with
 *                                   SUBSCRIBE_NOT_PERMITTED, refused sends
 *                                   raise MSG_REJECTED with
 *                                   PUBLISH_NOT_PERMITTED. Default: none.
 *                                   A malformed value of either property
 *                                   fails session create with
 *                                   BAD_PROPERTY_VALUE.
 *                                   Both configure the router, which every
 *                                   session naming it shares: the first
 *                                   session connected to it decides (a
 *                                   property it does not give stands for the
 *                                   default), for as long as the router
 *                                   lives (until corvexClient_cleanup). A
 *                                   later session giving a different value
 *                                   is warned in the log and changes
 *                                   nothing.
 * Read-only properties (getProperty):
 *   "SESSION_REPLY_TO_DEFAULT_DEST" the session's peer-to-peer topic,
 *                                   "#P2P/v:<router>/<client>/#". Messages
 *                                   sent to "#P2P/v:<router>/<client>/<any>"
 *                                   reach this session only, without any
 *                                   subscription; they are matched against
 *                                   the session's dispatch entries like any
 *                                   other message.
 *   "SESSION_PUBLISH_WAITS"         sends of this session that waited (or
 *                                   are waiting) for a receiver's room
 *                                   ("wait" policy), in decimal;
 *   "SESSION_PUBLISH_WAIT_US"       their total wait in microseconds;
 *   "SESSION_SUSPEND_HELD_PEAK"     the most messages this session has held
 *                                   at once while suspended;
 *   "SESSION_SUSPEND_HELD_BYTES_PEAK" the most bytes (counted as for
 *                                   "SESSION_SUSPEND_HOLD_BYTES_LIMIT") it
 *                                   has held at once while suspended;
 *   "SESSION_ROUTER_NAME", "SESSION_CLIENT_NAME", "SESSION_USERNAME" (the
 *   name the session goes by), and any property given at creation (the last
 *   value of its name) except the password and "SESSION_NATS_TOKEN", which
 *   are never given out.
 */
#define CORVEXCLIENT_SESSION_PROP_ROUTER "SESSION_ROUTER"
#define CORVEXCLIENT_SESSION_PROP_ROUTER_NAME "SESSION_ROUTER_NAME"
#define CORVEXCLIENT_SESSION_PROP_CLIENT_NAME "SESSION_CLIENT_NAME"
#define CORVEXCLIENT_SESSION_PROP_USERNAME "SESSION_USERNAME"
#define CORVEXCLIENT_SESSION_PROP_PASSWORD "SESSION_PASSWORD"
#define CORVEXCLIENT_SESSION_PROP_USERNAME_IS_DEFAULT "SESSION_USERNAME_IS_DEFAULT"
#define CORVEXCLIENT_SESSION_PROP_PASSWORD_IS_DEFAULT "SESSION_PASSWORD_IS_DEFAULT"
#define CORVEXCLIENT_SESSION_PROP_CONNECT_BLOCKING "SESSION_CONNECT_BLOCKING"
#define CORVEXCLIENT_SESSION_PROP_REAPPLY_SUBSCRIPTIONS "SESSION_REAPPLY_SUBSCRIPTIONS"
#define CORVEXCLIENT_SESSION_PROP_TOPIC_DISPATCH "SESSION_TOPIC_DISPATCH"
#define CORVEXCLIENT_SESSION_PROP_SUSPEND_HOLD_LIMIT "SESSION_SUSPEND_HOLD_LIMIT"
#define CORVEXCLIENT_SESSION_PROP_SUSPEND_HOLD_POLICY "SESSION_SUSPEND_HOLD_POLICY"
#define CORVEXCLIENT_SESSION_PROP_SUSPEND_HOLD_WAIT_MS "SESSION_SUSPEND_HOLD_WAIT_MS"
#define CORVEXCLIENT_SESSION_PROP_PUBLISH_WAITS "SESSION_PUBLISH_WAITS"
#define CORVEXCLIENT_SESSION_PROP_PUBLISH_WAIT_US "SESSION_PUBLISH_WAIT_US"
#define CORVEXCLIENT_SESSION_PROP_SUSPEND_HELD_PEAK "SESSION_SUSPEND_HELD_PEAK"
#define CORVEXCLIENT_SESSION_PROP_SUSPEND_HOLD_BYTES_LIMIT "SESSION_SUSPEND_HOLD_BYTES_LIMIT"
#define CORVEXCLIENT_SESSION_PROP_SUSPEND_HELD_BYTES_PEAK "SESSION_SUSPEND_HELD_BYTES_PEAK"
#define CORVEXCLIENT_SESSION_PROP_ROUTER_PENDING_BYTES_LIMIT "SESSION_ROUTER_PENDING_BYTES_LIMIT"
#define CORVEXCLIENT_SESSION_PROP_ALWAYS_BUFFER_IN_CONTEXT "SESSION_ALWAYS_BUFFER_IN_CONTEXT"
#define CORVEXCLIENT_SESSION_PROP_REQUEST_MSG_LIMIT "SESSION_REQUEST_MSG_LIMIT"
#define CORVEXCLIENT_SESSION_PROP_REPLY_TO_DEFAULT_DEST "SESSION_REPLY_TO_DEFAULT_DEST"
#define CORVEXCLIENT_SESSION_PROP_ROUTER_CACHED_TOPICS "SESSION_ROUTER_CACHED_TOPICS"
#define CORVEXCLIENT_SESSION_PROP_ROUTER_ACCESS_RULES "SESSION_ROUTER_ACCESS_RULES"
#define CORVEXCLIENT_SESSION_PROP_ROUTER_PENDING_LIMIT "SESSION_ROUTER_PENDING_LIMIT"
#define CORVEXCLIENT_SESSION_PROP_ROUTER_PROPERTIES_HEADER "SESSION_ROUTER_PROPERTIES_HEADER"
#define CORVEXCLIENT_SESSION_PROP_ROUTER_CACHE_REPLICAS "SESSION_ROUTER_CACHE_REPLICAS"
#define CORVEXCLIENT_SESSION_PROP_NATS_TLS_CA_FILE "SESSION_NATS_TLS_CA_FILE"
#define CORVEXCLIENT_SESSION_PROP_NATS_TLS_CERT_FILE "SESSION_NATS_TLS_CERT_FILE"
#define CORVEXCLIENT_SESSION_PROP_NATS_TLS_KEY_FILE "SESSION_NATS_TLS_KEY_FILE"
#define CORVEXCLIENT_SESSION_PROP_NATS_TLS_VERIFY_SERVER_NAME "SESSION_NATS_TLS_VERIFY_SERVER_NAME"
#define CORVEXCLIENT_SESSION_PROP_NATS_TLS_SERVER_NAME "SESSION_NATS_TLS_SERVER_NAME"
#define CORVEXCLIENT_SESSION_PROP_NATS_TOKEN "SESSION_NATS_TOKEN"
#define CORVEXCLIENT_SESSION_PROP_NATS_NKEY "SESSION_NATS_NKEY"
#define CORVEXCLIENT_SESSION_PROP_NATS_NKEY_SEED_FILE "SESSION_NATS_NKEY_SEED_FILE"
#define CORVEXCLIENT_SESSION_PROP_NATS_CREDENTIALS_FILE "SESSION_NATS_CREDENTIALS_FILE"
#define CORVEXCLIENT_SESSION_PROP_ROUTER_PING_INTERVAL_MS "SESSION_ROUTER_PING_INTERVAL_MS"
#define CORVEXCLIENT_SESSION_PROP_ROUTER_MAX_PINGS_OUT "SESSION_ROUTER_MAX_PINGS_OUT"
#define CORVEXCLIENT_SESSION_PROP_ROUTER_WRITE_DEADLINE_MS "SESSION_ROUTER_WRITE_DEADLINE_MS"

#define CORVEXCLIENT_P2P_TOPIC_PREFIX "#P2P/"
#define CORVEXCLIENT_MAX_TOPIC_LEN 512 /* characters, terminator excluded */

    /* Session events (the mEvent of the event record). */
    typedef int32_t corvexClient_session_event_t;
#define CORVEXCLIENT_SESSION_EVENT_UP 0             /* connected (non-blocking connect) */
#define CORVEXCLIENT_SESSION_EVENT_DOWN 1           /* connection lost for good */
#define CORVEXCLIENT_SESSION_EVENT_CONNECT_FAILED 2 /* non-blocking connect refused */
/* the router refused a sent message; the info text holds "Topic '<topic>'" */
#define CORVEXCLIENT_SESSION_EVENT_MSG_REJECTED 3
/* carries the subscribe's correlation pointer */
#define CORVEXCLIENT_SESSION_EVENT_SUBSCRIBE_REFUSED 4
#define CORVEXCLIENT_SESSION_EVENT_RX_MSG_TOO_LARGE 5
#define CORVEXCLIENT_SESSION_EVENT_ACKNOWLEDGED 6
#define CORVEXCLIENT_SESSION_EVENT_RESERVED_7 7 /* never raised */
#define CORVEXCLIENT_SESSION_EVENT_RESERVED_8 8 /* never raised */
#define CORVEXCLIENT_SESSION_EVENT_UNSUBSCRIBE_REFUSED 9
/* carries the unsubscribe's correlation pointer */
#define CORVEXCLIENT_SESSION_EVENT_UNSUBSCRIBE_CONFIRMED 10
#define CORVEXCLIENT_SESSION_EVENT_CAN_SEND 11
#define CORVEXCLIENT_SESSION_EVENT_RECONNECTING 12 /* connection lost; trying again */
#define CORVEXCLIENT_SESSION_EVENT_RECONNECTED 13
#define CORVEXCLIENT_SESSION_EVENT_ROUTER_WARNING 14
#define CORVEXCLIENT_SESSION_EVENT_ROUTER_NOTICE 15
/* carries the subscribe's correlation pointer */
#define CORVEXCLIENT_SESSION_EVENT_SUBSCRIBE_CONFIRMED 16
#define CORVEXCLIENT_SESSION_EVENT_PROPERTY_CHANGED 17

    /* Session event record; the last-error record of the context thread holds
     * the event's sub-code, response code and text while the callback runs. */
    typedef struct corvexClient_session_eventInfo
    {
        corvexClient_session_event_t mEvent;
        int32_t mResponseCode;
        const char* mInfo;  /* never NULL; valid during the callback */
        void* mCorrelation; /* the pointer given with the request, or NULL */
    } corvexClient_session_eventInfo_t;

    CORVEXCLIENT_API const char*
    corvexClient_session_eventToString(corvexClient_session_event_t event);

    /* Receive callback: the session's own and each dispatch entry's. Answer
     * CORVEXCLIENT_CALLBACK_TAKE_MSG to keep the message. */
    typedef int (*corvexClient_session_rxMsgCb)(corvexClient_session_t session,
                                                corvexClient_msg_t msg, void* user);
    typedef void (*corvexClient_session_eventCb)(corvexClient_session_t session,
                                                 const corvexClient_session_eventInfo_t* event,
                                                 void* user);
    /* Reports a dispatch entry removed by unsubscribe or by session destroy:
     * its topic and the dispatch record it was placed with. Runs on the context
     * thread, after any delivery to that entry. */
    typedef struct CorvexDispatchInfo CorvexDispatchInfo;
    typedef void (*corvexClient_session_topicDispatchDestroyCb)(const char* topic,
                                                                const CorvexDispatchInfo* dispatch);

    /* Session callbacks, three (callback, user pointer) pairs, 48 bytes. The
     * first pair is reserved and must be zero. The receive callback gets every
     * message that matches none of the session's dispatch entries. */
    typedef struct corvexClient_session_createFuncInfo
    {
        struct
        {
            void* mReserved;
            void* mReservedUser;
        } mReserved;
        struct
        {
            corvexClient_session_eventCb mCallback;
            void* mUser;
        } mEventInfo;
        struct
        {
            corvexClient_session_rxMsgCb mCallback;
            void* mUser;
        } mRxMsgInfo;
    } corvexClient_session_createFuncInfo_t;

    CORVEXCLIENT_API corvexClient_returnCode_t corvexClient_session_create(
        const char** properties, corvexClient_context_t context, corvexClient_session_t* session,
        corvexClient_session_createFuncInfo_t* funcInfo, size_t funcInfoSize);
    CORVEXCLIENT_API corvexClient_returnCode_t
    _corvexClient_session_registerForTopicDispatchDestroy(
        corvexClient_session_t session, corvexClient_session_topicDispatchDestroyCb callback);

    /* Connects to the router named by "SESSION_ROUTER". A refused login fails
     * with one of the LOGIN_* sub-codes; an unknown backend with
     * UNSUPPORTED_ROUTER; a client name taken with CLIENT_NAME_IN_USE. */
    CORVEXCLIENT_API corvexClient_returnCode_t
    corvexClient_session_connect(corvexClient_session_t session);
    /* Leaves the router: router subscriptions are dropped, dispatch entries stay
     * (a later connect places them again). Messages already received are still
     * delivered. */
    CORVEXCLIENT_API corvexClient_returnCode_t
    corvexClient_session_disconnect(corvexClient_session_t session);
    /* Disconnects if needed, reports every remaining dispatch entry through the
     * topic-dispatch-destroy callback, drops what was not yet delivered, and
     * clears the handle. From another thread it returns once the context thread
     * has made the reports; no callback of the session runs after that. Called
     * from a callback of the session's context it completes before returning. */
    CORVEXCLIENT_API corvexClient_returnCode_t
    corvexClient_session_destroy(corvexClient_session_t* session);

    /* Stop and restart delivery to this session's callbacks. Messages that arrive
     * while suspended are held (up to "SESSION_SUSPEND_HOLD_LIMIT"); beyond it
     * senders wait or messages are discarded, as "SESSION_SUSPEND_HOLD_POLICY"
     * says, and the next message after a discarded one carries the discard
     * indication. Suspending twice is the same as once; resume delivers what was
     * held first and releases waiting senders. */
    CORVEXCLIENT_API corvexClient_returnCode_t
    corvexClient_session_suspend(corvexClient_session_t session);
    CORVEXCLIENT_API corvexClient_returnCode_t
    corvexClient_session_resume(corvexClient_session_t session);

    /* Copies a property's text into buffer (terminated);
     * CORVEXCLIENT_SUBCODE_BUFFER_TOO_SMALL when it does not fit. */
    CORVEXCLIENT_API corvexClient_returnCode_t corvexClient_session_getProperty(
        corvexClient_session_t session, const char* name, char* buffer, size_t bufferSize);

    /* Sends a message; safe from any thread, also from callbacks. Topic, content
     * and map are copied before it returns. Per sending thread, messages reach
     * each receiver in the order they were sent. A message refused by access
     * control is reported as event MSG_REJECTED (sub-code PUBLISH_NOT_PERMITTED);
     * the call itself still answers CORVEXCLIENT_OK, as the router would. A
     * session that is not connected answers CORVEXCLIENT_NOT_READY. */
    CORVEXCLIENT_API corvexClient_returnCode_t
    corvexClient_session_sendMsg(corvexClient_session_t session, corvexClient_msg_t msg);

    /* Whether sends from the calling thread may wait for a suspended receiver's
     * room ("SESSION_SUSPEND_HOLD_POLICY" "wait"); 1 (the default) or 0. A thread
     * that drains what a suspended session's callbacks produce (an event queue's
     * dispatch loop) sets 0, so that a send from it never waits for itself.
     * Context threads never wait, whatever is set. Answers the setting before. */
    CORVEXCLIENT_API int corvexClient_thread_setSendMayWait(int mayWait);

/* ------------------------------------------------------------------------ */
/* Topic subscriptions with dispatch                                         */
/* ------------------------------------------------------------------------ */

/* Topic matching: a subscription topic matches a message topic level by
 * level ('/'-separated).
 *   "*"      as a whole level matches exactly one level, whatever it holds;
 *   "abc*"   a level ending in '*' matches any level starting with "abc";
 *            a '*' elsewhere in a level is an ordinary character;
 *   ">"      as the whole last level matches one or more remaining levels
 *            ("a/>" matches "a/b" and "a/b/c", not "a"); anywhere else it is
 *            an ordinary character.
 * Message topics (the ones sent to) are never wildcards: sending on a topic
 * with such a level fails with CORVEXCLIENT_SUBCODE_PUBLISH_TOPIC_INVALID. */

/* Dispatch record (32 bytes): who receives messages that match an entry. */
#define CORVEXCLIENT_DISPATCH_TYPE_CALLBACK 1
    struct CorvexDispatchInfo
    {
        int32_t mDispatchType; /* CORVEXCLIENT_DISPATCH_TYPE_CALLBACK */
        corvexClient_session_rxMsgCb mCallback;
        void* mUser;
        void* mReserved; /* NULL */
    };

/* Subscribe flags. With none of WAIT_FOR_CONFIRM, LOCAL_DISPATCH_ONLY and
 * REQUEST_CONFIRM the call returns CORVEXCLIENT_OK
 * once the entry is placed; a later refusal is reported as event
 * SUBSCRIBE_REFUSED with the correlation pointer. */
#define CORVEXCLIENT_SUBSCRIBE_FLAGS_WAIT_FOR_CONFIRM 0x02 /* the result is the final outcome */
/* dispatch entry only; nothing asked of the router */
#define CORVEXCLIENT_SUBSCRIBE_FLAGS_LOCAL_DISPATCH_ONLY 0x08
/* returns IN_PROGRESS; the outcome is event SUBSCRIBE_CONFIRMED or SUBSCRIBE_REFUSED */
#define CORVEXCLIENT_SUBSCRIBE_FLAGS_REQUEST_CONFIRM 0x10

    /* Adds a dispatch entry (topic, dispatch record): every message on the
     * session whose topic matches is handed to the entry's callback with its user
     * pointer, each matching entry in turn; the same entry may be added more than
     * once (each addition is its own entry). The record is copied. Unless
     * LOCAL_DISPATCH_ONLY is given, the router is asked for the topic as well (one router
     * subscription per distinct topic, counted; on a session not yet connected, at connect). Access
     * control may refuse it with sub-code SUBSCRIBE_NOT_PERMITTED (in the result with
     * WAIT_FOR_CONFIRM, as event SUBSCRIBE_REFUSED otherwise); a refused entry is not kept, so no
     * dispatch-destroy report follows. */
    CORVEXCLIENT_API corvexClient_returnCode_t corvexClient_session_topicSubscribeWithDispatch(
        corvexClient_session_t session, uint32_t flags, const char* topic,
        const CorvexDispatchInfo* dispatch, void* correlation);
    /* Removes one entry equal to (topic, callback, user pointer) and reports it
     * through the topic-dispatch-destroy callback; CORVEXCLIENT_SUBCODE_NOT_SUBSCRIBED
     * when there is none. Flags as for subscribe: 16 gives IN_PROGRESS and event
     * UNSUBSCRIBE_CONFIRMED with the correlation pointer. */
    CORVEXCLIENT_API corvexClient_returnCode_t corvexClient_session_topicUnsubscribeWithDispatch(
        corvexClient_session_t session, uint32_t flags, const char* topic,
        const CorvexDispatchInfo* dispatch, void* correlation);

    /* ------------------------------------------------------------------------ */
    /* Cache sessions                                                            */
    /* ------------------------------------------------------------------------ */

    /* The router keeps the last message of each cached topic (which topics are
     * cached is the router's configuration, "SESSION_ROUTER_CACHED_TOPICS"). A cache request asks
     * for every cached topic matching a (possibly wildcard) topic; the cached messages are
     * delivered on the parent session like live messages, marked as cached and
     * carrying the request id; then the cache event reports the outcome:
     *   mReturnCode CORVEXCLIENT_OK                 data was delivered;
     *   mReturnCode CORVEXCLIENT_INCOMPLETE, mSubCode CACHE_NO_DATA   nothing cached;
     *   mReturnCode CORVEXCLIENT_FAIL, a sub-code   the request failed. */
    typedef int32_t corvexClient_cacheSession_event_t;
#define CORVEXCACHE_EVENT_REQUEST_COMPLETED_NOTICE 0

    typedef struct corvexClient_cacheSession_eventInfo
    {
        corvexClient_cacheSession_event_t mEvent;
        const char* mTopic; /* the requested topic; valid during the callback */
        corvexClient_returnCode_t mReturnCode;
        corvexClient_subCode_t mSubCode;
        corvexClient_cacheRequestId_t mCacheRequestId;
    } corvexClient_cacheSession_eventInfo_t;

    /* Runs on the context thread with the parent session and the user pointer
     * given with the request; exactly once per request that returned
     * CORVEXCLIENT_IN_PROGRESS. When the parent session is destroyed before the
     * outcome was delivered, the event still runs (during the destroy) with
     * CORVEXCLIENT_FAIL and sub-code CACHE_REQUEST_CANCELLED, so that whatever the
     * user pointer holds can be released. */
    typedef void (*corvexClient_cacheEventCb)(corvexClient_session_t session,
                                              const corvexClient_cacheSession_eventInfo_t* event,
                                              void* user);

    CORVEXCLIENT_API const char*
    corvexClient_cacheSession_eventToString(corvexClient_cacheSession_event_t event);

    /* Properties: none are needed; the array may be the session's own. */
    CORVEXCLIENT_API corvexClient_returnCode_t
    corvexClient_session_createCacheSession(const char** properties, corvexClient_session_t session,
                                            corvexClient_cacheSession_t* cacheSession);
    /* Clears the handle. Outcomes of requests already sent are still reported
     * on the parent session. */
    CORVEXCLIENT_API corvexClient_returnCode_t
    corvexClient_cacheSession_destroy(corvexClient_cacheSession_t* cacheSession);

/* Cache request flags. The library never subscribes on behalf of a cache
 * request: live data needs a subscription of its own, so NO_LIVE_SUBSCRIBE is
 * implied and subscribeFlags must be 0. */
/* deliver the cached messages (always done) */
#define CORVEXCLIENT_CACHEREQUEST_FLAGS_DELIVER_CACHED 0x01
#define CORVEXCLIENT_CACHEREQUEST_FLAGS_NO_LIVE_SUBSCRIBE 0x08
/* return IN_PROGRESS; the outcome is the cache event */
#define CORVEXCLIENT_CACHEREQUEST_FLAGS_NO_WAIT 0x10

    /* Sends a cache request. With NO_WAIT it returns CORVEXCLIENT_IN_PROGRESS and
     * the callback reports the outcome. Without it the call waits and returns the
     * outcome (OK, or INCOMPLETE with sub-code CACHE_NO_DATA in the last-error
     * record) after the cached messages were delivered; no event then, and it is
     * refused on the context thread. The request id may be any value; 0 marks the
     * answers as meant for every receiver. */
    CORVEXCLIENT_API corvexClient_returnCode_t corvexClient_cacheSession_sendCacheRequest(
        corvexClient_cacheSession_t cacheSession, const char* topic,
        corvexClient_cacheRequestId_t requestId, corvexClient_cacheEventCb callback, void* user,
        uint32_t cacheRequestFlags, uint32_t subscribeFlags);

#if defined(__cplusplus)
}
#endif

#endif /* CORVEX_CLIENT_H */
