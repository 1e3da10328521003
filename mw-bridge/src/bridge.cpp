#define CORVEX_LOG_MODULE "bridge"

#include "corvexBridge.h"

#include <errno.h>
#include <inttypes.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include <mama/mama.h>
#include <mama/integration/bridge.h>
#include <mama/integration/mama.h>
#include <wombat/port.h>
#include <wombat/property.h>

#include "compat.h"
#include "corvexGenReleaseVersion.h"
#include "logging.h"
#include "configValue.h"
#include "properties.h"
#include "queue.h"
#include "transportList.h"

namespace
{
const char* const DEFAULT_QUEUE_NAME = "CORVEX_DEFAULT_MAMA_QUEUE";
const char* const DEFAULT_QUEUE_TIMEOUT_PROPERTY = CORVEX_PROPERTY_PREFIX "defaultqueue.timeout";
const char* const QUEUE_MAX_SIZE_PROPERTY = CORVEX_PROPERTY_PREFIX "queue_max_size";
const char* const SUBSCRIBE_ASYNC_PROPERTY = CORVEX_PROPERTY_PREFIX "subscribe_async";
const char* const CLIENT_LOG_LEVEL_PROPERTY = CORVEX_PROPERTY_PREFIX "corvexClient_log_level";
const int FALLBACK_QUEUE_TIMEOUT_MS = 2000;
const char* const OPEN_OBJECTS_SUFFIX =
    " Message: 'cannot destroy queue status MAMA_STATUS_QUEUE_OPEN_OBJECTS. Are there any objects "
    "(subscriptions, inboxes, timers, etc) that reference the queue?'";

timerHeap gTimerHeap = NULL;
char gVersion[CORVEX_VERSION_BUFFER_SIZE];
char* gPayloadNames[] = {(char*)"corvexmsg", NULL};
char gPayloadIds[] = {'1', '\0'};

const char* userProperty(const char* name)
{
    return properties_Get(mamaInternal_getProperties(), name);
}

void destroyTimerHeap(void)
{
    destroyHeap(gTimerHeap);
    gTimerHeap = NULL;
}

/* Reads the maximum queue size; 0 on success, else the failing status. */
mama_status readQueueMaxSize(CorvexBridge* bridge)
{
    bridge->mQueueMaxSize = CORVEX_DEFAULT_QUEUE_MAX_SIZE;
    const char* text = userProperty(QUEUE_MAX_SIZE_PROPERTY);
    if (text == NULL)
    {
        return MAMA_STATUS_OK;
    }
    int64_t value = 0;
    if (!corvexConfig_getNumber(QUEUE_MAX_SIZE_PROPERTY, text, 0, INT64_MAX, CORVEX_LOG_ERROR,
                                &value))
    {
        return MAMA_STATUS_PLATFORM;
    }
    /* Digits beyond the 64-bit range count as too large as well. */
    if ((uint64_t)value > CORVEX_MAX_QUEUE_MAX_SIZE)
    {
        CORVEX_LOG(
            CORVEX_LOG_WARN,
            "mama.corvex.transport.queue_max_size too large or negative, truncating to %" PRIu64
            ".",
            (uint64_t)CORVEX_MAX_QUEUE_MAX_SIZE);
        bridge->mQueueMaxSize = CORVEX_MAX_QUEUE_MAX_SIZE;
        return MAMA_STATUS_OK;
    }
    if (value == 0)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "Value (%" PRIu64 ") for mama.corvex.transport.queue_max_size too small",
                   (uint64_t)value);
        return MAMA_STATUS_PLATFORM;
    }
    CORVEX_LOG(CORVEX_LOG_FINER, "Maximum queue size set to %" PRIu64 ".", (uint64_t)value);
    bridge->mQueueMaxSize = (uint64_t)value;
    return MAMA_STATUS_OK;
}

/* The vendor log level: the key's when set (false when it is not a level),
 * else the one mapped from MAMA's. */
bool readKlixLogLevel(int* level)
{
    const char* text = userProperty(CLIENT_LOG_LEVEL_PROPERTY);
    if (text == NULL)
    {
        *level = corvexBridge_mamaToKlixLogLevel((int)mama_getLogLevel());
        return true;
    }
    int64_t value = 0;
    if (!corvexConfig_getNumber(CLIENT_LOG_LEVEL_PROPERTY, text, CORVEXCLIENT_LOG_EMERGENCY,
                                CORVEXCLIENT_LOG_DEBUG, CORVEX_LOG_ERROR, &value))
    {
        return false;
    }
    *level = (int)value;
    return true;
}

