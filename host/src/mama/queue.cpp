// Host side of an event queue: the bridge queue it drives, the count of
// objects that keep it alive, its reusable message and its watermarks.
#include <stdio.h>

#include <atomic>
#include <mutex>
#include <new>
#include <string>

#include "bridge.h"
#include "msgimpl.h"
#include "queuedispatcher.h"
#include "queueimpl.h"

namespace
{
// Each empty pass of a timed destroy dispatches for this long (milliseconds).
const uint64_t kDestroyWaitSlice = 10;
std::atomic<unsigned long> gUnnamedQueues{0};
} // namespace

struct mamaQueueImpl_
{
    mamaBridgeImpl* mBridgeImpl = nullptr;
    queueBridge mQueueBridge = nullptr;
    std::atomic<int> mIsDispatching{0};
    void* mClosure = nullptr;

    std::mutex mLock; // guards everything below
    std::string mName;
    mamaMsg mMsg = nullptr;
    long mObjectCount = 0;
    size_t mHighWatermark = 0;
    size_t mLowWatermark = 0;
    mamaQueueMonitorCallbacks mMonitorCallbacks = {nullptr, nullptr};
    void* mMonitorClosure = nullptr;
    mamaDispatcher mDispatcher = nullptr;
};

namespace
{
mama_status newQueue(mamaQueue* queue, mamaBridge bridgeImpl, mamaQueueImpl_*& created)
{
    if (!bridgeImpl)
    {
        mama_log(MAMA_LOG_LEVEL_ERROR, "mamaQueue_create(): no bridge implementation");
        return MAMA_STATUS_NO_BRIDGE_IMPL;
    }
    if (!queue)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    created = new (std::nothrow) mamaQueueImpl_;
    if (!created)
    {
        return MAMA_STATUS_NOMEM;
    }
    created->mBridgeImpl = bridgeImpl;
    created->mName = "NO_NAME_" + std::to_string(++gUnnamedQueues);
    return MAMA_STATUS_OK;
}

// Creation failed on the bridge side: nothing but the host object to undo.
mama_status abandonQueue(mamaQueueImpl_* queue, mama_status status)
{
    mama_log(MAMA_LOG_LEVEL_ERROR, "mamaQueue_create(): bridge queue creation failed: %s",
             mamaStatus_stringForStatus(status));
    delete queue;
    return status;
}

mama_status watermarkCallback(mamaQueue queue, size_t size, bool high)
{
    if (!queue)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    mamaQueueMonitorCallbacks callbacks;
    void* closure;
    {
        std::lock_guard<std::mutex> guard(queue->mLock);
        callbacks = queue->mMonitorCallbacks;
        closure = queue->mMonitorClosure;
    }
    if (high && callbacks.onQueueHighWatermarkExceeded)
    {
        callbacks.onQueueHighWatermarkExceeded(queue, size, closure);
    }
    else if (!high && callbacks.onQueueLowWatermark)
    {
        callbacks.onQueueLowWatermark(queue, size, closure);
    }
    return MAMA_STATUS_OK;
}
} // namespace

