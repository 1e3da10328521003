/* The transport's cache session, the outcome of each cache request, and the
 * status messages (not found, not entitled) that the bridge itself delivers
 * to one subscription through that subscription's queue. */
#define CORVEX_LOG_MODULE "transport"

#include <stdlib.h>

#include <mama/mama.h>
#include <mama/reservedfields.h>
#include <mama/integration/msg.h>
#include <mama/integration/queue.h>
#include <mama/integration/subscription.h>
#include <mama/integration/transport.h>
#include <wombat/destroyHandle.h>

#include "logging.h"
#include "msg.h"
#include "properties.h"
#include "queue.h"
#include "subscription.h"
#include "transport.h"

namespace
{
/* One status message (not found, not entitled) on its way to one
 * subscription through the subscription's queue; freed first thing by the
 * dispatch callback. */
struct CorvexStatusMsgNode
{
    mamaMsgStatus mMsgStatus;
    CorvexSubscription* mSubscription;
    struct CorvexTransportBridge* mTransport;
    /* Non-zero "copy", zero "buffer": the event mode the sender asked for. */
    uint32_t mCopyMode;
};

const char* const COMPLETED_NOTICE = "received event=CORVEXCACHE_EVENT_REQUEST_COMPLETED_NOTICE";

/* Logs the outcome of a completed request; with a live subscription, a
 * request that found nothing becomes a not-found status message. */
void onRequestCompleted(CorvexSubscription* subscription,
                        const corvexClient_cacheSession_eventInfo_t* event)
{
    const char* subCode = corvexClient_subCodeToString(event->mSubCode);
    const char* topic = corvexLog_orNull(event->mTopic);
    if (event->mReturnCode == CORVEXCLIENT_OK)
    {
        CORVEX_LOG(CORVEX_LOG_FINE, "%s,rc=CORVEXCLIENT_OK", COMPLETED_NOTICE);
        return;
    }
    if (event->mReturnCode != CORVEXCLIENT_INCOMPLETE)
    {
        CORVEX_LOG_VENDOR_ERROR(event->mReturnCode == CORVEXCLIENT_FAIL ? CORVEX_LOG_WARN
                                                                        : CORVEX_LOG_ERROR,
                                event->mReturnCode, COMPLETED_NOTICE);
        return;
    }
    int level = CORVEX_LOG_FINE;
    switch (event->mSubCode)
    {
    case CORVEXCLIENT_SUBCODE_CACHE_NO_DATA:
        if (subscription != NULL &&
            corvexTransportBridge_queueStatusMsg(subscription->mTransportBridge, subscription,
                                                 MAMA_MSG_STATUS_NOT_FOUND, 0) != MAMA_STATUS_OK)
        {
            level = CORVEX_LOG_ERROR;
        }
        break;
    case CORVEXCLIENT_SUBCODE_CACHE_DATA_SUSPECT:
        break;
    case CORVEXCLIENT_SUBCODE_CACHE_TIMEOUT:
        level = CORVEX_LOG_WARN;
        break;
    default:
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "%s,rc=CORVEXCLIENT_INCOMPLETE, with unexpected subcode subCode=%s (%d), "
                   "topic=%s",
                   COMPLETED_NOTICE, subCode, (int)event->mSubCode, topic);
        return;
    }
    CORVEX_LOG(level, "%s,rc=CORVEXCLIENT_INCOMPLETE, subCode=%s, topic=%s", COMPLETED_NOTICE,
               subCode, topic);
}

/* Builds the temporary message that carries the status: the message-status
 * field and the message's own status. NULL after a logged failure. */
