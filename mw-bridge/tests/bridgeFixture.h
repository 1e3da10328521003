/* Shared fixtures of the bridge tests: the host's log lines captured, the
 * bridge loaded and opened as an application does it, and a queue dispatched
 * on a thread of its own. */
#ifndef CORVEX_BRIDGE_TESTS_BRIDGEFIXTURE_H
#define CORVEX_BRIDGE_TESTS_BRIDGEFIXTURE_H

#include <gtest/gtest.h>

#include "corvexClientTest.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <mama/mama.h>

/* Every line the host logs, as the application's log callback sees it. */
class LogCapture
{
  public:
    static void start(MamaLogLevel level)
    {
        std::lock_guard<std::mutex> guard(state().mLock);
        state().mLines.clear();
        state().mHoldAt.clear();
        state().mHolding = false;
        mama_setLogLevel(level);
        mama_setLogCallback2(onLine);
    }

    static std::vector<std::string> lines()
    {
        std::lock_guard<std::mutex> guard(state().mLock);
        return state().mLines;
    }

    /* Lines that contain `needle`. */
    static std::vector<std::string> matching(const std::string& needle)
    {
        std::vector<std::string> found;
        for (const std::string& line : lines())
        {
            if (line.find(needle) != std::string::npos)
            {
                found.push_back(line);
            }
        }
        return found;
    }

    static size_t count(const std::string& needle)
    {
        return matching(needle).size();
    }

    /* Waits until `needle` has been logged at least `times` times. */
    static bool waitFor(const std::string& needle, size_t times = 1,
                        std::chrono::milliseconds limit = std::chrono::milliseconds(5000))
    {
        std::unique_lock<std::mutex> guard(state().mLock);
        return state().mChanged.wait_for(guard, limit,
                                         [&]
                                         {
                                             size_t seen = 0;
                                             for (const std::string& line : state().mLines)
                                             {
                                                 seen +=
                                                     line.find(needle) != std::string::npos ? 1 : 0;
                                             }
                                             return seen >= times;
                                         });
    }

    /* The next thread that logs a line containing `needle` stays inside the
     * log call until release(): a way to stop a bridge thread at a known
     * point. */
    static void holdAt(const std::string& needle)
    {
        std::lock_guard<std::mutex> guard(state().mLock);
        state().mHoldAt = needle;
        state().mHolding = false;
    }

    /* Waits until a thread is held at the line given to holdAt. */
    static bool waitHeld(std::chrono::milliseconds limit = std::chrono::milliseconds(5000))
    {
        std::unique_lock<std::mutex> guard(state().mLock);
        return state().mChanged.wait_for(guard, limit, [] { return state().mHolding; });
    }

    static void release()
    {
        std::lock_guard<std::mutex> guard(state().mLock);
        state().mHoldAt.clear();
        state().mChanged.notify_all();
    }

  private:
    struct State
    {
        std::mutex mLock;
        std::condition_variable mChanged;
        std::vector<std::string> mLines;
        std::string mHoldAt;
        bool mHolding = false;
    };

    static State& state()
    {
        static State s;
        return s;
    }

    static void MAMACALLTYPE onLine(MamaLogLevel, const char* message)
    {
        std::unique_lock<std::mutex> guard(state().mLock);
        state().mLines.push_back(message != nullptr ? message : "");
        state().mChanged.notify_all();
        const std::string& hold = state().mHoldAt;
        if (!hold.empty() && !state().mHolding &&
            state().mLines.back().find(hold) != std::string::npos)
        {
            state().mHolding = true;
            state().mChanged.notify_all();
            state().mChanged.wait(guard, [] { return state().mHoldAt.empty(); });
        }
    }
};

/* The parts of a bridge line "<level> CORVEX-MW-Bridge: (<module>:<line>): <text>";
 * false when the line does not have that form. */
struct BridgeLine
{
    std::string mLevel;
    std::string mModule;
    std::string mText;

