// RepairPixoraApp through the built library: real files, real registry,
// diagnostic log read back; VerifyPixoraApp before and after a run.
#include "MendexWineSupport.h"
#include "ResultCodes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

using namespace wintest;
using namespace mendextest;

namespace
{

const char kRegKey[] = "Software\\FixwiseTest\\UpdateRun";

class UpdateRun : public PatchedInstallation
{
protected:
    UpdateRun() : PatchedInstallation("run") {}
    ScratchKey reg_{HKEY_LOCAL_MACHINE, kRegKey};
};

TEST_F(UpdateRun, BlankProductNameDoesNothing)
{
    writeScript(source("A.DLL", "good", toolkit_ + "\\A.DLL"));
    writeResolve("A.DLL=SOURCE\\A.DLL\n");
    InstallRecord r = makeRecord(program_, toolkit_);
    std::memset(r.productName, ' ', 10);
    r.productName[10] = '\0';
    const InstallRecord before = r;
    EXPECT_EQ(run(r), kOk);
    EXPECT_FALSE(fileExists(toolkit_ + "\\A.DLL"));
    EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0);
    EXPECT_EQ(runner_.log(), "");
    std::string report = "x";
    EXPECT_EQ(verify(r, report), kOk);
    EXPECT_EQ(report, "");
}

TEST_F(UpdateRun, MissingScriptGivesMinusOneAndAnUnchangedRecord)
{
    writeResolve("A.DLL=SOURCE\\A.DLL\n");
    InstallRecord r = makeRecord(program_ + "\\", "", inst_ / "OCR.EXE");
    const InstallRecord before = r;
    EXPECT_EQ(run(r), kFailed);
    EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0);
    EXPECT_EQ(runner_.log(), "\n\n>Update Start.....\n>Error opening file Update.src.");
    std::string report;
    EXPECT_EQ(verify(r, report), kFailed);
    EXPECT_EQ(report, "");
    wintest::CurrentDir cd(patch_.path());
    EXPECT_EQ(runner_.verify(nullptr, report), kFailed);
}

TEST_F(UpdateRun, RecordOfAnotherKindChangesNothing)
{
    makeFile(toolkit_ + "\\A.DLL", "bad");
    makeFile(toolkit_ + "\\STRAY.TXT", "stray");
    writeScript(source("A.DLL", "good", "%VEXDIR%\\A.DLL") + "RegValue=HKLM," + kRegKey +
                ",Name=\"x\"\nfile=%VEXDIR%\\B.DLL\n");
    writeResolve("A.DLL=SOURCE\\A.DLL\n");
    InstallRecord r = makeRecord(program_, "");
    const InstallRecord before = r;
    EXPECT_EQ(run(r), kFailed);
    EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0);
    EXPECT_EQ(readFile(toolkit_ + "\\A.DLL"), "bad");
    EXPECT_TRUE(fileExists(toolkit_ + "\\STRAY.TXT"));
    EXPECT_FALSE(readValue(HKEY_LOCAL_MACHINE, kRegKey, "Name").ok);
}

TEST_F(UpdateRun, DerivedDirectoriesAreUsedAndWrittenBack)
{
    // programDir ...\Scanner gives ...\VEXsoft\PLUGINS12 and ...\VEXsoft\Ocr.
    makeDirs(inst_ / "VEXsoft\\Ocr");
    const std::string anchor = source("FILTER32.DLL", "filter", "%VEXDIR%\\FILTER32.DLL");
    makeFile(toolkit_ + "\\FILTER32.DLL", "filter", 0x01D0000000100000ull + 6);
    const std::string ocr = source("ENGINE.DLL", "engine", "%OCRDIR%\\ENGINE.DLL");
    makeFile(inst_ / "VEXsoft\\Ocr\\ENGINE.DLL", "engine", 0x01D0000000100000ull + 6);
    writeScript(anchor + ocr);
    writeResolve("");
    InstallRecord r = makeRecord(program_, "", inst_ / "VEXsoft"); // an existing directory
    EXPECT_EQ(run(r), kOk);
    EXPECT_STREQ(r.toolkitDir, toolkit_.c_str());
    EXPECT_STREQ(r.ocrPath, (inst_ / "VEXsoft\\Ocr").c_str());
    EXPECT_STREQ(r.pluginDir, toolkit_.c_str());
    EXPECT_EQ(r.usageCount, 7u);
    EXPECT_EQ(runner_.log(), "\n\n>Update Start....."
                             "\n>Update Data: File opened.\n>Updating Scan Suite\\2.0"
                             "\n>System Language: " +
                                 languageHeader().substr(1, languageHeader().size() - 3) +
                                 "\n\n>Formated VEX Dir: " + toolkit_ + "\n>Formated OCR Dir: " +
                                 inst_ / "VEXsoft\\Ocr" + "\n\n\n>File check done...\n");
}

