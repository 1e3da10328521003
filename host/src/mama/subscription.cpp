/* mamaSubscription: basic and wildcard subscriptions and their state machine.
 *
 * A subscription holds its queue open (queue object count) from a successful
 * bridge create until the bridge reports its part destroyed through the
 * host's onDestroy handler, which it must call exactly once. That report may
 * come from inside the bridge's destroy or later from any thread, so every
 * transition runs under one recursive lock per subscription, and the
 * application's callbacks are called after that lock is released. */
#include <atomic>
#include <cmath>
#include <new>
#include <string>

#include "bridge.h"
#include "mama/mama.h"
#include "queueimpl.h"
#include "subscriptionimpl.h"
#include "transportimpl.h"
#include "wombat/wlock.h"

struct mamaSubscriptionImpl_
{
    wLock mLock = nullptr;
    std::atomic<int> mState{MAMA_SUBSCRIPTION_ALLOCATED};
    mamaBridgeImpl* mBridgeImpl = nullptr;
    mamaTransport mTransport = nullptr;
    mamaQueue mQueue = nullptr;
    mamaQueueLockHandle mQueueHold = nullptr;
    bool mHoldsQueue = false;
    /* Written by the bridge through the address given to its create. */
    subscriptionBridge mSubscBridge = nullptr;
    bool mIsWildCard = false;
    /* Application callbacks, host defaults in place of missing ones. */
    mamaMsgCallbacks mUserCallbacks = {};
    wombat_subscriptionWildCardOnMsgCB mWildCardOnMsg = nullptr;
    std::string mSymbol;
    void* mClosure = nullptr;
    void* mItemClosure = nullptr;
    /* Set by destroyEx: the host frees the subscription once destroyed. */
    bool mFreeWhenDestroyed = false;
    mamaSubscriptionType mType = MAMA_SUBSC_TYPE_NORMAL;
    int mRequiresInitial = 1;
    double mTimeout = MAMA_TIMEOUT;
    int mRetries = MAMA_RETRIES;
    mamaServiceLevel mServiceLevel = MAMA_SERVICE_LEVEL_REAL_TIME;
};

