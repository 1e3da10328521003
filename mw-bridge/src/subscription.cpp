#define CORVEX_LOG_MODULE "subscription"

#include "subscription.h"

#include <stdlib.h>
#include <string.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include <mama/mama.h>
#include <mama/integration/subscription.h>
#include <mama/integration/transport.h>

#include "bridgeTls.h"
#include "logging.h"
#include "receive.h"
#include "queue.h"
#include "topic.h"
#include "transport.h"
#include "transportLifetime.h"

namespace
{
/* What a subscribe keeps in its correlation tag's payload. */
struct CorvexSubscribeCorrelation
{
    mamaSubscription mMamaSubscription;
    struct CorvexTransportBridge* mTransportBridge;
    CorvexSubscription* mSubscription;
};

/* An error on its way to the application's error callback. */
struct CorvexErrorClosure
{
    mamaSubscription mMamaSubscription;
    mama_status mStatus;
    uint8_t mDeactivate;
};

/* Process-wide source of cache request ids; 0 means "no request". */
std::atomic<int32_t> gCacheRequestCounter(0);

int64_t nextCacheRequestId(void)
{
    int32_t id = ++gCacheRequestCounter;
    if (id == 0)
    {
        id = ++gCacheRequestCounter;
    }
    return id;
}

CorvexDispatchInfo dispatchRecordOf(CorvexSubscription* subscription)
{
    CorvexDispatchInfo dispatch = {CORVEXCLIENT_DISPATCH_TYPE_CALLBACK,
                                   corvexReceive_onSubscriptionMessage, subscription, NULL};
    return dispatch;
}

CorvexDispatchInfo cacheAnswerRecordOf(CorvexSubscription* subscription)
{
    CorvexDispatchInfo dispatch = {CORVEXCLIENT_DISPATCH_TYPE_CALLBACK, corvexReceive_onCacheAnswer,
                                   subscription, NULL};
    return dispatch;
}

/* The link to the first entry for (topic, callback, user pointer) that is
 * leaving or not, as asked; NULL when there is none. */
CorvexTopicEntry** findEntry(CorvexTopicEntry** list, const char* topic,
                             const CorvexDispatchInfo* dispatch, bool leaving)
{
    for (CorvexTopicEntry** link = list; NULL != *link; link = &(*link)->mNext)
    {
        CorvexTopicEntry* entry = *link;
        if (entry->mDispatch.mCallback == dispatch->mCallback &&
            entry->mDispatch.mUser == dispatch->mUser && (entry->mIsLeaving != 0) == leaving &&
            strncmp(entry->mTopic, topic, CORVEX_TOPIC_BUFFER_SIZE) == 0)
        {
            return link;
        }
    }
    return NULL;
}

void freeTopicEntry(CorvexTopicEntry* entry)
{
    free(entry->mTopic);
    free(entry);
}

void freeTopicList(CorvexTopicEntry** list)
{
    while (*list != NULL)
    {
        CorvexTopicEntry* entry = *list;
        *list = entry->mNext;
        freeTopicEntry(entry);
    }
}

/* How far creation got; undoing starts at the last step that was done. */
enum CreateStage
{
    STAGE_ON_QUEUE,
    STAGE_SYNC_MANAGER,
    STAGE_DESTROY_HANDLE,
    STAGE_LIST_LOCK,
    STAGE_ON_TRANSPORT
};

mama_status undoCreate(CorvexSubscription* subscription, CreateStage stage, mama_status status)
{
    switch (stage)
    {
    case STAGE_ON_TRANSPORT:
        corvexTransportLifetime_removeSubscription(subscription->mTransportBridge, subscription);
        freeTopicList(&subscription->mKlixSubscriptionList);
        /* fall through */
    case STAGE_LIST_LOCK:
        wlock_destroy(subscription->mKlixSubscriptionListLock);
        subscription->mKlixSubscriptionListLock = NULL;
        /* fall through */
    case STAGE_DESTROY_HANDLE:
        destroyHandle_destroyOwner(subscription->mDestroyHandle);
        subscription->mDestroyHandle = NULL;
        /* fall through */
    case STAGE_SYNC_MANAGER:
        corvexSynchronismManager_destroy(&subscription->mSyncManager);
        /* fall through */
    case STAGE_ON_QUEUE:
        if (subscription->mMamaQueue != NULL)
        {
            if (corvexQueue_stopFeeding(subscription->mQueueBridge, subscription) != MAMA_STATUS_OK)
            {
                CORVEX_LOG(CORVEX_LOG_ERROR,
                           "Unable to remove subscription from queue during cleanup.");
            }
            corvexQueue_removeSubscription(subscription->mQueueBridge);
        }
        break;
    }
    free(subscription->mTopic);
    free(subscription);
    return status;
}

/* The status a refused subscribe gives the application, and the level at
 * which the refusal is logged. Without a vendor error record the cause is
 * unknown: a platform error. A topic the library cannot take (an empty
 * level) is the application's unusable name. */
mama_status refusalStatus(int* level)
{
    const corvexClient_errorInfo_t* error = corvexClient_getLastErrorInfo();
    uint32_t subCode = error != NULL ? error->mSubCode : CORVEXCLIENT_SUBCODE_INTERNAL_ERROR;
    if (subCode == CORVEXCLIENT_SUBCODE_SUBSCRIBE_NOT_PERMITTED ||
        subCode == CORVEXCLIENT_SUBCODE_PUBLISH_NOT_PERMITTED)
    {
        *level = CORVEX_LOG_NORMAL;
        return MAMA_STATUS_NOT_ENTITLED;
    }
    *level = CORVEX_LOG_WARN;
    return subCode == CORVEXCLIENT_SUBCODE_BAD_TOPIC ? MAMA_STATUS_INVALID_ARG
                                                     : MAMA_STATUS_PLATFORM;
}

/* The vendor keeps no entry it refused, so no removal report will follow for
 * it: the entry leaves the list here, or the subscription's destroy would
 * wait for that report for ever. */
void forgetRefusedEntry(CorvexSubscription* subscription)
{
    CorvexDispatchInfo dispatch = dispatchRecordOf(subscription);
    wlock_lock(subscription->mKlixSubscriptionListLock);
    corvexSubscription_removeTopicEntry(&subscription->mKlixSubscriptionList, subscription->mTopic,
                                        &dispatch);
    if (subscription->mKlixSubscriptionList == NULL && subscription->mIsDestroying == 1)
    {
        corvexSubscription_queueDestroy(subscription);
    }
    wlock_unlock(subscription->mKlixSubscriptionListLock);
}

/* A copy of one topic entry, taken so that no vendor call is made with the
 * list lock held and no entry text is read after the vendor may have
 * reported it removed. */
struct TopicToRemove
{
    std::string mTopic;
    CorvexDispatchInfo mDispatch;
};

void freeSubscription(void* owner)
{
    CorvexSubscription* subscription = (CorvexSubscription*)owner;
    free(subscription->mTopic);
    wlock_destroy(subscription->mKlixSubscriptionListLock);
    free(subscription);
}

/* The calling thread may still name the subscription as its current one;
 * other threads that do find it gone when they look. */
void forgetAsCurrent(CorvexSubscription* subscription)
{
    CorvexThreadStorage* storage = corvexBridgeTls_get();
    if (storage != NULL && storage->mCurrentSubscription != NULL &&
        storage->mCurrentSubscription == subscription->mDestroyHandle)
    {
        destroyHandle_removeReference(storage->mCurrentSubscription);
        storage->mCurrentSubscription = NULL;
    }
}
} // namespace

