// The progress window of Setup, its About box, and the patch driver that
// runs on the window's worker thread.
#pragma once

#include "FwDialog.h"
#include "InstallRecord.h"

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

    // The window side of the patch driver.
    virtual int ShowMessage(const char* text, const char* caption, UINT type);
    // Sets the progress position, then repaints the whole window at once.
    virtual void SetProgress(int pos);
    virtual void Wait(DWORD milliseconds);
    void SetStatus(const char* text);
    void GetStatus(char* out, std::size_t size);

    // A library being loaded, called or unloaded, a text being read from
    // the resource library or shown in a message box, or a program being
    // started: a Cancel meanwhile waits for it to return. BeginLibraryStep
    // returns false when the run was cancelled; EndLibraryStep returns false
    // when a Cancel came during the step. After false the driver ends the run
    // at once with EndCancelled.
    bool BeginLibraryStep();
    bool EndLibraryStep();
    UINT EndCancelled();

    // Starts the patch driver on the worker thread.
    void StartWorker();
    // Waits for the worker to end and releases it.
    void ReleaseWorker();

    void OnCancel() override;

protected:
    void DoDataExchange() override;
    BOOL OnInitDialog() override;
    bool OnSysCommand(WPARAM id, LPARAM lParam) override;
    bool OnPaint() override;
    HICON OnQueryDragIcon() override;

private:
    CRITICAL_SECTION m_lock;
    bool m_inLibraryStep = false;
    bool m_cancelPending = false;
};

// The patch driver: the whole run, on the worker thread. param is the
// CSetupDlg. Returns -1 on the cancel and error paths, 0 once the update
// call has returned.
UINT PatchThreadProc(LPVOID param);
