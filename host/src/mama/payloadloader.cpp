/* Loading of payload libraries (libmama<name>impl.so) and the table of loaded
 * payload bridges, indexed by their id character. */
#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "mama/log.h"
#include "mama/mama.h"
#include "mamainternal.h"
#include "payloadbridge.h"
#include "payloadregistry.h"
#include "wombat/property.h"

namespace
{

struct mamaPayloadLibrary
{
    std::string mName;
    char mId;
    void* mHandle;
    mamaPayloadBridgeImpl* mBridge;
};

std::mutex gPayloadLock;
std::vector<mamaPayloadLibrary> gPayloadLibraries;
/* read without the lock on every received message, hence atomics */
std::atomic<mamaPayloadBridgeImpl*> gPayloadById[256];
std::atomic<mamaPayloadBridgeImpl*> gDefaultPayload{nullptr};

void* findSymbol (void* library, const char* name, const char* suffix)
{
    char symbol[256];
    snprintf (symbol, sizeof (symbol), "%s%s", name, suffix);
    return dlsym (library, symbol);
}

const char* userProperty (const char* name)
{
    wproperty_t properties = mamaInternal_getProperties ();
    return properties != nullptr ? properties_Get (properties, name) : nullptr;
}

/* Fills every slot; false when a mandatory function is missing (all of them
 * are reported, not only the first). */
bool resolveSymbols (void* library, const char* name, mamaPayloadBridgeImpl* bridge)
{
    bool complete = true;
    for (size_t i = 0; i < gMamaPayloadSymbolCount; ++i)
    {
        const mamaPayloadSymbol& entry = gMamaPayloadSymbols[i];
        void* symbol = findSymbol (library, name, entry.mSuffix);
        std::memcpy (reinterpret_cast<char*> (bridge) + entry.mOffset, &symbol, sizeof (symbol));
        if (symbol == nullptr && entry.mMandatory)
        {
            mama_log (MAMA_LOG_LEVEL_ERROR, "mama: mandatory payload function %s%s not found", name,
                      entry.mSuffix);
            complete = false;
        }
    }
    return complete;
}

/* The id the host records: mama.payload.<name>.payloadId, else getType(),
 * else what init wrote. */
char chooseId (const char* name, mamaPayloadBridgeImpl* bridge, char initId)
{
    char property[1024];
    snprintf (property, sizeof (property), "mama.payload.%s.payloadId", name);
    const char* configured = userProperty (property);
    if (configured != nullptr && configured[0] != '\0')
    {
        return configured[0];
    }
    if (bridge->msgPayloadGetType != nullptr)
    {
        return static_cast<char> (bridge->msgPayloadGetType ());
    }
    return initId;
}

mamaPayloadLibrary* findByName (const char* name)
{
    for (mamaPayloadLibrary& library : gPayloadLibraries)
    {
        if (library.mName == name)
        {
            return &library;
        }
    }
    return nullptr;
}

const mamaPayloadLibrary* findByBridge (mamaPayloadBridge bridge)
{
    for (const mamaPayloadLibrary& library : gPayloadLibraries)
    {
        if (library.mBridge == reinterpret_cast<mamaPayloadBridgeImpl*> (bridge))
        {
            return &library;
        }
    }
    return nullptr;
}

/* Opens, resolves, initialises and checks one library; on success the caller
 * registers it. */
mama_status openPayload (const char* name, mamaPayloadLibrary* result)
{
    char file[1024];
    snprintf (file, sizeof (file), "mama%simpl", name);
    void* handle = mamaInternal_openSharedLib (file, nullptr);
    if (handle == nullptr)
    {
        return MAMA_STATUS_NO_BRIDGE_IMPL;
    }
    msgPayload_init init = nullptr;
    void* initSymbol = findSymbol (handle, name, "Payload_init");
    std::memcpy (&init, &initSymbol, sizeof (init));
    if (init == nullptr)
    {
        mama_log (MAMA_LOG_LEVEL_ERROR, "mama: payload library %s has no %sPayload_init", file,
                  name);
        dlclose (handle);
        return MAMA_STATUS_INVALID_ARG;
    }
    mamaPayloadBridgeImpl* bridge =
        static_cast<mamaPayloadBridgeImpl*> (calloc (1, sizeof (mamaPayloadBridgeImpl)));
    if (bridge == nullptr)
    {
        dlclose (handle);
        return MAMA_STATUS_NOMEM;
    }
    bridge->msgPayloadInit = init;
    mama_status status = MAMA_STATUS_OK;
    char initId = MAMA_PAYLOAD_ID_NULL;
    if (!resolveSymbols (handle, name, bridge))
    {
        status = MAMA_STATUS_PLATFORM;
    }
    else if ((status = init (reinterpret_cast<mamaPayloadBridge> (bridge), &initId)) !=
             MAMA_STATUS_OK)
    {
        mama_log (MAMA_LOG_LEVEL_ERROR, "mama: payload %s init failed: %s", name,
                  mamaStatus_stringForStatus (status));
    }
    else if ((status = mamaInternal_checkCompileVersion (name)) != MAMA_STATUS_OK)
    {
        mama_log (MAMA_LOG_LEVEL_ERROR, "mama: payload %s was built for another MAMA version",
                  name);
    }
    if (status != MAMA_STATUS_OK)
    {
        free (bridge);
        dlclose (handle);
        return status;
    }
    result->mName = name;
    result->mId = chooseId (name, bridge, initId);
    result->mHandle = handle;
    result->mBridge = bridge;
    return MAMA_STATUS_OK;
}

void closePayload (const mamaPayloadLibrary& library)
{
    free (library.mBridge);
    dlclose (library.mHandle);
}

} // namespace

