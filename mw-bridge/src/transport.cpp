#define CORVEX_LOG_MODULE "transport"

#include "transport.h"

#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>
#include <unordered_set>
#include <vector>

#include <mama/integration/bridge.h>
#include <mama/integration/mama.h>
#include <mama/integration/transport.h>
#include <mama/mama.h>
#include <wombat/property.h>

#include "compat.h"
#include "corvexBridge.h"
#include "flowControl.h"
#include "logging.h"
#include "receive.h"
#include "configValue.h"
#include "properties.h"
#include "subscription.h"
#include "topic.h"
#include "transportLifetime.h"
#include "transportList.h"

namespace
{
const size_t USER_NAME_SIZE = 65;
const size_t COMPUTER_NAME_SIZE = 260;
const size_t SESSION_USERNAME_SIZE = 190;
const char* UNKNOWN_IDENTITY = "Unknown";
const char* STATUS_PAYLOAD_NAME = "corvexmsg";

/* Vendor sub-codes with which the router refuses a client it does not admit. */
const uint32_t NOT_ENTITLED_SUB_CODES[] = {CORVEXCLIENT_SUBCODE_LOGIN_REFUSED,
                                           CORVEXCLIENT_SUBCODE_LOGIN_UNKNOWN_USER,
                                           CORVEXCLIENT_SUBCODE_LOGIN_BAD_PASSWORD,
                                           CORVEXCLIENT_SUBCODE_LOGIN_NOT_PERMITTED,
                                           CORVEXCLIENT_SUBCODE_LOGIN_SESSION_LIMIT,
                                           CORVEXCLIENT_SUBCODE_LOGIN_EXPIRED,
                                           CORVEXCLIENT_SUBCODE_LOGIN_CLIENT_NAME_DENIED,
                                           CORVEXCLIENT_SUBCODE_LOGIN_HOST_DENIED,
                                           CORVEXCLIENT_SUBCODE_LOGIN_SCHEME_UNSUPPORTED,
                                           CORVEXCLIENT_SUBCODE_LOGIN_CERTIFICATE_REFUSED,
                                           CORVEXCLIENT_SUBCODE_LOGIN_ACCOUNT_LOCKED};

/* The discard subscription has no object of its own: its replies are
 * swallowed by a callback that lets the vendor release them. */
const CorvexDispatchInfo DISCARD_DISPATCH = {CORVEXCLIENT_DISPATCH_TYPE_CALLBACK,
                                             corvexTransportBridge_ignoreMsg, NULL, NULL};

bool isNotEntitledSubCode(uint32_t subCode)
{
    for (uint32_t code : NOT_ENTITLED_SUB_CODES)
    {
        if (code == subCode)
        {
            return true;
        }
    }
    return false;
}

const char* bridgePropertyValue(const char* key)
{
    char name[1024];
    corvexLog_formatBuffer(name, sizeof(name), "%s%s", CORVEX_TRANSPORT_PREFIX, key);
    return properties_Get(mamaInternal_getProperties(), name);
}

/* A transport's boolean key: its default when absent; false when it is not
 * a boolean (reported, naming the key as the user wrote it). */
bool readBool(const CorvexProperties* properties, const char* key, uint8_t defaultValue,
              uint8_t* value)
{
    *value = defaultValue;
    const char* text = corvexProperties_get(properties, key);
    if (text == NULL)
    {
        return true;
    }
    char name[1024];
    corvexLog_formatBuffer(name, sizeof(name), "%s%s", properties->mPrefix, key);
    return corvexConfig_getBool(name, text, CORVEX_LOG_ERROR, value);
}

void readIdentity(char* userName, char* computerName)
{
    if (corvexCompat_getUserName(userName, USER_NAME_SIZE) != 0)
    {
        corvexLog_formatBuffer(userName, USER_NAME_SIZE, "%s", UNKNOWN_IDENTITY);
    }
    if (corvexCompat_getComputerName(computerName, COMPUTER_NAME_SIZE) != 0)
    {
        corvexLog_formatBuffer(computerName, COMPUTER_NAME_SIZE, "%s", UNKNOWN_IDENTITY);
    }
}

/* Session properties in the order the vendor must see them: the defaults
 * first so that user keys follow (and win), the bridge's own keys last. */
mama_status buildSessionProperties(CorvexTransportBridge* transport, CorvexProperties** result)
{
    char prefix[CORVEX_INBOX_PREFIX_SIZE];
    CORVEX_LOG(CORVEX_LOG_FINE, "Getting properties for transport name=%s.", transport->mName);
    corvexLog_formatBuffer(prefix, sizeof(prefix), "%s%s.", CORVEX_TRANSPORT_PREFIX,
                           transport->mName);
    CorvexProperties* list = corvexProperties_allocate(prefix);
    if (list == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to allocate properties");
        return MAMA_STATUS_NOMEM;
    }
    *result = list;

    if (!corvexProperties_append(list, "SESSION_ALWAYS_BUFFER_IN_CONTEXT", "1"))
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "unable to append property SESSION_ALWAYS_BUFFER_IN_CONTEXT");
        return MAMA_STATUS_NOMEM;
    }
    char userName[USER_NAME_SIZE];
    if (corvexCompat_getUserName(userName, sizeof(userName)) == 0 &&
        !corvexProperties_append(list, "SESSION_USERNAME", userName))
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "unable to append user name");
        return MAMA_STATUS_NOMEM;
    }
    char computerName[COMPUTER_NAME_SIZE];
    if (corvexCompat_getComputerName(computerName, sizeof(computerName)) == 0 &&
        !corvexProperties_append(list, "SESSION_PASSWORD", computerName))
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "unable to append password");
        return MAMA_STATUS_NOMEM;
    }
    const char* defaultUser = corvexProperties_get(list, "SESSION_USERNAME");
    const char* defaultPassword = corvexProperties_get(list, "SESSION_PASSWORD");
    if (!corvexProperties_append(list, "use_corvexcache", "1"))
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to append default use_corvexcache value");
        return MAMA_STATUS_NOMEM;
    }
    if (!corvexProperties_append(list, "SESSION_REQUEST_MSG_LIMIT", "100000"))
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to append default SESSION_REQUEST_MSG_LIMIT value");
        return MAMA_STATUS_NOMEM;
    }

    mama_status status = corvexProperties_load(list);
    if (status != MAMA_STATUS_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to create properties: %s",
                   mamaStatus_stringForStatus(status));
        return status;
    }

    /* The user and computer names stand in for a login the user did not
     * configure: the session goes by them but presents them to no server.
     * A user's key of the same name follows them, so the value found is
     * still the very copy appended above only when there is none. */
    const char* userValue = corvexProperties_get(list, "SESSION_USERNAME");
    const char* passwordValue = corvexProperties_get(list, "SESSION_PASSWORD");
    const char* const TRAILING[][2] = {
        {"SESSION_USERNAME_IS_DEFAULT", userValue == defaultUser ? "1" : "0"},
        {"SESSION_PASSWORD_IS_DEFAULT", passwordValue == defaultPassword ? "1" : "0"},
        {"SESSION_REAPPLY_SUBSCRIPTIONS", "1"},
        {"SESSION_TOPIC_DISPATCH", "1"},
        {"SESSION_CONNECT_BLOCKING", "1"}};
    for (const auto& entry : TRAILING)
    {
        if (!corvexProperties_append(list, entry[0], entry[1]))
        {
            CORVEX_LOG(CORVEX_LOG_ERROR, "unable to append %s=%s", entry[0], entry[1]);
            return MAMA_STATUS_NOMEM;
        }
    }
    return MAMA_STATUS_OK;
}

