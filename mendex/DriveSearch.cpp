// The anchor's drive search: where else on the machine an intact copy of
// the anchor file is that can be this installation's.
#include "DriveSearch.h"

#include "Directories.h"
#include "FileIdentity.h"
#include "FileRestore.h"
#include "ProtectedDirs.h"
#include "ResolveList.h"
#include "ResultCodes.h"
#include "Text.h"
#include "UpdateScript.h"
#include "WinHandle.h"

#include <windows.h>

#include <cstring>
#include <new>

namespace
{

// The full path of the anchor's resolve source, or "" when it has none.
std::string resolveSourcePath(ResolveList* resolveList, const char* productKey,
                              const char* fileName)
{
    char source[512];
    if (!resolveList || resolveList->lookup(productKey, fileName, source, sizeof source) != kOk ||
        isBlankText(source))
        return "";
    char full[512];
    const DWORD n = GetFullPathNameA(source, sizeof full, full, nullptr);
    return n == 0 || n >= sizeof full ? std::string(source) : std::string(full);
}

// Keeps the system's "No disk" and open-error boxes away while it lives:
// the drive search looks at drives that may hold no medium.
class QuietErrors
{
public:
    QuietErrors() : old_(GetErrorMode())
    {
        SetErrorMode(old_ | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    }
    ~QuietErrors() { SetErrorMode(old_); }
    QuietErrors(const QuietErrors&) = delete;
    QuietErrors& operator=(const QuietErrors&) = delete;

private:
    UINT old_;
};

// Why a drive of this type is not walked; null when it is.
const char* driveNotWalked(UINT type)
{
    switch (type) {
    case DRIVE_FIXED:
    case DRIVE_RAMDISK:
        return nullptr;
    case DRIVE_REMOVABLE:
        return "a removable drive: not searched";
    case DRIVE_REMOTE:
        return "a network drive: not searched";
    case DRIVE_CDROM:
        return "a CD or DVD drive: not searched";
    default:
        return "";
    }
}

// The copies listed as passed over, at most: a machine full of old copies
// does not fill the memory.
constexpr std::size_t kMaxPassed = 64;

class Walk
{
public:
    Walk(FileEntry& entry, AnchorSearch& search, const char* name)
        : entry_(entry), search_(search), name_(name), places_(search.programDir)
    {
        char dir[512];
        const DWORD n = GetCurrentDirectoryA(sizeof dir, dir);
        if (n > 0 && n < sizeof dir)
            patchDir_ = dir;
        source_ = resolveSourcePath(search.resolveList, search.productKey, name);
    }

    // True when a copy below root (a drive's "X:") was taken.
    bool drive(const std::string& root) { return walk(root, 0); }

    void pass(const std::string& path, const char* why)
    {
        if (search_.passed.size() < kMaxPassed)
            search_.passed.push_back({path, why});
    }

private:
    // Deep enough for any path that the file calls take.
    static constexpr int kMaxDepth = 128;

    bool walk(const std::string& dir, int depth)
    {
        std::vector<std::string> subdirs;
        WIN32_FIND_DATAA data;
        UniqueFind find(FindFirstFileExA((dir + "\\*").c_str(), FindExInfoBasic, &data,
                                         FindExSearchNameMatch, nullptr,
                                         FIND_FIRST_EX_LARGE_FETCH));
        if (!find)
            return false;
        do {
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                    std::strcmp(data.cFileName, ".") != 0 && std::strcmp(data.cFileName, "..") != 0)
                    subdirs.emplace_back(data.cFileName);
            } else if (equalsNoCase(data.cFileName, name_) && takes(dir + "\\" + data.cFileName)) {
                return true;
            }
        } while (FindNextFileA(find.get(), &data));
        find.reset();
        if (depth >= kMaxDepth)
            return false;
        for (const std::string& sub : subdirs) {
            const std::string child = dir + "\\" + sub;
            if (child.size() >= MAX_PATH || places_.coversTree(child.c_str()) ||
                (!patchDir_.empty() && (samePathText(child.c_str(), patchDir_.c_str()) ||
                                        pathIsInside(child.c_str(), patchDir_.c_str()))))
                continue;
            if (walk(child, depth + 1))
                return true;
        }
        return false;
    }

    bool isResolveSource(const std::string& path) const
    {
        if (source_.empty())
            return false;
        FileIdentity a;
        FileIdentity b;
        return samePathText(path.c_str(), source_.c_str()) ||
               (identityOf(path.c_str(), a) && identityOf(source_.c_str(), b) && a.sameFileAs(b));
    }

    // True when the copy at path is taken: the entry's path then names it.
    bool takes(const std::string& path)
    {
        if (path.size() >= sizeof entry_.path)
            return false;
        copyText(entry_.path, path.c_str());
        if (checkFile(entry_) != kOk) {
            pass(path, "its size or time is not the script's");
            return false;
        }
        std::string folder = path.substr(0, path.rfind('\\'));
        if (folder.size() == 2)
            folder += '\\'; // a drive's root
        if (holdsDirectory(patchDir_.c_str(), folder.c_str()) ||
            holdsDirectory(folder.c_str(), patchDir_.c_str())) {
            pass(path, "in or above the patch's own folder");
            return false;
        }
        if (places_.refuses(folder.c_str())) {
            pass(path, "in a place that is never a toolkit folder");
            return false;
        }
        if (isResolveSource(path)) {
            pass(path, "the patch's source of this file");
            return false;
        }
        if (search_.folderCheck) {
            const std::string why = search_.folderCheck(folder.c_str());
            if (!why.empty()) {
                pass(path, why.c_str());
                return false;
            }
        }
        return true;
    }

    FileEntry& entry_;
    AnchorSearch& search_;
    const char* name_;
    ProtectedPlaces places_;
    std::string patchDir_;
    std::string source_;
};

} // namespace

int searchDrivesForFile(FileEntry& entry, AnchorSearch& search)
{
    const char* slash = std::strrchr(entry.path, '\\');
    if (!slash)
        return kMalformed;
    char kept[sizeof entry.path];
    copyText(kept, entry.path);
    char name[sizeof entry.path];
    copyText(name, slash + 1);
    if (isBlankText(name))
        return kFailed;

    QuietErrors quiet;
    try {
        Walk walk(entry, search, name);
        char root[] = "C:\\";
        for (char drive = 'C'; drive <= 'Z'; ++drive) {
            root[0] = drive;
            const char* skip = driveNotWalked(GetDriveTypeA(root));
            if (skip) {
                if (*skip)
                    walk.pass(root, skip);
                continue;
            }
            if (walk.drive(std::string(root, 2)))
                return kOk;
        }
    } catch (const std::bad_alloc&) {
        // Short of memory: nothing is taken.
    }
    copyText(entry.path, kept);
    return kFailed;
}
