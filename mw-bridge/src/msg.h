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
    /* While the receive path hands this message to the application: where a
     * detach is recorded, so that the receive path learns of it without
     * reading this object again (the application may destroy a detached
     * message before its callback returns). Cleared by that detach. */
    struct CorvexMsgDelivery* mDelivery;
    /* For a status message the bridge made itself: the temporary message
     * whose bytes the payload was given. Once detached, this object owns it
     * and destroys it with the middleware part. */
    mamaMsg mBufferOwner;
};

struct CorvexMsgDelivery
{
    uint8_t mDetached;
};

#endif /* CORVEX_BRIDGE_MSG_H */
