#include "router/routerConfig.h"

#include <algorithm>
#include <strings.h>

#include "clientError.h"
#include "router/natsRouter.h"
#include "topicMatch.h"

namespace
{
std::string trimmed(const std::string& text, size_t begin, size_t end)
{
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t'))
        --end;
    return text.substr(begin, end - begin);
}

/* Pieces of text between separators, each trimmed. */
std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> pieces;
    size_t begin = 0;
    for (;;)
    {
        const size_t end = text.find(separator, begin);
        pieces.push_back(trimmed(text, begin, end == std::string::npos ? text.size() : end));
        if (end == std::string::npos)
            return pieces;
        begin = end + 1;
    }
}

std::vector<std::string> words(const std::string& text)
{
    std::vector<std::string> found;
    size_t at = 0;
    while (at < text.size())
    {
        const size_t begin = text.find_first_not_of(" \t", at);
        if (begin == std::string::npos)
            break;
        const size_t end = std::min(text.find_first_of(" \t", begin), text.size());
        found.push_back(text.substr(begin, end - begin));
        at = end;
    }
    return found;
}

corvexClient_returnCode_t refuse(const char* property, const std::string& piece, const char* why)
{
    return corvexError_set(CORVEXCLIENT_FAIL, CORVEXCLIENT_SUBCODE_BAD_PROPERTY_VALUE, 0,
                           "\"%s\": '%s' %s", property,
                           corvexProperties_quoted(piece.c_str()).c_str(), why);
}

bool validPattern(const std::string& pattern)
{
    size_t length;
    return corvexTopic_validate(pattern.c_str(), &length) == CORVEXCLIENT_SUBCODE_OK &&
           length == pattern.size();
}

corvexClient_returnCode_t parseCachedTopics(const std::string& value, CorvexRouterConfig* config)
{
    const char* property = CORVEXCLIENT_SESSION_PROP_ROUTER_CACHED_TOPICS;
    const std::string whole = trimmed(value, 0, value.size());
    if (whole.empty() || strcasecmp(whole.c_str(), "none") == 0)
    {
        config->mCache = CorvexCacheSetting{CORVEX_CACHE_OFF, {}};
        config->mCachedTopicsText = "none";
        return CORVEXCLIENT_OK;
    }
    CorvexCacheSetting setting{CORVEX_CACHE_PATTERNS, {}};
    for (const std::string& pattern : split(whole, ','))
    {
        if (pattern.empty())
            return refuse(property, whole, "has an empty topic pattern");
        if (strcasecmp(pattern.c_str(), "none") == 0)
            return refuse(property, whole, "combines \"none\" with topic patterns");
        if (!validPattern(pattern))
            return refuse(property, pattern, "is not a topic pattern");
        if (pattern == ">")
            setting.mMode = CORVEX_CACHE_PUBLISHED;
        setting.mPatterns.push_back(pattern);
    }
    std::string text;
    if (setting.mMode == CORVEX_CACHE_PUBLISHED)
    {
        setting.mPatterns.clear();
        text = ">";
    }
    for (const std::string& pattern : setting.mPatterns)
        text += (text.empty() ? "" : ",") + pattern;
    config->mCache = std::move(setting);
    config->mCachedTopicsText = std::move(text);
    return CORVEXCLIENT_OK;
}

/* The security of a NATS router's connection, for the servers the session
 * names (the session has refused an invalid list before). */
corvexClient_returnCode_t parseNatsSecurity(const CorvexPropertyList& list,
                                            CorvexRouterConfig* config)
{
    const char* selector = corvexProperties_get(list, CORVEXCLIENT_SESSION_PROP_ROUTER);
    std::string name;
    std::vector<std::string> servers;
    if (!selector || !corvexNatsRouter_selects(selector) ||
        corvexNatsRouter_nameOf(selector, &name, &servers) != CORVEXCLIENT_OK)
        servers.clear();
    return corvexNatsSecurity_parse(list, servers, &config->mNatsSecurity);
}

