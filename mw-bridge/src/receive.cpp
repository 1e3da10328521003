/* The road of a received message: filtered and queued on the vendor context
 * thread without copying it, decoded in place and handed to MAMA on the
 * thread that dispatches its subscription's queue. */
#define CORVEX_LOG_MODULE "receive"

#include "receive.h"

#include <inttypes.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>

#include <mama/mama.h>
#include <mama/msgtype.h>
#include <mama/reservedfields.h>
#include <mama/integration/msg.h>
#include <mama/integration/queue.h>
#include <mama/integration/subscription.h>

#include "logging.h"
#include "msgBatch.h"
#include "topic.h"
#include "msg.h"
#include "queue.h"
#include "subscription.h"
#include "transport.h"

namespace
{
const size_t DUMP_SIZE = 10000;

/* Failures to decode with status 2 in this process; selects which of them
 * carry a message dump. */
std::atomic<uint64_t> gDecodeFailures(0);

bool isDumped(uint64_t failuresBefore)
{
    return failuresBefore % 500 == 0 || failuresBefore == 1;
}

/* A cache response is for every subscription on its topic when it carries no
 * request id, else only for the subscription that asked for it. */
bool acceptsCacheResponse(CorvexSubscription* subscription, corvexClient_msg_t message)
{
    corvexClient_cacheRequestId_t received = 0;
    int32_t rc = corvexClient_msg_getCacheRequestId(message, &received);
    if (rc != CORVEXCLIENT_OK)
    {
        CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_ERROR, rc, "Unable to get Cache Request Id");
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "Unable to get Cache Request Id of received cache response. Discarding received "
                   "message. "
                   "subscription=%p, msg_p=%p",
                   (void*)subscription, (void*)message);
        return false;
    }
    if (received != 0 && received != (uint64_t)subscription->mCacheRequestId)
    {
        CORVEX_LOG(CORVEX_LOG_FINEST,
                   "Discarding cache response not requested by this subscription, subscription=%p "
                   "ReceivedCacheRequestId=%" PRIu64 " subscCacheRequestId=%" PRId64 " ",
                   (void*)subscription, (uint64_t)received, subscription->mCacheRequestId);
        return false;
    }
    return true;
}

/* Whether a live message reached the subscription in the moment between its
 * placement and MAMA's wait for its initial value; once MAMA is seen waiting
 * (or the initial is in), the moment is over for good. */
bool isBeforeInitialWait(CorvexSubscription* subscription)
{
    if (subscription->mBeforeInitialWait.load(std::memory_order_acquire) == 0)
    {
        return false;
    }
    int waiting = 0;
    int received = 0;
    mamaSubscription_getExpectingInitial(subscription->mMamaSubscription, &waiting);
    mamaSubscription_getReceivedInitial(subscription->mMamaSubscription, &received);
    if (waiting != 0 || received != 0)
    {
        subscription->mBeforeInitialWait.store(0, std::memory_order_release);
        return false;
    }
    return true;
}

/* MAMA takes a market-data subscription's initial value only from a message
 * typed as one, and sets aside everything else that arrives while it waits
 * for it (then asks again when its timeout comes). The cache answers with the
 * last message published on the topic, typed as its publisher sent it: as a
 * rule an UPDATE. So a cached message that answers this subscription's own
 * cache request (its non-zero request id) is presented as what was asked
 * for: the INITIAL while the subscription waits for it, a RECAP after that
 * (its later requests recover gaps). Nothing else is retyped: a cached
 * message without a request id is for every subscription on its topic, and
 * live messages are what they were published as. Only the decoded message
 * changes, in place (the payload copies what it borrows from the received
 * bytes on its first change); the received bytes are left as they are. */