/* Undoes a vendor initialisation that got past corvexClient_initialize. The
 * context (and its thread) goes too, so that a later attempt starts clean. */
void abandonKlixInit(CorvexBridge* bridge)
{
    if (bridge->mContext != NULL)
    {
        corvexClient_context_destroy(&bridge->mContext);
        bridge->mContext = NULL;
    }
    corvexClient_cleanup();
}

/* The vendor initialisation itself; mKlixInitLock is held. */
mama_status initKlixLocked(CorvexBridge* bridge)
{
    corvexClient_returnCode_t rc = corvexClient_log_setCallback(corvexBridge_logCallback, NULL);
    if (rc != CORVEXCLIENT_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to initialize API logging callback - ReturnCode='%s'",
                   corvexClient_returnCodeToString(rc));
        return MAMA_STATUS_PLATFORM;
    }

    CorvexProperties* properties = NULL;
    mama_status status = corvexProperties_create(&properties, CORVEX_PROPERTY_PREFIX);
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }
    if (!corvexProperties_append(properties, "CONTEXT_CREATE_THREAD", "1"))
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to append %s=%s", "CONTEXT_CREATE_THREAD", "1");
        corvexProperties_destroy(&properties);
        return MAMA_STATUS_PLATFORM;
    }

    /* Bridge-wide values are checked before anything is started. */
    int klixLevel = 0;
    uint8_t subscribeAsync = 1;
    const char* async = userProperty(SUBSCRIBE_ASYNC_PROPERTY);
    if (!readKlixLogLevel(&klixLevel) ||
        (async != NULL &&
         !corvexConfig_getBool(SUBSCRIBE_ASYNC_PROPERTY, async, CORVEX_LOG_ERROR, &subscribeAsync)))
    {
        corvexProperties_destroy(&properties);
        return MAMA_STATUS_PLATFORM;
    }

    CORVEX_LOG(CORVEX_LOG_FINEST, "Initializing corvexClient...");
    const char** array = corvexProperties_getCorvexClientProps(properties);
    rc = corvexClient_initialize(klixLevel, array);
    if (rc != CORVEXCLIENT_OK)
    {
        CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_ERROR, rc, "Unable to initialize corvexClient API");
        corvexProperties_destroy(&properties);
        return MAMA_STATUS_PLATFORM;
    }

    status = corvexBridge_registerVersion(gVersion, sizeof(gVersion), 1);
    if (status != MAMA_STATUS_OK)
    {
        abandonKlixInit(bridge);
        corvexProperties_destroy(&properties);
        return status;
    }

    CORVEX_LOG(CORVEX_LOG_FINEST, "Creating corvexClient context ...");
    corvexClient_context_createFuncInfo_t funcInfo;
    memset(&funcInfo, 0, sizeof(funcInfo));
    rc = corvexClient_context_create(array, &bridge->mContext, &funcInfo, sizeof(funcInfo));
    if (rc != CORVEXCLIENT_OK)
    {
        CORVEX_LOG_VENDOR_ERROR(
            CORVEX_LOG_ERROR, rc,
            "Error in corvexClient_context_create() during KLIX initialization");
        bridge->mContext = NULL;
        abandonKlixInit(bridge);
        corvexProperties_destroy(&properties);
        return MAMA_STATUS_PLATFORM;
    }

    status = readQueueMaxSize(bridge);
    if (status != MAMA_STATUS_OK)
    {
        abandonKlixInit(bridge);
        corvexProperties_destroy(&properties);
        return status;
    }

    bridge->mSubscribeAsync = subscribeAsync;
    CORVEX_LOG(CORVEX_LOG_FINER, "Asynchronous subscriptions are %s",
               bridge->mSubscribeAsync ? "enabled" : "disabled");

    int osCode = corvexBridge_osInit();
    if (osCode != 0)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Error in bridge OS initialization - ReturnCode='%s'",
                   strerror(osCode));
        bridge->mSubscribeAsync = 0;
        abandonKlixInit(bridge);
        corvexProperties_destroy(&properties);
        return MAMA_STATUS_PLATFORM;
    }

    bridge->mKlixInitialized = 1;
    corvexProperties_destroy(&properties);
    return MAMA_STATUS_OK;
}

