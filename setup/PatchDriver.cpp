// The patch driver: the whole run of Setup on the worker thread.
//
// Confirm, find the newest installation through Scoutex, refuse while the
// product runs, ask the user to close programs that hold its files open,
// update it through Mendex and check that it then matches, start the
// hardware check and tell the user the outcome (and, when files in use are
// replaced at the next restart, offer the restart). Or, to undo:
// confirm, have Mendex put back what its newest kept run changed and tell
// the user the outcome. Every path ends by closing the progress window.
#include "PatchDriver.h"

#include "resource.h"

#include "FindExport.h"
#include "LibraryGuard.h"
#include "Mendex.h"
#include "ResultCodes.h"
#include "Scoutex.h"
#include "Text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace
{

const char kCaptionUpdate[] = "Pixora Update";
const char kCaptionUpdateError[] = "Pixora Update Error";
const char kCaptionProductRunning[] = "Scanner Update Error";
const char kCaptionNoScoutex[] = "Error Loading Scoutex.dll";
const char kCaptionNoMendex[] = "Error Loading Mendex.dll";
const char kCaptionNoResources[] = "Error Loading patchres.dll";

const UINT kThreadFailed = static_cast<UINT>(-1);
const UINT kThreadDone = 0;
const int kWindowResult = 1;

// The texts of a record that a search filled, terminated (the library may
// leave a field unterminated; the copies are bounded).
struct RecordTexts {
    explicit RecordTexts(const InstallRecord& r)
    {
        copyText(name, r.productName);
        copyText(version, r.productVersion);
        copyText(dir, r.programDir);
    }
    char name[sizeof InstallRecord::productName];
    char version[sizeof InstallRecord::productVersion];
    char dir[sizeof InstallRecord::programDir];
};

// A zeroed buffer for a library's report; without the memory for it, none
// (capacity 0: the library then writes nothing).
class ReportBuffer
{
public:
    explicit ReportBuffer(int size)
        : m_text(new (std::nothrow) char[static_cast<std::size_t>(size)]),
          m_capacity(m_text ? size : 0)
    {
        if (m_text)
            std::memset(m_text.get(), 0, static_cast<std::size_t>(size));
    }
    char* text() const { return m_text.get(); }
    int capacity() const { return m_capacity; }
    // The report, terminated whatever the library left; null without a
    // buffer.
    const char* terminated() const
    {
        if (m_text)
            m_text[static_cast<std::size_t>(m_capacity) - 1] = '\0';
        return m_text.get();
    }

private:
    std::unique_ptr<char[]> m_text;
    int m_capacity;
};

// One line of a report of files in use, "KIND<TAB>PATH<TAB>HOLDER..."
// (cut to the buffer), split at its tabs.
struct InUseLine {
    explicit InUseLine(const char* at)
    {
        const TextPiece line = upTo(at, '\n');
        next = line.rest();
        copyText(text, line);
        char* tab = std::strchr(text, '\t');
        if (!tab)
            return;
        *tab = '\0';
        path = tab + 1;
        tab = std::strchr(tab + 1, '\t');
        if (!tab)
            return;
        *tab = '\0';
        holders = tab + 1;
    }
    bool is(const char* kind) const { return path && std::strcmp(text, kind) == 0; }
    char text[1800]; // the kind, up to the first tab
    const char* path = nullptr;
    const char* holders = nullptr; // tab-separated; null: none
    const char* next;              // the line after it
};

// How an undo ends, by the result of UndoPixoraRun.
struct UndoEnd {
    int exitCode;
    const char* what; // the outcome on the run log
    UINT text;        // the status line and the closing message
};

UndoEnd undoEnd(int result)
{
    switch (result) {
    case kUndoDone:
        return {kExitUpdated, "undone", IDS_UNDO_DONE};
    case kUndoKept:
        return {kExitIncomplete, "undone, files changed since the run were kept", IDS_UNDO_KEPT};
    case kUndoNothing:
        return {kExitNotFound, "no run to undo", IDS_UNDO_NOTHING};
    default:
        return {kExitFailed, "the undo failed", IDS_UNDO_FAILED};
    }
}

} // namespace

