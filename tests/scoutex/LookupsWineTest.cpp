// The three lookup exports of Scoutex.dll and the program directory check,
// against the real registry and real directories.
#include "LibData.h"
#include "Lookups.h"
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

const std::uint64_t kTime = 0x01D5A1B2C3D4E5F6ULL;
const char kVersion[] = "FixwiseTest 1.1";

class LookupsWine : public ::testing::Test
{
protected:
    LookupsWine() : cd_(dir_.path())
    {
        makeDirs(prog_.path());
        putFile(prog_ / "scan.exe", kTime);
    }
    void SetUp() override
    {
        ASSERT_TRUE(lib_);
        installed_ = findExport<FindOVPixoraAppInstalledFn>(lib_.get(), "FindOVPixoraAppInstalled");
        toolkit_ = findExport<FindOVVEXInstalledFn>(lib_.get(), "FindOVVEXInstalled");
        path_ = findExport<FindOVPxoraSWPathFn>(lib_.get(), "FindOVPxoraSWPath");
        ASSERT_TRUE(installed_ && toolkit_ && path_);
    }

    static std::string at(const std::string& sub) { return std::string(kTestRoot) + "\\" + sub; }

    // A release section that is installed when the key Installed exists,
    // with its program directory in the value Dir of the key Paths.
    static std::string section(const std::string& key, const std::string& version)
    {
        std::string s = "[" + key + "]\nInstallKey=HKLM," + at("Installed") + "\nProgramDir=HKLM," +
                        at("Paths") + ",Dir\n";
        if (!version.empty())
            s += "VEXVersion=\"" + version + "\"\n";
        return s;
    }
    void catalogue(const std::string& text) { writeFile(dir_ / "libdata.src", text); }
    void toolkitValues(ScratchKey& key)
    {
        key.setString("VEXDir", "C:\\VEX");
        key.setString("PlugInDir", "C:\\VEX\\PlugIns");
        key.setString("OCR Path", "C:\\VEX\\ocr.dll");
        key.setDword("OCR Language", 7);
        key.setDword("Toolkit Version", 1100);
        key.setDword("Usage Count", 3);
    }

    TempDir dir_{"lookups"};
    TempDir prog_{"lookups-prog"};
    CurrentDir cd_;
    ScratchKey hklm_{HKEY_LOCAL_MACHINE, kTestRoot};
    ScratchKey toolkitKey_{HKEY_LOCAL_MACHINE, std::string(kToolkitRoot) + "\\" + kVersion};
    UniqueModule lib_{LoadLibraryA((exeDir() + "Scoutex.dll").c_str())};
    FindOVPixoraAppInstalledFn installed_ = nullptr;
    FindOVVEXInstalledFn toolkit_ = nullptr;
    FindOVPxoraSWPathFn path_ = nullptr;
};

TEST_F(LookupsWine, InstalledReleaseGetsNameVersionAndToolkit)
{
    catalogue(section("Scan Suite\\3.0\\SP1", kVersion));
    makeKey(HKEY_LOCAL_MACHINE, at("Installed"));
    toolkitValues(toolkitKey_);

    InstallRecord r{};
    ASSERT_EQ(installed_("Scan Suite\\3.0\\SP1", &r), kOk);
    EXPECT_STREQ(r.productName, "Scan Suite");
    EXPECT_STREQ(r.productVersion, "3.0\\SP1");
    EXPECT_STREQ(r.toolkitVersion, kVersion);
    EXPECT_STREQ(r.toolkitDir, "C:\\VEX");
    EXPECT_STREQ(r.pluginDir, "C:\\VEX\\PlugIns");
    EXPECT_STREQ(r.ocrPath, "C:\\VEX\\ocr.dll");
    EXPECT_EQ(r.ocrLanguage, 7u);
    EXPECT_EQ(r.toolkitBuild, 1100u);
    EXPECT_EQ(r.usageCount, 3u);
    EXPECT_STREQ(r.programDir, "");
    EXPECT_EQ(installTime(r), 0u);

    InstallRecord marked = markedRecord();
    EXPECT_EQ(installed_("Scan Suite\\3.0\\SP1", nullptr), kOk);
    EXPECT_EQ(installed_("Scan Suite\\4.0", &marked), kFailed);
    EXPECT_EQ(installed_(nullptr, &marked), kFailed);
    EXPECT_EQ(toolkit_(nullptr, &marked), kFailed);
    EXPECT_EQ(path_(nullptr, nullptr, 0, &marked), kFailed);
    EXPECT_TRUE(isMarked(marked));
}

TEST_F(LookupsWine, NotInstalledWritesNothing)
{
    catalogue(section("Scan Suite\\3.0", kVersion));
    toolkitValues(toolkitKey_);
    InstallRecord r = markedRecord();
    EXPECT_EQ(installed_("Scan Suite\\3.0", &r), kFailed);
    EXPECT_TRUE(isMarked(r));
}

