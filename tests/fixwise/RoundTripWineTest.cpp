// From a reference installation to a repaired one: fixwise.exe authors the
// data of a generated reference tree, checks it clean, and the built
// Mendex.dll, run over a damaged copy of the tree, brings every file back
// byte for byte and to the 100 ns.
#include "MendexWineSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

using namespace wintest;
using namespace mendextest;

namespace
{

// Runs a program of the build's bin folder with a command line; its exit code.
DWORD runProgram(const std::string& program, const std::string& arguments)
{
    std::string line = "\"" + exeDir() + program + "\" " + arguments;
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return 1000 + GetLastError();
    UniqueKernelHandle thread(process.hThread);
    UniqueKernelHandle child(process.hProcess);
    if (WaitForSingleObject(child.get(), 120000) != WAIT_OBJECT_0)
        return 999;
    DWORD code = 0;
    GetExitCodeProcess(child.get(), &code);
    return code;
}

std::string commandWord(const std::string& text)
{
    return "\"" + text + "\"";
}

bool sameStamp(const Stamp& a, const Stamp& b)
{
    return a.sizeLow == b.sizeLow && a.sizeHigh == b.sizeHigh && a.timeLow == b.timeLow &&
           a.timeHigh == b.timeHigh;
}

// The installation's three folders, below some root.
struct Layout {
    std::string vex;
    std::string app;
    std::string ocr;
};

Layout layoutBelow(const std::string& root)
{
    return {root + "\\VEXsoft\\PLUGINS12", root + "\\Scanner", root + "\\VEXsoft\\Ocr"};
}

class RoundTrip : public ::testing::Test
{
protected:
    TempDir ref_{"rt-ref"};
    TempDir inst_{"rt-inst"};
    TempDir patch_{"rt-patch"};
    TempDir logs_{"rt-log"};
    UpdateRunner runner_{logs_.path()};
    Layout refDirs_ = layoutBelow(ref_.path());
    Layout instDirs_ = layoutBelow(inst_.path());
    std::vector<std::string> files_; // relative to the root, with backslashes

    // A few hundred files: empty to 40 KiB, up to three folders deep, every
    // time a different 100 ns count (most of them not on a whole second).
    void makeReference()
    {
        const std::string folders[] = {"VEXsoft\\PLUGINS12", "Scanner", "VEXsoft\\Ocr"};
        int n = 0;
        for (const std::string& top : folders) {
            for (int i = 0; i < 100; ++i, ++n) {
                std::string folder = top;
                for (int depth = 0; depth < i % 4; ++depth)
                    folder += "\\D" + std::to_string(depth) + "_" + std::to_string(i % 3);
                makeDirs(ref_ / folder);
                char name[32];
                std::snprintf(name, sizeof name, "\\R%03d.%s", n, i % 2 ? "DLL" : "DAT");
                std::string bytes;
                std::size_t size = (static_cast<std::size_t>(n) * 7919u) % 40961u;
                for (std::size_t b = 0; b < size; ++b)
                    bytes += static_cast<char>((b * 131 + static_cast<std::size_t>(n)) & 0xFF);
                const std::uint64_t time = 0x01D9000000000000ull +
                                           static_cast<std::uint64_t>(n) * 98765431ull +
                                           (n % 5 == 0 ? 0 : static_cast<std::uint64_t>(n % 7 + 1));
                makeFile(ref_ / (folder + name), bytes, time);
                files_.push_back(folder + name);
            }
        }
    }

    // A copy of the reference with the same bytes and times.
    void install()
    {
        for (const std::string& f : files_) {
            std::string to = inst_ / f;
            makeDirs(to.substr(0, to.rfind('\\')));
            ASSERT_TRUE(CopyFileA((ref_ / f).c_str(), to.c_str(), FALSE)) << f;
            std::uint64_t time =
                (std::uint64_t{stampOf(ref_ / f).timeHigh} << 32) | stampOf(ref_ / f).timeLow;
            setWriteTime(to, time);
        }
    }

