/* The context-thread side of a session: delivery of received messages to
 * dispatch entries, the hold buffer of a suspended session, and the tasks
 * that carry events, cache outcomes and removal reports; and the endpoint
 * through which the session's router hands it all of these. */
#include <chrono>
#include <cstring>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <string>

#include "clientError.h"
#include "container.h"
#include "clientLog.h"
#include "context.h"
#include "message.h"
#include "session.h"
#include "testControl.h"

namespace
{
struct EventTask
{
    corvexClient_session_eventInfo_t mInfo;
    corvexClient_errorInfo_t mReason;
};

void notify(corvexClientSession* session, EventTask& task)
{
    if (!session->mClosed.load(std::memory_order_acquire) && session->mEventCallback)
    {
        task.mInfo.mInfo = task.mReason.mErrorText;
        corvexError_setRecord(&task.mReason);
        session->mEventCallback(session, &task.mInfo, session->mEventUser);
    }
}

void runEvent(corvexClientSession* session, void* arg)
{
    EventTask* task = static_cast<EventTask*>(arg);
    notify(session, *task);
    delete task;
}

/* A subscription the router refused after the subscribe returned: its
 * entry leaves the table before the application hears of the refusal, so
 * no message reaches it afterwards and no removal report follows. */
struct RefusalTask
{
    EventTask mEvent;
    std::string mTopic;
    uint64_t mEntry;
};

void runRefusal(corvexClientSession* session, void* arg)
{
    RefusalTask* task = static_cast<RefusalTask*>(arg);
    {
        std::unique_lock<CorvexSharedLock> lock(session->mLock);
        corvexDispatchTable_removeOrder(session->mTable, task->mTopic.data(), task->mTopic.size(),
                                        task->mEntry);
    }
    notify(session, task->mEvent);
    delete task;
}

struct CacheTask
{
    corvexClient_cacheSession_eventInfo_t mInfo;
    std::string mTopic;
    corvexClient_cacheEventCb mCallback;
    void* mUser;
};

void runCacheOutcome(corvexClientSession* session, void* arg)
{
    CacheTask* task = static_cast<CacheTask*>(arg);
    if (session->mClosed.load(std::memory_order_acquire))
    {
        task->mInfo.mReturnCode = CORVEXCLIENT_FAIL;
        task->mInfo.mSubCode = CORVEXCLIENT_SUBCODE_CACHE_REQUEST_CANCELLED;
    }
    task->mInfo.mTopic = task->mTopic.c_str();
    corvexClient_errorInfo_t reason;
    corvexError_makeRecord(&reason, task->mInfo.mSubCode, 0,
                           corvexClient_subCodeDescription(task->mInfo.mSubCode));
    corvexError_setRecord(&reason);
    if (task->mCallback)
        task->mCallback(session, &task->mInfo, task->mUser);
    delete task;
}

/* Finished first: every message it counts was posted before, so the
 * difference never goes below zero. */
uint64_t inFlight(corvexClientSession* session)
{
    const uint64_t done = session->mFinished.load();
    session->mFinishedSeen.store(done, std::memory_order_relaxed);
    return session->mPosted.load() - done;
}

/* While suspended or still delivering what it held, a session's hold fills. */
bool holding(const corvexClientSession* session)
{
    return session->mSuspended.load(std::memory_order_acquire) || session->mHeldCount.load() > 0;
}

/* Whether a sender must still wait for the session's room. Messages queued
 * for a session that is not holding are counted too: once it is suspended
 * they are held, so the hold limit bounds them as well. */
bool mustWait(corvexClientSession* session)
{
    return !session->mClosed.load(std::memory_order_acquire) &&
           inFlight(session) >= session->mHoldLimit;
}

/* Context thread only: one message of the session left its queue and hold.
 * Waiting senders are woken once a quarter of the limit has drained. */
void markFinished(corvexClientSession* session)
{
    session->mFinished.store(session->mFinished.load(std::memory_order_relaxed) + 1);
    if (session->mRoomWaiters.load() > 0 &&
        inFlight(session) <= session->mHoldLimit - session->mHoldLimit / 4)
        corvexSession_wakeWaiters(session);
}

/* What a held message costs the hold: its texts, its content and its
 * properties, and the records around them (the message itself and the
 * receiving router's own, which a NATS message keeps while its content is
 * borrowed; about half a kilobyte as measured with small messages). */
size_t heldBytes(const corvexClientMsg* msg)
{
    constexpr size_t kRecordBytes = 512;
    return kRecordBytes + msg->mTopicLength + msg->mContentLength + msg->mReplyToLength +
           (msg->mMap ? corvexContainer_size(msg->mMap) : 0);
}

/* Context thread only: msg joined the hold (or left it). */
void heldChanged(corvexClientSession* session, const corvexClientMsg* msg, bool joined)
{
    session->mHeldCount.store(session->mHeld.size());
    const size_t before = session->mHeldBytes.load(std::memory_order_relaxed);
    const size_t bytes = joined ? before + heldBytes(msg) : before - heldBytes(msg);
    session->mHeldBytes.store(bytes, std::memory_order_relaxed);
    if (session->mHeld.size() > session->mHeldPeak.load(std::memory_order_relaxed))
        session->mHeldPeak.store(session->mHeld.size(), std::memory_order_relaxed);
    if (bytes > session->mHeldBytesPeak.load(std::memory_order_relaxed))
        session->mHeldBytesPeak.store(bytes, std::memory_order_relaxed);
}

/* Hands the message to each matching entry; the library's own reference
 * goes to the last callback, every earlier one gets a reference of its own
 * before it is called, so a callback may free its message on another thread
 * at once. */
void dispatch(corvexClientSession* session, corvexClientMsg* msg)
{
    markFinished(session);
    const std::vector<CorvexDispatchTarget>* matched = nullptr;
    {
        std::shared_lock<CorvexSharedLock> lock(session->mLock);
        matched = &corvexDispatchTable_matchRepeated(session->mTable, msg->mTopic,
                                                     msg->mTopicLength, &session->mLastMatch);
    }
    const std::vector<CorvexDispatchTarget>& targets = *matched;
    if (targets.empty())
    {
        if (!session->mRxCallback ||
            session->mRxCallback(session, msg, session->mRxUser) != CORVEXCLIENT_CALLBACK_TAKE_MSG)
            corvexMsg_release(msg);
        return;
    }
    const size_t last = targets.size() - 1;
    for (size_t i = 0; i < last; ++i)
    {
        corvexMsg_addReference(msg);
        if (targets[i].mCallback(session, msg, targets[i].mUser) != CORVEXCLIENT_CALLBACK_TAKE_MSG)
            corvexMsg_release(msg);
    }
    if (targets[last].mCallback(session, msg, targets[last].mUser) !=
        CORVEXCLIENT_CALLBACK_TAKE_MSG)
        corvexMsg_release(msg);
}

/* The first message after a discarded one carries the indication. */
void markAfterDiscard(corvexClientSession* session, corvexClientMsg* msg)
{
    if (session->mDiscardPending)
    {
        msg->mDiscard = 1;
        session->mDiscardPending = false;
    }
}

/* Senders keep the "wait" policy's hold within the limit; what the context
 * queue held when the session was suspended, and sends from threads that
 * may not wait, may take it up to this. */
size_t hardCap(const corvexClientSession* session)
{
    return session->mHoldWaits ? 2 * session->mHoldLimit : session->mHoldLimit;
}

/* Whether the hold is full for msg: at its cap of messages, or past its
 * bytes with msg (a message larger than them all is held alone). */
bool holdIsFull(const corvexClientSession* session, const corvexClientMsg* msg)
{
    /* Under "wait" the senders keep to the bytes (admit). */
    return session->mHeld.size() >= hardCap(session) ||
           (!session->mHoldWaits && !session->mHeld.empty() &&
            session->mHeldBytes.load(std::memory_order_relaxed) + heldBytes(msg) >
                session->mHoldBytesLimit);
}

void hold(corvexClientSession* session, corvexClientMsg* msg)
{
    if (holdIsFull(session, msg))
    {
        if (!session->mDiscardPending)
            CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_WARNING,
                       "session %s suspended with %zu messages (%zu bytes) held; discarding",
                       session->mClientName.c_str(), session->mHeld.size(),
                       session->mHeldBytes.load(std::memory_order_relaxed));
        session->mDiscardPending = true;
        markFinished(session);
        corvexMsg_release(msg);
        return;
    }
    markAfterDiscard(session, msg);
    session->mHeld.push_back(msg);
    heldChanged(session, msg, true);
}

