#include "session.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <pwd.h>
#include <strings.h>
#include <unistd.h>

#include "clientError.h"
#include "clientLog.h"
#include "context.h"
#include "library.h"
#include "message.h"
#include "testControl.h"
#include "topicMatch.h"

namespace
{
constexpr uint32_t kMagicLive = 0x53455321; /* "SES!" */
constexpr uint32_t kMagicDead = 0x44454144; /* "DEAD" */
constexpr uint64_t kDefaultHoldLimit = 100000;
constexpr uint64_t kDefaultHoldWaitMs = 2000;
constexpr uint64_t kDefaultHoldBytesLimit = 32ull << 20;
constexpr uint64_t kMaxHoldBytesLimit = 1ull << 40;
constexpr size_t kMaxClientName = 64;

std::atomic<uint32_t> gClientSequence{0};

std::mutex gLinkLock;

std::string operatingSystemUser()
{
    char buffer[1024];
    struct passwd entry;
    struct passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer, sizeof(buffer), &found) == 0 && found &&
        found->pw_name)
        return found->pw_name;
    return "unknown";
}

/* host-pid-sequence: unique per process and readable in router listings. */
std::string generatedClientName()
{
    char host[256] = "host";
    gethostname(host, sizeof(host) - 1);
    host[sizeof(host) - 1] = '\0';
    std::string name;
    for (const char* c = host; *c && name.size() < 32; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) ? static_cast<char>(std::tolower(*c))
                                                             : '-';
    return name + "-" + std::to_string(getpid()) + "-" + std::to_string(++gClientSequence);
}

/* One topic level that is no wildcard. */
bool validClientName(const std::string& name)
{
    if (name.empty() || name.size() > kMaxClientName || name == ">" || name.back() == '*')
        return false;
    return name.find('/') == std::string::npos;
}

corvexClient_returnCode_t checkSession(corvexClient_session_t session)
{
    if (!session)
        return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
    if (!corvexSession_isValid(session))
        return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_ARGUMENT);
    return CORVEXCLIENT_OK;
}

