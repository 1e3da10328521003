/* Transports created and destroyed by a MAMA application on the bridge: the
 * session configuration, the publisher-information map, refusals, and the
 * entry points of features the platform does not offer. */
#include <dlfcn.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <corvexClientTest.h>
#include <bridge.h>
#include <mama/mama.h>
#include <mama/transport.h>

#include "bridgeTest.h"
#include "corvexBridge.h"
#include "properties.h"
#include "transport.h"
#include "transportList.h"

namespace
{
/* An exported bridge function, looked up in the loaded library as the host does. */
template <typename Function> Function bridgeFunction(const char* name)
{
    void* library = dlopen("libmamacorveximpl.so", RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr)
    {
        return nullptr;
    }
    Function function = reinterpret_cast<Function>(dlsym(library, name));
    dlclose(library);
    return function;
}

struct ConnectEvents
{
    std::vector<mamaTransportEvent> mEvents;
};

void MAMACALLTYPE onTransportEvent(mamaTransport, mamaTransportEvent event, short, const void*,
                                   void* closure)
{
    static_cast<ConnectEvents*>(closure)->mEvents.push_back(event);
}

class TransportTest : public BridgeTest
{
  protected:
    void SetUp() override
    {
        mama_setProperty("mama.corvex.transport.t1.allow_recover_gaps", "true");
        /* The host's refresh timers would otherwise pile up on the default
         * queue, which nothing dispatches here. */
        mama_setProperty("mama.transport.t1.disable_refresh", "true");
        mama_setProperty("mama.transport.t2.disable_refresh", "true");
        BridgeTest::SetUp();
        corvexClientTest_setRecording(1);
    }

    void TearDown() override
    {
        for (mamaTransport transport : mTransports)
        {
            mamaTransport_destroy(transport);
        }
        mTransports.clear();
        BridgeTest::TearDown();
    }

    mama_status create(const char* name, mamaTransport* result = nullptr,
                       ConnectEvents* events = nullptr)
    {
        mamaTransport transport = nullptr;
        mamaTransport_allocate(&transport);
        if (events != nullptr)
        {
            mamaTransport_setTransportCallback(transport, onTransportEvent, events);
        }
        mama_status status = mamaTransport_create(transport, name, mBridge);
        if (status != MAMA_STATUS_OK)
        {
            mamaTransport_destroy(transport);
            return status;
        }
        mTransports.push_back(transport);
        if (result != nullptr)
        {
            *result = transport;
        }
        return status;
    }

    void destroy(mamaTransport transport)
    {
        for (auto it = mTransports.begin(); it != mTransports.end(); ++it)
        {
            if (*it == transport)
            {
                mTransports.erase(it);
                break;
            }
        }
        EXPECT_EQ(MAMA_STATUS_OK, mamaTransport_destroy(transport));
    }

    static CorvexTransportBridge* corvexTransport(mamaTransport transport)
    {
        void* native = nullptr;
        EXPECT_EQ(MAMA_STATUS_OK, mamaTransport_getNativeTransport(transport, 0, &native));
        return static_cast<CorvexTransportBridge*>(native);
    }

    CorvexBridge* corvexBridge()
    {
        void* closure = nullptr;
        mamaBridgeImpl_getClosure(mBridge, &closure);
        return static_cast<CorvexBridge*>(closure);
    }

    size_t linkedTransports()
    {
        return corvexBridge()->mTransportList->mCount;
    }

    std::vector<mamaTransport> mTransports;
};

/* Index of the pair (name, value) in a vendor property array, or -1. */
int pairIndex(const CorvexProperties* list, const char* name, const char* value)
{
    for (uint32_t i = 0; i < list->mCount; ++i)
    {
        if (strcmp(list->mProperties[2 * i], name) == 0 &&
            strcmp(list->mProperties[2 * i + 1], value) == 0)
        {
            return (int)i;
        }
    }
    return -1;
}

std::string mapString(corvexClient_container_t map, const char* key)
{
    const char* value = nullptr;
    return corvexClient_container_getStringPtr(map, key, &value) == CORVEXCLIENT_OK ? value
                                                                                    : "<absent>";
}
} // namespace

