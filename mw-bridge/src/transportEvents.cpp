/* What happens to a transport's session, reported to the application: the
 * vendor's session events become MAMA transport events and topic events,
 * delivered on the transport's callback queue so that the application's
 * callbacks run on a dispatch thread, never on the vendor thread. */
#define CORVEX_LOG_MODULE "transport"

#include <stdlib.h>
#include <string.h>

#include <mama/mama.h>
#include <mama/transport.h>
#include <mama/integration/transport.h>

#include "flowControl.h"
#include "logging.h"
#include "synchronism.h"
#include "topic.h"
#include "transport.h"
#include "transportLifetime.h"

namespace
{
/* One MAMA transport event on the transport's callback queue. */
struct CorvexTransportEventNode
{
    mamaTransportEvent mEvent;
    struct CorvexTransportBridge* mTransport;
    int16_t mCause;
    const void* mPlatformInfo;
};

/* One rejected published message, as a MAMA transport topic event. */
struct CorvexTopicEventNode
{
    mamaTransportTopicEvent mTopicEvent;
    char* mTopic;
    char* mErrorString;
    struct CorvexTransportBridge* mTransport;
};

const char* const REJECTED_TOPIC_MARKER = "Topic '";

/* A copy of the vendor's reason for the event being handled (the record
 * itself lasts only until the next vendor call); the event's own response
 * code and text when the vendor left no record. */
corvexClient_errorInfo_t readReason(const corvexClient_session_eventInfo_t* event)
{
    corvexClient_errorInfo_t reason;
    const corvexClient_errorInfo_t* error = corvexClient_getLastErrorInfo();
    if (error != NULL)
    {
        reason = *error;
    }
    else
    {
        memset(&reason, 0, sizeof(reason));
        reason.mResponseCode = event->mResponseCode;
        corvexLog_formatBuffer(reason.mErrorText, sizeof(reason.mErrorText), "%s",
                               event->mInfo != NULL ? event->mInfo : "");
    }
    reason.mErrorText[sizeof(reason.mErrorText) - 1] = '\0';
    return reason;
}

mamaTransportTopicEvent topicEventFor(corvexClient_subCode_t subCode)
{
    switch (subCode)
    {
    case CORVEXCLIENT_SUBCODE_TOPIC_TOO_LONG:
    case CORVEXCLIENT_SUBCODE_BAD_TOPIC:
    case CORVEXCLIENT_SUBCODE_PUBLISH_TOPIC_INVALID:
        return MAMA_TRANSPORT_TOPIC_PUBLISH_ERROR_BAD_SYMBOL;
    case CORVEXCLIENT_SUBCODE_PUBLISH_NOT_PERMITTED:
        return MAMA_TRANSPORT_TOPIC_PUBLISH_ERROR_NOT_ENTITLED;
    default:
        return MAMA_TRANSPORT_TOPIC_PUBLISH_ERROR;
    }
}

/* The rejected topic named in the vendor's text, as a MAMA subject in a new
 * heap string (empty when the text names none); NULL when out of memory. */
char* rejectedSubject(const char* text)
{
    const char* start = strstr(text, REJECTED_TOPIC_MARKER);
    size_t length = 0;
    if (start != NULL)
    {
        start += strlen(REJECTED_TOPIC_MARKER);
        const char* end = strrchr(start, '\'');
        length = end != NULL ? (size_t)(end - start) : strlen(start);
    }
    char* topic = (char*)malloc(length + 1);
    if (topic == NULL)
    {
        return NULL;
    }
    if (length > 0)
    {
        memcpy(topic, start, length);
    }
    topic[length] = '\0';
    char* subject = (char*)malloc(length + 1);
    if (subject != NULL)
    {
        corvexTopic_decode(topic, subject, length + 1);
    }
    free(topic);
    return subject;
}

void freeTopicEventNode(CorvexTopicEventNode* node)
{
    free(node->mErrorString);
    free(node->mTopic);
    free(node);
}

/* Builds and queues the topic event; false (after its log line) when the
 * event is lost. */
bool queueTopicEvent(CorvexTransportBridge* transport, const corvexClient_errorInfo_t* error)
{
    CorvexTopicEventNode* node = (CorvexTopicEventNode*)calloc(1, sizeof(CorvexTopicEventNode));
    if (node == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to allocate memory for message node");
        return false;
    }
    node->mTransport = transport;
    node->mTopicEvent = topicEventFor(error->mSubCode);
    node->mErrorString = strdup(error->mErrorText);
    if (node->mErrorString == NULL)
    {
        free(node);
        CORVEX_LOG(CORVEX_LOG_ERROR, "could not duplicate error string, no memory.");
        return false;
    }
    node->mTopic = rejectedSubject(node->mErrorString);
    if (node->mTopic == NULL)
    {
        freeTopicEventNode(node);
        CORVEX_LOG(CORVEX_LOG_ERROR, "could not duplicate subject string, no memory.");
        return false;
    }
    mamaQueue queue = NULL;
    mama_status status = corvexTransportBridge_getCallbackQueue(transport, &queue);
    if (status != MAMA_STATUS_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "Could not get transport callback queue for transport event %s",
                   mamaTransportTopicEvent_toString(node->mTopicEvent));
        freeTopicEventNode(node);
        return false;
    }
    /* The node's hold keeps the transport object valid until it has run. */
    if (!corvexTransportLifetime_holdForEvent(transport))
    {
        CORVEX_LOG(CORVEX_LOG_FINE,
                   "Can not delivery OpenMAMA Transport event[%s] on destroyed transport",
                   mamaTransportTopicEvent_toString(node->mTopicEvent));
        freeTopicEventNode(node);
        return false;
    }
    status = mamaQueue_enqueueEvent(queue, corvexTransportBridge_dispatchTopicEvent, node);
    if (status != MAMA_STATUS_OK)
    {
        freeTopicEventNode(node);
        corvexTransportLifetime_dropEventHold(transport);
        CORVEX_LOG(CORVEX_LOG_ERROR, "Could not enqueue local message for delivery status %s",
                   mamaStatus_stringForStatus(status));
        return false;
    }
    return true;
}