mama_status corvexSubscription_create(CorvexSubscription** result, const char* source,
                                      const char* symbol, mamaTransport transport, mamaQueue queue,
                                      mamaMsgCallbacks callbacks, mamaSubscription parent,
                                      void* closure, int isWildcard)
{
    CORVEX_LOG(CORVEX_LOG_FINEST, "Args: source=%s symbol=%s", corvexLog_orNull(source),
               corvexLog_orNull(symbol));
    if (result == NULL || parent == NULL || transport == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Error, received null argument.");
        return MAMA_STATUS_NULL_ARG;
    }
    transportBridge bridgeTransport = NULL;
    mama_status status = mamaTransport_getBridgeTransport(transport, &bridgeTransport);
    if (status != MAMA_STATUS_OK || bridgeTransport == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "Error acquiring transport bridge status=%s, subscriber=%p, transport=%p",
                   mamaStatus_stringForStatus(status), (void*)result, (void*)transport);
        return MAMA_STATUS_INVALID_ARG;
    }
    CorvexTransportBridge* transportBridge = (CorvexTransportBridge*)bridgeTransport;

    CorvexSubscription* subscription = (CorvexSubscription*)calloc(1, sizeof(CorvexSubscription));
    if (subscription == NULL)
    {
        return MAMA_STATUS_NOMEM;
    }
    mama_status topicStatus =
        corvexTopic_build(NULL, source, symbol, &subscription->mTopic, isWildcard, transportBridge);

    void* nativeQueue = NULL;
    mamaQueue_getNativeHandle(queue, &nativeQueue);
    subscription->mQueueBridge = (CorvexQueueBridge*)nativeQueue;
    subscription->mMamaSubscription = parent;
    subscription->mCallbacks = callbacks;
    subscription->mMamaQueue = queue;
    subscription->mTransportBridge = transportBridge;
    subscription->mClosure = closure;
    subscription->mIsWildcard = isWildcard ? 1 : 0;
    subscription->mSource = source;
    subscription->mSymbol = symbol;

    if (topicStatus != MAMA_STATUS_OK)
    {
        if (topicStatus == MAMA_STATUS_INVALID_ARG && !isWildcard)
        {
            CORVEX_LOG(CORVEX_LOG_WARN,
                       "Wildcard character used in non-wildcard subscription, source=%s symbol=%s",
                       corvexLog_orNull(source), corvexLog_orNull(symbol));
            mamaSubscription_setRequiresInitial(parent, 0);
            corvexSubscription_queueError(parent, subscription, MAMA_STATUS_INVALID_ARG, 0);
        }
        else
        {
            CORVEX_LOG(CORVEX_LOG_ERROR, "Error in building corvex topic, source=%s symbol=%s",
                       corvexLog_orNull(source), corvexLog_orNull(symbol));
        }
        free(subscription->mTopic);
        free(subscription);
        return MAMA_STATUS_INVALID_ARG;
    }

    if (transportBridge->mBridge_p != NULL)
    {
        subscription->mMaxQueueDepth = transportBridge->mBridge_p->mQueueMaxSize;
    }
    subscription->mThrottledLog = transportBridge->mThrottledLog;

    mamaSubscriptionType type = MAMA_SUBSC_TYPE_NORMAL;
    mamaSubscription_getSubscriptionType(parent, &type);
    /* An inbox's subscription has an id too: the cache's answers to its
     * snapshot requests carry it, so that they reach the inbox alone. */
    bool isInbox = corvexSubscription_getSubscribeFlags(subscription) ==
                   CORVEXCLIENT_SUBSCRIBE_FLAGS_LOCAL_DISPATCH_ONLY;
    subscription->mCacheRequestId =
        type == MAMA_SUBSC_TYPE_BASIC && !isInbox ? 0 : nextCacheRequestId();

    if (subscription->mMamaQueue != NULL)
    {
        status = corvexQueue_addSubscription(subscription->mQueueBridge, subscription);
        if (status != MAMA_STATUS_OK)
        {
            CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to add subscription to queue");
            free(subscription->mTopic);
            free(subscription);
            return status;
        }
    }
    if (!corvexSynchronismManager_init(&subscription->mSyncManager))
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to initialize synchronism manager");
        return undoCreate(subscription, STAGE_ON_QUEUE, MAMA_STATUS_PLATFORM);
    }
    subscription->mDestroyHandle = destroyHandle_create(subscription);
    if (subscription->mDestroyHandle == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "unable to create destroy handle");
        return undoCreate(subscription, STAGE_SYNC_MANAGER, MAMA_STATUS_PLATFORM);
    }
    subscription->mKlixSubscriptionListLock = wlock_create();
    if (subscription->mKlixSubscriptionListLock == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "unable to create lock for KLIX subscription list");
        return undoCreate(subscription, STAGE_DESTROY_HANDLE, MAMA_STATUS_NOMEM);
    }
    status = corvexTransportLifetime_addSubscription(transportBridge, subscription);
    if (status != MAMA_STATUS_OK)
    {
        return undoCreate(subscription, STAGE_LIST_LOCK, status);
    }

    uint32_t flags = corvexSubscription_getSubscribeFlags(subscription);
    CORVEX_LOG(CORVEX_LOG_FINEST, "Using subscribeFlags=%d", (int)flags);
    CorvexDispatchInfo dispatch = dispatchRecordOf(subscription);
    CorvexCorrelationTag* tag = corvexSynchronismManager_createCorrelationTag(
        &subscription->mSyncManager, corvexSubscription_onSubscribeResult);
    if (tag == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to allocate memory for correlation tag");
        return undoCreate(subscription, STAGE_ON_TRANSPORT, MAMA_STATUS_NOMEM);
    }
    CorvexSubscribeCorrelation* correlation =
        (CorvexSubscribeCorrelation*)corvexSynchronismManager_getTagPayload(tag);
    correlation->mMamaSubscription = parent;
    correlation->mTransportBridge = transportBridge;
    correlation->mSubscription = subscription;

    int requiresInitial = 0;
    if (mamaSubscription_getRequiresInitial(parent, &requiresInitial) == MAMA_STATUS_OK &&
        requiresInitial == 1)
    {
        subscription->mBeforeInitialWait.store(1, std::memory_order_release);
    }
    int placed = 1;
    int32_t rc = corvexSubscription_subscribe(subscription, flags, subscription->mTopic, &dispatch,
                                              tag, &placed);
    status = corvexSynchronismManager_completeCall(&subscription->mSyncManager, tag, rc);
    if (status != MAMA_STATUS_OK)
    {
        requiresInitial = 0;
        subscription->mBeforeInitialWait.store(0, std::memory_order_release);
        mamaSubscription_setRequiresInitial(parent, 0);
        corvexSubscription_queueError(parent, subscription, status, 0);
        if (type == MAMA_SUBSC_TYPE_BASIC)
        {
            return undoCreate(subscription, STAGE_ON_TRANSPORT, status);
        }
        placed = 0;
    }
    if (!transportBridge->mAllowRecoverGaps)
    {
        mamaSubscription_setRecoverGaps(parent, 0);
    }
    subscription->mIsValid = placed ? 1 : 0;

    if (requiresInitial == 1)
    {
        corvexSubscription_setCurrent(subscription);
    }
    *result = subscription;
    return MAMA_STATUS_OK;
}

