#include <dlfcn.h>

#include <algorithm>
#include <memory>
#include <string>

#include <bridge.h>
#include <corvexClientTest.h>

#include "bridgeTest.h"
#include "corvexBridge.h"

namespace
{
const char* const TIMEOUT_PROPERTY = "mama.corvex.transport.defaultqueue.timeout";

/* Every entry point the host looks up, in the host's order. */
const char* const EXPORTS[] = {"corvexBridge_init",
                               "corvexBridge_start",
                               "corvexBridge_stop",
                               "corvexBridge_open",
                               "corvexBridge_close",
                               "corvexBridge_getVersion",
                               "corvexBridge_getName",
                               "corvexBridge_getDefaultPayloadId",
                               "corvexBridgeMamaQueue_create",
                               "corvexBridgeMamaQueue_create_usingNative",
                               "corvexBridgeMamaQueue_destroy",
                               "corvexBridgeMamaQueue_getEventCount",
                               "corvexBridgeMamaQueue_dispatch",
                               "corvexBridgeMamaQueue_timedDispatch",
                               "corvexBridgeMamaQueue_dispatchEvent",
                               "corvexBridgeMamaQueue_enqueueEvent",
                               "corvexBridgeMamaQueue_stopDispatch",
                               "corvexBridgeMamaQueue_setEnqueueCallback",
                               "corvexBridgeMamaQueue_removeEnqueueCallback",
                               "corvexBridgeMamaQueue_getNativeHandle",
                               "corvexBridgeMamaQueue_setLowWatermark",
                               "corvexBridgeMamaQueue_setHighWatermark",
                               "corvexBridgeMamaTransport_isValid",
                               "corvexBridgeMamaTransport_destroy",
                               "corvexBridgeMamaTransport_create",
                               "corvexBridgeMamaTransport_forceClientDisconnect",
                               "corvexBridgeMamaTransport_findConnection",
                               "corvexBridgeMamaTransport_getAllConnections",
                               "corvexBridgeMamaTransport_getAllConnectionsForTopic",
                               "corvexBridgeMamaTransport_freeAllConnections",
                               "corvexBridgeMamaTransport_getAllServerConnections",
                               "corvexBridgeMamaTransport_freeAllServerConnections",
                               "corvexBridgeMamaTransport_getNumLoadBalanceAttributes",
                               "corvexBridgeMamaTransport_getLoadBalanceScheme",
                               "corvexBridgeMamaTransport_getLoadBalanceSharedObjectName",
                               "corvexBridgeMamaTransport_sendMsgToConnection",
                               "corvexBridgeMamaTransport_isConnectionIntercepted",
                               "corvexBridgeMamaTransport_installConnectConflateMgr",
                               "corvexBridgeMamaTransport_uninstallConnectConflateMgr",
                               "corvexBridgeMamaTransport_startConnectionConflation",
                               "corvexBridgeMamaTransport_requestConflation",
                               "corvexBridgeMamaTransport_requestEndConflation",
                               "corvexBridgeMamaTransport_getNativeTransport",
                               "corvexBridgeMamaTransport_getNativeTransportNamingCtx",
                               "corvexBridgeMamaSubscription_create",
                               "corvexBridgeMamaSubscription_createWildCard",
                               "corvexBridgeMamaSubscription_mute",
                               "corvexBridgeMamaSubscription_destroy",
                               "corvexBridgeMamaSubscription_isValid",
                               "corvexBridgeMamaSubscription_hasWildcards",
                               "corvexBridgeMamaSubscription_getPlatformError",
                               "corvexBridgeMamaSubscription_setTopicClosure",
                               "corvexBridgeMamaSubscription_muteCurrentTopic",
                               "corvexBridgeMamaSubscription_isTportDisconnected",
                               "corvexBridgeMamaTimer_create",
                               "corvexBridgeMamaTimer_destroy",
                               "corvexBridgeMamaTimer_reset",
                               "corvexBridgeMamaTimer_setInterval",
                               "corvexBridgeMamaTimer_getInterval",
                               "corvexBridgeMamaIo_create",
                               "corvexBridgeMamaIo_getDescriptor",
                               "corvexBridgeMamaIo_destroy",
                               "corvexBridgeMamaPublisher_createByIndex",
                               "corvexBridgeMamaPublisher_destroy",
                               "corvexBridgeMamaPublisher_send",
                               "corvexBridgeMamaPublisher_sendFromInbox",
                               "corvexBridgeMamaPublisher_sendFromInboxByIndex",
                               "corvexBridgeMamaPublisher_sendReplyToInbox",
                               "corvexBridgeMamaPublisher_sendReplyToInboxHandle",
                               "corvexBridgeMamaPublisher_setUserCallbacks",
                               "corvexBridgeMamaInbox_create",
                               "corvexBridgeMamaInbox_createByIndex",
                               "corvexBridgeMamaInbox_destroy",
                               "corvexBridgeMamaMsg_create",
                               "corvexBridgeMamaMsg_destroy",
                               "corvexBridgeMamaMsg_destroyMiddlewareMsg",
                               "corvexBridgeMamaMsg_detach",
                               "corvexBridgeMamaMsg_isFromInbox",
                               "corvexBridgeMamaMsg_getPlatformError",
                               "corvexBridgeMamaMsg_setSendSubject",
                               "corvexBridgeMamaMsg_getNativeHandle",
                               "corvexBridgeMamaMsg_duplicateReplyHandle",
                               "corvexBridgeMamaMsg_copyReplyHandle",
                               "corvexBridgeMamaMsgImpl_setReplyHandle",
                               "corvexBridgeMamaMsgImpl_setReplyHandleAndIncrement",
                               "corvexBridgeMamaMsg_destroyReplyHandle"};

/* Runs mama_start on a thread and returns once the default queue is being
 * dispatched, so that a stop cannot overtake the start. */
std::unique_ptr<DispatchThread> startDispatching(mamaBridge bridge)
{
    mamaQueue queue = nullptr;
    Signal running;
    EXPECT_EQ(MAMA_STATUS_OK, mama_getDefaultEventQueue(bridge, &queue));
    EXPECT_EQ(MAMA_STATUS_OK, mamaQueue_enqueueEvent(queue, raiseSignal, &running));
    std::unique_ptr<DispatchThread> starter(
        new DispatchThread([bridge] { return mama_start(bridge); }));
    EXPECT_TRUE(running.wait());
    return starter;
}

} // namespace

