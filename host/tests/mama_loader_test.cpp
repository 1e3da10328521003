// Loading middleware bridges by name: symbol rules, version rule, the order
// of init and open, and the registry.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "bridge.h"
#include "mama_test_support.h"
#include "mamainternal.h"

using mamatest::LogCapture;

namespace
{
class LoaderTest : public ::testing::Test
{
  protected:
    void TearDown() override
    {
        mama_close();
    }
    LogCapture mLog;
};

TEST_F(LoaderTest, InitAndOpenRunInsideLoadAndASecondLoadReturnsTheSameBridge)
{
    mamaBridge bridge = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mama_loadBridge(&bridge, "fake"));
    ASSERT_NE(nullptr, bridge);
    int init = LogCapture::indexOf("fake: init");
    int open = LogCapture::indexOf("fake: open");
    ASSERT_GE(init, 0);
    EXPECT_GT(open, init);

    mamaQueue queue = nullptr;
    EXPECT_EQ(MAMA_STATUS_OK, mama_getDefaultEventQueue(bridge, &queue));
    EXPECT_NE(nullptr, queue);
    EXPECT_STREQ("6.3.2", mamaInternal_getMetaProperty("mama.fake.compile_version"));
    EXPECT_STREQ("6.3.2", mamaInternal_getMetaProperty("mama.runtime_version"));

    mamaBridge again = nullptr;
    EXPECT_EQ(MAMA_STATUS_OK, mama_loadBridge(&again, "fake"));
    EXPECT_EQ(bridge, again);
    EXPECT_EQ(1, LogCapture::count("fake: init"));
    EXPECT_EQ(1, LogCapture::count("fake: open"));

    mamaBridge found = nullptr;
    EXPECT_EQ(MAMA_STATUS_OK, mama_getMiddlewareBridge(&found, "fake"));
    EXPECT_EQ(bridge, found);
    EXPECT_EQ(MAMA_STATUS_NOT_FOUND, mama_getMiddlewareBridge(&found, "other"));

    mama_close();
    EXPECT_EQ(1, LogCapture::count("fake: close"));
    EXPECT_EQ(MAMA_STATUS_NOT_FOUND, mama_getMiddlewareBridge(&found, "fake"));
}

TEST_F(LoaderTest, LoadFromAnExplicitDirectory)
{
    mamaBridge bridge = nullptr;
    EXPECT_EQ(MAMA_STATUS_NO_BRIDGE_IMPL,
              mama_loadBridgeWithPath(&bridge, "fake", "/nonexistent-dir"));
    // The fake bridges sit beside the host library.
    Dl_info info;
    ASSERT_NE(0, dladdr(reinterpret_cast<void*>(&mama_open), &info));
    std::string libDir(info.dli_fname);
    libDir.erase(libDir.rfind('/'));
    EXPECT_EQ(MAMA_STATUS_OK, mama_loadBridgeWithPath(&bridge, "fake", libDir.c_str()));
    EXPECT_EQ(1, LogCapture::count("fake: open"));
}

TEST_F(LoaderTest, LibraryProblemsAreReportedWithTheirStatus)
{
    mamaBridge bridge = nullptr;
    EXPECT_EQ(MAMA_STATUS_NO_BRIDGE_IMPL, mama_loadBridge(&bridge, "nosuchmiddleware"));
    // Every symbol must resolve when the library is opened.
    EXPECT_EQ(MAMA_STATUS_NO_BRIDGE_IMPL, mama_loadBridge(&bridge, "fakeunresolved"));
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG, mama_loadBridge(&bridge, "fakenoinit"));
    EXPECT_EQ(nullptr, bridge);
}

TEST_F(LoaderTest, MissingMandatoryFunctionFailsAfterInitWithoutOpen)
{
    mamaBridge bridge = nullptr;
    EXPECT_EQ(MAMA_STATUS_PLATFORM, mama_loadBridge(&bridge, "fakemissing"));
    EXPECT_GE(LogCapture::indexOf("fakemissing: init"), 0);
    EXPECT_EQ(-1, LogCapture::indexOf("fakemissing: open"));
    EXPECT_EQ(MAMA_STATUS_NOT_FOUND, mama_getMiddlewareBridge(&bridge, "fakemissing"));
}

TEST_F(LoaderTest, MissingOptionalFunctionsDoNotFailTheLoad)
{
    mamaBridge bridge = nullptr;
    EXPECT_EQ(MAMA_STATUS_OK, mama_loadBridge(&bridge, "fakebare"));
    EXPECT_EQ(nullptr, bridge->bridgeMamaQueueGetNativeHandle);
    EXPECT_NE(nullptr, bridge->bridgeMamaQueueDispatch);
}

class CompileVersionTest : public LoaderTest,
                           public ::testing::WithParamInterface<std::pair<const char*, mama_status>>
{
};

TEST_P(CompileVersionTest, OnlyThisMajorAndMinorAreAccepted)
{
    setenv("FAKE_BRIDGE_COMPILE_VERSION", GetParam().first, 1);
    mamaBridge bridge = nullptr;
    EXPECT_EQ(GetParam().second, mama_loadBridge(&bridge, "fake"));
    EXPECT_EQ(GetParam().second == MAMA_STATUS_OK ? 1 : 0, LogCapture::count("fake: open"));
}

