#include "wombat/timers.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <new>
#include <set>

namespace {

using Clock = std::chrono::steady_clock;

struct TimerElementImpl
{
    timerFireCb       mCb = nullptr;
    void*             mClosure = nullptr;
    bool              mArmed = false;
    std::multimap<Clock::time_point, TimerElementImpl*>::iterator mPosition;
};

// Timers are kept ordered by deadline. Every public operation takes the
// recursive heap lock, and the dispatch thread holds it while a timer fires,
// so a callback may touch any timer (its own included) and another thread's
// destroy or reset simply waits for the firing to finish.
struct TimerHeapImpl
{
    std::recursive_mutex        mLock;
    std::condition_variable_any mWake;
    std::multimap<Clock::time_point, TimerElementImpl*> mArmed;
    std::set<TimerElementImpl*> mElements;
    pthread_t                   mThread{};
    bool                        mStarted = false;
    bool                        mStopping = false;
};

TimerHeapImpl* asHeap (timerHeap heap)
{
    return static_cast<TimerHeapImpl*> (heap);
}

// A relative timeval as a deadline; negative parts count as zero and huge
// ones are capped well clear of clock overflow.
Clock::time_point deadlineAfter (const struct timeval& timeout)
{
    constexpr long long longestWaitUs = 1000000LL * 60 * 60 * 24 * 365 * 100;
    long long micros = 0;
    if (timeout.tv_sec > 0)
        micros = timeout.tv_sec < longestWaitUs / 1000000 ? timeout.tv_sec * 1000000LL
                                                          : longestWaitUs;
    if (timeout.tv_usec > 0 && micros < longestWaitUs)
        micros += timeout.tv_usec;
    return Clock::now () + std::chrono::microseconds (micros);
}

// Caller holds the heap lock.
void disarm (TimerHeapImpl& heap, TimerElementImpl& timer)
{
    if (timer.mArmed)
    {
        heap.mArmed.erase (timer.mPosition);
        timer.mArmed = false;
    }
}

// Caller holds the heap lock.
void arm (TimerHeapImpl& heap, TimerElementImpl& timer, const struct timeval& timeout)
{
    disarm (heap, timer);
    timer.mPosition = heap.mArmed.emplace (deadlineAfter (timeout), &timer);
    timer.mArmed = true;
    heap.mWake.notify_one ();
}

void* dispatchTimers (void* arg)
{
    auto& heap = *static_cast<TimerHeapImpl*> (arg);
    std::unique_lock<std::recursive_mutex> lock (heap.mLock);
    while (!heap.mStopping)
    {
        if (heap.mArmed.empty ())
        {
            heap.mWake.wait (lock);
            continue;
        }
        const auto next = heap.mArmed.begin ();
        if (next->first > Clock::now ())
        {
            // A copy: the wait releases the lock, and a reset or destroy from
            // another thread may erase the node the deadline lives in.
            const Clock::time_point due = next->first;
            heap.mWake.wait_until (lock, due);
            continue;
        }
        // Disarmed before the call: the callback may re-arm or free it, and
        // nothing here touches the element afterwards.
        TimerElementImpl* timer = next->second;
        disarm (heap, *timer);
        timer->mCb (timer, timer->mClosure);
    }
    return nullptr;
}

} // namespace

extern "C" {

int createTimerHeap (timerHeap* heap)
{
    if (heap == nullptr)
        return -1;
    *heap = new (std::nothrow) TimerHeapImpl ();
    return *heap != nullptr ? 0 : -1;
}

int startDispatchTimerHeap (timerHeap heap)
{
    TimerHeapImpl* impl = asHeap (heap);
    if (impl == nullptr)
        return -1;
    std::lock_guard<std::recursive_mutex> guard (impl->mLock);
    if (impl->mStarted)
        return EBUSY;
    const int rc = pthread_create (&impl->mThread, nullptr, dispatchTimers, impl);
    impl->mStarted = rc == 0;
    return rc;
}

wthread_t timerHeapGetTid (timerHeap heap)
{
    TimerHeapImpl* impl = asHeap (heap);
    if (impl == nullptr)
        return static_cast<wthread_t> (INVALID_THREAD);
    std::lock_guard<std::recursive_mutex> guard (impl->mLock);
    return impl->mThread;
}

int destroyHeap (timerHeap heap)
{
    TimerHeapImpl* impl = asHeap (heap);
    if (impl == nullptr)
        return -1;
    {
        std::lock_guard<std::recursive_mutex> guard (impl->mLock);
        // The dispatch thread cannot join itself.
        if (impl->mStarted && pthread_equal (impl->mThread, pthread_self ()))
            return -1;
        impl->mStopping = true;
        impl->mWake.notify_all ();
    }
    if (impl->mStarted && pthread_join (impl->mThread, nullptr) != 0)
        return -1;

    // Elements still alive are unreachable once the heap is gone.
    for (TimerElementImpl* timer : impl->mElements)
        delete timer;
    delete impl;
    return 0;
}

int createTimer (timerElement* timer, timerHeap heap, timerFireCb cb,
                 struct timeval* timeout, void* closure)
{
    TimerHeapImpl* impl = asHeap (heap);
    if (timer == nullptr || impl == nullptr || cb == nullptr || timeout == nullptr)
        return -1;

    auto* element = new (std::nothrow) TimerElementImpl ();
    if (element == nullptr)
        return -1;
    element->mCb = cb;
    element->mClosure = closure;

    std::lock_guard<std::recursive_mutex> guard (impl->mLock);
    impl->mElements.insert (element);
    *timer = element;
    arm (*impl, *element, *timeout);
    return 0;
}

int destroyTimer (timerHeap heap, timerElement timer)
{
    TimerHeapImpl* impl = asHeap (heap);
    auto* element = static_cast<TimerElementImpl*> (timer);
    if (impl == nullptr || element == nullptr)
        return -1;

    std::lock_guard<std::recursive_mutex> guard (impl->mLock);
    if (impl->mElements.erase (element) == 0)
        return -1;
    disarm (*impl, *element);
    delete element;
    return 0;
}

int resetTimer (timerHeap heap, timerElement timer, struct timeval* timeout)
{
    TimerHeapImpl* impl = asHeap (heap);
    auto* element = static_cast<TimerElementImpl*> (timer);
    if (impl == nullptr || element == nullptr || timeout == nullptr)
        return -1;

    std::lock_guard<std::recursive_mutex> guard (impl->mLock);
    if (impl->mElements.count (element) == 0)
        return -1;
    arm (*impl, *element, *timeout);
    return 0;
}

int lockTimerHeap (timerHeap heap)
{
    TimerHeapImpl* impl = asHeap (heap);
    if (impl == nullptr)
        return -1;
    impl->mLock.lock ();
    return 0;
}

int unlockTimerHeap (timerHeap heap)
{
    TimerHeapImpl* impl = asHeap (heap);
    if (impl == nullptr)
        return -1;
    impl->mLock.unlock ();
    return 0;
}

} // extern "C"
