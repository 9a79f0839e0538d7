// The catalogue grammar: section and entry scan, literals, registry
// references, product keys and program directory values.
#include "LibDataGrammar.h"
#include "LogCapture.h"

#include "DiagLog.h"
#include "ResultCodes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace
{

// The example catalogue with two releases.
const char kCatalogue[] = "[Scan Suite\\2.0]\r\n"
                          "InstallKey=HKLM,Software\\Example\\Scan Suite\\2.0\r\n"
                          "ProgramDir=HKLM,Software\\Example\\Scan Suite\\2.0,Path\r\n"
                          "VEXVersion=\"1.1\"\r\n"
                          "[Scan Suite\\3.0]\r\n"
                          "InstallKey=HKLM,Software\\Example\\Scan Suite,Version=\"3.0\"\r\n"
                          "VEXVersion=\"1.2\"\r\n"
                          "ProgramDir=HKCU,Software\\Example\\Scan Suite\\3.0,Guide\r\n";

// Scans text for one entry; value is empty unless found.
int scan(const std::string& text, const char* key, const char* entry, std::string* value = nullptr)
{
    LineReader reader(text);
    SectionReader sections(reader);
    const char* found = nullptr;
    const int result = scanForEntry(sections, key, entry, found);
    if (value)
        *value = result == kOk ? found : "";
    return result;
}

TEST(LibDataScan, FindsEntriesOfTheExampleCatalogue)
{
    std::string value;
    EXPECT_EQ(scan(kCatalogue, "Scan Suite\\2.0", "InstallKey", &value), kOk);
    EXPECT_EQ(value, "HKLM,Software\\Example\\Scan Suite\\2.0");
    EXPECT_EQ(scan(kCatalogue, "Scan Suite\\2.0", "VEXVersion", &value), kOk);
    EXPECT_EQ(value, "\"1.1\"");
    EXPECT_EQ(scan(kCatalogue, "Scan Suite\\3.0", "ProgramDir", &value), kOk);
    EXPECT_EQ(value, "HKCU,Software\\Example\\Scan Suite\\3.0,Guide");
    // Keys and names compare with their letter case.
    EXPECT_EQ(scan(kCatalogue, "scan suite\\2.0", "InstallKey"), kFailed);
    EXPECT_EQ(scan(kCatalogue, "Scan Suite\\2.0", "installkey"), kFailed);
    EXPECT_EQ(scan(kCatalogue, "Scan Suite\\4.0", "InstallKey"), kFailed);
}

TEST(LibDataScan, MissingEntryIsMinusOneBeforeAHeaderAndMinusTenAtTheEnd)
{
    EXPECT_EQ(scan(kCatalogue, "Scan Suite\\2.0", "Missing"), kFailed);
    EXPECT_EQ(scan(kCatalogue, "Scan Suite\\3.0", "Missing"), kMalformed);
    EXPECT_EQ(scan("[A\\1]", "A\\1", "Missing"), kMalformed);
}

TEST(LibDataScan, EveryLineBeforeTheEntryNeedsAnEqualsSign)
{
    EXPECT_EQ(scan("[A\\1]\n\nInstallKey=x\n", "A\\1", "InstallKey"), kMalformed);
    EXPECT_EQ(scan("[A\\1]\ncomment\nInstallKey=x\n", "A\\1", "InstallKey"), kMalformed);
    // After the entry, and outside the section, such lines do not matter.
    std::string value;
    EXPECT_EQ(
        scan("junk\n[B\\1]\njunk\n[A\\1]\nInstallKey=x\n\njunk", "A\\1", "InstallKey", &value),
        kOk);
    EXPECT_EQ(value, "x");
}

TEST(LibDataScan, NameIsEverythingBeforeTheFirstEqualsSign)
{
    const std::string text = "[A\\1]\nInstallKey = x\nVEXVersion=a=b\n";
    EXPECT_EQ(scan(text, "A\\1", "InstallKey"), kMalformed);
    std::string value;
    EXPECT_EQ(scan(text, "A\\1", "InstallKey ", &value), kOk);
    EXPECT_EQ(value, " x");
    EXPECT_EQ(scan(text, "A\\1", "VEXVersion", &value), kOk);
    EXPECT_EQ(value, "a=b");
}

TEST(LibDataScan, ALaterSectionWithTheSameKeyIsSearchedToo)
{
    const std::string text = "[A\\1]\nInstallKey=first\n[A\\1]\nProgramDir=second\n[B\\1]\nX=y\n";
    std::string value;
    EXPECT_EQ(scan(text, "A\\1", "ProgramDir", &value), kOk);
    EXPECT_EQ(value, "second");
    EXPECT_EQ(scan(text, "A\\1", "InstallKey", &value), kOk);
    EXPECT_EQ(value, "first");
    // The header right after the section is looked at before reading on.
    EXPECT_EQ(scan("[A\\1]\n[A\\1]\nX=y\n", "A\\1", "X", &value), kOk);
    EXPECT_EQ(value, "y");
}

TEST(LibDataScan, HeaderKeyEndsAtTheFirstBracketOrTheLine)
{
    std::string value;
    EXPECT_EQ(scan("[A\\1] notes ]\nX=1\n", "A\\1", "X", &value), kOk);
    EXPECT_EQ(scan("[A\\1\nX=2\n", "A\\1", "X", &value), kOk);
    EXPECT_EQ(value, "2");
    EXPECT_EQ(scan("[A\\1\r\nX=3\r\n", "A\\1", "X", &value), kOk);
    EXPECT_EQ(value, "3");
}

TEST(LibDataSections, KeysInFileOrderWithLongLinesSplit)
{
    // A 600-character line is read as 511 and 89 characters; a remainder
    // that begins with "[" is a header.
    const std::string text = "no header\n[A\\1]x\nA=1\n" + std::string(511, 'x') + "[B\\2]" +
                             std::string(84, 'y') + "\n[C\\3\n" + std::string(511, 'z') +
                             "\n[D\\4]";
    LineReader reader(text);
    char key[kLibTextSize];
    std::vector<std::string> keys;
    while (nextSectionKey(reader, key))
        keys.emplace_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"A\\1", "B\\2", "C\\3", "D\\4"}));

    LineReader none("no\nheaders\n");
    EXPECT_FALSE(nextSectionKey(none, key));
    LineReader bare(" [A\\1]\n[");
    EXPECT_TRUE(nextSectionKey(bare, key));
    EXPECT_STREQ(key, "");
}

