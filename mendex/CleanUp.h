// The clean-up of the toolkit directory: listing it and deleting the files
// that the update script does not list.
#pragma once

#include "FileIdentity.h"
#include "UpdateScript.h"

#include <string>
#include <vector>

// Deletes every file directly in directory that no entry of fileList names
// (paths compared as by samePathText), clearing read-only/hidden/system first.
// Subdirectories and their contents are never touched.
// Logs "\n>Deleting file %s" or "\n>Error deleting file %s" per file, with the
// full path (directory, one backslash, name); a failed deletion does not
// change the result.
// A file is kept when a listed path spells it or names the same file on disk.
// The folder is opened once before the deletions (never through a link) and
// must be the one listed; each file is deleted through its own handle, and
// only when it is the file listed and still lies in that folder.
// Returns kOk when the directory was walked to its end; kFailed when directory is
// blank, or when it is a protected place (ProtectedDirs.h: the system's,
// the shell's and every user's folders, the patch's and programDir and the
// folders above them; nothing is deleted); kFailed also when the walk ended
// with an error, when it is a reparse point, or when another folder took its
// name before the deletions; kNotOnDisk when the directory cannot be listed.
int cleanPluginDirectory(const char* directory, const FileList& fileList,
                         const char* programDir = nullptr);

// What the clean-up's plan saw, so that its deletions touch nothing else:
// the folder's identity and each deletion's (the file itself, never a
// link's target; zero when it could not be had).
struct CleanupSeen {
    FileIdentity folder;
    bool link = false; // the folder is a reparse point: the clean-up is refused
    std::vector<FileIdentity> files;
};

// The clean-up's decisions without its deletions: the files that
// cleanPluginDirectory would delete, in listing order, and its result (a
// walk that ends with an error keeps what it found before; memory running
// out finds nothing and gives kFailed). Changes nothing. A path of keep (as
// samePathText compares) is never deleted. A folder that is a reparse
// point (a junction, a symbolic link) is refused (kFailed). seen, when
// given, receives what the deletions check.
int planCleanup(const char* directory, const FileList& fileList, const char* programDir,
                std::vector<std::string>& deletes, const std::vector<std::string>* keep = nullptr,
                CleanupSeen* seen = nullptr);

// Deletes one file of the clean-up through its handle: the file of
// identity planned, still lying directly in folder (held open since the
// deletions began), read-only attribute cleared first. False when it
// stays: in use, or no longer what the plan saw (left alone).
bool removeInFolder(const char* path, const FileIdentity& planned, const HeldFolder& folder);
// The log line of one deletion of the clean-up: "\n>Deleting file %s" when
// it went, "\n>Error deleting file %s" when it stays.
void logDeletion(const char* path, bool deleted);
