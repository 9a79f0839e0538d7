// The update script reader: language and product search, records, the end of
// a section, the record grammars and the reader's log entries.
#include "LineReader.h"
#include "LogCapture.h"
#include "UpdateScript.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

const char kExample[] = "[409]\n"
                        "[Scan Suite\\2.0]\n"
                        "File=%VEXDIR%\\FILTER32.DLL,size:0-1A2C0,time:1C0873E-5D3A9F00\n"
                        "File=%APPDIR%\\SCANAPP.EXE,size:0-8C000,time:1C0873E-6E1B2200\n"
                        ";creates the key and sets its default value to an empty string\n"
                        "RegKey=HKLM,Software\\Example\\Scan Suite\n"
                        "RegValue=HKLM,Software\\Example\\Scan Suite,PluginPath=\"%VEXDIR%\"\n"
                        "RegValue=HKCU,Software\\Example\\Scan Suite,Language=%LANGID%\n"
                        "RegValue=HKLM,Software\\Example\\Scan Suite,Retries=dword:3\n"
                        "\n"
                        "[407]\n"
                        "[Scan Suite\\2.0]\n"
                        "File=%VEXDIR%\\FILTER32.DLL,size:0-1A6F0,time:1C0873E-5F1C3300\n";

const char kKey[] = "Scan Suite\\2.0";

// Reads text for kKey (or key) into a fresh script; the fixture frees it.
class UpdateScriptTest : public ::testing::Test
{
protected:
    void TearDown() override { freeUpdateScript(&script_); }

    int read(const std::string& text, std::uint16_t lang = 0x409, const char* key = kKey)
    {
        text_ = text;
        LineReader reader(text_);
        return readUpdateScript(reader, key, lang, &script_);
    }
    std::vector<const FileEntry*> files() const
    {
        std::vector<const FileEntry*> v;
        for (const FileEntry& e : script_.fileList)
            v.push_back(&e);
        return v;
    }
    std::vector<const RegistryEntry*> values() const
    {
        std::vector<const RegistryEntry*> v;
        for (const RegistryEntry& e : script_.registryList)
            v.push_back(&e);
        return v;
    }
    std::vector<std::string> paths() const
    {
        std::vector<std::string> v;
        for (const FileEntry* e : files())
            v.push_back(e->path);
        return v;
    }

    UpdateScript script_;
    std::string text_;
};

TEST_F(UpdateScriptTest, ExampleGivesTheEntriesItDescribes)
{
    LogCapture log;
    ASSERT_EQ(read(kExample), 0);
    EXPECT_EQ(log.entries(), "\n>Update Data: File opened."
                             "\n>Updating Scan Suite\\2.0"
                             "\n>System Language: 409");

    auto f = files();
    ASSERT_EQ(f.size(), 2u);
    EXPECT_STREQ(f[0]->path, "%VEXDIR%\\FILTER32.DLL");
    EXPECT_EQ(f[0]->sizeHigh, 0u);
    EXPECT_EQ(f[0]->sizeLow, 0x1A2C0u);
    EXPECT_EQ(f[0]->timeHigh, 0x1C0873Eu);
    EXPECT_EQ(f[0]->timeLow, 0x5D3A9F00u);
    EXPECT_STREQ(f[1]->path, "%APPDIR%\\SCANAPP.EXE");
    EXPECT_EQ(f[1]->sizeLow, 0x8C000u);
    EXPECT_EQ(f[1]->timeLow, 0x6E1B2200u);

    auto r = values();
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0]->hive, kHiveLocalMachine);
    EXPECT_STREQ(r[0]->keyPath, "Software\\Example\\Scan Suite");
    EXPECT_STREQ(r[0]->valueName, "");
    EXPECT_STREQ(r[0]->stringData, "");
    EXPECT_EQ(r[0]->valueType, RegValueType::String);
    EXPECT_EQ(r[0]->dwordValue, kStringMarker);

    EXPECT_STREQ(r[1]->valueName, "PluginPath");
    EXPECT_STREQ(r[1]->stringData, "%VEXDIR%");
    EXPECT_EQ(r[1]->valueType, RegValueType::String);
    EXPECT_EQ(r[1]->dwordValue, kStringMarker);

    EXPECT_EQ(r[2]->hive, kHiveCurrentUser);
    EXPECT_STREQ(r[2]->valueName, "Language");
    EXPECT_STREQ(r[2]->stringData, "");
    EXPECT_EQ(r[2]->valueType, RegValueType::Dword);
    EXPECT_EQ(r[2]->dwordValue, 0x409u);

    EXPECT_STREQ(r[3]->valueName, "Retries");
    EXPECT_EQ(r[3]->valueType, RegValueType::Dword);
    EXPECT_EQ(r[3]->dwordValue, 3u);
}