mamaMsg buildStatusMsg(const CorvexStatusMsgNode* node, char* payloadId)
{
    mamaMsg message = NULL;
    mama_status status =
        mamaMsg_createForPayloadBridge(&message, node->mTransport->mStatusPayloadBridge);
    if (status != MAMA_STATUS_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "could not create message. status=%s",
                   mamaStatus_stringForStatus(status));
        return NULL;
    }
    *payloadId = '\0';
    mamaMsgImpl_getPayloadId(message, payloadId);
    if (corvexLog_isEnabled(CORVEX_LOG_FINEST))
    {
        CORVEX_LOG(CORVEX_LOG_FINEST,
                   "Created internal Bridge Status event msg for payload '%c', with event mode "
                   "%s, for status %s",
                   *payloadId, node->mCopyMode ? "copy" : "buffer",
                   mamaMsgStatus_stringForStatus(node->mMsgStatus));
    }
    status = mamaMsgImpl_setStatus(message, node->mMsgStatus);
    if (status != MAMA_STATUS_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "Error setting the message status of a cache event message. status=%s",
                   mamaStatus_stringForStatus(status));
        mamaMsg_destroy(message);
        return NULL;
    }
    status = mamaMsg_addI32(message, MamaFieldMsgStatus.mName, MamaFieldMsgStatus.mFid,
                            (mama_i32_t)node->mMsgStatus);
    if (status != MAMA_STATUS_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "Error setting the message status field of a cache event message. status=%s",
                   mamaStatus_stringForStatus(status));
        mamaMsg_destroy(message);
        return NULL;
    }
    return message;
}

/* Hands the message to MAMA; true when the application detached it. */
bool deliverStatusMsg(const CorvexStatusMsgNode* node, mamaMsg message, CorvexBridgeMsg* bridgeMsg)
{
    CorvexSubscription* subscription = node->mSubscription;
    CorvexMsgDelivery delivery = {0};
    bridgeMsg->mDelivery = &delivery;
    mama_status status = MAMA_STATUS_OK;
    if (subscription->mIsWildcard)
    {
        status = mamaSubscription_processWildCardMsg(subscription->mMamaSubscription, message,
                                                     subscription->mSource, NULL);
    }
    else
    {
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "Received cache event message on non-wildcard subscription; source: %s; "
                   "symbol: %s",
                   corvexLog_orNull(subscription->mSource),
                   corvexLog_orNull(subscription->mSymbol));
        status = mamaSubscription_processMsg(subscription->mMamaSubscription, message);
    }
    if (!delivery.mDetached)
    {
        bridgeMsg->mDelivery = NULL;
    }
    if (status != MAMA_STATUS_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "error processing message on bridge-local subscription: %s",
                   mamaStatus_stringForStatus(status));
    }
    return delivery.mDetached != 0;
}
} // namespace

namespace
{
/* Under mCacheSessionLock. */
mama_status createCacheSession(CorvexTransportBridge* transport)
{
    if (transport->mCacheSessionClosed)
    {
        CORVEX_LOG(CORVEX_LOG_FINE, "No cache session: transport %s is destroyed",
                   transport->mName != NULL ? transport->mName : "");
        return MAMA_STATUS_PLATFORM;
    }
    CORVEX_LOG(CORVEX_LOG_FINER, "Calling corvexClient_session_createCacheSession");
    int32_t rc = corvexClient_session_createCacheSession(
        corvexProperties_getCorvexClientProps(transport->mCorvexProperties), transport->mSession,
        &transport->mCacheSession);
    if (rc != CORVEXCLIENT_OK)
    {
        CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_WARN, rc,
                                "Error in corvexClient_session_createCacheSession()");
        transport->mCacheSession = NULL;
        return MAMA_STATUS_PLATFORM;
    }
    CORVEX_LOG(CORVEX_LOG_FINE, "Created corvexClient cache session.");
    return MAMA_STATUS_OK;
}
} // namespace

