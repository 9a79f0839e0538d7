// IsOVPixoraSWInstalled through Scoutex.dll: the found-product list lives in
// the library from its load to its unload.
#include "Scoutex.h"
#include "ScoutexWineSupport.h"

#include "ResultCodes.h"
#include "Text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace wintest;
using namespace scoutextest;

namespace
{

const std::uint64_t kTime2 = 0x01D6000000000002ULL;
const std::uint64_t kTime3 = 0x01D6000000000003ULL;

std::string at(const std::string& sub)
{
    return std::string(kTestRoot) + "\\" + sub;
}

// One load of Scoutex.dll.
class Scoutex
{
public:
    Scoutex() : lib_(LoadLibraryA((exeDir() + "Scoutex.dll").c_str()))
    {
        if (lib_)
            next_ = findExport<IsOVPixoraSWInstalledFn>(lib_.get(), "IsOVPixoraSWInstalled");
    }
    bool loaded() const { return next_ != nullptr; }
    int next(InstallRecord* r) { return next_(r); }
    void unload() { lib_.reset(); }

private:
    UniqueModule lib_;
    IsOVPixoraSWInstalledFn next_ = nullptr;
};

class EnumerationWine : public ::testing::Test
{
protected:
    EnumerationWine() : cd_(dir_.path())
    {
        putFile(prog2_ / "scan.exe", kTime2);
        putFile(prog3_ / "scan.exe", kTime3);
    }

    // A release installed when the key Installed\<name> exists, with its
    // program directory in Dirs\<name>.
    static std::string section(const std::string& header, const std::string& name)
    {
        return header + "\nInstallKey=HKLM," + at("Installed\\" + name) + "\nProgramDir=HKLM," +
               at("Dirs") + "," + name + "\n";
    }
    void install(const std::string& name, const std::string& dir)
    {
        makeKey(HKEY_LOCAL_MACHINE, at("Installed\\" + name));
        hklm_.setString(name, dir, "Dirs");
    }
    void catalogue(const std::string& text) { writeFile(dir_ / "libdata.src", text); }

