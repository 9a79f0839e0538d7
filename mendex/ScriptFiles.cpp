#include "ScriptFiles.h"

#include "DiagLog.h"
#include "FileIdentity.h"
#include "ResolveList.h"
#include "ResultCodes.h"
#include "Text.h"
#include "UpdateScript.h"
#include "WinHandle.h"

#include <windows.h>

#include <cstring>
#include <optional>
#include <vector>

int readUpdateScript(const char* productKey, UpdateScript* script)
{
    return readUpdateScriptFile(kUpdateScriptName, productKey,
                                static_cast<std::uint16_t>(GetSystemDefaultLangID()), script);
}

namespace
{

// The full, long form of a directory path without trailing backslashes
// (except after a drive letter's root). False when it cannot be formed.
bool canonicalDir(const char* path, char* out, std::size_t cap)
{
    char full[1024];
    DWORD n = GetFullPathNameA(path, sizeof full, full, nullptr);
    if (n == 0 || n >= sizeof full)
        return false;
    char longPath[1024];
    n = GetLongPathNameA(full, longPath, sizeof longPath);
    if (n > 0 && n < sizeof longPath)
        copyText(out, cap, longPath);
    else
        copyText(out, cap, full);
    std::size_t len = std::strlen(out);
    while (len > 0 && out[len - 1] == '\\')
        out[--len] = '\0';
    return true;
}

// A drive's root ("C:") or a share's root ("\\server\share"), as canonicalDir
// leaves them.
bool isRootDir(const char* dir)
{
    std::size_t len = std::strlen(dir);
    if (len <= 2)
        return true;
    if (dir[0] == '\\' && dir[1] == '\\') {
        // \\server\share: no backslash after the share's name.
        const char* server = dir + 2;
        while (*server == '\\' || *server == '?' || *server == '.')
            ++server;
        const char* slash = std::strchr(server, '\\');
        return !slash || !std::strchr(slash + 1, '\\');
    }
    return false;
}

bool sameDirAs(const char* canonical, const char* other)
{
    char otherDir[1024];
    return canonicalDir(other, otherDir, sizeof otherDir) && samePathText(canonical, otherDir);
}

// Directories whose files the clean-up must never delete, whatever the
// registry or the drive search made of the toolkit directory.
bool isProtectedDir(const char* directory)
{
    char dir[1024];
    if (!canonicalDir(directory, dir, sizeof dir))
        return true;
    if (isRootDir(dir))
        return true;
    char buf[MAX_PATH + 1];
    UINT n = GetWindowsDirectoryA(buf, sizeof buf);
    if (n > 0 && n < sizeof buf && sameDirAs(dir, buf))
        return true;
    n = GetSystemWindowsDirectoryA(buf, sizeof buf);
    if (n > 0 && n < sizeof buf && sameDirAs(dir, buf))
        return true;
    n = GetSystemDirectoryA(buf, sizeof buf);
    if (n > 0 && n < sizeof buf && sameDirAs(dir, buf))
        return true;
    n = GetSystemWow64DirectoryA(buf, sizeof buf);
    if (n > 0 && n < sizeof buf && sameDirAs(dir, buf))
        return true;
    DWORD c = GetCurrentDirectoryA(sizeof buf, buf);
    if (c > 0 && c < sizeof buf && sameDirAs(dir, buf))
        return true;
    return false;
}

bool listedIdentities(const FileEntry* fileList, std::vector<FileIdentity>& out)
{
    try {
        for (const FileEntry* entry = fileList; entry; entry = entry->next) {
            FileIdentity identity;
            if (!isBlankText(entry->path) && identityOf(entry->path, identity))
                out.push_back(identity);
        }
        return true;
    } catch (...) {
        return false;
    }
}

// True when path is the same file on disk as a listed one (a file that
// cannot be opened, such as one in use, cannot be told and is not).
bool isListedFile(const char* path, const std::vector<FileIdentity>& identities)
{
    FileIdentity identity;
    if (!identityOf(path, identity))
        return false;
    for (const FileIdentity& listed : identities)
        if (listed.sameFileAs(identity))
            return true;
    return false;
}

} // namespace

int cleanPluginDirectory(const char* directory, const FileEntry* fileList)
{
    if (isBlankText(directory))
        return kFailed;
    if (isProtectedDir(directory))
        return kFailed;

    // The listed paths, compared as samePathText compares them; without
    // them nothing can be told apart, so nothing is deleted.
    std::optional<ListedPaths> listed;
    // The identities of the listed files that exist, gathered when the walk
    // first meets a file that no listed path spells: a listed file under
    // another spelling (short name, "..", "/", a trailing dot) is kept.
    std::optional<std::vector<FileIdentity>> identities;
    try {
        listed.emplace(fileList);
    } catch (...) {
        return kFailed;
    }

    // Directory (at most 511 characters), a backslash and a name of at most
    // MAX_PATH characters always fit: nothing is ever cut.
    char path[1024];
    copyText(path, directory);
    appendText(path, "\\*.*");
    WIN32_FIND_DATAA found;
    UniqueFind find(FindFirstFileA(path, &found));
    if (!find)
        return kNotOnDisk;

    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        if (std::strcmp(found.cFileName, ".") == 0 || std::strcmp(found.cFileName, "..") == 0)
            continue;
        copyText(path, directory);
        appendText(path, "\\");
        appendText(path, found.cFileName);
        if (listed->contains(path))
            continue;
        if (!identities) {
            identities.emplace();
            if (!listedIdentities(fileList, *identities))
                return kFailed;
        }
        if (isListedFile(path, *identities))
            continue;
        if (removeFileEntry(path))
            DiagLog("\n>Deleting file %s", path);
        else
            DiagLog("\n>Error deleting file %s", path);
    } while (FindNextFileA(find.get(), &found));

    return GetLastError() == ERROR_NO_MORE_FILES ? kOk : kFailed;
}
