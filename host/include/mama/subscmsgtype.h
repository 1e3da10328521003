#ifndef MamaSubscMsgTypeH__
#define MamaSubscMsgTypeH__

#if defined(__cplusplus)
extern "C" {
#endif

#define MAMA_SUBSCROOT     "_MD"
#define MAMA_SUBSCMANROOT  "_MDSM"
#define MAMA_DATADICTROOT  "_MDDD"
#define MAMA_TIMEOUT       10.0
#define MAMA_RETRIES       2

typedef enum mamaSubscMsgType_
{
    MAMA_SUBSC_SUBSCRIBE            = 0,
    MAMA_SUBSC_SNAPSHOT             = 1,
    MAMA_SUBSC_UNSUBSCRIBE          = 2,
    MAMA_SUBSC_RESUBSCRIBE          = 3,
    MAMA_SUBSC_REFRESH              = 4,
    MAMA_SUBSC_DDICT_SNAPSHOT       = 5,
    MAMA_SUBSC_WORLDVIEW_RQST       = 6,
    MAMA_SUBSC_DQ_SUBSCRIBER        = 7,
    MAMA_SUBSC_DQ_PUBLISHER         = 8,
    MAMA_SUBSC_DQ_NETWORK           = 9,
    MAMA_SUBSC_DQ_UNKNOWN           = 10,
    MAMA_SUBSC_FEATURE_SET_RQST     = 11,
    MAMA_SUBSC_DQ_GROUP_SUBSCRIBER  = 12
} mamaSubscMsgType;

const char* MamaSubscMsgTypeStr (mamaSubscMsgType type);

#if defined(__cplusplus)
}
#endif

#endif
