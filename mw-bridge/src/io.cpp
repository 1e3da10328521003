#define CORVEX_LOG_MODULE "io"

#include <mama/mama.h>
#include <mama/io.h>

#include "corvexBridge.h"
#include "logging.h"

/* IO handlers are not offered by this bridge; none of these writes an
 * output parameter. */

CORVEX_EXPORT mama_status corvexBridgeMamaIo_create(ioBridge*, void*, uint32_t, mamaIoCb,
                                                    mamaIoType, mamaIo, void*)
{
    CORVEX_LOG(CORVEX_LOG_FINEST, "Optional function. Not implemented");
    return MAMA_STATUS_NOT_IMPLEMENTED;
}

CORVEX_EXPORT mama_status corvexBridgeMamaIo_getDescriptor(ioBridge, uint32_t*)
{
    CORVEX_LOG(CORVEX_LOG_FINEST, "Optional function. Not implemented");
    return MAMA_STATUS_NOT_IMPLEMENTED;
}

CORVEX_EXPORT mama_status corvexBridgeMamaIo_destroy(ioBridge)
{
    CORVEX_LOG(CORVEX_LOG_FINEST, "Optional function. Not implemented");
    return MAMA_STATUS_NOT_IMPLEMENTED;
}
