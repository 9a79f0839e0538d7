// The update run with memory running out at every allocation in turn: it
// always ends, and it answers -1 (which promises that nothing changed) only
// when the installation and the registry are as they were.
#include "InstallRecord.h"
#include "Mendex.h"
#include "MendexWineSupport.h"
#include "ResultCodes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <string>

using namespace wintest;
using namespace mendextest;

namespace
{

// Allocations fail from the armed count on: 0 is the first allocation after
// arming; negative is never.
long g_failFrom = -1;
long g_allocations = 0;

void* allocate(std::size_t size)
{
    if (g_failFrom >= 0 && g_allocations++ >= g_failFrom)
        return nullptr;
    return std::malloc(size == 0 ? 1 : size);
}

} // namespace

void* operator new(std::size_t size)
{
    if (void* p = allocate(size))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size)
{
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return allocate(size);
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace
{

const char kRegKey[] = "Software\\FixwiseTest\\OutOfMemory";

// Every file below dir with its bytes and stamp, and the test key's value.
std::map<std::string, std::string> snapshot(const std::string& dir)
{
    std::map<std::string, std::string> out;
    snapshotTree(dir, out);
    const RegValue v = readValue(HKEY_LOCAL_MACHINE, kRegKey, "Mode");
    out["registry"] = v.ok ? v.bytes : "<none>";
    return out;
}

TEST(OutOfMemory, MinusOneOnlyWhenNothingChanged)
{
    TempDir patch("oom-patch");
    TempDir inst("oom-inst");
    ScratchKey reg(HKEY_LOCAL_MACHINE, kRegKey);
    ScratchKey settings(HKEY_LOCAL_MACHINE, "Software\\Orvantis\\Pixora Patch");
    const std::string toolkit = inst / "VEXsoft\\PLUGINS12";
    const std::string program = inst / "Scanner";
    makeDirs(patch / "SOURCE");
    makeFile(patch / "SOURCE\\A.DLL", "anchor");
    makeFile(patch / "SOURCE\\B.DLL", "good b");
    makeFile(patch / "SOURCE\\C.EXE", "good c");
    writeFile(patch / "Update.src",
              languageHeader() + kProductHeader +
                  fileRecord("%VEXDIR%\\A.DLL", stampOf(patch / "SOURCE\\A.DLL")) +
                  fileRecord("%VEXDIR%\\B.DLL", stampOf(patch / "SOURCE\\B.DLL")) +
                  fileRecord("%APPDIR%\\C.EXE", stampOf(patch / "SOURCE\\C.EXE")) +
                  "RegValue=HKLM," + kRegKey + ",Mode=\"fast\"\n");
    writeFile(patch / "Resolve.src", std::string(kProductHeader) +
                                         "A.DLL=SOURCE\\A.DLL\nB.DLL=SOURCE\\B.DLL\n"
                                         "C.EXE=SOURCE\\C.EXE\n");
    CurrentDir cd(patch.path());

    // Runs until one completes without meeting a failed allocation: first
    // keeping nothing, every allocation in turn; then keeping what the run
    // changes (a run's folder made, and the last one removed, each time:
    // slower), every eighth.
    bool sawChange = false;
    for (const std::uint32_t keep : {0u, 1u}) {
        settings.setDword("KeepRuns", keep);
        for (long failFrom = 0; failFrom < 20000; failFrom += keep ? 8 : 1) {
            removeTree(inst.path());
            makeDirs(toolkit);
            makeDirs(program);
            makeFile(toolkit + "\\A.DLL", "anchor");
            makeFile(toolkit + "\\B.DLL", "bad b");
            makeFile(toolkit + "\\STRAY.TMP", "stray");
            makeFile(program + "\\C.EXE", "bad c");
            reg.remove();
            const auto before = snapshot(inst.path());
            InstallRecord record = makeRecord(program, toolkit);

            g_allocations = 0;
            g_failFrom = failFrom;
            const int result = RepairPixoraApp(&record);
            g_failFrom = -1;
            const bool exhausted = g_allocations <= failFrom;

            const auto after = snapshot(inst.path());
            if (result == kFailed) {
                EXPECT_EQ(after, before)
                    << "-1 after a change, allocation " << failFrom << " failing";
            }
            sawChange = sawChange || after != before;
            if (exhausted) {
                EXPECT_EQ(result, kOk);
                EXPECT_EQ(readFile(toolkit + "\\B.DLL"), "good b");
                EXPECT_FALSE(fileExists(toolkit + "\\STRAY.TMP"));
                break;
            }
        }
    }
    EXPECT_TRUE(sawChange);
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
