// Restores within one run's session: copies made in a scratch folder beside
// the targets, which never outlives the session, and the file check's two
// ways of reading a name's size and time.
#include "FileRestore.h"
#include "FileEntrySupport.h"
#include "MendexWineSupport.h"
#include "UpdateScript.h"
#include "ResultCodes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace wintest;
using namespace mendextest;

namespace
{

const char kKey[] = "Scan Suite\\2.0";

class Session : public ::testing::Test
{
protected:
    TempDir patch_{"session-patch"};
    TempDir inst_{"session-inst"};
    LogCapture log_{patch_ / "log.txt"};

    void SetUp() override
    {
        makeDirs(patch_ / "SOURCE");
        makeDirs(inst_ / "SUB");
        makeFile(patch_ / "SOURCE\\A.DLL", "good a");
        makeFile(patch_ / "SOURCE\\B.DLL", "good b");
        makeFile(patch_ / "SOURCE\\C.DLL", "good c");
        writeFile(patch_ / "Resolve.src", "[Scan Suite\\2.0]\n"
                                          "A.DLL=SOURCE\\A.DLL\n"
                                          "B.DLL=SOURCE\\B.DLL\n"
                                          "C.DLL=SOURCE\\C.DLL\n"
                                          "GONE.DLL=SOURCE\\GONE.DLL\n");
        makeFile(inst_ / "A.DLL", "bad");
        makeFile(inst_ / "B.DLL", "bad");
        makeFile(inst_ / "SUB\\C.DLL", "bad");
        makeFile(inst_ / "GONE.DLL", "old gone");
    }
    // The entry for target that wants its source's file.
    FileEntry served(const std::string& target)
    {
        return entryServedBy(target, patch_ / ("SOURCE\\" + target.substr(target.rfind('\\') + 1)));
    }
};

TEST_F(Session, RestoresLeaveNoScratchFolderBehind)
{
    CurrentDir cd(patch_.path());
    int result = kOk;
    {
        RestoreSession session;
        restoreFile(kKey, served(inst_ / "A.DLL"), result, session);
        restoreFile(kKey, served(inst_ / "B.DLL"), result, session);
        restoreFile(kKey, served(inst_ / "SUB\\C.DLL"), result, session);
        // A failed copy: the old file stays as it was.
        restoreFile(kKey, served(inst_ / "GONE.DLL"), result, session);
        session.close();
        EXPECT_EQ(listDir(inst_.path()),
                  (std::vector<std::string>{"A.DLL", "B.DLL", "GONE.DLL", "SUB"}));
        EXPECT_EQ(listDir(inst_ / "SUB"), std::vector<std::string>{"C.DLL"});
        // Usable again after closing; the scope's end closes it once more.
        restoreFile(kKey, served(inst_ / "GONE.DLL"), result, session);
    }
    EXPECT_EQ(result, kRestoreFailed);
    EXPECT_EQ(readFile(inst_ / "A.DLL"), "good a");
    EXPECT_EQ(readFile(inst_ / "B.DLL"), "good b");
    EXPECT_EQ(readFile(inst_ / "SUB\\C.DLL"), "good c");
    EXPECT_EQ(readFile(inst_ / "GONE.DLL"), "old gone");
    EXPECT_EQ(listDir(inst_.path()),
              (std::vector<std::string>{"A.DLL", "B.DLL", "GONE.DLL", "SUB"}));
    EXPECT_EQ(listDir(inst_ / "SUB"), std::vector<std::string>{"C.DLL"});
    // One reading of the list, one entry per lookup as ever.
    EXPECT_EQ(countOf(log_.entries(), ">Resolve Data: File opened."), 5);
}

TEST_F(Session, RemovesWhatAnInterruptedRunLeftInEveryListedFolder)
{
    // Marked scratch folders with nothing but the run's own files in them,
    // and an empty one (a run stopped before its marker), in folders where
    // nothing needs restoring.
    makeDirs(inst_ / "~mdx.dir");
    makeFile(inst_ / "~mdx.dir\\~mdx.own", "");
    makeFile(inst_ / "~mdx.dir\\~mdx.tmp", "half a copy");
    makeDirs(inst_ / "SUB\\~mdx3.dir");
    makeFile(inst_ / "SUB\\~mdx3.dir\\~mdx.own", "");
    makeDirs(inst_ / "SUB\\~mdx4.dir");
    CurrentDir cd(patch_.path());
    {
        RestoreSession session;
        session.visit((inst_ / "A.DLL").c_str());
        session.visit((inst_ / "SUB\\C.DLL").c_str());
    }
    EXPECT_EQ(listDir(inst_.path()),
              (std::vector<std::string>{"A.DLL", "B.DLL", "GONE.DLL", "SUB"}));
    EXPECT_EQ(listDir(inst_ / "SUB"), std::vector<std::string>{"C.DLL"});
}

TEST_F(Session, LeavesWhatIsNotItsOwn)
{
    // A file of the scratch folder's name: the scratch folder takes another
    // name, and the file stays.
    makeFile(inst_ / "~mdx.dir", "somebody's file");
    // A folder of that name holding a file of the temporary copy's name:
    // never used, kept byte for byte.
    makeDirs(inst_ / "SUB\\~mdx.dir");
    makeFile(inst_ / "SUB\\~mdx.dir\\~mdx.tmp", "a user's own file");
    // A marked folder holding something else stays too.
    makeDirs(inst_ / "SUB\\~mdx1.dir");
    makeFile(inst_ / "SUB\\~mdx1.dir\\~mdx.own", "");
    makeFile(inst_ / "SUB\\~mdx1.dir\\KEEP.TXT", "keep");
    CurrentDir cd(patch_.path());
    int result = kOk;
    {
        RestoreSession session;
        restoreFile(kKey, served(inst_ / "A.DLL"), result, session);
        restoreFile(kKey, served(inst_ / "SUB\\C.DLL"), result, session);
    }
    EXPECT_EQ(result, kOk);
    EXPECT_EQ(readFile(inst_ / "A.DLL"), "good a");
    EXPECT_EQ(readFile(inst_ / "SUB\\C.DLL"), "good c");
    EXPECT_EQ(readFile(inst_ / "~mdx.dir"), "somebody's file");
    EXPECT_EQ(listDir(inst_.path()),
              (std::vector<std::string>{"A.DLL", "B.DLL", "GONE.DLL", "SUB", "~mdx.dir"}));
    EXPECT_EQ(listDir(inst_ / "SUB"), (std::vector<std::string>{"C.DLL", "~mdx.dir", "~mdx1.dir"}));
    EXPECT_EQ(listDir(inst_ / "SUB\\~mdx.dir"), std::vector<std::string>{"~mdx.tmp"});
    EXPECT_EQ(readFile(inst_ / "SUB\\~mdx.dir\\~mdx.tmp"), "a user's own file");
    EXPECT_EQ(listDir(inst_ / "SUB\\~mdx1.dir"),
              (std::vector<std::string>{"KEEP.TXT", "~mdx.own"}));
}

// A restore with its plan's folder works only in that very folder: not in
// another that took its name, nor through a link to one.
TEST_F(Session, RestoresOnlyIntoTheFolderPlanned)
{
    TempDir victim("session-victim");
    makeFile(victim / "C.DLL", "the user's own");
    UnixLink linked(victim.path(), inst_ / "LINKED");
    if (!linked.made())
        GTEST_SKIP() << "links cannot be made from the Linux side here";
    FileIdentity inst;
    FileIdentity sub;
    FileIdentity seen;
    bool link = true;
    ASSERT_TRUE(folderIdentityOf(inst_.path().c_str(), inst, link));
    EXPECT_FALSE(link);
    ASSERT_TRUE(folderIdentityOf((inst_ / "SUB").c_str(), sub, link));
    ASSERT_TRUE(folderIdentityOf((inst_ / "LINKED").c_str(), seen, link));
    EXPECT_TRUE(link);
    CurrentDir cd(patch_.path());
    int result = kOk;
    {
        RestoreSession session;
        EXPECT_EQ(
            restoreFile(kKey, served(inst_ / "A.DLL"), result, session, {}, nullptr, nullptr, &sub),
            Restored::no);
        EXPECT_EQ(result, kRestoreFailed);
        result = kOk;
        EXPECT_EQ(restoreFile(kKey, served(inst_ / "B.DLL"), result, session, {}, nullptr, nullptr,
                              &inst),
                  Restored::now);
        EXPECT_EQ(restoreFile(kKey, served(inst_ / "LINKED\\C.DLL"), result, session, {}, nullptr,
                              nullptr, &seen),
                  Restored::no);
        EXPECT_EQ(result, kRestoreFailed);
    }
    EXPECT_EQ(readFile(inst_ / "A.DLL"), "bad");
    EXPECT_EQ(readFile(inst_ / "B.DLL"), "good b");
    EXPECT_EQ(listDir(victim.path()), std::vector<std::string>{"C.DLL"});
    EXPECT_EQ(readFile(victim / "C.DLL"), "the user's own");
    EXPECT_NE(log_.entries().find(">Error copying file SOURCE\\A.DLL to " + inst_ / "A.DLL"),
              std::string::npos)
        << log_.entries();
}

TEST_F(Session, NothingIsWrittenThroughAPlantedLink)
{
    // A folder that looks like an interrupted run's leftover, reached through
    // a link planted under the scratch folder's name, and a file link under
    // the temporary copy's name: neither target changes.
    TempDir elsewhere("session-elsewhere");
    makeFile(elsewhere / "~mdx.own", "");
    makeFile(elsewhere / "~mdx.tmp", "a user's own file");
    makeFile(elsewhere / "LETTER.TXT", "dear user");
    UnixLink scratch(elsewhere.path(), inst_ / "~mdx.dir");
    UnixLink temporary(elsewhere / "LETTER.TXT", inst_ / "B.DLL.~mdx");
    // An empty folder reached through a link looks like a stopped run's.
    TempDir empty("session-empty");
    UnixLink emptyScratch(empty.path(), inst_ / "~mdx1.dir");
    if (!scratch.made() || !temporary.made() || !emptyScratch.made())
        GTEST_SKIP() << "links cannot be made from the Linux side here";
    CurrentDir cd(patch_.path());
    int result = kOk;
    {
        RestoreSession session;
        restoreFile(kKey, served(inst_ / "A.DLL"), result, session);
    }
    EXPECT_TRUE(
        replaceFileFromSource((patch_ / "SOURCE\\B.DLL").c_str(), (inst_ / "B.DLL").c_str()));
    EXPECT_EQ(result, kOk);
    EXPECT_EQ(readFile(inst_ / "A.DLL"), "good a");
    EXPECT_EQ(readFile(inst_ / "B.DLL"), "good b");
    EXPECT_EQ(listDir(elsewhere.path()),
              (std::vector<std::string>{"LETTER.TXT", "~mdx.own", "~mdx.tmp"}));
    EXPECT_EQ(readFile(elsewhere / "~mdx.tmp"), "a user's own file");
    EXPECT_EQ(readFile(elsewhere / "LETTER.TXT"), "dear user");
    EXPECT_TRUE(dirExists(empty.path()));
    EXPECT_EQ(listDir(inst_.path()),
              (std::vector<std::string>{"A.DLL", "B.DLL", "B.DLL.~mdx", "GONE.DLL", "SUB",
                                        "~mdx.dir", "~mdx1.dir"}));
}

TEST_F(Session, TargetOf255CharactersIsRestored)
{
    const std::string deep = inst_ / std::string(249 - inst_.path().size() - 1, 'd');
    ASSERT_EQ(deep.size(), 249u);
    makeDirs(deep);
    const std::string target = deep + "\\A.DLL";
    ASSERT_EQ(target.size(), 255u);
    makeFile(target, "bad");
    CurrentDir cd(patch_.path());
    int result = kOk;
    {
        RestoreSession session;
        restoreFile(kKey, served(target), result, session);
    }
    EXPECT_EQ(result, kOk);
    EXPECT_EQ(readFile(target), "good a");
    EXPECT_EQ(listDir(deep), std::vector<std::string>{"A.DLL"});
}

TEST_F(Session, ReadOnlyOrMissingFolderMakesNoScratch)
{
    SetFileAttributesA((inst_ / "B.DLL").c_str(), FILE_ATTRIBUTE_READONLY);
    CurrentDir cd(patch_.path());
    {
        RestoreSession session;
        EXPECT_FALSE(replaceFileFromSource((patch_ / "SOURCE\\B.DLL").c_str(),
                                           (inst_ / "B.DLL").c_str(), session));
        EXPECT_FALSE(replaceFileFromSource((patch_ / "SOURCE\\A.DLL").c_str(),
                                           (inst_ / "NODIR\\A.DLL").c_str(), session));
        // Nothing was made for a target that cannot take a copy.
        EXPECT_EQ(listDir(inst_.path()),
                  (std::vector<std::string>{"A.DLL", "B.DLL", "GONE.DLL", "SUB"}));
    }
    SetFileAttributesA((inst_ / "B.DLL").c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(readFile(inst_ / "B.DLL"), "bad");
    EXPECT_EQ(listDir(inst_.path()),
              (std::vector<std::string>{"A.DLL", "B.DLL", "GONE.DLL", "SUB"}));
}

TEST(CheckFileNames, PatternsAndOddEndingsAreLookedUpInTheListing)
{
    TempDir dir("checknames");
    makeFile(dir / "A.DLL", "abcdef");
    makeDirs(dir / "SUB");
    const Stamp a = stampOf(dir / "A.DLL");
    // A pattern names the first file that the listing gives for it.
    EXPECT_EQ(checkFile(entryFor(dir / "A.*", a)), kOk);
    EXPECT_EQ(checkFile(entryFor(dir / "?.DLL", a)), kOk);
    EXPECT_EQ(checkFile(entryFor(dir / "Q*.DLL", a)), kNotOnDisk);
    // Letter case and a folder named like a file.
    EXPECT_EQ(checkFile(entryFor(dir / "a.dll", a)), kOk);
    EXPECT_EQ(checkFile(entryFor(dir / "SUB", stampOf(dir / "SUB"))), kFailed);
    // A trailing backslash names no file.
    EXPECT_EQ(checkFile(entryFor(dir / "A.DLL\\", a)), kNotOnDisk);
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