    TempDir dir_{"enum"};
    TempDir prog2_{"enum-prog2"};
    TempDir prog3_{"enum-prog3"};
    CurrentDir cd_;
    ScratchKey hklm_{HKEY_LOCAL_MACHINE, kTestRoot};
};

TEST_F(EnumerationWine, OnlyTheSecondOfThreeIsInstalled)
{
    catalogue(section("[Scan Suite\\1.0]", "one") + section("[Scan Suite\\2.0]", "two") +
              section("[Scan Suite\\3.0]", "three"));
    install("two", prog2_.path());
    Scoutex lib;
    ASSERT_TRUE(lib.loaded());
    InstallRecord r = markedRecord();
    ASSERT_EQ(lib.next(&r), kOk);
    InstallRecord expected{};
    copyText(expected.productName, "Scan Suite");
    copyText(expected.productVersion, "2.0");
    copyText(expected.programDir, prog2_.path().c_str());
    expected.installTimeLow = static_cast<std::uint32_t>(kTime2);
    expected.installTimeHigh = static_cast<std::uint32_t>(kTime2 >> 32);
    EXPECT_EQ(std::memcmp(&r, &expected, sizeof r), 0);

    // No further release, until the library is loaded again; a release that
    // is installed later is found by the same load.
    EXPECT_EQ(lib.next(&r), kNoMoreProducts);
    EXPECT_EQ(lib.next(&r), kNoMoreProducts);
    install("three", prog3_.path());
    ASSERT_EQ(lib.next(&r), kOk);
    EXPECT_STREQ(r.productVersion, "3.0");
    EXPECT_EQ(lib.next(&r), kNoMoreProducts);
    EXPECT_EQ(lib.next(&r), kNoMoreProducts);
    lib.unload();

    Scoutex again;
    ASSERT_EQ(again.next(&r), kOk);
    EXPECT_STREQ(r.productVersion, "2.0");
}

TEST_F(EnumerationWine, AKeyThatHeadsTwoSectionsIsReturnedOnce)
{
    catalogue(section("[Scan Suite\\2.0]", "two") + section("[Scan Suite\\2.0]", "two"));
    install("two", prog2_.path());
    Scoutex lib;
    InstallRecord r{};
    EXPECT_EQ(lib.next(&r), kOk);
    EXPECT_EQ(lib.next(&r), kNoMoreProducts);
}

TEST_F(EnumerationWine, NullRecordAdvancesTheSameWay)
{
    catalogue(section("[Scan Suite\\2.0]", "two") + section("[Scan Suite\\2.5]", "none") +
              section("[Scan Suite\\3.0]", "three"));
    install("two", prog2_.path());
    install("three", prog3_.path());
    Scoutex lib;
    EXPECT_EQ(lib.next(nullptr), kOk);
    EXPECT_EQ(lib.next(nullptr), kOk);
    EXPECT_EQ(lib.next(nullptr), kNoMoreProducts);
    EXPECT_EQ(lib.next(nullptr), kNoMoreProducts);
}

TEST_F(EnumerationWine, HeaderLinesAndLongLines)
{
    // A header without "]", one with text after it, and one that is the
    // remainder of a 600-character line.
    catalogue("[Scan Suite\\2.0\nInstallKey=HKLM," + at("Installed\\two") + "\nProgramDir=HKLM," +
              at("Dirs") + ",two\n" + section("[Scan Suite\\3.0] (current)", "three") +
              std::string(511, '-') + section("[Late\\1]" + std::string(84, '-'), "three"));
    install("two", prog2_.path());
    install("three", prog3_.path());
    Scoutex lib;
    InstallRecord r{};
    ASSERT_EQ(lib.next(&r), kOk);
    EXPECT_STREQ(r.productName, "Scan Suite");
    EXPECT_STREQ(r.productVersion, "2.0");
    ASSERT_EQ(lib.next(&r), kOk);
    EXPECT_STREQ(r.productVersion, "3.0");
    ASSERT_EQ(lib.next(&r), kOk);
    EXPECT_STREQ(r.productName, "Late");
    EXPECT_STREQ(r.productVersion, "1");
    EXPECT_EQ(installTime(r), kTime3);
    EXPECT_EQ(lib.next(&r), kNoMoreProducts);
}

TEST_F(EnumerationWine, RejectedReleasesLeaveNothingInTheRecord)
{
    // The first passes its install test and writes its name, version,
    // toolkit version and directory, then fails on its empty directory;
    // the second has no toolkit entry.
    TempDir empty("enum-empty");
    catalogue(section("[Old Suite\\1.0]", "one") + "VEXVersion=\"FixwiseTest 9\"\n" +
              section("[Scan Suite\\2.0]", "two"));
    install("one", empty.path());
    install("two", prog2_.path());
    Scoutex lib;
    InstallRecord r{};
    ASSERT_EQ(lib.next(&r), kOk);
    InstallRecord expected{};
    copyText(expected.productName, "Scan Suite");
    copyText(expected.productVersion, "2.0");
    copyText(expected.programDir, prog2_.path().c_str());
    expected.installTimeLow = static_cast<std::uint32_t>(kTime2);
    expected.installTimeHigh = static_cast<std::uint32_t>(kTime2 >> 32);
    EXPECT_EQ(std::memcmp(&r, &expected, sizeof r), 0);
    EXPECT_EQ(lib.next(&r), kNoMoreProducts);
    EXPECT_TRUE(isZero(r));
}

TEST_F(EnumerationWine, ProductKeysThatDoNotFitArePassedOver)
{
    catalogue(section("[NoBackslash]", "two") +
              section("[" + std::string(256, 'n') + "\\1]", "two") +
              section("[Scan\\" + std::string(128, 'v') + "]", "two"));
    install("two", prog2_.path());
    Scoutex lib;
    InstallRecord r = markedRecord();
    EXPECT_EQ(lib.next(&r), kNoMoreProducts);
    EXPECT_TRUE(isZero(r));
}

TEST_F(EnumerationWine, CatalogueWithoutSectionsOrWithoutFile)
{
    Scoutex lib;
    InstallRecord r = markedRecord();
    EXPECT_EQ(lib.next(&r), kDataFileOpen);
    EXPECT_TRUE(isMarked(r));
    EXPECT_EQ(lib.next(nullptr), kDataFileOpen);
    catalogue("InstallKey=HKLM,Software\n no header\n");
    EXPECT_EQ(lib.next(&r), kNoMoreProducts);
    EXPECT_TRUE(isZero(r));
}

// A whole enumeration with the log switched on in the registry.
TEST_F(EnumerationWine, FullEnumerationLog)
{
    const std::string version = "FixwiseTest 2.1";
    ScratchKey toolkit(HKEY_LOCAL_MACHINE, std::string(kToolkitRoot) + "\\" + version);
    toolkit.setString("VEXDir", "C:\\VEX");
    ScratchKey hkcu(HKEY_CURRENT_USER, kTestRoot);
    hkcu.setString("Guide", prog3_ / "handbook.pdf", "Scan Suite\\3.0");
    hklm_.setString("Version", "3.0", "Scan Suite");
    install("two", prog2_.path());
    catalogue("[Scan Suite\\1.0]\r\n"
              "InstallKey=HKLM," +
              at("Installed\\one") + "\r\n" + "[Scan Suite\\2.0]\r\n" + "InstallKey=HKLM," +
              at("Installed\\two") + "\r\n" + "ProgramDir=HKLM," + at("Dirs") + ",two\r\n" +
              "VEXVersion=\"" + version + "\"\r\n" + "[Scan Suite\\3.0]\r\n" + "InstallKey=HKLM," +
              at("Scan Suite") + ",Version=\"3.0\"\r\n" + "VEXVersion=\"1.2\"\r\n" +
              "ProgramDir=HKCU," + at("Scan Suite\\3.0") + ",Guide\r\n");

    TempDir logDir("enum-log");
    ScratchKey logSwitch(HKEY_LOCAL_MACHINE, "Software\\Orvantis\\Diagnostic");
    logSwitch.setDword("DebugOn", 1);
    logSwitch.setString("Log Path", logDir.path());
    {
        Scoutex lib;
        InstallRecord r{};
        {
            CurrentDir elsewhere(logDir.path());
            EXPECT_EQ(lib.next(&r), kDataFileOpen);
        }
        ASSERT_EQ(lib.next(&r), kOk);
        EXPECT_STREQ(r.productVersion, "2.0");
        EXPECT_STREQ(r.toolkitDir, "C:\\VEX");
        ASSERT_EQ(lib.next(&r), kOk);
        EXPECT_STREQ(r.productVersion, "3.0");
        EXPECT_EQ(std::string(r.programDir), prog3_.path() + "\\");
        EXPECT_EQ(lib.next(&r), kNoMoreProducts);
    }
    const std::string oneMissing =
        "\n>InstallKey Path: " + at("Installed\\one") + "\n>InstallKey Key: ";
    EXPECT_EQ(readFile(logDir / "OvUpdErr.log").substr(0, 28), "---------------- Log Start\r\n");
    EXPECT_EQ(readLogEntries(logDir / "OvUpdErr.log"),
              "\n>Lib Data: Error opening file."
              "\n>Lib Data: File opened." +
                  oneMissing + "\n>InstallKey Path: " + at("Installed\\two") +
                  "\n>InstallKey Key: "
                  "\n>VEXVersion = " +
                  version +
                  "\n>---Operation successful."
                  "\n>ProgramDir Path: " +
                  at("Dirs") +
                  "\n>ProgramDir Key: two"
                  "\n>ProgramDir Key Value: " +
                  prog2_.path() +
                  "\n>---Operation successful."
                  "\n>Last Pixora App: Scan Suite\\2.0"
                  "\n>Lib Data: File opened." +
                  oneMissing + "\n>InstallKey Path: " + at("Scan Suite") +
                  "\n>InstallKey Key: Version"
                  "\n>InstallKey Key Value: 3.0"
                  "\n>---Operation successful."
                  "\n>VEXVersion = 1.2"
                  "\n>---Operation successful."
                  "\n>ProgramDir Path: " +
                  at("Scan Suite\\3.0") +
                  "\n>ProgramDir Key: Guide"
                  "\n>ProgramDir Key Value: " +
                  prog3_.path() +
                  "\\handbook.pdf"
                  "\n>---Operation successful."
                  "\n>Last Pixora App: Scan Suite\\3.0"
                  "\n>Lib Data: File opened." +
                  oneMissing);
}

} // namespace
