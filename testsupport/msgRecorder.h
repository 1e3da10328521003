/* What an application's subscription or inbox was told, in order and on
 * which threads; the callbacks the host is given to tell it. */
#ifndef CORVEX_TESTSUPPORT_MSGRECORDER_H
#define CORVEX_TESTSUPPORT_MSGRECORDER_H

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <mama/mama.h>
#include <mama/inbox.h>
#include <mama/msgstatus.h>
#include <mama/msgtype.h>
#include <mama/quality.h>
#include <mama/subscription.h>

#include "waiting.h"

/* The field the tests number their messages with. */
const char* const TEST_SEQ_NAME = "seq";
const mama_fid_t TEST_SEQ_FID = 10001;

class MsgRecorder
{
  public:
    struct Message
    {
        mamaMsgType mType;
        mamaMsgStatus mStatus;
        /* TEST_SEQ_NAME, or -1 without it. */
        int64_t mSeq;
        /* The topic a wildcard subscription is given; "" for others. */
        std::string mSubject;
    };

    struct Error
    {
        mama_status mStatus;
        std::string mSubject;
        std::thread::id mThread;
        mamaSubscriptionState mState;
    };

    static mamaMsgCallbacks callbacks();
    static mamaWildCardMsgCallbacks wildCardCallbacks();
    /* The inbox callbacks, for mamaInbox_create2 with the recorder as closure. */
    static void MAMACALLTYPE onInboxMsg(mamaMsg msg, void* closure);
    static void MAMACALLTYPE onInboxError(mama_status status, void* closure);
    static void MAMACALLTYPE onInboxDestroy(mamaInbox, void* closure);

    /* Waits until `done` holds, re-testing it, with the lock held, after
     * every callback. */
    template <typename Condition>
    bool waitUntil(Condition done, std::chrono::milliseconds limit = WAIT_LIMIT)
    {
        std::unique_lock<std::mutex> guard(mLock);
        return mChanged.wait_for(guard, limit, [&] { return done(*this); });
    }
    bool waitForMessages(size_t count, std::chrono::milliseconds limit = WAIT_LIMIT);

    size_t messageCount();
    std::vector<Message> messages();
    std::vector<int64_t> seqs();
    std::vector<Error> errors();
    std::vector<mama_status> errorStatuses();
    std::vector<mamaQuality> qualities();
    int gaps();
    int destroys();
    std::thread::id messageThread();
    std::thread::id destroyThread();
    /* Messages seen when the destroy callback ran. */
    size_t messagesAtDestroy();

    /* Guarded by mLock; waitUntil's conditions read them directly. */
    std::vector<Message> mMessages;
    std::vector<Error> mErrors;
    std::vector<mamaQuality> mQualities;
    int mGaps = 0;
    int mDestroys = 0;
    std::thread::id mMessageThread;
    std::thread::id mDestroyThread;
    size_t mMessagesAtDestroy = 0;

    /* Run in the message callback before the message is recorded, without
     * the lock. */
    std::function<void(mamaMsg)> mOnMsg;
    /* Run in the destroy callback before it is recorded, without the lock. */
    std::function<void()> mAtDestroy;

  private:
    template <typename Change> void record(Change change)
    {
        /* Notifies under the lock: a waiter that wakes may end its test and
         * destroy the recorder at once. */
        std::lock_guard<std::mutex> guard(mLock);
        change();
        mChanged.notify_all();
    }

    void recordMessage(mamaMsg msg, const char* subject);
    void recordError(mamaSubscription subscription, mama_status status, const char* subject);
    void recordDestroy();

    static void MAMACALLTYPE onCreate(mamaSubscription, void*);
    static void MAMACALLTYPE onError(mamaSubscription subscription, mama_status status, void*,
                                     const char* subject, void* closure);
    static void MAMACALLTYPE onMsg(mamaSubscription, mamaMsg msg, void* closure, void*);
    static void MAMACALLTYPE onWildCardMsg(mamaSubscription, mamaMsg msg, const char* topic,
                                           void* closure, void*);
    static void MAMACALLTYPE onQuality(mamaSubscription, mamaQuality quality, const char*, short,
                                       const void*, void* closure);
    static void MAMACALLTYPE onGap(mamaSubscription, void* closure);
    static void MAMACALLTYPE onDestroy(mamaSubscription, void* closure);

    std::mutex mLock;
    std::condition_variable mChanged;
};

#endif /* CORVEX_TESTSUPPORT_MSGRECORDER_H */
