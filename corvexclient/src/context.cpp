#include "context.h"

#include <algorithm>
#include <new>

#include <sys/resource.h>

#include "clientError.h"
#include "message.h"
#include "properties.h"
#include "testControl.h"

namespace
{
constexpr uint32_t kMagicLive = 0x43545821; /* "CTX!" */
constexpr uint32_t kMagicDead = 0x44454144; /* "DEAD" */
constexpr uint64_t kDefaultQueueLimit = 65536;
constexpr size_t kBatch = 256;

thread_local bool tOnContextThread = false;

using Clock = std::chrono::steady_clock;

struct TaskNode
{
    CorvexWorkNode mNode; /* first, so the node leads back to the task */
    void (*mTask)(corvexClientSession* session, void* arg);
    void* mArg;
};

void runTaskNode(CorvexWorkNode* node)
{
    TaskNode* task = reinterpret_cast<TaskNode*>(node);
    task->mTask(node->mSession, task->mArg);
    delete task;
}

/* Answers whether the sender must wait for room. */
bool push(corvexClientContext* context, CorvexWorkNode* node, bool fromSender)
{
    node->mFromSender = fromSender;
    corvexWorkQueue_push(context->mQueue, node);
    const size_t queued = context->mQueued.fetch_add(1, std::memory_order_seq_cst) + 1;
    if (context->mThreadWaiting.load(std::memory_order_seq_cst))
    {
        /* Taking the lock orders the notify after the thread began to wait. */
        {
            std::lock_guard<std::mutex> guard(context->mLock);
        }
        context->mWake.notify_one();
    }
    if (context->mQueueLimit == 0 || queued <= context->mQueueLimit || tOnContextThread)
        return false;
    std::lock_guard<std::mutex> guard(context->mLock);
    if (context->mStopping)
        return false;
    context->mSendersWaiting.fetch_add(1);
    return true;
}

bool roomForSenders(const corvexClientContext* context)
{
    return context->mQueued.load() <= context->mQueueLimit / 2 || context->mStopping;
}

/* Wakes senders waiting for room once the queue has drained to half. */
void releaseSenders(corvexClientContext* context)
{
    if (context->mSendersWaiting.load() == 0)
        return;
    std::lock_guard<std::mutex> guard(context->mLock);
    if (roomForSenders(context))
        context->mSpace.notify_all();
}

struct DueTimer
{
    corvexClient_timer_t mId;
    corvexClient_timerCb mCallback;
    void* mUser;
    Clock::time_point mDue;
};

/* Caller holds mLock. Takes the timers that are due, rescheduling repeating
 * ones, and answers the time of the next one. */
Clock::time_point takeDueTimers(corvexClientContext* context, std::vector<DueTimer>& due)
{
    const Clock::time_point now = Clock::now();
    Clock::time_point next = Clock::time_point::max();
    for (auto it = context->mTimers.begin(); it != context->mTimers.end();)
    {
        CorvexTimer& timer = it->second;
        if (timer.mDue <= now)
        {
            due.push_back({it->first, timer.mCallback, timer.mUser, timer.mDue});
            if (timer.mMode == CORVEXCLIENT_TIMER_REPEAT)
            {
                timer.mDue = now + std::max(timer.mPeriod, std::chrono::milliseconds(1));
                next = std::min(next, timer.mDue);
                ++it;
            }
            else
            {
                it = context->mTimers.erase(it);
            }
            continue;
        }
        next = std::min(next, timer.mDue);
        ++it;
    }
    /* A thread that woke late finds several due: they fire in due order. */
    std::stable_sort(due.begin(), due.end(),
                     [](const DueTimer& a, const DueTimer& b) { return a.mDue < b.mDue; });
    return next;
}

/* Runs up to one batch of queued work; answers how many nodes ran, and in
 * fromSender whether a publishing thread of this process posted any. */
size_t runBatch(corvexClientContext* context, bool* fromSender)
{
    const size_t available = std::min(context->mQueued.load(std::memory_order_acquire), kBatch);
    size_t ran = 0;
    while (ran < available)
    {
        CorvexWorkNode* node = corvexWorkQueue_pop(context->mQueue);
        if (!node)
        {
            /* A sender is between its two steps; it finishes at once. */
            std::this_thread::yield();
            continue;
        }
        *fromSender = *fromSender || node->mFromSender;
        node->mRun(node);
        ++ran;
    }
    /* One update per batch keeps the counter's cache line with the senders. */
    if (ran > 0)
        context->mQueued.fetch_sub(ran, std::memory_order_acq_rel);
    return ran;
}

/* The processor's hint that the thread waits for memory another one writes. */
inline void cpuRelax()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#elif defined(__aarch64__)
    asm volatile("yield");
#endif
}

