/* MAMA inboxes: a private address made unique by a UUID. The inbox listens
 * on "<subscription prefix><uuid>" through a wildcard subscription that only
 * the session's local dispatch serves, and requests sent from it carry
 * "<reply-to prefix><uuid>" as their reply address. */
#define CORVEX_LOG_MODULE "inbox"

#include "inbox.h"

#include <stdlib.h>
#include <string.h>

#include <mama/mama.h>
#include <mama/inbox.h>
#include <mama/subscription.h>

#include "logging.h"
#include "topic.h"
#include "transport.h"

namespace
{
/* Formats prefix + uuid into buffer; a topic that does not fit is cut to
 * size - 1 characters and reported with warning. */
void formatTopic(char* buffer, size_t size, const char* prefix, const char* uuid,
                 const char* warning)
{
    int written = corvexLog_formatBuffer(buffer, size, "%s%s", prefix, uuid);
    if (written < 0 || (size_t)written >= size)
    {
        CORVEX_LOG(CORVEX_LOG_WARN, "Truncated inbox %s topic from '%s%s' to '%s'", warning, prefix,
                   uuid, buffer);
    }
}

void MAMACALLTYPE corvexInbox_onCreate(mamaSubscription, void* closure)
{
    if (closure != NULL)
    {
        CORVEX_LOG(CORVEX_LOG_FINEST,
                   "Finished creating wildcard subscription for inbox, corvexInbox=%p", closure);
    }
}

void MAMACALLTYPE corvexInbox_onError(mamaSubscription, mama_status status, void*, const char*,
                                      void* closure)
{
    CorvexInbox* inbox = static_cast<CorvexInbox*>(closure);
    if (inbox != NULL && inbox->mOnError != NULL)
    {
        inbox->mOnError(status, inbox->mClosure);
    }
}

void MAMACALLTYPE corvexInbox_onMsg(mamaSubscription, mamaMsg message, const char*, void* closure,
                                    void*)
{
    CorvexInbox* inbox = static_cast<CorvexInbox*>(closure);
    if (inbox != NULL && inbox->mOnMsg != NULL)
    {
        inbox->mOnMsg(message, inbox->mClosure);
    }
}

/* The last user of the inbox: MAMA has finished destroying its
 * subscription. */
void MAMACALLTYPE corvexInbox_onDestroy(mamaSubscription, void* closure)
{
    CorvexInbox* inbox = static_cast<CorvexInbox*>(closure);
    if (inbox == NULL)
    {
        return;
    }
    if (inbox->mOnInboxDestroyed != NULL)
    {
        inbox->mOnInboxDestroyed(inbox->mParent, inbox->mClosure);
    }
    free(inbox->mCorvexReplyToTopic);
    free(inbox);
}

const mamaWildCardMsgCallbacks INBOX_CALLBACKS = {corvexInbox_onCreate, corvexInbox_onError,
                                                  corvexInbox_onMsg, corvexInbox_onDestroy};
} // namespace

mama_status corvexInbox_buildTopics(mamaTransport transport, char** replyToTopic,
                                    char* subscriptionTopic, size_t size)
{
    mama_status status = MAMA_STATUS_OK;
    CorvexTransportBridge* corvexTransport =
        corvexTransportBridge_fromTransport(transport, &status);
    if (status != MAMA_STATUS_OK || corvexTransport == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Error acquiring transport bridge status=%s, transport=%p",
                   mamaStatus_stringForStatus(status), (void*)transport);
        return MAMA_STATUS_INVALID_ARG;
    }
    char uuid[CORVEXCLIENT_UUID_STRING_SIZE];
    int32_t rc = corvexClient_generateUUIDString(uuid, sizeof(uuid));
    if (rc != CORVEXCLIENT_OK)
    {
        CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_ERROR, rc, "Error in corvexClient_generateUUIDString()");
        return MAMA_STATUS_PLATFORM;
    }
    formatTopic(subscriptionTopic, size, corvexTransport->mInboxCorvexSubPrefix, uuid,
                "subscription");
    char replyTo[CORVEX_TOPIC_BUFFER_SIZE];
    formatTopic(replyTo, sizeof(replyTo), corvexTransport->mInboxCorvexReplyToPrefix, uuid,
                "reply-to");
    *replyToTopic = strdup(replyTo);
    if (*replyToTopic == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to allocate memory for reply-to topic '%s'", replyTo);
        return MAMA_STATUS_NOMEM;
    }
    return MAMA_STATUS_OK;
}

