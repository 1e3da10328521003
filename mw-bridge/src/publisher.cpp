#define CORVEX_LOG_MODULE "publisher"

#include "publisher.h"

#include <stdlib.h>
#include <string.h>

#include <mama/mama.h>
#include <mama/reservedfields.h>
#include <mama/integration/transport.h>

#include "logging.h"
#include "topic.h"
#include "transport.h"

namespace
{
const char* const DICTIONARY_ROOT = "_MDDD";

/* MAMA's subscription-request type of an initial-value request. */
const mama_i32_t SUBSCRIPTION_REQUEST_INITIAL = 0;

void freeNames(CorvexPublisherBridge* publisher)
{
    free(publisher->mTopic);
    free(publisher->mSource);
    free(publisher->mRoot);
    free(publisher->mSubject);
}

bool copyName(const char* name, char** copy)
{
    if (name == NULL)
    {
        return true;
    }
    *copy = strdup(name);
    return *copy != NULL;
}

/* With the cache answering initial values, a market-data publisher need not
 * forward the initial-value requests that reach it. */
bool isSuppressedRequest(const CorvexTransportBridge* transport,
                         const CorvexPublisherBridge* publisher, mamaMsg msg)
{
    if (!transport->mUseCache || transport->mSendSubReq ||
        publisher->mRootType != CORVEX_ROOT_OTHER)
    {
        return false;
    }
    mama_i32_t type = -1;
    return mamaMsg_getI32(msg, MamaFieldSubscMsgType.mName, MamaFieldSubscMsgType.mFid, &type) ==
               MAMA_STATUS_OK &&
           type == SUBSCRIPTION_REQUEST_INITIAL;
}

bool vendorStep(int32_t rc, const char* text, mama_status* result)
{
    if (rc == CORVEXCLIENT_OK)
    {
        return true;
    }
    CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_ERROR, rc, text);
    *result = MAMA_STATUS_PLATFORM;
    return false;
}

/* Builds the temporary message's envelope; the first failure ends it. */
void fillEnvelope(corvexClient_msg_t message, const CorvexTransportBridge* transport,
                  const char* subject, const char* replyAddress, uint8_t isReply,
                  const void* buffer, uint32_t length, mama_status* result)
{
    if (replyAddress != NULL && !isReply)
    {
        corvexClient_destination_t replyTo;
        memset(&replyTo, 0, sizeof(replyTo));
        replyTo.mDestType = CORVEXCLIENT_DEST_TOPIC;
        replyTo.mTopic = replyAddress;
        if (!vendorStep(corvexClient_msg_setReplyTo(message, &replyTo, sizeof(replyTo)),
                        "Error setting replyTo", result))
        {
            return;
        }
    }
    else if (!vendorStep(corvexClient_msg_deleteReplyTo(message), "Error deleting replyTo", result))
    {
        return;
    }
    if (!vendorStep(corvexClient_msg_setDeliveryMode(message, CORVEXCLIENT_DELIVERY_MODE_DIRECT),
                    "Error setting delivery mode", result) ||
        !vendorStep(corvexClient_msg_setTopicPtr(message, isReply ? replyAddress : subject),
                    "Error setting message topic", result) ||
        !vendorStep(corvexClient_msg_setBinaryAttachmentPtr(message, buffer, length),
                    "Error setting message content", result))
    {
        return;
    }
    if (transport->mPubInfoMap != NULL)
    {
        int32_t rc = corvexClient_msg_setUserPropertyMap(message, transport->mPubInfoMap);
        if (rc != CORVEXCLIENT_OK)
        {
            /* The message is still worth sending without its publisher info. */
            CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_ERROR, rc,
                                    "Error in corvexClient_msg_setUserPropertyMap");
        }
    }
}
} // namespace

