/* mamaInbox: a private reply destination. The bridge reports the inbox gone
 * exactly once, through the host's handler, which is also where the host
 * inbox is freed. */
#include <new>

#include "bridge.h"
#include "inboximpl.h"
#include "mama/mama.h"
#include "queueimpl.h"
#include "transportimpl.h"

struct mamaInboxImpl_
{
    mamaBridgeImpl* mBridgeImpl = nullptr;
    inboxBridge mBridgeInbox = nullptr;
    mamaQueue mQueue = nullptr;
    mamaQueueLockHandle mQueueHold = nullptr;
    mamaInboxDestroyCallback mOnDestroy = nullptr;
};

namespace
{

void MAMACALLTYPE onBridgeInboxDestroyed(mamaInbox inbox, void* closure)
{
    if (inbox == nullptr)
        return;
    if (inbox->mOnDestroy != nullptr)
        inbox->mOnDestroy(inbox, closure);
    mamaQueue_decrementObjectCount(&inbox->mQueueHold, inbox->mQueue);
    delete inbox;
}

/* tportIndex < 0 selects the bridge's plain create. The application's message
 * and error callbacks go to the bridge unchanged. */
mama_status createInbox(mamaInbox* result, mamaTransport transport, int tportIndex, mamaQueue queue,
                        mamaInboxMsgCallback msgCB, mamaInboxErrorCallback errorCB,
                        mamaInboxDestroyCallback onInboxDestroyed, void* closure)
{
    if (result == nullptr || transport == nullptr || msgCB == nullptr)
        return MAMA_STATUS_NULL_ARG;
    *result = nullptr;
    if (queue == nullptr)
        return MAMA_STATUS_INVALID_QUEUE;
    mamaBridgeImpl* bridge = mamaTransportImpl_getBridgeImpl(transport);
    if (bridge == nullptr)
        return MAMA_STATUS_NO_BRIDGE_IMPL;

    mamaInbox self = new (std::nothrow) mamaInboxImpl_();
    if (self == nullptr)
        return MAMA_STATUS_NOMEM;
    self->mBridgeImpl = bridge;
    self->mQueue = queue;
    self->mOnDestroy = onInboxDestroyed;
    mama_status status =
        tportIndex < 0
            ? bridge->bridgeMamaInboxCreate(&self->mBridgeInbox, transport, queue, msgCB, errorCB,
                                            onBridgeInboxDestroyed, closure, self)
            : bridge->bridgeMamaInboxCreateByIndex(&self->mBridgeInbox, transport, tportIndex,
                                                   queue, msgCB, errorCB, onBridgeInboxDestroyed,
                                                   closure, self);
    if (status != MAMA_STATUS_OK)
    {
        mama_log(MAMA_LOG_LEVEL_ERROR, "mamaInbox_create(): bridge could not create inbox: %s",
                 mamaStatus_stringForStatus(status));
        delete self;
        return status;
    }
    self->mQueueHold = mamaQueue_incrementObjectCount(queue, self);
    *result = self;
    return MAMA_STATUS_OK;
}

} // namespace

extern "C"
{

    mama_status mamaInbox_create(mamaInbox* inbox, mamaTransport transport, mamaQueue queue,
                                 mamaInboxMsgCallback msgCB, mamaInboxErrorCallback errorCB,
                                 void* closure)
    {
        return createInbox(inbox, transport, -1, queue, msgCB, errorCB, nullptr, closure);
    }

    mama_status mamaInbox_create2(mamaInbox* inbox, mamaTransport transport, mamaQueue queue,
                                  mamaInboxMsgCallback msgCB, mamaInboxErrorCallback errorCB,
                                  mamaInboxDestroyCallback onInboxDestroyed, void* closure)
    {
        return createInbox(inbox, transport, -1, queue, msgCB, errorCB, onInboxDestroyed, closure);
    }

    mama_status mamaInbox_createByIndex(mamaInbox* inbox, mamaTransport transport, int tportIndex,
                                        mamaQueue queue, mamaInboxMsgCallback msgCB,
                                        mamaInboxErrorCallback errorCB, void* closure)
    {
        if (tportIndex < 0)
            return MAMA_STATUS_INVALID_ARG;
        return createInbox(inbox, transport, tportIndex, queue, msgCB, errorCB, nullptr, closure);
    }

    /* The host inbox lives on until the bridge reports it gone; it must not be
     * touched after the bridge's destroy, which may report from inside. */
    mama_status mamaInbox_destroy(mamaInbox inbox)
    {
        if (inbox == nullptr)
            return MAMA_STATUS_NULL_ARG;
        mama_status status = inbox->mBridgeImpl->bridgeMamaInboxDestroy(inbox->mBridgeInbox);
        if (status != MAMA_STATUS_OK)
            mama_log(MAMA_LOG_LEVEL_ERROR, "mamaInbox_destroy(): bridge refused: %s",
                     mamaStatus_stringForStatus(status));
        return MAMA_STATUS_OK;
    }

    inboxBridge mamaInboxImpl_getInboxBridge(mamaInbox inbox)
    {
        return inbox == nullptr ? nullptr : inbox->mBridgeInbox;
    }

} // extern "C"
