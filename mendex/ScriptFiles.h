// The Windows side of the update script: reading it for the system's default
// language.
#pragma once

#include "UpdateScript.h"

// Reads "Update.src" from the current directory for the system default
// language (GetSystemDefaultLangID) and productKey. Results and log entries
// as readUpdateScript in UpdateScript.h: kOk, kFailed, kMalformed, kDataFileOpen.
int readUpdateScript(const char* productKey, UpdateScript* script);
