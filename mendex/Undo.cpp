// UndoPixoraRun: puts back what a kept run changed (RunRecord.h), newest
// change first. Each step looks at what is there now before it touches it:
// what is as it was before the run is left alone (undone already, or never
// changed: an interrupted run), what is as the run left it is put back, and
// what changed since is kept (or, forced, put aside in the run's folder and
// then put back). Run again after an interruption, an undo finishes the job.
#include "AnsiText.h"
#include "FileIdentity.h"
#include "FileRestore.h"
#include "InUse.h"
#include "Mendex.h"
#include "RegistryWriter.h"
#include "ResolveList.h"
#include "ResultCodes.h"
#include "RunRecord.h"
#include "RunScope.h"
#include "Text.h"
#include "WinHandle.h"

#include <nlohmann/json.hpp>

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace
{

using json = nlohmann::json;

struct Options {
    bool list = false;
    bool dryRun = false;
    bool force = false;
    bool json = false;
    // The installations found on the machine now, which a run must lie
    // within to be undone; checked is false when none were given (a list
    // then shows no verdict, and no run is undone).
    bool checked = false;
    const InstallRecord* found = nullptr;
    std::size_t foundCount = 0;
};

// "" when run may be undone, else why not.
std::string whyRefused(const KeptRun& run, const Options& options)
{
    if (!options.checked)
        return "no installation was given to check it against";
    return whyOutOfScope(run, options.found, options.foundCount);
}

enum class Action { PutBack, Remove, Unchanged, Kept, Failed };

struct Step {
    const KeptChange* change = nullptr;
    Action action = Action::Unchanged;
    std::string why;
};

const char* actionName(Action action, bool dryRun)
{
    switch (action) {
    case Action::PutBack:
        return dryRun ? "would put back" : "put back";
    case Action::Remove:
        return dryRun ? "would remove" : "removed";
    case Action::Unchanged:
        return "unchanged";
    case Action::Kept:
        return "kept";
    case Action::Failed:
        break;
    }
    return "failed";
}

const char* kindText(ChangeKind kind)
{
    switch (kind) {
    case ChangeKind::Replaced:
        return "replaced by the run";
    case ChangeKind::Deleted:
        return "deleted by the clean-up";
    case ChangeKind::Created:
        return "created by the run";
    case ChangeKind::Value:
        break;
    }
    return "written by the run";
}

bool sameFile(const KeptFile& now, const KeptFile& then)
{
    if (now.exists != then.exists)
        return false;
    return !now.exists || (!(now.attributes & FILE_ATTRIBUTE_DIRECTORY) && now.size == then.size &&
                           now.time == then.time);
}

// True when path is as the run left it: the numbers it put there and, when
// noted, the very file.
bool asTheRunLeftIt(const KeptChange& c, const KeptFile& now)
{
    if (!sameFile(now, c.after))
        return false;
    FileIdentity identity;
    return !c.identityKnown ||
           (identityOf(c.path.c_str(), identity) && identity.sameFileAs(c.identity));
}

// Moves from over to (replacing it when replace) in one step; on another
// volume a flushed copy is moved in beside it instead, and from stays.
bool moveBack(const std::string& from, const std::string& to, bool replace)
{
    if (MoveFileExA(from.c_str(), to.c_str(),
                    MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0)))
        return true;
    if (GetLastError() != ERROR_NOT_SAME_DEVICE)
        return false;
    return replaceFileFromSource(from.c_str(), to.c_str());
}

// A file changed since the run, moved into the run's folder so that
// putting back what the run found loses nothing.
bool putAside(const KeptRun& run, std::size_t n, const std::string& path)
{
    const std::string aside = run.folder + "\\" + keptFileName(n) + ".changed";
    makeKeptFolder(run, n);
    if (MoveFileExA(path.c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH))
        return true;
    return GetLastError() == ERROR_NOT_SAME_DEVICE &&
           CopyFileA(path.c_str(), aside.c_str(), TRUE) && removeFileEntry(path.c_str());
}

// The old file back from the run's folder, with its attributes.
bool restoreKept(const KeptRun& run, const KeptChange& c, std::string& why)
{
    const std::string backup = backupPath(run, c);
    if (!sameFile(keptFileOf(backup), c.before)) {
        why = "its kept copy is missing or not the file the run found";
        return false;
    }
    if (!moveBack(backup, c.path, c.kind == ChangeKind::Replaced)) {
        why = "it cannot be written (in use, or no rights)";
        return false;
    }
    const DWORD attributes = GetFileAttributesA(c.path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && attributes != c.before.attributes &&
        c.before.attributes != 0)
        SetFileAttributesA(c.path.c_str(), c.before.attributes);
    return true;
}

