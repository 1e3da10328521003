/* IO services used by bridges. */
#ifndef MamaIntegrationIoH__
#define MamaIntegrationIoH__

#if defined(OPENMAMA_INTEGRATION)

#include "mama/mama.h"
#include "mama/integration/types.h"

#if defined(__cplusplus)
extern "C" {
#endif

ioBridge mamaIoImpl_getIoBridge (mamaIo io);

#if defined(__cplusplus)
}
#endif

#endif /* OPENMAMA_INTEGRATION */

#endif