TEST_F(LookupsWine, ProductKeysThatDoNotFitAreNotInstalled)
{
    const std::string name256 = std::string(256, 'n') + "\\1";
    const std::string version128 = "Scan\\" + std::string(128, 'v');
    const std::string fits = std::string(255, 'n') + "\\" + std::string(127, 'v');
    catalogue(section("NoBackslash", "") + section(name256, "") + section(version128, "") +
              section(fits, ""));
    makeKey(HKEY_LOCAL_MACHINE, at("Installed"));
    InstallRecord r = markedRecord();
    EXPECT_EQ(installed_("NoBackslash", &r), kFailed);
    EXPECT_EQ(installed_(name256.c_str(), &r), kFailed);
    EXPECT_EQ(installed_(version128.c_str(), &r), kFailed);
    EXPECT_EQ(installed_("NoBackslash", nullptr), kFailed);
    EXPECT_TRUE(isMarked(r));

    InstallRecord z{};
    ASSERT_EQ(installed_(fits.c_str(), &z), kOk);
    EXPECT_EQ(std::string(z.productName), std::string(255, 'n'));
    EXPECT_EQ(std::string(z.productVersion), std::string(127, 'v'));
}

TEST_F(LookupsWine, ToolkitWithoutEntryOrWithoutKey)
{
    catalogue(section("NoVex\\1", "") + section("NoKey\\1", "FixwiseTest missing"));
    makeKey(HKEY_LOCAL_MACHINE, at("Installed"));
    toolkitValues(toolkitKey_);

    // No "VEXVersion": installed all the same, the seven fields untouched.
    InstallRecord r{};
    EXPECT_EQ(toolkit_("NoVex\\1", &r), kFailed);
    ASSERT_EQ(installed_("NoVex\\1", &r), kOk);
    EXPECT_STREQ(r.productName, "NoVex");
    InstallRecord expected{};
    copyText(expected.productName, "NoVex");
    copyText(expected.productVersion, "1");
    EXPECT_EQ(std::memcmp(&r, &expected, sizeof r), 0);

    // A version whose key is missing: the version only.
    InstallRecord k{};
    EXPECT_EQ(toolkit_("NoKey\\1", &k), kOk);
    InstallRecord versionOnly{};
    copyText(versionOnly.toolkitVersion, "FixwiseTest missing");
    EXPECT_EQ(std::memcmp(&k, &versionOnly, sizeof k), 0);
    EXPECT_EQ(toolkit_("NoKey\\1", nullptr), kOk);
}

TEST_F(LookupsWine, ToolkitVersionOf127And128Characters)
{
    const std::string v127(127, '7');
    ScratchKey key127(HKEY_LOCAL_MACHINE, std::string(kToolkitRoot) + "\\" + v127);
    toolkitValues(key127);
    catalogue(section("Exact\\1", v127) + section("Longer\\1", v127 + "8"));

    InstallRecord r{};
    ASSERT_EQ(toolkit_("Exact\\1", &r), kOk);
    EXPECT_EQ(std::string(r.toolkitVersion), v127);
    EXPECT_STREQ(r.toolkitDir, "C:\\VEX");
    // The longer text is cut to 127 characters, and that is the key opened.
    InstallRecord l{};
    ASSERT_EQ(toolkit_("Longer\\1", &l), kOk);
    EXPECT_EQ(std::string(l.toolkitVersion), v127);
    EXPECT_EQ(l.usageCount, 3u);
}

TEST_F(LookupsWine, ToolkitValuesThatCannotBeReadLeaveTheirFields)
{
    catalogue(section("Scan\\1", kVersion));
    toolkitKey_.setString("VEXDir", std::string(600, 'd'));
    toolkitKey_.setString("PlugInDir", std::string(510, 'p'));
    toolkitKey_.setRaw("Usage Count", REG_QWORD, std::string(8, '\1'));
    toolkitKey_.setRaw("OCR Language", REG_BINARY, std::string("\x09", 1));

    InstallRecord r = markedRecord(0);
    std::memset(r.toolkitDir, 'x', sizeof r.toolkitDir - 1);
    r.usageCount = 42;
    ASSERT_EQ(toolkit_("Scan\\1", &r), kOk);
    EXPECT_EQ(std::string(r.toolkitDir), std::string(511, 'x'));
    EXPECT_EQ(std::string(r.pluginDir), std::string(510, 'p'));
    EXPECT_STREQ(r.ocrPath, "");
    EXPECT_EQ(r.ocrLanguage, 9u);
    EXPECT_EQ(r.toolkitBuild, 0u);
    EXPECT_EQ(r.usageCount, 42u);
}

