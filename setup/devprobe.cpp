// Stand-in for the hardware-check program that ships beside Setup: it notes
// that it was started, with its command line, in "devprobe.log" beside
// itself, and exits.
#include <windows.h>

#include "Text.h"
#include "WinHandle.h"

#include <cstring>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char path[MAX_PATH + 16] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return 1;
    char* slash = std::strrchr(path, '\\');
    if (!slash)
        return 1;
    slash[1] = '\0';
    appendText(path, "devprobe.log");
    UniqueFile file(CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return 1;
    char line[1200];
    copyText(line, "started: ");
    appendText(line, GetCommandLineA());
    appendText(line, "\r\n");
    DWORD written = 0;
    WriteFile(file.get(), line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
    return 0;
}
