// File checks and the restore step against the real file system.
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

// Names in dir that a restore might have left behind.
bool hasTemporary(const std::string& dir)
{
    for (const auto& name : listDir(dir))
        if (name.find(".~") != std::string::npos)
            return true;
    return false;
}

class CheckFile : public ::testing::Test
{
protected:
    TempDir dir_{"checkfile"};
};

TEST_F(CheckFile, ExactSizeAndTimeMatch)
{
    makeFile(dir_ / "A.DLL", "abcdef");
    EXPECT_EQ(checkFile(entryFor(dir_ / "A.DLL", stampOf(dir_ / "A.DLL"))), kOk);
}

TEST_F(CheckFile, AnyNumberOffByOneFails)
{
    makeFile(dir_ / "A.DLL", "abcdef");
    const Stamp good = stampOf(dir_ / "A.DLL");
    Stamp s = good;
    s.timeLow += 1; // a newer file
    EXPECT_EQ(checkFile(entryFor(dir_ / "A.DLL", s)), kFailed);
    s = good;
    s.timeLow -= 1; // an older file
    EXPECT_EQ(checkFile(entryFor(dir_ / "A.DLL", s)), kFailed);
    s = good;
    s.timeHigh += 1;
    EXPECT_EQ(checkFile(entryFor(dir_ / "A.DLL", s)), kFailed);
    s = good;
    s.sizeLow += 1;
    EXPECT_EQ(checkFile(entryFor(dir_ / "A.DLL", s)), kFailed);
    s = good;
    s.sizeHigh = 1;
    EXPECT_EQ(checkFile(entryFor(dir_ / "A.DLL", s)), kFailed);
}

TEST_F(CheckFile, MissingFileAndDirectory)
{
    EXPECT_EQ(checkFile(entryFor(dir_ / "MISSING.DLL", Stamp{})), kNotOnDisk);
    EXPECT_EQ(checkFile(entryFor(dir_ / "NODIR\\A.DLL", Stamp{})), kNotOnDisk);
    makeDirs(dir_ / "SUB");
    EXPECT_EQ(checkFile(entryFor(dir_ / "SUB", stampOf(dir_ / "SUB"))), kFailed);
}

TEST_F(CheckFile, BlankPathCountsAsCorrect)
{
    EXPECT_EQ(checkFile(entryFor("", Stamp{1, 2, 3, 4})), kOk);
    EXPECT_EQ(checkFile(entryFor("   ", Stamp{1, 2, 3, 4})), kOk);
}

class ReplaceFromSource : public ::testing::Test
{
protected:
    TempDir dir_{"replace"};
    std::string target_ = dir_ / "APP\\A.DLL";
    std::string source_ = dir_ / "SRC\\A.DLL";
    void SetUp() override
    {
        makeDirs(dir_ / "APP");
        makeDirs(dir_ / "SRC");
        makeFile(target_, "old contents of the program file", 0x01D0000000000001ull);
        makeFile(source_, std::string(300000, 'n'), 0x01D0000000000777ull);
    }
    void expectOldTarget()
    {
        EXPECT_TRUE(readFile(target_) == "old contents of the program file");
        EXPECT_EQ(stampOf(target_).timeLow, 1u);
        EXPECT_EQ(listDir(dir_ / "APP"), std::vector<std::string>{"A.DLL"});
    }
};

TEST_F(ReplaceFromSource, GoodCopyTakesSourceContentsAndTime)
{
    ASSERT_TRUE(replaceFileFromSource(source_.c_str(), target_.c_str()));
    EXPECT_TRUE(readFile(target_) == std::string(300000, 'n'));
    EXPECT_EQ(stampOf(target_).timeLow, 0x777u);
    EXPECT_EQ(listDir(dir_ / "APP"), std::vector<std::string>{"A.DLL"});
    EXPECT_TRUE(readFile(source_) == std::string(300000, 'n'));
}

TEST_F(ReplaceFromSource, MissingTargetIsCreated)
{
    ASSERT_TRUE(replaceFileFromSource(source_.c_str(), (dir_ / "APP\\NEW.DLL").c_str()));
    EXPECT_TRUE(readFile(dir_ / "APP\\NEW.DLL") == std::string(300000, 'n'));
    EXPECT_FALSE(hasTemporary(dir_ / "APP"));
}

TEST_F(ReplaceFromSource, MissingSourceLeavesTheTargetByteForByte)
{
    EXPECT_FALSE(replaceFileFromSource((dir_ / "SRC\\NONE.DLL").c_str(), target_.c_str()));
    expectOldTarget();
}

TEST_F(ReplaceFromSource, MissingTargetDirectoryFailsAndCreatesNothing)
{
    EXPECT_FALSE(replaceFileFromSource(source_.c_str(), (dir_ / "NODIR\\A.DLL").c_str()));
    EXPECT_FALSE(dirExists(dir_ / "NODIR"));
}

