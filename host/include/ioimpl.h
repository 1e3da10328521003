/* Internal header kept for bridges written against it: forwards to the
 * integration declarations. */
#ifndef MamaIoImplH__
#define MamaIoImplH__

#ifndef OPENMAMA_INTEGRATION
#define OPENMAMA_INTEGRATION
#endif

#include "mama/integration/io.h"

#endif
