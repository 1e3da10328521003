#include "router/natsRouter.h"

#include <nats/nats.h>

#include <cstring>
#include <map>
#include <memory>

#include "clientError.h"
#include "clientLog.h"
#include "message.h"
#include "router/natsCache.h"
#include "router/natsSubject.h"
#include "router/routerConfig.h"
#include "topicMatch.h"

namespace
{
constexpr const char* kScheme = "nats://";
constexpr int64_t kConnectTimeoutMs = 2000;
constexpr int64_t kReconnectWaitMs = 250;
constexpr int64_t kSubscribeFlushMs = 2000;
constexpr int64_t kCloseFlushMs = 2000;
constexpr int64_t kRequestFlushMs = 500;

struct NatsSubscription;

/* What the connection's threads share with the session's: the endpoint,
 * reached only while the link is open and under mLock. */
struct NatsLinkState
{
    std::mutex mLock;
    CorvexRouterEndpoint mEndpoint;
    bool mClosed = false;
    /* Ordered, so that of a link's subscriptions matching a topic the same
     * one always delivers it. */
    std::map<std::string, NatsSubscription*> mSubscriptions;
};

/* One NATS subscription per topic and link; freed once its last message has
 * been handled. */
struct NatsSubscription
{
    std::shared_ptr<NatsLinkState> mState;
    std::string mTopic;
    bool mWildcard;
    uint32_t mCount;
    natsSubscription* mHandle;
};

struct NatsLink
{
    std::shared_ptr<NatsLinkState> mState;
    natsConnection* mConnection;
    CorvexNatsCache* mCache; /* answers the session's cache requests */
    std::string mClientName;
    std::mutex mSubscribeLock; /* serialises subscribe and unsubscribe */
};

CorvexNatsRouter* natsRouter(CorvexRouter* router)
{
    return static_cast<CorvexNatsRouter*>(router);
}

NatsLink* natsLink(CorvexRouterLink* link)
{
    return reinterpret_cast<NatsLink*>(link);
}

bool subscriptionMatches(const NatsSubscription& subscription, const std::string& topic)
{
    if (!subscription.mWildcard)
        return subscription.mTopic == topic;
    return corvexTopic_matches(subscription.mTopic.data(), subscription.mTopic.size(), topic.data(),
                               topic.size());
}

/* Caller holds state.mLock. Every subscription of the link that matches a
 * topic receives the message from the server: only the first delivers it. */
bool deliversTopic(const NatsLinkState& state, const NatsSubscription* subscription,
                   const std::string& topic)
{
    for (const auto& entry : state.mSubscriptions)
    {
        if (subscriptionMatches(*entry.second, topic))
            return entry.second == subscription;
    }
    return false;
}

bool receivedTopic(const char* subject, std::string* topic)
{
    size_t length = 0;
    return subject && corvexNatsSubject_toTopic(subject, std::strlen(subject), topic) &&
           corvexTopic_validate(topic->c_str(), &length) == CORVEXCLIENT_SUBCODE_OK;
}

/* Fills the value-initialised client message a received NATS message
 * stands for, pointing into it and into the topic strings; false (logged)
 * when its subjects are no topics. */
bool clientMsgOf(natsMsg* received, std::string* topic, std::string* replyTo, corvexClientMsg* msg)
{
    const char* replySubject = natsMsg_GetReply(received);
    const bool hasReplyTo = replySubject && *replySubject;
    if (!receivedTopic(natsMsg_GetSubject(received), topic) ||
        (hasReplyTo && !receivedTopic(replySubject, replyTo)))
    {
        CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_WARNING,
                   "message on NATS subject '%s' (reply '%s') dropped: not a topic",
                   natsMsg_GetSubject(received), hasReplyTo ? replySubject : "");
        return false;
    }
    msg->mTopic = topic->c_str();
    msg->mTopicLength = static_cast<uint32_t>(topic->size());
    msg->mContent = natsMsg_GetData(received);
    msg->mContentLength = static_cast<uint32_t>(natsMsg_GetDataLength(received));
    msg->mHasReplyTo = hasReplyTo ? 1 : 0;
    msg->mReplyTo = replyTo->c_str();
    msg->mReplyToLength = static_cast<uint32_t>(replyTo->size());
    msg->mDeliveryMode = CORVEXCLIENT_DELIVERY_MODE_DIRECT;
    return true;
}

