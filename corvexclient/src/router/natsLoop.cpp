#include "router/natsLoop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;

constexpr int kMaxEvents = 64;
/* A connection writes at most once in this time: what is sent sooner
 * after a write gathers for the next, which the loop makes. A stream
 * sparser than that is written message by message, by its senders. */
constexpr auto kWriteGap = std::chrono::microseconds(50);

/* One connection on the loop. The NATS client calls its callbacks with the
 * connection's lock held, except detach; mLock serialises them with the
 * loop's and the senders' look at the entry. */
struct LoopEntry
{
    CorvexNatsLoop* mLoop;
    const CorvexNatsLoopBinding* mBinding;
    natsConnection* mConnection;
    std::mutex mLock;
    int mFd = -1;
    uint32_t mInterest = 0;   /* EPOLLIN, EPOLLOUT: what the epoll set has */
    bool mRegistered = false; /* mFd is in the epoll set */
    /* The client asked for its buffer to be written and has not yet been
     * told that all of it was (nothing is buffered otherwise: a write with
     * nothing to write would close the connection). */
    bool mWriteWanted = false;
    bool mWriting = false; /* one thread writes at a time */
    bool mDetached = false;
    bool mGathering = false; /* under the loop's mLock: in its mGathering */
    /* When the last write began, in the steady clock's ticks. */
    std::atomic<int64_t> mLastWrite{0};
    /* Writes that left less unwritten than before, for the senders that
     * wait for room. */
    std::atomic<uint64_t> mProgress{0};
};
} // namespace

struct CorvexNatsLoop
{
    int mEpoll = -1;
    int mWake = -1; /* eventfd */
    std::thread mThread;
    std::mutex mLock; /* guards the fields below */
    std::condition_variable mPassed;
    std::condition_variable mRoom;
    std::unordered_map<natsConnection*, LoopEntry*> mEntries;
    /* Detached entries, freed by the loop between two rounds of events:
     * an event of the round under way may still point to one. */
    std::vector<LoopEntry*> mDetached;
    /* Connections whose held writes the loop makes at mGatherDue. */
    std::vector<LoopEntry*> mGathering;
    Clock::time_point mGatherDue;
    uint64_t mRounds = 0;
    bool mStopping = false;
    std::atomic<int> mRoomWaiters{0};
    /* Entries reach the loop through the epoll set, made on other threads:
     * counting each one made, and reading the count after each wait,
     * orders the making before the loop's use in the language's memory
     * model too (which knows nothing of the kernel's ordering). */
    std::atomic<uint64_t> mMade{0};
};

