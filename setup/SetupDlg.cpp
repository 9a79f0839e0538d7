// The progress window and the About box.
#include "SetupDlg.h"

#include "resource.h"

#include "Text.h"

#include <cstring>

void CutToDirectory(char* path)
{
    std::size_t n = std::strlen(path);
    if (n < 4)
        return;
    while (n > 0 && path[n - 1] != '\\' && path[n - 1] != ':')
        path[--n] = '\0';
}

CAboutBox::CAboutBox(HWND parent) : FwDialog(IDD_ABOUTBOX, parent) {}

CSetupDlg::CSetupDlg(HWND parent) : FwDialog(IDD_SETUP_DIALOG, parent)
{
    std::memset(m_szSetupDir, 0, sizeof m_szSetupDir);
    std::memset(m_szProbeCmd, 0, sizeof m_szProbeCmd);
    std::memset(&m_current, 0, sizeof m_current);
    std::memset(&m_chosen, 0, sizeof m_chosen);
    m_hIcon = LoadIconA(FwGetInstanceHandle(), MAKEINTRESOURCEA(IDI_SETUP));
    InitializeCriticalSection(&m_lock);
    m_cancelEvent.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
}

CSetupDlg::~CSetupDlg()
{
    ReleaseWorker();
    DeleteCriticalSection(&m_lock);
}

void CSetupDlg::DoDataExchange()
{
    DDX_Control(IDC_PROGRESS, m_progress);
}

BOOL CSetupDlg::OnInitDialog()
{
    FwDialog::OnInitDialog();
    if (HMENU menu = GetSystemMenu(m_hWnd, FALSE)) {
        char about[256] = {};
        if (LoadStringA(FwGetInstanceHandle(), IDS_ABOUTBOX, about, sizeof about) > 0 &&
            about[0] != '\0') {
            AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
            AppendMenuA(menu, MF_STRING, kSysCmdAbout, about);
        }
    }
    SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    std::memset(m_szProbeCmd, 0, sizeof m_szProbeCmd);
    SetStatus("");
    m_progress.SetRange(0, 250);
    StartWorker();
    return TRUE;
}

void CSetupDlg::StartWorker()
{
    m_pWorker = FwBeginThread(&PatchThreadProc, this);
}

void CSetupDlg::ReleaseWorker()
{
    if (!m_pWorker)
        return;
    WaitForSingleObject(m_pWorker->Handle(), INFINITE);
    delete m_pWorker;
    m_pWorker = nullptr;
}

bool CSetupDlg::OnSysCommand(WPARAM id, LPARAM)
{
    if ((id & 0xFFF0) == kSysCmdAbout) {
        CAboutBox about(m_hWnd); // modal to the progress window
        about.DoModal();
        return true;
    }
    return false;
}

bool CSetupDlg::OnPaint()
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(m_hWnd, &ps);
    if (IsIconic(m_hWnd)) {
        SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
        RECT client;
        GetClientRect(m_hWnd, &client);
        const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
        const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
        DrawIcon(dc, x, y, m_hIcon);
    } else {
        const COLORREF face = GetSysColor(COLOR_BTNFACE);
        HFONT font = CreateFontA(14, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, 0, OUT_TT_PRECIS,
                                 CLIP_TT_ALWAYS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                 "MS Sans Serif");
        HGDIOBJ previous = SelectObject(dc, font);
        SetBkColor(dc, face);
        RECT band = {15, 10, 15 + 215, 10 + 30};
        ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &band, nullptr, 0, nullptr);
        char status[FwText::kCapacity];
        GetStatus(status, sizeof status);
        TextOutA(dc, 15, 10, status, static_cast<int>(std::strlen(status)));
        SelectObject(dc, previous);
        DeleteObject(font);
    }
    EndPaint(m_hWnd, &ps);
    return true;
}

HICON CSetupDlg::OnQueryDragIcon()
{
    return m_hIcon;
}

void CSetupDlg::OnCancel()
{
    if (!m_pWorker || !m_pWorker->IsRunning()) {
        FwDialog::OnCancel();
        return;
    }
    EnterCriticalSection(&m_lock);
    const bool first = !m_cancelPending;
    m_cancelPending = true;
    m_strStatus = "Cancelling...";
    LeaveCriticalSection(&m_lock);
    if (m_cancelEvent)
        SetEvent(m_cancelEvent.get());
    if (first)
        m_log.Line("cancel requested");
    if (m_hWnd) {
        EnableWindow(GetDlgItem(m_hWnd, IDCANCEL), FALSE);
        RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    }
}

int CSetupDlg::ShowMessage(const char* text, const char* caption, UINT type)
{
    m_log.Line("message [%s] %s", caption, text);
    if (m_mode != SetupMode::Interactive)
        return IDOK; // no box; the confirmation is taken as given
    return MessageBox(text, caption, type);
}

void CSetupDlg::SetProgress(int pos)
{
    m_progress.SetPos(pos);
    if (m_hWnd)
        RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void CSetupDlg::Wait(DWORD milliseconds)
{
    if (m_cancelEvent)
        WaitForSingleObject(m_cancelEvent.get(), milliseconds);
    else
        Sleep(milliseconds);
}

void CSetupDlg::SetStatus(const char* text)
{
    EnterCriticalSection(&m_lock);
    // "Cancelling..." stays until the window closes.
    if (!m_cancelPending)
        m_strStatus = text;
    LeaveCriticalSection(&m_lock);
}

void CSetupDlg::GetStatus(char* out, std::size_t size)
{
    EnterCriticalSection(&m_lock);
    copyText(out, size, m_strStatus.c_str());
    LeaveCriticalSection(&m_lock);
}

bool CSetupDlg::CancelRequested()
{
    EnterCriticalSection(&m_lock);
    const bool pending = m_cancelPending;
    LeaveCriticalSection(&m_lock);
    return pending;
}

bool CSetupDlg::BeginLibraryStep()
{
    return !CancelRequested();
}

bool CSetupDlg::EndLibraryStep()
{
    return !CancelRequested();
}

UINT CSetupDlg::EndCancelled()
{
    m_exitCode = kExitCancelled;
    m_log.Line("cancelled");
    FwDialog::OnCancel();
    return static_cast<UINT>(-1);
}