/* A busy sender posts again within microseconds; watching for it briefly
 * saves the sleep and wake-up that would otherwise cost each message. The
 * watch is bounded in time and makes no system call, so an idle or slow
 * sender costs one sleep per message, not a stream of yields. */
bool spinForWork(corvexClientContext* context)
{
    /* Long enough to bridge the gap between messages of a sender at
     * 10,000 msg/s, which then pays no wake-up per message. */
    constexpr auto kSpinTime = std::chrono::microseconds(120);
    const Clock::time_point until = Clock::now() + kSpinTime;
    do
    {
        for (int i = 0; i < 64; ++i)
        {
            if (context->mQueued.load(std::memory_order_acquire) > 0)
                return true;
            cpuRelax();
        }
    } while (Clock::now() < until);
    return false;
}

/* Decides, when the thread falls idle, whether it watches for its next node
 * (spinForWork) or sleeps at once. Watching spares that node a wake-up, and
 * costs nothing while a core is free for it.
 * - Under a sparse stream (slower than kSparseRate since the thread was last
 *   idle) it watches only behind publishing threads of this process. A
 *   message from the network comes from a thread that was itself woken for
 *   it: the watch would save one wake-up among several, and hold a core for
 *   most of the gap between two messages, taken from the threads that read
 *   the network.
 * - Under a dense stream on a machine whose cores are all in demand, the
 *   watching thread holds a core that the threads doing the work need (the
 *   senders, and those that consume what this thread hands on), and the
 *   next node comes soon anyway: the thread then sleeps at once. The cores
 *   count as in demand for kBackoff after the thread was last found
 *   preempted, which is looked at no more than once every kProbe. */
class IdlePolicy
{
  public:
    static constexpr double kSparseRate = 200000; /* nodes a second */
    static constexpr auto kProbe = std::chrono::milliseconds(1);
    static constexpr auto kBackoff = std::chrono::milliseconds(50);

    void ran(size_t nodes, bool fromSender)
    {
        mRan += nodes;
        mRanFromSender = mRanFromSender || fromSender;
    }

    bool mayWatch()
    {
        const Clock::time_point now = Clock::now();
        const double seconds = std::chrono::duration<double>(now - mIdleSince).count();
        const bool sparse = static_cast<double>(mRan) < kSparseRate * seconds;
        const bool fromSender = mRanFromSender;
        mRan = 0;
        mRanFromSender = false;
        mIdleSince = now;
        if (sparse)
            return fromSender;
        if (now - mProbedAt >= kProbe)
        {
            const long preempted = preemptions();
            if (preempted != mPreempted)
                mContendedUntil = now + kBackoff;
            mPreempted = preempted;
            mProbedAt = now;
        }
        return now >= mContendedUntil;
    }

  private:
    /* Times the thread was switched out while it could still run. */
    static long preemptions()
    {
        rusage usage;
        return getrusage(RUSAGE_THREAD, &usage) == 0 ? usage.ru_nivcsw : 0;
    }

