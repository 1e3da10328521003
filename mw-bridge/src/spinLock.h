/* A lock for sections of a few dozen instructions that threads take at
 * message rate: a waiter spins briefly, since sleeping and being woken would
 * cost far more than the section, then yields its processor to a holder that
 * may have been preempted. Usable with std::lock_guard. */
#ifndef CORVEX_BRIDGE_SPIN_LOCK_H
#define CORVEX_BRIDGE_SPIN_LOCK_H

#include <atomic>
#include <thread>

class CorvexSpinLock
{
  public:
    CorvexSpinLock() = default;
    CorvexSpinLock(const CorvexSpinLock&) = delete;
    CorvexSpinLock& operator=(const CorvexSpinLock&) = delete;

    void lock()
    {
        for (int spins = 0;; ++spins)
        {
            /* Read before the exchange, so that waiters share the line. */
            if (!mLocked.load(std::memory_order_relaxed) &&
                !mLocked.exchange(true, std::memory_order_acquire))
            {
                return;
            }
            if (spins < SPINS_BEFORE_YIELD)
            {
                relax();
            }
            else
            {
                std::this_thread::yield();
            }
        }
    }

    void unlock()
    {
        mLocked.store(false, std::memory_order_release);
    }

  private:
    static const int SPINS_BEFORE_YIELD = 64;

    /* The processor's hint that the thread waits for memory another writes. */
    static void relax()
    {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#elif defined(__aarch64__)
        asm volatile("yield");
#endif
    }

    std::atomic<bool> mLocked{false};
};

#endif /* CORVEX_BRIDGE_SPIN_LOCK_H */