void presentCacheAnswer(CorvexSubscription* subscription, mamaMsg message,
                        corvexClient_msg_t vendorMessage)
{
    int cacheMsg = corvexClient_msg_isCacheMsg(vendorMessage);
    corvexClient_cacheRequestId_t received = 0;
    if ((cacheMsg != CORVEXCLIENT_MSG_CACHED && cacheMsg != CORVEXCLIENT_MSG_CACHED_SUSPECT) ||
        subscription->mCacheRequestId == 0 ||
        corvexClient_msg_getCacheRequestId(vendorMessage, &received) != CORVEXCLIENT_OK ||
        received != (uint64_t)subscription->mCacheRequestId)
    {
        return;
    }
    int expectingInitial = 0;
    mamaSubscription_getExpectingInitial(subscription->mMamaSubscription, &expectingInitial);
    mamaMsgType type = expectingInitial ? MAMA_MSG_TYPE_INITIAL : MAMA_MSG_TYPE_RECAP;
    /* The queue's message does not own what it decoded and refuses changes
     * for that; it owns it for this one change only. */
    mamaMsgImpl_setMessageOwner(message, 1);
    mama_status status =
        mamaMsg_updateU8(message, MamaFieldMsgType.mName, MamaFieldMsgType.mFid, (mama_u8_t)type);
    mamaMsgImpl_setMessageOwner(message, 0);
    if (status != MAMA_STATUS_OK)
    {
        CORVEX_LOG(CORVEX_LOG_WARN,
                   "Unable to present the cache answer on topic '%s' as %s: %s; delivered as "
                   "published",
                   subscription->mTopic, mamaMsgType_stringForType(type),
                   mamaStatus_stringForStatus(status));
        return;
    }
    CORVEX_LOG(CORVEX_LOG_FINEST,
               "Cache answer on topic '%s' for CacheRequestId=%" PRIu64 " presented as %s",
               subscription->mTopic, (uint64_t)received, mamaMsgType_stringForType(type));
}

void logDecodeFailure(mama_status status, mamaMsg message, const void* buffer, uint32_t length,
                      corvexClient_msg_t vendorMessage)
{
    if (status == MAMA_STATUS_NO_BRIDGE_IMPL)
    {
        const char* id = (const char*)buffer;
        char shown[8];
        CORVEX_LOG(
            CORVEX_LOG_WARN,
            "The bridge required to decode received message was not loaded. The message has been "
            "dropped, payload ID is '%s' [0x%02X]",
            corvexLog_escapeText(id, 1, shown, sizeof(shown)), (unsigned)(unsigned char)*id);
        return;
    }
    bool dump = status == MAMA_STATUS_PLATFORM && isDumped(gDecodeFailures.fetch_add(1));
    if (dump && corvexLog_isEnabled(CORVEX_LOG_WARN))
    {
        /* One buffer per call: dispatch threads may dump at the same time. */
        char* text = (char*)malloc(DUMP_SIZE);
        if (text != NULL)
        {
            int32_t rc =
                corvexClient_msg_dumpExt(vendorMessage, text, DUMP_SIZE, CORVEXCLIENT_MSGDUMP_FULL);
            text[DUMP_SIZE - 1] = '\0';
            CORVEX_LOG(CORVEX_LOG_WARN,
                       "Cannot decode message received: error from calling mamaMsg_setMsgBuffer. "
                       "Failed with "
                       "status=[%d] %s tmpMsg=%p buf_p=%p bufSize=%d\nrc=%s \nMessage :\n %s\n",
                       (int)status, mamaStatus_stringForStatus(status), (void*)message, buffer,
                       (int)length, corvexClient_returnCodeToString(rc), text);
            free(text);
            return;
        }
    }
    CORVEX_LOG(
        CORVEX_LOG_WARN,
        "Cannot decode message received: error from calling mamaMsg_setMsgBuffer. Failed with "
        "status=[%d] %s tmpMsg=%p buf_p=%p bufSize=%d",
        (int)status, mamaStatus_stringForStatus(status), (void*)message, buffer, (int)length);
}

/* Hands the decoded message to MAMA; true when the application detached it
 * during its callback, so that it now belongs to the detached message. */
