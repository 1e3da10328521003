/* Topic subscriptions with dispatch: entries on the session, router
 * subscriptions behind them, and the events that confirm or refuse them. */
#include <cstdio>
#include <mutex>
#include <shared_mutex>

#include "clientError.h"
#include "context.h"
#include "session.h"
#include "testControl.h"
#include "topicMatch.h"

namespace
{
constexpr uint32_t kKnownFlags = CORVEXCLIENT_SUBSCRIBE_FLAGS_WAIT_FOR_CONFIRM |
                                 CORVEXCLIENT_SUBSCRIBE_FLAGS_LOCAL_DISPATCH_ONLY |
                                 CORVEXCLIENT_SUBSCRIBE_FLAGS_REQUEST_CONFIRM;

struct RemovalReport
{
    std::string mTopic;
    CorvexDispatchInfo mDispatch;
};

void runRemovalReport(corvexClientSession* session, void* arg)
{
    RemovalReport* report = static_cast<RemovalReport*>(arg);
    corvexClient_session_topicDispatchDestroyCb callback = session->mDispatchDestroyCallback.load();
    if (callback)
        callback(report->mTopic.c_str(), &report->mDispatch);
    delete report;
}

corvexClient_returnCode_t checkArguments(corvexClient_session_t session, uint32_t flags,
                                         const char* topic, const CorvexDispatchInfo* dispatch,
                                         size_t* length)
{
    if (!session || !topic || !dispatch)
        return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
    if (!corvexSession_isValid(session) || (flags & ~kKnownFlags) != 0 ||
        ((flags & CORVEXCLIENT_SUBSCRIBE_FLAGS_WAIT_FOR_CONFIRM) &&
         (flags & CORVEXCLIENT_SUBSCRIBE_FLAGS_REQUEST_CONFIRM)) ||
        dispatch->mDispatchType != CORVEXCLIENT_DISPATCH_TYPE_CALLBACK)
        return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_ARGUMENT);
    if (!dispatch->mCallback)
        return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
    const corvexClient_subCode_t invalid = corvexTopic_validate(topic, length);
    return invalid == CORVEXCLIENT_SUBCODE_OK ? CORVEXCLIENT_OK : corvexError_fail(invalid);
}
} // namespace

