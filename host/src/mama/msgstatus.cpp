#include "mama/msg.h"
#include "mama/msgstatus.h"
#include "mama/reservedfields.h"
#include "msgprivate.h"

mamaMsgStatus mamaMsgStatus_statusForMsg (const mamaMsg msg)
{
    if (msg == nullptr)
    {
        return MAMA_MSG_STATUS_UNKNOWN;
    }
    if (msg->mStatus != MAMA_MSG_STATUS_UNKNOWN)
    {
        return msg->mStatus;
    }
    mama_i32_t value = 0;
    if (mamaMsg_getI32 (msg, MamaFieldMsgStatus.mName, MamaFieldMsgStatus.mFid, &value) ==
        MAMA_STATUS_OK)
    {
        return static_cast<mamaMsgStatus> (value);
    }
    return MAMA_MSG_STATUS_OK;
}

const char* mamaMsgStatus_stringForStatus (mamaMsgStatus status)
{
    switch (status)
    {
    case MAMA_MSG_STATUS_OK: return "OK";
    case MAMA_MSG_STATUS_LINE_DOWN: return "LINE_DOWN";
    case MAMA_MSG_STATUS_NO_SUBSCRIBERS: return "NO_SUBSCRIBERS";
    case MAMA_MSG_STATUS_BAD_SYMBOL: return "BAD_SYMBOL";
    case MAMA_MSG_STATUS_EXPIRED: return "EXPIRED";
    case MAMA_MSG_STATUS_TIMEOUT: return "TIMEOUT";
    case MAMA_MSG_STATUS_MISC: return "MISC";
    case MAMA_MSG_STATUS_STALE: return "STALE";
    case MAMA_MSG_STATUS_PLATFORM_STATUS: return "PLATFORM_SPECIFIC_STATUS";
    case MAMA_MSG_STATUS_NOT_ENTITLED: return "NOT_ENTITLED";
    case MAMA_MSG_STATUS_NOT_FOUND: return "NOT_FOUND";
    case MAMA_MSG_STATUS_POSSIBLY_STALE: return "POSSIBLY_STALE";
    case MAMA_MSG_STATUS_NOT_PERMISSIONED: return "NOT_PERMISSIONED";
    case MAMA_MSG_STATUS_TOPIC_CHANGE: return "TOPIC_CHANGE";
    case MAMA_MSG_STATUS_BANDWIDTH_EXCEEDED: return "BANDWIDTH_EXCEEDED";
    case MAMA_MSG_STATUS_DUPLICATE: return "DUPLICATE";
    case MAMA_MSG_STATUS_UNKNOWN: return "UNKNOWN";
    }
    return "error";
}

const char* mamaMsgStatus_stringForMsg (const mamaMsg msg)
{
    return mamaMsgStatus_stringForStatus (mamaMsgStatus_statusForMsg (msg));
}
