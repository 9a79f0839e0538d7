// fixwise undo [--list] [--json] [--dry-run] [--force] [--record FIELD=VALUE]... [RUN]:
// on the patched machine, lists the runs that the update kept, or puts back
// what one of them changed (default: the newest not yet undone), through
// Mendex.dll beside the tool, as Setup /undo does. A run is undone only
// within the installation of its product as Scoutex.dll finds it now with
// the data files of the current folder (or as --record gives it).
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
#include "Installations.h"
#include "Mendex.h"
#include "ResultCodes.h"
#include "WinHandle.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace
{

const std::string kUsage = std::string("usage: fixwise undo [--list] [--json] [--dry-run] "
                                       "[--force] [--record FIELD=VALUE]... [RUN]\n") +
                           kRecordFields;
// Room for the report of a run of many thousand files.
constexpr int kReportSize = 32 << 20;

} // namespace

int runUndo(int argc, char** argv)
{
    int options = 0;
    std::string run;
    bool byHand = false;
    InstallRecord record{};
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--record" && i + 1 < argc) {
            if (!takeRecordField("undo", argv[++i], record)) {
                std::fputs(kUsage.c_str(), stderr);
                return kExitCannotRun;
            }
            byHand = true;
        } else if (arg == "--list")
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
            std::fprintf(stderr, "fixwise undo: unknown argument '%s'\n%s", arg.c_str(),
                         kUsage.c_str());
            return kExitCannotRun;
        }
    }
    if ((options & kUndoList) && (!run.empty() || (options & (kUndoDryRun | kUndoForce)))) {
        std::fprintf(stderr, "fixwise undo: --list takes no run, --dry-run or --force\n%s",
                     kUsage.c_str());
        return kExitCannotRun;
    }
    if (byHand && !recordHasProduct("undo", record))
        return kExitCannotRun;
    // The installations that a run must lie within: a list without them
    // shows the runs without that verdict.
    std::vector<InstallRecord> found;
    std::size_t chosen = 0;
    bool searched = true;
    if (byHand)
        found.push_back(record);
    else if (!findInstallations("undo", found, chosen)) {
        if (!(options & kUndoList)) {
            std::fprintf(stderr, "fixwise undo: a run is undone only within the installation "
                                 "found now: run it in the patch's folder (libdata.src, "
                                 "Update.src), or give the installation with --record\n");
            return kExitCannotRun;
        }
        searched = false;
    }
    const std::string path = hostPath(programFolder(), "Mendex.dll");
    UniqueModule mendex(LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    const auto undo = findExport<UndoPixoraRunExFn>(mendex.get(), "UndoPixoraRunEx");
    const auto list = findExport<UndoPixoraRunFn>(mendex.get(), "UndoPixoraRun");
    if (!undo || !list) {
        std::fprintf(stderr, "fixwise undo: cannot use %s (missing, or without undo)\n",
                     path.c_str());
        return kExitCannotRun;
    }
    std::vector<char> report(kReportSize);
    const char* const name = run.empty() ? nullptr : run.c_str();
    const int result = searched ? undo(name, options, found.data(), static_cast<int>(found.size()),
                                       report.data(), kReportSize)
                                : list(name, options, report.data(), kReportSize);
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
