/* mamaTimer: a repeating timer whose action runs on a queue. The bridge
 * reports the timer gone exactly once, through the host's handler, which is
 * also where the host timer is freed. */
#include <cmath>
#include <new>

#include "bridge.h"
#include "mama/mama.h"
#include "queueimpl.h"
#include "timerimpl.h"

struct mamaTimerImpl
{
    mamaBridgeImpl* mBridgeImpl = nullptr;
    timerBridge mBridgeTimer = nullptr;
    mamaQueue mQueue = nullptr;
    mamaQueueLockHandle mQueueHold = nullptr;
    mamaTimerCb mOnDestroy = nullptr;
    void* mClosure = nullptr;
    mama_f64_t mInterval = 0;
};

namespace
{

bool validInterval(mama_f64_t interval)
{
    return std::isfinite(interval) && interval >= 0;
}

void releaseTimer(mamaTimer timer, void* closure)
{
    if (timer->mOnDestroy != nullptr)
        timer->mOnDestroy(timer, closure);
    mamaQueue_decrementObjectCount(&timer->mQueueHold, timer->mQueue);
    delete timer;
}

void MAMACALLTYPE onBridgeTimerDestroyed(mamaTimer timer, void* closure)
{
    if (timer != nullptr)
        releaseTimer(timer, closure);
}

} // namespace

extern "C"
{

    mama_status mamaTimer_allocate2(mamaTimer* result, mamaQueue queue,
                                    mamaTimerCb onTimerDestroyed)
    {
        if (result == nullptr)
            return MAMA_STATUS_NULL_ARG;
        *result = nullptr;
        if (queue == nullptr)
            return MAMA_STATUS_INVALID_QUEUE;
        mamaBridgeImpl* bridge = mamaQueueImpl_getBridgeImpl(queue);
        if (bridge == nullptr)
            return MAMA_STATUS_NO_BRIDGE_IMPL;
        mamaTimer self = new (std::nothrow) mamaTimerImpl();
        if (self == nullptr)
            return MAMA_STATUS_NOMEM;
        self->mBridgeImpl = bridge;
        self->mQueue = queue;
        self->mOnDestroy = onTimerDestroyed;
        /* Held from here: destroying an allocated timer releases it too. */
        self->mQueueHold = mamaQueue_incrementObjectCount(queue, self);
        *result = self;
        return MAMA_STATUS_OK;
    }

    mama_status mamaTimer_allocate(mamaTimer* result, mamaQueue queue)
    {
        return mamaTimer_allocate2(result, queue, nullptr);
    }

    mama_status mamaTimer_start(mamaTimer timer, mamaTimerCb action, mama_f64_t interval,
                                void* closure)
    {
        if (timer == nullptr || action == nullptr)
            return MAMA_STATUS_NULL_ARG;
        if (!validInterval(interval))
            return MAMA_STATUS_INVALID_ARG;
        if (timer->mBridgeTimer != nullptr)
            return MAMA_STATUS_INVALID_ARG;
        void* nativeQueue = nullptr;
        mama_status status = mamaQueue_getNativeHandle(timer->mQueue, &nativeQueue);
        if (status != MAMA_STATUS_OK || nativeQueue == nullptr)
            return MAMA_STATUS_INVALID_QUEUE;
        timer->mClosure = closure;
        timer->mInterval = interval;
        status = timer->mBridgeImpl->bridgeMamaTimerCreate(&timer->mBridgeTimer, nativeQueue,
                                                           action, onBridgeTimerDestroyed, interval,
                                                           timer, closure);
        if (status != MAMA_STATUS_OK)
        {
            mama_log(MAMA_LOG_LEVEL_ERROR, "mamaTimer_start(): bridge could not create timer: %s",
                     mamaStatus_stringForStatus(status));
            timer->mBridgeTimer = nullptr;
        }
        return status;
    }

    mama_status mamaTimer_create2(mamaTimer* result, mamaQueue queue, mamaTimerCb action,
                                  mamaTimerCb onTimerDestroyed, mama_f64_t interval, void* closure)
    {
        if (result == nullptr || action == nullptr)
            return MAMA_STATUS_NULL_ARG;
        if (!validInterval(interval))
            return MAMA_STATUS_INVALID_ARG;
        mamaTimer self = nullptr;
        mama_status status = mamaTimer_allocate2(&self, queue, onTimerDestroyed);
        if (status != MAMA_STATUS_OK)
            return status;
        status = mamaTimer_start(self, action, interval, closure);
        if (status != MAMA_STATUS_OK)
        {
            /* Never reached the bridge: released here without a destroy report. */
            self->mOnDestroy = nullptr;
            releaseTimer(self, closure);
            *result = nullptr;
            return status;
        }
        *result = self;
        return MAMA_STATUS_OK;
    }

    mama_status mamaTimer_create(mamaTimer* result, mamaQueue queue, mamaTimerCb action,
                                 mama_f64_t interval, void* closure)
    {
        return mamaTimer_create2(result, queue, action, nullptr, interval, closure);
    }

    /* A started timer lives on until the bridge reports it gone, which it may do
     * from inside its destroy: the timer is not touched after that call. */
    mama_status mamaTimer_destroy(mamaTimer timer)
    {
        if (timer == nullptr)
            return MAMA_STATUS_NULL_ARG;
        if (timer->mBridgeTimer == nullptr)
        {
            releaseTimer(timer, timer->mClosure);
            return MAMA_STATUS_OK;
        }
        return timer->mBridgeImpl->bridgeMamaTimerDestroy(timer->mBridgeTimer);
    }

    mama_status mamaTimer_reset(mamaTimer timer)
    {
        if (timer == nullptr)
            return MAMA_STATUS_NULL_ARG;
        if (timer->mBridgeImpl->bridgeMamaTimerReset == nullptr)
            return MAMA_STATUS_NOT_IMPLEMENTED;
        if (timer->mBridgeTimer == nullptr)
            return MAMA_STATUS_INVALID_ARG;
        return timer->mBridgeImpl->bridgeMamaTimerReset(timer->mBridgeTimer);
    }

    mama_status mamaTimer_setInterval(mamaTimer timer, mama_f64_t interval)
    {
        if (timer == nullptr)
            return MAMA_STATUS_NULL_ARG;
        if (!validInterval(interval))
            return MAMA_STATUS_INVALID_ARG;
        if (timer->mBridgeImpl->bridgeMamaTimerSetInterval == nullptr)
            return MAMA_STATUS_NOT_IMPLEMENTED;
        if (timer->mBridgeTimer == nullptr)
            return MAMA_STATUS_INVALID_ARG;
        mama_status status =
            timer->mBridgeImpl->bridgeMamaTimerSetInterval(timer->mBridgeTimer, interval);
        if (status == MAMA_STATUS_OK)
            timer->mInterval = interval;
        return status;
    }

    /* Asks the bridge when it can tell; otherwise the interval last given. */
    mama_status mamaTimer_getInterval(const mamaTimer timer, mama_f64_t* interval)
    {
        if (timer == nullptr || interval == nullptr)
            return MAMA_STATUS_NULL_ARG;
        if (timer->mBridgeTimer != nullptr &&
            timer->mBridgeImpl->bridgeMamaTimerGetInterval != nullptr)
            return timer->mBridgeImpl->bridgeMamaTimerGetInterval(timer->mBridgeTimer, interval);
        *interval = timer->mInterval;
        return MAMA_STATUS_OK;
    }

    timerBridge mamaTimerImpl_getTimerBridge(mamaTimer timer)
    {
        return timer == nullptr ? nullptr : timer->mBridgeTimer;
    }

} // extern "C"
