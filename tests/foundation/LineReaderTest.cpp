#include "InstallRecord.h"
#include "LineReader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace
{

std::vector<std::string> readAll(LineReader& reader)
{
    std::vector<std::string> lines;
    char buf[LineReader::kBufSize];
    while (!reader.atEnd()) {
        std::size_t n = reader.readLine(buf);
        EXPECT_EQ(n, std::string(buf).size());
        lines.emplace_back(buf);
        if (lines.size() > 10000)
            break;
    }
    return lines;
}

std::vector<std::string> linesOf(const std::string& text)
{
    LineReader reader(text);
    return readAll(reader);
}

using Lines = std::vector<std::string>;

TEST(LineReader, SplitsAtLineFeedsAndDropsCarriageReturnBeforeThem)
{
    EXPECT_EQ(linesOf("a\nbb\r\nccc\n"), (Lines{"a", "bb", "ccc"}));
    EXPECT_EQ(linesOf("a\r\r\nb\rc\n"), (Lines{"a\r", "b\rc"}));
    EXPECT_EQ(linesOf("x\r"), (Lines{"x\r"}));
}

TEST(LineReader, LastLineWithoutLineFeedIsRead)
{
    EXPECT_EQ(linesOf("one\ntwo"), (Lines{"one", "two"}));
    EXPECT_EQ(linesOf("only"), (Lines{"only"}));
}

TEST(LineReader, EmptyLinesAreLinesButNothingFollowsAFinalLineFeed)
{
    EXPECT_EQ(linesOf(""), Lines{});
    EXPECT_EQ(linesOf("\n"), (Lines{""}));
    EXPECT_EQ(linesOf("a\n\n\nb\n"), (Lines{"a", "", "", "b"}));
}

TEST(LineReader, CtrlZEndsTheFile)
{
    EXPECT_EQ(linesOf("a\nb\x1A"
                      "c\nd\n"),
              (Lines{"a", "b"}));
    EXPECT_EQ(linesOf("\x1A"
                      "a\n"),
              Lines{});
}

TEST(LineReader, LongLinesComeInPiecesOf511)
{
    const std::string exact(511, 'x');
    EXPECT_EQ(linesOf(exact + "\nnext\n"), (Lines{exact, "", "next"}));
    EXPECT_EQ(linesOf(exact), (Lines{exact}));
    EXPECT_EQ(linesOf(exact + "\r\n"), (Lines{exact, ""}));

    const std::string first(511, 'a');
    const std::string rest = "[" + std::string(88, 'b');
    EXPECT_EQ(linesOf(first + rest + "\n"), (Lines{first, rest}));

    const std::string huge(511 * 2 + 3, 'h');
    EXPECT_EQ(linesOf(huge), (Lines{huge.substr(0, 511), huge.substr(511, 511), "hhh"}));
}

TEST(LineReader, ReadAtEndGivesAnEmptyLine)
{
    LineReader reader(std::string_view("a"));
    char buf[LineReader::kBufSize];
    EXPECT_EQ(reader.readLine(buf), 1u);
    EXPECT_TRUE(reader.atEnd());
    EXPECT_EQ(reader.readLine(buf), 0u);
    EXPECT_STREQ(buf, "");
}

TEST(LineReader, RewindStartsAgain)
{
    const std::string text = "a\nb\x1Ag\n";
    LineReader reader(text);
    EXPECT_EQ(readAll(reader), (Lines{"a", "b"}));
    reader.rewind();
    EXPECT_EQ(readAll(reader), (Lines{"a", "b"}));
}

TEST(LineReader, FileGivesTheSameLinesAsMemory)
{
    const std::string text = std::string(600, 'q') + "\r\n[S]\r\nlast";
    std::FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    std::fwrite(text.data(), 1, text.size(), f);
    std::rewind(f);
    LineReader fileReader(f);
    EXPECT_EQ(readAll(fileReader), linesOf(text));
    fileReader.rewind();
    EXPECT_EQ(readAll(fileReader).size(), 4u);
    std::fclose(f);
}

TEST(LineReader, MissingFileDoesNotOpen)
{
    EXPECT_EQ(openDataFile("no-such-data-file.src"), nullptr);
}

TEST(InstallRecord, TimeJoinsHighAndLowWords)
{
    InstallRecord r{};
    r.installTimeLow = 0xFFFFFFFFu;
    r.installTimeHigh = 1;
    EXPECT_EQ(installTime(r), 0x1FFFFFFFFull);
}

} // namespace
