// A small dialog layer over plain Win32: just what Setup needs.
//
// An application object with a start-up hook, modal dialogs on a resource
// template with overridable hooks, a worker thread, the current resource
// handle that texts loaded by ID come from, a fixed-capacity text string and
// the exception type that the patch driver's guards catch.
#pragma once

#include <windows.h>

#include "WinHandle.h"

#include <cstddef>

#if defined(__clang__)
#define FW_PRINTF(f, a) __attribute__((format(printf, f, a)))
#else
#define FW_PRINTF(f, a) __attribute__((format(gnu_printf, f, a)))
#endif

// The program's own module, and the module that texts loaded by ID come from
// (the program's own until changed).
HINSTANCE FwGetInstanceHandle();
HINSTANCE FwGetResourceHandle();
void FwSetResourceHandle(HINSTANCE module);

// Base of the exceptions that the patch driver's guards catch. Thrown by
// pointer; the catcher disposes of it with Delete().
class FwException
{
public:
    virtual ~FwException() = default;
    void Delete() { delete this; }
};

// A text string of fixed capacity, without the heap. What does not fit is
// cut.
class FwText
{
public:
    static constexpr std::size_t kCapacity = 1024;

    FwText() { m_text[0] = '\0'; }
    FwText(const char* text) { *this = text; }
    FwText& operator=(const char* text);
    FwText& operator+=(const char* text);
    // Loads text id from the current resource handle; empty when missing.
    void LoadString(UINT id);
    void Format(const char* format, ...) FW_PRINTF(2, 3);
    const char* c_str() const { return m_text; }
    bool IsEmpty() const { return m_text[0] == '\0'; }

private:
    char m_text[kCapacity];
};

// A thread running a procedure with one pointer argument.
class FwThread
{
public:
    using Proc = UINT (*)(LPVOID);
    HANDLE Handle() const { return m_handle.get(); }
    DWORD Id() const { return m_id; }
    bool IsRunning() const;

private:
    friend FwThread* FwBeginThread(Proc proc, LPVOID param);
    FwThread() = default;
    UniqueKernelHandle m_handle;
    DWORD m_id = 0;
    Proc m_proc = nullptr;
    LPVOID m_param = nullptr;
    static DWORD WINAPI Start(LPVOID self);
};

// Starts proc(param) at normal priority with the default stack size, running
// at once. Returns null when the thread cannot be started. The caller owns the
// object.
FwThread* FwBeginThread(FwThread::Proc proc, LPVOID param);

// A progress bar bound to a dialog control.
class FwProgressCtrl
{
public:
    HWND m_hWnd = nullptr;
    void SetRange(int low, int high);
    void SetPos(int pos);
};

// A modal dialog on a template of the program's own resources. The dialog
// procedure only dispatches to the hooks below.
class FwDialog
{
public:
    FwDialog(UINT templateId, HWND parent);
    virtual ~FwDialog() = default;
    FwDialog(const FwDialog&) = delete;
    FwDialog& operator=(const FwDialog&) = delete;

    INT_PTR DoModal();
    // Ends the modal loop with result; may be called from any thread.
    virtual void EndModalLoop(int result);
    // A message box owned by this window.
    int MessageBox(const char* text, const char* caption, UINT type);

    HWND m_hWnd = nullptr;

protected:
    // Binds controls to members (called before OnInitDialog).
    virtual void DoDataExchange() {}
    // Returns true to give the focus to the first control.
    virtual BOOL OnInitDialog() { return TRUE; }
    virtual void OnOK() { EndModalLoop(IDOK); }
    virtual void OnCancel() { EndModalLoop(IDCANCEL); }
    // Returns true when handled; false lets the default processing run.
    virtual bool OnSysCommand(WPARAM, LPARAM) { return false; }
    // Returns true when painted; false lets the default processing run.
    virtual bool OnPaint() { return false; }
    virtual HICON OnQueryDragIcon() { return nullptr; }

    void DDX_Control(int id, FwProgressCtrl& control);

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    void CenterWindow();
    UINT m_templateId;
    HWND m_parent;
};

// The application object: one global instance; WinMain runs its start-up
// hook and ends the program when it returns.
class FwWinApp
{
public:
    FwWinApp();
    virtual ~FwWinApp();
    FwWinApp(const FwWinApp&) = delete;
    FwWinApp& operator=(const FwWinApp&) = delete;
    // Returns false to end the program instead of running a message loop.
    virtual BOOL InitInstance() = 0;
    // Runs the program; returns m_exitCode.
    int Run(HINSTANCE instance, const char* commandLine);

    FwDialog* m_pMainWnd = nullptr;
    const char* m_lpCmdLine = ""; // the arguments, without the program name
    int m_exitCode = 0;           // the process's exit code
};
FwWinApp* FwGetApp();
