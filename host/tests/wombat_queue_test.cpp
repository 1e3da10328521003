#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "wombat/queue.h"

namespace {

struct QueueFixture : ::testing::Test
{
    wombatQueue mQueue = nullptr;

    void create (uint32_t maxSize, uint32_t initial = 0, uint32_t grow = 0)
    {
        ASSERT_EQ (WOMBAT_QUEUE_OK, wombatQueue_allocate (&mQueue));
        ASSERT_EQ (WOMBAT_QUEUE_OK, wombatQueue_create (mQueue, maxSize, initial, grow));
    }

    void TearDown () override
    {
        if (mQueue != nullptr)
        {
            EXPECT_EQ (WOMBAT_QUEUE_OK, wombatQueue_destroy (mQueue));
        }
    }

    int size ()
    {
        int result = -1;
        EXPECT_EQ (WOMBAT_QUEUE_OK, wombatQueue_getSize (mQueue, &result));
        return result;
    }
};

// Records the order in which items were run.
struct Recorder
{
    std::vector<intptr_t> mSeen;

    static void MAMACALLTYPE record (void* data, void* closure)
    {
        static_cast<Recorder*> (closure)->mSeen.push_back (reinterpret_cast<intptr_t> (data));
    }
};

void* tag (intptr_t value)
{
    return reinterpret_cast<void*> (value);
}

void MAMACALLTYPE noop (void*, void*) {}

TEST_F (QueueFixture, DispatchRunsItemsInFifoOrderAndReportsThem)
{
    create (0);
    Recorder recorder;
    for (intptr_t i = 1; i <= 3; ++i)
        ASSERT_EQ (WOMBAT_QUEUE_OK, wombatQueue_enqueue (mQueue, Recorder::record, tag (i), &recorder));
    EXPECT_EQ (3, size ());

    void* data = nullptr;
    void* closure = nullptr;
    EXPECT_EQ (WOMBAT_QUEUE_OK, wombatQueue_dispatch (mQueue, &data, &closure));
    EXPECT_EQ (tag (1), data);
    EXPECT_EQ (&recorder, closure);
    EXPECT_EQ (WOMBAT_QUEUE_OK, wombatQueue_timedDispatch (mQueue, nullptr, nullptr, 10));
    EXPECT_EQ (WOMBAT_QUEUE_OK, wombatQueue_poll (mQueue, nullptr, nullptr));
    EXPECT_EQ ((std::vector<intptr_t>{1, 2, 3}), recorder.mSeen);
    EXPECT_EQ (0, size ());
    EXPECT_EQ (WOMBAT_QUEUE_WOULD_BLOCK, wombatQueue_poll (mQueue, nullptr, nullptr));
}

TEST_F (QueueFixture, CapacityGrowsInWholeChunksSoFullComesBelowTheMaximum)
{
    create (200);   // chunks of 64: 64, 128, 192; a fourth chunk would pass 200
    for (int i = 0; i < 192; ++i)
        ASSERT_EQ (WOMBAT_QUEUE_OK, wombatQueue_enqueue (mQueue, noop, nullptr, nullptr)) << i;
    EXPECT_EQ (WOMBAT_QUEUE_FULL, wombatQueue_enqueue (mQueue, noop, nullptr, nullptr));
    EXPECT_EQ (192, size ());

    // Items freed by dispatch are reused.
    ASSERT_EQ (WOMBAT_QUEUE_OK, wombatQueue_poll (mQueue, nullptr, nullptr));
    EXPECT_EQ (WOMBAT_QUEUE_OK, wombatQueue_enqueue (mQueue, noop, nullptr, nullptr));
    EXPECT_EQ (WOMBAT_QUEUE_FULL, wombatQueue_enqueue (mQueue, noop, nullptr, nullptr));
}

TEST (QueueCreate, InitialChunkLargerThanMaximumIsNoMemory)
{
    wombatQueue queue = nullptr;
    ASSERT_EQ (WOMBAT_QUEUE_OK, wombatQueue_allocate (&queue));
    EXPECT_EQ (WOMBAT_QUEUE_NOMEM, wombatQueue_create (queue, 50, 0, 0));
    EXPECT_EQ (WOMBAT_QUEUE_OK, wombatQueue_deallocate (queue));
}

TEST (QueueCreate, MaximumSizeIsBoundedAndNullArgumentsAreRefused)
{
    wombatQueue queue = nullptr;
    ASSERT_EQ (WOMBAT_QUEUE_OK, wombatQueue_allocate (&queue));
    unsigned int max = 0;
    EXPECT_EQ (WOMBAT_QUEUE_OK, wombatQueue_getMaxSize (queue, &max));
    EXPECT_EQ (2147483647u, max);
    EXPECT_EQ (WOMBAT_QUEUE_INVALID_ARG, wombatQueue_setMaxSize (queue, 2147483648u));
    EXPECT_EQ (WOMBAT_QUEUE_OK, wombatQueue_setMaxSize (queue, 10));
    EXPECT_EQ (WOMBAT_QUEUE_OK, wombatQueue_getMaxSize (queue, &max));
    EXPECT_EQ (10u, max);
    EXPECT_EQ (WOMBAT_QUEUE_OK, wombatQueue_deallocate (queue));

    EXPECT_EQ (WOMBAT_QUEUE_INVALID_ARG, wombatQueue_enqueue (nullptr, noop, nullptr, nullptr));
    EXPECT_EQ (WOMBAT_QUEUE_INVALID_ARG, wombatQueue_dispatch (nullptr, nullptr, nullptr));
}

TEST_F (QueueFixture, TimedDispatchOnEmptyQueueTimesOutAfterTheWait)
{
    create (0);
    const auto start = std::chrono::steady_clock::now ();
    EXPECT_EQ (WOMBAT_QUEUE_TIMEOUT, wombatQueue_timedDispatch (mQueue, nullptr, nullptr, 50));
    EXPECT_GE (std::chrono::steady_clock::now () - start, std::chrono::milliseconds (50));
    EXPECT_EQ (WOMBAT_QUEUE_TIMEOUT, wombatQueue_timedDispatch (mQueue, nullptr, nullptr, 0));
}

TEST_F (QueueFixture, UnblockReleasesOneDispatcherWithoutDispatching)
{
    create (0);
    Recorder recorder;
    ASSERT_EQ (WOMBAT_QUEUE_OK, wombatQueue_unblock (mQueue));
    ASSERT_EQ (WOMBAT_QUEUE_OK, wombatQueue_enqueue (mQueue, Recorder::record, tag (7), &recorder));
    EXPECT_EQ (2, size ());   // the pending unblock counts

    void* data = tag (99);
    EXPECT_EQ (WOMBAT_QUEUE_OK, wombatQueue_dispatch (mQueue, &data, nullptr));
    EXPECT_EQ (tag (99), data);   // untouched
    EXPECT_TRUE (recorder.mSeen.empty ());
    EXPECT_EQ (1, size ());

    EXPECT_EQ (WOMBAT_QUEUE_OK, wombatQueue_dispatch (mQueue, &data, nullptr));
    EXPECT_EQ (tag (7), data);
    EXPECT_EQ ((std::vector<intptr_t>{7}), recorder.mSeen);
}

TEST_F (QueueFixture, PollIgnoresAPendingUnblock)
{
    create (0);
    ASSERT_EQ (WOMBAT_QUEUE_OK, wombatQueue_unblock (mQueue));
    EXPECT_EQ (WOMBAT_QUEUE_WOULD_BLOCK, wombatQueue_poll (mQueue, nullptr, nullptr));
    EXPECT_EQ (WOMBAT_QUEUE_OK, wombatQueue_timedDispatch (mQueue, nullptr, nullptr, 5000));
    EXPECT_EQ (0, size ());
}

TEST_F (QueueFixture, UnblockWakesAWaitingDispatcher)
{
    create (0);
    std::atomic<int> result{0};
    std::thread dispatcher ([&] { result = wombatQueue_dispatch (mQueue, nullptr, nullptr); });
    ASSERT_EQ (WOMBAT_QUEUE_OK, wombatQueue_unblock (mQueue));
    dispatcher.join ();
    EXPECT_EQ (WOMBAT_QUEUE_OK, result);
    EXPECT_EQ (0, size ());
}

TEST_F (QueueFixture, ManyProducersAndDispatchersDeliverEveryItemOnceInProducerOrder)
{
    create (0);
    constexpr int producers = 3;
    constexpr int perProducer = 5000;

    struct Tally
    {
        std::atomic<int> mCount{0};
        std::atomic<bool> mOrdered{true};
        std::atomic<int> mLast[producers];
    } tally;
    for (auto& last : tally.mLast)
        last = -1;

    // With one dispatcher the items of each producer must come out in order.
    const auto check = [] (void* data, void* closure) {
        auto* t = static_cast<Tally*> (closure);
        const auto value = reinterpret_cast<intptr_t> (data);
        const int producer = static_cast<int> (value / perProducer);
        const int seq = static_cast<int> (value % perProducer);
        if (t->mLast[producer].exchange (seq) != seq - 1)
            t->mOrdered = false;
        ++t->mCount;
    };
    const wombatQueueCb cb = check;

    std::thread dispatcher ([&] {
        while (tally.mCount < producers * perProducer)
            ASSERT_EQ (WOMBAT_QUEUE_OK, wombatQueue_timedDispatch (mQueue, nullptr, nullptr, 10000));
    });
    std::vector<std::thread> threads;
    for (int p = 0; p < producers; ++p)
    {
        threads.emplace_back ([&, p] {
            for (int i = 0; i < perProducer; ++i)
                ASSERT_EQ (WOMBAT_QUEUE_OK,
                           wombatQueue_enqueue (mQueue, cb, tag (p * perProducer + i), &tally));
        });
    }
    for (auto& t : threads)
        t.join ();
    dispatcher.join ();
    EXPECT_EQ (producers * perProducer, tally.mCount);
    EXPECT_TRUE (tally.mOrdered);
}

TEST_F (QueueFixture, ConcurrentDispatchersRunEveryItemExactlyOnce)
{
    create (0);
    constexpr int items = 4000;
    std::atomic<int> ran{0};
    const wombatQueueCb count = [] (void*, void* closure) { ++*static_cast<std::atomic<int>*> (closure); };

    std::vector<std::thread> dispatchers;
    for (int d = 0; d < 2; ++d)
    {
        dispatchers.emplace_back ([&] {
            // An item without data is the stop marker for one dispatcher.
            for (;;)
            {
                void* data = nullptr;
                ASSERT_EQ (WOMBAT_QUEUE_OK, wombatQueue_dispatch (mQueue, &data, nullptr));
                if (data == nullptr)
                    return;
            }
        });
    }
    for (int i = 0; i < items; ++i)
        ASSERT_EQ (WOMBAT_QUEUE_OK, wombatQueue_enqueue (mQueue, count, tag (1), &ran));
    for (int d = 0; d < 2; ++d)
        ASSERT_EQ (WOMBAT_QUEUE_OK, wombatQueue_enqueue (mQueue, noop, nullptr, nullptr));
    for (auto& t : dispatchers)
        t.join ();
    EXPECT_EQ (items, ran);
    EXPECT_EQ (0, size ());
}

TEST_F (QueueFixture, FlushHandsOverPendingItemsWithoutRunningThem)
{
    create (0);
    Recorder ran;
    for (intptr_t i = 1; i <= 3; ++i)
        ASSERT_EQ (WOMBAT_QUEUE_OK, wombatQueue_enqueue (mQueue, Recorder::record, tag (i), &ran));

    struct Flushed
    {
        wombatQueue mQueue;
        std::vector<intptr_t> mSeen;
    } flushed{mQueue, {}};
    const wombatQueueFlushCb onFlush = [] (wombatQueue queue, void* data, void* itemClosure, void* closure) {
        auto* f = static_cast<Flushed*> (closure);
        EXPECT_EQ (f->mQueue, queue);
        EXPECT_NE (nullptr, itemClosure);
        f->mSeen.push_back (reinterpret_cast<intptr_t> (data));
    };
    EXPECT_EQ (WOMBAT_QUEUE_OK, wombatQueue_flush (mQueue, onFlush, &flushed));
    EXPECT_EQ ((std::vector<intptr_t>{1, 2, 3}), flushed.mSeen);
    EXPECT_TRUE (ran.mSeen.empty ());
    EXPECT_EQ (0, size ());
}

TEST_F (QueueFixture, DestroyDropsPendingItemsWithoutRunningThem)
{
    create (0);
    Recorder ran;
    for (intptr_t i = 0; i < 100; ++i)
        ASSERT_EQ (WOMBAT_QUEUE_OK, wombatQueue_enqueue (mQueue, Recorder::record, tag (i), &ran));
    ASSERT_EQ (WOMBAT_QUEUE_OK, wombatQueue_destroy (mQueue));
    mQueue = nullptr;
    EXPECT_TRUE (ran.mSeen.empty ());
}

TEST_F (QueueFixture, IteratorWalksEditsAndSurvivesDispatchOfItsItem)
{
    create (0);
    Recorder ran;
    for (intptr_t i = 1; i <= 3; ++i)
        ASSERT_EQ (WOMBAT_QUEUE_OK, wombatQueue_enqueue (mQueue, Recorder::record, tag (i), &ran));

    void* data = nullptr;
    ASSERT_EQ (WOMBAT_QUEUE_OK, wombatQueue_begin (mQueue));
    EXPECT_EQ (WOMBAT_QUEUE_END, wombatQueue_cur (mQueue, &data, nullptr));
    EXPECT_EQ (WOMBAT_QUEUE_OK, wombatQueue_next (mQueue, &data, nullptr));
    EXPECT_EQ (tag (1), data);
    EXPECT_EQ (WOMBAT_QUEUE_OK, wombatQueue_next (mQueue, &data, nullptr));
    EXPECT_EQ (tag (2), data);
    EXPECT_EQ (WOMBAT_QUEUE_OK, wombatQueue_remove (mQueue, &data, nullptr));   // 2 out
    EXPECT_EQ (tag (2), data);
    EXPECT_EQ (WOMBAT_QUEUE_OK, wombatQueue_cur (mQueue, &data, nullptr));      // back on 1
    EXPECT_EQ (tag (1), data);
    EXPECT_EQ (WOMBAT_QUEUE_OK, wombatQueue_insertAfter (mQueue, Recorder::record, tag (5), &ran));
    EXPECT_EQ (WOMBAT_QUEUE_OK, wombatQueue_insertBefore (mQueue, Recorder::record, tag (4), &ran));
    EXPECT_EQ (WOMBAT_QUEUE_OK, wombatQueue_replace (mQueue, Recorder::record, tag (6), &ran));
    EXPECT_EQ (4, size ());

    ASSERT_EQ (WOMBAT_QUEUE_OK, wombatQueue_end (mQueue));
    EXPECT_EQ (WOMBAT_QUEUE_END, wombatQueue_next (mQueue, &data, nullptr));
    EXPECT_EQ (WOMBAT_QUEUE_OK, wombatQueue_prev (mQueue, &data, nullptr));
    EXPECT_EQ (tag (3), data);

    // Dispatching the item under the iterator must not leave it dangling.
    ASSERT_EQ (WOMBAT_QUEUE_OK, wombatQueue_begin (mQueue));
    ASSERT_EQ (WOMBAT_QUEUE_OK, wombatQueue_next (mQueue, &data, nullptr));
    while (wombatQueue_poll (mQueue, nullptr, nullptr) == WOMBAT_QUEUE_OK)
    {
    }
    EXPECT_EQ ((std::vector<intptr_t>{4, 6, 5, 3}), ran.mSeen);
    EXPECT_EQ (WOMBAT_QUEUE_END, wombatQueue_cur (mQueue, &data, nullptr));
    EXPECT_EQ (WOMBAT_QUEUE_END, wombatQueue_next (mQueue, &data, nullptr));
}

} // namespace