TEST_F(UpdateScriptTest, OtherLanguageReadsItsOwnSection)
{
    LogCapture log;
    ASSERT_EQ(read(kExample, 0x407), 0);
    EXPECT_EQ(log.entries(), "\n>Update Data: File opened."
                             "\n>Updating Scan Suite\\2.0"
                             "\n>System Language: 407");
    auto f = files();
    ASSERT_EQ(f.size(), 1u);
    EXPECT_EQ(f[0]->sizeLow, 0x1A6F0u);
    EXPECT_TRUE(values().empty());
}

TEST_F(UpdateScriptTest, LanguageHeaderMatchesOnLowEightBits)
{
    const std::string text = "[9]\n[Scan Suite\\2.0]\nFile=A,size:0-1,time:0-2\n";
    EXPECT_EQ(read(text, 0x409), 0);
    EXPECT_EQ(paths(), std::vector<std::string>{"A"});
    freeUpdateScript(&script_);
    EXPECT_EQ(read(text, 0x809), 0);
    EXPECT_EQ(paths(), std::vector<std::string>{"A"});
    freeUpdateScript(&script_);
    EXPECT_EQ(read(text, 0x407), -1);
    EXPECT_TRUE(files().empty());
    // A product header before any language header is tried as one: "\1.9"
    // reads as a number ending in 09.
    EXPECT_EQ(read("[Scan Suite\\1.9]\n[Scan Suite\\2.0]\nFile=B,size:0-1,time:0-2\n", 0x409), 0);
    EXPECT_EQ(paths(), std::vector<std::string>{"B"});
}

TEST_F(UpdateScriptTest, MissingLanguageOrProductGivesMinusOne)
{
    EXPECT_EQ(read("[407]\n[Scan Suite\\2.0]\nFile=A,size:0-1,time:0-2\n"), -1);
    EXPECT_EQ(read("[409]\n[Scan Suite\\3.0]\nFile=A,size:0-1,time:0-2\n"), -1);
    EXPECT_EQ(read("[409]\n[scan suite\\2.0]\nFile=A,size:0-1,time:0-2\n"), -1);
    EXPECT_EQ(read(""), -1);
    EXPECT_EQ(read(kExample, 0x409, "   "), -1);
    EXPECT_EQ(read(kExample, 0x409, ""), -1);
    EXPECT_TRUE(files().empty());
    EXPECT_TRUE(values().empty());
}

TEST_F(UpdateScriptTest, ProductAfterALaterLanguageHeaderIsFound)
{
    // Comments before and between the headers are passed over.
    EXPECT_EQ(read(";top\n[409]\n;between\n[407]\n[Other\\1]\n[Scan Suite\\2.0]\n"
                   "File=A,size:0-1,time:0-2\n"),
              0);
    EXPECT_EQ(paths(), std::vector<std::string>{"A"});
}

TEST_F(UpdateScriptTest, SectionEndsAtEmptyLineHeaderOrEndOfFile)
{
    EXPECT_EQ(read("[409]\n[Scan Suite\\2.0]\nFile=A,size:0-1,time:0-2\n\n"
                   "File=B,size:0-1,time:0-2\n"),
              0);
    EXPECT_EQ(paths(), std::vector<std::string>{"A"});
    freeUpdateScript(&script_);

    // Last section without a final line feed is read completely.
    EXPECT_EQ(read("[409]\n[Scan Suite\\2.0]\r\nFile=A,size:0-1,time:0-2\r\n"
                   "File=B,size:0-1,time:0-2"),
              0);
    EXPECT_EQ(paths(), (std::vector<std::string>{"A", "B"}));
    freeUpdateScript(&script_);

    // A second section of the same name is never reached.
    EXPECT_EQ(read("[409]\n[Scan Suite\\2.0]\nFile=A,size:0-1,time:0-2\n"
                   "[Scan Suite\\2.0]\nFile=B,size:0-1,time:0-2\n"),
              0);
    EXPECT_EQ(paths(), std::vector<std::string>{"A"});
    freeUpdateScript(&script_);

    // An empty product section is read as empty.
    EXPECT_EQ(read("[409]\n[Scan Suite\\2.0]\n"), 0);
    EXPECT_TRUE(files().empty());
}

