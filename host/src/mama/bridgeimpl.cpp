// What a bridge may read and record on its host bridge object.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "bridge.h"
#include "mamainternal.h"

namespace
{
// "mama.<bridge name>.<property>", without doubling a prefix the caller already gave.
bool bridgePropertyName(mamaBridgeImpl* bridge, const char* property, char* name, size_t size)
{
    const char* bridgeName = bridge->bridgeGetName ? bridge->bridgeGetName() : nullptr;
    if (!bridgeName)
    {
        return false;
    }
    char prefix[MAX_INTERNAL_PROP_LEN];
    int prefixLength = snprintf(prefix, sizeof(prefix), "mama.%s.", bridgeName);
    if (prefixLength < 0 || static_cast<size_t>(prefixLength) >= sizeof(prefix))
    {
        return false;
    }
    if (strncmp(property, prefix, static_cast<size_t>(prefixLength)) == 0)
    {
        property += prefixLength;
    }
    int length = snprintf(name, size, "%s%s", prefix, property);
    return length >= 0 && static_cast<size_t>(length) < size;
}
} // namespace

extern "C"
{

    mama_status mamaBridgeImpl_getClosure(mamaBridge bridgeImpl, void** closure)
    {
        if (!bridgeImpl)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        if (!closure)
        {
            return MAMA_STATUS_INVALID_ARG;
        }
        *closure = bridgeImpl->mClosure;
        return MAMA_STATUS_OK;
    }

    mama_status mamaBridgeImpl_setClosure(mamaBridge bridgeImpl, void* closure)
    {
        if (!bridgeImpl)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        bridgeImpl->mClosure = closure;
        return MAMA_STATUS_OK;
    }

    mama_status mamaBridgeImpl_setReadOnlyProperty(mamaBridge bridgeImpl, const char* property,
                                                   const char* value)
    {
        if (!bridgeImpl || !property || !value)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        char name[MAX_INTERNAL_PROP_LEN];
        if (!bridgePropertyName(bridgeImpl, property, name, sizeof(name)))
        {
            return MAMA_STATUS_INVALID_ARG;
        }
        return mamaInternal_setMetaProperty(name, value);
    }

    const char* mamaBridgeImpl_getMetaProperty(mamaBridge bridgeImpl, const char* property)
    {
        if (!bridgeImpl || !property)
        {
            return nullptr;
        }
        char name[MAX_INTERNAL_PROP_LEN];
        if (!bridgePropertyName(bridgeImpl, property, name, sizeof(name)))
        {
            return nullptr;
        }
        return mamaInternal_getMetaProperty(name);
    }

    int mamaBridgeImpl_getDefaultQueueTimeout(void)
    {
        const char* text = mama_getProperty(MAMA_BRIDGE_DEFAULT_QUEUE_TIMEOUT_PROPERTY);
        return text ? atoi(text) : MAMA_BRIDGE_DEFAULT_QUEUE_DEFAULT_TIMEOUT;
    }

    mama_status mamaImpl_setDefaultEventQueue(mamaBridge bridgeImpl, mamaQueue defaultQueue)
    {
        if (!bridgeImpl)
        {
            return MAMA_STATUS_NO_BRIDGE_IMPL;
        }
        if (!defaultQueue)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        bridgeImpl->mDefaultEventQueue = defaultQueue;
        return MAMA_STATUS_OK;
    }

    mama_status mama_getDefaultEventQueue(mamaBridge bridgeImpl, mamaQueue* defaultQueue)
    {
        if (!bridgeImpl)
        {
            return MAMA_STATUS_NO_BRIDGE_IMPL;
        }
        if (!defaultQueue)
        {
            return MAMA_STATUS_NULL_ARG;
        }
        if (!bridgeImpl->mDefaultEventQueue)
        {
            return MAMA_STATUS_INVALID_QUEUE;
        }
        *defaultQueue = bridgeImpl->mDefaultEventQueue;
        return MAMA_STATUS_OK;
    }

} // extern "C"
