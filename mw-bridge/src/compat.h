/* Host identity in lower case, for session credentials and publisher info. */
#ifndef CORVEX_BRIDGE_COMPAT_H
#define CORVEX_BRIDGE_COMPAT_H

#include <stddef.h>

/* 0 on success, -1 on failure; the buffer is always terminated when size > 0. */
int corvexCompat_getComputerName(char* buffer, size_t size);
int corvexCompat_getUserName(char* buffer, size_t size);

#endif /* CORVEX_BRIDGE_COMPAT_H */