    size_t mRan = 0;             /* nodes run since mIdleSince */
    bool mRanFromSender = false; /* one of them posted by a publisher of this process */
    Clock::time_point mIdleSince = Clock::now();
    long mPreempted = preemptions();
    Clock::time_point mProbedAt = Clock::now();
    Clock::time_point mContendedUntil;
};

void threadMain(corvexClientContext* context)
{
    tOnContextThread = true;
    if (context->mFuncInfo.mThreadStart)
        context->mFuncInfo.mThreadStart(context, context->mFuncInfo.mUser);

    std::vector<DueTimer> due;
    bool busy = false; /* the last round ran work */
    IdlePolicy idle;
    while (true)
    {
        Clock::time_point nextTimer;
        {
            std::lock_guard<std::mutex> guard(context->mLock);
            nextTimer = takeDueTimers(context, due);
        }
        for (const DueTimer& timer : due)
            timer.mCallback(context, timer.mId, timer.mUser);
        due.clear();

        /* Taking nodes one by one right behind a fast sender makes both
         * sides fight over the queue's cache lines; a short pause lets a
         * batch build up. Not after a sleep or a spin: the first message
         * of a quiet spell goes at once. */
        if (busy && context->mQueued.load(std::memory_order_relaxed) < kBatch / 8)
            std::this_thread::yield();
        bool fromSender = false;
        const size_t ran = runBatch(context, &fromSender);
        busy = ran > 0;
        if (busy)
        {
            idle.ran(ran, fromSender);
            releaseSenders(context);
            continue;
        }
        if (nextTimer == Clock::time_point::max() && idle.mayWatch() && spinForWork(context))
            continue;

        std::unique_lock<std::mutex> lock(context->mLock);
        if (context->mSendersWaiting.load() > 0)
            context->mSpace.notify_all();
        context->mThreadWaiting.store(true, std::memory_order_seq_cst);
        if (context->mQueued.load(std::memory_order_seq_cst) == 0)
        {
            if (context->mStopping)
                break;
            nextTimer = takeDueTimers(context, due);
            if (due.empty())
            {
                if (nextTimer == Clock::time_point::max())
                    context->mWake.wait(lock);
                else
                    context->mWake.wait_until(lock, nextTimer);
            }
        }
        context->mThreadWaiting.store(false, std::memory_order_relaxed);
    }
    context->mThreadWaiting.store(false, std::memory_order_relaxed);

    if (context->mFuncInfo.mThreadStop)
        context->mFuncInfo.mThreadStop(context, context->mFuncInfo.mUser);
}

struct WaitForTask
{
    CorvexWorkNode mNode; /* first, so the node leads back to the wait */
    void (*mTask)(corvexClientSession* session, void* arg);
    void* mArg;
    std::mutex mLock;
    std::condition_variable mDone;
    bool mFinished = false;
};

void runWaitedTask(CorvexWorkNode* node)
{
    WaitForTask* wait = reinterpret_cast<WaitForTask*>(node);
    wait->mTask(node->mSession, wait->mArg);
    std::lock_guard<std::mutex> guard(wait->mLock);
    wait->mFinished = true;
    wait->mDone.notify_all();
}
} // namespace

bool corvexContext_isValid(const corvexClientContext* context)
{
    return context->mMagic == kMagicLive;
}

bool corvexContext_onThread(const corvexClientContext* context)
{
    return std::this_thread::get_id() == context->mThreadId;
}

bool corvexContext_onAnyContextThread()
{
    return tOnContextThread;
}

bool corvexContext_postMsg(corvexClientContext* context, corvexClientSession* session,
                           corvexClientMsg* msg, void (*deliver)(CorvexWorkNode* node),
                           bool fromSender)
{
    msg->mNode.mSession = session;
    msg->mNode.mRun = deliver;
    return push(context, &msg->mNode, fromSender);
}

