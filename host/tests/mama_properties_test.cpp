// User properties (files and mama_setProperty) and the write-once meta properties.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "mamainternal.h"

namespace
{
class PropertiesTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        char dir[] = "/tmp/mama_props_testXXXXXX";
        ASSERT_NE(nullptr, mkdtemp(dir));
        mDir = dir;
    }
    void TearDown() override
    {
        mama_close();
        for (const std::string& file : mFiles)
        {
            unlink(file.c_str());
        }
        rmdir(mDir.c_str());
    }
    void writeFile(const std::string& name, const std::string& content)
    {
        std::string path = mDir + "/" + name;
        std::ofstream(path) << content;
        mFiles.push_back(path);
    }

    std::string mDir;
    std::vector<std::string> mFiles;
};

TEST_F(PropertiesTest, SetAndGet)
{
    EXPECT_EQ(nullptr, mama_getProperty("mama.test.absent"));
    EXPECT_NE(nullptr, mamaInternal_getProperties());
    ASSERT_EQ(MAMA_STATUS_OK, mama_setProperty("mama.test.key", "one"));
    ASSERT_EQ(MAMA_STATUS_OK, mama_setProperty("mama.test.key", "two"));
    EXPECT_STREQ("two", mama_getProperty("mama.test.key"));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mama_setProperty(nullptr, "x"));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mama_setProperty("x", nullptr));
    EXPECT_EQ(nullptr, mama_getProperty(nullptr));
}

TEST_F(PropertiesTest, FileValuesDoNotOverrideValuesAlreadySet)
{
    writeFile("app.properties", "mama.test.fromfile=file\nmama.test.both=file\n");
    ASSERT_EQ(MAMA_STATUS_OK, mama_setProperty("mama.test.both", "set"));
    ASSERT_EQ(MAMA_STATUS_OK, mama_setPropertiesFromFile(mDir.c_str(), "app.properties"));
    EXPECT_STREQ("file", mama_getProperty("mama.test.fromfile"));
    EXPECT_STREQ("set", mama_getProperty("mama.test.both"));
    // Later writes still replace.
    ASSERT_EQ(MAMA_STATUS_OK, mama_setProperty("mama.test.fromfile", "set"));
    EXPECT_STREQ("set", mama_getProperty("mama.test.fromfile"));

    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mama_setPropertiesFromFile(nullptr, "app.properties"));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mama_setPropertiesFromFile(mDir.c_str(), nullptr));
    // A missing file is not an error and keeps what is there.
    EXPECT_EQ(MAMA_STATUS_OK, mama_setPropertiesFromFile(mDir.c_str(), "missing.properties"));
    EXPECT_STREQ("set", mama_getProperty("mama.test.both"));
}

TEST_F(PropertiesTest, DefaultFileComesFromTheWombatPathDirectories)
{
    writeFile("mama.properties", "mama.test.default=found\n");
    std::string path = "/nonexistent-dir:" + mDir;
    setenv("WOMBAT_PATH", path.c_str(), 1);
    mama_loadDefaultProperties();
    EXPECT_STREQ("found", mama_getProperty("mama.test.default"));
}

TEST_F(PropertiesTest, CloseForgetsTheProperties)
{
    ASSERT_EQ(MAMA_STATUS_OK, mama_setProperty("mama.test.key", "value"));
    mama_close();
    EXPECT_EQ(nullptr, mamaInternal_getProperties());
    EXPECT_EQ(nullptr, mama_getProperty("mama.test.key"));
}

TEST(MetaPropertiesTest, WriteOnceAndSeparateFromUserProperties)
{
    mamaInternal_init();
    EXPECT_STREQ("6.3.2", mamaInternal_getMetaProperty("mama.runtime_version"));
    EXPECT_EQ(MAMA_STATUS_OK, mamaInternal_setMetaProperty("mama.test.meta", "first"));
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG, mamaInternal_setMetaProperty("mama.test.meta", "second"));
    EXPECT_STREQ("first", mamaInternal_getMetaProperty("mama.test.meta"));
    EXPECT_EQ(nullptr, mama_getProperty("mama.test.meta"));
    EXPECT_EQ(nullptr, mamaInternal_getMetaProperty("mama.test.other"));
    EXPECT_EQ(nullptr, mamaInternal_getMetaProperty(nullptr));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaInternal_setMetaProperty(nullptr, "x"));
    mama_close();
}

TEST(MetaPropertiesTest, CompileVersionRule)
{
    const std::pair<const char*, mama_status> cases[] = {
        {"6.3.2", MAMA_STATUS_OK},          {"6.3", MAMA_STATUS_OK},
        {"6.3.17-beta", MAMA_STATUS_OK},    {"6.2.1", MAMA_STATUS_INVALID_ARG},
        {"6.0.7", MAMA_STATUS_INVALID_ARG}, {"2.4.0", MAMA_STATUS_INVALID_ARG},
        {"2.3", MAMA_STATUS_INVALID_ARG},   {"6", MAMA_STATUS_INVALID_ARG},
        {"6.", MAMA_STATUS_INVALID_ARG},    {"v6.3", MAMA_STATUS_INVALID_ARG},
        {"", MAMA_STATUS_INVALID_ARG},
    };
    int index = 0;
    for (const auto& entry : cases)
    {
        std::string library = "lib" + std::to_string(index++);
        mamaInternal_setMetaProperty(("mama." + library + ".compile_version").c_str(), entry.first);
        EXPECT_EQ(entry.second, mamaInternal_checkCompileVersion(library.c_str())) << entry.first;
    }
    EXPECT_EQ(MAMA_STATUS_INVALID_ARG, mamaInternal_checkCompileVersion("neverset"));
    EXPECT_EQ(MAMA_STATUS_NULL_ARG, mamaInternal_checkCompileVersion(nullptr));
}
} // namespace