mama_status createSession(CorvexTransportBridge* transport)
{
    corvexClient_session_createFuncInfo_t callbacks;
    memset(&callbacks, 0, sizeof(callbacks));
    callbacks.mEventInfo.mCallback = corvexTransportBridge_onSessionEvent;
    callbacks.mEventInfo.mUser = transport;
    callbacks.mRxMsgInfo.mCallback = corvexReceive_onSessionMessage;
    callbacks.mRxMsgInfo.mUser = NULL;

    CORVEX_LOG(CORVEX_LOG_FINER,
               "Creating corvexClient session. Calling corvexClient_session_create");
    int32_t rc = corvexClient_session_create(
        corvexProperties_getCorvexClientProps(transport->mCorvexProperties),
        transport->mBridge_p->mContext, &transport->mSession, &callbacks, sizeof(callbacks));
    if (rc != CORVEXCLIENT_OK)
    {
        CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_ERROR, rc, "Error in corvexClient_session_create()");
        transport->mSession = NULL;
        return MAMA_STATUS_PLATFORM;
    }
    corvexFlowControl_attachSession(&transport->mFlowControl, transport->mSession);
    _corvexClient_session_registerForTopicDispatchDestroy(
        transport->mSession, corvexTransportBridge_onTopicDispatchDestroy);

    CORVEX_LOG(CORVEX_LOG_FINER,
               "Connecting corvexClient session. Calling corvexClient_session_connect");
    rc = corvexClient_session_connect(transport->mSession);
    if (rc != CORVEXCLIENT_OK)
    {
        /* Read the refusal before the report makes further vendor calls. */
        const corvexClient_errorInfo_t* error = corvexClient_getLastErrorInfo();
        bool refused = error != NULL && isNotEntitledSubCode(error->mSubCode);
        CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_WARN, rc, "Error in corvexClient_session_connect()");
        return refused ? MAMA_STATUS_NOT_ENTITLED : MAMA_STATUS_PLATFORM;
    }
    return MAMA_STATUS_OK;
}