/* Logs the default queue's destroy failure; close goes on regardless. */
void destroyDefaultQueue(mamaBridge impl, int timeout)
{
    mamaQueue queue = NULL;
    mama_status status = mama_getDefaultEventQueue(impl, &queue);
    if (status != MAMA_STATUS_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Could not get DefaultEventQueue: %s",
                   mamaStatus_stringForStatus(status));
    }

    status = mamaQueue_destroyTimedWait(queue, timeout);
    if (status == MAMA_STATUS_OK)
    {
        return;
    }
    if (status == MAMA_STATUS_TIMEOUT && mamaQueue_destroy(queue) == MAMA_STATUS_QUEUE_OPEN_OBJECTS)
    {
        CORVEX_LOG(CORVEX_LOG_WARN, "Could not destroy DefaultEventQueue: %s, after %d ms%s",
                   mamaStatus_stringForStatus(status), timeout, OPEN_OBJECTS_SUFFIX);
        return;
    }
    CORVEX_LOG(CORVEX_LOG_ERROR, "Could not destroy DefaultEventQueue: %s, after %d ms%s",
               mamaStatus_stringForStatus(status), timeout, "");
}
} // namespace

mama_status corvexBridge_getBridge(mamaBridge impl, CorvexBridge** result)
{
    void* closure = NULL;
    mama_status status = mamaBridgeImpl_getClosure(impl, &closure);
    if (status != MAMA_STATUS_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Could not get corvex bridge from closure object: %s",
                   mamaStatus_stringForStatus(status));
        return status;
    }
    if (closure == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Could not get corvex bridge. Closure object is NULL.");
        return MAMA_STATUS_PLATFORM;
    }
    *result = (CorvexBridge*)closure;
    return MAMA_STATUS_OK;
}

timerHeap corvexBridge_getTimerHeap(void)
{
    return gTimerHeap;
}

int corvexBridge_osInit(void)
{
    return 0;
}

int corvexBridge_osCleanup(void)
{
    return 0;
}

int corvexBridge_getDefaultQueueTimeout(void)
{
    const char* text = userProperty(DEFAULT_QUEUE_TIMEOUT_PROPERTY);
    int64_t timeout = 0;
    if (text == NULL || text[0] == '\0')
    {
        timeout = mamaBridgeImpl_getDefaultQueueTimeout();
    }
    else if (!corvexConfig_getNumber(DEFAULT_QUEUE_TIMEOUT_PROPERTY, text, INT_MIN, INT_MAX,
                                     CORVEX_LOG_WARN, &timeout))
    {
        return FALLBACK_QUEUE_TIMEOUT_MS;
    }
    if (timeout <= 0)
    {
        CORVEX_LOG(
            CORVEX_LOG_WARN,
            "Corvex bridge default event queue timeout %d ms is invalid. Using default %d ms.",
            (int)timeout, FALLBACK_QUEUE_TIMEOUT_MS);
        timeout = FALLBACK_QUEUE_TIMEOUT_MS;
    }
    return (int)timeout;
}

mama_status corvexBridge_registerVersion(char* buffer, size_t size, int registerWithVendor)
{
    const corvexClient_versionInfo_t* vendorRecord = NULL;
    corvexClient_returnCode_t rc = corvexClient_version_get(&vendorRecord);
    if (rc != CORVEXCLIENT_OK || vendorRecord == NULL)
    {
        CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_ERROR, rc, "Error in corvexClient_version_get()");
        return MAMA_STATUS_PLATFORM;
    }

    const corvexClient_versionInfo_t* bridgeRecord = NULL;
    mama_status status = corvexOpenmama_version_get(&bridgeRecord);
    if (status != MAMA_STATUS_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "corvexOpenmama_version_get() error: %s",
                   mamaStatus_stringForStatus(status));
        return MAMA_STATUS_PLATFORM;
    }

    const char* vendorVersion = vendorRecord->mVersion != NULL ? vendorRecord->mVersion : "";
    if (strncmp(vendorVersion, CORVEX_BRIDGE_PRODUCT_NAME, strlen(CORVEX_BRIDGE_PRODUCT_NAME)) == 0)
    {
        CORVEX_LOG(CORVEX_LOG_FINEST,
                   "KLIX version was already customized for bridge from earlier.");
        if (buffer != vendorVersion)
        {
            corvexLog_formatBuffer(buffer, size, "%s", vendorVersion);
        }
        return MAMA_STATUS_OK;
    }

    corvexLog_formatBuffer(buffer, size, "%s v%s with Corvex C API v%s", CORVEX_BRIDGE_PRODUCT_NAME,
                           bridgeRecord->mVersion, vendorVersion);

    if (registerWithVendor)
    {
        corvexClient_versionInfo_t record = {buffer, bridgeRecord->mDateTime,
                                             bridgeRecord->mVariant};
        rc = _corvexClient_version_set(&record);
        if (rc != CORVEXCLIENT_OK)
        {
            CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_ERROR, rc, "Error in _corvexClient_version_set()");
            return MAMA_STATUS_PLATFORM;
        }
    }
    return MAMA_STATUS_OK;
}

