/* Bridge subscriptions and the mapping between MAMA names and vendor topics. */
#ifndef CORVEX_BRIDGE_SUBSCRIPTION_H
#define CORVEX_BRIDGE_SUBSCRIPTION_H

#include <stddef.h>
#include <stdint.h>

#include <mama/mama.h>
#include <mama/subscription.h>
#include <wombat/destroyHandle.h>

struct CorvexTransportBridge;

/* Vendor topics are built in buffers of this size: at most 259 bytes of
 * topic plus the terminator, before the data-dictionary prefix is added. */
#define CORVEX_TOPIC_BUFFER_SIZE 260

/* Prefix put in front of data-dictionary topics, and the exempt form. */
#define CORVEX_DICTIONARY_PREFIX "#MDDD/"
#define CORVEX_DICTIONARY_ROOT   "_MDDD/"
#define CORVEX_DICTIONARY_SUFFIX "/DATA_DICT"

struct CorvexQueueBridge;
struct CorvexThrottledLog;

/* One MAMA subscription on a corvex transport. The correlation and topic-entry
 * records join this structure with subscription creation. */
struct CorvexSubscription
{
    mamaSubscription              mMamaSubscription;
    mamaMsgCallbacks              mCallbacks;
    mamaQueue                     mMamaQueue;
    struct CorvexQueueBridge*     mQueueBridge;
    struct CorvexTransportBridge* mTransportBridge;
    const char*                   mSource;
    const char*                   mSymbol;
    char*                         mTopic;
    void*                         mClosure;
    wDestroyHandle*               mDestroyHandle;
    int64_t                       mCacheRequestId;
    uint8_t                       mIsMuted;
    uint8_t                       mIsValid;
    uint8_t                       mIsWildcard;
    uint8_t                       mIsDestroying;
    uint64_t                      mMaxQueueDepth;
    struct CorvexThrottledLog*    mThrottledLog;
};

/* Builds the vendor topic for root/source/symbol into a new heap string
 * (caller frees). 0; 1 out of memory; 4 wildcard where none may be; 5 source
 * given without a transport bridge. */
mama_status corvexSubscription_buildTopic (const char*                   root,
                                           const char*                   source,
                                           const char*                   symbol,
                                           char**                        topic,
                                           int                           allowWildcards,
                                           struct CorvexTransportBridge* transport);

/* Encodes one name part into output, never more than capacity bytes and never
 * splitting an escape pair; writes no terminator. Returns bytes written. */
size_t corvexSubscription_encodeLevel (const char* input,
                                       char*       output,
                                       size_t      capacity,
                                       int         translate);

/* True when topic contains '*' or ends with '>'; false for null or empty. */
int corvexSubscription_hasWildcard (const char* topic);

/* Turns a vendor topic back into a MAMA subject. Returns bytes written
 * including the terminator, 0 when size is 0. */
size_t corvexSubscription_decodeTopic (const char* topic, char* output, size_t size);

/* Replaces the level between the first and second '/' by '*', in place. */
void corvexSubscription_wildcardSecondLevel (char* text);

#endif /* CORVEX_BRIDGE_SUBSCRIPTION_H */
