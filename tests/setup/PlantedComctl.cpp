// A stand-in for a comctl32.dll planted beside Setup (in a downloads folder,
// say). If it is ever loaded, it leaves a trace: the file "planted-loaded.txt"
// beside itself, written as the library is attached.
#include <windows.h>

#include "Text.h"
#include "WinHandle.h"

#include <cstring>

extern "C" BOOL WINAPI InitCommonControlsEx(const void*)
{
    return TRUE;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    char path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
    char* slash = n > 0 && n < MAX_PATH ? std::strrchr(path, '\\') : nullptr;
    if (!slash)
        return TRUE;
    ++slash;
    copyText(slash, sizeof path - static_cast<std::size_t>(slash - path), "planted-loaded.txt");
    UniqueFile marker(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (marker)
        WriteFile(marker.get(), "loaded\r\n", 8, &written, nullptr);
    return TRUE;
}
