// The anchor's drive search of the update run.
#pragma once

class ResolveList;
struct FileEntry;

// Looks for an intact copy of the entry's file name below the root of every
// drive from C: to Z:, examining only the first file of that name that the
// system reports for each drive. A copy inside the process's current
// directory (the patch's own folder) or that is the resolve source of the
// entry for productKey is never taken: that drive yields nothing.
// kOk when a copy passed checkFile (the entry's path then names it); kFailed when
// none did (the path is as before); kMalformed when the path holds no backslash.
// resolveList is the run's.
int searchDrivesForFile(FileEntry& entry, const char* productKey, ResolveList& resolveList);
