// Shared by the mama_* tests: log capture and bounded waiting.
#ifndef MAMA_TEST_SUPPORT_H
#define MAMA_TEST_SUPPORT_H

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "mama/mama.h"

namespace mamatest
{
// Collects every line the host logs while installed (one per process).
class LogCapture
{
  public:
    LogCapture()
    {
        clear();
        mama_setLogCallback2(&LogCapture::onLine);
    }
    ~LogCapture()
    {
        mama_setLogCallback2(nullptr);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    static void clear()
    {
        std::lock_guard<std::mutex> guard(lock());
        lines().clear();
    }

    static std::vector<std::string> snapshot()
    {
        std::lock_guard<std::mutex> guard(lock());
        return lines();
    }

    // Position of the first line equal to text, or -1.
    static int indexOf(const std::string& text)
    {
        std::vector<std::string> all = snapshot();
        for (size_t i = 0; i < all.size(); ++i)
        {
            if (all[i] == text)
            {
                return static_cast<int>(i);
            }
        }
        return -1;
    }

    static int count(const std::string& text)
    {
        int found = 0;
        for (const std::string& line : snapshot())
        {
            found += line == text ? 1 : 0;
        }
        return found;
    }

    // True once a line equal to text has been logged, waiting at most `timeout`.
    static bool waitFor(const std::string& text,
                        std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        std::unique_lock<std::mutex> guard(lock());
        return changed().wait_for(guard, timeout,
                                  [&text]
                                  {
                                      for (const std::string& line : lines())
                                      {
                                          if (line == text)
                                          {
                                              return true;
                                          }
                                      }
                                      return false;
                                  });
    }

  private:
    static void MAMACALLTYPE onLine(MamaLogLevel, const char* message)
    {
        std::lock_guard<std::mutex> guard(lock());
        lines().emplace_back(message);
        changed().notify_all();
    }
    static std::mutex& lock()
    {
        static std::mutex instance;
        return instance;
    }
    static std::condition_variable& changed()
    {
        static std::condition_variable instance;
        return instance;
    }
    static std::vector<std::string>& lines()
    {
        static std::vector<std::string> instance;
        return instance;
    }
};

// A flag another thread sets, with a bounded wait for it.
class Signal
{
  public:
    void set()
    {
        std::lock_guard<std::mutex> guard(mLock);
        mSet = true;
        mChanged.notify_all();
    }
    bool waitFor(std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        std::unique_lock<std::mutex> guard(mLock);
        return mChanged.wait_for(guard, timeout, [this] { return mSet; });
    }

  private:
    std::mutex mLock;
    std::condition_variable mChanged;
    bool mSet = false;
};
} // namespace mamatest

#endif