INSTANTIATE_TEST_SUITE_P(Versions, CompileVersionTest,
                         ::testing::Values(std::make_pair("6.3", MAMA_STATUS_OK),
                                           std::make_pair("6.3.0rc1", MAMA_STATUS_OK),
                                           std::make_pair("", MAMA_STATUS_INVALID_ARG),
                                           std::make_pair("6.2.0", MAMA_STATUS_INVALID_ARG),
                                           std::make_pair("7.3.2", MAMA_STATUS_INVALID_ARG),
                                           std::make_pair("6.0.7", MAMA_STATUS_INVALID_ARG),
                                           std::make_pair("2.4.1", MAMA_STATUS_INVALID_ARG),
                                           std::make_pair("6", MAMA_STATUS_INVALID_ARG),
                                           std::make_pair("abc", MAMA_STATUS_INVALID_ARG),
                                           std::make_pair("none", MAMA_STATUS_INVALID_ARG)));

TEST_F(LoaderTest, InitOrOpenFailureIsReturnedAndCloseIsNotCalled)
{
    mamaBridge bridge = nullptr;
    setenv("FAKE_BRIDGE_INIT_STATUS", "18", 1);
    EXPECT_EQ(MAMA_STATUS_NOT_IMPLEMENTED, mama_loadBridge(&bridge, "fake"));
    EXPECT_EQ(-1, LogCapture::indexOf("fake: open"));

    unsetenv("FAKE_BRIDGE_INIT_STATUS");
    setenv("FAKE_BRIDGE_OPEN_STATUS", "3", 1);
    EXPECT_EQ(MAMA_STATUS_SYSTEM_ERROR, mama_loadBridge(&bridge, "fake"));
    EXPECT_EQ(1, LogCapture::count("fake: open"));
    EXPECT_EQ(-1, LogCapture::indexOf("fake: close"));
    EXPECT_EQ(MAMA_STATUS_NOT_FOUND, mama_getMiddlewareBridge(&bridge, "fake"));
}

TEST_F(LoaderTest, BadArguments)
{
    mamaBridge bridge = nullptr;
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mama_loadBridge(nullptr, "fake"));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mama_loadBridge(&bridge, nullptr));
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG, mama_loadBridge(&bridge, ""));
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG, mama_loadBridge(&bridge, std::string(200, 'x').c_str()));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mama_getMiddlewareBridge(nullptr, "fake"));
}

TEST_F(LoaderTest, BridgeObjectAccessors)
{
    mamaBridge bridge = nullptr;
    ASSERT_EQ(MAMA_STATUS_OK, mama_loadBridge(&bridge, "fake"));

    int token = 0;
    void* closure = nullptr;
    EXPECT_EQ(MAMA_STATUS_OK, mamaBridgeImpl_setClosure(bridge, &token));
    EXPECT_EQ(MAMA_STATUS_OK, mamaBridgeImpl_getClosure(bridge, &closure));
    EXPECT_EQ(&token, closure);
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG, mamaBridgeImpl_getClosure(bridge, nullptr));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaBridgeImpl_getClosure(nullptr, &closure));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaBridgeImpl_setClosure(nullptr, &token));

    // The bridge-name prefix is added once, whether or not the caller gave it.
    EXPECT_EQ(MAMA_STATUS_OK,
              mamaBridgeImpl_setReadOnlyProperty(bridge, "mama.fake.flavour", "plain"));
    EXPECT_STREQ("plain", mamaInternal_getMetaProperty("mama.fake.flavour"));
    EXPECT_STREQ("plain", mamaBridgeImpl_getMetaProperty(bridge, "flavour"));
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG,
              mamaBridgeImpl_setReadOnlyProperty(bridge, "flavour", "other"));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG,
              mamaBridgeImpl_setReadOnlyProperty(nullptr, "flavour", "other"));
    EXPECT_EQ(nullptr, mamaBridgeImpl_getMetaProperty(bridge, "unset"));

    mamaQueue queue = nullptr;
    EXPECT_EQ(MAMA_STATUS_NO_BRIDGE_IMPL, mama_getDefaultEventQueue(nullptr, &queue));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mama_getDefaultEventQueue(bridge, nullptr));
    EXPECT_EQ(MAMA_STATUS_NO_BRIDGE_IMPL, mamaImpl_setDefaultEventQueue(nullptr, queue));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaImpl_setDefaultEventQueue(bridge, nullptr));
}

TEST_F(LoaderTest, DefaultQueueTimeoutComesFromTheProperty)
{
    EXPECT_EQ(2000, mamaBridgeImpl_getDefaultQueueTimeout());
    ASSERT_EQ(MAMA_STATUS_OK, mama_setProperty("mama.defaultqueue.timeout", "150"));
    EXPECT_EQ(150, mamaBridgeImpl_getDefaultQueueTimeout());
}
} // namespace
