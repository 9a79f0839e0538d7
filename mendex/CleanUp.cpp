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
                std::vector<std::string>& deletes, const std::vector<std::string>* keep,
                CleanupSeen* seen)
{
    deletes.clear();
    CleanupSeen none;
    CleanupSeen& saw = seen ? *seen : none;
    saw = CleanupSeen();
    if (isBlankText(directory))
        return kFailed;
    if (isProtectedDir(directory, programDir))
        return kFailed;
    // A folder reached through a link is not cleaned: what it lists is
    // not known to stay what the deletions then reach.
    if (folderIdentityOf(directory, saw.folder, saw.link) && saw.link)
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
            if (!isListedOnDisk(path, *identities)) {
                // The file itself as its deletion will open it: one that
                // cannot be opened now is not known, and is left alone.
                FileIdentity identity;
                entryIdentityOf(path, identity);
                saw.files.push_back(identity);
                deletes.emplace_back(path);
            }
        } while (FindNextFileA(find.get(), &found));

        return GetLastError() == ERROR_NO_MORE_FILES ? kOk : kFailed;
    } catch (...) {
        // Short of memory: without the whole list nothing can be told
        // apart, so nothing is deleted.
        deletes.clear();
        saw.files.clear();
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

bool removeInFolder(const char* path, const FileIdentity& planned, const HeldFolder& folder)
{
    UniqueFile file(openInFolder(path, DELETE | FILE_WRITE_ATTRIBUTES, planned, folder));
    return file && deleteByHandle(file.get());
}

int cleanPluginDirectory(const char* directory, const FileList& fileList, const char* programDir)
{
    std::vector<std::string> deletes;
    CleanupSeen seen;
    const int result = planCleanup(directory, fileList, programDir, deletes, nullptr, &seen);
    HeldFolder folder;
    const bool held = deletes.empty() || folder.open(directory, &seen.folder);
    for (std::size_t i = 0; i < deletes.size(); ++i)
        logDeletion(deletes[i].c_str(),
                    held && removeInFolder(deletes[i].c_str(), seen.files[i], folder));
    return held ? result : kFailed;
}
