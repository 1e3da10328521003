/* The bridge side of a MAMA message: the received vendor message it was
 * decoded from, and its reply address. */
#ifndef CORVEX_BRIDGE_MSG_H
#define CORVEX_BRIDGE_MSG_H

#include <stdint.h>

#include <mama/mama.h>

#include "corvexClient.h"

struct CorvexBridgeMsg
{
    void* mNativeHandle;
    /* Set by the receive path before dispatch; NULL for messages the
     * application builds. */
    corvexClient_msg_t mCorvexMsg;
    mamaMsg mMamaMsg;
    /* Once set, this object owns mCorvexMsg and frees it when MAMA destroys
     * the message's middleware part. */
    uint8_t mIsDetached;
};

/* The receive path brackets the application's callback with these, so that a
 * detach during the callback is known afterwards without reading the message
 * again: the application may destroy a detached message before returning.
 * Deliveries nest (a callback may dispatch another queue). */
struct CorvexMsgDelivery
{
    CorvexBridgeMsg* mMsg;
    uint8_t mDetached;
    CorvexMsgDelivery* mOuter;
};

void corvexBridgeMsg_beginDelivery(CorvexMsgDelivery* delivery, CorvexBridgeMsg* msg);
void corvexBridgeMsg_endDelivery(CorvexMsgDelivery* delivery);

#endif /* CORVEX_BRIDGE_MSG_H */
