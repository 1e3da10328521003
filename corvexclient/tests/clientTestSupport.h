/* Shared helpers of the client library's tests: a started library, sessions
 * on the embedded router, and recorders that wait for callbacks with a
 * bounded wait. */
#ifndef CORVEXCLIENT_TEST_SUPPORT_H
#define CORVEXCLIENT_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "corvexClient.h"
#include "corvexClientTest.h"
#include "waiting.h"

namespace corvextest
{
/* What a callback saw, copied out of the library's memory. */
struct ClientMsg
{
    std::string mTopic;
    std::string mContent;
    std::string mReplyTo;
    std::string mProperty; /* the user property "k", "-" without one */
    bool mDiscard = false;
    int mCached = 0;
    corvexClient_cacheRequestId_t mRequestId = 0;
    void* mUser = nullptr;
    std::thread::id mThread;
};

struct Event
{
    corvexClient_session_event_t mEvent;
    corvexClient_subCode_t mSubCode;
    int32_t mResponseCode;
    std::string mInfo;
    void* mCorrelation;
    std::thread::id mThread;
};

struct Removal
{
    std::string mTopic;
    void* mUser;
};

struct CacheOutcome
{
    int32_t mEvent;
    std::string mTopic;
    corvexClient_returnCode_t mCode;
    corvexClient_subCode_t mSubCode;
    corvexClient_cacheRequestId_t mRequestId;
    void* mUser;
};

inline ClientMsg copyOf(corvexClient_msg_t msg, void* user)
{
    ClientMsg copy;
    corvexClient_destination_t dest{};
    if (corvexClient_msg_getDestination(msg, &dest, sizeof(dest)) == CORVEXCLIENT_OK)
        copy.mTopic = dest.mTopic;
    void* content = nullptr;
    uint32_t size = 0;
    if (corvexClient_msg_getBinaryAttachmentPtr(msg, &content, &size) == CORVEXCLIENT_OK)
        copy.mContent.assign(static_cast<const char*>(content), size);
    if (corvexClient_msg_getReplyTo(msg, &dest, sizeof(dest)) == CORVEXCLIENT_OK)
        copy.mReplyTo = dest.mTopic;
    corvexClient_container_t map = nullptr;
    const char* property = nullptr;
    copy.mProperty =
        corvexClient_msg_getUserPropertyMap(msg, &map) == CORVEXCLIENT_OK &&
                corvexClient_container_getStringPtr(map, "k", &property) == CORVEXCLIENT_OK
            ? property
            : "-";
    copy.mDiscard = corvexClient_msg_isDiscardIndication(msg) != 0;
    copy.mCached = corvexClient_msg_isCacheMsg(msg);
    corvexClient_msg_getCacheRequestId(msg, &copy.mRequestId);
    copy.mUser = user;
    copy.mThread = std::this_thread::get_id();
    return copy;
}

/* Collects everything the callbacks of one or more sessions report. */
class ClientRecorder
{
  public:
    std::vector<ClientMsg> mMessages;
    std::vector<Event> mEvents;
    std::vector<Removal> mRemovals;
    std::vector<CacheOutcome> mCacheOutcomes;
    int mAnswer = CORVEXCLIENT_CALLBACK_OK; /* what receive callbacks return */

    bool waitUntil(const std::function<bool()>& done)
    {
        std::unique_lock<std::mutex> lock(mLock);
        return mChanged.wait_for(lock, WAIT_LIMIT, done);
    }
    bool waitForMessages(size_t count)
    {
        return waitUntil([this, count] { return mMessages.size() >= count; });
    }
    bool waitForEvents(size_t count)
    {
        return waitUntil([this, count] { return mEvents.size() >= count; });
    }
    template <typename T> T read(const std::function<T()>& reader)
    {
        std::lock_guard<std::mutex> guard(mLock);
        return reader();
    }
    size_t messageCount()
    {
        std::lock_guard<std::mutex> guard(mLock);
        return mMessages.size();
    }
    /* Notifies under the lock: a waiter that wakes may end its test and
     * destroy the recorder at once. */
    template <typename Change> void record(Change change)
    {
        std::lock_guard<std::mutex> guard(mLock);
        change();
        mChanged.notify_all();
    }

    static int onMessage(corvexClient_session_t, corvexClient_msg_t msg, void* user);
    static int onSessionMessage(corvexClient_session_t, corvexClient_msg_t msg, void* user);
    static void onEvent(corvexClient_session_t, const corvexClient_session_eventInfo_t* event,
                        void* user);
    static void onCacheEvent(corvexClient_session_t,
                             const corvexClient_cacheSession_eventInfo_t* event, void* user);

    std::mutex mLock;
    std::condition_variable mChanged;
};

/* Keeps each message it receives (the callback takes it), for a test to
 * read and free later, on any thread. */
struct MsgKeeper
{
    std::mutex mLock;
    std::condition_variable mChanged;
    std::vector<corvexClient_msg_t> mKept;

