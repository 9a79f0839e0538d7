#include "FileRestore.h"

#include "DiagLog.h"
#include "Directories.h"
#include "FileIdentity.h"
#include "InUse.h"
#include "ResolveList.h"
#include "ResultCodes.h"
#include "Text.h"
#include "UpdateScript.h"
#include "WinHandle.h"

#include <cstdio>
#include <cstring>
#include <optional>

namespace
{

// The names of the temporary copy beside the target: the target's path and
// kTempSuffix (or a numbered suffix when that name is taken), or, when that
// would be longer than a path may be, a short name in the target's
// directory. A name that exists is never written: a leftover of an earlier
// run, or a link planted under that name, stays untouched.
const char kTempSuffix[] = ".~mdx";
const char kShortTempName[] = "~mdx.tmp";
constexpr int kTempAttempts = 10;
// The scratch folder of a folder that files are restored to (a numbered
// name when that one exists); the temporary copy in it is named
// kShortTempName, and kMarkerName marks the folder as made by a run.
const char kScratchName[] = "~mdx.dir";
const char kScratchPattern[] = "~mdx*.dir";
const char kMarkerName[] = "~mdx.own";

bool fits(int len, std::size_t cap)
{
    return len > 0 && static_cast<std::size_t>(len) < cap && len < MAX_PATH;
}

// The attempt's temporary name for target; false when none fits.
bool temporaryName(char* out, std::size_t cap, const char* target, int attempt)
{
    int len = attempt == 0 ? std::snprintf(out, cap, "%s%s", target, kTempSuffix)
                           : std::snprintf(out, cap, "%s.~md%d", target, attempt);
    if (fits(len, cap))
        return true;
    // The shortest names, so that a target that can be written can also be
    // restored: "~mdx.tmp", or "~0" to "~9" when even that is too long.
    const char* slash = std::strrchr(target, '\\');
    const int dirLen = slash ? static_cast<int>(slash - target) + 1 : 0;
    len = attempt == 0 ? std::snprintf(out, cap, "%.*s%s", dirLen, target, kShortTempName) : -1;
    if (fits(len, cap))
        return true;
    len = std::snprintf(out, cap, "%.*s~%d", dirLen, target, attempt);
    return fits(len, cap);
}

// Removes a temporary copy of this run: made fresh and never read-only, so
// its attributes are never touched.
void removeTemporary(const char* temp)
{
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

std::string joined(const std::string& folder, const char* name)
{
    return folder + "\\" + name;
}

// A scratch folder made now, under a name that did not exist, with the
// run's marker in it. False when none can be made.
bool makeScratch(const std::string& dir, std::string& folder)
{
    for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
        char name[16];
        if (attempt == 0)
            copyText(name, kScratchName);
        else
            std::snprintf(name, sizeof name, "~mdx%d.dir", attempt);
        std::string candidate = joined(dir, name);
        if (candidate.size() + 1 + sizeof kShortTempName > MAX_PATH)
            return false;
        if (!CreateDirectoryA(candidate.c_str(), nullptr)) {
            if (GetLastError() == ERROR_ALREADY_EXISTS)
                continue;
            return false;
        }
        UniqueFile marker(CreateFileA(joined(candidate, kMarkerName).c_str(), GENERIC_WRITE, 0,
                                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!marker) {
            RemoveDirectoryA(candidate.c_str());
            return false;
        }
        folder = std::move(candidate);
        return true;
    }
    return false;
}

// Removes a scratch folder of a run: its temporary copy, its marker, the
// folder. Whatever else is in it keeps the folder. It allocates nothing, so
// that a session can always be closed, memory or not.
void removeScratch(const std::string& folder) noexcept
{
    char path[MAX_PATH + 16];
    if (fits(std::snprintf(path, sizeof path, "%s\\%s", folder.c_str(), kShortTempName),
             sizeof path))
        removeTemporary(path);
    if (fits(std::snprintf(path, sizeof path, "%s\\%s", folder.c_str(), kMarkerName), sizeof path))
        DeleteFileA(path);
    RemoveDirectoryA(folder.c_str());
}

// True when folder is a plain directory holding the marker and nothing but
// the marker and a temporary copy, all plain files. An empty one is a
// leftover too: a run stopped between making the folder and its marker, or
// between removing the marker and the folder, leaves it so, and removing an
// empty folder loses nothing.
bool isLeftoverScratch(const std::string& folder)
{
    WIN32_FIND_DATAA data;
    UniqueFind find(FindFirstFileA(joined(folder, "*").c_str(), &data));
    if (!find)
        return false;
    bool marked = false;
    bool empty = true;
    do {
        if (std::strcmp(data.cFileName, ".") == 0 || std::strcmp(data.cFileName, "..") == 0)
            continue;
        empty = false;
        if (data.dwFileAttributes &
            (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY))
            return false;
        if (samePathText(data.cFileName, kMarkerName))
            marked = true;
        else if (!samePathText(data.cFileName, kShortTempName))
            return false;
    } while (FindNextFileA(find.get(), &data));
    return marked || empty;
}

// Removes the scratch folders that interrupted runs left in dir.
void removeLeftovers(const std::string& dir)
{
    WIN32_FIND_DATAA data;
    UniqueFind find(FindFirstFileA(joined(dir, kScratchPattern).c_str(), &data));
    if (!find)
        return;
    do {
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            const std::string folder = joined(dir, data.cFileName);
            if (isLeftoverScratch(folder))
                removeScratch(folder);
        }
    } while (FindNextFileA(find.get(), &data));
}

// A read-only target stays in place; so does a directory of that name.
bool takesCopy(const char* target)
{
    const DWORD attributes = GetFileAttributesA(target);
    return attributes == INVALID_FILE_ATTRIBUTES ||
           !(attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY));
}