mama_status loadStatusPayload(CorvexTransportBridge* transport)
{
    mamaPayloadBridge payload = NULL;
    mama_status status = mama_loadPayloadBridge(&payload, STATUS_PAYLOAD_NAME);
    if (status == MAMA_STATUS_OK && payload != NULL)
    {
        CORVEX_LOG(CORVEX_LOG_FINER,
                   "Loaded corvexmsg payload bridge for corvex transport events.");
        transport->mStatusPayloadBridge = payload;
        return MAMA_STATUS_OK;
    }
    if (status == MAMA_STATUS_OK)
    {
        status = MAMA_STATUS_NO_BRIDGE_IMPL;
    }
    if (transport->mUseCache)
    {
        CORVEX_LOG(CORVEX_LOG_WARN,
                   "Unable to load corvexmsg payload bridgewith status: %s. The corvexmsg payload "
                   "bridge is "
                   "required when use_corvexcache is enabled.",
                   mamaStatus_stringForStatus(status));
        return status;
    }
    payload = mamaInternal_getDefaultPayload();
    if (payload == NULL)
    {
        /* Transport and cache events build their status messages with this
         * payload; a transport without one could not deliver them safely. */
        CORVEX_LOG(
            CORVEX_LOG_ERROR,
            "Unable to load corvexmsg payload bridge with status: %s and no default payload bridge "
            "is loaded. Transport events cannot be delivered without a payload bridge.",
            mamaStatus_stringForStatus(status));
        return status;
    }
    CORVEX_LOG(
        CORVEX_LOG_FINER,
        "Unable to load corvexmsg payload bridge with status: %s. Using default payload bridge. "
        "This "
        "may cause unexpected behaviour should the payload bridge be in compatible with the corvex "
        "bridge",
        mamaStatus_stringForStatus(status));
    transport->mStatusPayloadBridge = payload;
    return MAMA_STATUS_OK;
}

mama_status readInboxPrefixes(CorvexTransportBridge* transport)
{
    memset(transport->mInboxCorvexReplyToPrefix, 0, sizeof(transport->mInboxCorvexReplyToPrefix));
    int32_t rc = corvexClient_session_getProperty(
        transport->mSession, "SESSION_REPLY_TO_DEFAULT_DEST", transport->mInboxCorvexReplyToPrefix,
        sizeof(transport->mInboxCorvexReplyToPrefix));
    transport->mInboxCorvexReplyToPrefix[sizeof(transport->mInboxCorvexReplyToPrefix) - 1] = '\0';
    size_t length = strlen(transport->mInboxCorvexReplyToPrefix);
    if (rc != CORVEXCLIENT_OK || length == 0)
    {
        CORVEX_LOG(
            CORVEX_LOG_ERROR,
            "Error in getting P2P topic  for transport name=%s. corvexClient_session_getProperty() "
            "failure for P2P inbox",
            transport->mName);
        return MAMA_STATUS_PLATFORM;
    }
    transport->mInboxCorvexReplyToPrefix[length - 1] = '\0';
    memcpy(transport->mInboxCorvexSubPrefix, transport->mInboxCorvexReplyToPrefix, length);
    corvexTopic_wildcardSecondLevel(transport->mInboxCorvexSubPrefix);
    transport->mInboxCorvexSubPrefixLen = (uint32_t)strlen(transport->mInboxCorvexSubPrefix);
    CORVEX_LOG(
        CORVEX_LOG_FINEST,
        "Set mInboxCorvexReplyToPrefix='%s'  mInboxCorvexSubPrefix='%s' for transport name=%s. ",
        transport->mInboxCorvexReplyToPrefix, transport->mInboxCorvexSubPrefix, transport->mName);
    return MAMA_STATUS_OK;
}

/* Undoes a failed creation in reverse order; every resource is recognised by
 * its field, which a new node starts without. Runs under mTransportListLock. */
void rollbackCreate(CorvexBridge* bridge, CorvexTransportBridge* transport)
{
    if (transport->mCacheSessionLock != NULL)
    {
        wlock_destroy(transport->mCacheSessionLock);
    }
    if (transport->mPubInfoMap != NULL)
    {
        corvexClient_container_closeMapStream(&transport->mPubInfoMap);
    }
    if (transport->mSession != NULL)
    {
        corvexClient_session_destroy(&transport->mSession);
    }
    if (transport->mCorvexProperties != NULL)
    {
        corvexProperties_destroy(&transport->mCorvexProperties);
    }
    corvexTransportLifetime_free(transport);
    if (transport->mSubscriptionsLock != NULL)
    {
        wlock_destroy(transport->mSubscriptionsLock);
    }
    corvexFlowControl_destroyTransport(&transport->mFlowControl);
    corvexThrottledLog_destroy(transport->mThrottledLog);
    free(transport->mName);
    transport->mName = NULL;
    corvexTransportList_popFront(bridge->mTransportList);
}