corvexClient_returnCode_t parseAccessRules(const std::string& value, CorvexRouterConfig* config)
{
    const char* property = CORVEXCLIENT_SESSION_PROP_ROUTER_ACCESS_RULES;
    std::vector<CorvexAclRule> rules;
    std::string text;
    for (const std::string& piece : split(value, ';'))
    {
        if (piece.empty())
            continue;
        const std::vector<std::string> rule = words(piece);
        if (rule.size() != 4)
            return refuse(
                property, piece,
                "is not \"<allow|deny> <user|*> <subscribe|publish|all> <topic pattern>\"");
        const bool allow = strcasecmp(rule[0].c_str(), "allow") == 0;
        if (!allow && strcasecmp(rule[0].c_str(), "deny") != 0)
            return refuse(property, piece, "must begin with \"allow\" or \"deny\"");
        uint32_t operations = 0;
        if (strcasecmp(rule[2].c_str(), "subscribe") == 0)
            operations = CORVEX_ACCESS_SUBSCRIBE;
        else if (strcasecmp(rule[2].c_str(), "publish") == 0)
            operations = CORVEX_ACCESS_PUBLISH;
        else if (strcasecmp(rule[2].c_str(), "all") == 0)
            operations = CORVEX_ACCESS_SUBSCRIBE | CORVEX_ACCESS_PUBLISH;
        else
            return refuse(property, piece,
                          "names no operation (\"subscribe\", \"publish\" or \"all\")");
        if (!validPattern(rule[3]))
            return refuse(property, piece, "has no valid topic pattern");
        rules.push_back({rule[1], rule[3], operations, allow});
        text += (text.empty() ? "" : "; ") + std::string(allow ? "allow " : "deny ") + rule[1] +
                " " +
                (operations == CORVEX_ACCESS_SUBSCRIBE ? "subscribe "
                 : operations == CORVEX_ACCESS_PUBLISH ? "publish "
                                                       : "all ") +
                rule[3];
    }
    config->mRules = std::move(rules);
    config->mAccessRulesText = std::move(text);
    return CORVEXCLIENT_OK;
}
/* A whole number within [low, high]; the default when the property is not
 * given. */
corvexClient_returnCode_t parseBounded(const CorvexPropertyList& list, const char* property,
                                       uint32_t low, uint32_t high, uint32_t* value)
{
    uint64_t number = *value;
    const corvexClient_returnCode_t code =
        corvexProperties_getUnsigned(list, property, low, high, &number);
    *value = static_cast<uint32_t>(number);
    return code;
}

corvexClient_returnCode_t parseLiveness(const CorvexPropertyList& list,
                                        CorvexNatsLiveness* liveness)
{
    corvexClient_returnCode_t code =
        parseBounded(list, CORVEXCLIENT_SESSION_PROP_ROUTER_PING_INTERVAL_MS, 10, 3600000,
                     &liveness->mPingIntervalMs);
    if (code == CORVEXCLIENT_OK)
        code = parseBounded(list, CORVEXCLIENT_SESSION_PROP_ROUTER_MAX_PINGS_OUT, 1, 1000,
                            &liveness->mMaxPingsOut);
    if (code == CORVEXCLIENT_OK)
        code = parseBounded(list, CORVEXCLIENT_SESSION_PROP_ROUTER_WRITE_DEADLINE_MS, 10, 3600000,
                            &liveness->mWriteDeadlineMs);
    return code;
}
} // namespace

corvexClient_returnCode_t corvexRouterConfig_parse(const CorvexPropertyList& list,
                                                   CorvexRouterConfig* config)
{
    *config = CorvexRouterConfig();
    config->mPendingLimit = kCorvexDefaultPendingLimit;
    config->mPendingBytesLimit = kCorvexDefaultPendingBytesLimit;
    uint32_t replicas = 1;
    corvexClient_returnCode_t code = parseBounded(
        list, CORVEXCLIENT_SESSION_PROP_ROUTER_PENDING_LIMIT, 1, INT32_MAX, &config->mPendingLimit);
    if (code == CORVEXCLIENT_OK)
        code = parseBounded(list, CORVEXCLIENT_SESSION_PROP_ROUTER_PENDING_BYTES_LIMIT, 1024,
                            INT32_MAX, &config->mPendingBytesLimit);
    if (code == CORVEXCLIENT_OK)
        code = parseBounded(list, CORVEXCLIENT_SESSION_PROP_ROUTER_CACHE_REPLICAS, 1,
                            kCorvexMaxCacheReplicas, &replicas);
    if (code != CORVEXCLIENT_OK)
        return code;
    corvexClient_returnCode_t security = parseNatsSecurity(list, config);
    if (security != CORVEXCLIENT_OK)
        return security;
    const corvexClient_returnCode_t liveness = parseLiveness(list, &config->mLiveness);
    if (liveness != CORVEXCLIENT_OK)
        return liveness;
    const corvexClient_returnCode_t header = corvexProperties_getBool(
        list, CORVEXCLIENT_SESSION_PROP_ROUTER_PROPERTIES_HEADER, &config->mPropertiesHeader);
    if (header != CORVEXCLIENT_OK)
        return header;
    if (const char* cached =
            corvexProperties_get(list, CORVEXCLIENT_SESSION_PROP_ROUTER_CACHED_TOPICS))
    {
        config->mCachedTopicsGiven = true;
        corvexClient_returnCode_t code = parseCachedTopics(cached, config);
        if (code != CORVEXCLIENT_OK)
            return code;
    }
    config->mCache.mReplicas = static_cast<int>(replicas);
    if (const char* rules =
            corvexProperties_get(list, CORVEXCLIENT_SESSION_PROP_ROUTER_ACCESS_RULES))
    {
        config->mAccessRulesGiven = true;
        return parseAccessRules(rules, config);
    }
    return CORVEXCLIENT_OK;
}
