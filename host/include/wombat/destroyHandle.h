/* A reference-counted token that tells a thread holding a pointer to an
 * object whether that object has been destroyed meanwhile. */
#ifndef WOMBAT_DESTROYHANDLE_H
#define WOMBAT_DESTROYHANDLE_H

#include "wombat/wlock.h"

#if defined(__cplusplus)
extern "C" {
#endif

/* The layout is public for binary compatibility; use the functions. */
typedef struct wDestroyHandle
{
    int   m_destroyed;
    wLock m_lock;
    long  m_numberReferences;
    void* m_owner;
} wDestroyHandle, *pDestroyHandle;

/* No references, owner alive. NULL when out of memory. */
COMMONExpDLL pDestroyHandle destroyHandle_create (void* owner);

COMMONExpDLL void destroyHandle_incrementRefCount (pDestroyHandle handle);

/* Gives up one reference. Returns the owner while it is alive, else NULL;
 * the handle is freed once the owner is destroyed and no reference is left. */
COMMONExpDLL void* destroyHandle_removeReference (pDestroyHandle handle);

/* Marks the owner destroyed; frees the handle at once when no reference is
 * held (the pointer must not be used afterwards). */
COMMONExpDLL void destroyHandle_destroyOwner (pDestroyHandle handle);

#if defined(__cplusplus)
}
#endif

#endif /* WOMBAT_DESTROYHANDLE_H */
