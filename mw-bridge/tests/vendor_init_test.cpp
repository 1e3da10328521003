#include <corvexClientTest.h>
#include <mama/mama.h>
#include <wombat/wlock.h>

#include "bridgeTest.h"
#include "corvexBridge.h"

namespace
{
const char* const MAX_SIZE = "mama.corvex.transport.queue_max_size";

/* A bridge object as open leaves it, initialised here without a host bridge. */
class VendorInitTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        LogCapture::start(MAMA_LOG_LEVEL_FINEST);
        mBridge.mKlixInitLock = wlock_create();
        mBridge.mQueueMaxSize = CORVEX_DEFAULT_QUEUE_MAX_SIZE;
        corvexClientTest_setRecording(1);
        corvexClientTest_clearCalls();
        // The vendor properties come from the host's table, which must exist.
        ASSERT_EQ(MAMA_STATUS_OK,
                  mama_setProperty("mama.corvex.transport.SESSION_CLIENT_NAME", "tester"));
    }

    void TearDown() override
    {
        if (mBridge.mContext != nullptr)
        {
            EXPECT_EQ(CORVEXCLIENT_OK, corvexClient_context_destroy(&mBridge.mContext));
        }
        corvexClient_log_unsetCallback();
        if (mBridge.mKlixInitialized)
        {
            corvexClient_cleanup();
        }
        wlock_destroy(mBridge.mKlixInitLock);
    }

    /* Initialises with queue_max_size set to `text`. */
    mama_status initWithMaxSize(const char* text)
    {
        EXPECT_EQ(MAMA_STATUS_OK, mama_setProperty(MAX_SIZE, text));
        return corvexBridge_initKlix(&mBridge);
    }

    CorvexBridge mBridge = {};
};

const char* const TRUNCATED =
    "mama.corvex.transport.queue_max_size too large or negative, truncating to 2147483647.";
} // namespace

TEST_F(VendorInitTest, DefaultsAndRunsOnlyOnce)
{
    ASSERT_EQ(MAMA_STATUS_OK, corvexBridge_initKlix(&mBridge));
    EXPECT_EQ(1, mBridge.mKlixInitialized);
    EXPECT_NE(nullptr, mBridge.mContext);
    EXPECT_EQ(50000u, mBridge.mQueueMaxSize);
    EXPECT_EQ(1, mBridge.mSubscribeAsync.load());
    EXPECT_EQ(1u, LogCapture::count("Asynchronous subscriptions are enabled"));

    ASSERT_EQ(MAMA_STATUS_OK, corvexBridge_initKlix(&mBridge));
    EXPECT_EQ(1u, corvexClientTest_callCount("corvexClient_initialize"));
    EXPECT_EQ(1u, corvexClientTest_callCount("corvexClient_context_create"));

    // The version registered with the vendor names the bridge.
    const corvexClient_versionInfo_t* version = nullptr;
    ASSERT_EQ(CORVEXCLIENT_OK, corvexClient_version_get(&version));
    EXPECT_EQ(0, strncmp(version->mVersion,
                         "Corvex OpenMAMA Middleware Bridge v7.5.2.1 with Corvex C API v",
                         strlen("Corvex OpenMAMA Middleware Bridge v7.5.2.1 with Corvex C API v")))
        << version->mVersion;
    EXPECT_STREQ("Apr 29 2021 14:12:10", version->mDateTime);
    EXPECT_STREQ("CORVEXDEV_VARIANT", version->mVariant);
}

TEST_F(VendorInitTest, QueueMaxSizeZeroFailsAndCanBeRetried)
{
    EXPECT_EQ(MAMA_STATUS_PLATFORM, initWithMaxSize("0"));
    EXPECT_EQ(1u,
              LogCapture::count("Value (0) for mama.corvex.transport.queue_max_size too small"));
    EXPECT_EQ(0, mBridge.mKlixInitialized);
    EXPECT_EQ(nullptr, mBridge.mContext)
        << "a failed initialisation leaves no context (or its thread) behind";
    EXPECT_EQ(1u, corvexClientTest_callCount("corvexClient_cleanup"));

    EXPECT_EQ(MAMA_STATUS_OK, initWithMaxSize("100"));
    EXPECT_EQ(1, mBridge.mKlixInitialized);
    EXPECT_EQ(100u, mBridge.mQueueMaxSize);
    EXPECT_EQ(1u, LogCapture::count("Maximum queue size set to 100."));
}

/* A bridge-wide value is read as its whole text: one that is not a number
 * (or boolean) of its range fails the initialisation with a line naming
 * the key and the value, and nothing is left behind for the next try. */
