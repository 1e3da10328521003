#ifndef MAMA_MSG_STATUS_H__
#define MAMA_MSG_STATUS_H__

#include "mama/types.h"

#if defined(__cplusplus)
extern "C" {
#endif

/* Status carried by a message in its MdMsgStatus field. */
typedef enum mamaMsgStatus_
{
    MAMA_MSG_STATUS_OK                 = 0,
    MAMA_MSG_STATUS_LINE_DOWN          = 1,
    MAMA_MSG_STATUS_NO_SUBSCRIBERS     = 2,
    MAMA_MSG_STATUS_BAD_SYMBOL         = 3,
    MAMA_MSG_STATUS_EXPIRED            = 4,
    MAMA_MSG_STATUS_TIMEOUT            = 5,
    MAMA_MSG_STATUS_MISC               = 6,
    MAMA_MSG_STATUS_STALE              = 7,
    MAMA_MSG_STATUS_PLATFORM_STATUS    = 8,
    MAMA_MSG_STATUS_NOT_ENTITLED       = 9,
    MAMA_MSG_STATUS_NOT_FOUND          = 10,
    MAMA_MSG_STATUS_POSSIBLY_STALE     = 11,
    MAMA_MSG_STATUS_NOT_PERMISSIONED   = 12,
    MAMA_MSG_STATUS_TOPIC_CHANGE       = 13,
    MAMA_MSG_STATUS_BANDWIDTH_EXCEEDED = 14,
    MAMA_MSG_STATUS_DUPLICATE          = 15,
    MAMA_MSG_STATUS_UNKNOWN            = 99
} mamaMsgStatus;

/* Status of a message: the status recorded by the host for it, else its
 * MdMsgStatus field, else MAMA_MSG_STATUS_OK; MAMA_MSG_STATUS_UNKNOWN for NULL. */
mamaMsgStatus mamaMsgStatus_statusForMsg (const mamaMsg msg);

/* Static text for a status; "error" for values outside the enumeration. */
const char* mamaMsgStatus_stringForStatus (mamaMsgStatus status);

/* Text for the status of a message. */
const char* mamaMsgStatus_stringForMsg (const mamaMsg msg);

#if defined(__cplusplus)
}
#endif

#endif /* MAMA_MSG_STATUS_H__ */
