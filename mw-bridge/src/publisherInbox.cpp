/* Requests sent from inboxes and the replies to them. A subscription request
 * (initial value, snapshot, dictionary, recap) first proves with a short-lived
 * check subscription that the router lets this client subscribe to the data
 * topic; then, on a transport that uses the cache, the cache is asked for the
 * data, and the request itself is sent only as the settings say. */
#define CORVEX_LOG_MODULE "publisher"

#include <stdlib.h>
#include <string.h>

#include <mama/mama.h>
#include <mama/reservedfields.h>
#include <mama/subscmsgtype.h>
#include <mama/subscriptiontype.h>
#include <mama/integration/inbox.h>
#include <mama/integration/msg.h>
#include <mama/integration/subscription.h>
#include <wombat/destroyHandle.h>

#include "inbox.h"
#include "logging.h"
#include "msg.h"
#include "publisher.h"
#include "queue.h"
#include "subscription.h"
#include "synchronism.h"
#include "topic.h"
#include "transport.h"
#include "transportLifetime.h"

namespace
{
/* Everything the completion of one subscription request needs; lives in its
 * correlation tag. */
struct CorvexInboxRequest
{
    int32_t mSubscriptionType;
    int32_t mMsgType;
    CorvexSubscription* mSubscription;
    mamaMsg mRequestMsg;
    char mCacheTopic[CORVEX_TOPIC_BUFFER_SIZE];
    char mPublisherSubject[CORVEX_TOPIC_BUFFER_SIZE];
    char mInboxReplyToTopic[CORVEX_TOPIC_BUFFER_SIZE];
    uint64_t mCacheRequestId;
};
static_assert(sizeof(CorvexInboxRequest) <= CORVEX_CORRELATION_PAYLOAD_SIZE,
              "an inbox request must fit in a correlation tag");

/* The check subscription takes every message it is given and ignores it. */
const CorvexDispatchInfo IGNORE_ALL = {CORVEXCLIENT_DISPATCH_TYPE_CALLBACK,
                                       corvexTransportBridge_ignoreMsg, NULL, NULL};

/* Cache requests deliver the cached messages, never subscribe, and report
 * their outcome as a cache event. */
const uint32_t CACHE_REQUEST_FLAGS = CORVEXCLIENT_CACHEREQUEST_FLAGS_DELIVER_CACHED |
                                     CORVEXCLIENT_CACHEREQUEST_FLAGS_NO_LIVE_SUBSCRIBE |
                                     CORVEXCLIENT_CACHEREQUEST_FLAGS_NO_WAIT;

bool isSubscriptionRequest(mama_i32_t msgType)
{
    return msgType == MAMA_SUBSC_SUBSCRIBE || msgType == MAMA_SUBSC_SNAPSHOT ||
           msgType == MAMA_SUBSC_DDICT_SNAPSHOT || msgType == MAMA_SUBSC_DQ_UNKNOWN;
}

/* Snapshot-style requests get their cached answer in the inbox. */
bool isSnapshotRequest(int32_t msgType)
{
    return msgType == MAMA_SUBSC_SNAPSHOT || msgType == MAMA_SUBSC_DDICT_SNAPSHOT;
}

bool mayUseCache(int32_t subscriptionType)
{
    return subscriptionType == MAMA_SUBSC_TYPE_NORMAL || subscriptionType == MAMA_SUBSC_TYPE_BOOK ||
           subscriptionType == MAMA_SUBSC_TYPE_DICTIONARY;
}

/* Whether corvexPublisher_buildCacheTopic has a topic for the request: the
 * dictionary, or a subscription built from source and symbol under "_MD". */
bool hasCacheTopic(const CorvexPublisherBridge* publisher, int32_t subscriptionType)
{
    if (subscriptionType == MAMA_SUBSC_TYPE_DICTIONARY)
    {
        return true;
    }
    return (subscriptionType == MAMA_SUBSC_TYPE_NORMAL ||
            subscriptionType == MAMA_SUBSC_TYPE_BOOK) &&
           publisher->mSubject != NULL && strncmp(publisher->mSubject, "_MD", strlen("_MD")) == 0;
}

/* Copies at most size - 1 characters and always terminates. */
void copyBounded(char* target, size_t size, const char* source)
{
    corvexLog_formatBuffer(target, size, "%s", source != NULL ? source : "");
}

/* The check subscription was refused: a refusal by access control becomes a
 * not-entitled status message for the inbox. */
mama_status onCheckRefused(const CorvexInboxRequest* request, int32_t rc)
{
    const corvexClient_errorInfo_t* error = corvexClient_getLastErrorInfo();
    if (error != NULL && error->mSubCode == CORVEXCLIENT_SUBCODE_SUBSCRIBE_NOT_PERMITTED)
    {
        CorvexSubscription* subscription = request->mSubscription;
        mama_status status = corvexTransportBridge_queueStatusMsg(
            subscription->mTransportBridge, subscription, MAMA_MSG_STATUS_NOT_ENTITLED, 1);
        CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_NORMAL, rc, "Error during subscription ACL check");
        return status;
    }
    CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_WARN, rc, "Error during subscription ACL check");
    return MAMA_STATUS_PLATFORM;
}

