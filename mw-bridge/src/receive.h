/* The receive path: a message from the vendor context thread to the
 * subscription's queue, and from the queue, decoded in place, to the
 * application's callback on the dispatch thread. */
#ifndef CORVEX_BRIDGE_RECEIVE_H
#define CORVEX_BRIDGE_RECEIVE_H

#include <mama/mama.h>

#include "corvexClient.h"

/* The dispatch record's callback on the vendor context thread, and the
 * callback that decodes and delivers one message of a batch (its closure is
 * the CorvexMsgNode) on the dispatch thread. */
int corvexReceive_onSubscriptionMessage(corvexClient_session_t session, corvexClient_msg_t message,
                                        void* closure);
void MAMACALLTYPE corvexReceive_dispatchMsgNode(mamaQueue queue, void* closure);

/* The callback of a topic placed only for the cache's answers to a request
 * (a snapshot into an inbox): live messages on the topic are not for it. */
int corvexReceive_onCacheAnswer(corvexClient_session_t session, corvexClient_msg_t message,
                                void* closure);

/* The session's own receive callback, for messages no subscription's
 * dispatch took: logged (point-to-point ones at the finest level only) and
 * released. */
int corvexReceive_onSessionMessage(corvexClient_session_t session, corvexClient_msg_t message,
                                   void* closure);

#endif /* CORVEX_BRIDGE_RECEIVE_H */
