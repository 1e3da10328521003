#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <shared_mutex>
#include <thread>
#include <vector>

#include "../src/sharedLock.h"
#include "waiting.h"

namespace
{
/* Two plain fields a writer keeps equal: a reader that ever sees them differ
 * ran beside a writer (the race detector also reports the access itself). */
struct Guarded
{
    CorvexSharedLock mLock;
    uint64_t mFirst = 0;
    uint64_t mSecond = 0;
};
} // namespace

TEST(SharedLockTest, WritersExcludeReadersAndEachOtherWhileReadersOverlap)
{
    Guarded guarded;
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> torn{0};
    std::atomic<uint64_t> reads{0};
    std::vector<std::thread> threads;
    const int readers = 6;
    for (int i = 0; i < readers; ++i)
    {
        threads.emplace_back(
            [&]
            {
                while (!stop.load())
                {
                    std::shared_lock<CorvexSharedLock> lock(guarded.mLock);
                    if (guarded.mFirst != guarded.mSecond)
                        torn.fetch_add(1);
                    reads.fetch_add(1);
                }
            });
    }
    for (int i = 0; i < 2; ++i)
    {
        threads.emplace_back(
            [&]
            {
                for (int n = 0; n < 200; ++n)
                {
                    std::unique_lock<CorvexSharedLock> lock(guarded.mLock);
                    ++guarded.mFirst;
                    std::this_thread::yield();
                    ++guarded.mSecond;
                }
            });
    }
    threads[readers].join();
    threads[readers + 1].join();
    stop.store(true);
    for (int i = 0; i < readers; ++i)
        threads[i].join();
    EXPECT_EQ(0u, torn.load());
    EXPECT_EQ(400u, guarded.mFirst);
    EXPECT_EQ(400u, guarded.mSecond);
    EXPECT_GT(reads.load(), 0u);
}

TEST(SharedLockTest, AWriterWaitsForTheReadersItFoundAndReadersWaitForTheWriter)
{
    CorvexSharedLock lock;
    lock.lock_shared();
    std::atomic<bool> written{false};
    std::atomic<bool> finished{false};
    std::thread writer(
        [&]
        {
            std::unique_lock<CorvexSharedLock> exclusive(lock);
            written.store(true);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            finished.store(true);
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(written.load()) << "the writer entered beside a reader";
    lock.unlock_shared();
    ASSERT_TRUE(pollUntil([&] { return written.load(); }));
    // The writer holds it now: a new reader waits until it is done.
    std::shared_lock<CorvexSharedLock> reader(lock);
    EXPECT_TRUE(finished.load()) << "a reader entered beside the writer";
    writer.join();
}
