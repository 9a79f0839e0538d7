// The decisions of one update run, made before anything changes: which
// listed files are restored (and from where), where the toolkit directory
// is, which files the clean-up deletes or where it refuses, and which
// registry values are written. Applying a plan is the run; showing one is
// the dry run of the author's tool.
#pragma once

#include "CleanUp.h"
#include "DriveSearch.h"
#include "FileRestore.h"
#include "InUse.h"
#include "InstallRecord.h"
#include "UpdateScript.h"

class RunKeeper;

#include <cstdint>
#include <string>
#include <vector>

// A file's size and last-write time (FILETIME, 100-ns units since 1601).
struct FileStamp {
    std::uint64_t size = 0;
    std::uint64_t time = 0;
    bool operator==(const FileStamp& o) const { return size == o.size && time == o.time; }
};

// Where a restore would copy from, as it stands when planned.
enum class SourceState {
    Good,     // present, with the script's size and time
    NoLine,   // the resolve list has no line for the file (or no list)
    Missing,  // the line's source is not there
    Differs,  // the source's size or time is not the script's: it would fail its own check
    IsTarget, // the source is the target itself: the copy cannot repair it
};

struct PlannedFile {
    FileEntry entry{};             // the path as expanded (the anchor's: where found)
    bool exists = false;           // a file of that name is there
    FileStamp actual;              // its numbers, when it exists
    std::uint32_t attributes = 0;  // its attributes, when it exists and is restored
    bool restore = false;          // false: correct (or blank path, or the anchor found)
    bool relocatesToolkit = false; // the anchor: an intact copy was found elsewhere
    std::string source;            // the resolve source's full path ("" without a line)
    SourceState sourceState = SourceState::NoLine;
    bool inUse = false; // the target is held open: replacing it would fail (when looked for)
    std::vector<std::string> holders; // who holds it, when in use
    bool pending = false;             // a replacement of it waits for the next start of the machine
    // The folder that a restore puts the file in, as planned: the restore
    // works there only while it is that folder, and never through a link.
    FileIdentity folder;
    bool folderLink = false; // that folder is a reparse point: the restore is refused

    // The script's size and time.
    FileStamp expected() const;
};

struct PlannedCleanup {
    std::string directory; // the toolkit directory the clean-up works on
    int result = 0;        // as cleanPluginDirectory: kOk, kFailed refused or failed, kNotOnDisk
    // The folder held a file that the script lists in it before the run (or
    // the anchor was found there): only such a folder is cleaned.
    bool toolkitFolder = true;
    // Not a toolkit folder although it held listed files: every one of them
    // is one that an earlier run of the patch created there.
    bool onlyPatchFiles = false;
    // The files that the run restores into the folder (it does so all the
    // same when the folder is not known to be a toolkit folder).
    std::size_t restoresInto = 0;
    std::vector<std::string> deletes; // full paths, in listing order
    // For each deletion: who holds the file open (empty: nobody; looked for
    // with the holders only).
    std::vector<std::vector<std::string>> holders;
    // For each deletion: the deletion already waits for the next start.
    std::vector<bool> pending;
    // The folder's identity and each deletion's, as listed: the deletions
    // touch only these files, in that folder.
    CleanupSeen seen;
};

// A registry value as it is now.
struct RegistryNow {
    bool exists = false;
    std::uint32_t type = 0;
    std::string bytes;
};

struct PlannedValue {
    RegistryEntry entry{};               // stringData as expanded
    std::vector<std::string> expansions; // stringData after each expansion that found its macro
    RegistryNow current;
    RegistryNow wanted;  // what the write sets
    bool changes = true; // false when the value already holds exactly this
};

