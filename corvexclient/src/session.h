/* Sessions: configuration, connection to a router, dispatch entries, the
 * links of their cache sessions, and the context-thread side of delivery
 * (suspension, hold buffer, events). */
#ifndef CORVEXCLIENT_SESSION_H
#define CORVEXCLIENT_SESSION_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "corvexClient.h"
#include "dispatchTable.h"
#include "message.h"
#include "properties.h"
#include "router/router.h"
#include "router/routerConfig.h"
#include "sharedLock.h"

enum CorvexSessionState
{
    CORVEX_SESSION_CREATED,
    CORVEX_SESSION_CONNECTED,
    CORVEX_SESSION_DISCONNECTED,
    CORVEX_SESSION_DESTROYED
};

struct corvexClientSession
{
    uint32_t mMagic;
    corvexClientContext* mContext;
    CorvexPropertyList mProperties;

    corvexClient_session_eventCb mEventCallback;
    void* mEventUser;
    corvexClient_session_rxMsgCb mRxCallback;
    void* mRxUser;
    std::atomic<corvexClient_session_topicDispatchDestroyCb> mDispatchDestroyCallback;

    /* Fixed at creation. */
    std::string mRouterSelector;
    std::string mRouterName;
    std::string mClientName;
    std::string mUserName;      /* the name it goes by */
    std::string mLoginUserName; /* credentials: only as configured, else empty */
    std::string mLoginPassword;
    std::string mReplyToDest;
    bool mConnectBlocking;
    bool mReapplySubscriptions;
    bool mTopicDispatch;
    size_t mHoldLimit;
    size_t mHoldBytesLimit;
    bool mHoldWaits; /* "SESSION_SUSPEND_HOLD_POLICY" "wait" */
    std::chrono::milliseconds mHoldWaitLimit;
    CorvexRouterConfig mRouterConfig; /* applied when the session opens its router */

    /* Shared by senders and by matching on the context thread; exclusive for
     * changes of state, link and entries. */
    mutable CorvexSharedLock mLock;
    CorvexSessionState mState;
    CorvexRouter* mRouter;
    CorvexRouterLink* mLink;
    CorvexDispatchTable mTable;
    std::vector<corvexClientCacheSession*> mCacheSessions;

    /* Set by destroy before anything else: what is still queued is dropped. */
    std::atomic<bool> mClosed;
    std::atomic<bool> mSuspended;
#if defined(CORVEX_TEST_CONTROL)
    /* A test asked for a discard indication on the next message delivered. */
    std::atomic<bool> mInjectDiscard;
#endif

    /* Context thread only. */
    CorvexMsgFifo mHeld;
    bool mDiscardPending;
    CorvexDispatchMatch mLastMatch;

    /* Messages handed to the context for this session (by senders) and those
     * that left it again (by the context thread: delivered or dropped); the
     * difference is what is queued and held. Each on its own cache line. */
    alignas(64) std::atomic<uint64_t> mPosted;
    /* Senders' copy of mFinished, read again only when the bound it gives
     * says the session may be full: mFinished only grows, so a stale copy
     * never lets a sender past the limit. */
    std::atomic<uint64_t> mFinishedSeen;
    alignas(64) std::atomic<uint64_t> mFinished;
    std::atomic<size_t> mHeldCount; /* mHeld's size, for senders */
    std::atomic<size_t> mHeldPeak;
    std::atomic<size_t> mHeldBytesPeak;
    /* Of mHeld's messages, as the hold counts them; written by the context
     * thread only, read by senders. */
    std::atomic<size_t> mHeldBytes;

    /* Senders waiting for room in a suspended session's hold ("wait"). */
    alignas(64) std::mutex mRoomLock;
    std::condition_variable mRoom;
    std::atomic<uint32_t> mRoomWaiters; /* changed under mRoomLock */
    std::atomic<bool> mWaitExpired;     /* a wait ran out; cleared by resume or room */
    std::atomic<bool> mDiscardAtSend;   /* the next message posted carries it */

    /* Sends of this session that waited for a receiver's room. */
    std::atomic<uint64_t> mPublishWaits;
    std::atomic<uint64_t> mPublishWaitMicros;
};

struct corvexClientCacheSession
{
    uint32_t mMagic;
    corvexClientSession* mSession; /* cleared when the session is destroyed first */
};

bool corvexSession_isValid(const corvexClientSession* session);

/* How the session's router reaches it: delivery of routed and cached
 * messages, events and cache outcomes, each queued for the context thread. */
CorvexRouterEndpoint corvexSession_endpoint(corvexClientSession* session);

/* Around a router's publish in sendMsg: receivers whose hold is full keep
 * the sender's copy back, and finishSend waits for their room (once the
 * sender's locks are released) before handing it over. */
void corvexSession_beginSend();
void corvexSession_finishSend(corvexClientSession* sender);

/* Wakes senders waiting for the session's room (resume, destroy). */
void corvexSession_wakeWaiters(corvexClientSession* session);

/* Destroy, after the session left its router: waits until no sender waits
 * for its room any more. */
void corvexSession_releaseWaiters(corvexClientSession* session);

/* Queues a session event; the context thread's last-error record holds
 * (subCode, responseCode, info) while the callback runs. */
void corvexSession_raiseEvent(corvexClientSession* session, corvexClient_session_event_t event,
                              corvexClient_subCode_t subCode, int32_t responseCode,
                              const char* info, void* correlation);

/* Context thread: delivers what was held, unless suspended again. */
void corvexSession_deliverHeld(corvexClientSession* session, void* unused);

/* Destroys a session (also how context destroy ends it). */
void corvexSession_destroy(corvexClientSession* session);

/* Guards the link between cache sessions and their session (each one's
 * mSession, the session's mCacheSessions); taken before any session lock. */
std::mutex& corvexSession_cacheLinkLock();

/* Places the router subscriptions of every routed entry again; caller holds
 * mLock exclusively and the session is connected. */
void corvexSession_applyRouterSubscriptions(corvexClientSession* session);

/* Connects to the router; caller holds mLock exclusively. */
corvexClient_returnCode_t corvexSession_connectLocked(corvexClientSession* session);

/* Leaves the router; caller holds mLock exclusively. */
void corvexSession_disconnectLocked(corvexClientSession* session);

#endif
