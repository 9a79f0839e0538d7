// Times RepairPixoraApp on an installation of N program files against the
// bare system calls that the same work needs at least:
//   (a) every file correct: the run against FindFirstFileA over the paths;
//   (b) every file wrong:   the run against CopyFileA of the same sources.
// Usage: mendex_bench [N ...]   (default: 1000 10000)
#include "CleanUp.h"
#include "FindExport.h"
#include "InstallRecord.h"
#include "Mendex.h"
#include "LineReader.h"
#include "ResolveList.h"
#include "UpdateScript.h"
#include "WinTestSupport.h"

#include <imagehlp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace wintest;

namespace
{

const char kProduct[] = "Bench Suite";
const char kVersion[] = "1.0";
const std::size_t kFileSize = 4096;

double now()
{
    static LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(freq.QuadPart);
}

std::string fileName(int i)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "F%05d.DLL", i);
    return buf;
}

void fail(const char* what)
{
    std::fprintf(stderr, "mendex_bench: %s (error %lu)\n", what, GetLastError());
    std::exit(1);
}

// Makes every installed file wrong: other contents, other size.
void spoil(const std::vector<std::string>& targets)
{
    for (const auto& t : targets)
        writeFile(t, "wrong");
}

// The number of runs kept (KeepRuns): 0 switches the backup off.
void keepRuns(DWORD count)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Orvantis\\Pixora Patch", 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS ||
        RegSetValueExA(key, "KeepRuns", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count),
                       sizeof count) != ERROR_SUCCESS)
        fail("cannot set KeepRuns");
    RegCloseKey(key);
}

