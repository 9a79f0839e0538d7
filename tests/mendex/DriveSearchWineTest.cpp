// The anchor search across drives. Run by with-drives.sh, which maps E: and
// F: to empty folders outside the Wine prefix; C: is the prefix's own drive
// (the test folders are on it), and no other drive exists.
#include "DiagLog.h"
#include "DriveSearch.h"
#include "FileRestore.h"
#include "FileEntrySupport.h"
#include "MendexWineSupport.h"
#include "UpdateScript.h"
#include "ResultCodes.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

using namespace wintest;
using namespace mendextest;

namespace
{

// The drive search with a resolve list of its own; passed receives the
// copies passed over.
int searchDrives(FileEntry& entry, const char* productKey,
                 std::vector<PassedCopy>* passed = nullptr)
{
    ResolveList resolveList;
    AnchorSearch search;
    search.productKey = productKey;
    search.resolveList = &resolveList;
    const int result = searchDrivesForFile(entry, search);
    if (passed)
        *passed = search.passed;
    return result;
}

// A folder on a mapped drive, removed with its contents afterwards.
class DriveDir
{
public:
    explicit DriveDir(const std::string& path) : path_(path)
    {
        removeTree(path_);
        makeDirs(path_);
    }
    ~DriveDir() { removeTree(path_); }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& relative) const { return path_ + "\\" + relative; }

private:
    std::string path_;
};

// An anchor name of this process only, so no other file on C: can match it.
std::string uniqueName(const char* stem)
{
    return std::string(stem) + std::to_string(GetCurrentProcessId()) + ".DLL";
}

class DriveSearch : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dirExists("E:\\") && dirExists("F:\\"))
            << "drives E: and F: are not mapped: run this test through with-drives.sh";
    }
    const std::string name_ = uniqueName("ANC");
    TempDir patch_{"search-patch"};
    TempDir inst_{"search-inst"};
    const std::uint64_t time_ = 0x01D0000000200000ull;
};

TEST_F(DriveSearch, PathWithoutBackslashIsNotSearched)
{
    FileEntry e = entryFor(name_, Stamp{});
    EXPECT_EQ(searchDrives(e, "Scan Suite\\2.0"), kMalformed);
    EXPECT_EQ(std::string(e.path), name_);
}

TEST_F(DriveSearch, IntactCopyOnALaterDriveIsFound)
{
    DriveDir e("E:\\inst"), f("F:\\other\\deep");
    makeFile(e / name_, "differs", time_);        // first hit on E: differs
    makeFile(f / name_, "the anchor", time_);     // intact on F:
    makeFile(inst_ / name_, "the anchor", time_); // wrong time where expected
    setWriteTime(inst_ / name_, time_ + 1);
    FileEntry entry = entryFor(inst_ / name_, stampOf(f / name_));
    CurrentDir cd(patch_.path());
    EXPECT_EQ(searchDrives(entry, "Scan Suite\\2.0"), kOk);
    EXPECT_EQ(std::string(entry.path), f / name_);
}

TEST_F(DriveSearch, OnlyDifferingCopiesAndOtherDrivesKeepThePath)
{
    DriveDir e("E:\\inst");
    makeFile(e / name_, "the anchor, but longer", time_);
    makeFile(patch_ / "B.DLL", "the anchor", time_);
    // Intact copies on a removable and on a network drive: never walked.
    DriveDir g("G:\\PLUGINS12"), h("H:\\PLUGINS12");
    makeFile(g / name_, "the anchor", time_);
    makeFile(h / name_, "the anchor", time_);
    FileEntry entry = entryFor(inst_ / name_, stampOf(patch_ / "B.DLL"));
    CurrentDir cd(patch_.path());
    std::vector<PassedCopy> passed;
    EXPECT_EQ(searchDrives(entry, "Scan Suite\\2.0", &passed), kFailed);
    EXPECT_EQ(std::string(entry.path), inst_ / name_);
    std::vector<std::string> seen;
    for (const PassedCopy& copy : passed)
        seen.push_back(copy.path + ": " + copy.why);
    EXPECT_EQ(seen, (std::vector<std::string>{e / name_ + ": its size or time is not the script's",
                                              "G:\\: a removable drive: not searched",
                                              "H:\\: a network drive: not searched"}));
}