corvexClient_returnCode_t configure(corvexClientSession* session)
{
    const CorvexPropertyList& list = session->mProperties;
    const char* selector = corvexProperties_get(list, CORVEXCLIENT_SESSION_PROP_ROUTER);
    session->mRouterSelector = selector ? selector : "";
    corvexClient_returnCode_t code = corvexRouter_nameOf(selector, &session->mRouterName);
    if (code != CORVEXCLIENT_OK)
        return code;

    const char* clientName = corvexProperties_get(list, CORVEXCLIENT_SESSION_PROP_CLIENT_NAME);
    session->mClientName = clientName ? clientName : generatedClientName();
    if (!validClientName(session->mClientName))
        return corvexError_set(CORVEXCLIENT_FAIL, CORVEXCLIENT_SUBCODE_BAD_PROPERTY_VALUE, 0,
                               "\"%s\" must be one topic level of at most %zu characters, not '%s'",
                               CORVEXCLIENT_SESSION_PROP_CLIENT_NAME, kMaxClientName,
                               session->mClientName.c_str());
    const char* userName = corvexProperties_get(list, CORVEXCLIENT_SESSION_PROP_USERNAME);
    session->mUserName = (userName && *userName) ? userName : operatingSystemUser();
    const char* password = corvexProperties_get(list, CORVEXCLIENT_SESSION_PROP_PASSWORD);

    /* A stand-in names the session but is no credential. */
    bool userIsDefault = false;
    bool passwordIsDefault = false;
    session->mConnectBlocking = true;
    session->mReapplySubscriptions = true;
    session->mTopicDispatch = true;
    uint64_t holdLimit = kDefaultHoldLimit;
    uint64_t holdWaitMs = kDefaultHoldWaitMs;
    uint64_t holdBytes = kDefaultHoldBytesLimit;
    code = corvexProperties_getBool(list, CORVEXCLIENT_SESSION_PROP_USERNAME_IS_DEFAULT,
                                    &userIsDefault);
    if (code == CORVEXCLIENT_OK)
        code = corvexProperties_getBool(list, CORVEXCLIENT_SESSION_PROP_PASSWORD_IS_DEFAULT,
                                        &passwordIsDefault);
    if (code == CORVEXCLIENT_OK)
        code = corvexProperties_getBool(list, CORVEXCLIENT_SESSION_PROP_CONNECT_BLOCKING,
                                        &session->mConnectBlocking);
    if (code == CORVEXCLIENT_OK)
        code = corvexProperties_getBool(list, CORVEXCLIENT_SESSION_PROP_REAPPLY_SUBSCRIPTIONS,
                                        &session->mReapplySubscriptions);
    if (code == CORVEXCLIENT_OK)
        code = corvexProperties_getBool(list, CORVEXCLIENT_SESSION_PROP_TOPIC_DISPATCH,
                                        &session->mTopicDispatch);
    if (code == CORVEXCLIENT_OK)
        code = corvexProperties_getUnsigned(list, CORVEXCLIENT_SESSION_PROP_SUSPEND_HOLD_LIMIT, 1,
                                            INT32_MAX, &holdLimit);
    if (code == CORVEXCLIENT_OK)
        code = corvexProperties_getUnsigned(list, CORVEXCLIENT_SESSION_PROP_SUSPEND_HOLD_WAIT_MS, 0,
                                            INT32_MAX, &holdWaitMs);
    if (code == CORVEXCLIENT_OK)
        code =
            corvexProperties_getUnsigned(list, CORVEXCLIENT_SESSION_PROP_SUSPEND_HOLD_BYTES_LIMIT,
                                         1024, kMaxHoldBytesLimit, &holdBytes);
    if (code != CORVEXCLIENT_OK)
        return code;
    if (userName && !userIsDefault)
        session->mLoginUserName = userName;
    if (password && !passwordIsDefault)
        session->mLoginPassword = password;
    session->mHoldLimit = static_cast<size_t>(holdLimit);
    session->mHoldBytesLimit = static_cast<size_t>(holdBytes);
    session->mHoldWaitLimit = std::chrono::milliseconds(holdWaitMs);
    const char* policy = corvexProperties_get(list, CORVEXCLIENT_SESSION_PROP_SUSPEND_HOLD_POLICY);
    session->mHoldWaits = !policy || strcasecmp(policy, "wait") == 0;
    if (!session->mHoldWaits && strcasecmp(policy, "discard") != 0)
        return corvexError_set(CORVEXCLIENT_FAIL, CORVEXCLIENT_SUBCODE_BAD_PROPERTY_VALUE, 0,
                               "\"%s\": '%s' is neither \"wait\" nor \"discard\"",
                               CORVEXCLIENT_SESSION_PROP_SUSPEND_HOLD_POLICY,
                               corvexProperties_quoted(policy).c_str());
    code = corvexRouterConfig_parse(list, &session->mRouterConfig);
    if (code != CORVEXCLIENT_OK)
        return code;
    session->mReplyToDest = CORVEXCLIENT_P2P_TOPIC_PREFIX "v:" + session->mRouterName + "/" +
                            session->mClientName + "/#";
    return CORVEXCLIENT_OK;
}

/* Context thread: the end of a session's life as its callbacks see it. */
void teardown(corvexClientSession* session, void*)
{
    std::vector<CorvexDispatchEntry> entries;
    {
        std::unique_lock<CorvexSharedLock> lock(session->mLock);
        corvexDispatchTable_takeAll(session->mTable, entries);
    }
    while (!session->mHeld.empty())
    {
        corvexClientMsg* msg = session->mHeld.front();
        session->mHeld.pop_front();
        corvexMsg_release(msg);
    }
    corvexClient_session_topicDispatchDestroyCb report = session->mDispatchDestroyCallback.load();
    if (!report)
        return;
    for (const CorvexDispatchEntry& entry : entries)
        report(entry.mTopic.c_str(), &entry.mDispatch);
}