PatchRun::PatchRun(PatchHost& host, RunLog& log) : m_host(host), m_log(log)
{
    std::memset(m_szSetupDir, 0, sizeof m_szSetupDir);
    std::memset(m_szProbeCmd, 0, sizeof m_szProbeCmd);
    std::memset(&m_current, 0, sizeof m_current);
    std::memset(&m_chosen, 0, sizeof m_chosen);
    InitializeCriticalSection(&m_lock);
    m_cancelEvent.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
}

PatchRun::~PatchRun()
{
    if (m_hResLib)
        dropResources();
    DeleteCriticalSection(&m_lock);
}

void PatchRun::RequestCancel()
{
    EnterCriticalSection(&m_lock);
    if (!m_cancelRequested)
        m_log.Line("cancel requested");
    m_cancelRequested = true;
    LeaveCriticalSection(&m_lock);
    if (m_cancelEvent)
        SetEvent(m_cancelEvent.get());
}

void PatchRun::step(const char* format, ...)
{
    char what[FwText::kCapacity + 64];
    va_list args;
    va_start(args, format);
    if (std::vsnprintf(what, sizeof what, format, args) < 0)
        what[0] = '\0';
    va_end(args);
    // Checked and logged as one, so that a request comes either before the
    // step (which then does not begin) or after its log line.
    EnterCriticalSection(&m_lock);
    const bool cancelled = m_cancelRequested;
    if (!cancelled)
        m_log.Line("step: %s", what);
    LeaveCriticalSection(&m_lock);
    if (cancelled)
        throw Cancelled{};
}

void PatchRun::progress(int pos)
{
    step("progress %d", pos);
    m_host.SetProgress(pos);
}

void PatchRun::status(const char* text)
{
    step("status %s", text);
    m_host.SetStatus(text);
}

// Loads text id into m_strMessage and shows it; returns the button pressed.
int PatchRun::showText(UINT id, const char* caption, UINT type)
{
    FwText text;
    text.LoadString(id);
    return showMessage(text.c_str(), caption, type);
}

// Shows text (kept in m_strMessage); returns the button pressed.
int PatchRun::showMessage(const char* text, const char* caption, UINT type)
{
    m_strMessage = text;
    step("message [%s] %s", caption, m_strMessage.c_str());
    return m_host.ShowMessage(m_strMessage.c_str(), caption, type);
}

// A library of Setup's own, by full path, into module; its own dependencies
// are looked for beside it and in the system directory only (systems without
// those search flags load it by its full path as before). Loading by full
// path means that only the files beside Setup are used, never one found
// elsewhere on the search path.
HMODULE PatchRun::loadLibrary(UniqueModule& module, const char* name)
{
    step("load %s", name);
    char path[600];
    joinPath(path, m_szSetupDir, name);
    HMODULE loaded = LoadLibraryExA(
        path, nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!loaded && GetLastError() == ERROR_INVALID_PARAMETER)
        loaded = LoadLibraryA(path);
    module.reset(loaded);
    return loaded;
}

// The run's outcome: the exit code, logged.
void PatchRun::outcome(int exitCode, const char* what)
{
    m_exitCode = exitCode;
    m_log.Line("outcome: %s, exit code %d", what, exitCode);
}

// The end of a run that was not cancelled: no longer a step that a Cancel
// could stop.
UINT PatchRun::finish(Resources resources, UINT threadResult)
{
    if (resources == Resources::Unload)
        dropResources();
    m_host.Close(kWindowResult);
    return threadResult;
}

// A failure: its message box, then the end of the run.
UINT PatchRun::fail(int exitCode, const char* what, UINT textId, const char* caption,
                    Resources resources)
{
    outcome(exitCode, what);
    showText(textId, caption, MB_ICONERROR);
    return finish(resources, kThreadFailed);
}

