/* Names and descriptions of return codes, sub-codes and events. */
#include "corvexClient.h"

namespace
{
struct SubCodeText
{
    corvexClient_subCode_t mCode;
    const char* mName;
    const char* mDescription;
};

#define CORVEX_SUBCODE(name, text)                                                                 \
    {                                                                                              \
        CORVEXCLIENT_SUBCODE_##name, "CORVEXCLIENT_SUBCODE_" #name, text                           \
    }

const SubCodeText kSubCodes[] = {
    CORVEX_SUBCODE(OK, "no error"),
    CORVEX_SUBCODE(BAD_ARGUMENT, "an argument is out of range"),
    CORVEX_SUBCODE(NULL_ARGUMENT, "a required pointer or handle is null"),
    CORVEX_SUBCODE(NOT_INITIALIZED, "the library is not initialized"),
    CORVEX_SUBCODE(BUFFER_TOO_SMALL, "the buffer is too small for the result"),
    CORVEX_SUBCODE(NO_MEMORY, "out of memory"),
    CORVEX_SUBCODE(INTERNAL_ERROR, "internal error"),
    CORVEX_SUBCODE(BAD_STATE, "not allowed in the current state"),
    CORVEX_SUBCODE(NOT_CONNECTED, "the session is not connected"),
    CORVEX_SUBCODE(FIELD_MISSING, "the message lacks a required field"),
    CORVEX_SUBCODE(MSG_REJECTED, "the router rejected the message"),
    CORVEX_SUBCODE(UNKNOWN_PROPERTY, "no such property"),
    CORVEX_SUBCODE(BAD_PROPERTY_VALUE, "a property has an invalid value"),
    CORVEX_SUBCODE(ON_CONTEXT_THREAD, "a blocking call was made on the context thread"),
    CORVEX_SUBCODE(THREAD_FAILURE, "the context thread could not be started"),
    CORVEX_SUBCODE(ALREADY_INITIALIZED, "the library is already initialized"),
    CORVEX_SUBCODE(TOPIC_TOO_LONG, "the topic is too long"),
    CORVEX_SUBCODE(BAD_TOPIC, "the topic is empty or has an empty level"),
    CORVEX_SUBCODE(NOT_SUBSCRIBED, "no such subscription"),
    CORVEX_SUBCODE(LOGIN_REFUSED, "the router refused the login"),
    CORVEX_SUBCODE(CONNECT_REFUSED, "the connection was refused"),
    CORVEX_SUBCODE(CLIENT_NAME_IN_USE, "the client name is already in use on the router"),
    CORVEX_SUBCODE(UNSUPPORTED_ROUTER, "the router kind is not supported"),
    CORVEX_SUBCODE(TOPIC_DISPATCH_DISABLED, "topic dispatch is disabled on the session"),
    CORVEX_SUBCODE(CONTAINER_FULL, "the container has no room left"),
    CORVEX_SUBCODE(CONTAINER_CLOSED, "the container is closed or read-only"),
    CORVEX_SUBCODE(TYPE_MISMATCH, "the entry has another type"),
    CORVEX_SUBCODE(PUBLISH_TOPIC_INVALID, "cannot publish on a wildcard topic"),
    CORVEX_SUBCODE(LOGIN_UNKNOWN_USER, "login refused: unknown user"),
    CORVEX_SUBCODE(LOGIN_BAD_PASSWORD, "login refused: wrong password"),
    CORVEX_SUBCODE(LOGIN_NOT_PERMITTED, "login refused: user not permitted"),
    CORVEX_SUBCODE(LOGIN_SESSION_LIMIT, "login refused: too many sessions for the user"),
    CORVEX_SUBCODE(CACHE_NO_DATA, "the cache holds no data for the topic"),
    CORVEX_SUBCODE(CACHE_DATA_SUSPECT, "the cached data may be stale"),
    CORVEX_SUBCODE(CACHE_TIMEOUT, "the cache request timed out"),
    CORVEX_SUBCODE(LOGIN_EXPIRED, "login refused: credentials expired"),
    CORVEX_SUBCODE(SUBSCRIBE_NOT_PERMITTED, "subscription refused by access control"),
    CORVEX_SUBCODE(PUBLISH_NOT_PERMITTED, "publish refused by access control"),
    CORVEX_SUBCODE(CACHE_REQUEST_CANCELLED, "the cache request was cancelled"),
    CORVEX_SUBCODE(LOGIN_CLIENT_NAME_DENIED, "login refused: client name not permitted"),
    CORVEX_SUBCODE(LOGIN_HOST_DENIED, "login refused: host not permitted"),
    CORVEX_SUBCODE(LOGIN_SCHEME_UNSUPPORTED, "login refused: authentication scheme not supported"),
    CORVEX_SUBCODE(LOGIN_CERTIFICATE_REFUSED, "login refused: certificate not accepted"),
    CORVEX_SUBCODE(LOGIN_ACCOUNT_LOCKED, "login refused: account locked"),
};

#undef CORVEX_SUBCODE

const SubCodeText* findSubCode(corvexClient_subCode_t code)
{
    for (const SubCodeText& entry : kSubCodes)
    {
        if (entry.mCode == code)
            return &entry;
    }
    return nullptr;
}

const char* const kSessionEvents[] = {
    "CORVEXCLIENT_SESSION_EVENT_UP",
    "CORVEXCLIENT_SESSION_EVENT_DOWN",
    "CORVEXCLIENT_SESSION_EVENT_CONNECT_FAILED",
    "CORVEXCLIENT_SESSION_EVENT_MSG_REJECTED",
    "CORVEXCLIENT_SESSION_EVENT_SUBSCRIBE_REFUSED",
    "CORVEXCLIENT_SESSION_EVENT_RX_MSG_TOO_LARGE",
    "CORVEXCLIENT_SESSION_EVENT_ACKNOWLEDGED",
    "CORVEXCLIENT_SESSION_EVENT_RESERVED_7",
    "CORVEXCLIENT_SESSION_EVENT_RESERVED_8",
    "CORVEXCLIENT_SESSION_EVENT_UNSUBSCRIBE_REFUSED",
    "CORVEXCLIENT_SESSION_EVENT_UNSUBSCRIBE_CONFIRMED",
    "CORVEXCLIENT_SESSION_EVENT_CAN_SEND",
    "CORVEXCLIENT_SESSION_EVENT_RECONNECTING",
    "CORVEXCLIENT_SESSION_EVENT_RECONNECTED",
    "CORVEXCLIENT_SESSION_EVENT_ROUTER_WARNING",
    "CORVEXCLIENT_SESSION_EVENT_ROUTER_NOTICE",
    "CORVEXCLIENT_SESSION_EVENT_SUBSCRIBE_CONFIRMED",
    "CORVEXCLIENT_SESSION_EVENT_PROPERTY_CHANGED",
};
} // namespace