mama_status fillTransport(CorvexBridge* bridge, CorvexTransportBridge* transport, const char* name,
                          mamaTransport parent)
{
    transport->mMamaTransport = parent;
    transport->mName = strdup(name);
    if (transport->mName == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to allocate memory for transport name; transport: %p",
                   (void*)transport);
        return MAMA_STATUS_NOMEM;
    }
    transport->mThrottledLog = corvexThrottledLog_create(CORVEX_LOG_ERROR, bridge->mContext);
    if (transport->mThrottledLog == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to allocate memory for throttled log structure");
        return MAMA_STATUS_NOMEM;
    }
    if (corvexFlowControl_initTransport(&transport->mFlowControl, transport->mName) !=
        MAMA_STATUS_OK)
    {
        return MAMA_STATUS_PLATFORM;
    }
    transport->mSubscriptionsLock = wlock_create();
    if (transport->mSubscriptionsLock == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to initialize lock for subscription list");
        return MAMA_STATUS_PLATFORM;
    }
    mama_status created = corvexTransportLifetime_init(transport);
    if (created != MAMA_STATUS_OK)
    {
        return created;
    }

    mama_status status = buildSessionProperties(transport, &transport->mCorvexProperties);
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }
    transport->mBridge_p = bridge;
    status = createSession(transport);
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }
    corvexTransportBridge_createPubInfoMap(&transport->mPubInfoMap, transport->mPubInfoMapBuffer,
                                           sizeof(transport->mPubInfoMapBuffer),
                                           transport->mSession);

    transport->mCacheSession = NULL;
    transport->mCacheEventCallback = corvexTransportBridge_onCacheEvent;
    transport->mCacheSessionLock = wlock_create();
    if (transport->mCacheSessionLock == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Could not create cache session init lock..");
        return MAMA_STATUS_PLATFORM;
    }

    const CorvexProperties* properties = transport->mCorvexProperties;
    if (!readBool(properties, "use_corvexcache", 1, &transport->mUseCache))
    {
        return MAMA_STATUS_PLATFORM;
    }
    if (transport->mUseCache)
    {
        CORVEX_LOG(CORVEX_LOG_NORMAL, "Use of CorvexCache is enabled.");
    }
    else
    {
        CORVEX_LOG(CORVEX_LOG_FINER, "Use of CorvexCache is disabled.");
    }
    status = loadStatusPayload(transport);
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }
    /* Without the cache nothing else answers initial-value requests. */
    uint8_t sendSubReq = 0;
    if (!readBool(properties, "send_subreq", 0, &sendSubReq))
    {
        return MAMA_STATUS_PLATFORM;
    }
    transport->mSendSubReq = transport->mUseCache ? sendSubReq : 1;
    CORVEX_LOG(CORVEX_LOG_FINER, "SendSubReq for transport %s is %s", transport->mName,
               transport->mSendSubReq ? "enabled" : "disabled");

    const char* recoverGaps = corvexProperties_get(properties, "allow_recover_gaps");
    if (recoverGaps == NULL)
    {
        CORVEX_LOG(
            CORVEX_LOG_ERROR,
            "Error in getting bridge property 'allow_recover_gaps' for transport name=%s. Property "
            "'%sallow_recover_gaps' is mandatory but missing.",
            transport->mName, properties->mPrefix);
        return MAMA_STATUS_PLATFORM;
    }
    if (!readBool(properties, "allow_recover_gaps", 0, &transport->mAllowRecoverGaps))
    {
        return MAMA_STATUS_PLATFORM;
    }
    CORVEX_LOG(CORVEX_LOG_FINE,
               "Found bridge property 'allow_recover_gaps' for transport name=%s, value=%s. "
               "Setting bridge "
               "allow recover gaps to %d.",
               transport->mName, recoverGaps, (int)transport->mAllowRecoverGaps);

    status = readInboxPrefixes(transport);
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }
    return corvexTransportBridge_createDiscardSubscription(transport);
}

mama_status reportDestroyStep(int32_t rc, const char* text, mama_status current)
{
    CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_ERROR, rc, text);
    return current == MAMA_STATUS_OK ? MAMA_STATUS_PLATFORM : current;
}

