/* Process-wide state of the library: initialisation and the contexts that
 * cleanup must destroy. */
#ifndef CORVEXCLIENT_LIBRARY_H
#define CORVEXCLIENT_LIBRARY_H

#include "corvexClient.h"

bool corvexLibrary_isInitialized();

/* Registers a context for cleanup; false when the library is not initialised. */
bool corvexLibrary_addContext(corvexClientContext* context);
void corvexLibrary_removeContext(corvexClientContext* context);

#endif
