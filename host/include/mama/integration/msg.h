#ifndef MAMA_INTEGRATION_MSG_H__
#define MAMA_INTEGRATION_MSG_H__

#if defined(OPENMAMA_INTEGRATION)

#include <stdint.h>
#include "mama/types.h"
#include "mama/status.h"
#include "mama/msg.h"
#include "mama/msgstatus.h"
#include "mama/integration/types.h"

#if defined(__cplusplus)
extern "C" {
#endif

/* Loads received bytes into a message with the payload bridge whose id is
 * `id` (data[0] when id is '\0'). 26 if no payload with that id is loaded. */
mama_status mamaMsgImpl_setMsgBuffer (mamaMsg msg, const void* data, uint32_t len, char id);

/* New message around an existing payload; noDeletePayload = 1 makes the
 * message the payload's owner (it destroys the payload). */
mama_status mamaMsgImpl_createForPayload (mamaMsg* msg, msgPayload payload,
                                          mamaPayloadBridge payloadBridge, short noDeletePayload);

mama_status mamaMsgImpl_setPayload (mamaMsg msg, msgPayload payload, short ownsPayload);
mama_status mamaMsgImpl_getPayload (const mamaMsg msg, msgPayload* payload);
mama_status mamaMsgImpl_setPayloadBridge (mamaMsg msg, mamaPayloadBridge payloadBridge);
mama_status mamaMsgImpl_getPayloadId (mamaMsg msg, char* id);
mama_status mamaMsgImpl_getPayloadBuffer (const mamaMsg msg, const void** buffer, mama_size_t* bufferLength);

mama_status mamaMsgImpl_setMessageOwner (mamaMsg msg, short owner);
mama_status mamaMsgImpl_getMessageOwner (mamaMsg msg, short* owner);

/* Middleware part: setBridgeImpl creates it through the bridge's Msg_create. */
mama_status mamaMsgImpl_setBridgeImpl (mamaMsg msg, mamaBridge bridgeImpl);
mama_status mamaMsgImpl_getBridgeImpl (mamaMsg msg, mamaBridge* bridgeImpl);
mama_status mamaMsgImpl_getBridgeMsg (mamaMsg msg, msgBridge* bridgeMsg);
mama_status mamaMsgImpl_useBridgePayload (mamaMsg msg, mamaBridge bridgeImpl);

mama_status mamaMsgImpl_setStatus (mamaMsg msg, mamaMsgStatus status);
mama_status mamaMsgImpl_getStatus (mamaMsg msg, mamaMsgStatus* status);

/* Subject bookkeeping for requests; with modifyMessage the bridge's
 * Msg_setSendSubject is told the symbol too. */
mama_status mamaMsgImpl_setSubscInfo (mamaMsg msg, const char* root, const char* source,
                                      const char* symbol, int modifyMessage);
mama_status mamaMsgImpl_getSubject (const mamaMsg msg, const char** result);

/* The queue whose reusable message this is (detach needs it). */
mama_status mamaMsgImpl_setQueue (mamaMsg msg, mamaQueue queue);
mama_status mamaMsgImpl_getQueue (mamaMsg msg, mamaQueue* queue);

#if defined(__cplusplus)
}
#endif

#endif /* OPENMAMA_INTEGRATION */

#endif /* MAMA_INTEGRATION_MSG_H__ */