bool corvexContext_postTask(corvexClientContext* context, corvexClientSession* session,
                            void (*task)(corvexClientSession* session, void* arg), void* arg)
{
    TaskNode* node = new (std::nothrow) TaskNode{};
    if (!node)
        return false;
    node->mNode.mSession = session;
    node->mNode.mRun = runTaskNode;
    node->mTask = task;
    node->mArg = arg;
    /* Tasks come from control calls, which are never held back. */
    if (push(context, &node->mNode, false))
        corvexContext_cancelWait(context);
    return true;
}

void corvexContext_waitForRoom(corvexClientContext* context)
{
    std::unique_lock<std::mutex> lock(context->mLock);
    context->mSpace.wait(lock, [context] { return roomForSenders(context); });
    if (context->mSendersWaiting.fetch_sub(1) == 1 && context->mStopping)
        context->mSpace.notify_all();
}

void corvexContext_cancelWait(corvexClientContext* context)
{
    std::lock_guard<std::mutex> guard(context->mLock);
    if (context->mSendersWaiting.fetch_sub(1) == 1 && context->mStopping)
        context->mSpace.notify_all();
}

void corvexWaitList_add(CorvexWaitList* list, corvexClientContext* context)
{
    for (size_t i = 0; i < list->mCount; ++i)
    {
        if (list->mContexts[i] == context)
        {
            corvexContext_cancelWait(context);
            return;
        }
    }
    if (list->mCount == sizeof(list->mContexts) / sizeof(list->mContexts[0]))
    {
        corvexContext_cancelWait(context);
        return;
    }
    list->mContexts[list->mCount++] = context;
}

void corvexWaitList_wait(CorvexWaitList* list)
{
    for (size_t i = 0; i < list->mCount; ++i)
        corvexContext_waitForRoom(list->mContexts[i]);
    list->mCount = 0;
}

void corvexContext_runAndWait(corvexClientContext* context, corvexClientSession* session,
                              void (*task)(corvexClientSession* session, void* arg), void* arg)
{
    if (corvexContext_onThread(context))
    {
        task(session, arg);
        return;
    }
    WaitForTask wait;
    wait.mNode.mSession = session;
    wait.mNode.mRun = runWaitedTask;
    wait.mTask = task;
    wait.mArg = arg;
    if (push(context, &wait.mNode, false))
        corvexContext_cancelWait(context);
    std::unique_lock<std::mutex> lock(wait.mLock);
    wait.mDone.wait(lock, [&wait] { return wait.mFinished; });
}

void corvexContext_addSession(corvexClientContext* context, corvexClientSession* session,
                              void (*destroy)(corvexClientSession* session))
{
    std::lock_guard<std::mutex> guard(context->mSessionsLock);
    context->mSessions.push_back({session, destroy});
}

void corvexContext_removeSession(corvexClientContext* context, corvexClientSession* session)
{
    std::lock_guard<std::mutex> guard(context->mSessionsLock);
    auto& sessions = context->mSessions;
    sessions.erase(std::remove_if(sessions.begin(), sessions.end(),
                                  [session](const CorvexContextSession& entry)
                                  { return entry.mSession == session; }),
                   sessions.end());
}

void corvexContext_destroy(corvexClientContext* context)
{
    while (true)
    {
        CorvexContextSession last;
        {
            std::lock_guard<std::mutex> guard(context->mSessionsLock);
            if (context->mSessions.empty())
                break;
            last = context->mSessions.back();
        }
        last.mDestroy(last.mSession);
    }

    {
        std::unique_lock<std::mutex> lock(context->mLock);
        context->mStopping = true;
        context->mTimers.clear();
        context->mSpace.notify_all();
        context->mWake.notify_one();
        context->mSpace.wait(lock, [context] { return context->mSendersWaiting.load() == 0; });
    }
    context->mThread.join();
    context->mMagic = kMagicDead;
    delete context;
}

