// Loading middleware bridges: open the library, resolve its functions, let it
// initialise and open, and keep it in the registry until mama_close.
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <mutex>
#include <string>

#include "bridgeregistry.h"
#include "mamainternal.h"
#include "wombat/strutils.h"

namespace
{
struct BridgeSymbol
{
    const char* mSuffix; // appended to the middleware name
    size_t mOffset;      // slot in mamaBridgeImpl
    bool mMandatory;
};

// Every exported bridge function after <name>Bridge_init, in lookup order.
const BridgeSymbol kBridgeSymbols[] = {
    {"Bridge_start", offsetof(mamaBridgeImpl, bridgeStart), true},
    {"Bridge_stop", offsetof(mamaBridgeImpl, bridgeStop), true},
    {"Bridge_open", offsetof(mamaBridgeImpl, bridgeOpen), true},
    {"Bridge_close", offsetof(mamaBridgeImpl, bridgeClose), true},
    {"Bridge_getVersion", offsetof(mamaBridgeImpl, bridgeGetVersion), true},
    {"Bridge_getName", offsetof(mamaBridgeImpl, bridgeGetName), true},
    {"Bridge_getDefaultPayloadId", offsetof(mamaBridgeImpl, bridgeGetDefaultPayloadId), true},
    {"BridgeMamaQueue_create", offsetof(mamaBridgeImpl, bridgeMamaQueueCreate), true},
    {"BridgeMamaQueue_create_usingNative",
     offsetof(mamaBridgeImpl, bridgeMamaQueueCreateUsingNative), false},
    {"BridgeMamaQueue_destroy", offsetof(mamaBridgeImpl, bridgeMamaQueueDestroy), true},
    {"BridgeMamaQueue_getEventCount", offsetof(mamaBridgeImpl, bridgeMamaQueueGetEventCount),
     false},
    {"BridgeMamaQueue_dispatch", offsetof(mamaBridgeImpl, bridgeMamaQueueDispatch), true},
    {"BridgeMamaQueue_timedDispatch", offsetof(mamaBridgeImpl, bridgeMamaQueueTimedDispatch), true},
    {"BridgeMamaQueue_dispatchEvent", offsetof(mamaBridgeImpl, bridgeMamaQueueDispatchEvent), true},
    {"BridgeMamaQueue_enqueueEvent", offsetof(mamaBridgeImpl, bridgeMamaQueueEnqueueEvent), true},
    {"BridgeMamaQueue_stopDispatch", offsetof(mamaBridgeImpl, bridgeMamaQueueStopDispatch), true},
    {"BridgeMamaQueue_setEnqueueCallback",
     offsetof(mamaBridgeImpl, bridgeMamaQueueSetEnqueueCallback), false},
    {"BridgeMamaQueue_removeEnqueueCallback",
     offsetof(mamaBridgeImpl, bridgeMamaQueueRemoveEnqueueCallback), false},
    {"BridgeMamaQueue_getNativeHandle", offsetof(mamaBridgeImpl, bridgeMamaQueueGetNativeHandle),
     false},
    {"BridgeMamaQueue_setLowWatermark", offsetof(mamaBridgeImpl, bridgeMamaQueueSetLowWatermark),
     false},
    {"BridgeMamaQueue_setHighWatermark", offsetof(mamaBridgeImpl, bridgeMamaQueueSetHighWatermark),
     false},
    {"BridgeMamaTransport_isValid", offsetof(mamaBridgeImpl, bridgeMamaTransportIsValid), true},
    {"BridgeMamaTransport_destroy", offsetof(mamaBridgeImpl, bridgeMamaTransportDestroy), true},
    {"BridgeMamaTransport_create", offsetof(mamaBridgeImpl, bridgeMamaTransportCreate), true},
    {"BridgeMamaTransport_forceClientDisconnect",
     offsetof(mamaBridgeImpl, bridgeMamaTransportForceClientDisconnect), false},
    {"BridgeMamaTransport_findConnection",
     offsetof(mamaBridgeImpl, bridgeMamaTransportFindConnection), false},
    {"BridgeMamaTransport_getAllConnections",
     offsetof(mamaBridgeImpl, bridgeMamaTransportGetAllConnections), false},
    {"BridgeMamaTransport_getAllConnectionsForTopic",
     offsetof(mamaBridgeImpl, bridgeMamaTransportGetAllConnectionsForTopic), false},
    {"BridgeMamaTransport_freeAllConnections",
     offsetof(mamaBridgeImpl, bridgeMamaTransportFreeAllConnections), false},
    {"BridgeMamaTransport_getAllServerConnections",
     offsetof(mamaBridgeImpl, bridgeMamaTransportGetAllServerConnections), false},
    {"BridgeMamaTransport_freeAllServerConnections",
     offsetof(mamaBridgeImpl, bridgeMamaTransportFreeAllServerConnections), false},
    {"BridgeMamaTransport_getNumLoadBalanceAttributes",
     offsetof(mamaBridgeImpl, bridgeMamaTransportGetNumLoadBalanceAttributes), false},
    {"BridgeMamaTransport_getLoadBalanceScheme",
     offsetof(mamaBridgeImpl, bridgeMamaTransportGetLoadBalanceScheme), false},
    {"BridgeMamaTransport_getLoadBalanceSharedObjectName",
     offsetof(mamaBridgeImpl, bridgeMamaTransportGetLoadBalanceSharedObjectName), false},
    {"BridgeMamaTransport_sendMsgToConnection",
     offsetof(mamaBridgeImpl, bridgeMamaTransportSendMsgToConnection), false},
    {"BridgeMamaTransport_isConnectionIntercepted",
     offsetof(mamaBridgeImpl, bridgeMamaTransportIsConnectionIntercepted), false},
    {"BridgeMamaTransport_installConnectConflateMgr",
     offsetof(mamaBridgeImpl, bridgeMamaTransportInstallConnectConflateMgr), false},
    {"BridgeMamaTransport_uninstallConnectConflateMgr",
     offsetof(mamaBridgeImpl, bridgeMamaTransportUninstallConnectConflateMgr), false},
    {"BridgeMamaTransport_startConnectionConflation",
     offsetof(mamaBridgeImpl, bridgeMamaTransportStartConnectionConflation), false},
    {"BridgeMamaTransport_requestConflation",
     offsetof(mamaBridgeImpl, bridgeMamaTransportRequestConflation), false},
    {"BridgeMamaTransport_requestEndConflation",
     offsetof(mamaBridgeImpl, bridgeMamaTransportRequestEndConflation), false},
    {"BridgeMamaTransport_getNativeTransport",
     offsetof(mamaBridgeImpl, bridgeMamaTransportGetNativeTransport), false},
    {"BridgeMamaTransport_getNativeTransportNamingCtx",
     offsetof(mamaBridgeImpl, bridgeMamaTransportGetNativeTransportNamingCtx), false},
    {"BridgeMamaSubscription_create", offsetof(mamaBridgeImpl, bridgeMamaSubscriptionCreate), true},
    {"BridgeMamaSubscription_createWildCard",
     offsetof(mamaBridgeImpl, bridgeMamaSubscriptionCreateWildCard), false},
    {"BridgeMamaSubscription_mute", offsetof(mamaBridgeImpl, bridgeMamaSubscriptionMute), true},
    {"BridgeMamaSubscription_destroy", offsetof(mamaBridgeImpl, bridgeMamaSubscriptionDestroy),
     true},
    {"BridgeMamaSubscription_isValid", offsetof(mamaBridgeImpl, bridgeMamaSubscriptionIsValid),
     true},
    {"BridgeMamaSubscription_hasWildcards",
     offsetof(mamaBridgeImpl, bridgeMamaSubscriptionHasWildcards), false},
    {"BridgeMamaSubscription_getPlatformError",
     offsetof(mamaBridgeImpl, bridgeMamaSubscriptionGetPlatformError), false},
    {"BridgeMamaSubscription_setTopicClosure",
     offsetof(mamaBridgeImpl, bridgeMamaSubscriptionSetTopicClosure), false},
    {"BridgeMamaSubscription_muteCurrentTopic",
     offsetof(mamaBridgeImpl, bridgeMamaSubscriptionMuteCurrentTopic), false},
    {"BridgeMamaSubscription_isTportDisconnected",
     offsetof(mamaBridgeImpl, bridgeMamaSubscriptionIsTportDisconnected), false},
    {"BridgeMamaTimer_create", offsetof(mamaBridgeImpl, bridgeMamaTimerCreate), true},
    {"BridgeMamaTimer_destroy", offsetof(mamaBridgeImpl, bridgeMamaTimerDestroy), true},
    {"BridgeMamaTimer_reset", offsetof(mamaBridgeImpl, bridgeMamaTimerReset), false},
    {"BridgeMamaTimer_setInterval", offsetof(mamaBridgeImpl, bridgeMamaTimerSetInterval), false},
    {"BridgeMamaTimer_getInterval", offsetof(mamaBridgeImpl, bridgeMamaTimerGetInterval), false},
    {"BridgeMamaIo_create", offsetof(mamaBridgeImpl, bridgeMamaIoCreate), false},
    {"BridgeMamaIo_getDescriptor", offsetof(mamaBridgeImpl, bridgeMamaIoGetDescriptor), false},
    {"BridgeMamaIo_destroy", offsetof(mamaBridgeImpl, bridgeMamaIoDestroy), false},
    {"BridgeMamaPublisher_createByIndex",
     offsetof(mamaBridgeImpl, bridgeMamaPublisherCreateByIndex), true},
    {"BridgeMamaPublisher_destroy", offsetof(mamaBridgeImpl, bridgeMamaPublisherDestroy), true},
    {"BridgeMamaPublisher_send", offsetof(mamaBridgeImpl, bridgeMamaPublisherSend), true},
    {"BridgeMamaPublisher_sendFromInbox",
     offsetof(mamaBridgeImpl, bridgeMamaPublisherSendFromInbox), true},
    {"BridgeMamaPublisher_sendFromInboxByIndex",
     offsetof(mamaBridgeImpl, bridgeMamaPublisherSendFromInboxByIndex), true},
    {"BridgeMamaPublisher_sendReplyToInbox",
     offsetof(mamaBridgeImpl, bridgeMamaPublisherSendReplyToInbox), true},
    {"BridgeMamaPublisher_sendReplyToInboxHandle",
     offsetof(mamaBridgeImpl, bridgeMamaPublisherSendReplyToInboxHandle), false},
    {"BridgeMamaPublisher_setUserCallbacks",
     offsetof(mamaBridgeImpl, bridgeMamaPublisherSetUserCallbacks), false},
    {"BridgeMamaInbox_create", offsetof(mamaBridgeImpl, bridgeMamaInboxCreate), true},
    {"BridgeMamaInbox_createByIndex", offsetof(mamaBridgeImpl, bridgeMamaInboxCreateByIndex), true},
    {"BridgeMamaInbox_destroy", offsetof(mamaBridgeImpl, bridgeMamaInboxDestroy), true},
    {"BridgeMamaMsg_create", offsetof(mamaBridgeImpl, bridgeMamaMsgCreate), false},
    {"BridgeMamaMsg_destroy", offsetof(mamaBridgeImpl, bridgeMamaMsgDestroy), false},
    {"BridgeMamaMsg_destroyMiddlewareMsg",
     offsetof(mamaBridgeImpl, bridgeMamaMsgDestroyMiddlewareMsg), false},
    {"BridgeMamaMsg_detach", offsetof(mamaBridgeImpl, bridgeMamaMsgDetach), false},
    {"BridgeMamaMsg_isFromInbox", offsetof(mamaBridgeImpl, bridgeMamaMsgIsFromInbox), false},
    {"BridgeMamaMsg_getPlatformError", offsetof(mamaBridgeImpl, bridgeMamaMsgGetPlatformError),
     false},
    {"BridgeMamaMsg_setSendSubject", offsetof(mamaBridgeImpl, bridgeMamaMsgSetSendSubject), false},
    {"BridgeMamaMsg_getNativeHandle", offsetof(mamaBridgeImpl, bridgeMamaMsgGetNativeHandle),
     false},
    {"BridgeMamaMsg_duplicateReplyHandle",
     offsetof(mamaBridgeImpl, bridgeMamaMsgDuplicateReplyHandle), false},
    {"BridgeMamaMsg_copyReplyHandle", offsetof(mamaBridgeImpl, bridgeMamaMsgCopyReplyHandle),
     false},
    {"BridgeMamaMsgImpl_setReplyHandle", offsetof(mamaBridgeImpl, bridgeMamaMsgImplSetReplyHandle),
     false},
    {"BridgeMamaMsgImpl_setReplyHandleAndIncrement",
     offsetof(mamaBridgeImpl, bridgeMamaMsgImplSetReplyHandleAndIncrement), false},
    {"BridgeMamaMsg_destroyReplyHandle", offsetof(mamaBridgeImpl, bridgeMamaMsgDestroyReplyHandle),
     false},
};

const char* const kBaseBridgeName = "base";

std::recursive_mutex gGlobalLock;
mamaBridgeImpl* gBridges[MAMA_MAX_MIDDLEWARES];
int gBridgeCount = 0;

void*& slotAt(mamaBridgeImpl* bridge, size_t offset)
{
    return *reinterpret_cast<void**>(reinterpret_cast<char*>(bridge) + offset);
}

void* openLibrary(const char* middleware, const char* path)
{
    std::string name = std::string("mama") + middleware + "impl";
    return mamaInternal_openSharedLib(name.c_str(), path);
}

void* findSymbol(void* library, const char* prefix, const char* suffix)
{
    char symbol[256];
    snprintf(symbol, sizeof(symbol), "%s%s", prefix, suffix);
    return dlsym(library, symbol);
}

// Fills every still-empty slot from `library`; true when every mandatory
// slot is filled afterwards.
bool resolveSymbols(mamaBridgeImpl* bridge, void* library, const char* prefix)
{
    bool complete = true;
    for (const BridgeSymbol& entry : kBridgeSymbols)
    {
        void*& slot = slotAt(bridge, entry.mOffset);
        if (!slot)
        {
            slot = findSymbol(library, prefix, entry.mSuffix);
        }
        if (slot)
        {
            continue;
        }
        if (entry.mMandatory)
        {
            mama_log(MAMA_LOG_LEVEL_ERROR, "mama: mandatory bridge function %s%s not found", prefix,
                     entry.mSuffix);
            complete = false;
        }
        else
        {
            mama_log(MAMA_LOG_LEVEL_FINE, "mama: optional bridge function %s%s not found", prefix,
                     entry.mSuffix);
        }
    }
    return complete;
}

bool mandatoryComplete(mamaBridgeImpl* bridge)
{
    for (const BridgeSymbol& entry : kBridgeSymbols)
    {
        if (entry.mMandatory && !slotAt(bridge, entry.mOffset))
        {
            return false;
        }
    }
    return true;
}

// Releases a bridge whose load failed or that was closed.
void releaseBridge(mamaBridgeImpl* bridge)
{
    if (bridge->mLock)
    {
        wlock_destroy(bridge->mLock);
    }
    void* library = bridge->mDllHandle;
    void* baseLibrary = bridge->mBaseDllHandle;
    free(bridge);
    if (baseLibrary)
    {
        dlclose(baseLibrary);
    }
    if (library)
    {
        dlclose(library);
    }
}

bool metaFlag(const char* bridgeName, const char* property)
{
    char name[MAX_INTERNAL_PROP_LEN];
    snprintf(name, sizeof(name), "mama.%s.%s", bridgeName, property);
    return strtobool(mamaInternal_getMetaProperty(name)) != 0;
}

// Adds the base bridge's functions for every slot the bridge left empty.
mama_status extendWithBaseBridge(mamaBridgeImpl* bridge, const char* path)
{
    bridge->mBaseDllHandle = openLibrary(kBaseBridgeName, path);
    if (!bridge->mBaseDllHandle)
    {
        return MAMA_STATUS_NO_BRIDGE_IMPL;
    }
    resolveSymbols(bridge, bridge->mBaseDllHandle, kBaseBridgeName);
    return mandatoryComplete(bridge) ? MAMA_STATUS_OK : MAMA_STATUS_PLATFORM;
}

mamaBridgeImpl* findLoaded(const char* middleware)
{
    for (int i = 0; i < gBridgeCount; ++i)
    {
        if (strcmp(gBridges[i]->mName, middleware) == 0)
        {
            return gBridges[i];
        }
    }
    return nullptr;
}

// Steps after the library's functions are known: init, the meta properties
// it declared, the version check and open.
mama_status initialiseAndOpen(mamaBridgeImpl* bridge, bool symbolsComplete, const char* path)
{
    mama_status status = bridge->bridgeInit(bridge);
    if (status != MAMA_STATUS_OK)
    {
        mama_log(MAMA_LOG_LEVEL_ERROR, "mama: %s bridge init failed: %s", bridge->mName,
                 mamaStatus_stringForStatus(status));
        return status;
    }
    const char* name = bridge->bridgeGetName ? bridge->bridgeGetName() : nullptr;
    if (!name || !*name)
    {
        mama_log(MAMA_LOG_LEVEL_ERROR, "mama: %s bridge reports no name", bridge->mName);
        return MAMA_STATUS_PLATFORM;
    }
    bridge->mEntitleDeferred = metaFlag(name, "entitlements.deferred") ? 1 : 0;
    if (metaFlag(name, "extends_base_bridge"))
    {
        status = extendWithBaseBridge(bridge, path);
        if (status != MAMA_STATUS_OK)
        {
            return status;
        }
    }
    else if (!symbolsComplete)
    {
        return MAMA_STATUS_PLATFORM;
    }
    status = mamaInternal_checkCompileVersion(name);
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }
    status = bridge->bridgeOpen(bridge);
    if (status != MAMA_STATUS_OK)
    {
        mama_log(MAMA_LOG_LEVEL_ERROR, "mama: %s bridge open failed: %s", bridge->mName,
                 mamaStatus_stringForStatus(status));
    }
    return status;
}

