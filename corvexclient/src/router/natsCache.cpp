#include "router/natsCache.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

#include "clientLog.h"
#include "router/natsSubject.h"
#include "topicMatch.h"

namespace
{
constexpr int64_t kServerWaitMs = 2000;

struct PendingRequest
{
    std::string mTopic;
    CorvexCacheRequest mRequest; /* mTopic set when it is answered */
};
} // namespace

struct CorvexNatsCache
{
    CorvexNatsCacheAnswer mAnswer;
    /* The topics cached; a stream subject may hold more (a level's prefix
     * cannot be said in a subject). */
    std::vector<std::string> mPatterns;
    jsCtx* mJetStream = nullptr; /* NULL: no stream, nothing cached */
    std::mutex mLock;            /* guards mQueue and mStopping */
    std::condition_variable mWork;
    std::deque<PendingRequest> mQueue;
    bool mStopping = false;
    std::thread mThread;
};

namespace
{
jsOptions serverWait()
{
    jsOptions options;
    jsOptions_Init(&options);
    options.Wait = kServerWaitMs;
    return options;
}

std::set<std::string> streamSubjects(const CorvexCacheSetting& setting)
{
    std::set<std::string> subjects;
    for (const std::string& pattern : setting.mPatterns)
    {
        bool filtered = false;
        subjects.insert(corvexNatsSubject_fromPattern(pattern.data(), pattern.size(), &filtered));
    }
    return subjects;
}

std::string joined(const std::set<std::string>& subjects)
{
    std::string text;
    for (const std::string& subject : subjects)
        text += (text.empty() ? "" : ",") + subject;
    return text;
}

/* The stream's subjects as another session created it. */
std::set<std::string> existingSubjects(jsCtx* jetStream)
{
    std::set<std::string> subjects;
    jsStreamInfo* info = nullptr;
    jsOptions options = serverWait();
    if (js_GetStreamInfo(&info, jetStream, CORVEX_NATS_CACHE_STREAM, &options, nullptr) ==
            NATS_OK &&
        info->Config)
    {
        for (int i = 0; i < info->Config->SubjectsLen; ++i)
            subjects.insert(info->Config->Subjects[i]);
    }
    jsStreamInfo_Destroy(info);
    return subjects;
}

/* Creates or joins the stream; false (logged) when there is none to use. */
bool openStream(jsCtx* jetStream, const std::set<std::string>& subjects, int replicas,
                const std::string& clientName)
{
    std::vector<const char*> list;
    for (const std::string& subject : subjects)
        list.push_back(subject.c_str());
    jsStreamConfig config;
    jsStreamConfig_Init(&config);
    config.Name = CORVEX_NATS_CACHE_STREAM;
    config.Subjects = list.data();
    config.SubjectsLen = static_cast<int>(list.size());
    config.Storage = js_MemoryStorage;
    config.MaxMsgsPerSubject = 1;
    config.Replicas = replicas;
    jsOptions options = serverWait();
    jsErrCode error = static_cast<jsErrCode>(0);
    jsStreamInfo* info = nullptr;
    const natsStatus status = js_AddStream(&info, jetStream, &config, &options, &error);
    jsStreamInfo_Destroy(info);
    if (status == NATS_OK)
        return true;
    if (error == JSStreamNameExistErr)
    {
        const std::set<std::string> kept = existingSubjects(jetStream);
        if (kept != subjects)
            CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_WARNING,
                       "session %s: \"%s\" subjects '%s' ignored: stream %s keeps '%s'",
                       clientName.c_str(), CORVEXCLIENT_SESSION_PROP_ROUTER_CACHED_TOPICS,
                       joined(subjects).c_str(), CORVEX_NATS_CACHE_STREAM, joined(kept).c_str());
        return true;
    }
    CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_WARNING,
               "session %s: no last-value cache: JetStream stream %s for '%s' not available: %s "
               "(error %d)",
               clientName.c_str(), CORVEX_NATS_CACHE_STREAM, joined(subjects).c_str(),
               natsStatus_GetText(status), static_cast<int>(error));
    return false;
}

bool cached(const CorvexNatsCache* cache, const std::string& topic)
{
    for (const std::string& pattern : cache->mPatterns)
    {
        if (corvexTopic_matches(pattern.data(), pattern.size(), topic.data(), topic.size()))
            return true;
    }
    return false;
}

/* The last message on one subject; false when the stream has none there. */
bool deliverLast(CorvexNatsCache* cache, const CorvexCacheRequest* request,
                 const std::string& subject, natsStatus* failure)
{
    natsMsg* found = nullptr;
    jsOptions options = serverWait();
    jsErrCode error = static_cast<jsErrCode>(0);
    const natsStatus status = js_GetLastMsg(&found, cache->mJetStream, CORVEX_NATS_CACHE_STREAM,
                                            subject.c_str(), &options, &error);
    if (status != NATS_OK)
    {
        if (status != NATS_NOT_FOUND && error != JSNoMessageFoundErr)
            *failure = status;
        return false;
    }
    cache->mAnswer.mDeliver(cache->mAnswer.mClosure, request, found);
    natsMsg_Destroy(found);
    return true;
}

/* Every subject the stream holds under the pattern's subject whose topic
 * the pattern matches (a prefix level is filtered here). */
