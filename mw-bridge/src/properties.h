/* Vendor property lists: the NULL-terminated name/value array the vendor
 * library is configured with, built from the MAMA properties under a prefix
 * plus entries the bridge appends itself. */
#ifndef CORVEX_BRIDGE_PROPERTIES_H
#define CORVEX_BRIDGE_PROPERTIES_H

#include <stdint.h>

#include <mama/mama.h>
#include <mama/status.h>

struct CorvexProperties
{
    char* mPrefix;
    /* name 1, value 1, ..., name n, value n, NULL */
    char** mProperties;
    uint32_t mPrefixLength;
    uint32_t mCount;
    uint32_t mCapacity;
    uint8_t mError;
};

/* An empty list (capacity 4); NULL on a NULL prefix or when memory is short. */
CorvexProperties* corvexProperties_allocate(const char* prefix);
/* Allocates and loads; MAMA_STATUS_NULL_ARG for a NULL result,
 * MAMA_STATUS_NOMEM when allocation fails, else the load's status. */
mama_status corvexProperties_create(CorvexProperties** result, const char* prefix);
/* Appends every MAMA property under the prefix whose remainder holds no '.';
 * MAMA_STATUS_NOT_INITIALISED before the host has properties,
 * MAMA_STATUS_NOMEM when one cannot be taken. */
mama_status corvexProperties_load(CorvexProperties* list);
/* Copies both texts; true when stored. */
bool corvexProperties_append(CorvexProperties* list, const char* name, const char* value);
/* Case-insensitive lookup; the last match wins. */
const char* corvexProperties_get(const CorvexProperties* list, const char* name);
/* The array to hand to the vendor library. */
const char** corvexProperties_getCorvexClientProps(const CorvexProperties* list);
/* Frees everything and clears the caller's pointer. */
void corvexProperties_destroy(CorvexProperties** list);

/* properties_ForEach callback; `closure` is the CorvexProperties. */
void propertyStoreCallback(const char* name, const char* value, void* closure);

#endif /* CORVEX_BRIDGE_PROPERTIES_H */