mama_status corvexBridge_initKlix(CorvexBridge* bridge)
{
    if (bridge == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    wlock_lock(bridge->mKlixInitLock);
    mama_status status = bridge->mKlixInitialized ? MAMA_STATUS_OK : initKlixLocked(bridge);
    wlock_unlock(bridge->mKlixInitLock);
    return status;
}

CORVEX_EXPORT mama_status corvexBridge_init(mamaBridge impl)
{
    if (impl == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Invalid input argument, impl=NULL.");
        return MAMA_STATUS_NULL_ARG;
    }

    CorvexBridge* bridge = (CorvexBridge*)calloc(1, sizeof(CorvexBridge));
    if (bridge == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "Could not allocate memory for corvex middleware bridge implementation.");
        return MAMA_STATUS_NOMEM;
    }
    bridge->mQueueMaxSize = CORVEX_DEFAULT_QUEUE_MAX_SIZE;

    char name[64];
    char value[64];
    corvexLog_formatBuffer(name, sizeof(name), "mama.%s.compile_version", CORVEX_BRIDGE_NAME);
    corvexLog_formatBuffer(value, sizeof(value), "%d.%d.%s", 6, 3, "1");
    mamaInternal_setMetaProperty(name, value);

    mama_status status = mamaBridgeImpl_setClosure(impl, bridge);
    if (status == MAMA_STATUS_OK)
    {
        status = mamaBridgeImpl_setReadOnlyProperty(impl, "entitlements.deferred", "true");
        /* Meta properties are write-once and outlive mama_close: a bridge
         * loaded again in the same process finds its own earlier value. */
        const char* earlier = mamaBridgeImpl_getMetaProperty(impl, "entitlements.deferred");
        if (status == MAMA_STATUS_INVALID_ARG && earlier != NULL && strcmp(earlier, "true") == 0)
        {
            status = MAMA_STATUS_OK;
        }
    }
    if (status != MAMA_STATUS_OK)
    {
        /* The host frees its side without calling close: free ours here. */
        mamaBridgeImpl_setClosure(impl, NULL);
        free(bridge);
    }
    return status;
}

CORVEX_EXPORT mama_status corvexBridge_open(mamaBridge impl)
{
    if (impl == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }

    CorvexBridge* bridge = NULL;
    mama_status status = corvexBridge_getBridge(impl, &bridge);
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }

    bridge->mKlixInitLock = wlock_create();
    if (bridge->mKlixInitLock == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Could not allocate KLIX init lock.");
        return MAMA_STATUS_NOMEM;
    }

    mamaQueue queue = NULL;
    status = corvexBridge_registerVersion(gVersion, sizeof(gVersion), 0);
    if (status != MAMA_STATUS_OK)
    {
        goto destroyInitLock;
    }

    status = mamaQueue_create(&queue, impl);
    if (status != MAMA_STATUS_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Failed to create Corvex queue: %s",
                   mamaStatus_stringForStatus(status));
        goto destroyInitLock;
    }

    status = mamaImpl_setDefaultEventQueue(impl, queue);
    if (status != MAMA_STATUS_OK)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Failed to set Corvex default queue: %s",
                   mamaStatus_stringForStatus(status));
        goto destroyQueue;
    }
    mamaQueue_setQueueName(queue, DEFAULT_QUEUE_NAME);

    if (corvexCompat_socketStartup() < 0)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "failed wsocketstartup()");
        status = MAMA_STATUS_PLATFORM;
        goto destroyQueue;
    }

    if (createTimerHeap(&gTimerHeap) != 0)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "corvexBridge_open(): Failed to initialize timers.");
        gTimerHeap = NULL;
        status = MAMA_STATUS_PLATFORM;
        goto socketCleanup;
    }
    if (startDispatchTimerHeap(gTimerHeap) != 0)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "corvexBridge_open(): Failed to start timer thread.");
        status = MAMA_STATUS_PLATFORM;
        goto destroyTimers;
    }

    bridge->mTransportListLock = wlock_create();
    if (bridge->mTransportListLock == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Could not allocate CorvexTransportList lock.");
        status = MAMA_STATUS_NOMEM;
        goto destroyTimers;
    }
    bridge->mTransportList = corvexTransportList_create();
    if (bridge->mTransportList == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to allocate memory for transport list");
        wlock_destroy(bridge->mTransportListLock);
        bridge->mTransportListLock = NULL;
        status = MAMA_STATUS_NOMEM;
        goto destroyTimers;
    }
    return MAMA_STATUS_OK;

