// The section reader shared by the catalogue, the update script and the
// resolve list, and the splitting of their records.
#include "SectionReader.h"
#include "Text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

std::string text(const TextPiece& piece)
{
    return std::string(piece.begin, piece.length);
}

TEST(TextPiece, RunsToTheFirstDelimiterOrTheEnd)
{
    const TextPiece key = upTo("Path=C:\\a=b", '=');
    EXPECT_EQ(text(key), "Path");
    EXPECT_TRUE(key.delimited);
    EXPECT_STREQ(key.rest(), "C:\\a=b");
    const TextPiece whole = upTo("no delimiter", '=');
    EXPECT_EQ(text(whole), "no delimiter");
    EXPECT_FALSE(whole.delimited);
    EXPECT_STREQ(whole.rest(), "");
    EXPECT_TRUE(pieceIs(upTo("File=x", '='), "File"));
    EXPECT_FALSE(pieceIs(upTo("file=x", '='), "File"));
    EXPECT_FALSE(pieceIs(upTo("Files=x", '='), "File"));
    char cut[4];
    EXPECT_EQ(copyText(cut, upTo("abcdef,g", ',')), 3u);
    EXPECT_STREQ(cut, "abc");
}

TEST(SectionReader, TellsEachLineWithHeaderNamesAndRecordPieces)
{
    LineReader lines("[A\\1] notes ]\nname=value=more\n\n;note\nno equals\n[open\n");
    SectionReader sections(lines);
    EXPECT_EQ(sections.next(), LineKind::Header);
    EXPECT_EQ(text(sections.headerName()), "A\\1");
    EXPECT_EQ(sections.next(), LineKind::Record);
    EXPECT_EQ(text(sections.recordName()), "name");
    EXPECT_STREQ(sections.recordValue(), "value=more");
    EXPECT_EQ(sections.next(), LineKind::Empty);
    EXPECT_EQ(sections.next(), LineKind::Record);
    EXPECT_STREQ(sections.line(), ";note");
    EXPECT_EQ(sections.next(), LineKind::Record);
    EXPECT_FALSE(sections.recordName().delimited);
    EXPECT_STREQ(sections.recordValue(), "");
    EXPECT_EQ(sections.next(), LineKind::Header);
    EXPECT_EQ(text(sections.headerName()), "open");
    EXPECT_EQ(sections.lineNumber(), 6u);
    // The end is an empty line after the last one.
    EXPECT_EQ(sections.next(), LineKind::End);
    EXPECT_STREQ(sections.line(), "");
    EXPECT_EQ(sections.lineNumber(), 7u);
    EXPECT_EQ(sections.next(), LineKind::End);
}

TEST(SectionReader, AHeaderThatEndsASectionIsTheNextOne)
{
    LineReader lines("x\n[A]\na=1\n[B]\nb=2\n[A]\na=3\n");
    SectionReader sections(lines);
    std::vector<std::string> values;
    while (sections.seekSection("A"))
        while (sections.next() == LineKind::Record)
            values.emplace_back(sections.recordValue());
    EXPECT_EQ(values, (std::vector<std::string>{"1", "3"}));

    LineReader again("[A]\n[B]\n[a]\n");
    SectionReader headers(again);
    EXPECT_TRUE(headers.nextHeader());
    EXPECT_TRUE(headers.nextHeader());
    EXPECT_EQ(text(headers.headerName()), "B");
    EXPECT_FALSE(headers.seekSection("A")); // letter case counts
    EXPECT_FALSE(headers.nextHeader());
}

} // namespace