namespace
{

mamaSubscriptionState stateOf(mamaSubscription self)
{
    return static_cast<mamaSubscriptionState>(self->mState.load());
}

void setState(mamaSubscription self, mamaSubscriptionState state)
{
    self->mState.store(state);
}

void MAMACALLTYPE defaultOnCreate(mamaSubscription, void*) {}

void MAMACALLTYPE defaultOnError(mamaSubscription subscription, mama_status status, void*,
                                 const char* subject, void*)
{
    mama_log(MAMA_LOG_LEVEL_WARN, "mamaSubscription %p: error %s for subject %s",
             static_cast<void*>(subscription), mamaStatus_stringForStatus(status),
             subject != nullptr ? subject : "(none)");
}

void MAMACALLTYPE defaultOnQuality(mamaSubscription, mamaQuality, const char*, short, const void*,
                                   void*)
{
}

void MAMACALLTYPE defaultOnGap(mamaSubscription, void*) {}

void MAMACALLTYPE defaultOnRecapRequest(mamaSubscription, void*) {}

void freeSubscription(mamaSubscription self)
{
    wlock_destroy(self->mLock);
    delete self;
}

void releaseQueue(mamaSubscription self)
{
    if (!self->mHoldsQueue)
        return;
    self->mHoldsQueue = false;
    mamaQueue_decrementObjectCount(&self->mQueueHold, self->mQueue);
}

/* Called with the lock held; releases it. The application hears of the
 * destruction after every host resource is let go; if the subscription is to
 * be freed, it is freed last. */
void finishDestroy(mamaSubscription self)
{
    bool freeIt = self->mFreeWhenDestroyed || stateOf(self) == MAMA_SUBSCRIPTION_DEALLOCATING;
    releaseQueue(self);
    self->mSubscBridge = nullptr;
    self->mTransport = nullptr;
    self->mQueue = nullptr;
    setState(self, MAMA_SUBSCRIPTION_DESTROYED);
    wombat_subscriptionDestroyCB onDestroy = self->mUserCallbacks.onDestroy;
    void* closure = self->mClosure;
    wlock_unlock(self->mLock);
    if (onDestroy != nullptr)
        onDestroy(self, closure);
    if (freeIt)
        freeSubscription(self);
}

/* The handler the bridge receives as onDestroy: its part of the subscription
 * is gone. */
void MAMACALLTYPE onBridgeSubscriptionDestroyed(mamaSubscription self, void*)
{
    if (self == nullptr)
        return;
    wlock_lock(self->mLock);
    mamaSubscriptionState state = stateOf(self);
    switch (state)
    {
    case MAMA_SUBSCRIPTION_DESTROYING:
    case MAMA_SUBSCRIPTION_DEALLOCATING:
        finishDestroy(self);
        return;
    case MAMA_SUBSCRIPTION_DEACTIVATING:
    case MAMA_SUBSCRIPTION_ACTIVATED: /* the bridge dropped it on its own */
        releaseQueue(self);
        self->mSubscBridge = nullptr;
        setState(self, MAMA_SUBSCRIPTION_DEACTIVATED);
        break;
    default:
        mama_log(MAMA_LOG_LEVEL_WARN,
                 "mamaSubscription %p: bridge destroy notification in state %s ignored",
                 static_cast<void*>(self), mamaSubscription_stringForState(state));
        break;
    }
    wlock_unlock(self->mLock);
}

/* Places the subscription on the bridge. Lock held; the subscription is set
 * up. On success it is ACTIVATED and holds its queue; the caller then tells
 * the application (outside the lock). */
mama_status activateOnBridge(mamaSubscription self)
{
    mamaBridgeImpl* bridge = self->mBridgeImpl;
    mamaMsgCallbacks bridgeCallbacks = {};
    bridgeCallbacks.onCreate = self->mUserCallbacks.onCreate;
    bridgeCallbacks.onError = self->mUserCallbacks.onError;
    if (!self->mIsWildCard)
    {
        bridgeCallbacks.onMsg = self->mUserCallbacks.onMsg;
        bridgeCallbacks.onQuality = self->mUserCallbacks.onQuality;
        bridgeCallbacks.onGap = self->mUserCallbacks.onGap;
        bridgeCallbacks.onRecapRequest = self->mUserCallbacks.onRecapRequest;
    }
    bridgeCallbacks.onDestroy = onBridgeSubscriptionDestroyed;

    setState(self, MAMA_SUBSCRIPTION_ACTIVATING);
    /* The topic travels as the source, with no symbol, as the real host
     * passes it for basic subscriptions. */
    mama_status status =
        self->mIsWildCard
            ? bridge->bridgeMamaSubscriptionCreateWildCard(
                  &self->mSubscBridge, self->mSymbol.c_str(), nullptr, self->mTransport,
                  self->mQueue, bridgeCallbacks, self, self->mClosure)
            : bridge->bridgeMamaSubscriptionCreate(&self->mSubscBridge, self->mSymbol.c_str(),
                                                   nullptr, self->mTransport, self->mQueue,
                                                   bridgeCallbacks, self, self->mClosure);
    if (status != MAMA_STATUS_OK)
    {
        mama_log(MAMA_LOG_LEVEL_ERROR, "mamaSubscription: bridge could not subscribe to %s: %s",
                 self->mSymbol.c_str(), mamaStatus_stringForStatus(status));
        self->mSubscBridge = nullptr;
        return status;
    }
    setState(self, MAMA_SUBSCRIPTION_ACTIVATED);
    self->mQueueHold = mamaQueue_incrementObjectCount(self->mQueue, self);
    self->mHoldsQueue = true;
    return MAMA_STATUS_OK;
}

/* Common part of createBasic and createBasicWildCard, after the argument
 * checks. `callbacks` has the application's members already placed. */
mama_status createOnBridge(mamaSubscription self, mamaTransport transport, mamaQueue queue,
                           const mamaMsgCallbacks& callbacks,
                           wombat_subscriptionWildCardOnMsgCB wildCardOnMsg, std::string topic,
                           void* closure)
{
    mamaBridgeImpl* bridge = mamaTransportImpl_getBridgeImpl(transport);
    wlock_lock(self->mLock);
    mamaSubscriptionState state = stateOf(self);
    if (state != MAMA_SUBSCRIPTION_ALLOCATED && state != MAMA_SUBSCRIPTION_DESTROYED)
    {
        wlock_unlock(self->mLock);
        mama_log(MAMA_LOG_LEVEL_ERROR, "mamaSubscription: cannot create a subscription in state %s",
                 mamaSubscription_stringForState(state));
        return MAMA_STATUS_SUBSCRIPTION_INVALID_STATE;
    }
    if (bridge == nullptr)
    {
        wlock_unlock(self->mLock);
        return MAMA_STATUS_NO_BRIDGE_IMPL;
    }
    bool isWildCard = wildCardOnMsg != nullptr;
    if (isWildCard && bridge->bridgeMamaSubscriptionCreateWildCard == nullptr)
    {
        wlock_unlock(self->mLock);
        return MAMA_STATUS_NOT_IMPLEMENTED;
    }

    self->mBridgeImpl = bridge;
    self->mTransport = transport;
    self->mQueue = queue;
    self->mIsWildCard = isWildCard;
    self->mUserCallbacks = callbacks;
    if (self->mUserCallbacks.onCreate == nullptr)
        self->mUserCallbacks.onCreate = defaultOnCreate;
    if (self->mUserCallbacks.onError == nullptr)
        self->mUserCallbacks.onError = defaultOnError;
    if (!isWildCard)
    {
        if (self->mUserCallbacks.onQuality == nullptr)
            self->mUserCallbacks.onQuality = defaultOnQuality;
        if (self->mUserCallbacks.onGap == nullptr)
            self->mUserCallbacks.onGap = defaultOnGap;
        if (self->mUserCallbacks.onRecapRequest == nullptr)
            self->mUserCallbacks.onRecapRequest = defaultOnRecapRequest;
    }
    self->mWildCardOnMsg = wildCardOnMsg;
    self->mSymbol = std::move(topic);
    self->mClosure = closure;
    self->mType = MAMA_SUBSC_TYPE_BASIC;
    self->mRequiresInitial = 0;
    setState(self, MAMA_SUBSCRIPTION_SETUP);

    mama_status status = activateOnBridge(self);
    if (status != MAMA_STATUS_OK)
    {
        self->mTransport = nullptr;
        self->mQueue = nullptr;
        setState(self, MAMA_SUBSCRIPTION_ALLOCATED);
        wlock_unlock(self->mLock);
        return status;
    }
    wombat_subscriptionCreateCB onCreate = self->mUserCallbacks.onCreate;
    wlock_unlock(self->mLock);
    onCreate(self, closure);
    return MAMA_STATUS_OK;
}

/* Lock held. Hands the subscription's bridge part back to the bridge; the
 * bridge reports completion through onBridgeSubscriptionDestroyed. */
mama_status deactivateLocked(mamaSubscription self)
{
    switch (stateOf(self))
    {
    case MAMA_SUBSCRIPTION_ACTIVATED:
        break;
    case MAMA_SUBSCRIPTION_ACTIVATING:
    case MAMA_SUBSCRIPTION_DEACTIVATING:
        return MAMA_STATUS_OK;
    default:
        return MAMA_STATUS_SUBSCRIPTION_INVALID_STATE;
    }
    setState(self, MAMA_SUBSCRIPTION_DEACTIVATING);
    /* Forgotten before the bridge frees it, so nobody reads a dangling one. */
    subscriptionBridge subscBridge = self->mSubscBridge;
    self->mSubscBridge = nullptr;
    mamaBridgeImpl* bridge = self->mBridgeImpl;
    bridge->bridgeMamaSubscriptionMute(subscBridge);
    mama_status status = bridge->bridgeMamaSubscriptionDestroy(subscBridge);
    if (status != MAMA_STATUS_OK)
    {
        mama_log(MAMA_LOG_LEVEL_ERROR,
                 "mamaSubscription %p: bridge destroy of %s failed: %s; waiting for its report",
                 static_cast<void*>(self), self->mSymbol.c_str(),
                 mamaStatus_stringForStatus(status));
    }
    return MAMA_STATUS_OK;
}

/* The part of an optional bridge call common to the pass-through functions:
 * 5 for no subscription, 18 when the bridge lacks the function, 5001 when the
 * subscription has no bridge part. */
template <typename Slot>
mama_status checkBridgeCall(mamaSubscription self, Slot mamaBridgeImpl::*slot)
{
    if (self == nullptr)
        return MAMA_STATUS_NULL_ARG;
    if (self->mBridgeImpl == nullptr || self->mBridgeImpl->*slot == nullptr)
        return MAMA_STATUS_NOT_IMPLEMENTED;
    if (self->mSubscBridge == nullptr)
        return MAMA_STATUS_SUBSCRIPTION_INVALID_STATE;
    return MAMA_STATUS_OK;
}

} // namespace