/* A message kept back by a sender that waits for the receiver's room. */
struct PendingSend
{
    corvexClientSession* mSession = nullptr; /* counted in its mRoomWaiters */
    corvexClientMsg* mMsg = nullptr;
};

constexpr size_t kMaxPending = 8;

/* A thread's sending state, in one plain block: each thread_local of a
 * shared library is a lookup call, so each function makes one. */
struct SendState
{
    bool mMayWait = true;
    bool mInSend = false;
    size_t mPendingCount = 0;
    PendingSend mPending[kMaxPending] = {};
};

thread_local SendState tSend;

bool mayWaitHere(const SendState& send)
{
    return send.mInSend && send.mMayWait && send.mPendingCount < kMaxPending &&
           !corvexContext_onAnyContextThread();
}

void discardAtSend(corvexClientSession* session, corvexClientMsg* msg, const char* why)
{
    if (!session->mDiscardAtSend.exchange(true))
        CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_WARNING,
                   "session %s has %llu messages held or queued; discarding (%s)",
                   session->mClientName.c_str(), static_cast<unsigned long long>(inFlight(session)),
                   why);
    corvexMsg_release(msg);
}

/* Context thread: hands a received message to the session's callbacks, or
 * holds it while the session is suspended. */
void deliver(CorvexWorkNode* node)
{
    corvexClientSession* session = node->mSession;
    corvexClientMsg* msg = reinterpret_cast<corvexClientMsg*>(node);
    if (session->mClosed.load(std::memory_order_acquire))
    {
        markFinished(session);
        corvexMsg_release(msg);
        return;
    }
    if (corvexTest_takeDiscardIndication(session))
        msg->mDiscard = 1;
    if (session->mSuspended.load(std::memory_order_acquire) || !session->mHeld.empty())
    {
        hold(session, msg);
        return;
    }
    markAfterDiscard(session, msg);
    dispatch(session, msg);
}

