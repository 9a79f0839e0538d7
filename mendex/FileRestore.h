// File checks and restores of the update run: is a program file the right one
// (exact size and last-write time), and putting a good copy in place of a
// wrong one. The anchor's drive search is in DriveSearch.h.
#pragma once

#include "FileIdentity.h"
#include "ResolveList.h"

#include <cstddef>
#include <functional>
#include <string>
#include <unordered_map>

struct FileEntry;

// What the restores of one update run share: the resolve list, read once,
// and one scratch folder ("~mdx.dir") in each folder that a file is restored
// to. A copy is made in the scratch folder and moved over the target from
// there: a new name in a small folder is made fast, where a new name beside
// the target costs a look through every name of a big folder. The scratch
// folder is always made new (a numbered name when "~mdx.dir" exists) and
// holds a marker; close (or the destructor) removes what the session made.
// A marked folder left by an interrupted run, holding nothing but the
// marker and a temporary copy, is removed; anything else stays.
class RestoreSession
{
public:
    RestoreSession() = default;
    ~RestoreSession() { close(); }
    RestoreSession(const RestoreSession&) = delete;
    RestoreSession& operator=(const RestoreSession&) = delete;

    ResolveList& resolveList() { return resolveList_; }

    // When set, a target that another program holds open is not a failed
    // copy: the whole copy waits beside it, under a name of the run's own,
    // and replaces it when the machine next starts.
    bool busyAtRestart = false;

    // The temporary copy's path for target inside the scratch folder of
    // target's folder, making that folder at its first use. False when the
    // folder cannot be had or the path would be too long.
    bool scratchTemporary(const char* target, char* out, std::size_t cap);

    // Notes the folder of a listed file: scratch folders that interrupted
    // runs left there are removed at a folder's first note. The folder is
    // opened then (never through a link) and held until close, sharing no
    // deletion: nobody renames it while the session works there.
    void visit(const char* path);

    // True when the folder of path, as the session holds it, is a plain
    // folder (no reparse point) of identity planned; a path without a
    // folder has none to check.
    bool folderAsPlanned(const char* path, const FileIdentity& planned);

    // Removes the scratch folders that this session made (with a temporary
    // copy left in one) and forgets every folder. Never fails.
    void close() noexcept;

private:
    struct Folder {
        std::string dir;
        // The scratch folder made for it; "" when it has none.
        std::string scratch;
        bool tried = false;
        // The folder itself, held from its first note; not open when it
        // could not be opened or is a reparse point.
        HeldFolder held;
    };
    Folder* folderOf(const char* path);

    ResolveList resolveList_;
    // By the folder's path (normalPathText).
    std::unordered_map<std::string, Folder> folders_;
    std::string key_;
};

// What a replace found when its target was in use: the whole copy, flushed,
// kept beside the target when the caller asked for it (waiting: its path).
struct InUseCopy {
    bool keepCopy = false; // asked: keep the copy when the target is in use
    bool inUse = false;    // the target was in use
    std::string waiting;   // the copy kept ("" when none)
};

// How a restore ended.
enum class Restored {
    no,        // not restored (no resolve line, a bad source, a failed copy)
    inUse,     // not restored: the target is in use
    now,       // the good copy is in place
    atRestart, // the good copy replaces the target at the next start
};

// kOk when the entry's path is blank or names an existing file whose size and
// last-write time equal the entry's numbers; kNotOnDisk when nothing of that name
// exists; kFailed when it exists and differs (or is a directory).
int checkFile(const FileEntry& entry);

// Restores the entry's file from the source that the resolve list gives for
// its file name, logging as the run does. A failed copy sets runResult to
// kRestoreFailed, and so do a source that is the target itself (the same
// file on disk, however spelt), a source whose size or last-write time is
// not the entry's (it is not copied: the old file stays), and a copy that
// does not pass the entry's check once in place; a missing resolve entry
// leaves it alone. The restore happens within the run's session: its
// resolve list and scratch folders.
// beforeChange, when given, is asked just before the target is replaced
// (after every check of the source): false refuses the change, which then
// counts as a failed copy. placed, when given, receives the identity of the
// copy put in place (or waiting to be). A target in use is a failed copy
// unless the session's busyAtRestart is set: the replace is then left to
// the next start (logged as such), and is no failure.
// waiting, when given, receives the path of the copy that waits for the
// next start.
// plannedFolder, when given, is the identity of the target's folder as the
// plan saw it: a folder that is a reparse point now, or that is another
// folder, is left alone (a failed copy).
Restored restoreFile(const char* productKey, const FileEntry& entry, int& runResult,
                     RestoreSession& session, const std::function<bool()>& beforeChange = {},
                     FileIdentity* placed = nullptr, std::string* waiting = nullptr,
                     const FileIdentity* plannedFolder = nullptr);

// Puts a copy of source in place of target in one step: the copy is made to
// a temporary file beside the target and then moved over it. On any failure
// (source missing, directory missing, target read-only or in use, short
// copy) the target stays as it was, no temporary file is left behind, and
// the result is false.
bool replaceFileFromSource(const char* source, const char* target);
// The same, with the temporary copy in the session's scratch folder of the
// target's folder when it can be had, else beside the target.
// placed, when given, receives the identity of the copy put in place.
// inUse, when given, tells a target in use (and keeps the copy if asked).
bool replaceFileFromSource(const char* source, const char* target, RestoreSession& session,
                           FileIdentity* placed = nullptr, InUseCopy* inUse = nullptr);
