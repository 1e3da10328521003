/* User property loading used by open and close. */
#ifndef MAMA_PROPERTIES_INTERNAL_H
#define MAMA_PROPERTIES_INTERNAL_H

#if defined(__cplusplus)
extern "C"
{
#endif

    /* Loads "<dir>/<filename>" (first directory of `path` that has it) on top of
     * the current properties; values already present win. NULL path means the
     * WOMBAT_PATH directories, NULL filename "mama.properties". */
    void mamaProperties_load(const char* path, const char* filename);

    /* Frees the property table (mama_close). */
    void mamaProperties_free(void);

#if defined(__cplusplus)
}
#endif

#endif