extern "C"
{

    const char* corvexClient_returnCodeToString(corvexClient_returnCode_t code)
    {
        switch (code)
        {
        case CORVEXCLIENT_FAIL:
            return "CORVEXCLIENT_FAIL";
        case CORVEXCLIENT_OK:
            return "CORVEXCLIENT_OK";
        case CORVEXCLIENT_WOULD_BLOCK:
            return "CORVEXCLIENT_WOULD_BLOCK";
        case CORVEXCLIENT_IN_PROGRESS:
            return "CORVEXCLIENT_IN_PROGRESS";
        case CORVEXCLIENT_NOT_READY:
            return "CORVEXCLIENT_NOT_READY";
        case CORVEXCLIENT_NOT_FOUND:
            return "CORVEXCLIENT_NOT_FOUND";
        case CORVEXCLIENT_INCOMPLETE:
            return "CORVEXCLIENT_INCOMPLETE";
        default:
            return "Unknown return code";
        }
    }

    const char* corvexClient_subCodeToString(corvexClient_subCode_t subCode)
    {
        const SubCodeText* entry = findSubCode(subCode);
        return entry ? entry->mName : "Unknown sub-code";
    }

    const char* corvexClient_subCodeDescription(corvexClient_subCode_t subCode)
    {
        const SubCodeText* entry = findSubCode(subCode);
        return entry ? entry->mDescription : "unknown sub-code";
    }

    const char* corvexClient_session_eventToString(corvexClient_session_event_t event)
    {
        const int32_t count =
            static_cast<int32_t>(sizeof(kSessionEvents) / sizeof(kSessionEvents[0]));
        return (event >= 0 && event < count) ? kSessionEvents[event] : "Unknown session event";
    }

    const char* corvexClient_cacheSession_eventToString(corvexClient_cacheSession_event_t event)
    {
        return event == CORVEXCACHE_EVENT_REQUEST_COMPLETED_NOTICE
                   ? "CORVEXCACHE_EVENT_REQUEST_COMPLETED_NOTICE"
                   : "Unknown cache event";
    }
}
