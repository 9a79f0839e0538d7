// The progress window of Setup, its About box, and the patch driver that
// runs on the window's worker thread.
#pragma once

#include "FwDialog.h"
#include "InstallRecord.h"
#include "RunLog.h"
#include "SetupOptions.h"
#include "WinHandle.h"

// The system-menu command that opens the About box.
const UINT kSysCmdAbout = 0x0010;

// Cuts a program file's path back to its directory: going backwards, every
// character is cleared until a backslash or a colon, which stays. Paths
// shorter than 4 characters are left as they are.
void CutToDirectory(char* path);

class CAboutBox : public FwDialog
{
public:
    explicit CAboutBox(HWND parent);
};

class CSetupDlg : public FwDialog
{
public:
    explicit CSetupDlg(HWND parent = nullptr);
    ~CSetupDlg() override;

    FwThread* m_pWorker = nullptr;
    HMODULE m_hResLib = nullptr;
    HMODULE m_hMendex = nullptr;
    HMODULE m_hScoutex = nullptr;
    char m_szSetupDir[512];
    char m_szProbeCmd[512];
    FwText m_strStatus; // read and written only under m_lock
    FwText m_strMessage;
    InstallRecord m_current;
    InstallRecord m_chosen;
    FwProgressCtrl m_progress;
    HICON m_hIcon = nullptr;
    // How the run shows itself; false when Setup's own directory could not
    // be obtained (empty or cut short), so no library is looked for.
    SetupMode m_mode = SetupMode::Interactive;
    bool m_setupDirKnown = true;
    // The process's exit code: set by the driver as the run's outcome.
    int m_exitCode = kExitCancelled;
    RunLog m_log;

    // The window side of the patch driver.
    virtual int ShowMessage(const char* text, const char* caption, UINT type);
    // Sets the progress position, then repaints the whole window at once.
    virtual void SetProgress(int pos);
    // Waits the given time, or returns at once on a cancel request.
    virtual void Wait(DWORD milliseconds);
    void SetStatus(const char* text);
    void GetStatus(char* out, std::size_t size);

    // A step of the driver (a library loaded, called or unloaded, a text
    // read or shown, a program started) runs to its end; a Cancel only sets a
    // request that the driver checks around every step. BeginLibraryStep
    // returns false when a Cancel was requested before the step;
    // EndLibraryStep returns false when one came during it. After false the
    // driver ends the run at once with EndCancelled.
    bool BeginLibraryStep();
    bool EndLibraryStep();
    UINT EndCancelled();
    bool CancelRequested();

    // Starts the patch driver on the worker thread.
    void StartWorker();
    // Waits for the worker to end and releases it.
    void ReleaseWorker();

    // Cancel asks the driver to stop: status "Cancelling...", the button
    // disabled; the driver ends the run before its next step.
    void OnCancel() override;
    // Enter with no button focused: ignored while the run goes on.
    void OnOK() override {}

protected:
    void DoDataExchange() override;
    BOOL OnInitDialog() override;
    bool OnSysCommand(WPARAM id, LPARAM lParam) override;
    bool OnPaint() override;
    HICON OnQueryDragIcon() override;

private:
    CRITICAL_SECTION m_lock;
    bool m_cancelPending = false;
    UniqueKernelHandle m_cancelEvent; // set with m_cancelPending
};

// The patch driver: the whole run, on the worker thread. param is the
// CSetupDlg. Returns -1 on the cancel and error paths, 0 once the update
// call has returned; the process's exit code is left in m_exitCode.
UINT PatchThreadProc(LPVOID param);
