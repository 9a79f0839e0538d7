// The application object: reads the switches, lets one Setup run at a time,
// finds Setup's own directory and runs the patch (or its undo), with the
// progress window or (quiet) without any window; the program ends with the
// run's exit code.
#include "SetupDlg.h"

#include "resource.h"

#include "Text.h"

#include <commctrl.h>

#include <cstring>

namespace
{

// Found by every Setup on the machine, in every session.
const char kSingleRunMutex[] = "Global\\Fixwise.Setup.SingleRun";
const char kCaptionUpdate[] = "Pixora Update";
const char kCaptionError[] = "Pixora Update Error";

const char* modeName(SetupMode mode)
{
    switch (mode) {
    case SetupMode::Quiet:
        return "quiet";
    case SetupMode::Passive:
        return "passive";
    default:
        return "interactive";
    }
}

const char* restartName(SetupRestart restart)
{
    switch (restart) {
    case SetupRestart::Never:
        return ", norestart";
    case SetupRestart::Force:
        return ", forcerestart";
    default:
        return "";
    }
}

// Tells the user why Setup ends before its run, in text id of the resource
// library beside Setup (read as data).
void showRefusal(const char* setupDir, UINT id)
{
    char text[1024] = {};
    char path[600];
    if (setupDir && joinPath(path, setupDir, "patchres.dll")) {
        UniqueModule res(LoadLibraryExA(path, nullptr,
                                        LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
        if (res)
            LoadStringA(res.get(), id, text, sizeof text);
    }
    ::MessageBoxA(nullptr, text, kCaptionError, MB_ICONERROR);
}

} // namespace

class CSetupApp : public FwWinApp
{
public:
    BOOL InitInstance() override;

private:
    int runPatch(CSetupDlg& dlg);
};

CSetupApp theApp;

int CSetupApp::runPatch(CSetupDlg& dlg)
{
    RunLog& log = dlg.m_log;
    PatchRun& run = dlg.m_run;
    const DWORD n = GetModuleFileNameA(nullptr, run.m_szSetupDir, 511);
    // A path cut short by the 511-character limit is not a path: left uncut,
    // and no library is looked for.
    if (n > 0 && n < 511)
        CutToDirectory(run.m_szSetupDir);
    else
        run.m_setupDirKnown = false;
    const char* setupDir = run.m_setupDirKnown ? run.m_szSetupDir : nullptr;

    const SetupOptions options = parseSetupOptions(m_lpCmdLine);
    // A deployment that asked for a log must get one: without it nothing is
    // done.
    if (!options.logPath.empty() && !log.Open(options.logPath.c_str())) {
        if (options.mode == SetupMode::Interactive)
            showRefusal(setupDir, IDS_LOG_FAILED);
        return kExitLogFailed;
    }
    log.Line("Setup started, command line: %s", GetCommandLineA());
    if (!options.valid()) {
        log.Line("%s: %s",
                 options.contradicts ? "switch contradicts an earlier one" : "unknown switch",
                 options.badSwitch.c_str());
        log.Line("%s", kSetupUsage);
        return kExitBadSwitch;
    }
    run.m_mode = options.mode;
    run.m_undo = options.undo;
    run.m_restart = options.restart;
    log.Line("mode: %s%s%s", modeName(options.mode), options.undo ? ", undo" : "",
             restartName(options.restart));
    // Nobody is there to answer a crash dialog: a program that fails ends.
    if (options.mode != SetupMode::Interactive)
        SetErrorMode(GetErrorMode() | SEM_NOGPFAULTERRORBOX);
    if (options.help) {
        log.Line("%s", kSetupUsage);
        if (options.mode == SetupMode::Interactive)
            ::MessageBoxA(nullptr, kSetupUsage, kCaptionUpdate, MB_ICONINFORMATION);
        return kExitUpdated;
    }

    // The data files are read from the current folder: Setup's own, wherever
    // it was started from.
    if (setupDir && !SetCurrentDirectoryA(setupDir))
        log.Line("cannot make %s the current folder (error %lu)", setupDir,
                 static_cast<unsigned long>(GetLastError()));

    UniqueKernelHandle single(CreateMutexA(nullptr, FALSE, kSingleRunMutex));
    if (!single || GetLastError() == ERROR_ALREADY_EXISTS) {
        log.Line("another Setup is already running");
        if (options.mode == SetupMode::Interactive)
            showRefusal(setupDir, IDS_ALREADY_RUNNING);
        return kExitBusy;
    }

    if (options.mode == SetupMode::Quiet) {
        run.Run(); // no window: the run on this thread
    } else {
        INITCOMMONCONTROLSEX controls{};
        controls.dwSize = sizeof controls;
        controls.dwICC = ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
        InitCommonControlsEx(&controls);
        dlg.DoModal();
        // The worker has closed the window: wait for it to be gone before
        // its window object is.
        dlg.ReleaseWorker();
    }
    return run.m_exitCode;
}

BOOL CSetupApp::InitInstance()
{
    CSetupDlg* dlg = new CSetupDlg(nullptr);
    m_pMainWnd = dlg;
    std::memset(dlg->m_run.m_szSetupDir, 0, sizeof dlg->m_run.m_szSetupDir);
    m_exitCode = runPatch(*dlg);
    dlg->m_log.Line("exit code %d", m_exitCode);
    m_pMainWnd = nullptr;
    delete dlg;
    return FALSE;
}
