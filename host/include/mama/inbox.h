/* Inboxes: private reply destinations for requests sent by publishers. */
#ifndef MamaInboxH__
#define MamaInboxH__

#include "mama/types.h"

#if defined(__cplusplus)
extern "C" {
#endif

typedef void (MAMACALLTYPE *mamaInboxMsgCallback) (mamaMsg msg, void* closure);
typedef void (MAMACALLTYPE *mamaInboxErrorCallback) (mama_status status, void* closure);
typedef void (MAMACALLTYPE *mamaInboxDestroyCallback) (mamaInbox inbox, void* closure);

mama_status mamaInbox_create (mamaInbox* inbox, mamaTransport transport, mamaQueue queue,
                              mamaInboxMsgCallback msgCB, mamaInboxErrorCallback errorCB,
                              void* closure);
mama_status mamaInbox_create2 (mamaInbox* inbox, mamaTransport transport, mamaQueue queue,
                               mamaInboxMsgCallback msgCB, mamaInboxErrorCallback errorCB,
                               mamaInboxDestroyCallback onInboxDestroyed, void* closure);
mama_status mamaInbox_createByIndex (mamaInbox* inbox, mamaTransport transport, int tportIndex,
                                     mamaQueue queue, mamaInboxMsgCallback msgCB,
                                     mamaInboxErrorCallback errorCB, void* closure);
mama_status mamaInbox_destroy (mamaInbox inbox);

#if defined(__cplusplus)
}
#endif

#endif
