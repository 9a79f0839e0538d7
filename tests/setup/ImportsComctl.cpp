// A program that imports comctl32.dll the way Setup does, but has no
// manifest: the control case of the planted-library test (a comctl32.dll
// beside it is loaded, so the stand-in's trace shows).
#include <windows.h>

#include <commctrl.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = ICC_PROGRESS_CLASS;
    return InitCommonControlsEx(&controls) ? 0 : 1;
}