void onMessage(natsConnection*, natsSubscription*, natsMsg* received, void* closure)
{
    NatsSubscription* subscription = static_cast<NatsSubscription*>(closure);
    std::string topic;
    std::string replyTo;
    corvexClientMsg source{};
    if (clientMsgOf(received, &topic, &replyTo, &source))
    {
        NatsLinkState& state = *subscription->mState;
        std::lock_guard<std::mutex> guard(state.mLock);
        if (!state.mClosed && deliversTopic(state, subscription, topic))
        {
            corvexClientMsg* copy = corvexMsg_copyForDelivery(&source);
            if (copy)
                state.mEndpoint.mOps->mReceive(state.mEndpoint.mSession, copy, nullptr);
            else
                CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_ERROR,
                           "out of memory: message on '%s' not delivered", topic.c_str());
        }
    }
    natsMsg_Destroy(received);
}

/* A last value the cache found, handed to the requesting session. */
void deliverCached(void* closure, const CorvexCacheRequest* request, natsMsg* found)
{
    NatsLinkState& state = *static_cast<NatsLinkState*>(closure);
    std::string topic;
    std::string replyTo;
    corvexClientMsg source{};
    if (!clientMsgOf(found, &topic, &replyTo, &source))
        return;
    std::lock_guard<std::mutex> guard(state.mLock);
    if (state.mClosed)
        return;
    corvexClientMsg* copy = corvexMsg_copyForDelivery(&source);
    if (!copy)
    {
        CORVEX_LOG(CORVEXCLIENT_LOG_CATEGORY_APP, CORVEXCLIENT_LOG_ERROR,
                   "out of memory: cached message on '%s' not delivered", topic.c_str());
        return;
    }
    copy->mCacheStatus = CORVEXCLIENT_MSG_CACHED;
    copy->mCacheRequestId = request->mRequestId;
    state.mEndpoint.mOps->mReceiveCached(state.mEndpoint.mSession, copy);
}

void completeCached(void* closure, const CorvexCacheRequest* request,
                    corvexClient_returnCode_t code, corvexClient_subCode_t subCode)
{
    NatsLinkState& state = *static_cast<NatsLinkState*>(closure);
    std::lock_guard<std::mutex> guard(state.mLock);
    if (!state.mClosed)
        state.mEndpoint.mOps->mCompleteCacheRequest(state.mEndpoint.mSession, request, code,
                                                    subCode);
}

void onSubscriptionComplete(void* closure)
{
    delete static_cast<NatsSubscription*>(closure);
}

/* Connection callbacks share the state through a holder that the closed
 * callback, the last one, frees. */
void raise(void* closure, corvexClient_session_event_t event, corvexClient_subCode_t subCode,
           const char* info)
{
    NatsLinkState& state = **static_cast<std::shared_ptr<NatsLinkState>*>(closure);
    std::lock_guard<std::mutex> guard(state.mLock);
    if (!state.mClosed)
        state.mEndpoint.mOps->mRaiseEvent(state.mEndpoint.mSession, event, subCode, 0, info,
                                          nullptr);
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
    if (status == NATS_OK && login->mUserName && *login->mUserName)
        status = natsOptions_SetUserInfo(options, login->mUserName,
                                         login->mPassword ? login->mPassword : "");
    if (status == NATS_OK)
        status = natsOptions_SetTimeout(options, kConnectTimeoutMs);
    if (status == NATS_OK)
        status = natsOptions_SetMaxReconnect(options, -1);
    if (status == NATS_OK)
        status = natsOptions_SetReconnectWait(options, kReconnectWaitMs);
    if (status == NATS_OK)
        status = natsOptions_SetDisconnectedCB(options, onDisconnected, holder);
    if (status == NATS_OK)
        status = natsOptions_SetReconnectedCB(options, onReconnected, holder);
    if (status == NATS_OK)
        status = natsOptions_SetClosedCB(options, onClosed, holder);
    if (status == NATS_OK)
        status = natsConnection_Connect(connection, options);
    natsOptions_Destroy(options);
    return status;
}