void logTransportEventStep(const char* step, const CorvexTransportEventNode* node, mamaQueue queue)
{
    CORVEX_LOG(CORVEX_LOG_FINEST,
               "%s Mama Transport event %s with node[%p], for transport[%s=%p], "
               "corvexTransport[%p], on queue %p",
               step, mamaTransportEvent_toString(node->mEvent), (const void*)node,
               node->mTransport->mName, (void*)node->mTransport->mMamaTransport,
               (void*)node->mTransport, (void*)queue);
}
} // namespace

void corvexTransportBridge_onSubscriptionEvent(const corvexClient_session_eventInfo_t* event)
{
    if (event == NULL)
    {
        return;
    }
    if (event->mCorrelation == NULL)
    {
        CORVEX_LOG(
            CORVEX_LOG_WARN,
            "Cannot correlate subscription event '%s' (%d) (rc %d) to the original request. Event "
            "description: %s",
            corvexClient_session_eventToString(event->mEvent), (int)event->mEvent,
            (int)event->mResponseCode, event->mInfo != NULL ? event->mInfo : "");
        return;
    }
    int32_t code = event->mEvent == CORVEXCLIENT_SESSION_EVENT_SUBSCRIBE_REFUSED ? -1 : 0;
    corvexSynchronismManager_completeFromEvent(
        static_cast<CorvexCorrelationTag*>(event->mCorrelation), code);
}

