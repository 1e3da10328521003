/* Internal header kept for bridges written against it: forwards to the
 * integration declarations. */
#ifndef MamaTransportImplH__
#define MamaTransportImplH__

#ifndef OPENMAMA_INTEGRATION
#define OPENMAMA_INTEGRATION
#endif

#include "mama/integration/transport.h"

#endif