bool deliver(CorvexSubscription* subscription, mamaMsg message, CorvexBridgeMsg* bridgeMsg,
             corvexClient_msg_t vendorMessage)
{
    char subject[CORVEX_TOPIC_BUFFER_SIZE];
    if (subscription->mIsWildcard)
    {
        corvexClient_destination_t destination;
        memset(&destination, 0, sizeof(destination));
        int32_t rc =
            corvexClient_msg_getDestination(vendorMessage, &destination, sizeof(destination));
        if (rc != CORVEXCLIENT_OK || destination.mTopic == NULL)
        {
            CORVEX_LOG(CORVEX_LOG_ERROR, "corvexClient_msg_getDestination() returnCode='%s'",
                       corvexClient_returnCodeToString(rc));
            corvexLog_formatBuffer(subject, sizeof(subject), "%s", "unavailable");
        }
        else
        {
            corvexTopic_decode(destination.mTopic, subject, sizeof(subject));
        }
    }

    CorvexMsgDelivery delivery = {0};
    bridgeMsg->mDelivery = &delivery;
    const char* operation = NULL;
    mama_status status = MAMA_STATUS_OK;
    if (subscription->mIsWildcard)
    {
        operation = "mamaSubscription_processWildCardMsg";
        status = mamaSubscription_processWildCardMsg(subscription->mMamaSubscription, message,
                                                     subject, NULL);
    }
    else
    {
        operation = "mamaSubscription_processMsg";
        status = mamaSubscription_processMsg(subscription->mMamaSubscription, message);
    }
    if (!delivery.mDetached)
    {
        /* Still the queue's reusable message: it forgets this delivery. */
        bridgeMsg->mDelivery = NULL;
    }
    /* The subscription may be gone now (destroyed in the callback). */
    if (status != MAMA_STATUS_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Error from calling %s. Failed. status=[%d] %s", operation,
                   (int)status, mamaStatus_stringForStatus(status));
    }
    return delivery.mDetached != 0;
}
} // namespace

int corvexReceive_onSubscriptionMessage(corvexClient_session_t, corvexClient_msg_t message,
                                        void* closure)
{
    CorvexSubscription* subscription = static_cast<CorvexSubscription*>(closure);
    if (subscription == NULL)
    {
        CORVEX_LOG(
            CORVEX_LOG_ERROR,
            "Error in getting corvex subscription from message. corvexSubscription is NULL.");
        return CORVEXCLIENT_CALLBACK_OK;
    }
    if (corvexClient_msg_isDiscardIndication(message))
    {
        corvexTransportBridge_queueTransportEvent(subscription->mTransportBridge,
                                                  MAMA_TRANSPORT_QUALITY, 0, NULL);
    }
    if (subscription->mIsDestroying == 1)
    {
        return CORVEXCLIENT_CALLBACK_OK;
    }
    if (subscription->mIsMuted)
    {
        CORVEX_LOG(CORVEX_LOG_FINEST, "muted - not queueing update for topic %s",
                   subscription->mTopic);
        return CORVEXCLIENT_CALLBACK_OK;
    }
    if (subscription->mMamaSubscription == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "Error in getting mama subscription from message. mMamaSubscription is NULL.");
        return CORVEXCLIENT_CALLBACK_OK;
    }
    /* The count serves only the depth limit of synchronous mode; in
     * asynchronous mode the queue's flow control watches it as it enqueues,
     * and reading it here for every message would fetch what the dispatch
     * thread has just written. */
    const bool subscribeAsync = corvexQueue_isSubscribeAsync(subscription->mQueueBridge);
    size_t events = 0;
    mama_status status = MAMA_STATUS_OK;
    if (!subscribeAsync)
    {
        status = corvexBridgeMamaQueue_getEventCount(subscription->mQueueBridge, &events);
        if (status != MAMA_STATUS_OK)
        {
            CORVEX_LOG(CORVEX_LOG_ERROR, "could not get event count: %s",
                       mamaStatus_stringForStatus(status));
            return CORVEXCLIENT_CALLBACK_OK;
        }
    }
    int cacheMsg = corvexClient_msg_isCacheMsg(message);
    if ((cacheMsg == CORVEXCLIENT_MSG_CACHED || cacheMsg == CORVEXCLIENT_MSG_CACHED_SUSPECT) &&
        !acceptsCacheResponse(subscription, message))
    {
        return CORVEXCLIENT_CALLBACK_OK;
    }
    /* In asynchronous mode the queue suspends the session instead. */
    if (!subscribeAsync && (uint64_t)events >= subscription->mMaxQueueDepth)
    {
        corvexThrottledLog_log(
            subscription->mThrottledLog,
            "Discarding message with topic '%s'; cannot exceed maximum queue depth of %" PRIu64,
            subscription->mTopic, subscription->mMaxQueueDepth);
        subscription->mDiscarded.store(1, std::memory_order_relaxed);
        return CORVEXCLIENT_CALLBACK_OK;
    }
    /* The application hears of what was discarded before the next message
     * it gets: the event goes ahead of it. */
    if (subscription->mDiscarded.exchange(0, std::memory_order_relaxed) != 0)
    {
        corvexTransportBridge_queueTransportEvent(subscription->mTransportBridge,
                                                  MAMA_TRANSPORT_QUALITY, 0, NULL);
    }
    status = corvexQueue_enqueueMsg(subscription->mQueueBridge, corvexReceive_dispatchMsgNode,
                                    message, subscription);
    if (status != MAMA_STATUS_OK)
    {
        subscription->mDiscarded.store(1, std::memory_order_relaxed);
    }
    if (status == MAMA_STATUS_NOMEM)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to allocate memory for message node");
        return CORVEXCLIENT_CALLBACK_OK;
    }
    if (status != MAMA_STATUS_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Could not enqueue message: %s; msg=%p user_p=%p",
                   mamaStatus_stringForStatus(status), (void*)message, closure);
        return CORVEXCLIENT_CALLBACK_OK;
    }
    return CORVEXCLIENT_CALLBACK_TAKE_MSG;
}

