#define CORVEX_LOG_MODULE "synchronism"

#include "synchronism.h"

#include <stdlib.h>

#include "logging.h"

namespace
{
void unlinkTag(CorvexSynchronismManager* manager, CorvexCorrelationTag* tag)
{
    if (tag->mPrev != NULL)
    {
        tag->mPrev->mNext = tag->mNext;
    }
    else
    {
        manager->mTags = tag->mNext;
    }
    if (tag->mNext != NULL)
    {
        tag->mNext->mPrev = tag->mPrev;
    }
    else
    {
        manager->mLastTag = tag->mPrev;
    }
}

bool isListed(const CorvexSynchronismManager* manager, const CorvexCorrelationTag* tag)
{
    for (const CorvexCorrelationTag* each = manager->mTags; NULL != each; each = each->mNext)
    {
        if (each == tag)
        {
            return true;
        }
    }
    return false;
}

void finish(CorvexSynchronismManager* manager)
{
    pthread_cond_destroy(&manager->mTagsChanged);
    pthread_mutex_destroy(&manager->mLock);
    manager->mIsInitialised = 0;
}

mama_status runCallback(CorvexCorrelationTag* tag, int fromSessionEvent, int32_t returnCode)
{
    CorvexSynchronismManager* manager = tag->mManager;
    pthread_mutex_lock(&manager->mLock);
    tag->mIsRunning = 1;
    pthread_mutex_unlock(&manager->mLock);
    CorvexCorrelationContext context = {tag, returnCode};
    return tag->mCallback != NULL ? tag->mCallback(fromSessionEvent, &context) : MAMA_STATUS_OK;
}
} // namespace

int corvexSynchronismManager_init(CorvexSynchronismManager* manager)
{
    if (manager == NULL)
    {
        return 0;
    }
    manager->mTags = NULL;
    manager->mLastTag = NULL;
    manager->mIsClosed = 0;
    if (pthread_mutex_init(&manager->mLock, NULL) != 0)
    {
        return 0;
    }
    if (pthread_cond_init(&manager->mTagsChanged, NULL) != 0)
    {
        pthread_mutex_destroy(&manager->mLock);
        return 0;
    }
    manager->mIsInitialised = 1;
    return 1;
}

void corvexSynchronismManager_destroy(CorvexSynchronismManager* manager)
{
    if (manager == NULL || !manager->mIsInitialised)
    {
        return;
    }
    pthread_mutex_lock(&manager->mLock);
    if (manager->mIsClosed)
    {
        pthread_mutex_unlock(&manager->mLock);
        return;
    }
    manager->mIsClosed = 1;
    /* Outstanding tags are completed on the vendor context thread; none of
     * them needs this thread, so the wait ends once the vendor has reported. */
    while (manager->mTags != NULL)
    {
        pthread_cond_wait(&manager->mTagsChanged, &manager->mLock);
    }
    pthread_mutex_unlock(&manager->mLock);
    finish(manager);
}

int corvexSynchronismManager_close(CorvexSynchronismManager* manager,
                                   CorvexSynchronismEmptyCallback onEmpty, void* owner)
{
    if (manager == NULL || !manager->mIsInitialised)
    {
        return 1;
    }
    pthread_mutex_lock(&manager->mLock);
    manager->mIsClosed = 1;
    bool empty = manager->mTags == NULL;
    if (!empty)
    {
        manager->mOnEmpty = onEmpty;
        manager->mOwner = owner;
    }
    pthread_mutex_unlock(&manager->mLock);
    if (empty)
    {
        finish(manager);
    }
    return empty ? 1 : 0;
}

int corvexSynchronismManager_abandon(CorvexSynchronismManager* manager,
                                     CorvexCorrelationCallback callback)
{
    if (manager == NULL || !manager->mIsInitialised)
    {
        return 0;
    }
    int dropped = 0;
    CorvexCorrelationTag* forgotten = NULL;
    pthread_mutex_lock(&manager->mLock);
    CorvexCorrelationTag* tag = manager->mTags;
    while (tag != NULL)
    {
        CorvexCorrelationTag* next = tag->mNext;
        if ((callback == NULL || tag->mCallback == callback) && !tag->mIsRunning)
        {
            unlinkTag(manager, tag);
            tag->mNext = forgotten;
            forgotten = tag;
            ++dropped;
        }
        tag = next;
    }
    pthread_mutex_unlock(&manager->mLock);
    /* Unlinked, the tags are nobody else's. */
    while (forgotten != NULL)
    {
        CorvexCorrelationTag* next = forgotten->mNext;
        if (forgotten->mForget != NULL)
        {
            forgotten->mForget(forgotten->mPayload);
        }
        free(forgotten);
        forgotten = next;
    }
    pthread_mutex_lock(&manager->mLock);
    pthread_cond_broadcast(&manager->mTagsChanged);
    pthread_mutex_unlock(&manager->mLock);
    return dropped;
}

