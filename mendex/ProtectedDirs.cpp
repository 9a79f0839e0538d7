#include "ProtectedDirs.h"

#include "Directories.h"
#include "ResolveList.h"
#include "Text.h"
#include "WinHandle.h"

#include <windows.h>

#include <shlobj.h>

#include <cstring>
#include <string>

namespace
{

// The full, long form of a directory path without trailing backslashes
// (except after a drive letter's root). False when it cannot be formed.
bool canonicalDir(const char* path, char* out, std::size_t cap)
{
    char full[1024];
    DWORD n = GetFullPathNameA(path, sizeof full, full, nullptr);
    if (n == 0 || n >= sizeof full)
        return false;
    char longPath[1024];
    n = GetLongPathNameA(full, longPath, sizeof longPath);
    if (n > 0 && n < sizeof longPath)
        copyText(out, cap, longPath);
    else
        copyText(out, cap, full);
    std::size_t len = std::strlen(out);
    while (len > 0 && out[len - 1] == '\\')
        out[--len] = '\0';
    return true;
}

// A drive's root ("C:") or a share's root ("\\server\share"), as canonicalDir
// leaves them.
bool isRootDir(const char* dir)
{
    std::size_t len = std::strlen(dir);
    if (len <= 2)
        return true;
    if (dir[0] == '\\' && dir[1] == '\\') {
        // \\server\share: no backslash after the share's name.
        const char* server = dir + 2;
        while (*server == '\\' || *server == '?' || *server == '.')
            ++server;
        const char* slash = std::strchr(server, '\\');
        return !slash || !std::strchr(slash + 1, '\\');
    }
    return false;
}

// The folder that path lands on as the file system resolves it (short
// names, "..", "\\?\", junctions and links followed), in canonicalDir's
// form; canonicalDir's answer when it cannot be opened. False when neither
// can be had.
bool resolvedDir(const char* path, std::string& out)
{
    char dir[1024];
    UniqueFile handle(CreateFileA(path, FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    char final[1024];
    const DWORD n =
        handle ? GetFinalPathNameByHandleA(handle.get(), final, sizeof final, VOLUME_NAME_DOS) : 0;
    if (n > 0 && n < sizeof final) {
        const char* rest = final;
        std::string unc;
        if (std::strncmp(final, "\\\\?\\UNC\\", 8) == 0) {
            unc = std::string("\\\\") + (final + 8);
            rest = unc.c_str();
        } else if (std::strncmp(final, "\\\\?\\", 4) == 0) {
            rest = final + 4;
        }
        if (!canonicalDir(rest, dir, sizeof dir))
            return false;
    } else if (!canonicalDir(path, dir, sizeof dir)) {
        return false;
    }
    out = dir;
    return true;
}

// True when outer is inner or a folder above it, both in resolvedDir's form.
bool holdsResolved(const std::string& outer, const std::string& inner)
{
    return samePathText(outer.c_str(), inner.c_str()) || pathIsInside(inner.c_str(), outer.c_str());
}

// True when dir runs through a folder that the system keeps for itself
// wherever it is: a recycle bin or "System Volume Information".
bool passesThroughSystemFolder(const char* dir)
{
    static const char* const kNames[] = {"$Recycle.Bin", "RECYCLER", "RECYCLED",
                                         "System Volume Information"};
    for (const char* p = std::strchr(dir, '\\'); p; p = std::strchr(p + 1, '\\')) {
        const char* end = std::strchr(p + 1, '\\');
        const std::size_t len = end ? static_cast<std::size_t>(end - p - 1) : std::strlen(p + 1);
        for (const char* name : kNames)
            if (equalsNoCaseN(p + 1, len, name))
                return true;
    }
    return false;
}

// Adds path, resolved, to places; nothing when it is blank or cannot be had.
void addPlace(std::vector<std::string>& places, const char* path)
{
    std::string dir;
    if (!isBlankText(path) && resolvedDir(path, dir))
        places.push_back(std::move(dir));
}

void addShellFolder(std::vector<std::string>& places, int folder, const char* below = nullptr)
{
    char buf[MAX_PATH + 1];
    if (SHGetFolderPathA(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, buf) != S_OK)
        return;
    std::string path(buf);
    if (below)
        path = path + "\\" + below;
    addPlace(places, path.c_str());
}

// The machine's folder of user profiles, from its profile list (the same
// for every account, SYSTEM included); "" when the list has none.
std::string profilesDirectory()
{
    UniqueHkey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE,
                      "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", 0,
                      KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return "";
    char raw[MAX_PATH + 1] = "";
    DWORD size = sizeof raw - 1;
    DWORD type = 0;
    if (RegQueryValueExA(key.get(), "ProfilesDirectory", nullptr, &type,
                         reinterpret_cast<BYTE*>(raw), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return "";
    raw[size < sizeof raw ? size : sizeof raw - 1] = '\0';
    char expanded[MAX_PATH + 1];
    const DWORD n = ExpandEnvironmentStringsA(raw, expanded, sizeof expanded);
    return n == 0 || n > sizeof expanded ? std::string() : std::string(expanded);
}

// The shell's folders of the running account and the machine that hold a
// user's or the machine's own files: never a toolkit folder themselves.
const int kShellFolders[] = {
    CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86, CSIDL_COMMON_APPDATA,
    CSIDL_PROFILE,       CSIDL_DESKTOPDIRECTORY, CSIDL_PERSONAL,
    CSIDL_MYMUSIC,       CSIDL_MYPICTURES,       CSIDL_MYVIDEO,
    CSIDL_APPDATA,       CSIDL_LOCAL_APPDATA,    CSIDL_STARTMENU,
    CSIDL_PROGRAMS,      CSIDL_STARTUP,          CSIDL_PROGRAM_FILES_COMMON,
};

// The machine's common folders: whole trees.
const int kCommonTrees[] = {
    CSIDL_COMMON_DESKTOPDIRECTORY,
    CSIDL_COMMON_DOCUMENTS,
    CSIDL_COMMON_STARTMENU,
    CSIDL_COMMON_STARTUP,
};

} // namespace

ProtectedPlaces::ProtectedPlaces(const char* programDir)
{
    char buf[MAX_PATH + 1];
    UINT n = GetWindowsDirectoryA(buf, sizeof buf);
    if (n > 0 && n < sizeof buf)
        addPlace(trees_, buf);
    n = GetSystemWindowsDirectoryA(buf, sizeof buf);
    if (n > 0 && n < sizeof buf)
        addPlace(trees_, buf);
    addPlace(trees_, profilesDirectory().c_str());
    // The folder above the running account's profile: the profiles' folder
    // as this account sees it.
    if (SHGetFolderPathA(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, buf) == S_OK) {
        const std::string downloads = std::string(buf) + "\\Downloads";
        addPlace(exact_, downloads.c_str());
        if (cutAtLastBackslash(buf))
            addPlace(trees_, buf);
    }
    for (int folder : kCommonTrees)
        addShellFolder(trees_, folder);
    addShellFolder(trees_, CSIDL_COMMON_APPDATA, "Microsoft");
    // The patch's own data: the kept runs and what they kept.
    addShellFolder(trees_, CSIDL_COMMON_APPDATA, "Orvantis\\Pixora Patch");

    n = GetSystemDirectoryA(buf, sizeof buf);
    if (n > 0 && n < sizeof buf)
        addPlace(exact_, buf);
    n = GetSystemWow64DirectoryA(buf, sizeof buf);
    if (n > 0 && n < sizeof buf)
        addPlace(exact_, buf);
    for (int folder : kShellFolders)
        addShellFolder(exact_, folder);
    n = GetTempPathA(sizeof buf, buf);
    if (n > 0 && n < sizeof buf)
        addPlace(exact_, buf);

    DWORD c = GetCurrentDirectoryA(sizeof buf, buf);
    if (c > 0 && c < sizeof buf)
        addPlace(upward_, buf);
    c = GetModuleFileNameA(nullptr, buf, sizeof buf);
    if (c > 0 && c < sizeof buf && cutAtLastBackslash(buf))
        addPlace(upward_, buf);
    addPlace(upward_, programDir);
}

bool ProtectedPlaces::refuses(const char* directory) const
{
    std::string dir;
    if (isBlankText(directory) || !resolvedDir(directory, dir))
        return true;
    if (isRootDir(dir.c_str()) || passesThroughSystemFolder(dir.c_str()))
        return true;
    for (const std::string& tree : trees_)
        if (holdsResolved(tree, dir))
            return true;
    for (const std::string& place : exact_)
        if (samePathText(place.c_str(), dir.c_str()))
            return true;
    for (const std::string& place : upward_)
        if (holdsResolved(dir, place))
            return true;
    return false;
}

bool ProtectedPlaces::coversTree(const char* walkedDir) const
{
    if (passesThroughSystemFolder(walkedDir))
        return true;
    for (const std::string& tree : trees_)
        if (samePathText(tree.c_str(), walkedDir) || pathIsInside(walkedDir, tree.c_str()))
            return true;
    return false;
}

bool isProtectedDir(const char* directory, const char* programDir)
{
    return ProtectedPlaces(programDir).refuses(directory);
}

bool holdsDirectory(const char* outer, const char* inner)
{
    std::string outerDir;
    std::string innerDir;
    return !isBlankText(outer) && !isBlankText(inner) && resolvedDir(outer, outerDir) &&
           resolvedDir(inner, innerDir) && holdsResolved(outerDir, innerDir);
}