TEST_F(ReplaceFromSource, ReadOnlyTargetStays)
{
    SetFileAttributesA(target_.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(replaceFileFromSource(source_.c_str(), target_.c_str()));
    SetFileAttributesA(target_.c_str(), FILE_ATTRIBUTE_NORMAL);
    expectOldTarget();
}

TEST_F(ReplaceFromSource, LeftoverTemporaryOfAnEarlierRunStaysUntouched)
{
    makeFile(target_ + ".~mdx", "half a copy");
    SetFileAttributesA((target_ + ".~mdx").c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(replaceFileFromSource(source_.c_str(), target_.c_str()));
    EXPECT_TRUE(readFile(target_) == std::string(300000, 'n'));
    EXPECT_EQ(listDir(dir_ / "APP"), (std::vector<std::string>{"A.DLL", "A.DLL.~mdx"}));
    EXPECT_EQ(readFile(target_ + ".~mdx"), "half a copy");
    EXPECT_TRUE(GetFileAttributesA((target_ + ".~mdx").c_str()) & FILE_ATTRIBUTE_READONLY);
}

TEST_F(ReplaceFromSource, LinkPlantedUnderTheTemporaryNameIsNotWrittenThrough)
{
    makeDirs(dir_ / "USER");
    const std::string victim = dir_ / "USER\\LETTER.TXT";
    makeFile(victim, "dear user");
    SetFileAttributesA(victim.c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_TRUE(CreateHardLinkA((target_ + ".~mdx").c_str(), victim.c_str(), nullptr));
    ASSERT_TRUE(replaceFileFromSource(source_.c_str(), target_.c_str()));
    EXPECT_TRUE(readFile(target_) == std::string(300000, 'n'));
    EXPECT_EQ(readFile(victim), "dear user");
    EXPECT_TRUE(GetFileAttributesA(victim.c_str()) & FILE_ATTRIBUTE_READONLY);
    SetFileAttributesA(victim.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(ReplaceFromSource, ReadOnlySourceGivesAFlushedCopy)
{
    SetFileAttributesA(source_.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(replaceFileFromSource(source_.c_str(), target_.c_str()));
    SetFileAttributesA(source_.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_TRUE(readFile(target_) == std::string(300000, 'n'));
    EXPECT_EQ(listDir(dir_ / "APP"), std::vector<std::string>{"A.DLL"});
}

TEST_F(ReplaceFromSource, TargetNearTheLongestPathIsStillRestored)
{
    // The target's path with the temporary suffix would be too long for a
    // path: the temporary copy takes a short name in the same directory.
    const std::string deep = dir_ / std::string(240 - dir_.path().size() - 1, 'd');
    ASSERT_EQ(deep.size(), 240u);
    makeDirs(deep);
    const std::string target = deep + "\\" + std::string(16 - 4, 'x') + ".DLL";
    ASSERT_EQ(target.size(), 257u);
    makeFile(target, "old");
    ASSERT_TRUE(replaceFileFromSource(source_.c_str(), target.c_str()));
    EXPECT_TRUE(readFile(target) == std::string(300000, 'n'));
    EXPECT_EQ(listDir(deep).size(), 1u);
}

TEST_F(ReplaceFromSource, LongestWritablePathIsRestoredWithAndWithoutASession)
{
    // The deepest folder that can be made (248 characters) and a name that
    // brings the target to the longest path (259 characters).
    const std::string deep = dir_ / std::string(248 - dir_.path().size() - 1, 'd');
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
    const std::string target = deep + "\\ABCDEF.DLL";
    ASSERT_EQ(target.size(), 259u);
    makeFile(target, "old");
    ASSERT_TRUE(replaceFileFromSource(source_.c_str(), target.c_str()));
    EXPECT_TRUE(readFile(target) == std::string(300000, 'n'));
    makeFile(target, "old");
    {
        RestoreSession session;
        ASSERT_TRUE(replaceFileFromSource(source_.c_str(), target.c_str(), session));
    }
    EXPECT_TRUE(readFile(target) == std::string(300000, 'n'));
    EXPECT_EQ(listDir(deep), std::vector<std::string>{"ABCDEF.DLL"});
}

TEST_F(ReplaceFromSource, TargetInUseStaysAndNoTemporaryRemains)
{
    // The copy to the temporary file succeeds; replacing the open target fails.
    UniqueFile holder(
        CreateFileA(target_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    EXPECT_FALSE(replaceFileFromSource(source_.c_str(), target_.c_str()));
    holder.reset();
    expectOldTarget();
}

// One restore in a session of its own.
void restoreAlone(const char* productKey, const FileEntry& entry, int& runResult)
{
    RestoreSession session;
    restoreFile(productKey, entry, runResult, session);
}
void restoreAlone(const char* productKey, const char* path, int& runResult)
{
    restoreAlone(productKey, entryFor(path, Stamp{}), runResult);
}

// The restore step: resolve lookup, copy, log entries and the run result.
class Restore : public ::testing::Test
{
protected:
    TempDir patch_{"restore-patch"};
    TempDir inst_{"restore-inst"};
    LogCapture log_{patch_ / "log.txt"};

    void SetUp() override
    {
        makeDirs(patch_ / "SOURCE");
        makeFile(patch_ / "SOURCE\\FILTER32.DLL", "good filter");
        writeFile(patch_ / "Resolve.src", "[Scan Suite\\2.0]\n"
                                          "FILTER32.DLL=SOURCE\\FILTER32.DLL\n"
                                          "GONE.DLL=SOURCE\\GONE.DLL\n");
        makeFile(inst_ / "Filter32.dll", "bad");
    }
    std::string logText() { return log_.entries(); }
};

TEST_F(Restore, FailedCopyLogsCopyErrorThenRestoreAndSetsMinus15)
{
    CurrentDir cd(patch_.path());
    int result = kOk;
    const std::string target = inst_ / "GONE.DLL";
    makeFile(target, "old");
    restoreAlone("Scan Suite\\2.0", target.c_str(), result);
    EXPECT_EQ(result, kRestoreFailed);
    EXPECT_EQ(readFile(target), "old");
    EXPECT_EQ(listDir(inst_.path()), (std::vector<std::string>{"Filter32.dll", "GONE.DLL"}));
    EXPECT_EQ(logText(), "\n>Resolve Data: File opened."
                         "\n>Error copying file SOURCE\\GONE.DLL to " +
                             target + "\n>Restoring file " + target);
}

TEST_F(Restore, OnlyASourceThatIsTheScriptsFileIsCopied)
{
    CurrentDir cd(patch_.path());
    const std::string target = inst_ / "Filter32.dll";
    const std::string source = patch_ / "SOURCE\\FILTER32.DLL";
    // The medium's copy lost its time: not copied, the old file stays.
    FileEntry wanted = entryServedBy(target, source);
    wanted.timeLow += 1;
    int result = kOk;
    restoreAlone("Scan Suite\\2.0", wanted, result);
    EXPECT_EQ(result, kRestoreFailed);
    EXPECT_EQ(readFile(target), "bad");
    EXPECT_EQ(logText(), "\n>Resolve Data: File opened."
                         "\n>Error copying file SOURCE\\FILTER32.DLL to " +
                             target + "\n>Restoring file " + target);
    EXPECT_EQ(listDir(inst_.path()), std::vector<std::string>{"Filter32.dll"});
    // The script's own file is copied and passes its check.
    result = kOk;
    restoreAlone("Scan Suite\\2.0", entryServedBy(target, source), result);
    EXPECT_EQ(result, kOk);
    EXPECT_EQ(readFile(target), "good filter");
    EXPECT_EQ(checkFile(entryServedBy(target, source)), kOk);
}

TEST_F(Restore, SourceThatIsTheTargetItselfIsAFailedCopy)
{
    const std::string target = inst_ / "Filter32.dll";
    // The resolve source names the target by another spelling.
    writeFile(patch_ / "Resolve.src",
              "[Scan Suite\\2.0]\nFILTER32.DLL=" + inst_ / "." + "\\FILTER32.DLL\n");
    CurrentDir cd(patch_.path());
    int result = kOk;
    restoreAlone("Scan Suite\\2.0", target.c_str(), result);
    EXPECT_EQ(result, kRestoreFailed);
    EXPECT_EQ(readFile(target), "bad");
    EXPECT_NE(logText().find("\n>Error copying file "), std::string::npos);
    EXPECT_NE(logText().find("\n>Restoring file " + target), std::string::npos);
    EXPECT_EQ(listDir(inst_.path()), std::vector<std::string>{"Filter32.dll"});
}

TEST_F(Restore, MissingResolveListLeavesFileAndResult)
{
    CurrentDir cd(inst_.path());
    int result = kOk;
    const std::string target = inst_ / "Filter32.dll";
    restoreAlone("Scan Suite\\2.0", target.c_str(), result);
    EXPECT_EQ(result, kOk);
    EXPECT_EQ(readFile(target), "bad");
    EXPECT_EQ(logText(), "\n>Error opening file Resolve.src."
                         "\n> Error restoring file " +
                             target);
}

TEST_F(Restore, TwoLongPathsInOneEntryAreCut)
{
    // A source path of 480 characters and a target of 500: the entry is cut
    // at the log line's 511 characters, and the next entry follows intact.
    const std::string source = "SOURCE\\" + std::string(469, 's') + ".DLL";
    writeFile(patch_ / "Resolve.src", "[Scan Suite\\2.0]\nLONG.DLL=" + source + "\n");
    const std::string target =
        inst_ / (std::string(500 - inst_.path().size() - 10, 't') + "\\LONG.DLL");
    ASSERT_EQ(target.size(), 500u);
    CurrentDir cd(patch_.path());
    int result = kOk;
    restoreAlone("Scan Suite\\2.0", target.c_str(), result);
    EXPECT_EQ(result, kRestoreFailed);
    const std::string copyError = "\n>Error copying file " + source + " to " + target;
    const std::string restoring = "\n>Restoring file " + target;
    EXPECT_TRUE(logText() == "\n>Resolve Data: File opened." + copyError.substr(0, 511) +
                                 restoring.substr(0, 511))
        << logText();
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
