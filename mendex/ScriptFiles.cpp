#include "ScriptFiles.h"

#include "UpdateScript.h"

#include <windows.h>

#include <cstdint>

int readUpdateScript(const char* productKey, UpdateScript* script)
{
    return readUpdateScriptFile(kUpdateScriptName, productKey,
                                static_cast<std::uint16_t>(GetSystemDefaultLangID()), script);
}
