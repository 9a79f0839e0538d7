// From a reference installation to a repaired one: fixwise.exe authors the
// data of a generated reference tree, checks it clean, and the built
// Mendex.dll, run over a damaged copy of the tree, brings every file back
// byte for byte and to the 100 ns. The tree holds a name outside ASCII,
// authored and read in the ANSI code page of the prefix.
#include "AnsiText.h"
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

// The ANSI code page, as fixwise --codepage takes it.
std::string codePageWord()
{
    return std::to_string(GetACP());
}

// A toolkit file whose name is outside ASCII, in the ANSI code page.
std::string accentedName()
{
    return ansiText("R\xC3\xA9sum\xC3\xA9.DLL");
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

// Where the data of the native run lies: the first phase writes the
// reference there, the native fixwise authors it, the second phase repairs.
std::string g_nativeFolder;
std::string g_phase;

constexpr const char* kCatalogue = "[Scan Suite\\2.0]\n"
                                   "InstallKey=HKLM,Software\\FixwiseTest\\Scan Suite\\2.0\n"
                                   "ProgramDir=HKLM,Software\\FixwiseTest\\Scan Suite\\2.0,Dir\n"
                                   "VEXVersion=\"1.2\"\n";

// A reference installation, a patch folder, and an installation made from
// the reference, damaged and repaired.
class RoundTripBase : public ::testing::Test
{
protected:
    RoundTripBase(std::string ref, std::string patch)
        : ref_(std::move(ref)), patch_(std::move(patch)), refDirs_(layoutBelow(ref_))
    {
    }

    TempDir inst_{"rt-inst"};
    TempDir logs_{"rt-log"};
    UpdateRunner runner_{logs_.path()};
    std::string ref_;
    std::string patch_;
    Layout refDirs_;
    Layout instDirs_ = layoutBelow(inst_.path());
    std::vector<std::string> files_; // relative to the root, with backslashes

    std::string refPath(const std::string& relative) const { return ref_ + "\\" + relative; }

    // A few hundred files: empty to 40 KiB, up to three folders deep, every
    // time a different 100 ns count (most of them not on a whole second).
    // With make false only the list of names is made.
    void reference(bool make)
    {
        const std::string folders[] = {"VEXsoft\\PLUGINS12", "Scanner", "VEXsoft\\Ocr"};
        int n = 0;
        for (const std::string& top : folders) {
            for (int i = 0; i < 100; ++i, ++n) {
                std::string folder = top;
                for (int depth = 0; depth < i % 4; ++depth)
                    folder += "\\D" + std::to_string(depth) + "_" + std::to_string(i % 3);
                char name[32];
                std::snprintf(name, sizeof name, "\\R%03d.%s", n, i % 2 ? "DLL" : "DAT");
                files_.push_back(folder + name);
                if (!make)
                    continue;
                makeDirs(refPath(folder));
                std::string bytes;
                std::size_t size = (static_cast<std::size_t>(n) * 7919u) % 40961u;
                for (std::size_t b = 0; b < size; ++b)
                    bytes += static_cast<char>((b * 131 + static_cast<std::size_t>(n)) & 0xFF);
                const std::uint64_t time = 0x01D9000000000000ull +
                                           static_cast<std::uint64_t>(n) * 98765431ull +
                                           (n % 5 == 0 ? 0 : static_cast<std::uint64_t>(n % 7 + 1));
                makeFile(refPath(folder + name), bytes, time);
            }
        }
        // Restored when wrong, and kept by the clean-up of its folder.
        ASSERT_EQ(utf8(accentedName()), "R\xC3\xA9sum\xC3\xA9.DLL") << "code page " << GetACP();
        accented_ = folders[0] + "\\" + accentedName();
        files_.push_back(accented_);
        if (make)
            makeFile(refPath(accented_), "accented", 0x01D9000012345671ull);
    }

    static std::uint64_t timeOf(const std::string& path)
    {
        Stamp s = stampOf(path);
        return (std::uint64_t{s.timeHigh} << 32) | s.timeLow;
    }

    // A copy of the reference with the same bytes and times, then damaged:
    // wrong sizes, wrong times by one unit, missing files, strays in the
    // toolkit folder. The anchor (the first toolkit file) stays intact: a
    // miss would send the run looking for it across the drives.
    void installDamaged()
    {
        for (const std::string& f : files_) {
            std::string to = inst_ / f;
            makeDirs(to.substr(0, to.rfind('\\')));
            ASSERT_TRUE(CopyFileA(refPath(f).c_str(), to.c_str(), FALSE)) << f;
            setWriteTime(to, timeOf(refPath(f)));
        }
        for (std::size_t i = 1; i < files_.size(); ++i) {
            const std::string path = inst_ / files_[i];
            if (i % 7 == 1) {
                wintest::writeFile(path, readFile(path) + "x"); // longer, same time
                setWriteTime(path, timeOf(refPath(files_[i])));
                ++damaged_;
            } else if (i % 7 == 3) {
                const std::uint64_t time = timeOf(path);
                setWriteTime(path, i % 2 ? time + 1 : time - 1);
                ++damaged_;
            } else if (i % 7 == 5) {
                ASSERT_TRUE(DeleteFileA(path.c_str())) << path;
                ++damaged_;
            }
        }
        wintest::writeFile(inst_ / accented_, "wrong size");
        setWriteTime(inst_ / accented_, timeOf(refPath(accented_)));
        ++damaged_;
        makeFile(instDirs_.vex + "\\STRAY.DLL", "stray");
        makeFile(instDirs_.vex + "\\LOCKED.TMP", "read-only stray");
        SetFileAttributesA((instDirs_.vex + "\\LOCKED.TMP").c_str(), FILE_ATTRIBUTE_READONLY);
    }

    // The run over the damaged installation leaves it equal to the
    // reference, and a second run finds nothing to do.
    void repairAndCompare()
    {
        InstallRecord record = makeRecord(instDirs_.app, instDirs_.vex);
        {
            CurrentDir cd(patch_);
            EXPECT_EQ(runner_.run(record), 0) << runner_.log();
        }
        for (const std::string& f : files_) {
            ASSERT_TRUE(fileExists(inst_ / f)) << f;
            EXPECT_EQ(readFile(inst_ / f), readFile(refPath(f))) << f;
            EXPECT_TRUE(sameStamp(stampOf(inst_ / f), stampOf(refPath(f)))) << f;
        }
        EXPECT_EQ(listDir(instDirs_.vex), listDir(refDirs_.vex));
        EXPECT_STREQ(record.toolkitDir, instDirs_.vex.c_str());
        EXPECT_STREQ(record.ocrPath, instDirs_.ocr.c_str());
        EXPECT_EQ(countOf(runner_.log(), "Error"), 0) << runner_.log();
        EXPECT_EQ(countOf(runner_.log(), "\n>Restoring file "), damaged_);

        runner_.clearLog();
        {
            CurrentDir cd(patch_);
            EXPECT_EQ(runner_.run(record), 0);
        }
        EXPECT_EQ(countOf(runner_.log(), "Restoring"), 0) << runner_.log();
    }

    int damaged_ = 0;
    std::string accented_; // relative to the root, in the ANSI code page
};

// The folders of a round trip within one test: made before the base that
// names them.
struct ScratchFolders {
    TempDir refDir{"rt-ref"};
    TempDir patchDir{"rt-patch"};
};

class RoundTrip : private ScratchFolders, public RoundTripBase
{
protected:
    RoundTrip() : RoundTripBase(refDir.path(), patchDir.path()) {}

    int author()
    {
        char lang[16];
        std::snprintf(lang, sizeof lang, "%x", GetSystemDefaultLangID());
        return static_cast<int>(runProgram(
            "fixwise.exe", "author --product \"Scan Suite\\2.0\" --lang " + std::string(lang) +
                               " --anchor R000.DAT --codepage " + codePageWord() + " --out " +
                               commandWord(patch_) + " %VEXDIR%=" + commandWord(refDirs_.vex) +
                               " %APPDIR%=" + commandWord(refDirs_.app) +
                               " %OCRDIR%=" + commandWord(refDirs_.ocr)));
    }
};

TEST_F(RoundTrip, AuthoredDataRepairsADamagedInstallation)
{
    reference(true);
    ASSERT_EQ(author(), 0);
    writeFile(patch_ + "\\libdata.src", kCatalogue);
    ASSERT_EQ(
        runProgram("fixwise.exe", "check " + commandWord(patch_) + " --codepage " + codePageWord()),
        0u);
    installDamaged();
    ASSERT_GT(damaged_, 100);
    repairAndCompare();
}

TEST_F(RoundTrip, TheWindowsBuildRefusesCollidingNames)
{
    makeDirs(refDirs_.vex + "\\Sub");
    makeDirs(refDirs_.app);
    makeDirs(refDirs_.ocr);
    makeFile(refDirs_.vex + "\\A.DLL", "a");
    makeFile(refDirs_.vex + "\\Sub\\a.dll", "b");
    EXPECT_EQ(author(), 1);
    EXPECT_FALSE(fileExists(patch_ + "\\Update.src"));
    EXPECT_FALSE(fileExists(patch_ + "\\Resolve.src"));
}

// The same with the data authored by the native fixwise on the build host
// (the release pipeline's way): run in two phases around it by
// native-author.sh, with --native-folder=C:\... and --phase=reference|repair.
class NativeAuthoredData : public RoundTripBase
{
protected:
    NativeAuthoredData() : RoundTripBase(g_nativeFolder + "\\ref", g_nativeFolder + "\\patch") {}
};

TEST_F(NativeAuthoredData, Reference)
{
    if (g_phase != "reference")
        GTEST_SKIP() << "run by native-author.sh";
    removeTree(g_nativeFolder);
    reference(true);
    makeDirs(patch_);
    writeFile(patch_ + "\\libdata.src", kCatalogue);
    char lang[16];
    std::snprintf(lang, sizeof lang, "%x", GetSystemDefaultLangID());
    writeFile(g_nativeFolder + "\\lang.txt", lang);
    writeFile(g_nativeFolder + "\\codepage.txt", codePageWord());
}

TEST_F(NativeAuthoredData, Repair)
{
    if (g_phase != "repair")
        GTEST_SKIP() << "run by native-author.sh";
    reference(false);
    ASSERT_TRUE(fileExists(patch_ + "\\Update.src"));
    installDamaged();
    repairAndCompare();
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    const std::string folderOption = "--native-folder=";
    const std::string phaseOption = "--phase=";
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.compare(0, folderOption.size(), folderOption) == 0)
            g_nativeFolder = arg.substr(folderOption.size());
        else if (arg.compare(0, phaseOption.size(), phaseOption) == 0)
            g_phase = arg.substr(phaseOption.size());
    }
    return RUN_ALL_TESTS();
}
