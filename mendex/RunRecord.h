// The runs that the update keeps. Before a run changes anything it makes
// its own folder under the machine's ProgramData
// ("Orvantis\Pixora Patch\Runs\<UTC time>-<n>", marked as a run's) and
// writes there, through to the disk, every change it is about to make (the
// record "run.json"). Each old file is kept there before it goes: a hard
// link (or, on another volume, a flushed copy) of a file that is replaced,
// the file itself, moved there, of a file that the clean-up deletes. What
// each change left is noted after it ("changes.log"), and the record is
// rewritten whole once the run ends. Undo.cpp puts a kept run back.
#pragma once

#include "FileIdentity.h"
#include "FileRestore.h"
#include "InstallRecord.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct RunPlan;

// The newest runs kept unless HKLM\Software\Orvantis\Pixora Patch,
// KeepRuns says otherwise (0: none kept, nothing is backed up).
constexpr std::uint32_t kDefaultKeepRuns = 5;

// A file as a run found it or left it.
struct KeptFile {
    bool exists = false;
    std::uint64_t size = 0;
    std::uint64_t time = 0; // last-write time, FILETIME units
    std::uint32_t attributes = 0;
};

enum class ChangeKind { Replaced, Deleted, Created, Value };

struct KeptChange {
    ChangeKind kind = ChangeKind::Replaced;
    // A file's full path; a value's "HKLM\key\name", for people.
    std::string path;
    KeptFile before; // replaced, deleted: the old file
    KeptFile after;  // replaced, created: what the run puts there
    // The old file as kept, relative to the run's folder ("files\3"); "" when
    // nothing is kept (created files, values).
    std::string backup;
    bool copied = false; // the backup is a copy (another volume), not the file itself

    // A registry value.
    std::uint32_t hive = 0;
    std::string key;
    std::string name;
    bool hadValue = false;
    std::uint32_t oldType = 0;
    std::string oldBytes;
    std::uint32_t newType = 0;
    std::string newBytes;
    // The first key on the way to key that did not exist (the run made it
    // and those below it); "" when key existed.
    std::string createdKey;

    // Noted after the change: it was made, and the file it left there.
    bool made = false;
    // Made, but carried out at the next start of the machine (the file was
    // in use): a replacement's good copy waits beside the target, at
    // waiting ("" for a deletion).
    bool atRestart = false;
    std::string waiting;
    bool identityKnown = false;
    FileIdentity identity;
    // A replacement or deletion of the same file that an earlier run left
    // for the next start, taken back by this run when it made its own
    // change (the earlier waiting copy, or for a deletion the file's path);
    // "" when there was none.
    std::string tookBack;
};

struct KeptRun {
    std::string id;     // the folder's name
    std::string folder; // its full path
    InstallRecord record{};
    // The toolkit folder that the run adopted where it found an intact
    // anchor elsewhere ("" when it did not).
    std::string adopted;
    std::string started; // "YYYY-MM-DD hh:mm:ss" UTC
    std::string ended;   // "" until the run ended
    bool completed = false;
    bool undone = false;
    std::string undoneAt;
    std::vector<KeptChange> changes; // in the order made
};

// A kind's name in the record: "replaced", "deleted", "created", "value".
const char* kindName(ChangeKind kind);

// The file at path as it is now (exists false when there is none).
KeptFile keptFileOf(const std::string& path);

// "...\ProgramData\Orvantis\Pixora Patch\Runs"; "" when ProgramData is not
// known.
std::string runsFolder();

// Whether the folders that keep the runs are the patch's own: "" when each
// folder from ProgramData's "Orvantis" down to runs that exists passes the
// rule of FolderTrust.h (a missing one is made by the run, as its own);
// else the first that does not, and why ("C:\ProgramData\Orvantis: writable
// by S-1-1-0"). Such folders are not used: a run keeps nothing there and so
// changes nothing, undo and prune read nothing there.
std::string whyRunsUntrusted(const std::string& runs);

// The sentence for such a reason, with what to do, as the diagnostic log,
// the plan and the undo say it.
std::string refusalText(const std::string& why);

// The number of runs to keep (KeepRuns, or kDefaultKeepRuns).
std::uint32_t keepRunsSetting();

