// fixwise plan [--json] [--record FIELD=VALUE]...: on the machine to be
// patched, with the data files in the current folder, shows what an update
// run would do to the newest installation (found through Scoutex.dll beside
// the tool, as Setup finds it), changing nothing. The decisions shown are
// the run's own (planRun); after a run the plan is its verification.
#include "Commands.h"

#ifndef _WIN32

#include <cstdio>

int runPlan(int, char**)
{
    std::fprintf(stderr, "fixwise plan: runs on the Windows machine to be patched\n");
    return kExitCannotRun;
}

#else

#include "AnsiText.h"
#include "FileFacts.h"
#include "InstallRecord.h"
#include "Installations.h"
#include "RegistryWriter.h"
#include "ResultCodes.h"
#include "RunPlan.h"
#include "RunRecord.h"
#include "Text.h"
#include "WinHandle.h"

#include <nlohmann/json.hpp>

#include <windows.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace
{

const std::string kUsage =
    std::string("usage: fixwise plan [--json] [--record FIELD=VALUE]...\n") + kRecordFields;

struct Options {
    bool json = false;
    bool byHand = false;
    InstallRecord record{};
};

bool parseOptions(int argc, char** argv, Options& options)
{
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--json") {
            options.json = true;
        } else if (arg == "--record" && i + 1 < argc) {
            if (!takeRecordField("plan", argv[++i], options.record))
                return false;
            options.byHand = true;
        } else {
            std::fprintf(stderr, "fixwise plan: unknown argument '%s'\n", arg.c_str());
            return false;
        }
    }
    return !options.byHand || recordHasProduct("plan", options.record);
}

// A FILETIME count as "YYYY-MM-DD hh:mm:ss.fffffff" (UTC).
std::string timeText(std::uint64_t time)
{
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(time);
    ft.dwHighDateTime = static_cast<DWORD>(time >> 32);
    SYSTEMTIME st;
    char buf[64];
    if (!FileTimeToSystemTime(&ft, &st))
        std::snprintf(buf, sizeof buf, "time %" PRIu64, time);
    else
        std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u.%07u", st.wYear, st.wMonth,
                      st.wDay, st.wHour, st.wMinute, st.wSecond,
                      static_cast<unsigned>(time % 10000000u));
    return buf;
}

std::string stampText(const FileStamp& s)
{
    return std::to_string(s.size) + " bytes, " + timeText(s.time);
}

// How a restore's source stands: its name in JSON, and why it cannot be
// restored (null when it can).
struct SourceText {
    SourceState state;
    const char* name;
    const char* problem;
};
const SourceText kSourceTexts[] = {
    {SourceState::Good, "good", nullptr},
    {SourceState::NoLine, "no-resolve-line", "no resolve line"},
    {SourceState::Missing, "missing", "source missing"},
    {SourceState::Differs, "differs", "source does not match the script"},
    {SourceState::IsTarget, "is-target", "source is the target itself"},
};

const SourceText& sourceText(SourceState state)
{
    for (const SourceText& t : kSourceTexts)
        if (t.state == state)
            return t;
    return kSourceTexts[1];
}

const char* sourceProblem(SourceState state)
{
    return sourceText(state).problem;
}

// Why a planned restore cannot be made; nullptr when it can.
const char* restoreProblem(const PlannedFile& f)
{
    if (f.folderLink)
        return "its folder is a link (a junction or symbolic link), not a folder of its own";
    return sourceProblem(f.sourceState);
}

const char* sourceName(SourceState state)
{
    return sourceText(state).name;
}

// The rsync-like code of a restore: ">f" then "+" for a missing file, or
// "s" and "t" for a differing size and time ("." when equal).
std::string restoreCode(const PlannedFile& f)
{
    if (!f.exists)
        return ">f+++";
    std::string code = ">f";
    code += f.actual.size != f.expected().size ? 's' : '.';
    code += f.actual.time != f.expected().time ? 't' : '.';
    code += '.';
    return code;
}

std::string dataText(std::uint32_t type, const std::string& bytes)
{
    char buf[64];
    if (type == REG_DWORD && bytes.size() == 4) {
        std::uint32_t v = 0;
        std::memcpy(&v, bytes.data(), 4);
        std::snprintf(buf, sizeof buf, "REG_DWORD 0x%08" PRIx32, v);
        return buf;
    }
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        std::string text(bytes.c_str());
        return std::string(type == REG_SZ ? "REG_SZ" : "REG_EXPAND_SZ") + " \"" + text + "\"";
    }
    std::snprintf(buf, sizeof buf, "type %" PRIu32 ", %zu bytes", type, bytes.size());
    return buf;
}