enum class Copy { made, taken, failed };

// Copies source to temp, a name that must not exist yet; the copy is made
// writable (it is the run's own) so that it can be flushed and removed.
Copy copyFresh(const char* source, const char* temp)
{
    if (!CopyFileA(source, temp, TRUE)) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
            return Copy::taken;
        removeTemporary(temp);
        return Copy::failed;
    }
    const DWORD attributes = GetFileAttributesA(temp);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesA(temp, attributes & ~FILE_ATTRIBUTE_READONLY);
    return Copy::made;
}

// Keeps the copy at temp, whole and flushed, beside target under a name
// that did not exist; false when none can be had (temp stays).
bool keepBeside(const char* temp, const char* target, InUseCopy& inUse)
{
    const char* slash = std::strrchr(target, '\\');
    const char* tempSlash = std::strrchr(temp, '\\');
    if (slash && tempSlash && slash - target == tempSlash - temp &&
        std::strncmp(target, temp, static_cast<std::size_t>(slash - target)) == 0) {
        inUse.waiting = temp; // already beside it
        return true;
    }
    char name[600];
    for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
        if (!temporaryName(name, sizeof name, target, attempt))
            return false;
        if (MoveFileExA(temp, name, MOVEFILE_WRITE_THROUGH)) {
            inUse.waiting = name;
            return true;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS)
            return false;
    }
    return false;
}

