#include <string>

#include "bridgeTest.h"
#include "properties.h"

namespace
{
const char* const PREFIX = "mama.corvex.transport.";

class PropertyListTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        LogCapture::start(MAMA_LOG_LEVEL_FINEST);
    }

    void TearDown() override
    {
        if (mList != nullptr)
        {
            corvexProperties_destroy(&mList);
        }
    }

    /* The list's array is terminated after its last pair. */
    void expectTerminated() const
    {
        const char** array = corvexProperties_getCorvexClientProps(mList);
        ASSERT_NE(nullptr, array);
        EXPECT_EQ(nullptr, array[mList->mCount * 2]);
    }

    CorvexProperties* mList = nullptr;
};
} // namespace

TEST_F(PropertyListTest, GrowsByDoublingAndStaysTerminated)
{
    mList = corvexProperties_allocate(PREFIX);
    ASSERT_NE(nullptr, mList);
    EXPECT_EQ(4u, mList->mCapacity);
    for (int i = 0; i < 9; i++)
    {
        std::string name = "NAME_" + std::to_string(i);
        ASSERT_TRUE(corvexProperties_append(mList, name.c_str(), std::to_string(i).c_str()));
        expectTerminated();
    }
    EXPECT_EQ(9u, mList->mCount);
    EXPECT_EQ(16u, mList->mCapacity);
    EXPECT_EQ(1u, LogCapture::count("Resizing properties array from 4 to 8"));
    EXPECT_EQ(1u, LogCapture::count("Resizing properties array from 8 to 16"));
    EXPECT_EQ(1u, LogCapture::count("Prop  9: NAME_8 = 8 "));

    const char** array = corvexProperties_getCorvexClientProps(mList);
    EXPECT_STREQ("NAME_0", array[0]);
    EXPECT_STREQ("0", array[1]);
    EXPECT_STREQ("NAME_8", array[16]);
    EXPECT_STREQ("8", array[17]);
}

TEST_F(PropertyListTest, LookupIgnoresCaseAndTheLastMatchWins)
{
    mList = corvexProperties_allocate(PREFIX);
    ASSERT_NE(nullptr, mList);
    ASSERT_TRUE(corvexProperties_append(mList, "use_corvexcache", "1"));
    ASSERT_TRUE(corvexProperties_append(mList, "SESSION_USERNAME", "alice"));
    ASSERT_TRUE(corvexProperties_append(mList, "USE_CORVEXCACHE", "0"));

    EXPECT_STREQ("0", corvexProperties_get(mList, "use_corvexcache"));
    EXPECT_STREQ("alice", corvexProperties_get(mList, "session_username"));
    EXPECT_EQ(nullptr, corvexProperties_get(mList, "SESSION_PASSWORD"));
    EXPECT_EQ(nullptr, corvexProperties_get(mList, nullptr));
}

TEST_F(PropertyListTest, LoadTakesOnlyKeysDirectlyUnderTheCaseSensitivePrefix)
{
    ASSERT_EQ(MAMA_STATUS_OK, mama_setProperty("mama.corvex.transport.SESSION_USERNAME", "bob"));
    ASSERT_EQ(MAMA_STATUS_OK, mama_setProperty("mama.corvex.transport.t1.use_corvexcache", "0"));
    ASSERT_EQ(MAMA_STATUS_OK, mama_setProperty("MAMA.CORVEX.TRANSPORT.SESSION_PASSWORD", "secret"));
    ASSERT_EQ(MAMA_STATUS_OK, mama_setProperty("mama.corvex.transport.EMPTY_OK", ""));
    ASSERT_EQ(MAMA_STATUS_OK, mama_setProperty("mama.other.SESSION_ROUTER", "elsewhere"));

    ASSERT_EQ(MAMA_STATUS_OK, corvexProperties_create(&mList, PREFIX));
    ASSERT_NE(nullptr, mList);
    EXPECT_STREQ("bob", corvexProperties_get(mList, "SESSION_USERNAME"));
    EXPECT_EQ(nullptr, corvexProperties_get(mList, "use_corvexcache"));
    EXPECT_EQ(nullptr, corvexProperties_get(mList, "t1.use_corvexcache"));
    EXPECT_EQ(nullptr, corvexProperties_get(mList, "SESSION_PASSWORD"));
    EXPECT_EQ(nullptr, corvexProperties_get(mList, "SESSION_ROUTER"));
    EXPECT_EQ(1u, LogCapture::count("propertyStoreCallback: skipping name suffix with '.': "
                                    "(mama.corvex.transport.)t1.use_corvexcache=0"));
    expectTerminated();

    // A transport's own list takes its keys and nothing deeper.
    CorvexProperties* transport = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, corvexProperties_create(&transport, "mama.corvex.transport.t1."));
    EXPECT_STREQ("0", corvexProperties_get(transport, "use_corvexcache"));
    EXPECT_EQ(nullptr, corvexProperties_get(transport, "SESSION_USERNAME"));
    EXPECT_EQ(1u, transport->mCount);
    corvexProperties_destroy(&transport);
    EXPECT_EQ(nullptr, transport);
}

TEST_F(PropertyListTest, LoadBeforeTheHostHasPropertiesIsNotInitialised)
{
    EXPECT_EQ(MAMA_STATUS_NOT_INITIALISED, corvexProperties_create(&mList, PREFIX));
    EXPECT_EQ(nullptr, mList);
    EXPECT_EQ(1u, LogCapture::count("mama properties not yet available"));
}

/* Secrets never reach the log, at any level: neither as the transport's
 * properties are read nor as they are appended. */
TEST_F(PropertyListTest, SecretValuesAreMaskedInEveryLogLine)
{
    const std::string prefix = "mama.corvex.transport.masked.";
    for (const char* name : {"SESSION_PASSWORD", "session_password", "SESSION_ROUTER_TOKEN"})
        ASSERT_EQ(MAMA_STATUS_OK, mama_setProperty((prefix + name).c_str(), "hunter2-secret"));
    ASSERT_EQ(MAMA_STATUS_OK, mama_setProperty((prefix + "SESSION_USERNAME").c_str(), "bob"));
    /* What the host itself logs of the application's settings is not ours. */
    LogCapture::start(MAMA_LOG_LEVEL_FINEST);
    ASSERT_EQ(MAMA_STATUS_OK, corvexProperties_create(&mList, prefix.c_str()));
    ASSERT_TRUE(corvexProperties_append(mList, "SESSION_PASSWORD", "appended-secret"));
    EXPECT_STREQ("hunter2-secret", corvexProperties_get(mList, "SESSION_ROUTER_TOKEN"));

    EXPECT_EQ(std::vector<std::string>{}, LogCapture::matching("hunter2-secret"));
    EXPECT_EQ(0u, LogCapture::count("appended-secret"));
    EXPECT_LE(4u, LogCapture::count("SESSION_PASSWORD = ****") +
                      LogCapture::count("session_password = ****") +
                      LogCapture::count("SESSION_ROUTER_TOKEN = ****"));
    /* Other values are still shown. */
    EXPECT_LE(1u, LogCapture::count("SESSION_USERNAME = bob"));
}
