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

} // namespace