/* A request abandoned with its session: its completion, which would destroy
 * the copy of the message, never runs. */
void forgetRequest(void* payload)
{
    CorvexInboxRequest* request = static_cast<CorvexInboxRequest*>(payload);
    if (request->mRequestMsg != NULL)
    {
        mamaMsg_destroy(request->mRequestMsg);
        request->mRequestMsg = NULL;
    }
}

/* Sends the cache request; *done is set when nothing more is to be sent for
 * this request. */
mama_status sendCacheRequest(CorvexInboxRequest* request, bool* done)
{
    CorvexSubscription* subscription = request->mSubscription;
    CorvexTransportBridge* transport = subscription->mTransportBridge;
    *done = true;
    uint64_t requestId = request->mCacheRequestId;
    bool snapshot = isSnapshotRequest(request->mMsgType);
    if (snapshot)
    {
        int placed = 0;
        int32_t rc =
            corvexSubscription_addCacheAnswerTopic(subscription, request->mCacheTopic, &placed);
        if (rc != CORVEXCLIENT_OK && rc != CORVEXCLIENT_IN_PROGRESS)
        {
            CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_WARN, rc, "corvexSubscription_subscribe() failed");
            return MAMA_STATUS_PLATFORM;
        }
        if (!placed)
        {
            return MAMA_STATUS_OK;
        }
        CORVEX_LOG(CORVEX_LOG_FINE,
                   "corvexBridgeMamaPublisher_sendFromInboxByIndex(): Adding topic '%s' to local "
                   "dispatch",
                   request->mCacheTopic);
        requestId = (uint64_t)subscription->mCacheRequestId;
    }

    wlock_lock(subscription->mKlixSubscriptionListLock);
    if (subscription->mIsDestroying == 1)
    {
        wlock_unlock(subscription->mKlixSubscriptionListLock);
        return MAMA_STATUS_OK;
    }
    /* The cache event gives this reference up. The handle is read once,
     * here: the subscription's release lets go of it under this lock. */
    wDestroyHandle* handle = subscription->mDestroyHandle;
    destroyHandle_incrementRefCount(handle);
    wlock_unlock(subscription->mKlixSubscriptionListLock);

    int32_t rc = CORVEXCLIENT_FAIL;
    mama_status status = corvexTransportBridge_sendCacheRequest(
        transport, request->mCacheTopic, requestId, handle, CACHE_REQUEST_FLAGS, &rc);
    if (status == MAMA_STATUS_OK && rc == CORVEXCLIENT_IN_PROGRESS)
    {
        *done = !transport->mSendSubReq;
        return MAMA_STATUS_OK;
    }
    /* No completion will come: the request no longer holds its topic. */
    if (snapshot)
    {
        corvexSubscription_queueCacheAnswered(subscription, request->mCacheTopic);
    }
    if (status != MAMA_STATUS_OK)
    {
        destroyHandle_removeReference(handle);
        return status;
    }
    const corvexClient_errorInfo_t* error = corvexClient_getLastErrorInfo();
    bool quiet = rc == CORVEXCLIENT_NOT_READY || rc == CORVEXCLIENT_WOULD_BLOCK ||
                 (rc == CORVEXCLIENT_FAIL && error != NULL &&
                  error->mSubCode == CORVEXCLIENT_SUBCODE_CACHE_REQUEST_CANCELLED);
    int level = quiet ? CORVEX_LOG_FINE : CORVEX_LOG_ERROR;
    if (rc == CORVEXCLIENT_FAIL && error != NULL)
    {
        CORVEX_LOG(level,
                   "corvexBridgeMamaPublisher_sendFromInboxByIndex(): Error Sending Cache Request "
                   "returnCode=%s; subCode=%s, responseCode=%d, errorStr=%s",
                   corvexClient_returnCodeToString(rc),
                   corvexClient_subCodeToString(error->mSubCode), (int)error->mResponseCode,
                   error->mErrorText);
    }
    else
    {
        CORVEX_LOG(level,
                   "corvexBridgeMamaPublisher_sendFromInboxByIndex(): Error Sending Cache Request "
                   "returnCode=%s",
                   corvexClient_returnCodeToString(rc));
    }
    destroyHandle_removeReference(handle);
    return quiet ? MAMA_STATUS_OK : MAMA_STATUS_PLATFORM;
}

