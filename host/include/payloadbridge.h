#ifndef MAMA_PAYLOAD_BRIDGE_INTERNAL_H__
#define MAMA_PAYLOAD_BRIDGE_INTERNAL_H__

#ifndef OPENMAMA_INTEGRATION
#define OPENMAMA_INTEGRATION
#endif

#include "mama/integration/payloadbridge.h"

#endif /* MAMA_PAYLOAD_BRIDGE_INTERNAL_H__ */