TEST_F(UpdateRun, OcrPathNamingAFileIsReducedToItsDirectory)
{
    // An OCR folder of a name that no derivation gives: the run works in it,
    // and so does the check after the run (with the record as the run left
    // it), which finds nothing amiss.
    makeDirs(inst_ / "OcrHome");
    makeFile(inst_ / "OcrHome\\OCR.EXE", "ocr");
    const std::string anchor = source("FILTER32.DLL", "filter", "%VEXDIR%\\FILTER32.DLL");
    makeFile(toolkit_ + "\\FILTER32.DLL", "filter", 0x01D0000000100000ull + 6);
    const std::string entry = source("ENGINE.DLL", "engine", "%OCRDIR%\\ENGINE.DLL");
    makeFile(inst_ / "OcrHome\\ENGINE.DLL", "engine", 0x01D0000000100000ull + 6);
    writeScript(anchor + entry + "RegValue=HKLM," + kRegKey + ",OcrDir=\"%OCRDIR%\"\n");
    writeResolve("");
    InstallRecord r = makeRecord(program_, toolkit_, inst_ / "OcrHome\\OCR.EXE");
    std::strcpy(r.pluginDir, "C:\\Keep");
    EXPECT_EQ(run(r), kOk);
    EXPECT_STREQ(r.toolkitDir, toolkit_.c_str());
    EXPECT_STREQ(r.ocrPath, (inst_ / "OcrHome").c_str());
    EXPECT_STREQ(r.pluginDir, "C:\\Keep");
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, kRegKey, "OcrDir").bytes, inst_ / "OcrHome" + '\0');
    EXPECT_EQ(countOf(runner_.log(), "Formated"), 0);
    EXPECT_EQ(countOf(runner_.log(), "Restoring"), 0);
    std::string report = "x";
    EXPECT_EQ(verify(r, report), 0) << report;
    EXPECT_EQ(report, "");
}

TEST_F(UpdateRun, ProgramDirectoryWithoutBackslashLeavesTheToolkitDirectory)
{
    writeScript("File=%APPDIR%,size:0-1,time:0-1\n");
    writeResolve("");
    InstallRecord r = makeRecord("", "");
    EXPECT_EQ(run(r), kOk);
    EXPECT_STREQ(r.toolkitDir, "");
    EXPECT_STREQ(r.ocrPath, "");
    EXPECT_STREQ(r.pluginDir, "");
    EXPECT_EQ(countOf(runner_.log(), "Formated"), 0);
    EXPECT_EQ(countOf(runner_.log(), "\n>Error cleaning up file in "), 1);
    // The clean-up that cannot run is what the check finds.
    std::string report;
    EXPECT_EQ(verify(r, report), 1);
    EXPECT_EQ(report, "clean-up refused in \n");
}