size_t deliverMatching(CorvexNatsCache* cache, const CorvexCacheRequest* request,
                       natsStatus* failure)
{
    bool filtered = false;
    const std::string filter =
        corvexNatsSubject_fromPattern(request->mTopic, request->mTopicLength, &filtered);
    jsOptions options = serverWait();
    options.Stream.Info.SubjectsFilter = filter.c_str();
    jsStreamInfo* info = nullptr;
    const natsStatus status =
        js_GetStreamInfo(&info, cache->mJetStream, CORVEX_NATS_CACHE_STREAM, &options, nullptr);
    if (status != NATS_OK)
    {
        *failure = status;
        return 0;
    }
    size_t delivered = 0;
    const jsStreamStateSubjects* subjects = info->State.Subjects;
    for (int i = 0; subjects && i < subjects->Count; ++i)
    {
        const std::string subject = subjects->List[i].Subject;
        std::string topic;
        if (!corvexNatsSubject_toTopic(subject.data(), subject.size(), &topic) ||
            !corvexTopic_matches(request->mTopic, request->mTopicLength, topic.data(),
                                 topic.size()) ||
            !cached(cache, topic))
            continue;
        if (deliverLast(cache, request, subject, failure))
            ++delivered;
    }
    jsStreamInfo_Destroy(info);
    return delivered;
}

void answer(CorvexNatsCache* cache, const CorvexCacheRequest* request)
{
    natsStatus failure = NATS_OK;
    size_t delivered = 0;
    if (corvexTopic_isWildcard(request->mTopic, request->mTopicLength))
        delivered = deliverMatching(cache, request, &failure);
    else if (cached(cache, std::string(request->mTopic, request->mTopicLength)) &&
             deliverLast(cache, request,
                         corvexNatsSubject_fromTopic(request->mTopic, request->mTopicLength),
                         &failure))
        delivered = 1;
    const CorvexNatsCacheAnswer& to = cache->mAnswer;
    if (delivered > 0)
        to.mComplete(to.mClosure, request, CORVEXCLIENT_OK, CORVEXCLIENT_SUBCODE_OK);
    else if (failure == NATS_OK)
        to.mComplete(to.mClosure, request, CORVEXCLIENT_INCOMPLETE,
                     CORVEXCLIENT_SUBCODE_CACHE_NO_DATA);
    else
    {
        CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_WARNING,
                   "cache request %llu for '%.*s' failed: %s",
                   static_cast<unsigned long long>(request->mRequestId),
                   static_cast<int>(request->mTopicLength), request->mTopic,
                   natsStatus_GetText(failure));
        to.mComplete(to.mClosure, request, CORVEXCLIENT_FAIL,
                     failure == NATS_TIMEOUT ? CORVEXCLIENT_SUBCODE_CACHE_TIMEOUT
                                             : CORVEXCLIENT_SUBCODE_NOT_CONNECTED);
    }
}

void run(CorvexNatsCache* cache)
{
    std::unique_lock<std::mutex> lock(cache->mLock);
    for (;;)
    {
        cache->mWork.wait(lock, [cache] { return cache->mStopping || !cache->mQueue.empty(); });
        if (cache->mStopping)
            return;
        PendingRequest pending = std::move(cache->mQueue.front());
        cache->mQueue.pop_front();
        lock.unlock();
        pending.mRequest.mTopic = pending.mTopic.data();
        pending.mRequest.mTopicLength = pending.mTopic.size();
        answer(cache, &pending.mRequest);
        lock.lock();
    }
}
} // namespace

CorvexNatsCache* corvexNatsCache_open(natsConnection* connection, const CorvexCacheSetting& setting,
                                      const std::string& clientName,
                                      const CorvexNatsCacheAnswer& answer)
{
    CorvexNatsCache* cache = new (std::nothrow) CorvexNatsCache;
    if (!cache)
        return nullptr;
    cache->mAnswer = answer;
    if (setting.mMode != CORVEX_CACHE_PATTERNS || setting.mPatterns.empty())
    {
        if (setting.mMode == CORVEX_CACHE_PUBLISHED)
            CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_INFO,
                       "session %s: the NATS router caches the topics of \"%s\" only; none given",
                       clientName.c_str(), CORVEXCLIENT_SESSION_PROP_ROUTER_CACHED_TOPICS);
        return cache;
    }
    jsCtx* jetStream = nullptr;
    if (natsConnection_JetStream(&jetStream, connection, nullptr) != NATS_OK)
        return cache;
    if (!openStream(jetStream, streamSubjects(setting), setting.mReplicas, clientName))
    {
        jsCtx_Destroy(jetStream);
        return cache;
    }
    cache->mJetStream = jetStream;
    cache->mPatterns = setting.mPatterns;
    try
    {
        cache->mThread = std::thread(run, cache);
    }
    catch (const std::system_error&)
    {
        CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_ERROR,
                   "session %s: no last-value cache: its thread did not start", clientName.c_str());
        cache->mJetStream = nullptr;
        jsCtx_Destroy(jetStream);
    }
    return cache;
}

void corvexNatsCache_request(CorvexNatsCache* cache, const CorvexCacheRequest* request)
{
    if (!cache->mJetStream)
    {
        cache->mAnswer.mComplete(cache->mAnswer.mClosure, request, CORVEXCLIENT_INCOMPLETE,
                                 CORVEXCLIENT_SUBCODE_CACHE_NO_DATA);
        return;
    }
    {
        std::lock_guard<std::mutex> guard(cache->mLock);
        cache->mQueue.push_back({std::string(request->mTopic, request->mTopicLength), *request});
    }
    cache->mWork.notify_one();
}

void corvexNatsCache_close(CorvexNatsCache* cache)
{
    if (!cache)
        return;
    {
        std::lock_guard<std::mutex> guard(cache->mLock);
        cache->mStopping = true;
    }
    cache->mWork.notify_one();
    if (cache->mThread.joinable())
        cache->mThread.join();
    if (cache->mJetStream)
        jsCtx_Destroy(cache->mJetStream);
    delete cache;
}