mama_status corvexPublisher_buildSubject(CorvexPublisherBridge* publisher)
{
    mama_status lookup = MAMA_STATUS_OK;
    CorvexTransportBridge* transport =
        corvexTransportBridge_fromTransport(publisher->mTransport, &lookup);

    const char* root = NULL;
    const char* topic = publisher->mTopic;
    publisher->mRootType = CORVEX_ROOT_NONE;
    if (publisher->mRoot != NULL)
    {
        root = publisher->mRoot;
        if (strncmp(publisher->mRoot, DICTIONARY_ROOT, strlen(DICTIONARY_ROOT)) == 0)
        {
            publisher->mRootType = CORVEX_ROOT_DICTIONARY;
        }
        else
        {
            publisher->mRootType = CORVEX_ROOT_OTHER;
            topic = NULL;
        }
    }
    mama_status status =
        corvexTopic_build(root, publisher->mSource, topic, &publisher->mSubject, 0, transport);
    if (status != MAMA_STATUS_OK)
    {
        /* The builder refuses a wildcard (its only use of an invalid
         * argument), a name without transport, or has no memory. */
        const char* reason = status == MAMA_STATUS_INVALID_ARG
                                 ? "a subject to publish on holds no wildcard: '*' anywhere or a "
                                   "last '>'"
                             : status == MAMA_STATUS_NULL_ARG ? "the publisher has no transport"
                                                              : "no memory for the subject";
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "Error in generating subject from mRoot=%s mSource=%s mTopic=%s: %s (%s)",
                   corvexLog_orNull(publisher->mRoot), corvexLog_orNull(publisher->mSource),
                   corvexLog_orNull(publisher->mTopic), mamaStatus_stringForStatus(status), reason);
        publisher->mSubject = NULL;
    }
    return status;
}