mama_status loadLocked(mamaBridge* impl, const char* middleware, const char* path)
{
    mamaBridgeImpl* loaded = findLoaded(middleware);
    if (loaded)
    {
        *impl = loaded;
        return MAMA_STATUS_OK;
    }
    if (gBridgeCount >= MAMA_MAX_MIDDLEWARES)
    {
        mama_log(MAMA_LOG_LEVEL_ERROR, "mama: cannot load %s: %d middleware bridges already loaded",
                 middleware, MAMA_MAX_MIDDLEWARES);
        return MAMA_STATUS_NO_BRIDGE_IMPL;
    }
    void* library = openLibrary(middleware, path);
    if (!library)
    {
        return MAMA_STATUS_NO_BRIDGE_IMPL;
    }
    bridge_init init =
        reinterpret_cast<bridge_init>(findSymbol(library, middleware, "Bridge_init"));
    if (!init)
    {
        mama_log(MAMA_LOG_LEVEL_ERROR, "mama: %sBridge_init not found", middleware);
        dlclose(library);
        return MAMA_STATUS_INVALID_ARG;
    }
    mamaBridgeImpl* bridge = static_cast<mamaBridgeImpl*>(calloc(1, sizeof(mamaBridgeImpl)));
    if (!bridge)
    {
        dlclose(library);
        return MAMA_STATUS_NOMEM;
    }
    bridge->mDllHandle = library;
    bridge->mLock = wlock_create();
    bridge->bridgeInit = init;
    snprintf(bridge->mName, sizeof(bridge->mName), "%s", middleware);
    bool symbolsComplete = resolveSymbols(bridge, library, middleware);

    mama_status status = initialiseAndOpen(bridge, symbolsComplete, path);
    if (status != MAMA_STATUS_OK)
    {
        releaseBridge(bridge);
        return status;
    }
    gBridges[gBridgeCount++] = bridge;
    *impl = bridge;
    mama_log(MAMA_LOG_LEVEL_FINE, "mama: loaded middleware bridge %s", middleware);
    return MAMA_STATUS_OK;
}
} // namespace

