// The check after a run: VerifyPixoraApp plans the run once more, with the
// engine of the run itself (RunPlan.h), in the directories that the run
// used, and reports everything that the plan would still change or cannot
// change. Nothing on disk or in the registry
// changes, and the diagnostic log stays as the run left it.
#include "InstallRecord.h"
#include "RegistryWriter.h"
#include "ReportText.h"
#include "ResultCodes.h"
#include "RunPlan.h"
#include "Text.h"

#include <cstring>
#include <string>

namespace
{

std::string number(std::uint64_t n)
{
    return std::to_string(static_cast<unsigned long long>(n));
}

std::string fileLine(const PlannedFile& file)
{
    std::string line = std::string("file ") + file.entry.path + ": ";
    const char* pending = file.pending ? ", replaced at the next restart" : "";
    if (!file.exists)
        return line + "missing" + pending;
    const FileStamp expected = file.expected();
    return line + "expected size " + number(expected.size) + " time " + number(expected.time) +
           ", found size " + number(file.actual.size) + " time " + number(file.actual.time) +
           pending;
}

// Writes one line per mismatch of plan into report; returns their number.
int reportMismatches(const RunPlan& plan, ReportText& report)
{
    int mismatches = 0;
    for (const PlannedFile& file : plan.files)
        if (file.restore) {
            report.line(fileLine(file));
            ++mismatches;
        }
    for (std::size_t i = 0; i < plan.cleanup.deletes.size(); ++i) {
        report.line("unlisted file " + plan.cleanup.deletes[i] +
                    (plan.cleanup.pending[i] ? ", deleted at the next restart" : ""));
        ++mismatches;
    }
    if (plan.hasFiles && plan.cleanup.result != kOk) {
        report.line(
            (plan.cleanup.result == kNotOnDisk ? "clean-up cannot list " : "clean-up refused in ") +
            plan.cleanup.directory);
        ++mismatches;
    }
    for (const PlannedValue& value : plan.registry)
        if (value.changes) {
            report.line("registry " + valuePathOf(value.entry) + ": differs");
            ++mismatches;
        }
    return mismatches;
}

} // namespace

// Plans on a copy of the record, every text field terminated inside its
// width, as the run does, with the directories that the run wrote back taken
// as they stand: the check looks where the run worked.
extern "C" int VerifyPixoraApp(const InstallRecord* record, char* report, int capacity)
{
    ReportText out(report, capacity);
    if (!record)
        return kFailed;
    try {
        RunPlan plan;
        planCheck(*record, plan, false, RecordDirs::AsRunLeft);
        if (plan.scriptResult != kOk)
            return kFailed;
        return reportMismatches(plan, out);
    } catch (...) {
        out.clear();
        return kFailed;
    }
}
