/* Waiting in tests: a flag other threads raise, and a poll of a condition
 * other threads move; both with a bound, so a fault fails a test instead of
 * hanging it. */
#ifndef CORVEX_TESTSUPPORT_WAITING_H
#define CORVEX_TESTSUPPORT_WAITING_H

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

/* How long a test waits for something that is expected to happen. */
const std::chrono::milliseconds WAIT_LIMIT(10000);

/* A flag other threads raise and a test waits for. */
class Signal
{
  public:
    void raise();
    /* True when raised within `limit`. */
    bool wait(std::chrono::milliseconds limit = WAIT_LIMIT);

  private:
    std::mutex mLock;
    std::condition_variable mChanged;
    bool mRaised = false;
};

/* Tests `done` every millisecond until it holds (true) or `limit` has
 * passed (false): for conditions nothing notifies, such as counters of the
 * library under test. */
bool pollUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = WAIT_LIMIT);

#endif /* CORVEX_TESTSUPPORT_WAITING_H */
