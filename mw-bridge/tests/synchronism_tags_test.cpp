/* Correlation tags: each tag's callback runs exactly once, whether the
 * outcome is in the call's return code or arrives later from another thread,
 * and a manager being destroyed refuses new tags and waits for outstanding
 * ones. */
#include <atomic>
#include <functional>
#include <future>
#include <thread>

#include "bridgeTest.h"
#include "synchronism.h"

namespace
{
struct Completion
{
    std::atomic<int> mRuns{0};
    std::atomic<int> mFromSessionEvent{-1};
    std::atomic<int32_t> mReturnCode{99};
    std::atomic<std::thread::id> mThread{};
};

mama_status recordCompletion(int fromSessionEvent, CorvexCorrelationContext* context)
{
    Completion* completion =
        *static_cast<Completion**>(corvexSynchronismManager_getContextPayload(context));
    completion->mFromSessionEvent = fromSessionEvent;
    completion->mReturnCode = corvexSynchronismManager_getContextReturnCode(context);
    completion->mThread = std::this_thread::get_id();
    completion->mRuns++;
    return completion->mReturnCode == 0 ? MAMA_STATUS_OK : MAMA_STATUS_NOT_ENTITLED;
}

class SynchronismTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        LogCapture::start(MAMA_LOG_LEVEL_FINEST);
        ASSERT_TRUE(corvexSynchronismManager_init(&mManager));
    }

    void TearDown() override
    {
        corvexSynchronismManager_destroy(&mManager);
    }

    CorvexCorrelationTag* tagFor(Completion* completion)
    {
        CorvexCorrelationTag* tag =
            corvexSynchronismManager_createCorrelationTag(&mManager, recordCompletion);
        if (tag != nullptr)
        {
            *static_cast<Completion**>(corvexSynchronismManager_getTagPayload(tag)) = completion;
        }
        return tag;
    }

    /* True when destroy returns within `limit` on a thread of its own. */
    bool destroyReturnsWithin(std::future<void>& done, std::chrono::milliseconds limit)
    {
        return done.wait_for(limit) == std::future_status::ready;
    }

    CorvexSynchronismManager mManager = {};
};
} // namespace

TEST_F(SynchronismTest, OutcomeInTheReturnCodeCompletesAtOnceOnTheCallingThread)
{
    Completion accepted, refused;
    CorvexCorrelationTag* first = tagFor(&accepted);
    CorvexCorrelationTag* second = tagFor(&refused);
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, second);

    EXPECT_EQ(MAMA_STATUS_OK,
              corvexSynchronismManager_completeCall(&mManager, first, CORVEXCLIENT_OK));
    EXPECT_EQ(MAMA_STATUS_NOT_ENTITLED,
              corvexSynchronismManager_completeCall(&mManager, second, CORVEXCLIENT_FAIL));

    EXPECT_EQ(1, accepted.mRuns);
    EXPECT_EQ(0, accepted.mFromSessionEvent);
    EXPECT_EQ(0, accepted.mReturnCode);
    EXPECT_EQ(std::this_thread::get_id(), accepted.mThread.load());
    EXPECT_EQ(1, refused.mRuns);
    EXPECT_EQ(CORVEXCLIENT_FAIL, refused.mReturnCode);
    EXPECT_EQ(nullptr, mManager.mTags) << "completed tags are gone";
}

TEST_F(SynchronismTest, DeferredOutcomeCompletesOnceFromTheEvent)
{
    Completion confirmed, refused;
    CorvexCorrelationTag* first = tagFor(&confirmed);
    CorvexCorrelationTag* second = tagFor(&refused);

    EXPECT_EQ(MAMA_STATUS_OK,
              corvexSynchronismManager_completeCall(&mManager, first, CORVEXCLIENT_IN_PROGRESS));
    EXPECT_EQ(MAMA_STATUS_OK,
              corvexSynchronismManager_completeCall(&mManager, second, CORVEXCLIENT_IN_PROGRESS));
    EXPECT_EQ(0, confirmed.mRuns + refused.mRuns) << "nothing runs before the event";

    std::thread vendor(
        [&]
        {
            corvexSynchronismManager_completeFromEvent(first, 0);
            corvexSynchronismManager_completeFromEvent(second, -1);
        });
    vendor.join();

    EXPECT_EQ(1, confirmed.mRuns);
    EXPECT_EQ(1, confirmed.mFromSessionEvent);
    EXPECT_EQ(0, confirmed.mReturnCode);
    EXPECT_NE(std::this_thread::get_id(), confirmed.mThread.load());
    EXPECT_EQ(1, refused.mRuns);
    EXPECT_EQ(-1, refused.mReturnCode);
    EXPECT_EQ(nullptr, mManager.mTags);
}

