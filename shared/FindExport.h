// A library's export by name, as the function type that its public header
// declares.
#pragma once

#include <windows.h>

// The export name of module as a function of type Fn; null when the module is
// null or has no such export.
template <typename Fn> Fn findExport(HMODULE module, const char* name)
{
    FARPROC found = module ? GetProcAddress(module, name) : nullptr;
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(found));
}