TEST_F(BridgeTest, ExportsEveryEntryPointTheHostLooksUp)
{
    void* library = dlopen("libmamacorveximpl.so", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(nullptr, library);
    EXPECT_EQ(86u, sizeof(EXPORTS) / sizeof(EXPORTS[0]));
    for (const char* name : EXPORTS)
    {
        EXPECT_NE(nullptr, dlsym(library, name)) << name;
    }
    dlclose(library);
}

TEST_F(BridgeTest, IdentifiesItselfAndItsPayload)
{
    EXPECT_STREQ("6.3.1", mamaBridgeImpl_getMetaProperty(mBridge, "compile_version"));
    EXPECT_STREQ("true", mamaBridgeImpl_getMetaProperty(mBridge, "entitlements.deferred"));

    auto getVersion = corvexBridge_getVersion;
    std::string version = getVersion();
    EXPECT_EQ(0u, version.find("Corvex OpenMAMA Middleware Bridge v7.5.2.1 with Corvex C API v"))
        << version;

    char** names = nullptr;
    char* ids = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, corvexBridge_getDefaultPayloadId(&names, &ids));
    EXPECT_STREQ("corvexmsg", names[0]);
    EXPECT_EQ(nullptr, names[1]);
    EXPECT_EQ('1', ids[0]);
    EXPECT_EQ('\0', ids[1]);
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, corvexBridge_getDefaultPayloadId(nullptr, &ids));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, corvexBridge_getDefaultPayloadId(&names, nullptr));
}

TEST_F(BridgeTest, OpenCreatesTheNamedDefaultQueue)
{
    mamaQueue queue = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mama_getDefaultEventQueue(mBridge, &queue));
    const char* name = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mamaQueue_getQueueName(queue, &name));
    EXPECT_STREQ("CORVEX_DEFAULT_MAMA_QUEUE", name);
}