namespace
{
/* Set on a thread during a send: the entry whose write it held back. */
thread_local bool tHoldingWrites = false;
thread_local LoopEntry* tHeldWrite = nullptr;

void wake(CorvexNatsLoop* loop)
{
    const uint64_t one = 1;
    (void)!write(loop->mWake, &one, sizeof(one));
}

/* Caller holds entry->mLock. Brings the epoll set in line with interest; a
 * socket asked for nothing leaves the set, so that the client may close
 * it. */
natsStatus setInterest(LoopEntry* entry, uint32_t interest)
{
    if (entry->mFd < 0 || (interest == entry->mInterest && (entry->mRegistered || interest == 0)))
        return NATS_OK;
    entry->mInterest = interest;
    epoll_event event{};
    event.events = interest;
    event.data.ptr = entry;
    int result = 0;
    if (interest == 0)
    {
        /* The client closes the socket next: its number may soon be
         * another's. */
        if (entry->mRegistered)
            result = epoll_ctl(entry->mLoop->mEpoll, EPOLL_CTL_DEL, entry->mFd, nullptr);
        entry->mRegistered = false;
        entry->mFd = -1;
    }
    else if (entry->mRegistered)
        result = epoll_ctl(entry->mLoop->mEpoll, EPOLL_CTL_MOD, entry->mFd, &event);
    else
    {
        result = epoll_ctl(entry->mLoop->mEpoll, EPOLL_CTL_ADD, entry->mFd, &event);
        entry->mRegistered = result == 0;
    }
    return result == 0 ? NATS_OK : NATS_IO_ERROR;
}

/* Caller holds entry->mLock. A write still wanted after a thread wrote:
 * the loop makes it as soon as the socket takes more. */
void writeWhenWritable(LoopEntry* entry)
{
    if (entry->mWriteWanted && !entry->mDetached)
        setInterest(entry, entry->mInterest | EPOLLOUT);
}

/* A (re)connected socket: reading starts at once. */
natsStatus onAttach(void** userData, void* loopData, natsConnection* connection, natsSock socket)
{
    const CorvexNatsLoopBinding* binding = static_cast<const CorvexNatsLoopBinding*>(loopData);
    CorvexNatsLoop* loop = binding->mLoop;
    LoopEntry* entry = static_cast<LoopEntry*>(*userData);
    const bool reattached = entry != nullptr;
    if (!entry)
    {
        entry = new (std::nothrow) LoopEntry();
        if (!entry)
            return NATS_NO_MEMORY;
        entry->mLoop = loop;
        entry->mBinding = binding;
        entry->mConnection = connection;
        std::lock_guard<std::mutex> guard(loop->mLock);
        loop->mEntries[connection] = entry;
        loop->mMade.fetch_add(1, std::memory_order_release);
    }
    natsStatus status = NATS_OK;
    {
        std::lock_guard<std::mutex> guard(entry->mLock);
        setInterest(entry, 0);
        entry->mFd = static_cast<int>(socket);
        entry->mWriteWanted = false;
        status = setInterest(entry, EPOLLIN);
    }
    if (status != NATS_OK)
        return status;
    *userData = entry;
    if (reattached)
        binding->mReattached(connection, binding->mClosure);
    return NATS_OK;
}

/* Reading stops for good when the connection is lost or closed. */
natsStatus onRead(void* userData, bool add)
{
    LoopEntry* entry = static_cast<LoopEntry*>(userData);
    natsStatus status = NATS_OK;
    {
        std::lock_guard<std::mutex> guard(entry->mLock);
        status = setInterest(entry, add ? entry->mInterest | EPOLLIN : entry->mInterest & ~EPOLLIN);
    }
    if (!add && natsConnection_Status(entry->mConnection) == NATS_CONN_STATUS_RECONNECTING)
        entry->mBinding->mLost(entry->mConnection, entry->mBinding->mClosure);
    return status;
}

/* The client asks for its buffer to be written (add) once per write: it
 * asks again after it has told (remove) that all was written. Asked during
 * a send that holds writes back, the sender decides after the send. */
natsStatus onWrite(void* userData, bool add)
{
    LoopEntry* entry = static_cast<LoopEntry*>(userData);
    std::lock_guard<std::mutex> guard(entry->mLock);
    entry->mWriteWanted = add;
    if (add && tHoldingWrites)
    {
        tHeldWrite = entry;
        return NATS_OK;
    }
    return setInterest(entry, add ? entry->mInterest | EPOLLOUT : entry->mInterest & ~EPOLLOUT);
}

natsStatus onDetach(void* userData)
{
    LoopEntry* entry = static_cast<LoopEntry*>(userData);
    CorvexNatsLoop* loop = entry->mLoop;
    {
        std::lock_guard<std::mutex> guard(entry->mLock);
        setInterest(entry, 0);
        entry->mDetached = true;
    }
    std::lock_guard<std::mutex> guard(loop->mLock);
    loop->mEntries.erase(entry->mConnection);
    if (entry->mGathering)
        for (LoopEntry*& gathering : loop->mGathering)
            if (gathering == entry)
                gathering = nullptr;
    loop->mDetached.push_back(entry);
    return NATS_OK;
}

bool detached(LoopEntry* entry)
{
    std::lock_guard<std::mutex> guard(entry->mLock);
    return entry->mDetached;
}

/* Writes what the connection buffered, unless nothing is wanted or
 * another thread writes: that one looks again when it is done. Whoever
 * writes leaves the rest, if any, to the loop. A connection is destroyed
 * only after a quiesce that follows its detach, and never while a sender
 * uses it, so it outlives the call. */
void writeBuffered(LoopEntry* entry)
{
    {
        std::lock_guard<std::mutex> guard(entry->mLock);
        if (!entry->mWriteWanted || entry->mWriting || entry->mDetached)
            return;
        entry->mWriting = true;
    }
    entry->mLastWrite.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
    natsConnection* connection = entry->mConnection;
    CorvexNatsLoop* loop = entry->mLoop;
    /* What a write achieved matters only to senders waiting for room. */
    const bool waiters = loop->mRoomWaiters.load(std::memory_order_acquire) > 0;
    const int before = waiters ? natsConnection_Buffered(connection) : 0;
    natsConnection_ProcessWriteEvent(connection);
    if (waiters)
    {
        const int after = natsConnection_Buffered(connection);
        if (after < before || after <= 0)
            entry->mProgress.fetch_add(1, std::memory_order_release);
    }
    {
        std::lock_guard<std::mutex> guard(entry->mLock);
        entry->mWriting = false;
        writeWhenWritable(entry);
    }
    if (waiters)
    {
        {
            std::lock_guard<std::mutex> guard(loop->mLock);
        }
        loop->mRoom.notify_all();
    }
}

void handle(LoopEntry* entry, uint32_t events)
{
    if (detached(entry))
        return;
    if (events & (EPOLLIN | EPOLLERR | EPOLLHUP))
        natsConnection_ProcessReadEvent(entry->mConnection);
    if (events & EPOLLOUT)
        writeBuffered(entry);
}

void writeGathered(std::vector<LoopEntry*>& gathered)
{
    for (LoopEntry* entry : gathered)
    {
        if (entry)
            writeBuffered(entry);
    }
    gathered.clear();
}

/* Waits for events until timeout (NULL: without one). A kernel without
 * epoll_pwait2 waits whole milliseconds. */
int waitForEvents(CorvexNatsLoop* loop, epoll_event* events, const timespec* timeout)
{
    static std::atomic<bool> fineTimeouts{true};
    if (fineTimeouts.load(std::memory_order_relaxed))
    {
        const int count = epoll_pwait2(loop->mEpoll, events, kMaxEvents, timeout, nullptr);
        if (count >= 0 || errno != ENOSYS)
            return count;
        fineTimeouts.store(false, std::memory_order_relaxed);
    }
    return epoll_wait(loop->mEpoll, events, kMaxEvents, timeout ? 1 : -1);
}

void run(CorvexNatsLoop* loop)
{
    epoll_event events[kMaxEvents];
    std::vector<LoopEntry*> detachedEntries;
    std::vector<LoopEntry*> gathered;
    for (;;)
    {
        timespec timeout{};
        bool wait = true;
        {
            std::lock_guard<std::mutex> guard(loop->mLock);
            ++loop->mRounds;
            detachedEntries.swap(loop->mDetached);
            if (loop->mStopping)
                break;
            if (!loop->mGathering.empty())
            {
                const Clock::duration left = loop->mGatherDue - Clock::now();
                if (left <= Clock::duration::zero())
                {
                    gathered.swap(loop->mGathering);
                    for (LoopEntry* entry : gathered)
                        if (entry)
                            entry->mGathering = false;
                    wait = false;
                }
                else
                {
                    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left);
                    timeout.tv_nsec = static_cast<long>(ns.count());
                }
            }
        }
        loop->mPassed.notify_all();
        for (LoopEntry* entry : detachedEntries)
            delete entry;
        detachedEntries.clear();
        if (!wait)
        {
            writeGathered(gathered);
            continue;
        }
        const int count = waitForEvents(loop, events, timeout.tv_nsec > 0 ? &timeout : nullptr);
        loop->mMade.load(std::memory_order_acquire);
        for (int i = 0; i < count; ++i)
        {
            if (events[i].data.ptr == loop)
            {
                uint64_t value = 0;
                (void)!read(loop->mWake, &value, sizeof(value));
                continue;
            }
            handle(static_cast<LoopEntry*>(events[i].data.ptr), events[i].events);
        }
    }
    loop->mPassed.notify_all();
}

