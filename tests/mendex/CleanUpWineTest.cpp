// The clean-up of the toolkit directory, against the real file system under
// Wine.
#include "CleanUp.h"
#include "LogCapture.h"
#include "ResultCodes.h"
#include "UpdateScript.h"
#include "WinTestSupport.h"

#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using namespace wintest;

namespace
{

// A file list as the run leaves it: each entry's final path.
class Files
{
public:
    explicit Files(const std::vector<std::string>& paths)
    {
        for (const std::string& p : paths)
            parseFileEntry((p + ",size:0-1,time:0-2").c_str(), &script_);
    }
    const FileList& list() const { return script_.fileList; }

private:
    UpdateScript script_;
};

class CleanPluginDirectory : public ::testing::Test
{
protected:
    CleanPluginDirectory()
    {
        makeDirs(kit_ / "Sub");
        writeFile(kit_ / "A.DLL", "a");
        writeFile(kit_ / "b.dll", "b");
        writeFile(kit_ / "STRAY.TMP", "s");
        writeFile(kit_ / "ro.txt", "r");
        writeFile(kit_ / "Sub\\INNER.DLL", "i");
        SetFileAttributesA((kit_ / "ro.txt").c_str(),
                           FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    }

    TempDir logDir_{"cleanlog"};
    TempDir kit_{"plugins"};
};

TEST_F(CleanPluginDirectory, DeletesUnlistedFilesOnly)
{
    LogCapture log(logDir_ / "log.txt");
    // Letter case is ignored; an entry in a subdirectory protects nothing here.
    Files files({kit_ / "A.DLL", kit_ / "B.DLL", kit_ / "INNER.DLL" + "x", kit_ / "Sub\\ro.txt"});
    EXPECT_EQ(cleanPluginDirectory(kit_.path().c_str(), files.list()), kOk);
    EXPECT_EQ(listDir(kit_.path()), (std::vector<std::string>{"A.DLL", "Sub", "b.dll"}));
    EXPECT_EQ(listDir(kit_ / "Sub"), std::vector<std::string>{"INNER.DLL"});
    EXPECT_EQ(log.sortedEntries(),
              (std::vector<std::string>{"Deleting file " + (kit_ / "STRAY.TMP"),
                                        "Deleting file " + (kit_ / "ro.txt")}));
}

TEST_F(CleanPluginDirectory, ListedFilesUnderOtherSpellingsStay)
{
    writeFile(kit_ / "LongKeepName.dll", "l");
    writeFile(kit_ / "TRAIL.DLL", "t");
    writeFile(kit_ / "\xC4PFEL.DLL", "p");
    char shortName[MAX_PATH];
    const DWORD n =
        GetShortPathNameA((kit_ / "LongKeepName.dll").c_str(), shortName, sizeof shortName);
    ASSERT_TRUE(n > 0 && n < sizeof shortName);
    ASSERT_STRNE(shortName, (kit_ / "LongKeepName.dll").c_str());
    LogCapture log(logDir_ / "log.txt");
    Files files({kit_.path() + "/A.DLL", kit_ / ".\\b.dll", kit_ / "Sub\\..\\TRAIL.DLL.", shortName,
                 kit_ / "\xE4pfel.dll"});
    EXPECT_EQ(cleanPluginDirectory(kit_.path().c_str(), files.list()), kOk);
    EXPECT_EQ(listDir(kit_.path()),
              (std::vector<std::string>{"A.DLL", "LongKeepName.dll", "Sub", "TRAIL.DLL", "b.dll",
                                        "\xC4PFEL.DLL"}));
    EXPECT_EQ(log.sortedEntries(),
              (std::vector<std::string>{"Deleting file " + (kit_ / "STRAY.TMP"),
                                        "Deleting file " + (kit_ / "ro.txt")}));
}

TEST_F(CleanPluginDirectory, StrayHardLinkGoesWithoutTouchingItsOtherName)
{
    TempDir user("cleanuser");
    writeFile(user / "LETTER.TXT", "dear user");
    SetFileAttributesA((user / "LETTER.TXT").c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(
        CreateHardLinkA((kit_ / "LINK.TXT").c_str(), (user / "LETTER.TXT").c_str(), nullptr));
    LogCapture log(logDir_ / "log.txt");
    Files files({kit_ / "A.DLL", kit_ / "b.dll"});
    EXPECT_EQ(cleanPluginDirectory(kit_.path().c_str(), files.list()), kOk);
    EXPECT_EQ(readFile(user / "LETTER.TXT"), "dear user");
    EXPECT_TRUE(GetFileAttributesA((user / "LETTER.TXT").c_str()) & FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA((user / "LETTER.TXT").c_str(), FILE_ATTRIBUTE_NORMAL);
    SetFileAttributesA((kit_ / "LINK.TXT").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(CleanPluginDirectory, TrailingBackslashKeepsListedFilesBothWays)
{
    LogCapture log(logDir_ / "log.txt");
    const std::string dir = kit_.path() + "\\";
    // "%VEXDIR%\A.DLL" with a trailing backslash in the directory expands to a
    // doubled backslash; an entry with a single one names the same file.
    Files files({dir + "\\A.DLL", kit_ / "b.dll"});
    EXPECT_EQ(cleanPluginDirectory(dir.c_str(), files.list()), kOk);
    EXPECT_EQ(listDir(kit_.path()), (std::vector<std::string>{"A.DLL", "Sub", "b.dll"}));
    EXPECT_EQ(log.sortedEntries(), (std::vector<std::string>{"Deleting file " + dir + "\\STRAY.TMP",
                                                             "Deleting file " + dir + "\\ro.txt"}));
}

TEST_F(CleanPluginDirectory, NoListedFilesEmptiesTheDirectoryButNotSubdirectories)
{
    Files files({"C:\\elsewhere\\A.DLL"});
    EXPECT_EQ(cleanPluginDirectory(kit_.path().c_str(), files.list()), kOk);
    EXPECT_EQ(listDir(kit_.path()), std::vector<std::string>{"Sub"});
    EXPECT_EQ(listDir(kit_ / "Sub"), std::vector<std::string>{"INNER.DLL"});
    EXPECT_EQ(cleanPluginDirectory(kit_.path().c_str(), {}), kOk);
}

TEST_F(CleanPluginDirectory, FileInUseIsReportedAndTheWalkGoesOn)
{
    LogCapture log(logDir_ / "log.txt");
    HANDLE h = CreateFileA((kit_ / "STRAY.TMP").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    UniqueFile open(h);
    Files files({kit_ / "A.DLL", kit_ / "b.dll"});
    EXPECT_EQ(cleanPluginDirectory(kit_.path().c_str(), files.list()), kOk);
    EXPECT_EQ(listDir(kit_.path()),
              (std::vector<std::string>{"A.DLL", "STRAY.TMP", "Sub", "b.dll"}));
    EXPECT_EQ(log.sortedEntries(),
              (std::vector<std::string>{"Deleting file " + (kit_ / "ro.txt"),
                                        "Error deleting file " + (kit_ / "STRAY.TMP")}));
}

TEST_F(CleanPluginDirectory, MissingOrBlankDirectory)
{
    LogCapture log(logDir_ / "log.txt");
    EXPECT_EQ(cleanPluginDirectory((kit_ / "NoSuchDir").c_str(), {}), kNotOnDisk);
    EXPECT_EQ(cleanPluginDirectory((kit_ / "A.DLL").c_str(), {}), kNotOnDisk);
    EXPECT_EQ(cleanPluginDirectory("   ", {}), kFailed);
    EXPECT_EQ(cleanPluginDirectory("", {}), kFailed);
    EXPECT_EQ(cleanPluginDirectory(nullptr, {}), kFailed);
    EXPECT_EQ(log.entries(), "");
    EXPECT_EQ(listDir(kit_.path()).size(), 5u);
}

TEST_F(CleanPluginDirectory, RefusesRootsSystemDirectoriesAndTheCurrentDirectory)
{
    // A stray file in the drive's root must survive.
    const std::string marker = "C:\\fwtest-root-marker.tmp";
    writeFile(marker, "m");
    EXPECT_EQ(cleanPluginDirectory("C:\\", {}), kFailed);
    EXPECT_EQ(cleanPluginDirectory("C:", {}), kFailed);
    EXPECT_EQ(cleanPluginDirectory("c:\\\\", {}), kFailed);
    EXPECT_EQ(cleanPluginDirectory((kit_ / "..\\..").c_str(), {}), kFailed);
    EXPECT_TRUE(fileExists(marker));
    SetFileAttributesA(marker.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(marker.c_str());

    char windows[MAX_PATH];
    ASSERT_GT(GetWindowsDirectoryA(windows, sizeof windows), 0u);
    EXPECT_EQ(cleanPluginDirectory(windows, {}), kFailed);
    EXPECT_EQ(cleanPluginDirectory((std::string(windows) + "\\").c_str(), {}), kFailed);
    char system[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryA(system, sizeof system), 0u);
    EXPECT_EQ(cleanPluginDirectory(system, {}), kFailed);
    EXPECT_EQ(cleanPluginDirectory((std::string(system) + "\\..").c_str(), {}), kFailed);

    // The current directory (the patch folder), by any spelling.
    {
        CurrentDir here(kit_.path());
        EXPECT_EQ(cleanPluginDirectory(".", {}), kFailed);
        EXPECT_EQ(cleanPluginDirectory(kit_.path().c_str(), {}), kFailed);
        EXPECT_EQ(cleanPluginDirectory((kit_.path() + "\\\\").c_str(), {}), kFailed);
        EXPECT_EQ(cleanPluginDirectory("Sub\\..", {}), kFailed);
    }
    EXPECT_EQ(listDir(kit_.path()).size(), 5u);
}

TEST_F(CleanPluginDirectory, RefusesTheProgramFolderAndEveryFolderAboveIt)
{
    const std::string program = kit_ / "Sub";
    LogCapture log(logDir_ / "log.txt");
    EXPECT_EQ(cleanPluginDirectory(program.c_str(), {}, program.c_str()), kFailed);
    EXPECT_EQ(cleanPluginDirectory((program + "\\..\\Sub\\.").c_str(), {}, program.c_str()),
              kFailed);
    EXPECT_EQ(cleanPluginDirectory(kit_.path().c_str(), {}, program.c_str()), kFailed);
    EXPECT_EQ(cleanPluginDirectory(("\\\\?\\" + kit_.path()).c_str(), {}, program.c_str()),
              kFailed);
    EXPECT_EQ(readFile(kit_ / "STRAY.TMP"), "s");
    EXPECT_EQ(readFile(program + "\\INNER.DLL"), "i");
    EXPECT_EQ(log.entries(), "");
    // A folder beside the program folder is cleaned as ever.
    EXPECT_EQ(cleanPluginDirectory(program.c_str(), {}, (kit_ / "Other").c_str()), kOk);
    EXPECT_EQ(listDir(program), std::vector<std::string>{});
}

TEST(CleanPluginDirectoryPlaces, RefusesShellFoldersAndWholeProtectedTrees)
{
    char buf[MAX_PATH];
    // Whole trees, whoever runs: every user's profile (found from the
    // machine's profile folder, not the account's own shell folders), the
    // Public profile, the common Startup, ProgramData's Microsoft folder,
    // recycle bins and the system's volume folder. Each holds a file that
    // must stay.
    ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, buf), S_OK);
    const std::string profile(buf);
    const std::string users = profile.substr(0, profile.rfind('\\'));
    const std::string other = users + "\\fwother" + std::to_string(GetCurrentProcessId());
    ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_COMMON_STARTUP, nullptr, SHGFP_TYPE_CURRENT, buf),
              S_OK);
    const std::string startup(buf);
    ASSERT_EQ(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buf),
              S_OK);
    const std::string programData(buf);
    TempDir volume("cleanvolume");
    const std::vector<std::string> made = {other,
                                           users + "\\Public\\fwtest-downloads",
                                           profile + "\\OneDrive-fwtest",
                                           programData + "\\Microsoft\\fwtest",
                                           volume / "$Recycle.Bin\\S-1-5-21",
                                           volume / "System Volume Information\\fwtest"};
    std::vector<std::string> refused = {other + "\\Desktop", other + "\\Documents\\Backup",
                                        startup};
    refused.insert(refused.end(), made.begin() + 1, made.end());
    for (const std::string& dir : refused) {
        makeDirs(dir);
        writeFile(dir + "\\fwtest-keep.txt", "the owner's own");
        EXPECT_EQ(cleanPluginDirectory(dir.c_str(), {}), kFailed) << dir;
        EXPECT_EQ(readFile(dir + "\\fwtest-keep.txt"), "the owner's own") << dir;
        DeleteFileA((dir + "\\fwtest-keep.txt").c_str());
    }
    for (const std::string& dir : made)
        removeTree(dir);

    for (int folder : {CSIDL_DESKTOPDIRECTORY, CSIDL_PERSONAL, CSIDL_PROFILE, CSIDL_APPDATA,
                       CSIDL_PROGRAM_FILES}) {
        ASSERT_EQ(SHGetFolderPathA(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, buf), S_OK);
        EXPECT_EQ(cleanPluginDirectory(buf, {}), kFailed) << buf;
    }
    UINT n = GetSystemDirectoryA(buf, sizeof buf);
    ASSERT_TRUE(n > 0 && n < sizeof buf);
    EXPECT_EQ(cleanPluginDirectory(("\\\\?\\" + std::string(buf)).c_str(), {}), kFailed);
    n = GetWindowsDirectoryA(buf, sizeof buf);
    ASSERT_TRUE(n > 0 && n < sizeof buf);
    EXPECT_EQ(cleanPluginDirectory((std::string(buf) + "\\Fonts").c_str(), {}), kFailed);
}

TEST_F(CleanPluginDirectory, LinksAreJudgedByTheFolderTheyReach)
{
    char desktop[MAX_PATH];
    ASSERT_EQ(
        SHGetFolderPathA(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, desktop),
        S_OK);
    const std::string marker = std::string(desktop) + "\\fwtest-desktop-marker.txt";
    writeFile(marker, "the user's own");
    char system[MAX_PATH];
    ASSERT_GT(GetSystemDirectoryA(system, sizeof system), 0u);
    TempDir links("cleanlinks");
    UnixLink toDesktop(desktop, links / "Desktop");
    UnixLink toSystem(system, links / "System");
    UnixLink toProgram(kit_ / "Sub", links / "Program");
    UnixLink toKit(kit_.path(), links / "Kit");
    if (!toDesktop.made() || !toSystem.made() || !toProgram.made() || !toKit.made())
        GTEST_SKIP() << "links cannot be made from the Linux side here";

    LogCapture log(logDir_ / "log.txt");
    EXPECT_EQ(cleanPluginDirectory((links / "Desktop").c_str(), {}), kFailed);
    EXPECT_EQ(cleanPluginDirectory((links / "System").c_str(), {}), kFailed);
    EXPECT_EQ(cleanPluginDirectory((links / "Program").c_str(), {}, (kit_ / "Sub").c_str()),
              kFailed);
    EXPECT_EQ(readFile(marker), "the user's own");
    EXPECT_EQ(readFile(kit_ / "Sub\\INNER.DLL"), "i");
    EXPECT_EQ(log.entries(), "");
    DeleteFileA(marker.c_str());

    // A link to an ordinary folder is no folder of its own: what it lists is
    // not known to stay what the deletions reach, so nothing goes.
    Files files({links / "Kit\\A.DLL", kit_ / "b.dll"});
    std::vector<std::string> deletes;
    CleanupSeen seen;
    EXPECT_EQ(planCleanup((links / "Kit").c_str(), files.list(), nullptr, deletes, nullptr, &seen),
              kFailed);
    EXPECT_TRUE(seen.link);
    EXPECT_TRUE(deletes.empty());
    EXPECT_EQ(cleanPluginDirectory((links / "Kit").c_str(), files.list()), kFailed);
    EXPECT_EQ(listDir(kit_.path()),
              (std::vector<std::string>{"A.DLL", "STRAY.TMP", "Sub", "b.dll", "ro.txt"}));
}

// Between the listing and the deletions the folder is swapped for a link to
// another folder holding files of the same names, and a stray is replaced
// by another file of its name, or by a link to another folder's file: the
// deletions touch none of them, each is reported as not deleted.
TEST_F(CleanPluginDirectory, DeletionsTouchOnlyWhatTheListingSaw)
{
    // The victim's STRAY.TMP is the stray itself by a second name: the same
    // file, in another folder.
    TempDir victim("cleanvictim");
    ASSERT_TRUE(
        CreateHardLinkA((victim / "STRAY.TMP").c_str(), (kit_ / "STRAY.TMP").c_str(), nullptr));
    for (const char* name : {"ro.txt", "A.DLL"})
        writeFile(victim / name, std::string("the victim's ") + name);
    Files files({kit_ / "A.DLL", kit_ / "b.dll"});
    std::vector<std::string> deletes;
    CleanupSeen seen;
    ASSERT_EQ(planCleanup(kit_.path().c_str(), files.list(), nullptr, deletes, nullptr, &seen),
              kOk);
    std::vector<std::string> sorted = deletes;
    std::sort(sorted.begin(), sorted.end());
    ASSERT_EQ(sorted, (std::vector<std::string>{kit_ / "STRAY.TMP", kit_ / "ro.txt"}));
    ASSERT_EQ(seen.files.size(), 2u);
    EXPECT_FALSE(seen.link);

    // The folder swapped: its name now reaches the victim.
    const std::string moved = kit_.path() + "-moved";
    ASSERT_TRUE(MoveFileA(kit_.path().c_str(), moved.c_str()));
    {
        UnixLink link(victim.path(), kit_.path());
        if (!link.made()) {
            MoveFileA(moved.c_str(), kit_.path().c_str());
            GTEST_SKIP() << "links cannot be made from the Linux side here";
        }
        LogCapture log(logDir_ / "log.txt");
        HeldFolder folder;
        EXPECT_FALSE(folder.open(kit_.path().c_str(), &seen.folder));
        for (std::size_t i = 0; i < deletes.size(); ++i)
            EXPECT_FALSE(removeInFolder(deletes[i].c_str(), seen.files[i], folder)) << deletes[i];
        // The very folder planned, held by its new name; the stray reached
        // through the link is the same file, but not in that folder.
        HeldFolder real;
        ASSERT_TRUE(real.open(moved.c_str(), &seen.folder));
        for (std::size_t i = 0; i < deletes.size(); ++i)
            EXPECT_FALSE(removeInFolder(deletes[i].c_str(), seen.files[i], real)) << deletes[i];
        EXPECT_EQ(cleanPluginDirectory(kit_.path().c_str(), files.list()), kFailed);
        EXPECT_EQ(log.entries(), "");
    }
    EXPECT_EQ(listDir(victim.path()), (std::vector<std::string>{"A.DLL", "STRAY.TMP", "ro.txt"}));
    EXPECT_EQ(readFile(victim / "STRAY.TMP"), "s");
    for (const char* name : {"ro.txt", "A.DLL"})
        EXPECT_EQ(readFile(victim / name), std::string("the victim's ") + name);
    ASSERT_TRUE(MoveFileA(moved.c_str(), kit_.path().c_str()));

    // Held, the folder cannot be renamed; a stray replaced by another file
    // of its name (made before the old one goes, so that it is another file
    // on disk) stays, and so does the victim's file behind a link that took
    // a stray's name.
    writeFile(kit_ / "STRAY.NEW", "another file");
    ASSERT_TRUE(MoveFileExA((kit_ / "STRAY.NEW").c_str(), (kit_ / "STRAY.TMP").c_str(),
                            MOVEFILE_REPLACE_EXISTING));
    SetFileAttributesA((kit_ / "ro.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(DeleteFileA((kit_ / "ro.txt").c_str()));
    UnixLink roLink(victim / "ro.txt", kit_ / "ro.txt");
    ASSERT_TRUE(roLink.made());
    HeldFolder folder;
    ASSERT_TRUE(folder.open(kit_.path().c_str(), &seen.folder));
    EXPECT_FALSE(MoveFileA(kit_.path().c_str(), moved.c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    for (std::size_t i = 0; i < deletes.size(); ++i)
        EXPECT_FALSE(removeInFolder(deletes[i].c_str(), seen.files[i], folder)) << deletes[i];
    EXPECT_EQ(readFile(kit_ / "STRAY.TMP"), "another file");
    EXPECT_EQ(readFile(victim / "ro.txt"), "the victim's ro.txt");
    // What the listing saw goes through the folder held.
    writeFile(kit_ / "LATE.TMP", "late");
    FileIdentity late;
    ASSERT_TRUE(entryIdentityOf((kit_ / "LATE.TMP").c_str(), late));
    EXPECT_TRUE(removeInFolder((kit_ / "LATE.TMP").c_str(), late, folder));
    EXPECT_FALSE(fileExists(kit_ / "LATE.TMP"));
}

} // namespace
