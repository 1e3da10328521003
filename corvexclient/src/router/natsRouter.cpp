#include "router/natsRouter.h"

#include <nats/nats.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "clientError.h"
#include "clientLog.h"
#include "container.h"
#include "message.h"
#include "router/natsCache.h"
#include "router/natsFrame.h"
#include "router/natsLoop.h"
#include "router/natsSecurity.h"
#include "router/natsSubject.h"
#include "router/routerConfig.h"
#include "topicMatch.h"

namespace
{
constexpr const char* kScheme = "nats://";
constexpr const char* kTlsScheme = "tls://";
constexpr int64_t kReconnectWaitMs = 250;
constexpr int64_t kSubscribeFlushMs = 2000;
constexpr int64_t kCloseFlushMs = 2000;
/* Sends are confirmed by a flush, a round trip to the server, at most once
 * in this time: each costs the sending process two wake-ups. */
constexpr auto kConfirmInterval = std::chrono::milliseconds(2);
/* What a connection may hold unwritten before its senders wait for the
 * server to take some. */
constexpr int kMaxUnwrittenBytes = 1 << 20;
/* One send in this many plus one asks whether the connection holds too
 * much: it may hold that many more of the largest messages. */
constexpr uint32_t kRoomCheckMask = 15;
constexpr int32_t kRefusedResponse = 403;
constexpr const char* kSubscribeViolation = "Permissions Violation for Subscription to ";
constexpr const char* kPublishViolation = "Permissions Violation for Publish to ";
constexpr size_t kDestroyBatch = 64;
constexpr size_t kDestroyBatchBytes = 256 * 1024;

struct NatsSubscription;

/* natsMsg_Destroy hands a message to the NATS library's collector thread
 * and wakes it when it sleeps: message by message, the wake-ups cost the
 * destroying thread and the collector more than the frees. Each thread
 * destroys the messages it received a batch at a time (at most
 * kDestroyBatch of them and kDestroyBatchBytes of data), so that the
 * collector wakes once a batch; what a thread still keeps goes when it
 * exits. Plain data, so that reaching it is one look-up (each use of a
 * thread_local with a destructor in a shared library is more). */
struct NatsDestroyBatch
{
    natsMsg* mMsgs[kDestroyBatch];
    size_t mCount;
    size_t mBytes;
    bool mExitSet; /* its exit handler is registered */
    /* Set once the batch went at the thread's exit: what the thread's later
     * exit handlers release is destroyed at once. */
    bool mGone;

    void flush()
    {
        for (size_t i = 0; i < mCount; ++i)
            natsMsg_Destroy(mMsgs[i]);
        mCount = 0;
        mBytes = 0;
    }