TEST_F(DriveSearch, CopyInsideTheCurrentDirectoryIsNeverTaken)
{
    // The patch folder is F:\patch; its source copy is the only intact one.
    DriveDir patch("F:\\patch");
    makeDirs(patch / "SOURCE");
    makeFile(patch / ("SOURCE\\" + name_), "the anchor", time_);
    FileEntry entry = entryFor(inst_ / name_, stampOf(patch / ("SOURCE\\" + name_)));
    CurrentDir cd(patch.path());
    EXPECT_EQ(searchDrives(entry, "Scan Suite\\2.0"), kFailed);
    EXPECT_EQ(std::string(entry.path), inst_ / name_);
}

TEST_F(DriveSearch, CopyInTheRecycleBinIsNeverTakenAndErrorModeIsKept)
{
    DriveDir bin("E:\\$Recycle.Bin");
    makeFile(bin / name_, "the anchor", time_);
    FileEntry entry = entryFor(inst_ / name_, stampOf(bin / name_));
    CurrentDir cd(patch_.path());
    const UINT before = SetErrorMode(0);
    EXPECT_EQ(searchDrives(entry, "Scan Suite\\2.0"), kFailed);
    EXPECT_EQ(std::string(entry.path), inst_ / name_);
    EXPECT_EQ(GetErrorMode(), 0u);
    SetErrorMode(before);
}

TEST_F(DriveSearch, CopiesWhereNoInstallationCanBeAreNeverTaken)
{
    // A drive's root, the user's Desktop and Documents: never the toolkit's
    // folder, so a copy there is passed over for one in an ordinary folder.
    std::vector<std::string> planted{"E:\\" + name_};
    for (int folder : {CSIDL_DESKTOPDIRECTORY, CSIDL_PERSONAL}) {
        char path[MAX_PATH];
        ASSERT_EQ(SHGetFolderPathA(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, path), S_OK);
        planted.push_back(std::string(path) + "\\" + name_);
    }
    for (const std::string& path : planted)
        makeFile(path, "the anchor", time_);
    FileEntry entry = entryFor(inst_ / name_, stampOf(planted.front()));
    CurrentDir cd(patch_.path());
    EXPECT_EQ(searchDrives(entry, "Scan Suite\\2.0"), kFailed);
    EXPECT_EQ(std::string(entry.path), inst_ / name_);

    DriveDir kit("F:\\Kit");
    makeFile(kit / name_, "the anchor", time_);
    EXPECT_EQ(searchDrives(entry, "Scan Suite\\2.0"), kOk);
    EXPECT_EQ(std::string(entry.path), kit / name_);
    for (const std::string& path : planted)
        DeleteFileA(path.c_str());
}

TEST_F(DriveSearch, ResolveSourceOfTheAnchorIsNeverTaken)
{
    DriveDir src("E:\\SRC");
    makeFile(src / name_, "the anchor", time_);
    writeFile(patch_ / "Resolve.src", "[Scan Suite\\2.0]\n" + name_ + "=" + (src / name_) + "\n");
    FileEntry entry = entryFor(inst_ / name_, stampOf(src / name_));
    CurrentDir cd(patch_.path());
    EXPECT_EQ(searchDrives(entry, "Scan Suite\\2.0"), kFailed);
    EXPECT_EQ(std::string(entry.path), inst_ / name_);

    // The same copy is taken for a product whose resolve list names another source.
    EXPECT_EQ(searchDrives(entry, "Other\\1.0"), kOk);
    EXPECT_EQ(std::string(entry.path), src / name_);
}

// The whole run with the anchor somewhere else.
class DriveRun : public DriveSearch
{
protected:
    TempDir logs_{"search-log"};
    UpdateRunner runner_{logs_.path()};
    std::string toolkit_ = inst_ / "VEXsoft\\PLUGINS12";

    void SetUp() override
    {
        DriveSearch::SetUp();
        makeDirs(patch_ / "SOURCE");
        makeDirs(toolkit_);
    }
    std::string source(const std::string& name, const std::string& bytes, const std::string& where)
    {
        makeFile(patch_ / ("SOURCE\\" + name), bytes, time_ + bytes.size());
        return fileRecord(where, stampOf(patch_ / ("SOURCE\\" + name)));
    }
    int run(InstallRecord& record)
    {
        CurrentDir cd(patch_.path());
        return runner_.run(record);
    }
};

