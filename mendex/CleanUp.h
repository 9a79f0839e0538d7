// The clean-up of the toolkit directory: listing it and deleting the files
// that the update script does not list.
#pragma once

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
// Returns kOk when the directory was walked to its end; kFailed when directory is
// blank, or when it is a protected place (ProtectedDirs.h: the system's,
// the shell's and every user's folders, the patch's and programDir and the
// folders above them; nothing is deleted); kFailed also when the walk ended
// with an error; kNotOnDisk when the directory cannot be listed.
int cleanPluginDirectory(const char* directory, const FileList& fileList,
                         const char* programDir = nullptr);

// The clean-up's decisions without its deletions: the files that
// cleanPluginDirectory would delete, in listing order, and its result (a
// walk that ends with an error keeps what it found before; memory running
// out finds nothing and gives kFailed). Changes nothing. A path of keep (as
// samePathText compares) is never deleted.
int planCleanup(const char* directory, const FileList& fileList, const char* programDir,
                std::vector<std::string>& deletes, const std::vector<std::string>* keep = nullptr);

// Deletes one file of the clean-up (read-only, hidden or system attributes
// cleared first), logging "\n>Deleting file %s" or "\n>Error deleting file %s".
void deleteStrayFile(const char* path);
// The log line of one deletion of the clean-up: "\n>Deleting file %s" when
// it went, "\n>Error deleting file %s" when it stays.
void logDeletion(const char* path, bool deleted);