    void add(natsMsg* msg)
    {
        mMsgs[mCount++] = msg;
        mBytes += static_cast<size_t>(natsMsg_GetDataLength(msg));
        if (mCount == kDestroyBatch || mBytes >= kDestroyBatchBytes)
            flush();
    }
};

thread_local NatsDestroyBatch tDestroyBatch;

struct NatsDestroyBatchExit
{
    ~NatsDestroyBatchExit()
    {
        tDestroyBatch.flush();
        tDestroyBatch.mGone = true;
    }
};

thread_local NatsDestroyBatchExit tDestroyBatchExit;

void destroyLater(natsMsg* msg)
{
    if (!msg)
        return;
    NatsDestroyBatch& batch = tDestroyBatch;
    if (batch.mGone)
    {
        natsMsg_Destroy(msg);
        return;
    }
    if (!batch.mExitSet)
    {
        batch.mExitSet = true;
        /* The first use constructs it, which registers its destructor. */
        static_cast<void>(&tDestroyBatchExit);
    }
    batch.add(msg);
}

/* What the connection's threads share with the session's: the endpoint,
 * reached only while the link is open and under mLock. mLock guards every
 * field but the atomics and the throttles, and each subscription's count
 * and gap marker. */
struct NatsLinkState
{
    std::mutex mLock;
    CorvexRouterEndpoint mEndpoint;
    bool mClosed = false;
    /* Ordered, so that of a link's subscriptions matching a topic the same
     * one always delivers it. */
    std::map<std::string, NatsSubscription*> mSubscriptions;
    uint64_t mSubscriptionsChanged = 0; /* counts changes of mSubscriptions */
    /* Subjects the server refused a subscription to, as its error handler
     * heard them. */
    std::set<std::string> mRefusedSubjects;
    /* The latest permissions violation the handler heard, as violationKey
     * gives it, signalled on mViolationHeard. */
    std::string mLastViolation;
    std::condition_variable mViolationHeard;
    /* Slow consumers the error handler heard of, for its log line. */
    std::atomic<uint64_t> mSlowConsumers{0};
    /* A subscription that stays too slow is reported again and again, and a
     * stream of messages that are no topics is dropped message by message. */
    CorvexLogThrottle mSlowConsumerLog;
    CorvexLogThrottle mBehindLog; /* messages dropped past the pending limits */
    CorvexLogThrottle mNotATopicLog;
    CorvexLogThrottle mMalformedLog;
    /* Sends that failed for want of a connection since it was last up,
     * under mLock: reported in one event once it is back, or as the link
     * closes. */
    uint64_t mFailedSends = 0;
    std::string mFirstFailure; /* what the first of them met */
    CorvexLogThrottle mFailedSendLog;
    /* Under mLock. The connection's count of sends when a flush last
     * returned (the server had them all), and the sends past that count
     * when the connection was found lost: the NATS client drops what it
     * still held for the lost socket, so they may never have reached the
     * server. Reported with the failed sends. */
    uint64_t mConfirmedSends = 0;
    uint64_t mUnconfirmedSends = 0;
    /* The connection's place on the router's loop. */
    CorvexNatsLoopBinding mLoopBinding{};
};

/* The last subject converted to a topic, and the topic: a stream of
 * messages repeats its subjects (and its reply subjects). */
struct ReceivedSubject
{
    std::string mSubject;
    std::string mTopic;
};

/* A received message's subjects as topics. */
struct ReceivedSubjects
{
    ReceivedSubject mSubject;
    ReceivedSubject mReply;
};

/* One NATS subscription per topic and link; freed once its last message has
 * been handled. The server answers a subscription only by refusing it: one
 * is settled (kept, its waiting requests confirmed) once a flush sent after
 * it has returned without a refusal. */
struct NatsSubscription
{
    std::shared_ptr<NatsLinkState> mState;
    std::string mTopic;
    std::string mSubject;
    bool mWildcard;
    uint32_t mCount;
    natsSubscription* mHandle;
    /* Under the link's mSubscribeLock. */
    bool mSettled = false;
    uint64_t mSent = 0; /* its place in the link's flushes */
    std::vector<CorvexSubscribeRequest> mWaiting;
    /* The delivering thread's: messages the connection has handed it, the
     * last property text it found valid (a sender repeats its properties,
     * its publisher information) and the last subjects' topics. */
    uint64_t mSeen = 0;
    std::string mCheckedProperties;
    ReceivedSubjects mReceived;
    /* What may wait behind the message being delivered before it is
     * dropped: the session's pending limits. The connection's own limits
     * are a far backstop above them. */
    int mPendingLimit = 0;
    int mPendingBytesLimit = 0;
    /* Messages to deliver before the connection is asked again how many
     * wait (the delivering thread's). */
    uint32_t mUnchecked = 0;
    /* The largest message the server takes: how fast waiting bytes can grow. */
    int64_t mMaxPayload = 0;
    /* Under the state's mLock. Messages were lost after the first mGapAfter
     * handed over (the connection dropped some, or was lost): the first one
     * delivered after those carries the discard indication. mBehind: the
     * delivering thread dropped the last it was handed for the pending
     * limits; the next one delivered carries the indication. */
    bool mGapPending = false;
    uint64_t mGapAfter = 0;
    bool mBehind = false;
    int64_t mDropped = 0; /* the connection's count when last marked */
    /* Under the state's mLock: whether it delivers mDeliversTopic, found
     * when the state's mSubscriptionsChanged was mDeliversChecked (a stream
     * repeats its topics). */
    std::string mDeliversTopic;
    uint64_t mDeliversChecked = UINT64_MAX;
    bool mDelivers = false;
};

struct NatsLink
{
    std::shared_ptr<NatsLinkState> mState;
    natsConnection* mConnection;
    CorvexNatsCache* mCache; /* answers the session's cache requests */
    std::string mClientName;
    uint32_t mPendingLimit;      /* messages a subscription may have waiting */
    uint32_t mPendingBytesLimit; /* and their bytes */
    /* Serialises subscribe, unsubscribe and settling; guards each
     * subscription's mSettled, mSent and mWaiting. mFlushLock guards the
     * flusher's fields below. */
    std::mutex mSubscribeLock;
    /* The flusher settles the subscriptions of requests that do not wait,
     * and confirms what was published (the loop has sent it already). */
    std::thread mFlusher;
    std::mutex mFlushLock;
    std::condition_variable mFlushWanted;
    uint64_t mQueued = 0;  /* subscriptions sent for the flusher */
    uint64_t mFlushed = 0; /* of those, settled */
    /* Something was published since the flusher last flushed: confirmed
     * with the next flush. Set by senders without the lock while it is
     * already set. */
    std::atomic<bool> mPublished{false};
    /* How long a sender may wait for the server to take what the
     * connection holds. */
    std::chrono::milliseconds mWriteDeadline{0};
    std::atomic<uint32_t> mSendsUnchecked{0}; /* counts sends for kRoomCheckMask */
    bool mStopping = false;
    /* User properties go as a NATS header rather than in a frame. */
    bool mPropertiesHeader = false;
};

CorvexNatsRouter* natsRouter(CorvexRouter* router)
{
    return static_cast<CorvexNatsRouter*>(router);
}

NatsLink* natsLink(CorvexRouterLink* link)
{
    return reinterpret_cast<NatsLink*>(link);
}

bool subscriptionMatches(const NatsSubscription& subscription, const char* topic, size_t length)
{
    if (!subscription.mWildcard)
        return subscription.mTopic.compare(0, std::string::npos, topic, length) == 0;
    return corvexTopic_matches(subscription.mTopic.data(), subscription.mTopic.size(), topic,
                               length);
}

/* Caller holds state.mLock. Every subscription of the link that matches a
 * topic receives the message from the server: only the first delivers it. */
bool deliversTopic(const NatsLinkState& state, NatsSubscription* subscription, const char* topic,
                   size_t length)
{
    if (subscription->mDeliversChecked == state.mSubscriptionsChanged &&
        subscription->mDeliversTopic.compare(0, std::string::npos, topic, length) == 0)
        return subscription->mDelivers;
    bool delivers = false;
    for (const auto& entry : state.mSubscriptions)
    {
        if (subscriptionMatches(*entry.second, topic, length))
        {
            delivers = entry.second == subscription;
            break;
        }
    }
    subscription->mDeliversTopic.assign(topic, length);
    subscription->mDeliversChecked = state.mSubscriptionsChanged;
    subscription->mDelivers = delivers;
    return delivers;
}

/* The topic of a received subject, in the thread's cache until its next
 * call with that cache; NULL when the subject is no topic. */
const std::string* receivedTopic(const char* subject, ReceivedSubject& last)
{
    if (!subject)
        return nullptr;
    const size_t subjectLength = std::strlen(subject);
    if (!last.mSubject.empty() && last.mSubject.size() == subjectLength &&
        last.mSubject.compare(0, subjectLength, subject, subjectLength) == 0)
        return &last.mTopic;
    last.mSubject.clear();
    size_t length = 0;
    if (!corvexNatsSubject_toTopic(subject, subjectLength, &last.mTopic) ||
        corvexTopic_validate(last.mTopic.c_str(), &length) != CORVEXCLIENT_SUBCODE_OK)
        return nullptr;
    last.mSubject.assign(subject, subjectLength);
    return &last.mTopic;
}

/* A subject (or any text) from the wire as a log line shows it. */
std::string escapedSubject(const char* subject)
{
    return subject ? corvexLog_escape(subject, std::strlen(subject)) : std::string();
}

/* Logs a received payload dropped for what it holds (a burst of them in
 * one line a second). */
void dropMalformed(NatsLinkState& state, natsMsg* received, const char* why)
{
    uint64_t held = 0;
    if (corvexLog_enabled(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_WARNING) &&
        corvexLogThrottle_pass(&state.mMalformedLog, &held))
        corvexLog_write(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_WARNING,
                        "message on NATS subject '%s' dropped: %s (%llu more dropped since the "
                        "last report)",
                        escapedSubject(natsMsg_GetSubject(received)).c_str(), why,
                        static_cast<unsigned long long>(held));
}

CorvexLogThrottle gMalformedHeaderLog;

/* The property text of a received message's header (origin), when it has
 * one that is a property text; a header's text that is none is ignored,
 * with a warning (a burst of them in one line a second). Reading a header
 * decodes all of the message's headers: left for when a receiver asks. */
bool headerProperties(const void* origin, const char** text, uint32_t* length)
{
    natsMsg* received = static_cast<natsMsg*>(const_cast<void*>(origin));
    const char* value = nullptr;
    if (natsMsgHeader_Get(received, CORVEX_NATS_PROPERTY_HEADER, &value) != NATS_OK || !value)
        return false;
    const size_t size = std::strlen(value);
    if (size > UINT32_MAX || !corvexNatsProperties_valid(value, size))
    {
        uint64_t held = 0;
        if (corvexLog_enabled(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_WARNING) &&
            corvexLogThrottle_pass(&gMalformedHeaderLog, &held))
            corvexLog_write(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_WARNING,
                            "properties of a message on NATS subject '%s' ignored: its header "
                            "\"" CORVEX_NATS_PROPERTY_HEADER "\" is no property text (%llu more "
                            "since the last report)",
                            escapedSubject(natsMsg_GetSubject(received)).c_str(),
                            static_cast<unsigned long long>(held));
        return false;
    }
    *text = value;
    *length = static_cast<uint32_t>(size);
    return true;
}

/* Points msg at the content and the property text of a received payload:
 * the frame's, checked unless it is the one last checked (*checked, when
 * given), or without any there the header's, found and checked when a
 * receiver asks for the map; false (logged) when the payload or the frame's
 * text is malformed. The map is decoded only when a receiver asks for it. */
bool receivedPayload(NatsLinkState& state, natsMsg* received, std::string* checked,
                     corvexClientMsg* msg)
{
    CorvexNatsFrame frame;
    if (corvexNatsFrame_read(natsMsg_GetData(received),
                             static_cast<size_t>(natsMsg_GetDataLength(received)),
                             &frame) == CORVEX_NATS_FRAME_MALFORMED)
    {
        dropMalformed(state, received, "its payload starts like a frame but is none");
        return false;
    }
    const char* text = frame.mProperties;
    size_t length = frame.mPropertiesLength;
    if (text &&
        !(checked && checked->size() == length && std::memcmp(checked->data(), text, length) == 0))
    {
        if (length > UINT32_MAX || !corvexNatsProperties_valid(text, length))
        {
            dropMalformed(state, received, "its properties are no property text");
            return false;
        }
        if (checked)
            checked->assign(text, length);
    }
    msg->mEncodedMap = text;
    msg->mEncodedMapLength = static_cast<uint32_t>(length);
    msg->mDecodeMap = corvexNatsProperties_decode;
    if (!text)
    {
        msg->mFindMap = headerProperties;
        msg->mMapOrigin = received;
    }
    msg->mContent = frame.mContent;
    msg->mContentLength = frame.mContentLength;
    return true;
}

/* Fills the value-initialised client message a received NATS message
 * stands for, pointing into it and into the topics it leaves in *subjects,
 * which last until its next call with them; false (logged, a burst of them in one line a
 * second) when its subjects are no topics or its payload is malformed. */
bool clientMsgOf(NatsLinkState& state, natsMsg* received, ReceivedSubjects* subjects,
                 std::string* checked, corvexClientMsg* msg)
{
    const char* replySubject = natsMsg_GetReply(received);
    const bool hasReplyTo = replySubject && *replySubject;
    const std::string* topic = receivedTopic(natsMsg_GetSubject(received), subjects->mSubject);
    const std::string* replyTo =
        hasReplyTo ? receivedTopic(replySubject, subjects->mReply) : nullptr;
    if (!topic || (hasReplyTo && !replyTo))
    {
        uint64_t held = 0;
        if (corvexLog_enabled(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_WARNING) &&
            corvexLogThrottle_pass(&state.mNotATopicLog, &held))
            corvexLog_write(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_WARNING,
                            "message on NATS subject '%s' (reply '%s') dropped: not a topic "
                            "(%llu more dropped since the last report)",
                            escapedSubject(natsMsg_GetSubject(received)).c_str(),
                            escapedSubject(hasReplyTo ? replySubject : "").c_str(),
                            static_cast<unsigned long long>(held));
        return false;
    }
    if (!receivedPayload(state, received, checked, msg))
        return false;
    msg->mTopic = topic->c_str();
    msg->mTopicLength = static_cast<uint32_t>(topic->size());
    msg->mHasReplyTo = hasReplyTo ? 1 : 0;
    if (hasReplyTo)
    {
        msg->mReplyTo = replyTo->c_str();
        msg->mReplyToLength = static_cast<uint32_t>(replyTo->size());
    }
    msg->mDeliveryMode = CORVEXCLIENT_DELIVERY_MODE_DIRECT;
    return true;
}

void destroyReceived(void* received)
{
    destroyLater(static_cast<natsMsg*>(received));
}

/* Most messages a subscription delivers between two questions of how many
 * wait behind them. */
const uint32_t kMaxUnchecked = 64;

/* More waits behind the message being delivered than the pending limits
 * allow: a subscription that falls behind loses its oldest messages here,
 * where the loss is known message by message. The connection's answer
 * costs two of its locks, so after an answer with room for r more waiting
 * messages (bytes counted in the largest messages the server takes), the
 * next r/4 messages, at most kMaxUnchecked, are delivered without asking;
 * near a limit, and once behind, it is asked for every message. */
bool fellBehind(NatsSubscription* subscription)
{
    if (subscription->mUnchecked > 0)
    {
        --subscription->mUnchecked;
        return false;
    }
    int msgs = 0;
    int bytes = 0;
    if (natsSubscription_GetPending(subscription->mHandle, &msgs, &bytes) != NATS_OK)
        return false;
    if (msgs > subscription->mPendingLimit || bytes > subscription->mPendingBytesLimit)
        return true;
    if (subscription->mMaxPayload > 0)
    {
        const int64_t room = std::min<int64_t>(subscription->mPendingLimit - msgs,
                                               (subscription->mPendingBytesLimit - bytes) /
                                                   subscription->mMaxPayload);
        subscription->mUnchecked =
            static_cast<uint32_t>(std::min<int64_t>(kMaxUnchecked, room / 4));
    }
    return false;
}

/* The connection's own pending limits when none is set. */
const uint64_t kNatsDefaultMsgs = 65536;
const uint64_t kNatsDefaultBytes = 64 * 1024 * 1024;

/* The connection's own limit for one of the session's: far above it, and
 * never below the connection's defaults, so that the delivering thread,
 * which drops past the session's limits, decides what is lost. The
 * connection drops only what piles up while the delivering thread does not
 * run at all; its slow-consumer report marks that loss, in a run. */
int backstop(uint32_t limit, uint64_t floor)
{
    return static_cast<int>(
        std::min<uint64_t>(std::max<uint64_t>(8 * static_cast<uint64_t>(limit), floor), INT32_MAX));
}

/* Drops a message that came when the subscription was behind, before it
 * is read further; the subscription's next delivered message carries the
 * indication, when this one was the subscription's to deliver. */
void dropBehind(NatsSubscription* subscription, natsMsg* received)
{
    NatsLinkState& state = *subscription->mState;
    const std::string* topic =
        receivedTopic(natsMsg_GetSubject(received), subscription->mReceived.mSubject);
    if (topic)
    {
        std::lock_guard<std::mutex> guard(state.mLock);
        if (!state.mClosed && deliversTopic(state, subscription, topic->data(), topic->size()))
            subscription->mBehind = true;
    }
    destroyLater(received);
    uint64_t held = 0;
    if (corvexLog_enabled(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_WARNING) &&
        corvexLogThrottle_pass(&state.mBehindLog, &held))
        CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_WARNING,
                   "NATS subscription '%s' is a slow consumer: it fell behind its pending "
                   "limits and dropped a message (%llu more since the last line)",
                   escapedSubject(subscription->mSubject.c_str()).c_str(),
                   static_cast<unsigned long long>(held));
}