TEST_F(TransportTest, CreateConnectsDerivesInboxPrefixesAndReportsConnect)
{
    ConnectEvents events;
    mamaTransport transport = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, create("t1", &transport, &events));
    ASSERT_EQ(1u, events.mEvents.size());
    EXPECT_EQ(MAMA_TRANSPORT_CONNECT, events.mEvents[0]);

    CorvexTransportBridge* bridgeTransport = corvexTransport(transport);
    ASSERT_NE(nullptr, bridgeTransport);
    auto isValid =
        bridgeFunction<int (*)(CorvexTransportBridge*)>("corvexBridgeMamaTransport_isValid");
    ASSERT_NE(nullptr, isValid);
    EXPECT_TRUE(isValid(bridgeTransport));
    EXPECT_FALSE(isValid(nullptr));
    EXPECT_STREQ("t1", bridgeTransport->mName);
    EXPECT_EQ(transport, bridgeTransport->mMamaTransport);
    EXPECT_EQ(1, bridgeTransport->mAllowRecoverGaps);
    EXPECT_EQ(1, bridgeTransport->mUseCache);
    EXPECT_EQ(0, bridgeTransport->mSendSubReq);
    EXPECT_EQ(0u, bridgeTransport->mFlowControl.mSuspendedQueues);
    EXPECT_NE(nullptr, bridgeTransport->mStatusPayloadBridge);

    // The reply-to "#P2P/v:<router>/<client>/#" gives "#P2P/v:<router>/<client>/" and
    // "#P2P/*/<client>/".
    char replyTo[CORVEX_INBOX_PREFIX_SIZE];
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_session_getProperty(bridgeTransport->mSession,
                                                                "SESSION_REPLY_TO_DEFAULT_DEST",
                                                                replyTo, sizeof(replyTo)));
    std::string reply(replyTo);
    EXPECT_EQ(reply.substr(0, reply.size() - 1), bridgeTransport->mInboxCorvexReplyToPrefix);
    std::string client = reply.substr(reply.find('/', 5) + 1);
    client = client.substr(0, client.size() - 1);
    EXPECT_EQ("#P2P/*/" + client, bridgeTransport->mInboxCorvexSubPrefix);
    EXPECT_EQ(strlen(bridgeTransport->mInboxCorvexSubPrefix),
              bridgeTransport->mInboxCorvexSubPrefixLen);

    /* The discard subscription lives under the inbox subscription prefix. */
    char call[512];
    ASSERT_EQ(CORVEXCLIENT_OK,
              corvexClientTest_getCall("corvexClient_session_topicSubscribeWithDispatch", 0, call,
                                       sizeof(call)));
    EXPECT_NE(
        std::string::npos,
        std::string(call).find(std::string(bridgeTransport->mInboxCorvexSubPrefix) + "discard"));
}

TEST_F(TransportTest, SessionPropertiesKeepTheirOrderAroundUserKeys)
{
    mama_setProperty("mama.corvex.transport.t1.SESSION_CONNECT_BLOCKING", "0");
    mama_setProperty("mama.corvex.transport.t1.use_corvexcache", "0");
    mama_setProperty("mama.corvex.transport.t1.deeper.key", "x");
    mamaTransport transport = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, create("t1", &transport));
    const CorvexProperties* list = corvexTransport(transport)->mCorvexProperties;
    ASSERT_NE(nullptr, list);

    EXPECT_EQ(0, pairIndex(list, "SESSION_ALWAYS_BUFFER_IN_CONTEXT", "1"));
    int cacheDefault = pairIndex(list, "use_corvexcache", "1");
    int cacheUser = pairIndex(list, "use_corvexcache", "0");
    int blockingUser = pairIndex(list, "SESSION_CONNECT_BLOCKING", "0");
    int blocking = pairIndex(list, "SESSION_CONNECT_BLOCKING", "1");
    EXPECT_LT(cacheDefault, cacheUser);
    EXPECT_LT(pairIndex(list, "SESSION_REQUEST_MSG_LIMIT", "100000"), cacheUser);
    EXPECT_LT(blockingUser, blocking);
    EXPECT_EQ((int)list->mCount - 1, blocking);
    EXPECT_EQ(-1, pairIndex(list, "deeper.key", "x"));
    EXPECT_EQ(nullptr, list->mProperties[2 * list->mCount]);

    /* The user's "0" was overridden: the session connected before create returned. */
    EXPECT_EQ(0, corvexTransport(transport)->mUseCache);
}

TEST_F(TransportTest, PublisherInformationMapCarriesIdentity)
{
    mamaTransport transport = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, create("t1", &transport));
    corvexClient_container_t map = corvexTransport(transport)->mPubInfoMap;
    ASSERT_NE(nullptr, map);

    std::string user = mapString(map, "U");
    std::string host = mapString(map, "H");
    EXPECT_NE("<absent>", user);
    EXPECT_NE("<absent>", host);
    for (char c : user + host)
    {
        EXPECT_EQ(tolower((unsigned char)c), c);
    }
    int32_t pid = 0;
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_container_getInt32(map, "P", &pid));
    EXPECT_EQ(getpid(), pid);
    EXPECT_NE("<absent>", mapString(map, "S"));
    EXPECT_NE("", mapString(map, "S"));
}

