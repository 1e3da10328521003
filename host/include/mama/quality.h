#ifndef MamaQualityH__
#define MamaQualityH__

#if defined(__cplusplus)
extern "C" {
#endif

typedef enum mamaQuality_
{
    MAMA_QUALITY_OK            = 0,
    MAMA_QUALITY_MAYBE_STALE   = 1,
    MAMA_QUALITY_STALE         = 2,
    MAMA_QUALITY_PARTIAL_STALE = 3,
    MAMA_QUALITY_FORCED_STALE  = 4,
    MAMA_QUALITY_DUPLICATE     = 5,
    MAMA_QUALITY_UNKNOWN       = 99
} mamaQuality;

const char* mamaQuality_convertToString (mamaQuality quality);

#if defined(__cplusplus)
}
#endif

#endif
