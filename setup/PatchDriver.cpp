// The patch driver: the whole run of Setup on the worker thread.
//
// Confirm, find the newest installation through Scoutex, refuse while the
// product runs, update it through Mendex, start the hardware check and tell
// the user the outcome. Every path ends by closing the progress window.
#include "SetupDlg.h"

#include "resource.h"

#include "FindExport.h"
#include "Mendex.h"
#include "ResultCodes.h"
#include "Scoutex.h"
#include "Text.h"
#include "WinHandle.h"

#include <cstring>

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
const int kBoxCancelled = -1; // no button: the run was cancelled

// dir, a backslash unless dir already ends in one (an empty dir does not),
// and name. Loading and starting by this full path means that only the files
// beside Setup are used, never one found elsewhere on the search path.
template <std::size_t N> void siblingPath(char (&out)[N], const char* dir, const char* name)
{
    joinPath(out, dir, name);
}

// A library of Setup's own, by full path; its own dependencies are looked for
// beside it and in the system directory only. Systems without those search
// flags load it by its full path as before.
HMODULE loadSibling(const char* path)
{
    HMODULE module = LoadLibraryExA(
        path, nullptr, LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (!module && GetLastError() == ERROR_INVALID_PARAMETER)
        module = LoadLibraryA(path);
    return module;
}

void unload(HMODULE& module)
{
    if (module)
        FreeLibrary(module);
    module = nullptr;
}

class Driver
{
public:
    explicit Driver(CSetupDlg& dlg) : d(dlg) {}
    UINT run();

private:
    CSetupDlg& d;

    void setProgress(int pos)
    {
        d.m_log.Line("progress %d", pos);
        d.SetProgress(pos);
    }
    void step(const char* what) { d.m_log.Line("step: %s", what); }
    // The run's outcome: the exit code, logged.
    void outcome(int exitCode, const char* what)
    {
        d.m_exitCode = exitCode;
        d.m_log.Line("outcome: %s, exit code %d", what, exitCode);
    }
    void closeWindow() { d.EndModalLoop(kWindowResult); }
    // Loads text id into m_strMessage and shows it; returns the button
    // pressed, or kBoxCancelled when the run was cancelled meanwhile. A
    // Cancel waits for the text and the box: the worker is never stopped
    // while it reads the resource library or builds the box's window (the
    // progress window is disabled while the box is up in any case).
    int showText(UINT id, const char* caption, UINT type)
    {
        if (!d.BeginLibraryStep())
            return kBoxCancelled;
        d.m_strMessage.LoadString(id);
        const int answer = d.ShowMessage(d.m_strMessage.c_str(), caption, type);
        return d.EndLibraryStep() ? answer : kBoxCancelled;
    }
    // Loads text id into text, read from the resource library as a step
    // that a Cancel waits for. False when the run was cancelled meanwhile.
    bool loadText(FwText& text, UINT id)
    {
        if (!d.BeginLibraryStep())
            return false;
        text.LoadString(id);
        return d.EndLibraryStep();
    }
    // Unloads the resource library on the way out of the run (a Cancel
    // meanwhile waits for it; the run ends right after in any case).
    void unloadResources()
    {
        if (d.BeginLibraryStep()) {
            dropResources();
            d.EndLibraryStep();
        }
    }
    void dropResources()
    {
        unload(d.m_hResLib);
        FwSetResourceHandle(nullptr);
    }
    void takeRecord();
};

void Driver::takeRecord()
{
    const InstallRecord& from = d.m_current;
    InstallRecord& to = d.m_chosen;
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
    // The record may come back unterminated; the copies above are bounded.
    char name[sizeof from.productName];
    char version[sizeof from.productVersion];
    copyText(name, to.productName);
    copyText(version, to.productVersion);
    d.m_strMessage.Format("%s %s", name, version);
}

UINT Driver::run()
{
    char path[600];

    // Without Setup's own directory no library is looked for anywhere else
    // (text 33 is also in Setup's own resources for this case).
    if (!d.m_setupDirKnown) {
        step("Setup's own directory could not be obtained");
        outcome(kExitFailed, "no setup directory");
        showText(IDS_LOAD_FAILED, kCaptionNoResources, MB_ICONERROR);
        closeWindow();
        return kThreadFailed;
    }

    // The resource library of texts, as data only: no code of it runs.
    // Whether it loaded is not tested: the texts then come out empty.
    if (!d.BeginLibraryStep())
        return d.EndCancelled();
    step("load patchres.dll");
    siblingPath(path, d.m_szSetupDir, "patchres.dll");
    d.m_hResLib =
        LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (!d.m_hResLib && GetLastError() == ERROR_INVALID_PARAMETER)
        d.m_hResLib = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    FwSetResourceHandle(d.m_hResLib);
    if (!d.EndLibraryStep())
        return d.EndCancelled();

    step("confirmation");
    const int answer = showText(IDS_CONFIRM, kCaptionUpdate, MB_OKCANCEL | MB_ICONINFORMATION);
    if (answer == kBoxCancelled)
        return d.EndCancelled();
    if (answer != IDOK) {
        outcome(kExitCancelled, "not confirmed");
        closeWindow();
        return kThreadFailed;
    }

    FwText text;
    if (!loadText(text, IDS_SEARCHING))
        return d.EndCancelled();
    d.SetStatus(text.c_str());
    setProgress(20);

    // The search library.
    if (!d.BeginLibraryStep())
        return d.EndCancelled();
    step("load Scoutex.dll");
    siblingPath(path, d.m_szSetupDir, "Scoutex.dll");
    d.m_hScoutex = loadSibling(path);
    IsOVPixoraSWInstalledFn search =
        findExport<IsOVPixoraSWInstalledFn>(d.m_hScoutex, "IsOVPixoraSWInstalled");
    if (!search)
        unload(d.m_hScoutex);
    if (!d.EndLibraryStep())
        return d.EndCancelled();
    if (!search) {
        outcome(kExitFailed, "Scoutex.dll or its export missing");
        showText(IDS_LOAD_FAILED, kCaptionNoScoutex, MB_ICONERROR);
        closeWindow();
        return kThreadFailed;
    }
    setProgress(40);

    // The enumeration: keep the installation with the greatest time; among
    // equal times the one reported last.
    std::uint64_t bestTime = 0;
    bool found = false;
    for (;;) {
        std::memset(&d.m_current, 0, sizeof d.m_current);
        int result = kFailed;
        bool raised = false;
        if (!d.BeginLibraryStep())
            return d.EndCancelled();
        step("search");
        try {
            result = search(&d.m_current);
        } catch (FwException* e) {
            e->Delete();
            raised = true;
        }
        if (raised) {
            unload(d.m_hScoutex);
            dropResources();
        }
        if (!d.EndLibraryStep())
            return d.EndCancelled();
        if (raised) {
            outcome(kExitFailed, "the search raised an exception");
            closeWindow();
            return kThreadFailed;
        }
        if (result == kOk) {
            char name[sizeof d.m_current.productName];
            char version[sizeof d.m_current.productVersion];
            char dir[sizeof d.m_current.programDir];
            copyText(name, d.m_current.productName);
            copyText(version, d.m_current.productVersion);
            copyText(dir, d.m_current.programDir);
            d.m_log.Line("search result 0: %s %s in %s, time %llu", name, version, dir,
                         static_cast<unsigned long long>(installTime(d.m_current)));
            const std::uint64_t time = installTime(d.m_current);
            if (time >= bestTime) {
                bestTime = time;
                found = true;
                takeRecord();
            }
            continue;
        }
        d.m_log.Line("search result %d", result);
        if (result == kNoMoreProducts)
            break;
        // A failing search (its catalogue missing, for instance) fails on every
        // call: end the enumeration with nothing chosen.
        found = false;
        break;
    }

    setProgress(80);
    if (!d.BeginLibraryStep())
        return d.EndCancelled();
    unload(d.m_hScoutex);
    if (!d.EndLibraryStep())
        return d.EndCancelled();

    if (!found) {
        outcome(kExitNotFound, "no installed release found");
        showText(IDS_ERROR_NOTICE, kCaptionUpdateError, MB_ICONERROR);
        unloadResources();
        closeWindow();
        return kThreadFailed;
    }

    if (!d.BeginLibraryStep())
        return d.EndCancelled();
    // An empty name would match any untitled window: no application of the
    // product can be told by it.
    const bool running = d.m_chosen.productName[0] != '\0' &&
                         FindWindowA(nullptr, d.m_chosen.productName) != nullptr;
    if (!d.EndLibraryStep())
        return d.EndCancelled();
    if (running) {
        outcome(kExitBusy, "the product's application is running");
        showText(IDS_PRODUCT_RUNNING, kCaptionProductRunning, MB_ICONERROR);
        unloadResources();
        closeWindow();
        return kThreadFailed;
    }

    d.m_log.Line("chosen installation: %s", d.m_strMessage.c_str());
    text = "...";
    text += d.m_strMessage.c_str();
    d.SetStatus(text.c_str());
    setProgress(100);

    // The update library.
    if (!d.BeginLibraryStep())
        return d.EndCancelled();
    step("load Mendex.dll");
    siblingPath(path, d.m_szSetupDir, "Mendex.dll");
    d.m_hMendex = loadSibling(path);
    RepairPixoraAppFn repair = findExport<RepairPixoraAppFn>(d.m_hMendex, "RepairPixoraApp");
    if (!repair)
        unload(d.m_hMendex);
    if (!d.EndLibraryStep())
        return d.EndCancelled();
    if (!repair) {
        outcome(kExitFailed, "Mendex.dll or its export missing");
        showText(IDS_LOAD_FAILED, kCaptionNoMendex, MB_ICONERROR);
        closeWindow();
        unloadResources();
        return kThreadFailed;
    }
    step("wait");
    d.Wait(1500);

    int updateResult = kFailed;
    bool raised = false;
    if (!d.BeginLibraryStep())
        return d.EndCancelled();
    step("update");
    try {
        updateResult = repair(&d.m_chosen);
    } catch (FwException* e) {
        e->Delete();
        raised = true;
    }
    if (raised) {
        unload(d.m_hMendex);
        dropResources();
    }
    if (!d.EndLibraryStep())
        return d.EndCancelled();
    if (raised) {
        outcome(kExitFailed, "the update raised an exception");
        closeWindow();
        return kThreadDone;
    }
    d.m_log.Line("update result %d", updateResult);

    setProgress(160);
    if (!loadText(text, updateResult == kOk ? IDS_UPDATE_DONE : IDS_UPDATE_FAILED))
        return d.EndCancelled();
    d.SetStatus(text.c_str());
    setProgress(180);
    if (!d.BeginLibraryStep())
        return d.EndCancelled();
    unload(d.m_hMendex);
    if (!d.EndLibraryStep())
        return d.EndCancelled();

    // The hardware check, from Setup's own directory: named as the program to
    // start and quoted on its command line, so no other program can be
    // started in its place. Not waited for; a failure is not reported.
    setProgress(220);
    step("start devprobe.exe");
    siblingPath(d.m_szProbeCmd, d.m_szSetupDir, "devprobe.exe");
    if (!d.BeginLibraryStep())
        return d.EndCancelled();
    char commandLine[sizeof d.m_szProbeCmd + 2];
    copyText(commandLine, "\"");
    appendText(commandLine, d.m_szProbeCmd);
    appendText(commandLine, "\"");
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION process{};
    if (CreateProcessA(d.m_szProbeCmd, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &process)) {
        // Only started: its handles are not needed.
        UniqueKernelHandle thread(process.hThread);
        UniqueKernelHandle started(process.hProcess);
    }
    if (!d.EndLibraryStep())
        return d.EndCancelled();
    setProgress(250);

    // After a failure the closing message says so (text 101), never that the
    // software is up to date.
    UINT closing = IDS_UPDATE_DONE;
    if (updateResult == kOk) {
        outcome(kExitUpdated, "updated");
    } else if (updateResult == kRestoreFailed) {
        outcome(kExitIncomplete, "some files could not be restored");
        closing = IDS_ERROR_NOTICE;
    } else {
        outcome(kExitFailed, "the update failed");
        closing = IDS_UPDATE_FAILED;
    }
    showText(closing, kCaptionUpdate, MB_ICONINFORMATION);
    unloadResources();
    closeWindow();
    return kThreadDone;
}

} // namespace

UINT PatchThreadProc(LPVOID param)
{
    Driver driver(*static_cast<CSetupDlg*>(param));
    return driver.run();
}
