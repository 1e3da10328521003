/* What keeps a transport object alive after the application destroyed it:
 * its registered subscriptions and its queued events; and the gate that lets
 * destroy wait for the deliveries of events under way. The last reference to
 * go releases the object. */
#define CORVEX_LOG_MODULE "transport"

#include "transportLifetime.h"

#include <stdlib.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>
#include <unordered_set>
#include <vector>

#include "corvexBridge.h"
#include "flowControl.h"
#include "logging.h"
#include "properties.h"
#include "transport.h"
#include "transportList.h"

struct CorvexSubscriptionSet
{
    std::unordered_set<CorvexSubscription*> mEntries;
};

struct CorvexEventGate
{
    /* Guards mClosed and mDelivering; mIdle is signalled under it. */
    std::mutex mLock;
    std::condition_variable mIdle;
    bool mClosed = false;
    /* One entry per delivery under way, by the thread making it. */
    std::vector<std::thread::id> mDelivering;
};

namespace
{
void unlinkFromList(CorvexBridge* bridge, CorvexTransportBridge* transport)
{
    wlock_lock(bridge->mTransportListLock);
    /* A concurrent creation walks the list and reads names: free it here. */
    free(transport->mName);
    transport->mName = NULL;
    corvexTransportList_remove(bridge->mTransportList, transport);
    wlock_unlock(bridge->mTransportListLock);
}

/* A transport is released once it is destroyed and has neither subscriptions
 * nor queued events; read with mSubscriptionsLock held. */
bool isReleasable(const CorvexTransportBridge* transport)
{
    return transport->mDestroyFinished && transport->mSubscriptions->mEntries.empty() &&
           transport->mPendingEvents == 0;
}
} // namespace

mama_status corvexTransportLifetime_init(CorvexTransportBridge* transport)
{
    transport->mSubscriptions = new (std::nothrow) CorvexSubscriptionSet;
    if (transport->mSubscriptions == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to create list of subscriptions");
        return MAMA_STATUS_PLATFORM;
    }
    transport->mEventGate = new (std::nothrow) CorvexEventGate;
    if (transport->mEventGate == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to allocate memory for transport event gate");
        return MAMA_STATUS_NOMEM;
    }
    return MAMA_STATUS_OK;
}

void corvexTransportLifetime_free(CorvexTransportBridge* transport)
{
    delete transport->mSubscriptions;
    transport->mSubscriptions = NULL;
    delete transport->mEventGate;
    transport->mEventGate = NULL;
}

void corvexTransportLifetime_closeEventGate(CorvexTransportBridge* transport)
{
    CorvexEventGate* gate = transport->mEventGate;
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::mutex> guard(gate->mLock);
    gate->mClosed = true;
    /* A transport destroyed from inside its own event callback does not wait
     * for that delivery. */
    gate->mIdle.wait(guard,
                     [gate, self]
                     {
                         return std::all_of(gate->mDelivering.begin(), gate->mDelivering.end(),
                                            [self](std::thread::id thread)
                                            { return thread == self; });
                     });
}

mama_status corvexTransportLifetime_finishDestroy(CorvexTransportBridge* transport)
{
    wlock_lock(transport->mSubscriptionsLock);
    transport->mDestroyFinished = 1;
    bool release = isReleasable(transport);
    wlock_unlock(transport->mSubscriptionsLock);
    return release ? corvexTransportLifetime_release(transport) : MAMA_STATUS_OK;
}

