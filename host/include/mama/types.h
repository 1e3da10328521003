/* Base types and opaque handles shared by every public MAMA header. */
#ifndef MamaTypesH__
#define MamaTypesH__

#include <stddef.h>
#include <stdint.h>

#include "mama/status.h"

#ifndef MAMACALLTYPE
#define MAMACALLTYPE
#endif
#ifndef MAMAExpDLL
#define MAMAExpDLL
#endif

#if defined(__cplusplus)
extern "C" {
#endif

typedef int8_t   mama_bool_t;
typedef int8_t   mama_i8_t;
typedef uint8_t  mama_u8_t;
typedef int16_t  mama_i16_t;
typedef uint16_t mama_u16_t;
typedef int32_t  mama_i32_t;
typedef uint32_t mama_u32_t;
typedef int64_t  mama_i64_t;
typedef uint64_t mama_u64_t;
typedef float    mama_f32_t;
typedef double   mama_f64_t;
typedef double   mama_quantity_t;
typedef uint16_t mama_fid_t;
typedef size_t   mama_size_t;
typedef uint32_t mama_seqnum_t;

#define MAMA_BOOL_TRUE  1
#define MAMA_BOOL_FALSE 0

#define MAMA_MAX_SYMBOL_LEN        128
#define MAMA_MAX_ROOT_LEN          5
#define MAMA_MAX_SOURCE_LEN        64
#define MAMA_MAX_TRANSPORT_LEN     64
#define MAMA_MAX_BRIDGE_NAME_LEN   64
#define MAMA_MAX_TOTAL_SYMBOL_LEN  199

#define MAMA_DEFAULT_THROTTLE_RATE        500
#define MAMA_DEFAULT_RECAP_THROTTLE_RATE  250

typedef struct mamaBridgeImpl_*            mamaBridge;
typedef struct mamaPayloadBridgeImpl_*     mamaPayloadBridge;
typedef struct mamaQueueImpl_*             mamaQueue;
typedef struct mamaDispatcherImpl_*        mamaDispatcher;
typedef struct mamaTransportImpl_*         mamaTransport;
typedef struct mamaSubscriptionImpl_*      mamaSubscription;
typedef struct mamaPublisherImpl_*         mamaPublisher;
typedef struct mamaInboxImpl_*             mamaInbox;
typedef struct mamaMsgImpl_*               mamaMsg;
typedef struct mamaMsgFieldImpl_*          mamaMsgField;
typedef struct mamaTimerImpl*              mamaTimer;
typedef struct mamaIoImpl*                 mamaIo;
typedef struct mamaMsgReplyImpl_*          mamaMsgReply;
typedef struct mamaConnectionImpl_*        mamaConnection;
typedef struct mamaServerConnectionImpl_*  mamaServerConnection;
typedef struct mamaConflationManager_*     mamaConflationManager;
typedef struct mamaSourceImpl_*            mamaSource;
typedef struct mamaStatsCollectorImpl_*    mamaStatsCollector;
typedef struct mamaDictionaryImpl_*        mamaDictionary;
typedef struct mamaFieldDescriptorImpl_*   mamaFieldDescriptor;
typedef void*                              mamaDateTime;
typedef void*                              mamaPrice;

#if defined(__cplusplus)
}
#endif

#endif