TEST_F(SynchronismTest, DestroyRefusesNewTagsAndWaitsForTheOutstandingOne)
{
    Completion pending;
    CorvexCorrelationTag* tag = tagFor(&pending);
    ASSERT_EQ(MAMA_STATUS_OK,
              corvexSynchronismManager_completeCall(&mManager, tag, CORVEXCLIENT_IN_PROGRESS));

    std::future<void> done =
        std::async(std::launch::async, [&] { corvexSynchronismManager_destroy(&mManager); });
    /* Destroy closes the manager at once, then waits. */
    Completion late;
    bool refused = false;
    for (int i = 0; i < 500 && !refused; ++i)
    {
        CorvexCorrelationTag* extra = tagFor(&late);
        refused = extra == nullptr;
        if (extra != nullptr)
        {
            corvexSynchronismManager_destroyCorrelationTag(&mManager, extra);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    EXPECT_TRUE(refused);
    EXPECT_FALSE(destroyReturnsWithin(done, std::chrono::milliseconds(100)));

    corvexSynchronismManager_completeFromEvent(tag, 0);
    EXPECT_TRUE(destroyReturnsWithin(done, std::chrono::milliseconds(5000)));
    EXPECT_EQ(1, pending.mRuns);
    EXPECT_EQ(0, late.mRuns);
}

TEST_F(SynchronismTest, DestroyWithoutOutstandingTagsReturnsAtOnceAndOnlyOnce)
{
    std::future<void> done =
        std::async(std::launch::async, [&] { corvexSynchronismManager_destroy(&mManager); });
    EXPECT_TRUE(destroyReturnsWithin(done, std::chrono::milliseconds(5000)));
    corvexSynchronismManager_destroy(&mManager);
}

TEST_F(SynchronismTest, DestroyingATagTwiceIsReportedTheSecondTime)
{
    CorvexCorrelationTag* first =
        corvexSynchronismManager_createCorrelationTag(&mManager, recordCompletion);
    CorvexCorrelationTag* second =
        corvexSynchronismManager_createCorrelationTag(&mManager, recordCompletion);
    corvexSynchronismManager_destroyCorrelationTag(&mManager, first);
    EXPECT_EQ(0u, LogCapture::count("Cannot find correlation tag"));

    /* `first` is freed; only its address is looked up. */
    corvexSynchronismManager_destroyCorrelationTag(&mManager, first);
    char expected[200];
    snprintf(expected, sizeof(expected),
             "corvexSynchronismManager_destroyCorrelationTag: Cannot find correlation tag %p in "
             "manager %p",
             (void*)first, (void*)&mManager);
    std::vector<std::string> lines = LogCapture::matching("Cannot find correlation tag");
    ASSERT_EQ(1u, lines.size());
    EXPECT_TRUE(BridgeLine::is(lines[0], "Error", "synchronism", expected)) << lines[0];
    EXPECT_EQ(second, mManager.mTags) << "the other tag is untouched";
    corvexSynchronismManager_destroyCorrelationTag(&mManager, second);
}

TEST_F(SynchronismTest, NullArgumentsAreRefused)
{
    EXPECT_EQ(nullptr, corvexSynchronismManager_createCorrelationTag(nullptr, recordCompletion));
    EXPECT_EQ(nullptr, corvexSynchronismManager_createCorrelationTag(&mManager, nullptr));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, corvexSynchronismManager_completeCall(&mManager, nullptr, 0));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, corvexSynchronismManager_completeCall(nullptr, nullptr, 0));
    corvexSynchronismManager_completeFromEvent(nullptr, 0);
}

namespace
{
void countEmpty(void* owner)
{
    ++*static_cast<std::atomic<int>*>(owner);
}

std::promise<void>* gRunning = nullptr;
std::future<void>* gProceed = nullptr;

mama_status blockInCallback(int, CorvexCorrelationContext*)
{
    gRunning->set_value();
    gProceed->wait();
    return MAMA_STATUS_OK;
}
} // namespace

TEST_F(SynchronismTest, ClosedManagerLetsItsOwnerGoWithTheLastTag)
{
    Completion pending;
    CorvexCorrelationTag* tag = tagFor(&pending);
    ASSERT_EQ(MAMA_STATUS_OK,
              corvexSynchronismManager_completeCall(&mManager, tag, CORVEXCLIENT_IN_PROGRESS));

    std::atomic<int> emptied(0);
    EXPECT_EQ(0, corvexSynchronismManager_close(&mManager, countEmpty, &emptied))
        << "a tag is outstanding";
    EXPECT_EQ(nullptr, tagFor(&pending)) << "closed";
    EXPECT_EQ(0, emptied);

    std::thread vendor([&] { corvexSynchronismManager_completeFromEvent(tag, 0); });
    vendor.join();
    EXPECT_EQ(1, pending.mRuns);
    EXPECT_EQ(1, emptied) << "the owner goes once, with the last tag";
}

TEST_F(SynchronismTest, CloseWithoutTagsFinishesAtOnce)
{
    std::atomic<int> emptied(0);
    EXPECT_EQ(1, corvexSynchronismManager_close(&mManager, countEmpty, &emptied));
    EXPECT_EQ(0, emptied) << "the caller lets the owner go itself";
}

TEST_F(SynchronismTest, AbandonDropsOnlyTagsWhoseCompletionHasNotBegun)
{
    Completion idle;
    CorvexCorrelationTag* waiting = tagFor(&idle);
    CorvexCorrelationTag* running =
        corvexSynchronismManager_createCorrelationTag(&mManager, blockInCallback);
    CorvexCorrelationTag* other =
        corvexSynchronismManager_createCorrelationTag(&mManager, blockInCallback);
    ASSERT_EQ(MAMA_STATUS_OK,
              corvexSynchronismManager_completeCall(&mManager, waiting, CORVEXCLIENT_IN_PROGRESS));

    std::promise<void> started, proceed;
    std::future<void> proceedFuture = proceed.get_future();
    gRunning = &started;
    gProceed = &proceedFuture;
    std::thread vendor([&] { corvexSynchronismManager_completeFromEvent(running, 0); });
    started.get_future().wait();

    EXPECT_EQ(1, corvexSynchronismManager_abandon(&mManager, recordCompletion))
        << "the idle one only";
    corvexSynchronismManager_destroyCorrelationTag(&mManager, other);
    EXPECT_EQ(0, corvexSynchronismManager_abandon(&mManager, blockInCallback))
        << "the running one stays";
    proceed.set_value();
    vendor.join();
    EXPECT_EQ(nullptr, mManager.mTags);
    EXPECT_EQ(0, idle.mRuns);
}
