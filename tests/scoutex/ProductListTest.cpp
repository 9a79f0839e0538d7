// The found-product list.
#include "ProductList.h"

#include "DiagLog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace
{

TEST(ProductList, RemembersKeysByteForByteUntilFreed)
{
    char tmpl[] = "/tmp/scoutexlistXXXXXX";
    int fd = mkstemp(tmpl);
    ASSERT_GE(fd, 0);
    close(fd);
    std::remove(tmpl);
    DiagLogStart(tmpl);

    EXPECT_FALSE(IsPXInLL("Scan Suite\\2.0"));
    AddLastPXToLL("Scan Suite\\2.0");
    AddLastPXToLL("Scan Suite\\3.0");
    const std::string longKey(511, 'k');
    AddLastPXToLL(longKey.c_str());
    EXPECT_TRUE(IsPXInLL("Scan Suite\\2.0"));
    EXPECT_TRUE(IsPXInLL("Scan Suite\\3.0"));
    EXPECT_TRUE(IsPXInLL(longKey.c_str()));
    EXPECT_FALSE(IsPXInLL("scan suite\\2.0"));
    EXPECT_FALSE(IsPXInLL("Scan Suite\\2"));
    EXPECT_FALSE(IsPXInLL(""));

    FreePXLL();
    EXPECT_FALSE(IsPXInLL("Scan Suite\\2.0"));
    FreePXLL();
    AddLastPXToLL("Again\\1");
    EXPECT_TRUE(IsPXInLL("Again\\1"));
    FreePXLL();

    DiagLogClose();
    std::ifstream in(tmpl, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    std::remove(tmpl);
    EXPECT_EQ(s.str(), "---------------- Log Start\r\n"
                       "\r\n>Last Pixora App: Scan Suite\\2.0"
                       "\r\n>Last Pixora App: Scan Suite\\3.0"
                       "\r\n>Last Pixora App: " +
                           std::string(492, 'k') +
                           "\r\n>Last Pixora App: Again\\1"
                           "\r\n\r\n---------------- Log End\r\n");
}

} // namespace
