// The exports of Mendex.dll, the update engine. Their names are fixed by
// Mendex.def.
#pragma once

#include "InstallRecord.h"

extern "C" {

// Brings the installation that record describes back to what Update.src
// (current directory) says, restoring from the sources that Resolve.src
// names. Writes toolkitDir, ocrPath and pluginDir of the record back.
// kOk done; kFailed nothing could be done (no usable script section: the record
// is as it was); kRestoreFailed at least one restore copy failed. A null record: 0.
int RepairPixoraApp(InstallRecord* record);

typedef int (*RepairPixoraAppFn)(InstallRecord*);

// RepairPixoraApp with the caller's choice of what to do with files that
// another program holds open, and what the run did, counted.
// options: kRepairFindBusy or kRepairBusyAtRestart (or neither: a busy file
// is a failed copy, as RepairPixoraApp has it).
//   kRepairFindBusy: change nothing; find the files that the run would
//     replace or delete and that are in use now. Returns their number (0:
//     none), or kFailed when the script cannot be used.
//   kRepairBusyAtRestart: a file to replace or delete that is in use is
//     replaced or deleted when the machine next starts (the good copy waits
//     beside it); it counts as scheduled, not failed.
// Otherwise returns as RepairPixoraApp does (kOk, kFailed, kRestoreFailed) and
// writes the record back as it does. counts (when not null) receives what
// was done. report (nothing is written when it is null or capacity <= 0)
// receives one line per file in use, fields separated by tabs, each line
// ending in a line feed, cut to capacity - 1 characters and always
// terminated:
//   busy<TAB>PATH<TAB>HOLDER[<TAB>HOLDER...]      in use now (kRepairFindBusy)
//   restart<TAB>PATH<TAB>HOLDER[<TAB>HOLDER...]   finished at the next restart
//   failed<TAB>PATH<TAB>HOLDER[<TAB>HOLDER...]    in use, not scheduled
// where HOLDER is "NAME (pid N)", or "another program" when nothing tells.
// A null record: kOk, counts zero.
enum RepairOption : int {
    kRepairFindBusy = 1,
    kRepairBusyAtRestart = 2,
};
struct RepairCounts {
    int restored;  // files replaced now
    int deleted;   // unlisted files deleted now
    int scheduled; // files replaced or deleted at the next restart
    int failed;    // files whose copy or deletion failed (a file without a
                   // resolve line is not tried: not counted)
};
int RepairPixoraAppEx(InstallRecord* record, int options, RepairCounts* counts, char* report,
                      int capacity);

typedef int (*RepairPixoraAppExFn)(InstallRecord*, int, RepairCounts*, char*, int);

// Whether the installation that record describes (as RepairPixoraApp left
// it: its toolkitDir, ocrPath and pluginDir) is what a run makes of it,
// decided as the run decides (Update.src and Resolve.src of the current
// directory). The record's toolkitDir and ocrPath are taken as the toolkit
// and OCR directories that the run used, as they stand: neither is derived
// again (ocrPath names a directory, however it is called; only a blank one is
// derived, as the run derives it), and the anchor is not searched for across
// drives. Changes nothing on disk or in the registry and writes nothing
// to the diagnostic log. Returns the number of things that do not match (0:
// the installation matches), or kFailed for a null record, a script that
// cannot be used or any other failure. report (nothing is written when it
// is null or capacity <= 0) receives one line per mismatch, each ending in a
// line feed, cut to capacity - 1 characters and always terminated:
//   file PATH: missing
//   file PATH: expected size S time T, found size S2 time T2
//   unlisted file PATH
//   clean-up refused in DIR
//   clean-up cannot list DIR
//   registry HIVE\KEY\NAME: differs      (HKCU or HKLM; "(default)" for no name)
// A blank product name: 0 and an empty report.
int VerifyPixoraApp(const InstallRecord* record, char* report, int capacity);

typedef int (*VerifyPixoraAppFn)(const InstallRecord*, char*, int);

// Puts back what a kept run changed, or lists the kept runs. Every run that
// changes something keeps, before each change, what it replaced, deleted,
// created or wrote, in its own folder under the machine's ProgramData
// ("Orvantis\Pixora Patch\Runs\<UTC time>-<n>"); the newest KeepRuns
// (a DWORD under HKLM\Software\Orvantis\Pixora Patch, default 5; 0 keeps
// none) are kept.
// run: the run's folder name; null or "" for the newest run not yet undone.
// options: kUndoList, kUndoDryRun, kUndoForce and kUndoJson, or-ed.
// Returns kUndoDone (undone, or undone before; the list shown), kUndoKept
// (something changed since the run and was kept; undone otherwise),
// kUndoNothing (no such run, no run left to undo, bad options) or kFailed
// (a step failed: run it again; or, with nothing read or changed, a folder
// from ProgramData's "Orvantis" down to the runs can be changed by others
// than administrators or is a link: the report names it, and it must be
// removed). report (nothing is written when it is null
// or capacity <= 0) receives the text (or, with kUndoJson, the JSON
// document) of what was done or would be done, cut to capacity - 1
// characters and always terminated.
enum UndoOption : int {
    kUndoList = 1,   // list the kept runs; undo nothing
    kUndoDryRun = 2, // say what would be done; change nothing
    kUndoForce = 4,  // put back also what changed since the run
    kUndoJson = 8,   // the report as one JSON document
};
enum UndoResult : int {
    kUndoDone = 0,
    kUndoKept = 1,
    kUndoNothing = 2,
};
int UndoPixoraRun(const char* run, int options, char* report, int capacity);

typedef int (*UndoPixoraRunFn)(const char*, int, char*, int);

// UndoPixoraRun, with the installations that the search engine finds on
// the machine now (count records; none when count is 0). A run is undone
// only when every step of its record is something that this patch could
// have done to the installation of its product among them: a file in that
// installation's program, toolkit or OCR folder (or the toolkit folder the
// run adopted, when it did, and it has the toolkit folder's name and is no
// protected place) or a file the update script lists, no link on the way;
// a kept file named as the keeper names them ("files\N\M"); a value of the
// hive, key and name that the script's section for the product
// (Update.src of the current directory) writes. Otherwise the run is
// refused whole, nothing of it applied: kFailed, and the report says which
// step and why. UndoPixoraRun refuses every run (it gives no installation)
// but lists them. A record that cannot be read is passed over when no run
// is named (the newest readable one not undone is taken), listed as
// unreadable with the reason, and, named, is kUndoNothing.
int UndoPixoraRunEx(const char* run, int options, const InstallRecord* installations, int count,
                    char* report, int capacity);

typedef int (*UndoPixoraRunExFn)(const char*, int, const InstallRecord*, int, char*, int);
}
