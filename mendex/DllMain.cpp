// Library entry point: the diagnostic log opens at load and closes at unload.
// It always reports success, so the log can never make the library fail to load.
#include "DiagLog.h"

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        DiagLogOpen();
        break;
    case DLL_PROCESS_DETACH:
        DiagLogClose();
        break;
    default:
        break;
    }
    return TRUE;
}