CORVEX_EXPORT mama_status corvexBridgeMamaPublisher_createByIndex(
    CorvexPublisherBridge** result, mamaTransport transport, int transportIndex, const char* topic,
    const char* source, const char* root, mamaPublisher parent)
{
    if (result == NULL || transport == NULL || parent == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    CORVEX_LOG(CORVEX_LOG_FINEST, "Args: tportIndex=%d root=%s source=%s topic=%s", transportIndex,
               corvexLog_orNull(root), corvexLog_orNull(source), corvexLog_orNull(topic));
    *result = NULL;
    CorvexPublisherBridge* publisher =
        (CorvexPublisherBridge*)calloc(1, sizeof(CorvexPublisherBridge));
    if (publisher == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Error allocating corvex publisher bridge.");
        return MAMA_STATUS_NOMEM;
    }
    publisher->mParent = parent;
    publisher->mTransport = transport;
    if (!copyName(topic, &publisher->mTopic) || !copyName(source, &publisher->mSource) ||
        !copyName(root, &publisher->mRoot))
    {
        freeNames(publisher);
        free(publisher);
        return MAMA_STATUS_NOMEM;
    }
    mama_status status = corvexPublisher_buildSubject(publisher);
    if (status != MAMA_STATUS_OK)
    {
        freeNames(publisher);
        free(publisher);
        return status;
    }
    *result = publisher;
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT mama_status corvexBridgeMamaPublisher_create(CorvexPublisherBridge** result,
                                                           mamaTransport transport,
                                                           const char* topic, const char* source,
                                                           const char* root, mamaPublisher parent)
{
    return corvexBridgeMamaPublisher_createByIndex(result, transport, 0, topic, source, root,
                                                   parent);
}

CORVEX_EXPORT mama_status corvexBridgeMamaPublisher_destroy(CorvexPublisherBridge* publisher)
{
    if (publisher == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    /* The host frees its publisher inside this callback: call it while our
     * object is whole, and never touch the parent afterwards. */
    if (publisher->mOnDestroy != NULL)
    {
        publisher->mOnDestroy(publisher->mParent, publisher->mClosure);
    }
    freeNames(publisher);
    free(publisher);
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT mama_status
corvexBridgeMamaPublisher_setUserCallbacks(CorvexPublisherBridge* publisher, mamaQueue queue,
                                           mamaPublisherCallbacks* callbacks, void* closure)
{
    if (publisher == NULL || callbacks == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    /* The host frees the callbacks record when this call returns. */
    publisher->mOnDestroy = callbacks->onDestroy;
    if (queue != NULL)
    {
        publisher->mQueue = queue;
        publisher->mClosure = closure;
        return MAMA_STATUS_OK;
    }
    mamaBridge impl = mamaTransportImpl_getBridgeImpl(publisher->mTransport);
    if (impl == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Could not assign queue for publisher %p callbacks.",
                   (void*)publisher);
        return MAMA_STATUS_NO_BRIDGE_IMPL;
    }
    mamaQueue defaultQueue = NULL;
    mama_getDefaultEventQueue(impl, &defaultQueue);
    publisher->mQueue = defaultQueue;
    publisher->mClosure = closure;
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT mama_status corvexBridgeMamaPublisher_send(CorvexPublisherBridge* publisher,
                                                         mamaMsg msg)
{
    return corvexPublisher_sendInternal(publisher, 0, NULL, msg, 0,
                                        "corvexBridgeMamaPublisher_send");
}

mama_status corvexPublisher_sendInternal(CorvexPublisherBridge* publisher, int,
                                         const char* replyAddress, mamaMsg msg, uint8_t isReply,
                                         const char* callerName)
{
    if (publisher == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "No publisher.");
        return MAMA_STATUS_NULL_ARG;
    }
    if (msg == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    mama_status status = MAMA_STATUS_OK;
    CorvexTransportBridge* transport =
        corvexTransportBridge_fromTransport(publisher->mTransport, &status);
    if (status != MAMA_STATUS_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "Error acquiring transport bridge from publisher, status=%s, publisher=%p",
                   mamaStatus_stringForStatus(status), (void*)publisher);
        return status;
    }
    if (transport == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Null transport bridge in publisher");
        return MAMA_STATUS_INVALID_ARG;
    }
    if (isSuppressedRequest(transport, publisher, msg))
    {
        return MAMA_STATUS_OK;
    }
    return corvexPublisher_sendOnTransport(transport, publisher->mSubject, replyAddress, msg,
                                           isReply, callerName);
}

mama_status corvexPublisher_sendOnTransport(CorvexTransportBridge* transport, const char* subject,
                                            const char* replyAddress, mamaMsg msg, uint8_t isReply,
                                            const char* callerName)
{
    if (transport == NULL || msg == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    const void* buffer = NULL;
    mama_size_t length = 0;
    mama_status status = mamaMsg_getByteBuffer(msg, &buffer, &length);
    if (status != MAMA_STATUS_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "%s(): Error in getting payload byte buffer. [%d] %s",
                   callerName ? callerName : "", (int)status, mamaStatus_stringForStatus(status));
        return MAMA_STATUS_PLATFORM;
    }
    if (length > UINT32_MAX)
    {
        /* The vendor carries 32-bit lengths: refuse rather than send a cut message. */
        CORVEX_LOG(CORVEX_LOG_ERROR, "%s(): Error in getting payload byte buffer. [%d] %s",
                   callerName ? callerName : "", (int)MAMA_STATUS_INVALID_ARG,
                   mamaStatus_stringForStatus(MAMA_STATUS_INVALID_ARG));
        return MAMA_STATUS_PLATFORM;
    }

    corvexClient_msg_t message = NULL;
    int32_t rc = corvexClient_msg_alloc(&message);
    if (rc != CORVEXCLIENT_OK)
    {
        CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_ERROR, rc,
                                "Unable to allocate temporary message for inbox");
        return MAMA_STATUS_NOMEM;
    }
    mama_status result = MAMA_STATUS_OK;
    fillEnvelope(message, transport, subject, replyAddress, isReply, buffer, (uint32_t)length,
                 &result);
    if (result == MAMA_STATUS_OK)
    {
        rc = corvexClient_session_sendMsg(transport->mSession, message);
        if (rc != CORVEXCLIENT_OK)
        {
            CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_WARN, rc, "Error sending message");
            result = MAMA_STATUS_PLATFORM;
        }
    }
    rc = corvexClient_msg_free(&message);
    if (rc != CORVEXCLIENT_OK)
    {
        CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_ERROR, rc, "Unable to free temporary message");
    }
    return result;
}
