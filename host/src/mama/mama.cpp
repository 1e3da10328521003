// Process lifecycle: mama_open/mama_close (reference counted), and starting
// and stopping the dispatch of each bridge's default queue.
#include <stdio.h>
#include <string.h>

#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "bridgeregistry.h"
#include "mamainternal.h"
#include "mamalog.h"
#include "mamaproperties.h"
#include "payloadregistry.h"

namespace
{
const char* const kAutoloadPrefix = "mama.payload.autoload.";

unsigned int gOpenCount = 0; // guarded by the global lock

class GlobalLock
{
  public:
    GlobalLock()
    {
        mamaGlobal_lock();
    }
    ~GlobalLock()
    {
        mamaGlobal_unlock();
    }
    GlobalLock(const GlobalLock&) = delete;
    GlobalLock& operator=(const GlobalLock&) = delete;
};

void applyLoggingProperties()
{
    const char* fileName = mama_getProperty("mama.logging.file.name");
    MamaLogLevel level = mama_getLogLevel();
    const char* levelText = mama_getProperty("mama.logging.level");
    if (levelText && !mama_tryStringToLogLevel(levelText, &level))
    {
        mama_log(MAMA_LOG_LEVEL_WARN, "mama: unknown log level %s in mama.logging.level",
                 levelText);
    }
    if (fileName && *fileName && mama_logToFile(fileName, level) != MAMA_STATUS_OK)
    {
        mama_log(MAMA_LOG_LEVEL_ERROR, "mama: could not open log file %s", fileName);
    }
    mama_setLogLevel(level);
}

void loadPayload(const char* name)
{
    mamaPayloadBridge payload = nullptr;
    mama_status status = mama_loadPayloadBridge(&payload, name);
    if (status != MAMA_STATUS_OK)
    {
        mama_log(MAMA_LOG_LEVEL_ERROR, "mama: could not load payload %s: %s", name,
                 mamaStatus_stringForStatus(status));
    }
}

void collectAutoload(const char* name, const char* value, void* closure)
{
    if (strncmp(name, kAutoloadPrefix, strlen(kAutoloadPrefix)) == 0 &&
        properties_GetPropertyValueAsBoolean(value))
    {
        static_cast<std::vector<std::string>*>(closure)->emplace_back(name +
                                                                      strlen(kAutoloadPrefix));
    }
}

// The configured payloads first, then whatever each middleware asks for.
mama_status loadPayloads()
{
    const char* defaultPayload = mama_getProperty("mama.payload.default");
    if (defaultPayload && *defaultPayload)
    {
        loadPayload(defaultPayload);
    }
    std::vector<std::string> autoload;
    wproperty_t properties = mamaInternal_getProperties();
    if (properties)
    {
        properties_ForEach(properties, collectAutoload, &autoload);
    }
    for (const std::string& name : autoload)
    {
        loadPayload(name.c_str());
    }
    for (int i = 0; i < mamaBridgeRegistry_count(); ++i)
    {
        mamaBridgeImpl* bridge = mamaBridgeRegistry_get(i);
        char** names = nullptr;
        char* ids = nullptr;
        if (bridge->bridgeGetDefaultPayloadId(&names, &ids) != MAMA_STATUS_OK || !names || !ids)
        {
            continue;
        }
        for (int p = 0; ids[p] != '\0' && names[p]; ++p)
        {
            if (!mamaInternal_findPayload(ids[p]))
            {
                loadPayload(names[p]);
            }
        }
    }
    if (mamaPayloadRegistry_count() == 0)
    {
        mama_log(MAMA_LOG_LEVEL_ERROR, "mama_open(): no payload bridge could be loaded");
        return MAMA_STATUS_NO_BRIDGE_IMPL;
    }
    return MAMA_STATUS_OK;
}

mama_status openFirst(const char* path, const char* filename)
{
    mamaProperties_load(path, filename);
    applyLoggingProperties();
    if (mamaBridgeRegistry_count() == 0)
    {
        mama_log(MAMA_LOG_LEVEL_ERROR, "mama_open(): no middleware bridge has been loaded");
        return MAMA_STATUS_NO_BRIDGE_IMPL;
    }
    mama_status status = loadPayloads();
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }
    for (int i = 0; i < mamaBridgeRegistry_count(); ++i)
    {
        mama_log(MAMA_LOG_LEVEL_NORMAL, "%s", mama_getVersion(mamaBridgeRegistry_get(i)));
    }
    return MAMA_STATUS_OK;
}

void closeLast()
{
    // Payloads go first: a bridge's close must not depend on them.
    mamaPayloadRegistry_unloadAll();
    mamaBridgeRegistry_closeAll();
    mamaProperties_free();
    mamaLog_closeFile();
}

mama_status stopLocked(mamaBridge bridgeImpl)
{
    if (!bridgeImpl->mDefaultEventQueue)
    {
        return MAMA_STATUS_INVALID_QUEUE;
    }
    if (bridgeImpl->mStartCount == 0)
    {
        mama_log(MAMA_LOG_LEVEL_WARN, "mama_stop(): %s bridge is not started", bridgeImpl->mName);
        return MAMA_STATUS_OK;
    }
    if (--bridgeImpl->mStartCount > 0)
    {
        return MAMA_STATUS_OK;
    }
    mama_status status = bridgeImpl->bridgeStop(bridgeImpl->mDefaultEventQueue);
    if (status != MAMA_STATUS_OK)
    {
        ++bridgeImpl->mStartCount;
    }
    return status;
}
} // namespace

