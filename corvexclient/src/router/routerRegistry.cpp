/* Routers by name: a "SESSION_ROUTER" value selects the backend and names
 * the router; sessions naming the same router share it. */
#include <map>
#include <mutex>

#include "clientError.h"
#include "router/embeddedRouter.h"
#include "router/natsRouter.h"

namespace
{
constexpr const char* kEmbedded = "embedded";

std::mutex gLock;
std::map<std::string, CorvexRouter*> gRouters;
/* Apart from the embedded ones, whose names test control looks up. */
std::map<std::string, CorvexRouter*> gNatsRouters;

corvexClient_returnCode_t openNats(const std::string& selector, CorvexRouter** router)
{
    std::string name;
    std::vector<std::string> servers;
    corvexClient_returnCode_t code = corvexNatsRouter_nameOf(selector, &name, &servers);
    if (code != CORVEXCLIENT_OK)
        return code;
    std::lock_guard<std::mutex> guard(gLock);
    CorvexRouter*& slot = gNatsRouters[name];
    if (!slot)
        slot = corvexNatsRouter_create(name, servers);
    *router = slot;
    return *router ? CORVEXCLIENT_OK : corvexError_fail(CORVEXCLIENT_SUBCODE_NO_MEMORY);
}
} // namespace

corvexClient_returnCode_t corvexRouter_nameOf(const char* selector, std::string* name)
{
    const std::string text = selector ? selector : "";
    if (text.empty() || text == kEmbedded)
    {
        *name = kEmbedded;
        return CORVEXCLIENT_OK;
    }
    if (corvexNatsRouter_selects(text))
    {
        std::vector<std::string> servers;
        return corvexNatsRouter_nameOf(text, name, &servers);
    }
    const std::string prefix = std::string(kEmbedded) + ":";
    if (text.compare(0, prefix.size(), prefix) == 0 && text.size() > prefix.size() &&
        text.find('/') == std::string::npos)
    {
        *name = text.substr(prefix.size());
        return CORVEXCLIENT_OK;
    }
    return corvexError_set(CORVEXCLIENT_FAIL, CORVEXCLIENT_SUBCODE_UNSUPPORTED_ROUTER, 0,
                           "router '%s' is not supported (use \"embedded\", \"embedded:<name>\" "
                           "or \"nats://<host>:<port>[,nats://...]\")",
                           text.c_str());
}

CorvexEmbeddedRouter* corvexRouter_findEmbedded(const std::string& name)
{
    std::lock_guard<std::mutex> guard(gLock);
    CorvexRouter*& slot = gRouters[name];
    if (!slot)
        slot = corvexEmbeddedRouter_create(name);
    return static_cast<CorvexEmbeddedRouter*>(slot);
}

corvexClient_returnCode_t corvexRouter_open(const char* selector, CorvexRouter** router)
{
    if (selector && corvexNatsRouter_selects(selector))
        return openNats(selector, router);
    std::string name;
    corvexClient_returnCode_t code = corvexRouter_nameOf(selector, &name);
    if (code != CORVEXCLIENT_OK)
        return code;
    *router = corvexRouter_findEmbedded(name);
    return *router ? CORVEXCLIENT_OK : corvexError_fail(CORVEXCLIENT_SUBCODE_NO_MEMORY);
}

void corvexRouter_destroyAll()
{
    std::map<std::string, CorvexRouter*> embedded;
    std::map<std::string, CorvexRouter*> nats;
    {
        std::lock_guard<std::mutex> guard(gLock);
        embedded.swap(gRouters);
        nats.swap(gNatsRouters);
    }
    for (const auto* routers : {&embedded, &nats})
    {
        for (const auto& entry : *routers)
        {
            if (entry.second)
                entry.second->mOps->mDestroy(entry.second);
        }
    }
}