mama_status corvexTransportBridge_sendCacheRequest(CorvexTransportBridge* transport,
                                                   const char* topic, uint64_t requestId,
                                                   wDestroyHandle* handle, uint32_t flags,
                                                   int32_t* rc)
{
    if (transport == NULL || topic == NULL || rc == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    mama_status status = MAMA_STATUS_OK;
    wlock_lock(transport->mCacheSessionLock);
    if (transport->mCacheSession == NULL)
    {
        status = createCacheSession(transport);
    }
    if (status == MAMA_STATUS_OK)
    {
        /* The request only queues its outcome for the context thread. */
        *rc = corvexClient_cacheSession_sendCacheRequest(transport->mCacheSession, topic, requestId,
                                                         transport->mCacheEventCallback, handle,
                                                         flags, 0);
    }
    wlock_unlock(transport->mCacheSessionLock);
    return status;
}

bool corvexTransportBridge_hasCacheSession(CorvexTransportBridge* transport)
{
    wlock_lock(transport->mCacheSessionLock);
    bool present = transport->mCacheSession != NULL;
    wlock_unlock(transport->mCacheSessionLock);
    return present;
}

mama_status corvexTransportBridge_closeCacheSession(CorvexTransportBridge* transport)
{
    mama_status result = MAMA_STATUS_OK;
    wlock_lock(transport->mCacheSessionLock);
    transport->mCacheSessionClosed = 1;
    if (transport->mCacheSession != NULL)
    {
        int32_t rc = corvexClient_cacheSession_destroy(&transport->mCacheSession);
        if (rc == CORVEXCLIENT_OK)
        {
            CORVEX_LOG(CORVEX_LOG_NORMAL,
                       "Destroyed corvexClient cache session in transport name=%s",
                       transport->mName);
            transport->mCacheSession = NULL;
        }
        else
        {
            CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_ERROR, rc,
                                    "Error in corvexClient_cacheSession_destroy()");
            result = MAMA_STATUS_PLATFORM;
        }
    }
    wlock_unlock(transport->mCacheSessionLock);
    return result;
}

void corvexTransportBridge_onCacheEvent(corvexClient_session_t,
                                        const corvexClient_cacheSession_eventInfo_t* event,
                                        void* closure)
{
    if (event == NULL)
    {
        return;
    }
    wDestroyHandle* handle = static_cast<wDestroyHandle*>(closure);
    if (handle == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "Cache session event with user_p==NULL; event: %s; topic: %s; responseCode: "
                   "%s; subCode: %s; cacheRequestId: %llu",
                   corvexClient_cacheSession_eventToString(event->mEvent),
                   corvexLog_orNull(event->mTopic),
                   corvexClient_returnCodeToString(event->mReturnCode),
                   corvexClient_subCodeToString(event->mSubCode),
                   (unsigned long long)event->mCacheRequestId);
    }
    if (event->mEvent != CORVEXCACHE_EVENT_REQUEST_COMPLETED_NOTICE)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "Received unexpected event=%d for cache. event: %s; topic: %s; responseCode: "
                   "(%d) %s; subCode: (%d) %s; cacheRequestId: %llu",
                   (int)event->mEvent, corvexClient_cacheSession_eventToString(event->mEvent),
                   corvexLog_orNull(event->mTopic), (int)event->mReturnCode,
                   corvexClient_returnCodeToString(event->mReturnCode), (int)event->mSubCode,
                   corvexClient_subCodeToString(event->mSubCode),
                   (unsigned long long)event->mCacheRequestId);
    }
    else if (handle == NULL)
    {
        onRequestCompleted(NULL, event);
    }
    else
    {
        /* The subscription is freed on its dispatch thread as soon as the
         * owner is marked destroyed: holding the handle's lock while it is
         * used keeps it alive until its status message is queued. */
        wlock_lock(handle->m_lock);
        CorvexSubscription* subscription =
            handle->m_destroyed ? NULL : static_cast<CorvexSubscription*>(handle->m_owner);
        onRequestCompleted(subscription, event);
        /* A request with the subscription's own id was a snapshot into its
         * inbox, whose answers came through a topic placed for them. */
        if (subscription != NULL && subscription->mCacheRequestId != 0 &&
            event->mCacheRequestId == (uint64_t)subscription->mCacheRequestId)
        {
            corvexSubscription_queueCacheAnswered(subscription, event->mTopic);
        }
        wlock_unlock(handle->m_lock);
    }
    if (handle != NULL)
    {
        /* Gives up the reference the request took. */
        destroyHandle_removeReference(handle);
    }
}

