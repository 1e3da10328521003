/* Flow control between event queues and the sessions that feed them. A queue
 * that reaches the bridge's maximum queue size suspends the transports
 * registered on it; once it has drained to the resume mark it resumes the
 * ones its suspend took effect on. A transport counts the queues holding it
 * and suspends its session on the first, resumes it on the last, and
 * suspends it again after a reconnect while any queue still holds it.
 *
 * Its state is its own: a CorvexFlowControlQueue embedded in each queue and a
 * CorvexFlowControlTransport embedded in each transport, which know nothing
 * of the objects that hold them.
 *
 * Locks: a queue's mTransportsLock is always taken before a transport's
 * mSuspendedQueuesLock; the vendor suspend and resume calls are made under
 * the transport's lock. Nothing here does anything while the bridge's
 * asynchronous mode is off. */
#ifndef CORVEX_BRIDGE_FLOW_CONTROL_H
#define CORVEX_BRIDGE_FLOW_CONTROL_H

#include <stdint.h>

#include <atomic>
#include <unordered_map>

#include <mama/mama.h>
#include <wombat/queue.h>
#include <wombat/wlock.h>

#include "corvexClient.h"

struct CorvexBridge;
struct CorvexMsgBatches;

/* A transport's side: the count of the queues holding its session
 * suspended. mSuspendedQueuesLock guards mSuspendedQueues and mSession and
 * is held across the vendor suspend and resume calls. */
struct CorvexFlowControlTransport
{
    wLock mSuspendedQueuesLock;
    uint32_t mSuspendedQueues;
    /* The session suspended and resumed; NULL (only the count moves) until
     * it is attached and once it is detached. */
    corvexClient_session_t mSession;
    /* The transport's name, for the log; the transport owns it. */
    const char* mName;
};

/* One transport that feeds a queue. */
struct CorvexQueueFeed
{
    /* This queue's subscriptions using the transport; above 0 while the
     * transport is in the map. */
    uint64_t mSubscriptions;
    /* This queue's suspend of the transport took effect and has not been
     * undone: the queue owns one count of the transport's suspension, and
     * only such a transport is resumed by the queue. */
    bool mHeld;
};

typedef std::unordered_map<CorvexFlowControlTransport*, CorvexQueueFeed> CorvexQueueTransportMap;

/* A queue's side: the transports that feed it, and whether it holds them
 * suspended. mTransportsLock guards mTransports and every decision on
 * mIsSuspended; the flag is also read without it, as the quick check before
 * each enqueue and each dispatch. */
struct CorvexFlowControlQueue
{
    wLock mTransportsLock;
    std::atomic<uint8_t> mIsSuspended;
    CorvexQueueTransportMap* mTransports;
    /* What the checks read, set by init: the bridge's maximum queue size and
     * asynchronous mode, the host queue and the queue's received messages. */
    const CorvexBridge* mBridge;
    wombatQueue mHostQueue;
    CorvexMsgBatches* mMsgs;
};

/* The queue's record of its transports: mTransportsLock, the empty
 * mTransports map, mIsSuspended clear, and what its checks read.
 * MAMA_STATUS_NOMEM (logged, nothing left allocated) when the map cannot be
 * made. */
mama_status corvexFlowControl_initQueue(CorvexFlowControlQueue* queue, const CorvexBridge* bridge,
                                        wombatQueue hostQueue, CorvexMsgBatches* msgs);
void corvexFlowControl_destroyQueue(CorvexFlowControlQueue* queue);

/* One more (fewer) subscription of the transport on the queue. A transport
 * that joins a suspended queue is suspended at once; if that fails the
 * registration fails with its status and the record is as before. A
 * transport whose last subscription leaves is resumed at once when this
 * queue holds it. Remove answers MAMA_STATUS_INVALID_ARG for a transport
 * that is not registered. */
mama_status corvexFlowControl_addTransport(CorvexFlowControlQueue* queue,
                                           CorvexFlowControlTransport* transport);
mama_status corvexFlowControl_removeTransport(CorvexFlowControlQueue* queue,
                                              CorvexFlowControlTransport* transport);

/* Before every enqueue: suspends the queue's transports once it holds the
 * maximum queue size. Before every dispatch: resumes the transports this
 * queue holds once it has drained to the resume mark. While the queue is
 * not suspended the resume check is one atomic load; while it is, the
 * suspend check is one. */
void corvexFlowControl_checkSuspend(CorvexFlowControlQueue* queue);
void corvexFlowControl_checkResume(CorvexFlowControlQueue* queue);

/* The transport's count: mSuspendedQueuesLock and mSuspendedQueues at 0, no
 * session yet; `name` outlives the record. Destroy is safe on a transport
 * whose init failed or never ran. */
mama_status corvexFlowControl_initTransport(CorvexFlowControlTransport* transport,
                                            const char* name);
void corvexFlowControl_destroyTransport(CorvexFlowControlTransport* transport);

/* The transport's session, once it is made: from then on the counted steps
 * suspend and resume it. */
void corvexFlowControl_attachSession(CorvexFlowControlTransport* transport,
                                     corvexClient_session_t session);

/* Counted suspension of the transport's session on behalf of one queue: the
 * session is suspended on the 0 -> 1 step and resumed on the 1 -> 0 step; a
 * vendor call that fails is undone in the count and answers
 * MAMA_STATUS_PLATFORM. Without a session only the count moves. */
mama_status corvexFlowControl_suspendTransport(CorvexFlowControlTransport* transport);
mama_status corvexFlowControl_resumeTransport(CorvexFlowControlTransport* transport);

/* After the vendor reports a reconnect: the session runs unsuspended again,
 * so it is suspended again while any queue holds it. */
void corvexFlowControl_resuspendAfterReconnect(CorvexFlowControlTransport* transport);

/* Takes the session out of a transport being destroyed (from then on only
 * the count moves); answers whether queues held it, so that it is resumed
 * before it is disconnected. */
bool corvexFlowControl_detachSession(CorvexFlowControlTransport* transport);

#endif /* CORVEX_BRIDGE_FLOW_CONTROL_H */
