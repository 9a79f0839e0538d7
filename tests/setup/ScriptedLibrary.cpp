// A stand-in for Scoutex.dll and Mendex.dll whose results a test scripts.
//
// Copied beside the driver under test as "Scoutex.dll" or "Mendex.dll". It
// reads its script from files beside itself and notes every load, unload and
// call in "calls.txt" there:
//   search.txt  one line per call of IsOVPixoraSWInstalled:
//               result|productName|productVersion|timeHigh|timeLow
//               (result "throw" raises the driver's exception type,
//               "fault" writes through a null pointer, "abort" calls abort,
//               "terminate" throws where no handler can be found);
//               no line left: -12
//   repair.txt  the result of RepairPixoraApp (or a breakdown, as
//               above); a second
//               word "block" makes the call wait until the test releases it
//               (events FwTestRepairEntered / FwTestRepairRelease)
//   verify.txt  VerifyPixoraApp: the first line is its result (or a
//               breakdown, as above), every further line a line of its
//               report; no file: 0 with an empty report
//   undo.txt    UndoPixoraRun and UndoPixoraRunEx, as verify.txt: the
//               first line its result (or a breakdown), every further line
//               a line of its report; no file: 2 (no run to undo) with an
//               empty report
//   repairex.txt  RepairPixoraAppEx, in blocks, each a header line and the
//               lines of its report (tabs as the report has them) up to the
//               next header:
//                 find RESULT   the answer of one call with kRepairFindBusy:
//                               the first block for the first call, and so
//                               on (or a breakdown); a call beyond them: 0
//                 run RESULT RESTORED DELETED SCHEDULED FAILED
//                               any other call: its result (or a
//                               breakdown) and counts
//               without a run block (or the file): the other calls as
//               repair.txt says, counts zero, no report
// Built a second time without VerifyPixoraApp, UndoPixoraRun(Ex) and
// RepairPixoraAppEx, as an older Mendex.dll is (FW_SCRIPTED_WITHOUT_VERIFY).
#include "FwDialog.h"
#include "InstallRecord.h"
#include "Mendex.h"

#include <windows.h>

#include "Text.h"
#include "WinHandle.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// The older library has no .def file: its two exports are named here.
#ifdef FW_SCRIPTED_WITHOUT_VERIFY
#define SCRIPTED_EXPORT __declspec(dllexport)
#else
#define SCRIPTED_EXPORT
#endif

namespace
{

HINSTANCE g_self = nullptr;
int g_searchCalls = 0;

std::string besideMe(const char* name)
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(g_self, path, MAX_PATH);
    std::string s(path);
    return s.substr(0, s.rfind('\\') + 1) + name;
}

std::string myName()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(g_self, path, MAX_PATH);
    std::string s(path);
    return s.substr(s.rfind('\\') + 1);
}

void note(const std::string& line)
{
    std::FILE* f = std::fopen(besideMe("calls.txt").c_str(), "ab");
    if (!f)
        return;
    std::fprintf(f, "%s\n", line.c_str());
    std::fclose(f);
}

std::string readLine(const char* file, int index)
{
    std::FILE* f = std::fopen(besideMe(file).c_str(), "rb");
    if (!f)
        return "";
    char line[1024];
    std::string found;
    for (int i = 0; std::fgets(line, sizeof line, f); ++i)
        if (i == index) {
            found = line;
            break;
        }
    std::fclose(f);
    while (!found.empty() && (found.back() == '\n' || found.back() == '\r'))
        found.pop_back();
    return found;
}

#ifndef FW_SCRIPTED_WITHOUT_VERIFY
// Every line of file, without its line end; none when it is missing.
std::vector<std::string> readLines(const char* file)
{
    std::vector<std::string> out;
    std::FILE* f = std::fopen(besideMe(file).c_str(), "rb");
    if (!f)
        return out;
    char line[1024];
    while (std::fgets(line, sizeof line, f)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        out.push_back(text);
    }
    std::fclose(f);
    return out;
}
#endif

std::string field(const std::string& line, int index)
{
    std::size_t start = 0;
    for (int i = 0; i < index; ++i) {
        start = line.find('|', start);
        if (start == std::string::npos)
            return "";
        ++start;
    }
    return line.substr(start, line.find('|', start) - start);
}

