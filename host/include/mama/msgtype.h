#ifndef MAMA_MSG_TYPE_H__
#define MAMA_MSG_TYPE_H__

#include "mama/types.h"

#if defined(__cplusplus)
extern "C" {
#endif

/* Message type carried in the MdMsgType field. */
typedef enum mamaMsgType_
{
    MAMA_MSG_TYPE_UPDATE               = 0,
    MAMA_MSG_TYPE_INITIAL              = 1,
    MAMA_MSG_TYPE_CANCEL               = 2,
    MAMA_MSG_TYPE_ERROR                = 3,
    MAMA_MSG_TYPE_CORRECTION           = 4,
    MAMA_MSG_TYPE_CLOSING              = 5,
    MAMA_MSG_TYPE_RECAP                = 6,
    MAMA_MSG_TYPE_DELETE               = 7,
    MAMA_MSG_TYPE_EXPIRE               = 8,
    MAMA_MSG_TYPE_SNAPSHOT             = 9,
    MAMA_MSG_TYPE_PREOPENING           = 12,
    MAMA_MSG_TYPE_QUOTE                = 13,
    MAMA_MSG_TYPE_TRADE                = 14,
    MAMA_MSG_TYPE_ORDER                = 15,
    MAMA_MSG_TYPE_BOOK_INITIAL         = 16,
    MAMA_MSG_TYPE_BOOK_UPDATE          = 17,
    MAMA_MSG_TYPE_BOOK_CLEAR           = 18,
    MAMA_MSG_TYPE_BOOK_RECAP           = 19,
    MAMA_MSG_TYPE_BOOK_SNAPSHOT        = 20,
    MAMA_MSG_TYPE_NOT_PERMISSIONED     = 21,
    MAMA_MSG_TYPE_NOT_FOUND            = 22,
    MAMA_MSG_TYPE_END_OF_INITIALS      = 23,
    MAMA_MSG_TYPE_WOMBAT_REQUEST       = 24,
    MAMA_MSG_TYPE_WOMBAT_CALC          = 25,
    MAMA_MSG_TYPE_SEC_STATUS           = 26,
    MAMA_MSG_TYPE_DDICT_SNAPSHOT       = 50,
    MAMA_MSG_TYPE_MISC                 = 100,
    MAMA_MSG_TYPE_FEATURE_SET          = 150,
    MAMA_MSG_TYPE_SYNC_REQUEST         = 170,
    MAMA_MSG_TYPE_REFRESH              = 171,
    MAMA_MSG_TYPE_WORLD_VIEW           = 172,
    MAMA_MSG_TYPE_NEWS_QUERY           = 173,
    MAMA_MSG_TYPE_NULL                 = 175,
    MAMA_MSG_TYPE_ENTITLEMENTS_REFRESH = 176,
    MAMA_MSG_TYPE_UNKNOWN              = 199
} mamaMsgType;

/* Type from the MdMsgType field; MAMA_MSG_TYPE_UNKNOWN when absent or NULL. */
mamaMsgType mamaMsgType_typeForMsg (const mamaMsg msg);

/* Name of a type, e.g. "UPDATE"; "UNKNOWN" for other values. */
const char* mamaMsgType_stringForType (mamaMsgType type);

/* Name of the type of a message. */
const char* mamaMsgType_stringForMsg (const mamaMsg msg);

#if defined(__cplusplus)
}
#endif

#endif /* MAMA_MSG_TYPE_H__ */