const char* corvexInbox_getReplyToTopic(const CorvexInbox* inbox)
{
    return inbox != NULL ? inbox->mCorvexReplyToTopic : NULL;
}

CORVEX_EXPORT mama_status corvexBridgeMamaInbox_createByIndex(
    inboxBridge* result, mamaTransport transport, int, mamaQueue queue, mamaInboxMsgCallback msgCB,
    mamaInboxErrorCallback errorCB, mamaInboxDestroyCallback onInboxDestroyed, void* closure,
    mamaInbox parent)
{
    if (result == NULL || transport == NULL || queue == NULL || msgCB == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    CorvexInbox* inbox = (CorvexInbox*)calloc(1, sizeof(CorvexInbox));
    if (inbox == NULL)
    {
        return MAMA_STATUS_NOMEM;
    }
    mama_status status = mamaSubscription_allocate(&inbox->mSubscription);
    if (status != MAMA_STATUS_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Failed to allocate subscription: %s",
                   mamaStatus_stringForStatus(status));
        free(inbox);
        return status;
    }
    char subscriptionTopic[CORVEX_TOPIC_BUFFER_SIZE];
    status = corvexInbox_buildTopics(transport, &inbox->mCorvexReplyToTopic, subscriptionTopic,
                                     sizeof(subscriptionTopic));
    if (status != MAMA_STATUS_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Failed to set Inbox mama topic and corvex topic: %s",
                   mamaStatus_stringForStatus(status));
        mamaSubscription_deallocate(inbox->mSubscription);
        free(inbox);
        return status;
    }
    CORVEX_LOG(CORVEX_LOG_FINEST,
               "Using inbox topic: mamaInboxSubTopic='%s', mCorvexReplyToTopic='%s'",
               subscriptionTopic, inbox->mCorvexReplyToTopic);
    status = mamaSubscription_createBasicWildCard(inbox->mSubscription, transport, queue,
                                                  &INBOX_CALLBACKS, NULL, subscriptionTopic, inbox);
    if (status != MAMA_STATUS_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Failed to create inbox subscription: %s",
                   mamaStatus_stringForStatus(status));
        free(inbox->mCorvexReplyToTopic);
        mamaSubscription_deallocate(inbox->mSubscription);
        free(inbox);
        return status;
    }
    /* Until now the forwarding callbacks found nothing to call. */
    inbox->mClosure = closure;
    inbox->mOnMsg = msgCB;
    inbox->mOnError = errorCB;
    inbox->mOnInboxDestroyed = onInboxDestroyed;
    inbox->mParent = parent;
    *result = (inboxBridge)inbox;
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT mama_status corvexBridgeMamaInbox_create(inboxBridge* result, mamaTransport transport,
                                                       mamaQueue queue, mamaInboxMsgCallback msgCB,
                                                       mamaInboxErrorCallback errorCB,
                                                       mamaInboxDestroyCallback onInboxDestroyed,
                                                       void* closure, mamaInbox parent)
{
    return corvexBridgeMamaInbox_createByIndex(result, transport, 0, queue, msgCB, errorCB,
                                               onInboxDestroyed, closure, parent);
}

CORVEX_EXPORT mama_status corvexBridgeMamaInbox_destroy(inboxBridge bridge)
{
    CorvexInbox* inbox = (CorvexInbox*)bridge;
    if (inbox == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (inbox->mSubscription == NULL)
    {
        return MAMA_STATUS_INVALID_ARG;
    }
    /* The inbox is freed by the subscription's destroy callback, possibly
     * before these calls return: it is not read again. */
    mamaSubscription subscription = inbox->mSubscription;
    mamaSubscription_destroy(subscription);
    mamaSubscription_deallocate(subscription);
    return MAMA_STATUS_OK;
}
