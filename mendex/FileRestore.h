// File checks and restores of the update run: is a program file the right one
// (exact size and last-write time), where else on the machine is an intact
// copy of the anchor file, and putting a good copy in place of a wrong one.
#pragma once

struct FileEntry;

// 0 when the entry's path is blank or names an existing file whose size and
// last-write time equal the entry's numbers; -8 when nothing of that name
// exists; -1 when it exists and differs (or is a directory).
int checkFile(const FileEntry& entry);

// Looks for an intact copy of the entry's file name below the root of every
// drive from C: to Z:, examining only the first file of that name that the
// system reports for each drive. A copy inside the process's current
// directory (the patch's own folder) or that is the resolve source of the
// entry for productKey is never taken: that drive yields nothing.
// 0 when a copy passed checkFile (the entry's path then names it); -1 when
// none did (the path is as before); -10 when the path holds no backslash.
int searchDrivesForFile(FileEntry& entry, const char* productKey);

// Restores the file at path from the source that the resolve list gives for
// its file name, logging as the run does. A failed copy sets runResult to
// -15; a missing resolve entry leaves it alone.
void restoreFile(const char* productKey, const char* path, int& runResult);

// Puts a copy of source in place of target in one step: the copy is made to
// a temporary file beside the target and then moved over it. On any failure
// (source missing, directory missing, target read-only or in use, short
// copy) the target stays as it was, no temporary file is left behind, and
// the result is false.
bool replaceFileFromSource(const char* source, const char* target);