std::string installationText(const InstallRecord& r)
{
    return std::string(r.productName) + "\\" + r.productVersion + " in " + r.programDir;
}

// Where and how the run keeps what it changes.
struct Keeping {
    std::uint32_t keep = 0;
    std::string runs;
    std::vector<BackupCopies> copies;
    std::string refused; // why the runs' folders are not used: the run then changes nothing
};

Keeping keepingOf(const RunPlan& plan)
{
    Keeping k;
    k.keep = keepRunsSetting();
    k.runs = runsFolder();
    if (k.keep > 0) {
        k.copies = backupCopies(plan, k.runs);
        const std::string why = whyRunsUntrusted(k.runs);
        if (!why.empty())
            k.refused = refusalText(why);
    }
    return k;
}

void printText(const RunPlan& plan, const std::vector<InstallRecord>& others)
{
    const InstallRecord& r = plan.record;
    std::printf("installation: %s\n", installationText(r).c_str());
    for (const InstallRecord& other : others)
        std::printf("also found:   %s\n", installationText(other).c_str());
    bool relocated = false;
    for (const PlannedFile& f : plan.files)
        relocated = relocated || f.relocatesToolkit;
    std::printf("toolkit:      %s%s\n", r.toolkitDir,
                relocated             ? " (the anchor was found there)"
                : plan.derivedToolkit ? " (derived)"
                                      : "");
    std::printf("ocr:          %s%s\n", r.ocrPath, plan.derivedOcr ? " (derived)" : "");
    for (const PassedCopy& copy : plan.passedOver)
        std::printf("~a    %s\n      passed over: %s\n", copy.path.c_str(), copy.why.c_str());
    const Keeping keeping = keepingOf(plan);
    if (plan.changeCount() > 0 && keeping.keep == 0)
        std::printf("keeps:        nothing: KeepRuns is 0, the run cannot be undone\n");
    else if (plan.changeCount() > 0 && !keeping.refused.empty())
        std::printf("keeps:        nothing, and so the run changes nothing: %s\n",
                    keeping.refused.c_str());
    else if (plan.changeCount() > 0) {
        std::printf("keeps:        what it changes, in a new run folder of %s (the newest %u "
                    "kept; fixwise undo puts it back)\n",
                    keeping.runs.c_str(), static_cast<unsigned>(keeping.keep));
        for (const BackupCopies& c : keeping.copies)
            std::printf("              copies %zu file(s), %" PRIu64 " bytes, from %s\n", c.files,
                        c.bytes, c.volume.c_str());
    }

    for (const PlannedFile& f : plan.files) {
        if (!f.restore)
            continue;
        const char* problem = f.inUse ? "in use" : restoreProblem(f);
        if (f.inUse)
            std::printf("!f    %s in use by %s\n", f.entry.path, holderText(f.holders).c_str());
        else
            std::printf("%s %s\n", problem ? "!f   " : restoreCode(f).c_str(), f.entry.path);
        std::printf("      expected %s; %s\n", stampText(f.expected()).c_str(),
                    f.exists ? ("found " + stampText(f.actual)).c_str() : "missing");
        if (f.inUse)
            std::printf("      Setup replaces it at the next restart, from %s\n", f.source.c_str());
        else if (problem)
            std::printf("      cannot be restored: %s%s%s\n", problem, f.source.empty() ? "" : ", ",
                        f.source.c_str());
        else
            std::printf("      from %s\n", f.source.c_str());
    }
    for (std::size_t i = 0; i < plan.cleanup.deletes.size(); ++i)
        if (plan.cleanup.holders[i].empty())
            std::printf("*deleting %s\n", plan.cleanup.deletes[i].c_str());
        else
            std::printf("*deleting %s in use by %s: Setup deletes it at the next restart\n",
                        plan.cleanup.deletes[i].c_str(),
                        holderText(plan.cleanup.holders[i]).c_str());
    for (const PendingRename& p : plan.pending)
        std::printf(">f~   %s %s at the next restart\n",
                    p.to.empty() ? p.from.c_str() : p.to.c_str(),
                    p.to.empty() ? "deleted" : "replaced");
    if (plan.hasFiles && plan.cleanup.result != kOk)
        std::printf("!d    %s\n      clean-up %s\n", plan.cleanup.directory.c_str(),
                    plan.cleanup.result == kNotOnDisk ? "cannot list the folder"
                    : plan.cleanup.seen.link
                        ? "refused: the folder is a link (a junction or symbolic link); "
                          "the clean-up works only in a folder of its own"
                    : plan.cleanup.toolkitFolder ? "refused: not a toolkit folder"
                    : plan.cleanup.onlyPatchFiles
                        ? "refused: the only files listed in it that it holds are those that "
                          "earlier runs of the patch created there, so it is not known to be "
                          "the toolkit folder"
                        : "refused: it holds none of the files listed in it, so it is not "
                          "known to be the toolkit folder");
    if (plan.hasFiles && !plan.cleanup.toolkitFolder && plan.cleanup.restoresInto > 0)
        std::printf("      the run restores %zu file(s) into it all the same\n",
                    plan.cleanup.restoresInto);
    for (const PlannedValue& v : plan.registry) {
        if (!v.changes)
            continue;
        std::printf("%s %s\n", v.current.exists ? ">rc  " : ">r+  ", valuePathOf(v.entry).c_str());
        if (v.current.exists)
            std::printf("      now %s\n", dataText(v.current.type, v.current.bytes).c_str());
        std::printf("      new %s\n", dataText(v.wanted.type, v.wanted.bytes).c_str());
    }
    const std::size_t n = plan.changeCount();
    if (plan.matches())
        std::printf("nothing to do: the installation matches\n");
    else if (n == 0 && !plan.pending.empty())
        std::printf("nothing to change, but the installation does not match until the next "
                    "restart\n");
    else if (n == 0)
        std::printf("nothing to change, but the installation does not match: its clean-up "
                    "cannot run\n");
    else
        std::printf("%zu change(s)\n", n);
}