void raise()
{
    throw new FwException;
}

// What every throw of a library comes to on the 32-bit build, where the
// unwinder of the library finds no frame beyond it: std::terminate.
void raiseWithoutHandler() noexcept
{
    raise();
}

// The ways a library can break down instead of returning.
void breakDown(const std::string& how)
{
    if (how == "throw")
        raise();
    if (how == "terminate")
        raiseWithoutHandler();
    if (how == "fault") {
        volatile int* volatile nowhere = nullptr;
        *nowhere = 1;
    }
    if (how == "abort")
        std::abort();
}

bool allZero(const InstallRecord* r)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(r);
    for (std::size_t i = 0; i < sizeof *r; ++i)
        if (p[i])
            return false;
    return true;
}

} // namespace

extern "C" SCRIPTED_EXPORT int IsOVPixoraSWInstalled(InstallRecord* record)
{
    const std::string line = readLine("search.txt", g_searchCalls++);
    note(std::string("search ") + (record && allZero(record) ? "zeroed" : "dirty"));
    if (line.empty())
        return -12;
    breakDown(field(line, 0));
    const int result = std::atoi(field(line, 0).c_str());
    if (record && result == 0) {
        const std::string name = field(line, 1);
        const std::string version = field(line, 2);
        std::snprintf(record->productName, sizeof record->productName, "%s", name.c_str());
        std::snprintf(record->productVersion, sizeof record->productVersion, "%s", version.c_str());
        std::snprintf(record->programDir, sizeof record->programDir, "C:\\%s\\%s", name.c_str(),
                      version.c_str());
        std::snprintf(record->toolkitDir, sizeof record->toolkitDir, "tk-%s", version.c_str());
        std::snprintf(record->pluginDir, sizeof record->pluginDir, "pl-%s", version.c_str());
        std::snprintf(record->toolkitVersion, sizeof record->toolkitVersion, "tv-%s",
                      version.c_str());
        std::snprintf(record->ocrPath, sizeof record->ocrPath, "ocr-%s", version.c_str());
        record->ocrLanguage = 7;
        record->toolkitBuild = 8;
        record->usageCount = 9;
        record->installTimeHigh = std::strtoul(field(line, 3).c_str(), nullptr, 0);
        record->installTimeLow = std::strtoul(field(line, 4).c_str(), nullptr, 0);
    }
    return result;
}

namespace
{

// The call of RepairPixoraApp as repair.txt scripts it.
int scriptedRepair()
{
    const std::string script = readLine("repair.txt", 0);
    if (script.find("block") != std::string::npos) {
        UniqueKernelHandle entered(CreateEventA(nullptr, TRUE, FALSE, "FwTestRepairEntered"));
        UniqueKernelHandle release(CreateEventA(nullptr, TRUE, FALSE, "FwTestRepairRelease"));
        SetEvent(entered.get());
        WaitForSingleObject(release.get(), 20000);
        note("repair returns");
    }
    breakDown(script.substr(0, script.find(' ')));
    return std::atoi(script.c_str());
}

} // namespace

extern "C" SCRIPTED_EXPORT int RepairPixoraApp(InstallRecord* record)
{
    char line[1400];
    std::snprintf(line, sizeof line, "repair %s|%s|%s|%lu:%lu|scoutex loaded=%d",
                  record->productName, record->productVersion, record->programDir,
                  static_cast<unsigned long>(record->installTimeHigh),
                  static_cast<unsigned long>(record->installTimeLow),
                  GetModuleHandleA("Scoutex.dll") != nullptr ? 1 : 0);
    note(line);
    return scriptedRepair();
}

#ifndef FW_SCRIPTED_WITHOUT_VERIFY
extern "C" int VerifyPixoraApp(const InstallRecord* record, char* report, int capacity)
{
    char line[1400];
    std::snprintf(line, sizeof line, "verify %s|%s|%s|capacity=%d", record->productName,
                  record->productVersion, record->programDir, capacity);
    note(line);
    const std::vector<std::string> script = readLines("verify.txt");
    if (script.empty())
        return 0;
    breakDown(script[0]);
    if (report && capacity > 0) {
        std::string text;
        for (std::size_t i = 1; i < script.size(); ++i)
            text += script[i] + "\n";
        copyText(report, static_cast<std::size_t>(capacity), text.c_str());
    }
    return std::atoi(script[0].c_str());
}

