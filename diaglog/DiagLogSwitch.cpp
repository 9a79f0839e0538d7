// The registry switch of the diagnostic log (library load).
#include "DiagLog.h"

#include "Text.h"
#include "WinHandle.h"

#include <cstring>

namespace
{
const char kSwitchKey[] = "Software\\Orvantis\\Diagnostic";
const char kFileName[] = "OvUpdErr.log";
} // namespace

void DiagLogOpen()
{
    UniqueHkey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSwitchKey, 0, KEY_QUERY_VALUE, key.put()) !=
        ERROR_SUCCESS)
        return;

    DWORD on = 0;
    DWORD size = sizeof on;
    if (RegQueryValueExA(key.get(), "DebugOn", nullptr, nullptr, reinterpret_cast<BYTE*>(&on),
                         &size) != ERROR_SUCCESS)
        return;
    if (on == 0)
        return;

    char path[512];
    std::memset(path, 0, sizeof path);
    size = sizeof path - 1;
    if (RegQueryValueExA(key.get(), "Log Path", nullptr, nullptr, reinterpret_cast<BYTE*>(path),
                         &size) != ERROR_SUCCESS)
        return;
    path[sizeof path - 1] = '\0';

    // A directory too long to hold the file name leaves the log off.
    char file[sizeof path];
    if (!joinPath(file, path, kFileName))
        return;
    DiagLogStart(file);
}