/* The delivered message borrows the NATS message's data, which goes with
 * the delivered message's last reference. */
void onMessage(natsConnection*, natsSubscription*, natsMsg* received, void* closure)
{
    NatsSubscription* subscription = static_cast<NatsSubscription*>(closure);
    NatsLinkState& state = *subscription->mState;
    const uint64_t seen = ++subscription->mSeen;
    if (fellBehind(subscription))
    {
        dropBehind(subscription, received);
        return;
    }
    corvexClientMsg source{};
    if (!clientMsgOf(state, received, &subscription->mReceived, &subscription->mCheckedProperties,
                     &source))
    {
        destroyLater(received);
        return;
    }
    {
        std::lock_guard<std::mutex> guard(state.mLock);
        if (!state.mClosed &&
            deliversTopic(state, subscription, source.mTopic, source.mTopicLength))
        {
            corvexClientMsg* msg = corvexMsg_borrowForDelivery(&source, destroyReceived, received);
            if (msg)
            {
                received = nullptr;
                const bool gapEnds = subscription->mGapPending && seen > subscription->mGapAfter;
                if (gapEnds || subscription->mBehind)
                {
                    msg->mDiscard = 1;
                    if (gapEnds)
                        subscription->mGapPending = false;
                    subscription->mBehind = false;
                }
                state.mEndpoint.mOps->mReceive(state.mEndpoint.mSession, msg, nullptr);
            }
            else
                CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_ERROR,
                           "out of memory: message on '%s' not delivered", source.mTopic);
        }
    }
    destroyLater(received);
}

/* Caller holds state.mLock. What the subscription loses from now on, or
 * lost until now, comes after the messages the connection has handed it or
 * still holds for it: the first message after those carries the discard
 * indication. For a slow consumer, only when it dropped more since it was
 * last marked (the handler may hear of drops already marked). */
void markGap(NatsSubscription* subscription, bool onlyWhenDropped)
{
    int pending = 0;
    int64_t delivered = 0;
    int64_t dropped = 0;
    if (natsSubscription_GetStats(subscription->mHandle, &pending, nullptr, nullptr, nullptr,
                                  &delivered, &dropped) != NATS_OK)
        return;
    if (onlyWhenDropped && dropped <= subscription->mDropped)
        return;
    subscription->mDropped = dropped;
    subscription->mGapPending = true;
    subscription->mGapAfter = static_cast<uint64_t>(delivered) + static_cast<uint64_t>(pending);
}

void wantFlush(NatsLink* link);

/* A last value the cache found, handed to the requesting session. */
void deliverCached(void* closure, const CorvexCacheRequest* request, natsMsg* found)
{
    NatsLinkState& state = *static_cast<NatsLink*>(closure)->mState;
    corvexClientMsg source{};
    ReceivedSubjects subjects;
    if (!clientMsgOf(state, found, &subjects, nullptr, &source))
        return;
    std::lock_guard<std::mutex> guard(state.mLock);
    if (state.mClosed)
        return;
    corvexClientMsg* copy = corvexMsg_copyForDelivery(&source);
    if (!copy)
    {
        CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_ERROR,
                   "out of memory: cached message on '%s' not delivered", source.mTopic);
        return;
    }
    copy->mCacheStatus = CORVEXCLIENT_MSG_CACHED;
    copy->mCacheRequestId = request->mRequestId;
    state.mEndpoint.mOps->mReceiveCached(state.mEndpoint.mSession, copy);
}

/* The cache's requests to the server are sends too: a flush after each
 * has them confirmed, so that a later loss of the connection does not
 * count them among the sends that may not have reached the server. */
void completeCached(void* closure, const CorvexCacheRequest* request,
                    corvexClient_returnCode_t code, corvexClient_subCode_t subCode)
{
    NatsLink* link = static_cast<NatsLink*>(closure);
    NatsLinkState& state = *link->mState;
    {
        std::lock_guard<std::mutex> guard(state.mLock);
        if (!state.mClosed)
            state.mEndpoint.mOps->mCompleteCacheRequest(state.mEndpoint.mSession, request, code,
                                                        subCode);
    }
    wantFlush(link);
}

