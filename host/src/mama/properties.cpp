// The user's MAMA properties: mama.properties plus mama_setProperty values.
#include <stdlib.h>

#include <mutex>

#include "mamainternal.h"
#include "mamaproperties.h"

namespace
{
const char* const kDefaultPropertiesFile = "mama.properties";

std::recursive_mutex gPropertiesLock;
wproperty_t gProperties = nullptr;

void loadLocked(const char* path, const char* filename)
{
    bool named = path || filename;
    if (!path)
    {
        path = getenv("WOMBAT_PATH");
    }
    if (!filename)
    {
        filename = kDefaultPropertiesFile;
    }
    wproperty_t fresh = properties_Load(path, filename);
    if (!fresh)
    {
        if (named || !gProperties)
        {
            mama_log(MAMA_LOG_LEVEL_WARN, "mama: could not open properties file %s in %s", filename,
                     path && *path ? path : "/");
        }
        if (!gProperties)
        {
            gProperties = properties_Create();
        }
        return;
    }
    if (gProperties)
    {
        // Values set before this load (by the application or an earlier file) win.
        properties_Merge(fresh, gProperties);
        properties_Free(gProperties);
    }
    gProperties = fresh;
}

void ensureLoadedLocked()
{
    if (!gProperties)
    {
        loadLocked(nullptr, nullptr);
    }
}
} // namespace

extern "C"
{

    void mamaProperties_load(const char* path, const char* filename)
    {
        std::lock_guard<std::recursive_mutex> guard(gPropertiesLock);
        loadLocked(path, filename);
    }

    void mamaProperties_free(void)
    {
        std::lock_guard<std::recursive_mutex> guard(gPropertiesLock);
        if (gProperties)
        {
            properties_Free(gProperties);
            gProperties = nullptr;
        }
    }

    wproperty_t mamaInternal_getProperties(void)
    {
        std::lock_guard<std::recursive_mutex> guard(gPropertiesLock);
        return gProperties;
    }

    void mama_loadDefaultProperties(void)
    {
        std::lock_guard<std::recursive_mutex> guard(gPropertiesLock);
        ensureLoadedLocked();
    }

    mama_status mama_setProperty(const char* name, const char* value)
    {
        if (!name || !value)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        std::lock_guard<std::recursive_mutex> guard(gPropertiesLock);
        ensureLoadedLocked();
        if (!gProperties || !properties_setProperty(gProperties, name, value))
        {
            return MAMA_STATUS_PLATFORM;
        }
        return MAMA_STATUS_OK;
    }

    const char* mama_getProperty(const char* name)
    {
        if (!name)
        {
            return nullptr;
        }
        std::lock_guard<std::recursive_mutex> guard(gPropertiesLock);
        ensureLoadedLocked();
        return properties_Get(gProperties, name);
    }

    mama_status mama_setPropertiesFromFile(const char* path, const char* filename)
    {
        if (!path || !filename)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        mamaProperties_load(path, filename);
        return MAMA_STATUS_OK;
    }

} // extern "C"
