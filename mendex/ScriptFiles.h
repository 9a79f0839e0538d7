// The Windows side of the update script, the resolve list and the clean-up:
// asking the system for its default language, and listing and deleting the
// files of the toolkit directory.
#pragma once

struct FileEntry;
struct UpdateScript;

// Reads "Update.src" from the current directory for the system default
// language (GetSystemDefaultLangID) and productKey. Results and log entries
// as readUpdateScript in UpdateScript.h: 0, -1, -10, -11.
int readUpdateScript(const char* productKey, UpdateScript* script);

// Deletes every file directly in directory that no entry of fileList names
// (paths compared as by samePathText), clearing read-only/hidden/system first.
// Subdirectories and their contents are never touched.
// Logs "\n>Deleting file %s" or "\n>Error deleting file %s" per file, with the
// full path (directory, one backslash, name); a failed deletion does not
// change the result.
// Returns 0 when the directory was walked to its end; -1 when directory is
// blank, when it is a drive's root, the Windows directory, the system
// directory or the process's current directory (nothing is deleted), or when
// the walk ended with an error; -8 when the directory cannot be listed.
int cleanPluginDirectory(const char* directory, const FileEntry* fileList);
