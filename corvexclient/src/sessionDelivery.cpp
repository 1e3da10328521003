/* The context-thread side of a session: delivery of received messages to
 * dispatch entries, the hold buffer of a suspended session, and the tasks
 * that carry events, cache outcomes and removal reports. */
#include <cstring>
#include <new>
#include <string>

#include "clientError.h"
#include "clientLog.h"
#include "context.h"
#include "message.h"
#include "session.h"

namespace
{
struct EventTask
{
    corvexClient_session_eventInfo_t mInfo;
    corvexClient_errorInfo_t         mReason;
};

void runEvent (corvexClientSession* session, void* arg)
{
    EventTask* task = static_cast<EventTask*> (arg);
    if (!session->mClosed.load (std::memory_order_acquire) && session->mEventCallback)
    {
        task->mInfo.mInfo = task->mReason.mErrorText;
        corvexError_setRecord (&task->mReason);
        session->mEventCallback (session, &task->mInfo, session->mEventUser);
    }
    delete task;
}

struct CacheTask
{
    corvexClient_cacheSession_eventInfo_t mInfo;
    std::string                           mTopic;
    corvexClient_cacheEventCb             mCallback;
    void*                                 mUser;
};

void runCacheOutcome (corvexClientSession* session, void* arg)
{
    CacheTask* task = static_cast<CacheTask*> (arg);
    if (session->mClosed.load (std::memory_order_acquire))
    {
        task->mInfo.mReturnCode = CORVEXCLIENT_FAIL;
        task->mInfo.mSubCode    = CORVEXCLIENT_SUBCODE_CACHE_REQUEST_CANCELLED;
    }
    task->mInfo.mTopic = task->mTopic.c_str ();
    corvexClient_errorInfo_t reason;
    corvexError_makeRecord (&reason, task->mInfo.mSubCode, 0, corvexClient_subCodeDescription (task->mInfo.mSubCode));
    corvexError_setRecord (&reason);
    if (task->mCallback)
        task->mCallback (session, &task->mInfo, task->mUser);
    delete task;
}

/* Hands the message to each matching entry; the library's own reference
 * goes to the last callback, every earlier one gets a reference of its own
 * before it is called, so a callback may free its message on another thread
 * at once. */
void dispatch (corvexClientSession* session, corvexClientMsg* msg)
{
    std::vector<CorvexDispatchTarget>& targets = session->mTargets;
    targets.clear ();
    {
        std::shared_lock<std::shared_mutex> lock (session->mLock);
        corvexDispatchTable_match (session->mTable, msg->mTopic, msg->mTopicLength, targets);
    }
    if (targets.empty ())
    {
        if (!session->mRxCallback
            || session->mRxCallback (session, msg, session->mRxUser) != CORVEXCLIENT_CALLBACK_TAKE_MSG)
            corvexMsg_release (msg);
        return;
    }
    const size_t last = targets.size () - 1;
    for (size_t i = 0; i < last; ++i)
    {
        corvexMsg_addReference (msg);
        if (targets[i].mCallback (session, msg, targets[i].mUser) != CORVEXCLIENT_CALLBACK_TAKE_MSG)
            corvexMsg_release (msg);
    }
    if (targets[last].mCallback (session, msg, targets[last].mUser) != CORVEXCLIENT_CALLBACK_TAKE_MSG)
        corvexMsg_release (msg);
}

/* The first message after a discarded one carries the indication. */
void markAfterDiscard (corvexClientSession* session, corvexClientMsg* msg)
{
    if (session->mDiscardPending)
    {
        msg->mDiscard            = 1;
        session->mDiscardPending = false;
    }
}

void hold (corvexClientSession* session, corvexClientMsg* msg)
{
    if (session->mHeld.size () >= session->mHoldLimit)
    {
        if (!session->mDiscardPending)
            CORVEX_LOG (CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_WARNING,
                        "session %s suspended with %zu messages held; discarding", session->mClientName.c_str (),
                        session->mHeld.size ());
        session->mDiscardPending = true;
        corvexMsg_release (msg);
        return;
    }
    markAfterDiscard (session, msg);
    session->mHeld.push_back (msg);
}
}

bool corvexSession_receive (corvexClientSession* session, corvexClientMsg* msg)
{
    return corvexContext_postMsg (session->mContext, session, msg);
}

void corvexSession_raiseEvent (corvexClientSession* session, corvexClient_session_event_t event,
                               corvexClient_subCode_t subCode, int32_t responseCode, const char* info,
                               void* correlation)
{
    EventTask* task = new (std::nothrow) EventTask{};
    if (!task)
    {
        CORVEX_LOG (CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_ERROR, "out of memory: session event %d lost",
                    event);
        return;
    }
    task->mInfo     = {event, responseCode, nullptr, correlation};
    corvexError_makeRecord (&task->mReason, subCode, responseCode, info);
    if (!corvexContext_postTask (session->mContext, session, runEvent, task))
    {
        CORVEX_LOG (CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_ERROR, "out of memory: session event %d lost",
                    event);
        delete task;
    }
}

void corvexSession_completeCacheRequest (corvexClientSession* session, const CorvexCacheRequest* request,
                                         corvexClient_returnCode_t code, corvexClient_subCode_t subCode)
{
    CacheTask* task = new (std::nothrow) CacheTask{};
    if (!task)
    {
        CORVEX_LOG (CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_ERROR,
                    "out of memory: outcome of cache request %llu lost",
                    static_cast<unsigned long long> (request->mRequestId));
        return;
    }
    task->mInfo     = {CORVEXCACHE_EVENT_REQUEST_COMPLETED_NOTICE, nullptr, code, subCode, request->mRequestId};
    task->mTopic.assign (request->mTopic, request->mTopicLength);
    task->mCallback = request->mCallback;
    task->mUser     = request->mUser;
    if (!corvexContext_postTask (session->mContext, session, runCacheOutcome, task))
    {
        CORVEX_LOG (CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_ERROR,
                    "out of memory: outcome of cache request %llu lost",
                    static_cast<unsigned long long> (request->mRequestId));
        delete task;
    }
}

void corvexSession_deliver (corvexClientSession* session, corvexClientMsg* msg)
{
    if (session->mClosed.load (std::memory_order_acquire))
    {
        corvexMsg_release (msg);
        return;
    }
    if (session->mInjectDiscard.load (std::memory_order_relaxed) && session->mInjectDiscard.exchange (false))
        msg->mDiscard = 1;
    if (session->mSuspended.load (std::memory_order_acquire) || !session->mHeld.empty ())
    {
        hold (session, msg);
        return;
    }
    markAfterDiscard (session, msg);
    dispatch (session, msg);
}

void corvexSession_deliverHeld (corvexClientSession* session, void*)
{
    while (!session->mHeld.empty () && !session->mSuspended.load (std::memory_order_acquire)
           && !session->mClosed.load (std::memory_order_acquire))
    {
        corvexClientMsg* msg = session->mHeld.front ();
        session->mHeld.pop_front ();
        dispatch (session, msg);
    }
}