uint32_t corvexSubscription_getSubscribeFlags(const CorvexSubscription* subscription)
{
    const CorvexTransportBridge* transport = subscription->mTransportBridge;
    if (subscription->mTopic != NULL && transport->mInboxCorvexSubPrefixLen > 0 &&
        strncmp(subscription->mTopic, transport->mInboxCorvexSubPrefix,
                transport->mInboxCorvexSubPrefixLen) == 0)
    {
        return CORVEXCLIENT_SUBSCRIBE_FLAGS_LOCAL_DISPATCH_ONLY;
    }
    return corvexQueue_isSubscribeAsync(subscription->mQueueBridge)
               ? CORVEXCLIENT_SUBSCRIBE_FLAGS_REQUEST_CONFIRM
               : CORVEXCLIENT_SUBSCRIBE_FLAGS_WAIT_FOR_CONFIRM;
}

namespace
{
/* Places one topic with dispatch; with `shared`, a topic already placed
 * for the same dispatch (and not leaving) counts one more request instead. */
int32_t placeTopic(CorvexSubscription* subscription, uint32_t flags, const char* topic,
                   const CorvexDispatchInfo* dispatch, CorvexCorrelationTag* tag, int* placed,
                   bool shared)
{
    *placed = 1;
    wlock_lock(subscription->mKlixSubscriptionListLock);
    if (subscription->mIsDestroying == 1)
    {
        wlock_unlock(subscription->mKlixSubscriptionListLock);
        *placed = 0;
        return CORVEXCLIENT_OK;
    }
    CorvexTopicEntry** listed =
        shared ? findEntry(&subscription->mKlixSubscriptionList, topic, dispatch, false) : NULL;
    if (listed != NULL)
    {
        ++(*listed)->mRequests;
        wlock_unlock(subscription->mKlixSubscriptionListLock);
        return CORVEXCLIENT_OK;
    }
    CorvexTopicEntry* entry = (CorvexTopicEntry*)calloc(1, sizeof(CorvexTopicEntry));
    char* copy = strdup(topic);
    if (entry == NULL || copy == NULL)
    {
        wlock_unlock(subscription->mKlixSubscriptionListLock);
        free(entry);
        free(copy);
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to allocate memory for topic entry, topic=%s", topic);
        /* Nothing was asked of the vendor: no vendor error record applies. */
        corvexClient_resetLastErrorInfo();
        *placed = 0;
        return CORVEXCLIENT_FAIL;
    }
    entry->mTopic = copy;
    entry->mFlags = flags;
    entry->mDispatch = *dispatch;
    entry->mRequests = shared ? 1 : 0;
    entry->mNext = subscription->mKlixSubscriptionList;
    subscription->mKlixSubscriptionList = entry;
    wlock_unlock(subscription->mKlixSubscriptionListLock);

    /* The vendor copies the record; the entry itself may be gone by the time
     * the call returns, so it is not read after the unlock. */
    int32_t rc = corvexClient_session_topicSubscribeWithDispatch(
        corvexTransportLifetime_session(subscription->mTransportBridge), flags, topic, dispatch,
        tag);
    if (rc != CORVEXCLIENT_OK && rc != CORVEXCLIENT_IN_PROGRESS)
    {
        wlock_lock(subscription->mKlixSubscriptionListLock);
        /* The entry placed here is the one of its kind not leaving. */
        CorvexTopicEntry** link =
            findEntry(&subscription->mKlixSubscriptionList, topic, dispatch, false);
        if (link != NULL)
        {
            CorvexTopicEntry* refused = *link;
            *link = refused->mNext;
            freeTopicEntry(refused);
            CORVEX_LOG(CORVEX_LOG_FINEST,
                       "Removed corvex subscription from Bridge subscription after "
                       "corvexClient_session_topicSubscribeWithDispatch failure[rc=%d]. "
                       "corvexSubscription=%p, topic=%s",
                       rc, (void*)subscription, topic);
        }
        else
        {
            CORVEX_LOG(CORVEX_LOG_ERROR,
                       "Could not remove corvex subscription from Bridge subscription after "
                       "corvexClient_session_topicSubscribeWithDispatch failure[rc=%d]. "
                       "corvexSubscription=%p, topic=%s",
                       rc, (void*)subscription, topic);
        }
        wlock_unlock(subscription->mKlixSubscriptionListLock);
    }
    return rc;
}

/* A request waiting for the cache's answers on a topic, once they are
 * dispatched (queued on the subscription's queue behind them). */
struct CorvexCacheAnswered
{
    CorvexSubscription* mSubscription;
    char* mTopic;
};

void MAMACALLTYPE dispatchCacheAnswered(mamaQueue, void* closure)
{
    CorvexCacheAnswered* answered = static_cast<CorvexCacheAnswered*>(closure);
    CorvexSubscription* subscription = answered->mSubscription;
    CorvexDispatchInfo dispatch = cacheAnswerRecordOf(subscription);
    /* The subscription is there: its destroy request, if any, is queued
     * behind this event. Once destroy has begun, it removes the topics. */
    wlock_lock(subscription->mKlixSubscriptionListLock);
    CorvexTopicEntry** link =
        subscription->mIsDestroying == 1
            ? NULL
            : findEntry(&subscription->mKlixSubscriptionList, answered->mTopic, &dispatch, false);
    bool leave = link != NULL && --(*link)->mRequests == 0;
    if (leave)
    {
        (*link)->mIsLeaving = 1;
    }
    wlock_unlock(subscription->mKlixSubscriptionListLock);
    if (leave)
    {
        int32_t rc = corvexClient_session_topicUnsubscribeWithDispatch(
            corvexTransportLifetime_session(subscription->mTransportBridge), 0, answered->mTopic,
            &dispatch, NULL);
        if (rc != CORVEXCLIENT_OK && rc != CORVEXCLIENT_IN_PROGRESS)
        {
            /* No report will take the entry off the list. */
            CORVEX_LOG(CORVEX_LOG_WARN, "Failed to unsubscribe from topic '%s' - rc=%s",
                       answered->mTopic, corvexClient_returnCodeToString(rc));
            wlock_lock(subscription->mKlixSubscriptionListLock);
            corvexSubscription_removeTopicEntry(&subscription->mKlixSubscriptionList,
                                                answered->mTopic, &dispatch);
            if (subscription->mKlixSubscriptionList == NULL && subscription->mIsDestroying == 1)
            {
                corvexSubscription_queueDestroy(subscription);
            }
            wlock_unlock(subscription->mKlixSubscriptionListLock);
        }
    }
    free(answered->mTopic);
    free(answered);
}
} // namespace