TEST_F(DriveRun, AnchorFoundOnEMovesTheInstallationThere)
{
    DriveDir e("E:\\Apps\\VEXsoft\\PLUGINS12");
    const std::string later = uniqueName("LATER");
    std::string script = source(name_, "the anchor", "%VEXDIR%\\" + name_);
    script += source(later, "later", "%VEXDIR%\\" + later);
    script += source("ENGINE.DLL", "engine", "%OCRDIR%\\ENGINE.DLL");
    writeFile(patch_ / "Update.src", languageHeader() + kProductHeader + script);
    writeFile(patch_ / "Resolve.src", std::string(kProductHeader) + name_ + "=SOURCE\\" + name_ +
                                          "\n" + later + "=SOURCE\\" + later +
                                          "\nENGINE.DLL=SOURCE\\ENGINE.DLL\n");
    makeFile(e / name_, "the anchor", time_ + 10); // intact on E:; the later file missing there
    makeFile(e / "STRAY.DLL", "stray");
    makeFile(toolkit_ + "\\STRAY.DLL", "stray"); // the old place is not cleaned

    InstallRecord r = makeRecord(inst_ / "Scanner", toolkit_);
    EXPECT_EQ(run(r), kOk);
    EXPECT_STREQ(r.toolkitDir, e.path().c_str());
    EXPECT_STREQ(r.ocrPath, e.path().c_str());
    EXPECT_STREQ(r.pluginDir, e.path().c_str());
    EXPECT_FALSE(fileExists(toolkit_ + "\\" + name_));
    EXPECT_TRUE(fileExists(toolkit_ + "\\STRAY.DLL"));
    EXPECT_EQ(readFile(e / later), "later");
    EXPECT_EQ(readFile(e / "ENGINE.DLL"), "engine");
    EXPECT_EQ(listDir(e.path()), (std::vector<std::string>{name_, "ENGINE.DLL", later}));
    const std::string log = runner_.log();
    EXPECT_EQ(countOf(log, "\n>Restoring file " + e / name_), 0);
    EXPECT_EQ(countOf(log, "\n>Restoring file " + e / later), 1);
    EXPECT_EQ(countOf(log, "\n>Deleting file " + e / "STRAY.DLL"), 1);
}

TEST_F(DriveRun, OnlyAFolderThatCanBeThisInstallationsIsAdopted)
{
    // Release 3.0's anchor is damaged where it belongs. Intact copies of it:
    // in release 2.0's toolkit folder (another name), in another user's
    // Desktop, in last year's backup (its filter is older), on a removable
    // and a network drive. None is 3.0's toolkit folder: each stays byte for
    // byte, and the anchor is restored where it belongs.
    std::string script = source(name_, "the anchor", "%VEXDIR%\\" + name_);
    script += source("PXFILTER.DLL", "filter 3.0", "%VEXDIR%\\PXFILTER.DLL");
    writeFile(patch_ / "Update.src", languageHeader() + kProductHeader + script);
    writeFile(patch_ / "Resolve.src", std::string(kProductHeader) + name_ + "=SOURCE\\" + name_ +
                                          "\nPXFILTER.DLL=SOURCE\\PXFILTER.DLL\n");
    const std::uint64_t anchorTime = time_ + 10;
    makeFile(toolkit_ + "\\" + name_, "damaged", anchorTime);
    makeFile(toolkit_ + "\\PXFILTER.DLL", "filter 3.0", time_ + 10);

    char profile[MAX_PATH];
    ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, profile), S_OK);
    std::string users(profile);
    users.resize(users.rfind('\\'));
    const std::string other = users + "\\fwother" + std::to_string(GetCurrentProcessId());
    DriveDir desktop(other + "\\Desktop");
    DriveDir release2(inst_ / "VEXsoft\\PLUGINS11"), backup("E:\\Backup\\PLUGINS12");
    DriveDir removable("G:\\PLUGINS12"), network("H:\\PLUGINS12");
    for (const DriveDir* dir : {&desktop, &release2, &backup, &removable, &network})
        makeFile(*dir / name_, "the anchor", anchorTime);
    makeFile(desktop / "thesis.docx", "thesis");
    makeFile(release2 / "PXFILTER.DLL", "filter 2.0");
    makeFile(release2 / "PX20DRV.DLL", "driver 2.0");
    makeFile(backup / "PXFILTER.DLL", "filter 2.9", time_);
    makeFile(backup / "LICENSE.KEY", "license");
    const std::vector<std::string> places = {desktop.path(), release2.path(), backup.path(),
                                             removable.path(), network.path()};
    std::map<std::string, std::string> before;
    for (const std::string& dir : places)
        snapshotTree(dir, before);

    InstallRecord r = makeRecord(inst_ / "Scanner", toolkit_);
    EXPECT_EQ(run(r), kOk);
    EXPECT_STREQ(r.toolkitDir, toolkit_.c_str());
    EXPECT_EQ(readFile(toolkit_ + "\\" + name_), "the anchor");
    std::map<std::string, std::string> after;
    for (const std::string& dir : places)
        snapshotTree(dir, after);
    EXPECT_EQ(after, before);
    RemoveDirectoryA(other.c_str());
}

