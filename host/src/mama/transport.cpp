/* mamaTransport: a named connection of one middleware bridge, made of one or
 * more bridge sub-transports (more than one only when the bridge asks for load
 * balancing), with the application's transport and topic event callbacks. */
#include <cmath>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "bridge.h"
#include "mama/mama.h"
#include "transportimpl.h"
#include "wombat/strutils.h"

namespace
{

/* The period the real host uses for its refresh timer. */
const mama_f64_t kRefreshIntervalSeconds = 13.99;

} // namespace

struct mamaTransportImpl_
{
    mamaBridgeImpl* mBridgeImpl = nullptr;
    std::vector<transportBridge> mSubTransports; /* empty until created */
    std::string mName;
    std::string mMiddleware;
    std::string mDescription;
    tportLbScheme mLbScheme = TPORT_LB_SCHEME_STATIC;
    mamaTimer mRefreshTimer = nullptr;
    double mThrottleRate = MAMA_DEFAULT_THROTTLE_RATE;
    double mRecapThrottleRate = MAMA_DEFAULT_RECAP_THROTTLE_RATE;

    /* Application callbacks: set on application threads, invoked from the
     * bridge's threads. */
    std::mutex mCallbackLock;
    mamaTransportCB mTransportCb = nullptr;
    void* mTransportClosure = nullptr;
    mamaTransportTopicCB mTopicCb = nullptr;
    void* mTopicClosure = nullptr;
    mamaQueue mCallbackQueue = nullptr;
    /* Valid only while a transport callback runs. */
    short mAdvisoryCause = 0;
    const void* mAdvisoryPlatformInfo = nullptr;
};

namespace
{

/* This host has no market-data subscriptions to refresh; the timer exists so
 * that a bridge sees the same timer traffic it would see under the real host. */
void MAMACALLTYPE onRefreshTimer(mamaTimer, void*) {}

/* The real host always runs a refresh timer; ours only on request, because it
 * holds the default queue open and does no work here. */
bool refreshRequested(const std::string& name)
{
    std::string prefix = "mama.transport." + name;
    return strtobool(mama_getProperty((prefix + ".enable_refresh").c_str())) &&
           !strtobool(mama_getProperty((prefix + ".disable_refresh").c_str()));
}

mama_status destroySubTransports(mamaTransport self)
{
    mama_status result = MAMA_STATUS_OK;
    for (transportBridge sub : self->mSubTransports)
    {
        if (sub == nullptr)
            continue;
        mama_status status = self->mBridgeImpl->bridgeMamaTransportDestroy(sub);
        if (status != MAMA_STATUS_OK)
        {
            mama_log(MAMA_LOG_LEVEL_ERROR,
                     "mamaTransport_destroy(): bridge could not destroy a sub-transport of %s: %s",
                     self->mName.c_str(), mamaStatus_stringForStatus(status));
            if (result == MAMA_STATUS_OK)
                result = status;
        }
    }
    self->mSubTransports.clear();
    return result;
}

/* How many sub-transports the bridge wants for this name: 1 unless it reports
 * load-balance attributes. */
int subTransportCount(mamaTransport self, const char* name)
{
    mamaBridgeImpl* bridge = self->mBridgeImpl;
    int count = 0;
    if (bridge->bridgeMamaTransportGetNumLoadBalanceAttributes == nullptr ||
        bridge->bridgeMamaTransportGetNumLoadBalanceAttributes(name, &count) != MAMA_STATUS_OK ||
        count < 2)
    {
        return 1;
    }
    if (bridge->bridgeMamaTransportGetLoadBalanceScheme != nullptr &&
        bridge->bridgeMamaTransportGetLoadBalanceScheme(name, &self->mLbScheme) != MAMA_STATUS_OK)
    {
        self->mLbScheme = TPORT_LB_SCHEME_STATIC;
    }
    return count;
}

} // namespace

