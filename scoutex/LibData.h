// The search engine's internal lookups.
#pragma once

#include "InstallRecord.h"
#include "LibDataGrammar.h"

// Finds the entry entryName in the section productKey of libdata.src and
// resolves it as kind says. Results: 0; -1 no section or entry found before
// the end, a literal not in its form, a key that does not open, or a test
// that does not match; -9 a registry value that cannot be read; -10 a
// malformed line or reference; -11 libdata.src cannot be opened. On failure
// out is untouched.
int GetLibDataValue(const char* productKey, const char* entryName, LookupKind kind, ValueForm form,
                    void* out, int outSize);

// Checks a program directory value: trims a trailing "handbook.pdf", writes
// the directory to out (when not null, at most outSize - 1 characters), and
// lists it; the third entry's creation time is the installation time.
// Results: 0; -10 no backslash; -8 cannot be listed or fewer than three entries.
int CheckProgramDir(const char* value, char* out, unsigned outSize, InstallRecord* record);
