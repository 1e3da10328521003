#include "wombat/destroyHandle.h"

#include <cstdlib>

extern "C" {

pDestroyHandle destroyHandle_create (void* owner)
{
    auto* handle = static_cast<pDestroyHandle> (std::calloc (1, sizeof (wDestroyHandle)));
    if (handle == nullptr)
        return nullptr;

    handle->m_lock = wlock_create ();
    if (handle->m_lock == nullptr)
    {
        std::free (handle);
        return nullptr;
    }
    handle->m_owner = owner;
    return handle;
}

void destroyHandle_incrementRefCount (pDestroyHandle handle)
{
    if (handle == nullptr)
        return;
    wlock_lock (handle->m_lock);
    ++handle->m_numberReferences;
    wlock_unlock (handle->m_lock);
}

static void destroyHandle_free (pDestroyHandle handle)
{
    wlock_destroy (handle->m_lock);
    std::free (handle);
}

void* destroyHandle_removeReference (pDestroyHandle handle)
{
    if (handle == nullptr)
        return nullptr;

    wlock_lock (handle->m_lock);
    if (handle->m_numberReferences > 0)
        --handle->m_numberReferences;

    if (handle->m_destroyed == 0)
    {
        void* owner = handle->m_owner;
        wlock_unlock (handle->m_lock);
        return owner;
    }

    // The owner is gone: the last reference holder disposes of the handle.
    // The lock is released on every path so that the remaining holders can
    // still give up their references.
    const bool last = handle->m_numberReferences == 0;
    wlock_unlock (handle->m_lock);
    if (last)
        destroyHandle_free (handle);
    return nullptr;
}

void destroyHandle_destroyOwner (pDestroyHandle handle)
{
    if (handle == nullptr)
        return;

    wlock_lock (handle->m_lock);
    handle->m_destroyed = 1;
    const bool unreferenced = handle->m_numberReferences == 0;
    wlock_unlock (handle->m_lock);
    if (unreferenced)
        destroyHandle_free (handle);
}

} // extern "C"
