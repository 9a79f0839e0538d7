// Library entry point: the diagnostic log opens at load; at unload the
// found-product list is freed and then the log closes. It always reports
// success, so the log can never make the library fail to load.
#include "DiagLog.h"
#include "ProductList.h"

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        DiagLogOpen();
        break;
    case DLL_PROCESS_DETACH:
        FreePXLL();
        DiagLogClose();
        break;
    default:
        break;
    }
    return TRUE;
}
