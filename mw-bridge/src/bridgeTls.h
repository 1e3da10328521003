/* Per-thread storage: hands the current subscription from one call to the
 * next on the same thread. */
#ifndef CORVEX_BRIDGE_BRIDGETLS_H
#define CORVEX_BRIDGE_BRIDGETLS_H

#include <wombat/destroyHandle.h>

struct CorvexThreadStorage
{
    /* The current subscription's destroy handle, with a reference of this
     * thread's own: the subscription may be destroyed on another thread while
     * it is named here, and the handle tells that it is gone. The reference
     * is given up when the thread ends. */
    wDestroyHandle* mCurrentSubscription;
};

enum
{
    CORVEX_TLS_PROCESS_DETACH = 0,
    CORVEX_TLS_PROCESS_ATTACH = 1,
    CORVEX_TLS_THREAD_ATTACH = 2,
    CORVEX_TLS_THREAD_DETACH = 3
};

/* The calling thread's block, zero at creation and freed when the thread
 * ends; NULL on failure. */
CorvexThreadStorage* corvexBridgeTls_get(void);
/* Library load/unload and thread start/end notifications. */
void corvexBridgeTls_onProcessOrThreadEvent(int reason);

#endif /* CORVEX_BRIDGE_BRIDGETLS_H */