int32_t corvexSubscription_subscribe(CorvexSubscription* subscription, uint32_t flags,
                                     const char* topic, const CorvexDispatchInfo* dispatch,
                                     CorvexCorrelationTag* tag, int* placed)
{
    return placeTopic(subscription, flags, topic, dispatch, tag, placed, false);
}

int32_t corvexSubscription_addCacheAnswerTopic(CorvexSubscription* subscription, const char* topic,
                                               int* placed)
{
    CorvexDispatchInfo dispatch = cacheAnswerRecordOf(subscription);
    return placeTopic(subscription, CORVEXCLIENT_SUBSCRIBE_FLAGS_LOCAL_DISPATCH_ONLY, topic,
                      &dispatch, NULL, placed, true);
}

mama_status corvexSubscription_queueCacheAnswered(CorvexSubscription* subscription,
                                                  const char* topic)
{
    if (subscription == NULL || topic == NULL || subscription->mIsDestroying == 1)
    {
        return MAMA_STATUS_OK;
    }
    CorvexCacheAnswered* answered = (CorvexCacheAnswered*)calloc(1, sizeof(CorvexCacheAnswered));
    char* copy = strdup(topic);
    if (answered == NULL || copy == NULL)
    {
        free(answered);
        free(copy);
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to allocate memory for cache answer event");
        return MAMA_STATUS_NOMEM;
    }
    answered->mSubscription = subscription;
    answered->mTopic = copy;
    mama_status status = corvexBridgeMamaQueue_enqueueEvent(subscription->mQueueBridge,
                                                            dispatchCacheAnswered, answered);
    if (status != MAMA_STATUS_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Could not enqueue the end of the cache answers on topic %s",
                   topic);
        free(copy);
        free(answered);
    }
    return status;
}

