/* Cache sessions: the handle through which a session asks its router's
 * last-value cache. */
#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <new>

#include "clientError.h"
#include "context.h"
#include "session.h"
#include "testControl.h"
#include "topicMatch.h"

namespace
{
constexpr uint32_t kMagicLive = 0x43414321; /* "CAC!" */
constexpr uint32_t kMagicDead = 0x44454144; /* "DEAD" */
constexpr uint32_t kKnownFlags = CORVEXCLIENT_CACHEREQUEST_FLAGS_DELIVER_CACHED |
                                 CORVEXCLIENT_CACHEREQUEST_FLAGS_NO_LIVE_SUBSCRIBE |
                                 CORVEXCLIENT_CACHEREQUEST_FLAGS_NO_WAIT;

/* A request made without NO_WAIT: its outcome is caught here. */
struct Waiter
{
    std::mutex mLock;
    std::condition_variable mDone;
    bool mFinished = false;
    corvexClient_returnCode_t mCode = CORVEXCLIENT_OK;
    corvexClient_subCode_t mSubCode = CORVEXCLIENT_SUBCODE_OK;
};

void catchOutcome(corvexClient_session_t, const corvexClient_cacheSession_eventInfo_t* event,
                  void* user)
{
    Waiter* waiter = static_cast<Waiter*>(user);
    std::lock_guard<std::mutex> guard(waiter->mLock);
    waiter->mCode = event->mReturnCode;
    waiter->mSubCode = event->mSubCode;
    waiter->mFinished = true;
    waiter->mDone.notify_all();
}

corvexClient_returnCode_t checkCacheSession(corvexClient_cacheSession_t cacheSession)
{
    if (!cacheSession)
        return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
    if (cacheSession->mMagic != kMagicLive)
        return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_ARGUMENT);
    return CORVEXCLIENT_OK;
}
} // namespace

extern "C"
{

    corvexClient_returnCode_t
    corvexClient_session_createCacheSession(const char**, corvexClient_session_t session,
                                            corvexClient_cacheSession_t* cacheSession)
    {
        CORVEX_TEST_HOOK("corvexClient_session_createCacheSession", "session=%p",
                         static_cast<void*>(session));
        if (!session || !cacheSession)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
        *cacheSession = nullptr;
        if (!corvexSession_isValid(session))
            return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_ARGUMENT);
        corvexClientCacheSession* created =
            new (std::nothrow) corvexClientCacheSession{kMagicLive, session};
        if (!created)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NO_MEMORY);
        std::lock_guard<std::mutex> guard(corvexSession_cacheLinkLock());
        std::unique_lock<CorvexSharedLock> lock(session->mLock);
        if (session->mState == CORVEX_SESSION_DESTROYED)
        {
            delete created;
            return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_STATE);
        }
        session->mCacheSessions.push_back(created);
        *cacheSession = created;
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t
    corvexClient_cacheSession_destroy(corvexClient_cacheSession_t* cacheSession)
    {
        CORVEX_TEST_HOOK("corvexClient_cacheSession_destroy", "cacheSession=%p",
                         cacheSession ? static_cast<void*>(*cacheSession) : nullptr);
        if (!cacheSession)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
        corvexClient_returnCode_t code = checkCacheSession(*cacheSession);
        if (code != CORVEXCLIENT_OK)
            return code;
        {
            std::lock_guard<std::mutex> guard(corvexSession_cacheLinkLock());
            corvexClientSession* session = (*cacheSession)->mSession;
            if (session)
            {
                std::unique_lock<CorvexSharedLock> lock(session->mLock);
                auto& list = session->mCacheSessions;
                list.erase(std::remove(list.begin(), list.end(), *cacheSession), list.end());
            }
        }
        (*cacheSession)->mMagic = kMagicDead;
        delete *cacheSession;
        *cacheSession = nullptr;
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t corvexClient_cacheSession_sendCacheRequest(
        corvexClient_cacheSession_t cacheSession, const char* topic,
        corvexClient_cacheRequestId_t requestId, corvexClient_cacheEventCb callback, void* user,
        uint32_t cacheRequestFlags, uint32_t subscribeFlags)
    {
        CORVEX_TEST_HOOK("corvexClient_cacheSession_sendCacheRequest",
                         "topic=%s requestId=%llu flags=%u user=%p", corvexText_orNull(topic),
                         static_cast<unsigned long long>(requestId), cacheRequestFlags, user);
        corvexClient_returnCode_t code = checkCacheSession(cacheSession);
        if (code != CORVEXCLIENT_OK)
            return code;
        if (!topic)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
        const bool noWait = cacheRequestFlags & CORVEXCLIENT_CACHEREQUEST_FLAGS_NO_WAIT;
        if ((cacheRequestFlags & ~kKnownFlags) != 0 || subscribeFlags != 0 || (noWait && !callback))
            return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_ARGUMENT);
        size_t length;
        const corvexClient_subCode_t invalid = corvexTopic_validate(topic, &length);
        if (invalid != CORVEXCLIENT_SUBCODE_OK)
            return corvexError_fail(invalid);

        Waiter waiter;
        CorvexCacheRequest request{topic, length, requestId, noWait ? callback : catchOutcome,
                                   noWait ? user : &waiter};
        {
            std::lock_guard<std::mutex> guard(corvexSession_cacheLinkLock());
            corvexClientSession* session = cacheSession->mSession;
            if (!session)
                return corvexError_set(CORVEXCLIENT_FAIL, CORVEXCLIENT_SUBCODE_BAD_STATE, 0,
                                       "the session of this cache session was destroyed");
            if (!noWait && corvexContext_onThread(session->mContext))
                return corvexError_fail(CORVEXCLIENT_SUBCODE_ON_CONTEXT_THREAD);
            std::shared_lock<CorvexSharedLock> lock(session->mLock);
            if (session->mState != CORVEX_SESSION_CONNECTED)
                return corvexError_set(CORVEXCLIENT_NOT_READY, CORVEXCLIENT_SUBCODE_NOT_CONNECTED,
                                       0, "session %s is not connected",
                                       session->mClientName.c_str());
            session->mRouter->mOps->mCacheRequest(session->mRouter, session->mLink, &request);
        }
        if (noWait)
            return CORVEXCLIENT_IN_PROGRESS;
        std::unique_lock<std::mutex> lock(waiter.mLock);
        waiter.mDone.wait(lock, [&waiter] { return waiter.mFinished; });
        if (waiter.mCode == CORVEXCLIENT_FAIL || waiter.mCode == CORVEXCLIENT_NOT_READY ||
            waiter.mCode == CORVEXCLIENT_INCOMPLETE)
            corvexError_set(waiter.mCode, waiter.mSubCode, 0, "%s",
                            corvexClient_subCodeDescription(waiter.mSubCode));
        return waiter.mCode;
    }
}
