// The progress window of Setup and its About box.
#pragma once

#include "FwDialog.h"
#include "PatchDriver.h"
#include "RunLog.h"
#include "SetupOptions.h"

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

// The progress window: the host of the patch run, which it starts on the
// worker thread as soon as it exists.
class CSetupDlg : public FwDialog, public PatchHost
{
public:
    explicit CSetupDlg(HWND parent = nullptr);
    ~CSetupDlg() override;

    FwThread* m_pWorker = nullptr;
    FwProgressCtrl m_progress;
    HICON m_hIcon = nullptr;
    RunLog m_log;
    PatchRun m_run{*this, m_log};

    // The host of the run. Outside interactive mode (the run's) no box is
    // shown and the confirmation is taken as given.
    void SetProgress(int pos) override;
    void SetStatus(const char* text) override;
    int ShowMessage(const char* text, const char* caption, UINT type) override;
    void Close(int result) override;
    void GetStatus(char* out, std::size_t size);

    // Starts the patch run on the worker thread.
    void StartWorker();
    // Waits for the worker to end and releases it.
    void ReleaseWorker();

    // Cancel asks the run to stop: status "Cancelling...", the button
    // disabled; the run ends before its next step.
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
    FwText m_strStatus;         // under m_lock
    bool m_cancelShown = false; // under m_lock: "Cancelling..." stays
};