/* Sends the request message itself: to the inbox without a cache session,
 * to the discard topic with one (the data comes from the cache), or not at
 * all when subscription requests are not to be sent. */
mama_status sendRequestMsg(CorvexInboxRequest* request)
{
    CorvexTransportBridge* transport = request->mSubscription->mTransportBridge;
    char discard[CORVEX_TOPIC_BUFFER_SIZE];
    const char* replyTo = request->mInboxReplyToTopic;
    if (corvexTransportBridge_hasCacheSession(transport))
    {
        if (!transport->mSendSubReq)
        {
            return MAMA_STATUS_OK;
        }
        int written = corvexLog_formatBuffer(discard, sizeof(discard), "%sdiscard",
                                             transport->mInboxCorvexReplyToPrefix);
        if (written < 0)
        {
            CORVEX_LOG(CORVEX_LOG_ERROR, "unable to build replyTo: %d", written);
            return MAMA_STATUS_PLATFORM;
        }
        replyTo = discard;
    }
    return corvexPublisher_sendOnTransport(transport, request->mPublisherSubject, replyTo,
                                           request->mRequestMsg, 0,
                                           "corvexPublisher_postSendFromInboxByIndex");
}
} // namespace

mama_status corvexPublisher_buildCacheTopic(CorvexPublisherBridge* publisher,
                                            int32_t subscriptionType, char* topic)
{
    const char* subject = publisher->mSubject != NULL ? publisher->mSubject : "";
    if (subscriptionType == MAMA_SUBSC_TYPE_DICTIONARY)
    {
        copyBounded(topic, CORVEX_TOPIC_BUFFER_SIZE, subject);
        if (strncmp(topic, "_MDDD", strlen("_MDDD")) == 0)
        {
            topic[0] = '#';
        }
        return MAMA_STATUS_OK;
    }
    if (subscriptionType != MAMA_SUBSC_TYPE_NORMAL && subscriptionType != MAMA_SUBSC_TYPE_BOOK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "Error in generating corvex topic for cache request. Invalid "
                   "mamaSubscriptionType='%s' [%d] for topic=%s.",
                   MamaSubscTypeStr((mamaSubscriptionType)subscriptionType), (int)subscriptionType,
                   subject);
        return MAMA_STATUS_PLATFORM;
    }
    if (strncmp(subject, "_MD", strlen("_MD")) != 0)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "Error in generating corvex topic for cache request. Topic does not start with "
                   "'%s', topic=%s.",
                   "_MD", subject);
        return MAMA_STATUS_PLATFORM;
    }
    char* built = NULL;
    mama_status status =
        corvexTopic_build(NULL, publisher->mSource, publisher->mTopic, &built, 0,
                          corvexTransportBridge_fromTransport(publisher->mTransport, NULL));
    if (status != MAMA_STATUS_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "Error generating corvex topic for cache request. mSource=%s mTopic=%s: %s",
                   corvexLog_orNull(publisher->mSource), corvexLog_orNull(publisher->mTopic),
                   mamaStatus_stringForStatus(status));
        return MAMA_STATUS_PLATFORM;
    }
    copyBounded(topic, CORVEX_TOPIC_BUFFER_SIZE, built);
    free(built);
    return MAMA_STATUS_OK;
}

