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
    std::vector<corvexClientSession*> mSessions;

    std::thread mThread;
    std::thread::id mThreadId;
};

bool corvexContext_isValid(const corvexClientContext* context);

/* True on the thread of this context. */
bool corvexContext_onThread(const corvexClientContext* context);

/* True on the thread of any context: such threads never wait for room. */
bool corvexContext_onAnyContextThread();

/* Queues a received message for the session (never blocks). Answers true
 * when the queue is over its limit and the caller should wait for room: the
 * caller has then been counted as a waiter and must call
 * corvexContext_waitForRoom (or corvexContext_cancelWait) once its locks are
 * released. */
bool corvexContext_postMsg(corvexClientContext* context, corvexClientSession* session,
                           corvexClientMsg* msg);

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

void corvexContext_addSession(corvexClientContext* context, corvexClientSession* session);
void corvexContext_removeSession(corvexClientContext* context, corvexClientSession* session);

/* Destroys the context from any thread but its own (library cleanup). */
void corvexContext_destroy(corvexClientContext* context);

#endif
