// The patch driver: the whole run of Setup, on the worker thread.
//
// A run either updates the newest installation or (m_undo) puts back what
// the newest kept run changed. A PatchRun owns everything of one run: the loaded libraries, the two
// installation records, Setup's own directory and the outcome. It reaches the
// progress window only through a PatchHost.
#pragma once

#include "FwDialog.h"
#include "InstallRecord.h"
#include "LibraryGuard.h"
#include "RunLog.h"
#include "SetupOptions.h"
#include "WinHandle.h"

#include <functional>
#include <vector>

struct RepairCounts; // Mendex.h

// What the run needs of its window. Called on the run's thread.
class PatchHost
{
public:
    // Sets the progress position (0 to 250), then repaints the window at once.
    virtual void SetProgress(int pos) = 0;
    // The status line painted above the progress bar.
    virtual void SetStatus(const char* text) = 0;
    // A message box owned by the window; returns the button pressed.
    virtual int ShowMessage(const char* text, const char* caption, UINT type) = 0;
    // Closes the window with result: 1 when the run has ended, IDCANCEL when
    // it was cancelled.
    virtual void Close(int result) = 0;

protected:
    ~PatchHost() = default;
};

// The time the run waits between loading the update library and calling it.
const DWORD kUpdatePauseMs = 1500;
// The size of the buffer for the check's findings after the update.
const int kVerifyReportSize = 64 * 1024;
// The size of the buffer for the report of the undo.
const int kUndoReportSize = 256 * 1024;
// The size of the buffer for the files in use that the update reports.
const int kInUseReportSize = 64 * 1024;

// Restarts the computer to finish an update: enables the shutdown privilege
// and starts a planned restart for an installation. Returns 0 once the
// restart has begun, else the error that stopped it.
DWORD RestartComputer();

class PatchRun
{
public:
    PatchRun(PatchHost& host, RunLog& log);
    // Unloads what the run has left loaded (after a Cancel, say).
    ~PatchRun();
    PatchRun(const PatchRun&) = delete;
    PatchRun& operator=(const PatchRun&) = delete;

    // The whole run, from the resource library to the closing message; every
    // path ends by closing the window. Returns -1 on the cancel and error
    // paths, 0 once the update (or undo) call has returned (also when it
    // raised), unless a Cancel came after it.
    UINT Run();

    // From any thread: the run ends before its next step (a library call
    // that is running completes first), and a wait returns at once.
    void RequestCancel();

    // Setup's own directory, normally ending in a backslash; set before the
    // run. Unknown (empty or cut short): no library is looked for at all.
    char m_szSetupDir[512];
    bool m_setupDirKnown = true;
    DWORD m_pauseMs = kUpdatePauseMs; // the wait before the update call
    // The run undoes the newest kept run: no search, no update.
    bool m_undo = false;
    // Files in use are asked about, and a restart is offered, only
    // interactively; m_restart says whether a needed restart is asked for,
    // left or started without asking.
    SetupMode m_mode = SetupMode::Interactive;
    SetupRestart m_restart = SetupRestart::Default;
    // Starts the restart that finishes an update (0: it has begun, else the
    // error); the tests put their own here.
    std::function<DWORD()> m_startRestart = RestartComputer;

    UniqueModule m_hResLib;  // "patchres.dll", as data
    UniqueModule m_hScoutex; // "Scoutex.dll" while it is loaded
    UniqueModule m_hMendex;  // "Mendex.dll" while it is loaded
    char m_szProbeCmd[512];  // the hardware check's program path
    FwText m_strMessage;     // the text of the last message box; between the
                             // enumeration and the update: "name version"
    InstallRecord m_current; // the search's scratch record
    InstallRecord m_chosen;  // the newest installation, handed to the update
    // Every installation found, in the search's order: an undo undoes a
    // kept run only within its own.
    std::vector<InstallRecord> m_found;
    // The process's exit code: the run's outcome.
    int m_exitCode = kExitCancelled;
    // How the last library call ended; a library that faulted or aborted in
    // it is left loaded here and never called or unloaded again.
    CallOutcome m_lastCall;
    HMODULE m_brokenLibrary = nullptr;

private:
    struct Cancelled {
    };
    enum class Resources { Keep, Unload };
    enum class Search { Found, NotFound, Raised };
    enum class Check { Matches, DoesNotMatch, NotVerified, Raised };
    enum class InUse { GoOn, Cancel, Raised };

    // Every step begins here: logged, or Cancelled thrown when a cancel was
    // requested. The log thus never holds a step after "cancel requested".
    void step(const char* format, ...) FW_PRINTF(2, 3);
    void progress(int pos);
    void status(const char* text);
    int showText(UINT id, const char* caption, UINT type);
    int showMessage(const char* text, const char* caption, UINT type);
    HMODULE loadLibrary(UniqueModule& module, const char* name);
    void outcome(int exitCode, const char* what);
    UINT finish(Resources resources, UINT threadResult);
    UINT fail(int exitCode, const char* what, UINT textId, const char* caption,
              Resources resources);
    UINT raised(UniqueModule& library, const char* name, UINT textId, UINT threadResult);
    void loadTexts();
    bool confirmed(UINT textId);
    // Scoutex.dll from Setup's own directory and its search; null, the
    // library unloaded again, when either is missing (noScoutex() then ends
    // the run).
    int (*scoutexSearch())(InstallRecord*);
    UINT noScoutex();
    UINT noMendex();
    void logReport(const char* report, const char* prefix);
    void logInUse(const char* report);
    void composeInUse(const char* report, FwText& text);
    void dropResources();
    void takeRecord();
    UINT runSteps();
    UINT undoSteps();
    Search enumerate(int (*search)(InstallRecord*));
    InUse filesInUse(int (*repair)(InstallRecord*, int, RepairCounts*, char*, int));
    Check verify(int& mismatches);
    UINT restartEnd();
    void startProbe();

    PatchHost& m_host;
    RunLog& m_log;
    CRITICAL_SECTION m_lock;
    bool m_cancelRequested = false; // under m_lock
    UniqueKernelHandle m_cancelEvent;
};

// The worker thread's procedure: param is the PatchRun.
UINT PatchThreadProc(LPVOID param);
