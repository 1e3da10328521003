/* Internal header kept for bridges written against it: forwards to the
 * integration declarations. */
#ifndef MamaPublisherImplH__
#define MamaPublisherImplH__

#ifndef OPENMAMA_INTEGRATION
#define OPENMAMA_INTEGRATION
#endif

#include "mama/integration/publisher.h"

#endif
