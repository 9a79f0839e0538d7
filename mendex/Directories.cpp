#include "Directories.h"

#include "Text.h"

#include <cstring>

namespace
{

const char* const kToolkitTail = "VEXsoft\\PLUGINS";

} // namespace

void buildProductKey(char* out, std::size_t cap, const char* productName,
                     const char* productVersion)
{
    copyText(out, cap, productName);
    appendText(out, cap, "\\");
    appendText(out, cap, productVersion);
}

bool deriveToolkitDir(char* toolkitDir, std::size_t cap, const char* programDir,
                      const char* toolkitVersion)
{
    if (cap == 0)
        return false;
    char work[512];
    copyText(work, programDir);

    char* slash = std::strrchr(work, '\\');
    if (!slash)
        return false;
    if (equalsNoCase(slash + 1, "plugins")) {
        *slash = '\0';
        slash = std::strrchr(work, '\\');
        if (!slash)
            return false;
    }
    slash[1] = '\0';

    copyText(toolkitDir, cap, work);
    appendText(toolkitDir, cap, kToolkitTail);
    if (std::strcmp(toolkitVersion, "1.1") == 0)
        appendText(toolkitDir, cap, "11");
    else if (std::strcmp(toolkitVersion, "1.2") == 0)
        appendText(toolkitDir, cap, "12");
    return true;
}

bool deriveOcrDir(char* ocrPath, std::size_t cap, const char* toolkitDir)
{
    const char* slash = std::strrchr(toolkitDir, '\\');
    if (!slash || cap == 0)
        return false;
    char work[512];
    copyTextN(work, sizeof work, toolkitDir, static_cast<std::size_t>(slash - toolkitDir) + 1);
    appendText(work, "Ocr");
    copyText(ocrPath, cap, work);
    return true;
}

bool cutAtLastBackslash(char* path)
{
    char* slash = std::strrchr(path, '\\');
    if (!slash)
        return false;
    *slash = '\0';
    return true;
}

const char* fileNameOf(const char* path)
{
    const char* slash = std::strrchr(path, '\\');
    return slash ? slash + 1 : path;
}

bool pathIsInside(const char* path, const char* dir)
{
    std::size_t len = std::strlen(dir);
    while (len > 0 && dir[len - 1] == '\\')
        --len;
    std::size_t spaces = 0;
    while (spaces < len && dir[spaces] == ' ')
        ++spaces;
    if (spaces == len)
        return false;
    for (std::size_t i = 0; i < len; ++i)
        if (path[i] == '\0' || lowerAscii(path[i]) != lowerAscii(dir[i]))
            return false;
    return path[len] == '\\' && path[len + 1] != '\0';
}
