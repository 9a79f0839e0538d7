// Whether a folder can be changed by administrators only: the rule by which
// the elevated run trusts the folders it keeps its runs in and a toolkit
// folder that it finds elsewhere on the machine. The trusted principals are
// SYSTEM, Administrators, TrustedInstaller and the account that the patch
// runs as (its token's user).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The security descriptor that the patch makes its own folders with, as
// SDDL: SYSTEM and Administrators full control, Users read, protected (no
// entry inherited from above), each entry inherited by files and folders
// below. The owner is the account that makes the folder (Administrators
// for an elevated administrator, SYSTEM for SYSTEM).
extern const char kOwnFolderSddl[];

// "" when the descriptor passes the rule, else why not, shortly ("owned by
// S-1-5-21-...", "writable by S-1-5-32-545", "no access list: everyone may
// change it"). It passes when its owner is trusted and no allow entry that
// applies to the object itself (inherit-only entries aside; explicit and
// inherited ones alike) grants anyone else a right to change it: write data
// or add a file, append data or add a folder, write attributes or extended
// attributes, delete, delete a child, change the access list or the owner,
// GENERIC_WRITE or GENERIC_ALL. Deny entries grant nothing. self: the
// running account's SID (null: none trusted beyond the three).
std::string whyUntrusted(PSECURITY_DESCRIPTOR sd, PSID self);

// The SID of the account that the running process runs as (its token's
// user), as bytes; empty when it cannot be read.
std::vector<unsigned char> selfSid();

// "" when folder passes the rule, read through a handle that does not
// follow a reparse point; else why not: also when it is a reparse point
// (a link or junction), is no folder or cannot be read.
std::string whyFolderUntrusted(const std::string& folder);

// Each folder below above on the way to folder, folder included (above
// itself aside), checked top down: "" when each passes, else the first that
// does not and why ("C:\Tools: writable by S-1-1-0"). A folder that does
// not exist fails ("cannot be opened"), or with missingEnds ends the check
// (nothing is below it to read).
std::string whyFoldersUntrusted(const std::string& above, const std::string& folder,
                                bool missingEnds = false);

// Makes a folder with the patch's own descriptor. As CreateDirectoryA: false
// with the last error when it cannot (ERROR_ALREADY_EXISTS when it is there).
bool makeOwnFolder(const std::string& path);

// As whyFoldersUntrusted, making every missing folder on the way with the
// patch's own descriptor first; also "FOLDER: cannot be made" when one
// cannot be made.
std::string makeOwnFolders(const std::string& above, const std::string& folder);
