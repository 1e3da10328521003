// The MAMA log: one process-wide level and one sink (default output, or an
// application callback that also lets tests capture every line).
#include "mama/log.h"

#include <pthread.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <time.h>

#include <atomic>
#include <mutex>

#include "mamalog.h"

extern "C"
{
    MamaLogLevel gMamaLogLevel = MAMA_LOG_LEVEL_NORMAL;
}

namespace
{
// The file sink is replaced rarely and written often; the mutex keeps a line
// from being written to a file that another thread is closing.
std::mutex gSinkLock;
FILE* gLogFile = nullptr; // nullptr: stderr
bool gOwnsLogFile = false;
std::atomic<mamaLogCb> gLogCb{nullptr};
std::atomic<mamaLogCb2> gLogCb2{nullptr};

const char* const kLevelNames[] = {"Off",    "Severe", "Error", "Warn",
                                   "Normal", "Fine",   "Finer", "Finest"};

MamaLogLevel currentLevel()
{
    return static_cast<MamaLogLevel>(__atomic_load_n(&gMamaLogLevel, __ATOMIC_RELAXED));
}

bool isValidLevel(MamaLogLevel level)
{
    return level >= MAMA_LOG_LEVEL_OFF && level <= MAMA_LOG_LEVEL_FINEST;
}

bool isEnabled(MamaLogLevel level)
{
    MamaLogLevel current = currentLevel();
    return level != MAMA_LOG_LEVEL_OFF && current != MAMA_LOG_LEVEL_OFF && level <= current;
}

void closeOwnedFileLocked()
{
    if (gOwnsLogFile && gLogFile)
    {
        fclose(gLogFile);
    }
    gLogFile = nullptr;
    gOwnsLogFile = false;
}

void writeDefault(MamaLogLevel level, const char* text)
{
    char stamp[32];
    time_t now = time(nullptr);
    struct tm parts;
    localtime_r(&now, &parts);
    strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", &parts);

    std::lock_guard<std::mutex> guard(gSinkLock);
    FILE* out = gLogFile ? gLogFile : stderr;
    if (level == MAMA_LOG_LEVEL_FINEST)
    {
        fprintf(out, "%s (%lx): %s\n", stamp, (unsigned long)pthread_self(), text);
    }
    else
    {
        fprintf(out, "%s: %s\n", stamp, text);
    }
    fflush(out);
}

// Formats into a stack buffer, falling back to the heap for long lines.
void emitFormatted(MamaLogLevel level, const char* format, va_list args)
{
    char small[1024];
    va_list copy;
    va_copy(copy, args);
    int needed = vsnprintf(small, sizeof(small), format, copy);
    va_end(copy);
    if (needed < 0)
    {
        return;
    }
    char* text = small;
    if (static_cast<size_t>(needed) >= sizeof(small))
    {
        text = static_cast<char*>(malloc(static_cast<size_t>(needed) + 1));
        if (!text)
        {
            return;
        }
        vsnprintf(text, static_cast<size_t>(needed) + 1, format, args);
    }
    mamaLogCb2 cb2 = gLogCb2.load();
    if (cb2)
    {
        cb2(level, text);
    }
    else
    {
        writeDefault(level, text);
    }
    if (text != small)
    {
        free(text);
    }
}

void emit(MamaLogLevel level, const char* format, va_list args)
{
    if (!format)
    {
        return;
    }
    mamaLogCb cb = gLogCb.load();
    if (cb)
    {
        cb(level, format, args);
        return;
    }
    emitFormatted(level, format, args);
}
} // namespace

extern "C"
{

    void mama_logVa(MamaLogLevel level, const char* format, va_list args)
    {
        if (isEnabled(level))
        {
            emit(level, format, args);
        }
    }

    void mama_log(MamaLogLevel level, const char* format, ...)
    {
        if (!isEnabled(level))
        {
            return;
        }
        va_list args;
        va_start(args, format);
        emit(level, format, args);
        va_end(args);
    }

    void MAMACALLTYPE mama_log2(MamaLogLevel level, const char* message)
    {
        if (message)
        {
            mama_log(level, "%s", message);
        }
    }

    void mama_forceLog(MamaLogLevel level, const char* format, ...)
    {
        if (level == MAMA_LOG_LEVEL_OFF || currentLevel() == MAMA_LOG_LEVEL_OFF)
        {
            return;
        }
        va_list args;
        va_start(args, format);
        emit(level, format, args);
        va_end(args);
    }

    mama_status mama_setLogCallback(mamaLogCb callback)
    {
        gLogCb2.store(nullptr);
        gLogCb.store(callback);
        return MAMA_STATUS_OK;
    }

    mama_status MAMACALLTYPE mama_setLogCallback2(mamaLogCb2 callback)
    {
        gLogCb.store(nullptr);
        gLogCb2.store(callback);
        return MAMA_STATUS_OK;
    }

    mama_status mama_setLogLevel(MamaLogLevel level)
    {
        if (!isValidLevel(level))
        {
            return MAMA_STATUS_INVALID_ARG;
        }
        __atomic_store_n(&gMamaLogLevel, level, __ATOMIC_RELAXED);
        return MAMA_STATUS_OK;
    }

    MamaLogLevel mama_getLogLevel(void)
    {
        return currentLevel();
    }

    const char* mama_logLevelToString(MamaLogLevel level)
    {
        return isValidLevel(level) ? kLevelNames[level] : "???";
    }

    int mama_tryStringToLogLevel(const char* text, MamaLogLevel* level)
    {
        if (!text || !level)
        {
            return 0;
        }
        for (int i = MAMA_LOG_LEVEL_OFF; i <= MAMA_LOG_LEVEL_FINEST; ++i)
        {
            if (strcasecmp(text, kLevelNames[i]) == 0)
            {
                *level = static_cast<MamaLogLevel>(i);
                return 1;
            }
        }
        if (strcasecmp(text, "warning") == 0)
        {
            *level = MAMA_LOG_LEVEL_WARN;
            return 1;
        }
        return 0;
    }

    mama_status mama_enableLogging(FILE* file, MamaLogLevel level)
    {
        if (!file)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        if (!isValidLevel(level))
        {
            return MAMA_STATUS_INVALID_ARG;
        }
        {
            std::lock_guard<std::mutex> guard(gSinkLock);
            closeOwnedFileLocked();
            gLogFile = file;
        }
        return mama_setLogLevel(level);
    }

    mama_status mama_logToFile(const char* file, MamaLogLevel level)
    {
        if (!file)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        if (!isValidLevel(level))
        {
            return MAMA_STATUS_INVALID_ARG;
        }
        FILE* opened = fopen(file, "a");
        if (!opened)
        {
            return MAMA_STATUS_IO_ERROR;
        }
        {
            std::lock_guard<std::mutex> guard(gSinkLock);
            closeOwnedFileLocked();
            gLogFile = opened;
            gOwnsLogFile = true;
        }
        return mama_setLogLevel(level);
    }

    mama_status mama_disableLogging(void)
    {
        __atomic_store_n(&gMamaLogLevel, MAMA_LOG_LEVEL_OFF, __ATOMIC_RELAXED);
        std::lock_guard<std::mutex> guard(gSinkLock);
        closeOwnedFileLocked();
        return MAMA_STATUS_OK;
    }

    void mamaLog_closeFile(void)
    {
        std::lock_guard<std::mutex> guard(gSinkLock);
        closeOwnedFileLocked();
    }

} // extern "C"
