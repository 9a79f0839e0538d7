#include "FileRestore.h"

#include "DiagLog.h"
#include "Directories.h"
#include "ResolveList.h"
#include "ResultCodes.h"
#include "Text.h"
#include "UpdateScript.h"
#include "WinHandle.h"

#include <imagehlp.h>

#include <cstdio>
#include <cstring>

namespace
{

// The name of the temporary copy beside the target. A leftover of an
// interrupted run is overwritten by the next restore of that file.
const char kTempSuffix[] = ".~mdx";
const char kShortTempName[] = "~mdx.tmp";
// The scratch folder of a folder that files are restored to; the temporary
// copy in it is named kShortTempName.
const char kScratchName[] = "~mdx.dir";

// The temporary copy's path: the target's path and kTempSuffix, or, when
// that would be longer than a path may be, kShortTempName in the target's
// directory, so that a target that can be written can also be restored.
bool temporaryName(char* out, std::size_t cap, const char* target)
{
    int len = std::snprintf(out, cap, "%s%s", target, kTempSuffix);
    if (len > 0 && static_cast<std::size_t>(len) < cap && len < MAX_PATH)
        return true;
    const char* slash = std::strrchr(target, '\\');
    const std::size_t dirLen = slash ? static_cast<std::size_t>(slash - target) + 1 : 0;
    len = std::snprintf(out, cap, "%.*s%s", static_cast<int>(dirLen), target, kShortTempName);
    return len > 0 && static_cast<std::size_t>(len) < cap && len < MAX_PATH;
}

void removeTemporary(const char* temp)
{
    SetFileAttributesA(temp, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(temp);
}

bool sizeOf(const char* path, unsigned long long& size)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data))
        return false;
    size = (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

// A folder's scratch folder, made now or left by an interrupted run (a
// plain directory, no link to elsewhere, so the copy stays on the target's
// volume). False when it cannot be had.
bool makeScratch(const std::string& folder)
{
    if (folder.size() + 1 + sizeof kShortTempName > MAX_PATH)
        return false;
    if (CreateDirectoryA(folder.c_str(), nullptr))
        return true;
    if (GetLastError() != ERROR_ALREADY_EXISTS)
        return false;
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A read-only target stays in place; so does a directory of that name.
bool takesCopy(const char* target)
{
    const DWORD attributes = GetFileAttributesA(target);
    return attributes == INVALID_FILE_ATTRIBUTES ||
           !(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
}

// Copies source to temp and moves temp over target; whatever fails leaves
// the target as it was and no temporary file.
bool replaceThrough(const char* source, const char* target, const char* temp)
{
    unsigned long long sourceSize = 0;
    unsigned long long copiedSize = 0;
    if (!CopyFileA(source, temp, FALSE)) {
        // A read-only leftover of an interrupted run is in the way: remove
        // it and try once more. Whatever fails leaves no temporary file.
        const bool leftover = GetFileAttributesA(temp) != INVALID_FILE_ATTRIBUTES;
        removeTemporary(temp);
        if (!leftover || !CopyFileA(source, temp, FALSE)) {
            removeTemporary(temp);
            return false;
        }
    }
    // A copy that stopped short (a read failing half-way) is not put in place.
    if (!sizeOf(source, sourceSize) || !sizeOf(temp, copiedSize) || sourceSize != copiedSize) {
        removeTemporary(temp);
        return false;
    }
    if (!MoveFileExA(temp, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        removeTemporary(temp);
        return false;
    }
    return true;
}

// A path whose last part is a plain name: no wildcard, not ending in a
// separator, dot, space or drive. For such a path the attributes of the
// name say what its directory entry says, and are had without listing the
// folder (much faster in a big one); any other path, and a name that cannot
// be had that way, is looked up in the folder's listing.
bool isPlainFilePath(const char* path)
{
    if (!std::strpbrk(path, "\\/") || std::strpbrk(path, "*?<>\""))
        return false;
    const char last = path[std::strlen(path) - 1];
    return last != '\\' && last != '/' && last != '.' && last != ' ' && last != ':';
}

// checkFile's answer for a name found with these attributes.
int matches(const FileEntry& entry, DWORD attributes, DWORD sizeHigh, DWORD sizeLow,
            const FILETIME& lastWrite)
{
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return kFailed;
    if (sizeLow != entry.sizeLow || sizeHigh != entry.sizeHigh ||
        lastWrite.dwLowDateTime != entry.timeLow || lastWrite.dwHighDateTime != entry.timeHigh)
        return kFailed;
    return kOk;
}

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

} // namespace

int checkFile(const FileEntry& entry)
{
    if (isBlankText(entry.path))
        return kOk;
    WIN32_FILE_ATTRIBUTE_DATA attributes;
    if (isPlainFilePath(entry.path) &&
        GetFileAttributesExA(entry.path, GetFileExInfoStandard, &attributes))
        return matches(entry, attributes.dwFileAttributes, attributes.nFileSizeHigh,
                       attributes.nFileSizeLow, attributes.ftLastWriteTime);
    WIN32_FIND_DATAA data;
    UniqueFind find(FindFirstFileA(entry.path, &data));
    if (!find)
        return kNotOnDisk;
    find.reset();
    return matches(entry, data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow,
                   data.ftLastWriteTime);
}

int searchDrivesForFile(FileEntry& entry, const char* productKey)
{
    ResolveList resolveList;
    return searchDrivesForFile(entry, productKey, resolveList);
}

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
    char source[512] = "";
    bool sourceKnown = false;

    char root[] = "C:\\";
    for (char drive = 'C'; drive <= 'Z'; ++drive) {
        root[0] = drive;
        char found[512];
        std::memset(found, 0, sizeof found);
        if (!SearchTreeForFile(root, name, found))
            continue;
        found[sizeof found - 1] = '\0';
        if (pathIsInside(found, currentDir))
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

bool replaceFileFromSource(const char* source, const char* target)
{
    if (!takesCopy(target))
        return false;
    char temp[600];
    if (!temporaryName(temp, sizeof temp, target))
        return false;
    return replaceThrough(source, target, temp);
}

bool replaceFileFromSource(const char* source, const char* target, RestoreSession& session)
{
    if (!takesCopy(target))
        return false;
    char temp[600];
    if (!session.scratchTemporary(target, temp, sizeof temp) &&
        !temporaryName(temp, sizeof temp, target))
        return false;
    return replaceThrough(source, target, temp);
}

bool RestoreSession::scratchTemporary(const char* target, char* out, std::size_t cap)
{
    const char* slash = std::strrchr(target, '\\');
    if (!slash)
        return false;
    try {
        const std::string dir(target, static_cast<std::size_t>(slash - target));
        normalPathText(dir.c_str(), key_);
        auto [it, fresh] = scratch_.emplace(key_, std::string());
        if (fresh) {
            // Known before the folder is made, so that close finds it.
            std::string folder = dir + "\\" + kScratchName;
            if (makeScratch(folder))
                it->second = std::move(folder);
        }
        if (it->second.empty())
            return false;
        int len = std::snprintf(out, cap, "%s\\%s", it->second.c_str(), kShortTempName);
        return len > 0 && static_cast<std::size_t>(len) < cap && len < MAX_PATH;
    } catch (...) {
        return false;
    }
}

void RestoreSession::close()
{
    for (const auto& known : scratch_) {
        if (known.second.empty())
            continue;
        char temp[600];
        int len = std::snprintf(temp, sizeof temp, "%s\\%s", known.second.c_str(), kShortTempName);
        if (len > 0 && static_cast<std::size_t>(len) < sizeof temp)
            removeTemporary(temp);
        SetFileAttributesA(known.second.c_str(), FILE_ATTRIBUTE_NORMAL);
        RemoveDirectoryA(known.second.c_str());
    }
    scratch_.clear();
}

void restoreFile(const char* productKey, const char* path, int& runResult)
{
    RestoreSession session;
    restoreFile(productKey, path, runResult, session);
}

void restoreFile(const char* productKey, const char* path, int& runResult, RestoreSession& session)
{
    char source[512];
    if (session.resolveList().lookup(productKey, fileNameOf(path), source, sizeof source) != kOk) {
        DiagLog("\n> Error restoring file %s", path);
        return;
    }
    if (!replaceFileFromSource(source, path, session)) {
        DiagLog("\n>Error copying file %s to %s", source, path);
        runResult = kRestoreFailed;
    }
    DiagLog("\n>Restoring file %s", path);
}