namespace
{

int scriptedUndo(const std::string& call, char* report, int capacity)
{
    note(call + "|scoutex loaded=" + (GetModuleHandleA("Scoutex.dll") != nullptr ? "1" : "0"));
    const std::vector<std::string> script = readLines("undo.txt");
    if (script.empty())
        return 2;
    breakDown(script[0]);
    if (report && capacity > 0) {
        std::string text;
        for (std::size_t i = 1; i < script.size(); ++i)
            text += script[i] + "\n";
        copyText(report, static_cast<std::size_t>(capacity), text.c_str());
    }
    return std::atoi(script[0].c_str());
}

} // namespace

extern "C" int UndoPixoraRun(const char* run, int options, char* report, int capacity)
{
    char line[1400];
    std::snprintf(line, sizeof line, "undo %s|options=%d|capacity=%d", run ? run : "<null>",
                  options, capacity);
    return scriptedUndo(line, report, capacity);
}

// The installations given are noted as "NAME\VERSION in DIR", one after
// another.
extern "C" int UndoPixoraRunEx(const char* run, int options, const InstallRecord* installations,
                               int count, char* report, int capacity)
{
    char line[1400];
    std::snprintf(line, sizeof line, "undoex %s|options=%d|capacity=%d|count=%d",
                  run ? run : "<null>", options, capacity, count);
    std::string call = line;
    for (int i = 0; installations && i < count; ++i)
        call += std::string("|") + installations[i].productName + "\\" +
                installations[i].productVersion + " in " + installations[i].programDir;
    return scriptedUndo(call, report, capacity);
}
#endif

#ifndef FW_SCRIPTED_WITHOUT_VERIFY
extern "C" int RepairPixoraAppEx(InstallRecord* record, int options, RepairCounts* counts,
                                 char* report, int capacity)
{
    char line[1400];
    std::snprintf(line, sizeof line,
                  "repairex options=%d|%s|%s|%s|%lu:%lu|capacity=%d|scoutex loaded=%d", options,
                  record->productName, record->productVersion, record->programDir,
                  static_cast<unsigned long>(record->installTimeHigh),
                  static_cast<unsigned long>(record->installTimeLow), capacity,
                  GetModuleHandleA("Scoutex.dll") != nullptr ? 1 : 0);
    note(line);
    if (counts)
        *counts = RepairCounts{};
    if (report && capacity > 0)
        report[0] = '\0';
    // The block of this call: the n-th "find" block, or the "run" block.
    const bool find = (options & kRepairFindBusy) != 0;
    const std::string header = find ? "find" : "run";
    static int findCalls = 0;
    const int wanted = find ? findCalls++ : 0;
    const std::vector<std::string> script = readLines("repairex.txt");
    std::size_t at = 0;
    for (int seen = 0; at < script.size(); ++at)
        if (script[at].rfind(header + " ", 0) == 0 && seen++ == wanted)
            break;
    if (at == script.size())
        return find ? 0 : scriptedRepair();
    std::string text;
    for (std::size_t i = at + 1; i < script.size(); ++i) {
        if (script[i].rfind("find ", 0) == 0 || script[i].rfind("run ", 0) == 0)
            break;
        text += script[i] + "\n";
    }
    char result[64] = {};
    RepairCounts done{};
    std::sscanf(script[at].c_str() + header.size() + 1, "%63s %d %d %d %d", result, &done.restored,
                &done.deleted, &done.scheduled, &done.failed);
    breakDown(result);
    if (counts && !find)
        *counts = done;
    if (report && capacity > 0)
        copyText(report, static_cast<std::size_t>(capacity), text.c_str());
    return std::atoi(result);
}
#endif

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        g_self = self;
        note("load " + myName());
    } else if (reason == DLL_PROCESS_DETACH) {
        note("unload " + myName());
    }
    return TRUE;
}
