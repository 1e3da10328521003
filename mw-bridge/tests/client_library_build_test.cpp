/* Tests run against the test builds of the client library and of the bridge.
 * The bridge, which the host opens at run time by its file name, must be the
 * copy the test linked, and it must bind to the client library the test
 * linked: otherwise a test would read or steer a copy the host does not
 * drive. */
#include <dlfcn.h>

#include <fstream>
#include <set>
#include <string>

#include <corvexClient.h>
#include <corvexClientTest.h>

#include "bridgeTest.h"
#include "corvexBridge.h"

namespace
{
const char* const CLIENT_LIBRARY = "/libcorvexclient.so";
const char* const BRIDGE_LIBRARY = "/libmamacorveximpl.so";
const char* const TEST_BUILD_DIRECTORY = "/testing/";

std::string mappedFileOf(const void* address)
{
    Dl_info info;
    return dladdr(address, &info) != 0 && info.dli_fname != nullptr ? info.dli_fname : "";
}

std::set<std::string> mappedFilesNamed(const char* name)
{
    std::set<std::string> files;
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
    {
        const size_t path = line.find('/');
        if (path != std::string::npos && line.find(name, path) != std::string::npos)
            files.insert(line.substr(path));
    }
    return files;
}
} // namespace

TEST_F(BridgeTest, BridgeBindsToTheTestBuildOfTheClientLibraryTheTestLoaded)
{
    void* bridge = dlopen("libmamacorveximpl.so", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(nullptr, bridge);
    void* bound = dlsym(bridge, "corvexClient_msg_getDestination");
    dlclose(bridge);
    ASSERT_NE(nullptr, bound);
    EXPECT_EQ(reinterpret_cast<void*>(&corvexClient_msg_getDestination), bound);
    EXPECT_EQ(reinterpret_cast<void*>(&corvexClientTest_failNext),
              dlsym(RTLD_DEFAULT, "corvexClientTest_failNext"));

    const std::string file = mappedFileOf(bound);
    EXPECT_NE(std::string::npos, file.find(TEST_BUILD_DIRECTORY)) << file;
    const std::set<std::string> mapped = mappedFilesNamed(CLIENT_LIBRARY);
    ASSERT_EQ(1u, mapped.size()) << ::testing::PrintToString(mapped);
    EXPECT_NE(std::string::npos, mapped.begin()->find(TEST_BUILD_DIRECTORY)) << *mapped.begin();
}

TEST_F(BridgeTest, TheHostOpensTheCopyOfTheBridgeTheTestLinked)
{
    void* bridge = dlopen("libmamacorveximpl.so", RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(nullptr, bridge);
    void* entryPoint = dlsym(bridge, "corvexBridge_init");
    dlclose(bridge);
    ASSERT_NE(nullptr, entryPoint);
    EXPECT_EQ(mappedFileOf(entryPoint),
              mappedFileOf(reinterpret_cast<void*>(&corvexBridge_getBridge)));

    const std::set<std::string> mapped = mappedFilesNamed(BRIDGE_LIBRARY);
    ASSERT_EQ(1u, mapped.size()) << ::testing::PrintToString(mapped);
    EXPECT_NE(std::string::npos, mapped.begin()->find(TEST_BUILD_DIRECTORY)) << *mapped.begin();
    // The state the host set up when it loaded the bridge is the state the
    // linked functions see.
    CorvexBridge* state = nullptr;
    EXPECT_EQ(MAMA_STATUS_OK, corvexBridge_getBridge(mBridge, &state));
    EXPECT_NE(nullptr, state);
}
