/* Host-internal process state shared between the host's own modules. */
#ifndef MamaInternalH__
#define MamaInternalH__

#ifndef OPENMAMA_INTEGRATION
#define OPENMAMA_INTEGRATION
#endif

#include "mama/integration/mama.h"

#if defined(__cplusplus)
extern "C" {
#endif

/* Creates the meta property table and records mama.runtime_version (once). */
void mamaInternal_init (void);

/* Checks meta property "mama.<libraryName>.compile_version" against this
 * host's major.minor (older compatible versions normalised first).
 * MAMA_STATUS_OK, or MAMA_STATUS_INVALID_ARG when missing, unparsable or
 * different. Used by the bridge and payload loaders. */
mama_status mamaInternal_checkCompileVersion (const char* libraryName);

/* dlopen of "<path>/lib<name>.so", or of "lib<name>.so" through the dynamic
 * loader's search (then also beside the host library) when path is NULL or
 * empty. Flags RTLD_NOW | RTLD_GLOBAL. Logs and returns NULL on failure. */
void* mamaInternal_openSharedLib (const char* name, const char* path);

#if defined(__cplusplus)
}
#endif

#endif
