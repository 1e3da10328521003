#include "waiting.h"

#include <thread>

void Signal::raise()
{
    std::lock_guard<std::mutex> guard(mLock);
    mRaised = true;
    mChanged.notify_all();
}

bool Signal::wait(std::chrono::milliseconds limit)
{
    std::unique_lock<std::mutex> guard(mLock);
    return mChanged.wait_for(guard, limit, [this] { return mRaised; });
}

bool pollUntil(const std::function<bool()>& done, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done())
    {
        if (std::chrono::steady_clock::now() > end)
        {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
