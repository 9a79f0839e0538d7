// GetLibDataValue against the real registry, with libdata.src in the
// current directory.
#include "LibData.h"
#include "ScoutexWineSupport.h"

#include "ResultCodes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace wintest;
using namespace scoutextest;

namespace
{

class LibDataWine : public ::testing::Test
{
protected:
    LibDataWine() : cd_(dir_.path()) {}

    void catalogue(const std::string& text) { writeFile(dir_ / "libdata.src", text); }
    // The registry path of a test key.
    static std::string at(const std::string& sub) { return std::string(kTestRoot) + "\\" + sub; }

    int test(const char* key, const char* entry = "InstallKey")
    {
        return GetLibDataValue(key, entry, LookupKind::Test, ValueForm{}, nullptr, 0);
    }
    int readText(const char* key, const char* entry, std::string& out, int size = 512)
    {
        std::string buf(static_cast<std::size_t>(size) + 1, '\x7f');
        const int r =
            GetLibDataValue(key, entry, LookupKind::Read, ValueForm::String, &buf[0], size);
        EXPECT_EQ(buf[static_cast<std::size_t>(size)], '\x7f') << "written past the buffer";
        out = r == kOk ? std::string(buf.c_str()) : std::string();
        return r;
    }

    TempDir dir_{"libdata"};
    CurrentDir cd_;
    ScratchKey hklm_{HKEY_LOCAL_MACHINE, kTestRoot};
    ScratchKey hkcu_{HKEY_CURRENT_USER, kTestRoot};
};

TEST_F(LibDataWine, ExampleCatalogueWithTwoReleases)
{
    catalogue("[Scan Suite\\2.0]\r\n"
              "InstallKey=HKLM," +
              at("Scan Suite\\2.0") +
              "\r\n"
              "ProgramDir=HKLM," +
              at("Scan Suite\\2.0") +
              ",Path\r\n"
              "VEXVersion=\"1.1\"\r\n"
              "[Scan Suite\\3.0]\r\n"
              "InstallKey=HKLM," +
              at("Scan Suite") +
              ",Version=\"3.0\"\r\n"
              "VEXVersion=\"1.2\"\r\n"
              "ProgramDir=HKCU," +
              at("Scan Suite\\3.0") + ",Guide\r\n");
    EXPECT_EQ(test("Scan Suite\\2.0"), kFailed);
    EXPECT_EQ(test("Scan Suite\\3.0"), kFailed);

    hklm_.setString("Path", "C:\\Scan 2.0", "Scan Suite\\2.0");
    hklm_.setString("Version", "3.0", "Scan Suite");
    hkcu_.setString("Guide", "C:\\Scan 3.0\\handbook.pdf", "Scan Suite\\3.0");

    LogCapture log;
    EXPECT_EQ(test("Scan Suite\\2.0"), kOk);
    EXPECT_EQ(test("Scan Suite\\3.0"), kOk);
    std::string value;
    EXPECT_EQ(readText("Scan Suite\\2.0", "ProgramDir", value), kOk);
    EXPECT_EQ(value, "C:\\Scan 2.0");
    EXPECT_EQ(readText("Scan Suite\\3.0", "ProgramDir", value), kOk);
    EXPECT_EQ(value, "C:\\Scan 3.0\\handbook.pdf");
    char version[128];
    EXPECT_EQ(GetLibDataValue("Scan Suite\\3.0", "VEXVersion", LookupKind::Literal,
                              ValueForm::String, version, sizeof version),
              kOk);
    EXPECT_STREQ(version, "1.2");
    EXPECT_EQ(log.entries(), "\n>InstallKey Path: " + at("Scan Suite\\2.0") +
                                 "\n>InstallKey Key: "
                                 "\n>InstallKey Path: " +
                                 at("Scan Suite") +
                                 "\n>InstallKey Key: Version"
                                 "\n>InstallKey Key Value: 3.0"
                                 "\n>---Operation successful."
                                 "\n>ProgramDir Path: " +
                                 at("Scan Suite\\2.0") +
                                 "\n>ProgramDir Key: Path"
                                 "\n>ProgramDir Key Value: C:\\Scan 2.0"
                                 "\n>---Operation successful."
                                 "\n>ProgramDir Path: " +
                                 at("Scan Suite\\3.0") +
                                 "\n>ProgramDir Key: Guide"
                                 "\n>ProgramDir Key Value: C:\\Scan 3.0\\handbook.pdf"
                                 "\n>---Operation successful."
                                 "\n>VEXVersion = 1.2"
                                 "\n>---Operation successful.");

    // Release 3.0 counts as installed only with that version, in any case.
    hklm_.setString("Version", "3.0a", "Scan Suite");
    EXPECT_EQ(test("Scan Suite\\3.0"), kFailed);
}

TEST_F(LibDataWine, FileStructureFaults)
{
    makeKey(HKEY_LOCAL_MACHINE, at("K"));
    const std::string ref = "HKLM," + at("K");
    catalogue("[Missing\\1]\nVEXVersion=\"1\"\n[Last\\1]\nVEXVersion=\"1\"\n"
              "[Gap\\1]\nVEXVersion=\"1\"\n\nInstallKey=" +
              ref +
              "\n"
              "[Blanks\\1]\nInstallKey = " +
              ref +
              "\n"
              "[Hive\\1]\nInstallKey=hklm," +
              at("K") +
              "\n"
              "[Comma\\1]\nInstallKey=HKLM;" +
              at("K") +
              "\n"
              "[After\\1]\nInstallKey=" +
              ref +
              "\n\n"
              "[Final\\1]\nVEXVersion=\"1\"\n");
    EXPECT_EQ(test("Missing\\1"), kFailed);  // next header ends the section
    EXPECT_EQ(test("Final\\1"), kMalformed); // the end of the file does
    EXPECT_EQ(test("Gap\\1"), kMalformed);   // empty line before the entry
    EXPECT_EQ(test("Blanks\\1"), kFailed);   // not found under its name
    EXPECT_EQ(test("Hive\\1"), kMalformed);
    EXPECT_EQ(test("Comma\\1"), kMalformed);
    EXPECT_EQ(test("After\\1"), kOk); // an empty line after the entry
    EXPECT_EQ(test("Nowhere\\1"), kFailed);
}

TEST_F(LibDataWine, TestsOfKeysAndValues)
{
    makeKey(HKEY_LOCAL_MACHINE, at("Empty"));
    hklm_.setString("Name", "Scan Suite Pro", "Values");
    hklm_.setDword("Count", 1, "Values");
    hklm_.setString("", "default", "Values");
    hkcu_.setString("Name", "user", "User");
    const std::string values = "HKLM," + at("Values");
    catalogue("[KeyOnly\\1]\nInstallKey=HKLM," + at("Empty") +
              "\n"
              "[KeyMissing\\1]\nInstallKey=HKLM," +
              at("Nothing") +
              "\n"
              "[Quoted\\1]\nInstallKey=" +
              values +
              ",Name=\"sCAN sUITE pRO\"\n"
              "[QuotedDiffers\\1]\nInstallKey=" +
              values +
              ",Name=\"Scan Suite Pro \"\n"
              "[Number\\1]\nInstallKey=" +
              values +
              ",Count=1\n"
              "[NumberDiffers\\1]\nInstallKey=" +
              values +
              ",Count=2\n"
              "[NothingExpected\\1]\nInstallKey=" +
              values +
              ",Count=\n"
              "[NoExpectation\\1]\nInstallKey=" +
              values +
              ",Name\n"
              "[NoExpectationAbsent\\1]\nInstallKey=" +
              values +
              ",Absent\n"
              "[Default\\1]\nInstallKey=" +
              values +
              ",=\"DEFAULT\"\n"
              "[User\\1]\nInstallKey=HKCU," +
              at("User") + ",Name=\"User\"\n");
    EXPECT_EQ(test("KeyOnly\\1"), kOk);
    EXPECT_EQ(test("KeyMissing\\1"), kFailed);
    EXPECT_EQ(test("Quoted\\1"), kOk);
    EXPECT_EQ(test("QuotedDiffers\\1"), kFailed);
    EXPECT_EQ(test("Number\\1"), kOk);
    EXPECT_EQ(test("NumberDiffers\\1"), kFailed);
    EXPECT_EQ(test("NothingExpected\\1"), kMalformed);
    EXPECT_EQ(test("NoExpectation\\1"), kOk);
    EXPECT_EQ(test("NoExpectationAbsent\\1"), kRegistryRead);
    EXPECT_EQ(test("Default\\1"), kOk);
    EXPECT_EQ(test("User\\1"), kOk);
}

TEST_F(LibDataWine, ReadsOfTextsAndNumbers)
{
    hklm_.setString("Dir", "C:\\Program Files\\Scan", "Values");
    hklm_.setString("Long", std::string(599, 'x'), "Values");  // 600 bytes
    hklm_.setString("Limit", std::string(510, 'y'), "Values"); // 511 bytes
    hklm_.setString("Over", std::string(511, 'z'), "Values");  // 512 bytes
    hklm_.setDword("Count", 0xFFFFFFFEu, "Values");
    hklm_.setRaw("Wide", REG_QWORD, std::string(8, '\1'), "Values");
    hklm_.setRaw("Short", REG_BINARY, std::string("\x05", 1), "Values");
    const std::string values = "HKLM," + at("Values");
    catalogue("[R\\1]\nDir=" + values + ",Dir=\"ignored\"\nLong=" + values +
              ",Long\nLimit=" + values + ",Limit\nOver=" + values + ",Over\nCount=" + values +
              ",Count\nWide=" + values + ",Wide\nShort=" + values + ",Short\nAbsent=" + values +
              ",Absent\nNoKey=HKLM," + at("Nothing") + ",Dir\n");

    std::string text;
    EXPECT_EQ(readText("R\\1", "Dir", text), kOk);
    EXPECT_EQ(text, "C:\\Program Files\\Scan");
    EXPECT_EQ(readText("R\\1", "Dir", text, 8), kOk);
    EXPECT_EQ(text, "C:\\Prog");
    EXPECT_EQ(readText("R\\1", "Limit", text), kOk);
    EXPECT_EQ(text, std::string(510, 'y'));
    EXPECT_EQ(readText("R\\1", "Long", text), kRegistryRead);
    EXPECT_EQ(readText("R\\1", "Over", text), kRegistryRead);
    EXPECT_EQ(readText("R\\1", "Absent", text), kRegistryRead);
    EXPECT_EQ(readText("R\\1", "NoKey", text), kFailed);

    LogCapture log;
    std::int32_t n = 7;
    EXPECT_EQ(GetLibDataValue("R\\1", "Count", LookupKind::Read, ValueForm::Number, &n, 4), kOk);
    EXPECT_EQ(n, -2);
    n = 7;
    EXPECT_EQ(GetLibDataValue("R\\1", "Wide", LookupKind::Read, ValueForm::Number, &n, 4),
              kRegistryRead);
    EXPECT_EQ(n, 7);
    EXPECT_EQ(GetLibDataValue("R\\1", "Short", LookupKind::Read, ValueForm::Number, &n, 4), kOk);
    EXPECT_EQ(n, 5);
    EXPECT_EQ(log.entries(), "\n>Count Path: " + at("Values") +
                                 "\n>Count Key: Count"
                                 "\n>Count Key value: -2"
                                 "\n>---Operation successful."
                                 "\n>Wide Path: " +
                                 at("Values") +
                                 "\n>Wide Key: Wide"
                                 "\n>Short Path: " +
                                 at("Values") +
                                 "\n>Short Key: Short"
                                 "\n>Short Key value: 5"
                                 "\n>---Operation successful.");
}

TEST_F(LibDataWine, Literals)
{
    catalogue("[L\\1]\nOpen=\"no closing quote\nLong=\"" + std::string(200, 'v') +
              "\"\nNoDigits=abc\nEmpty=\nBare=1.1\n");
    char out[129];
    std::memset(out, 'q', sizeof out);
    EXPECT_EQ(GetLibDataValue("L\\1", "Open", LookupKind::Literal, ValueForm::String, out, 128),
              kOk);
    EXPECT_STREQ(out, "no closing quote");
    EXPECT_EQ(GetLibDataValue("L\\1", "Long", LookupKind::Literal, ValueForm::String, out, 128),
              kOk);
    EXPECT_EQ(std::string(out), std::string(127, 'v'));
    EXPECT_EQ(out[128], 'q');
    EXPECT_EQ(GetLibDataValue("L\\1", "Bare", LookupKind::Literal, ValueForm::String, out, 128),
              kFailed);
    std::int32_t n = 9;
    EXPECT_EQ(GetLibDataValue("L\\1", "NoDigits", LookupKind::Literal, ValueForm::Number, &n, 4),
              kOk);
    EXPECT_EQ(n, 0);
    n = 9;
    EXPECT_EQ(GetLibDataValue("L\\1", "Empty", LookupKind::Literal, ValueForm::Number, &n, 4),
              kFailed);
    EXPECT_EQ(n, 9);
}

TEST_F(LibDataWine, MissingCatalogueIsMinusElevenWithItsName)
{
    LogCapture log;
    char out[16] = "untouched";
    EXPECT_EQ(GetLibDataValue("A\\1", "VEXVersion", LookupKind::Literal, ValueForm::String, out,
                              sizeof out),
              kDataFileOpen);
    EXPECT_STREQ(out, "untouched");
    EXPECT_EQ(log.entries(), "\n>Error opening file libdata.src.");
}

} // namespace