TEST_F(UpdateScriptTest, UnknownKindStopsWithMinusTen)
{
    const std::string head = "[409]\n[Scan Suite\\2.0]\nFile=A,size:0-1,time:0-2\n";
    for (const char* line : {"file=B,size:0-1,time:0-2", " File=B,size:0-1,time:0-2", "   ",
                             "REGKEY=HKLM,X", "Registry", "=x"}) {
        SCOPED_TRACE(line);
        EXPECT_EQ(read(head + line + "\nFile=C,size:0-1,time:0-2\n"), -10);
        // What was read before stays for the caller to free.
        EXPECT_EQ(paths(), std::vector<std::string>{"A"});
        freeUpdateScript(&script_);
    }
}

TEST_F(UpdateScriptTest, BadRecordsAreDroppedAndReadingGoesOn)
{
    EXPECT_EQ(read("[409]\n[Scan Suite\\2.0]\n"
                   "File=NOSIZE\n"
                   "File=\n"
                   "RegKey=HKXX,Key\n"
                   "RegValue=HKLM,Key,V=qword:1\n"
                   "File=A,size:0-1,time:0-2\n"),
              0);
    EXPECT_EQ(paths(), std::vector<std::string>{"A"});
    EXPECT_TRUE(values().empty());
}

TEST_F(UpdateScriptTest, LongRecordLines)
{
    // A record line of exactly 511 characters is read whole; the line feed
    // after it then reads as an empty line and ends the section.
    std::string tail = ",size:0-1,time:0-2";
    std::string path(511 - 5 - tail.size(), 'p');
    std::string line = "File=" + path + tail;
    ASSERT_EQ(line.size(), 511u);
    EXPECT_EQ(read("[409]\n[Scan Suite\\2.0]\n" + line + "\nFile=B,size:0-1,time:0-2\n"), 0);
    EXPECT_EQ(paths(), std::vector<std::string>{path});
    freeUpdateScript(&script_);

    // A longer line is split: its first 511 characters are one record, and
    // the remainder a line of another kind, which ends the reading with -10.
    std::string longer = "File=" + std::string(600, 'q') + tail;
    EXPECT_EQ(read("[409]\n[Scan Suite\\2.0]\n" + longer + "\n"), -10);
    EXPECT_TRUE(files().empty()); // its first piece has no "," after the path
    freeUpdateScript(&script_);

    // A string value cut at the line's 511th character.
    std::string reg = "RegValue=HKLM,K,N=\"" + std::string(600, 's');
    EXPECT_EQ(read("[409]\n[Scan Suite\\2.0]\n" + reg + "\n"), -10);
    auto r = values();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(std::string(r[0]->stringData), std::string(511 - 19, 's'));
}

TEST(ParseFileEntry, Grammar)
{
    UpdateScript s;
    EXPECT_EQ(parseFileEntry("", &s), -1);
    EXPECT_EQ(parseFileEntry("   ", &s), -1);
    EXPECT_EQ(parseFileEntry("A", &s), -10);
    EXPECT_EQ(parseFileEntry("A,Size:0-1,time:0-2", &s), -10);
    EXPECT_EQ(parseFileEntry("A,size0-1,time:0-2", &s), -10);
    EXPECT_EQ(parseFileEntry("A,size:01,time:0-2", &s), -10);
    EXPECT_EQ(parseFileEntry("A,size:0-1time:0-2", &s), -10);
    EXPECT_EQ(parseFileEntry("A,size:0-1,tim:0-2", &s), -10);
    EXPECT_EQ(parseFileEntry("A,size:0-1,time:02", &s), -10);
    EXPECT_EQ(parseFileEntry("A,size:0-1,time", &s), -10);
    EXPECT_TRUE(s.fileList.empty());

    // A trailing space counts as the digit 0: 5D3A9F000 cut to 32 bits.
    EXPECT_EQ(parseFileEntry("F,size:0-1A2C0,time:1C0873E-5D3A9F00 ", &s), 0);
    ASSERT_FALSE(s.fileList.empty());
    EXPECT_EQ(s.fileList.front().timeLow, 0xD3A9F000u);
    EXPECT_EQ(s.fileList.front().timeHigh, 0x1C0873Eu);
    // Numbers may carry 0x; empty numbers are 0.
    EXPECT_EQ(parseFileEntry("G,size:0x10-x20,time:-", &s), 0);
    ASSERT_FALSE(s.fileList.empty());
    EXPECT_STREQ(s.fileList.back().path, "G");
    EXPECT_EQ(s.fileList.back().sizeHigh, 0x10u);
    EXPECT_EQ(s.fileList.back().sizeLow, 0x20u);
    EXPECT_EQ(s.fileList.back().timeHigh, 0u);
    EXPECT_EQ(s.fileList.back().timeLow, 0u);
    freeUpdateScript(&s);
    EXPECT_TRUE(s.fileList.empty());
}

