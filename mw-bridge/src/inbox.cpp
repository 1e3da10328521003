#define CORVEX_LOG_MODULE "inbox"

#include <mama/mama.h>
#include <mama/inbox.h>

#include "corvexBridge.h"

/* Inboxes are not offered yet: the entry points check their arguments and
 * refuse. */

CORVEX_EXPORT mama_status corvexBridgeMamaInbox_createByIndex(
    inboxBridge* bridge, mamaTransport tport, int, mamaQueue queue, mamaInboxMsgCallback msgCB,
    mamaInboxErrorCallback, mamaInboxDestroyCallback, void*, mamaInbox parent)
{
    if (bridge == NULL || tport == NULL || queue == NULL || msgCB == NULL || parent == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    return MAMA_STATUS_NOT_IMPLEMENTED;
}

CORVEX_EXPORT mama_status corvexBridgeMamaInbox_create(inboxBridge* bridge, mamaTransport tport,
                                                       mamaQueue queue, mamaInboxMsgCallback msgCB,
                                                       mamaInboxErrorCallback errorCB,
                                                       mamaInboxDestroyCallback onInboxDestroyed,
                                                       void* closure, mamaInbox parent)
{
    return corvexBridgeMamaInbox_createByIndex(bridge, tport, 0, queue, msgCB, errorCB,
                                               onInboxDestroyed, closure, parent);
}

CORVEX_EXPORT mama_status corvexBridgeMamaInbox_destroy(inboxBridge inbox)
{
    if (inbox == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    return MAMA_STATUS_NOT_IMPLEMENTED;
}