/* Cuts the link of every cache session of a session that is being
 * destroyed; those cache sessions then refuse requests. */
void detachCacheSessions(corvexClientSession* session)
{
    std::lock_guard<std::mutex> guard(gLinkLock);
    std::unique_lock<CorvexSharedLock> lock(session->mLock);
    for (corvexClientCacheSession* cacheSession : session->mCacheSessions)
        cacheSession->mSession = nullptr;
    session->mCacheSessions.clear();
}

void freeSession(corvexClientSession* session, void*)
{
    session->mMagic = kMagicDead;
    delete session;
}

const char* readOnlyProperty(const corvexClientSession* session, const char* name,
                             std::string& text)
{
    if (strcasecmp(name, CORVEXCLIENT_SESSION_PROP_PUBLISH_WAITS) == 0)
        return (text = std::to_string(session->mPublishWaits.load())).c_str();
    if (strcasecmp(name, CORVEXCLIENT_SESSION_PROP_PUBLISH_WAIT_US) == 0)
        return (text = std::to_string(session->mPublishWaitMicros.load())).c_str();
    if (strcasecmp(name, CORVEXCLIENT_SESSION_PROP_SUSPEND_HELD_PEAK) == 0)
        return (text = std::to_string(session->mHeldPeak.load())).c_str();
    if (strcasecmp(name, CORVEXCLIENT_SESSION_PROP_SUSPEND_HELD_BYTES_PEAK) == 0)
        return (text = std::to_string(session->mHeldBytesPeak.load())).c_str();
    if (strcasecmp(name, CORVEXCLIENT_SESSION_PROP_REPLY_TO_DEFAULT_DEST) == 0)
        return session->mReplyToDest.c_str();
    if (strcasecmp(name, CORVEXCLIENT_SESSION_PROP_ROUTER_NAME) == 0)
        return session->mRouterName.c_str();
    if (strcasecmp(name, CORVEXCLIENT_SESSION_PROP_CLIENT_NAME) == 0)
        return session->mClientName.c_str();
    if (strcasecmp(name, CORVEXCLIENT_SESSION_PROP_USERNAME) == 0)
        return session->mUserName.c_str();
    return nullptr;
}
} // namespace

bool corvexSession_isValid(const corvexClientSession* session)
{
    return session->mMagic == kMagicLive;
}

std::mutex& corvexSession_cacheLinkLock()
{
    return gLinkLock;
}

corvexClient_returnCode_t corvexSession_connectLocked(corvexClientSession* session)
{
    if (!session->mRouter)
    {
        corvexClient_returnCode_t code =
            corvexRouter_open(session->mRouterSelector.c_str(), &session->mRouter);
        if (code != CORVEXCLIENT_OK)
            return code;
    }
    const CorvexRouterLogin login{session->mClientName.c_str(), session->mUserName.c_str(),
                                  session->mLoginUserName.c_str(), session->mLoginPassword.c_str(),
                                  &session->mRouterConfig};
    const CorvexRouterEndpoint endpoint = corvexSession_endpoint(session);
    corvexClient_returnCode_t code =
        session->mRouter->mOps->mConnect(session->mRouter, &endpoint, &login, &session->mLink);
    if (code != CORVEXCLIENT_OK)
        return code;
    session->mState = CORVEX_SESSION_CONNECTED;
    corvexSession_applyRouterSubscriptions(session);
    CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_API, CORVEXCLIENT_LOG_INFO,
               "session %s connected to router %s", session->mClientName.c_str(),
               session->mRouterName.c_str());
    return CORVEXCLIENT_OK;
}

