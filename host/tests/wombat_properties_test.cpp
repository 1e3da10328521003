#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include <unistd.h>

#include "wombat/property.h"
#include "wombat/strutils.h"

namespace {

// A private directory under /tmp, removed with its files afterwards.
class TempDir
{
public:
    TempDir ()
    {
        char name[] = "/tmp/wombat_props_XXXXXX";
        mPath = mkdtemp (name) != nullptr ? name : "";
    }

    ~TempDir ()
    {
        for (const std::string& file : mFiles)
            std::remove (file.c_str ());
        rmdir (mPath.c_str ());
    }

    const std::string& path () const { return mPath; }

    void write (const std::string& fileName, const std::string& text)
    {
        const std::string full = mPath + "/" + fileName;
        std::FILE* f = std::fopen (full.c_str (), "w");
        ASSERT_NE (nullptr, f);
        std::fwrite (text.data (), 1, text.size (), f);
        std::fclose (f);
        mFiles.push_back (full);
    }

private:
    std::string mPath;
    std::vector<std::string> mFiles;
};

struct PropertiesFixture : ::testing::Test
{
    TempDir mDir;
    wproperty_t mProps = nullptr;

    void load (const std::string& text)
    {
        mDir.write ("mama.properties", text);
        mProps = properties_Load (mDir.path ().c_str (), "mama.properties");
        ASSERT_NE (nullptr, mProps);
    }

    void TearDown () override { properties_Free (mProps); }

