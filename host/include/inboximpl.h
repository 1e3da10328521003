/* Internal header kept for bridges written against it: forwards to the
 * integration declarations. */
#ifndef MamaInboxImplH__
#define MamaInboxImplH__

#ifndef OPENMAMA_INTEGRATION
#define OPENMAMA_INTEGRATION
#endif

#include "mama/integration/inbox.h"

#endif