int corvexReceive_onCacheAnswer(corvexClient_session_t session, corvexClient_msg_t message,
                                void* closure)
{
    int cacheMsg = corvexClient_msg_isCacheMsg(message);
    if (cacheMsg != CORVEXCLIENT_MSG_CACHED && cacheMsg != CORVEXCLIENT_MSG_CACHED_SUSPECT)
    {
        return CORVEXCLIENT_CALLBACK_OK;
    }
    return corvexReceive_onSubscriptionMessage(session, message, closure);
}

void MAMACALLTYPE corvexReceive_dispatchMsgNode(mamaQueue, void* closure)
{
    CorvexMsgNode* node = static_cast<CorvexMsgNode*>(closure);
    if (node == NULL)
    {
        return;
    }
    CorvexSubscription* subscription = node->mSubscription;
    if (subscription == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Called with NULL Corvex subscription.");
        corvexMsgNode_release(node);
        return;
    }
    if (subscription->mMamaSubscription == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_FINE, "Called with NULL subscription.");
        corvexMsgNode_release(node);
        return;
    }
    if (subscription->mIsMuted)
    {
        CORVEX_LOG(CORVEX_LOG_FINEST, "muted - not queueing update for topic %s",
                   subscription->mTopic);
        corvexMsgNode_release(node);
        return;
    }
    if (isBeforeInitialWait(subscription))
    {
        CORVEX_LOG(CORVEX_LOG_FINEST,
                   "message before the wait for the initial value set aside, topic %s",
                   subscription->mTopic);
        corvexMsgNode_release(node);
        return;
    }

    void* buffer = NULL;
    uint32_t length = 0;
    int32_t rc = corvexClient_msg_getBinaryAttachmentPtr(node->mMsg, &buffer, &length);
    if (rc != CORVEXCLIENT_OK)
    {
        char text[64];
        corvexLog_formatBuffer(text, sizeof(text),
                               "Could not get binary attachment from msg. msg_p=%p",
                               (void*)node->mMsg);
        CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_ERROR, rc, text);
        const corvexClient_errorInfo_t* error = corvexClient_getLastErrorInfo();
        bool longForm = rc == CORVEXCLIENT_FAIL || rc == CORVEXCLIENT_NOT_READY;
        /* Sub-code 2: the vendor has no message to take back. */
        if (!longForm || error == NULL || error->mSubCode != CORVEXCLIENT_SUBCODE_NULL_ARGUMENT)
        {
            corvexMsgNode_release(node);
        }
        return;
    }
    mamaMsg message = mamaQueueImpl_getMsg(subscription->mMamaQueue);
    if (message == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Error from calling mamaQueueImpl_getMsg. Could not get "
                                     "cached mamaMsg from event queue.");
        corvexMsgNode_release(node);
        return;
    }
    /* An empty attachment has no payload id to read. */
    mama_status status = MAMA_STATUS_INVALID_ARG;
    if (buffer != NULL && length > 0)
    {
        status = mamaMsgImpl_setMsgBuffer(message, buffer, length, *(const char*)buffer);
    }
    if (status != MAMA_STATUS_OK)
    {
        logDecodeFailure(status, message, buffer, length, node->mMsg);
        corvexMsgNode_release(node);
        return;
    }
    CorvexBridgeMsg* bridgeMsg = NULL;
    status = mamaMsgImpl_getBridgeMsg(message, (msgBridge*)&bridgeMsg);
    if (status != MAMA_STATUS_OK || bridgeMsg == NULL)
    {
        const char* id = (const char*)buffer;
        char shown[8];
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "Error getting bridge message from mamaMsg. The message may have already been "
                   "destroyed; "
                   "status=%s, payload ID is '%s' [0x%02X]",
                   mamaStatus_stringForStatus(status),
                   corvexLog_escapeText(id, 1, shown, sizeof(shown)), (unsigned)(unsigned char)*id);
        corvexMsgNode_release(node);
        return;
    }
    bridgeMsg->mCorvexMsg = node->mMsg;
    presentCacheAnswer(subscription, message, node->mMsg);
    if (deliver(subscription, message, bridgeMsg, node->mMsg))
    {
        /* The detached message owns it now. */
        return;
    }
    /* The queue's message is reused for the next one; it must not keep a
     * handle that is about to be freed. */
    bridgeMsg->mCorvexMsg = NULL;
    corvexMsgNode_release(node);
}