TEST(LibDataDecimal, ReadsSignAndDigitsUpToTheFirstOtherCharacter)
{
    EXPECT_EQ(readDecimal("42"), 42);
    EXPECT_EQ(readDecimal(" \t+7x"), 7);
    EXPECT_EQ(readDecimal("-17.5"), -17);
    EXPECT_EQ(readDecimal(""), 0);
    EXPECT_EQ(readDecimal("abc"), 0);
    EXPECT_EQ(readDecimal("- 1"), 0);
    EXPECT_EQ(readDecimal("2147483647"), 2147483647);
    EXPECT_EQ(readDecimal("-2147483648"), INT32_MIN);
    EXPECT_EQ(readDecimal("99999999999999999999"), INT32_MAX);
    EXPECT_EQ(readDecimal("-99999999999999999999"), INT32_MIN);
}

TEST(LibDataReference, SplitsHiveKeyPathValueNameAndExpectedContent)
{
    RegistryRef ref;
    ASSERT_EQ(parseRegistryRef("HKLM,Software\\Example\\Scan Suite\\2.0", ref), kOk);
    EXPECT_EQ(ref.hive, Hive::LocalMachine);
    EXPECT_STREQ(ref.keyPath, "Software\\Example\\Scan Suite\\2.0");
    EXPECT_FALSE(ref.hasValueName);
    EXPECT_EQ(ref.expected, Expected::None);

    ASSERT_EQ(parseRegistryRef("HKCU,Software\\Ex,Version=\"3.0\"", ref), kOk);
    EXPECT_EQ(ref.hive, Hive::CurrentUser);
    EXPECT_STREQ(ref.keyPath, "Software\\Ex");
    EXPECT_TRUE(ref.hasValueName);
    EXPECT_STREQ(ref.valueName, "Version");
    EXPECT_EQ(ref.expected, Expected::Text);
    EXPECT_STREQ(ref.expectedText, "3.0");

    ASSERT_EQ(parseRegistryRef("HKLM,K,Count= 12", ref), kOk);
    EXPECT_EQ(ref.expected, Expected::Number);
    EXPECT_EQ(ref.expectedNumber, 12);
    ASSERT_EQ(parseRegistryRef("HKLM,K,Count=x", ref), kOk);
    EXPECT_EQ(ref.expected, Expected::Number);
    EXPECT_EQ(ref.expectedNumber, 0);
    ASSERT_EQ(parseRegistryRef("HKLM,K,Name=\"open", ref), kOk);
    EXPECT_STREQ(ref.expectedText, "open");
    ASSERT_EQ(parseRegistryRef("HKLM,K,Name=", ref), kOk);
    EXPECT_EQ(ref.expected, Expected::Empty);

    // An empty value name is the key's default value.
    ASSERT_EQ(parseRegistryRef("HKLM,K,", ref), kOk);
    EXPECT_TRUE(ref.hasValueName);
    EXPECT_STREQ(ref.valueName, "");
    // The key path runs to the next ",": an "=" there belongs to it.
    ASSERT_EQ(parseRegistryRef("HKLM,K=\"1\"", ref), kOk);
    EXPECT_STREQ(ref.keyPath, "K=\"1\"");
    EXPECT_FALSE(ref.hasValueName);
    ASSERT_EQ(parseRegistryRef("HKLM,", ref), kOk);
    EXPECT_STREQ(ref.keyPath, "");
}

