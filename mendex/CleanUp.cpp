// The clean-up of the toolkit directory: every file that the update script
// does not list goes.
#include "CleanUp.h"

#include "DiagLog.h"
#include "FileIdentity.h"
#include "ProtectedDirs.h"
#include "ResolveList.h"
#include "ResultCodes.h"
#include "Text.h"
#include "WinHandle.h"

#include <windows.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace
{

bool listedIdentities(const FileList& fileList, std::vector<FileIdentity>& out)
{
    try {
        for (const FileEntry& entry : fileList) {
            FileIdentity identity;
            if (!isBlankText(entry.path) && identityOf(entry.path, identity))
                out.push_back(identity);
        }
        return true;
    } catch (...) {
        return false;
    }
}

// True when path is the same file on disk as a listed one (a file that
// cannot be opened, such as one in use, cannot be told and is not).
bool isListedOnDisk(const char* path, const std::vector<FileIdentity>& identities)
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

int planCleanup(const char* directory, const FileList& fileList, const char* programDir,
                std::vector<std::string>& deletes, const std::vector<std::string>* keep)
{
    deletes.clear();
    if (isBlankText(directory))
        return kFailed;
    if (isProtectedDir(directory, programDir))
        return kFailed;

    try {
        // The listed paths, compared as samePathText compares them.
        ListedPaths listed(fileList);
        // The identities of the listed files that exist, gathered when the
        // walk first meets a file that no listed path spells: a listed file
        // under another spelling (short name, "..", "/", a trailing dot) is
        // kept.
        std::optional<std::vector<FileIdentity>> identities;

        // Directory (at most 511 characters), a backslash and a name of at
        // most MAX_PATH characters always fit: nothing is ever cut.
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
            if (listed.contains(path))
                continue;
            bool kept = false;
            for (std::size_t i = 0; keep && i < keep->size() && !kept; ++i)
                kept = samePathText((*keep)[i].c_str(), path);
            if (kept)
                continue;
            if (!identities) {
                identities.emplace();
                if (!listedIdentities(fileList, *identities))
                    return kFailed;
            }
            if (!isListedOnDisk(path, *identities))
                deletes.emplace_back(path);
        } while (FindNextFileA(find.get(), &found));

        return GetLastError() == ERROR_NO_MORE_FILES ? kOk : kFailed;
    } catch (...) {
        // Short of memory: without the whole list nothing can be told
        // apart, so nothing is deleted.
        deletes.clear();
        return kFailed;
    }
}

void logDeletion(const char* path, bool deleted)
{
    if (deleted)
        DiagLog("\n>Deleting file %s", path);
    else
        DiagLog("\n>Error deleting file %s", path);
}

void deleteStrayFile(const char* path)
{
    logDeletion(path, removeFileEntry(path));
}

int cleanPluginDirectory(const char* directory, const FileList& fileList, const char* programDir)
{
    std::vector<std::string> deletes;
    const int result = planCleanup(directory, fileList, programDir, deletes);
    for (const std::string& path : deletes)
        deleteStrayFile(path.c_str());
    return result;
}