LoopEntry* entryOf(CorvexNatsLoop* loop, natsConnection* connection)
{
    auto it = loop->mEntries.find(connection);
    return it == loop->mEntries.end() ? nullptr : it->second;
}

/* The held write of a dense stream joins the loop's gathering, to be made
 * at due. */
void gather(LoopEntry* entry, Clock::time_point due)
{
    CorvexNatsLoop* loop = entry->mLoop;
    bool sooner = false;
    {
        std::lock_guard<std::mutex> guard(loop->mLock);
        if (entry->mGathering)
            return;
        {
            std::lock_guard<std::mutex> entryGuard(entry->mLock);
            if (entry->mDetached)
                return;
        }
        entry->mGathering = true;
        sooner = loop->mGathering.empty() || due < loop->mGatherDue;
        if (sooner)
            loop->mGatherDue = due;
        loop->mGathering.push_back(entry);
    }
    /* The loop's wait ends at the new time. */
    if (sooner)
        wake(loop);
}
} // namespace

CorvexNatsLoop* corvexNatsLoop_create()
{
    CorvexNatsLoop* loop = new (std::nothrow) CorvexNatsLoop();
    if (!loop)
        return nullptr;
    loop->mEpoll = epoll_create1(EPOLL_CLOEXEC);
    loop->mWake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.ptr = loop;
    bool ready = loop->mEpoll >= 0 && loop->mWake >= 0 &&
                 epoll_ctl(loop->mEpoll, EPOLL_CTL_ADD, loop->mWake, &event) == 0;
    if (ready)
    {
        try
        {
            loop->mThread = std::thread(run, loop);
        }
        catch (const std::system_error&)
        {
            ready = false;
        }
    }
    if (!ready)
    {
        if (loop->mEpoll >= 0)
            close(loop->mEpoll);
        if (loop->mWake >= 0)
            close(loop->mWake);
        delete loop;
        return nullptr;
    }
    return loop;
}