nlohmann::json holdersJson(const std::vector<std::string>& holders)
{
    nlohmann::json j = nlohmann::json::array();
    for (const std::string& h : holders)
        j.push_back(utf8(h));
    return j;
}

nlohmann::json stampJson(const FileStamp& s)
{
    return {{"size", s.size}, {"time", s.time}, {"timeText", timeText(s.time)}};
}

nlohmann::json recordJson(const InstallRecord& r)
{
    return {{"product", utf8(std::string(r.productName) + "\\" + r.productVersion)},
            {"programDir", utf8(r.programDir)},
            {"toolkitDir", utf8(r.toolkitDir)},
            {"toolkitVersion", utf8(r.toolkitVersion)},
            {"ocrPath", utf8(r.ocrPath)},
            {"pluginDir", utf8(r.pluginDir)},
            {"installTime", installTime(r)}};
}

nlohmann::json valueJson(const RegistryNow& v)
{
    if (!v.exists)
        return nullptr;
    nlohmann::json j = {{"type", v.type}, {"text", utf8(dataText(v.type, v.bytes))}};
    if (v.type == REG_DWORD && v.bytes.size() == 4) {
        std::uint32_t d = 0;
        std::memcpy(&d, v.bytes.data(), 4);
        j["dword"] = d;
    } else if (v.type == REG_SZ) {
        j["string"] = utf8(v.bytes.c_str());
    }
    return j;
}

