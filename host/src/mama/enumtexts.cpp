// Display texts of the subscription message type, quality and service-level
// enumerations (subscription types are named beside the subscriptions).
#include "mama/quality.h"
#include "mama/servicelevel.h"
#include "mama/subscmsgtype.h"

extern "C"
{

    const char* MamaSubscMsgTypeStr(mamaSubscMsgType type)
    {
        switch (type)
        {
        case MAMA_SUBSC_SUBSCRIBE:
            return "SUBSCRIBE";
        case MAMA_SUBSC_SNAPSHOT:
            return "SNAPSHOT";
        case MAMA_SUBSC_UNSUBSCRIBE:
            return "UNSUBSCRIBE";
        case MAMA_SUBSC_RESUBSCRIBE:
            return "RESUBSCRIBE";
        case MAMA_SUBSC_REFRESH:
            return "REFRESH";
        case MAMA_SUBSC_DDICT_SNAPSHOT:
            return "DDICT_SNAPSHOT";
        case MAMA_SUBSC_WORLDVIEW_RQST:
            return "WORLDVIEW_RQST";
        case MAMA_SUBSC_DQ_SUBSCRIBER:
            return "DQ_SUBSCRIBER";
        case MAMA_SUBSC_DQ_PUBLISHER:
            return "DQ_PUBLISHER";
        case MAMA_SUBSC_DQ_NETWORK:
            return "DQ_NETWORK";
        case MAMA_SUBSC_DQ_UNKNOWN:
            return "DQ_UNKNOWN";
        case MAMA_SUBSC_FEATURE_SET_RQST:
            return "FEATURE_SET_RQST";
        case MAMA_SUBSC_DQ_GROUP_SUBSCRIBER:
            return "DQ_GROUP_SUBSCRIBER";
        }
        return "unknown";
    }

    const char* mamaQuality_convertToString(mamaQuality quality)
    {
        switch (quality)
        {
        case MAMA_QUALITY_OK:
            return "OK";
        case MAMA_QUALITY_MAYBE_STALE:
            return "MAYBE_STALE";
        case MAMA_QUALITY_STALE:
            return "STALE";
        case MAMA_QUALITY_PARTIAL_STALE:
            return "PARTIAL_STALE";
        case MAMA_QUALITY_FORCED_STALE:
            return "FORCED_STALE";
        case MAMA_QUALITY_DUPLICATE:
            return "DUPLICATE";
        case MAMA_QUALITY_UNKNOWN:
            return "UNKNOWN";
        }
        return "UNKNOWN";
    }

    const char* mamaServiceLevel_toString(mamaServiceLevel level)
    {
        switch (level)
        {
        case MAMA_SERVICE_LEVEL_REAL_TIME:
            return "REAL_TIME";
        case MAMA_SERVICE_LEVEL_SNAPSHOT:
            return "SNAPSHOT";
        case MAMA_SERVICE_LEVEL_REPEATING_SNAPSHOT:
            return "REPEATING_SNAPSHOT";
        case MAMA_SERVICE_LEVEL_CONFLATED:
            return "CONFLATED";
        case MAMA_SERVICE_LEVEL_UNKNOWN:
            return "UNKNOWN";
        }
        return "UNKNOWN";
    }

} // extern "C"