void onSubscriptionComplete(void* closure)
{
    delete static_cast<NatsSubscription*>(closure);
}

/* Connection callbacks share the state through a holder that the closed
 * callback, the last one, frees. */
void raise(void* closure, corvexClient_session_event_t event, corvexClient_subCode_t subCode,
           const char* info, int32_t responseCode = 0)
{
    NatsLinkState& state = **static_cast<std::shared_ptr<NatsLinkState>*>(closure);
    std::lock_guard<std::mutex> guard(state.mLock);
    if (!state.mClosed)
        state.mEndpoint.mOps->mRaiseEvent(state.mEndpoint.mSession, event, subCode, responseCode,
                                          info, nullptr);
}

/* The subject of a server's permissions violation ("<prefix>\"<subject>\"",
 * the subject quoted with backslash escapes); false for another text. */
bool violationSubject(const char* text, const char* prefix, std::string* subject)
{
    const size_t prefixLength = std::strlen(prefix);
    if (!text || std::strncmp(text, prefix, prefixLength) != 0 || text[prefixLength] != '"')
        return false;
    subject->clear();
    for (const char* p = text + prefixLength + 1; *p; ++p)
    {
        if (*p == '"')
            return p[1] == '\0';
        if (*p != '\\')
        {
            subject->push_back(*p);
            continue;
        }
        ++p;
        if (*p == '"' || *p == '\\')
            subject->push_back(*p);
        else if (*p == 'x' && std::isxdigit(static_cast<unsigned char>(p[1])) &&
                 std::isxdigit(static_cast<unsigned char>(p[2])))
        {
            subject->push_back(static_cast<char>(std::stoi(std::string(p + 1, 2), nullptr, 16)));
            p += 2;
        }
        else
            return false;
    }
    return false;
}

/* "s:" or "p:" and the subject of a subscription or publish violation;
 * empty for another text. */
std::string violationKey(const char* text)
{
    std::string subject;
    if (violationSubject(text, kSubscribeViolation, &subject))
        return "s:" + subject;
    if (violationSubject(text, kPublishViolation, &subject))
        return "p:" + subject;
    return "";
}

/* Permission refusals and slow consumers. A refused subscription is
 * recorded for the subscribe that waits for it; a refused publish is
 * reported as the embedded router reports one. */
void onError(natsConnection*, natsSubscription* handle, natsStatus status, void* closure)
{
    if (status == NATS_SLOW_CONSUMER)
    {
        NatsLinkState& state = **static_cast<std::shared_ptr<NatsLinkState>*>(closure);
        {
            std::lock_guard<std::mutex> guard(state.mLock);
            for (const auto& entry : state.mSubscriptions)
                if (entry.second->mHandle == handle)
                    markGap(entry.second, true);
        }
        const uint64_t reports = state.mSlowConsumers.fetch_add(1, std::memory_order_release) + 1;
        /* The count tells how many reports the line stands for. */
        uint64_t held = 0;
        if (corvexLogThrottle_pass(&state.mSlowConsumerLog, &held))
            CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_WARNING,
                       "NATS subscription is a slow consumer: messages dropped (%llu reports on "
                       "this connection so far)",
                       static_cast<unsigned long long>(reports));
        return;
    }
    if (status != NATS_NOT_PERMITTED)
        return;
    const char* text = nats_GetLastError(nullptr);
    {
        NatsLinkState& state = **static_cast<std::shared_ptr<NatsLinkState>*>(closure);
        std::lock_guard<std::mutex> guard(state.mLock);
        state.mLastViolation = violationKey(text);
        state.mViolationHeard.notify_all();
    }
    std::string subject;
    if (violationSubject(text, kSubscribeViolation, &subject))
    {
        NatsLinkState& state = **static_cast<std::shared_ptr<NatsLinkState>*>(closure);
        std::lock_guard<std::mutex> guard(state.mLock);
        state.mRefusedSubjects.insert(subject);
        return;
    }
    std::string topic;
    char info[CORVEXCLIENT_ERRORINFO_TEXT_SIZE];
    if (violationSubject(text, kPublishViolation, &subject) &&
        corvexNatsSubject_toTopic(subject.data(), subject.size(), &topic))
        snprintf(info, sizeof(info), "Publish refused by NATS permissions for Topic '%s'",
                 corvexLog_escape(topic.data(), topic.size()).c_str());
    else
        snprintf(info, sizeof(info), "NATS server refused an operation: %s",
                 escapedSubject(text).c_str());
    raise(closure, CORVEXCLIENT_SESSION_EVENT_MSG_REJECTED,
          CORVEXCLIENT_SUBCODE_PUBLISH_NOT_PERMITTED, info, kRefusedResponse);
}

/* The sends the connection has made so far (0 when it cannot tell). */
uint64_t sendsOf(natsConnection* connection)
{
    natsStatistics* stats = nullptr;
    uint64_t sends = 0;
    if (natsStatistics_Create(&stats) == NATS_OK &&
        natsConnection_GetStats(connection, stats) == NATS_OK)
        natsStatistics_GetCounts(stats, nullptr, nullptr, &sends, nullptr, nullptr);
    natsStatistics_Destroy(stats);
    return sends;
}

/* Caller holds state.mLock. The sends that failed in an outage, and those
 * that may not have reached the server before it, as one event that
 * counts them. */
void reportFailedSends(NatsLinkState& state)
{
    if (state.mFailedSends == 0 && state.mUnconfirmedSends == 0)
        return;
    char info[CORVEXCLIENT_ERRORINFO_TEXT_SIZE] = "";
    int length = 0;
    if (state.mUnconfirmedSends > 0)
        length = snprintf(info, sizeof(info),
                          "%llu sends may not have reached the NATS server before the connection "
                          "to it was found lost%s",
                          static_cast<unsigned long long>(state.mUnconfirmedSends),
                          state.mFailedSends > 0 ? "; " : "");
    if (state.mFailedSends > 0 && length >= 0 && static_cast<size_t>(length) < sizeof(info))
        snprintf(info + length, sizeof(info) - static_cast<size_t>(length),
                 "%llu sends failed while the connection to the NATS server was lost (the "
                 "first: %s)",
                 static_cast<unsigned long long>(state.mFailedSends), state.mFirstFailure.c_str());
    state.mFailedSends = 0;
    state.mUnconfirmedSends = 0;
    state.mFirstFailure.clear();
    CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_WARNING, "%s", info);
    if (!state.mClosed)
        state.mEndpoint.mOps->mRaiseEvent(state.mEndpoint.mSession,
                                          CORVEXCLIENT_SESSION_EVENT_MSG_REJECTED,
                                          CORVEXCLIENT_SUBCODE_NOT_CONNECTED, 0, info, nullptr);
}

/* The sends the server had not confirmed when the connection was found
 * lost may never have reached it: counted for the outage's report. */
void onLost(natsConnection* connection, void* closure)
{
    const uint64_t sends = sendsOf(connection);
    NatsLinkState& state = **static_cast<std::shared_ptr<NatsLinkState>*>(closure);
    std::lock_guard<std::mutex> guard(state.mLock);
    if (sends > state.mConfirmedSends)
    {
        state.mUnconfirmedSends += sends - state.mConfirmedSends;
        state.mConfirmedSends = sends;
    }
}

/* What the subscriptions lost while the connection was away is reported on
 * the first message of each from the new connection. */
void onReattached(natsConnection*, void* closure)
{
    NatsLinkState& state = **static_cast<std::shared_ptr<NatsLinkState>*>(closure);
    std::lock_guard<std::mutex> guard(state.mLock);
    for (const auto& entry : state.mSubscriptions)
        markGap(entry.second, false);
}

void onDisconnected(natsConnection*, void* closure)
{
    raise(closure, CORVEXCLIENT_SESSION_EVENT_RECONNECTING, CORVEXCLIENT_SUBCODE_NOT_CONNECTED,
          "connection to the NATS server lost; reconnecting");
}

void onReconnected(natsConnection*, void* closure)
{
    raise(closure, CORVEXCLIENT_SESSION_EVENT_RECONNECTED, CORVEXCLIENT_SUBCODE_OK,
          "reconnected to a NATS server");
    NatsLinkState& state = **static_cast<std::shared_ptr<NatsLinkState>*>(closure);
    std::lock_guard<std::mutex> guard(state.mLock);
    reportFailedSends(state);
}