void corvexTransportBridge_onSessionEvent(corvexClient_session_t,
                                          const corvexClient_session_eventInfo_t* event,
                                          void* closure)
{
    CorvexTransportBridge* transport = static_cast<CorvexTransportBridge*>(closure);
    if (event == NULL || transport == NULL)
    {
        return;
    }
    const corvexClient_errorInfo_t reason = readReason(event);
    switch (event->mEvent)
    {
    case CORVEXCLIENT_SESSION_EVENT_UP:
    case CORVEXCLIENT_SESSION_EVENT_ACKNOWLEDGED:
    case CORVEXCLIENT_SESSION_EVENT_UNSUBSCRIBE_CONFIRMED:
    case CORVEXCLIENT_SESSION_EVENT_CAN_SEND:
        break;
    case CORVEXCLIENT_SESSION_EVENT_DOWN:
    case CORVEXCLIENT_SESSION_EVENT_RECONNECTING:
        corvexTransportBridge_queueTransportEvent(transport, MAMA_TRANSPORT_DISCONNECT, 0, NULL);
        break;
    case CORVEXCLIENT_SESSION_EVENT_CONNECT_FAILED:
        corvexTransportBridge_queueTransportEvent(transport, MAMA_TRANSPORT_CONNECT_FAILED, 0,
                                                  NULL);
        break;
    case CORVEXCLIENT_SESSION_EVENT_MSG_REJECTED:
        corvexTransportBridge_queueRejectedMsgEvent(transport, event, &reason);
        break;
    case CORVEXCLIENT_SESSION_EVENT_SUBSCRIBE_REFUSED:
    case CORVEXCLIENT_SESSION_EVENT_SUBSCRIBE_CONFIRMED:
        corvexTransportBridge_onSubscriptionEvent(event);
        break;
    case CORVEXCLIENT_SESSION_EVENT_RX_MSG_TOO_LARGE:
    case CORVEXCLIENT_SESSION_EVENT_UNSUBSCRIBE_REFUSED:
    case CORVEXCLIENT_SESSION_EVENT_ROUTER_WARNING:
        CORVEX_LOG(CORVEX_LOG_WARN, "event=%s subCode=%s responseCode=%d reason=%s",
                   corvexClient_session_eventToString(event->mEvent),
                   corvexClient_subCodeToString(reason.mSubCode), (int)reason.mResponseCode,
                   reason.mErrorText);
        break;
    case CORVEXCLIENT_SESSION_EVENT_RECONNECTED:
        corvexFlowControl_resuspendAfterReconnect(&transport->mFlowControl);
        corvexTransportBridge_queueTransportEvent(transport, MAMA_TRANSPORT_RECONNECT, 0, NULL);
        break;
    case CORVEXCLIENT_SESSION_EVENT_ROUTER_NOTICE:
        CORVEX_LOG(CORVEX_LOG_FINE, "event=%s subCode=%s, responseCode=%d, reason=%s",
                   corvexClient_session_eventToString(event->mEvent),
                   corvexClient_subCodeToString(reason.mSubCode), (int)reason.mResponseCode,
                   reason.mErrorText);
        break;
    case CORVEXCLIENT_SESSION_EVENT_PROPERTY_CHANGED:
        CORVEX_LOG(CORVEX_LOG_FINE, "event=%s subCode=%s, responseCode=%d, reason=%s",
                   corvexClient_session_eventToString(event->mEvent),
                   corvexClient_subCodeToString(reason.mSubCode), (int)reason.mResponseCode,
                   reason.mErrorText);
        break;
    default:
        CORVEX_LOG(CORVEX_LOG_ERROR, "Error handling event. event=%s.  Unexpected event.",
                   corvexClient_session_eventToString(event->mEvent));
        break;
    }
}

mama_status corvexTransportBridge_getCallbackQueue(CorvexTransportBridge* transport,
                                                   mamaQueue* queue)
{
    if (transport == NULL || queue == NULL || transport->mMamaTransport == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    mamaQueue found = NULL;
    mama_status status = mamaTransport_getTransportCallbackQueue(transport->mMamaTransport, &found);
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }
    if (found == NULL)
    {
        mamaBridge impl = mamaTransportImpl_getBridgeImpl(transport->mMamaTransport);
        if (impl == NULL)
        {
            CORVEX_LOG(CORVEX_LOG_ERROR,
                       "Error getting transport Bridge implementation for transport event.");
            return MAMA_STATUS_NO_BRIDGE_IMPL;
        }
        status = mama_getDefaultEventQueue(impl, &found);
        if (status != MAMA_STATUS_OK)
        {
            return status;
        }
    }
    *queue = found;
    return MAMA_STATUS_OK;
}