// A library call that did not return: logged with what ended it, then the
// failure text and the end of the run. A library that faulted or aborted lost
// its thread in the middle of its work: it stays loaded, so that none of its
// code (its unload notification included) runs again on what it left behind.
UINT PatchRun::raised(UniqueModule& library, const char* name, UINT textId, UINT threadResult)
{
    char what[MAX_PATH + 96];
    describeCallEnd(m_lastCall, what, sizeof what);
    m_log.Line("%s %s", name, what);
    if (libraryBroken(m_lastCall))
        m_brokenLibrary = library.release();
    else
        library.reset();
    char summary[128];
    std::snprintf(summary, sizeof summary, "%s did not return", name);
    outcome(kExitFailed, summary);
    showText(textId, kCaptionUpdateError, MB_ICONERROR);
    return finish(Resources::Unload, threadResult);
}

// The resource library of texts, as data only: no code of it runs. Whether
// it loaded is not tested: the texts then come out empty.
void PatchRun::loadTexts()
{
    step("load patchres.dll");
    char path[600];
    joinPath(path, m_szSetupDir, "patchres.dll");
    HMODULE texts =
        LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!texts && GetLastError() == ERROR_INVALID_PARAMETER)
        texts = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    m_hResLib.reset(texts);
    FwSetResourceHandle(texts);
}

// The confirmation with text textId; when it is not given, the outcome says
// so (the caller then ends the run).
bool PatchRun::confirmed(UINT textId)
{
    if (showText(textId, kCaptionUpdate, MB_OKCANCEL | MB_ICONINFORMATION) == IDOK)
        return true;
    outcome(kExitCancelled, "not confirmed");
    return false;
}

IsOVPixoraSWInstalledFn PatchRun::scoutexSearch()
{
    const IsOVPixoraSWInstalledFn search = findExport<IsOVPixoraSWInstalledFn>(
        loadLibrary(m_hScoutex, "Scoutex.dll"), "IsOVPixoraSWInstalled");
    if (!search)
        m_hScoutex.reset();
    return search;
}

UINT PatchRun::noScoutex()
{
    return fail(kExitFailed, "Scoutex.dll or its export missing", IDS_LOAD_FAILED,
                kCaptionNoScoutex, Resources::Keep);
}

UINT PatchRun::noMendex()
{
    return fail(kExitFailed, "Mendex.dll or its export missing", IDS_LOAD_FAILED, kCaptionNoMendex,
                Resources::Unload);
}

// Every non-empty line of a library's report (null: none) on the run log,
// after prefix.
void PatchRun::logReport(const char* report, const char* prefix)
{
    if (!report)
        return;
    for (const char* line = report; *line != '\0';) {
        const TextPiece piece = upTo(line, '\n');
        if (piece.length > 0)
            m_log.Line("%s%.*s", prefix, static_cast<int>(piece.length), piece.begin);
        line = piece.rest();
    }
}

// Every line of a report of files in use (null: none) on the run log:
// "in use: PATH (in use by HOLDER, HOLDER)" for a file in use now, "at
// restart: ..." for one replaced or deleted at the next restart, "failed,
// in use: ..." for one that could be neither. A line of another kind as it is.
void PatchRun::logInUse(const char* report)
{
    for (const char* at = report ? report : ""; *at != '\0';) {
        const InUseLine line(at);
        at = line.next;
        if (line.text[0] == '\0')
            continue;
        const char* prefix = line.is("busy")      ? "in use: "
                             : line.is("restart") ? "at restart: "
                             : line.is("failed")  ? "failed, in use: "
                                                  : nullptr;
        if (!prefix) {
            m_log.Line("files in use: %s %s", line.text, line.path ? line.path : "");
            continue;
        }
        char entry[sizeof line.text + 64];
        copyText(entry, prefix);
        appendText(entry, line.path);
        if (line.holders) {
            appendText(entry, " (in use by ");
            for (const char* h = line.holders;;) {
                const TextPiece holder = upTo(h, '\t');
                char name[sizeof line.text];
                copyText(name, holder);
                appendText(entry, name);
                if (!holder.delimited)
                    break;
                appendText(entry, ", ");
                h = holder.rest();
            }
            appendText(entry, ")");
        }
        m_log.Line("%s", entry);
    }
}