void onClosed(natsConnection*, void* closure)
{
    raise(closure, CORVEXCLIENT_SESSION_EVENT_DOWN, CORVEXCLIENT_SUBCODE_NOT_CONNECTED,
          "connection to the NATS servers closed");
    delete static_cast<std::shared_ptr<NatsLinkState>*>(closure);
}

corvexClient_subCode_t connectSubCode(natsStatus status)
{
    if (status == NATS_CONNECTION_AUTH_FAILED)
        return CORVEXCLIENT_SUBCODE_LOGIN_REFUSED;
    if (status == NATS_NO_MEMORY)
        return CORVEXCLIENT_SUBCODE_NO_MEMORY;
    return CORVEXCLIENT_SUBCODE_CONNECT_REFUSED;
}

/* How the connection notices a server that stopped answering (pings it
 * leaves unanswered), and how long one write to it may block a sender. A
 * reconnect holds the connection, and so its senders, while it waits for a
 * server's greeting: that wait has the same bound. */
natsStatus applyLiveness(natsOptions* options, const CorvexNatsLiveness& liveness)
{
    natsStatus status = natsOptions_SetTimeout(options, liveness.mWriteDeadlineMs);
    if (status == NATS_OK)
        status = natsOptions_SetPingInterval(options, liveness.mPingIntervalMs);
    if (status == NATS_OK)
        status = natsOptions_SetMaxPingsOut(options, static_cast<int>(liveness.mMaxPingsOut));
    if (status == NATS_OK)
        status = natsOptions_SetWriteDeadline(options, liveness.mWriteDeadlineMs);
    return status;
}

natsStatus openConnection(CorvexNatsRouter* router, const CorvexRouterLogin* login,
                          std::shared_ptr<NatsLinkState>* holder, natsConnection** connection)
{
    natsOptions* options = nullptr;
    natsStatus status = natsOptions_Create(&options);
    if (status != NATS_OK)
        return status;
    std::vector<const char*> servers;
    for (const std::string& server : router->mServers)
        servers.push_back(server.c_str());
    status = natsOptions_SetServers(options, servers.data(), static_cast<int>(servers.size()));
    if (status == NATS_OK)
        status = natsOptions_SetNoRandomize(options, true);
    /* One delivery thread for every subscription (the library's pool keeps
     * one worker unless told otherwise): a subscription of its own thread
     * each would let an inbox's reply overtake, or fall behind, what the
     * same sender published before or after it on a topic. */
    if (status == NATS_OK)
        status = natsOptions_UseGlobalMessageDelivery(options, true);
    /* A request no one listens to gets no answer, as on the embedded router,
     * rather than an empty status message from the server at its inbox. */
    if (status == NATS_OK)
        status = natsOptions_DisableNoResponders(options, true);
    if (status == NATS_OK && login->mLoginUserName && *login->mLoginUserName)
        status = natsOptions_SetUserInfo(options, login->mLoginUserName,
                                         login->mLoginPassword ? login->mLoginPassword : "");
    if (status == NATS_OK && login->mConfig)
        status = corvexNatsSecurity_apply(login->mConfig->mNatsSecurity, options);
    if (status == NATS_OK)
        status = natsOptions_SetMaxReconnect(options, -1);
    if (status == NATS_OK)
        status = natsOptions_SetReconnectWait(options, kReconnectWaitMs);
    if (status == NATS_OK)
        status = applyLiveness(options,
                               login->mConfig ? login->mConfig->mLiveness : CorvexNatsLiveness{});
    if (status == NATS_OK)
        status = natsOptions_SetDisconnectedCB(options, onDisconnected, holder);
    if (status == NATS_OK)
        status = natsOptions_SetReconnectedCB(options, onReconnected, holder);
    if (status == NATS_OK)
        status = natsOptions_SetClosedCB(options, onClosed, holder);
    if (status == NATS_OK)
        status = natsOptions_SetErrorHandler(options, onError, holder);
    (*holder)->mLoopBinding = {router->mLoop, onLost, onReattached, holder};
    if (status == NATS_OK)
        status = corvexNatsLoop_apply(&(*holder)->mLoopBinding, options);
    if (status == NATS_OK)
        status = natsConnection_Connect(connection, options);
    natsOptions_Destroy(options);
    return status;
}

/* Caller holds link->mSubscribeLock. Whether the server refused the
 * subscription, once a flush sent after it has returned: as its error
 * handler heard it, or as the connection's last error names it (the
 * handler runs on another thread and may not have run yet). */
bool refused(NatsLink* link, const NatsSubscription& subscription)
{
    const char* text = nullptr;
    std::string last;
    if (natsConnection_GetLastError(link->mConnection, &text) == NATS_NOT_PERMITTED)
        last = violationKey(text);
    if (last == "s:" + subscription.mSubject)
        return true;
    NatsLinkState& state = *link->mState;
    std::unique_lock<std::mutex> lock(state.mLock);
    /* The server sends its violations in order, the handler hears them in
     * order: once it has heard the last one the connection read before the
     * flush's answer, it has heard every one before it too. */
    if (!last.empty())
        state.mViolationHeard.wait_for(lock, std::chrono::milliseconds(kSubscribeFlushMs),
                                       [&] { return state.mLastViolation == last; });
    return state.mRefusedSubjects.count(subscription.mSubject) > 0;
}

void formatRefusal(char* info, size_t size, const std::string& topic)
{
    snprintf(info, size, "Subscription refused by NATS permissions for Topic '%s'", topic.c_str());
}

/* Caller holds link->mSubscribeLock and has flushed since the subscription
 * was sent. A refused one leaves the link; its waiting requests learn the
 * outcome either way. False when refused. */
bool settle(NatsLink* link, NatsSubscription* subscription)
{
    NatsLinkState& state = *link->mState;
    const bool refusal = refused(link, *subscription);
    char info[CORVEXCLIENT_ERRORINFO_TEXT_SIZE] = "";
    if (refusal)
        formatRefusal(info, sizeof(info), subscription->mTopic);
    const std::vector<CorvexSubscribeRequest> waiting = std::move(subscription->mWaiting);
    subscription->mWaiting.clear();
    subscription->mSettled = !refusal;
    natsSubscription* handle = subscription->mHandle;
    {
        std::lock_guard<std::mutex> guard(state.mLock);
        for (const CorvexSubscribeRequest& request : waiting)
        {
            if (!state.mClosed)
                state.mEndpoint.mOps->mCompleteSubscribe(
                    state.mEndpoint.mSession, subscription->mTopic.data(),
                    subscription->mTopic.size(), &request,
                    refusal ? CORVEXCLIENT_SUBCODE_SUBSCRIBE_NOT_PERMITTED
                            : CORVEXCLIENT_SUBCODE_OK,
                    refusal ? kRefusedResponse : 0, info);
        }
        if (refusal)
        {
            state.mSubscriptions.erase(subscription->mTopic);
            ++state.mSubscriptionsChanged;
        }
    }
    if (refusal)
    {
        CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_INFO, "%s", info);
        natsSubscription_Unsubscribe(handle);
        natsSubscription_Destroy(handle);
    }
    return !refusal;
}

/* Caller holds link->mSubscribeLock. Settles every subscription sent up to
 * the flush that returned after the sent-th one. */
void settleSent(NatsLink* link, uint64_t sent)
{
    std::vector<NatsSubscription*> open;
    {
        std::lock_guard<std::mutex> guard(link->mState->mLock);
        for (const auto& entry : link->mState->mSubscriptions)
        {
            if (!entry.second->mSettled && entry.second->mSent <= sent)
                open.push_back(entry.second);
        }
    }
    for (NatsSubscription* subscription : open)
        settle(link, subscription);
}

/* Once the server has the subscriptions, messages published after they are
 * settled reach them; while reconnecting they are sent on reconnect, and
 * settled as they are. */
void flush(NatsLink* link)
{
    if (natsConnection_Status(link->mConnection) != NATS_CONN_STATUS_CONNECTED)
        return;
    /* A flush that returns confirms every send made before it began. */
    const uint64_t sends = sendsOf(link->mConnection);
    if (natsConnection_FlushTimeout(link->mConnection, kSubscribeFlushMs) == NATS_OK)
    {
        NatsLinkState& state = *link->mState;
        std::lock_guard<std::mutex> guard(state.mLock);
        state.mConfirmedSends = std::max(state.mConfirmedSends, sends);
    }
}

