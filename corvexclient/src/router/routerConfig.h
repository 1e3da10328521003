/* The router configuration a session carries: which topics the last-value
 * cache keeps ("SESSION_ROUTER_CACHED_TOPICS"), the access rules
 * ("SESSION_ROUTER_ACCESS_RULES") and how a NATS connection is secured,
 * parsed once when the session is created. */
#ifndef CORVEXCLIENT_ROUTER_CONFIG_H
#define CORVEXCLIENT_ROUTER_CONFIG_H

#include <cstdint>
#include <string>
#include <vector>

#include "corvexClient.h"
#include "properties.h"
#include "router/natsSecurity.h"

/* The operations an access rule covers, as a mask. */
const uint32_t CORVEX_ACCESS_SUBSCRIBE = 0x1;
const uint32_t CORVEX_ACCESS_PUBLISH = 0x2;

struct CorvexAclRule
{
    std::string mUserName; /* "*" for everyone */
    std::string mPattern;
    uint32_t mOperations; /* CORVEX_ACCESS_SUBSCRIBE and/or CORVEX_ACCESS_PUBLISH */
    bool mAllow;
};

enum CorvexCacheMode
{
    CORVEX_CACHE_OFF,
    CORVEX_CACHE_PUBLISHED, /* every topic but the peer-to-peer ones */
    CORVEX_CACHE_PATTERNS   /* topics matching one of the patterns */
};

struct CorvexCacheSetting
{
    CorvexCacheMode mMode = CORVEX_CACHE_PUBLISHED;
    std::vector<std::string> mPatterns;
    /* NATS router: the cluster's servers keeping a copy of the stream. */
    int mReplicas = 1;
};

constexpr uint32_t kCorvexDefaultPendingLimit = 65536;
constexpr uint32_t kCorvexDefaultPendingBytesLimit = 16u << 20;
/* JetStream keeps at most five copies of a stream. */
constexpr int kCorvexMaxCacheReplicas = 5;

/* How a NATS connection notices a server that stopped answering, and how
 * long a write to it may take. */
struct CorvexNatsLiveness
{
    uint32_t mPingIntervalMs = 3000;
    uint32_t mMaxPingsOut = 2;
    uint32_t mWriteDeadlineMs = 2000;
};

struct CorvexRouterConfig
{
    /* Whether the session gave the property; without it the default stands. */
    bool mCachedTopicsGiven = false;
    CorvexCacheSetting mCache;
    std::string mCachedTopicsText = ">"; /* normalised, for comparison and logs */

    bool mAccessRulesGiven = false;
    std::vector<CorvexAclRule> mRules;
    std::string mAccessRulesText;

    /* NATS subscriptions' pending message limit. */
    uint32_t mPendingLimit = kCorvexDefaultPendingLimit;
    uint32_t mPendingBytesLimit = kCorvexDefaultPendingBytesLimit;

    /* NATS router: TLS and the credentials of the session's connection. */
    CorvexNatsSecurity mNatsSecurity;

    /* NATS router: how the connection notices a server that stopped answering. */
    CorvexNatsLiveness mLiveness;

    /* NATS router: user properties sent as a NATS header rather than in the
     * payload's frame. */
    bool mPropertiesHeader = false;
};

/* Reads the router properties from the list; a malformed value fails with
 * BAD_PROPERTY_VALUE and a text naming the property and the part refused. */
corvexClient_returnCode_t corvexRouterConfig_parse(const CorvexPropertyList& list,
                                                   CorvexRouterConfig* config);

#endif