    static int onMessage(corvexClient_session_t, corvexClient_msg_t msg, void* user)
    {
        MsgKeeper* keeper = static_cast<MsgKeeper*>(user);
        std::lock_guard<std::mutex> guard(keeper->mLock);
        keeper->mKept.push_back(msg);
        keeper->mChanged.notify_all();
        return CORVEXCLIENT_CALLBACK_TAKE_MSG;
    }

    size_t count()
    {
        std::lock_guard<std::mutex> guard(mLock);
        return mKept.size();
    }

    bool waitFor(size_t count)
    {
        std::unique_lock<std::mutex> lock(mLock);
        return mChanged.wait_for(lock, WAIT_LIMIT, [&] { return mKept.size() >= count; });
    }
};

/* The dispatch user pointer of test entries names a ClientRecorder and a tag. */
struct Tagged
{
    ClientRecorder* mRecorder;
    int mTag;
};

inline int ClientRecorder::onMessage(corvexClient_session_t, corvexClient_msg_t msg, void* user)
{
    Tagged* tagged = static_cast<Tagged*>(user);
    ClientMsg copy = copyOf(msg, user);
    int answer = CORVEXCLIENT_CALLBACK_OK;
    tagged->mRecorder->record(
        [&]
        {
            tagged->mRecorder->mMessages.push_back(copy);
            answer = tagged->mRecorder->mAnswer;
        });
    return answer;
}

inline int ClientRecorder::onSessionMessage(corvexClient_session_t, corvexClient_msg_t msg,
                                            void* user)
{
    ClientRecorder* recorder = static_cast<ClientRecorder*>(user);
    ClientMsg copy = copyOf(msg, nullptr);
    recorder->record([&] { recorder->mMessages.push_back(copy); });
    return CORVEXCLIENT_CALLBACK_OK;
}

inline void ClientRecorder::onEvent(corvexClient_session_t,
                                    const corvexClient_session_eventInfo_t* event, void* user)
{
    ClientRecorder* recorder = static_cast<ClientRecorder*>(user);
    const corvexClient_errorInfo_t* reason = corvexClient_getLastErrorInfo();
    Event copy{event->mEvent, reason ? reason->mSubCode : 0, event->mResponseCode,
               event->mInfo,  event->mCorrelation,           std::this_thread::get_id()};
    recorder->record([&] { recorder->mEvents.push_back(copy); });
}

inline void ClientRecorder::onCacheEvent(corvexClient_session_t,
                                         const corvexClient_cacheSession_eventInfo_t* event,
                                         void* user)
{
    ClientRecorder* recorder = static_cast<ClientRecorder*>(user);
    CacheOutcome copy{event->mEvent,   event->mTopic,          event->mReturnCode,
                      event->mSubCode, event->mCacheRequestId, user};
    recorder->record([&] { recorder->mCacheOutcomes.push_back(copy); });
}

/* Removal reports carry no user pointer of the session: they go to the
 * recorder that the test installs here. */
inline ClientRecorder*& removalRecorder()
{
    static ClientRecorder* recorder = nullptr;
    return recorder;
}

inline void onRemoval(const char* topic, const CorvexDispatchInfo* dispatch)
{
    ClientRecorder* recorder = removalRecorder();
    Removal copy{topic, dispatch->mUser};
    recorder->record([&] { recorder->mRemovals.push_back(copy); });
}

/* Every line the client library logs, at every level, kept for a test to
 * read (install with corvexClient_log_setCallback(ClientLogLines::onLog, &lines)). */
struct ClientLogLines
{
    std::mutex mLock;
    std::vector<std::string> mLines;

    static void onLog(const corvexClient_logInfo_t* record, void* user)
    {
        ClientLogLines* lines = static_cast<ClientLogLines*>(user);
        std::lock_guard<std::mutex> guard(lines->mLock);
        lines->mLines.push_back(record->mMessage);
    }

    std::vector<std::string> lines()
    {
        std::lock_guard<std::mutex> guard(mLock);
        return mLines;
    }

    std::vector<std::string> containing(const std::string& text)
    {
        std::vector<std::string> found;
        for (const std::string& line : lines())
            if (line.find(text) != std::string::npos)
                found.push_back(line);
        return found;
    }