void runFlusher(NatsLink* link)
{
    std::unique_lock<std::mutex> lock(link->mFlushLock);
    std::chrono::steady_clock::time_point lastFlush;
    const auto settlingWanted = [link]
    { return link->mStopping || link->mQueued > link->mFlushed; };
    for (;;)
    {
        link->mFlushWanted.wait(
            lock,
            [&] { return settlingWanted() || link->mPublished.load(std::memory_order_acquire); });
        /* Subscriptions are settled at once; what was published is
         * confirmed with the flush after the interval, or with theirs. */
        if (!settlingWanted())
            link->mFlushWanted.wait_until(lock, lastFlush + kConfirmInterval, settlingWanted);
        if (link->mStopping)
            return;
        const uint64_t sent = link->mQueued;
        const bool settling = sent > link->mFlushed;
        link->mPublished.store(false, std::memory_order_release);
        lock.unlock();
        lastFlush = std::chrono::steady_clock::now();
        flush(link);
        if (settling)
        {
            std::lock_guard<std::mutex> serial(link->mSubscribeLock);
            settleSent(link, sent);
        }
        lock.lock();
        link->mFlushed = sent;
    }
}

/* Wakes the flusher unless it has been woken since it last flushed. */
void wantFlush(NatsLink* link)
{
    if (link->mPublished.load(std::memory_order_relaxed) ||
        link->mPublished.exchange(true, std::memory_order_acq_rel))
        return;
    {
        /* Taken so that the flusher cannot miss the wake-up between its
         * test and its wait. */
        std::lock_guard<std::mutex> guard(link->mFlushLock);
    }
    link->mFlushWanted.notify_one();
}

corvexClient_returnCode_t failRefused(const std::string& topic)
{
    char info[CORVEXCLIENT_ERRORINFO_TEXT_SIZE];
    formatRefusal(info, sizeof(info), topic);
    return corvexError_set(CORVEXCLIENT_FAIL, CORVEXCLIENT_SUBCODE_SUBSCRIBE_NOT_PERMITTED,
                           kRefusedResponse, "%s", info);
}

NatsSubscription* findSubscription(NatsLinkState& state, const std::string& topic)
{
    std::lock_guard<std::mutex> guard(state.mLock);
    auto it = state.mSubscriptions.find(topic);
    return it == state.mSubscriptions.end() ? nullptr : it->second;
}

/* A request that waits is answered once its subscription is settled; one
 * that does not is answered IN_PROGRESS and completed by the flusher. */
corvexClient_returnCode_t subscribe(CorvexRouter*, CorvexRouterLink* base, const char* topic,
                                    size_t length, const CorvexSubscribeRequest* request)
{
    NatsLink* link = natsLink(base);
    NatsLinkState& state = *link->mState;
    std::lock_guard<std::mutex> serial(link->mSubscribeLock);
    const std::string key(topic, length);
    if (NatsSubscription* existing = findSubscription(state, key))
    {
        if (!existing->mSettled && !request->mWait)
        {
            ++existing->mCount;
            existing->mWaiting.push_back(*request);
            return CORVEXCLIENT_IN_PROGRESS;
        }
        if (!existing->mSettled)
        {
            flush(link);
            if (!settle(link, existing))
                return failRefused(key);
        }
        ++existing->mCount;
        return CORVEXCLIENT_OK;
    }
    NatsSubscription* subscription = new (std::nothrow) NatsSubscription();
    if (!subscription)
        return corvexError_fail(CORVEXCLIENT_SUBCODE_NO_MEMORY);
    subscription->mState = link->mState;
    subscription->mTopic = key;
    subscription->mWildcard = corvexTopic_isWildcard(topic, length);
    subscription->mCount = 1;
    subscription->mHandle = nullptr;
    bool filtered = false;
    const std::string subject = subscription->mWildcard
                                    ? corvexNatsSubject_fromPattern(topic, length, &filtered)
                                    : corvexNatsSubject_fromTopic(topic, length);
    subscription->mSubject = subject;
    subscription->mPendingLimit = static_cast<int>(link->mPendingLimit);
    subscription->mPendingBytesLimit = static_cast<int>(link->mPendingBytesLimit);
    subscription->mMaxPayload = natsConnection_GetMaxPayload(link->mConnection);
    natsStatus status = natsConnection_Subscribe(&subscription->mHandle, link->mConnection,
                                                 subject.c_str(), onMessage, subscription);
    if (status != NATS_OK)
    {
        delete subscription;
        return corvexError_set(CORVEXCLIENT_FAIL, CORVEXCLIENT_SUBCODE_INTERNAL_ERROR, 0,
                               "NATS subscription to '%s' for topic '%s' failed: %s",
                               subject.c_str(), key.c_str(), natsStatus_GetText(status));
    }
    natsSubscription* handle = subscription->mHandle;
    status = natsSubscription_SetOnCompleteCB(handle, onSubscriptionComplete, subscription);
    if (status == NATS_OK)
        status = natsSubscription_SetPendingLimits(
            handle, backstop(link->mPendingLimit, kNatsDefaultMsgs),
            backstop(link->mPendingBytesLimit, kNatsDefaultBytes));
    if (status != NATS_OK)
    {
        /* Its callback may still run: the subscription is left allocated. */
        natsSubscription_Unsubscribe(handle);
        natsSubscription_Destroy(handle);
        return corvexError_set(CORVEXCLIENT_FAIL, CORVEXCLIENT_SUBCODE_INTERNAL_ERROR, 0,
                               "NATS subscription to '%s' for topic '%s' failed: %s",
                               subject.c_str(), key.c_str(), natsStatus_GetText(status));
    }
    {
        std::lock_guard<std::mutex> guard(state.mLock);
        state.mSubscriptions.emplace(key, subscription);
        ++state.mSubscriptionsChanged;
    }
    if (request->mWait)
    {
        flush(link);
        return settle(link, subscription) ? CORVEXCLIENT_OK : failRefused(key);
    }
    subscription->mWaiting.push_back(*request);
    {
        std::lock_guard<std::mutex> guard(link->mFlushLock);
        subscription->mSent = ++link->mQueued;
    }
    link->mFlushWanted.notify_one();
    return CORVEXCLIENT_IN_PROGRESS;
}

void unsubscribe(CorvexRouter*, CorvexRouterLink* base, const char* topic, size_t length)
{
    NatsLink* link = natsLink(base);
    NatsLinkState& state = *link->mState;
    std::lock_guard<std::mutex> serial(link->mSubscribeLock);
    const std::string key(topic, length);
    NatsSubscription* subscription = findSubscription(state, key);
    if (!subscription)
        return;
    /* Requests still waiting are answered before their subscription goes. */
    if (subscription->mCount == 1 && !subscription->mSettled)
    {
        flush(link);
        if (!settle(link, subscription))
            return;
    }
    natsSubscription* handle = nullptr;
    {
        std::lock_guard<std::mutex> guard(state.mLock);
        if (--subscription->mCount > 0)
            return;
        handle = subscription->mHandle;
        state.mSubscriptions.erase(key);
        ++state.mSubscriptionsChanged;
    }
    natsSubscription_Unsubscribe(handle);
    natsSubscription_Destroy(handle);
}

void closeLink(CorvexNatsRouter* router, NatsLink* link)
{
    /* Its thread asks the server over the connection. */
    corvexNatsCache_close(link->mCache);
    std::vector<natsSubscription*> handles;
    {
        std::lock_guard<std::mutex> serial(link->mSubscribeLock);
        std::lock_guard<std::mutex> guard(link->mState->mLock);
        reportFailedSends(*link->mState);
        link->mState->mClosed = true;
        for (const auto& entry : link->mState->mSubscriptions)
            handles.push_back(entry.second->mHandle);
        link->mState->mSubscriptions.clear();
        ++link->mState->mSubscriptionsChanged;
    }
    /* What was published is still in the connection's buffer: sent before
     * it closes, or the last messages of a sender that leaves are lost. */
    if (natsConnection_Status(link->mConnection) == NATS_CONN_STATUS_CONNECTED)
        natsConnection_FlushTimeout(link->mConnection, kCloseFlushMs);
    natsConnection_Close(link->mConnection);
    corvexNatsLoop_quiesce(router->mLoop);
    if (link->mFlusher.joinable())
    {
        {
            std::lock_guard<std::mutex> guard(link->mFlushLock);
            link->mStopping = true;
        }
        link->mFlushWanted.notify_one();
        link->mFlusher.join();
    }
    for (natsSubscription* handle : handles)
        natsSubscription_Destroy(handle);
    natsConnection_Destroy(link->mConnection);
    {
        std::lock_guard<std::mutex> guard(router->mLock);
        router->mClients.erase(link->mClientName);
    }
    delete link;
}

