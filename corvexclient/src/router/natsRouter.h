/* The NATS router: each connected session has its own connection to a NATS
 * server (one of a comma-separated list of "nats://" URLs, or "tls://" ones
 * reached over TLS only), so sessions of different processes meet through
 * the server. */
#ifndef CORVEXCLIENT_NATS_ROUTER_H
#define CORVEXCLIENT_NATS_ROUTER_H

#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include "router/router.h"

struct CorvexNatsLoop;

struct CorvexNatsRouter : CorvexRouter
{
    std::vector<std::string> mServers;
    CorvexNatsLoop* mLoop;                    /* every connection's input and output */
    std::mutex mLock;                         /* guards mClients */
    std::unordered_set<std::string> mClients; /* client names connected here */
};

/* True when the "SESSION_ROUTER" value selects a NATS router. */
bool corvexNatsRouter_selects(const std::string& selector);

/* The router name of a NATS selector: the server list without the URL
 * schemes ("nats:127.0.0.1:4222,127.0.0.1:4223", "tls:..." for "tls://"
 * servers, which a list may not mix with "nats://" ones), one topic level,
 * and the servers' URLs. Fails
 * with UNSUPPORTED_ROUTER for an empty server, or one carrying a path or
 * credentials (those come from the session's login). */
corvexClient_returnCode_t corvexNatsRouter_nameOf(const std::string& selector, std::string* name,
                                                  std::vector<std::string>* servers);

CorvexNatsRouter* corvexNatsRouter_create(const std::string& name,
                                          const std::vector<std::string>& servers);

#endif
