/* Subscriptions: basic (topic), wildcard and market-data. */
#ifndef MamaSubscriptionH__
#define MamaSubscriptionH__

#include "mama/types.h"
#include "mama/quality.h"
#include "mama/servicelevel.h"
#include "mama/subscriptiontype.h"

#if defined(__cplusplus)
extern "C" {
#endif

typedef void (MAMACALLTYPE *wombat_subscriptionCreateCB) (mamaSubscription subscription, void* closure);
typedef void (MAMACALLTYPE *wombat_subscriptionErrorCB) (mamaSubscription subscription, mama_status status,
                                                         void* platformError, const char* subject,
                                                         void* closure);
typedef void (MAMACALLTYPE *wombat_subscriptionOnMsgCB) (mamaSubscription subscription, mamaMsg msg,
                                                         void* closure, void* itemClosure);
typedef void (MAMACALLTYPE *wombat_subscriptionWildCardOnMsgCB) (mamaSubscription subscription,
                                                                 mamaMsg msg, const char* topic,
                                                                 void* closure, void* itemClosure);
typedef void (MAMACALLTYPE *wombat_subscriptionQualityCB) (mamaSubscription subscription,
                                                           mamaQuality quality, const char* symbol,
                                                           short cause, const void* platformInfo,
                                                           void* closure);
typedef void (MAMACALLTYPE *wombat_subscriptionGapCB) (mamaSubscription subscription, void* closure);
typedef void (MAMACALLTYPE *wombat_subscriptionRecapCB) (mamaSubscription subscription, void* closure);
typedef void (MAMACALLTYPE *wombat_subscriptionDestroyCB) (mamaSubscription subscription, void* closure);

/* Member order is part of the binary interface with bridges. */
typedef struct mamaMsgCallbacks_
{
    wombat_subscriptionCreateCB  onCreate;
    wombat_subscriptionErrorCB   onError;
    wombat_subscriptionOnMsgCB   onMsg;
    wombat_subscriptionQualityCB onQuality;
    wombat_subscriptionGapCB     onGap;
    wombat_subscriptionRecapCB   onRecapRequest;
    wombat_subscriptionDestroyCB onDestroy;
} mamaMsgCallbacks;

typedef struct mamaWildCardMsgCallbacks_
{
    wombat_subscriptionCreateCB        onCreate;
    wombat_subscriptionErrorCB         onError;
    wombat_subscriptionWildCardOnMsgCB onMsg;
    wombat_subscriptionDestroyCB       onDestroy;
} mamaWildCardMsgCallbacks;

typedef enum mamaSubscriptionState_
{
    MAMA_SUBSCRIPTION_UNKNOWN      = 0,
    MAMA_SUBSCRIPTION_ALLOCATED    = 1,
    MAMA_SUBSCRIPTION_SETUP        = 2,
    MAMA_SUBSCRIPTION_ACTIVATING   = 3,
    MAMA_SUBSCRIPTION_ACTIVATED    = 4,
    MAMA_SUBSCRIPTION_DEACTIVATING = 5,
    MAMA_SUBSCRIPTION_DEACTIVATED  = 6,
    MAMA_SUBSCRIPTION_DESTROYING   = 7,
    MAMA_SUBSCRIPTION_DESTROYED    = 8,
    MAMA_SUBSCRIPTION_DEALLOCATING = 9,
    MAMA_SUBSCRIPTION_DEALLOCATED  = 10,
    MAMA_SUBSCRIPTION_REACTIVATING = 11
} mamaSubscriptionState;

const char* mamaSubscription_stringForState (mamaSubscriptionState state);

mama_status mamaSubscription_allocate (mamaSubscription* result);
mama_status mamaSubscription_deallocate (mamaSubscription subscription);
mama_status mamaSubscription_createBasic (mamaSubscription subscription, mamaTransport transport,
                                          mamaQueue queue, const mamaMsgCallbacks* callbacks,
                                          const char* symbol, void* closure);
mama_status mamaSubscription_createBasicWildCard (mamaSubscription subscription,
                                                  mamaTransport transport, mamaQueue queue,
                                                  const mamaWildCardMsgCallbacks* callbacks,
                                                  const char* source, const char* symbol,
                                                  void* closure);
mama_status mamaSubscription_create (mamaSubscription subscription, mamaQueue queue,
                                     const mamaMsgCallbacks* callbacks, mamaSource source,
                                     const char* symbol, void* closure);
mama_status mamaSubscription_activate (mamaSubscription subscription);
mama_status mamaSubscription_deactivate (mamaSubscription subscription);
mama_status mamaSubscription_destroy (mamaSubscription subscription);
mama_status mamaSubscription_destroyEx (mamaSubscription subscription);

mama_status mamaSubscription_getState (mamaSubscription subscription, mamaSubscriptionState* state);
mama_status mamaSubscription_getSymbol (mamaSubscription subscription, const char** symbol);
mama_status mamaSubscription_getSource (mamaSubscription subscription, const char** source);
mama_status mamaSubscription_getTransport (mamaSubscription subscription, mamaTransport* transport);
mama_status mamaSubscription_getQueue (mamaSubscription subscription, mamaQueue* queue);
mama_status mamaSubscription_getClosure (mamaSubscription subscription, void** closure);
mama_status mamaSubscription_getItemClosure (mamaSubscription subscription, void** closure);
mama_status mamaSubscription_setItemClosure (mamaSubscription subscription, void* closure);
mama_status mamaSubscription_getSubscriptionType (mamaSubscription subscription,
                                                  mamaSubscriptionType* type);
mama_status mamaSubscription_setSubscriptionType (mamaSubscription subscription,
                                                  mamaSubscriptionType type);
mama_status mamaSubscription_setRequiresInitial (mamaSubscription subscription, int requiresInitial);
mama_status mamaSubscription_getRequiresInitial (mamaSubscription subscription, int* requiresInitial);
mama_status mamaSubscription_setRecoverGaps (mamaSubscription subscription, int doesRecover);
mama_status mamaSubscription_getRecoverGaps (mamaSubscription subscription, int* doesRecover);
mama_status mamaSubscription_setTimeout (mamaSubscription subscription, double timeout);
mama_status mamaSubscription_getTimeout (mamaSubscription subscription, double* timeout);
mama_status mamaSubscription_setRetries (mamaSubscription subscription, int retries);
mama_status mamaSubscription_getRetries (mamaSubscription subscription, int* retries);
mama_status mamaSubscription_setServiceLevel (mamaSubscription subscription,
                                              mamaServiceLevel serviceLevel, long serviceLevelOpt);
mama_status mamaSubscription_getServiceLevel (mamaSubscription subscription,
                                              mamaServiceLevel* serviceLevel);
mama_status mamaSubscription_muteCurrentTopic (mamaSubscription subscription);
mama_status mamaSubscription_getPlatformError (mamaSubscription subscription, void** error);
int mamaSubscription_isActive (mamaSubscription subscription);
int mamaSubscription_isValid (mamaSubscription subscription);
int mamaSubscription_hasWildcards (mamaSubscription subscription);
int mamaSubscription_isTportDisconnected (mamaSubscription subscription);

#if defined(__cplusplus)
}
#endif

#endif
