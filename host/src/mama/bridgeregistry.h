/* The loaded middleware bridges and the host's global lock. */
#ifndef MAMA_BRIDGE_REGISTRY_H
#define MAMA_BRIDGE_REGISTRY_H

#include "bridge.h"

#if defined(__cplusplus)
extern "C"
{
#endif

    /* The host's global (recursive) lock: held while bridges are loaded or
     * closed, while open/close run, and around a bridge's stop. */
    void mamaGlobal_lock(void);
    void mamaGlobal_unlock(void);

    /* Loaded bridges in load order; call with the global lock held. */
    int mamaBridgeRegistry_count(void);
    mamaBridgeImpl* mamaBridgeRegistry_get(int index);

    /* Closes every bridge (bridge close, lock, struct, library)
     * in load order. Call with the global lock held. */
    void mamaBridgeRegistry_closeAll(void);

#if defined(__cplusplus)
}
#endif

#endif
