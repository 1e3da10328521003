/* The bridge's build identity and the version record it gives the vendor
 * library in place of the library's own. */
#ifndef CORVEX_BRIDGE_CORVEXGENRELEASEVERSION_H
#define CORVEX_BRIDGE_CORVEXGENRELEASEVERSION_H

#include <mama/mama.h>
#include <mama/status.h>

#include "corvexClient.h"

#define CORVEX_BRIDGE_PRODUCT_NAME "Corvex OpenMAMA Middleware Bridge"

/* The bridge's record (version, date and time, variant), built once per
 * process on first use. 5 for a NULL pointer. */
mama_status corvexOpenmama_version_get(const corvexClient_versionInfo_t** record);

#endif /* CORVEX_BRIDGE_CORVEXGENRELEASEVERSION_H */