int corvexReceive_onSessionMessage(corvexClient_session_t session, corvexClient_msg_t message,
                                   void* closure)
{
    corvexClient_destination_t destination;
    memset(&destination, 0, sizeof(destination));
    int32_t rc = corvexClient_msg_getDestination(message, &destination, sizeof(destination));
    if (rc != CORVEXCLIENT_OK || destination.mTopic == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "Received opaqueSession_p=%p msg_p=%p corvexClient_msg_getDestination() "
                   "returnCode='%s' ",
                   (void*)session, (void*)message, corvexClient_returnCodeToString(rc));
        return CORVEXCLIENT_CALLBACK_OK;
    }
    /* The topic came from the router: shown escaped. */
    char topic[CORVEX_TOPIC_BUFFER_SIZE * 4];
    corvexLog_escapeText(destination.mTopic, strlen(destination.mTopic), topic, sizeof(topic));
    if (strncmp(topic, CORVEXCLIENT_P2P_TOPIC_PREFIX, strlen(CORVEXCLIENT_P2P_TOPIC_PREFIX)) == 0)
    {
        CORVEX_LOG(CORVEX_LOG_FINEST, "Received opaqueSession_p=%p msg_p=%p user_p=%p topic=%s",
                   (void*)session, (void*)message, closure, topic);
        return CORVEXCLIENT_CALLBACK_OK;
    }
    /* The session's router delivers only topics the session subscribed to,
     * and the session subscribes only for its topic entries: a message none
     * of them takes was on its way when the last subscription that could
     * take it was destroyed (or is a cache answer its subscription no longer
     * waits for). */
    CORVEX_LOG(CORVEX_LOG_FINE, "Received opaqueSession_p=%p msg_p=%p user_p=%p topic=%s",
               (void*)session, (void*)message, closure, topic);
    if (corvexLog_isEnabled(CORVEX_LOG_FINEST))
    {
        char* text = (char*)malloc(DUMP_SIZE);
        if (text != NULL)
        {
            corvexClient_msg_dumpExt(message, text, DUMP_SIZE, CORVEXCLIENT_MSGDUMP_FULL);
            text[DUMP_SIZE - 1] = '\0';
            CORVEX_LOG(CORVEX_LOG_FINEST,
                       "Received opaqueSession_p=%p msg_p=%p user_p=%p topic=%s msg=\n%s",
                       (void*)session, (void*)message, closure, topic, text);
            free(text);
        }
    }
    return CORVEXCLIENT_CALLBACK_OK;
}