/* Answers whether the sender must wait for room on the session's context. */
bool queue(corvexClientSession* session, corvexClientMsg* msg)
{
    session->mPosted.fetch_add(1, std::memory_order_release);
    return corvexContext_postMsg(session->mContext, session, msg, deliver, tSend.mInSend);
}

bool post(corvexClientSession* session, corvexClientMsg* msg)
{
    if (session->mDiscardAtSend.load(std::memory_order_relaxed) &&
        session->mDiscardAtSend.exchange(false))
        msg->mDiscard = 1;
    return queue(session, msg);
}

void leaveWait(corvexClientSession* session)
{
    std::lock_guard<std::mutex> guard(session->mRoomLock);
    if (session->mRoomWaiters.fetch_sub(1) == 1 && session->mClosed.load(std::memory_order_acquire))
        session->mRoom.notify_all();
}
} // namespace

void corvexSession_beginSend()
{
    tSend.mInSend = true;
}

void corvexSession_finishSend(corvexClientSession* sender)
{
    SendState& send = tSend;
    send.mInSend = false;
    for (size_t i = 0; i < send.mPendingCount; ++i)
    {
        corvexClientSession* session = send.mPending[i].mSession;
        corvexClientMsg* msg = send.mPending[i].mMsg;
        const auto start = std::chrono::steady_clock::now();
        bool room;
        sender->mPublishWaits.fetch_add(1, std::memory_order_relaxed);
        {
            std::unique_lock<std::mutex> lock(session->mRoomLock);
            room = session->mRoom.wait_until(lock, start + session->mHoldWaitLimit,
                                             [session] { return !mustWait(session); });
        }
        sender->mPublishWaitMicros.fetch_add(
            static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                      std::chrono::steady_clock::now() - start)
                                      .count()),
            std::memory_order_relaxed);
        corvexClientContext* context = session->mContext;
        bool full = false;
        if (session->mClosed.load(std::memory_order_acquire))
        {
            corvexMsg_release(msg);
        }
        else if (room)
        {
            full = post(session, msg);
        }
        else
        {
            if (!session->mWaitExpired.exchange(true))
                CORVEX_LOG(
                    CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_WARNING,
                    "session %s: no room in its hold after %lld ms; sends discard until it resumes",
                    session->mClientName.c_str(),
                    static_cast<long long>(session->mHoldWaitLimit.count()));
            discardAtSend(session, msg, "wait expired");
        }
        /* Posted while still counted as a waiter, so destroy cannot free the
         * session in between; the context outlives it. */
        leaveWait(session);
        if (full)
            corvexContext_waitForRoom(context);
    }
    send.mPendingCount = 0;
}

