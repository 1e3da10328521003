/* Process-wide table of loaded payload bridges, kept by the payload loader
 * and used by mama_open/mama_close. */
#ifndef MAMA_PAYLOAD_REGISTRY_H
#define MAMA_PAYLOAD_REGISTRY_H

#include <stddef.h>

#include "mama/mama.h"

#if defined(__cplusplus)
extern "C" {
#endif

/* Number of payload bridges currently loaded. */
int mamaPayloadRegistry_count(void);

/* Frees every loaded payload bridge and closes its library (mama_close runs
 * this before closing the middleware bridges). */
void mamaPayloadRegistry_unloadAll(void);

/* 1 while `bridge` is a loaded payload bridge (its functions may be called). */
int mamaPayloadRegistry_isLoaded(mamaPayloadBridge bridge);

/* Id character of a loaded payload bridge; '\0' when it is not loaded. */
char mamaPayloadRegistry_getId(mamaPayloadBridge bridge);

/* One function the loader resolves: exported as <payloadName><mSuffix>, stored
 * at mOffset in mamaPayloadBridgeImpl. */
typedef struct mamaPayloadSymbol_
{
    const char* mSuffix;
    size_t      mOffset;
    int         mMandatory;
} mamaPayloadSymbol;

extern const mamaPayloadSymbol gMamaPayloadSymbols[];
extern const size_t gMamaPayloadSymbolCount;

#if defined(__cplusplus)
}
#endif

#endif