// The box of files in use: its opening text, every program that holds one
// (each once, as many as fit) and what the user can do.
void PatchRun::composeInUse(const char* report, FwText& text)
{
    // "\nHOLDER\n" finds a holder already listed.
    char listed[640] = "\n";
    bool cut = false;
    for (const char* at = report ? report : ""; *at != '\0' && !cut;) {
        const InUseLine line(at);
        at = line.next;
        if (!line.is("busy"))
            continue;
        for (const char* h = line.holders; h && !cut;) {
            const TextPiece holder = upTo(h, '\t');
            h = holder.delimited ? holder.rest() : nullptr;
            char name[256];
            copyText(name, holder);
            char needle[sizeof name + 2] = "\n";
            appendText(needle, name);
            appendText(needle, "\n");
            if (name[0] == '\0' || std::strstr(listed, needle))
                continue;
            if (std::strlen(listed) + std::strlen(name) + 6 >= sizeof listed) {
                appendText(listed, "...\n");
                cut = true;
                break;
            }
            appendText(listed, name);
            appendText(listed, "\n");
        }
    }
    FwText closing;
    closing.LoadString(IDS_CLOSE_PROGRAMS);
    text.LoadString(IDS_FILES_IN_USE);
    text += "\n";
    text += listed;
    text += "\n";
    text += closing.c_str();
}

void PatchRun::dropResources()
{
    FwSetResourceHandle(nullptr);
    m_hResLib.reset();
}

void PatchRun::takeRecord()
{
    const InstallRecord& from = m_current;
    InstallRecord& to = m_chosen;
    copyText(to.productName, from.productName);
    copyText(to.programDir, from.programDir);
    copyText(to.productVersion, from.productVersion);
    copyText(to.toolkitDir, from.toolkitDir);
    copyText(to.pluginDir, from.pluginDir);
    copyText(to.toolkitVersion, from.toolkitVersion);
    copyText(to.ocrPath, from.ocrPath);
    to.ocrLanguage = from.ocrLanguage;
    to.toolkitBuild = from.toolkitBuild;
    to.usageCount = from.usageCount;
    to.installTimeLow = from.installTimeLow;
    to.installTimeHigh = from.installTimeHigh;
    m_strMessage.Format("%s %s", to.productName, to.productVersion);
}

UINT PatchRun::Run()
{
    try {
        // Without Setup's own directory no library is looked for anywhere
        // else (text 33 is also in Setup's own resources for this case).
        if (!m_setupDirKnown)
            return fail(kExitFailed, "Setup's own directory could not be obtained", IDS_LOAD_FAILED,
                        kCaptionNoResources, Resources::Keep);
        loadTexts();
        return m_undo ? undoSteps() : runSteps();
    } catch (const Cancelled&) {
        // No further step; what is loaded stays loaded (the process ends
        // right after).
        m_exitCode = kExitCancelled;
        m_log.Line("cancelled, exit code %d", m_exitCode);
        m_host.Close(IDCANCEL);
        return kThreadFailed;
    }
}

// The enumeration: keeps the installation with the greatest time, among equal
// times the one reported last. Returns the found mark, or Raised.
PatchRun::Search PatchRun::enumerate(IsOVPixoraSWInstalledFn search)
{
    std::uint64_t bestTime = 0;
    bool found = false;
    for (;;) {
        std::memset(&m_current, 0, sizeof m_current);
        step("search");
        const CallOutcome call = callGuarded(search, &m_current);
        if (call.end != CallEnd::Returned) {
            m_lastCall = call;
            return Search::Raised;
        }
        const int result = call.result;
        if (result != kOk) {
            // -12: no further product. A failing search (its catalogue
            // missing, for instance) fails on every call: the enumeration
            // ends with nothing chosen.
            m_log.Line("search result %d", result);
            return found && result == kNoMoreProducts ? Search::Found : Search::NotFound;
        }
        const RecordTexts texts(m_current);
        const std::uint64_t time = installTime(m_current);
        m_log.Line("search result 0: %s %s in %s, time %llu", texts.name, texts.version, texts.dir,
                   static_cast<unsigned long long>(time));
        m_found.push_back(m_current);
        if (time >= bestTime) {
            bestTime = time;
            found = true;
            takeRecord();
        }
    }
}

