// Files that other programs hold open: telling such a failure from others,
// naming the programs, and the replacements and deletions that wait for the
// next start of the machine (the session manager's pending renames).
#pragma once

#include <string>
#include <unordered_map>
#include <vector>

// The holder named when nothing tells which program holds a file.
extern const char kAnotherProgram[];

// True when a replace or deletion of path that failed with error (a
// GetLastError value) failed because the file is in use: a sharing or lock
// violation, or access denied on a file that can be opened for deletion (a
// program's or library's image mapped by a process).
bool isInUseFailure(unsigned long error, const char* path);

// Finds which files are held open and by whom. The programs and libraries
// that running processes have loaded are listed once, at the first question
// that needs them.
class InUseFinder
{
public:
    // True when another program holds path open so that it cannot be
    // replaced or deleted now: opening it for deletion is refused, or a
    // process has it loaded as a program or library.
    bool isHeldOpen(const char* path);

    // The programs that hold path open, each as "NAME (pid N)": those that
    // the Restart Manager reports, else those that have it loaded.
    // { kAnotherProgram } when neither tells.
    std::vector<std::string> holdersOf(const char* path);

private:
    // The holders of each loaded image, by normalPathText of its path.
    using Loaded = std::unordered_map<std::string, std::vector<std::string>>;
    const Loaded& loaded();
    std::vector<std::string> loadedBy(const char* path);

    bool listed_ = false;
    Loaded loaded_;
};

// The holders joined by ", " (as the log and the plan show them).
std::string holderText(const std::vector<std::string>& holders);

// A rename that the session manager carries out at the next start: from to
// to, or from deleted when to is empty. Paths without the "\??\" prefix.
struct PendingRename {
    std::string from;
    std::string to;
};

// The pending renames, in the order they will be carried out. The value
// (PendingFileRenameOperations) is read with the wide registry calls; an
// entry with a path that the code page cannot hold exactly is left out (it
// names no file of this patch, whose paths are all in the code page).
std::vector<PendingRename> pendingRenames();

// Asks the session manager to put from in place of target (replacing it) at
// the next start, or, target null, to delete from then. False when it
// cannot be asked (no rights).
bool scheduleAtRestart(const char* from, const char* target);

// What cancelAtRestart found.
enum class RestartCancel {
    cancelled,  // the entry was there and is taken back
    notWaiting, // no such entry waits (taken back before, or never made)
    failed,     // the value cannot be read or written (no rights)
};

// Takes back the pending rename that scheduleAtRestart(from, target) made:
// every entry whose source is from and whose target is target (as
// samePathText compares), or, target null, that deletes from. Read and
// written with the wide registry calls: every other entry stays byte for
// byte, and the value goes when nothing else is left in it.
RestartCancel cancelAtRestart(const char* from, const char* target);

// True when the entry that cancelAtRestart(from, target) takes back waits.
bool waitsAtRestart(const char* from, const char* target);
