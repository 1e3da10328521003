/* Every function the host looks up by name in libmamacorveximpl.so, declared
 * once: each definition is compiled against its declaration here, and the
 * signature check compiles these against the host's own function types. */
#ifndef CORVEX_BRIDGE_CORVEXEXPORTS_H
#define CORVEX_BRIDGE_CORVEXEXPORTS_H

#include <stddef.h>
#include <stdint.h>

#include <mama/inbox.h>
#include <mama/integration/transport.h>
#include <mama/integration/types.h>
#include <mama/io.h>
#include <mama/mama.h>
#include <mama/publisher.h>
#include <mama/timer.h>

/* Marks a function the host looks up by name; everything else stays hidden. */
#define CORVEX_EXPORT extern "C" __attribute__((visibility("default")))

struct CorvexBridgeMsg;
struct CorvexPublisherBridge;
struct CorvexQueueBridge;
struct CorvexSubscription;
struct CorvexTimer;
struct CorvexTransportBridge;

/* Bridge life cycle (bridge.cpp) */
CORVEX_EXPORT mama_status corvexBridge_init(mamaBridge impl);
CORVEX_EXPORT mama_status corvexBridge_open(mamaBridge impl);
CORVEX_EXPORT mama_status corvexBridge_close(mamaBridge impl);
CORVEX_EXPORT mama_status corvexBridge_start(mamaQueue defaultEventQueue);
CORVEX_EXPORT mama_status corvexBridge_stop(mamaQueue defaultEventQueue);
CORVEX_EXPORT const char* corvexBridge_getName(void);
CORVEX_EXPORT const char* corvexBridge_getVersion(void);
CORVEX_EXPORT mama_status corvexBridge_getDefaultPayloadId(char*** names, char** ids);

/* Event queues (queue.cpp) */
CORVEX_EXPORT mama_status corvexBridgeMamaQueue_create(CorvexQueueBridge** queue, mamaQueue parent);
CORVEX_EXPORT mama_status corvexBridgeMamaQueue_create_usingNative(CorvexQueueBridge** queue,
                                                                   mamaQueue parent,
                                                                   void* nativeQueue);
CORVEX_EXPORT mama_status corvexBridgeMamaQueue_destroy(CorvexQueueBridge* queue);
CORVEX_EXPORT mama_status corvexBridgeMamaQueue_dispatch(CorvexQueueBridge* queue);
CORVEX_EXPORT mama_status corvexBridgeMamaQueue_timedDispatch(CorvexQueueBridge* queue,
                                                              uint64_t timeout);
CORVEX_EXPORT mama_status corvexBridgeMamaQueue_dispatchEvent(CorvexQueueBridge* queue);
CORVEX_EXPORT mama_status corvexBridgeMamaQueue_enqueueEvent(CorvexQueueBridge* queue,
                                                             mamaQueueEnqueueCB callback,
                                                             void* closure);
CORVEX_EXPORT mama_status corvexBridgeMamaQueue_getEventCount(CorvexQueueBridge* queue,
                                                              size_t* count);
CORVEX_EXPORT mama_status corvexBridgeMamaQueue_stopDispatch(CorvexQueueBridge* queue);
CORVEX_EXPORT mama_status corvexBridgeMamaQueue_setEnqueueCallback(CorvexQueueBridge* queue,
                                                                   mamaQueueEnqueueCB callback,
                                                                   void* closure);
CORVEX_EXPORT mama_status corvexBridgeMamaQueue_removeEnqueueCallback(CorvexQueueBridge* queue);
CORVEX_EXPORT mama_status corvexBridgeMamaQueue_getNativeHandle(CorvexQueueBridge* queue,
                                                                void** nativeHandle);
CORVEX_EXPORT mama_status corvexBridgeMamaQueue_setHighWatermark(CorvexQueueBridge* queue,
                                                                 size_t highWatermark);
CORVEX_EXPORT mama_status corvexBridgeMamaQueue_setLowWatermark(CorvexQueueBridge* queue,
                                                                size_t lowWatermark);

/* Transports (transport.cpp) */
CORVEX_EXPORT mama_status corvexBridgeMamaTransport_create(CorvexTransportBridge** result,
                                                           const char* name, mamaTransport parent);
CORVEX_EXPORT mama_status corvexBridgeMamaTransport_destroy(CorvexTransportBridge* transport);
CORVEX_EXPORT int corvexBridgeMamaTransport_isValid(CorvexTransportBridge* transport);
CORVEX_EXPORT mama_status
corvexBridgeMamaTransport_getNativeTransport(CorvexTransportBridge* transport, void** result);
CORVEX_EXPORT mama_status corvexBridgeMamaTransport_forceClientDisconnect(CorvexTransportBridge**,
                                                                          int, const char*,
                                                                          uint16_t);
CORVEX_EXPORT mama_status corvexBridgeMamaTransport_findConnection(CorvexTransportBridge**, int,
                                                                   mamaConnection*, const char*,
                                                                   uint16_t);
CORVEX_EXPORT mama_status corvexBridgeMamaTransport_getAllConnections(CorvexTransportBridge**, int,
                                                                      mamaConnection**, uint32_t*);
