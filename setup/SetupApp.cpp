// The application object: finds Setup's own directory and runs the progress
// window; the program ends when the window closes.
#include "SetupDlg.h"

#include <commctrl.h>

#include <cstring>

class CSetupApp : public FwWinApp
{
public:
    BOOL InitInstance() override;
};

CSetupApp theApp;

BOOL CSetupApp::InitInstance()
{
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);

    CSetupDlg* dlg = new CSetupDlg(nullptr);
    m_pMainWnd = dlg;

    std::memset(dlg->m_szSetupDir, 0, sizeof dlg->m_szSetupDir);
    const DWORD n = GetModuleFileNameA(nullptr, dlg->m_szSetupDir, 511);
    // A path cut short by the 511-character limit is not a path: left uncut.
    if (n > 0 && n < 511)
        CutToDirectory(dlg->m_szSetupDir);

    dlg->DoModal();

    // The worker has closed the window or been stopped: wait for it to be
    // gone before its window object is.
    m_pMainWnd = nullptr;
    delete dlg;
    return FALSE;
}
