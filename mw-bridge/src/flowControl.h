/* Flow control between event queues and the sessions that feed them. A queue
 * that reaches the bridge's maximum queue size suspends the transports
 * registered on it; once it has drained to the resume mark it resumes the
 * ones its suspend took effect on. A transport counts the queues holding it
 * and suspends its session on the first, resumes it on the last, and
 * suspends it again after a reconnect while any queue still holds it.
 *
 * Locks: a queue's mTransportsLock is always taken before a transport's
 * mSuspendedQueuesLock; the vendor suspend and resume calls are made under
 * the transport's lock. Nothing here does anything while the bridge's
 * asynchronous mode is off. */
#ifndef CORVEX_BRIDGE_FLOW_CONTROL_H
#define CORVEX_BRIDGE_FLOW_CONTROL_H

#include <stdint.h>

#include <mama/mama.h>

#include "corvexClient.h"

struct CorvexQueueBridge;
struct CorvexTransportBridge;

/* The queue's record of its transports: mTransportsLock, the empty
 * mTransports map, mIsSuspended clear. MAMA_STATUS_NOMEM (logged, nothing
 * left allocated) when the map cannot be made. */
mama_status corvexFlowControl_initQueue(CorvexQueueBridge* queue);
void corvexFlowControl_destroyQueue(CorvexQueueBridge* queue);

/* One more (fewer) subscription of the transport on the queue. A transport
 * that joins a suspended queue is suspended at once; if that fails the
 * registration fails with its status and the record is as before. A
 * transport whose last subscription leaves is resumed at once when this
 * queue holds it. Remove answers MAMA_STATUS_INVALID_ARG for a transport
 * that is not registered. */
mama_status corvexFlowControl_addTransport(CorvexQueueBridge* queue,
                                           CorvexTransportBridge* transport);
mama_status corvexFlowControl_removeTransport(CorvexQueueBridge* queue,
                                              CorvexTransportBridge* transport);

/* Before every enqueue: suspends the queue's transports once it holds the
 * maximum queue size. Before every dispatch: resumes the transports this
 * queue holds once it has drained to the resume mark. While the queue is
 * not suspended the resume check is one atomic load; while it is, the
 * suspend check is one. */
void corvexFlowControl_checkSuspend(CorvexQueueBridge* queue);
void corvexFlowControl_checkResume(CorvexQueueBridge* queue);

/* The transport's count: mSuspendedQueuesLock and mSuspendedQueues at 0.
 * Destroy is safe on a transport whose init failed or never ran. */
mama_status corvexFlowControl_initTransport(CorvexTransportBridge* transport);
void corvexFlowControl_destroyTransport(CorvexTransportBridge* transport);

/* Counted suspension of the transport's session on behalf of one queue: the
 * session is suspended on the 0 -> 1 step and resumed on the 1 -> 0 step; a
 * vendor call that fails is undone in the count and answers
 * MAMA_STATUS_PLATFORM. Without a session only the count moves. */
mama_status corvexFlowControl_suspendTransport(CorvexTransportBridge* transport);
mama_status corvexFlowControl_resumeTransport(CorvexTransportBridge* transport);

/* After the vendor reports a reconnect: the session runs unsuspended again,
 * so it is suspended again while any queue holds it. */
void corvexFlowControl_resuspendAfterReconnect(CorvexTransportBridge* transport);

/* Takes the session out of a transport being destroyed (from then on only
 * the count moves); *suspended tells whether queues held it, so that it is
 * resumed before it is disconnected. */
corvexClient_session_t corvexFlowControl_detachSession(CorvexTransportBridge* transport,
                                                       bool* suspended);

#endif /* CORVEX_BRIDGE_FLOW_CONTROL_H */
