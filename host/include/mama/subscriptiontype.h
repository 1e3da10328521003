#ifndef MamaSubscriptionTypeH__
#define MamaSubscriptionTypeH__

#if defined(__cplusplus)
extern "C" {
#endif

typedef enum mamaSubscriptionType_
{
    MAMA_SUBSC_TYPE_NORMAL             = 0,
    MAMA_SUBSC_TYPE_GROUP              = 1,
    MAMA_SUBSC_TYPE_BOOK               = 2,
    MAMA_SUBSC_TYPE_BASIC              = 3,
    MAMA_SUBSC_TYPE_DICTIONARY         = 4,
    MAMA_SUBSC_TYPE_SYMBOL_LIST        = 5,
    MAMA_SUBSC_TYPE_SYMBOL_LIST_NORMAL = 6,
    MAMA_SUBSC_TYPE_SYMBOL_LIST_GROUP  = 7,
    MAMA_SUBSC_TYPE_SYMBOL_LIST_BOOK   = 8
} mamaSubscriptionType;

const char* MamaSubscTypeStr (mamaSubscriptionType subtype);

#if defined(__cplusplus)
}
#endif

#endif