    static bool parse(const std::string& line, BridgeLine* parts)
    {
        static const std::string marker = " CORVEX-MW-Bridge: (";
        size_t levelEnd = line.find(marker);
        if (levelEnd == std::string::npos || levelEnd == 0)
        {
            return false;
        }
        size_t moduleStart = levelEnd + marker.size();
        size_t colon = line.find(':', moduleStart);
        if (colon == std::string::npos || colon == moduleStart)
        {
            return false;
        }
        size_t digits = colon + 1;
        size_t close = digits;
        while (close < line.size() && line[close] >= '0' && line[close] <= '9')
        {
            close++;
        }
        if (close == digits || line.compare(close, 3, "): ") != 0)
        {
            return false;
        }
        parts->mLevel = line.substr(0, levelEnd);
        parts->mModule = line.substr(moduleStart, colon - moduleStart);
        parts->mText = line.substr(close + 3);
        return true;
    }

    /* True when `line` is a bridge line with exactly these parts. */
    static bool is(const std::string& line, const std::string& level, const std::string& module,
                   const std::string& text)
    {
        BridgeLine parts;
        return parse(line, &parts) && parts.mLevel == level && parts.mModule == module &&
               parts.mText == text;
    }
};

/* A flag other threads raise and a test waits for, with a bound. */
class Signal
{
  public:
    void raise()
    {
        std::lock_guard<std::mutex> guard(mLock);
        mRaised = true;
        mChanged.notify_all();
    }

    bool wait(std::chrono::milliseconds limit = std::chrono::milliseconds(5000))
    {
        std::unique_lock<std::mutex> guard(mLock);
        return mChanged.wait_for(guard, limit, [this] { return mRaised; });
    }

  private:
    std::mutex mLock;
    std::condition_variable mChanged;
    bool mRaised = false;
};

/* The bridge loaded by name (init and open run inside the load) and the host
 * opened; closed again at the end of each test. */
class BridgeTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        LogCapture::start(MAMA_LOG_LEVEL_FINEST);
        ASSERT_EQ(MAMA_STATUS_OK, mama_loadBridge(&mBridge, "corvex"));
        ASSERT_EQ(MAMA_STATUS_OK, mama_open()) << ::testing::PrintToString(LogCapture::lines());
        mOpen = true;
    }

    void TearDown() override
    {
        closeBridge();
        /* Recorded vendor calls and armed failures belong to one test. */
        corvexClientTest_setRecording(0);
        corvexClientTest_clearCalls();
        corvexClientTest_clearFailures();
    }

    void closeBridge()
    {
        if (mOpen)
        {
            mOpen = false;
            EXPECT_EQ(MAMA_STATUS_OK, mama_close());
        }
    }

    mamaBridge mBridge = nullptr;
    bool mOpen = false;
};

/* Runs `dispatch` (by default mamaQueue_dispatch) on a thread of its own and
 * reports when it has returned. */
class DispatchThread
{
  public:
    explicit DispatchThread(mamaQueue queue)
        : DispatchThread([queue] { return mamaQueue_dispatch(queue); })
    {
    }

    explicit DispatchThread(std::function<mama_status()> dispatch)
        : mThread(
              [this, dispatch]
              {
                  mStatus = dispatch();
                  mReturned.raise();
              })
    {
    }

    ~DispatchThread()
    {
        if (mThread.joinable())
        {
            mThread.join();
        }
    }

    /* True when the dispatch call returned within `limit`; then joined. */
    bool waitReturned(std::chrono::milliseconds limit)
    {
        if (!mReturned.wait(limit))
        {
            return false;
        }
        mThread.join();
        return true;
    }

    mama_status status() const
    {
        return mStatus;
    }

  private:
    Signal mReturned;
    mama_status mStatus = MAMA_STATUS_OK;
    std::thread mThread;
};

#endif /* CORVEX_BRIDGE_TESTS_BRIDGEFIXTURE_H */