// A change that waits for the next start, taken back: the session manager
// forgets the run's own entry (a replacement of the file by its waiting
// copy, or its deletion), and the waiting copy (the run's own, when it is
// the very file the run made) goes. notWaiting when no such entry was left
// to take back.
// A dry run changes nothing and says whether the entry waits.
RestartCancel cancelWaiting(const KeptChange& c, bool dryRun)
{
    const bool replacement = !c.waiting.empty();
    const char* const from = replacement ? c.waiting.c_str() : c.path.c_str();
    const char* const target = replacement ? c.path.c_str() : nullptr;
    if (dryRun)
        return waitsAtRestart(from, target) ? RestartCancel::cancelled : RestartCancel::notWaiting;
    const RestartCancel result = cancelAtRestart(from, target);
    if (result == RestartCancel::failed)
        return result;
    FileIdentity identity;
    if (replacement && c.identityKnown && identityOf(c.waiting.c_str(), identity) &&
        identity.sameFileAs(c.identity))
        DeleteFileA(c.waiting.c_str());
    return result;
}

Step undoFile(const KeptRun& run, std::size_t n, const Options& options)
{
    const KeptChange& c = run.changes[n];
    Step step;
    step.change = &c;
    const KeptFile now = keptFileOf(c.path);
    if (sameFile(now, c.before)) {
        step.why = "as before the run";
        if (c.atRestart) {
            // Not carried out yet: the machine has not started since.
            step.why = options.dryRun ? "as before the run; would cancel its change at the next "
                                        "restart"
                                      : "as before the run; its change at the next restart "
                                        "cancelled";
            const RestartCancel cancel = cancelWaiting(c, options.dryRun);
            if (cancel == RestartCancel::notWaiting)
                step.why = "as before the run; its change at the next restart no longer waits";
            if (cancel == RestartCancel::failed) {
                step.action = Action::Failed;
                step.why = "its change at the next restart cannot be cancelled (no rights)";
            }
        }
        return step;
    }
    const bool left = c.kind == ChangeKind::Deleted ? !now.exists : asTheRunLeftIt(c, now);
    if (!left && !options.force) {
        step.action = Action::Kept;
        step.why = now.exists ? "changed since the run" : "removed since the run";
        return step;
    }
    // What is changed since is put aside only when the old file can then be
    // put back: a kept file that is not the file the run found stays.
    if (!left && c.kind != ChangeKind::Created &&
        !sameFile(keptFileOf(backupPath(run, c)), c.before)) {
        step.action = Action::Kept;
        step.why = "changed since the run, and its kept copy is not the file the run found";
        return step;
    }
    step.action = c.kind == ChangeKind::Created ? Action::Remove : Action::PutBack;
    if (!left)
        step.why = "changed since the run: put aside in the run's folder";
    if (options.dryRun)
        return step;
    if (!left && now.exists && !putAside(run, n, c.path)) {
        step.action = Action::Failed;
        step.why = "changed since the run, and it cannot be put aside";
        return step;
    }
    if (c.kind == ChangeKind::Created) {
        if (left && !removeFileEntry(c.path.c_str())) {
            step.action = Action::Failed;
            step.why = "it cannot be removed (in use, or no rights)";
        }
        return step;
    }
    std::string why;
    if (!restoreKept(run, c, why)) {
        step.action = Action::Failed;
        step.why = why;
    }
    return step;
}

struct ValueNow {
    bool exists = false;
    DWORD type = 0;
    std::string bytes;
};

