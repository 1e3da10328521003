/* Host-internal view of a loaded middleware bridge: the function pointers the
 * loader resolved from the bridge library, plus the host's own per-bridge state.
 * Bridges never see this layout; they only hold mamaBridge handles. */
#ifndef MamaBridgeH__
#define MamaBridgeH__

#ifndef OPENMAMA_INTEGRATION
#define OPENMAMA_INTEGRATION
#endif

#include "mama/integration/bridge.h"
#include "mama/integration/mama.h"
#include "wombat/wlock.h"

#if defined(__cplusplus)
extern "C" {
#endif

#define MAMA_BRIDGE_VERSION_TEXT_LEN 256

typedef struct mamaBridgeImpl_
{
    /* Resolved bridge functions; NULL when an optional symbol is absent, so
     * every optional slot is tested before it is called. */
    bridge_init                                      bridgeInit;
    bridge_start                                     bridgeStart;
    bridge_stop                                      bridgeStop;
    bridge_open                                      bridgeOpen;
    bridge_close                                     bridgeClose;
    bridge_getVersion                                bridgeGetVersion;
    bridge_getName                                   bridgeGetName;
    bridge_getDefaultPayloadId                       bridgeGetDefaultPayloadId;
    bridgeMamaQueue_create                           bridgeMamaQueueCreate;
    bridgeMamaQueue_create_usingNative               bridgeMamaQueueCreateUsingNative;
    bridgeMamaQueue_destroy                          bridgeMamaQueueDestroy;
    bridgeMamaQueue_getEventCount                    bridgeMamaQueueGetEventCount;
    bridgeMamaQueue_dispatch                         bridgeMamaQueueDispatch;
    bridgeMamaQueue_timedDispatch                    bridgeMamaQueueTimedDispatch;
    bridgeMamaQueue_dispatchEvent                    bridgeMamaQueueDispatchEvent;
    bridgeMamaQueue_enqueueEvent                     bridgeMamaQueueEnqueueEvent;
    bridgeMamaQueue_stopDispatch                     bridgeMamaQueueStopDispatch;
    bridgeMamaQueue_setEnqueueCallback               bridgeMamaQueueSetEnqueueCallback;
    bridgeMamaQueue_removeEnqueueCallback            bridgeMamaQueueRemoveEnqueueCallback;
    bridgeMamaQueue_getNativeHandle                  bridgeMamaQueueGetNativeHandle;
    bridgeMamaQueue_setLowWatermark                  bridgeMamaQueueSetLowWatermark;
    bridgeMamaQueue_setHighWatermark                 bridgeMamaQueueSetHighWatermark;
    bridgeMamaTransport_isValid                      bridgeMamaTransportIsValid;
    bridgeMamaTransport_destroy                      bridgeMamaTransportDestroy;
    bridgeMamaTransport_create                       bridgeMamaTransportCreate;
    bridgeMamaTransport_forceClientDisconnect        bridgeMamaTransportForceClientDisconnect;
    bridgeMamaTransport_findConnection               bridgeMamaTransportFindConnection;
    bridgeMamaTransport_getAllConnections            bridgeMamaTransportGetAllConnections;
    bridgeMamaTransport_getAllConnectionsForTopic    bridgeMamaTransportGetAllConnectionsForTopic;
    bridgeMamaTransport_freeAllConnections           bridgeMamaTransportFreeAllConnections;
    bridgeMamaTransport_getAllServerConnections      bridgeMamaTransportGetAllServerConnections;
    bridgeMamaTransport_freeAllServerConnections     bridgeMamaTransportFreeAllServerConnections;
    bridgeMamaTransport_getNumLoadBalanceAttributes  bridgeMamaTransportGetNumLoadBalanceAttributes;
    bridgeMamaTransport_getLoadBalanceScheme         bridgeMamaTransportGetLoadBalanceScheme;
    bridgeMamaTransport_getLoadBalanceSharedObjectName bridgeMamaTransportGetLoadBalanceSharedObjectName;
    bridgeMamaTransport_sendMsgToConnection          bridgeMamaTransportSendMsgToConnection;
    bridgeMamaTransport_isConnectionIntercepted      bridgeMamaTransportIsConnectionIntercepted;
    bridgeMamaTransport_installConnectConflateMgr    bridgeMamaTransportInstallConnectConflateMgr;
    bridgeMamaTransport_uninstallConnectConflateMgr  bridgeMamaTransportUninstallConnectConflateMgr;
    bridgeMamaTransport_startConnectionConflation    bridgeMamaTransportStartConnectionConflation;
    bridgeMamaTransport_requestConflation            bridgeMamaTransportRequestConflation;
    bridgeMamaTransport_requestEndConflation         bridgeMamaTransportRequestEndConflation;
    bridgeMamaTransport_getNativeTransport           bridgeMamaTransportGetNativeTransport;
    bridgeMamaTransport_getNativeTransportNamingCtx  bridgeMamaTransportGetNativeTransportNamingCtx;
    bridgeMamaSubscription_create                    bridgeMamaSubscriptionCreate;
    bridgeMamaSubscription_createWildCard            bridgeMamaSubscriptionCreateWildCard;
    bridgeMamaSubscription_mute                      bridgeMamaSubscriptionMute;
    bridgeMamaSubscription_destroy                   bridgeMamaSubscriptionDestroy;
    bridgeMamaSubscription_isValid                   bridgeMamaSubscriptionIsValid;
    bridgeMamaSubscription_hasWildcards              bridgeMamaSubscriptionHasWildcards;
    bridgeMamaSubscription_getPlatformError          bridgeMamaSubscriptionGetPlatformError;
    bridgeMamaSubscription_setTopicClosure           bridgeMamaSubscriptionSetTopicClosure;
    bridgeMamaSubscription_muteCurrentTopic          bridgeMamaSubscriptionMuteCurrentTopic;
    bridgeMamaSubscription_isTportDisconnected       bridgeMamaSubscriptionIsTportDisconnected;
    bridgeMamaTimer_create                           bridgeMamaTimerCreate;
    bridgeMamaTimer_destroy                          bridgeMamaTimerDestroy;
    bridgeMamaTimer_reset                            bridgeMamaTimerReset;
    bridgeMamaTimer_setInterval                      bridgeMamaTimerSetInterval;
    bridgeMamaTimer_getInterval                      bridgeMamaTimerGetInterval;
    bridgeMamaIo_create                              bridgeMamaIoCreate;
    bridgeMamaIo_getDescriptor                       bridgeMamaIoGetDescriptor;
    bridgeMamaIo_destroy                             bridgeMamaIoDestroy;
    bridgeMamaPublisher_createByIndex                bridgeMamaPublisherCreateByIndex;
    bridgeMamaPublisher_destroy                      bridgeMamaPublisherDestroy;
    bridgeMamaPublisher_send                         bridgeMamaPublisherSend;
    bridgeMamaPublisher_sendFromInbox                bridgeMamaPublisherSendFromInbox;
    bridgeMamaPublisher_sendFromInboxByIndex         bridgeMamaPublisherSendFromInboxByIndex;
    bridgeMamaPublisher_sendReplyToInbox             bridgeMamaPublisherSendReplyToInbox;
    bridgeMamaPublisher_sendReplyToInboxHandle       bridgeMamaPublisherSendReplyToInboxHandle;
    bridgeMamaPublisher_setUserCallbacks             bridgeMamaPublisherSetUserCallbacks;
    bridgeMamaInbox_create                           bridgeMamaInboxCreate;
    bridgeMamaInbox_createByIndex                    bridgeMamaInboxCreateByIndex;
    bridgeMamaInbox_destroy                          bridgeMamaInboxDestroy;
    bridgeMamaMsg_create                             bridgeMamaMsgCreate;
    bridgeMamaMsg_destroy                            bridgeMamaMsgDestroy;
    bridgeMamaMsg_destroyMiddlewareMsg               bridgeMamaMsgDestroyMiddlewareMsg;
    bridgeMamaMsg_detach                             bridgeMamaMsgDetach;
    bridgeMamaMsg_isFromInbox                        bridgeMamaMsgIsFromInbox;
    bridgeMamaMsg_getPlatformError                   bridgeMamaMsgGetPlatformError;
    bridgeMamaMsg_setSendSubject                     bridgeMamaMsgSetSendSubject;
    bridgeMamaMsg_getNativeHandle                    bridgeMamaMsgGetNativeHandle;
    bridgeMamaMsg_duplicateReplyHandle               bridgeMamaMsgDuplicateReplyHandle;
    bridgeMamaMsg_copyReplyHandle                    bridgeMamaMsgCopyReplyHandle;
    bridgeMamaMsgImpl_setReplyHandle                 bridgeMamaMsgImplSetReplyHandle;
    bridgeMamaMsgImpl_setReplyHandle                 bridgeMamaMsgImplSetReplyHandleAndIncrement;
    bridgeMamaMsg_destroyReplyHandle                 bridgeMamaMsgDestroyReplyHandle;

    /* Host state */
    void*          mClosure;            /* the bridge's own object (setClosure) */
    wLock          mLock;               /* created by the loader, destroyed at close */
    mamaQueue      mDefaultEventQueue;  /* registered by the bridge's open */
    mama_bool_t    mEntitleDeferred;    /* meta property entitlements.deferred */
    void*          mDllHandle;          /* the bridge library */
    void*          mBaseDllHandle;      /* base bridge library, when extended */
    unsigned int   mStartCount;         /* mama_start references; guarded by the global lock */
    char           mName[MAMA_MAX_BRIDGE_NAME_LEN + 1]; /* name it was loaded under */
    char           mVersionText[MAMA_BRIDGE_VERSION_TEXT_LEN]; /* mama_getVersion result */
} mamaBridgeImpl;

#if defined(__cplusplus)
}
#endif

#endif
