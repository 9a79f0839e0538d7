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

    // The directory, a backslash unless it ends in one, and the file name.
    // A directory too long to hold the name leaves the log off.
    std::size_t len = std::strlen(path);
    const bool needSlash = len == 0 || path[len - 1] != '\\';
    if (len + (needSlash ? 1 : 0) + sizeof kFileName > sizeof path)
        return;
    if (needSlash)
        appendText(path, "\\");
    appendText(path, kFileName);

    DiagLogStart(path);
}