mama_status mama_loadPayloadBridge (mamaPayloadBridge* bridge, const char* payloadName)
{
    if (bridge == nullptr || payloadName == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (payloadName[0] == '\0')
    {
        return MAMA_STATUS_INVALID_ARG;
    }
    mamaInternal_init ();
    std::lock_guard<std::mutex> guard (gPayloadLock);
    if (const mamaPayloadLibrary* loaded = findByName (payloadName))
    {
        *bridge = reinterpret_cast<mamaPayloadBridge> (loaded->mBridge);
        return MAMA_STATUS_OK;
    }
    if (gPayloadLibraries.size () >= MAMA_PAYLOAD_MAX)
    {
        mama_log (MAMA_LOG_LEVEL_ERROR, "mama: cannot load payload %s: %d payloads already loaded",
                  payloadName, MAMA_PAYLOAD_MAX);
        return MAMA_STATUS_NO_BRIDGE_IMPL;
    }
    mamaPayloadLibrary library;
    mama_status status = openPayload (payloadName, &library);
    if (status != MAMA_STATUS_OK)
    {
        return status;
    }
    const unsigned char slot = static_cast<unsigned char> (library.mId);
    if (slot == 0 || gPayloadById[slot].load () != nullptr)
    {
        mama_log (MAMA_LOG_LEVEL_ERROR,
                  "mama: payload %s: id '%c' [0x%02X] is already in use or invalid", payloadName,
                  library.mId, slot);
        closePayload (library);
        return MAMA_STATUS_SYSTEM_ERROR;
    }
    try
    {
        gPayloadLibraries.push_back (library);
    }
    catch (...)
    {
        closePayload (library);
        return MAMA_STATUS_NOMEM;
    }
    gPayloadById[slot].store (library.mBridge);
    const char* configuredDefault = userProperty ("mama.payload.default");
    if (gDefaultPayload.load () == nullptr ||
        (configuredDefault != nullptr && std::strcmp (configuredDefault, payloadName) == 0))
    {
        gDefaultPayload.store (library.mBridge);
    }
    mama_log (MAMA_LOG_LEVEL_FINE, "mama: loaded payload %s with id '%c'", payloadName,
              library.mId);
    *bridge = reinterpret_cast<mamaPayloadBridge> (library.mBridge);
    return MAMA_STATUS_OK;
}

mama_status mama_getPayloadBridge (mamaPayloadBridge* payloadBridge, const char* payloadName)
{
    if (payloadBridge == nullptr || payloadName == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    std::lock_guard<std::mutex> guard (gPayloadLock);
    const mamaPayloadLibrary* library = findByName (payloadName);
    if (library == nullptr)
    {
        return MAMA_STATUS_NOT_FOUND;
    }
    *payloadBridge = reinterpret_cast<mamaPayloadBridge> (library->mBridge);
    return MAMA_STATUS_OK;
}

mama_status mama_setDefaultPayload (char id)
{
    mamaPayloadBridge bridge = mamaInternal_findPayload (id);
    if (bridge == nullptr)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    gDefaultPayload.store (reinterpret_cast<mamaPayloadBridgeImpl*> (bridge));
    return MAMA_STATUS_OK;
}

mamaPayloadBridge mamaInternal_findPayload (char id)
{
    return reinterpret_cast<mamaPayloadBridge> (
        gPayloadById[static_cast<unsigned char> (id)].load ());
}

mamaPayloadBridge mamaInternal_getDefaultPayload (void)
{
    return reinterpret_cast<mamaPayloadBridge> (gDefaultPayload.load ());
}

int mamaPayloadRegistry_count (void)
{
    std::lock_guard<std::mutex> guard (gPayloadLock);
    return static_cast<int> (gPayloadLibraries.size ());
}

void mamaPayloadRegistry_unloadAll (void)
{
    std::lock_guard<std::mutex> guard (gPayloadLock);
    gDefaultPayload.store (nullptr);
    for (const mamaPayloadLibrary& library : gPayloadLibraries)
    {
        gPayloadById[static_cast<unsigned char> (library.mId)].store (nullptr);
        closePayload (library);
    }
    gPayloadLibraries.clear ();
}

int mamaPayloadRegistry_isLoaded (mamaPayloadBridge bridge)
{
    std::lock_guard<std::mutex> guard (gPayloadLock);
    return bridge != nullptr && findByBridge (bridge) != nullptr ? 1 : 0;
}

char mamaPayloadRegistry_getId (mamaPayloadBridge bridge)
{
    std::lock_guard<std::mutex> guard (gPayloadLock);
    const mamaPayloadLibrary* library = findByBridge (bridge);
    return library != nullptr ? library->mId : MAMA_PAYLOAD_ID_NULL;
}
