/* The bridge-wide object and the bridge-level entry points. */
#ifndef CORVEX_BRIDGE_CORVEXBRIDGE_H
#define CORVEX_BRIDGE_CORVEXBRIDGE_H

#include <stddef.h>
#include <stdint.h>

#include <atomic>

#include <mama/mama.h>
#include <wombat/timers.h>
#include <wombat/wlock.h>

#include "corvexClient.h"
#include "corvexExports.h"

#define CORVEX_BRIDGE_NAME "corvex"
#define CORVEX_PROPERTY_PREFIX "mama.corvex.transport."
#define CORVEX_DEFAULT_QUEUE_MAX_SIZE 50000
#define CORVEX_MAX_QUEUE_MAX_SIZE 2147483647ULL
#define CORVEX_VERSION_BUFFER_SIZE 256

struct CorvexTransportList;

/* One per loaded bridge; the host bridge's closure. */
struct CorvexBridge
{
    CorvexTransportList* mTransportList;
    /* Guards mTransportList and its names; held through a whole transport
     * creation and through destroy's session hand-over. */
    wLock mTransportListLock;
    /* Serialises the one-time vendor initialisation (mKlixInitialized,
     * mContext, mQueueMaxSize, mSubscribeAsync). */
    wLock mKlixInitLock;
    uint8_t mKlixInitialized;
    corvexClient_context_pt mContext;
    uint64_t mQueueMaxSize;
    /* Zero until the one-time vendor initialisation: flow control and
     * asynchronous subscribing only start once the vendor library runs. */
    /* Written once under mKlixInitLock; read by dispatch and enqueue paths
     * on any thread without it. */
    std::atomic<uint8_t> mSubscribeAsync;
};

/* The CorvexBridge behind a host bridge, logging why when there is none:
 * the closure lookup's failing status, or 2 for a missing closure. */
mama_status corvexBridge_getBridge(mamaBridge impl, CorvexBridge** result);

/* The process-wide timer heap that open creates (NULL before open / after close). */
timerHeap corvexBridge_getTimerHeap(void);

/* Milliseconds close waits for the default queue to drain; always positive. */
int corvexBridge_getDefaultQueueTimeout(void);

/* Composes the bridge version string into `buffer`; with `registerWithVendor`
 * the string also replaces the vendor library's own version record. */
mama_status corvexBridge_registerVersion(char* buffer, size_t size, int registerWithVendor);

/* One-time vendor initialisation, run by the first transport creation. */
mama_status corvexBridge_initKlix(CorvexBridge* bridge);

/* Platform hooks; nothing to do on this platform. */
int corvexBridge_osInit(void);
int corvexBridge_osCleanup(void);

#endif /* CORVEX_BRIDGE_CORVEXBRIDGE_H */