mama_status corvexSubscription_onSubscribeResult(int fromSessionEvent,
                                                 CorvexCorrelationContext* context)
{
    const CorvexSubscribeCorrelation* correlation =
        (const CorvexSubscribeCorrelation*)corvexSynchronismManager_getContextPayload(context);
    int32_t rc = corvexSynchronismManager_getContextReturnCode(context);
    if (rc == CORVEXCLIENT_OK)
    {
        return MAMA_STATUS_OK;
    }
    int level = CORVEX_LOG_WARN;
    mama_status status = refusalStatus(&level);
    CORVEX_LOG_VENDOR_ERROR(level, rc, "Error in corvexClient_session_topicSubscribe().");
    if (fromSessionEvent && correlation != NULL)
    {
        /* The outstanding tag keeps the subscription alive until this
         * callback has returned. */
        corvexSubscription_queueError(correlation->mMamaSubscription, correlation->mSubscription,
                                      status, 1);
        forgetRefusedEntry(correlation->mSubscription);
    }
    return status;
}

mama_status corvexSubscription_queueError(mamaSubscription parent, CorvexSubscription* subscription,
                                          mama_status status, uint8_t deactivate)
{
    if (subscription->mIsDestroying == 1)
    {
        CORVEX_LOG(CORVEX_LOG_FINEST,
                   "While Subscription is destroying Subscription Error : %s is Discarded",
                   mamaStatus_stringForStatus(status));
        return MAMA_STATUS_OK;
    }
    const char* symbol = NULL;
    mama_status result = mamaSubscription_getSymbol(parent, &symbol);
    if (result != MAMA_STATUS_OK)
    {
        return result;
    }
    CorvexErrorClosure* closure = (CorvexErrorClosure*)calloc(1, sizeof(CorvexErrorClosure));
    if (closure == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to allocate memory for error closure");
        return MAMA_STATUS_NOMEM;
    }
    closure->mMamaSubscription = parent;
    closure->mStatus = status;
    closure->mDeactivate = deactivate;
    result = corvexBridgeMamaQueue_enqueueEvent(subscription->mQueueBridge,
                                                corvexSubscription_dispatchError, closure);
    if (result != MAMA_STATUS_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Symbol %s. Unable to enqueue error callback for delivery",
                   corvexLog_orNull(symbol));
        free(closure);
    }
    return result;
}

void MAMACALLTYPE corvexSubscription_dispatchError(mamaQueue, void* closure)
{
    CorvexErrorClosure* error = (CorvexErrorClosure*)closure;
    if (error == NULL)
    {
        return;
    }
    mamaSubscription parent = error->mMamaSubscription;
    const char* symbol = NULL;
    if (mamaSubscription_getSymbol(parent, &symbol) != MAMA_STATUS_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to get symbol for subscription.");
        free(error);
        return;
    }
    if (error->mDeactivate)
    {
        if (mamaSubscription_deactivate(parent) != MAMA_STATUS_OK)
        {
            CORVEX_LOG(CORVEX_LOG_ERROR, "Symbol %s. Unable to deactivate subscription",
                       corvexLog_orNull(symbol));
            free(error);
            return;
        }
        CORVEX_LOG(CORVEX_LOG_FINER, "Symbol %s. Subscription deactivated 1",
                   corvexLog_orNull(symbol));
    }
    mamaMsgCallbacks* callbacks = mamaSubscription_getUserCallbacks(parent);
    void* userClosure = NULL;
    if (callbacks == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Symbol %s. No subscription callbacks set",
                   corvexLog_orNull(symbol));
    }
    else if (mamaSubscription_getClosure(parent, &userClosure) != MAMA_STATUS_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Symbol %s. Unable to retrieve callback closure",
                   corvexLog_orNull(symbol));
    }
    else if (callbacks->onError != NULL)
    {
        callbacks->onError(parent, error->mStatus, NULL, symbol, userClosure);
    }
    free(error);
}

