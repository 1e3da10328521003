/* MAMA inboxes on a corvex transport. */
#ifndef CORVEX_BRIDGE_INBOX_H
#define CORVEX_BRIDGE_INBOX_H

#include <stddef.h>

#include <mama/mama.h>
#include <mama/inbox.h>

/* One MAMA inbox. Allocated zero-filled by create; freed by the destroy
 * callback of its wildcard subscription, the object's last user. Written
 * before create returns, read-only afterwards. */
struct CorvexInbox
{
    /* The address replies to this inbox are sent to. */
    char* mCorvexReplyToTopic;
    mamaSubscription mSubscription;
    void* mClosure;
    mamaInboxMsgCallback mOnMsg;
    mamaInboxErrorCallback mOnError;
    mamaInboxDestroyCallback mOnInboxDestroyed;
    mamaInbox mParent;
};

/* Builds both topics of a new inbox from a fresh UUID: the subscription
 * topic into the caller's buffer, the reply-to topic into a new heap string.
 * Topics longer than their buffers are cut (with a warning). */
mama_status corvexInbox_buildTopics(mamaTransport transport, char** replyToTopic,
                                    char* subscriptionTopic, size_t size);

/* The reply-to topic, NULL for a NULL inbox. */
const char* corvexInbox_getReplyToTopic(const CorvexInbox* inbox);

#endif /* CORVEX_BRIDGE_INBOX_H */