corvexClient_returnCode_t
corvexContext_create(const char** properties, const corvexClient_context_createFuncInfo_t* funcInfo,
                     corvexClientContext** context)
{
    CorvexPropertyList list;
    corvexClient_returnCode_t code = corvexProperties_copy(properties, &list);
    if (code != CORVEXCLIENT_OK)
        return code;
    bool createThread = true;
    uint64_t limit = kDefaultQueueLimit;
    code = corvexProperties_getBool(list, CORVEXCLIENT_CONTEXT_PROP_CREATE_THREAD, &createThread);
    if (code == CORVEXCLIENT_OK)
        code = corvexProperties_getUnsigned(list, CORVEXCLIENT_CONTEXT_PROP_QUEUE_LIMIT, 1,
                                            INT32_MAX, &limit);
    if (code != CORVEXCLIENT_OK)
        return code;
    if (!createThread)
        return corvexError_set(CORVEXCLIENT_FAIL, CORVEXCLIENT_SUBCODE_BAD_PROPERTY_VALUE, 0,
                               "\"%s\" must be \"1\": every context has its own thread",
                               CORVEXCLIENT_CONTEXT_PROP_CREATE_THREAD);

    corvexClientContext* created = new (std::nothrow) corvexClientContext();
    if (!created)
        return corvexError_fail(CORVEXCLIENT_SUBCODE_NO_MEMORY);
    created->mMagic = kMagicLive;
    created->mFuncInfo = funcInfo ? *funcInfo : corvexClient_context_createFuncInfo_t{};
    created->mQueueLimit = static_cast<size_t>(limit);
    created->mStopping = false;
    created->mNextTimerId = 1;
    try
    {
        created->mThread = std::thread(threadMain, created);
    }
    catch (const std::system_error&)
    {
        delete created;
        return corvexError_fail(CORVEXCLIENT_SUBCODE_THREAD_FAILURE);
    }
    created->mThreadId = created->mThread.get_id();
    *context = created;
    return CORVEXCLIENT_OK;
}

extern "C"
{

    corvexClient_returnCode_t corvexClient_context_startTimer(corvexClient_context_t context,
                                                              int32_t mode, uint32_t durationMs,
                                                              corvexClient_timerCb callback,
                                                              void* user,
                                                              corvexClient_timer_t* timer)
    {
        CORVEX_TEST_HOOK("corvexClient_context_startTimer", "mode=%d durationMs=%u user=%p", mode,
                         durationMs, user);
        if (!context || !callback)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
        if (!corvexContext_isValid(context) ||
            (mode != CORVEXCLIENT_TIMER_ONE_SHOT && mode != CORVEXCLIENT_TIMER_REPEAT))
            return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_ARGUMENT);
        const std::chrono::milliseconds period(durationMs);
        bool wake;
        {
            std::lock_guard<std::mutex> guard(context->mLock);
            if (context->mStopping)
                return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_STATE);
            const corvexClient_timer_t id = context->mNextTimerId++;
            context->mTimers[id] = CorvexTimer{callback, user, mode, period, Clock::now() + period};
            if (timer)
                *timer = id;
            wake = context->mThreadWaiting.load();
        }
        if (wake)
            context->mWake.notify_one();
        return CORVEXCLIENT_OK;
    }

    corvexClient_returnCode_t corvexClient_context_stopTimer(corvexClient_context_t context,
                                                             corvexClient_timer_t* timer)
    {
        CORVEX_TEST_HOOK("corvexClient_context_stopTimer", "timer=%llu",
                         timer ? static_cast<unsigned long long>(*timer) : 0ULL);
        if (!context || !timer)
            return corvexError_fail(CORVEXCLIENT_SUBCODE_NULL_ARGUMENT);
        if (!corvexContext_isValid(context))
            return corvexError_fail(CORVEXCLIENT_SUBCODE_BAD_ARGUMENT);
        std::lock_guard<std::mutex> guard(context->mLock);
        const bool found = context->mTimers.erase(*timer) > 0;
        *timer = 0;
        return found ? CORVEXCLIENT_OK : CORVEXCLIENT_NOT_FOUND;
    }
}
