/* Handle types of the bridge side of MAMA objects. */
#ifndef MamaIntegrationTypesH__
#define MamaIntegrationTypesH__

#if defined(OPENMAMA_INTEGRATION)

#include "mama/types.h"

#if defined(__cplusplus)
extern "C" {
#endif

typedef struct transportBridge_*   transportBridge;
typedef struct queueBridge_*       queueBridge;
typedef struct subscriptonBridge_* subscriptionBridge;
typedef struct publisherBridge_*   publisherBridge;
typedef struct inboxBridge_*       inboxBridge;
typedef struct timerBridge_*       timerBridge;
typedef struct ioBridge_*          ioBridge;
typedef struct msgBridge_*         msgBridge;

typedef void* msgPayload;
typedef void* msgFieldPayload;
typedef void* msgPayloadIter;
typedef void* mamaQueueLockHandle;

typedef enum
{
    wc_none      = 0,
    wc_transport = 1,
    wc_wildcard  = 2
} wildCardType;

typedef mama_status (*conflateProcessCb) (mamaConflationManager mgr, mamaMsg msg, const char* topic);
typedef mamaMsg (*conflateGetMsgCb) (mamaConflationManager mgr);

#if defined(__cplusplus)
}
#endif

#endif /* OPENMAMA_INTEGRATION */

#endif
