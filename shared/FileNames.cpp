#include "FileNames.h"

#include "Text.h"

#include <cstring>

namespace
{

// A device name, which names no file in any folder: CON, PRN, AUX, NUL,
// COM1-9, LPT1-9, with or without an extension.
bool isDeviceName(const std::string& part)
{
    const std::string stem = part.substr(0, part.find('.'));
    for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (equalsNoCase(stem.c_str(), device))
            return true;
    if (stem.size() == 4 &&
        (equalsNoCaseN(stem.c_str(), 3, "COM") || equalsNoCaseN(stem.c_str(), 3, "LPT")))
        return stem[3] >= '1' && stem[3] <= '9';
    return false;
}

} // namespace

bool isPlainName(const std::string& part)
{
    if (part.empty() || part == "." || part == ".." || part.back() == '.' || part.back() == ' ')
        return false;
    for (const char c : part)
        if (static_cast<unsigned char>(c) < 32 || std::strchr("<>:\"/|?*\\", c))
            return false;
    return !isDeviceName(part);
}
