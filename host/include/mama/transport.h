/* Transports: a named connection of one middleware bridge, with its event callbacks. */
#ifndef MamaTransportH__
#define MamaTransportH__

#include "mama/types.h"

#if defined(__cplusplus)
extern "C" {
#endif

typedef enum
{
    MAMA_TRANSPORT_CONNECT                    = 0,
    MAMA_TRANSPORT_CONNECT_FAILED             = 1,
    MAMA_TRANSPORT_RECONNECT                  = 2,
    MAMA_TRANSPORT_DISCONNECT                 = 3,
    MAMA_TRANSPORT_ACCEPT                     = 4,
    MAMA_TRANSPORT_ACCEPT_RECONNECT           = 5,
    MAMA_TRANSPORT_PUBLISHER_DISCONNECT       = 6,
    MAMA_TRANSPORT_QUALITY                    = 7,
    MAMA_TRANSPORT_NAMING_SERVICE_CONNECT     = 8,
    MAMA_TRANSPORT_NAMING_SERVICE_DISCONNECT  = 9,
    MAMA_TRANSPORT_WRITE_QUEUE_HIGH_WATER_MARK = 10,
    MAMA_TRANSPORT_WRITE_QUEUE_LOW_WATER_MARK  = 11
} mamaTransportEvent;

typedef enum
{
    MAMA_TRANSPORT_TOPIC_SUBSCRIBED                 = 0,
    MAMA_TRANSPORT_TOPIC_UNSUBSCRIBED               = 1,
    MAMA_TRANSPORT_TOPIC_PUBLISH_ERROR              = 2,
    MAMA_TRANSPORT_TOPIC_PUBLISH_ERROR_NOT_ENTITLED = 3,
    MAMA_TRANSPORT_TOPIC_PUBLISH_ERROR_BAD_SYMBOL   = 4
} mamaTransportTopicEvent;

typedef enum
{
    TPORT_LB_SCHEME_STATIC      = 0,
    TPORT_LB_SCHEME_ROUND_ROBIN = 1,
    TPORT_LB_SCHEME_API         = 2,
    TPORT_LB_SCHEME_LIBRARY     = 3
} tportLbScheme;

typedef enum
{
    MAMA_THROTTLE_DEFAULT = 0,
    MAMA_THROTTLE_INITIAL = 1,
    MAMA_THROTTLE_RECAP   = 2
} mamaThrottleInstance;

typedef void (MAMACALLTYPE *mamaTransportCB) (mamaTransport tport, mamaTransportEvent event,
                                              short cause, const void* platformInfo, void* closure);
typedef void (MAMACALLTYPE *mamaTransportTopicCB) (mamaTransport tport, mamaTransportTopicEvent event,
                                                   const char* topic, const void* platformInfo,
                                                   void* closure);

mama_status mamaTransport_allocate (mamaTransport* result);
mama_status mamaTransport_create (mamaTransport transport, const char* name, mamaBridge bridgeImpl);
mama_status mamaTransport_destroy (mamaTransport transport);
mama_status mamaTransport_deallocate (mamaTransport transport);

mama_status mamaTransport_setTransportCallback (mamaTransport transport, mamaTransportCB callback,
                                                void* closure);
mama_status mamaTransport_setTransportTopicCallback (mamaTransport transport,
                                                     mamaTransportTopicCB callback, void* closure);
mama_status mamaTransport_setTransportCallbackQueue (mamaTransport transport, mamaQueue queue);
mama_status mamaTransport_getTransportCallbackQueue (mamaTransport transport, mamaQueue* queue);
mama_status mamaTransport_getAdvisoryCauseAndPlatformInfo (mamaTransport transport, short* cause,
                                                           const void** platformInfo);

mama_status mamaTransport_getName (mamaTransport transport, const char** result);
mama_status mamaTransport_getMiddleware (mamaTransport transport, const char** result);
mama_status mamaTransport_setDescription (mamaTransport transport, const char* description);
mama_status mamaTransport_getDescription (mamaTransport transport, const char** description);
mama_status mamaTransport_setOutboundThrottle (mamaTransport transport,
                                               mamaThrottleInstance instance, double outboundThrottle);
mama_status mamaTransport_getOutboundThrottle (mamaTransport transport,
                                               mamaThrottleInstance instance, double* result);
mama_status mamaTransport_getNativeTransport (mamaTransport transport, int index, void** result);
mama_status mamaTransport_getNativeTransportNamingCtx (mamaTransport transport, int index,
                                                       void** result);

const char* mamaTransportEvent_toString (mamaTransportEvent event);
const char* mamaTransportTopicEvent_toString (mamaTransportTopicEvent event);

#if defined(__cplusplus)
}
#endif

#endif