TEST_F(TransportTest, PublisherInformationCanBeDisabled)
{
    mama_setProperty("mama.corvex.transport.send_publisher_info", "false");
    mamaTransport transport = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, create("t1", &transport));
    EXPECT_EQ(nullptr, corvexTransport(transport)->mPubInfoMap);
    EXPECT_EQ(1u, LogCapture::count("pubinfo disabled."));
    destroy(transport);
    EXPECT_EQ(0u, corvexClientTest_callCount("corvexClient_container_closeMapStream"));
}

TEST_F(TransportTest, MissingAllowRecoverGapsFailsAndLeavesNothing)
{
    ASSERT_EQ(MAMA_STATUS_PLATFORM, create("t2"));
    EXPECT_EQ(
        1u, LogCapture::count("Error in getting bridge property 'allow_recover_gaps' for transport "
                              "name=t2. Property 'mama.corvex.transport.t2.allow_recover_gaps' is "
                              "mandatory but missing."));
    EXPECT_EQ(0u, linkedTransports());
    EXPECT_EQ(corvexClientTest_callCount("corvexClient_session_create"),
              corvexClientTest_callCount("corvexClient_session_destroy"));
    /* The failed name is free: a correctly configured creation succeeds. */
    mama_setProperty("mama.corvex.transport.t2.allow_recover_gaps", "false");
    mamaTransport transport = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, create("t2", &transport));
    EXPECT_EQ(0, corvexTransport(transport)->mAllowRecoverGaps);
}

/* A transport's booleans are booleans: anything else fails the creation
 * with a line naming the key and the value; the bridge-wide publisher
 * information switch, whose reading does not decide the creation, is
 * warned about and left on. */
TEST_F(TransportTest, ABooleanKeyThatIsNotABooleanFailsTheCreationNamingKeyAndValue)
{
    for (const char* key : {"use_corvexcache", "send_subreq", "allow_recover_gaps"})
    {
        const std::string name = std::string("mama.corvex.transport.t2.") + key;
        mama_setProperty("mama.corvex.transport.t2.allow_recover_gaps", "true");
        mama_setProperty(name.c_str(), "maybe");
        EXPECT_NE(MAMA_STATUS_OK, create("t2")) << key;
        EXPECT_EQ(1u, LogCapture::count(name + ": 'maybe' is not a boolean")) << key;
        EXPECT_EQ(0u, linkedTransports());
        mama_setProperty(name.c_str(), "true");
    }
    mama_setProperty("mama.corvex.transport.send_publisher_info", "perhaps");
    mamaTransport transport = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, create("t1", &transport));
    EXPECT_NE(nullptr, corvexTransport(transport)->mPubInfoMap);
    EXPECT_EQ(1u, LogCapture::count("mama.corvex.transport.send_publisher_info: 'perhaps' is not "
                                    "a boolean"));
    destroy(transport);
}

TEST_F(TransportTest, DuplicateNameRefusedUntilTheFirstIsDestroyed)
{
    mamaTransport first = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, create("t1", &first));
    EXPECT_EQ(MAMA_STATUS_PLATFORM, create("t1"));
    EXPECT_EQ(1u, LogCapture::count(
                      "Cannot create transport name=t1. Already have a transport with this name"));
    EXPECT_EQ(1u, linkedTransports());

    destroy(first);
    EXPECT_EQ(0u, linkedTransports());
    mamaTransport second = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, create("t1", &second));
    EXPECT_EQ(1u, linkedTransports());
}

TEST_F(TransportTest, LoginRefusedByAccessControlIsNotEntitled)
{
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClientTest_denyLogin(
                                   "embedded", "*", CORVEXCLIENT_SUBCODE_LOGIN_NOT_PERMITTED));
    EXPECT_EQ(MAMA_STATUS_NOT_ENTITLED, create("t1"));
    EXPECT_EQ(1u, LogCapture::count("Error in corvexClient_session_connect()"));
    EXPECT_EQ(0u, linkedTransports());
    corvexClientTest_clearAcl("embedded");
    EXPECT_EQ(MAMA_STATUS_OK, create("t1"));
}

