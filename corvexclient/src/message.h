/* Messages: pooled objects that either reference the sender's texts and
 * bytes (while being built) or hold a received copy in their own storage. */
#ifndef CORVEXCLIENT_MESSAGE_H
#define CORVEXCLIENT_MESSAGE_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "container.h"
#include "corvexClient.h"
#include "workQueue.h"

/* Builds the map of a received property text in *storage (grown with
 * malloc to *capacity as needed); NULL when memory is short. */
typedef corvexClientContainer* (*CorvexMapDecoder)(const char* text, uint32_t length,
                                                   char** storage, uint32_t* capacity);

/* Finds and checks the property text a received message left in the
 * router's own message (origin); false when it holds none that is one. The
 * text lasts as long as origin. */
typedef bool (*CorvexMapFinder)(const void* origin, const char** text, uint32_t* length);

struct corvexClientMsg
{
    CorvexWorkNode mNode; /* first: queued for delivery by its node */
    std::atomic<uint32_t> mRefs;
    uint32_t mMagic;

    const char* mTopic;
    uint32_t mTopicLength;
    uint32_t mContentLength;
    const void* mContent;
    const char* mReplyTo;
    uint32_t mReplyToLength;
    int32_t mDeliveryMode;
    corvexClientContainer* mMap;

    uint8_t mHasReplyTo;
    uint8_t mDiscard;
    uint8_t mCacheStatus;
    uint64_t mCacheRequestId;

    /* Received copies live here; kept across reuse from the pool. */
    char* mStorage;
    uint32_t mStorageCapacity;

    /* Received user properties still in the text they came in (checked by
     * the router that received them), or, with mFindMap, still in the
     * router's message mMapOrigin, where mFindMap finds and checks them;
     * decoded into mMap by mDecodeMap in mMapStorage the first time the map
     * is asked for. mMapState: 0 not decoded, 1 being decoded, 2 decoded;
     * mMapLost: a text was found but memory was short for its map. */
    const char* mEncodedMap;
    uint32_t mEncodedMapLength;
    CorvexMapDecoder mDecodeMap;
    CorvexMapFinder mFindMap;
    const void* mMapOrigin;
    std::atomic<uint8_t> mMapState;
    uint8_t mMapLost;
    char* mMapStorage;
    uint32_t mMapStorageCapacity;

    /* Content left in the receiving router's buffer, which mReleaseBorrowed
     * frees when the last reference goes; NULL for a copy. */
    void (*mReleaseBorrowed)(void* borrowed);
    void* mBorrowed;

    corvexClientMsg* mNextFree;
    /* In the pool's shared list: the first message of each batch names the
     * next batch and how many its own chain holds. */
    corvexClientMsg* mNextBatch;
    uint32_t mBatchSize;
};

static_assert(std::is_standard_layout<corvexClientMsg>::value,
              "a message is reached from its queue node");

/* Live messages in the order they came, linked through mNextFree (which
 * only the pool uses otherwise), so that keeping them allocates nothing. */
struct CorvexMsgFifo
{
    corvexClientMsg* mFront = nullptr;
    corvexClientMsg* mBack = nullptr;
    size_t mSize = 0;

    bool empty() const
    {
        return mSize == 0;
    }

    size_t size() const
    {
        return mSize;
    }

    corvexClientMsg* front() const
    {
        return mFront;
    }

    void push_back(corvexClientMsg* msg)
    {
        msg->mNextFree = nullptr;
        if (mBack)
            mBack->mNextFree = msg;
        else
            mFront = msg;
        mBack = msg;
        ++mSize;
    }

    void pop_front()
    {
        corvexClientMsg* first = mFront;
        mFront = first->mNextFree;
        first->mNextFree = nullptr;
        if (!mFront)
            mBack = nullptr;
        --mSize;
    }
};

/* A message with nothing set, or NULL when memory is short. */
corvexClientMsg* corvexMsg_allocate();

/* Drops one reference; the last returns the message to the pool. */
void corvexMsg_release(corvexClientMsg* msg);

/* Another holder of a received message. */
void corvexMsg_addReference(corvexClientMsg* msg);

bool corvexMsg_isValid(const corvexClientMsg* msg);

/* Frees the spare messages kept for reuse by the calling thread and by the
 * shared pool; other threads' spares return to the heap as they exit. */
void corvexMsg_releaseSpares();

/* The message's user property map, decoded when it came as a property text;
 * NULL without one (or when memory is short for decoding it). */
corvexClientContainer* corvexMsg_map(corvexClientMsg* msg);

/* A received copy of a message being sent: topic, content, reply-to, map
 * and delivery mode. NULL when memory is short. */
corvexClientMsg* corvexMsg_copyForDelivery(const corvexClientMsg* source);

/* A received message whose content (and property text) stays where
 * source's is, in a buffer of the receiving router that release(borrowed)
 * frees once the message's last reference is gone; topic, reply-to, map and
 * delivery mode are copied as corvexMsg_copyForDelivery copies them. NULL when memory is short (the
 * buffer is then still the caller's). */
corvexClientMsg* corvexMsg_borrowForDelivery(const corvexClientMsg* source,
                                             void (*release)(void* borrowed), void* borrowed);

/* Replaces the contents of a received copy that nobody else holds with a
 * copy of source, reusing its storage; false (target unchanged) when memory
 * is short. */
bool corvexMsg_refill(corvexClientMsg* target, const corvexClientMsg* source);

#endif