TEST_F(VendorInitTest, AValueThatIsNotANumberOrBooleanOfItsRangeFailsNamingKeyAndValue)
{
    const std::vector<std::pair<std::string, std::string>> bad = {
        {"queue_max_size", "abc"},         {"queue_max_size", "0x10"},
        {"queue_max_size", "50000abc"},    {"queue_max_size", " 100"},
        {"queue_max_size", "-1"},          {"queue_max_size", ""},
        {"subscribe_async", "maybe"},      {"subscribe_async", ""},
        {"corvexClient_log_level", "999"}, {"corvexClient_log_level", "-1"},
        {"corvexClient_log_level", "7x"},
    };
    for (const auto& entry : bad)
    {
        const std::string key = "mama.corvex.transport." + entry.first;
        ASSERT_EQ(MAMA_STATUS_OK, mama_setProperty(key.c_str(), entry.second.c_str()));
        EXPECT_NE(MAMA_STATUS_OK, corvexBridge_initKlix(&mBridge)) << key << "=" << entry.second;
        EXPECT_EQ(1u, LogCapture::matching(key + ": '" + entry.second + "' is not").size())
            << key << "='" << entry.second << "'";
        EXPECT_EQ(0, mBridge.mKlixInitialized);
        EXPECT_EQ(nullptr, mBridge.mContext);
        ASSERT_EQ(MAMA_STATUS_OK,
                  mama_setProperty(key.c_str(), entry.first == "subscribe_async" ? "true" : "5"));
    }
    ASSERT_EQ(MAMA_STATUS_OK, corvexBridge_initKlix(&mBridge));
    EXPECT_EQ(5u, mBridge.mQueueMaxSize);
}

TEST_F(VendorInitTest, QueueMaxSizeJustAboveTheLimitIsClamped)
{
    ASSERT_EQ(MAMA_STATUS_OK, initWithMaxSize("2147483648"));
    EXPECT_EQ(2147483647u, mBridge.mQueueMaxSize);
    EXPECT_EQ(1u, LogCapture::count(TRUNCATED));
}

TEST_F(VendorInitTest, QueueMaxSizeThatOverflowsIsClamped)
{
    ASSERT_EQ(MAMA_STATUS_OK, initWithMaxSize("12345678901234567890123"));
    EXPECT_EQ(2147483647u, mBridge.mQueueMaxSize);
    EXPECT_EQ(1u, LogCapture::count(TRUNCATED));
}

TEST_F(VendorInitTest, QueueMaxSizeAtTheLimitIsKept)
{
    ASSERT_EQ(MAMA_STATUS_OK, initWithMaxSize("2147483647"));
    EXPECT_EQ(2147483647u, mBridge.mQueueMaxSize);
    EXPECT_EQ(0u, LogCapture::count(TRUNCATED));
}

TEST_F(VendorInitTest, SubscribeAsyncFalseDisablesAsynchronousMode)
{
    ASSERT_EQ(MAMA_STATUS_OK, mama_setProperty("mama.corvex.transport.subscribe_async", "false"));
    ASSERT_EQ(MAMA_STATUS_OK, corvexBridge_initKlix(&mBridge));
    EXPECT_EQ(0, mBridge.mSubscribeAsync.load());
    EXPECT_EQ(1u, LogCapture::count("Asynchronous subscriptions are disabled"));
}

TEST_F(VendorInitTest, FailedVendorInitialisationIsReportedAndRetried)
{
    corvexClientTest_failNext("corvexClient_initialize", CORVEXCLIENT_FAIL, 2, "refused by test");
    EXPECT_EQ(MAMA_STATUS_PLATFORM, corvexBridge_initKlix(&mBridge));
    EXPECT_EQ(1u, LogCapture::count("Unable to initialize corvexClient API - ReturnCode='"));
    EXPECT_EQ(0, mBridge.mKlixInitialized);

    EXPECT_EQ(MAMA_STATUS_OK, corvexBridge_initKlix(&mBridge));
    EXPECT_EQ(1, mBridge.mKlixInitialized);
}

TEST_F(VendorInitTest, VendorGetsTheBridgeWidePropertiesAndItsThread)
{
    ASSERT_EQ(MAMA_STATUS_OK, corvexBridge_initKlix(&mBridge));
    EXPECT_EQ(1u, LogCapture::count("Prop  1: SESSION_CLIENT_NAME = tester "));
    EXPECT_EQ(1u, LogCapture::count(": CONTEXT_CREATE_THREAD = 1 "));
}