void corvexSession_wakeWaiters(corvexClientSession* session)
{
    std::lock_guard<std::mutex> guard(session->mRoomLock);
    session->mRoom.notify_all();
}

void corvexSession_releaseWaiters(corvexClientSession* session)
{
    std::unique_lock<std::mutex> lock(session->mRoomLock);
    session->mRoom.notify_all();
    session->mRoom.wait(lock, [session] { return session->mRoomWaiters.load() == 0; });
}

void corvexSession_raiseEvent(corvexClientSession* session, corvexClient_session_event_t event,
                              corvexClient_subCode_t subCode, int32_t responseCode,
                              const char* info, void* correlation)
{
    EventTask* task = new (std::nothrow) EventTask{};
    if (!task)
    {
        CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_ERROR,
                   "out of memory: session event %d lost", event);
        return;
    }
    task->mInfo = {event, responseCode, nullptr, correlation};
    corvexError_makeRecord(&task->mReason, subCode, responseCode, info);
    if (!corvexContext_postTask(session->mContext, session, runEvent, task))
    {
        CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_ERROR,
                   "out of memory: session event %d lost", event);
        delete task;
    }
}

void corvexSession_deliverHeld(corvexClientSession* session, void*)
{
    while (!session->mHeld.empty() && !session->mSuspended.load(std::memory_order_acquire) &&
           !session->mClosed.load(std::memory_order_acquire))
    {
        corvexClientMsg* msg = session->mHeld.front();
        session->mHeld.pop_front();
        heldChanged(session, msg, false);
        dispatch(session, msg);
    }
}

