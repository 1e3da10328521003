#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "wombat/destroyHandle.h"
#include "wombat/strutils.h"
#include "wombat/wlock.h"

namespace {

using namespace std::chrono_literals;

// Runs fn on another thread; false (thread abandoned) if it hangs.
template <typename Fn>
bool finishesOnAnotherThread (Fn fn)
{
    std::packaged_task<void ()> task (fn);
    auto done = task.get_future ();
    std::thread thread (std::move (task));
    if (done.wait_for (5s) != std::future_status::ready)
    {
        thread.detach ();
        return false;
    }
    thread.join ();
    return true;
}

TEST (DestroyHandle, ReferencesYieldTheOwnerUntilItIsDestroyed)
{
    int owner = 0;
    pDestroyHandle handle = destroyHandle_create (&owner);
    ASSERT_NE (nullptr, handle);
    destroyHandle_incrementRefCount (handle);
    destroyHandle_incrementRefCount (handle);
    EXPECT_EQ (&owner, destroyHandle_removeReference (handle));

    destroyHandle_incrementRefCount (handle);
    destroyHandle_destroyOwner (handle);   // two references remain
    EXPECT_EQ (nullptr, destroyHandle_removeReference (handle));
    // The last reference is given up on a different thread: the handle must
    // not have been left locked by the previous call.
    EXPECT_TRUE (finishesOnAnotherThread ([handle] {
        EXPECT_EQ (nullptr, destroyHandle_removeReference (handle));
    }));
}

TEST (DestroyHandle, UnreferencedHandleIsFreedByDestroyOwner)
{
    int owner = 0;
    pDestroyHandle handle = destroyHandle_create (&owner);
    ASSERT_NE (nullptr, handle);
    destroyHandle_destroyOwner (handle);   // leak or double free shows under ASan

    destroyHandle_incrementRefCount (nullptr);
    destroyHandle_destroyOwner (nullptr);
    EXPECT_EQ (nullptr, destroyHandle_removeReference (nullptr));
}

TEST (DestroyHandle, ConcurrentReferencesAgainstDestroy)
{
    int owner = 0;
    pDestroyHandle handle = destroyHandle_create (&owner);
    ASSERT_NE (nullptr, handle);
    constexpr int holders = 4;
    for (int i = 0; i < holders; ++i)
        destroyHandle_incrementRefCount (handle);

    std::atomic<int> sawOwner{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < holders; ++i)
    {
        threads.emplace_back ([&] {
            if (destroyHandle_removeReference (handle) == &owner)
                ++sawOwner;
        });
    }
    destroyHandle_destroyOwner (handle);
    for (auto& t : threads)
        t.join ();
    EXPECT_LE (sawOwner, holders);
}

TEST (WLock, IsRecursiveAndExcludesOtherThreads)
{
    wLock lock = wlock_create ();
    ASSERT_NE (nullptr, lock);
    wlock_lock (lock);
    wlock_lock (lock);   // same thread again
    wlock_unlock (lock);
    wlock_unlock (lock);

    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
    {
        threads.emplace_back ([&] {
            for (int i = 0; i < 10000; ++i)
            {
                wlock_lock (lock);
                ++counter;
                wlock_unlock (lock);
            }
        });
    }
    for (auto& t : threads)
        t.join ();
    EXPECT_EQ (40000, counter);
    wlock_destroy (lock);

    wlock_lock (nullptr);
    wlock_unlock (nullptr);
    wlock_destroy (nullptr);
}

TEST (StrUtils, VersionInfoParsing)
{
    versionInfo v{};
    ASSERT_EQ (1, strToVersionInfo ("6.3.2rc1", &v));
    EXPECT_EQ (6, v.mMajor);
    EXPECT_EQ (3, v.mMinor);
    EXPECT_EQ (2, v.mRelease);
    EXPECT_STREQ ("rc1", v.mExtra);

    ASSERT_EQ (1, strToVersionInfo ("corvex 10.20", &v));
    EXPECT_EQ (10, v.mMajor);
    EXPECT_EQ (20, v.mMinor);
    EXPECT_EQ (0, v.mRelease);
    EXPECT_STREQ ("", v.mExtra);

    ASSERT_EQ (1, strToVersionInfo ("1.2.3-a-very-long-suffix-text", &v));
    EXPECT_EQ (std::string ("-a-very-long-su"), v.mExtra);   // truncated, terminated

    EXPECT_EQ (0, strToVersionInfo ("none", &v));
    EXPECT_EQ (0, strToVersionInfo ("7", &v));
    EXPECT_EQ (0, strToVersionInfo ("99999999999.1", &v));
    EXPECT_EQ (0, strToVersionInfo (nullptr, &v));
    EXPECT_EQ (0, strToVersionInfo ("1.2", nullptr));
}

TEST (StrUtils, EnvironmentReplacementReturnsAnOwnedCopy)
{
    setenv ("WOMBAT_TEST_HOME", "/home/w", 1);
    char* replaced = strReplaceEnvironmentVariable ("${WOMBAT_TEST_HOME}/etc");
    ASSERT_NE (nullptr, replaced);
    EXPECT_STREQ ("/home/w/etc", replaced);
    free (replaced);

    char* plain = strReplaceEnvironmentVariable ("plain");
    ASSERT_NE (nullptr, plain);
    EXPECT_STREQ ("plain", plain);
    free (plain);
    EXPECT_EQ (nullptr, strReplaceEnvironmentVariable (nullptr));
}

} // namespace