extern "C"
{

    void mamaGlobal_lock(void)
    {
        gGlobalLock.lock();
    }

    void mamaGlobal_unlock(void)
    {
        gGlobalLock.unlock();
    }

    int mamaBridgeRegistry_count(void)
    {
        return gBridgeCount;
    }

    mamaBridgeImpl* mamaBridgeRegistry_get(int index)
    {
        return index >= 0 && index < gBridgeCount ? gBridges[index] : nullptr;
    }

    void mamaBridgeRegistry_closeAll(void)
    {
        for (int i = 0; i < gBridgeCount; ++i)
        {
            mamaBridgeImpl* bridge = gBridges[i];
            mama_status status = bridge->bridgeClose(bridge);
            if (status != MAMA_STATUS_OK)
            {
                mama_log(MAMA_LOG_LEVEL_ERROR, "mama: %s bridge close failed: %s", bridge->mName,
                         mamaStatus_stringForStatus(status));
            }
            releaseBridge(bridge);
            gBridges[i] = nullptr;
        }
        gBridgeCount = 0;
    }

    mama_status mama_loadBridgeWithPath(mamaBridge* impl, const char* middleware, const char* path)
    {
        if (!impl || !middleware)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        if (!*middleware || strlen(middleware) > MAMA_MAX_BRIDGE_NAME_LEN)
        {
            return MAMA_STATUS_INVALID_ARG;
        }
        mamaInternal_init();
        std::lock_guard<std::recursive_mutex> guard(gGlobalLock);
        return loadLocked(impl, middleware, path);
    }

    mama_status mama_loadBridge(mamaBridge* impl, const char* middleware)
    {
        return mama_loadBridgeWithPath(impl, middleware, nullptr);
    }

    mama_status mama_getMiddlewareBridge(mamaBridge* bridge, const char* middlewareName)
    {
        if (!bridge || !middlewareName)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        std::lock_guard<std::recursive_mutex> guard(gGlobalLock);
        mamaBridgeImpl* loaded = findLoaded(middlewareName);
        if (!loaded)
        {
            return MAMA_STATUS_NOT_FOUND;
        }
        *bridge = loaded;
        return MAMA_STATUS_OK;
    }

} // extern "C"