extern "C"
{

    mama_status mama_openWithPropertiesCount(const char* path, const char* filename,
                                             unsigned int* count)
    {
        mamaInternal_init();
        GlobalLock guard;
        if (gOpenCount == 0)
        {
            mama_status status = openFirst(path, filename);
            if (status != MAMA_STATUS_OK)
            {
                return status;
            }
        }
        ++gOpenCount;
        if (count)
        {
            *count = gOpenCount;
        }
        return MAMA_STATUS_OK;
    }

    mama_status mama_openWithProperties(const char* path, const char* filename)
    {
        return mama_openWithPropertiesCount(path, filename, nullptr);
    }

    mama_status mama_openCount(unsigned int* count)
    {
        return mama_openWithPropertiesCount(nullptr, nullptr, count);
    }

    mama_status mama_open(void)
    {
        return mama_openWithPropertiesCount(nullptr, nullptr, nullptr);
    }

    mama_status mama_closeCount(unsigned int* count)
    {
        GlobalLock guard;
        // A close without a successful open still releases loaded bridges.
        if (gOpenCount > 1)
        {
            --gOpenCount;
        }
        else
        {
            gOpenCount = 0;
            closeLast();
        }
        if (count)
        {
            *count = gOpenCount;
        }
        return MAMA_STATUS_OK;
    }

    mama_status mama_close(void)
    {
        return mama_closeCount(nullptr);
    }

    const char* mama_getVersion(mamaBridge bridgeImpl)
    {
        if (!bridgeImpl)
        {
            return nullptr;
        }
        const char* bridgeVersion =
            bridgeImpl->bridgeGetVersion ? bridgeImpl->bridgeGetVersion() : nullptr;
        char text[MAMA_BRIDGE_VERSION_TEXT_LEN];
        snprintf(text, sizeof(text), "mama %s (%s) (non entitled)", MAMA_VERSION,
                 bridgeVersion ? bridgeVersion : "");
        GlobalLock guard;
        // Rewritten only when the bridge's version changed, so readers of an
        // earlier result are not disturbed.
        if (strcmp(text, bridgeImpl->mVersionText) != 0)
        {
            memcpy(bridgeImpl->mVersionText, text, sizeof(text));
        }
        return bridgeImpl->mVersionText;
    }

    mama_status mama_start(mamaBridge bridgeImpl)
    {
        if (!bridgeImpl)
        {
            return MAMA_STATUS_NO_BRIDGE_IMPL;
        }
        mamaQueue queue = nullptr;
        {
            GlobalLock guard;
            if (!bridgeImpl->mDefaultEventQueue)
            {
                return MAMA_STATUS_INVALID_QUEUE;
            }
            if (bridgeImpl->mStartCount++ > 0)
            {
                return MAMA_STATUS_OK;
            }
            queue = bridgeImpl->mDefaultEventQueue;
        }
        // Blocks dispatching until mama_stop; no host lock may be held here.
        mama_status status = bridgeImpl->bridgeStart(queue);
        if (status != MAMA_STATUS_OK)
        {
            GlobalLock guard;
            if (bridgeImpl->mStartCount > 0)
            {
                --bridgeImpl->mStartCount;
            }
        }
        return status;
    }

    mama_status mama_startBackgroundEx(mamaBridge bridgeImpl, mamaStopCBEx callback, void* closure)
    {
        if (!bridgeImpl)
        {
            return MAMA_STATUS_NO_BRIDGE_IMPL;
        }
        if (!callback)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        try
        {
            std::thread(
                [bridgeImpl, callback, closure]
                {
                    mama_status status = mama_start(bridgeImpl);
                    callback(status, bridgeImpl, closure);
                })
                .detach();
        }
        catch (const std::system_error&)
        {
            return MAMA_STATUS_SYSTEM_ERROR;
        }
        return MAMA_STATUS_OK;
    }

    mama_status mama_startBackground(mamaBridge bridgeImpl, mamaStartCB callback)
    {
        if (!bridgeImpl)
        {
            return MAMA_STATUS_NO_BRIDGE_IMPL;
        }
        if (!callback)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        try
        {
            std::thread([bridgeImpl, callback] { callback(mama_start(bridgeImpl)); }).detach();
        }
        catch (const std::system_error&)
        {
            return MAMA_STATUS_SYSTEM_ERROR;
        }
        return MAMA_STATUS_OK;
    }

    mama_status mama_stop(mamaBridge bridgeImpl)
    {
        if (!bridgeImpl)
        {
            return MAMA_STATUS_NO_BRIDGE_IMPL;
        }
        GlobalLock guard;
        return stopLocked(bridgeImpl);
    }

    mama_status mama_stopAll(void)
    {
        GlobalLock guard;
        mama_status result = MAMA_STATUS_OK;
        for (int i = 0; i < mamaBridgeRegistry_count(); ++i)
        {
            mamaBridgeImpl* bridge = mamaBridgeRegistry_get(i);
            if (bridge->mStartCount == 0)
            {
                continue;
            }
            bridge->mStartCount = 1;
            mama_status status = stopLocked(bridge);
            if (status != MAMA_STATUS_OK)
            {
                result = status;
            }
        }
        return result;
    }

} // extern "C"