void printJson(const RunPlan& plan, const std::vector<InstallRecord>& others)
{
    nlohmann::json doc;
    doc["installation"] = recordJson(plan.record);
    doc["others"] = nlohmann::json::array();
    for (const InstallRecord& other : others)
        doc["others"].push_back(recordJson(other));
    doc["toolkitDerived"] = plan.derivedToolkit;
    doc["ocrDerived"] = plan.derivedOcr;
    bool relocated = false;
    nlohmann::json files = nlohmann::json::array();
    for (const PlannedFile& f : plan.files) {
        relocated = relocated || f.relocatesToolkit;
        if (!f.restore)
            continue;
        const char* problem = f.inUse ? "in use" : restoreProblem(f);
        files.push_back({{"path", utf8(f.entry.path)},
                         {"code", problem ? "!f" : restoreCode(f)},
                         {"expected", stampJson(f.expected())},
                         {"actual", f.exists ? stampJson(f.actual) : nlohmann::json(nullptr)},
                         {"source", utf8(f.source)},
                         {"sourceState", sourceName(f.sourceState)},
                         {"inUse", f.inUse},
                         {"holders", holdersJson(f.holders)},
                         {"pending", f.pending},
                         {"restorable", problem == nullptr}});
    }
    doc["toolkitRelocated"] = relocated;
    nlohmann::json passed = nlohmann::json::array();
    for (const PassedCopy& copy : plan.passedOver)
        passed.push_back({{"path", utf8(copy.path)}, {"why", utf8(copy.why)}});
    doc["passedOver"] = passed;
    doc["restores"] = files;
    nlohmann::json deletes = nlohmann::json::array();
    nlohmann::json deleteHolders = nlohmann::json::array();
    for (std::size_t i = 0; i < plan.cleanup.deletes.size(); ++i) {
        deletes.push_back(utf8(plan.cleanup.deletes[i]));
        deleteHolders.push_back(holdersJson(plan.cleanup.holders[i]));
    }
    nlohmann::json pending = nlohmann::json::array();
    for (const PendingRename& p : plan.pending)
        pending.push_back({{"path", utf8(p.to.empty() ? p.from : p.to)},
                           {"from", utf8(p.from)},
                           {"action", p.to.empty() ? "delete" : "replace"}});
    doc["pending"] = pending;
    doc["cleanup"] = {{"directory", utf8(plan.cleanup.directory)},
                      {"runs", plan.hasFiles},
                      {"refused", plan.hasFiles && plan.cleanup.result == kFailed},
                      {"toolkitFolder", plan.cleanup.toolkitFolder},
                      {"onlyPatchFiles", plan.cleanup.onlyPatchFiles},
                      {"restoresInto", plan.cleanup.restoresInto},
                      {"link", plan.cleanup.seen.link},
                      {"result", plan.cleanup.result},
                      {"deletes", deletes},
                      {"holders", deleteHolders}};
    nlohmann::json values = nlohmann::json::array();
    for (const PlannedValue& v : plan.registry) {
        if (!v.changes)
            continue;
        values.push_back({{"hive", hiveName(v.entry.hive)},
                          {"key", utf8(v.entry.keyPath)},
                          {"name", utf8(v.entry.valueName)},
                          {"current", valueJson(v.current)},
                          {"new", valueJson(v.wanted)}});
    }
    doc["registry"] = values;
    const Keeping keeping = keepingOf(plan);
    nlohmann::json copies = nlohmann::json::array();
    for (const BackupCopies& c : keeping.copies)
        copies.push_back({{"volume", utf8(c.volume)}, {"files", c.files}, {"bytes", c.bytes}});
    doc["keeps"] = {{"on", keeping.keep > 0 && plan.changeCount() > 0 && keeping.refused.empty()},
                    {"runs", utf8(keeping.runs)},
                    {"keepRuns", keeping.keep},
                    {"copies", copies},
                    {"refused", keeping.refused.empty() ? nlohmann::json(nullptr)
                                                        : nlohmann::json(utf8(keeping.refused))}};
    doc["changes"] = plan.changeCount();
    doc["matches"] = plan.matches();
    std::printf("%s\n", doc.dump(2).c_str());
}

} // namespace

int runPlan(int argc, char** argv)
{
    Options options;
    if (!parseOptions(argc, argv, options)) {
        std::fputs(kUsage.c_str(), stderr);
        return kExitCannotRun;
    }
    try {
        std::vector<InstallRecord> found;
        std::size_t chosen = 0;
        if (options.byHand)
            found.push_back(options.record);
        else if (!findInstallations("plan", found, chosen))
            return kExitCannotRun;
        InstallRecord record = found[chosen];
        found.erase(found.begin() + static_cast<std::ptrdiff_t>(chosen));

        RestoreSession session;
        RunPlan plan;
        planRun(record, plan, session);
        if (plan.scriptResult != kOk) {
            std::fprintf(stderr,
                         "fixwise plan: Update.src has no usable section for %s and this "
                         "system's language\n",
                         plan.productKey);
            return kExitCannotRun;
        }
        if (options.json)
            printJson(plan, found);
        else
            printText(plan, found);
        return plan.matches() ? kExitClean : kExitErrors;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fixwise plan: %s\n", e.what());
        return kExitCannotRun;
    }
}

#endif
