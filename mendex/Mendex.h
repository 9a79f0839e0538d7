// The export of Mendex.dll, the update engine. Its name is fixed by
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
}
