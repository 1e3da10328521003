#define CORVEX_LOG_MODULE "bridgeTls"

#include "bridgeTls.h"

#include <pthread.h>
#include <stdlib.h>
#include <string.h>

#include "logging.h"

namespace
{
pthread_key_t gKey;
bool gKeyValid = false;

void freeBlock(void* block)
{
    CorvexThreadStorage* storage = static_cast<CorvexThreadStorage*>(block);
    if (storage->mCurrentSubscription != NULL)
    {
        destroyHandle_removeReference(storage->mCurrentSubscription);
    }
    free(block);
}

/* The thread-exit notification: pthread runs the key's destructor for every
 * thread that still holds a block. */
void releaseCallingThreadBlock(void)
{
    void* block = pthread_getspecific(gKey);
    if (block != NULL)
    {
        pthread_setspecific(gKey, NULL);
        freeBlock(block);
    }
}

__attribute__((constructor)) void onLibraryLoad(void)
{
    corvexBridgeTls_onProcessOrThreadEvent(CORVEX_TLS_PROCESS_ATTACH);
}

/* Deleting the key at unload also keeps pthread from calling a destructor
 * that is no longer mapped when a thread ends later. */
__attribute__((destructor)) void onLibraryUnload(void)
{
    corvexBridgeTls_onProcessOrThreadEvent(CORVEX_TLS_PROCESS_DETACH);
}
} // namespace

void corvexBridgeTls_onProcessOrThreadEvent(int reason)
{
    switch (reason)
    {
    case CORVEX_TLS_PROCESS_ATTACH:
        if (!gKeyValid && pthread_key_create(&gKey, freeBlock) == 0)
        {
            gKeyValid = true;
        }
        break;
    case CORVEX_TLS_THREAD_DETACH:
    case CORVEX_TLS_PROCESS_DETACH:
        if (gKeyValid)
        {
            releaseCallingThreadBlock();
            if (reason == CORVEX_TLS_PROCESS_DETACH)
            {
                pthread_key_delete(gKey);
                gKeyValid = false;
            }
        }
        break;
    default:
        break;
    }
}

CorvexThreadStorage* corvexBridgeTls_get(void)
{
    if (!gKeyValid)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Invalid TLS key/index=%d", -1);
        return NULL;
    }

    CorvexThreadStorage* block = (CorvexThreadStorage*)pthread_getspecific(gKey);
    if (block != NULL)
    {
        return block;
    }

    void* memory = NULL;
    if (posix_memalign(&memory, 16, sizeof(CorvexThreadStorage)) != 0)
    {
        CORVEX_LOG(CORVEX_LOG_ERROR, "Could not allocate %d bytes for thread storage",
                   (int)sizeof(CorvexThreadStorage));
        return NULL;
    }
    memset(memory, 0, sizeof(CorvexThreadStorage));
    if (pthread_setspecific(gKey, memory) != 0)
    {
        free(memory);
        CORVEX_LOG(CORVEX_LOG_ERROR, "Could not set thread local storage");
        return NULL;
    }
    return (CorvexThreadStorage*)memory;
}
