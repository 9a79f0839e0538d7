// fixwise undo [--list] [--json] [--dry-run] [--force] [RUN]: on the patched
// machine, lists the runs that the update kept, or puts back what one of
// them changed (default: the newest not yet undone), through Mendex.dll
// beside the tool, as Setup /undo does.
#include "Commands.h"

#ifndef _WIN32

#include <cstdio>

int runUndo(int, char**)
{
    std::fprintf(stderr, "fixwise undo: runs on the Windows machine that was patched\n");
    return kExitCannotRun;
}

#else

#include "FileFacts.h"
#include "FindExport.h"
#include "Mendex.h"
#include "ResultCodes.h"
#include "WinHandle.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace
{

const char kUsage[] = "usage: fixwise undo [--list] [--json] [--dry-run] [--force] [RUN]\n";
// Room for the report of a run of many thousand files.
constexpr int kReportSize = 32 << 20;

} // namespace

int runUndo(int argc, char** argv)
{
    int options = 0;
    std::string run;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--list")
            options |= kUndoList;
        else if (arg == "--json")
            options |= kUndoJson;
        else if (arg == "--dry-run")
            options |= kUndoDryRun;
        else if (arg == "--force")
            options |= kUndoForce;
        else if (!arg.empty() && arg[0] != '-' && run.empty())
            run = arg;
        else {
            std::fprintf(stderr, "fixwise undo: unknown argument '%s'\n%s", arg.c_str(), kUsage);
            return kExitCannotRun;
        }
    }
    if ((options & kUndoList) && (!run.empty() || (options & (kUndoDryRun | kUndoForce)))) {
        std::fprintf(stderr, "fixwise undo: --list takes no run, --dry-run or --force\n%s", kUsage);
        return kExitCannotRun;
    }
    const std::string path = hostPath(programFolder(), "Mendex.dll");
    UniqueModule mendex(LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    const auto undo = findExport<UndoPixoraRunFn>(mendex.get(), "UndoPixoraRun");
    if (!undo) {
        std::fprintf(stderr, "fixwise undo: cannot use %s (missing, or without undo)\n",
                     path.c_str());
        return kExitCannotRun;
    }
    std::vector<char> report(kReportSize);
    const int result =
        undo(run.empty() ? nullptr : run.c_str(), options, report.data(), kReportSize);
    std::fputs(report.data(), result == kUndoNothing ? stderr : stdout);
    switch (result) {
    case kUndoDone:
        return kExitClean;
    case kUndoNothing:
        return kExitCannotRun;
    default:
        return kExitErrors;
    }
}

#endif
