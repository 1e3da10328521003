/* The MAMA application interface: bridges, open/close, start/stop, properties. */
#ifndef MamaH__
#define MamaH__

#include "mama/types.h"
#include "mama/status.h"
#include "mama/log.h"
#include "mama/version.h"
#include "mama/queue.h"
#include "mama/transport.h"
#include "mama/subscriptiontype.h"
#include "mama/subscmsgtype.h"
#include "mama/quality.h"
#include "mama/servicelevel.h"
#include "mama/subscription.h"
#include "mama/publisher.h"
#include "mama/inbox.h"
#include "mama/timer.h"
#include "mama/io.h"
#include "mama/msg.h"
#include "mama/msgfield.h"
#include "mama/fielddesc.h"
#include "mama/msgstatus.h"
#include "mama/msgtype.h"
#include "mama/reservedfields.h"

#if defined(__cplusplus)
extern "C" {
#endif

typedef void (MAMACALLTYPE *mamaStartCB) (mama_status status);
typedef void (MAMACALLTYPE *mamaStopCB) (mama_status status);
typedef void (MAMACALLTYPE *mamaStopCBEx) (mama_status status, mamaBridge bridge, void* closure);

mama_status mama_loadBridge (mamaBridge* impl, const char* middleware);
mama_status mama_loadBridgeWithPath (mamaBridge* impl, const char* middleware, const char* path);
mama_status mama_getMiddlewareBridge (mamaBridge* bridge, const char* middlewareName);

mama_status mama_loadPayloadBridge (mamaPayloadBridge* bridge, const char* payloadName);
mama_status mama_getPayloadBridge (mamaPayloadBridge* payloadBridge, const char* payloadName);
mama_status mama_setDefaultPayload (char id);

mama_status mama_open (void);
mama_status mama_openCount (unsigned int* count);
mama_status mama_openWithProperties (const char* path, const char* filename);
mama_status mama_openWithPropertiesCount (const char* path, const char* filename,
                                          unsigned int* count);
mama_status mama_close (void);
mama_status mama_closeCount (unsigned int* count);

mama_status mama_start (mamaBridge bridgeImpl);
mama_status mama_startBackground (mamaBridge bridgeImpl, mamaStartCB callback);
mama_status mama_startBackgroundEx (mamaBridge bridgeImpl, mamaStopCBEx callback, void* closure);
mama_status mama_stop (mamaBridge bridgeImpl);
mama_status mama_stopAll (void);

const char* mama_getVersion (mamaBridge bridgeImpl);
mama_status mama_getDefaultEventQueue (mamaBridge bridgeImpl, mamaQueue* defaultQueue);

mama_status mama_setProperty (const char* name, const char* value);
const char* mama_getProperty (const char* name);
mama_status mama_setPropertiesFromFile (const char* path, const char* filename);
void mama_loadDefaultProperties (void);

#if defined(__cplusplus)
}
#endif

#endif