void corvexNatsLoop_destroy(CorvexNatsLoop* loop)
{
    {
        std::lock_guard<std::mutex> guard(loop->mLock);
        loop->mStopping = true;
    }
    wake(loop);
    loop->mThread.join();
    for (LoopEntry* entry : loop->mDetached)
        delete entry;
    close(loop->mEpoll);
    close(loop->mWake);
    delete loop;
}

natsStatus corvexNatsLoop_apply(CorvexNatsLoopBinding* binding, natsOptions* options)
{
    natsStatus status =
        natsOptions_SetEventLoop(options, binding, onAttach, onRead, onWrite, onDetach);
    if (status == NATS_OK)
        status = natsOptions_SetSendAsap(options, true);
    return status;
}

void corvexNatsLoop_holdWrites()
{
    tHoldingWrites = true;
}

void corvexNatsLoop_releaseWrites()
{
    tHoldingWrites = false;
    LoopEntry* entry = tHeldWrite;
    if (!entry)
        return;
    tHeldWrite = nullptr;
    const Clock::time_point due =
        Clock::time_point(Clock::duration(entry->mLastWrite.load(std::memory_order_relaxed))) +
        kWriteGap;
    if (Clock::now() >= due)
        writeBuffered(entry);
    else
        gather(entry, due);
}

void corvexNatsLoop_quiesce(CorvexNatsLoop* loop)
{
    std::unique_lock<std::mutex> lock(loop->mLock);
    /* A round counts when it starts: once the next one has, the one under
     * way (which may hold an event of the connection) is over. */
    const uint64_t until = loop->mRounds + 1;
    while (loop->mRounds < until && !loop->mStopping)
    {
        lock.unlock();
        wake(loop);
        lock.lock();
        loop->mPassed.wait_for(lock, std::chrono::milliseconds(10),
                               [&] { return loop->mRounds >= until || loop->mStopping; });
    }
}

bool corvexNatsLoop_awaitRoom(CorvexNatsLoop* loop, natsConnection* connection, int limit,
                              Clock::time_point deadline)
{
    const Clock::duration allowed = deadline - Clock::now();
    uint64_t progress = 0;
    {
        std::lock_guard<std::mutex> guard(loop->mLock);
        LoopEntry* entry = entryOf(loop, connection);
        if (!entry)
            return true;
        progress = entry->mProgress.load(std::memory_order_acquire);
    }
    loop->mRoomWaiters.fetch_add(1, std::memory_order_acq_rel);
    bool room = false;
    for (;;)
    {
        /* Asked without the loop's lock: the client calls the loop's
         * callbacks with its own held. */
        if (natsConnection_Buffered(connection) <= limit)
        {
            room = true;
            break;
        }
        std::unique_lock<std::mutex> lock(loop->mLock);
        LoopEntry* entry = entryOf(loop, connection);
        if (!entry)
        {
            /* Detached: the connection is closing, the client answers. */
            room = true;
            break;
        }
        if (Clock::now() < deadline)
        {
            /* The slice covers a write signalled before the wait began. */
            loop->mRoom.wait_for(lock, std::chrono::milliseconds(1));
            continue;
        }
        const uint64_t now = entry->mProgress.load(std::memory_order_acquire);
        if (now != progress)
        {
            /* The server reads, slowly: each write has a deadline of its own. */
            progress = now;
            deadline = Clock::now() + allowed;
            continue;
        }
        std::lock_guard<std::mutex> guard(entry->mLock);
        if (entry->mFd >= 0)
            shutdown(entry->mFd, SHUT_RDWR);
        break;
    }
    loop->mRoomWaiters.fetch_sub(1, std::memory_order_acq_rel);
    return room;
}