corvexClient_returnCode_t connect(CorvexRouter* base, const CorvexRouterEndpoint* endpoint,
                                  const CorvexRouterLogin* login, CorvexRouterLink** result)
{
    CorvexNatsRouter* router = natsRouter(base);
    {
        std::lock_guard<std::mutex> guard(router->mLock);
        if (!router->mClients.insert(login->mClientName).second)
            return corvexError_set(CORVEXCLIENT_FAIL, CORVEXCLIENT_SUBCODE_CLIENT_NAME_IN_USE, 0,
                                   "client name '%s' is already connected to router '%s'",
                                   login->mClientName, base->mName.c_str());
    }
    NatsLink* link = new (std::nothrow) NatsLink{};
    auto* holder = new (std::nothrow) std::shared_ptr<NatsLinkState>();
    if (link && holder)
    {
        link->mState = std::make_shared<NatsLinkState>();
        link->mState->mEndpoint = *endpoint;
        link->mClientName = login->mClientName;
        link->mPendingLimit =
            login->mConfig ? login->mConfig->mPendingLimit : kCorvexDefaultPendingLimit;
        link->mPropertiesHeader = login->mConfig && login->mConfig->mPropertiesHeader;
        link->mWriteDeadline = std::chrono::milliseconds(
            (login->mConfig ? login->mConfig->mLiveness : CorvexNatsLiveness{}).mWriteDeadlineMs);
        link->mPendingBytesLimit =
            login->mConfig ? login->mConfig->mPendingBytesLimit : kCorvexDefaultPendingBytesLimit;
        *holder = link->mState;
    }
    const natsStatus status =
        link && holder ? openConnection(router, login, holder, &link->mConnection) : NATS_NO_MEMORY;
    if (status != NATS_OK)
    {
        delete holder;
        delete link;
        {
            std::lock_guard<std::mutex> guard(router->mLock);
            router->mClients.erase(login->mClientName);
        }
        /* The library's own text says which certificate or login failed. */
        const char* detail = nats_GetLastError(nullptr);
        return corvexError_set(
            CORVEXCLIENT_FAIL, connectSubCode(status), 0,
            "connecting to NATS server %s failed: %s%s%s%s", base->mName.c_str(),
            natsStatus_GetText(status), detail && *detail ? ": " : "", detail ? detail : "",
            login->mConfig ? corvexNatsSecurity_hint(login->mConfig->mNatsSecurity, status) : "");
    }
    /* Peer-to-peer messages to the session, "#P2P/v:<router>/<client>/...". */
    const std::string inbox =
        CORVEXCLIENT_P2P_TOPIC_PREFIX "v:" + base->mName + "/" + link->mClientName + "/>";
    CorvexRouterLink* created = reinterpret_cast<CorvexRouterLink*>(link);
    try
    {
        link->mFlusher = std::thread(runFlusher, link);
    }
    catch (const std::system_error&)
    {
        closeLink(router, link);
        return corvexError_fail(CORVEXCLIENT_SUBCODE_THREAD_FAILURE);
    }
    const CorvexSubscribeRequest request{true, 0, nullptr};
    const corvexClient_returnCode_t code =
        subscribe(base, created, inbox.data(), inbox.size(), &request);
    if (code != CORVEXCLIENT_OK)
    {
        closeLink(router, link);
        return code;
    }
    if (login->mConfig && login->mConfig->mAccessRulesGiven)
        CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_WARNING,
                   "session %s: the NATS router applies no access rules of its own (the "
                   "server's permissions hold); \"%s\" is ignored",
                   login->mClientName, CORVEXCLIENT_SESSION_PROP_ROUTER_ACCESS_RULES);
    const CorvexCacheSetting setting =
        login->mConfig ? login->mConfig->mCache : CorvexCacheSetting{};
    link->mCache = corvexNatsCache_open(link->mConnection, setting, link->mClientName,
                                        {deliverCached, completeCached, link});
    if (!link->mCache)
    {
        closeLink(router, link);
        return corvexError_fail(CORVEXCLIENT_SUBCODE_NO_MEMORY);
    }
    /* Opening the cache asked the server about its stream. */
    wantFlush(link);
    *result = created;
    return CORVEXCLIENT_OK;
}

void disconnect(CorvexRouter* base, CorvexRouterLink* link)
{
    closeLink(natsRouter(base), natsLink(link));
}

/* What a sending thread keeps between its publishes, in one block (each
 * thread_local of a shared library is a lookup call): its last topic and
 * its subject, the property text of its last map with the bytes it was
 * encoded from (a publisher sends the same map with every message, its
 * publisher information), and the payload it last framed. */
struct PublishScratch
{
    std::string mTopic;
    std::string mSubject;
    std::string mMapBytes;
    std::string mPropertyText;
    std::string mPayload;
};

thread_local PublishScratch tPublish;

const std::string& publishSubject(PublishScratch& scratch, const char* topic, size_t length)
{
    if (scratch.mSubject.empty() || scratch.mTopic.size() != length ||
        scratch.mTopic.compare(0, length, topic, length) != 0)
    {
        scratch.mSubject = corvexNatsSubject_fromTopic(topic, length);
        scratch.mTopic.assign(topic, length);
    }
    return scratch.mSubject;
}

/* The property text a message is sent with: its map's, or the text it was
 * received with when it is sent on unread; false without properties. */
bool propertyText(PublishScratch& scratch, const corvexClientMsg* msg, const char** text,
                  size_t* length)
{
    if (msg->mEncodedMap && msg->mMapState.load(std::memory_order_acquire) != 2)
    {
        *text = msg->mEncodedMap;
        *length = msg->mEncodedMapLength;
        return true;
    }
    const corvexClientContainer* map = msg->mMap;
    if (!map || map->mCount == 0)
        return false;
    const char* bytes = reinterpret_cast<const char*>(map);
    const size_t size = corvexContainer_size(map);
    if (scratch.mMapBytes.size() != size || std::memcmp(scratch.mMapBytes.data(), bytes, size) != 0)
    {
        scratch.mPropertyText.clear();
        corvexContainer_forEach(map, corvexNatsProperties_add, &scratch.mPropertyText);
        scratch.mMapBytes.assign(bytes, size);
    }
    *text = scratch.mPropertyText.data();
    *length = scratch.mPropertyText.size();
    return true;
}

/* The payload of a message: a frame with its property text (none with the
 * header option) ahead of its content, or the content alone when it needs
 * no frame. */
void payloadOf(PublishScratch& scratch, const corvexClientMsg* msg, const char* text, size_t length,
               const char** data, int* size)
{
    const bool needed = corvexNatsFrame_needed(msg->mContent, msg->mContentLength);
    if (!text && !needed)
    {
        *data = static_cast<const char*>(msg->mContent);
        *size = static_cast<int>(msg->mContentLength);
        return;
    }
    std::string& payload = scratch.mPayload;
    payload.clear();
    corvexNatsFrame_appendHeader(payload, static_cast<uint32_t>(text ? length : 0));
    if (text)
        payload.append(text, length);
    if (msg->mContentLength)
        payload.append(static_cast<const char*>(msg->mContent), msg->mContentLength);
    *data = payload.data();
    *size = static_cast<int>(payload.size());
}

/* With the header option, the property text goes as a header. The header
 * takes a terminated text: the scratch's own property text is one, a text
 * received with the message is copied. The message is destroyed at once,
 * not in the thread's batch: a publisher at full speed keeps creating such
 * messages, and it sends more of them a second when their memory (the
 * message, its header's hash and values) comes back message by message
 * than 64 at a time. */
