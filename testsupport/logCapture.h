/* The host's log lines as the application's log callback sees them, and the
 * parts of a line the bridge writes. */
#ifndef CORVEX_TESTSUPPORT_LOGCAPTURE_H
#define CORVEX_TESTSUPPORT_LOGCAPTURE_H

#include <chrono>
#include <string>
#include <vector>

#include <mama/mama.h>

#include "waiting.h"

/* Every line the host logs from start() on. A line "matches" a text when it
 * contains it. */
class LogCapture
{
  public:
    static void start(MamaLogLevel level);
    static std::vector<std::string> lines();
    static std::vector<std::string> matching(const std::string& needle);
    /* How many lines match `needle`. */
    static size_t count(const std::string& needle);
    /* Waits until `times` lines match `needle`. */
    static bool waitFor(const std::string& needle, size_t times = 1,
                        std::chrono::milliseconds limit = WAIT_LIMIT);

    /* The next thread that logs a line matching `needle` stays inside the
     * log call until release(): a way to stop a bridge thread at a known
     * point. */
    static void holdAt(const std::string& needle);
    /* Waits until a thread is held at the line given to holdAt. */
    static bool waitHeld(std::chrono::milliseconds limit = WAIT_LIMIT);
    static void release();
};

/* The parts of a bridge line "<level> CORVEX-MW-Bridge: (<module>:<line>): <text>". */
struct BridgeLine
{
    std::string mLevel;
    std::string mModule;
    std::string mText;

    /* False when the line does not have that form. */
    static bool parse(const std::string& line, BridgeLine* parts);
    /* True when `line` is a bridge line with exactly these parts. */
    static bool is(const std::string& line, const std::string& level, const std::string& module,
                   const std::string& text);
    /* The captured bridge lines at `level`. */
    static std::vector<std::string> at(const std::string& level);
};

#endif /* CORVEX_TESTSUPPORT_LOGCAPTURE_H */