TEST(ParseRegistryEntry, Grammar)
{
    UpdateScript s;
    EXPECT_EQ(parseRegistryEntry("  ", &s, 0x409), -1);
    EXPECT_EQ(parseRegistryEntry("HKLM", &s, 0x409), -10);
    EXPECT_EQ(parseRegistryEntry("hklm,K", &s, 0x409), -10);
    EXPECT_EQ(parseRegistryEntry("HKCR,K", &s, 0x409), -10);
    EXPECT_EQ(parseRegistryEntry("HKLM,K,N=%LANGID% ", &s, 0x409), -10);
    EXPECT_EQ(parseRegistryEntry("HKLM,K,N=%VEXDIR%", &s, 0x409), -10);
    EXPECT_EQ(parseRegistryEntry("HKLM,K,N=DWORD:1", &s, 0x409), -10);
    EXPECT_EQ(parseRegistryEntry("HKLM,K,N=dword1", &s, 0x409), -10);
    EXPECT_EQ(parseRegistryEntry("HKLM,K,N=", &s, 0x409), -10);
    EXPECT_TRUE(s.registryList.empty());

    // dword:80000000 is the DWORD 0x80000000, not a string.
    EXPECT_EQ(parseRegistryEntry("HKLM,Software\\Example,Count=dword:80000000", &s, 0x409), 0);
    ASSERT_FALSE(s.registryList.empty());
    EXPECT_EQ(s.registryList.back().valueType, RegValueType::Dword);
    EXPECT_EQ(s.registryList.back().dwordValue, 0x80000000u);
    EXPECT_STREQ(s.registryList.back().stringData, "");

    // A name without "=" writes an empty string under that name.
    EXPECT_EQ(parseRegistryEntry("HKLM,K,Name", &s, 0x409), 0);
    EXPECT_STREQ(s.registryList.back().valueName, "Name");
    EXPECT_EQ(s.registryList.back().valueType, RegValueType::String);
    EXPECT_EQ(s.registryList.back().dwordValue, kStringMarker);

    // The closing quote is optional; what follows it is ignored.
    EXPECT_EQ(parseRegistryEntry("HKLM,K,N=\"abc", &s, 0x409), 0);
    EXPECT_STREQ(s.registryList.back().stringData, "abc");
    EXPECT_EQ(parseRegistryEntry("HKLM,K,N=\"a b\" tail", &s, 0x409), 0);
    EXPECT_STREQ(s.registryList.back().stringData, "a b");
    // A value name may hold "," once past the key path; the key path not.
    EXPECT_EQ(parseRegistryEntry("HKCU,K,N,M=dword:0x1F", &s, 0x407), 0);
    EXPECT_STREQ(s.registryList.back().keyPath, "K");
    EXPECT_STREQ(s.registryList.back().valueName, "N,M");
    EXPECT_EQ(s.registryList.back().dwordValue, 0x1Fu);
    EXPECT_EQ(parseRegistryEntry("HKCU,K,L=%LANGID%", &s, 0x407), 0);
    EXPECT_EQ(s.registryList.back().dwordValue, 0x407u);
    EXPECT_EQ(s.registryList.back().valueType, RegValueType::Dword);

    EXPECT_EQ(s.registryList.size(), 6u);
    freeUpdateScript(&s);
    EXPECT_TRUE(s.registryList.empty());
}

TEST(TextRoutines, ParseHex)
{
    EXPECT_EQ(parseHex(""), 0u);
    EXPECT_EQ(parseHex("0x"), 0u);
    EXPECT_EQ(parseHex("x1f"), 0x1Fu);
    EXPECT_EQ(parseHex("0xAbC"), 0xABCu);
    EXPECT_EQ(parseHex("0X1"), 0x1u); // "0X" is not skipped: X counts as 0
    EXPECT_EQ(parseHex("123456789"), 0x23456789u);
    EXPECT_EQ(parseHex("1g"), 0x10u);
    EXPECT_EQ(parseHex("xx1"), 0x1u);
}

TEST(ReadUpdateScriptFile, MissingFileLogsAndGivesMinusEleven)
{
    LogCapture log;
    UpdateScript s;
    EXPECT_EQ(readUpdateScriptFile("/nonexistent/Update.src", kKey, 0x409, &s), -11);
    EXPECT_EQ(log.entries(), "\n>Error opening file /nonexistent/Update.src.");
    EXPECT_TRUE(s.fileList.empty());
}

} // namespace