TEST_F(DriveRun, OnlyAFolderThatAdministratorsAloneCanChangeIsAdopted)
{
    // A toolkit folder planted at C:\ with an intact copy of the anchor and
    // a file of its own, the installation's anchor damaged. Others can
    // change the planted folder, or the folder above it: it is passed
    // over, the anchor is restored where it belongs, and the planted files
    // stay. Made plainly (its creator's alone), it is adopted as ever.
    const std::string script = source(name_, "the anchor", "%VEXDIR%\\" + name_);
    writeFile(patch_ / "Update.src", languageHeader() + kProductHeader + script);
    writeFile(patch_ / "Resolve.src",
              std::string(kProductHeader) + name_ + "=SOURCE\\" + name_ + "\n");
    const std::string planted = "C:\\fwplant" + std::to_string(GetCurrentProcessId());
    const std::string kit = planted + "\\PLUGINS12";
    for (const std::string& open : {planted, kit, std::string()}) {
        SCOPED_TRACE("others can change: " + (open.empty() ? "nothing" : open));
        removeTree(planted);
        makeDirs(kit);
        makeFile(kit + "\\" + name_, "the anchor", time_ + 10);
        makeFile(kit + "\\notes.txt", "notes");
        makeFile(toolkit_ + "\\" + name_, "damaged", time_ + 10);
        if (!open.empty())
            letOthersChange(open);
        std::map<std::string, std::string> before;
        snapshotTree(planted, before);

        InstallRecord r = makeRecord(inst_ / "Scanner", toolkit_);
        EXPECT_EQ(run(r), kOk);
        std::map<std::string, std::string> after;
        snapshotTree(planted, after);
        if (open.empty()) {
            EXPECT_STREQ(r.toolkitDir, kit.c_str());
            EXPECT_EQ(listDir(kit), std::vector<std::string>{name_});
            continue;
        }
        EXPECT_STREQ(r.toolkitDir, toolkit_.c_str());
        EXPECT_EQ(readFile(toolkit_ + "\\" + name_), "the anchor");
        EXPECT_EQ(after, before);
    }
    removeTree(planted);
}

TEST_F(DriveRun, AnchorWhoseOnlyIntactCopyIsItsSourceIsRestoredInPlace)
{
    const std::string script = source(name_, "the anchor", "%VEXDIR%\\" + name_);
    writeFile(patch_ / "Update.src", languageHeader() + kProductHeader + script);
    writeFile(patch_ / "Resolve.src",
              std::string(kProductHeader) + name_ + "=SOURCE\\" + name_ + "\n");
    makeFile(patch_ / "OTHER.DLL", "patch file");
    const std::vector<std::string> patchFiles = listDir(patch_.path());

    InstallRecord r = makeRecord(inst_ / "Scanner", toolkit_);
    EXPECT_EQ(run(r), kOk);
    EXPECT_STREQ(r.toolkitDir, toolkit_.c_str());
    EXPECT_EQ(readFile(toolkit_ + "\\" + name_), "the anchor");
    EXPECT_EQ(listDir(patch_.path()), patchFiles);
    EXPECT_EQ(readFile(patch_ / ("SOURCE\\" + name_)), "the anchor");
    EXPECT_EQ(readFile(patch_ / "OTHER.DLL"), "patch file");
    EXPECT_EQ(countOf(runner_.log(), "\n>Restoring file " + toolkit_ + "\\" + name_), 1);
    EXPECT_EQ(countOf(runner_.log(), "Deleting"), 0);
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