void corvexTransportBridge_queueTransportEvent(CorvexTransportBridge* transport,
                                               mamaTransportEvent event, int16_t cause,
                                               const void* platformInfo)
{
    if (transport == NULL)
    {
        return;
    }
    /* The node's hold keeps the transport object valid until it has run. */
    if (!corvexTransportLifetime_holdForEvent(transport))
    {
        CORVEX_LOG(CORVEX_LOG_FINE,
                   "Can not delivery OpenMAMA Transport event[%s] on destroyed transport",
                   mamaTransportEvent_toString(event));
        return;
    }
    CorvexTransportEventNode* node =
        (CorvexTransportEventNode*)calloc(1, sizeof(CorvexTransportEventNode));
    if (node == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to allocate memory for corvex transport event node");
        corvexTransportLifetime_dropEventHold(transport);
        return;
    }
    if (transport->mMamaTransport == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Corvex transport does not have a mamaTransport");
        free(node);
        corvexTransportLifetime_dropEventHold(transport);
        return;
    }
    node->mEvent = event;
    node->mTransport = transport;
    node->mCause = cause;
    node->mPlatformInfo = platformInfo;

    mamaQueue queue = NULL;
    mama_status status = corvexTransportBridge_getCallbackQueue(transport, &queue);
    if (status != MAMA_STATUS_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "Could not get transport callback queue for transport event %s",
                   mamaTransportEvent_toString(event));
        free(node);
        corvexTransportLifetime_dropEventHold(transport);
        return;
    }
    logTransportEventStep("Enqueuing", node, queue);
    status = mamaQueue_enqueueEvent(queue, corvexTransportBridge_dispatchTransportEvent, node);
    if (status != MAMA_STATUS_OK)
    {
        free(node);
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "Could not enqueue transport event[%s] for delivery on queue[%p], status %s",
                   mamaTransportEvent_toString(event), (void*)queue,
                   mamaStatus_stringForStatus(status));
        corvexTransportLifetime_dropEventHold(transport);
    }
}

void MAMACALLTYPE corvexTransportBridge_dispatchTransportEvent(mamaQueue queue, void* closure)
{
    CorvexTransportEventNode* node = static_cast<CorvexTransportEventNode*>(closure);
    if (node == NULL)
    {
        return;
    }
    CorvexTransportBridge* transport = node->mTransport;
    /* A transport destroyed while the node waited gets nothing: its host
     * transport may already be freed. */
    if (corvexTransportLifetime_beginDelivery(transport))
    {
        logTransportEventStep("Processing", node, queue);
        switch (node->mEvent)
        {
        case MAMA_TRANSPORT_CONNECT:
        case MAMA_TRANSPORT_CONNECT_FAILED:
        case MAMA_TRANSPORT_RECONNECT:
        case MAMA_TRANSPORT_DISCONNECT:
        case MAMA_TRANSPORT_QUALITY:
            mamaTransportImpl_invokeTransportCallback(transport->mMamaTransport, node->mEvent,
                                                      node->mCause, node->mPlatformInfo);
            break;
        default:
            CORVEX_LOG(CORVEX_LOG_FINEST,
                       "Received unsupported OpenMAMA Transport Event %s with node[%p]",
                       mamaTransportEvent_toString(node->mEvent), (void*)node);
            break;
        }
        logTransportEventStep("Processed", node, queue);
        corvexTransportLifetime_endDelivery(transport);
    }
    free(node);
    corvexTransportLifetime_dropEventHold(transport);
}

void corvexTransportBridge_queueRejectedMsgEvent(CorvexTransportBridge* transport,
                                                 const corvexClient_session_eventInfo_t* event,
                                                 const corvexClient_errorInfo_t* error)
{
    if (transport == NULL || event == NULL || error == NULL)
    {
        return;
    }
    /* The node may already be dispatched and freed: the line quotes the
     * caller's text, which the node's copy equals. */
    bool queued = queueTopicEvent(transport, error);
    CORVEX_LOG(queued ? CORVEX_LOG_FINEST : CORVEX_LOG_ERROR,
               "Message rejected: event=%s subCode=%s responseCode=%d reason=%s",
               corvexClient_session_eventToString(event->mEvent),
               corvexClient_subCodeToString(error->mSubCode), (int)error->mResponseCode,
               error->mErrorText);
}

void MAMACALLTYPE corvexTransportBridge_dispatchTopicEvent(mamaQueue, void* closure)
{
    CorvexTopicEventNode* node = static_cast<CorvexTopicEventNode*>(closure);
    if (node == NULL)
    {
        return;
    }
    CorvexTransportBridge* transport = node->mTransport;
    if (corvexTransportLifetime_beginDelivery(transport))
    {
        mamaTransportImpl_invokeTransportTopicCallback(transport->mMamaTransport, node->mTopicEvent,
                                                       node->mTopic, NULL);
        corvexTransportLifetime_endDelivery(transport);
    }
    freeTopicEventNode(node);
    corvexTransportLifetime_dropEventHold(transport);
}