corvexClient_returnCode_t subscribe(CorvexRouter*, CorvexRouterLink* base, const char* topic,
                                    size_t length)
{
    NatsLink* link = natsLink(base);
    NatsLinkState& state = *link->mState;
    std::lock_guard<std::mutex> serial(link->mSubscribeLock);
    const std::string key(topic, length);
    {
        std::lock_guard<std::mutex> guard(state.mLock);
        auto it = state.mSubscriptions.find(key);
        if (it != state.mSubscriptions.end())
        {
            ++it->second->mCount;
            return CORVEXCLIENT_OK;
        }
    }
    NatsSubscription* subscription = new (std::nothrow)
        NatsSubscription{link->mState, key, corvexTopic_isWildcard(topic, length), 1, nullptr};
    if (!subscription)
        return corvexError_fail(CORVEXCLIENT_SUBCODE_NO_MEMORY);
    bool filtered = false;
    const std::string subject = subscription->mWildcard
                                    ? corvexNatsSubject_fromPattern(topic, length, &filtered)
                                    : corvexNatsSubject_fromTopic(topic, length);
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
    }
    /* Once the server has the subscription, messages published after the
     * call returns reach it; while reconnecting it is sent on reconnect. */
    if (natsConnection_Status(link->mConnection) == NATS_CONN_STATUS_CONNECTED)
        natsConnection_FlushTimeout(link->mConnection, kSubscribeFlushMs);
    return CORVEXCLIENT_OK;
}

void unsubscribe(CorvexRouter*, CorvexRouterLink* base, const char* topic, size_t length)
{
    NatsLink* link = natsLink(base);
    NatsLinkState& state = *link->mState;
    std::lock_guard<std::mutex> serial(link->mSubscribeLock);
    natsSubscription* handle = nullptr;
    {
        std::lock_guard<std::mutex> guard(state.mLock);
        auto it = state.mSubscriptions.find(std::string(topic, length));
        if (it == state.mSubscriptions.end() || --it->second->mCount > 0)
            return;
        handle = it->second->mHandle;
        state.mSubscriptions.erase(it);
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
        std::lock_guard<std::mutex> guard(link->mState->mLock);
        link->mState->mClosed = true;
        for (const auto& entry : link->mState->mSubscriptions)
            handles.push_back(entry.second->mHandle);
        link->mState->mSubscriptions.clear();
    }
    /* What was published is still in the connection's buffer: sent before
     * it closes, or the last messages of a sender that leaves are lost. */
    if (natsConnection_Status(link->mConnection) == NATS_CONN_STATUS_CONNECTED)
        natsConnection_FlushTimeout(link->mConnection, kCloseFlushMs);
    natsConnection_Close(link->mConnection);
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
        return corvexError_set(CORVEXCLIENT_FAIL, connectSubCode(status), 0,
                               "connecting to NATS server %s failed: %s", base->mName.c_str(),
                               natsStatus_GetText(status));
    }
    /* Peer-to-peer messages to the session, "#P2P/v:<router>/<client>/...". */
    const std::string inbox =
        CORVEXCLIENT_P2P_TOPIC_PREFIX "v:" + base->mName + "/" + link->mClientName + "/>";
    CorvexRouterLink* created = reinterpret_cast<CorvexRouterLink*>(link);
    const corvexClient_returnCode_t code = subscribe(base, created, inbox.data(), inbox.size());
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
                                        {deliverCached, completeCached, link->mState.get()});
    if (!link->mCache)
    {
        closeLink(router, link);
        return corvexError_fail(CORVEXCLIENT_SUBCODE_NO_MEMORY);
    }
    *result = created;
    return CORVEXCLIENT_OK;
}

