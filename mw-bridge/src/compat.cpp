#define CORVEX_LOG_MODULE "compat"

#include "compat.h"

#include <ctype.h>
#include <pwd.h>
#include <string.h>
#include <unistd.h>

#include <vector>

#include <mama/mama.h>
#include <wombat/port.h>

#include "logging.h"

namespace
{
/* Terminates at the last character and lower-cases in place. */
void finishName(char* buffer, size_t size)
{
    buffer[size - 1] = '\0';
    for (char* c = buffer; *c != '\0'; c++)
    {
        *c = (char)tolower((unsigned char)*c);
    }
}

bool queryUserName(char* buffer, size_t size)
{
    long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> scratch(suggested > 0 ? (size_t)suggested : 16384);
    struct passwd entry;
    struct passwd* found = NULL;
    if (getpwuid_r(geteuid(), &entry, scratch.data(), scratch.size(), &found) != 0 ||
        found == NULL || found->pw_name == NULL)
    {
        return false;
    }
    strncpy(buffer, found->pw_name, size);
    return true;
}
} // namespace

int corvexCompat_getComputerName(char* buffer, size_t size)
{
    if (buffer == NULL || size == 0)
    {
        return -1;
    }
    bool ok = gethostname(buffer, size) == 0;
    if (!ok)
    {
        buffer[0] = '\0';
        CORVEX_LOG(CORVEX_LOG_WARN, "Could not get computer name.");
    }
    finishName(buffer, size);
    return ok ? 0 : -1;
}

int corvexCompat_getUserName(char* buffer, size_t size)
{
    if (buffer == NULL || size == 0)
    {
        return -1;
    }
    bool ok = queryUserName(buffer, size);
    if (!ok)
    {
        buffer[0] = '\0';
        CORVEX_LOG(CORVEX_LOG_WARN, "Could not get user name.");
    }
    finishName(buffer, size);
    return ok ? 0 : -1;
}

int corvexCompat_socketStartup(void)
{
#if defined(_WIN32)
    return wsocketstartup();
#else
    return 0;
#endif
}

void corvexCompat_socketCleanup(void)
{
#if defined(_WIN32)
    wsocketcleanup();
#endif
}
