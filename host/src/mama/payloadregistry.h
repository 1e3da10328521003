/* Process-wide table of loaded payload bridges, kept by the payload loader
 * and used by mama_open/mama_close. */
#ifndef MAMA_PAYLOAD_REGISTRY_H
#define MAMA_PAYLOAD_REGISTRY_H

#include "mama/mama.h"

#if defined(__cplusplus)
extern "C" {
#endif

/* Number of payload bridges currently loaded. */
int mamaPayloadRegistry_count(void);

/* Frees every loaded payload bridge and closes its library (mama_close runs
 * this before closing the middleware bridges). */
void mamaPayloadRegistry_unloadAll(void);

#if defined(__cplusplus)
}
#endif

#endif
