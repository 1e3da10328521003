/* The NATS router's last-value cache: a JetStream stream keeping the last
 * message of every subject that one of the cached topic patterns
 * ("SESSION_ROUTER_CACHED_TOPICS") covers. The server stores what is
 * published on those subjects by itself; a link's cache answers requests on
 * a thread of its own, so that neither the requester nor the connection's
 * threads wait for the server's replies. */
#ifndef CORVEXCLIENT_NATS_CACHE_H
#define CORVEXCLIENT_NATS_CACHE_H

#include <nats/nats.h>

#include <string>

#include "router/router.h"
#include "router/routerConfig.h"

/* The stream every session of a NATS router shares. */
#define CORVEX_NATS_CACHE_STREAM "CORVEX_CACHE"

struct CorvexNatsCache;

/* Receives, on the cache's thread, the answer to one request: every last
 * message found (the receiver owns none of them), then the outcome. */
struct CorvexNatsCacheAnswer
{
    void (*mDeliver)(void* closure, const CorvexCacheRequest* request, natsMsg* found);
    void (*mComplete)(void* closure, const CorvexCacheRequest* request,
                      corvexClient_returnCode_t code, corvexClient_subCode_t subCode);
    void* mClosure;
};

/* Opens the link's cache on its connection: creates the stream from the
 * patterns, or joins the one another session created (a different pattern
 * list there is kept, with a warning). Without patterns, or when the server
 * has no JetStream, there is no stream and every request completes with no
 * data (logged once, at open). NULL only when out of memory. */
CorvexNatsCache* corvexNatsCache_open(natsConnection* connection, const CorvexCacheSetting& setting,
                                      const std::string& clientName,
                                      const CorvexNatsCacheAnswer& answer);

/* Queues a request (copied); answered on the cache's thread. */
void corvexNatsCache_request(CorvexNatsCache* cache, const CorvexCacheRequest* request);

/* Answers nothing more: requests still queued are dropped, the thread is
 * joined. Before the connection is closed. */
void corvexNatsCache_close(CorvexNatsCache* cache);

#endif
