// Which file on disk a path names: the volume's serial number and the
// file's index, the same for every spelling of one file (short names, "..",
// another case, a hard link) and different for two files.
#pragma once

#include <windows.h>

struct FileIdentity {
    DWORD volume = 0;
    DWORD indexHigh = 0;
    DWORD indexLow = 0;
    DWORD links = 0;

    bool sameFileAs(const FileIdentity& o) const
    {
        return volume == o.volume && indexHigh == o.indexHigh && indexLow == o.indexLow;
    }
};

// The identity of the file or folder that path names (links followed).
// False when it cannot be opened.
bool identityOf(const char* path, FileIdentity& out);

// The same, for an open handle.
bool identityOf(HANDLE handle, FileIdentity& out);

// Deletes the directory entry at path: a link goes, never its target. A
// read-only entry has its attribute cleared on the entry itself first,
// never through a link and never on a file with further hard links (whose
// attributes are shared). False when the entry stays.
bool removeFileEntry(const char* path);

// True when path names a folder itself, not through a link: it is no
// reparse point, and the path that the file system gives for it (by handle)
// is path, letter case aside. A folder reached through a link somewhere on
// the way is not.
bool isFolderItself(const char* path);
