// Which file on disk a path names: the volume's serial number and the
// file's index, the same for every spelling of one file (short names, "..",
// another case, a hard link) and different for two files.
#pragma once

#include "WinHandle.h"

#include <windows.h>

#include <string>

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

// The identity of the folder dir, opened as HeldFolder opens it (a link
// itself, never its target), and whether it is a reparse point (a junction
// or a symbolic link). False when it cannot be opened or is no folder.
bool folderIdentityOf(const char* dir, FileIdentity& out, bool& reparse);

// The identity of the file at path itself (a link's own, never its
// target's), as openInFolder opens it. False when it cannot be opened.
bool entryIdentityOf(const char* path, FileIdentity& out);

// The folder that a destructive step works in, opened once and held while
// the step lasts: never through a link, and sharing no deletion, so that
// nobody renames or removes it meanwhile. Each file that the step changes
// is then checked to lie directly in it (by the final paths of both).
class HeldFolder
{
public:
    // Opens dir. False (nothing held) when it cannot be opened, when it is
    // no folder or a reparse point, or, planned given, when it is not the folder of that
    // identity (another folder now goes by its name).
    bool open(const char* dir, const FileIdentity* planned = nullptr);
    void close() { handle_.reset(); }

    bool isOpen() const { return static_cast<bool>(handle_); }
    const FileIdentity& identity() const { return identity_; }
    // True when the open file lies directly in this folder.
    bool holds(HANDLE file) const noexcept;

private:
    UniqueFile handle_;
    FileIdentity identity_;
    std::wstring final_;
};

// The error that openInFolder sets when the file at a path is not the one
// planned, or no longer lies in the folder: it is left alone.
constexpr DWORD kNotAsPlanned = ERROR_FILE_INVALID;

// Opens the file at path with access (DELETE for a move or a deletion),
// sharing everything, never through a link (nor a folder, which needs
// other flags): the file of identity planned, lying directly in folder.
// An empty handle when it cannot be opened (GetLastError says why: a
// sharing violation when it is in use) or is not that file (kNotAsPlanned).
UniqueFile openInFolder(const char* path, DWORD access, const FileIdentity& planned,
                        const HeldFolder& folder);

// Moves the file open with DELETE access to the new name to (a full path
// on the same volume; an existing name is not replaced), by its handle.
// False with GetLastError ERROR_NOT_SAME_DEVICE when to is on another
// volume.
bool moveByHandle(HANDLE file, const std::string& to) noexcept;

// Deletes the file open with DELETE and FILE_WRITE_ATTRIBUTES access by its
// handle; a read-only file with one link has its attribute cleared on it
// first (a file with further links shares its attributes with them).
bool deleteByHandle(HANDLE file);

// A copy of the open file at to, a name that does not exist yet: its data
// (read from the file itself), last-write time and attributes, flushed to
// the disk. Nothing is left at to when it fails.
bool copyByHandle(HANDLE file, const std::string& to);

// True when path names a folder itself, not through a link: it is no
// reparse point, and the path that the file system gives for it (by handle)
// is path, letter case aside. A folder reached through a link somewhere on
// the way is not.
bool isFolderItself(const char* path);
