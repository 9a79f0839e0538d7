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
#include "InstallRecord.h"
#include "ResultCodes.h"
#include "RunPlan.h"
#include "RunRecord.h"

#include <cstring>
#include <string>

// The run works on its own copy of the record, every text field terminated
// inside its width, and writes the three fields that it owns back at the end.
// A script that cannot be used leaves the caller's record as it was.
extern "C" int RepairPixoraApp(InstallRecord* record)
{
    if (!record)
        return kOk;
    try {
        const InstallRecord run = terminatedCopy(*record);
        RestoreSession session;
        RunPlan plan;
        planRun(run, plan, session, true, false);
        if (plan.scriptResult != kOk)
            return kFailed;
        // What the run changes is kept first, so that it can be put back.
        RunKeeper keeper(plan);
        keeper.begin();
        const int result = applyRun(plan, session, keeper);
        keeper.finish();
        std::memcpy(record->toolkitDir, plan.record.toolkitDir, sizeof run.toolkitDir);
        std::memcpy(record->ocrPath, plan.record.ocrPath, sizeof run.ocrPath);
        std::memcpy(record->pluginDir, plan.record.pluginDir, sizeof run.pluginDir);
        return result;
    } catch (...) {
        return kFailed;
    }
}

extern "C" int RepairPixoraAppEx(InstallRecord* record, int options, RepairCounts* counts,
                                 char* report, int capacity)
{
    if (counts)
        *counts = RepairCounts{};
    if (report && capacity > 0)
        report[0] = '\0';
    if (options & kRepairFindBusy)
        return kOk;
    return RepairPixoraApp(record);
}
