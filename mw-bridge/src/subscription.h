/* Bridge subscriptions: creation, errors and destruction. */
#ifndef CORVEX_BRIDGE_SUBSCRIPTION_H
#define CORVEX_BRIDGE_SUBSCRIPTION_H

#include <stddef.h>
#include <stdint.h>

#include <atomic>

#include <mama/mama.h>
#include <mama/subscription.h>
#include <wombat/destroyHandle.h>
#include <wombat/wlock.h>

#include "corvexClient.h"
#include "synchronism.h"

struct CorvexTransportBridge;

struct CorvexQueueBridge;
struct CorvexThrottledLog;

/* One vendor topic subscribed with dispatch for a subscription; the vendor
 * is given the address of mDispatch. */
struct CorvexTopicEntry
{
    char* mTopic;
    uint32_t mFlags;
    CorvexDispatchInfo mDispatch;
    /* For a topic placed for the cache's answers: the requests waiting for
     * them. Once none is left the entry is leaving: its removal was asked of
     * the vendor, whose report takes it off the list. */
    uint32_t mRequests;
    uint8_t mIsLeaving;
    CorvexTopicEntry* mNext;
};

/* One MAMA subscription on a corvex transport. Freed only by
 * corvexSubscription_release, which a destroy request queued behind the
 * subscription's messages runs on its queue's dispatch thread. */
struct CorvexSubscription
{
    mamaSubscription mMamaSubscription;
    mamaMsgCallbacks mCallbacks;
    mamaQueue mMamaQueue;
    struct CorvexQueueBridge* mQueueBridge;
    struct CorvexTransportBridge* mTransportBridge;
    const char* mSource;
    const char* mSymbol;
    char* mTopic;
    void* mClosure;
    wDestroyHandle* mDestroyHandle;
    int64_t mCacheRequestId;
    /* Set once on one thread, read without a lock on the vendor context
     * thread and on dispatch threads. */
    std::atomic<uint8_t> mIsMuted;
    uint8_t mIsValid;
    uint8_t mIsWildcard;
    std::atomic<uint8_t> mIsDestroying;
    /* A subscription that requires an initial value is live at the router
     * before MAMA, back from create, starts waiting for that value; until
     * then its live messages are set aside here, as MAMA sets them aside
     * while it waits. Set by create, cleared once MAMA is seen waiting (its
     * initial request is sent, or a dispatch finds it waiting). */
    std::atomic<uint8_t> mBeforeInitialWait;
    uint64_t mMaxQueueDepth;
    /* Messages were discarded here since the last one queued: the next one
     * queued is preceded by a quality event. Vendor context thread. */
    std::atomic<uint8_t> mDiscarded;
    struct CorvexThrottledLog* mThrottledLog;
    CorvexSynchronismManager mSyncManager;
    /* Newest first. */
    CorvexTopicEntry* mKlixSubscriptionList;
    /* Guards the list, the destroying test of subscribe and the destroy
     * flags below. Recursive. */
    wLock mKlixSubscriptionListLock;
    /* Destroy is done with the object: only from then on may its destroy
     * request be queued (once: mIsDestroyQueued). */
    uint8_t mIsDestroyFinished;
    uint8_t mIsDestroyQueued;
    /* The transport's session was found destroyed, by destroy or by the
     * removal report of the last entry: no confirmation of a subscribe still
     * outstanding can arrive any more. */
    uint8_t mIsSessionClosed;
    /* A destroy waiting for the removal report of the last entry; guarded by
     * mKlixSubscriptionListLock. */
    struct CorvexEntriesWaiter* mEntriesWaiter;
};

/* Tells a destroy waiting in mEntriesWaiter that the last entry is gone.
 * Caller holds mKlixSubscriptionListLock. */
void corvexSubscription_wakeEntriesWaiter(CorvexSubscription* subscription);

/* Creation shared by the plain and wildcard entry points. */
mama_status corvexSubscription_create(CorvexSubscription** result, const char* source,
                                      const char* symbol, mamaTransport transport, mamaQueue queue,
                                      mamaMsgCallbacks callbacks, mamaSubscription subscription,
                                      void* closure, int isWildcard);

/* 8 for a topic under the transport's inbox prefix, else 16 in asynchronous
 * mode and 2 otherwise. */
uint32_t corvexSubscription_getSubscribeFlags(const CorvexSubscription* subscription);

