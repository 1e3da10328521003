/* Contexts: one thread that runs every callback of the context's sessions,
 * fed by a queue of work, plus one-shot and repeating timers. */
#ifndef CORVEXCLIENT_CONTEXT_H
#define CORVEXCLIENT_CONTEXT_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "corvexClient.h"
#include "workQueue.h"

struct CorvexTimer
{
    corvexClient_timerCb mCallback;
    void* mUser;
    int32_t mMode;
    std::chrono::milliseconds mPeriod;
    std::chrono::steady_clock::time_point mDue;
};

/* A session on the context, with what destroys it when the context goes
 * first. */
struct CorvexContextSession
{
    corvexClientSession* mSession;
    void (*mDestroy)(corvexClientSession* session);
};

struct corvexClientContext
{
    uint32_t mMagic;
    corvexClient_context_createFuncInfo_t mFuncInfo;
    size_t mQueueLimit; /* 0: none */

    /* Written by different sides at message rate: each on its own cache line. */
    alignas(64) CorvexWorkQueue mQueue;
    alignas(64) std::atomic<size_t> mQueued;      /* nodes pushed and not yet run */
    alignas(64) std::atomic<bool> mThreadWaiting; /* the thread sleeps on mWake */
    std::atomic<uint32_t> mSendersWaiting;

    /* Guards sleeping and waking, timers and stopping. */
    alignas(64) std::mutex mLock;
    std::condition_variable mWake;  /* the context thread waits for work */
    std::condition_variable mSpace; /* senders wait for the queue to drain */
    bool mStopping;
    std::map<corvexClient_timer_t, CorvexTimer> mTimers;
    corvexClient_timer_t mNextTimerId;

    std::mutex mSessionsLock;
    std::vector<CorvexContextSession> mSessions;

    std::thread mThread;
    std::thread::id mThreadId;
};

/* Creates a context and starts its thread (properties as given to
 * corvexClient_context_create). */
corvexClient_returnCode_t
corvexContext_create(const char** properties, const corvexClient_context_createFuncInfo_t* funcInfo,
                     corvexClientContext** context);

bool corvexContext_isValid(const corvexClientContext* context);

/* True on the thread of this context. */
bool corvexContext_onThread(const corvexClientContext* context);

/* True on the thread of any context: such threads never wait for room. */
bool corvexContext_onAnyContextThread();

/* Queues a received message for the session (never blocks); the context
 * thread hands its node to deliver. fromSender tells a message posted by a
 * publishing thread of this process from one a network thread received.
 * Answers true when the queue is over its limit and the caller should wait
 * for room: the caller has then been counted as a waiter and must call
 * corvexContext_waitForRoom (or corvexContext_cancelWait) once its locks are
 * released. */
bool corvexContext_postMsg(corvexClientContext* context, corvexClientSession* session,
                           corvexClientMsg* msg, void (*deliver)(CorvexWorkNode* node),
                           bool fromSender);

/* Queues a task for the thread; it runs exactly once, also while its session
 * is being destroyed, so it can free its argument. False when memory is
 * short (the task will not run). */
bool corvexContext_postTask(corvexClientContext* context, corvexClientSession* session,
                            void (*task)(corvexClientSession* session, void* arg), void* arg);

void corvexContext_waitForRoom(corvexClientContext* context);

/* Gives up a wait that corvexContext_postMsg counted. */
void corvexContext_cancelWait(corvexClientContext* context);

/* Runs task on the context thread and returns when it has run (at once when
 * called on that thread). */
void corvexContext_runAndWait(corvexClientContext* context, corvexClientSession* session,
                              void (*task)(corvexClientSession* session, void* arg), void* arg);

/* Contexts a sender must wait on, once its locks are released, because it
 * filled their queues (see corvexContext_postMsg). */
struct CorvexWaitList
{
    corvexClientContext* mContexts[4];
    size_t mCount;
};

/* Records that the sender must wait on the context; a full list drops the
 * extra wait (and its count on the context). */
void corvexWaitList_add(CorvexWaitList* list, corvexClientContext* context);
void corvexWaitList_wait(CorvexWaitList* list);

/* destroy is how context destroy ends a session still on it. */
void corvexContext_addSession(corvexClientContext* context, corvexClientSession* session,
                              void (*destroy)(corvexClientSession* session));
void corvexContext_removeSession(corvexClientContext* context, corvexClientSession* session);

/* Destroys the context, and the sessions still on it, from any thread but
 * its own. */
void corvexContext_destroy(corvexClientContext* context);

#endif
