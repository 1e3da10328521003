/* What a session needs from a router backend. The embedded in-process router
 * implements it; a network backend implements the same operations, so that
 * sessions, dispatch, messages and the context thread never change.
 *
 * A backend hands traffic back to sessions only through the session module's
 * delivery functions (corvexSession_receive, corvexSession_raiseEvent,
 * corvexSession_completeCacheRequest), never calling a callback itself. */
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
    const char* mUserName;
    const char* mPassword;
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

/* Contexts a sender must wait on, once its locks are released, because it
 * filled their queues (see corvexContext_post). */
struct CorvexWaitList
{
    corvexClientContext* mContexts[4];
    size_t mCount;
};

/* Records that the sender must wait on the context; a full list drops the
 * extra wait (and its count on the context). */
void corvexWaitList_add(CorvexWaitList* list, corvexClientContext* context);
void corvexWaitList_wait(CorvexWaitList* list);

struct CorvexRouterOps
{
    /* Logs the session in under the client name; the LOGIN_* and
     * CLIENT_NAME_IN_USE sub-codes describe refusals. */
    corvexClient_returnCode_t (*mConnect)(CorvexRouter* router, corvexClientSession* session,
                                          const CorvexRouterLogin* login, CorvexRouterLink** link);
    /* Drops the link and every router subscription it holds. */
    void (*mDisconnect)(CorvexRouter* router, CorvexRouterLink* link);
    /* Adds one counted subscription of the link to the topic; refusals by
     * access control fail with SUBSCRIBE_NOT_PERMITTED. */
    corvexClient_returnCode_t (*mSubscribe)(CorvexRouter* router, CorvexRouterLink* link,
                                            const char* topic, size_t length);
    void (*mUnsubscribe)(CorvexRouter* router, CorvexRouterLink* link, const char* topic,
                         size_t length);
    /* Delivers a message (its topic already validated) to every matching
     * subscription and to the peer-to-peer address it names; refusals are
     * reported to the sender as session events. */
    void (*mPublish)(CorvexRouter* router, CorvexRouterLink* link, const corvexClientMsg* msg,
                     CorvexWaitList* waits);
    /* Delivers the cached messages matching the request on the link's
     * session, then completes the request. */
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