/* Shuts a session down that has already been taken out of its transport; a
 * session that full queues held suspended is resumed before it leaves. */
mama_status shutDownSession(CorvexTransportBridge* transport, corvexClient_session_t session,
                            bool suspended)
{
    mama_status result = MAMA_STATUS_OK;
    int32_t rc = CORVEXCLIENT_OK;
    __atomic_store_n(&transport->mIsSessionClosing, 1, __ATOMIC_RELEASE);
    if (suspended && (rc = corvexClient_session_resume(session)) != CORVEXCLIENT_OK)
    {
        result = reportDestroyStep(rc, "Error resuming session before disconnect", result);
    }
    if ((rc = corvexClient_session_disconnect(session)) != CORVEXCLIENT_OK)
    {
        result = reportDestroyStep(rc, "Error in corvexClient_session_disconnect()", result);
    }
    if ((rc = corvexClient_session_destroy(&session)) != CORVEXCLIENT_OK)
    {
        result = reportDestroyStep(rc, "Error in corvexClient_session_destroy()", result);
    }
    else
    {
        CORVEX_LOG(CORVEX_LOG_NORMAL, "Destroyed corvexClient session in transport name=%s",
                   transport->mName);
    }
    if (transport->mPubInfoMap != NULL)
    {
        rc = corvexClient_container_closeMapStream(&transport->mPubInfoMap);
        if (rc == CORVEXCLIENT_OK)
        {
            transport->mPubInfoMap = NULL;
            CORVEX_LOG(CORVEX_LOG_FINE, "Destroyed pub info map.");
        }
        else
        {
            CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_ERROR, rc,
                                    "Error in corvexClient_container_closeMapStream()");
        }
    }
    return result;
}
} // namespace

void corvexTransportBridge_createPubInfoMap(corvexClient_container_t* map, char* buffer,
                                            size_t size, corvexClient_session_t session)
{
    *map = NULL;
    const char* enabled = bridgePropertyValue("send_publisher_info");
    uint8_t send = 1;
    /* Not a boolean: warned about, and the map is sent as by default. */
    if (enabled != NULL &&
        corvexConfig_getBool(CORVEX_TRANSPORT_PREFIX "send_publisher_info", enabled,
                             CORVEX_LOG_WARN, &send) &&
        !send)
    {
        CORVEX_LOG(CORVEX_LOG_FINE, "pubinfo disabled.");
        return;
    }
    CORVEX_LOG(CORVEX_LOG_FINER, "pubinfo is enabled");
    char userName[USER_NAME_SIZE];
    char computerName[COMPUTER_NAME_SIZE];
    readIdentity(userName, computerName);
    char sessionUser[SESSION_USERNAME_SIZE] = "";
    int32_t rc = corvexClient_session_getProperty(session, "SESSION_USERNAME", sessionUser,
                                                  sizeof(sessionUser));
    sessionUser[sizeof(sessionUser) - 1] = '\0';
    if (rc != CORVEXCLIENT_OK || sessionUser[0] == '\0')
    {
        corvexLog_formatBuffer(sessionUser, sizeof(sessionUser), "%s", UNKNOWN_IDENTITY);
    }

    rc = corvexClient_container_createMap(map, buffer, size);
    if (rc != CORVEXCLIENT_OK)
    {
        CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_ERROR, rc, "Cannot create pubinfo map");
        *map = NULL;
        return;
    }
    if ((rc = corvexClient_container_addString(*map, userName, "U")) != CORVEXCLIENT_OK)
    {
        CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_ERROR, rc, "Cannot put username in pubinfo map");
    }
    if ((rc = corvexClient_container_addString(*map, computerName, "H")) != CORVEXCLIENT_OK)
    {
        CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_ERROR, rc, "Cannot put computername in pubinfo map");
    }
    if ((rc = corvexClient_container_addInt32(*map, (int32_t)getpid(), "P")) != CORVEXCLIENT_OK)
    {
        CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_ERROR, rc, "Cannot put pid in pubinfo map");
    }
    if ((rc = corvexClient_container_addString(*map, sessionUser, "S")) != CORVEXCLIENT_OK)
    {
        CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_ERROR, rc, "Cannot put session username in pubinfo map");
    }
}

int corvexTransportBridge_ignoreMsg(corvexClient_session_t, corvexClient_msg_t, void*)
{
    return 0;
}

/* The discard topic is cut to the buffer like every vendor topic; only a
 * formatting error fails. */
static mama_status discardTopic(const CorvexTransportBridge* transport, char* topic)
{
    int length = corvexLog_formatBuffer(topic, CORVEX_TOPIC_BUFFER_SIZE, "%sdiscard",
                                        transport->mInboxCorvexSubPrefix);
    if (length < 0)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Could not concatenate topic for discard subscription: %d",
                   length);
        return MAMA_STATUS_PLATFORM;
    }
    topic[CORVEX_TOPIC_BUFFER_SIZE - 1] = '\0';
    return MAMA_STATUS_OK;
}