extern "C"
{

    corvexClient_returnCode_t corvexClient_session_topicSubscribeWithDispatch(
        corvexClient_session_t session, uint32_t flags, const char* topic,
        const CorvexDispatchInfo* dispatch, void* correlation)
    {
        CORVEX_TEST_HOOK("corvexClient_session_topicSubscribeWithDispatch",
                         "flags=%u topic=%s user=%p correlation=%p", flags,
                         corvexText_orNull(topic), dispatch ? dispatch->mUser : nullptr,
                         correlation);
        size_t length;
        corvexClient_returnCode_t code = checkArguments(session, flags, topic, dispatch, &length);
        if (code != CORVEXCLIENT_OK)
            return code;

        /* Events are queued under the lock, so none can follow a destroy's
         * teardown. */
        std::unique_lock<CorvexSharedLock> lock(session->mLock);
        if (session->mState == CORVEX_SESSION_DESTROYED)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_STATE);
        if (!session->mTopicDispatch)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_TOPIC_DISPATCH_DISABLED);
        const bool routed = !(flags & CORVEXCLIENT_SUBSCRIBE_FLAGS_LOCAL_DISPATCH_ONLY);
        /* Only a request for confirmation lets the router answer later. */
        const CorvexSubscribeRequest request{
            !(flags & CORVEXCLIENT_SUBSCRIBE_FLAGS_REQUEST_CONFIRM),
            corvexDispatchTable_nextOrder(session->mTable), correlation};
        if (routed && session->mState == CORVEX_SESSION_CONNECTED)
            code = session->mRouter->mOps->mSubscribe(session->mRouter, session->mLink, topic,
                                                      length, &request);
        if (code == CORVEXCLIENT_IN_PROGRESS)
        {
            corvexDispatchTable_add(session->mTable, topic, length, *dispatch, flags);
            return CORVEXCLIENT_IN_PROGRESS;
        }
        if (code != CORVEXCLIENT_OK)
        {
            if (flags & CORVEXCLIENT_SUBSCRIBE_FLAGS_WAIT_FOR_CONFIRM)
                return code;
            const corvexClient_errorInfo_t* refusal = corvexClient_getLastErrorInfo();
            corvexSession_raiseEvent(session, CORVEXCLIENT_SESSION_EVENT_SUBSCRIBE_REFUSED,
                                     refusal->mSubCode, refusal->mResponseCode, refusal->mErrorText,
                                     correlation);
            return (flags & CORVEXCLIENT_SUBSCRIBE_FLAGS_REQUEST_CONFIRM) ? CORVEXCLIENT_IN_PROGRESS
                                                                          : CORVEXCLIENT_OK;
        }
        corvexDispatchTable_add(session->mTable, topic, length, *dispatch, flags);
        if (flags & CORVEXCLIENT_SUBSCRIBE_FLAGS_REQUEST_CONFIRM)
        {
            char info[CORVEXCLIENT_ERRORINFO_TEXT_SIZE];
            snprintf(info, sizeof(info), "subscribed to Topic '%s'", topic);
            corvexSession_raiseEvent(session, CORVEXCLIENT_SESSION_EVENT_SUBSCRIBE_CONFIRMED,
                                     CORVEXCLIENT_SUBCODE_OK, 0, info, correlation);
            return CORVEXCLIENT_IN_PROGRESS;
        }
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t corvexClient_session_topicUnsubscribeWithDispatch(
        corvexClient_session_t session, uint32_t flags, const char* topic,
        const CorvexDispatchInfo* dispatch, void* correlation)
    {
        CORVEX_TEST_HOOK("corvexClient_session_topicUnsubscribeWithDispatch",
                         "flags=%u topic=%s user=%p correlation=%p", flags,
                         corvexText_orNull(topic), dispatch ? dispatch->mUser : nullptr,
                         correlation);
        size_t length;
        corvexClient_returnCode_t code = checkArguments(session, flags, topic, dispatch, &length);
        if (code != CORVEXCLIENT_OK)
            return code;

        RemovalReport* report = new (std::nothrow) RemovalReport;
        if (!report)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NO_MEMORY);
        CorvexDispatchEntry removed;
        std::unique_lock<CorvexSharedLock> lock(session->mLock);
        if (session->mState == CORVEX_SESSION_DESTROYED ||
            !corvexDispatchTable_remove(session->mTable, topic, length, *dispatch, &removed))
        {
            delete report;
            return corvexError_set(CORVEXCLIENT_FAIL, CORVEXCLIENT_SUBCODE_NOT_SUBSCRIBED, 0,
                                   "no subscription to Topic '%s' with this dispatch", topic);
        }
        if (!(removed.mFlags & CORVEXCLIENT_SUBSCRIBE_FLAGS_LOCAL_DISPATCH_ONLY) &&
            session->mState == CORVEX_SESSION_CONNECTED)
            session->mRouter->mOps->mUnsubscribe(session->mRouter, session->mLink, topic, length);
        report->mTopic = std::move(removed.mTopic);
        report->mDispatch = removed.mDispatch;
        if (!corvexContext_postTask(session->mContext, session, runRemovalReport, report))
        {
            delete report;
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NO_MEMORY);
        }
        if (flags & CORVEXCLIENT_SUBSCRIBE_FLAGS_REQUEST_CONFIRM)
        {
            corvexSession_raiseEvent(session, CORVEXCLIENT_SESSION_EVENT_UNSUBSCRIBE_CONFIRMED,
                                     CORVEXCLIENT_SUBCODE_OK, 0, "unsubscribed", correlation);
            return CORVEXCLIENT_IN_PROGRESS;
        }
        return CORVEXCLIENT_OK;
    }
}
