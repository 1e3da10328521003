/* Inbox services used by bridges. */
#ifndef MamaIntegrationInboxH__
#define MamaIntegrationInboxH__

#if defined(OPENMAMA_INTEGRATION)

#include "mama/mama.h"
#include "mama/integration/types.h"

#if defined(__cplusplus)
extern "C" {
#endif

inboxBridge mamaInboxImpl_getInboxBridge (mamaInbox inbox);

#if defined(__cplusplus)
}
#endif

#endif /* OPENMAMA_INTEGRATION */

#endif