// After the update: does the installation match what a run makes of it?
// Every finding of the check goes on the run log; mismatches counts them. A
// library without the check (an older one) or a check that cannot be made
// leaves the installation not verified; Raised when the call did not return (m_lastCall tells how).
PatchRun::Check PatchRun::verify(int& mismatches)
{
    mismatches = 0;
    const VerifyPixoraAppFn check =
        findExport<VerifyPixoraAppFn>(m_hMendex.get(), "VerifyPixoraApp");
    if (!check) {
        m_log.Line("verify not available");
        return Check::NotVerified;
    }
    step("verify");
    // Without the buffer the check still counts what does not match.
    const ReportBuffer buffer(kVerifyReportSize);
    char* const report = buffer.text();
    const int capacity = buffer.capacity();
    const InstallRecord* const record = &m_chosen;
    auto call = [check, record, report, capacity] { return check(record, report, capacity); };
    m_lastCall = callGuarded(call);
    if (m_lastCall.end != CallEnd::Returned)
        return Check::Raised;
    const int result = m_lastCall.result;
    m_log.Line("verify result %d", result);
    if (result < 0)
        return Check::NotVerified;
    mismatches = result;
    logReport(buffer.terminated(), "does not match: ");
    return result == 0 ? Check::Matches : Check::DoesNotMatch;
}

// Before the first change: the files that the update would replace or
// delete and that other programs hold open now, on the run log. Interactively
// the user sees the programs and chooses: Try Again (looks again; the
// default button, for a user who has just closed them), Continue (the update
// leaves those files for the next restart) or Cancel. Unattended
// the update goes on and leaves them for the restart. A check that cannot be
// made leaves it to the update to say so.
PatchRun::InUse PatchRun::filesInUse(RepairPixoraAppExFn repair)
{
    for (;;) {
        step("look for files in use");
        const ReportBuffer buffer(kInUseReportSize);
        char* const report = buffer.text();
        const int capacity = buffer.capacity();
        // The check changes nothing: it gets a copy of the record.
        InstallRecord record = m_chosen;
        InstallRecord* const copy = &record;
        auto call = [repair, copy, report, capacity] {
            return repair(copy, kRepairFindBusy, nullptr, report, capacity);
        };
        m_lastCall = callGuarded(call);
        if (m_lastCall.end != CallEnd::Returned)
            return InUse::Raised;
        const int found = m_lastCall.result;
        m_log.Line("files in use: %d", found);
        if (found <= 0)
            return InUse::GoOn;
        logInUse(buffer.terminated());
        if (m_mode != SetupMode::Interactive) {
            m_log.Line("files in use: left for the restart");
            return InUse::GoOn;
        }
        FwText text;
        composeInUse(buffer.terminated(), text);
        const int answer = showMessage(text.c_str(), kCaptionUpdate,
                                       MB_CANCELTRYCONTINUE | MB_ICONWARNING | MB_DEFBUTTON2);
        if (answer == IDTRYAGAIN) {
            m_log.Line("files in use: try again");
            continue;
        }
        if (answer == IDCANCEL) {
            m_log.Line("files in use: cancel");
            return InUse::Cancel;
        }
        m_log.Line("files in use: continue, left for the restart");
        return InUse::GoOn;
    }
}

