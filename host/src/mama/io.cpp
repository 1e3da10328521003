/* mamaIo: descriptor events delivered on a queue, passed through to the
 * bridge (which may not support them). */
#include <new>

#include "bridge.h"
#include "ioimpl.h"
#include "mama/mama.h"
#include "queueimpl.h"

struct mamaIoImpl
{
    mamaBridgeImpl* mBridgeImpl = nullptr;
    ioBridge mBridgeIo = nullptr;
};

extern "C"
{

    mama_status mamaIo_create(mamaIo* result, mamaQueue queue, uint32_t descriptor, mamaIoCb action,
                              mamaIoType ioType, void* closure)
    {
        if (result == nullptr || action == nullptr)
            return MAMA_STATUS_NULL_ARG;
        *result = nullptr;
        if (queue == nullptr)
            return MAMA_STATUS_INVALID_QUEUE;
        mamaBridgeImpl* bridge = mamaQueueImpl_getBridgeImpl(queue);
        if (bridge == nullptr)
            return MAMA_STATUS_NO_BRIDGE_IMPL;
        if (bridge->bridgeMamaIoCreate == nullptr)
            return MAMA_STATUS_NOT_IMPLEMENTED;
        void* nativeQueue = nullptr;
        mama_status status = mamaQueue_getNativeHandle(queue, &nativeQueue);
        if (status != MAMA_STATUS_OK || nativeQueue == nullptr)
            return MAMA_STATUS_INVALID_QUEUE;

        mamaIo self = new (std::nothrow) mamaIoImpl();
        if (self == nullptr)
            return MAMA_STATUS_NOMEM;
        self->mBridgeImpl = bridge;
        status = bridge->bridgeMamaIoCreate(&self->mBridgeIo, nativeQueue, descriptor, action,
                                            ioType, self, closure);
        if (status != MAMA_STATUS_OK)
        {
            delete self;
            return status;
        }
        *result = self;
        return MAMA_STATUS_OK;
    }

    mama_status mamaIo_getDescriptor(mamaIo io, uint32_t* d)
    {
        if (io == nullptr || d == nullptr)
            return MAMA_STATUS_NULL_ARG;
        if (io->mBridgeImpl->bridgeMamaIoGetDescriptor == nullptr)
            return MAMA_STATUS_NOT_IMPLEMENTED;
        return io->mBridgeImpl->bridgeMamaIoGetDescriptor(io->mBridgeIo, d);
    }

    mama_status mamaIo_destroy(mamaIo io)
    {
        if (io == nullptr)
            return MAMA_STATUS_NULL_ARG;
        mama_status status = MAMA_STATUS_OK;
        if (io->mBridgeImpl->bridgeMamaIoDestroy != nullptr)
            status = io->mBridgeImpl->bridgeMamaIoDestroy(io->mBridgeIo);
        delete io;
        return status;
    }

    ioBridge mamaIoImpl_getIoBridge(mamaIo io)
    {
        return io == nullptr ? nullptr : io->mBridgeIo;
    }

} // extern "C"