CORVEX_EXPORT mama_status corvexBridgeMamaTransport_getAllConnectionsForTopic(
    CorvexTransportBridge**, int, const char*, mamaConnection**, uint32_t*);
CORVEX_EXPORT mama_status corvexBridgeMamaTransport_freeAllConnections(CorvexTransportBridge**, int,
                                                                       mamaConnection*, uint32_t);
CORVEX_EXPORT mama_status corvexBridgeMamaTransport_getAllServerConnections(CorvexTransportBridge**,
                                                                            int,
                                                                            mamaServerConnection**,
                                                                            uint32_t*);
CORVEX_EXPORT mama_status corvexBridgeMamaTransport_freeAllServerConnections(
    CorvexTransportBridge**, int, mamaServerConnection*, uint32_t);
CORVEX_EXPORT mama_status corvexBridgeMamaTransport_sendMsgToConnection(CorvexTransportBridge*,
                                                                        mamaConnection, mamaMsg,
                                                                        const char*);
CORVEX_EXPORT mama_status corvexBridgeMamaTransport_isConnectionIntercepted(mamaConnection,
                                                                            uint8_t* result);
CORVEX_EXPORT mama_status corvexBridgeMamaTransport_installConnectConflateMgr(
    CorvexTransportBridge*, mamaConflationManager, mamaConnection, conflateProcessCb,
    conflateGetMsgCb);
CORVEX_EXPORT mama_status corvexBridgeMamaTransport_uninstallConnectConflateMgr(
    CorvexTransportBridge*, mamaConflationManager, mamaConnection);
CORVEX_EXPORT mama_status corvexBridgeMamaTransport_startConnectionConflation(
    CorvexTransportBridge*, mamaConflationManager, mamaConnection);
CORVEX_EXPORT mama_status corvexBridgeMamaTransport_requestConflation(CorvexTransportBridge**, int);
CORVEX_EXPORT mama_status corvexBridgeMamaTransport_requestEndConflation(CorvexTransportBridge**,
                                                                         int);
CORVEX_EXPORT mama_status
corvexBridgeMamaTransport_getNativeTransportNamingCtx(CorvexTransportBridge*, void**);
CORVEX_EXPORT mama_status corvexBridgeMamaTransport_getNumLoadBalanceAttributes(const char* name,
                                                                                int* count);
CORVEX_EXPORT mama_status corvexBridgeMamaTransport_getLoadBalanceScheme(const char* name,
                                                                         tportLbScheme* scheme);
CORVEX_EXPORT mama_status
corvexBridgeMamaTransport_getLoadBalanceSharedObjectName(const char* name, const char** objectName);

/* Subscriptions (subscription.cpp) */
CORVEX_EXPORT mama_status corvexBridgeMamaSubscription_create(
    CorvexSubscription** result, const char* source, const char* symbol, mamaTransport transport,
    mamaQueue queue, mamaMsgCallbacks callbacks, mamaSubscription subscription, void* closure);
CORVEX_EXPORT mama_status corvexBridgeMamaSubscription_createWildCard(
    CorvexSubscription** result, const char* source, const char* symbol, mamaTransport transport,
    mamaQueue queue, mamaMsgCallbacks callbacks, mamaSubscription subscription, void* closure);
CORVEX_EXPORT mama_status corvexBridgeMamaSubscription_destroy(CorvexSubscription* subscription);
CORVEX_EXPORT mama_status corvexBridgeMamaSubscription_mute(CorvexSubscription* subscription);
CORVEX_EXPORT mama_status
corvexBridgeMamaSubscription_muteCurrentTopic(CorvexSubscription* subscription);
CORVEX_EXPORT int corvexBridgeMamaSubscription_isValid(CorvexSubscription* subscription);
CORVEX_EXPORT int corvexBridgeMamaSubscription_hasWildcards(CorvexSubscription* subscription);
CORVEX_EXPORT mama_status corvexBridgeMamaSubscription_getPlatformError(CorvexSubscription*,
                                                                        void**);
CORVEX_EXPORT int corvexBridgeMamaSubscription_isTportDisconnected(CorvexSubscription*);
CORVEX_EXPORT mama_status corvexBridgeMamaSubscription_setTopicClosure(CorvexSubscription*, void*);

/* Publishers (publisher.cpp) */
CORVEX_EXPORT mama_status corvexBridgeMamaPublisher_createByIndex(
    CorvexPublisherBridge** result, mamaTransport transport, int transportIndex, const char* topic,
    const char* source, const char* root, mamaPublisher parent);
CORVEX_EXPORT mama_status corvexBridgeMamaPublisher_create(CorvexPublisherBridge** result,
                                                           mamaTransport transport,
                                                           const char* topic, const char* source,
                                                           const char* root, mamaPublisher parent);
CORVEX_EXPORT mama_status corvexBridgeMamaPublisher_destroy(CorvexPublisherBridge* publisher);
CORVEX_EXPORT mama_status
corvexBridgeMamaPublisher_setUserCallbacks(CorvexPublisherBridge* publisher, mamaQueue queue,
                                           mamaPublisherCallbacks* callbacks, void* closure);