    std::string get (const char* name)
    {
        const char* value = properties_Get (mProps, name);
        return value != nullptr ? value : "<null>";
    }
};

TEST_F (PropertiesFixture, CommentsOnlyInTheFirstColumn)
{
    load ("# a=1\n"
          "! b=2\n"
          "   \t\n"
          "  #c=3\n"
          "d=4\n");
    EXPECT_EQ ("<null>", get ("a"));
    EXPECT_EQ ("<null>", get ("#"));
    EXPECT_EQ ("<null>", get ("!"));
    EXPECT_EQ ("3", get ("#c"));   // indented, so an ordinary key
    EXPECT_EQ ("4", get ("d"));
}

TEST_F (PropertiesFixture, SeparatorsAndWhiteSpace)
{
    load ("a=1\n"
          "b:2\n"
          "c 3\n"
          "  d \t= \t4\n"
          "e==5\n"
          "f = one two\tthree\n"
          "g\t:\tx:y\n");
    EXPECT_EQ ("1", get ("a"));
    EXPECT_EQ ("2", get ("b"));
    EXPECT_EQ ("3", get ("c"));
    EXPECT_EQ ("4", get ("d"));
    EXPECT_EQ ("=5", get ("e"));           // only one separator is taken
    EXPECT_EQ ("onetwothree", get ("f"));  // white space inside a value is dropped
    EXPECT_EQ ("x:y", get ("g"));
}

TEST_F (PropertiesFixture, LineEndsContinuationsAndEscapes)
{
    load ("crlf=yes\r\n"
          "joined = first\\\n"
          "      second\\\r\n"
          "\tthird\n"
          "esc = a\\tb\\\\c\\qd\\ e\n"
          "key\\:with\\=seps = v\n"
          "last=kept");
    EXPECT_EQ ("yes", get ("crlf"));
    EXPECT_EQ ("firstsecondthird", get ("joined"));
    EXPECT_EQ ("a\tb\\cqd e", get ("esc"));
    EXPECT_EQ ("v", get ("key:with=seps"));
    EXPECT_EQ ("kept", get ("last"));
}

TEST_F (PropertiesFixture, DuplicatesEmptyValuesAndCase)
{
    load ("dup=1\n"
          "dup=2\n"
          "gone=1\n"
          "gone=\n"
          "bare\n"
          "Name=upper\n"
          "name=lower\n"
          "tail=");
    EXPECT_EQ ("2", get ("dup"));
    EXPECT_EQ ("<null>", get ("gone"));
    EXPECT_EQ ("<null>", get ("bare"));
    EXPECT_EQ ("upper", get ("Name"));
    EXPECT_EQ ("lower", get ("name"));
    EXPECT_EQ ("<null>", get ("tail"));
    EXPECT_EQ ("<null>", get (""));
    EXPECT_EQ (nullptr, properties_Get (mProps, nullptr));
    EXPECT_EQ (nullptr, properties_Get (nullptr, "dup"));
}

TEST_F (PropertiesFixture, EnvironmentSubstitutionInValues)
{
    setenv ("WOMBAT_TEST_A", "alpha", 1);
    setenv ("WOMBAT_TEST_B", "beta", 1);
    unsetenv ("WOMBAT_TEST_UNSET");
    load ("paren=x$(WOMBAT_TEST_A)y$(WOMBAT_TEST_B)\n"
          "brace=${WOMBAT_TEST_B}/z\n"
          "mixed=$(WOMBAT_TEST_A)${WOMBAT_TEST_B}\n"
          "unset=a$(WOMBAT_TEST_UNSET)b$(WOMBAT_TEST_A)\n"
          "open=$(WOMBAT_TEST_A\n");
    EXPECT_EQ ("xalphaybeta", get ("paren"));
    EXPECT_EQ ("beta/z", get ("brace"));
    EXPECT_EQ ("alpha${WOMBAT_TEST_B}", get ("mixed"));   // "$(" present: only that form
    EXPECT_EQ ("a$(WOMBAT_TEST_UNSET)b$(WOMBAT_TEST_A)", get ("unset"));
    EXPECT_EQ ("$(WOMBAT_TEST_A", get ("open"));

    ASSERT_EQ (1, properties_setProperty (mProps, "set", "${WOMBAT_TEST_A}"));
    EXPECT_EQ ("alpha", get ("set"));
}

TEST (PropertiesLoad, FirstFileThatOpensIsTheOnlyOneRead)
{
    TempDir empty, first, second;
    first.write ("app.properties", "a=first\n");
    second.write ("app.properties", "a=second\nb=second\n");
    const std::string path = "\"" + empty.path () + "\"::" + first.path () + ":" + second.path ();

    wproperty_t props = properties_Load (path.c_str (), "app.properties");
    ASSERT_NE (nullptr, props);
    EXPECT_STREQ ("first", properties_Get (props, "a"));
    EXPECT_EQ (nullptr, properties_Get (props, "b"));
    properties_Free (props);

    EXPECT_EQ (nullptr, properties_Load (empty.path ().c_str (), "app.properties"));
    EXPECT_EQ (nullptr, properties_Load (empty.path ().c_str (), nullptr));
}

TEST (PropertiesLoad, WithoutAPathTheFileIsLookedUpFromTheRoot)
{
    TempDir dir;
    dir.write ("root.properties", "where=root\n");
    // "/" + "tmp/wombat_props_XXXXXX/root.properties" names the file.
    const std::string relative = dir.path ().substr (1) + "/root.properties";
    for (const char* path : {static_cast<const char*> (nullptr), ""})
    {
        wproperty_t props = properties_Load (path, relative.c_str ());
        ASSERT_NE (nullptr, props);
        EXPECT_STREQ ("root", properties_Get (props, "where"));
        properties_Free (props);
    }
}

TEST (PropertiesBoolean, OnlyTheListedTextsAreTrue)
{
    for (const char* yes : {"1", "y", "Y", "t", "T", "true", "True", "TRUE", "yes", "Yes", "YES"})
    {
        EXPECT_EQ (1, properties_GetPropertyValueAsBoolean (yes)) << yes;
        EXPECT_EQ (1, strtobool (yes)) << yes;
    }
    for (const char* no : {"", "0", "2", "on", "ON", "tRUE", "yES", "yes ", " true", "tt", "n", "false"})
        EXPECT_EQ (0, properties_GetPropertyValueAsBoolean (no)) << "'" << no << "'";
    EXPECT_EQ (0, properties_GetPropertyValueAsBoolean (nullptr));
}

TEST (PropertiesTable, SetReplaceCopyMergeAndForEach)
{
    wproperty_t props = properties_Create ();
    ASSERT_NE (nullptr, props);
    EXPECT_EQ (1, properties_setProperty (props, "a", "1"));
    EXPECT_EQ (1, properties_setProperty (props, "a", "2"));
    EXPECT_EQ (1, properties_setProperty (props, "none", nullptr));
    EXPECT_EQ (1, properties_AddString (props, "b = x y\nc:3\n"));
    EXPECT_EQ (0, properties_setProperty (props, "", "v"));
    EXPECT_EQ (0, properties_setProperty (nullptr, "k", "v"));
    EXPECT_STREQ ("2", properties_Get (props, "a"));
    EXPECT_STREQ ("xy", properties_Get (props, "b"));

    // Entries already present win when they are merged over a fresh table.
    wproperty_t fresh = properties_Create ();
    properties_setProperty (fresh, "a", "fresh");
    properties_setProperty (fresh, "d", "4");
    wproperty_t copy = properties_Copy (props);
    ASSERT_EQ (1, properties_Merge (fresh, props));
    EXPECT_STREQ ("2", properties_Get (fresh, "a"));
    EXPECT_STREQ ("4", properties_Get (fresh, "d"));
    EXPECT_EQ (nullptr, properties_Get (copy, "d"));

    struct Walk
    {
        wproperty_t mTable;
        std::map<std::string, std::string> mSeen;
    } walk{fresh, {}};
    properties_ForEach (fresh, [] (const char* name, const char* value, void* closure) {
        auto* w = static_cast<Walk*> (closure);
        w->mSeen[name] = value;
        // The table may be changed while it is walked.
        properties_setProperty (w->mTable, (std::string ("added.") + name).c_str (), value);
    }, &walk);
    EXPECT_EQ ((std::map<std::string, std::string>{{"a", "2"}, {"b", "xy"}, {"c", "3"}, {"d", "4"}}),
               walk.mSeen);
    EXPECT_STREQ ("4", properties_Get (fresh, "added.d"));

    properties_ForEach (nullptr, [] (const char*, const char*, void*) { FAIL (); }, nullptr);
    properties_Free (copy);
    properties_Free (fresh);
    properties_Free (props);
    properties_Free (nullptr);
}

} // namespace
