// The lookups of one release beside the exports (Scoutex.h): the listing
// check of the program directory.
#pragma once

#include "InstallRecord.h"

// Checks a program directory value: trims a trailing "handbook.pdf", writes
// the directory to out (when not null, at most outSize - 1 characters), and
// lists it; the third entry's creation time is the installation time.
// Results: kOk; kMalformed no backslash; kNotOnDisk cannot be listed or fewer than three entries.
int CheckProgramDir(const char* value, char* out, unsigned outSize, InstallRecord* record);
