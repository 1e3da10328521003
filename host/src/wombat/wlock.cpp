#include "wombat/wlock.h"

#include <cstdlib>

namespace {

struct WombatLock
{
    pthread_mutex_t mMutex;
};

} // namespace

extern "C" {

wLock wlock_create (void)
{
    auto* lock = static_cast<WombatLock*> (std::calloc (1, sizeof (WombatLock)));
    if (lock == nullptr)
        return nullptr;

    pthread_mutexattr_t attr;
    pthread_mutexattr_init (&attr);
    pthread_mutexattr_settype (&attr, PTHREAD_MUTEX_RECURSIVE);
    const int rc = pthread_mutex_init (&lock->mMutex, &attr);
    pthread_mutexattr_destroy (&attr);
    if (rc != 0)
    {
        std::free (lock);
        return nullptr;
    }
    return lock;
}

void wlock_destroy (wLock lock)
{
    if (lock == nullptr)
        return;
    auto* impl = static_cast<WombatLock*> (lock);
    pthread_mutex_destroy (&impl->mMutex);
    std::free (impl);
}

void wlock_lock (wLock lock)
{
    if (lock != nullptr)
        pthread_mutex_lock (&static_cast<WombatLock*> (lock)->mMutex);
}

void wlock_unlock (wLock lock)
{
    if (lock != nullptr)
        pthread_mutex_unlock (&static_cast<WombatLock*> (lock)->mMutex);
}

} // extern "C"