TEST_F(BridgeTest, StartDispatchesTheDefaultQueueUntilStoppedFromAnotherThread)
{
    std::unique_ptr<DispatchThread> starter = startDispatching(mBridge);
    ASSERT_EQ(MAMA_STATUS_OK, mama_stop(mBridge));
    ASSERT_TRUE(starter->waitReturned(std::chrono::milliseconds(2000)));
    EXPECT_EQ(MAMA_STATUS_OK, starter->status());
    EXPECT_EQ(1u, LogCapture::count("): Start dispatching on default event queue."));
}

TEST_F(BridgeTest, EveryLineHasTheBridgeFormat)
{
    std::unique_ptr<DispatchThread> starter = startDispatching(mBridge);
    ASSERT_EQ(MAMA_STATUS_OK, mama_stop(mBridge));
    ASSERT_TRUE(starter->waitReturned(std::chrono::milliseconds(2000)));

    std::vector<std::string> started = LogCapture::matching("Start dispatching");
    ASSERT_EQ(1u, started.size());
    EXPECT_TRUE(
        BridgeLine::is(started[0], "Finer", "bridge", "Start dispatching on default event queue."))
        << started[0];

    const std::vector<std::string> levels = {"Off",    "Severe", "Error", "Warn",
                                             "Normal", "Fine",   "Finer", "Finest"};
    for (const std::string& line : LogCapture::matching("CORVEX-MW-Bridge"))
    {
        BridgeLine parts;
        ASSERT_TRUE(BridgeLine::parse(line, &parts)) << line;
        EXPECT_NE(levels.end(), std::find(levels.begin(), levels.end(), parts.mLevel)) << line;
    }
}

TEST_F(BridgeTest, LevelBelowTheMessageDropsTheLine)
{
    mama_setLogLevel(MAMA_LOG_LEVEL_FINE);
    std::unique_ptr<DispatchThread> starter = startDispatching(mBridge);
    ASSERT_EQ(MAMA_STATUS_OK, mama_stop(mBridge));
    ASSERT_TRUE(starter->waitReturned(std::chrono::milliseconds(2000)));
    EXPECT_EQ(0u, LogCapture::count("Start dispatching"));
}

TEST_F(BridgeTest, DefaultQueueTimeoutFallsBackForUnusableValues)
{
    ASSERT_EQ(MAMA_STATUS_OK, mama_setProperty(TIMEOUT_PROPERTY, "abc"));
    EXPECT_EQ(2000, corvexBridge_getDefaultQueueTimeout());
    EXPECT_EQ(1u, LogCapture::count("mama.corvex.transport.defaultqueue.timeout: 'abc' is not a "
                                    "whole number"));

    ASSERT_EQ(MAMA_STATUS_OK, mama_setProperty(TIMEOUT_PROPERTY, "-5"));
    EXPECT_EQ(2000, corvexBridge_getDefaultQueueTimeout());
    EXPECT_EQ(
        1u,
        LogCapture::count(
            "Corvex bridge default event queue timeout -5 ms is invalid. Using default 2000 ms."));

    ASSERT_EQ(MAMA_STATUS_OK, mama_setProperty(TIMEOUT_PROPERTY, "750ms"));
    EXPECT_EQ(2000, corvexBridge_getDefaultQueueTimeout());
    EXPECT_EQ(1u, LogCapture::count("mama.corvex.transport.defaultqueue.timeout: '750ms' is not"));

    ASSERT_EQ(MAMA_STATUS_OK, mama_setProperty(TIMEOUT_PROPERTY, "99999999999999999999"));
    EXPECT_GT(corvexBridge_getDefaultQueueTimeout(), 0);

    ASSERT_EQ(MAMA_STATUS_OK, mama_setProperty(TIMEOUT_PROPERTY, "750"));
    EXPECT_EQ(750, corvexBridge_getDefaultQueueTimeout());
}

