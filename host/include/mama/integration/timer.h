/* Timer services used by bridges. */
#ifndef MamaIntegrationTimerH__
#define MamaIntegrationTimerH__

#if defined(OPENMAMA_INTEGRATION)

#include "mama/mama.h"
#include "mama/integration/types.h"

#if defined(__cplusplus)
extern "C" {
#endif

timerBridge mamaTimerImpl_getTimerBridge (mamaTimer timer);

#if defined(__cplusplus)
}
#endif

#endif /* OPENMAMA_INTEGRATION */

#endif