extern "C"
{

    mama_status mamaTransport_allocate(mamaTransport* result)
    {
        if (result == nullptr)
            return MAMA_STATUS_NULL_ARG;
        *result = new (std::nothrow) mamaTransportImpl_();
        return *result == nullptr ? MAMA_STATUS_NOMEM : MAMA_STATUS_OK;
    }

    mama_status mamaTransport_create(mamaTransport transport, const char* name,
                                     mamaBridge bridgeImpl)
    {
        if (transport == nullptr)
            return MAMA_STATUS_NULL_ARG;
        if (bridgeImpl == nullptr)
            return MAMA_STATUS_NO_BRIDGE_IMPL;
        if (!transport->mSubTransports.empty())
        {
            mama_log(MAMA_LOG_LEVEL_ERROR, "mamaTransport_create(): transport %s already created",
                     transport->mName.c_str());
            return MAMA_STATUS_INVALID_ARG;
        }
        if (name == nullptr)
            name = "default";
        const char* middleware =
            bridgeImpl->bridgeGetName != nullptr ? bridgeImpl->bridgeGetName() : nullptr;

        mamaQueue defaultQueue = nullptr;
        mama_status status = mama_getDefaultEventQueue(bridgeImpl, &defaultQueue);
        if (status != MAMA_STATUS_OK)
        {
            mama_log(MAMA_LOG_LEVEL_ERROR,
                     "mamaTransport_create(): no default event queue for transport %s: %s", name,
                     mamaStatus_stringForStatus(status));
            return status;
        }

        transport->mBridgeImpl = bridgeImpl;
        transport->mName = name;
        transport->mMiddleware = middleware != nullptr ? middleware : "";
        int count = subTransportCount(transport, name);
        /* Sized before the bridge runs: it may look up sub-transport 0 while
         * creating it. */
        transport->mSubTransports.assign(count, nullptr);
        for (int i = 0; i < count; ++i)
        {
            std::string subName =
                count > 1 ? transport->mName + ".lb" + std::to_string(i) : transport->mName;
            status = bridgeImpl->bridgeMamaTransportCreate(&transport->mSubTransports[i],
                                                           subName.c_str(), transport);
            if (status != MAMA_STATUS_OK)
            {
                mama_log(MAMA_LOG_LEVEL_ERROR,
                         "mamaTransport_create(): bridge could not create %s: %s", subName.c_str(),
                         mamaStatus_stringForStatus(status));
                transport->mSubTransports[i] = nullptr;
                destroySubTransports(transport);
                transport->mBridgeImpl = nullptr;
                return status;
            }
        }

        if (refreshRequested(transport->mName))
        {
            mama_status timerStatus =
                mamaTimer_create(&transport->mRefreshTimer, defaultQueue, onRefreshTimer,
                                 kRefreshIntervalSeconds, transport);
            if (timerStatus != MAMA_STATUS_OK)
            {
                transport->mRefreshTimer = nullptr;
                mama_log(MAMA_LOG_LEVEL_WARN,
                         "mamaTransport_create(): could not create the refresh timer of %s: %s",
                         name, mamaStatus_stringForStatus(timerStatus));
            }
        }
        return MAMA_STATUS_OK;
    }

    mama_status mamaTransport_destroy(mamaTransport transport)
    {
        if (transport == nullptr)
            return MAMA_STATUS_NULL_ARG;
        mama_status status = MAMA_STATUS_OK;
        if (!transport->mSubTransports.empty())
        {
            /* The real host keeps the refresh timer when a sub-transport is no
             * longer valid; it would then hold the default queue open for ever,
             * so it is always destroyed here. */
            if (transport->mRefreshTimer != nullptr)
            {
                mamaTimer_destroy(transport->mRefreshTimer);
                transport->mRefreshTimer = nullptr;
            }
            status = destroySubTransports(transport);
        }
        mamaTransport_deallocate(transport);
        return status;
    }

    mama_status mamaTransport_deallocate(mamaTransport transport)
    {
        if (transport == nullptr)
            return MAMA_STATUS_NULL_ARG;
        delete transport;
        return MAMA_STATUS_OK;
    }

    mama_status mamaTransport_setTransportCallback(mamaTransport transport,
                                                   mamaTransportCB callback, void* closure)
    {
        if (transport == nullptr)
            return MAMA_STATUS_NULL_ARG;
        std::lock_guard<std::mutex> guard(transport->mCallbackLock);
        transport->mTransportCb = callback;
        transport->mTransportClosure = closure;
        return MAMA_STATUS_OK;
    }

    mama_status mamaTransport_setTransportTopicCallback(mamaTransport transport,
                                                        mamaTransportTopicCB callback,
                                                        void* closure)
    {
        if (transport == nullptr)
            return MAMA_STATUS_NULL_ARG;
        std::lock_guard<std::mutex> guard(transport->mCallbackLock);
        transport->mTopicCb = callback;
        transport->mTopicClosure = closure;
        return MAMA_STATUS_OK;
    }

    mama_status mamaTransport_setTransportCallbackQueue(mamaTransport transport, mamaQueue queue)
    {
        if (transport == nullptr)
            return MAMA_STATUS_NULL_ARG;
        std::lock_guard<std::mutex> guard(transport->mCallbackLock);
        transport->mCallbackQueue = queue;
        return MAMA_STATUS_OK;
    }

    mama_status mamaTransport_getTransportCallbackQueue(mamaTransport transport, mamaQueue* queue)
    {
        if (transport == nullptr || queue == nullptr)
            return MAMA_STATUS_NULL_ARG;
        std::lock_guard<std::mutex> guard(transport->mCallbackLock);
        *queue = transport->mCallbackQueue;
        return MAMA_STATUS_OK;
    }

    mama_status mamaTransport_getAdvisoryCauseAndPlatformInfo(mamaTransport transport, short* cause,
                                                              const void** platformInfo)
    {
        if (transport == nullptr || cause == nullptr || platformInfo == nullptr)
            return MAMA_STATUS_NULL_ARG;
        std::lock_guard<std::mutex> guard(transport->mCallbackLock);
        *cause = transport->mAdvisoryCause;
        *platformInfo = transport->mAdvisoryPlatformInfo;
        return MAMA_STATUS_OK;
    }

    void mamaTransportImpl_invokeTransportCallback(mamaTransport transport,
                                                   mamaTransportEvent event, short cause,
                                                   const void* platformInfo)
    {
        if (transport == nullptr)
        {
            mama_log(MAMA_LOG_LEVEL_ERROR,
                     "mamaTransportImpl_invokeTransportCallback(): NULL transport");
            return;
        }
        mamaTransportCB callback;
        void* closure;
        {
            std::lock_guard<std::mutex> guard(transport->mCallbackLock);
            callback = transport->mTransportCb;
            closure = transport->mTransportClosure;
            transport->mAdvisoryCause = cause;
            transport->mAdvisoryPlatformInfo = platformInfo;
        }
        /* Called without the lock: the application may set callbacks or read the
         * advisory cause from inside. */
        if (callback != nullptr)
            callback(transport, event, cause, platformInfo, closure);
        std::lock_guard<std::mutex> guard(transport->mCallbackLock);
        transport->mAdvisoryCause = 0;
        transport->mAdvisoryPlatformInfo = nullptr;
    }

    /* The real host passes the last transport event's platform information here
     * instead of the caller's; this host passes what the caller gave. */
    void mamaTransportImpl_invokeTransportTopicCallback(mamaTransport transport,
                                                        mamaTransportTopicEvent event,
                                                        const char* topic, const void* platformInfo)
    {
        if (transport == nullptr)
        {
            mama_log(MAMA_LOG_LEVEL_ERROR,
                     "mamaTransportImpl_invokeTransportTopicCallback(): NULL transport");
            return;
        }
        mamaTransportTopicCB callback;
        void* closure;
        {
            std::lock_guard<std::mutex> guard(transport->mCallbackLock);
            callback = transport->mTopicCb;
            closure = transport->mTopicClosure;
        }
        if (callback != nullptr)
            callback(transport, event, topic, platformInfo, closure);
    }

    mama_status mamaTransport_getBridgeTransport(mamaTransport transport, transportBridge* result)
    {
        return mamaTransport_getBridgeTransportByIndex(transport, 0, result);
    }

    mama_status mamaTransport_getBridgeTransportByIndex(mamaTransport tport, int tportIndex,
                                                        transportBridge* result)
    {
        if (tport == nullptr || result == nullptr)
            return MAMA_STATUS_NULL_ARG;
        *result = nullptr;
        if (tportIndex < 0 || static_cast<size_t>(tportIndex) >= tport->mSubTransports.size())
            return MAMA_STATUS_INVALID_ARG;
        *result = tport->mSubTransports[tportIndex];
        return MAMA_STATUS_OK;
    }

    mamaBridge mamaTransportImpl_getBridgeImpl(mamaTransport transport)
    {
        return transport == nullptr ? nullptr : transport->mBridgeImpl;
    }

    int mamaTransportImpl_disableRefresh(mamaTransport transport)
    {
        return transport == nullptr || transport->mRefreshTimer == nullptr;
    }

    /* Every sender of this host uses sub-transport 0. */
    mama_status mamaTransportImpl_getTransportIndex(mamaTransport transport, int* tportIndex)
    {
        if (transport == nullptr || tportIndex == nullptr)
            return MAMA_STATUS_NULL_ARG;
        *tportIndex = 0;
        return MAMA_STATUS_OK;
    }

    mama_status mamaTransport_getName(mamaTransport transport, const char** result)
    {
        if (transport == nullptr || result == nullptr)
            return MAMA_STATUS_NULL_ARG;
        *result = transport->mSubTransports.empty() ? nullptr : transport->mName.c_str();
        return MAMA_STATUS_OK;
    }

    mama_status mamaTransport_getMiddleware(mamaTransport transport, const char** result)
    {
        if (transport == nullptr || result == nullptr)
            return MAMA_STATUS_NULL_ARG;
        if (transport->mBridgeImpl == nullptr)
            return MAMA_STATUS_NO_BRIDGE_IMPL;
        *result = transport->mMiddleware.c_str();
        return MAMA_STATUS_OK;
    }

    mama_status mamaTransport_setDescription(mamaTransport transport, const char* description)
    {
        if (transport == nullptr || description == nullptr)
            return MAMA_STATUS_NULL_ARG;
        transport->mDescription = description;
        return MAMA_STATUS_OK;
    }

    mama_status mamaTransport_getDescription(mamaTransport transport, const char** description)
    {
        if (transport == nullptr || description == nullptr)
            return MAMA_STATUS_NULL_ARG;
        *description = transport->mDescription.empty() ? nullptr : transport->mDescription.c_str();
        return MAMA_STATUS_OK;
    }

    /* Rates are kept for the application; this host has no market-data requests
     * to throttle. Initial-value requests share the default rate. */
    mama_status mamaTransport_setOutboundThrottle(mamaTransport transport,
                                                  mamaThrottleInstance instance,
                                                  double outboundThrottle)
    {
        if (transport == nullptr)
            return MAMA_STATUS_NULL_ARG;
        if (!std::isfinite(outboundThrottle) || outboundThrottle < 0)
            return MAMA_STATUS_INVALID_ARG;
        switch (instance)
        {
        case MAMA_THROTTLE_DEFAULT:
        case MAMA_THROTTLE_INITIAL:
            transport->mThrottleRate = outboundThrottle;
            return MAMA_STATUS_OK;
        case MAMA_THROTTLE_RECAP:
            transport->mRecapThrottleRate = outboundThrottle;
            return MAMA_STATUS_OK;
        }
        return MAMA_STATUS_INVALID_ARG;
    }

    mama_status mamaTransport_getOutboundThrottle(mamaTransport transport,
                                                  mamaThrottleInstance instance, double* result)
    {
        if (transport == nullptr || result == nullptr)
            return MAMA_STATUS_NULL_ARG;
        switch (instance)
        {
        case MAMA_THROTTLE_DEFAULT:
        case MAMA_THROTTLE_INITIAL:
            *result = transport->mThrottleRate;
            return MAMA_STATUS_OK;
        case MAMA_THROTTLE_RECAP:
            *result = transport->mRecapThrottleRate;
            return MAMA_STATUS_OK;
        }
        return MAMA_STATUS_INVALID_ARG;
    }

    mama_status mamaTransport_getNativeTransport(mamaTransport transport, int index, void** result)
    {
        transportBridge sub = nullptr;
        mama_status status = mamaTransport_getBridgeTransportByIndex(transport, index, &sub);
        if (status != MAMA_STATUS_OK)
            return status;
        if (transport->mBridgeImpl->bridgeMamaTransportGetNativeTransport == nullptr)
            return MAMA_STATUS_NOT_IMPLEMENTED;
        return transport->mBridgeImpl->bridgeMamaTransportGetNativeTransport(sub, result);
    }

    mama_status mamaTransport_getNativeTransportNamingCtx(mamaTransport transport, int index,
                                                          void** result)
    {
        transportBridge sub = nullptr;
        mama_status status = mamaTransport_getBridgeTransportByIndex(transport, index, &sub);
        if (status != MAMA_STATUS_OK)
            return status;
        if (transport->mBridgeImpl->bridgeMamaTransportGetNativeTransportNamingCtx == nullptr)
            return MAMA_STATUS_NOT_IMPLEMENTED;
        return transport->mBridgeImpl->bridgeMamaTransportGetNativeTransportNamingCtx(sub, result);
    }

    const char* mamaTransportEvent_toString(mamaTransportEvent event)
    {
        switch (event)
        {
        case MAMA_TRANSPORT_CONNECT:
            return "CONNECT";
        case MAMA_TRANSPORT_CONNECT_FAILED:
            return "CONNECT_FAILED";
        case MAMA_TRANSPORT_RECONNECT:
            return "RECONNECT";
        case MAMA_TRANSPORT_DISCONNECT:
            return "DISCONNECT";
        case MAMA_TRANSPORT_ACCEPT:
            return "ACCEPT";
        case MAMA_TRANSPORT_ACCEPT_RECONNECT:
            return "ACCEPT_RECONNECT";
        case MAMA_TRANSPORT_PUBLISHER_DISCONNECT:
            return "PUBLISHER_DISCONNECT";
        case MAMA_TRANSPORT_QUALITY:
            return "QUALITY";
        case MAMA_TRANSPORT_NAMING_SERVICE_CONNECT:
            return "NAMING_SERVICE_CONNECT";
        case MAMA_TRANSPORT_NAMING_SERVICE_DISCONNECT:
            return "NAMING_SERVICE_DISCONNECT";
        case MAMA_TRANSPORT_WRITE_QUEUE_HIGH_WATER_MARK:
            return "MAMA_TRANSPORT_WRITE_QUEUE_HIGH_WATER_MARK";
        case MAMA_TRANSPORT_WRITE_QUEUE_LOW_WATER_MARK:
            return "MAMA_TRANSPORT_WRITE_QUEUE_LOW_WATER_MARK";
        }
        return "UNKNOWN";
    }

    const char* mamaTransportTopicEvent_toString(mamaTransportTopicEvent event)
    {
        switch (event)
        {
        case MAMA_TRANSPORT_TOPIC_SUBSCRIBED:
            return "SUBSCRIBED";
        case MAMA_TRANSPORT_TOPIC_UNSUBSCRIBED:
            return "UNSUBSCRIBED";
        case MAMA_TRANSPORT_TOPIC_PUBLISH_ERROR:
            return "PUBLISH_ERROR";
        case MAMA_TRANSPORT_TOPIC_PUBLISH_ERROR_NOT_ENTITLED:
            return "PUBLISH_ERROR_NOT_ENTITLED";
        case MAMA_TRANSPORT_TOPIC_PUBLISH_ERROR_BAD_SYMBOL:
            return "PUBLISH_ERROR_BAD_SYMBOL";
        }
        return "UNKNOWN";
    }

} // extern "C"
