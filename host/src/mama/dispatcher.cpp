// A host thread that keeps dispatching one queue until destroyed.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "mama/log.h"
#include "queuedispatcher.h"

namespace
{
// How often destroy repeats its stop request while the thread is still inside
// a dispatch call that began after the previous request.
const std::chrono::milliseconds kStopRetry(100);
} // namespace

struct mamaDispatcherImpl_
{
    mamaQueue mQueue = nullptr;
    std::thread mThread;
    std::atomic<bool> mRunning{true};
    std::mutex mDoneLock;
    std::condition_variable mDoneCond;
    bool mDone = false;
};

namespace
{
void dispatchLoop(mamaDispatcherImpl_* dispatcher)
{
    while (dispatcher->mRunning && mamaQueue_dispatch(dispatcher->mQueue) == MAMA_STATUS_OK)
    {
    }
    std::lock_guard<std::mutex> guard(dispatcher->mDoneLock);
    dispatcher->mDone = true;
    dispatcher->mDoneCond.notify_all();
}
} // namespace

extern "C"
{

    mama_status mamaDispatcher_create(mamaDispatcher* result, mamaQueue queue)
    {
        if (!result || !queue)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        mamaDispatcherImpl_* dispatcher = new (std::nothrow) mamaDispatcherImpl_;
        if (!dispatcher)
        {
            return MAMA_STATUS_NOMEM;
        }
        dispatcher->mQueue = queue;
        mama_status status = mamaQueueImpl_attachDispatcher(queue, dispatcher);
        if (status != MAMA_STATUS_OK)
        {
            delete dispatcher;
            return status;
        }
        try
        {
            dispatcher->mThread = std::thread(dispatchLoop, dispatcher);
        }
        catch (const std::system_error&)
        {
            mamaQueueImpl_detachDispatcher(queue, dispatcher);
            delete dispatcher;
            return MAMA_STATUS_SYSTEM_ERROR;
        }
        *result = dispatcher;
        return MAMA_STATUS_OK;
    }

    mama_status mamaDispatcher_getQueue(mamaDispatcher dispatcher, mamaQueue* result)
    {
        if (!dispatcher || !result)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        *result = dispatcher->mQueue;
        return MAMA_STATUS_OK;
    }

    mama_status mamaDispatcher_destroy(mamaDispatcher dispatcher)
    {
        if (!dispatcher)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        if (dispatcher->mThread.get_id() == std::this_thread::get_id())
        {
            mama_log(MAMA_LOG_LEVEL_ERROR,
                     "mamaDispatcher_destroy(): cannot be called from the dispatcher's own thread");
            return MAMA_STATUS_INVALID_ARG;
        }
        dispatcher->mRunning = false;
        {
            std::unique_lock<std::mutex> lock(dispatcher->mDoneLock);
            while (!dispatcher->mDone)
            {
                lock.unlock();
                mamaQueue_stopDispatch(dispatcher->mQueue);
                lock.lock();
                dispatcher->mDoneCond.wait_for(lock, kStopRetry,
                                               [dispatcher] { return dispatcher->mDone; });
            }
        }
        dispatcher->mThread.join();
        mamaQueueImpl_detachDispatcher(dispatcher->mQueue, dispatcher);
        delete dispatcher;
        return MAMA_STATUS_OK;
    }

} // extern "C"
