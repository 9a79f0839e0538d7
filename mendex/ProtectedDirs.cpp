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

bool sameDirAs(const std::string& resolved, const char* other)
{
    std::string otherDir;
    return resolvedDir(other, otherDir) && samePathText(resolved.c_str(), otherDir.c_str());
}

// True when outer is inner or a folder above it, both as resolvedDir has them.
bool holdsDir(const char* outer, const char* inner)
{
    std::string outerDir;
    std::string innerDir;
    return !isBlankText(outer) && !isBlankText(inner) && resolvedDir(outer, outerDir) &&
           resolvedDir(inner, innerDir) &&
           (samePathText(outerDir.c_str(), innerDir.c_str()) ||
            pathIsInside(innerDir.c_str(), outerDir.c_str()));
}

// The shell's folders that hold a user's or the machine's own files.
const int kShellFolders[] = {
    CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILESX86, CSIDL_COMMON_APPDATA,
    CSIDL_PROFILE,       CSIDL_DESKTOPDIRECTORY, CSIDL_COMMON_DESKTOPDIRECTORY,
    CSIDL_PERSONAL,      CSIDL_COMMON_DOCUMENTS, CSIDL_MYMUSIC,
    CSIDL_MYPICTURES,    CSIDL_MYVIDEO,          CSIDL_APPDATA,
    CSIDL_LOCAL_APPDATA, CSIDL_STARTMENU,        CSIDL_COMMON_STARTMENU,
    CSIDL_PROGRAMS,      CSIDL_STARTUP,          CSIDL_PROGRAM_FILES_COMMON,
};

} // namespace

bool isProtectedDir(const char* directory, const char* programDir)
{
    std::string dir;
    if (!resolvedDir(directory, dir))
        return true;
    if (isRootDir(dir.c_str()))
        return true;
    char buf[MAX_PATH + 1];
    // The Windows directory and everything below it.
    UINT n = GetWindowsDirectoryA(buf, sizeof buf);
    if (n > 0 && n < sizeof buf && holdsDir(buf, dir.c_str()))
        return true;
    n = GetSystemWindowsDirectoryA(buf, sizeof buf);
    if (n > 0 && n < sizeof buf && holdsDir(buf, dir.c_str()))
        return true;
    n = GetSystemDirectoryA(buf, sizeof buf);
    if (n > 0 && n < sizeof buf && sameDirAs(dir, buf))
        return true;
    n = GetSystemWow64DirectoryA(buf, sizeof buf);
    if (n > 0 && n < sizeof buf && sameDirAs(dir, buf))
        return true;
    for (int folder : kShellFolders)
        if (SHGetFolderPathA(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, buf) == S_OK &&
            sameDirAs(dir, buf))
            return true;
    // The user profiles' folder and the Downloads folder of the profile.
    if (SHGetFolderPathA(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, buf) == S_OK) {
        std::string profile(buf);
        if (sameDirAs(dir, (profile + "\\Downloads").c_str()))
            return true;
        if (cutAtLastBackslash(buf) && sameDirAs(dir, buf))
            return true;
    }
    n = GetTempPathA(sizeof buf, buf);
    if (n > 0 && n < sizeof buf && sameDirAs(dir, buf))
        return true;
    // The patch's folder, Setup's folder, the installation's program folder,
    // and every folder above them.
    DWORD c = GetCurrentDirectoryA(sizeof buf, buf);
    if (c > 0 && c < sizeof buf && holdsDir(dir.c_str(), buf))
        return true;
    c = GetModuleFileNameA(nullptr, buf, sizeof buf);
    if (c > 0 && c < sizeof buf && cutAtLastBackslash(buf) && holdsDir(dir.c_str(), buf))
        return true;
    return programDir && holdsDir(dir.c_str(), programDir);
}
