// The exports of Scoutex.dll, the search engine. Each takes the installation
// record as its last argument and accepts a null record: it then performs its
// tests and writes nothing. Names are fixed by Scoutex.def.
#pragma once

#include "InstallRecord.h"

extern "C" {

// The next installed release named in libdata.src (current directory).
// 0 found (record filled); -11 libdata.src cannot be opened (record
// untouched); -12 no further installed release.
int IsOVPixoraSWInstalled(InstallRecord* record);

// The install test of one release; on success productName, productVersion
// and the toolkit fields are written. 0 installed; -1 not installed.
int FindOVPixoraAppInstalled(const char* productKey, InstallRecord* record);

// The toolkit version from libdata.src and the toolkit's settings from the
// registry. 0 version found (key present or not); -1 no usable entry.
int FindOVVEXInstalled(const char* productKey, InstallRecord* record);

// The program directory and the installation time. path and pathSize are
// not used: the directory goes to the record's programDir. 0 found; -1 no
// usable entry; -10 no backslash in the value; -8 the directory cannot be
// listed or lists fewer than three entries.
int FindOVPxoraSWPath(const char* productKey, char* path, unsigned pathSize, InstallRecord* record);

typedef int (*IsOVPixoraSWInstalledFn)(InstallRecord*);
typedef int (*FindOVPixoraAppInstalledFn)(const char*, InstallRecord*);
typedef int (*FindOVVEXInstalledFn)(const char*, InstallRecord*);
typedef int (*FindOVPxoraSWPathFn)(const char*, char*, unsigned, InstallRecord*);
}
