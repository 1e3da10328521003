/* Platform layer for Linux: threads, locks, sockets and shared libraries.
 * On Linux these are thin macros over POSIX so that code written for the
 * Windows build (where they are real functions) compiles unchanged. */
#ifndef WOMBAT_PORT_H
#define WOMBAT_PORT_H

#include <dlfcn.h>
#include <pthread.h>
#include <sched.h>
#include <stdint.h>
#include <sys/time.h>
#include <unistd.h>

#if defined(__cplusplus)
extern "C" {
#endif

/* Calling-convention and export decorations only matter on Windows. */
#define COMMONExpDLL
#define MAMAExpDLL
#define MAMACALLTYPE

#define PATHSEP  ":"
#define PATH_DELIM '/'

#define LIB_HANDLE void*

#define INVALID_THREAD (-1)

/* Threads */
#define wthread_t               pthread_t
#define wthread_attr_t          pthread_attr_t
#define wthread_attr_init       pthread_attr_init
#define wthread_attr_destroy    pthread_attr_destroy
#define wthread_attr_setdetachstate pthread_attr_setdetachstate
#define wthread_create(h, atts, func, arg) pthread_create((h), (atts), (func), (arg))
#define wthread_join            pthread_join
#define wthread_detach          pthread_detach
#define wthread_self            pthread_self
#define wthread_equal           pthread_equal
#define wthread_exit            pthread_exit
#define wthread_yield           sched_yield
#define wGetCurrentThreadId     pthread_self

#define wthread_once_t          pthread_once_t
#define WTHREAD_ONCE_INIT       PTHREAD_ONCE_INIT
#define wthread_once            pthread_once

/* Thread-specific data */
#define wthread_key_t           pthread_key_t
#define wthread_key_create      pthread_key_create
#define wthread_key_delete      pthread_key_delete
#define wthread_setspecific     pthread_setspecific
#define wthread_getspecific     pthread_getspecific

/* Mutexes and condition variables */
#define wthread_mutex_t         pthread_mutex_t
#define wthread_mutex_init      pthread_mutex_init
#define wthread_mutex_lock      pthread_mutex_lock
#define wthread_mutex_unlock    pthread_mutex_unlock
#define wthread_mutex_destroy   pthread_mutex_destroy
#define wthread_mutexattr_t     pthread_mutexattr_t
#define wthread_mutexattr_init  pthread_mutexattr_init
#define wthread_mutexattr_settype pthread_mutexattr_settype
#define wthread_mutexattr_destroy pthread_mutexattr_destroy
#define WTHREAD_MUTEX_RECURSIVE PTHREAD_MUTEX_RECURSIVE

#define wthread_cond_t          pthread_cond_t
#define wthread_cond_init       pthread_cond_init
#define wthread_cond_wait       pthread_cond_wait
#define wthread_cond_timedwait  pthread_cond_timedwait
#define wthread_cond_signal     pthread_cond_signal
#define wthread_cond_broadcast  pthread_cond_broadcast
#define wthread_cond_destroy    pthread_cond_destroy

/* A statically initialised lock that the owning thread may take again.
 * The recursive initialiser is a GNU extension; without it the lock is a
 * plain mutex. */
#define wthread_static_mutex_t  pthread_mutex_t
#if defined(PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP)
#define WSTATIC_MUTEX_INITIALIZER PTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP
#else
#define WSTATIC_MUTEX_INITIALIZER PTHREAD_MUTEX_INITIALIZER
#endif
#define wthread_static_mutex_lock   pthread_mutex_lock
#define wthread_static_mutex_unlock pthread_mutex_unlock

/* Sockets need no start-up on POSIX; both evaluate to 0 so that callers
 * written as `if (wsocketstartup () < 0)` compile and succeed. */
#define wsocketstartup()        (0)
#define wsocketcleanup()        (0)

/* Shared libraries */
#define wdlopen                 dlopen
#define wdlsym                  dlsym
#define wdlclose                dlclose
#define wdlerror                dlerror

#if defined(__cplusplus)
}
#endif

#endif /* WOMBAT_PORT_H */