TEST_F(UpdateRun, WrongFilesAreRestoredRightOnesAndBlankPathsLeftAlone)
{
    std::string script = source("A.DLL", "anchor", "%VEXDIR%\\A.DLL");
    makeFile(toolkit_ + "\\A.DLL", "anchor", 0x01D0000000100000ull + 6);
    script += source("B.DLL", "bbbb", "%VEXDIR%\\B.DLL");
    makeFile(toolkit_ + "\\B.DLL", "BBBB", 0x01D0000000100000ull + 4 + 1); // one unit later
    script += source("C.EXE", "cccc", "%APPDIR%\\C.EXE");
    makeFile(program_ + "\\C.EXE", "CCCC", 0x01D0000000100000ull + 4 + 100000000); // newer
    script += "File=%OCRDIR%?" + inst_ / "VEXsoft\\Ocr" + "?,size:0-1,time:0-1\n"; // blank
    script += source("D.DLL", "dd", "%VEXDIR%\\D.DLL");                            // missing
    writeScript(script);
    writeResolve("A.DLL=SOURCE\\A.DLL\nb.dll=SOURCE\\B.DLL\nC.EXE=SOURCE\\C.EXE\n"
                 "D.DLL=SOURCE\\D.DLL\n");
    InstallRecord r = makeRecord(program_, toolkit_);
    EXPECT_EQ(run(r), kOk);
    EXPECT_EQ(readFile(toolkit_ + "\\B.DLL"), "bbbb");
    EXPECT_EQ(readFile(program_ + "\\C.EXE"), "cccc");
    EXPECT_EQ(readFile(toolkit_ + "\\D.DLL"), "dd");
    EXPECT_EQ(stampOf(toolkit_ + "\\B.DLL").timeLow, stampOf(patch_ / "SOURCE\\B.DLL").timeLow);
    const std::string log = runner_.log();
    EXPECT_EQ(countOf(log, "\n>Restoring file "), 3);
    EXPECT_EQ(countOf(log, "\n>Restoring file " + toolkit_ + "\\A.DLL"), 0);
    EXPECT_EQ(countOf(log, "Error"), 0);
    std::string report = "x";
    EXPECT_EQ(verify(r, report), kOk);
    EXPECT_EQ(report, "");
}

TEST_F(UpdateRun, OneFailingCopyAmongSeveral)
{
    std::string script = source("A.DLL", "anchor", "%VEXDIR%\\A.DLL");
    makeFile(toolkit_ + "\\A.DLL", "anchor", 0x01D0000000100000ull + 6);
    script += source("B.DLL", "bbbb", "%VEXDIR%\\B.DLL");
    script += source("C.DLL", "cccc", "%VEXDIR%\\C.DLL");
    script += source("D.DLL", "dddd", "%VEXDIR%\\D.DLL");
    DeleteFileA((patch_ / "SOURCE\\C.DLL").c_str()); // its copy will fail
    makeFile(toolkit_ + "\\C.DLL", "old c");
    makeFile(toolkit_ + "\\STRAY.DLL", "stray");
    script += "RegValue=HKLM," + std::string(kRegKey) + ",Plugins=\"%VEXDIR%\"\n";
    writeScript(script);
    writeResolve("A.DLL=SOURCE\\A.DLL\nB.DLL=SOURCE\\B.DLL\nC.DLL=SOURCE\\C.DLL\n"
                 "D.DLL=SOURCE\\D.DLL\n");
    InstallRecord r = makeRecord(program_, toolkit_);
    // Before the run the check finds everything the run changes, and changes
    // nothing itself.
    std::string report;
    EXPECT_EQ(verify(r, report), 5);
    const std::string c = toolkit_ + "\\C.DLL";
    const Stamp old = stampOf(c);
    const std::string wrongC = "file " + c + ": expected size 4 time " +
                               std::to_string(0x01D0000000100000ull + 4) + ", found size 5 time " +
                               std::to_string(std::uint64_t{old.timeHigh} << 32 | old.timeLow) +
                               "\n";
    EXPECT_EQ(report, "file " + toolkit_ + "\\B.DLL: missing\n" + wrongC + "file " + toolkit_ +
                          "\\D.DLL: missing\nunlisted file " + toolkit_ +
                          "\\STRAY.DLL\nregistry HKLM\\" + kRegKey + "\\Plugins: differs\n");
    EXPECT_EQ(listDir(toolkit_), (std::vector<std::string>{"A.DLL", "C.DLL", "STRAY.DLL"}));
    EXPECT_FALSE(readValue(HKEY_LOCAL_MACHINE, kRegKey, "Plugins").ok);
    EXPECT_EQ(run(r), kRestoreFailed);
    EXPECT_EQ(readFile(toolkit_ + "\\B.DLL"), "bbbb");
    EXPECT_EQ(readFile(toolkit_ + "\\C.DLL"), "old c");
    EXPECT_EQ(readFile(toolkit_ + "\\D.DLL"), "dddd");
    EXPECT_EQ(listDir(toolkit_), (std::vector<std::string>{"A.DLL", "B.DLL", "C.DLL", "D.DLL"}));
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, kRegKey, "Plugins").bytes, toolkit_ + '\0');
    const std::string log = runner_.log();
    EXPECT_NE(log.find("\n>Error copying file SOURCE\\C.DLL to " + c + "\n>Restoring file " + c),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("\n>Deleting file " + toolkit_ + "\\STRAY.DLL"), std::string::npos);
    EXPECT_NE(log.find("\n\n>Registry check done...\n"), std::string::npos);
    // After it: the file whose copy failed, and only that.
    EXPECT_EQ(verify(r, report), 1);
    EXPECT_EQ(report, wrongC);
}