int corvexSubscription_removeTopicEntry(CorvexTopicEntry** list, const char* topic,
                                        const CorvexDispatchInfo* dispatch)
{
    if (list == NULL || topic == NULL || dispatch == NULL)
    {
        return 0;
    }
    CorvexTopicEntry** link = findEntry(list, topic, dispatch, true);
    if (link == NULL)
    {
        link = findEntry(list, topic, dispatch, false);
    }
    if (link == NULL)
    {
        return 0;
    }
    CorvexTopicEntry* entry = *link;
    *link = entry->mNext;
    freeTopicEntry(entry);
    return 1;
}

void corvexSubscription_setCurrent(CorvexSubscription* subscription)
{
    CorvexThreadStorage* storage = corvexBridgeTls_get();
    if (storage == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "Could not access per-thread data to store corvex subscription");
        return;
    }
    if (storage->mCurrentSubscription != NULL)
    {
        destroyHandle_removeReference(storage->mCurrentSubscription);
    }
    destroyHandle_incrementRefCount(subscription->mDestroyHandle);
    storage->mCurrentSubscription = subscription->mDestroyHandle;
}

CorvexCurrentSubscription corvexSubscription_takeCurrent(mama_status refusal)
{
    CorvexCurrentSubscription current = {false, 0};
    CorvexThreadStorage* storage = corvexBridgeTls_get();
    if (storage == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "Could not access per-thread data to retrieve corvex subscription");
        return current;
    }
    wDestroyHandle* handle = storage->mCurrentSubscription;
    storage->mCurrentSubscription = NULL;
    CorvexSubscription* subscription = NULL;
    if (handle != NULL)
    {
        /* The release of a subscription marks its handle first, under this
         * lock: while it is held, an unmarked owner is still there. */
        wlock_lock(handle->m_lock);
        if (!handle->m_destroyed)
        {
            subscription = static_cast<CorvexSubscription*>(handle->m_owner);
            subscription->mBeforeInitialWait.store(0, std::memory_order_release);
            current.mFound = true;
            current.mCacheRequestId = subscription->mCacheRequestId;
            if (refusal != MAMA_STATUS_OK)
            {
                corvexSubscription_queueError(subscription->mMamaSubscription, subscription,
                                              refusal, 1);
            }
        }
        wlock_unlock(handle->m_lock);
        destroyHandle_removeReference(handle);
    }
    CORVEX_LOG(CORVEX_LOG_FINEST,
               "Corvex subscription retrieved from threadData_p=%p, subscription=%p ",
               (void*)storage, (void*)subscription);
    return current;
}

int32_t corvexSubscription_unsubscribeAll(CorvexSubscription* subscription,
                                          CorvexCorrelationTag* tag)
{
    std::vector<TopicToRemove> topics;
    wlock_lock(subscription->mKlixSubscriptionListLock);
    if (subscription->mKlixSubscriptionList == NULL)
    {
        wlock_unlock(subscription->mKlixSubscriptionListLock);
        return CORVEXCLIENT_OK;
    }
    try
    {
        for (const CorvexTopicEntry* entry = subscription->mKlixSubscriptionList; NULL != entry;
             entry = entry->mNext)
        {
            /* A leaving entry's removal is asked already. */
            if (!entry->mIsLeaving)
            {
                topics.push_back(TopicToRemove{entry->mTopic, entry->mDispatch});
            }
        }
    }
    catch (const std::bad_alloc&)
    {
        wlock_unlock(subscription->mKlixSubscriptionListLock);
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to allocate memory for topics to unsubscribe");
        return CORVEXCLIENT_FAIL;
    }
    wlock_unlock(subscription->mKlixSubscriptionListLock);

    /* From the first vendor call on, the removal reports may release the
     * subscription on its dispatch thread: only the copies are read now. */
    CorvexTransportBridge* transport = subscription->mTransportBridge;
    int32_t rc = CORVEXCLIENT_OK;
    for (const TopicToRemove& each : topics)
    {
        if (transport->mSession == NULL)
        {
            CORVEX_LOG(
                CORVEX_LOG_WARN,
                "unsubscribing after transport has been destroyed. transport=%p, subscription=%p",
                (void*)transport, (void*)each.mDispatch.mUser);
            return rc;
        }
        rc = corvexClient_session_topicUnsubscribeWithDispatch(
            transport->mSession, 0, each.mTopic.c_str(), &each.mDispatch, tag);
        if (rc != CORVEXCLIENT_OK && rc != CORVEXCLIENT_IN_PROGRESS)
        {
            char text[CORVEX_TOPIC_BUFFER_SIZE + 64];
            corvexLog_formatBuffer(text, sizeof(text),
                                   "error while unsubscribing from topic '%s', continuing.",
                                   each.mTopic.c_str());
            CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_WARN, rc, text);
        }
    }
    return rc;
}

/* Lives on the stack of a destroy that waits for its removal reports. */
struct CorvexEntriesWaiter
{
    /* Guards mIsGone; mGone is signalled under it. */
    std::mutex mLock;
    std::condition_variable mGone;
    bool mIsGone = false;
};

namespace
{
/* Destroy has begun: the queue no longer holds the subscription's transport
 * suspended on its behalf. Done while the subscription is still registered
 * on the transport, which keeps the transport alive. */
void stopFeedingQueue(CorvexSubscription* subscription)
{
    if (subscription->mMamaQueue == NULL)
    {
        return;
    }
    mama_status status = corvexQueue_stopFeeding(subscription->mQueueBridge, subscription);
    if (status != MAMA_STATUS_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "unable to remove subscription from queue: %s",
                   mamaStatus_stringForStatus(status));
    }
}

