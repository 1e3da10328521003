/* The vendor thread hands each received message to its queue without the
 * heap once the transport has warmed up. Every allocation of the process is
 * counted on the thread that makes it; a queue's enqueue callback, which
 * runs on the thread that enqueues each of its events, publishes that
 * thread's count, so the test reads the vendor thread's own figure. */
#include <errno.h>
#include <stddef.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "receptionFixture.h"

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
#define CORVEX_COUNTS_ALLOCATIONS 1

/* The C library's own entry points, behind the ones defined here. */
extern "C" void* __libc_malloc(size_t size) noexcept;
extern "C" void* __libc_calloc(size_t count, size_t size) noexcept;
extern "C" void* __libc_realloc(void* block, size_t size) noexcept;
extern "C" void* __libc_memalign(size_t alignment, size_t size) noexcept;

namespace
{
/* Initialised statically: reading it never allocates. */
thread_local uint64_t tAllocations = 0;
} // namespace

/* operator new and the C++ library allocate through these as well. */
extern "C" void* malloc(size_t size) noexcept
{
    ++tAllocations;
    return __libc_malloc(size);
}

extern "C" void* calloc(size_t count, size_t size) noexcept
{
    ++tAllocations;
    return __libc_calloc(count, size);
}

extern "C" void* realloc(void* block, size_t size) noexcept
{
    ++tAllocations;
    return __libc_realloc(block, size);
}

extern "C" void* memalign(size_t alignment, size_t size) noexcept
{
    ++tAllocations;
    return __libc_memalign(alignment, size);
}

extern "C" void* aligned_alloc(size_t alignment, size_t size) noexcept
{
    ++tAllocations;
    return __libc_memalign(alignment, size);
}

extern "C" int posix_memalign(void** block, size_t alignment, size_t size) noexcept
{
    ++tAllocations;
    void* allocated = __libc_memalign(alignment, size);
    if (allocated == nullptr)
    {
        return ENOMEM;
    }
    *block = allocated;
    return 0;
}
#endif

#ifdef CORVEX_COUNTS_ALLOCATIONS
namespace
{
/* Set by the enqueue callback: the enqueuing thread and its count then. */
std::atomic<uint64_t> gEnqueuerAllocations(0);
std::atomic<uint64_t> gEnqueues(0);
std::atomic<std::thread::id> gEnqueuer;

void MAMACALLTYPE onEnqueue(mamaQueue, void*)
{
    gEnqueuerAllocations.store(tAllocations);
    gEnqueuer.store(std::this_thread::get_id());
    gEnqueues.fetch_add(1);
}
} // namespace
#endif

namespace
{
class AllocationTest : public ReceptionTest
{
  protected:
    /* Publishes on A.LLOC to a plain and a wildcard subscription on one
     * queue, and checks that the vendor thread queued the measured messages
     * without the heap. The enqueue callback is on that queue when `watched`
     * (each message then has an event of its own); else it is on a probe
     * queue of its own, with a subscription to another topic that is sent a
     * message to read the vendor thread's count, and the measured messages
     * travel in batches. */
    void check(bool watched)
    {
#ifndef CORVEX_COUNTS_ALLOCATIONS
        (void)watched;
        GTEST_SKIP() << "allocations are not counted under a sanitizer, whose allocator replaces "
                        "the C library's";
#else
        /* A small queue and hold: the publisher outruns the subscriber, so
         * the session is suspended, holds and resumes again and again, and
         * the queue's and the hold's high-water marks are reached while
         * warming up. */
        mama_setProperty("mama.corvex.transport.t1.SESSION_SUSPEND_HOLD_LIMIT", "2000");
        start("500");
        /* The fixture captures every line down to FINEST, each into a string
         * of its own; an application logs flow control's lines only when
         * asked. */
        mama_setLogLevel(MAMA_LOG_LEVEL_WARN);
        mamaQueue queue = addQueue();
        MsgRecorder& received = subscribe(queue, "A.LLOC");
        MsgRecorder& wildcard = subscribe(queue, "A", "LLOC");
        mamaQueue probeQueue = watched ? queue : addQueue();
        MsgRecorder* probe = watched ? nullptr : &subscribe(probeQueue, "A.PROBE");
        mamaPublisher probePublisher = watched ? nullptr : addPublisher("A.PROBE");
        ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_setEnqueueCallback(probeQueue, onEnqueue, nullptr));
        mamaPublisher publisher = addPublisher("A.LLOC");

