/* Per-thread storage: hands the current subscription from one call to the
 * next on the same thread. */
#ifndef CORVEX_BRIDGE_BRIDGETLS_H
#define CORVEX_BRIDGE_BRIDGETLS_H

struct CorvexSubscription;

struct CorvexThreadStorage
{
    CorvexSubscription* mCurrentSubscription;
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
