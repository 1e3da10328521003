/* Publishers: send messages on a topic of one transport. */
#ifndef MamaPublisherH__
#define MamaPublisherH__

#include "mama/types.h"

#if defined(__cplusplus)
extern "C" {
#endif

typedef void (MAMACALLTYPE *mama_publisherOnCreateCb) (mamaPublisher publisher, void* closure);
typedef void (MAMACALLTYPE *mama_publisherOnErrorCb) (mamaPublisher publisher, mama_status status,
                                                      const char* info, void* closure);
typedef void (MAMACALLTYPE *mama_publisherOnDestroyCb) (mamaPublisher publisher, void* closure);
typedef void (MAMACALLTYPE *mama_publisherOnSuccessCb) (mamaPublisher publisher, mama_status status,
                                                        const char* info, void* closure);

/* Member order is part of the binary interface: onDestroy precedes onSuccess. */
typedef struct mamaPublisherCallbacks_
{
    mama_publisherOnCreateCb  onCreate;
    mama_publisherOnErrorCb   onError;
    mama_publisherOnDestroyCb onDestroy;
    mama_publisherOnSuccessCb onSuccess;
} mamaPublisherCallbacks;

typedef enum mamaPublisherState_
{
    MAMA_PUBLISHER_UNKNOWN                = 0,
    MAMA_PUBLISHER_CREATING               = 1,
    MAMA_PUBLISHER_LIVE                   = 2,
    MAMA_PUBLISHER_DESTROYING             = 3,
    MAMA_PUBLISHER_DESTROYED_BRIDGE       = 4,
    MAMA_PUBLISHER_DESTROYING_WAIT_BRIDGE = 5,
    MAMA_PUBLISHER_DESTROYED              = 6
} mamaPublisherState;

mama_status mamaPublisherCallbacks_allocate (mamaPublisherCallbacks** cb);
mama_status mamaPublisherCallbacks_deallocate (mamaPublisherCallbacks* cb);

mama_status mamaPublisher_create (mamaPublisher* result, mamaTransport tport, const char* symbol,
                                  const char* source, const char* root);
mama_status mamaPublisher_createWithCallbacks (mamaPublisher* result, mamaTransport tport,
                                               mamaQueue queue, const char* symbol,
                                               const char* source, const char* root,
                                               mamaPublisherCallbacks* cb, void* closure);
mama_status mamaPublisher_send (mamaPublisher publisher, mamaMsg msg);
mama_status mamaPublisher_sendFromInbox (mamaPublisher publisher, mamaInbox inbox, mamaMsg msg);
mama_status mamaPublisher_sendReplyToInbox (mamaPublisher publisher, mamaMsg request, mamaMsg reply);
mama_status mamaPublisher_sendReplyToInboxHandle (mamaPublisher publisher, mamaMsgReply replyAddress,
                                                  mamaMsg reply);
mama_status mamaPublisher_destroy (mamaPublisher publisher);
mama_status mamaPublisher_getTransport (mamaPublisher publisher, mamaTransport* transport);
mama_status mamaPublisher_getState (mamaPublisher publisher, mamaPublisherState* state);
const char* mamaPublisher_stringForState (mamaPublisherState state);

#if defined(__cplusplus)
}
#endif

#endif