void leaveQueue(CorvexSubscription* subscription)
{
    if (subscription->mMamaQueue != NULL)
    {
        corvexQueue_removeSubscription(subscription->mQueueBridge);
    }
}

/* Longest a destroy waits for the vendor to report its entries removed
 * before it leaves the rest to the queue. */
const auto REMOVAL_REPORT_WAIT = std::chrono::milliseconds(500);

/* Waits, bounded, until the vendor has reported every entry of the
 * subscription removed. Runs on the destroying thread, never on the vendor's
 * context thread (which makes the reports). */
void waitForRemovalReports(CorvexSubscription* subscription)
{
    CorvexEntriesWaiter waiter;
    wlock_lock(subscription->mKlixSubscriptionListLock);
    bool pending = subscription->mKlixSubscriptionList != NULL;
    if (pending)
    {
        subscription->mEntriesWaiter = &waiter;
    }
    wlock_unlock(subscription->mKlixSubscriptionListLock);
    if (!pending)
    {
        return;
    }
    {
        std::unique_lock<std::mutex> lock(waiter.mLock);
        waiter.mGone.wait_for(lock, REMOVAL_REPORT_WAIT, [&waiter] { return waiter.mIsGone; });
    }
    /* The report, if it comes later, must not find this frame. */
    wlock_lock(subscription->mKlixSubscriptionListLock);
    subscription->mEntriesWaiter = NULL;
    wlock_unlock(subscription->mKlixSubscriptionListLock);
}
} // namespace

void corvexSubscription_wakeEntriesWaiter(CorvexSubscription* subscription)
{
    CorvexEntriesWaiter* waiter = subscription->mEntriesWaiter;
    if (waiter == NULL)
    {
        return;
    }
    std::lock_guard<std::mutex> guard(waiter->mLock);
    waiter->mIsGone = true;
    waiter->mGone.notify_all();
}

/* The destroy request, queued behind every message of the subscription. */
static void MAMACALLTYPE dispatchDestroyRequest(mamaQueue, void* closure)
{
    CorvexSubscription* subscription = static_cast<CorvexSubscription*>(closure);
    if (subscription->mIsDestroying == 1)
    {
        corvexSubscription_release(subscription);
    }
}

mama_status corvexSubscription_queueDestroy(CorvexSubscription* subscription)
{
    wlock_lock(subscription->mKlixSubscriptionListLock);
    if (subscription->mIsDestroyQueued || !subscription->mIsDestroyFinished)
    {
        wlock_unlock(subscription->mKlixSubscriptionListLock);
        return MAMA_STATUS_OK;
    }
    CORVEX_LOG(CORVEX_LOG_FINER,
               "Deleted topic subscription from corvex session for topic=%s. Returned from "
               "corvexClient_session_topicUnsubscribeWithDispatch.",
               subscription->mTopic);
    CORVEX_LOG(CORVEX_LOG_FINE, "Completed for topic=%s", subscription->mTopic);
    mama_status status = corvexBridgeMamaQueue_enqueueEvent(subscription->mQueueBridge,
                                                            dispatchDestroyRequest, subscription);
    if (status != MAMA_STATUS_OK)
    {
        wlock_unlock(subscription->mKlixSubscriptionListLock);
        CORVEX_LOG(CORVEX_LOG_ERROR, "Could not enqueue subscription destroy event");
        return status;
    }
    /* The release waits for this lock before it frees the subscription. */
    subscription->mIsDestroyQueued = 1;
    /* Only now does the subscription leave its queue: until its destroy
     * request is queued, the queue's destroy is refused, and a removal report
     * arriving later never enqueues on a queue the application destroyed. */
    leaveQueue(subscription);
    wlock_unlock(subscription->mKlixSubscriptionListLock);
    return MAMA_STATUS_OK;
}

