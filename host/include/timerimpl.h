/* Internal header kept for bridges written against it: forwards to the
 * integration declarations. */
#ifndef MamaTimerImplH__
#define MamaTimerImplH__

#ifndef OPENMAMA_INTEGRATION
#define OPENMAMA_INTEGRATION
#endif

#include "mama/integration/timer.h"

#endif