destroyTimers:
    destroyTimerHeap();
socketCleanup:
    corvexCompat_socketCleanup();
destroyQueue:
    mamaQueue_destroy(queue);
destroyInitLock:
    wlock_destroy(bridge->mKlixInitLock);
    bridge->mKlixInitLock = NULL;
    return status;
}

CORVEX_EXPORT mama_status corvexBridge_close(mamaBridge impl)
{
    if (impl == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }

    bool timersFailed = false;
    if (gTimerHeap != NULL)
    {
        /* destroyHeap joins the timer thread itself; joining it again here
         * would be a second join of the same thread. */
        if (destroyHeap(gTimerHeap) != 0)
        {
            CORVEX_LOG(CORVEX_LOG_ERROR,
                       "corvexBridge_close(): Failed to destroy Corvex timer heap.");
            timersFailed = true;
        }
        gTimerHeap = NULL;
    }

    destroyDefaultQueue(impl, corvexBridge_getDefaultQueueTimeout());

    if (timersFailed)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Could not destroy Corvex Timer Heap: %s",
                   mamaStatus_stringForStatus(MAMA_STATUS_PLATFORM));
        return MAMA_STATUS_PLATFORM;
    }

    CorvexBridge* bridge = NULL;
    mama_status status = corvexBridge_getBridge(impl, &bridge);
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }

    if (bridge->mTransportListLock != NULL)
    {
        wlock_destroy(bridge->mTransportListLock);
        bridge->mTransportListLock = NULL;
    }
    corvexTransportList_destroy(bridge->mTransportList);
    bridge->mTransportList = NULL;

    corvexClient_returnCode_t rc;
    if (bridge->mContext != NULL)
    {
        rc = corvexClient_context_destroy(&bridge->mContext);
        if (rc != CORVEXCLIENT_OK)
        {
            CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_ERROR, rc, "Unable to destroy corvexClient context");
            return MAMA_STATUS_PLATFORM;
        }
        bridge->mContext = NULL;
    }

    rc = corvexClient_log_unsetCallback();
    if (rc != CORVEXCLIENT_OK)
    {
        CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_ERROR, rc,
                                "Unable to revert KLIX API logging callback to default log output "
                                "behaviour for KLIX.");
    }

    bool klixInitialized = bridge->mKlixInitialized != 0;
    wlock_destroy(bridge->mKlixInitLock);
    mamaBridgeImpl_setClosure(impl, NULL);
    free(bridge);

    if (!klixInitialized)
    {
        corvexCompat_socketCleanup();
        return MAMA_STATUS_OK;
    }

    rc = corvexClient_cleanup();
    if (rc != CORVEXCLIENT_OK)
    {
        CORVEX_LOG_VENDOR_ERROR(CORVEX_LOG_ERROR, rc, "Unable to cleanup corvexClient API");
        return MAMA_STATUS_PLATFORM;
    }

    int osCode = corvexBridge_osCleanup();
    if (osCode != 0)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Error in bridge OS cleanup - ReturnCode='%s'",
                   strerror(osCode));
        return MAMA_STATUS_PLATFORM;
    }

    corvexCompat_socketCleanup();
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT mama_status corvexBridge_start(mamaQueue defaultEventQueue)
{
    if (defaultEventQueue == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    CORVEX_LOG(CORVEX_LOG_FINER, "Start dispatching on default event queue.");
    mama_status status = mamaQueue_dispatch(defaultEventQueue);
    /* mama_close closes the payloads before it destroys the default queue:
     * the payload the queue's message last decoded into must go while its
     * payload bridge is there, and nothing decodes into it until the queue
     * is dispatched again. */
    corvexQueue_releaseReusableMsg(defaultEventQueue);
    return status;
}

CORVEX_EXPORT mama_status corvexBridge_stop(mamaQueue defaultEventQueue)
{
    if (defaultEventQueue == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    return mamaQueue_stopDispatch(defaultEventQueue);
}

CORVEX_EXPORT const char* corvexBridge_getName(void)
{
    return CORVEX_BRIDGE_NAME;
}

CORVEX_EXPORT const char* corvexBridge_getVersion(void)
{
    return gVersion;
}

CORVEX_EXPORT mama_status corvexBridge_getDefaultPayloadId(char*** names, char** ids)
{
    if (names == NULL || ids == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    *names = gPayloadNames;
    *ids = gPayloadIds;
    return MAMA_STATUS_OK;
}