void bench(int n, RepairPixoraAppFn repair)
{
    const std::string root = "C:\\fwbench-" + std::to_string(GetCurrentProcessId());
    removeTree(root);
    const std::string patch = root + "\\patch";
    const std::string toolkit = root + "\\inst\\VEXsoft\\PLUGINS12";
    makeDirs(patch + "\\SOURCE");
    makeDirs(toolkit);

    char lang[16];
    std::snprintf(lang, sizeof lang, "[%x]\n", GetSystemDefaultLangID());
    std::string script = std::string(lang) + "[" + kProduct + "\\" + kVersion + "]\n";
    std::string resolve = std::string("[") + kProduct + "\\" + kVersion + "]\n";
    std::vector<std::string> sources, targets;
    const std::string bytes(kFileSize, 'b');
    for (int i = 0; i < n; ++i) {
        const std::string name = fileName(i);
        sources.push_back(patch + "\\SOURCE\\" + name);
        targets.push_back(toolkit + "\\" + name);
        writeFile(sources.back(), bytes);
        WIN32_FILE_ATTRIBUTE_DATA d;
        GetFileAttributesExA(sources.back().c_str(), GetFileExInfoStandard, &d);
        char line[256];
        std::snprintf(line, sizeof line, "File=%%VEXDIR%%\\%s,size:%lX-%lX,time:%lX-%lX\n",
                      name.c_str(), d.nFileSizeHigh, d.nFileSizeLow,
                      d.ftLastWriteTime.dwHighDateTime, d.ftLastWriteTime.dwLowDateTime);
        script += line;
        resolve += name + "=SOURCE\\" + name + "\n";
    }
    writeFile(patch + "\\Update.src", script);
    writeFile(patch + "\\Resolve.src", resolve);
    const std::string previous = [] {
        char buf[MAX_PATH];
        GetCurrentDirectoryA(sizeof buf, buf);
        return std::string(buf);
    }();
    SetCurrentDirectoryA(patch.c_str());

    InstallRecord record;
    auto freshRecord = [&] {
        std::memset(&record, 0, sizeof record);
        std::snprintf(record.productName, sizeof record.productName, "%s", kProduct);
        std::snprintf(record.productVersion, sizeof record.productVersion, "%s", kVersion);
        std::snprintf(record.programDir, sizeof record.programDir, "%s\\inst\\Scanner",
                      root.c_str());
        std::snprintf(record.toolkitVersion, sizeof record.toolkitVersion, "1.2");
    };

    // Each figure is the best of a few rounds (the machine is shared).
    const int rounds = n <= 2000 ? 3 : 1;
    double bareFind = 1e9, runCorrect = 1e9, bareCopy = 1e9, bareTempCopy = 1e9, scratchCopy = 1e9,
           walk = 1e9, runWrong = 1e9, resolveScans = 1e9, resolveLookups = 1e9, cleanUp = 1e9,
           bareAttributes = 1e9, bareSafe = 1e9, runCorrectOff = 1e9, runWrongOff = 1e9;
    const std::string productKey = std::string(kProduct) + "\\" + kVersion;
    std::vector<FileEntry> entries(n);
    for (int i = 0; i < n; ++i) {
        std::memset(&entries[i], 0, sizeof entries[i]);
        std::snprintf(entries[i].path, sizeof entries[i].path, "%s", targets[i].c_str());
    }
    int ra = 0, rb = 0;
    auto best = [](double& slot, double t0) {
        const double t = now() - t0;
        if (t < slot)
            slot = t;
    };
    for (int round = 0; round < rounds; ++round) {
        // (a) every file correct.
        for (int i = 0; i < n; ++i)
            if (!CopyFileA(sources[i].c_str(), targets[i].c_str(), FALSE))
                fail("cannot lay out the installation");
        double t0 = now();
        for (const auto& t : targets) {
            WIN32_FIND_DATAA fd;
            HANDLE h = FindFirstFileA(t.c_str(), &fd);
            if (h == INVALID_HANDLE_VALUE)
                fail("bare lookup failed");
            FindClose(h);
        }
        best(bareFind, t0);
        t0 = now();
        for (const auto& t : targets) {
            WIN32_FILE_ATTRIBUTE_DATA data;
            if (!GetFileAttributesExA(t.c_str(), GetFileExInfoStandard, &data))
                fail("bare attribute lookup failed");
        }
        best(bareAttributes, t0);
        keepRuns(0);
        freshRecord();
        t0 = now();
        ra = repair(&record);
        best(runCorrectOff, t0);
        keepRuns(1);
        freshRecord();
        t0 = now();
        ra = repair(&record);
        best(runCorrect, t0);

        // (b) every file wrong.
        spoil(targets);
        t0 = now();
        for (int i = 0; i < n; ++i)
            if (!CopyFileA(sources[i].c_str(), targets[i].c_str(), FALSE))
                fail("bare copy failed");
        best(bareCopy, t0);
        // Backup off, then on (the run before it removed at its start, as
        // a run does once the runs kept are many enough).
        spoil(targets);
        keepRuns(0);
        freshRecord();
        t0 = now();
        rb = repair(&record);
        best(runWrongOff, t0);
        spoil(targets);
        keepRuns(1);
        freshRecord();
        t0 = now();
        rb = repair(&record);
        best(runWrong, t0);

        // Where the run's time goes beyond the bare copies: the same copies
        // made through a temporary file beside the target, and one walk of
        // C: for a name that is nowhere (the anchor's drive search).
        spoil(targets);
        t0 = now();
        for (int i = 0; i < n; ++i) {
            const std::string temp = targets[i] + ".~mdx";
            if (!CopyFileA(sources[i].c_str(), temp.c_str(), FALSE) ||
                !MoveFileExA(temp.c_str(), targets[i].c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
                fail("bare copy through a temporary file failed");
        }
        best(bareTempCopy, t0);
        // The same through a scratch folder beside the targets, as the run
        // makes them: a new name in a small folder, moved over the target.
        spoil(targets);
        t0 = now();
        const std::string scratch = toolkit + "\\~mdx.dir";
        const std::string scratchTemp = scratch + "\\~mdx.tmp";
        if (!CreateDirectoryA(scratch.c_str(), nullptr))
            fail("cannot make the scratch folder");
        for (int i = 0; i < n; ++i) {
            if (!CopyFileA(sources[i].c_str(), scratchTemp.c_str(), FALSE) ||
                !MoveFileExA(scratchTemp.c_str(), targets[i].c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
                fail("copy through the scratch folder failed");
        }
        RemoveDirectoryA(scratch.c_str());
        best(scratchCopy, t0);
        // The safe restore itself: a copy to a fresh name, flushed, moved
        // over the target with write-through.
        spoil(targets);
        t0 = now();
        for (int i = 0; i < n; ++i) {
            const std::string temp = targets[i] + ".~mdx";
            if (!CopyFileA(sources[i].c_str(), temp.c_str(), TRUE))
                fail("safe copy failed");
            HANDLE h = CreateFileA(temp.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h == INVALID_HANDLE_VALUE || !FlushFileBuffers(h))
                fail("flush failed");
            CloseHandle(h);
            if (!MoveFileExA(temp.c_str(), targets[i].c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
                fail("safe move failed");
        }
        best(bareSafe, t0);
        t0 = now();
        char walkRoot[] = "C:\\";
        char nowhere[] = "NOWHERE.NOT";
        char found[MAX_PATH + 1];
        SearchTreeForFile(walkRoot, nowhere, found);
        best(walk, t0);

        // The resolve list: one scan from its start per file, as one lookup
        // alone does, against the run's lookups answered from one reading.
        t0 = now();
        char source[512];
        for (int i = 0; i < n; ++i) {
            UniqueStdFile list = openDataFile(kResolveListName);
            if (!list)
                fail("no resolve list");
            LineReader reader(list.get());
            lookupResolveSource(reader, productKey.c_str(), fileName(i).c_str(), source,
                                sizeof source);
        }
        best(resolveScans, t0);
        t0 = now();
        {
            ResolveList list;
            for (int i = 0; i < n; ++i)
                list.lookup(productKey.c_str(), fileName(i).c_str(), source, sizeof source);
        }
        best(resolveLookups, t0);
        // The clean-up: every file of the toolkit directory against the
        // listed paths.
        t0 = now();
        if (cleanPluginDirectory(toolkit.c_str(), entries) != 0)
            fail("clean-up failed");
        best(cleanUp, t0);
    }

    SetCurrentDirectoryA(previous.c_str());
    removeTree(root);

    std::printf("N = %d (files of %u bytes)\n", n, static_cast<unsigned>(kFileSize));
    std::printf("  (a) all correct: run %.3f s (result %d), bare FindFirstFileA %.3f s, "
                "ratio %.2f\n",
                runCorrect, ra, bareFind, runCorrect / bareFind);
    std::printf("      backup on %.3f s, off %.3f s, ratio %.2f\n", runCorrect, runCorrectOff,
                runCorrect / runCorrectOff);
    std::printf("      of which the clean-up %.3f s\n", cleanUp);
    std::printf("      bare GetFileAttributesExA %.3f s, ratio %.2f\n", bareAttributes,
                runCorrect / bareAttributes);
    std::printf("  (b) all wrong:   run %.3f s (result %d), bare CopyFileA %.3f s, "
                "ratio %.2f\n",
                runWrong, rb, bareCopy, runWrong / bareCopy);
    std::printf("      backup on %.3f s, off %.3f s, ratio %.2f\n", runWrong, runWrongOff,
                runWrong / runWrongOff);
    std::printf("      of which: copies through a scratch folder %.3f s, resolve lookups "
                "%.3f s, clean-up %.3f s, one walk of C: %.3f s\n",
                scratchCopy, resolveLookups, cleanUp, walk);
    std::printf("      run against the copies through a scratch folder: ratio %.2f\n",
                runWrong / scratchCopy);
    std::printf("      bare safe restore (fresh name, flush, write-through move) %.3f s, "
                "ratio %.2f\n",
                bareSafe, runWrong / bareSafe);
    std::printf("      for comparison: copies through a temporary file beside the target "
                "%.3f s, one resolve list scan per file %.3f s\n",
                bareTempCopy, resolveScans);
    std::fflush(stdout);
}

} // namespace

// What the machine keeps once the benchmark is done.
const DWORD kDefaultKeepRunsForBench = 5;

int main(int argc, char** argv)
{
    UniqueModule lib(LoadLibraryA((exeDir() + "Mendex.dll").c_str()));
    if (!lib)
        fail("Mendex.dll did not load");
    auto repair = findExport<RepairPixoraAppFn>(lib.get(), "RepairPixoraApp");
    if (!repair)
        fail("RepairPixoraApp not found");
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i)
        sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty())
        sizes = {1000, 10000};
    for (int n : sizes)
        if (n > 0 && n < 100000)
            bench(n, repair);
    keepRuns(kDefaultKeepRunsForBench);
    return 0;
}