mama_status corvexTransportBridge_createDiscardSubscription(CorvexTransportBridge* transport)
{
    char topic[CORVEX_TOPIC_BUFFER_SIZE];
    mama_status status = discardTopic(transport, topic);
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }
    int32_t rc = corvexClient_session_topicSubscribeWithDispatch(
        transport->mSession, CORVEXCLIENT_SUBSCRIBE_FLAGS_LOCAL_DISPATCH_ONLY, topic,
        &DISCARD_DISPATCH, NULL);
    if (rc != CORVEXCLIENT_OK)
    {
        CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_ERROR, rc, "Error creating discard subscription");
        return MAMA_STATUS_PLATFORM;
    }
    return MAMA_STATUS_OK;
}

mama_status corvexTransportBridge_destroyDiscardSubscription(CorvexTransportBridge* transport)
{
    char topic[CORVEX_TOPIC_BUFFER_SIZE];
    mama_status status = discardTopic(transport, topic);
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }
    int32_t rc = corvexClient_session_topicUnsubscribeWithDispatch(
        transport->mSession, CORVEXCLIENT_SUBSCRIBE_FLAGS_LOCAL_DISPATCH_ONLY, topic,
        &DISCARD_DISPATCH, NULL);
    if (rc != CORVEXCLIENT_OK)
    {
        CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_ERROR, rc, "Error destroying discard subscription");
        return MAMA_STATUS_PLATFORM;
    }
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT mama_status corvexBridgeMamaTransport_create(CorvexTransportBridge** result,
                                                           const char* name, mamaTransport parent)
{
    if (result == NULL || name == NULL || parent == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    CORVEX_LOG(CORVEX_LOG_FINEST, "Args: name=%s mamaTPort=%p", name, (void*)parent);
    if (name[0] == '\0')
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Called with empty transport name");
        return MAMA_STATUS_INVALID_ARG;
    }
    mamaBridge impl = mamaTransportImpl_getBridgeImpl(parent);
    if (impl == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Could not get bridge from passed in MAMA Transport");
        return MAMA_STATUS_PLATFORM;
    }
    void* closure = NULL;
    mama_status status = mamaBridgeImpl_getClosure(impl, &closure);
    if (status != MAMA_STATUS_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Could not get Corvex bridge object: %s",
                   mamaStatus_stringForStatus(status));
        return status;
    }
    if (closure == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Could not get corvex bridge. Closure object is NULL.");
        return MAMA_STATUS_PLATFORM;
    }
    CorvexBridge* bridge = static_cast<CorvexBridge*>(closure);
    status = corvexBridge_initKlix(bridge);
    if (status != MAMA_STATUS_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to initialize KLIX before creating transport '%s': %s",
                   name, mamaStatus_stringForStatus(status));
        return status;
    }

    wlock_lock(bridge->mTransportListLock);
    CorvexTransportBridge* existing = corvexTransportList_findByName(bridge->mTransportList, name);
    if (existing != NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "Cannot create transport name=%s. Already have a transport with this name (%p)",
                   name, (void*)existing);
        wlock_unlock(bridge->mTransportListLock);
        return MAMA_STATUS_PLATFORM;
    }
    CorvexTransportBridge* transport = corvexTransportList_pushFront(bridge->mTransportList);
    if (transport == NULL)
    {
        wlock_unlock(bridge->mTransportListLock);
        return MAMA_STATUS_NOMEM;
    }
    status = fillTransport(bridge, transport, name, parent);
    if (status != MAMA_STATUS_OK)
    {
        rollbackCreate(bridge, transport);
        wlock_unlock(bridge->mTransportListLock);
        return status;
    }
    *result = transport;
    wlock_unlock(bridge->mTransportListLock);
    /* The application's callback runs without the bridge's locks. */
    mamaTransportImpl_invokeTransportCallback(parent, MAMA_TRANSPORT_CONNECT, 0, NULL);
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT mama_status corvexBridgeMamaTransport_destroy(CorvexTransportBridge* transport)
{
    if (transport == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (transport->mName == NULL)
    {
        return MAMA_STATUS_INVALID_ARG;
    }
    CorvexBridge* bridge = transport->mBridge_p;

    /* The session handle is handed over under every lock that guards a reader
     * of it: a creation's name lookup (list lock), the subscription registry,
     * and flow control, which from now on only counts. */
    if (bridge != NULL)
    {
        wlock_lock(bridge->mTransportListLock);
    }
    wlock_lock(transport->mSubscriptionsLock);
    corvexTransportBridge_destroyDiscardSubscription(transport);
    corvexClient_session_t session = transport->mSession;
    transport->mSession = NULL;
    bool suspended = corvexFlowControl_detachSession(&transport->mFlowControl);
    wlock_unlock(transport->mSubscriptionsLock);
    if (bridge != NULL)
    {
        wlock_unlock(bridge->mTransportListLock);
    }
    corvexTransportLifetime_closeEventGate(transport);

    /* Requests still completing on the context thread send on the cache
     * session under its lock: it goes under that lock too. */
    mama_status result = corvexTransportBridge_closeCacheSession(transport);
    if (session != NULL)
    {
        mama_status shutDown = shutDownSession(transport, session, suspended);
        result = result == MAMA_STATUS_OK ? shutDown : result;
    }
    transport->mMamaTransport = NULL;

    /* Released here only when nothing refers to the object any more; else by
     * the last subscription removal or queued event to let go of it. */
    mama_status released = corvexTransportLifetime_finishDestroy(transport);
    result = result == MAMA_STATUS_OK ? released : result;
    return result;
}

CORVEX_EXPORT int corvexBridgeMamaTransport_isValid(CorvexTransportBridge* transport)
{
    return transport != NULL && transport->mSession != NULL;
}

CORVEX_EXPORT mama_status
corvexBridgeMamaTransport_getNativeTransport(CorvexTransportBridge* transport, void** result)
{
    if (transport == NULL || result == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    *result = transport;
    return MAMA_STATUS_OK;
}

CorvexTransportBridge* corvexTransportBridge_fromTransport(mamaTransport transport,
                                                           mama_status* status)
{
    transportBridge bridgeTransport = NULL;
    mama_status lookup = mamaTransport_getBridgeTransport(transport, &bridgeTransport);
    if (status != NULL)
    {
        *status = lookup;
    }
    return (CorvexTransportBridge*)bridgeTransport;
}

void corvexTransportBridge_onTopicDispatchDestroy(const char* topic,
                                                  const CorvexDispatchInfo* dispatch)
{
    /* Only subscription entries carry a subscription; the discard entry has
     * no user pointer. */
    if (dispatch == NULL || dispatch->mUser == NULL ||
        (corvexReceive_onSubscriptionMessage != dispatch->mCallback &&
         corvexReceive_onCacheAnswer != dispatch->mCallback))
    {
        return;
    }
    CorvexSubscription* subscription = static_cast<CorvexSubscription*>(dispatch->mUser);
    /* The transport outlives its session's reports. A report made by the
     * shutdown means that confirmations not delivered yet never will be:
     * release must not wait for them. Any confirmation delivered normally
     * came before its entry's removal report. */
    bool sessionClosing =
        __atomic_load_n(&subscription->mTransportBridge->mIsSessionClosing, __ATOMIC_ACQUIRE) != 0;

    /* Held to the end: destroy decides under this lock whether it queues the
     * destroy request itself, and release takes it before freeing. */
    wlock_lock(subscription->mKlixSubscriptionListLock);
    if (!corvexSubscription_removeTopicEntry(&subscription->mKlixSubscriptionList, topic, dispatch))
    {
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "Could not remove corvex subscription from Bridge subscription. "
                   "corvexSubscription=%p, topic=%s",
                   (void*)subscription, topic != NULL ? topic : "");
    }
    else if (subscription->mKlixSubscriptionList == NULL)
    {
        if (sessionClosing)
        {
            subscription->mIsSessionClosed = 1;
        }
        corvexSubscription_wakeEntriesWaiter(subscription);
        if (subscription->mIsDestroying == 1)
        {
            CORVEX_LOG(CORVEX_LOG_FINEST, "Destroying corvex bridge subscription %p, topic=%s",
                       (void*)subscription, subscription->mTopic);
            if (corvexSubscription_queueDestroy(subscription) != MAMA_STATUS_OK)
            {
                CORVEX_LOG(CORVEX_LOG_ERROR,
                           "Failed to enqueue corvex bridge subscription for destroy. "
                           "corvexSubscription=%p topic=%s",
                           (void*)subscription, subscription->mTopic);
            }
        }
        else
        {
            CORVEX_LOG(
                CORVEX_LOG_FINEST,
                "Corvex Subscriptions unsubscribed without invoking mamaSubscription_deactivate or "
                "mamaSubscription_destroy: %p, topic=%s",
                (void*)subscription, subscription->mTopic);
        }
    }
    wlock_unlock(subscription->mKlixSubscriptionListLock);
}

/* Connection-level features the platform does not offer through this bridge. */
#define CORVEX_NOT_SUPPORTED()                                                                     \
    do                                                                                             \
    {                                                                                              \
        CORVEX_LOG(CORVEX_LOG_FINEST,                                                              \
                   "conflation and load balancing are not supported by this bridge.");             \
        return MAMA_STATUS_NOT_IMPLEMENTED;                                                        \
    } while (0)

CORVEX_EXPORT mama_status corvexBridgeMamaTransport_forceClientDisconnect(CorvexTransportBridge**,
                                                                          int, const char*,
                                                                          uint16_t)
{
    CORVEX_NOT_SUPPORTED();
}

CORVEX_EXPORT mama_status corvexBridgeMamaTransport_findConnection(CorvexTransportBridge**, int,
                                                                   mamaConnection*, const char*,
                                                                   uint16_t)
{
    CORVEX_NOT_SUPPORTED();
}

CORVEX_EXPORT mama_status corvexBridgeMamaTransport_getAllConnections(CorvexTransportBridge**, int,
                                                                      mamaConnection**, uint32_t*)
{
    CORVEX_NOT_SUPPORTED();
}

CORVEX_EXPORT mama_status corvexBridgeMamaTransport_getAllConnectionsForTopic(
    CorvexTransportBridge**, int, const char*, mamaConnection**, uint32_t*)
{
    CORVEX_NOT_SUPPORTED();
}

CORVEX_EXPORT mama_status corvexBridgeMamaTransport_freeAllConnections(CorvexTransportBridge**, int,
                                                                       mamaConnection*, uint32_t)
{
    CORVEX_NOT_SUPPORTED();
}

CORVEX_EXPORT mama_status corvexBridgeMamaTransport_getAllServerConnections(CorvexTransportBridge**,
                                                                            int,
                                                                            mamaServerConnection**,
                                                                            uint32_t*)
{
    CORVEX_NOT_SUPPORTED();
}

CORVEX_EXPORT mama_status corvexBridgeMamaTransport_freeAllServerConnections(
    CorvexTransportBridge**, int, mamaServerConnection*, uint32_t)
{
    CORVEX_NOT_SUPPORTED();
}

CORVEX_EXPORT mama_status corvexBridgeMamaTransport_sendMsgToConnection(CorvexTransportBridge*,
                                                                        mamaConnection, mamaMsg,
                                                                        const char*)
{
    CORVEX_NOT_SUPPORTED();
}

CORVEX_EXPORT mama_status corvexBridgeMamaTransport_isConnectionIntercepted(mamaConnection,
                                                                            uint8_t* result)
{
    if (result == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    *result = 0;
    CORVEX_NOT_SUPPORTED();
}

CORVEX_EXPORT mama_status corvexBridgeMamaTransport_installConnectConflateMgr(
    CorvexTransportBridge*, mamaConflationManager, mamaConnection, conflateProcessCb,
    conflateGetMsgCb)
{
    CORVEX_NOT_SUPPORTED();
}

CORVEX_EXPORT mama_status corvexBridgeMamaTransport_uninstallConnectConflateMgr(
    CorvexTransportBridge*, mamaConflationManager, mamaConnection)
{
    CORVEX_NOT_SUPPORTED();
}

CORVEX_EXPORT mama_status corvexBridgeMamaTransport_startConnectionConflation(
    CorvexTransportBridge*, mamaConflationManager, mamaConnection)
{
    CORVEX_NOT_SUPPORTED();
}

CORVEX_EXPORT mama_status corvexBridgeMamaTransport_requestConflation(CorvexTransportBridge**, int)
{
    CORVEX_NOT_SUPPORTED();
}

CORVEX_EXPORT mama_status corvexBridgeMamaTransport_requestEndConflation(CorvexTransportBridge**,
                                                                         int)
{
    CORVEX_NOT_SUPPORTED();
}

CORVEX_EXPORT mama_status
corvexBridgeMamaTransport_getNativeTransportNamingCtx(CorvexTransportBridge*, void**)
{
    CORVEX_NOT_SUPPORTED();
}

CORVEX_EXPORT mama_status corvexBridgeMamaTransport_getNumLoadBalanceAttributes(const char* name,
                                                                                int* count)
{
    if (name == NULL || count == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    *count = 0;
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT mama_status corvexBridgeMamaTransport_getLoadBalanceScheme(const char* name,
                                                                         tportLbScheme* scheme)
{
    if (name == NULL || scheme == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    *scheme = TPORT_LB_SCHEME_STATIC;
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT mama_status
corvexBridgeMamaTransport_getLoadBalanceSharedObjectName(const char* name, const char** objectName)
{
    if (name == NULL || objectName == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    *objectName = NULL;
    return MAMA_STATUS_OK;
}