TEST(LibDataReference, OnlyCapitalHklmAndHkcuFollowedByAComma)
{
    RegistryRef ref;
    EXPECT_EQ(parseRegistryRef("hklm,K", ref), kMalformed);
    EXPECT_EQ(parseRegistryRef("HKCR,K", ref), kMalformed);
    EXPECT_EQ(parseRegistryRef("HKLMX,K", ref), kMalformed);
    EXPECT_EQ(parseRegistryRef("HKLM", ref), kMalformed);
    EXPECT_EQ(parseRegistryRef("HKLM K", ref), kMalformed);
    EXPECT_EQ(parseRegistryRef("", ref), kMalformed);
    EXPECT_EQ(parseRegistryRef("\"1.1\"", ref), kMalformed);
}

TEST(LibDataProductKey, SplitsAtTheFirstBackslashWhenThePartsFit)
{
    char name[256];
    char version[128];
    ASSERT_TRUE(splitProductKey("Scan Suite\\2.0", name, version));
    EXPECT_STREQ(name, "Scan Suite");
    EXPECT_STREQ(version, "2.0");
    ASSERT_TRUE(splitProductKey("A\\B\\C", name, version));
    EXPECT_STREQ(name, "A");
    EXPECT_STREQ(version, "B\\C");

    const std::string fits = std::string(255, 'n') + "\\" + std::string(127, 'v');
    ASSERT_TRUE(splitProductKey(fits.c_str(), name, version));
    EXPECT_EQ(std::string(name), std::string(255, 'n'));
    EXPECT_EQ(std::string(version), std::string(127, 'v'));

    std::memset(name, 'q', sizeof name);
    EXPECT_FALSE(splitProductKey("NoBackslash", name, version));
    EXPECT_FALSE(productKeyFits((std::string(256, 'n') + "\\1").c_str()));
    EXPECT_FALSE(productKeyFits(("A\\" + std::string(128, 'v')).c_str()));
    EXPECT_EQ(name[0], 'q');
}

TEST(LibDataProgramDir, HandbookIsCutAfterItsBackslash)
{
    char dir[kLibTextSize];
    ASSERT_EQ(trimProgramDir("C:\\Scan\\handbook.pdf", dir), kOk);
    EXPECT_STREQ(dir, "C:\\Scan\\");
    ASSERT_EQ(trimProgramDir("C:\\Scan\\HandBook.PDF", dir), kOk);
    EXPECT_STREQ(dir, "C:\\Scan\\");
    ASSERT_EQ(trimProgramDir("C:\\Scan", dir), kOk);
    EXPECT_STREQ(dir, "C:\\Scan");
    ASSERT_EQ(trimProgramDir("C:\\Scan\\guide.pdf", dir), kOk);
    EXPECT_STREQ(dir, "C:\\Scan\\guide.pdf");
    ASSERT_EQ(trimProgramDir("C:\\Scan\\handbook.pdf.bak", dir), kOk);
    EXPECT_STREQ(dir, "C:\\Scan\\handbook.pdf.bak");
    EXPECT_EQ(trimProgramDir("handbook.pdf", dir), kMalformed);
    EXPECT_EQ(trimProgramDir("", dir), kMalformed);
}

