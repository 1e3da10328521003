/* Recursive mutual-exclusion lock. */
#ifndef WOMBAT_WLOCK_H
#define WOMBAT_WLOCK_H

#include "wombat/port.h"

#if defined(__cplusplus)
extern "C" {
#endif

typedef void* wLock;

/* A new recursive lock; the owning thread may lock it again. */
COMMONExpDLL wLock wlock_create (void);
COMMONExpDLL void  wlock_destroy (wLock lock);
COMMONExpDLL void  wlock_lock (wLock lock);
COMMONExpDLL void  wlock_unlock (wLock lock);

#if defined(__cplusplus)
}
#endif

#endif /* WOMBAT_WLOCK_H */
