// Restores within one run's session: copies made in a scratch folder beside
// the targets, which never outlives the session, and the file check's two
// ways of reading a name's size and time.
#include "DiagLog.h"
#include "FileRestore.h"
#include "FileEntrySupport.h"
#include "MendexWineSupport.h"
#include "UpdateScript.h"

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
    std::string log_ = patch_ / "log.txt";

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
        DiagLogStart(log_.c_str());
    }
    void TearDown() override { DiagLogClose(); }
};

TEST_F(Session, RestoresLeaveNoScratchFolderBehind)
{
    CurrentDir cd(patch_.path());
    int result = 0;
    {
        RestoreSession session;
        restoreFile(kKey, (inst_ / "A.DLL").c_str(), result, session);
        restoreFile(kKey, (inst_ / "B.DLL").c_str(), result, session);
        restoreFile(kKey, (inst_ / "SUB\\C.DLL").c_str(), result, session);
        // A failed copy: the old file stays as it was.
        restoreFile(kKey, (inst_ / "GONE.DLL").c_str(), result, session);
        session.close();
        EXPECT_EQ(listDir(inst_.path()),
                  (std::vector<std::string>{"A.DLL", "B.DLL", "GONE.DLL", "SUB"}));
        EXPECT_EQ(listDir(inst_ / "SUB"), std::vector<std::string>{"C.DLL"});
        // Usable again after closing; the scope's end closes it once more.
        restoreFile(kKey, (inst_ / "GONE.DLL").c_str(), result, session);
    }
    EXPECT_EQ(result, -15);
    EXPECT_EQ(readFile(inst_ / "A.DLL"), "good a");
    EXPECT_EQ(readFile(inst_ / "B.DLL"), "good b");
    EXPECT_EQ(readFile(inst_ / "SUB\\C.DLL"), "good c");
    EXPECT_EQ(readFile(inst_ / "GONE.DLL"), "old gone");
    EXPECT_EQ(listDir(inst_.path()),
              (std::vector<std::string>{"A.DLL", "B.DLL", "GONE.DLL", "SUB"}));
    EXPECT_EQ(listDir(inst_ / "SUB"), std::vector<std::string>{"C.DLL"});
    // One reading of the list, one entry per lookup as ever.
    EXPECT_EQ(countOf(readLog(log_), ">Resolve Data: File opened."), 5);
}

TEST_F(Session, TakesOverAFolderLeftByAnInterruptedRun)
{
    makeDirs(inst_ / "~mdx.dir");
    makeFile(inst_ / "~mdx.dir\\~mdx.tmp", "half a copy");
    SetFileAttributesA((inst_ / "~mdx.dir\\~mdx.tmp").c_str(), FILE_ATTRIBUTE_READONLY);
    CurrentDir cd(patch_.path());
    int result = 0;
    {
        RestoreSession session;
        restoreFile(kKey, (inst_ / "A.DLL").c_str(), result, session);
    }
    EXPECT_EQ(result, 0);
    EXPECT_EQ(readFile(inst_ / "A.DLL"), "good a");
    EXPECT_EQ(listDir(inst_.path()),
              (std::vector<std::string>{"A.DLL", "B.DLL", "GONE.DLL", "SUB"}));
}

TEST_F(Session, LeavesWhatIsNotItsOwn)
{
    // A file of the scratch folder's name: the copy is made beside the
    // target instead, and the file stays.
    makeFile(inst_ / "~mdx.dir", "somebody's file");
    // A folder of that name holding something else: used, and kept with it.
    makeDirs(inst_ / "SUB\\~mdx.dir");
    makeFile(inst_ / "SUB\\~mdx.dir\\KEEP.TXT", "keep");
    CurrentDir cd(patch_.path());
    int result = 0;
    {
        RestoreSession session;
        restoreFile(kKey, (inst_ / "A.DLL").c_str(), result, session);
        restoreFile(kKey, (inst_ / "SUB\\C.DLL").c_str(), result, session);
    }
    EXPECT_EQ(result, 0);
    EXPECT_EQ(readFile(inst_ / "A.DLL"), "good a");
    EXPECT_EQ(readFile(inst_ / "SUB\\C.DLL"), "good c");
    EXPECT_EQ(readFile(inst_ / "~mdx.dir"), "somebody's file");
    EXPECT_EQ(listDir(inst_.path()),
              (std::vector<std::string>{"A.DLL", "B.DLL", "GONE.DLL", "SUB", "~mdx.dir"}));
    EXPECT_EQ(listDir(inst_ / "SUB\\~mdx.dir"), std::vector<std::string>{"KEEP.TXT"});
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
    EXPECT_EQ(checkFile(entryFor(dir / "A.*", a)), 0);
    EXPECT_EQ(checkFile(entryFor(dir / "?.DLL", a)), 0);
    EXPECT_EQ(checkFile(entryFor(dir / "Q*.DLL", a)), -8);
    // Letter case and a folder named like a file.
    EXPECT_EQ(checkFile(entryFor(dir / "a.dll", a)), 0);
    EXPECT_EQ(checkFile(entryFor(dir / "SUB", stampOf(dir / "SUB"))), -1);
    // A trailing backslash names no file.
    EXPECT_EQ(checkFile(entryFor(dir / "A.DLL\\", a)), -8);
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
