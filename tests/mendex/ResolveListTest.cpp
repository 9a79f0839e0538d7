// The resolve list lookup and the path comparison of the clean-up.
#include "LineReader.h"
#include "ResolveList.h"
#include "ResultCodes.h"
#include "UpdateScript.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

const char kList[] = "[Scan Suite\\2.0]\n"
                     "FILTER32.DLL=SOURCE\\LIB\\FILTER32.DLL\n"
                     ";comment=x\n"
                     "SCANAPP.EXE=SOURCE\\APP\\SCANAPP.EXE\n"
                     "SCANAPP.EXE=SECOND\\SCANAPP.EXE\n"
                     "NOSOURCE.DLL\n"
                     "EQ.DLL=a=b c \n"
                     "\n"
                     "HIDDEN.DLL=SOURCE\\HIDDEN.DLL\n"
                     "[Other\\1.0]\n"
                     "OTHER.DLL=O\\OTHER.DLL\n";

const char kKey[] = "Scan Suite\\2.0";

struct Lookup {
    int result;
    std::string source;
};
Lookup lookup(const std::string& text, const char* key, const char* name,
              std::size_t capacity = 512)
{
    LineReader reader(text);
    char out[512];
    int r = lookupResolveSource(reader, key, name, out, capacity);
    return {r, out};
}

TEST(LookupResolveSource, FindsByNameIgnoringCase)
{
    auto l = lookup(kList, kKey, "Filter32.dll");
    EXPECT_EQ(l.result, 0);
    EXPECT_EQ(l.source, "SOURCE\\LIB\\FILTER32.DLL");
    // First match wins.
    EXPECT_EQ(lookup(kList, kKey, "scanapp.exe").source, "SOURCE\\APP\\SCANAPP.EXE");
    // No "=": found, with an empty source.
    l = lookup(kList, kKey, "NOSOURCE.DLL");
    EXPECT_EQ(l.result, 0);
    EXPECT_EQ(l.source, "");
    // Everything after the first "=" as written.
    EXPECT_EQ(lookup(kList, kKey, "eq.dll").source, "a=b c ");
    EXPECT_EQ(lookup(kList, "Other\\1.0", "OTHER.DLL").source, "O\\OTHER.DLL");
}

TEST(LookupResolveSource, MissesGiveMinusOne)
{
    // Hidden behind an empty line; in another section; comments are no names.
    EXPECT_EQ(lookup(kList, kKey, "HIDDEN.DLL").result, -1);
    EXPECT_EQ(lookup(kList, kKey, "OTHER.DLL").result, -1);
    EXPECT_EQ(lookup(kList, kKey, ";comment").result, -1);
    EXPECT_EQ(lookup(kList, kKey, "FILTER32").result, -1);
    // Section name compared exactly, with case; blank key refused.
    EXPECT_EQ(lookup(kList, "scan suite\\2.0", "FILTER32.DLL").result, -1);
    EXPECT_EQ(lookup(kList, "Scan Suite", "FILTER32.DLL").result, -1);
    EXPECT_EQ(lookup(kList, "  ", "FILTER32.DLL").result, -1);
    EXPECT_EQ(lookup("", kKey, "FILTER32.DLL").result, -1);
    // The section ends at the next header.
    EXPECT_EQ(lookup("[Scan Suite\\2.0]\n[X]\nA.DLL=S\n", kKey, "A.DLL").result, -1);
    // Header without "]" names to the end of its line; last line without LF.
    EXPECT_EQ(lookup("[Scan Suite\\2.0\nA.DLL=S", kKey, "a.dll").source, "S");
}

TEST(LookupResolveSource, LongLinesAndCapacity)
{
    // A 600-character line: its source ends at the line's 511th character,
    // and the remainder is a name of its own that matches nothing.
    std::string src(600 - 6, 's');
    std::string text = std::string("[Scan Suite\\2.0]\nA.DLL=") + src + "\n";
    auto l = lookup(text, kKey, "A.DLL");
    EXPECT_EQ(l.result, 0);
    EXPECT_EQ(l.source, std::string(511 - 6, 's'));
    EXPECT_EQ(lookup(text, kKey, std::string(600 - 511, 's').c_str()).result, 0);
    // The copy stops at capacity - 1.
    l = lookup(kList, kKey, "FILTER32.DLL", 7);
    EXPECT_EQ(l.source, "SOURCE");
}

TEST(SamePathText, BackslashRunsAndCase)
{
    EXPECT_TRUE(samePathText("C:\\Apps\\\\A.DLL", "c:\\apps\\a.dll"));
    EXPECT_TRUE(samePathText("C:\\Apps\\\\\\A.DLL", "C:\\Apps\\\\A.DLL"));
    EXPECT_FALSE(samePathText("C:\\Apps\\A.DLL", "C:\\Apps\\B.DLL"));
    EXPECT_FALSE(samePathText("C:\\Apps\\A.DLL", "C:\\AppsA.DLL"));
    EXPECT_FALSE(samePathText("C:\\Apps\\A.DLL", "C:\\Apps\\A.DLL\\"));
    EXPECT_FALSE(samePathText("C:\\Apps\\A.DLL", "C:\\Apps\\Sub\\A.DLL"));
    // A UNC path's leading pair stays a pair.
    EXPECT_TRUE(samePathText("\\\\srv\\share\\A", "\\\\srv\\\\share\\a"));
    EXPECT_TRUE(samePathText("\\\\\\srv\\share\\A", "\\\\srv\\share\\A"));
    EXPECT_FALSE(samePathText("\\\\srv\\share\\A", "\\srv\\share\\A"));
    EXPECT_FALSE(samePathText(nullptr, "A"));
}

TEST(ListedPaths, AnyEntryKeepsTheFile)
{
    UpdateScript s;
    ASSERT_EQ(parseFileEntry("C:\\Kit\\A.DLL,size:0-1,time:0-2", &s), kOk);
    ASSERT_EQ(parseFileEntry("C:\\Kit\\\\B.DLL,size:0-1,time:0-2", &s), kOk);
    ASSERT_EQ(parseFileEntry("C:\\Kit\\Sub\\C.DLL,size:0-1,time:0-2", &s), kOk);
    ListedPaths listed(s.fileList);
    EXPECT_TRUE(listed.contains("C:\\Kit\\\\a.dll"));
    EXPECT_TRUE(listed.contains("C:\\Kit\\B.DLL"));
    EXPECT_FALSE(listed.contains("C:\\Kit\\C.DLL"));
    ListedPaths none({});
    EXPECT_FALSE(none.contains("C:\\Kit\\A.DLL"));
}

} // namespace
