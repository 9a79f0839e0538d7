// The anchor's drive search: where else on the machine an intact copy of
// the anchor file is.
#include "DriveSearch.h"

#include "Directories.h"
#include "FileRestore.h"
#include "ProtectedDirs.h"
#include "ResolveList.h"
#include "ResultCodes.h"
#include "Text.h"
#include "UpdateScript.h"

#include <windows.h>

#include <imagehlp.h>

#include <cstring>

namespace
{

// The full path of the anchor's resolve source, or "" when it has none.
void resolveSourcePath(ResolveList& resolveList, const char* productKey, const char* fileName,
                       char* out, std::size_t cap)
{
    out[0] = '\0';
    char source[512];
    if (resolveList.lookup(productKey, fileName, source, sizeof source) != kOk ||
        isBlankText(source))
        return;
    char full[512];
    DWORD n = GetFullPathNameA(source, sizeof full, full, nullptr);
    if (n == 0 || n >= sizeof full)
        copyText(out, cap, source);
    else
        copyText(out, cap, full);
}

// Keeps the system's "No disk" and open-error boxes away while it lives:
// the drive search looks at drives that may hold no medium.
class QuietErrors
{
public:
    QuietErrors() : old_(GetErrorMode())
    {
        SetErrorMode(old_ | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    }
    ~QuietErrors() { SetErrorMode(old_); }
    QuietErrors(const QuietErrors&) = delete;
    QuietErrors& operator=(const QuietErrors&) = delete;

private:
    UINT old_;
};

// True when path runs through a folder of this name (letter case aside).
bool passesThrough(const char* path, const char* folder)
{
    const std::size_t len = std::strlen(folder);
    for (const char* p = std::strchr(path, '\\'); p; p = std::strchr(p + 1, '\\'))
        if (_strnicmp(p + 1, folder, len) == 0 && p[1 + len] == '\\')
            return true;
    return false;
}

// The system's own places: a copy there is never the installation's. So are
// the places that cannot be an installation's folder (a drive's root, the
// Windows tree, the shell's and the user's folders, the patch's folders).
bool isSystemPlace(const char* path, const char* windowsDir)
{
    if ((windowsDir[0] != '\0' && pathIsInside(path, windowsDir)) ||
        passesThrough(path, "$Recycle.Bin") || passesThrough(path, "RECYCLER") ||
        passesThrough(path, "System Volume Information"))
        return true;
    char folder[512];
    copyText(folder, path);
    return !cutAtLastBackslash(folder) || isProtectedDir(folder);
}

} // namespace

int searchDrivesForFile(FileEntry& entry, const char* productKey, ResolveList& resolveList)
{
    const char* slash = std::strrchr(entry.path, '\\');
    if (!slash)
        return kMalformed;
    char kept[sizeof entry.path];
    copyText(kept, entry.path);
    char name[sizeof entry.path];
    copyText(name, slash + 1);
    if (isBlankText(name))
        return kFailed;

    // The patch's own folder: copies there are the patch's sources, never
    // the installation.
    char currentDir[512];
    DWORD n = GetCurrentDirectoryA(sizeof currentDir, currentDir);
    if (n == 0 || n >= sizeof currentDir)
        currentDir[0] = '\0';
    char windowsDir[MAX_PATH + 1];
    const UINT w = GetWindowsDirectoryA(windowsDir, sizeof windowsDir);
    if (w == 0 || w >= sizeof windowsDir)
        windowsDir[0] = '\0';
    char source[512] = "";
    bool sourceKnown = false;
    QuietErrors quiet;

    char root[] = "C:\\";
    for (char drive = 'C'; drive <= 'Z'; ++drive) {
        root[0] = drive;
        char found[512];
        std::memset(found, 0, sizeof found);
        if (!SearchTreeForFile(root, name, found))
            continue;
        found[sizeof found - 1] = '\0';
        if (pathIsInside(found, currentDir) || isSystemPlace(found, windowsDir))
            continue;
        copyText(entry.path, found);
        if (checkFile(entry) != kOk)
            continue;
        if (!sourceKnown) {
            resolveSourcePath(resolveList, productKey, name, source, sizeof source);
            sourceKnown = true;
        }
        if (source[0] != '\0' && samePathText(found, source))
            continue;
        return kOk;
    }
    copyText(entry.path, kept);
    return kFailed;
}
