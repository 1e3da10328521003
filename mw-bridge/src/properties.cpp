#define CORVEX_LOG_MODULE "properties"

#include "properties.h"

#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <mama/mama.h>
#include <mama/integration/mama.h>
#include <wombat/property.h>

#include "logging.h"

/* What a log line shows of a value: the value, or a mask for a secret (a
 * name that holds "PASSWORD", "TOKEN", "SECRET" or "SEED", in any case). */
static const char* loggedValue(const char* name, const char* value)
{
    static const char* const SECRET_WORDS[] = {"PASSWORD", "TOKEN", "SECRET", "SEED"};
    const size_t length = strlen(name);
    for (const char* word : SECRET_WORDS)
    {
        const size_t wordLength = strlen(word);
        for (size_t at = 0; at + wordLength <= length; ++at)
        {
            if (strncasecmp(name + at, word, wordLength) == 0)
            {
                return "****";
            }
        }
    }
    return value;
}

namespace
{
const uint32_t INITIAL_CAPACITY = 4;

/* Room for capacity pairs and the terminating NULL. */
size_t arrayEntries(uint32_t capacity)
{
    return (size_t)capacity * 2 + 1;
}
} // namespace

CorvexProperties* corvexProperties_allocate(const char* prefix)
{
    if (prefix == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "corvexProperties_allocate: NULL prefix");
        return NULL;
    }

    CorvexProperties* list = (CorvexProperties*)calloc(1, sizeof(CorvexProperties));
    if (list == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to allocate CorvexProperties");
        return NULL;
    }
    list->mPrefix = strdup(prefix);
    if (list->mPrefix == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to allocate Property Prefix");
        free(list);
        return NULL;
    }
    list->mProperties = (char**)calloc(arrayEntries(INITIAL_CAPACITY), sizeof(char*));
    if (list->mProperties == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to allocate Property Property Array");
        free(list->mPrefix);
        free(list);
        return NULL;
    }
    list->mPrefixLength = (uint32_t)strlen(prefix);
    list->mCapacity = INITIAL_CAPACITY;
    return list;
}

mama_status corvexProperties_create(CorvexProperties** result, const char* prefix)
{
    if (result == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    *result = NULL;

    CorvexProperties* list = corvexProperties_allocate(prefix);
    if (list == NULL)
    {
        return MAMA_STATUS_PLATFORM;
    }
    mama_status status = corvexProperties_load(list);
    if (status != MAMA_STATUS_OK)
    {
        corvexProperties_destroy(&list);
        return status;
    }
    *result = list;
    return MAMA_STATUS_OK;
}

mama_status corvexProperties_load(CorvexProperties* list)
{
    if (list == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    wproperty_t properties = mamaInternal_getProperties();
    if (properties == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_FINE, "mama properties not yet available");
        return MAMA_STATUS_NOT_INITIALISED;
    }

    list->mError = 0;
    properties_ForEach(properties, propertyStoreCallback, list);
    if (list->mError)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Failed to initialize property values");
        return MAMA_STATUS_PLATFORM;
    }
    return MAMA_STATUS_OK;
}

bool corvexProperties_append(CorvexProperties* list, const char* name, const char* value)
{
    if (list == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "corvexProperties_append: NULL CorvexProperties");
        return false;
    }
    if (name == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "corvexProperties_append: NULL property name");
        return false;
    }
    if (value == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "corvexProperties_append: NULL property value");
        return false;
    }

    char* nameCopy = strdup(name);
    if (nameCopy == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to allocate Property Name");
        return false;
    }
    char* valueCopy = strdup(value);
    if (valueCopy == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to allocate Property Value");
        free(nameCopy);
        return false;
    }

    if (list->mCount >= list->mCapacity)
    {
        uint32_t capacity = list->mCapacity * 2;
        CORVEX_LOG(CORVEX_LOG_FINER, "Resizing properties array from %u to %u", list->mCapacity,
                   capacity);
        char** grown = (char**)realloc(list->mProperties, arrayEntries(capacity) * sizeof(char*));
        if (grown == NULL)
        {
            /* realloc left the old array in place: the list is as it was. */
            CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to allocate Property Array");
            free(nameCopy);
            free(valueCopy);
            return false;
        }
        list->mProperties = grown;
        list->mCapacity = capacity;
    }

    size_t index = (size_t)list->mCount * 2;
    list->mProperties[index] = nameCopy;
    list->mProperties[index + 1] = valueCopy;
    list->mProperties[index + 2] = NULL;
    list->mCount++;
    CORVEX_LOG(CORVEX_LOG_FINER, "Prop %2u: %s = %s ", list->mCount, nameCopy,
               loggedValue(nameCopy, valueCopy));
    return true;
}

const char* corvexProperties_get(const CorvexProperties* list, const char* name)
{
    if (list == NULL || name == NULL)
    {
        return NULL;
    }
    const char* value = NULL;
    for (uint32_t i = 0; i < list->mCount; i++)
    {
        if (strcasecmp(list->mProperties[i * 2], name) == 0)
        {
            value = list->mProperties[i * 2 + 1];
        }
    }
    return value;
}

const char** corvexProperties_getCorvexClientProps(const CorvexProperties* list)
{
    if (list == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR,
                   "corvexProperties_getCorvexClientProps: NULL CorvexProperties");
        return NULL;
    }
    return (const char**)list->mProperties;
}

void corvexProperties_destroy(CorvexProperties** list)
{
    if (list == NULL || *list == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "NULL pointer (corvexProps_p: %p)", (void*)list);
        return;
    }
    CorvexProperties* props = *list;
    for (uint32_t i = 0; i < props->mCount * 2; i++)
    {
        free(props->mProperties[i]);
    }
    free(props->mProperties);
    free(props->mPrefix);
    free(props);
    *list = NULL;
}

void propertyStoreCallback(const char* name, const char* value, void* closure)
{
    CorvexProperties* list = (CorvexProperties*)closure;
    if (list == NULL || name == NULL || strncmp(name, list->mPrefix, list->mPrefixLength) != 0)
    {
        return;
    }

    const char* suffix = name + list->mPrefixLength;
    if (strchr(suffix, '.') != NULL)
    {
        CORVEX_LOG(CORVEX_LOG_FINER,
                   "propertyStoreCallback: skipping name suffix with '.': (%s)%s=%s", list->mPrefix,
                   suffix, value != NULL ? value : "");
        return;
    }
    if (value == NULL)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Empty value is not allowed for property %s", name);
        list->mError = 1;
        return;
    }

    CORVEX_LOG(CORVEX_LOG_FINER, "propertyStoreCallback: appending property %s=%s", name,
               loggedValue(name, value));
    if (!corvexProperties_append(list, suffix, value))
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Unable to store property %s=%s in object %p", name,
                   loggedValue(name, value), (void*)list);
        list->mError = 1;
    }
}
