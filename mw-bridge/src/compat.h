/* Host identity in lower case, for session credentials and publisher info,
 * and the socket start-up and clean-up of the host platform. */
#ifndef CORVEX_BRIDGE_COMPAT_H
#define CORVEX_BRIDGE_COMPAT_H

#include <stddef.h>

/* 0 on success, -1 on failure; the buffer is always terminated when size > 0. */
int corvexCompat_getComputerName(char* buffer, size_t size);
int corvexCompat_getUserName(char* buffer, size_t size);

/* Socket start-up and clean-up. The host's headers make them functions on
 * Windows but empty macros on Linux, which cannot be called as expressions,
 * so they are only called where they are functions. Negative on failure. */
int corvexCompat_socketStartup(void);
void corvexCompat_socketCleanup(void);

#endif /* CORVEX_BRIDGE_COMPAT_H */