        const int64_t warmUp = 20000;
        const int64_t measured = 100000;
        /* What a few late high-water marks may still cost: far fewer than
         * one allocation per thousand messages. */
        const uint64_t slack = 32;

        mamaMsg msg = nullptr;
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_create(&msg));
        ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_addI64(msg, TEST_SEQ_NAME, TEST_SEQ_FID, 0));
        auto sample = [&](int64_t seq)
        {
            if (probe != nullptr)
            {
                ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateI64(msg, TEST_SEQ_NAME, TEST_SEQ_FID, seq));
                ASSERT_EQ(MAMA_STATUS_OK, mamaPublisher_send(probePublisher, msg));
                ASSERT_TRUE(probe->waitForMessages((size_t)seq, std::chrono::seconds(60)));
            }
        };
        for (int64_t seq = 1; seq <= warmUp; ++seq)
        {
            ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateI64(msg, TEST_SEQ_NAME, TEST_SEQ_FID, seq));
            ASSERT_EQ(MAMA_STATUS_OK, mamaPublisher_send(publisher, msg));
        }
        ASSERT_TRUE(received.waitForMessages(warmUp, std::chrono::seconds(60)));
        ASSERT_TRUE(wildcard.waitForMessages(warmUp, std::chrono::seconds(60)));
        sample(1);
        /* The last callback of the warm-up may still be running. */
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const uint64_t enqueuesBefore = gEnqueues.load();
        const uint64_t before = gEnqueuerAllocations.load();

        for (int64_t seq = warmUp + 1; seq <= warmUp + measured; ++seq)
        {
            ASSERT_EQ(MAMA_STATUS_OK, mamaMsg_updateI64(msg, TEST_SEQ_NAME, TEST_SEQ_FID, seq));
            ASSERT_EQ(MAMA_STATUS_OK, mamaPublisher_send(publisher, msg));
        }
        ASSERT_TRUE(received.waitForMessages(warmUp + measured, std::chrono::seconds(120)));
        ASSERT_TRUE(wildcard.waitForMessages(warmUp + measured, std::chrono::seconds(120)));
        sample(2);
        mamaMsg_destroy(msg);
        /* The callback runs once its event is queued: the message may have
         * been delivered before it returns. */
        const uint64_t expected = enqueuesBefore + (watched ? 2 * measured : 1);
        for (int i = 0; i < 2000 && gEnqueues.load() < expected; ++i)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const uint64_t after = gEnqueuerAllocations.load();

        /* The copies were queued by the vendor thread, none by the
         * publishing thread, and nothing was lost or reordered. */
        EXPECT_EQ(expected, gEnqueues.load());
        EXPECT_NE(std::this_thread::get_id(), gEnqueuer.load());
        for (MsgRecorder* each : {&received, &wildcard})
        {
            std::vector<int64_t> seqs = each->seqs();
            ASSERT_EQ((size_t)(warmUp + measured), seqs.size());
            for (size_t i = 0; i < seqs.size(); ++i)
            {
                ASSERT_EQ((int64_t)i + 1, seqs[i]);
            }
        }
        EXPECT_LE(after - before, slack)
            << (after - before) << " allocations on the vendor thread for " << measured
            << " messages to two subscriptions";
#endif
    }
};
} // namespace

TEST_F(AllocationTest, TheVendorThreadQueuesEachMessageWithoutTheHeapOnAWatchedQueue)
{
    check(true);
}

TEST_F(AllocationTest, TheVendorThreadQueuesBatchedMessagesWithoutTheHeap)
{
    check(false);
}