// Moves the copy at temp over target once it is whole and on the disk;
// whatever fails leaves the target as it was and no temporary file (but
// for a copy kept for a target in use, when asked).
bool putInPlace(const char* source, const char* target, const char* temp, FileIdentity* placed,
                InUseCopy* inUse)
{
    unsigned long long sourceSize = 0;
    unsigned long long copiedSize = 0;
    // A copy that stopped short (a read failing half-way) is not put in place.
    bool whole = sizeOf(source, sourceSize) && sizeOf(temp, copiedSize) && sourceSize == copiedSize;
    if (whole) {
        // The data reaches the disk before the name does.
        UniqueFile copy(CreateFileA(temp, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        whole = copy && FlushFileBuffers(copy.get());
        // The copy keeps its identity when it takes the target's name.
        if (whole && placed && !identityOf(copy.get(), *placed))
            *placed = FileIdentity();
    }
    if (!whole) {
        removeTemporary(temp);
        return false;
    }
    if (MoveFileExA(temp, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    const DWORD error = GetLastError();
    if (inUse && isInUseFailure(error, target)) {
        inUse->inUse = true;
        if (inUse->keepCopy && keepBeside(temp, target, *inUse))
            return false;
    }
    removeTemporary(temp);
    return false;
}

// Copies source to temp and moves it over target: true or false as it went,
// nothing when temp's name was taken.
std::optional<bool> replaceVia(const char* source, const char* target, const char* temp,
                               FileIdentity* placed, InUseCopy* inUse)
{
    switch (copyFresh(source, temp)) {
    case Copy::made:
        return putInPlace(source, target, temp, placed, inUse);
    case Copy::failed:
        return false;
    case Copy::taken:
        break;
    }
    return std::nullopt;
}

// Copies source to a fresh temporary name beside target and moves it over
// target.
bool replaceBeside(const char* source, const char* target, FileIdentity* placed, InUseCopy* inUse)
{
    char temp[600];
    for (int attempt = 0; attempt < kTempAttempts; ++attempt) {
        if (!temporaryName(temp, sizeof temp, target, attempt))
            return false;
        if (const std::optional<bool> done = replaceVia(source, target, temp, placed, inUse))
            return *done;
    }
    return false;
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

bool replaceFileFromSource(const char* source, const char* target)
{
    if (!takesCopy(target))
        return false;
    return replaceBeside(source, target, nullptr, nullptr);
}

bool replaceFileFromSource(const char* source, const char* target, RestoreSession& session,
                           FileIdentity* placed, InUseCopy* inUse)
{
    if (!takesCopy(target))
        return false;
    char temp[600];
    if (session.scratchTemporary(target, temp, sizeof temp))
        if (const std::optional<bool> done = replaceVia(source, target, temp, placed, inUse))
            return *done;
    return replaceBeside(source, target, placed, inUse);
}

RestoreSession::Folder* RestoreSession::folderOf(const char* path)
{
    const char* slash = std::strrchr(path, '\\');
    if (!slash)
        return nullptr;
    const std::string dir(path, static_cast<std::size_t>(slash - path));
    normalPathText(dir.c_str(), key_);
    auto [it, fresh] = folders_.emplace(key_, Folder());
    if (fresh) {
        it->second.dir = dir;
        if (it->second.held.open(dir.c_str()))
            removeLeftovers(dir);
    }
    return &it->second;
}

bool RestoreSession::folderAsPlanned(const char* path, const FileIdentity& planned)
{
    try {
        const Folder* folder = folderOf(path);
        return !folder || (folder->held.isOpen() && folder->held.identity().sameFileAs(planned));
    } catch (...) {
        return false;
    }
}

void RestoreSession::visit(const char* path)
{
    try {
        folderOf(path);
    } catch (...) {
        // Leftovers stay for a later run.
    }
}

bool RestoreSession::scratchTemporary(const char* target, char* out, std::size_t cap)
{
    try {
        Folder* folder = folderOf(target);
        if (!folder)
            return false;
        if (!folder->tried) {
            // Known before the folder is made, so that close finds it.
            folder->tried = true;
            makeScratch(folder->dir, folder->scratch);
        }
        if (folder->scratch.empty())
            return false;
        return fits(std::snprintf(out, cap, "%s\\%s", folder->scratch.c_str(), kShortTempName),
                    cap);
    } catch (...) {
        return false;
    }
}

void RestoreSession::close() noexcept
{
    for (const auto& known : folders_)
        if (!known.second.scratch.empty())
            removeScratch(known.second.scratch);
    folders_.clear();
}

Restored restoreFile(const char* productKey, const FileEntry& entry, int& runResult,
                     RestoreSession& session, const std::function<bool()>& beforeChange,
                     FileIdentity* placed, std::string* waiting, const FileIdentity* plannedFolder)
{
    const char* path = entry.path;
    char source[512];
    if (session.resolveList().lookup(productKey, fileNameOf(path), source, sizeof source) != kOk) {
        DiagLog("\n> Error restoring file %s", path);
        return Restored::no;
    }
    // A source that is the target itself cannot repair it; nor can one that
    // is not the file the script wants (a copy of the medium that lost its
    // times, another build): copying it would only put another wrong file
    // in place.
    FileEntry wanted = entry;
    copyText(wanted.path, source);
    // Only a target with the source's numbers can be the source itself: for
    // any other no file needs opening.
    const bool right = !isBlankText(source) && checkFile(wanted) == kOk;
    FileIdentity sourceFile;
    FileIdentity targetFile;
    const bool itself = right && checkFile(entry) == kOk && identityOf(source, sourceFile) &&
                        identityOf(path, targetFile) && sourceFile.sameFileAs(targetFile);
    InUseCopy inUse;
    inUse.keepCopy = session.busyAtRestart;
    Restored restored = Restored::no;
    // The folder is still the one planned, and no link.
    const bool there = !plannedFolder || session.folderAsPlanned(path, *plannedFolder);
    if (!itself && right && there && (!beforeChange || beforeChange())) {
        if (replaceFileFromSource(source, path, session, placed, &inUse))
            restored = checkFile(entry) == kOk ? Restored::now : Restored::no;
        else if (inUse.inUse)
            restored = Restored::inUse;
    }
    if (restored == Restored::inUse && !inUse.waiting.empty()) {
        // The copy waiting beside the target is the script's file: the
        // next start puts it in place.
        FileEntry copy = entry;
        copyText(copy.path, inUse.waiting.c_str());
        if (checkFile(copy) == kOk && scheduleAtRestart(inUse.waiting.c_str(), path)) {
            DiagLog("\n>File in use, replaced at the next restart: %s", path);
            restored = Restored::atRestart;
            if (waiting)
                *waiting = inUse.waiting;
        } else {
            DeleteFileA(inUse.waiting.c_str());
        }
    }
    if (restored == Restored::no || restored == Restored::inUse) {
        DiagLog("\n>Error copying file %s to %s", source, path);
        runResult = kRestoreFailed;
    }
    DiagLog("\n>Restoring file %s", path);
    return restored;
}