    /* Every line, each ended by a newline. */
    std::string text()
    {
        std::string all;
        for (const std::string& line : lines())
            all += line + "\n";
        return all;
    }
};

/* A started library with one context. */
class ClientTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_initialize(CORVEXCLIENT_LOG_WARNING, nullptr));
        const char* properties[] = {"CONTEXT_CREATE_THREAD", "1", nullptr};
        ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_context_create(properties, &mContext, nullptr, 0));
        removalRecorder() = &mRecorder;
        /* Tests hold addresses of these handles. */
        mSessions.reserve(16);
    }

    /* Destroys every session the test made that is still there. */
    void destroySessions()
    {
        for (corvexClient_session_t& session : mSessions)
        {
            if (session)
            {
                EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_session_destroy(&session));
            }
        }
    }

    void TearDown() override
    {
        destroySessions();
        if (mContext)
        {
            EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_context_destroy(&mContext));
        }
        EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_cleanup());
        removalRecorder() = nullptr;
    }

    /* Creates (and connects, unless told not to) a session whose events and
     * unmatched messages go to the recorder. */
    corvexClient_session_t session(std::vector<const char*> properties = {}, bool connect = true,
                                   ClientRecorder* recorder = nullptr)
    {
        recorder = recorder ? recorder : &mRecorder;
        properties.push_back(nullptr);
        corvexClient_session_createFuncInfo_t funcInfo{};
        funcInfo.mEventInfo.mCallback = ClientRecorder::onEvent;
        funcInfo.mEventInfo.mUser = recorder;
        funcInfo.mRxMsgInfo.mCallback = ClientRecorder::onSessionMessage;
        funcInfo.mRxMsgInfo.mUser = recorder;
        corvexClient_session_t created = nullptr;
        EXPECT_EQ(CORVEXCLIENT_OK,
                  corvexClient_session_create(properties.data(), mContext, &created, &funcInfo,
                                              sizeof(funcInfo)));
        _corvexClient_session_registerForTopicDispatchDestroy(created, onRemoval);
        if (connect)
        {
            EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_session_connect(created));
        }
        mSessions.push_back(created);
        return created;
    }

    CorvexDispatchInfo dispatchTo(Tagged& tagged)
    {
        return CorvexDispatchInfo{CORVEXCLIENT_DISPATCH_TYPE_CALLBACK, ClientRecorder::onMessage,
                                  &tagged, nullptr};
    }

    corvexClient_returnCode_t
    subscribe(corvexClient_session_t session, const char* topic, Tagged& tagged,
              uint32_t flags = CORVEXCLIENT_SUBSCRIBE_FLAGS_WAIT_FOR_CONFIRM,
              void* correlation = nullptr)
    {
        CorvexDispatchInfo dispatch = dispatchTo(tagged);
        return corvexClient_session_topicSubscribeWithDispatch(session, flags, topic, &dispatch,
                                                               correlation);
    }

    corvexClient_returnCode_t send(corvexClient_session_t session, const char* topic,
                                   const std::string& content, const char* replyTo = nullptr)
    {
        corvexClient_msg_t msg = nullptr;
        EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_msg_alloc(&msg));
        corvexClient_msg_setTopicPtr(msg, topic);
        corvexClient_msg_setBinaryAttachmentPtr(msg, content.data(),
                                                static_cast<uint32_t>(content.size()));
        if (replyTo)
        {
            corvexClient_destination_t dest{CORVEXCLIENT_DEST_TOPIC, replyTo};
            corvexClient_msg_setReplyTo(msg, &dest, sizeof(dest));
        }
        const corvexClient_returnCode_t code = corvexClient_session_sendMsg(session, msg);
        corvexClient_msg_free(&msg);
        return code;
    }

    /* Every callback runs on the context thread, in order: once a marker
     * sent after other traffic has arrived, that traffic has been handled. */
    void drain(corvexClient_session_t session)
    {
        Tagged marker{&mMarkers, 0};
        const std::string topic = "drain/" + std::to_string(mDrains++);
        ASSERT_EQ(CORVEXCLIENT_OK, subscribe(session, topic.c_str(), marker));
        const size_t before = mMarkers.messageCount();
        ASSERT_EQ(CORVEXCLIENT_OK, send(session, topic.c_str(), "marker"));
        ASSERT_TRUE(mMarkers.waitForMessages(before + 1));
        CorvexDispatchInfo dispatch = dispatchTo(marker);
        corvexClient_session_topicUnsubscribeWithDispatch(session, 0, topic.c_str(), &dispatch,
                                                          nullptr);
        ASSERT_TRUE(mRecorder.waitUntil(
            [&]
            {
                for (const Removal& removal : mRecorder.mRemovals)
                    if (removal.mTopic == topic)
                        return true;
                return false;
            }));
    }

    corvexClient_context_t mContext = nullptr;
    std::vector<corvexClient_session_t> mSessions;
    ClientRecorder mRecorder;
    ClientRecorder mMarkers;
    int mDrains = 0;
};

inline std::vector<std::string> topicsOf(ClientRecorder& recorder)
{
    return recorder.read<std::vector<std::string>>(
        [&]
        {
            std::vector<std::string> topics;
            for (const ClientMsg& message : recorder.mMessages)
                topics.push_back(message.mTopic);
            return topics;
        });
}
} // namespace corvextest

#endif
