/* Transport services used by bridges. */
#ifndef MamaIntegrationTransportH__
#define MamaIntegrationTransportH__

#if defined(OPENMAMA_INTEGRATION)

#include "mama/mama.h"
#include "mama/integration/types.h"

#if defined(__cplusplus)
extern "C" {
#endif

/* Sub-transport 0, or the one at tportIndex (load balancing). */
mama_status mamaTransport_getBridgeTransport (mamaTransport transport, transportBridge* result);
mama_status mamaTransport_getBridgeTransportByIndex (mamaTransport tport, int tportIndex,
                                                     transportBridge* result);
mamaBridge mamaTransportImpl_getBridgeImpl (mamaTransport transport);

/* Calls the application's callbacks synchronously on the caller's thread. */
void mamaTransportImpl_invokeTransportCallback (mamaTransport transport, mamaTransportEvent event,
                                                short cause, const void* platformInfo);
void mamaTransportImpl_invokeTransportTopicCallback (mamaTransport transport,
                                                     mamaTransportTopicEvent event,
                                                     const char* topic, const void* platformInfo);

int mamaTransportImpl_disableRefresh (mamaTransport transport);
mama_status mamaTransportImpl_getTransportIndex (mamaTransport transport, int* tportIndex);

#if defined(__cplusplus)
}
#endif

#endif /* OPENMAMA_INTEGRATION */

#endif
