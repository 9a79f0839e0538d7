// The line reader on a real Windows file: opened shared, read as text.
#include "LineReader.h"
#include "WinTestSupport.h"

#include <gtest/gtest.h>

using namespace wintest;

TEST(LineReaderWine, ReadsAFileThatAnotherHandleHoldsOpenForWriting)
{
    TempDir dir("linereader");
    CurrentDir cd(dir.path());
    writeFile(dir / "Update.src", "[9]\r\n" + std::string(511, 'a') + "\r\nlast");
    UniqueFile writer(CreateFileA((dir / "Update.src").c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
    ASSERT_TRUE(writer);

    UniqueStdFile file = openDataFile("Update.src");
    ASSERT_NE(file, nullptr);
    LineReader reader(file.get());
    char buf[LineReader::kBufSize];
    std::vector<std::string> lines;
    while (!reader.atEnd()) {
        reader.readLine(buf);
        lines.emplace_back(buf);
    }
    EXPECT_EQ(lines, (std::vector<std::string>{"[9]", std::string(511, 'a'), "", "last"}));
    EXPECT_EQ(openDataFile("Resolve.src"), nullptr);
    EXPECT_FALSE(fileExists(dir / "Resolve.src"));
}
