#define CORVEX_LOG_MODULE "timer"

#include <math.h>
#include <stdint.h>
#include <stdlib.h>

#include <atomic>
#include <new>

#include <mama/mama.h>
#include <mama/timer.h>
#include <wombat/timers.h>

#include "corvexBridge.h"
#include "logging.h"
#include "queue.h"

/* One per MAMA timer; freed on its queue after destroy, so that the destroyed
 * callback is the last call the application receives for the timer. */
struct CorvexTimer
{
    timerElement mTimerElement;
    mama_f64_t mInterval;
    void* mClosure;
    mamaTimer mParent;
    CorvexQueueBridge* mQueue;
    std::atomic<uint8_t> mDestroyed;
    mamaTimerCb mOnTimerDestroyed;
    std::atomic<mamaTimerCb> mAction;
};

namespace
{

bool isValidInterval(mama_f64_t interval)
{
    return isfinite(interval) && interval >= 0 && interval <= (mama_f64_t)INT32_MAX;
}

struct timeval toTimeval(mama_f64_t interval)
{
    struct timeval tv;
    int32_t seconds = (int32_t)interval;
    tv.tv_sec = seconds;
    tv.tv_usec = (int32_t)((interval - seconds) * 1000000);
    return tv;
}

void MAMACALLTYPE onTick(mamaQueue, void* closure)
{
    CorvexTimer* timer = (CorvexTimer*)closure;
    mamaTimerCb action = timer->mAction.load();
    if (action != NULL)
    {
        action(timer->mParent, timer->mClosure);
    }
}

void MAMACALLTYPE onDestroyed(mamaQueue, void* closure)
{
    CorvexTimer* timer = (CorvexTimer*)closure;
    timer->mOnTimerDestroyed(timer->mParent, timer->mClosure);
    delete timer;
}

int resetElement(CorvexTimer* timer)
{
    struct timeval tv = toTimeval(timer->mInterval);
    return resetTimer(corvexBridge_getTimerHeap(), timer->mTimerElement, &tv);
}

/* Runs on the timer heap's thread with the heap lock held. */
void onFire(timerElement, void* closure)
{
    CorvexTimer* timer = (CorvexTimer*)closure;
    if (timer == NULL || timer->mDestroyed.load())
    {
        return;
    }
    /* Periodic: the next firing is armed before the application sees this one. */
    int code = resetElement(timer);
    if (code != 0)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Failed to reset Corvex underlying timer [%d].", code);
    }
    corvexBridgeMamaQueue_enqueueEvent(timer->mQueue, onTick, timer);
}
} // namespace

CORVEX_EXPORT mama_status corvexBridgeMamaTimer_create(CorvexTimer** result,
                                                       void* nativeQueueHandle, mamaTimerCb action,
                                                       mamaTimerCb onTimerDestroyed,
                                                       mama_f64_t interval, mamaTimer parent,
                                                       void* closure)
{
    if (result == NULL || nativeQueueHandle == NULL || action == NULL || onTimerDestroyed == NULL ||
        parent == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    *result = NULL;
    if (!isValidInterval(interval))
    {
        return MAMA_STATUS_INVALID_ARG;
    }

    CorvexTimer* timer = new (std::nothrow) CorvexTimer();
    if (timer == NULL)
    {
        return MAMA_STATUS_NOMEM;
    }
    *result = timer;
    timer->mInterval = interval;
    timer->mClosure = closure;
    timer->mParent = parent;
    timer->mQueue = (CorvexQueueBridge*)nativeQueueHandle;
    timer->mOnTimerDestroyed = onTimerDestroyed;
    timer->mAction.store(action);

    struct timeval tv = toTimeval(interval);
    int code = createTimer(&timer->mTimerElement, corvexBridge_getTimerHeap(), onFire, &tv, timer);
    if (code != 0)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Failed to create Corvex underlying timer [%d].", code);
        delete timer;
        *result = NULL;
        return MAMA_STATUS_PLATFORM;
    }
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT mama_status corvexBridgeMamaTimer_destroy(CorvexTimer* timer)
{
    if (timer == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }

    mama_status status = MAMA_STATUS_OK;
    timer->mDestroyed.store(1);
    timer->mAction.store(NULL);
    int code = destroyTimer(corvexBridge_getTimerHeap(), timer->mTimerElement);
    if (code != 0)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Failed to destroy Corvex underlying timer [%d].", code);
        status = MAMA_STATUS_PLATFORM;
    }
    timer->mTimerElement = NULL;

    /* Behind any tick already queued; a queue that refuses the event must not
     * cost the application its destroyed callback. */
    if (corvexBridgeMamaQueue_enqueueEvent(timer->mQueue, onDestroyed, timer) != MAMA_STATUS_OK)
    {
        onDestroyed(NULL, timer);
    }
    return status;
}

CORVEX_EXPORT mama_status corvexBridgeMamaTimer_reset(CorvexTimer* timer)
{
    if (timer == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    int code = resetElement(timer);
    if (code != 0)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Failed to reset Corvex underlying timer [%d].", code);
        return MAMA_STATUS_PLATFORM;
    }
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT mama_status corvexBridgeMamaTimer_getInterval(CorvexTimer* timer,
                                                            mama_f64_t* interval)
{
    if (timer == NULL || interval == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    *interval = timer->mInterval;
    return MAMA_STATUS_OK;
}

CORVEX_EXPORT mama_status corvexBridgeMamaTimer_setInterval(CorvexTimer* timer, mama_f64_t interval)
{
    if (timer == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (!isValidInterval(interval))
    {
        return MAMA_STATUS_INVALID_ARG;
    }
    timer->mInterval = interval;
    return corvexBridgeMamaTimer_reset(timer);
}
