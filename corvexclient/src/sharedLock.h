/* A reader-writer lock for state that every message reads and little else
 * changes (a session's state and dispatch entries, a router's
 * subscriptions). Each reading thread counts itself in a slot of its own
 * cache line, so readers on different cores never write the same line, as
 * they do with std::shared_mutex; a writer closes the lock to new readers
 * and waits until the slots it counted are empty. Writers go first: a
 * reader that finds a writer waiting steps back until it is done, so the
 * lock is not recursive. Usable with std::shared_lock and std::unique_lock. */
#ifndef CORVEXCLIENT_SHARED_LOCK_H
#define CORVEXCLIENT_SHARED_LOCK_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

#include <pthread.h>

class CorvexSharedLock
{
  public:
    CorvexSharedLock() = default;
    CorvexSharedLock(const CorvexSharedLock&) = delete;
    CorvexSharedLock& operator=(const CorvexSharedLock&) = delete;

    void lock_shared()
    {
        std::atomic<uint32_t>& readers = mSlots[slotOfThisThread()].mReaders;
        while (true)
        {
            /* Counted first, then the writer flag read: a writer that sets
             * the flag and then reads the slots sees this reader, or this
             * reader sees the flag (both sequentially consistent). */
            readers.fetch_add(1, std::memory_order_seq_cst);
            if (!mWriting.load(std::memory_order_seq_cst))
                return;
            readers.fetch_sub(1, std::memory_order_seq_cst);
            std::unique_lock<std::mutex> gate(mGateLock);
            mOpened.wait(gate, [this] { return !mWriting.load(std::memory_order_seq_cst); });
        }
    }

    void unlock_shared()
    {
        mSlots[slotOfThisThread()].mReaders.fetch_sub(1, std::memory_order_release);
    }

    void lock()
    {
        mWriterLock.lock();
        mWriting.store(true, std::memory_order_seq_cst);
        for (Slot& slot : mSlots)
        {
            /* Readers hold the lock briefly; one that does not (a network
             * send that blocks) is waited for without spinning. */
            for (int spins = 0; slot.mReaders.load(std::memory_order_seq_cst) != 0; ++spins)
            {
                if (spins < 100)
                    std::this_thread::yield();
                else
                    std::this_thread::sleep_for(std::chrono::microseconds(50));
            }
        }
    }

    void unlock()
    {
        {
            std::lock_guard<std::mutex> gate(mGateLock);
            mWriting.store(false, std::memory_order_seq_cst);
        }
        mOpened.notify_all();
        mWriterLock.unlock();
    }

  private:
    static constexpr size_t kSlots = 16;

    struct alignas(64) Slot
    {
        std::atomic<uint32_t> mReaders{0};
    };

    /* A thread's slot comes from its thread handle, which costs no call
     * (a thread_local in a shared library does); two threads that share a
     * slot only share its line. */
    static size_t slotOfThisThread()
    {
        const uint64_t handle = static_cast<uint64_t>(pthread_self());
        return static_cast<size_t>((handle * 0x9E3779B97F4A7C15ull) >> 32) % kSlots;
    }

    Slot mSlots[kSlots];
    alignas(64) std::atomic<bool> mWriting{false};
    std::mutex mWriterLock; /* writers, one at a time */
    std::mutex mGateLock;   /* with mOpened: readers waiting for a writer */
    std::condition_variable mOpened;
};

#endif
