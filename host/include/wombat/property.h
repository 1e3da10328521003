/* Property tables, loaded from "key=value" files or filled in code. */
#ifndef WOMBAT_PROPERTY_H
#define WOMBAT_PROPERTY_H

#include "wombat/port.h"

#if defined(__cplusplus)
extern "C" {
#endif

typedef void* wproperty_t;

typedef void (*propertiesCallback) (const char* name, const char* value, void* closure);

/* Reads the first "<dir>/<fileName>" that opens, trying the directories of
 * the ':'-separated `path` in order; a NULL or empty path means
 * "/<fileName>". NULL when no file could be opened. */
COMMONExpDLL wproperty_t properties_Load (const char* path, const char* fileName);

/* An empty table; NULL when out of memory. */
COMMONExpDLL wproperty_t properties_Create (void);

/* A new table holding every entry of src; NULL on failure. */
COMMONExpDLL wproperty_t properties_Copy (wproperty_t src);

/* Copies every entry of `from` into `to`, replacing values of equal keys.
 * 1 on success, 0 on failure. */
COMMONExpDLL int properties_Merge (wproperty_t to, wproperty_t from);

/* Parses propString with the file syntax and adds its entries.
 * 1 on success, 0 on failure. */
COMMONExpDLL int properties_AddString (wproperty_t handle, const char* propString);

/* Sets or replaces one entry; $(VAR) and ${VAR} in the value are replaced
 * from the environment. 1 on success, 0 on failure. */
COMMONExpDLL int properties_setProperty (wproperty_t handle, const char* name,
                                         const char* value);

/* The table's own string (do not free); NULL when absent or stored without
 * a value, and for a NULL handle or a NULL or empty name. */
COMMONExpDLL const char* properties_Get (wproperty_t handle, const char* name);

/* 1 for "1", "y", "Y", "t", "T", "true", "True", "TRUE", "yes", "Yes",
 * "YES"; 0 for anything else, NULL included. */
COMMONExpDLL int properties_GetPropertyValueAsBoolean (const char* propertyValue);

/* Calls cb (name, value, closure) for every entry, in no defined order. */
COMMONExpDLL void properties_ForEach (wproperty_t handle, propertiesCallback cb,
                                      void* closure);

COMMONExpDLL void properties_Free (wproperty_t handle);

#if defined(__cplusplus)
}
#endif

#endif /* WOMBAT_PROPERTY_H */