struct RunPlan {
    int scriptResult = 0;   // kOk, or kFailed when the script cannot be used (nothing else set)
    InstallRecord record{}; // as the run leaves it (directories derived, relocated)
    char productKey[512] = "";
    char windowsDir[260] = "";
    bool derivedToolkit = false;        // toolkitDir was derived ("Formated VEX Dir")
    bool derivedOcr = false;            // ocrPath was derived ("Formated OCR Dir")
    bool hasFiles = false;              // the file phase runs
    std::vector<PlannedFile> files;     // in script order
    std::vector<PassedCopy> passedOver; // the anchor's copies (and drives) the search passed over
    PlannedCleanup cleanup;
    // Replacements of listed files and deletions in the toolkit folder that
    // wait for the next start of the machine (an earlier run's, for files
    // that were in use).
    std::vector<PendingRename> pending;
    bool hasRegistry = false; // the registry phase runs
    std::vector<PlannedValue> registry;

    // The number of changes that applying the plan makes: restores,
    // deletions and registry values that differ.
    std::size_t changeCount() const;
    // True when the installation is what a run makes of it: nothing to
    // change, nothing waiting for the next start, and no clean-up refused,
    // failed or unable to list its folder (that leaves unlisted files).
    bool matches() const;
    // The number of files to replace or delete that are in use (looked for
    // with the holders only).
    std::size_t busyCount() const;
};

// How a plan takes the record's toolkit and OCR directories.
enum class RecordDirs {
    // As found (the catalogue's, or given by hand): a blank toolkitDir is
    // derived and ocrPath reduced to its directory or derived, as a run does.
    AsFound,
    // As a run wrote them back: the directories that run used (derived,
    // reduced, or relocated to where the anchor was found), taken as they
    // stand; only a blank one is derived (as the run derived it, with the
    // same outcome). Deriving ocrPath again would give another folder
    // wherever the run's OCR directory is no derived one (a file's folder,
    // the anchor's folder).
    AsRunLeft,
};

// Plans the run for record (its fields terminated within their widths) from
// "Update.src" and "Resolve.src" of the current directory. Changes nothing on
// disk or in the registry. Logs what the run logs before its first change:
// "\n\n>Update Start.....", the script reader's lines, the derived
// directories and the anchor's drive search. A blank product name plans
// nothing (scriptResult kOk, no phase). Throws std::bad_alloc when memory runs
// out (nothing has changed then).
// searchDrives false leaves the drive search out (a wrong anchor is then
// planned as a restore): for checking an installation after a run, when
// the run has already searched.
// noteHolders false leaves out the look for files held open (inUse stays
// false, no holders): it costs an open of every file to restore or delete,
// and only a plan that is shown or asked about tells it.
// dirs: how record's directories are taken (RecordDirs).
void planRun(const InstallRecord& record, RunPlan& plan, RestoreSession& session,
             bool searchDrives = true, bool noteHolders = true,
             RecordDirs dirs = RecordDirs::AsFound);

// The plan of a check, before or after a run: of record's copy with every
// text field terminated inside its width, without the drive search, and
// with the diagnostic log silenced (a check is no run). noteHolders and dirs
// as for planRun: a check after a run takes the directories as it left them.
void planCheck(const InstallRecord& record, RunPlan& plan, bool noteHolders, RecordDirs dirs);

// What applying a plan did, counted; and the files found in use.
struct RunCounts {
    int restored = 0;
    int deleted = 0;
    int scheduled = 0; // replaced or deleted at the next start
    int failed = 0;
    struct Busy {
        std::string path;
        std::vector<std::string> holders;
        bool scheduled = false;
    };
    std::vector<Busy> busy; // files in use, in the order met
};

// Applies a plan made by planRun with the same session, in the run's order
// and with its log lines; returns the run's result: kOk, or kRestoreFailed when a copy
// failed. With the session's busyAtRestart a file in use is replaced or
// deleted at the next start, and that is no failure. Memory running out in a step is that step's
// failure. Every change is kept by keeper first (RunRecord.h): one that it refuses is not made (a
// failed copy, deletion or write, logged as such).
int applyRun(RunPlan& plan, RestoreSession& session, RunKeeper& keeper,
             RunCounts* counts = nullptr);
