// The exports of Scoutex.dll, the search engine. Each takes the installation
// record as its last argument and accepts a null record: it then performs its
// tests and writes nothing. Names are fixed by Scoutex.def.
#pragma once

#include "InstallRecord.h"

extern "C" {

// The next installed release named in libdata.src (current directory).
// kOk found (record filled); kDataFileOpen libdata.src cannot be opened (record
// untouched); kNoMoreProducts no further installed release.
int IsOVPixoraSWInstalled(InstallRecord* record);

// The install test of one release; on success productName, productVersion
// and the toolkit fields are written. kOk installed; kFailed not installed.
int FindOVPixoraAppInstalled(const char* productKey, InstallRecord* record);

// The toolkit version from libdata.src and the toolkit's settings from the
// registry. kOk version found (key present or not); kFailed no usable entry.
int FindOVVEXInstalled(const char* productKey, InstallRecord* record);

// The program directory and the installation time. path and pathSize are
// not used: the directory goes to the record's programDir. kOk found; kFailed no
// usable entry; kMalformed no backslash in the value; kNotOnDisk the directory cannot be
// listed or lists fewer than three entries.
int FindOVPxoraSWPath(const char* productKey, char* path, unsigned pathSize, InstallRecord* record);

typedef int (*IsOVPixoraSWInstalledFn)(InstallRecord*);
typedef int (*FindOVPixoraAppInstalledFn)(const char*, InstallRecord*);
typedef int (*FindOVVEXInstalledFn)(const char*, InstallRecord*);
typedef int (*FindOVPxoraSWPathFn)(const char*, char*, unsigned, InstallRecord*);
}