CORVEX_EXPORT mama_status corvexBridgeMamaPublisher_send(CorvexPublisherBridge* publisher,
                                                         mamaMsg msg);
CORVEX_EXPORT mama_status corvexBridgeMamaPublisher_sendFromInbox(CorvexPublisherBridge* publisher,
                                                                  mamaInbox inbox, mamaMsg msg);
CORVEX_EXPORT mama_status corvexBridgeMamaPublisher_sendFromInboxByIndex(
    CorvexPublisherBridge* publisher, int, mamaInbox inbox, mamaMsg msg);
CORVEX_EXPORT mama_status corvexBridgeMamaPublisher_sendReplyToInbox(
    CorvexPublisherBridge* publisher, mamaMsg request, mamaMsg reply);
CORVEX_EXPORT mama_status corvexBridgeMamaPublisher_sendReplyToInboxHandle(
    CorvexPublisherBridge* publisher, void* request, mamaMsg reply);

/* Inboxes (inbox.cpp) */
CORVEX_EXPORT mama_status corvexBridgeMamaInbox_createByIndex(
    inboxBridge* bridge, mamaTransport tport, int, mamaQueue queue, mamaInboxMsgCallback msgCB,
    mamaInboxErrorCallback, mamaInboxDestroyCallback, void*, mamaInbox parent);
CORVEX_EXPORT mama_status corvexBridgeMamaInbox_create(inboxBridge* bridge, mamaTransport tport,
                                                       mamaQueue queue, mamaInboxMsgCallback msgCB,
                                                       mamaInboxErrorCallback errorCB,
                                                       mamaInboxDestroyCallback onInboxDestroyed,
                                                       void* closure, mamaInbox parent);
CORVEX_EXPORT mama_status corvexBridgeMamaInbox_destroy(inboxBridge inbox);

/* Bridge messages and reply handles (msg.cpp) */
CORVEX_EXPORT mama_status corvexBridgeMamaMsg_create(CorvexBridgeMsg** msg, mamaMsg parent);
CORVEX_EXPORT mama_status corvexBridgeMamaMsg_destroyMiddlewareMsg(CorvexBridgeMsg* msg);
CORVEX_EXPORT mama_status corvexBridgeMamaMsg_destroy(CorvexBridgeMsg* msg, int);
CORVEX_EXPORT mama_status corvexBridgeMamaMsg_detach(CorvexBridgeMsg* msg);
CORVEX_EXPORT mama_status corvexBridgeMamaMsg_getNativeHandle(CorvexBridgeMsg* msg, void** result);
CORVEX_EXPORT int corvexBridgeMamaMsg_isFromInbox(CorvexBridgeMsg* msg);
CORVEX_EXPORT mama_status corvexBridgeMamaMsg_setSendSubject(CorvexBridgeMsg* msg,
                                                             const char* symbol, const char*);
CORVEX_EXPORT mama_status corvexBridgeMamaMsg_getPlatformError(CorvexBridgeMsg*, void** error);
CORVEX_EXPORT mama_status corvexBridgeMamaMsg_duplicateReplyHandle(CorvexBridgeMsg* msg,
                                                                   void** result);
CORVEX_EXPORT mama_status corvexBridgeMamaMsg_copyReplyHandle(void* src, void** dest);
CORVEX_EXPORT mama_status corvexBridgeMamaMsg_destroyReplyHandle(void* handle);
CORVEX_EXPORT mama_status corvexBridgeMamaMsgImpl_setReplyHandle(CorvexBridgeMsg* msg,
                                                                 void* handle);
CORVEX_EXPORT mama_status corvexBridgeMamaMsgImpl_setReplyHandleAndIncrement(CorvexBridgeMsg* msg,
                                                                             void* handle);

/* Timers (timer.cpp) */
CORVEX_EXPORT mama_status corvexBridgeMamaTimer_create(CorvexTimer** result,
                                                       void* nativeQueueHandle, mamaTimerCb action,
                                                       mamaTimerCb onTimerDestroyed,
                                                       mama_f64_t interval, mamaTimer parent,
                                                       void* closure);
CORVEX_EXPORT mama_status corvexBridgeMamaTimer_destroy(CorvexTimer* timer);
CORVEX_EXPORT mama_status corvexBridgeMamaTimer_reset(CorvexTimer* timer);
CORVEX_EXPORT mama_status corvexBridgeMamaTimer_getInterval(CorvexTimer* timer,
                                                            mama_f64_t* interval);
CORVEX_EXPORT mama_status corvexBridgeMamaTimer_setInterval(CorvexTimer* timer,
                                                            mama_f64_t interval);

/* IO events (io.cpp) */
CORVEX_EXPORT mama_status corvexBridgeMamaIo_create(ioBridge*, void*, uint32_t, mamaIoCb,
                                                    mamaIoType, mamaIo, void*);
CORVEX_EXPORT mama_status corvexBridgeMamaIo_getDescriptor(ioBridge, uint32_t*);
CORVEX_EXPORT mama_status corvexBridgeMamaIo_destroy(ioBridge);

#endif /* CORVEX_BRIDGE_CORVEXEXPORTS_H */