TEST_F(UpdateRun, NoResolveEntryLeavesTheResultAtZero)
{
    std::string script = source("A.DLL", "anchor", "%VEXDIR%\\A.DLL");
    makeFile(toolkit_ + "\\A.DLL", "anchor", 0x01D0000000100000ull + 6);
    script += source("B.DLL", "bbbb", "%VEXDIR%\\B.DLL");
    makeFile(toolkit_ + "\\B.DLL", "old b");
    writeScript(script);
    writeResolve("A.DLL=SOURCE\\A.DLL\n");
    InstallRecord r = makeRecord(program_, toolkit_);
    EXPECT_EQ(run(r), kOk);
    EXPECT_EQ(readFile(toolkit_ + "\\B.DLL"), "old b");
    EXPECT_NE(runner_.log().find("\n> Error restoring file " + toolkit_ + "\\B.DLL"),
              std::string::npos);
    // The run's 0 does not mean that the installation matches; the report is
    // cut to its buffer, always terminated; without a buffer it still counts.
    const Stamp b = stampOf(toolkit_ + "\\B.DLL");
    const std::string wrongB = "file " + toolkit_ + "\\B.DLL: expected size 4 time " +
                               std::to_string(0x01D0000000100000ull + 4) + ", found size 5 time " +
                               std::to_string(std::uint64_t{b.timeHigh} << 32 | b.timeLow) + "\n";
    std::string report;
    EXPECT_EQ(verify(r, report), 1);
    EXPECT_EQ(report, wrongB);
    EXPECT_EQ(verify(r, report, 10), 1);
    EXPECT_EQ(report, wrongB.substr(0, 9));
    EXPECT_EQ(verify(r, report, 0), 1);
    EXPECT_EQ(readFile(toolkit_ + "\\B.DLL"), "old b");
}

TEST_F(UpdateRun, FolderThatHeldNoListedFileIsNotCleaned)
{
    // A stale toolkit folder that names somebody's data: the listed file is
    // restored into it, but nothing there is deleted.
    TempDir data("run-data");
    makeFile(data / "custom-profiles.dat", "the user's");
    writeScript(source("A.DLL", "anchor", "%VEXDIR%\\A.DLL"));
    writeResolve("A.DLL=SOURCE\\A.DLL\n");
    InstallRecord r = makeRecord(program_, data.path());
    EXPECT_EQ(run(r), kOk);
    EXPECT_EQ(listDir(data.path()), (std::vector<std::string>{"A.DLL", "custom-profiles.dat"}));
    const std::string log = runner_.log();
    EXPECT_EQ(countOf(log, "\n>Error cleaning up file in " + data.path()), 1) << log;
    EXPECT_EQ(countOf(log, "Deleting"), 0);
}

TEST_F(UpdateRun, RegistryOnlySectionDerivesNothing)
{
    writeScript("RegValue=HKLM," + std::string(kRegKey) +
                ",Paths=\"%APPDIR%;%VEXDIR%;%OCRDIR%;%WINDIR%\"\n");
    writeResolve("");
    InstallRecord r = makeRecord(program_, "D:\\Toolkit", "D:\\Ocr\\OCR.EXE");
    EXPECT_EQ(run(r), kOk);
    EXPECT_STREQ(r.toolkitDir, "D:\\Toolkit");
    EXPECT_STREQ(r.ocrPath, "D:\\Ocr\\OCR.EXE");
    EXPECT_STREQ(r.pluginDir, "D:\\Toolkit");
    const std::string expanded = program_ + ";D:\\Toolkit;D:\\Ocr\\OCR.EXE;%WINDIR%";
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, kRegKey, "Paths").bytes, expanded + '\0');
    const std::string log = runner_.log();
    EXPECT_EQ(countOf(log, "Formated"), 0);
    EXPECT_EQ(countOf(log, "File check done"), 0);
    EXPECT_NE(log.find("\n>Replacing string: %APPDIR%;D:\\Toolkit;%OCRDIR%;%WINDIR%"
                       "\n>Replacing string: " +
                       program_ + ";D:\\Toolkit;%OCRDIR%;%WINDIR%" +
                       "\n>Replacing string: " + expanded + "\n\n>Registry check done...\n"),
              std::string::npos)
        << log;

    // With a blank toolkit directory nothing is derived either.
    InstallRecord blank = makeRecord(program_, "");
    EXPECT_EQ(run(blank), kOk);
    EXPECT_STREQ(blank.toolkitDir, "");
    EXPECT_STREQ(blank.pluginDir, "");
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, kRegKey, "Paths").bytes,
              program_ + ";;;%WINDIR%" + '\0');
}