mama_status corvexSubscription_release(CorvexSubscription* subscription)
{
    if (subscription == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    wombat_subscriptionDestroyCB onDestroy = subscription->mCallbacks.onDestroy;
    void* closure = subscription->mClosure;
    mamaSubscription parent = subscription->mMamaSubscription;

    /* A request still being completed reads the handle under the list
     * lock. */
    wlock_lock(subscription->mKlixSubscriptionListLock);
    destroyHandle_destroyOwner(subscription->mDestroyHandle);
    subscription->mDestroyHandle = NULL;
    wlock_unlock(subscription->mKlixSubscriptionListLock);
    if (subscription->mIsSessionClosed)
    {
        int dropped = corvexSynchronismManager_abandon(&subscription->mSyncManager,
                                                       corvexSubscription_onSubscribeResult);
        if (dropped > 0)
        {
            CORVEX_LOG(CORVEX_LOG_FINE,
                       "Released subscription %p, topic=%s, with %d subscribe confirmation(s) its "
                       "destroyed session "
                       "will never report",
                       (void*)subscription, subscription->mTopic, dropped);
        }
        /* Requests sent from an inbox wait for their access check in the
         * same way. */
        dropped = corvexSynchronismManager_abandon(&subscription->mSyncManager, NULL);
        if (dropped > 0)
        {
            CORVEX_LOG(CORVEX_LOG_FINE,
                       "Released subscription %p, topic=%s, with %d request(s) whose access check "
                       "its destroyed session will never answer",
                       (void*)subscription, subscription->mTopic, dropped);
        }
    }
    wlock_lock(subscription->mKlixSubscriptionListLock);
    freeTopicList(&subscription->mKlixSubscriptionList);
    wlock_unlock(subscription->mKlixSubscriptionListLock);
    /* A completion still running reads the topic and the list lock: they go
     * with the object. */
    if (corvexSynchronismManager_close(&subscription->mSyncManager, freeSubscription, subscription))
    {
        freeSubscription(subscription);
    }

    if (onDestroy != NULL)
    {
        onDestroy(parent, closure);
    }
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT mama_status corvexBridgeMamaSubscription_create(
    CorvexSubscription** result, const char* source, const char* symbol, mamaTransport transport,
    mamaQueue queue, mamaMsgCallbacks callbacks, mamaSubscription subscription, void* closure)
{
    return corvexSubscription_create(result, source, symbol, transport, queue, callbacks,
                                     subscription, closure, 0);
}

CORVEX_EXPORT mama_status corvexBridgeMamaSubscription_createWildCard(
    CorvexSubscription** result, const char* source, const char* symbol, mamaTransport transport,
    mamaQueue queue, mamaMsgCallbacks callbacks, mamaSubscription subscription, void* closure)
{
    return corvexSubscription_create(result, source, symbol, transport, queue, callbacks,
                                     subscription, closure, 1);
}

CORVEX_EXPORT mama_status corvexBridgeMamaSubscription_destroy(CorvexSubscription* subscription)
{
    if (subscription == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    subscription->mIsDestroying = 1;
    forgetAsCurrent(subscription);
    stopFeedingQueue(subscription);

    CorvexTransportBridge* transport = subscription->mTransportBridge;
    uint8_t sessionClosed = 0;
    wlock_lock(transport->mSubscriptionsLock);
    CORVEX_LOG(CORVEX_LOG_FINEST, "Using subscribeFlags=%d", 0);
    if (transport->mSession != NULL)
    {
        /* A transport whose session lives is not released by this removal. */
        corvexTransportLifetime_removeSubscription(transport, subscription);
        int32_t rc = corvexSubscription_unsubscribeAll(subscription, NULL);
        wlock_unlock(transport->mSubscriptionsLock);
        if (rc != CORVEXCLIENT_OK)
        {
            CORVEX_LOG(CORVEX_LOG_FINE, "Corvex unsubscribe failed, rc=%d", rc);
        }
    }
    else
    {
        /* The transport went first: its session's destroy has reported (or
         * is still reporting) every topic entry; there is nothing left to
         * unsubscribe. This removal may release the transport. */
        sessionClosed = transport->mDestroyFinished;
        wlock_unlock(transport->mSubscriptionsLock);
        corvexTransportLifetime_removeSubscription(transport, subscription);
    }

    /* On a queue nobody is dispatching, the destroy completes here, so that
     * the application can destroy the queue next (the host refuses a queue
     * whose objects have not reported their destruction). */
    bool idleQueue = corvexQueue_isIdle(subscription->mQueueBridge);
    if (idleQueue && !sessionClosed)
    {
        waitForRemovalReports(subscription);
    }

    /* Removal reports that arrived meanwhile did not queue the destroy
     * request: it may only run once this function is done with the object.
     * It goes now if no entry is left, else with the report of the last. */
    wlock_lock(subscription->mKlixSubscriptionListLock);
    subscription->mIsSessionClosed |= sessionClosed;
    subscription->mIsDestroyFinished = 1;
    bool releaseNow = false;
    if (subscription->mKlixSubscriptionList == NULL)
    {
        /* Idle still: no event for the subscription is queued or being
         * handled, and none can be queued any more. */
        releaseNow = idleQueue && corvexQueue_isIdle(subscription->mQueueBridge);
        if (releaseNow)
        {
            subscription->mIsDestroyQueued = 1;
        }
        else
        {
            corvexSubscription_queueDestroy(subscription);
        }
    }
    wlock_unlock(subscription->mKlixSubscriptionListLock);
    if (releaseNow)
    {
        leaveQueue(subscription);
        corvexSubscription_release(subscription);
    }
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT mama_status corvexBridgeMamaSubscription_mute(CorvexSubscription* subscription)
{
    if (subscription == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    subscription->mIsMuted = 1;
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT mama_status
corvexBridgeMamaSubscription_muteCurrentTopic(CorvexSubscription* subscription)
{
    return corvexBridgeMamaSubscription_mute(subscription);
}

CORVEX_EXPORT int corvexBridgeMamaSubscription_isValid(CorvexSubscription* subscription)
{
    return subscription != NULL && subscription->mIsValid;
}

CORVEX_EXPORT int corvexBridgeMamaSubscription_hasWildcards(CorvexSubscription* subscription)
{
    return subscription != NULL && corvexTopic_hasWildcard(subscription->mTopic);
}

CORVEX_EXPORT mama_status corvexBridgeMamaSubscription_getPlatformError(CorvexSubscription*, void**)
{
    CORVEX_LOG(CORVEX_LOG_FINEST, "not implemented by this bridge");
    return MAMA_STATUS_NOT_IMPLEMENTED;
}

CORVEX_EXPORT int corvexBridgeMamaSubscription_isTportDisconnected(CorvexSubscription*)
{
    CORVEX_LOG(CORVEX_LOG_FINEST, "not implemented by this bridge");
    return MAMA_STATUS_NOT_IMPLEMENTED;
}

CORVEX_EXPORT mama_status corvexBridgeMamaSubscription_setTopicClosure(CorvexSubscription*, void*)
{
    CORVEX_LOG(CORVEX_LOG_FINER, "not implemented by this bridge");
    return MAMA_STATUS_NOT_IMPLEMENTED;
}
