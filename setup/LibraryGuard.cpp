// A call into a loaded library on a thread of its own, so that a library
// that throws, faults or aborts ends its call and not Setup.
//
// The thread notes its call in a thread-local slot. Two process-wide
// handlers, installed once, end such a thread when its library breaks down:
// the unhandled-exception filter (structured exceptions) and the C runtime's
// abort signal (abort, and std::terminate after a throw that found no
// handler). Both hand the outcome to the waiting caller and end only the
// call's thread. Every module of the process shares the system C runtime, so
// an abort inside a library reaches the signal handler set here.
#include "LibraryGuard.h"

#include "FwDialog.h"
#include "Text.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace
{

// The exit code of a call's thread that a handler ended.
const DWORD kEndedByGuard = 0xDEAD;

// GCC's own exception codes: a C++ throw on its way (64-bit build). The C++
// runtime's filter lets them continue so that std::terminate runs.
bool isCppException(DWORD code)
{
    return code == 0x20474343 || code == 0x21474343 || code == 0x22474343;
}

struct GuardedCall {
    int (*fn)(void*);
    void* context;
    CallOutcome outcome;
};

DWORD g_slot = TLS_OUT_OF_INDEXES;
LPTOP_LEVEL_EXCEPTION_FILTER g_previousFilter = nullptr;

GuardedCall* currentCall()
{
    const DWORD error = GetLastError();
    GuardedCall* call =
        g_slot == TLS_OUT_OF_INDEXES ? nullptr : static_cast<GuardedCall*>(TlsGetValue(g_slot));
    SetLastError(error);
    return call;
}

// Ends the call's thread: the library's frames are abandoned where they are.
[[noreturn]] void endCall(GuardedCall* call, CallEnd end)
{
    call->outcome.end = end;
    TlsSetValue(g_slot, nullptr);
    ExitThread(kEndedByGuard);
}

LONG WINAPI onUnhandledException(EXCEPTION_POINTERS* info)
{
    const EXCEPTION_RECORD* what = info->ExceptionRecord;
    GuardedCall* call = currentCall();
    if (call && !isCppException(what->ExceptionCode)) {
        call->outcome.code = what->ExceptionCode;
        call->outcome.address = what->ExceptionAddress;
        endCall(call, CallEnd::Faulted);
    }
    return g_previousFilter ? g_previousFilter(info) : EXCEPTION_CONTINUE_SEARCH;
}

void __cdecl onAbort(int)
{
    // The runtime resets the handler before calling it.
    std::signal(SIGABRT, onAbort);
    if (GuardedCall* call = currentCall())
        endCall(call, CallEnd::Aborted);
    // Outside a guarded call: abort goes on and ends the program.
}

void installHandlers()
{
    g_slot = TlsAlloc();
    if (g_slot == TLS_OUT_OF_INDEXES)
        return;
    g_previousFilter = SetUnhandledExceptionFilter(onUnhandledException);
    std::signal(SIGABRT, onAbort);
    // abort's message goes to the (absent) console, never into a message box.
    _set_error_mode(_OUT_TO_STDERR);
}

DWORD WINAPI runCall(LPVOID param)
{
    GuardedCall* call = static_cast<GuardedCall*>(param);
    TlsSetValue(g_slot, call);
    // A C++ exception can leave a library on the 64-bit build only.
    try {
        call->outcome.result = call->fn(call->context);
        call->outcome.end = CallEnd::Returned;
    } catch (FwException* e) {
        e->Delete();
        call->outcome.end = CallEnd::Threw;
    } catch (...) {
        call->outcome.end = CallEnd::Threw;
    }
    TlsSetValue(g_slot, nullptr);
    return 0;
}

} // namespace

CallOutcome callGuarded(int (*fn)(void*), void* context)
{
    static std::once_flag installed;
    std::call_once(installed, installHandlers);
    GuardedCall call{fn, context, {}};
    if (g_slot == TLS_OUT_OF_INDEXES)
        return call.outcome;
    UniqueKernelHandle thread(CreateThread(nullptr, 0, runCall, &call, 0, nullptr));
    if (!thread)
        return call.outcome;
    WaitForSingleObject(thread.get(), INFINITE);
    return call.outcome;
}

CallOutcome callGuarded(int (*fn)(InstallRecord*), InstallRecord* record)
{
    auto call = [fn, record] { return fn(record); };
    return callGuarded(call);
}

void describeCallEnd(const CallOutcome& outcome, char* out, std::size_t size)
{
    if (size == 0)
        return;
    switch (outcome.end) {
    case CallEnd::Returned:
        std::snprintf(out, size, "returned %d", outcome.result);
        return;
    case CallEnd::Threw:
        copyText(out, size, "threw a C++ exception");
        return;
    case CallEnd::Aborted:
        copyText(out, size, "aborted");
        return;
    case CallEnd::NotStarted:
        copyText(out, size, "could not be started");
        return;
    case CallEnd::Faulted:
        break;
    }
    // Where: the module that holds the address, and the offset in it.
    char module[MAX_PATH] = "an unknown module";
    std::uintptr_t offset = reinterpret_cast<std::uintptr_t>(outcome.address);
    HMODULE holder = nullptr;
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                               GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           static_cast<LPCSTR>(outcome.address), &holder) &&
        holder) {
        char path[MAX_PATH] = {};
        const DWORD n = GetModuleFileNameA(holder, path, sizeof path);
        if (n > 0 && n < sizeof path) {
            const char* name = path;
            for (const char* p = path; *p; ++p)
                if (*p == '\\' || *p == '/')
                    name = p + 1;
            copyText(module, name);
        }
        offset -= reinterpret_cast<std::uintptr_t>(holder);
    }
    std::snprintf(out, size, "raised exception 0x%08lX at %s+0x%llX",
                  static_cast<unsigned long>(outcome.code), module,
                  static_cast<unsigned long long>(offset));
}
