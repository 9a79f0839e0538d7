// The resolve list answered from memory against the line-by-line lookup, and
// the listed-path set of the clean-up against the one-by-one comparison.
#include "LineReader.h"
#include "LogCapture.h"
#include "ResolveList.h"
#include "UpdateScript.h"

#include "ResultCodes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

const char kKey[] = "Scan Suite\\2.0";

// The clean-up's question asked of every entry in turn: the reference that
// ListedPaths answers from one hashing of the list.
bool isListedFile(const FileList& fileList, const char* fullPath)
{
    for (const FileEntry& entry : fileList)
        if (samePathText(entry.path, fullPath))
            return true;
    return false;
}

// Texts that exercise every rule of the lookup: first match, comments, names
// without "=", sections ended by an empty line or a header, a second section
// of the same name, long lines cut in pieces, CR LF, Ctrl-Z, header without
// "]", empty names.
std::vector<std::string> texts()
{
    const std::string longSource(600 - 6, 's');
    return {
        "[Scan Suite\\2.0]\nFILTER32.DLL=SOURCE\\LIB\\FILTER32.DLL\n;comment=x\n"
        "SCANAPP.EXE=SOURCE\\APP\\SCANAPP.EXE\nscanapp.exe=SECOND\\SCANAPP.EXE\nNOSOURCE.DLL\n"
        "EQ.DLL=a=b c \n\nHIDDEN.DLL=SOURCE\\HIDDEN.DLL\n[Other\\1.0]\nOTHER.DLL=O\\OTHER.DLL\n",
        "[Scan Suite\\2.0]\n[X]\nA.DLL=S\n",
        "[Scan Suite\\2.0\nA.DLL=S",
        "[Other\\1.0]\nA.DLL=1\n[Scan Suite\\2.0]\nA.DLL=2\n[Scan Suite\\2.0]\nA.DLL=3\nB.DLL=4\n",
        "[Scan Suite\\2.0]\r\nA.DLL=S\r\nB.DLL=T\x1A\nC.DLL=U\n",
        "[Scan Suite\\2.0]\nA.DLL=" + longSource + "\nB.DLL=after\n",
        "[Scan Suite\\2.0]\n=EMPTY NAME\nA.DLL\n=SECOND\n",
        "[Scan Suite\\2.0] trailing\nA.DLL=S\n [Other\\1.0]\nB.DLL=T\n",
        "no header\nA.DLL=S\n",
        "",
    };
}

const char* const kKeys[] = {kKey, "Other\\1.0", "scan suite\\2.0", "Scan Suite", "X", "  ", ""};

const char* const kNames[] = {"FILTER32.DLL",
                              "Filter32.dll",
                              "scanapp.exe",
                              "SCANAPP.EXE",
                              "NOSOURCE.DLL",
                              "EQ.DLL",
                              "HIDDEN.DLL",
                              "OTHER.DLL",
                              ";comment",
                              "FILTER32",
                              "A.DLL",
                              "a.dll",
                              "B.DLL",
                              "C.DLL",
                              "",
                              "s",
                              " [Other\\1.0]",
                              "EQ.DLL=a"};

TEST(ResolveIndex, AgreesWithTheLineByLineLookup)
{
    const std::string longRemainder(600 - 511, 's');
    for (const std::string& text : texts()) {
        ResolveIndex index(text);
        std::vector<std::string> names(std::begin(kNames), std::end(kNames));
        names.push_back(longRemainder);
        for (const char* key : kKeys)
            for (const std::string& name : names)
                for (std::size_t capacity : {std::size_t{512}, std::size_t{7}, std::size_t{1}}) {
                    char expected[512] = "x";
                    char got[512] = "y";
                    LineReader reader(text);
                    const int want =
                        lookupResolveSource(reader, key, name.c_str(), expected, capacity);
                    EXPECT_EQ(index.lookup(key, name.c_str(), got, capacity), want)
                        << key << " / " << name << " in\n"
                        << text;
                    EXPECT_STREQ(got, expected) << key << " / " << name;
                }
    }
}

TEST(ResolveIndex, NullNameIsAnEmptyName)
{
    ResolveIndex index("[K]\n=S\n");
    char out[16];
    EXPECT_EQ(index.lookup("K", nullptr, out, sizeof out), 0);
    EXPECT_STREQ(out, "S");
}