uint64_t corvexPublisher_getCacheRequestId(CorvexPublisherBridge* publisher,
                                           const CorvexCurrentSubscription* current)
{
    if (publisher->mCacheRequestId != 0)
    {
        return publisher->mCacheRequestId;
    }
    if (!current->mFound)
    {
        CORVEX_LOG(CORVEX_LOG_FINER,
                   "Unable to get subscription associated with the initial/recap request for "
                   "CorvexCache. Using CacheRequestId=0.");
        return 0;
    }
    publisher->mCacheRequestId = (uint64_t)current->mCacheRequestId;
    return publisher->mCacheRequestId;
}

mama_status corvexPublisher_postSendFromInboxByIndex(int fromSessionEvent,
                                                     CorvexCorrelationContext* context)
{
    CorvexInboxRequest* request =
        static_cast<CorvexInboxRequest*>(corvexSynchronismManager_getContextPayload(context));
    int32_t rc = corvexSynchronismManager_getContextReturnCode(context);
    CorvexSubscription* subscription = request->mSubscription;
    CorvexTransportBridge* transport = subscription->mTransportBridge;
    mama_status result = MAMA_STATUS_OK;
    if (rc != CORVEXCLIENT_OK)
    {
        result = onCheckRefused(request, rc);
    }
    else
    {
        int32_t removed = corvexClient_session_topicUnsubscribeWithDispatch(
            corvexTransportLifetime_session(transport), 0, request->mCacheTopic, &IGNORE_ALL, NULL);
        if (removed != CORVEXCLIENT_OK && removed != CORVEXCLIENT_IN_PROGRESS)
        {
            CORVEX_LOG(CORVEX_LOG_WARN, "Failed to unsubscribe from topic '%s' - rc=%s",
                       request->mCacheTopic, corvexClient_returnCodeToString(removed));
        }
        bool done = false;
        if (mayUseCache(request->mSubscriptionType) && transport->mUseCache)
        {
            result = sendCacheRequest(request, &done);
        }
        if (!done)
        {
            result = sendRequestMsg(request);
        }
    }
    mamaMsg_destroy(request->mRequestMsg);
    request->mRequestMsg = NULL;
    if (result != MAMA_STATUS_OK && fromSessionEvent)
    {
        corvexSubscription_queueError(subscription->mMamaSubscription, subscription, result, 0);
    }
    return result;
}

