/* The bridge side of a MAMA transport: one vendor session, its configuration,
 * its registry of subscriptions, and flow control's count (flowControl.h). */
#ifndef CORVEX_BRIDGE_TRANSPORT_H
#define CORVEX_BRIDGE_TRANSPORT_H

#include <stdint.h>

#include <mama/mama.h>
#include <wombat/destroyHandle.h>
#include <wombat/wlock.h>

#include "corvexBridge.h"
#include "corvexClient.h"
#include "flowControl.h"

struct CorvexProperties;
struct CorvexSubscription;
struct CorvexThrottledLog;
struct CorvexSubscriptionSet;
struct CorvexEventGate;

#define CORVEX_INBOX_PREFIX_SIZE 260
#define CORVEX_PUBINFO_MAP_SIZE 1024
#define CORVEX_TRANSPORT_PREFIX "mama.corvex.transport."

struct CorvexTransportBridge
{
    /* Flow control's count of the queues holding the session suspended (see
     * flowControl.h); first, so that the address its log gives is the
     * transport's. */
    CorvexFlowControlTransport mFlowControl;
    corvexClient_session_t mSession;
    /* Guards mCacheSession and mCacheSessionClosed, its creation, the
     * requests sent on it and its destroy. */
    wLock mCacheSessionLock;
    corvexClient_cacheSession_t mCacheSession;
    /* The transport's destroy has destroyed the cache session: no other is
     * made. */
    uint8_t mCacheSessionClosed;
    corvexClient_cacheEventCb mCacheEventCallback;
    char mInboxCorvexReplyToPrefix[CORVEX_INBOX_PREFIX_SIZE];
    char mInboxCorvexSubPrefix[CORVEX_INBOX_PREFIX_SIZE];
    uint32_t mInboxCorvexSubPrefixLen;
    mamaTransport mMamaTransport;
    char* mName;
    uint8_t mUseCache;
    struct CorvexProperties* mCorvexProperties;
    uint8_t mSendSubReq;
    uint8_t mAllowRecoverGaps;
    struct CorvexBridge* mBridge_p;
    struct CorvexThrottledLog* mThrottledLog;
    corvexClient_container_t mPubInfoMap;
    char mPubInfoMapBuffer[CORVEX_PUBINFO_MAP_SIZE];
    mamaPayloadBridge mStatusPayloadBridge;
    /* Guards mSubscriptions, mDestroyFinished, mPendingEvents and the
     * mSession test of a registration or an event hold. */
    wLock mSubscriptionsLock;
    struct CorvexSubscriptionSet* mSubscriptions;
    struct CorvexTransportBridge* mNext;

    /* The object outlives its destroy while subscriptions or queued event
     * nodes still point at it; these two decide when it is released. Both are
     * guarded by mSubscriptionsLock. */
    uint8_t mDestroyFinished;
    uint32_t mPendingEvents;
    /* Set (atomically) once the session's shutdown begins: from then on the
     * session drops what it had not delivered, subscribe confirmations
     * included, and reports every topic entry removed. */
    uint8_t mIsSessionClosing;
    /* Lets an event reach the application only while the host transport
     * exists: destroy closes it and waits for deliveries under way. */
    struct CorvexEventGate* mEventGate;
};

/* The bridge transport behind a MAMA transport, NULL when there is none;
 * the host's status of the look-up in *status unless status is NULL. */
CorvexTransportBridge* corvexTransportBridge_fromTransport(mamaTransport transport,
                                                           mama_status* status);

/* Subscription events (SUBSCRIBE_REFUSED and SUBSCRIBE_CONFIRMED), matched to their request by
 * the correlation pointer. */
void corvexTransportBridge_onSubscriptionEvent(const corvexClient_session_eventInfo_t* event);

/* Transport events and topic events, delivered on the transport's callback
 * queue (its own, else the bridge's default queue). */
void corvexTransportBridge_queueTransportEvent(CorvexTransportBridge* transport,
                                               mamaTransportEvent event, int16_t cause,
                                               const void* platformInfo);
void corvexTransportBridge_queueRejectedMsgEvent(CorvexTransportBridge* transport,
                                                 const corvexClient_session_eventInfo_t* event,
                                                 const corvexClient_errorInfo_t* error);
mama_status corvexTransportBridge_getCallbackQueue(CorvexTransportBridge* transport,
                                                   mamaQueue* queue);
void MAMACALLTYPE corvexTransportBridge_dispatchTransportEvent(mamaQueue queue, void* closure);
void MAMACALLTYPE corvexTransportBridge_dispatchTopicEvent(mamaQueue queue, void* closure);

/* Receive callback that lets the vendor release the message at once. */
int corvexTransportBridge_ignoreMsg(corvexClient_session_t session, corvexClient_msg_t message,
                                    void* closure);

/* Builds the publisher-information map ("U", "H", "P", "S") in buffer; the
 * map stays NULL when disabled or when it cannot be made. */
void corvexTransportBridge_createPubInfoMap(corvexClient_container_t* map, char* buffer,
                                            size_t size, corvexClient_session_t session);

/* Vendor callbacks registered with each session. */
void corvexTransportBridge_onSessionEvent(corvexClient_session_t session,
                                          const corvexClient_session_eventInfo_t* event,
                                          void* closure);
void corvexTransportBridge_onTopicDispatchDestroy(const char* topic,
                                                  const CorvexDispatchInfo* dispatch);

/* Cache: one request on the transport's cache session, which is created on
 * first use (when the vendor refuses, the next request tries again) and
 * which the transport's destroy cannot take away during the call.
 * MAMA_STATUS_PLATFORM when there is no cache session (the vendor refused
 * it, or the transport is destroyed); else MAMA_STATUS_OK and the vendor's
 * code in *rc. `handle` is the subscription's destroy handle holding one
 * reference for the request, given back by the completion of the request
 * (corvexTransportBridge_onCacheEvent). */
mama_status corvexTransportBridge_sendCacheRequest(CorvexTransportBridge* transport,
                                                   const char* topic, uint64_t requestId,
                                                   wDestroyHandle* handle, uint32_t flags,
                                                   int32_t* rc);
/* Whether the transport has a cache session now. */
bool corvexTransportBridge_hasCacheSession(CorvexTransportBridge* transport);
/* The transport's destroy: the cache session goes, and no other is made. */
mama_status corvexTransportBridge_closeCacheSession(CorvexTransportBridge* transport);
void corvexTransportBridge_onCacheEvent(corvexClient_session_t session,
                                        const corvexClient_cacheSession_eventInfo_t* event,
                                        void* closure);

/* Delivers a message that carries only a message status to the subscription
 * on its queue. 0 also when there is nothing to deliver (no transport or
 * subscription, or destroy has begun); MAMA_STATUS_NOMEM; or the queue's
 * status. */
mama_status corvexTransportBridge_queueStatusMsg(CorvexTransportBridge* transport,
                                                 CorvexSubscription* subscription,
                                                 mamaMsgStatus msgStatus, uint32_t copyMode);
void MAMACALLTYPE corvexTransportBridge_dispatchStatusMsg(mamaQueue queue, void* closure);

mama_status corvexTransportBridge_createDiscardSubscription(CorvexTransportBridge* transport);
mama_status corvexTransportBridge_destroyDiscardSubscription(CorvexTransportBridge* transport);

#endif /* CORVEX_BRIDGE_TRANSPORT_H */
