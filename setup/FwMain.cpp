// Program entry: before anything else, libraries loaded by name come from the
// system directory only; then the application object's start-up hook runs.
#include "FwDialog.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    // Looked up: systems without it keep their default search order.
    using SetDirectoriesProc = BOOL(WINAPI*)(DWORD);
    if (HMODULE kernel = GetModuleHandleA("kernel32.dll")) {
        FARPROC found = GetProcAddress(kernel, "SetDefaultDllDirectories");
        auto setDirectories =
            reinterpret_cast<SetDirectoriesProc>(reinterpret_cast<void (*)()>(found));
        if (setDirectories)
            setDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    FwWinApp* app = FwGetApp();
    return app ? app->Run(instance, commandLine) : 1;
}