TEST(LibDataProgramDir, PatternAddsABackslashOnlyWhenNeededAndMustFit)
{
    char pattern[kLibTextSize];
    ASSERT_TRUE(buildListPattern("C:\\Scan", pattern));
    EXPECT_STREQ(pattern, "C:\\Scan\\*.*");
    ASSERT_TRUE(buildListPattern("C:\\Scan\\", pattern));
    EXPECT_STREQ(pattern, "C:\\Scan\\*.*");

    const std::string d507 = "C:\\" + std::string(504, 'd');
    ASSERT_TRUE(buildListPattern(d507.c_str(), pattern));
    EXPECT_EQ(std::string(pattern), d507 + "\\*.*");
    EXPECT_FALSE(buildListPattern((d507 + "d").c_str(), pattern));
    const std::string s508 = d507 + "\\";
    ASSERT_TRUE(buildListPattern(s508.c_str(), pattern));
    EXPECT_EQ(std::string(pattern), s508 + "*.*");
    EXPECT_FALSE(buildListPattern((s508 + "d").c_str(), pattern));
    EXPECT_FALSE(buildListPattern(std::string(511, 'd').c_str(), pattern));
}

// Literals with the log on: the exact entries.
class LibDataLiteral : public ::testing::Test
{
protected:
    std::string entries() const { return log_.entries(); }
    LogCapture log_;
};

TEST_F(LibDataLiteral, QuotedTextUpToTheClosingQuoteOrTheLineEnd)
{
    char out[128];
    ASSERT_EQ(resolveLiteral("VEXVersion", "\"1.1\" ignored", ValueForm::String, out, 128), kOk);
    EXPECT_STREQ(out, "1.1");
    ASSERT_EQ(resolveLiteral("VEXVersion", "\"2.0 beta", ValueForm::String, out, 128), kOk);
    EXPECT_STREQ(out, "2.0 beta");
    ASSERT_EQ(resolveLiteral("VEXVersion", "\"\"", ValueForm::String, out, 128), kOk);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(entries(), "\n>VEXVersion = 1.1\n>---Operation successful."
                         "\n>VEXVersion = 2.0 beta\n>---Operation successful."
                         "\n>VEXVersion = \n>---Operation successful.");
}

TEST_F(LibDataLiteral, LongTextIsCutToTheOutputSize)
{
    char out[129];
    std::memset(out, 'q', sizeof out);
    const std::string value = "\"" + std::string(200, 't') + "\"";
    ASSERT_EQ(resolveLiteral("VEXVersion", value.c_str(), ValueForm::String, out, 128), kOk);
    EXPECT_EQ(std::string(out), std::string(127, 't'));
    EXPECT_EQ(out[128], 'q');
    EXPECT_EQ(entries(),
              "\n>VEXVersion = " + std::string(127, 't') + "\n>---Operation successful.");
}

TEST_F(LibDataLiteral, TextWithoutOpeningQuoteFailsAndLeavesTheOutput)
{
    char out[16] = "untouched";
    EXPECT_EQ(resolveLiteral("VEXVersion", "1.1", ValueForm::String, out, 16), kFailed);
    EXPECT_EQ(resolveLiteral("VEXVersion", "", ValueForm::String, out, 16), kFailed);
    EXPECT_STREQ(out, "untouched");
    EXPECT_EQ(entries(), "");
}

TEST_F(LibDataLiteral, NumbersByTheirDecimalReading)
{
    std::int32_t n = 99;
    ASSERT_EQ(resolveLiteral("Count", "-42 units", ValueForm::Number, &n, 4), kOk);
    EXPECT_EQ(n, -42);
    ASSERT_EQ(resolveLiteral("Count", "none", ValueForm::Number, &n, 4), kOk);
    EXPECT_EQ(n, 0);
    n = 99;
    EXPECT_EQ(resolveLiteral("Count", "", ValueForm::Number, &n, 4), kFailed);
    EXPECT_EQ(n, 99);
    EXPECT_EQ(entries(), "\n>Count = -42\n>---Operation successful."
                         "\n>Count = 0\n>---Operation successful.");
}

} // namespace