void disconnect(CorvexRouter* base, CorvexRouterLink* link)
{
    closeLink(natsRouter(base), natsLink(link));
}

void publish(CorvexRouter*, CorvexRouterLink* base, const corvexClientMsg* msg, CorvexWaitList*)
{
    NatsLink* link = natsLink(base);
    const std::string subject = corvexNatsSubject_fromTopic(msg->mTopic, msg->mTopicLength);
    const int length = static_cast<int>(msg->mContentLength);
    natsStatus status;
    if (msg->mHasReplyTo)
    {
        const std::string reply = corvexNatsSubject_fromTopic(msg->mReplyTo, msg->mReplyToLength);
        status = natsConnection_PublishRequest(link->mConnection, subject.c_str(), reply.c_str(),
                                               msg->mContent, length);
        /* A request goes out at once, as the NATS client's own request call
         * sends it: its asker waits for the answer. */
        if (status == NATS_OK)
            natsConnection_FlushTimeout(link->mConnection, kRequestFlushMs);
    }
    else
    {
        status = natsConnection_Publish(link->mConnection, subject.c_str(), msg->mContent, length);
    }
    if (status == NATS_OK)
        return;
    char info[CORVEXCLIENT_ERRORINFO_TEXT_SIZE];
    snprintf(info, sizeof(info), "NATS publish on Topic '%s' failed: %s", msg->mTopic,
             natsStatus_GetText(status));
    const CorvexRouterEndpoint& endpoint = link->mState->mEndpoint;
    endpoint.mOps->mRaiseEvent(endpoint.mSession, CORVEXCLIENT_SESSION_EVENT_MSG_REJECTED,
                               CORVEXCLIENT_SUBCODE_MSG_REJECTED, 0, info, nullptr);
}

void cacheRequest(CorvexRouter*, CorvexRouterLink* base, const CorvexCacheRequest* request)
{
    corvexNatsCache_request(natsLink(base)->mCache, request);
}

void destroy(CorvexRouter* base)
{
    delete natsRouter(base);
}

const CorvexRouterOps kNatsOps = {connect, disconnect,   subscribe, unsubscribe,
                                  publish, cacheRequest, destroy};
} // namespace

bool corvexNatsRouter_selects(const std::string& selector)
{
    return selector.compare(0, std::strlen(kScheme), kScheme) == 0;
}

corvexClient_returnCode_t corvexNatsRouter_nameOf(const std::string& selector, std::string* name,
                                                  std::vector<std::string>* servers)
{
    std::string hosts;
    servers->clear();
    size_t start = 0;
    while (start <= selector.size())
    {
        size_t end = selector.find(',', start);
        if (end == std::string::npos)
            end = selector.size();
        const std::string url = selector.substr(start, end - start);
        const std::string host =
            corvexNatsRouter_selects(url) ? url.substr(std::strlen(kScheme)) : std::string();
        if (host.empty() || host.find_first_of("/@ ") != std::string::npos)
            return corvexError_set(CORVEXCLIENT_FAIL, CORVEXCLIENT_SUBCODE_UNSUPPORTED_ROUTER, 0,
                                   "router '%s': '%s' is not a \"nats://<host>:<port>\" server",
                                   selector.c_str(), url.c_str());
        hosts += (hosts.empty() ? "" : ",") + host;
        servers->push_back(url);
        start = end + 1;
    }
    *name = "nats:" + hosts;
    return CORVEXCLIENT_OK;
}

CorvexNatsRouter* corvexNatsRouter_create(const std::string& name,
                                          const std::vector<std::string>& servers)
{
    CorvexNatsRouter* router = new (std::nothrow) CorvexNatsRouter();
    if (!router)
        return nullptr;
    router->mOps = &kNatsOps;
    router->mName = name;
    router->mServers = servers;
    return router;
}