ValueNow valueNow(HKEY root, const KeptChange& c)
{
    ValueNow v;
    UniqueHkey key;
    if (RegOpenKeyExA(root, c.key.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return v;
    DWORD size = 0;
    if (RegQueryValueExA(key.get(), c.name.c_str(), nullptr, &v.type, nullptr, &size) !=
        ERROR_SUCCESS)
        return v;
    v.bytes.assign(size, '\0');
    if (RegQueryValueExA(key.get(), c.name.c_str(), nullptr, &v.type,
                         reinterpret_cast<BYTE*>(v.bytes.data()), &size) != ERROR_SUCCESS)
        return v;
    v.bytes.resize(size);
    v.exists = true;
    return v;
}

// Removes the keys that the run made on the way to the value's key, deepest
// first, as long as they are empty.
void removeMadeKeys(HKEY root, const KeptChange& c)
{
    if (c.createdKey.empty())
        return;
    std::string key = c.key;
    while (key.size() >= c.createdKey.size()) {
        UniqueHkey open;
        DWORD subkeys = 0;
        DWORD values = 0;
        if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, open.put()) != ERROR_SUCCESS)
            break;
        if (RegQueryInfoKeyA(open.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                             &values, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
            subkeys != 0 || values != 0)
            return;
        open.reset();
        if (RegDeleteKeyA(root, key.c_str()) != ERROR_SUCCESS)
            return;
        const std::size_t slash = key.rfind('\\');
        if (slash == std::string::npos)
            return;
        key.resize(slash);
    }
}

Step undoValue(const KeptChange& c, const Options& options)
{
    Step step;
    step.change = &c;
    const HKEY root = registryRoot(c.hive);
    const ValueNow now = valueNow(root, c);
    const bool asBefore =
        c.hadValue ? now.exists && now.type == c.oldType && now.bytes == c.oldBytes : !now.exists;
    const bool asLeft = now.exists && now.type == c.newType && now.bytes == c.newBytes;
    if (asBefore) {
        step.why = "as before the run";
        if (!options.dryRun)
            removeMadeKeys(root, c);
        return step;
    }
    if (!asLeft && !options.force) {
        step.action = Action::Kept;
        step.why = "changed since the run";
        return step;
    }
    step.action = c.hadValue ? Action::PutBack : Action::Remove;
    if (!asLeft)
        step.why = "changed since the run";
    if (options.dryRun)
        return step;
    UniqueHkey key;
    LONG status = RegOpenKeyExA(root, c.key.c_str(), 0, KEY_SET_VALUE, key.put());
    if (status == ERROR_SUCCESS)
        status = c.hadValue ? RegSetValueExA(key.get(), c.name.c_str(), 0, c.oldType,
                                             reinterpret_cast<const BYTE*>(c.oldBytes.data()),
                                             static_cast<DWORD>(c.oldBytes.size()))
                            : RegDeleteValueA(key.get(), c.name.c_str());
    key.reset();
    if (status != ERROR_SUCCESS) {
        step.action = Action::Failed;
        step.why = "the value cannot be written";
        return step;
    }
    removeMadeKeys(root, c);
    return step;
}

std::string stateOf(const KeptRun& run)
{
    return run.undone ? "undone" : run.completed ? "completed" : "interrupted";
}

std::string productOf(const KeptRun& run)
{
    return std::string(run.record.productName) + "\\" + run.record.productVersion;
}

// The counts of a run's changes by kind: those it made, or for an
// interrupted run every one it was about to make.
void countChanges(const KeptRun& run, std::size_t counts[4])
{
    for (int i = 0; i < 4; ++i)
        counts[i] = 0;
    for (const KeptChange& c : run.changes)
        if (c.made || !run.completed)
            ++counts[static_cast<int>(c.kind)];
}

std::string listRuns(const std::string& runs, const Options& options)
{
    const std::vector<std::string> ids = keptRunIds(runs);
    json list = json::array();
    std::string text = "RUN                  STARTED (UTC)        REPLACED DELETED CREATED VALUES "
                       "STATE        PRODUCT\n";
    for (auto id = ids.rbegin(); id != ids.rend(); ++id) {
        KeptRun run;
        std::string why;
        if (!readKeptRun(runs, *id, run, &why)) {
            text += *id + "  unreadable: " + why + "\n";
            list.push_back({{"id", *id}, {"state", "unreadable"}, {"why", utf8(why)}});
            continue;
        }
        std::size_t n[4];
        countChanges(run, n);
        const std::string refused = options.checked ? whyRefused(run, options) : "";
        const std::string state = refused.empty() ? stateOf(run) : "refused";
        char line[1024];
        std::snprintf(line, sizeof line, "%-20s %-20s %8zu %7zu %7zu %6zu %-12s %s in %s\n",
                      id->c_str(), run.started.c_str(), n[0], n[1], n[2], n[3], state.c_str(),
                      productOf(run).c_str(), run.record.programDir);
        text += line;
        if (!refused.empty())
            text += std::string(20, ' ') + " refused: " + refused + "\n";
        list.push_back({{"id", *id},
                        {"started", run.started},
                        {"ended", run.ended},
                        {"product", utf8(productOf(run))},
                        {"programDir", utf8(run.record.programDir)},
                        {"replaced", n[0]},
                        {"deleted", n[1]},
                        {"created", n[2]},
                        {"values", n[3]},
                        {"state", state}});
        if (!refused.empty())
            list.back()["why"] = utf8(refused);
    }
    if (ids.empty())
        text = "no kept runs in " + runs + "\n";
    if (options.json)
        return json{{"folder", utf8(runs)}, {"runs", list}}.dump(2, ' ', false,
                                                                 json::error_handler_t::replace) +
               "\n";
    return text;
}

// The run to undo: the one named, or the newest readable one not yet
// undone (a record that cannot be read is passed over). False when there is
// none; why then says why a named run cannot be had.
bool chooseRun(const std::string& runs, const char* wanted, KeptRun& run, std::string& why)
{
    const std::vector<std::string> ids = keptRunIds(runs);
    if (!isBlankText(wanted)) {
        for (const std::string& id : ids)
            if (id == wanted) {
                if (readKeptRun(runs, id, run, &why))
                    return true;
                why = "run " + id + " cannot be read: " + why;
                return false;
            }
        why = std::string("no kept run ") + wanted;
        return false;
    }
    for (auto id = ids.rbegin(); id != ids.rend(); ++id)
        if (readKeptRun(runs, *id, run) && !run.undone)
            return true;
    why = "no kept run left to undo";
    return false;
}

// The report of a run that is not undone because it lies outside the
// installations found: nothing of it is applied.
int refuseRun(const KeptRun& run, const std::string& why, const Options& options,
              std::string& report)
{
    const std::string summary = "refused: " + why + "; nothing was changed";
    if (options.json) {
        report = json{{"run", run.id},
                      {"product", utf8(productOf(run))},
                      {"programDir", utf8(run.record.programDir)},
                      {"started", run.started},
                      {"state", "refused"},
                      {"why", utf8(why)},
                      {"steps", json::array()},
                      {"summary", utf8(summary)},
                      {"result", static_cast<int>(kFailed)}}
                     .dump(2, ' ', false, json::error_handler_t::replace) +
                 "\n";
        return kFailed;
    }
    report = "run " + run.id + ": " + productOf(run) + " in " + run.record.programDir +
             ", started " + run.started + " UTC\n" + summary +
             "\nIf the patch did not make this run, remove its folder " + run.folder + "\n";
    return kFailed;
}

// True when the session manager still holds the change for the next start.
bool stillWaits(const KeptChange& c)
{
    return c.waiting.empty() ? waitsAtRestart(c.path.c_str(), nullptr)
                             : waitsAtRestart(c.waiting.c_str(), c.path.c_str());
}

// Whether a change may have been made: a completed run noted each one it
// made; an interrupted run may have made one without its note, but never
// one whose old file it did not keep first (the keeper drops the kept file
// of a change that failed).
bool madeOrMaybe(const KeptRun& run, const KeptChange& c)
{
    if (c.made)
        return true;
    if (run.completed)
        return false;
    return c.kind == ChangeKind::Created || c.kind == ChangeKind::Value ||
           keptFileOf(backupPath(run, c)).exists;
}

int undoRun(KeptRun& run, const Options& options, std::string& report)
{
    std::vector<Step> steps;
    const bool wasUndone = run.undone;
    if (!wasUndone) {
        // Scratch folders that an interrupted run left beside its files go
        // first (never in a dry run).
        RestoreSession session;
        for (std::size_t n = run.changes.size(); n-- > 0;) {
            const KeptChange& c = run.changes[n];
            if (!madeOrMaybe(run, c))
                continue;
            if (c.kind == ChangeKind::Value) {
                steps.push_back(undoValue(c, options));
                continue;
            }
            if (!options.dryRun)
                session.visit(c.path.c_str());
            steps.push_back(undoFile(run, n, options));
        }
    }
    // A run is undone only when none of its changes waits for the next
    // start any more.
    if (!options.dryRun && !wasUndone)
        for (Step& s : steps)
            if (s.change->atRestart && s.action != Action::Failed && stillWaits(*s.change)) {
                s.action = Action::Failed;
                s.why = "its change still waits for the next restart";
            }
    std::size_t kept = 0;
    std::size_t failed = 0;
    std::size_t done = 0;
    for (const Step& s : steps) {
        kept += s.action == Action::Kept ? 1 : 0;
        failed += s.action == Action::Failed ? 1 : 0;
        done += s.action == Action::PutBack || s.action == Action::Remove ? 1 : 0;
    }
    if (!options.dryRun && !wasUndone && kept == 0 && failed == 0) {
        run.undone = true;
        SYSTEMTIME now;
        GetSystemTime(&now);
        char at[40];
        std::snprintf(at, sizeof at, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth,
                      now.wDay, now.wHour, now.wMinute, now.wSecond);
        run.undoneAt = at;
        if (!writeKeptRun(run))
            ++failed;
    }
    const int result = failed ? static_cast<int>(kFailed)
                       : kept ? static_cast<int>(kUndoKept)
                              : static_cast<int>(kUndoDone);
    std::string summary;
    char buf[160];
    if (wasUndone)
        summary = "already undone (" + run.undoneAt + ")";
    else if (failed)
        std::snprintf(buf, sizeof buf, "not undone: %zu step(s) failed; run the undo again",
                      failed),
            summary = buf;
    else if (kept)
        std::snprintf(buf, sizeof buf, "partly undone: %zu kept because they changed since the run",
                      kept),
            summary = buf;
    else if (options.dryRun)
        std::snprintf(buf, sizeof buf, "would undo %zu change(s)", done), summary = buf;
    else
        summary = "undone";

    if (options.json) {
        json list = json::array();
        for (const Step& s : steps)
            list.push_back({{"kind", kindName(s.change->kind)},
                            {"path", utf8(s.change->path)},
                            {"action", actionName(s.action, options.dryRun)},
                            {"why", utf8(s.why)}});
        report = json{{"run", run.id},
                      {"product", utf8(productOf(run))},
                      {"programDir", utf8(run.record.programDir)},
                      {"started", run.started},
                      {"state", stateOf(run)},
                      {"dryRun", options.dryRun},
                      {"force", options.force},
                      {"steps", list},
                      {"kept", kept},
                      {"failed", failed},
                      {"summary", summary},
                      {"result", result}}
                     .dump(2, ' ', false, json::error_handler_t::replace) +
                 "\n";
        return result;
    }
    report = "run " + run.id + ": " + productOf(run) + " in " + run.record.programDir +
             ", started " + run.started + " UTC, " + (run.completed ? "completed" : "interrupted") +
             "\n";
    for (const Step& s : steps) {
        char line[64];
        std::snprintf(line, sizeof line, "%-15s ", actionName(s.action, options.dryRun));
        report += line + s.change->path + " (" + kindText(s.change->kind) +
                  (s.why.empty() ? "" : "; " + s.why) + ")\n";
    }
    report += summary + "\n";
    return result;
}

int undo(const char* wanted, const Options& options, std::string& report)
{
    const std::string runs = runsFolder();
    // Runs in folders that others than administrators can change are never
    // read: any user could have written them.
    const std::string untrusted = whyRunsUntrusted(runs);
    if (!untrusted.empty()) {
        const std::string why = "the kept runs are not read: " + refusalText(untrusted);
        report = options.json
                     ? json{{"run", nullptr}, {"summary", utf8(why)}, {"result", kFailed}}.dump(
                           2, ' ', false, json::error_handler_t::replace) +
                           "\n"
                     : why + "\n";
        return kFailed;
    }
    if (options.list) {
        report = listRuns(runs, options);
        return kUndoDone;
    }
    KeptRun run;
    std::string why = "no kept run left to undo";
    if (runs.empty() || !chooseRun(runs, wanted, run, why)) {
        report = options.json ? json{{"run", nullptr}, {"summary", utf8(why)}, {"result", 2}}.dump(
                                    2, ' ', false, json::error_handler_t::replace) +
                                    "\n"
                              : why + " in " + runs + "\n";
        return kUndoNothing;
    }
    const std::string refused = whyRefused(run, options);
    if (!refused.empty())
        return refuseRun(run, refused, options, report);
    return undoRun(run, options, report);
}

int undoExport(const char* run, int options, const InstallRecord* found, int count, bool checked,
               char* report, int capacity)
{
    if (report && capacity > 0)
        report[0] = '\0';
    try {
        const int known = kUndoList | kUndoDryRun | kUndoForce | kUndoJson;
        if (options & ~known)
            return kUndoNothing;
        Options o;
        o.list = (options & kUndoList) != 0;
        o.dryRun = (options & kUndoDryRun) != 0;
        o.force = (options & kUndoForce) != 0;
        o.json = (options & kUndoJson) != 0;
        // Each record of the caller's, its texts terminated within their
        // widths.
        std::vector<InstallRecord> records;
        for (int i = 0; checked && found && i < count; ++i)
            records.push_back(terminatedCopy(found[i]));
        o.checked = checked;
        o.found = records.data();
        o.foundCount = records.size();
        std::string text;
        const int result = undo(run, o, text);
        if (report && capacity > 0)
            copyText(report, static_cast<std::size_t>(capacity), text.c_str());
        return result;
    } catch (...) {
        return kFailed;
    }
}

} // namespace

extern "C" int UndoPixoraRun(const char* run, int options, char* report, int capacity)
{
    return undoExport(run, options, nullptr, 0, false, report, capacity);
}

extern "C" int UndoPixoraRunEx(const char* run, int options, const InstallRecord* installations,
                               int count, char* report, int capacity)
{
    return undoExport(run, options, installations, count, true, report, capacity);
}
