// The check after a run: VerifyPixoraApp plans the run once more, with the
// engine of the run itself (RunPlan.h), and reports everything that the plan
// would still change or cannot change. Nothing on disk or in the registry
// changes, and the diagnostic log stays as the run left it.
#include "DiagLog.h"
#include "InstallRecord.h"
#include "RegistryWriter.h"
#include "ResultCodes.h"
#include "RunPlan.h"
#include "Text.h"

#include <cstring>
#include <string>

namespace
{

// The diagnostic log is off while it lives, and as it was afterwards.
class DiagLogSilenced
{
public:
    DiagLogSilenced() : saved_(g_diagLogOn) { g_diagLogOn = 0; }
    ~DiagLogSilenced() { g_diagLogOn = saved_; }
    DiagLogSilenced(const DiagLogSilenced&) = delete;
    DiagLogSilenced& operator=(const DiagLogSilenced&) = delete;

private:
    int saved_;
};

// The caller's report buffer, filled line by line with bounded copies; what
// does not fit is cut, and the text is always terminated.
class Report
{
public:
    Report(char* text, int capacity)
        : text_(capacity > 0 ? text : nullptr),
          capacity_(text_ ? static_cast<std::size_t>(capacity) : 0)
    {
        clear();
    }
    void clear()
    {
        length_ = 0;
        copyText(text_, capacity_, "");
    }
    void line(const std::string& text)
    {
        if (!text_)
            return;
        length_ += copyText(text_ + length_, capacity_ - length_, text.c_str());
        length_ += copyText(text_ + length_, capacity_ - length_, "\n");
    }

private:
    char* text_;
    std::size_t capacity_;
    std::size_t length_ = 0;
};

std::string number(std::uint64_t n)
{
    return std::to_string(static_cast<unsigned long long>(n));
}

std::string fileLine(const PlannedFile& file)
{
    std::string line = std::string("file ") + file.entry.path + ": ";
    if (!file.exists)
        return line + "missing";
    const FileStamp expected = file.expected();
    return line + "expected size " + number(expected.size) + " time " + number(expected.time) +
           ", found size " + number(file.actual.size) + " time " + number(file.actual.time);
}

// Writes one line per mismatch of plan into report; returns their number.
int reportMismatches(const RunPlan& plan, Report& report)
{
    int mismatches = 0;
    for (const PlannedFile& file : plan.files)
        if (file.restore) {
            report.line(fileLine(file));
            ++mismatches;
        }
    for (const std::string& path : plan.cleanup.deletes) {
        report.line("unlisted file " + path);
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
// width, as the run does.
extern "C" int VerifyPixoraApp(const InstallRecord* record, char* report, int capacity)
{
    Report out(report, capacity);
    if (!record)
        return kFailed;
    try {
        const InstallRecord run = terminatedCopy(*record);
        RestoreSession session;
        RunPlan plan;
        {
            const DiagLogSilenced quiet;
            planRun(run, plan, session, false, false);
        }
        if (plan.scriptResult != kOk)
            return kFailed;
        return reportMismatches(plan, out);
    } catch (...) {
        out.clear();
        return kFailed;
    }
}
