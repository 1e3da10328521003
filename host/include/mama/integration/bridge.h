/* What a middleware bridge library exports (as function-pointer types) and the
 * host calls it may make on its mamaBridge. The bridge treats mamaBridge as
 * opaque and reaches it only through the functions declared here. */
#ifndef MamaIntegrationBridgeH__
#define MamaIntegrationBridgeH__

#if defined(OPENMAMA_INTEGRATION)

#include <stdio.h>

#include "mama/mama.h"
#include "mama/integration/types.h"

#if defined(__cplusplus)
extern "C" {
#endif

#define MAMA_BRIDGE_DEFAULT_QUEUE_TIMEOUT_PROPERTY "mama.defaultqueue.timeout"
#define MAMA_BRIDGE_DEFAULT_QUEUE_DEFAULT_TIMEOUT  2000

/* Records "mama.<name>.compile_version" = "<major>.<minor>.<release>" of the
 * headers the library was compiled with; the loader refuses other major.minor. */
#define MAMA_SET_BRIDGE_COMPILE_TIME_VERSION(name)                                     \
    do                                                                                 \
    {                                                                                  \
        char mamaCompileVersionName_[1024];                                            \
        char mamaCompileVersionValue_[64];                                             \
        snprintf (mamaCompileVersionName_, sizeof (mamaCompileVersionName_),           \
                  "mama.%s.compile_version", (name));                                  \
        snprintf (mamaCompileVersionValue_, sizeof (mamaCompileVersionValue_),         \
                  "%d.%d.%s", MAMA_VERSION_MAJOR, MAMA_VERSION_MINOR,                  \
                  MAMA_VERSION_RELEASE);                                               \
        mamaInternal_setMetaProperty (mamaCompileVersionName_, mamaCompileVersionValue_); \
    } while (0)

/* Legacy entry point, no longer looked up. */
typedef void (*bridge_createImpl) (mamaBridge* result);

/* One type per exported bridge function <name><suffix>; the suffix is the
 * type name with its first letter upper-cased (bridge_open -> <name>Bridge_open). */
typedef mama_status (*bridge_init) (mamaBridge bridgeImpl);
typedef mama_status (*bridge_start) (mamaQueue defaultEventQueue);
typedef mama_status (*bridge_stop) (mamaQueue defaultEventQueue);
typedef mama_status (*bridge_open) (mamaBridge bridgeImpl);
typedef mama_status (*bridge_close) (mamaBridge bridgeImpl);
typedef const char* (*bridge_getVersion) (void);
typedef const char* (*bridge_getName) (void);
typedef mama_status (*bridge_getDefaultPayloadId) (char*** name, char** id);
typedef mama_status (*bridgeMamaQueue_create) (queueBridge* queue, mamaQueue parent);
typedef mama_status (*bridgeMamaQueue_create_usingNative) (queueBridge* queue, mamaQueue parent, void* nativeQueue);
typedef mama_status (*bridgeMamaQueue_destroy) (queueBridge queue);
typedef mama_status (*bridgeMamaQueue_getEventCount) (queueBridge queue, size_t* count);
typedef mama_status (*bridgeMamaQueue_dispatch) (queueBridge queue);
typedef mama_status (*bridgeMamaQueue_timedDispatch) (queueBridge queue, uint64_t timeout);
typedef mama_status (*bridgeMamaQueue_dispatchEvent) (queueBridge queue);
typedef mama_status (*bridgeMamaQueue_enqueueEvent) (queueBridge queue, mamaQueueEnqueueCB callback, void* closure);
typedef mama_status (*bridgeMamaQueue_stopDispatch) (queueBridge queue);
typedef mama_status (*bridgeMamaQueue_setEnqueueCallback) (queueBridge queue, mamaQueueEnqueueCB callback, void* closure);
typedef mama_status (*bridgeMamaQueue_removeEnqueueCallback) (queueBridge queue);
typedef mama_status (*bridgeMamaQueue_getNativeHandle) (queueBridge queue, void** nativeHandle);
typedef mama_status (*bridgeMamaQueue_setLowWatermark) (queueBridge queue, size_t lowWatermark);
typedef mama_status (*bridgeMamaQueue_setHighWatermark) (queueBridge queue, size_t highWatermark);
typedef int (*bridgeMamaTransport_isValid) (transportBridge transport);
typedef mama_status (*bridgeMamaTransport_destroy) (transportBridge transport);
typedef mama_status (*bridgeMamaTransport_create) (transportBridge* result, const char* name, mamaTransport parent);
typedef mama_status (*bridgeMamaTransport_forceClientDisconnect) (transportBridge* transports, int numTransports, const char* ipAddress, uint16_t port);
typedef mama_status (*bridgeMamaTransport_findConnection) (transportBridge* transports, int numTransports, mamaConnection* result, const char* ipAddress, uint16_t port);
typedef mama_status (*bridgeMamaTransport_getAllConnections) (transportBridge* transports, int numTransports, mamaConnection** result, uint32_t* len);
typedef mama_status (*bridgeMamaTransport_getAllConnectionsForTopic) (transportBridge* transports, int numTransports, const char* topic, mamaConnection** result, uint32_t* len);
typedef mama_status (*bridgeMamaTransport_freeAllConnections) (transportBridge* transports, int numTransports, mamaConnection* connections, uint32_t len);
typedef mama_status (*bridgeMamaTransport_getAllServerConnections) (transportBridge* transports, int numTransports, mamaServerConnection** result, uint32_t* len);
typedef mama_status (*bridgeMamaTransport_freeAllServerConnections) (transportBridge* transports, int numTransports, mamaServerConnection* connections, uint32_t len);
typedef mama_status (*bridgeMamaTransport_getNumLoadBalanceAttributes) (const char* name, int* numLoadBalanceAttributes);
typedef mama_status (*bridgeMamaTransport_getLoadBalanceScheme) (const char* name, tportLbScheme* scheme);
typedef mama_status (*bridgeMamaTransport_getLoadBalanceSharedObjectName) (const char* name, const char** loadBalanceSharedObjectName);
typedef mama_status (*bridgeMamaTransport_sendMsgToConnection) (transportBridge transport, mamaConnection connection, mamaMsg msg, const char* topic);
typedef mama_status (*bridgeMamaTransport_isConnectionIntercepted) (mamaConnection connection, uint8_t* result);
typedef mama_status (*bridgeMamaTransport_installConnectConflateMgr) (transportBridge handle, mamaConflationManager mgr, mamaConnection connection, conflateProcessCb processCb, conflateGetMsgCb msgCb);
typedef mama_status (*bridgeMamaTransport_uninstallConnectConflateMgr) (transportBridge handle, mamaConflationManager mgr, mamaConnection connection);
typedef mama_status (*bridgeMamaTransport_startConnectionConflation) (transportBridge handle, mamaConflationManager mgr, mamaConnection connection);
typedef mama_status (*bridgeMamaTransport_requestConflation) (transportBridge* transports, int numTransports);
typedef mama_status (*bridgeMamaTransport_requestEndConflation) (transportBridge* transports, int numTransports);
typedef mama_status (*bridgeMamaTransport_getNativeTransport) (transportBridge transport, void** nativeTport);
typedef mama_status (*bridgeMamaTransport_getNativeTransportNamingCtx) (transportBridge transport, void** nativeTportNamingCtx);
typedef mama_status (*bridgeMamaSubscription_create) (subscriptionBridge* subsc_, const char* source, const char* symbol, mamaTransport transport, mamaQueue queue, mamaMsgCallbacks callback, mamaSubscription subscription, void* closure);
typedef mama_status (*bridgeMamaSubscription_createWildCard) (subscriptionBridge* subsc_, const char* source, const char* symbol, mamaTransport transport, mamaQueue queue, mamaMsgCallbacks callback, mamaSubscription subscription, void* closure);
typedef mama_status (*bridgeMamaSubscription_mute) (subscriptionBridge subscriber);
typedef mama_status (*bridgeMamaSubscription_destroy) (subscriptionBridge subscriber);
typedef int (*bridgeMamaSubscription_isValid) (subscriptionBridge bridge);
typedef int (*bridgeMamaSubscription_hasWildcards) (subscriptionBridge subscriber);
typedef mama_status (*bridgeMamaSubscription_getPlatformError) (subscriptionBridge subsc, void** error);
typedef mama_status (*bridgeMamaSubscription_setTopicClosure) (subscriptionBridge subsc, void* closure);
typedef mama_status (*bridgeMamaSubscription_muteCurrentTopic) (subscriptionBridge subsc);
typedef int (*bridgeMamaSubscription_isTportDisconnected) (subscriptionBridge subscriber);
typedef mama_status (*bridgeMamaTimer_create) (timerBridge* timer, void* nativeQueueHandle, mamaTimerCb action, mamaTimerCb onTimerDestroyed, mama_f64_t interval, mamaTimer parent, void* closure);
typedef mama_status (*bridgeMamaTimer_destroy) (timerBridge timer);
typedef mama_status (*bridgeMamaTimer_reset) (timerBridge timer);
typedef mama_status (*bridgeMamaTimer_setInterval) (timerBridge timer, mama_f64_t interval);
typedef mama_status (*bridgeMamaTimer_getInterval) (timerBridge timer, mama_f64_t* interval);
typedef mama_status (*bridgeMamaIo_create) (ioBridge* result, void* nativeQueueHandle, uint32_t descriptor, mamaIoCb action, mamaIoType ioType, mamaIo parent, void* closure);
typedef mama_status (*bridgeMamaIo_getDescriptor) (ioBridge io, uint32_t* d);
typedef mama_status (*bridgeMamaIo_destroy) (ioBridge io);
typedef mama_status (*bridgeMamaPublisher_createByIndex) (publisherBridge* result, mamaTransport tport, int tportIndex, const char* topic, const char* source, const char* root, mamaPublisher parent);
typedef mama_status (*bridgeMamaPublisher_destroy) (publisherBridge publisher);
typedef mama_status (*bridgeMamaPublisher_send) (publisherBridge publisher, mamaMsg msg);
typedef mama_status (*bridgeMamaPublisher_sendFromInbox) (publisherBridge publisher, mamaInbox inbox, mamaMsg msg);
typedef mama_status (*bridgeMamaPublisher_sendFromInboxByIndex) (publisherBridge publisher, int tportIndex, mamaInbox inbox, mamaMsg msg);
typedef mama_status (*bridgeMamaPublisher_sendReplyToInbox) (publisherBridge publisher, mamaMsg request, mamaMsg reply);
typedef mama_status (*bridgeMamaPublisher_sendReplyToInboxHandle) (publisherBridge publisher, void* request, mamaMsg reply);
typedef mama_status (*bridgeMamaPublisher_setUserCallbacks) (publisherBridge publisher, mamaQueue queue, mamaPublisherCallbacks* cb, void* closure);
typedef mama_status (*bridgeMamaInbox_create) (inboxBridge* bridge, mamaTransport tport, mamaQueue queue, mamaInboxMsgCallback msgCB, mamaInboxErrorCallback errorCB, mamaInboxDestroyCallback onInboxDestroyed, void* closure, mamaInbox parent);
typedef mama_status (*bridgeMamaInbox_createByIndex) (inboxBridge* bridge, mamaTransport tport, int tportIndex, mamaQueue queue, mamaInboxMsgCallback msgCB, mamaInboxErrorCallback errorCB, mamaInboxDestroyCallback onInboxDestroyed, void* closure, mamaInbox parent);
typedef mama_status (*bridgeMamaInbox_destroy) (inboxBridge inbox);
typedef mama_status (*bridgeMamaMsg_create) (msgBridge* msg, mamaMsg parent);
typedef mama_status (*bridgeMamaMsg_destroy) (msgBridge msg, int destroyMsg);
typedef mama_status (*bridgeMamaMsg_destroyMiddlewareMsg) (msgBridge msg);
typedef mama_status (*bridgeMamaMsg_detach) (msgBridge msg);
typedef int (*bridgeMamaMsg_isFromInbox) (msgBridge msg);
typedef mama_status (*bridgeMamaMsg_getPlatformError) (msgBridge msg, void** error);
typedef mama_status (*bridgeMamaMsg_setSendSubject) (msgBridge msg, const char* symbol, const char* subject);
typedef mama_status (*bridgeMamaMsg_getNativeHandle) (msgBridge msg, void** result);
typedef mama_status (*bridgeMamaMsg_duplicateReplyHandle) (msgBridge msg, void** result);
typedef mama_status (*bridgeMamaMsg_copyReplyHandle) (void* src, void** dest);
typedef mama_status (*bridgeMamaMsgImpl_setReplyHandle) (msgBridge msg, void* result);
typedef mama_status (*bridgeMamaMsg_destroyReplyHandle) (void* result);

mama_status mamaBridgeImpl_getClosure (mamaBridge bridgeImpl, void** closure);
mama_status mamaBridgeImpl_setClosure (mamaBridge bridgeImpl, void* closure);
/* Write-once meta property "mama.<getName()>.<property>". */
mama_status mamaBridgeImpl_setReadOnlyProperty (mamaBridge bridgeImpl, const char* property,
                                                const char* value);
const char* mamaBridgeImpl_getMetaProperty (mamaBridge bridgeImpl, const char* property);
/* Milliseconds allowed for draining a default queue at close. */
int mamaBridgeImpl_getDefaultQueueTimeout (void);

/* Declared here so MAMA_SET_BRIDGE_COMPILE_TIME_VERSION works with this header alone. */
mama_status mamaInternal_setMetaProperty (const char* name, const char* value);

#if defined(__cplusplus)
}
#endif

#endif /* OPENMAMA_INTEGRATION */

#endif
