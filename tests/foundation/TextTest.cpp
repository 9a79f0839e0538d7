#include "Text.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

TEST(Text, CopyCutsAtCapacityLessOneAndTerminates)
{
    char buf[8];
    std::memset(buf, 'z', sizeof buf);
    EXPECT_EQ(copyText(buf, "abcdefghij"), 7u);
    EXPECT_STREQ(buf, "abcdefg");
    EXPECT_EQ(copyText(buf, "ab"), 2u);
    EXPECT_STREQ(buf, "ab");
    EXPECT_EQ(copyText(buf, nullptr), 0u);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(copyText(buf, 0, "abc"), 0u);
    EXPECT_EQ(copyText(buf, 1, "abc"), 0u);
    EXPECT_STREQ(buf, "");
}

TEST(Text, CopyNStopsAtLengthOrCapacity)
{
    char buf[5];
    EXPECT_EQ(copyTextN(buf, sizeof buf, "abcdef", 2), 2u);
    EXPECT_STREQ(buf, "ab");
    EXPECT_EQ(copyTextN(buf, sizeof buf, "abcdef", 6), 4u);
    EXPECT_STREQ(buf, "abcd");
}

TEST(Text, AppendStaysInsideTheBuffer)
{
    char buf[6] = "abc";
    EXPECT_EQ(appendText(buf, "def"), 5u);
    EXPECT_STREQ(buf, "abcde");
    EXPECT_EQ(appendText(buf, "x"), 5u);
    EXPECT_STREQ(buf, "abcde");
}

TEST(Text, CaseIgnoredForAsciiLettersOnly)
{
    EXPECT_TRUE(equalsNoCase("Version 3.0", "vERSION 3.0"));
    EXPECT_TRUE(equalsNoCase("", ""));
    EXPECT_FALSE(equalsNoCase("3.0", "3.0 "));
    EXPECT_FALSE(equalsNoCase("3.0 ", "3.0"));
    EXPECT_FALSE(equalsNoCase("\xC4", "\xE4"));
    EXPECT_FALSE(equalsNoCase("[", "{"));
    EXPECT_TRUE(equalsNoCaseN("PLUGINS=x", 7, "plugins"));
    EXPECT_FALSE(equalsNoCaseN("PLUGIN", 6, "plugins"));
    EXPECT_FALSE(equalsNoCaseN("PLUGINS", 7, "plugin"));
}

TEST(Text, BlankMeansEmptyOrSpacesOnly)
{
    EXPECT_TRUE(isBlankText(""));
    EXPECT_TRUE(isBlankText("   "));
    EXPECT_TRUE(isBlankText(nullptr));
    EXPECT_FALSE(isBlankText(" \t "));
    EXPECT_FALSE(isBlankText(" a"));
}

TEST(Text, JoinPathPutsOneBackslashBetween)
{
    char buf[16];
    EXPECT_TRUE(joinPath(buf, "C:\\A", "b.log"));
    EXPECT_STREQ(buf, "C:\\A\\b.log");
    EXPECT_TRUE(joinPath(buf, "C:\\", "b.log"));
    EXPECT_STREQ(buf, "C:\\b.log");
    EXPECT_TRUE(joinPath(buf, "", "b.log"));
    EXPECT_STREQ(buf, "\\b.log");
    EXPECT_TRUE(joinPath(buf, "C:\\Folder", "12345"));
    EXPECT_STREQ(buf, "C:\\Folder\\12345"); // 15 characters: fits
    EXPECT_FALSE(joinPath(buf, "C:\\Folder", "123456"));
    EXPECT_STREQ(buf, "C:\\Folder\\12345"); // cut, never overrun
}

} // namespace