mama_status corvexTransportBridge_queueStatusMsg(CorvexTransportBridge* transport,
                                                 CorvexSubscription* subscription,
                                                 mamaMsgStatus msgStatus, uint32_t copyMode)
{
    if (transport == NULL || subscription == NULL || subscription->mIsDestroying == 1)
    {
        return MAMA_STATUS_OK;
    }
    CorvexStatusMsgNode* node = (CorvexStatusMsgNode*)calloc(1, sizeof(CorvexStatusMsgNode));
    if (node == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to allocate memory for message node");
        return MAMA_STATUS_NOMEM;
    }
    node->mMsgStatus = msgStatus;
    node->mSubscription = subscription;
    node->mTransport = transport;
    node->mCopyMode = copyMode;
    mama_status status = corvexBridgeMamaQueue_enqueueEvent(
        subscription->mQueueBridge, corvexTransportBridge_dispatchStatusMsg, node);
    if (status != MAMA_STATUS_OK)
    {
        free(node);
        CORVEX_LOG(CORVEX_LOG_ERROR, "Could not enqueue local message for delivery");
    }
    return status;
}

/* Every status message reaches MAMA the way a received message does: the
 * queue's reusable message decodes the temporary message's bytes. The
 * temporary message lives until delivery returns (a payload may read those
 * bytes where they lie), or as long as the application keeps a detached
 * copy, which then owns it. */
void MAMACALLTYPE corvexTransportBridge_dispatchStatusMsg(mamaQueue, void* closure)
{
    CorvexStatusMsgNode* given = static_cast<CorvexStatusMsgNode*>(closure);
    if (given == NULL)
    {
        return;
    }
    CorvexStatusMsgNode node = *given;
    free(given);
    CorvexSubscription* subscription = node.mSubscription;
    /* A destroyed subscription's transport may be gone: nothing of it is
     * read then. */
    if (subscription->mIsMuted || subscription->mIsDestroying)
    {
        CORVEX_LOG(CORVEX_LOG_FINEST, "muted - not queueing update for topic %s",
                   corvexLog_orNull(subscription->mTopic));
        return;
    }
    mamaMsg reusable = mamaQueueImpl_getMsg(subscription->mMamaQueue);
    if (reusable == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Error from calling mamaQueueImpl_getMsg.Could not get "
                                     "cached mamaMsg from event queue.");
        return;
    }
    if (node.mTransport->mStatusPayloadBridge == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Error native transport does not have payload bridge to "
                                     "generate event response message.");
        return;
    }
    char payloadId = '\0';
    mamaMsg statusMsg = buildStatusMsg(&node, &payloadId);
    if (statusMsg == NULL)
    {
        return;
    }
    const void* buffer = NULL;
    mama_size_t length = 0;
    mama_status status = mamaMsg_getByteBuffer(statusMsg, &buffer, &length);
    if (status != MAMA_STATUS_OK || length == 0)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "Could not get byte buffer from cache event message. status=%s",
                   mamaStatus_stringForStatus(status));
        mamaMsg_destroy(statusMsg);
        return;
    }
    status = mamaMsgImpl_setMsgBuffer(reusable, buffer, (uint32_t)length, *(const char*)buffer);
    if (status != MAMA_STATUS_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "Error from calling mamaMsg_setMsgBuffer. Failed. status=[%d] %s tmpMsg=%p "
                   "buf_p=%p bufSize=%d",
                   (int)status, mamaStatus_stringForStatus(status), (void*)statusMsg, buffer,
                   (int)length);
        mamaMsg_destroy(statusMsg);
        return;
    }
    CorvexBridgeMsg* bridgeMsg = NULL;
    status = mamaMsgImpl_getBridgeMsg(reusable, (msgBridge*)&bridgeMsg);
    if (status != MAMA_STATUS_OK || bridgeMsg == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "Error getting bridge message from mamaMsg. Has the message already been "
                   "destroyed? status=%s",
                   mamaStatus_stringForStatus(status));
        mamaMsg_destroy(statusMsg);
        return;
    }
    bridgeMsg->mBufferOwner = statusMsg;
    if (!deliverStatusMsg(&node, reusable, bridgeMsg))
    {
        bridgeMsg->mBufferOwner = NULL;
        mamaMsg_destroy(statusMsg);
    }
}
