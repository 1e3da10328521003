/* Publisher services used by bridges. */
#ifndef MamaIntegrationPublisherH__
#define MamaIntegrationPublisherH__

#if defined(OPENMAMA_INTEGRATION)

#include "mama/mama.h"
#include "mama/integration/types.h"

#if defined(__cplusplus)
extern "C" {
#endif

publisherBridge mamaPublisherImpl_getPublisherBridge (mamaPublisher publisher);
mamaBridge mamaPublisherImpl_getBridgeImpl (mamaPublisher publisher);

#if defined(__cplusplus)
}
#endif

#endif /* OPENMAMA_INTEGRATION */

#endif