CORVEX_EXPORT mama_status corvexBridgeMamaPublisher_sendFromInboxByIndex(
    CorvexPublisherBridge* publisher, int transportIndex, mamaInbox inbox, mamaMsg msg)
{
    if (publisher == NULL || inbox == NULL || msg == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    CorvexInbox* corvexInbox = (CorvexInbox*)mamaInboxImpl_getInboxBridge(inbox);
    CorvexSubscription* subscription =
        corvexInbox != NULL && corvexInbox->mSubscription != NULL
            ? (CorvexSubscription*)mamaSubscription_getSubscriptionBridge(
                  corvexInbox->mSubscription)
            : NULL;
    mama_i32_t msgType = -1;
    bool subscriptionRequest =
        subscription != NULL &&
        mamaMsg_getI32(msg, MamaFieldSubscMsgType.mName, MamaFieldSubscMsgType.mFid, &msgType) ==
            MAMA_STATUS_OK &&
        isSubscriptionRequest(msgType);
    mama_i32_t subscriptionType = 0;
    mama_status typeStatus = MAMA_STATUS_OK;
    if (subscriptionRequest)
    {
        typeStatus = mamaMsg_getI32(msg, MamaFieldSubscriptionType.mName,
                                    MamaFieldSubscriptionType.mFid, &subscriptionType);
    }
    /* A request the cache has no topic for: without the cache it is a
     * request like any other, for the publisher to answer; with it, it is
     * refused as such. */
    bool noCacheTopic = subscriptionRequest && typeStatus == MAMA_STATUS_OK &&
                        !hasCacheTopic(publisher, subscriptionType);
    bool useCache = subscription != NULL && subscription->mTransportBridge->mUseCache;
    mama_status refusal = MAMA_STATUS_OK;
    if (noCacheTopic && useCache)
    {
        /* The type, or else the subject (not under "_MD"). */
        refusal = mayUseCache(subscriptionType) ? MAMA_STATUS_INVALID_ARG
                                                : MAMA_STATUS_SUBSCRIPTION_INVALID_TYPE;
    }
    const CorvexCurrentSubscription current = corvexSubscription_takeCurrent(refusal);
    if (corvexInbox == NULL || corvexInbox->mSubscription == NULL)
    {
        return MAMA_STATUS_INVALID_ARG;
    }
    const char* replyTo = corvexInbox_getReplyToTopic(corvexInbox);
    if (!subscriptionRequest || (noCacheTopic && !useCache))
    {
        return corvexPublisher_sendInternal(publisher, transportIndex, replyTo, msg, 0,
                                            "corvexBridgeMamaPublisher_sendFromInboxByIndex");
    }
    if (typeStatus != MAMA_STATUS_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Error getting subscription type: %s",
                   mamaStatus_stringForStatus(typeStatus));
        return typeStatus;
    }
    if (refusal != MAMA_STATUS_OK)
    {
        /* Says why, in the builder's words. */
        char unused[CORVEX_TOPIC_BUFFER_SIZE];
        corvexPublisher_buildCacheTopic(publisher, subscriptionType, unused);
        if (!current.mFound)
        {
            corvexSubscription_queueError(subscription->mMamaSubscription, subscription, refusal,
                                          0);
        }
        return refusal;
    }

    CorvexSynchronismManager* manager = &subscription->mSyncManager;
    CorvexCorrelationTag* tag = corvexSynchronismManager_createCorrelationTag(
        manager, corvexPublisher_postSendFromInboxByIndex);
    if (tag == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to create correlation tag");
        return MAMA_STATUS_NOMEM;
    }
    CorvexInboxRequest* request =
        static_cast<CorvexInboxRequest*>(corvexSynchronismManager_getTagPayload(tag));
    memset(request, 0, sizeof(*request));
    corvexSynchronismManager_setTagForget(tag, forgetRequest);
    request->mSubscriptionType = subscriptionType;
    request->mMsgType = msgType;
    request->mSubscription = subscription;
    if (corvexPublisher_buildCacheTopic(publisher, subscriptionType, request->mCacheTopic) !=
        MAMA_STATUS_OK)
    {
        corvexSynchronismManager_destroyCorrelationTag(manager, tag);
        return MAMA_STATUS_PLATFORM;
    }
    mama_status status = mamaMsg_copy(msg, &request->mRequestMsg);
    if (status != MAMA_STATUS_OK)
    {
        corvexSynchronismManager_destroyCorrelationTag(manager, tag);
        return status;
    }
    copyBounded(request->mPublisherSubject, sizeof(request->mPublisherSubject),
                publisher->mSubject);
    copyBounded(request->mInboxReplyToTopic, sizeof(request->mInboxReplyToTopic), replyTo);
    request->mCacheRequestId = corvexPublisher_getCacheRequestId(publisher, &current);

    uint32_t flags = corvexQueue_isSubscribeAsync(subscription->mQueueBridge)
                         ? CORVEXCLIENT_SUBSCRIBE_FLAGS_REQUEST_CONFIRM
                         : CORVEXCLIENT_SUBSCRIBE_FLAGS_WAIT_FOR_CONFIRM;
    int32_t rc = corvexClient_session_topicSubscribeWithDispatch(
        subscription->mTransportBridge->mSession, flags, request->mCacheTopic, &IGNORE_ALL, tag);
    if (rc == CORVEXCLIENT_FAIL)
    {
        CORVEX_LOG(
            CORVEX_LOG_ERROR,
            "corvexClient_session_topicSubscribeWithDispatch() failed for topic '%s' - rc=%s",
            request->mCacheTopic, corvexClient_returnCodeToString(rc));
    }
    return corvexSynchronismManager_completeCall(manager, tag, rc);
}