void corvexSession_disconnectLocked(corvexClientSession* session)
{
    if (session->mState != CORVEX_SESSION_CONNECTED)
        return;
    session->mRouter->mOps->mDisconnect(session->mRouter, session->mLink);
    session->mLink = nullptr;
    session->mState = CORVEX_SESSION_DISCONNECTED;
    CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_API, CORVEXCLIENT_LOG_INFO, "session %s disconnected",
               session->mClientName.c_str());
}

void corvexSession_applyRouterSubscriptions(corvexClientSession* session)
{
    corvexDispatchTable_forEachRouted(
        session->mTable,
        [session](const CorvexDispatchEntry& entry)
        {
            const CorvexSubscribeRequest request{true, entry.mOrder, nullptr};
            if (session->mRouter->mOps->mSubscribe(session->mRouter, session->mLink,
                                                   entry.mTopic.data(), entry.mTopic.size(),
                                                   &request) != CORVEXCLIENT_OK)
                CORVEX_LOG(
                    CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_WARNING,
                    "session %s: router refused topic '%s' when subscriptions were placed again",
                    session->mClientName.c_str(), entry.mTopic.c_str());
        });
}

void corvexSession_destroy(corvexClientSession* session)
{
    {
        std::unique_lock<CorvexSharedLock> lock(session->mLock);
        session->mClosed.store(true, std::memory_order_release);
        corvexSession_disconnectLocked(session);
        session->mState = CORVEX_SESSION_DESTROYED;
    }
    /* Out of the router now: no sender starts waiting for it any more. */
    corvexSession_releaseWaiters(session);
    detachCacheSessions(session);
    corvexClientContext* context = session->mContext;
    corvexContext_removeSession(context, session);
    corvexContext_runAndWait(context, session, teardown, nullptr);
    /* On the context thread, items for this session may still follow the
     * running one; the free is queued behind them. Elsewhere every item that
     * names the session was queued before the teardown, which has run. */
    if (corvexContext_onThread(context))
    {
        if (!corvexContext_postTask(context, session, freeSession, nullptr))
            CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_ERROR,
                       "out of memory: session %p not freed", static_cast<void*>(session));
    }
    else
        freeSession(session, nullptr);
}

