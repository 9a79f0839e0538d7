// The update run: RepairPixoraApp brings one installation back to what the
// update script describes. Order of the run:
//   1. blank product name: nothing to do;
//   2. the whole script section is read before anything changes;
//   3. file phase: toolkit and OCR directories, the anchor entry (searched
//      for across drives when it is not where expected), every other entry,
//      clean-up of the toolkit directory;
//   4. the plug-in directory falls back to the toolkit directory;
//   5. registry phase.
// Every decision of steps 2 to 5 is made first (RunPlan.h), before anything
// changes; the run is that plan applied.
// The caller's record gets toolkitDir, ocrPath and pluginDir written back.
#include "Mendex.h"
#include "ReportText.h"
#include "InstallRecord.h"
#include "ResultCodes.h"
#include "RunPlan.h"
#include "RunRecord.h"

#include <cstring>
#include <string>
#include <vector>

namespace
{

// One line of the report: its fields separated by tabs.
void busyLine(ReportText& report, const char* kind, const std::string& path,
              const std::vector<std::string>& holders)
{
    report.put(kind);
    report.put("\t");
    report.put(path.c_str());
    for (const std::string& holder : holders) {
        report.put("\t");
        report.put(holder.c_str());
    }
    report.put("\n");
}

// The run on the caller's record: planned on a copy of it, every text field
// terminated inside its width, and the three fields that the run owns
// written back at the end. A script that cannot be used leaves the
// caller's record as it was.
int repair(InstallRecord& record, bool busyAtRestart, RunCounts* counts)
{
    const InstallRecord run = terminatedCopy(record);
    RestoreSession session;
    session.busyAtRestart = busyAtRestart;
    RunPlan plan;
    planRun(run, plan, session, true, false);
    if (plan.scriptResult != kOk)
        return kFailed;
    // What the run changes is kept first, so that it can be put back.
    RunKeeper keeper(plan);
    keeper.begin();
    const int result = applyRun(plan, session, keeper, counts);
    keeper.finish();
    std::memcpy(record.toolkitDir, plan.record.toolkitDir, sizeof run.toolkitDir);
    std::memcpy(record.ocrPath, plan.record.ocrPath, sizeof run.ocrPath);
    std::memcpy(record.pluginDir, plan.record.pluginDir, sizeof run.pluginDir);
    return result;
}

// The files that the run would replace or delete and that are in use now.
int findBusy(const InstallRecord& record, ReportText& report)
{
    RunPlan plan;
    planCheck(record, plan, true, RecordDirs::AsFound);
    if (plan.scriptResult != kOk)
        return kFailed;
    for (const PlannedFile& file : plan.files)
        if (file.inUse)
            busyLine(report, "busy", file.entry.path, file.holders);
    for (std::size_t i = 0; i < plan.cleanup.deletes.size(); ++i)
        if (!plan.cleanup.holders[i].empty())
            busyLine(report, "busy", plan.cleanup.deletes[i], plan.cleanup.holders[i]);
    return static_cast<int>(plan.busyCount());
}

} // namespace

extern "C" int RepairPixoraApp(InstallRecord* record)
{
    if (!record)
        return kOk;
    try {
        return repair(*record, false, nullptr);
    } catch (...) {
        return kFailed;
    }
}

extern "C" int RepairPixoraAppEx(InstallRecord* record, int options, RepairCounts* counts,
                                 char* report, int capacity)
{
    if (counts)
        *counts = RepairCounts{};
    ReportText out(report, capacity);
    if (!record)
        return kOk;
    try {
        if (options & kRepairFindBusy)
            return findBusy(*record, out);
        RunCounts done;
        const int result = repair(*record, (options & kRepairBusyAtRestart) != 0, &done);
        if (counts)
            *counts = RepairCounts{done.restored, done.deleted, done.scheduled, done.failed};
        for (const RunCounts::Busy& busy : done.busy)
            busyLine(out, busy.scheduled ? "restart" : "failed", busy.path, busy.holders);
        return result;
    } catch (...) {
        return kFailed;
    }
}
