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
    m_hIcon = LoadIconA(FwGetInstanceHandle(), MAKEINTRESOURCEA(IDI_SETUP));
    InitializeCriticalSection(&m_lock);
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
    std::memset(m_run.m_szProbeCmd, 0, sizeof m_run.m_szProbeCmd);
    SetStatus("");
    m_progress.SetRange(0, 250);
    StartWorker();
    return TRUE;
}

void CSetupDlg::StartWorker()
{
    m_pWorker = FwBeginThread(&PatchThreadProc, &m_run);
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
    m_run.RequestCancel();
    EnterCriticalSection(&m_lock);
    m_cancelShown = true;
    m_strStatus = "Cancelling...";
    LeaveCriticalSection(&m_lock);
    if (m_hWnd) {
        EnableWindow(GetDlgItem(m_hWnd, IDCANCEL), FALSE);
        RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    }
}

int CSetupDlg::ShowMessage(const char* text, const char* caption, UINT type)
{
    if (m_run.m_mode != SetupMode::Interactive)
        return IDOK;
    return MessageBox(text, caption, type);
}

void CSetupDlg::SetProgress(int pos)
{
    m_progress.SetPos(pos);
    if (m_hWnd)
        RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void CSetupDlg::SetStatus(const char* text)
{
    EnterCriticalSection(&m_lock);
    if (!m_cancelShown)
        m_strStatus = text;
    LeaveCriticalSection(&m_lock);
}

void CSetupDlg::GetStatus(char* out, std::size_t size)
{
    EnterCriticalSection(&m_lock);
    copyText(out, size, m_strStatus.c_str());
    LeaveCriticalSection(&m_lock);
}

void CSetupDlg::Close(int result)
{
    EndModalLoop(result);
}