extern "C"
{

    corvexClient_returnCode_t corvexClient_session_create(
        const char** properties, corvexClient_context_t context, corvexClient_session_t* session,
        corvexClient_session_createFuncInfo_t* funcInfo, size_t funcInfoSize)
    {
        CORVEX_TEST_HOOK("corvexClient_session_create", "context=%p funcInfoSize=%zu",
                         static_cast<void*>(context), funcInfoSize);
        if (!session || !context)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
        *session = nullptr;
        if (!corvexLibrary_isInitialized())
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NOT_INITIALIZED);
        if (!corvexContext_isValid(context) ||
            (funcInfo && (funcInfoSize < sizeof(corvexClient_session_createFuncInfo_t) ||
                          funcInfo->mReserved.mReserved || funcInfo->mReserved.mReservedUser)))
            return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_ARGUMENT);

        corvexClientSession* created = new (std::nothrow) corvexClientSession();
        if (!created)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NO_MEMORY);
        created->mMagic = kMagicLive;
        created->mContext = context;
        if (funcInfo)
        {
            created->mEventCallback = funcInfo->mEventInfo.mCallback;
            created->mEventUser = funcInfo->mEventInfo.mUser;
            created->mRxCallback = funcInfo->mRxMsgInfo.mCallback;
            created->mRxUser = funcInfo->mRxMsgInfo.mUser;
        }
        created->mState = CORVEX_SESSION_CREATED;
        created->mDiscardPending = false;
        corvexClient_returnCode_t code = corvexProperties_copy(properties, &created->mProperties);
        if (code == CORVEXCLIENT_OK)
            code = configure(created);
        if (code != CORVEXCLIENT_OK)
        {
            delete created;
            return code;
        }
        corvexContext_addSession(context, created, corvexSession_destroy);
        CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_API, CORVEXCLIENT_LOG_INFO,
                   "session %s created on router %s", created->mClientName.c_str(),
                   created->mRouterName.c_str());
        *session = created;
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t _corvexClient_session_registerForTopicDispatchDestroy(
        corvexClient_session_t session, corvexClient_session_topicDispatchDestroyCb callback)
    {
        CORVEX_TEST_HOOK("_corvexClient_session_registerForTopicDispatchDestroy", "session=%p",
                         static_cast<void*>(session));
        corvexClient_returnCode_t code = checkSession(session);
        if (code != CORVEXCLIENT_OK)
            return code;
        session->mDispatchDestroyCallback.store(callback);
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t corvexClient_session_connect(corvexClient_session_t session)
    {
        CORVEX_TEST_HOOK("corvexClient_session_connect", "session=%p", static_cast<void*>(session));
        corvexClient_returnCode_t code = checkSession(session);
        if (code != CORVEXCLIENT_OK)
            return code;
        {
            std::unique_lock<CorvexSharedLock> lock(session->mLock);
            if (session->mState == CORVEX_SESSION_DESTROYED)
                return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_STATE);
            if (session->mState == CORVEX_SESSION_CONNECTED)
                return CORVEXCLIENT_OK;
            code = corvexSession_connectLocked(session);
        }
        if (session->mConnectBlocking)
            return code;
        if (code == CORVEXCLIENT_OK)
        {
            corvexSession_raiseEvent(session, CORVEXCLIENT_SESSION_EVENT_UP,
                                     CORVEXCLIENT_SUBCODE_OK, 0, "session up", nullptr);
        }
        else
        {
            const corvexClient_errorInfo_t* reason = corvexClient_getLastErrorInfo();
            corvexSession_raiseEvent(session, CORVEXCLIENT_SESSION_EVENT_CONNECT_FAILED,
                                     reason->mSubCode, reason->mResponseCode, reason->mErrorText,
                                     nullptr);
        }
        return CORVEXCLIENT_IN_PROGRESS;
    }

    corvexClient_returnCode_t corvexClient_session_disconnect(corvexClient_session_t session)
    {
        CORVEX_TEST_HOOK("corvexClient_session_disconnect", "session=%p",
                         static_cast<void*>(session));
        corvexClient_returnCode_t code = checkSession(session);
        if (code != CORVEXCLIENT_OK)
            return code;
        std::unique_lock<CorvexSharedLock> lock(session->mLock);
        corvexSession_disconnectLocked(session);
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t corvexClient_session_destroy(corvexClient_session_t* session)
    {
        CORVEX_TEST_HOOK("corvexClient_session_destroy", "session=%p",
                         session ? static_cast<void*>(*session) : nullptr);
        if (!session)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
        corvexClient_returnCode_t code = checkSession(*session);
        if (code != CORVEXCLIENT_OK)
            return code;
        CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_API, CORVEXCLIENT_LOG_INFO, "session %s destroyed",
                   (*session)->mClientName.c_str());
        corvexSession_destroy(*session);
        *session = nullptr;
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t corvexClient_session_suspend(corvexClient_session_t session)
    {
        CORVEX_TEST_HOOK("corvexClient_session_suspend", "session=%p", static_cast<void*>(session));
        corvexClient_returnCode_t code = checkSession(session);
        if (code != CORVEXCLIENT_OK)
            return code;
        session->mSuspended.store(true, std::memory_order_release);
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t corvexClient_session_resume(corvexClient_session_t session)
    {
        CORVEX_TEST_HOOK("corvexClient_session_resume", "session=%p", static_cast<void*>(session));
        corvexClient_returnCode_t code = checkSession(session);
        if (code != CORVEXCLIENT_OK)
            return code;
        std::shared_lock<CorvexSharedLock> lock(session->mLock);
        if (session->mState == CORVEX_SESSION_DESTROYED)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_STATE);
        if (session->mSuspended.exchange(false, std::memory_order_acq_rel))
        {
            session->mWaitExpired.store(false, std::memory_order_release);
            corvexSession_wakeWaiters(session);
            if (!corvexContext_postTask(session->mContext, session, corvexSession_deliverHeld,
                                        nullptr))
                return corvexError_fail(CORVEXCLIENT_SUBCODE_NO_MEMORY);
        }
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t corvexClient_session_getProperty(corvexClient_session_t session,
                                                               const char* name, char* buffer,
                                                               size_t bufferSize)
    {
        CORVEX_TEST_HOOK("corvexClient_session_getProperty", "name=%s size=%zu",
                         corvexText_orNull(name), bufferSize);
        corvexClient_returnCode_t code = checkSession(session);
        if (code != CORVEXCLIENT_OK)
            return code;
        if (!name || !buffer)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
        std::string text;
        const char* value = readOnlyProperty(session, name, text);
        if (!value && strcasecmp(name, CORVEXCLIENT_SESSION_PROP_PASSWORD) != 0 &&
            strcasecmp(name, CORVEXCLIENT_SESSION_PROP_NATS_TOKEN) != 0)
            value = corvexProperties_get(session->mProperties, name);
        if (!value)
            return corvexError_set(CORVEXCLIENT_FAIL, CORVEXCLIENT_SUBCODE_UNKNOWN_PROPERTY, 0,
                                   "the session has no property '%s'", name);
        const size_t length = std::strlen(value);
        if (length >= bufferSize)
            return corvexError_set(CORVEXCLIENT_FAIL, CORVEXCLIENT_SUBCODE_BUFFER_TOO_SMALL, 0,
                                   "property '%s' needs %zu bytes", name, length + 1);
        std::memcpy(buffer, value, length + 1);
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t corvexClient_session_sendMsg(corvexClient_session_t session,
                                                           corvexClient_msg_t msg)
    {
        CORVEX_TEST_HOOK("corvexClient_session_sendMsg", "topic=%s size=%u",
                         (msg && corvexMsg_isValid(msg)) ? corvexText_orNull(msg->mTopic)
                                                         : "(null)",
                         (msg && corvexMsg_isValid(msg)) ? msg->mContentLength : 0);
        corvexClient_returnCode_t code = checkSession(session);
        if (code != CORVEXCLIENT_OK)
            return code;
        if (!msg)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
        if (!corvexMsg_isValid(msg))
            return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_STATE);
        if (!msg->mTopic)
            return corvexError_set(CORVEXCLIENT_FAIL, CORVEXCLIENT_SUBCODE_FIELD_MISSING, 0,
                                   "the message has no topic");
        size_t length;
        const corvexClient_subCode_t invalid = corvexTopic_validate(msg->mTopic, &length);
        if (invalid != CORVEXCLIENT_SUBCODE_OK)
            return corvexError_fail(invalid);
        if (corvexTopic_isWildcard(msg->mTopic, length))
            return corvexError_set(CORVEXCLIENT_FAIL, CORVEXCLIENT_SUBCODE_PUBLISH_TOPIC_INVALID, 0,
                                   "cannot publish on wildcard Topic '%s'", msg->mTopic);

        CorvexWaitList waits{{}, 0};
        {
            std::shared_lock<CorvexSharedLock> lock(session->mLock);
            if (session->mState != CORVEX_SESSION_CONNECTED)
                return corvexError_set(CORVEXCLIENT_NOT_READY, CORVEXCLIENT_SUBCODE_NOT_CONNECTED,
                                       0, "session %s is not connected",
                                       session->mClientName.c_str());
            corvexSession_beginSend();
            code = session->mRouter->mOps->mPublish(session->mRouter, session->mLink, msg, &waits);
        }
        corvexSession_finishSend(session);
        corvexWaitList_wait(&waits);
        return code;
    }
}
