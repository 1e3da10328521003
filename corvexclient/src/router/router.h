/* What a session needs from a router backend. The embedded in-process router
 * implements it; another backend implements the same operations, so that
 * sessions, dispatch, messages and the context thread never change.
 *
 * A backend hands traffic back to a session only through the endpoint it was
 * given when the session connected (CorvexRouterEndpoint), never naming a
 * session or context function and never calling an application callback
 * itself. */
#ifndef CORVEXCLIENT_ROUTER_H
#define CORVEXCLIENT_ROUTER_H

#include <cstddef>
#include <string>

#include "corvexClient.h"

struct CorvexRouter;
struct CorvexRouterLink; /* one connected session, owned by the backend */

struct CorvexRouterConfig;

struct CorvexRouterLogin
{
    const char* mClientName;
    /* The user the session goes by (the embedded router's access rules
     * name it); the configured one, else the operating-system user. */
    const char* mUserName;
    /* Credentials for a router that checks them: only what was configured
     * as such, empty otherwise. */
    const char* mLoginUserName;
    const char* mLoginPassword;
    /* The session's router configuration, applied as the backend decides
     * once the login succeeded (the embedded router keeps the first one). */
    const CorvexRouterConfig* mConfig;
};

struct CorvexCacheRequest
{
    const char* mTopic;
    size_t mTopicLength;
    corvexClient_cacheRequestId_t mRequestId;
    corvexClient_cacheEventCb mCallback;
    void* mUser;
};

/* One subscribe of a session, as its backend sees it. */
struct CorvexSubscribeRequest
{
    /* The result must be the outcome; otherwise the backend may answer
     * IN_PROGRESS and report the outcome later on the endpoint. */
    bool mWait;
    uint64_t mEntry; /* the session's dispatch entry, handed back with the outcome */
    void* mCorrelation;
};

/* Contexts a sender must wait on once its locks are released; the backend
 * passes it along to the endpoint and never looks inside. */
struct CorvexWaitList;

/* How a backend reaches one connected session. Every operation may be
 * called under the backend's own locks, from the thread that published or
 * asked; none blocks or calls back into the backend. */
struct CorvexSessionEndpointOps
{
    /* Takes over a routed message for the session during a publish; a
     * receiver that is full adds its context to waits, which the publishing
     * session waits on once its locks are released. */
    void (*mReceive)(corvexClientSession* session, corvexClientMsg* msg, CorvexWaitList* waits);
    /* Takes over a cached message answering one of the session's own
     * requests; the requester is never held back. */
    void (*mReceiveCached)(corvexClientSession* session, corvexClientMsg* msg);
    /* Reports a session event, such as a refused publish. */
    void (*mRaiseEvent)(corvexClientSession* session, corvexClient_session_event_t event,
                        corvexClient_subCode_t subCode, int32_t responseCode, const char* info,
                        void* correlation);
    /* Reports the outcome of a subscribe answered IN_PROGRESS: confirmed
     * with sub-code OK, else refused (the session then drops the entry). */
    void (*mCompleteSubscribe)(corvexClientSession* session, const char* topic, size_t length,
                               const CorvexSubscribeRequest* request,
                               corvexClient_subCode_t subCode, int32_t responseCode,
                               const char* info);
    /* Reports the outcome of a cache request, after the messages it
     * delivered. */
    void (*mCompleteCacheRequest)(corvexClientSession* session, const CorvexCacheRequest* request,
                                  corvexClient_returnCode_t code, corvexClient_subCode_t subCode);
};

struct CorvexRouterEndpoint
{
    const CorvexSessionEndpointOps* mOps;
    corvexClientSession* mSession;
};

struct CorvexRouterOps
{
    /* Logs the session in under the client name; the LOGIN_* and
     * CLIENT_NAME_IN_USE sub-codes describe refusals. */
    corvexClient_returnCode_t (*mConnect)(CorvexRouter* router,
                                          const CorvexRouterEndpoint* endpoint,
                                          const CorvexRouterLogin* login, CorvexRouterLink** link);
    /* Drops the link and every router subscription it holds. */
    void (*mDisconnect)(CorvexRouter* router, CorvexRouterLink* link);
    /* Adds one counted subscription of the link to the topic; refusals by
     * access control fail with SUBSCRIBE_NOT_PERMITTED. A request that does
     * not wait may be answered IN_PROGRESS, its outcome following through
     * the endpoint's mCompleteSubscribe. */
    corvexClient_returnCode_t (*mSubscribe)(CorvexRouter* router, CorvexRouterLink* link,
                                            const char* topic, size_t length,
                                            const CorvexSubscribeRequest* request);
    void (*mUnsubscribe)(CorvexRouter* router, CorvexRouterLink* link, const char* topic,
                         size_t length);
    /* Delivers a message (its topic already validated) to every matching
     * subscription and to the peer-to-peer address it names, handing each
     * receiver's endpoint the wait list; refusals are reported to the sender
     * as session events. Fails (NOT_CONNECTED) when the message could not
     * be handed to the router at all. */
    corvexClient_returnCode_t (*mPublish)(CorvexRouter* router, CorvexRouterLink* link,
                                          const corvexClientMsg* msg, CorvexWaitList* waits);
    /* Delivers the cached messages matching the request on the link's
     * endpoint, then completes the request there. */
    void (*mCacheRequest)(CorvexRouter* router, CorvexRouterLink* link,
                          const CorvexCacheRequest* request);
    void (*mDestroy)(CorvexRouter* router);
};

struct CorvexRouter
{
    const CorvexRouterOps* mOps;
    std::string mName; /* the <router> of peer-to-peer topics */
};

/* The router named by a "SESSION_ROUTER" value (NULL for the default),
 * created on first use; fails with UNSUPPORTED_ROUTER. */
corvexClient_returnCode_t corvexRouter_open(const char* selector, CorvexRouter** router);

/* The router name a "SESSION_ROUTER" value designates, without opening it. */
corvexClient_returnCode_t corvexRouter_nameOf(const char* selector, std::string* name);

/* Destroys every router (library cleanup, after all sessions are gone). */
void corvexRouter_destroyAll();

#endif
