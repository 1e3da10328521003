/* Version of this MAMA implementation (the interface level bridges are built for). */
#ifndef MamaVersionH__
#define MamaVersionH__

#if defined(__cplusplus)
extern "C" {
#endif

#define MAMA_VERSION_MAJOR   6
#define MAMA_VERSION_MINOR   3
#define MAMA_VERSION_RELEASE "2"
#define MAMA_VERSION         "6.3.2"

/* "mama 6.3.2" */
extern const char* mama_version;

#if defined(__cplusplus)
}
#endif

#endif
