/* Process-wide host state a bridge or payload library may reach. */
#ifndef MamaIntegrationMamaH__
#define MamaIntegrationMamaH__

#if defined(OPENMAMA_INTEGRATION)

#include "mama/mama.h"
#include "mama/integration/types.h"
#include "wombat/property.h"

#if defined(__cplusplus)
extern "C" {
#endif

#define MAX_INTERNAL_PROP_LEN 1024
#define MAMA_PAYLOAD_MAX      255
#define MAMA_MAX_MIDDLEWARES  127

/* Registers the queue that mama_start/mama_stop dispatch for this bridge. */
mama_status mamaImpl_setDefaultEventQueue (mamaBridge bridgeImpl, mamaQueue defaultQueue);

/* The user property table; NULL until properties were first loaded. */
wproperty_t mamaInternal_getProperties (void);

/* Write-once table, separate from the user properties. */
mama_status mamaInternal_setMetaProperty (const char* name, const char* value);
const char* mamaInternal_getMetaProperty (const char* name);

mamaPayloadBridge mamaInternal_getDefaultPayload (void);
mamaPayloadBridge mamaInternal_findPayload (char id);

#if defined(__cplusplus)
}
#endif

#endif /* OPENMAMA_INTEGRATION */

#endif
