/* Every function the host looks up in the bridge library must have exactly
 * the type the host calls it through, or the first call corrupts the stack
 * instead of failing at load. This unit turns a mismatch into a build error:
 * it is compiled with the bridge and linked into nothing. */
#include <type_traits>

#include <bridge.h>

#include "corvexExports.h"

namespace
{
/* The bridge's own objects stand for the host's opaque handles. */
template <typename T> struct AsHost
{
    using type = T;
};
template <typename T> struct AsHost<T*>
{
    using type = typename AsHost<T>::type*;
};
template <> struct AsHost<CorvexBridgeMsg*>
{
    using type = msgBridge;
};
template <> struct AsHost<CorvexPublisherBridge*>
{
    using type = publisherBridge;
};
template <> struct AsHost<CorvexQueueBridge*>
{
    using type = queueBridge;
};
template <> struct AsHost<CorvexSubscription*>
{
    using type = subscriptionBridge;
};
template <> struct AsHost<CorvexTimer*>
{
    using type = timerBridge;
};
template <> struct AsHost<CorvexTransportBridge*>
{
    using type = transportBridge;
};

template <typename F> struct AsHostFunction;
template <typename R, typename... A> struct AsHostFunction<R (*)(A...)>
{
    using type = typename AsHost<R>::type (*)(typename AsHost<A>::type...);
};
} // namespace