class ResolveListFile : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NE(mkdtemp(dir_), nullptr);
        ASSERT_NE(getcwd(previous_, sizeof previous_), nullptr);
        ASSERT_EQ(chdir(dir_), 0);
    }
    void TearDown() override
    {
        std::remove("Resolve.src");
        ASSERT_EQ(chdir(previous_), 0);
        rmdir(dir_);
    }
    static void write(const char* text)
    {
        FILE* f = std::fopen("Resolve.src", "wb");
        ASSERT_NE(f, nullptr);
        std::fputs(text, f);
        std::fclose(f);
    }
    char dir_[32] = "/tmp/resolvelistXXXXXX";
    char previous_[4096];
};

TEST_F(ResolveListFile, LogsEveryLookupAsTheSingleLookupDoes)
{
    LogCapture log;
    ResolveList list;
    char out[512];
    // Missing: an error per lookup, and the list is looked for again.
    EXPECT_EQ(list.lookup(kKey, "A.DLL", out, sizeof out), kDataFileOpen);
    EXPECT_EQ(list.lookup(kKey, "A.DLL", out, sizeof out), kDataFileOpen);
    EXPECT_EQ(list.lookup("  ", "A.DLL", out, sizeof out), kFailed);
    write("[Scan Suite\\2.0]\nA.DLL=SOURCE\\A.DLL\n");
    EXPECT_EQ(list.lookup(kKey, "a.dll", out, sizeof out), 0);
    EXPECT_STREQ(out, "SOURCE\\A.DLL");
    EXPECT_EQ(list.lookup(kKey, "B.DLL", out, sizeof out), kFailed);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(list.lookup("Other\\1.0", "A.DLL", out, sizeof out), kFailed);
    EXPECT_EQ(log.entries(), "\n>Error opening file Resolve.src."
                             "\n>Error opening file Resolve.src."
                             "\n>Resolve Data: File opened."
                             "\n>Resolve Data: File opened."
                             "\n>Resolve Data: File opened.");
}

TEST_F(ResolveListFile, ReadOncePerList)
{
    write("[Scan Suite\\2.0]\nA.DLL=FIRST\n");
    ResolveList list;
    char out[512];
    EXPECT_EQ(list.lookup(kKey, "A.DLL", out, sizeof out), 0);
    write("[Scan Suite\\2.0]\nA.DLL=SECOND\nB.DLL=B\n");
    EXPECT_EQ(list.lookup(kKey, "A.DLL", out, sizeof out), 0);
    EXPECT_STREQ(out, "FIRST");
    EXPECT_EQ(list.lookup(kKey, "B.DLL", out, sizeof out), kFailed);
    // A new list (the next run) reads it again.
    ResolveList next;
    EXPECT_EQ(next.lookup(kKey, "B.DLL", out, sizeof out), 0);
    EXPECT_STREQ(out, "B");
}

TEST(ListedPaths, AgreesWithTheOneByOneComparison)
{
    const char* const listed[] = {"C:\\Kit\\A.DLL",    "C:\\Kit\\\\B.DLL", "C:\\Kit\\Sub\\C.DLL",
                                  "\\\\srv\\share\\D", "\\E.DLL",          "c:\\kit\\f.dll\\",
                                  "C:\\Kit\\\xC4.DLL"};
    const char* const probes[] = {"C:\\Kit\\\\a.dll",
                                  "C:\\Kit\\B.DLL",
                                  "C:\\Kit\\C.DLL",
                                  "C:\\KIT\\SUB\\c.dll",
                                  "\\\\srv\\\\share\\d",
                                  "\\\\\\srv\\share\\D",
                                  "\\srv\\share\\D",
                                  "\\\\E.DLL",
                                  "\\E.DLL",
                                  "E.DLL",
                                  "C:\\Kit\\F.DLL",
                                  "C:\\Kit\\F.DLL\\\\",
                                  "C:\\Kit\\\xE4.DLL",
                                  "C:\\Kit\\\xC4.dll",
                                  "C:\\Kit\\A.DLL ",
                                  ""};
    UpdateScript s;
    for (const char* path : listed) {
        std::string line = std::string(path) + ",size:0-1,time:0-2";
        ASSERT_EQ(parseFileEntry(line.c_str(), &s), 0) << path;
    }
    ListedPaths set(s.fileList);
    for (const char* probe : probes)
        EXPECT_EQ(set.contains(probe), isListedFile(s.fileList, probe)) << probe;
    EXPECT_TRUE(set.contains("c:\\KIT\\\\\\a.DLL"));
    EXPECT_FALSE(set.contains(nullptr));
    ListedPaths none({});
    EXPECT_FALSE(none.contains("C:\\Kit\\A.DLL"));
}

} // namespace