/* Places one topic with dispatch for the subscription; the entry is listed
 * before the vendor call and taken back when the call fails. *placed is 0
 * when nothing was subscribed because destroy has begun. Returns the vendor
 * code. */
int32_t corvexSubscription_subscribe(CorvexSubscription* subscription, uint32_t flags,
                                     const char* topic, const CorvexDispatchInfo* dispatch,
                                     CorvexCorrelationTag* tag, int* placed);

/* A request from the subscription's inbox waits for the cache's answers on
 * `topic`: they reach the subscription through a topic of the session's
 * local dispatch that takes cache answers only, placed by the first such
 * request and shared by the others while it is there. *placed is 0 when
 * nothing was placed because destroy has begun. Returns the vendor code. */
int32_t corvexSubscription_addCacheAnswerTopic(CorvexSubscription* subscription, const char* topic,
                                               int* placed);
/* Vendor context thread, from the completion of such a request (its cache
 * request id is the subscription's own): once the answers queued before it
 * have been dispatched, the request no longer holds the topic, which goes
 * with the last. MAMA_STATUS_OK also when there is nothing to do. The
 * caller keeps the subscription alive during the call. */
mama_status corvexSubscription_queueCacheAnswered(CorvexSubscription* subscription,
                                                  const char* topic);

/* Correlation callback of a subscribe; its payload is the subscribe's
 * correlation record. A refusal reported by event also takes the
 * refused topic entry off the list (the vendor keeps no refused entry). */
mama_status corvexSubscription_onSubscribeResult(int fromSessionEvent,
                                                 CorvexCorrelationContext* context);

/* Queues an error for the application's error callback on the
 * subscription's queue; discarded once destroy has begun. */
mama_status corvexSubscription_queueError(mamaSubscription mamaSubscription,
                                          CorvexSubscription* subscription, mama_status status,
                                          uint8_t deactivate);
void MAMACALLTYPE corvexSubscription_dispatchError(mamaQueue queue, void* closure);

/* Takes the first entry matching topic (at most 260 bytes compared), the
 * dispatch callback and user pointer off the list, a leaving one first, and
 * frees it. The caller holds the subscription's mKlixSubscriptionListLock.
 * True when removed. */
int corvexSubscription_removeTopicEntry(CorvexTopicEntry** list, const char* topic,
                                        const CorvexDispatchInfo* dispatch);

/* The calling thread's current subscription, for the initial-value request
 * MAMA sends right after creating one. Setting it replaces the one named
 * before. */
void corvexSubscription_setCurrent(CorvexSubscription* subscription);

/* What a request sent from an inbox learns from its thread's current
 * subscription. */
struct CorvexCurrentSubscription
{
    /* The thread named a subscription that still exists. */
    bool mFound;
    int64_t mCacheRequestId;
};

/* Every request sent from an inbox takes the thread's current subscription,
 * whatever becomes of the request: the thread names none afterwards. MAMA
 * sends a subscription's initial request only once it waits for the initial,
 * so a subscription found here has left creation behind. A subscription
 * destroyed meanwhile, on any thread, is not found. When `refusal` is not
 * MAMA_STATUS_OK the request is refused, and a subscription found is told
 * so at once through its error callback (on its queue, deactivated first). */
CorvexCurrentSubscription corvexSubscription_takeCurrent(mama_status refusal);

/* Unsubscribes every listed topic (vendor calls made without the list lock).
 * The caller holds the transport's mSubscriptionsLock. Returns the last
 * vendor code. */
int32_t corvexSubscription_unsubscribeAll(CorvexSubscription* subscription,
                                          CorvexCorrelationTag* tag);

/* Queues the final destroy request behind the subscription's queued
 * messages. Does nothing (MAMA_STATUS_OK) before destroy has finished with the object
 * (destroy then queues it itself once no topic entry is left) and after the
 * first successful call. Safe with the topic list lock held. */
mama_status corvexSubscription_queueDestroy(CorvexSubscription* subscription);

/* Dispatch thread, for the destroy request: releases the subscription, then
 * calls the destroy callback given at creation. Returns MAMA_STATUS_OK. The memory goes
 * at once, or with the last correlation tag still being completed, so the
 * dispatch thread never waits for the vendor. */
mama_status corvexSubscription_release(CorvexSubscription* subscription);

#endif /* CORVEX_BRIDGE_SUBSCRIPTION_H */
