// The anchor's drive search of the update run.
#pragma once

#include <functional>
#include <string>
#include <vector>

class ResolveList;
struct FileEntry;

// A copy of the anchor that the search met and did not take, and why; or a
// drive that it did not walk ("E:\"), and why.
struct PassedCopy {
    std::string path;
    std::string why;
};

// What the search asks of a copy's folder beyond the rules of place: "" when
// the folder can be the installation's toolkit folder, else why not.
using FolderCheck = std::function<std::string(const char* folder)>;

struct AnchorSearch {
    const char* productKey = "";
    ResolveList* resolveList = nullptr; // the run's; none: no resolve source is known
    const char* programDir = nullptr;   // it and the folders above it are never taken
    FolderCheck folderCheck;            // none: every folder that passes the rules of place
    std::vector<PassedCopy> passed;     // filled by the search, in the order met
};

// Looks for an intact copy of the entry's file name on every fixed local
// drive from C: to Z:, walking each drive's whole tree (no link or junction
// followed; protected trees such as the Windows directory and the users'
// profiles not entered) and examining every file of that name, letter case
// aside. A copy is taken only when it passes checkFile and its folder is not
// a protected place, not the patch's folder (the current directory) nor any
// folder below or above it, not the resolve source of the entry for the
// product, and passes the folder check. Removable, network and CD drives
// are not walked. kOk when a copy was taken (the entry's path then names
// it); kFailed when none was (the path is as before); kMalformed when the
// path holds no backslash.
int searchDrivesForFile(FileEntry& entry, AnchorSearch& search);
