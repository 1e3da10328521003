/* Internal header kept for bridges written against it: forwards to the
 * integration declarations. */
#ifndef MamaSubscriptionImplH__
#define MamaSubscriptionImplH__

#ifndef OPENMAMA_INTEGRATION
#define OPENMAMA_INTEGRATION
#endif

#include "mama/integration/subscription.h"

#endif
