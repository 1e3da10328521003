/* Tests run against the test build of the client library; the bridge, which
 * the host opens at run time and which names the library by its file name,
 * must bind to that same copy, or test control would steer a library the
 * bridge does not call. */
#include <dlfcn.h>

#include <fstream>
#include <set>
#include <string>

#include <corvexClient.h>
#include <corvexClientTest.h>

#include "bridgeTest.h"

namespace
{
const char* const CLIENT_LIBRARY = "/libcorvexclient.so";
const char* const TEST_BUILD_DIRECTORY = "/testing/";

std::string mappedFileOf(const void* address)
{
    Dl_info info;
    return dladdr(address, &info) != 0 && info.dli_fname != nullptr ? info.dli_fname : "";
}

std::set<std::string> mappedClientLibraries()
{
    std::set<std::string> files;
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
    {
        const size_t path = line.find('/');
        if (path != std::string::npos && line.find(CLIENT_LIBRARY, path) != std::string::npos)
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
    const std::set<std::string> mapped = mappedClientLibraries();
    ASSERT_EQ(1u, mapped.size()) << ::testing::PrintToString(mapped);
    EXPECT_NE(std::string::npos, mapped.begin()->find(TEST_BUILD_DIRECTORY)) << *mapped.begin();
}