CORVEX_EXPORT mama_status corvexBridgeMamaPublisher_sendFromInbox(CorvexPublisherBridge* publisher,
                                                                  mamaInbox inbox, mamaMsg msg)
{
    return corvexBridgeMamaPublisher_sendFromInboxByIndex(publisher, 0, inbox, msg);
}

CORVEX_EXPORT mama_status corvexBridgeMamaPublisher_sendReplyToInbox(
    CorvexPublisherBridge* publisher, mamaMsg request, mamaMsg reply)
{
    if (publisher == NULL || request == NULL || reply == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    CorvexBridgeMsg* bridgeMsg = NULL;
    mama_status status = mamaMsgImpl_getBridgeMsg(request, (msgBridge*)&bridgeMsg);
    if (status != MAMA_STATUS_OK || bridgeMsg == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to get bridge message.");
        return status != MAMA_STATUS_OK ? status : MAMA_STATUS_INVALID_ARG;
    }
    corvexClient_destination_t replyTo;
    memset(&replyTo, 0, sizeof(replyTo));
    int32_t rc = CORVEXCLIENT_FAIL;
    if (bridgeMsg->mCorvexMsg != NULL)
    {
        rc = corvexClient_msg_getReplyTo(bridgeMsg->mCorvexMsg, &replyTo, sizeof(replyTo));
    }
    const char* topic = rc == CORVEXCLIENT_OK ? replyTo.mTopic : NULL;
    if (topic != NULL && topic[0] != '\0')
    {
        CORVEX_LOG(CORVEX_LOG_FINER, "Sent reply to inbox. replyTopic=%s", topic);
        return corvexPublisher_sendInternal(publisher, 0, topic, reply, 1,
                                            "corvexBridgeMamaPublisher_sendReplyToInbox");
    }
    CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_ERROR, rc, "Error getting replyTopic from message");
    CORVEX_LOG(CORVEX_LOG_ERROR, "Error getting replyTopic; replyTopic: '%s'; len: %d",
               topic != NULL ? topic : "", topic != NULL ? (int)strlen(topic) : -1);
    return MAMA_STATUS_INVALID_ARG;
}

CORVEX_EXPORT mama_status corvexBridgeMamaPublisher_sendReplyToInboxHandle(
    CorvexPublisherBridge* publisher, void* handle, mamaMsg reply)
{
    if (publisher == NULL || handle == NULL || reply == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    const char* topic = static_cast<const char*>(handle);
    if (topic[0] == '\0')
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Invalid inbox: %s", topic);
        return MAMA_STATUS_INVALID_ARG;
    }
    CORVEX_LOG(CORVEX_LOG_FINER, "replyTopic=%s", topic);
    return corvexPublisher_sendInternal(publisher, 0, topic, reply, 1,
                                        "corvexBridgeMamaPublisher_sendReplyToInboxHandle");
}
