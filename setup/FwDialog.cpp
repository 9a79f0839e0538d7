// The dialog layer: see FwDialog.h.
#include "FwDialog.h"

#include "Text.h"

#include <commctrl.h>

#include <cstdarg>
#include <cstdio>

namespace
{
HINSTANCE g_instance = nullptr;
HINSTANCE g_resource = nullptr;
bool g_resourceSet = false;
FwWinApp* g_app = nullptr;

// Posted to a dialog to end its modal loop on the dialog's own thread.
const UINT kEndModalMessage = WM_APP + 0x46;
} // namespace

HINSTANCE FwGetInstanceHandle()
{
    return g_instance ? g_instance : GetModuleHandleA(nullptr);
}

HINSTANCE FwGetResourceHandle()
{
    return g_resourceSet ? g_resource : FwGetInstanceHandle();
}

void FwSetResourceHandle(HINSTANCE module)
{
    g_resource = module;
    g_resourceSet = true;
}

FwText& FwText::operator=(const char* text)
{
    copyText(m_text, text);
    return *this;
}

FwText& FwText::operator+=(const char* text)
{
    appendText(m_text, text);
    return *this;
}

void FwText::LoadString(UINT id)
{
    m_text[0] = '\0';
    // A null module stands for the program's own, as for the platform.
    if (::LoadStringA(FwGetResourceHandle(), id, m_text, static_cast<int>(kCapacity)) <= 0)
        m_text[0] = '\0';
}

void FwText::Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    if (std::vsnprintf(m_text, kCapacity, format, args) < 0)
        m_text[0] = '\0';
    va_end(args);
}

bool FwThread::IsRunning() const
{
    return m_handle && WaitForSingleObject(m_handle.get(), 0) == WAIT_TIMEOUT;
}

DWORD WINAPI FwThread::Start(LPVOID self)
{
    FwThread* thread = static_cast<FwThread*>(self);
    return thread->m_proc(thread->m_param);
}

FwThread* FwBeginThread(FwThread::Proc proc, LPVOID param)
{
    FwThread* thread = new FwThread;
    thread->m_proc = proc;
    thread->m_param = param;
    thread->m_handle.reset(CreateThread(nullptr, 0, &FwThread::Start, thread, 0, &thread->m_id));
    if (!thread->m_handle) {
        delete thread;
        return nullptr;
    }
    return thread;
}

void FwProgressCtrl::SetRange(int low, int high)
{
    SendMessageA(m_hWnd, PBM_SETRANGE, 0, MAKELPARAM(low, high));
}

void FwProgressCtrl::SetPos(int pos)
{
    SendMessageA(m_hWnd, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
}

FwDialog::FwDialog(UINT templateId, HWND parent) : m_templateId(templateId), m_parent(parent) {}

INT_PTR FwDialog::DoModal()
{
    return DialogBoxParamA(FwGetInstanceHandle(), MAKEINTRESOURCEA(m_templateId), m_parent,
                           &FwDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

void FwDialog::EndModalLoop(int result)
{
    if (m_hWnd)
        PostMessageA(m_hWnd, kEndModalMessage, static_cast<WPARAM>(result), 0);
}

int FwDialog::MessageBox(const char* text, const char* caption, UINT type)
{
    return ::MessageBoxA(m_hWnd, text, caption, type);
}

void FwDialog::DDX_Control(int id, FwProgressCtrl& control)
{
    control.m_hWnd = GetDlgItem(m_hWnd, id);
}

void FwDialog::CenterWindow()
{
    RECT window{};
    RECT area{};
    GetWindowRect(m_hWnd, &window);
    if (m_parent && !IsIconic(m_parent))
        GetWindowRect(m_parent, &area);
    else
        SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    SetWindowPos(m_hWnd, nullptr, area.left + (area.right - area.left - width) / 2,
                 area.top + (area.bottom - area.top - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK FwDialog::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_INITDIALOG) {
        FwDialog* self = reinterpret_cast<FwDialog*>(lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        self->m_hWnd = hwnd;
        self->DoDataExchange();
        self->CenterWindow();
        return self->OnInitDialog();
    }
    FwDialog* self = reinterpret_cast<FwDialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (!self)
        return FALSE;
    switch (msg) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            self->OnOK();
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            self->OnCancel();
            return TRUE;
        }
        return FALSE;
    case WM_SYSCOMMAND:
        return self->OnSysCommand(wParam, lParam) ? TRUE : FALSE;
    case WM_PAINT:
        return self->OnPaint() ? TRUE : FALSE;
    case WM_QUERYDRAGICON:
        return reinterpret_cast<INT_PTR>(self->OnQueryDragIcon());
    case WM_DESTROY:
        self->m_hWnd = nullptr;
        return FALSE;
    default:
        if (msg == kEndModalMessage) {
            EndDialog(hwnd, static_cast<INT_PTR>(wParam));
            return TRUE;
        }
        return FALSE;
    }
}

FwWinApp::FwWinApp()
{
    g_app = this;
}

FwWinApp::~FwWinApp()
{
    if (g_app == this)
        g_app = nullptr;
}

int FwWinApp::Run(HINSTANCE instance, const char* commandLine)
{
    g_instance = instance;
    m_lpCmdLine = commandLine ? commandLine : "";
    if (InitInstance()) {
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return m_exitCode;
}

FwWinApp* FwGetApp()
{
    return g_app;
}
