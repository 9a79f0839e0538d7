// The log's file handling and entry formatting, without the registry switch.
#include "DiagLog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace
{

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class DiagLogTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/diaglogXXXXXX";
        int fd = mkstemp(tmpl);
        ASSERT_GE(fd, 0);
        close(fd);
        path_ = tmpl;
        std::remove(path_.c_str());
    }
    void TearDown() override
    {
        DiagLogClose();
        std::remove(path_.c_str());
    }
    std::string path_;
};

TEST_F(DiagLogTest, BlockIsBannersAndEntriesWithCrLf)
{
    DiagLogStart(path_.c_str());
    EXPECT_EQ(g_diagLogOn, 1);
    DiagLog("\n\n>Update Start.....");
    DiagLog("\n>%s = %ld", "Count", 42L);
    DiagLogWrite(nullptr);
    DiagLogClose();
    EXPECT_EQ(g_diagLogOn, 0);
    EXPECT_EQ(slurp(path_), "---------------- Log Start\r\n"
                            "\r\n\r\n>Update Start....."
                            "\r\n>Count = 42"
                            "\r\n\r\n---------------- Log End\r\n");
}

TEST_F(DiagLogTest, BlocksAppend)
{
    DiagLogStart(path_.c_str());
    DiagLogClose();
    DiagLogStart(path_.c_str());
    DiagLogClose();
    const std::string block = "---------------- Log Start\r\n\r\n\r\n---------------- Log End\r\n";
    EXPECT_EQ(slurp(path_), block + block);
}

TEST_F(DiagLogTest, OverlongEntryIsCutAt511)
{
    DiagLogStart(path_.c_str());
    const std::string path(511, 'p');
    DiagLog("\n>Error copying file %s to %s", path.c_str(), path.c_str());
    EXPECT_EQ(std::string(g_diagLogBuf).size(), 511u);
    DiagLogClose();
    const std::string text = slurp(path_);
    EXPECT_NE(text.find("\r\n>Error copying file ppp"), std::string::npos);
}

TEST_F(DiagLogTest, OffWritesNothing)
{
    DiagLog("\n>nothing");
    DiagLogWrite("\n>nothing");
    DiagLogClose();
    EXPECT_EQ(std::fopen(path_.c_str(), "rb"), nullptr);
}

TEST_F(DiagLogTest, UnopenableFileKeepsFlagOnAndDropsEntries)
{
    DiagLogStart("/nonexistent-dir/OvUpdErr.log");
    EXPECT_EQ(g_diagLogOn, 1);
    DiagLog("\n>dropped");
    DiagLogClose();
    EXPECT_EQ(g_diagLogOn, 0);
}

} // namespace
