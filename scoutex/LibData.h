// The search engine's internal lookups.
#pragma once

#include "InstallRecord.h"
#include "LibDataGrammar.h"

// Finds the entry entryName in the section productKey of libdata.src and
// resolves it as kind says. Results: kOk; kFailed no section or entry found before
// the end, a literal not in its form, a key that does not open, or a test
// that does not match; kRegistryRead a registry value that cannot be read; kMalformed a
// malformed line or reference; kDataFileOpen libdata.src cannot be opened. On failure
// out is untouched.
int GetLibDataValue(const char* productKey, const char* entryName, LookupKind kind, ValueForm form,
                    void* out, int outSize);
