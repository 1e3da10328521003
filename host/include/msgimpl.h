#ifndef MAMA_MSG_IMPL_H__
#define MAMA_MSG_IMPL_H__

#ifndef OPENMAMA_INTEGRATION
#define OPENMAMA_INTEGRATION
#endif

#include "mama/msg.h"
#include "mama/integration/msg.h"

#if defined(__cplusplus)
extern "C" {
#endif

/* What a mamaMsgReply points to: the middleware that made the reply handle
 * and that handle itself. */
typedef struct mamaMsgReplyImpl_
{
    mamaBridge mBridgeImpl;
    void*      replyHandle;
} mamaMsgReplyImpl;

/* Payload libraries call this while iterating, to point the host's field at
 * the current field of their message. */
mama_status mamaMsgFieldImpl_setPayload (mamaMsgField field, msgFieldPayload payload);

#if defined(__cplusplus)
}
#endif

#endif /* MAMA_MSG_IMPL_H__ */