TEST_F(UpdateRun, RegistryPhaseWritesEveryRecordInFileOrder)
{
    const std::string k = kRegKey;
    ScratchKey user(HKEY_CURRENT_USER, kRegKey);
    reg_.setDword("Mode", 7);                                       // becomes a string
    const std::string badKey = k + "\\" + std::string(300, 'k');    // refused by the registry
    writeScript("RegKey=HKLM," + k + "\\One\\Two\n" +               //
                "RegValue=HKLM," + k + ",Retries=dword:3\n" +       //
                "RegValue=HKLM," + k + ",Marker=dword:80000000\n" + //
                "RegValue=HKCU," + k + ",Language=%LANGID%\n" +     //
                "RegValue=HKLM," + k + ",Mode=\"fast\"\n" +         //
                "RegValue=HKLM," + k + ",Twice=\"first\"\n" +       //
                "RegValue=HKLM," + k + ",Twice=dword:2\n" +         //
                "RegValue=HKLM," + k + ",Empty=\"\"\n" +            //
                "RegValue=HKLM," + badKey + ",Bad=\"x\"\n" +        //
                "RegValue=HKLM," + k + ",After=\"%VEXDIR%\\x\"\n");
    writeResolve("");
    InstallRecord r = makeRecord(program_, toolkit_);
    std::string report;
    EXPECT_EQ(verify(r, report), 10);
    EXPECT_EQ(report.substr(0, report.find('\n') + 1),
              "registry HKLM\\" + k + "\\One\\Two\\(default): differs\n");
    EXPECT_NE(report.find("registry HKCU\\" + k + "\\Language: differs\n"), std::string::npos);
    EXPECT_EQ(run(r), kOk);

    RegValue v = readValue(HKEY_LOCAL_MACHINE, k + "\\One\\Two", "");
    EXPECT_EQ(v.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(v.bytes, std::string("\0", 1));
    v = readValue(HKEY_LOCAL_MACHINE, k, "Retries");
    EXPECT_EQ(v.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(v.bytes, std::string("\3\0\0\0", 4));
    v = readValue(HKEY_LOCAL_MACHINE, k, "Marker");
    EXPECT_EQ(v.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(v.bytes, std::string("\0\0\0\x80", 4));
    const LANGID lang = GetSystemDefaultLangID();
    EXPECT_EQ(readValue(HKEY_CURRENT_USER, k, "Language").bytes,
              std::string(reinterpret_cast<const char*>(&lang), 2) + std::string("\0\0", 2));
    v = readValue(HKEY_LOCAL_MACHINE, k, "Mode");
    EXPECT_EQ(v.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(v.bytes, std::string("fast\0", 5));
    v = readValue(HKEY_LOCAL_MACHINE, k, "Twice");
    EXPECT_EQ(v.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(v.bytes, std::string("\2\0\0\0", 4));
    v = readValue(HKEY_LOCAL_MACHINE, k, "Empty");
    EXPECT_EQ(v.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(v.bytes, std::string("\0", 1));
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, k, "After").bytes, toolkit_ + "\\x" + '\0');
    EXPECT_NE(runner_.log().find("\n>Error restoring: " + badKey + ",Bad\n>Replacing string: " +
                                 toolkit_ + "\\x\n\n>Registry check done...\n"),
              std::string::npos)
        << runner_.log();
    EXPECT_EQ(countOf(runner_.log(), "File check done"), 0);
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