#define CORVEX_CHECK_HOST_TYPE(name, hostType)                                                     \
    static_assert(std::is_same<AsHostFunction<decltype(&corvex##name)>::type, hostType>::value,    \
                  "corvex" #name " does not have the host's type " #hostType)

CORVEX_CHECK_HOST_TYPE(Bridge_init, bridge_init);
CORVEX_CHECK_HOST_TYPE(Bridge_open, bridge_open);
CORVEX_CHECK_HOST_TYPE(Bridge_close, bridge_close);
CORVEX_CHECK_HOST_TYPE(Bridge_start, bridge_start);
CORVEX_CHECK_HOST_TYPE(Bridge_stop, bridge_stop);
CORVEX_CHECK_HOST_TYPE(Bridge_getName, bridge_getName);
CORVEX_CHECK_HOST_TYPE(Bridge_getVersion, bridge_getVersion);
CORVEX_CHECK_HOST_TYPE(Bridge_getDefaultPayloadId, bridge_getDefaultPayloadId);
CORVEX_CHECK_HOST_TYPE(BridgeMamaQueue_create, bridgeMamaQueue_create);
CORVEX_CHECK_HOST_TYPE(BridgeMamaQueue_create_usingNative, bridgeMamaQueue_create_usingNative);
CORVEX_CHECK_HOST_TYPE(BridgeMamaQueue_destroy, bridgeMamaQueue_destroy);
CORVEX_CHECK_HOST_TYPE(BridgeMamaQueue_dispatch, bridgeMamaQueue_dispatch);
CORVEX_CHECK_HOST_TYPE(BridgeMamaQueue_timedDispatch, bridgeMamaQueue_timedDispatch);
CORVEX_CHECK_HOST_TYPE(BridgeMamaQueue_dispatchEvent, bridgeMamaQueue_dispatchEvent);
CORVEX_CHECK_HOST_TYPE(BridgeMamaQueue_enqueueEvent, bridgeMamaQueue_enqueueEvent);
CORVEX_CHECK_HOST_TYPE(BridgeMamaQueue_getEventCount, bridgeMamaQueue_getEventCount);
CORVEX_CHECK_HOST_TYPE(BridgeMamaQueue_stopDispatch, bridgeMamaQueue_stopDispatch);
CORVEX_CHECK_HOST_TYPE(BridgeMamaQueue_setEnqueueCallback, bridgeMamaQueue_setEnqueueCallback);
CORVEX_CHECK_HOST_TYPE(BridgeMamaQueue_removeEnqueueCallback,
                       bridgeMamaQueue_removeEnqueueCallback);
CORVEX_CHECK_HOST_TYPE(BridgeMamaQueue_getNativeHandle, bridgeMamaQueue_getNativeHandle);
CORVEX_CHECK_HOST_TYPE(BridgeMamaQueue_setHighWatermark, bridgeMamaQueue_setHighWatermark);
CORVEX_CHECK_HOST_TYPE(BridgeMamaQueue_setLowWatermark, bridgeMamaQueue_setLowWatermark);
CORVEX_CHECK_HOST_TYPE(BridgeMamaTransport_create, bridgeMamaTransport_create);
CORVEX_CHECK_HOST_TYPE(BridgeMamaTransport_destroy, bridgeMamaTransport_destroy);
CORVEX_CHECK_HOST_TYPE(BridgeMamaTransport_isValid, bridgeMamaTransport_isValid);
CORVEX_CHECK_HOST_TYPE(BridgeMamaTransport_getNativeTransport,
                       bridgeMamaTransport_getNativeTransport);
CORVEX_CHECK_HOST_TYPE(BridgeMamaTransport_forceClientDisconnect,
                       bridgeMamaTransport_forceClientDisconnect);
CORVEX_CHECK_HOST_TYPE(BridgeMamaTransport_findConnection, bridgeMamaTransport_findConnection);
CORVEX_CHECK_HOST_TYPE(BridgeMamaTransport_getAllConnections,
                       bridgeMamaTransport_getAllConnections);
CORVEX_CHECK_HOST_TYPE(BridgeMamaTransport_getAllConnectionsForTopic,
                       bridgeMamaTransport_getAllConnectionsForTopic);
CORVEX_CHECK_HOST_TYPE(BridgeMamaTransport_freeAllConnections,
                       bridgeMamaTransport_freeAllConnections);
CORVEX_CHECK_HOST_TYPE(BridgeMamaTransport_getAllServerConnections,
                       bridgeMamaTransport_getAllServerConnections);
CORVEX_CHECK_HOST_TYPE(BridgeMamaTransport_freeAllServerConnections,
                       bridgeMamaTransport_freeAllServerConnections);
CORVEX_CHECK_HOST_TYPE(BridgeMamaTransport_sendMsgToConnection,
                       bridgeMamaTransport_sendMsgToConnection);
CORVEX_CHECK_HOST_TYPE(BridgeMamaTransport_isConnectionIntercepted,
                       bridgeMamaTransport_isConnectionIntercepted);
CORVEX_CHECK_HOST_TYPE(BridgeMamaTransport_installConnectConflateMgr,
                       bridgeMamaTransport_installConnectConflateMgr);
CORVEX_CHECK_HOST_TYPE(BridgeMamaTransport_uninstallConnectConflateMgr,
                       bridgeMamaTransport_uninstallConnectConflateMgr);
CORVEX_CHECK_HOST_TYPE(BridgeMamaTransport_startConnectionConflation,
                       bridgeMamaTransport_startConnectionConflation);
CORVEX_CHECK_HOST_TYPE(BridgeMamaTransport_requestConflation,
                       bridgeMamaTransport_requestConflation);
CORVEX_CHECK_HOST_TYPE(BridgeMamaTransport_requestEndConflation,
                       bridgeMamaTransport_requestEndConflation);
CORVEX_CHECK_HOST_TYPE(BridgeMamaTransport_getNativeTransportNamingCtx,
                       bridgeMamaTransport_getNativeTransportNamingCtx);
CORVEX_CHECK_HOST_TYPE(BridgeMamaTransport_getNumLoadBalanceAttributes,
                       bridgeMamaTransport_getNumLoadBalanceAttributes);
CORVEX_CHECK_HOST_TYPE(BridgeMamaTransport_getLoadBalanceScheme,
                       bridgeMamaTransport_getLoadBalanceScheme);
CORVEX_CHECK_HOST_TYPE(BridgeMamaTransport_getLoadBalanceSharedObjectName,
                       bridgeMamaTransport_getLoadBalanceSharedObjectName);
CORVEX_CHECK_HOST_TYPE(BridgeMamaSubscription_create, bridgeMamaSubscription_create);
CORVEX_CHECK_HOST_TYPE(BridgeMamaSubscription_createWildCard,
                       bridgeMamaSubscription_createWildCard);
CORVEX_CHECK_HOST_TYPE(BridgeMamaSubscription_destroy, bridgeMamaSubscription_destroy);
CORVEX_CHECK_HOST_TYPE(BridgeMamaSubscription_mute, bridgeMamaSubscription_mute);
CORVEX_CHECK_HOST_TYPE(BridgeMamaSubscription_muteCurrentTopic,
                       bridgeMamaSubscription_muteCurrentTopic);
CORVEX_CHECK_HOST_TYPE(BridgeMamaSubscription_isValid, bridgeMamaSubscription_isValid);
CORVEX_CHECK_HOST_TYPE(BridgeMamaSubscription_hasWildcards, bridgeMamaSubscription_hasWildcards);
CORVEX_CHECK_HOST_TYPE(BridgeMamaSubscription_getPlatformError,
                       bridgeMamaSubscription_getPlatformError);
CORVEX_CHECK_HOST_TYPE(BridgeMamaSubscription_isTportDisconnected,
                       bridgeMamaSubscription_isTportDisconnected);
CORVEX_CHECK_HOST_TYPE(BridgeMamaSubscription_setTopicClosure,
                       bridgeMamaSubscription_setTopicClosure);
CORVEX_CHECK_HOST_TYPE(BridgeMamaPublisher_createByIndex, bridgeMamaPublisher_createByIndex);
CORVEX_CHECK_HOST_TYPE(BridgeMamaPublisher_destroy, bridgeMamaPublisher_destroy);
CORVEX_CHECK_HOST_TYPE(BridgeMamaPublisher_setUserCallbacks, bridgeMamaPublisher_setUserCallbacks);
CORVEX_CHECK_HOST_TYPE(BridgeMamaPublisher_send, bridgeMamaPublisher_send);
CORVEX_CHECK_HOST_TYPE(BridgeMamaPublisher_sendFromInbox, bridgeMamaPublisher_sendFromInbox);
CORVEX_CHECK_HOST_TYPE(BridgeMamaPublisher_sendFromInboxByIndex,
                       bridgeMamaPublisher_sendFromInboxByIndex);
CORVEX_CHECK_HOST_TYPE(BridgeMamaPublisher_sendReplyToInbox, bridgeMamaPublisher_sendReplyToInbox);
CORVEX_CHECK_HOST_TYPE(BridgeMamaPublisher_sendReplyToInboxHandle,
                       bridgeMamaPublisher_sendReplyToInboxHandle);
CORVEX_CHECK_HOST_TYPE(BridgeMamaInbox_createByIndex, bridgeMamaInbox_createByIndex);
CORVEX_CHECK_HOST_TYPE(BridgeMamaInbox_create, bridgeMamaInbox_create);
CORVEX_CHECK_HOST_TYPE(BridgeMamaInbox_destroy, bridgeMamaInbox_destroy);
CORVEX_CHECK_HOST_TYPE(BridgeMamaMsg_create, bridgeMamaMsg_create);
CORVEX_CHECK_HOST_TYPE(BridgeMamaMsg_destroyMiddlewareMsg, bridgeMamaMsg_destroyMiddlewareMsg);
CORVEX_CHECK_HOST_TYPE(BridgeMamaMsg_destroy, bridgeMamaMsg_destroy);
CORVEX_CHECK_HOST_TYPE(BridgeMamaMsg_detach, bridgeMamaMsg_detach);
CORVEX_CHECK_HOST_TYPE(BridgeMamaMsg_getNativeHandle, bridgeMamaMsg_getNativeHandle);
CORVEX_CHECK_HOST_TYPE(BridgeMamaMsg_isFromInbox, bridgeMamaMsg_isFromInbox);
CORVEX_CHECK_HOST_TYPE(BridgeMamaMsg_setSendSubject, bridgeMamaMsg_setSendSubject);
CORVEX_CHECK_HOST_TYPE(BridgeMamaMsg_getPlatformError, bridgeMamaMsg_getPlatformError);
CORVEX_CHECK_HOST_TYPE(BridgeMamaMsg_duplicateReplyHandle, bridgeMamaMsg_duplicateReplyHandle);
CORVEX_CHECK_HOST_TYPE(BridgeMamaMsg_copyReplyHandle, bridgeMamaMsg_copyReplyHandle);
CORVEX_CHECK_HOST_TYPE(BridgeMamaMsg_destroyReplyHandle, bridgeMamaMsg_destroyReplyHandle);
CORVEX_CHECK_HOST_TYPE(BridgeMamaMsgImpl_setReplyHandle, bridgeMamaMsgImpl_setReplyHandle);
CORVEX_CHECK_HOST_TYPE(BridgeMamaMsgImpl_setReplyHandleAndIncrement,
                       bridgeMamaMsgImpl_setReplyHandleAndIncrement);
CORVEX_CHECK_HOST_TYPE(BridgeMamaTimer_create, bridgeMamaTimer_create);
CORVEX_CHECK_HOST_TYPE(BridgeMamaTimer_destroy, bridgeMamaTimer_destroy);
CORVEX_CHECK_HOST_TYPE(BridgeMamaTimer_reset, bridgeMamaTimer_reset);
CORVEX_CHECK_HOST_TYPE(BridgeMamaTimer_getInterval, bridgeMamaTimer_getInterval);
CORVEX_CHECK_HOST_TYPE(BridgeMamaTimer_setInterval, bridgeMamaTimer_setInterval);
CORVEX_CHECK_HOST_TYPE(BridgeMamaIo_create, bridgeMamaIo_create);
CORVEX_CHECK_HOST_TYPE(BridgeMamaIo_getDescriptor, bridgeMamaIo_getDescriptor);
CORVEX_CHECK_HOST_TYPE(BridgeMamaIo_destroy, bridgeMamaIo_destroy);