namespace
{
/* Under the "wait" policy, with as many messages queued and held for the
 * session as its hold limit, the message is kept back for finishSend when
 * the sending thread may wait; from a thread that may not, a holding session
 * takes it up to twice the limit. Otherwise (an expired wait, beyond twice
 * the limit) it is discarded and the next message queued carries the
 * indication. Answers whether the sender must wait for room on the
 * session's context. */
bool admit(corvexClientSession* session, corvexClientMsg* msg)
{
    if (!session->mHoldWaits)
        return post(session, msg);
    /* The hold's bytes bound the senders that may not wait (a network
     * thread); one that may is bounded by the count as it waits. */
    const bool bytesFull =
        session->mHeldBytes.load(std::memory_order_relaxed) >= session->mHoldBytesLimit &&
        holding(session);
    if (!bytesFull &&
        session->mPosted.load(std::memory_order_relaxed) -
                session->mFinishedSeen.load(std::memory_order_relaxed) <
            session->mHoldLimit &&
        !session->mWaitExpired.load(std::memory_order_relaxed))
        return post(session, msg);
    const uint64_t held = inFlight(session);
    if (bytesFull && held < session->mHoldLimit && mayWaitHere(tSend))
        return post(session, msg);
    if (!bytesFull && held < session->mHoldLimit)
    {
        if (session->mWaitExpired.load(std::memory_order_relaxed))
            session->mWaitExpired.store(false, std::memory_order_relaxed);
        return post(session, msg);
    }
    SendState& send = tSend;
    if (mayWaitHere(send))
    {
        if (session->mWaitExpired.load(std::memory_order_acquire))
        {
            discardAtSend(session, msg, "an earlier wait expired");
            return false;
        }
        {
            std::lock_guard<std::mutex> guard(session->mRoomLock);
            session->mRoomWaiters.fetch_add(1);
        }
        send.mPending[send.mPendingCount++] = {session, msg};
        return false;
    }
    /* Only a hold is bounded here: a slow session that is not suspended
     * takes what its context queue allows. */
    if (holding(session) && (held >= hardCap(session) || bytesFull))
    {
        discardAtSend(session, msg, "sent from a thread that may not wait");
        return false;
    }
    return post(session, msg);
}

/* A sender without a wait list (a network thread) is never held back. */
void receive(corvexClientSession* session, corvexClientMsg* msg, CorvexWaitList* waits)
{
    if (admit(session, msg))
        waits ? corvexWaitList_add(waits, session->mContext)
              : corvexContext_cancelWait(session->mContext);
}

/* Cache answers are few; their requester is never held back. */
void receiveCached(corvexClientSession* session, corvexClientMsg* msg)
{
    if (queue(session, msg))
        corvexContext_cancelWait(session->mContext);
}

/* Queues the outcome of a cache request, after the messages it delivered. */
void completeCacheRequest(corvexClientSession* session, const CorvexCacheRequest* request,
                          corvexClient_returnCode_t code, corvexClient_subCode_t subCode)
{
    CacheTask* task = new (std::nothrow) CacheTask{};
    if (!task)
    {
        CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_ERROR,
                   "out of memory: outcome of cache request %llu lost",
                   static_cast<unsigned long long>(request->mRequestId));
        return;
    }
    task->mInfo = {CORVEXCACHE_EVENT_REQUEST_COMPLETED_NOTICE, nullptr, code, subCode,
                   request->mRequestId};
    task->mTopic.assign(request->mTopic, request->mTopicLength);
    task->mCallback = request->mCallback;
    task->mUser = request->mUser;
    if (!corvexContext_postTask(session->mContext, session, runCacheOutcome, task))
    {
        CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_ERROR,
                   "out of memory: outcome of cache request %llu lost",
                   static_cast<unsigned long long>(request->mRequestId));
        delete task;
    }
}

void completeSubscribe(corvexClientSession* session, const char* topic, size_t length,
                       const CorvexSubscribeRequest* request, corvexClient_subCode_t subCode,
                       int32_t responseCode, const char* info)
{
    if (subCode == CORVEXCLIENT_SUBCODE_OK)
    {
        char confirmed[CORVEXCLIENT_ERRORINFO_TEXT_SIZE];
        snprintf(confirmed, sizeof(confirmed), "subscribed to Topic '%.*s'",
                 static_cast<int>(length), topic);
        corvexSession_raiseEvent(session, CORVEXCLIENT_SESSION_EVENT_SUBSCRIBE_CONFIRMED,
                                 CORVEXCLIENT_SUBCODE_OK, 0, confirmed, request->mCorrelation);
        return;
    }
    RefusalTask* task = new (std::nothrow) RefusalTask{};
    if (task)
    {
        task->mEvent.mInfo = {CORVEXCLIENT_SESSION_EVENT_SUBSCRIBE_REFUSED, responseCode, nullptr,
                              request->mCorrelation};
        corvexError_makeRecord(&task->mEvent.mReason, subCode, responseCode, info);
        task->mTopic.assign(topic, length);
        task->mEntry = request->mEntry;
        if (corvexContext_postTask(session->mContext, session, runRefusal, task))
            return;
        delete task;
    }
    CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_ERROR,
               "out of memory: refusal of the subscription to '%.*s' lost",
               static_cast<int>(length), topic);
}

const CorvexSessionEndpointOps kEndpointOps = {receive, receiveCached, corvexSession_raiseEvent,
                                               completeSubscribe, completeCacheRequest};
} // namespace

CorvexRouterEndpoint corvexSession_endpoint(corvexClientSession* session)
{
    return {&kEndpointOps, session};
}

extern "C"
{

    int corvexClient_thread_setSendMayWait(int mayWait)
    {
        const bool previous = tSend.mMayWait;
        tSend.mMayWait = mayWait != 0;
        return previous ? 1 : 0;
    }
}
