#ifndef MamaIoH__
#define MamaIoH__

#include "mama/types.h"

#if defined(__cplusplus)
extern "C" {
#endif

typedef enum
{
    MAMA_IO_READ    = 0,
    MAMA_IO_WRITE   = 1,
    MAMA_IO_CONNECT = 2,
    MAMA_IO_ACCEPT  = 3,
    MAMA_IO_CLOSE   = 4,
    MAMA_IO_ERROR   = 5,
    MAMA_IO_EXCEPT  = 6
} mamaIoType;

typedef void (MAMACALLTYPE *mamaIoCb) (mamaIo io, mamaIoType ioType, void* closure);

mama_status mamaIo_create (mamaIo* result, mamaQueue queue, uint32_t descriptor,
                           mamaIoCb action, mamaIoType ioType, void* closure);
mama_status mamaIo_getDescriptor (mamaIo io, uint32_t* d);
mama_status mamaIo_destroy (mamaIo io);

#if defined(__cplusplus)
}
#endif

#endif
