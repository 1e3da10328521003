/* MAMA publishers and the one path by which the bridge sends messages. */
#ifndef CORVEX_BRIDGE_PUBLISHER_H
#define CORVEX_BRIDGE_PUBLISHER_H

#include <stdint.h>

#include <mama/mama.h>
#include <mama/publisher.h>

struct CorvexTransportBridge;

/* Classification of a publisher's root, fixed at creation. */
enum
{
    CORVEX_ROOT_NONE = 0,
    CORVEX_ROOT_DICTIONARY = 1, /* the root begins with "_MDDD" */
    CORVEX_ROOT_OTHER = 2       /* addressed by root and source alone */
};

struct CorvexPublisherBridge
{
    mamaTransport mTransport;
    char* mTopic;
    char* mSource;
    char* mRoot;
    char* mSubject;
    uint64_t mCacheRequestId;
    mamaPublisher mParent;
    mama_publisherOnDestroyCb mOnDestroy;
    mamaQueue mQueue;
    void* mClosure;
    uint32_t mRootType;
};

/* Computes mRootType and mSubject from the naming triple. */
mama_status corvexPublisher_buildSubject(CorvexPublisherBridge* publisher);

/* Publisher-level send: finds the transport, applies the subscription-request
 * suppression rule, then sends on the transport. */
mama_status corvexPublisher_sendInternal(CorvexPublisherBridge* publisher, int transportIndex,
                                         const char* replyAddress, mamaMsg msg, uint8_t isReply,
                                         const char* callerName);

/* The core send: the payload bytes of msg become the content of a temporary
 * vendor message addressed to subject (or, for a reply, to replyAddress). */
mama_status corvexPublisher_sendOnTransport(struct CorvexTransportBridge* transport,
                                            const char* subject, const char* replyAddress,
                                            mamaMsg msg, uint8_t isReply, const char* callerName);

/* Requests from inboxes. The cache-request topic of a request of the given
 * subscription type, into a buffer of CORVEX_TOPIC_BUFFER_SIZE bytes: the
 * data topic (source and symbol), or the dictionary subject in its "#MDDD"
 * form; MAMA_STATUS_PLATFORM for other types or subjects. */
mama_status corvexPublisher_buildCacheTopic(CorvexPublisherBridge* publisher,
                                            int32_t subscriptionType, char* topic);

/* The id that marks the cache answers to this publisher's requests: learnt
 * once from the subscription the calling thread created (`current`); 0
 * until then. */
struct CorvexCurrentSubscription;
uint64_t corvexPublisher_getCacheRequestId(CorvexPublisherBridge* publisher,
                                           const struct CorvexCurrentSubscription* current);

/* Completion of a subscription request once its check subscription has an
 * outcome: on the calling thread, or on the vendor context thread when the
 * router answers later (fromSessionEvent). */
struct CorvexCorrelationContext;
mama_status corvexPublisher_postSendFromInboxByIndex(int fromSessionEvent,
                                                     struct CorvexCorrelationContext* context);

#endif /* CORVEX_BRIDGE_PUBLISHER_H */