extern "C"
{

    mama_status mamaQueue_create(mamaQueue* queue, mamaBridge bridgeImpl)
    {
        mamaQueueImpl_* created = nullptr;
        mama_status status = newQueue(queue, bridgeImpl, created);
        if (status != MAMA_STATUS_OK)
        {
            return status;
        }
        status = bridgeImpl->bridgeMamaQueueCreate(&created->mQueueBridge, created);
        if (status != MAMA_STATUS_OK)
        {
            return abandonQueue(created, status);
        }
        *queue = created;
        return MAMA_STATUS_OK;
    }

    mama_status mamaQueue_create_usingNative(mamaQueue* queue, mamaBridge bridgeImpl,
                                             void* nativeQueue)
    {
        if (bridgeImpl && !bridgeImpl->bridgeMamaQueueCreateUsingNative)
        {
            return MAMA_STATUS_NOT_IMPLEMENTED;
        }
        mamaQueueImpl_* created = nullptr;
        mama_status status = newQueue(queue, bridgeImpl, created);
        if (status != MAMA_STATUS_OK)
        {
            return status;
        }
        status = bridgeImpl->bridgeMamaQueueCreateUsingNative(&created->mQueueBridge, created,
                                                              nativeQueue);
        if (status != MAMA_STATUS_OK)
        {
            return abandonQueue(created, status);
        }
        *queue = created;
        return MAMA_STATUS_OK;
    }

    mama_status mamaQueue_destroy(mamaQueue queue)
    {
        if (!queue)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        mamaMsg msg;
        {
            std::lock_guard<std::mutex> guard(queue->mLock);
            if (queue->mObjectCount > 0)
            {
                mama_log(MAMA_LOG_LEVEL_FINE,
                         "mamaQueue_destroy(): queue %s still has %ld open objects",
                         queue->mName.c_str(), queue->mObjectCount);
                return MAMA_STATUS_QUEUE_OPEN_OBJECTS;
            }
            msg = queue->mMsg;
            queue->mMsg = nullptr;
        }
        queue->mIsDispatching = 0;
        mama_status status = queue->mBridgeImpl->bridgeMamaQueueDestroy(queue->mQueueBridge);
        if (status != MAMA_STATUS_OK)
        {
            mama_log(MAMA_LOG_LEVEL_ERROR, "mamaQueue_destroy(): bridge queue destroy failed: %s",
                     mamaStatus_stringForStatus(status));
        }
        if (msg)
        {
            mamaMsg_destroy(msg);
        }
        delete queue;
        return MAMA_STATUS_OK;
    }

    mama_status mamaQueue_destroyTimedWait(mamaQueue queue, long timeout)
    {
        if (!queue || timeout <= 0)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        // Dispatching lets pending destroy notifications of the queue's objects arrive.
        long waited = 0;
        for (;;)
        {
            mama_status status = mamaQueue_destroy(queue);
            if (status != MAMA_STATUS_QUEUE_OPEN_OBJECTS)
            {
                return status;
            }
            if (waited >= timeout)
            {
                mama_log(MAMA_LOG_LEVEL_WARN,
                         "mamaQueue_destroyTimedWait(): queue still has open objects after %ld ms",
                         timeout);
                return MAMA_STATUS_TIMEOUT;
            }
            status = mamaQueue_timedDispatch(queue, kDestroyWaitSlice);
            if (status != MAMA_STATUS_OK && status != MAMA_STATUS_TIMEOUT)
            {
                return status;
            }
            waited += static_cast<long>(kDestroyWaitSlice);
        }
    }

    mama_status mamaQueue_destroyWait(mamaQueue queue)
    {
        if (!queue)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        for (;;)
        {
            mama_status status = mamaQueue_destroy(queue);
            if (status != MAMA_STATUS_QUEUE_OPEN_OBJECTS)
            {
                return status;
            }
            status = mamaQueue_timedDispatch(queue, kDestroyWaitSlice);
            if (status != MAMA_STATUS_OK && status != MAMA_STATUS_TIMEOUT)
            {
                return status;
            }
        }
    }

    mama_status mamaQueue_setHighWatermark(mamaQueue queue, size_t highWatermark)
    {
        if (!queue)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        if (!queue->mBridgeImpl->bridgeMamaQueueSetHighWatermark)
        {
            return MAMA_STATUS_NOT_IMPLEMENTED;
        }
        mama_status status =
            queue->mBridgeImpl->bridgeMamaQueueSetHighWatermark(queue->mQueueBridge, highWatermark);
        if (status == MAMA_STATUS_OK)
        {
            std::lock_guard<std::mutex> guard(queue->mLock);
            queue->mHighWatermark = highWatermark;
        }
        return status;
    }

    mama_status mamaQueue_getHighWatermark(mamaQueue queue, size_t* highWatermark)
    {
        if (!queue || !highWatermark)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        std::lock_guard<std::mutex> guard(queue->mLock);
        *highWatermark = queue->mHighWatermark;
        return MAMA_STATUS_OK;
    }

    mama_status mamaQueue_setLowWatermark(mamaQueue queue, size_t lowWatermark)
    {
        if (!queue)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        if (!queue->mBridgeImpl->bridgeMamaQueueSetLowWatermark)
        {
            return MAMA_STATUS_NOT_IMPLEMENTED;
        }
        mama_status status =
            queue->mBridgeImpl->bridgeMamaQueueSetLowWatermark(queue->mQueueBridge, lowWatermark);
        if (status == MAMA_STATUS_OK)
        {
            std::lock_guard<std::mutex> guard(queue->mLock);
            queue->mLowWatermark = lowWatermark;
        }
        return status;
    }

    mama_status mamaQueue_getLowWatermark(mamaQueue queue, size_t* lowWatermark)
    {
        if (!queue || !lowWatermark)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        std::lock_guard<std::mutex> guard(queue->mLock);
        *lowWatermark = queue->mLowWatermark;
        return MAMA_STATUS_OK;
    }

    mama_status mamaQueue_setQueueMonitorCallbacks(mamaQueue queue,
                                                   mamaQueueMonitorCallbacks* queueMonitorCallbacks,
                                                   void* closure)
    {
        if (!queue || !queueMonitorCallbacks)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        std::lock_guard<std::mutex> guard(queue->mLock);
        queue->mMonitorCallbacks = *queueMonitorCallbacks;
        queue->mMonitorClosure = closure;
        return MAMA_STATUS_OK;
    }

    mama_status mamaQueue_getEventCount(mamaQueue queue, size_t* count)
    {
        if (!queue || !count)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        if (!queue->mBridgeImpl->bridgeMamaQueueGetEventCount)
        {
            return MAMA_STATUS_NOT_IMPLEMENTED;
        }
        return queue->mBridgeImpl->bridgeMamaQueueGetEventCount(queue->mQueueBridge, count);
    }

    mama_status mamaQueue_setQueueName(mamaQueue queue, const char* name)
    {
        if (!queue)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        if (!name)
        {
            return MAMA_STATUS_INVALID_ARG;
        }
        try
        {
            std::lock_guard<std::mutex> guard(queue->mLock);
            queue->mName = name;
        }
        catch (const std::bad_alloc&)
        {
            return MAMA_STATUS_NOMEM;
        }
        return MAMA_STATUS_OK;
    }

    mama_status mamaQueue_getQueueName(mamaQueue queue, const char** name)
    {
        if (!queue || !name)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        std::lock_guard<std::mutex> guard(queue->mLock);
        *name = queue->mName.c_str();
        return MAMA_STATUS_OK;
    }

    mama_status mamaQueue_getQueueBridgeName(mamaQueue queue, const char** name)
    {
        if (!queue || !name)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        *name = queue->mBridgeImpl->bridgeGetName ? queue->mBridgeImpl->bridgeGetName() : nullptr;
        return *name ? MAMA_STATUS_OK : MAMA_STATUS_NOT_FOUND;
    }

    mama_status mamaQueue_dispatch(mamaQueue queue)
    {
        if (!queue)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        queue->mIsDispatching = 1;
        return queue->mBridgeImpl->bridgeMamaQueueDispatch(queue->mQueueBridge);
    }

    mama_status mamaQueue_timedDispatch(mamaQueue queue, uint64_t timeout)
    {
        if (!queue)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        queue->mIsDispatching = 1;
        return queue->mBridgeImpl->bridgeMamaQueueTimedDispatch(queue->mQueueBridge, timeout);
    }

    mama_status mamaQueue_dispatchEvent(mamaQueue queue)
    {
        if (!queue)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        return queue->mBridgeImpl->bridgeMamaQueueDispatchEvent(queue->mQueueBridge);
    }

    mama_status mamaQueue_stopDispatch(mamaQueue queue)
    {
        if (!queue)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        queue->mIsDispatching = 0;
        return queue->mBridgeImpl->bridgeMamaQueueStopDispatch(queue->mQueueBridge);
    }

    mama_status mamaQueue_enqueueEvent(mamaQueue queue, mamaQueueEventCB callback, void* closure)
    {
        if (!queue || !callback)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        return queue->mBridgeImpl->bridgeMamaQueueEnqueueEvent(queue->mQueueBridge, callback,
                                                               closure);
    }

    mama_status mamaQueue_setEnqueueCallback(mamaQueue queue, mamaQueueEnqueueCB callback,
                                             void* closure)
    {
        if (!queue || !callback)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        if (!queue->mBridgeImpl->bridgeMamaQueueSetEnqueueCallback)
        {
            return MAMA_STATUS_NOT_IMPLEMENTED;
        }
        return queue->mBridgeImpl->bridgeMamaQueueSetEnqueueCallback(queue->mQueueBridge, callback,
                                                                     closure);
    }

    mama_status mamaQueue_removeEnqueueCallback(mamaQueue queue)
    {
        if (!queue)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        if (!queue->mBridgeImpl->bridgeMamaQueueRemoveEnqueueCallback)
        {
            return MAMA_STATUS_NOT_IMPLEMENTED;
        }
        return queue->mBridgeImpl->bridgeMamaQueueRemoveEnqueueCallback(queue->mQueueBridge);
    }

    mama_status mamaQueue_getNativeHandle(mamaQueue queue, void** nativeHandle)
    {
        if (!queue || !nativeHandle)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        if (!queue->mBridgeImpl->bridgeMamaQueueGetNativeHandle)
        {
            return MAMA_STATUS_NOT_IMPLEMENTED;
        }
        return queue->mBridgeImpl->bridgeMamaQueueGetNativeHandle(queue->mQueueBridge,
                                                                  nativeHandle);
    }

    mama_status mamaQueue_setClosure(mamaQueue queue, void* closure)
    {
        if (!queue)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        queue->mClosure = closure;
        return MAMA_STATUS_OK;
    }

    mama_status mamaQueue_getClosure(mamaQueue queue, void** closure)
    {
        if (!queue || !closure)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        *closure = queue->mClosure;
        return MAMA_STATUS_OK;
    }

    int mamaQueueImpl_isDispatching(mamaQueue queue)
    {
        return queue ? queue->mIsDispatching.load() : 0;
    }

    mamaBridge mamaQueueImpl_getBridgeImpl(mamaQueue queue)
    {
        if (!queue)
        {
            mama_log(MAMA_LOG_LEVEL_ERROR, "mamaQueueImpl_getBridgeImpl(): NULL queue");
            return nullptr;
        }
        return queue->mBridgeImpl;
    }

    mamaMsg mamaQueueImpl_getMsg(mamaQueue queue)
    {
        if (!queue)
        {
            mama_log(MAMA_LOG_LEVEL_ERROR, "mamaQueueImpl_getMsg(): NULL queue");
            return nullptr;
        }
        std::lock_guard<std::mutex> guard(queue->mLock);
        if (queue->mMsg)
        {
            return queue->mMsg;
        }
        mamaMsg msg = nullptr;
        mama_status status = mamaMsgImpl_createForPayload(&msg, nullptr, nullptr, 0);
        if (status != MAMA_STATUS_OK)
        {
            mama_log(MAMA_LOG_LEVEL_ERROR, "mamaQueueImpl_getMsg(): could not create message: %s",
                     mamaStatus_stringForStatus(status));
            return nullptr;
        }
        mamaMsgImpl_setQueue(msg, queue);
        status = mamaMsgImpl_setBridgeImpl(msg, queue->mBridgeImpl);
        if (status != MAMA_STATUS_OK)
        {
            mama_log(MAMA_LOG_LEVEL_ERROR,
                     "mamaQueueImpl_getMsg(): bridge message creation failed: %s",
                     mamaStatus_stringForStatus(status));
        }
        queue->mMsg = msg;
        return msg;
    }

    mama_status mamaQueueImpl_detachMsg(mamaQueue queue, mamaMsg msg)
    {
        if (!queue)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        std::lock_guard<std::mutex> guard(queue->mLock);
        if (queue->mMsg == msg)
        {
            queue->mMsg = nullptr;
        }
        return MAMA_STATUS_OK;
    }

    mama_status mamaQueueImpl_highWatermarkExceeded(mamaQueue queue, size_t size)
    {
        return watermarkCallback(queue, size, true);
    }

    mama_status mamaQueueImpl_lowWatermarkExceeded(mamaQueue queue, size_t size)
    {
        return watermarkCallback(queue, size, false);
    }

    mamaQueueLockHandle mamaQueue_incrementObjectCount(mamaQueue queue, void* owner)
    {
        (void)owner;
        if (!queue)
        {
            return nullptr;
        }
        std::lock_guard<std::mutex> guard(queue->mLock);
        ++queue->mObjectCount;
        return queue;
    }

    void mamaQueue_decrementObjectCount(mamaQueueLockHandle* handle, mamaQueue queue)
    {
        if (handle)
        {
            *handle = nullptr;
        }
        if (!queue)
        {
            return;
        }
        std::lock_guard<std::mutex> guard(queue->mLock);
        if (queue->mObjectCount > 0)
        {
            --queue->mObjectCount;
        }
    }

    mama_status mamaQueueImpl_attachDispatcher(mamaQueue queue, mamaDispatcher dispatcher)
    {
        std::lock_guard<std::mutex> guard(queue->mLock);
        if (queue->mDispatcher)
        {
            return MAMA_STATUS_TOO_MANY_DISPATCHERS;
        }
        queue->mDispatcher = dispatcher;
        return MAMA_STATUS_OK;
    }

    void mamaQueueImpl_detachDispatcher(mamaQueue queue, mamaDispatcher dispatcher)
    {
        std::lock_guard<std::mutex> guard(queue->mLock);
        if (queue->mDispatcher == dispatcher)
        {
            queue->mDispatcher = nullptr;
        }
    }

} // extern "C"