TEST_F(TransportTest, OtherConnectFailuresArePlatformErrors)
{
    corvexClientTest_failNext("corvexClient_session_connect", CORVEXCLIENT_FAIL,
                              CORVEXCLIENT_SUBCODE_CONNECT_REFUSED, "no router");
    EXPECT_EQ(MAMA_STATUS_PLATFORM, create("t1"));
    corvexClientTest_failNext("corvexClient_session_connect", CORVEXCLIENT_WOULD_BLOCK, 0, nullptr);
    EXPECT_EQ(MAMA_STATUS_PLATFORM, create("t1"));
    EXPECT_EQ(0u, linkedTransports());
    EXPECT_EQ(corvexClientTest_callCount("corvexClient_session_create"),
              corvexClientTest_callCount("corvexClient_session_destroy"));
}

TEST_F(TransportTest, FailedDiscardSubscriptionFailsTheCreation)
{
    corvexClientTest_failNext("corvexClient_session_topicSubscribeWithDispatch", CORVEXCLIENT_FAIL,
                              CORVEXCLIENT_SUBCODE_INTERNAL_ERROR, "injected");
    EXPECT_EQ(MAMA_STATUS_PLATFORM, create("t1"));
    EXPECT_EQ(1u, LogCapture::count("Error creating discard subscription"));
    EXPECT_EQ(0u, linkedTransports());
}

TEST_F(TransportTest, DestroyGoesOnAfterAFailingStep)
{
    mamaTransport transport = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, create("t1", &transport));
    corvexClientTest_failNext("corvexClient_session_disconnect", CORVEXCLIENT_FAIL,
                              CORVEXCLIENT_SUBCODE_INTERNAL_ERROR, "injected");
    mTransports.clear();
    mamaTransport_destroy(transport);
    EXPECT_EQ(1u, LogCapture::count("Error in corvexClient_session_disconnect()"));
    EXPECT_EQ(1u, corvexClientTest_callCount("corvexClient_session_destroy"));
    EXPECT_EQ(0u, linkedTransports());
}

struct SendSubReqCase
{
    const char* mName;
    const char* mUseCache;   /* nullptr: not set */
    const char* mSendSubReq; /* nullptr: not set */
    uint8_t mExpected;
};

void PrintTo(const SendSubReqCase& c, std::ostream* os)
{
    *os << c.mName;
}

class SendSubReqTest : public TransportTest, public ::testing::WithParamInterface<SendSubReqCase>
{
};

TEST_P(SendSubReqTest, FollowsTheCacheSetting)
{
    if (GetParam().mUseCache != nullptr)
    {
        mama_setProperty("mama.corvex.transport.t1.use_corvexcache", GetParam().mUseCache);
    }
    if (GetParam().mSendSubReq != nullptr)
    {
        mama_setProperty("mama.corvex.transport.t1.send_subreq", GetParam().mSendSubReq);
    }
    mamaTransport transport = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, create("t1", &transport));
    EXPECT_EQ(GetParam().mExpected, corvexTransport(transport)->mSendSubReq);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SendSubReqTest,
    ::testing::Values(SendSubReqCase{"CacheDefaultSubReqAbsent", nullptr, nullptr, 0},
                      SendSubReqCase{"CacheDefaultSubReqTrue", nullptr, "true", 1},
                      SendSubReqCase{"CacheOnSubReqFalse", "true", "false", 0},
                      SendSubReqCase{"CacheOffSubReqAbsent", "false", nullptr, 1},
                      SendSubReqCase{"CacheOffSubReqFalse", "false", "false", 1}),
    [](const ::testing::TestParamInfo<SendSubReqCase>& info) { return info.param.mName; });

TEST_F(TransportTest, TenThousandCreationsReuseOneNode)
{
    const size_t handedOutBefore = corvexBridge()->mTransportList->mPool.mHandedOut;
    for (int i = 0; i < 10000; ++i)
    {
        mamaTransport transport = nullptr;
        ASSERT_EQ(MAMA_STATUS_OK, create("t1", &transport)) << "iteration " << i;
        destroy(transport);
    }
    const CorvexTransportList* list = corvexBridge()->mTransportList;
    EXPECT_EQ(0u, list->mCount);
    EXPECT_LE(list->mPool.mHandedOut, handedOutBefore + 1);
    EXPECT_LE(list->mPool.mKeptCount, 1u);
}

