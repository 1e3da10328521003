/* Subscription services used by bridges to deliver messages. */
#ifndef MamaIntegrationSubscriptionH__
#define MamaIntegrationSubscriptionH__

#if defined(OPENMAMA_INTEGRATION)

#include "mama/mama.h"
#include "mama/integration/types.h"

#if defined(__cplusplus)
extern "C" {
#endif

mama_status mamaSubscription_processMsg (mamaSubscription subscription, mamaMsg message);
mama_status mamaSubscription_processWildCardMsg (mamaSubscription subscription, mamaMsg msg,
                                                 const char* topic, void* topicClosure);
subscriptionBridge mamaSubscription_getSubscriptionBridge (mamaSubscription subscription);
mamaBridge mamaSubscription_getBridgeImpl (mamaSubscription subscription);
mamaMsgCallbacks* mamaSubscription_getUserCallbacks (mamaSubscription subscription);

#if defined(__cplusplus)
}
#endif

#endif /* OPENMAMA_INTEGRATION */

#endif