// The end of an update that a restart finishes: the closing message says so
// and, interactively unless /norestart, asks whether to restart now;
// /forcerestart restarts without asking. Never a step: the update is done,
// a Cancel no longer changes its outcome.
UINT PatchRun::restartEnd()
{
    FwText text;
    text.LoadString(IDS_RESTART_NEEDED);
    const bool ask = m_restart == SetupRestart::Default && m_mode == SetupMode::Interactive;
    if (m_restart == SetupRestart::Force || ask) {
        FwText more;
        more.LoadString(ask ? IDS_RESTART_QUESTION : IDS_RESTARTING);
        text += "\n\n";
        text += more.c_str();
    }
    bool restart = m_restart == SetupRestart::Force;
    if (ask) {
        restart = showMessage(text.c_str(), kCaptionUpdate, MB_YESNO | MB_ICONQUESTION) == IDYES;
        m_log.Line("restart now: %s", restart ? "yes" : "no");
    } else {
        showMessage(text.c_str(), kCaptionUpdate, MB_ICONINFORMATION);
    }
    if (!restart) {
        outcome(kExitRestartNeeded, "updated, a restart finishes it");
        return finish(Resources::Unload, kThreadDone);
    }
    m_log.Line("restart the computer");
    const DWORD error = m_startRestart ? m_startRestart() : ERROR_CALL_NOT_IMPLEMENTED;
    if (error == 0) {
        outcome(kExitRestartStarted, "updated, the restart that finishes it has begun");
        return finish(Resources::Unload, kThreadDone);
    }
    m_log.Line("the restart could not be started (error %lu)", static_cast<unsigned long>(error));
    outcome(kExitRestartNeeded, "updated, a restart finishes it");
    showText(IDS_RESTART_FAILED, kCaptionUpdate, MB_ICONWARNING);
    return finish(Resources::Unload, kThreadDone);
}

// The hardware check, from Setup's own directory: named as the program to
// start and quoted on its command line, so no other program can be started
// in its place. Not waited for; a failure is not reported.
void PatchRun::startProbe()
{
    step("start devprobe.exe");
    joinPath(m_szProbeCmd, m_szSetupDir, "devprobe.exe");
    char commandLine[sizeof m_szProbeCmd + 2];
    copyText(commandLine, "\"");
    appendText(commandLine, m_szProbeCmd);
    appendText(commandLine, "\"");
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process{};
    if (CreateProcessA(m_szProbeCmd, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &process)) {
        // Only started: its handles are not needed.
        UniqueKernelHandle thread(process.hThread);
        UniqueKernelHandle started(process.hProcess);
    }
}