TEST_F(BridgeTest, EmptyDefaultQueueTimeoutTakesTheHostDefault)
{
    ASSERT_EQ(MAMA_STATUS_OK, mama_setProperty(TIMEOUT_PROPERTY, ""));
    ASSERT_EQ(MAMA_STATUS_OK, mama_setProperty("mama.defaultqueue.timeout", "1500"));
    EXPECT_EQ(1500, corvexBridge_getDefaultQueueTimeout());

    ASSERT_EQ(MAMA_STATUS_OK, mama_setProperty("mama.defaultqueue.timeout", "0"));
    EXPECT_EQ(2000, corvexBridge_getDefaultQueueTimeout());
    EXPECT_EQ(0u, LogCapture::count("Could not destroy DefaultEventQueue"));
}

TEST_F(BridgeTest, CloseWithoutVendorInitialisationLeavesTheVendorLibraryAlone)
{
    corvexClientTest_setRecording(1);
    corvexClientTest_clearCalls();
    ASSERT_EQ(MAMA_STATUS_OK, mama_setProperty(TIMEOUT_PROPERTY, "abc"));
    closeBridge();
    EXPECT_EQ(0u, corvexClientTest_callCount("corvexClient_cleanup"));
    EXPECT_EQ(0u, corvexClientTest_callCount("corvexClient_context_destroy"));
    EXPECT_EQ(1u, LogCapture::count("defaultqueue.timeout: 'abc' is not a whole number"));
    EXPECT_EQ(std::vector<std::string>(), BridgeLine::at("Error"));
    EXPECT_EQ(0u, LogCapture::count("Could not destroy"));
}

TEST_F(BridgeTest, CloseAfterVendorInitialisationReleasesTheVendorLibrary)
{
    ASSERT_EQ(MAMA_STATUS_OK,
              mama_setProperty("mama.corvex.transport.t1.allow_recover_gaps", "true"));
    ASSERT_EQ(MAMA_STATUS_OK, mama_setProperty("mama.transport.t1.disable_refresh", "true"));
    corvexClientTest_setRecording(1);
    corvexClientTest_clearCalls();

    for (int round = 0; round < 2; round++)
    {
        mamaTransport transport = nullptr;
        ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_allocate(&transport));
        ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_create(transport, "t1", mBridge));
        ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_destroy(transport));
    }
    EXPECT_EQ(1u, corvexClientTest_callCount("corvexClient_initialize")) << "initialised once";
    EXPECT_EQ(1u, corvexClientTest_callCount("_corvexClient_version_set"));

    // The version registered at the first transport is the one open composed.
    auto getVersion = corvexBridge_getVersion;
    const corvexClient_versionInfo_t* vendor = nullptr;
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_version_get(&vendor));
    EXPECT_STREQ(getVersion(), vendor->mVersion);

    closeBridge();
    EXPECT_EQ(1u, corvexClientTest_callCount("corvexClient_context_destroy"));
    EXPECT_EQ(1u, corvexClientTest_callCount("corvexClient_cleanup"));
    EXPECT_EQ(std::vector<std::string>(), BridgeLine::at("Error"));
}

TEST(BridgeReload, LoadsAgainInTheSameProcessAfterClose)
{
    LogCapture::start(MAMA_LOG_LEVEL_FINEST);
    for (int round = 0; round < 2; round++)
    {
        // mama_close frees the property table: set them again each round.
        ASSERT_EQ(MAMA_STATUS_OK,
                  mama_setProperty("mama.corvex.transport.t1.allow_recover_gaps", "true"));
        ASSERT_EQ(MAMA_STATUS_OK, mama_setProperty("mama.transport.t1.disable_refresh", "true"));
        mamaBridge bridge = nullptr;
        ASSERT_EQ(MAMA_STATUS_OK, mama_loadBridge(&bridge, "corvex"))
            << "round " << round << ::testing::PrintToString(LogCapture::lines());
        ASSERT_EQ(MAMA_STATUS_OK, mama_open());
        mamaTransport transport = nullptr;
        ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_allocate(&transport));
        ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_create(transport, "t1", bridge))
            << ::testing::PrintToString(BridgeLine::at("Error"));
        ASSERT_EQ(MAMA_STATUS_OK, mamaTransport_destroy(transport));

        auto getVersion = corvexBridge_getVersion;
        EXPECT_EQ(
            0u, std::string(getVersion()).find("Corvex OpenMAMA Middleware Bridge v7.5.2.1 with "))
            << getVersion();
        EXPECT_EQ(MAMA_STATUS_OK, mama_close());
    }
}