    int author()
    {
        char lang[16];
        std::snprintf(lang, sizeof lang, "%x", GetSystemDefaultLangID());
        return static_cast<int>(runProgram(
            "fixwise.exe", "author --product \"Scan Suite\\2.0\" --lang " + std::string(lang) +
                               " --anchor R000.DAT --out " + commandWord(patch_.path()) +
                               " %VEXDIR%=" + commandWord(refDirs_.vex) +
                               " %APPDIR%=" + commandWord(refDirs_.app) +
                               " %OCRDIR%=" + commandWord(refDirs_.ocr)));
    }
};

TEST_F(RoundTrip, AuthoredDataRepairsADamagedInstallation)
{
    makeReference();
    ASSERT_EQ(author(), 0);
    writeFile(patch_ / "libdata.src", "[Scan Suite\\2.0]\n"
                                      "InstallKey=HKLM,Software\\FixwiseTest\\Scan Suite\\2.0\n"
                                      "ProgramDir=HKLM,Software\\FixwiseTest\\Scan Suite\\2.0,Dir\n"
                                      "VEXVersion=\"1.2\"\n");
    ASSERT_EQ(runProgram("fixwise.exe", "check " + commandWord(patch_.path())), 0u);

    install();
    // The anchor (the first toolkit file) stays intact: a miss would send
    // the run looking for it across the drives.
    int sizes = 0, times = 0, missing = 0;
    for (std::size_t i = 1; i < files_.size(); ++i) {
        const std::string path = inst_ / files_[i];
        if (i % 7 == 1) {
            wintest::writeFile(path, readFile(path) + "x"); // longer, same time
            std::uint64_t time = (std::uint64_t{stampOf(ref_ / files_[i]).timeHigh} << 32) |
                                 stampOf(ref_ / files_[i]).timeLow;
            setWriteTime(path, time);
            ++sizes;
        } else if (i % 7 == 3) {
            Stamp s = stampOf(path);
            const std::uint64_t time = (std::uint64_t{s.timeHigh} << 32) | s.timeLow;
            setWriteTime(path, i % 2 ? time + 1 : time - 1); // one unit off
            ++times;
        } else if (i % 7 == 5) {
            ASSERT_TRUE(DeleteFileA(path.c_str())) << path;
            ++missing;
        }
    }
    makeFile(instDirs_.vex + "\\STRAY.DLL", "stray");
    makeFile(instDirs_.vex + "\\LOCKED.TMP", "read-only stray");
    SetFileAttributesA((instDirs_.vex + "\\LOCKED.TMP").c_str(), FILE_ATTRIBUTE_READONLY);
    ASSERT_GT(sizes, 10);
    ASSERT_GT(times, 10);
    ASSERT_GT(missing, 10);

    InstallRecord record = makeRecord(instDirs_.app, instDirs_.vex);
    {
        CurrentDir cd(patch_.path());
        EXPECT_EQ(runner_.run(record), 0) << runner_.log();
    }
    for (const std::string& f : files_) {
        ASSERT_TRUE(fileExists(inst_ / f)) << f;
        EXPECT_EQ(readFile(inst_ / f), readFile(ref_ / f)) << f;
        EXPECT_TRUE(sameStamp(stampOf(inst_ / f), stampOf(ref_ / f))) << f;
    }
    EXPECT_EQ(listDir(instDirs_.vex), listDir(refDirs_.vex));
    EXPECT_STREQ(record.toolkitDir, instDirs_.vex.c_str());
    EXPECT_STREQ(record.ocrPath, instDirs_.ocr.c_str());
    EXPECT_EQ(countOf(runner_.log(), "Error"), 0) << runner_.log();
    EXPECT_EQ(countOf(runner_.log(), "\n>Restoring file "), sizes + times + missing);

    // A second run finds nothing to do.
    runner_.clearLog();
    {
        CurrentDir cd(patch_.path());
        EXPECT_EQ(runner_.run(record), 0);
    }
    EXPECT_EQ(countOf(runner_.log(), "Restoring"), 0) << runner_.log();
}

TEST_F(RoundTrip, TheWindowsBuildRefusesCollidingNames)
{
    makeDirs(refDirs_.vex + "\\Sub");
    makeDirs(refDirs_.app);
    makeDirs(refDirs_.ocr);
    makeFile(refDirs_.vex + "\\A.DLL", "a");
    makeFile(refDirs_.vex + "\\Sub\\a.dll", "b");
    EXPECT_EQ(author(), 1);
    EXPECT_FALSE(fileExists(patch_ / "Update.src"));
    EXPECT_FALSE(fileExists(patch_ / "Resolve.src"));
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
