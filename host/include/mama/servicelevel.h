#ifndef MamaServiceLevelH__
#define MamaServiceLevelH__

#if defined(__cplusplus)
extern "C" {
#endif

typedef enum mamaServiceLevel_
{
    MAMA_SERVICE_LEVEL_REAL_TIME          = 0,
    MAMA_SERVICE_LEVEL_SNAPSHOT           = 1,
    MAMA_SERVICE_LEVEL_REPEATING_SNAPSHOT = 2,
    MAMA_SERVICE_LEVEL_CONFLATED          = 5,
    MAMA_SERVICE_LEVEL_UNKNOWN            = 99
} mamaServiceLevel;

const char* mamaServiceLevel_toString (mamaServiceLevel level);

#if defined(__cplusplus)
}
#endif

#endif