void corvexSynchronismManager_setTagForget(CorvexCorrelationTag* tag,
                                           CorvexCorrelationForget forget)
{
    if (tag == NULL)
    {
        return;
    }
    pthread_mutex_lock(&tag->mManager->mLock);
    tag->mForget = forget;
    pthread_mutex_unlock(&tag->mManager->mLock);
}

CorvexCorrelationTag*
corvexSynchronismManager_createCorrelationTag(CorvexSynchronismManager* manager,
                                              CorvexCorrelationCallback callback)
{
    if (manager == NULL || callback == NULL || !manager->mIsInitialised)
    {
        return NULL;
    }
    CorvexCorrelationTag* tag = NULL;
    pthread_mutex_lock(&manager->mLock);
    if (!manager->mIsClosed)
    {
        tag = (CorvexCorrelationTag*)calloc(1, sizeof(CorvexCorrelationTag));
        if (tag != NULL)
        {
            tag->mManager = manager;
            tag->mCallback = callback;
            tag->mPrev = manager->mLastTag;
            if (manager->mLastTag != NULL)
            {
                manager->mLastTag->mNext = tag;
            }
            else
            {
                manager->mTags = tag;
            }
            manager->mLastTag = tag;
        }
    }
    pthread_mutex_unlock(&manager->mLock);
    return tag;
}

void* corvexSynchronismManager_getTagPayload(CorvexCorrelationTag* tag)
{
    return tag != NULL ? tag->mPayload : NULL;
}

mama_status corvexSynchronismManager_completeCall(CorvexSynchronismManager* manager,
                                                  CorvexCorrelationTag* tag, int32_t returnCode)
{
    if (manager == NULL || tag == NULL)
    {
        return MAMA_STATUS_NULL_ARG;
    }
    if (returnCode == CORVEXCLIENT_IN_PROGRESS)
    {
        /* The tag belongs to the session event from now on; it may already
         * be gone, so it is not read here. */
        return MAMA_STATUS_OK;
    }
    mama_status status = runCallback(tag, 0, returnCode);
    corvexSynchronismManager_destroyCorrelationTag(manager, tag);
    return status;
}

void corvexSynchronismManager_completeFromEvent(CorvexCorrelationTag* tag, int32_t returnCode)
{
    if (tag == NULL)
    {
        return;
    }
    runCallback(tag, 1, returnCode);
    corvexSynchronismManager_destroyCorrelationTag(tag->mManager, tag);
}

void corvexSynchronismManager_destroyCorrelationTag(CorvexSynchronismManager* manager,
                                                    CorvexCorrelationTag* tag)
{
    if (manager == NULL || tag == NULL || !manager->mIsInitialised)
    {
        return;
    }
    pthread_mutex_lock(&manager->mLock);
    if (isListed(manager, tag))
    {
        unlinkTag(manager, tag);
        free(tag);
    }
    else
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "%s: Cannot find correlation tag %p in manager %p",
                   "corvexSynchronismManager_destroyCorrelationTag", (void*)tag, (void*)manager);
    }
    /* Signalled under the lock: a waiting destroy may free the manager as
     * soon as it gets the lock back. */
    pthread_cond_broadcast(&manager->mTagsChanged);
    CorvexSynchronismEmptyCallback onEmpty = NULL;
    void* owner = NULL;
    if (manager->mTags == NULL && manager->mOnEmpty != NULL)
    {
        onEmpty = manager->mOnEmpty;
        owner = manager->mOwner;
        manager->mOnEmpty = NULL;
    }
    pthread_mutex_unlock(&manager->mLock);
    if (onEmpty != NULL)
    {
        /* Closed and now empty: nobody else can reach the manager. */
        finish(manager);
        onEmpty(owner);
    }
}

void* corvexSynchronismManager_getContextPayload(const CorvexCorrelationContext* context)
{
    return context != NULL ? corvexSynchronismManager_getTagPayload(context->mTag) : NULL;
}

int32_t corvexSynchronismManager_getContextReturnCode(const CorvexCorrelationContext* context)
{
    return context != NULL ? context->mReturnCode : CORVEXCLIENT_FAIL;
}