UINT PatchRun::runSteps()
{
    if (!confirmed(IDS_CONFIRM))
        return finish(Resources::Keep, kThreadFailed);
    FwText text;
    text.LoadString(IDS_SEARCHING);
    status(text.c_str());
    progress(20);

    const IsOVPixoraSWInstalledFn search = scoutexSearch();
    if (!search)
        return noScoutex();
    progress(40);
    const Search found = enumerate(search);
    if (found == Search::Raised)
        return raised(m_hScoutex, "Scoutex.dll", IDS_UPDATE_FAILED, kThreadFailed);
    progress(80);
    step("unload Scoutex.dll");
    m_hScoutex.reset();
    if (found == Search::NotFound)
        return fail(kExitNotFound, "no installed release found", IDS_ERROR_NOTICE,
                    kCaptionUpdateError, Resources::Unload);

    // An empty name would match any untitled window: no application of the
    // product can be told by it.
    step("look for the window of %s", m_chosen.productName);
    if (m_chosen.productName[0] != '\0' && FindWindowA(nullptr, m_chosen.productName))
        return fail(kExitBusy, "the product's application is running", IDS_PRODUCT_RUNNING,
                    kCaptionProductRunning, Resources::Unload);

    m_log.Line("chosen installation: %s", m_strMessage.c_str());
    text = "...";
    text += m_strMessage.c_str();
    status(text.c_str());
    progress(100);

    // An older Mendex.dll without RepairPixoraAppEx updates as before: files
    // in use are neither looked for nor left for the restart.
    HMODULE mendex = loadLibrary(m_hMendex, "Mendex.dll");
    const RepairPixoraAppExFn repairEx =
        findExport<RepairPixoraAppExFn>(mendex, "RepairPixoraAppEx");
    const RepairPixoraAppFn repair =
        repairEx ? nullptr : findExport<RepairPixoraAppFn>(mendex, "RepairPixoraApp");
    if (!repairEx && !repair) {
        m_hMendex.reset();
        return noMendex();
    }
    step("wait %lu ms", static_cast<unsigned long>(m_pauseMs));
    WaitForSingleObject(m_cancelEvent.get(), m_pauseMs); // a request ends it

    if (repairEx) {
        const InUse inUse = filesInUse(repairEx);
        if (inUse == InUse::Raised)
            return raised(m_hMendex, "Mendex.dll", IDS_UPDATE_FAILED, kThreadFailed);
        if (inUse == InUse::Cancel) {
            outcome(kExitCancelled, "cancelled, files in use");
            step("unload Mendex.dll");
            m_hMendex.reset();
            return finish(Resources::Unload, kThreadFailed);
        }
    } else {
        m_log.Line("Mendex.dll without RepairPixoraAppEx: files in use are not looked for");
    }

    step("update");
    RepairCounts counts{};
    const ReportBuffer inUse(kInUseReportSize);
    if (repairEx) {
        InstallRecord* const record = &m_chosen;
        RepairCounts* const done = &counts;
        char* const report = inUse.text();
        const int capacity = inUse.capacity();
        auto call = [repairEx, record, done, report, capacity] {
            return repairEx(record, kRepairBusyAtRestart, done, report, capacity);
        };
        m_lastCall = callGuarded(call);
    } else {
        m_lastCall = callGuarded(repair, &m_chosen);
    }
    if (m_lastCall.end != CallEnd::Returned)
        return raised(m_hMendex, "Mendex.dll", IDS_UPDATE_FAILED, kThreadDone);
    const int updateResult = m_lastCall.result;
    m_log.Line("update result %d", updateResult);
    if (repairEx) {
        m_log.Line("update counts: restored %d, deleted %d, scheduled %d, failed %d",
                   counts.restored, counts.deleted, counts.scheduled, counts.failed);
        logInUse(inUse.terminated());
    }
    // Only an update that completed is checked; a run the check finds not
    // matching never says that the software is up to date.
    Check check = Check::NotVerified;
    int mismatches = 0;
    if (updateResult == kOk || updateResult == kRestoreFailed)
        check = verify(mismatches);
    if (check == Check::Raised)
        return raised(m_hMendex, "Mendex.dll", IDS_UPDATE_FAILED, kThreadDone);
    // A file left for the restart is still the old one (or still there): the
    // check finds it. Only findings beyond those files say that the
    // installation does not match.
    const int scheduled = counts.scheduled > 0 ? counts.scheduled : 0;
    const bool copiesFailed = updateResult == kRestoreFailed || counts.failed > 0;
    const bool matches = check != Check::DoesNotMatch || mismatches <= scheduled;
    if (check == Check::DoesNotMatch && matches)
        m_log.Line("the check's %d finding(s) are within the %d file(s) left for the restart",
                   mismatches, scheduled);
    const bool updated = updateResult == kOk && !copiesFailed && matches;
    const bool restartNeeded = updated && scheduled > 0;
    progress(160);
    text.LoadString(restartNeeded ? IDS_RESTART_STATUS
                    : updated     ? IDS_UPDATE_DONE
                                  : IDS_UPDATE_FAILED);
    status(text.c_str());
    progress(180);
    step("unload Mendex.dll");
    m_hMendex.reset();

    progress(220);
    startProbe();
    progress(250);

    if (restartNeeded)
        return restartEnd();
    // After a failure the closing message says so (text 101), never that the
    // software is up to date.
    UINT closing = IDS_UPDATE_DONE;
    if (updated) {
        outcome(kExitUpdated, "updated");
    } else if (updateResult == kOk && !copiesFailed) {
        outcome(kExitIncomplete, "the installation does not match");
        closing = IDS_ERROR_NOTICE;
    } else if (updateResult == kOk || updateResult == kRestoreFailed) {
        outcome(kExitIncomplete, "some files could not be restored");
        closing = IDS_ERROR_NOTICE;
    } else {
        outcome(kExitFailed, "the update failed");
        closing = IDS_UPDATE_FAILED;
    }
    showText(closing, kCaptionUpdate, MB_ICONINFORMATION);
    return finish(Resources::Unload, kThreadDone);
}

