/* Process-wide state of the library: initialisation, and the contexts that
 * cleanup must destroy (created and destroyed through it). */
#ifndef CORVEXCLIENT_LIBRARY_H
#define CORVEXCLIENT_LIBRARY_H

#include "corvexClient.h"

bool corvexLibrary_isInitialized();

#endif
