/* Routers by name: a "SESSION_ROUTER" value selects the backend and names
 * the router; sessions naming the same router share it. */
#include <map>
#include <mutex>

#include "clientError.h"
#include "router/embeddedRouter.h"

namespace
{
constexpr const char* kEmbedded = "embedded";

std::mutex gLock;
std::map<std::string, CorvexRouter*> gRouters;
} // namespace

corvexClient_returnCode_t corvexRouter_nameOf(const char* selector, std::string* name)
{
    const std::string text = selector ? selector : "";
    if (text.empty() || text == kEmbedded)
    {
        *name = kEmbedded;
        return CORVEXCLIENT_OK;
    }
    const std::string prefix = std::string(kEmbedded) + ":";
    if (text.compare(0, prefix.size(), prefix) == 0 && text.size() > prefix.size() &&
        text.find('/') == std::string::npos)
    {
        *name = text.substr(prefix.size());
        return CORVEXCLIENT_OK;
    }
    return corvexError_set(CORVEXCLIENT_FAIL, CORVEXCLIENT_SUBCODE_UNSUPPORTED_ROUTER, 0,
                           "router '%s' is not supported (use \"embedded\" or \"embedded:<name>\")",
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
    std::string name;
    corvexClient_returnCode_t code = corvexRouter_nameOf(selector, &name);
    if (code != CORVEXCLIENT_OK)
        return code;
    *router = corvexRouter_findEmbedded(name);
    return *router ? CORVEXCLIENT_OK : corvexError_fail(CORVEXCLIENT_SUBCODE_NO_MEMORY);
}

void corvexRouter_destroyAll()
{
    std::map<std::string, CorvexRouter*> routers;
    {
        std::lock_guard<std::mutex> guard(gLock);
        routers.swap(gRouters);
    }
    for (auto& entry : routers)
    {
        if (entry.second)
            entry.second->mOps->mDestroy(entry.second);
    }
}