TEST_F(LookupsWine, ProgramDirectoryAndInstallTime)
{
    catalogue(section("Scan\\1", ""));
    InstallRecord r{};
    EXPECT_EQ(path_("Scan\\1", nullptr, 0, &r), kFailed); // no value yet

    hklm_.setString("Dir", prog_.path(), "Paths");
    char unused[4] = "abc";
    ASSERT_EQ(path_("Scan\\1", unused, sizeof unused, &r), kOk);
    EXPECT_STREQ(unused, "abc");
    EXPECT_EQ(std::string(r.programDir), prog_.path());
    EXPECT_EQ(installTime(r), kTime);
    InstallRecord expected{};
    copyText(expected.programDir, prog_.path().c_str());
    expected.installTimeLow = static_cast<std::uint32_t>(kTime);
    expected.installTimeHigh = static_cast<std::uint32_t>(kTime >> 32);
    EXPECT_EQ(std::memcmp(&r, &expected, sizeof r), 0);

    for (const char* guide : {"handbook.pdf", "HANDBOOK.PDF", "HandBook.Pdf"}) {
        hklm_.setString("Dir", prog_ / guide, "Paths");
        InstallRecord h{};
        ASSERT_EQ(path_("Scan\\1", nullptr, 0, &h), kOk) << guide;
        EXPECT_EQ(std::string(h.programDir), prog_.path() + "\\") << guide;
        EXPECT_EQ(installTime(h), kTime) << guide;
    }
    EXPECT_EQ(path_("Scan\\1", nullptr, 0, nullptr), kOk);

    // Any other file is kept whole and cannot be listed.
    hklm_.setString("Dir", prog_ / "scan.exe", "Paths");
    InstallRecord f{};
    EXPECT_EQ(path_("Scan\\1", nullptr, 0, &f), kNotOnDisk);
    EXPECT_EQ(std::string(f.programDir), prog_ / "scan.exe");
    EXPECT_EQ(installTime(f), 0u);
}

TEST_F(LookupsWine, ProgramDirectoryFaults)
{
    catalogue(section("Scan\\1", ""));
    InstallRecord r = markedRecord();
    hklm_.setString("Dir", "NoBackslash", "Paths");
    EXPECT_EQ(path_("Scan\\1", nullptr, 0, &r), kMalformed);
    EXPECT_TRUE(isMarked(r));

    // An empty directory lists only its own and its parent's entries; the
    // directory is written all the same.
    TempDir empty("lookups-empty");
    hklm_.setString("Dir", empty.path(), "Paths");
    InstallRecord e{};
    EXPECT_EQ(path_("Scan\\1", nullptr, 0, &e), kNotOnDisk);
    EXPECT_EQ(std::string(e.programDir), empty.path());
    EXPECT_EQ(installTime(e), 0u);
    EXPECT_EQ(path_("Scan\\1", nullptr, 0, nullptr), kNotOnDisk);

    hklm_.setString("Dir", empty / "missing", "Paths");
    EXPECT_EQ(path_("Scan\\1", nullptr, 0, nullptr), kNotOnDisk);

    // 510 characters are read and stored, but the pattern cannot be formed;
    // 511 cannot be read.
    const std::string long510 = "C:\\" + std::string(507, 'd');
    hklm_.setString("Dir", long510, "Paths");
    InstallRecord l{};
    EXPECT_EQ(path_("Scan\\1", nullptr, 0, &l), kNotOnDisk);
    EXPECT_EQ(std::string(l.programDir), long510);
    hklm_.setString("Dir", long510 + "d", "Paths");
    EXPECT_EQ(path_("Scan\\1", nullptr, 0, &l), kFailed);
}

TEST(CheckProgramDirWine, PatternIsBoundAndTheOutputCut)
{
    TempDir prog("checkdir");
    putFile(prog / "a.txt", kTime);
    char out[12];
    std::memset(out, 'q', sizeof out);
    InstallRecord r{};
    ASSERT_EQ(CheckProgramDir(prog.path().c_str(), out, 8, &r), kOk);
    EXPECT_EQ(std::string(out), prog.path().substr(0, 7));
    EXPECT_EQ(out[8], 'q');
    EXPECT_EQ(installTime(r), kTime);
    EXPECT_EQ(CheckProgramDir(prog.path().c_str(), nullptr, 0, nullptr), kOk);

    // A value of 511 characters, and one whose pattern just does not fit.
    char dir[512];
    std::memset(dir, 'q', sizeof dir);
    const std::string v511 = "C:\\" + std::string(508, 'd');
    EXPECT_EQ(CheckProgramDir(v511.c_str(), dir, 511, nullptr), kNotOnDisk);
    EXPECT_EQ(std::string(dir), v511.substr(0, 510));
    EXPECT_EQ(dir[511], 'q');
    EXPECT_EQ(CheckProgramDir(("C:\\" + std::string(505, 'd')).c_str(), nullptr, 0, nullptr),
              kNotOnDisk);
    EXPECT_EQ(
        CheckProgramDir((std::string(509, 'd') + "\\handbook.pdf").c_str(), nullptr, 0, nullptr),
        kNotOnDisk);
}

} // namespace