extern "C"
{

    const char* mamaSubscription_stringForState(mamaSubscriptionState state)
    {
        switch (state)
        {
        case MAMA_SUBSCRIPTION_UNKNOWN:
            return "MAMA_SUBSCRIPTION_UNKNOWN";
        case MAMA_SUBSCRIPTION_ALLOCATED:
            return "MAMA_SUBSCRIPTION_ALLOCATED";
        case MAMA_SUBSCRIPTION_SETUP:
            return "MAMA_SUBSCRIPTION_SETUP";
        case MAMA_SUBSCRIPTION_ACTIVATING:
            return "MAMA_SUBSCRIPTION_ACTIVATING";
        case MAMA_SUBSCRIPTION_ACTIVATED:
            return "MAMA_SUBSCRIPTION_ACTIVATED";
        case MAMA_SUBSCRIPTION_DEACTIVATING:
            return "MAMA_SUBSCRIPTION_DEACTIVATING";
        case MAMA_SUBSCRIPTION_DEACTIVATED:
            return "MAMA_SUBSCRIPTION_DEACTIVATED";
        case MAMA_SUBSCRIPTION_DESTROYING:
            return "MAMA_SUBSCRIPTION_DESTROYING";
        case MAMA_SUBSCRIPTION_DESTROYED:
            return "MAMA_SUBSCRIPTION_DESTROYED";
        case MAMA_SUBSCRIPTION_DEALLOCATING:
            return "MAMA_SUBSCRIPTION_DEALLOCATING";
        case MAMA_SUBSCRIPTION_DEALLOCATED:
            return "MAMA_SUBSCRIPTION_DEALLOCATED";
        case MAMA_SUBSCRIPTION_REACTIVATING:
            return "MAMA_SUBSCRIPTION_REACTIVATING";
        }
        return "unknown";
    }

    const char* MamaSubscTypeStr(mamaSubscriptionType subtype)
    {
        switch (subtype)
        {
        case MAMA_SUBSC_TYPE_NORMAL:
            return "NORMAL";
        case MAMA_SUBSC_TYPE_GROUP:
            return "GROUP";
        case MAMA_SUBSC_TYPE_BOOK:
            return "BOOK";
        case MAMA_SUBSC_TYPE_BASIC:
            return "BASIC";
        case MAMA_SUBSC_TYPE_DICTIONARY:
            return "DICTIONARY";
        case MAMA_SUBSC_TYPE_SYMBOL_LIST:
        case MAMA_SUBSC_TYPE_SYMBOL_LIST_NORMAL:
            return "SYMBOL_LIST_NORMAL";
        case MAMA_SUBSC_TYPE_SYMBOL_LIST_GROUP:
            return "SYMBOL_LIST_GROUP";
        case MAMA_SUBSC_TYPE_SYMBOL_LIST_BOOK:
            return "SYMBOL_LIST_BOOK";
        }
        return "unknown";
    }

    mama_status mamaSubscription_allocate(mamaSubscription* result)
    {
        if (result == nullptr)
            return MAMA_STATUS_NULL_ARG;
        mamaSubscription self = new (std::nothrow) mamaSubscriptionImpl_();
        if (self == nullptr)
            return MAMA_STATUS_NOMEM;
        self->mLock = wlock_create();
        *result = self;
        return MAMA_STATUS_OK;
    }

    mama_status mamaSubscription_deallocate(mamaSubscription subscription)
    {
        if (subscription == nullptr)
            return MAMA_STATUS_NULL_ARG;
        wlock_lock(subscription->mLock);
        switch (stateOf(subscription))
        {
        case MAMA_SUBSCRIPTION_ALLOCATED:
        case MAMA_SUBSCRIPTION_DESTROYED:
            wlock_unlock(subscription->mLock);
            freeSubscription(subscription);
            return MAMA_STATUS_OK;
        case MAMA_SUBSCRIPTION_DESTROYING:
            /* Freed when the bridge reports its part gone. */
            setState(subscription, MAMA_SUBSCRIPTION_DEALLOCATING);
            wlock_unlock(subscription->mLock);
            return MAMA_STATUS_OK;
        default:
            wlock_unlock(subscription->mLock);
            return MAMA_STATUS_SUBSCRIPTION_INVALID_STATE;
        }
    }

    mama_status mamaSubscription_createBasic(mamaSubscription subscription, mamaTransport transport,
                                             mamaQueue queue, const mamaMsgCallbacks* callbacks,
                                             const char* symbol, void* closure)
    {
        if (subscription == nullptr)
            return MAMA_STATUS_NULL_ARG;
        if (transport == nullptr || symbol == nullptr || *symbol == '\0')
            return MAMA_STATUS_INVALID_ARG;
        if (queue == nullptr)
            return MAMA_STATUS_INVALID_QUEUE;
        if (callbacks == nullptr)
            return MAMA_STATUS_NULL_ARG;
        mamaMsgCallbacks userCallbacks = *callbacks;
        return createOnBridge(subscription, transport, queue, userCallbacks, nullptr, symbol,
                              closure);
    }

    /* The topic is "source.symbol", or whichever of the two is given; a source
     * alone is a transport-wide wildcard. */
    mama_status mamaSubscription_createBasicWildCard(mamaSubscription subscription,
                                                     mamaTransport transport, mamaQueue queue,
                                                     const mamaWildCardMsgCallbacks* callbacks,
                                                     const char* source, const char* symbol,
                                                     void* closure)
    {
        if (subscription == nullptr)
            return MAMA_STATUS_NULL_ARG;
        bool hasSource = source != nullptr && *source != '\0';
        bool hasSymbol = symbol != nullptr && *symbol != '\0';
        if (transport == nullptr || (!hasSource && !hasSymbol))
            return MAMA_STATUS_INVALID_ARG;
        if (queue == nullptr)
            return MAMA_STATUS_INVALID_QUEUE;
        if (callbacks == nullptr || callbacks->onMsg == nullptr)
            return MAMA_STATUS_NULL_ARG;

        std::string topic;
        if (hasSource && hasSymbol)
            topic = std::string(source) + "." + symbol;
        else
            topic = hasSymbol ? symbol : source;

        mamaMsgCallbacks userCallbacks = {};
        userCallbacks.onCreate = callbacks->onCreate;
        userCallbacks.onError = callbacks->onError;
        userCallbacks.onDestroy = callbacks->onDestroy;
        return createOnBridge(subscription, transport, queue, userCallbacks, callbacks->onMsg,
                              std::move(topic), closure);
    }

    /* Market-data subscriptions need sources, entitlements and the data-quality
     * machinery, none of which this host has. */
    mama_status mamaSubscription_create(mamaSubscription subscription, mamaQueue queue,
                                        const mamaMsgCallbacks* callbacks, mamaSource source,
                                        const char* symbol, void*)
    {
        if (subscription == nullptr || queue == nullptr || callbacks == nullptr ||
            source == nullptr || symbol == nullptr)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        mama_log(MAMA_LOG_LEVEL_ERROR,
                 "mamaSubscription_create(): market-data subscriptions are not supported; use "
                 "mamaSubscription_createBasic");
        return MAMA_STATUS_NOT_IMPLEMENTED;
    }

    /* Places a deactivated subscription on the bridge again. */
    mama_status mamaSubscription_activate(mamaSubscription subscription)
    {
        if (subscription == nullptr)
            return MAMA_STATUS_NULL_ARG;
        wlock_lock(subscription->mLock);
        switch (stateOf(subscription))
        {
        case MAMA_SUBSCRIPTION_DEACTIVATED:
            break;
        case MAMA_SUBSCRIPTION_ACTIVATING:
        case MAMA_SUBSCRIPTION_ACTIVATED:
            wlock_unlock(subscription->mLock);
            return MAMA_STATUS_OK;
        default:
            wlock_unlock(subscription->mLock);
            return MAMA_STATUS_SUBSCRIPTION_INVALID_STATE;
        }
        mama_status status = activateOnBridge(subscription);
        if (status != MAMA_STATUS_OK)
        {
            setState(subscription, MAMA_SUBSCRIPTION_DEACTIVATED);
            wlock_unlock(subscription->mLock);
            return status;
        }
        wombat_subscriptionCreateCB onCreate = subscription->mUserCallbacks.onCreate;
        void* closure = subscription->mClosure;
        wlock_unlock(subscription->mLock);
        onCreate(subscription, closure);
        return MAMA_STATUS_OK;
    }

    mama_status mamaSubscription_deactivate(mamaSubscription subscription)
    {
        if (subscription == nullptr)
            return MAMA_STATUS_NULL_ARG;
        wlock_lock(subscription->mLock);
        mama_status status = deactivateLocked(subscription);
        wlock_unlock(subscription->mLock);
        return status;
    }

    mama_status mamaSubscription_destroy(mamaSubscription subscription)
    {
        if (subscription == nullptr)
            return MAMA_STATUS_NULL_ARG;
        wlock_lock(subscription->mLock);
        switch (stateOf(subscription))
        {
        case MAMA_SUBSCRIPTION_ACTIVATED:
            deactivateLocked(subscription);
            /* The bridge may have reported already, from inside its destroy. */
            if (stateOf(subscription) == MAMA_SUBSCRIPTION_DEACTIVATED)
            {
                finishDestroy(subscription);
                return MAMA_STATUS_OK;
            }
            setState(subscription, MAMA_SUBSCRIPTION_DESTROYING);
            break;
        case MAMA_SUBSCRIPTION_DEACTIVATING:
            setState(subscription, MAMA_SUBSCRIPTION_DESTROYING);
            break;
        case MAMA_SUBSCRIPTION_SETUP:
        case MAMA_SUBSCRIPTION_DEACTIVATED:
            finishDestroy(subscription);
            return MAMA_STATUS_OK;
        case MAMA_SUBSCRIPTION_ALLOCATED:
        case MAMA_SUBSCRIPTION_DESTROYING:
        case MAMA_SUBSCRIPTION_DESTROYED:
        case MAMA_SUBSCRIPTION_DEALLOCATING:
            break;
        default:
            wlock_unlock(subscription->mLock);
            return MAMA_STATUS_SUBSCRIPTION_INVALID_STATE;
        }
        wlock_unlock(subscription->mLock);
        return MAMA_STATUS_OK;
    }

    /* Destroy, and let the host free the subscription once destroyed: the
     * application must not deallocate it afterwards. */
    mama_status mamaSubscription_destroyEx(mamaSubscription subscription)
    {
        if (subscription == nullptr)
            return MAMA_STATUS_NULL_ARG;
        wlock_lock(subscription->mLock);
        switch (stateOf(subscription))
        {
        case MAMA_SUBSCRIPTION_ALLOCATED:
        case MAMA_SUBSCRIPTION_DESTROYED:
            wlock_unlock(subscription->mLock);
            freeSubscription(subscription);
            return MAMA_STATUS_OK;
        case MAMA_SUBSCRIPTION_DESTROYING:
            setState(subscription, MAMA_SUBSCRIPTION_DEALLOCATING);
            wlock_unlock(subscription->mLock);
            return MAMA_STATUS_OK;
        case MAMA_SUBSCRIPTION_DEALLOCATING:
            wlock_unlock(subscription->mLock);
            return MAMA_STATUS_OK;
        case MAMA_SUBSCRIPTION_SETUP:
        case MAMA_SUBSCRIPTION_ACTIVATED:
        case MAMA_SUBSCRIPTION_DEACTIVATING:
        case MAMA_SUBSCRIPTION_DEACTIVATED:
            subscription->mFreeWhenDestroyed = true;
            break;
        default:
            wlock_unlock(subscription->mLock);
            return MAMA_STATUS_SUBSCRIPTION_INVALID_STATE;
        }
        wlock_unlock(subscription->mLock);
        /* Every state that reaches this point is one destroy accepts. */
        return mamaSubscription_destroy(subscription);
    }

    mama_status mamaSubscription_processMsg(mamaSubscription subscription, mamaMsg message)
    {
        if (subscription == nullptr || message == nullptr)
            return MAMA_STATUS_NULL_ARG;
        wombat_subscriptionOnMsgCB onMsg = subscription->mUserCallbacks.onMsg;
        if (onMsg != nullptr)
            onMsg(subscription, message, subscription->mClosure, subscription->mItemClosure);
        return MAMA_STATUS_OK;
    }

    mama_status mamaSubscription_processWildCardMsg(mamaSubscription subscription, mamaMsg msg,
                                                    const char* topic, void* topicClosure)
    {
        if (subscription == nullptr || msg == nullptr)
            return MAMA_STATUS_NULL_ARG;
        wombat_subscriptionWildCardOnMsgCB onMsg = subscription->mWildCardOnMsg;
        if (onMsg != nullptr)
            onMsg(subscription, msg, topic, subscription->mClosure, topicClosure);
        return MAMA_STATUS_OK;
    }

    subscriptionBridge mamaSubscription_getSubscriptionBridge(mamaSubscription subscription)
    {
        return subscription == nullptr ? nullptr : subscription->mSubscBridge;
    }

    mamaBridge mamaSubscription_getBridgeImpl(mamaSubscription subscription)
    {
        return subscription == nullptr ? nullptr : subscription->mBridgeImpl;
    }

    mamaMsgCallbacks* mamaSubscription_getUserCallbacks(mamaSubscription subscription)
    {
        return subscription == nullptr ? nullptr : &subscription->mUserCallbacks;
    }

    mama_status mamaSubscription_getState(mamaSubscription subscription,
                                          mamaSubscriptionState* state)
    {
        if (subscription == nullptr || state == nullptr)
            return MAMA_STATUS_NULL_ARG;
        *state = stateOf(subscription);
        return MAMA_STATUS_OK;
    }

    mama_status mamaSubscription_getSymbol(mamaSubscription subscription, const char** symbol)
    {
        if (subscription == nullptr || symbol == nullptr)
            return MAMA_STATUS_NULL_ARG;
        *symbol = subscription->mSymbol.empty() ? nullptr : subscription->mSymbol.c_str();
        return MAMA_STATUS_OK;
    }

    /* Basic subscriptions have no source. */
    mama_status mamaSubscription_getSource(mamaSubscription subscription, const char** source)
    {
        if (subscription == nullptr || source == nullptr)
            return MAMA_STATUS_NULL_ARG;
        return MAMA_STATUS_INVALID_ARG;
    }

    mama_status mamaSubscription_getTransport(mamaSubscription subscription,
                                              mamaTransport* transport)
    {
        if (subscription == nullptr || transport == nullptr)
            return MAMA_STATUS_NULL_ARG;
        *transport = subscription->mTransport;
        return MAMA_STATUS_OK;
    }

    mama_status mamaSubscription_getQueue(mamaSubscription subscription, mamaQueue* queue)
    {
        if (subscription == nullptr || queue == nullptr)
            return MAMA_STATUS_NULL_ARG;
        *queue = subscription->mQueue;
        return MAMA_STATUS_OK;
    }

    mama_status mamaSubscription_getClosure(mamaSubscription subscription, void** closure)
    {
        if (subscription == nullptr || closure == nullptr)
            return MAMA_STATUS_NULL_ARG;
        *closure = subscription->mClosure;
        return MAMA_STATUS_OK;
    }

    mama_status mamaSubscription_getItemClosure(mamaSubscription subscription, void** closure)
    {
        if (subscription == nullptr || closure == nullptr)
            return MAMA_STATUS_NULL_ARG;
        *closure = subscription->mItemClosure;
        return MAMA_STATUS_OK;
    }

    /* On a wildcard subscription the bridge keeps the closure per topic. */
    mama_status mamaSubscription_setItemClosure(mamaSubscription subscription, void* closure)
    {
        if (subscription == nullptr)
            return MAMA_STATUS_NULL_ARG;
        wlock_lock(subscription->mLock);
        subscription->mItemClosure = closure;
        mama_status status = MAMA_STATUS_OK;
        if (subscription->mIsWildCard &&
            checkBridgeCall(subscription, &mamaBridgeImpl::bridgeMamaSubscriptionSetTopicClosure) ==
                MAMA_STATUS_OK)
        {
            status = subscription->mBridgeImpl->bridgeMamaSubscriptionSetTopicClosure(
                subscription->mSubscBridge, closure);
        }
        wlock_unlock(subscription->mLock);
        return status;
    }

    mama_status mamaSubscription_getSubscriptionType(mamaSubscription subscription,
                                                     mamaSubscriptionType* type)
    {
        if (subscription == nullptr || type == nullptr)
            return MAMA_STATUS_NULL_ARG;
        *type = subscription->mType;
        return MAMA_STATUS_OK;
    }

    mama_status mamaSubscription_setSubscriptionType(mamaSubscription subscription,
                                                     mamaSubscriptionType type)
    {
        if (subscription == nullptr)
            return MAMA_STATUS_NULL_ARG;
        subscription->mType = type;
        return MAMA_STATUS_OK;
    }

    mama_status mamaSubscription_setRequiresInitial(mamaSubscription subscription,
                                                    int requiresInitial)
    {
        if (subscription == nullptr)
            return MAMA_STATUS_NULL_ARG;
        subscription->mRequiresInitial = requiresInitial;
        return MAMA_STATUS_OK;
    }

    mama_status mamaSubscription_getRequiresInitial(mamaSubscription subscription,
                                                    int* requiresInitial)
    {
        if (subscription == nullptr || requiresInitial == nullptr)
            return MAMA_STATUS_NULL_ARG;
        *requiresInitial = subscription->mRequiresInitial;
        return MAMA_STATUS_OK;
    }

    /* Gap recovery belongs to the data-quality strategy of market-data
     * subscriptions; a subscription without one answers 5, as in the real host. */
    mama_status mamaSubscription_setRecoverGaps(mamaSubscription, int)
    {
        return MAMA_STATUS_NULL_ARG;
    }

    mama_status mamaSubscription_getRecoverGaps(mamaSubscription, int*)
    {
        return MAMA_STATUS_NULL_ARG;
    }

    mama_status mamaSubscription_setTimeout(mamaSubscription subscription, double timeout)
    {
        if (subscription == nullptr)
            return MAMA_STATUS_NULL_ARG;
        if (!std::isfinite(timeout) || timeout < 0)
            return MAMA_STATUS_INVALID_ARG;
        subscription->mTimeout = timeout;
        return MAMA_STATUS_OK;
    }

    mama_status mamaSubscription_getTimeout(mamaSubscription subscription, double* timeout)
    {
        if (subscription == nullptr || timeout == nullptr)
            return MAMA_STATUS_NULL_ARG;
        *timeout = subscription->mTimeout;
        return MAMA_STATUS_OK;
    }

    mama_status mamaSubscription_setRetries(mamaSubscription subscription, int retries)
    {
        if (subscription == nullptr)
            return MAMA_STATUS_NULL_ARG;
        if (retries < 0)
            return MAMA_STATUS_INVALID_ARG;
        subscription->mRetries = retries;
        return MAMA_STATUS_OK;
    }

    mama_status mamaSubscription_getRetries(mamaSubscription subscription, int* retries)
    {
        if (subscription == nullptr || retries == nullptr)
            return MAMA_STATUS_NULL_ARG;
        *retries = subscription->mRetries;
        return MAMA_STATUS_OK;
    }

    mama_status mamaSubscription_setServiceLevel(mamaSubscription subscription,
                                                 mamaServiceLevel serviceLevel, long)
    {
        if (subscription == nullptr)
            return MAMA_STATUS_NULL_ARG;
        subscription->mServiceLevel = serviceLevel;
        return MAMA_STATUS_OK;
    }

    mama_status mamaSubscription_getServiceLevel(mamaSubscription subscription,
                                                 mamaServiceLevel* serviceLevel)
    {
        if (subscription == nullptr || serviceLevel == nullptr)
            return MAMA_STATUS_NULL_ARG;
        *serviceLevel = subscription->mServiceLevel;
        return MAMA_STATUS_OK;
    }

    mama_status mamaSubscription_muteCurrentTopic(mamaSubscription subscription)
    {
        mama_status status =
            checkBridgeCall(subscription, &mamaBridgeImpl::bridgeMamaSubscriptionMuteCurrentTopic);
        if (status != MAMA_STATUS_OK)
            return status;
        return subscription->mBridgeImpl->bridgeMamaSubscriptionMuteCurrentTopic(
            subscription->mSubscBridge);
    }

    mama_status mamaSubscription_getPlatformError(mamaSubscription subscription, void** error)
    {
        if (error == nullptr)
            return MAMA_STATUS_NULL_ARG;
        mama_status status =
            checkBridgeCall(subscription, &mamaBridgeImpl::bridgeMamaSubscriptionGetPlatformError);
        if (status != MAMA_STATUS_OK)
            return status;
        return subscription->mBridgeImpl->bridgeMamaSubscriptionGetPlatformError(
            subscription->mSubscBridge, error);
    }

    int mamaSubscription_isActive(mamaSubscription subscription)
    {
        return subscription != nullptr && stateOf(subscription) == MAMA_SUBSCRIPTION_ACTIVATED;
    }

    int mamaSubscription_isValid(mamaSubscription subscription)
    {
        if (checkBridgeCall(subscription, &mamaBridgeImpl::bridgeMamaSubscriptionIsValid) !=
            MAMA_STATUS_OK)
        {
            return 0;
        }
        return subscription->mBridgeImpl->bridgeMamaSubscriptionIsValid(subscription->mSubscBridge);
    }

    int mamaSubscription_hasWildcards(mamaSubscription subscription)
    {
        if (checkBridgeCall(subscription, &mamaBridgeImpl::bridgeMamaSubscriptionHasWildcards) !=
            MAMA_STATUS_OK)
        {
            return 0;
        }
        return subscription->mBridgeImpl->bridgeMamaSubscriptionHasWildcards(
            subscription->mSubscBridge);
    }

    int mamaSubscription_isTportDisconnected(mamaSubscription subscription)
    {
        if (checkBridgeCall(subscription,
                            &mamaBridgeImpl::bridgeMamaSubscriptionIsTportDisconnected) !=
            MAMA_STATUS_OK)
        {
            return 0;
        }
        return subscription->mBridgeImpl->bridgeMamaSubscriptionIsTportDisconnected(
            subscription->mSubscBridge);
    }

} // extern "C"
