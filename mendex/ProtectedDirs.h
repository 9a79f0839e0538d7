// The places that can never be an installation's own folder: the system's,
// the shell's and the users' folders, and the folders of the patch itself.
#pragma once

#include <string>
#include <vector>

// The protected places of this machine, gathered once (each as the file
// system resolves it):
//   whole trees: the Windows directory, the user profiles' folder (from the
//     machine's profile list, so every account's profile, the Public
//     profile and OneDrive folders, whoever runs), the machine's common
//     Desktop, Documents, Start Menu and Startup, ProgramData's Microsoft
//     folder, the patch's own folder there (its kept runs), and any recycle bin or "System Volume
//     Information";
//   exact folders: a drive's or share's root, the system directories, the
//     shell folders of the machine and of the running account (Program
//     Files, ProgramData, the profile, Desktop, Documents, Downloads, Music,
//     Pictures, Videos, AppData, Start Menu, Temp);
//   a folder and every folder above it: programDir (when given), the
//     current directory (the patch's folder) and the process's own folder.
class ProtectedPlaces
{
public:
    explicit ProtectedPlaces(const char* programDir = nullptr);

    // True when directory resolves (links, junctions, short names, "..",
    // "\\?\" followed) to a protected place; also when it cannot be resolved.
    bool refuses(const char* directory) const;

    // True when a folder met by a walk down from a drive's root (a full
    // path in the listing's own spelling, no link followed) is at or below
    // a protected tree: nothing below it can be an installation's folder.
    bool coversTree(const char* walkedDir) const;

private:
    std::vector<std::string> trees_;
    std::vector<std::string> exact_;
    std::vector<std::string> upward_;
};

// ProtectedPlaces(programDir).refuses(directory).
bool isProtectedDir(const char* directory, const char* programDir = nullptr);

// True when outer is inner or a folder above it, both as the file system
// resolves them (links, short names, ".." followed); false when either is
// blank or cannot be resolved.
bool holdsDirectory(const char* outer, const char* inner);