TEST_F(TransportTest, CreateAndDestroyCheckTheirArguments)
{
    auto createBridge =
        bridgeFunction<mama_status (*)(CorvexTransportBridge**, const char*, mamaTransport)>(
            "corvexBridgeMamaTransport_create");
    ASSERT_NE(nullptr, createBridge);
    /* Only the null checks and the name check run: the parent is never used. */
    mamaTransport parent = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, create("t1", &parent));
    CorvexTransportBridge* result = nullptr;
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, createBridge(nullptr, "t1", parent));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, createBridge(&result, nullptr, parent));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, createBridge(&result, "t1", nullptr));
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG, createBridge(&result, "", parent));
    EXPECT_EQ(1u, LogCapture::count("Called with empty transport name"));
    EXPECT_EQ(nullptr, result);

    auto destroyBridge = bridgeFunction<mama_status (*)(CorvexTransportBridge*)>(
        "corvexBridgeMamaTransport_destroy");
    ASSERT_NE(nullptr, destroyBridge);
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, destroyBridge(nullptr));
    CorvexTransportBridge unnamed;
    memset(&unnamed, 0, sizeof(unnamed));
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG, destroyBridge(&unnamed));
}

TEST_F(TransportTest, ConnectionFeaturesAreRefused)
{
    typedef mama_status (*ArrayOp)(void**, int);
    const char* arrayOps[] = {"corvexBridgeMamaTransport_requestConflation",
                              "corvexBridgeMamaTransport_requestEndConflation"};
    for (const char* name : arrayOps)
    {
        ArrayOp op = bridgeFunction<ArrayOp>(name);
        ASSERT_NE(nullptr, op) << name;
        EXPECT_EQ(MAMA_STATUS_NOT_IMPLEMENTED, op(nullptr, 0)) << name;
    }
    typedef mama_status (*FiveArgs)(void*, void*, void*, void*, void*);
    const char* otherOps[] = {"corvexBridgeMamaTransport_findConnection",
                              "corvexBridgeMamaTransport_forceClientDisconnect",
                              "corvexBridgeMamaTransport_freeAllConnections",
                              "corvexBridgeMamaTransport_freeAllServerConnections",
                              "corvexBridgeMamaTransport_getAllConnections",
                              "corvexBridgeMamaTransport_getAllConnectionsForTopic",
                              "corvexBridgeMamaTransport_getAllServerConnections",
                              "corvexBridgeMamaTransport_getNativeTransportNamingCtx",
                              "corvexBridgeMamaTransport_installConnectConflateMgr",
                              "corvexBridgeMamaTransport_uninstallConnectConflateMgr",
                              "corvexBridgeMamaTransport_sendMsgToConnection",
                              "corvexBridgeMamaTransport_startConnectionConflation"};
    for (const char* name : otherOps)
    {
        /* Every argument null: the call never looks at them. */
        FiveArgs op = bridgeFunction<FiveArgs>(name);
        ASSERT_NE(nullptr, op) << name;
        EXPECT_EQ(MAMA_STATUS_NOT_IMPLEMENTED, op(nullptr, nullptr, nullptr, nullptr, nullptr))
            << name;
    }
    EXPECT_EQ(14u,
              LogCapture::count("conflation and load balancing are not supported by this bridge."));

    auto intercepted = bridgeFunction<mama_status (*)(mamaConnection, uint8_t*)>(
        "corvexBridgeMamaTransport_isConnectionIntercepted");
    ASSERT_NE(nullptr, intercepted);
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, intercepted(nullptr, nullptr));
    uint8_t result = 1;
    EXPECT_EQ(MAMA_STATUS_NOT_IMPLEMENTED, intercepted(nullptr, &result));
    EXPECT_EQ(0, result);
}

TEST_F(TransportTest, LoadBalancingReportsNothingConfigured)
{
    auto count = bridgeFunction<mama_status (*)(const char*, int*)>(
        "corvexBridgeMamaTransport_getNumLoadBalanceAttributes");
    auto scheme = bridgeFunction<mama_status (*)(const char*, tportLbScheme*)>(
        "corvexBridgeMamaTransport_getLoadBalanceScheme");
    auto object = bridgeFunction<mama_status (*)(const char*, const char**)>(
        "corvexBridgeMamaTransport_getLoadBalanceSharedObjectName");
    ASSERT_TRUE(count != nullptr && scheme != nullptr && object != nullptr);

    int numbers = -1;
    EXPECT_EQ(MAMA_STATUS_OK, count("t1", &numbers));
    EXPECT_EQ(0, numbers);
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, count(nullptr, &numbers));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, count("t1", nullptr));
    tportLbScheme lbScheme = TPORT_LB_SCHEME_API;
    EXPECT_EQ(MAMA_STATUS_OK, scheme("t1", &lbScheme));
    EXPECT_EQ(TPORT_LB_SCHEME_STATIC, lbScheme);
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, scheme("t1", nullptr));
    const char* name = "x";
    EXPECT_EQ(MAMA_STATUS_OK, object("t1", &name));
    EXPECT_EQ(nullptr, name);
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, object(nullptr, &name));
}
