/* What keeps a destroyed transport alive (its subscriptions and queued
 * events) and the gate around deliveries of its events. */
#ifndef CORVEX_BRIDGE_TRANSPORT_LIFETIME_H
#define CORVEX_BRIDGE_TRANSPORT_LIFETIME_H

#include <mama/mama.h>

#include "corvexClient.h"

struct CorvexSubscription;
struct CorvexTransportBridge;

/* The subscription registry and the event gate of a new transport: 0,
 * MAMA_STATUS_PLATFORM or MAMA_STATUS_NOMEM (logged). Freed by free. */
mama_status corvexTransportLifetime_init(CorvexTransportBridge* transport);
void corvexTransportLifetime_free(CorvexTransportBridge* transport);

/* Closes the gate: no delivery begins any more; waits until every delivery
 * begun on another thread has ended. */
void corvexTransportLifetime_closeEventGate(CorvexTransportBridge* transport);

/* The end of the application's destroy: releases the transport now when
 * nothing refers to it any more, else the last reference does. */
mama_status corvexTransportLifetime_finishDestroy(CorvexTransportBridge* transport);

/* Final release of a destroyed transport: unlinks it from the bridge's list. */
mama_status corvexTransportLifetime_release(CorvexTransportBridge* transport);

/* Subscription registry: refuses additions once the transport is destroyed;
 * the removal of the last subscription of a destroyed transport releases it. */
mama_status corvexTransportLifetime_addSubscription(CorvexTransportBridge* transport,
                                                    CorvexSubscription* subscription);
mama_status corvexTransportLifetime_removeSubscription(CorvexTransportBridge* transport,
                                                       CorvexSubscription* subscription);

/* The transport's session, NULL once its destroy has begun: read where the
 * destroy takes it out, for threads that may run while it does. */
corvexClient_session_t corvexTransportLifetime_session(CorvexTransportBridge* transport);

/* Queued transport events hold the transport: acquire fails once it is
 * destroyed; dropping the last hold of a destroyed transport releases it. */
int corvexTransportLifetime_holdForEvent(CorvexTransportBridge* transport);
void corvexTransportLifetime_dropEventHold(CorvexTransportBridge* transport);

/* Brackets handing an event to the application: begin fails once destroy has
 * started; destroy returns only when every delivery begun on another thread
 * has ended, so the host transport outlives them. */
int corvexTransportLifetime_beginDelivery(CorvexTransportBridge* transport);
void corvexTransportLifetime_endDelivery(CorvexTransportBridge* transport);

#endif /* CORVEX_BRIDGE_TRANSPORT_LIFETIME_H */
