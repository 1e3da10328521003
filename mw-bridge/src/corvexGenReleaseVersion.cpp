#define CORVEX_LOG_MODULE "corvexGenReleaseVersion"

#include "corvexGenReleaseVersion.h"

#include "logging.h"

namespace
{
/* Build inputs of the reference build. */
const int VERSION_MAJOR = 7;
const int VERSION_MINOR = 5;
const int VERSION_MAINTENANCE = 2;
const int VERSION_BUILD = 1;
const char* const BUILD_DATE = "Apr 29 2021";
const char* const BUILD_TIME = "14:12:10";
const char* const BUILD_VARIANT = "CORVEXDEV_VARIANT";

const size_t FIELD_SIZE = 256;

char gVersion[FIELD_SIZE];
char gDateTime[FIELD_SIZE];
char gVariant[FIELD_SIZE];
corvexClient_versionInfo_t gRecord = {gVersion, gDateTime, gVariant};
bool buildRecord(void)
{
    corvexLog_formatBuffer(gVersion, FIELD_SIZE, "%d.%d%s.%d%s.%d", VERSION_MAJOR, VERSION_MINOR,
                           "", VERSION_MAINTENANCE, "", VERSION_BUILD);
    corvexLog_formatBuffer(gDateTime, FIELD_SIZE, "%s %s", BUILD_DATE, BUILD_TIME);
    corvexLog_formatBuffer(gVariant, FIELD_SIZE, "%s", BUILD_VARIANT);
    CORVEX_LOG(CORVEX_LOG_FINE,
               "Corvex OpenMAMA Middleware Bridge version '%s', variant '%s', date/time '%s'",
               gVersion, gVariant, gDateTime);
    return true;
}
} // namespace

mama_status corvexOpenmama_version_get(const corvexClient_versionInfo_t** record)
{
    if (record == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_WARN, "Null version info pointer in corvexClient_version_get");
        return MAMA_STATUS_NULL_ARG;
    }
    CORVEX_LOG(CORVEX_LOG_FINE, "corvexClient_version_get called");
    /* Once per process, and safe when several threads ask at once. */
    static const bool built = buildRecord();
    (void)built;
    *record = &gRecord;
    return MAMA_STATUS_OK;
}
