/* Internal header kept for bridges written against it: forwards to the
 * integration declarations. */
#ifndef MamaQueueImplH__
#define MamaQueueImplH__

#ifndef OPENMAMA_INTEGRATION
#define OPENMAMA_INTEGRATION
#endif

#include "mama/integration/queue.h"

#endif