// The names of the kept runs' folders in runs (only folders with a run's
// marker), oldest first.
std::vector<std::string> keptRunIds(const std::string& runs);

// Reads the kept run id of runs; an interrupted run's notes are applied.
// False when it cannot be read (why, when given, then says why: no marker,
// no record, not a record, a member of the wrong type, a folder that does
// not pass the rule of FolderTrust.h).
bool readKeptRun(const std::string& runs, const std::string& id, KeptRun& run,
                 std::string* why = nullptr);

// The files that the runs kept in runs created and that are still the
// very files they created (runs not undone), by normalPathText of their
// paths.
std::vector<std::string> filesCreatedByKeptRuns(const std::string& runs);

// Writes run's record whole: to a new name, flushed, moved over the old one.
bool writeKeptRun(const KeptRun& run);

// Removes the oldest kept runs until at most keep are left: only marked
// folders, and in them only what a run writes (its record, its notes, its
// kept files); anything else keeps the folder. Nothing when the runs'
// folders are not the patch's own (whyRunsUntrusted).
void pruneKeptRuns(const std::string& runs, std::size_t keep);

// The name of the kept file of change n, relative to the run's folder
// ("files\0\1"), and the making of its folder.
std::string keptFileName(std::size_t n);
bool makeKeptFolder(const KeptRun& run, std::size_t n);

// The full path of a change's kept file.
std::string backupPath(const KeptRun& run, const KeptChange& change);

// What keeping a plan's old files copies: those on a volume other than the
// runs folder's (a file on the same volume is kept as a link or moved, with
// no data copied), per volume ("D:\\").
struct BackupCopies {
    std::string volume;
    std::size_t files = 0;
    std::uint64_t bytes = 0;
};
std::vector<BackupCopies> backupCopies(const RunPlan& plan, const std::string& runs);

// Keeps what one update run changes, as the run applies its plan. Off when
// KeepRuns is 0 (every change is then made unkept). Once on, a change is
// made only when what it replaces is kept: when the record cannot be
// written, or an old file cannot be kept, the change is refused.
class RunKeeper
{
public:
    // Plans the keeping of plan's changes; nothing is written yet.
    explicit RunKeeper(const RunPlan& plan);
    ~RunKeeper();
    RunKeeper(const RunKeeper&) = delete;
    RunKeeper& operator=(const RunKeeper&) = delete;

    // Removes older runs beyond the count kept and writes this run's record
    // (flushed) before the first change, in folders made as the patch's own
    // (FolderTrust.h). False when keeping is on and the record cannot be
    // had, or the runs' folders are not the patch's own (the diagnostic log
    // says why): every change is then refused.
    bool begin();

    // Before the restore of plan.files[index]: keeps the old file. False:
    // the file must not be changed.
    bool beforeRestore(std::size_t index);
    // After it: what the restore left (identity of the copy put in place,
    // when known; waiting: the copy that replaces the target at the next
    // start, for Restored::atRestart).
    void afterRestore(std::size_t index, Restored restored, const FileIdentity* placed,
                      const std::string& waiting = std::string());
    // Deletes plan.cleanup.deletes[index] by moving it into the run's
    // folder (copied, flushed and deleted when on another volume); unkept,
    // a plain deletion. Only the file that the plan listed (its identity),
    // lying directly in folder (the clean-up's folder, held open since the
    // deletions began), is touched, and through its own handle: another
    // file that took its name, or one reached through a link, stays
    // (Restored::no). A file in use is, with atRestart, kept as a second
    // name (or a copy) and deleted at the next start. Restored::now when
    // it went, Restored::atRestart when it goes then, Restored::inUse or
    // Restored::no when it stays.
    Restored removeStray(std::size_t index, const HeldFolder& folder, bool atRestart = false);
    // A pending rename of an earlier run taken back for plan.files[index]
    // (deletion false) or plan.cleanup.deletes[index] (deletion true):
    // from is the rename's source.
    void tookBack(std::size_t index, bool deletion, const std::string& from);
    // Before and after the write of plan.registry[index].
    bool beforeValue(std::size_t index);
    void afterValue(std::size_t index, bool made);

    // The run has ended: its record is written whole, marked completed.
    void finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};