natsStatus publishWithHeader(NatsLink* link, PublishScratch& scratch, const char* subject,
                             const char* reply, const char* text, size_t length, const char* data,
                             int size)
{
    std::string copy;
    const char* value = text;
    if (text != scratch.mPropertyText.data())
    {
        copy.assign(text, length);
        value = copy.c_str();
    }
    natsMsg* out = nullptr;
    natsStatus status = natsMsg_Create(&out, subject, reply, data, size);
    if (status != NATS_OK)
        return status;
    status = natsMsgHeader_Set(out, CORVEX_NATS_PROPERTY_HEADER, value);
    if (status == NATS_OK)
        status = natsConnection_PublishMsg(link->mConnection, out);
    natsMsg_Destroy(out);
    return status;
}

/* Statuses of a publish that found no working connection: while it
 * reconnects, the connection's buffer has taken all it can. */
bool isOutage(natsStatus status)
{
    return status == NATS_TIMEOUT || status == NATS_INSUFFICIENT_BUFFER ||
           status == NATS_CONNECTION_CLOSED || status == NATS_CONNECTION_DISCONNECTED ||
           status == NATS_IO_ERROR || status == NATS_STALE_CONNECTION;
}

/* A failed publish fails its send. In an outage it is counted for the
 * outage's one event and logged once a second; otherwise it is reported at
 * once. */
corvexClient_returnCode_t failPublish(NatsLink* link, const corvexClientMsg* msg, natsStatus status)
{
    char info[CORVEXCLIENT_ERRORINFO_TEXT_SIZE];
    snprintf(info, sizeof(info), "NATS publish on Topic '%s' failed: %s", msg->mTopic,
             natsStatus_GetText(status));
    NatsLinkState& state = *link->mState;
    if (!isOutage(status))
    {
        state.mEndpoint.mOps->mRaiseEvent(state.mEndpoint.mSession,
                                          CORVEXCLIENT_SESSION_EVENT_MSG_REJECTED,
                                          CORVEXCLIENT_SUBCODE_MSG_REJECTED, 0, info, nullptr);
        return corvexError_set(CORVEXCLIENT_FAIL, CORVEXCLIENT_SUBCODE_MSG_REJECTED, 0, "%s", info);
    }
    uint64_t failed = 0;
    {
        std::lock_guard<std::mutex> guard(state.mLock);
        if (state.mFailedSends++ == 0)
            state.mFirstFailure = info;
        failed = state.mFailedSends;
    }
    uint64_t held = 0;
    if (corvexLog_enabled(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_WARNING) &&
        corvexLogThrottle_pass(&state.mFailedSendLog, &held))
        corvexLog_write(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_WARNING,
                        "%s (%llu sends failed in this outage so far)", info,
                        static_cast<unsigned long long>(failed));
    return corvexError_set(CORVEXCLIENT_FAIL, CORVEXCLIENT_SUBCODE_NOT_CONNECTED, 0, "%s", info);
}

corvexClient_returnCode_t publish(CorvexRouter* router, CorvexRouterLink* base,
                                  const corvexClientMsg* msg, CorvexWaitList*)
{
    NatsLink* link = natsLink(base);
    PublishScratch& scratch = tPublish;
    const std::string& subject = publishSubject(scratch, msg->mTopic, msg->mTopicLength);
    const std::string reply =
        msg->mHasReplyTo ? corvexNatsSubject_fromTopic(msg->mReplyTo, msg->mReplyToLength) : "";
    const char* replySubject = msg->mHasReplyTo ? reply.c_str() : nullptr;
    const char* text = nullptr;
    size_t length = 0;
    const bool hasProperties = propertyText(scratch, msg, &text, &length);
    const bool asHeader = hasProperties && link->mPropertiesHeader;
    const char* data = nullptr;
    int size = 0;
    payloadOf(scratch, msg, asHeader ? nullptr : text, length, &data, &size);
    /* Asked every few sends: the answer costs the connection's lock. */
    if ((link->mSendsUnchecked.fetch_add(1, std::memory_order_relaxed) & kRoomCheckMask) == 0 &&
        natsConnection_Buffered(link->mConnection) > kMaxUnwrittenBytes &&
        natsConnection_Status(link->mConnection) == NATS_CONN_STATUS_CONNECTED &&
        !corvexNatsLoop_awaitRoom(natsRouter(router)->mLoop, link->mConnection, kMaxUnwrittenBytes,
                                  std::chrono::steady_clock::now() + link->mWriteDeadline))
        return failPublish(link, msg, NATS_TIMEOUT);
    corvexNatsLoop_holdWrites();
    natsStatus status;
    if (asHeader)
        status = publishWithHeader(link, scratch, subject.c_str(), replySubject, text, length, data,
                                   size);
    else if (replySubject)
        status = natsConnection_PublishRequest(link->mConnection, subject.c_str(), replySubject,
                                               data, size);
    else
        status = natsConnection_Publish(link->mConnection, subject.c_str(), data, size);
    corvexNatsLoop_releaseWrites();
    if (status != NATS_OK)
        return failPublish(link, msg, status);
    wantFlush(link);
    return CORVEXCLIENT_OK;
}

void cacheRequest(CorvexRouter*, CorvexRouterLink* base, const CorvexCacheRequest* request)
{
    corvexNatsCache_request(natsLink(base)->mCache, request);
}

void destroy(CorvexRouter* base)
{
    CorvexNatsRouter* router = natsRouter(base);
    corvexNatsLoop_destroy(router->mLoop);
    delete router;
}

const CorvexRouterOps kNatsOps = {connect, disconnect,   subscribe, unsubscribe,
                                  publish, cacheRequest, destroy};
} // namespace

bool corvexNatsRouter_selects(const std::string& selector)
{
    return selector.compare(0, std::strlen(kScheme), kScheme) == 0 ||
           selector.compare(0, std::strlen(kTlsScheme), kTlsScheme) == 0;
}

corvexClient_returnCode_t corvexNatsRouter_nameOf(const std::string& selector, std::string* name,
                                                  std::vector<std::string>* servers)
{
    std::string hosts;
    servers->clear();
    /* Every server of the list has the scheme of the first. */
    const char* scheme =
        selector.compare(0, std::strlen(kTlsScheme), kTlsScheme) == 0 ? kTlsScheme : kScheme;
    size_t start = 0;
    while (start <= selector.size())
    {
        size_t end = selector.find(',', start);
        if (end == std::string::npos)
            end = selector.size();
        const std::string url = selector.substr(start, end - start);
        const std::string host = url.compare(0, std::strlen(scheme), scheme) == 0
                                     ? url.substr(std::strlen(scheme))
                                     : std::string();
        if (host.empty() || host.find_first_of("/@ ") != std::string::npos)
            return corvexError_set(CORVEXCLIENT_FAIL, CORVEXCLIENT_SUBCODE_UNSUPPORTED_ROUTER, 0,
                                   "router '%s': '%s' is not a \"%s<host>:<port>\" server",
                                   selector.c_str(), url.c_str(), scheme);
        hosts += (hosts.empty() ? "" : ",") + host;
        servers->push_back(url);
        start = end + 1;
    }
    *name = (scheme == kTlsScheme ? "tls:" : "nats:") + hosts;
    return CORVEXCLIENT_OK;
}

namespace
{
/* The C library's allocator gives the top of a heap back to the system as
 * soon as 128 KB of it are free, until the program frees one large block:
 * from then on it keeps twice that block's size. The NATS library allocates
 * each received message on the reading thread and frees it on its collector
 * thread, and the free space at the top of the reading thread's heap keeps
 * crossing the default: at full speed a subscriber took about a quarter
 * more processor time a message, handing pages back and faulting them in
 * again. A block of 2 MB, freed, sets the allocator as any program that
 * once freed such a block finds it (kept: 4 MB); one that freed a larger
 * block keeps its own. */
void keepFreedMemoryLonger()
{
    void* volatile block = std::malloc(2 << 20);
    std::free(block);
}
} // namespace

CorvexNatsRouter* corvexNatsRouter_create(const std::string& name,
                                          const std::vector<std::string>& servers)
{
    static std::once_flag once;
    std::call_once(once, keepFreedMemoryLonger);
    CorvexNatsRouter* router = new (std::nothrow) CorvexNatsRouter();
    if (!router)
        return nullptr;
    router->mLoop = corvexNatsLoop_create();
    if (!router->mLoop)
    {
        delete router;
        return nullptr;
    }
    router->mOps = &kNatsOps;
    router->mName = name;
    router->mServers = servers;
    return router;
}