mama_status corvexTransportLifetime_release(CorvexTransportBridge* transport)
{
    corvexTransportLifetime_free(transport);
    wlock_destroy(transport->mSubscriptionsLock);
    transport->mSubscriptionsLock = NULL;
    corvexProperties_destroy(&transport->mCorvexProperties);
    corvexFlowControl_destroyTransport(&transport->mFlowControl);
    wlock_destroy(transport->mCacheSessionLock);
    transport->mCacheSessionLock = NULL;
    corvexThrottledLog_destroy(transport->mThrottledLog);
    transport->mThrottledLog = NULL;

    CorvexBridge* bridge = transport->mBridge_p;
    if (bridge == NULL || bridge->mTransportList == NULL)
    {
        CORVEX_LOG(
            CORVEX_LOG_ERROR,
            "Unexpected NULL pointer (mBridge_p or mBridge_p->mTransportList); mBridge_p: %p",
            (void*)bridge);
        free(transport->mName);
        transport->mName = NULL;
        return MAMA_STATUS_PLATFORM;
    }
    unlinkFromList(bridge, transport);
    return MAMA_STATUS_OK;
}

mama_status corvexTransportLifetime_addSubscription(CorvexTransportBridge* transport,
                                                    CorvexSubscription* subscription)
{
    if (transport == NULL || subscription == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    mama_status result = MAMA_STATUS_OK;
    wlock_lock(transport->mSubscriptionsLock);
    if (transport->mSession == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Transport has been destroyed");
        result = MAMA_STATUS_PLATFORM;
    }
    else
    {
        try
        {
            if (!transport->mSubscriptions->mEntries.insert(subscription).second)
            {
                CORVEX_LOG(CORVEX_LOG_ERROR, "Adding same subscription to transport twice");
            }
        }
        catch (const std::bad_alloc&)
        {
            CORVEX_LOG(CORVEX_LOG_ERROR,
                       "Couldn't append subscription to transports subscription list");
            result = MAMA_STATUS_NOMEM;
        }
    }
    wlock_unlock(transport->mSubscriptionsLock);
    return result;
}

mama_status corvexTransportLifetime_removeSubscription(CorvexTransportBridge* transport,
                                                       CorvexSubscription* subscription)
{
    if (transport == NULL || subscription == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    mama_status result = MAMA_STATUS_OK;
    wlock_lock(transport->mSubscriptionsLock);
    if (transport->mSubscriptions->mEntries.erase(subscription) == 0)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "subscription not registered on transport");
        result = MAMA_STATUS_INVALID_ARG;
    }
    bool release = isReleasable(transport);
    wlock_unlock(transport->mSubscriptionsLock);
    return release ? corvexTransportLifetime_release(transport) : result;
}

corvexClient_session_t corvexTransportLifetime_session(CorvexTransportBridge* transport)
{
    wlock_lock(transport->mSubscriptionsLock);
    corvexClient_session_t session = transport->mSession;
    wlock_unlock(transport->mSubscriptionsLock);
    return session;
}

int corvexTransportLifetime_holdForEvent(CorvexTransportBridge* transport)
{
    wlock_lock(transport->mSubscriptionsLock);
    bool live = transport->mSession != NULL;
    if (live)
    {
        ++transport->mPendingEvents;
    }
    wlock_unlock(transport->mSubscriptionsLock);
    return live;
}

int corvexTransportLifetime_beginDelivery(CorvexTransportBridge* transport)
{
    CorvexEventGate* gate = transport->mEventGate;
    std::lock_guard<std::mutex> guard(gate->mLock);
    if (gate->mClosed)
    {
        return 0;
    }
    gate->mDelivering.push_back(std::this_thread::get_id());
    return 1;
}

void corvexTransportLifetime_endDelivery(CorvexTransportBridge* transport)
{
    CorvexEventGate* gate = transport->mEventGate;
    std::lock_guard<std::mutex> guard(gate->mLock);
    auto entry =
        std::find(gate->mDelivering.begin(), gate->mDelivering.end(), std::this_thread::get_id());
    if (entry != gate->mDelivering.end())
    {
        gate->mDelivering.erase(entry);
    }
    gate->mIdle.notify_all();
}

void corvexTransportLifetime_dropEventHold(CorvexTransportBridge* transport)
{
    wlock_lock(transport->mSubscriptionsLock);
    --transport->mPendingEvents;
    bool release = isReleasable(transport);
    wlock_unlock(transport->mSubscriptionsLock);
    if (release)
    {
        corvexTransportLifetime_release(transport);
    }
}