// The undo of the newest kept run, through Mendex, within the installations
// that Scoutex finds now (a kept run is undone only within its own); nothing
// is updated. Every line of the report goes on the run log.
UINT PatchRun::undoSteps()
{
    if (!confirmed(IDS_UNDO_CONFIRM))
        return finish(Resources::Keep, kThreadFailed);
    FwText text;
    text.LoadString(IDS_UNDOING);
    status(text.c_str());
    progress(20);

    const IsOVPixoraSWInstalledFn search = scoutexSearch();
    if (!search)
        return noScoutex();
    // None found is no failure here: the undo then refuses the run.
    if (enumerate(search) == Search::Raised)
        return raised(m_hScoutex, "Scoutex.dll", IDS_UNDO_FAILED, kThreadFailed);
    step("unload Scoutex.dll");
    m_hScoutex.reset();

    // An older Mendex.dll without UndoPixoraRunEx undoes as it did.
    HMODULE mendex = loadLibrary(m_hMendex, "Mendex.dll");
    const UndoPixoraRunExFn undoEx = findExport<UndoPixoraRunExFn>(mendex, "UndoPixoraRunEx");
    const UndoPixoraRunFn undo =
        undoEx ? nullptr : findExport<UndoPixoraRunFn>(mendex, "UndoPixoraRun");
    if (!undoEx && !undo) {
        m_hMendex.reset();
        return noMendex();
    }
    progress(100);

    step("undo");
    // Without the buffer the undo is done all the same, unreported.
    const ReportBuffer buffer(kUndoReportSize);
    char* const report = buffer.text();
    const int capacity = buffer.capacity();
    const InstallRecord* const found = m_found.data();
    const int count = static_cast<int>(m_found.size());
    auto call = [undoEx, undo, found, count, report, capacity] {
        return undoEx ? undoEx(nullptr, 0, found, count, report, capacity)
                      : undo(nullptr, 0, report, capacity);
    };
    m_lastCall = callGuarded(call);
    if (m_lastCall.end != CallEnd::Returned)
        return raised(m_hMendex, "Mendex.dll", IDS_UNDO_FAILED, kThreadDone);
    const int undoResult = m_lastCall.result;
    m_log.Line("undo result %d", undoResult);
    logReport(buffer.terminated(), "undo: ");
    const UndoEnd end = undoEnd(undoResult);
    progress(160);
    text.LoadString(end.text);
    status(text.c_str());
    progress(180);
    step("unload Mendex.dll");
    m_hMendex.reset();
    progress(250);

    outcome(end.exitCode, end.what);
    showText(end.text, kCaptionUpdate, MB_ICONINFORMATION);
    return finish(Resources::Unload, kThreadDone);
}

DWORD RestartComputer()
{
    UniqueKernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put()))
        return GetLastError();
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (!LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid))
        return GetLastError();
    // Succeeds also when the privilege was not there to enable: the last
    // error tells.
    if (!AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr))
        return GetLastError();
    if (GetLastError() == ERROR_NOT_ALL_ASSIGNED)
        return ERROR_NOT_ALL_ASSIGNED;
    const DWORD reason = SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_INSTALLATION |
                         SHTDN_REASON_FLAG_PLANNED;
    const DWORD error = InitiateShutdownA(nullptr, nullptr, 0, SHUTDOWN_RESTART, reason);
    if (error == ERROR_SUCCESS)
        return 0;
    if (ExitWindowsEx(EWX_REBOOT, reason))
        return 0;
    return GetLastError();
}

UINT PatchThreadProc(LPVOID param)
{
    return static_cast<PatchRun*>(param)->Run();
}
