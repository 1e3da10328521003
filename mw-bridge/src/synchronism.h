/* Correlation of vendor calls whose outcome arrives either in their return
 * code or later in a session event: the caller creates a tag, hands its
 * address to the vendor as the correlation pointer, and the tag's callback
 * runs exactly once, whichever way the outcome comes. */
#ifndef CORVEX_BRIDGE_SYNCHRONISM_H
#define CORVEX_BRIDGE_SYNCHRONISM_H

#include <pthread.h>
#include <stdint.h>

#include <mama/mama.h>
#include <mama/status.h>

#include "corvexClient.h"

/* Room a caller has in a tag for its own data. */
#define CORVEX_CORRELATION_PAYLOAD_SIZE 816

struct CorvexSynchronismManager;
struct CorvexCorrelationTag;

/* One completion, built on the stack: the tag and the vendor return code
 * (the call's own code, or 0 for a confirming and -1 for a refusing event). */
struct CorvexCorrelationContext
{
    CorvexCorrelationTag* mTag;
    int32_t mReturnCode;
};

/* Runs once per tag; fromSessionEvent is non-zero on the vendor context
 * thread, zero on the thread that made the call. */
typedef mama_status (*CorvexCorrelationCallback)(int fromSessionEvent,
                                                 CorvexCorrelationContext* context);

/* Lets go of what a tag's payload owns when the tag is abandoned: its
 * callback, which would have done so, never runs. */
typedef void (*CorvexCorrelationForget)(void* payload);

struct CorvexCorrelationTag
{
    CorvexSynchronismManager* mManager;
    CorvexCorrelationCallback mCallback;
    CorvexCorrelationForget mForget;
    alignas(void*) unsigned char mPayload[CORVEX_CORRELATION_PAYLOAD_SIZE];
    CorvexCorrelationTag* mPrev;
    CorvexCorrelationTag* mNext;
    /* Its callback has begun; such a tag is never abandoned. */
    uint8_t mIsRunning;
};

/* Frees the manager's owner once its last outstanding tag is gone. */
typedef void (*CorvexSynchronismEmptyCallback)(void* owner);

/* Embedded in its owner; zero-filled memory is a manager not yet initialised. */
struct CorvexSynchronismManager
{
    CorvexCorrelationTag* mTags; /* oldest first */
    CorvexCorrelationTag* mLastTag;
    uint8_t mIsClosed;
    uint8_t mIsInitialised;
    /* Guards the tag list, mIsClosed, mOnEmpty/mOwner and each tag's
     * mIsRunning; never held while a callback runs. */
    pthread_mutex_t mLock;
    /* Raised on every tag destruction; destroy waits on it. */
    pthread_cond_t mTagsChanged;
    /* Set by close: run (without the lock) when the last tag is destroyed. */
    CorvexSynchronismEmptyCallback mOnEmpty;
    void* mOwner;
};

/* True on success. */
int corvexSynchronismManager_init(CorvexSynchronismManager* manager);
/* Refuses new tags at once, returns when the last outstanding tag is gone.
 * Must not run on the vendor context thread (that thread completes tags). */
void corvexSynchronismManager_destroy(CorvexSynchronismManager* manager);

/* The owner's way out without blocking: refuses new tags at once. With no
 * tag outstanding the manager is finished and 1 is returned (the owner may
 * go); else 0, and onEmpty (owner) runs when the last tag is destroyed, on
 * the thread that destroys it. */
int corvexSynchronismManager_close(CorvexSynchronismManager* manager,
                                   CorvexSynchronismEmptyCallback onEmpty, void* owner);
/* Forgets the outstanding tags of this callback (NULL: of any callback)
 * whose completion has not begun, for a caller that knows their outcome can
 * no longer arrive (their session is gone); each one's forget function, if
 * it has one, runs first, without the manager's lock. Returns how many were
 * dropped. */
int corvexSynchronismManager_abandon(CorvexSynchronismManager* manager,
                                     CorvexCorrelationCallback callback);
/* Gives a tag the function that lets go of its payload should it be
 * abandoned. */
void corvexSynchronismManager_setTagForget(CorvexCorrelationTag* tag,
                                           CorvexCorrelationForget forget);

/* NULL for a null argument, a closed manager or no memory. */
CorvexCorrelationTag*
corvexSynchronismManager_createCorrelationTag(CorvexSynchronismManager* manager,
                                              CorvexCorrelationCallback callback);
void* corvexSynchronismManager_getTagPayload(CorvexCorrelationTag* tag);

/* After the vendor call: CORVEXCLIENT_IN_PROGRESS leaves the tag for the
 * session event and gives MAMA_STATUS_OK; any other code runs the callback
 * now, destroys the tag and gives the callback's status. MAMA_STATUS_NULL_ARG
 * for a null manager or tag. */
mama_status corvexSynchronismManager_completeCall(CorvexSynchronismManager* manager,
                                                  CorvexCorrelationTag* tag, int32_t returnCode);
/* From a session event on the vendor context thread: callback, then the
 * tag is destroyed in its own manager. */
void corvexSynchronismManager_completeFromEvent(CorvexCorrelationTag* tag, int32_t returnCode);
void corvexSynchronismManager_destroyCorrelationTag(CorvexSynchronismManager* manager,
                                                    CorvexCorrelationTag* tag);

/* For callbacks. */
void* corvexSynchronismManager_getContextPayload(const CorvexCorrelationContext* context);
int32_t corvexSynchronismManager_getContextReturnCode(const CorvexCorrelationContext* context);

#endif /* CORVEX_BRIDGE_SYNCHRONISM_H */
