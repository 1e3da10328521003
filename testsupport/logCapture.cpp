#include "logCapture.h"

#include <condition_variable>
#include <mutex>

namespace
{
struct CaptureState
{
    std::mutex mLock;
    std::condition_variable mChanged;
    std::vector<std::string> mLines;
    std::string mHoldAt;
    bool mHolding = false;
};

CaptureState& captureState()
{
    static CaptureState state;
    return state;
}

size_t countMatching(const std::vector<std::string>& lines, const std::string& needle)
{
    size_t found = 0;
    for (const std::string& line : lines)
    {
        found += line.find(needle) != std::string::npos ? 1 : 0;
    }
    return found;
}

void MAMACALLTYPE captureLine(MamaLogLevel, const char* message)
{
    CaptureState& state = captureState();
    std::unique_lock<std::mutex> guard(state.mLock);
    state.mLines.push_back(message != nullptr ? message : "");
    state.mChanged.notify_all();
    if (!state.mHoldAt.empty() && !state.mHolding &&
        state.mLines.back().find(state.mHoldAt) != std::string::npos)
    {
        state.mHolding = true;
        state.mChanged.notify_all();
        state.mChanged.wait(guard, [&state] { return state.mHoldAt.empty(); });
    }
}
} // namespace

void LogCapture::start(MamaLogLevel level)
{
    CaptureState& state = captureState();
    {
        std::lock_guard<std::mutex> guard(state.mLock);
        state.mLines.clear();
        state.mHoldAt.clear();
        state.mHolding = false;
    }
    mama_setLogLevel(level);
    mama_setLogCallback2(captureLine);
}

std::vector<std::string> LogCapture::lines()
{
    std::lock_guard<std::mutex> guard(captureState().mLock);
    return captureState().mLines;
}

std::vector<std::string> LogCapture::matching(const std::string& needle)
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

size_t LogCapture::count(const std::string& needle)
{
    return countMatching(lines(), needle);
}

bool LogCapture::waitFor(const std::string& needle, size_t times, std::chrono::milliseconds limit)
{
    CaptureState& state = captureState();
    std::unique_lock<std::mutex> guard(state.mLock);
    return state.mChanged.wait_for(guard, limit,
                                   [&] { return countMatching(state.mLines, needle) >= times; });
}

void LogCapture::holdAt(const std::string& needle)
{
    std::lock_guard<std::mutex> guard(captureState().mLock);
    captureState().mHoldAt = needle;
    captureState().mHolding = false;
}

bool LogCapture::waitHeld(std::chrono::milliseconds limit)
{
    CaptureState& state = captureState();
    std::unique_lock<std::mutex> guard(state.mLock);
    return state.mChanged.wait_for(guard, limit, [&state] { return state.mHolding; });
}

void LogCapture::release()
{
    std::lock_guard<std::mutex> guard(captureState().mLock);
    captureState().mHoldAt.clear();
    captureState().mChanged.notify_all();
}

bool BridgeLine::parse(const std::string& line, BridgeLine* parts)
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

bool BridgeLine::is(const std::string& line, const std::string& level, const std::string& module,
                    const std::string& text)
{
    BridgeLine parts;
    return parse(line, &parts) && parts.mLevel == level && parts.mModule == module &&
           parts.mText == text;
}

std::vector<std::string> BridgeLine::at(const std::string& level)
{
    std::vector<std::string> found;
    for (const std::string& line : LogCapture::lines())
    {
        BridgeLine parts;
        if (parse(line, &parts) && parts.mLevel == level)
        {
            found.push_back(line);
        }
    }
    return found;
}
