#include "FileIdentity.h"

#include "ResolveList.h"
#include "WinHandle.h"

#include <cstring>

bool identityOf(HANDLE handle, FileIdentity& out)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(handle, &info))
        return false;
    out.volume = info.dwVolumeSerialNumber;
    out.indexHigh = info.nFileIndexHigh;
    out.indexLow = info.nFileIndexLow;
    out.links = info.nNumberOfLinks;
    return true;
}

bool identityOf(const char* path, FileIdentity& out)
{
    UniqueFile file(CreateFileA(path, FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file && identityOf(file.get(), out);
}

bool removeFileEntry(const char* path)
{
    if (DeleteFileA(path))
        return true;
    if (GetLastError() != ERROR_ACCESS_DENIED)
        return false;
    UniqueFile entry(
        CreateFileA(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    FileIdentity identity;
    if (!entry || !identityOf(entry.get(), identity) || identity.links > 1)
        return false;
    FILE_BASIC_INFO info{};
    info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(entry.get(), FileBasicInfo, &info, sizeof info))
        return false;
    entry.reset();
    return DeleteFileA(path) != FALSE;
}

bool isFolderItself(const char* path)
{
    UniqueFile folder(CreateFileA(
        path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!folder || !GetFileInformationByHandle(folder.get(), &info) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    char final[MAX_PATH * 2];
    const DWORD n = GetFinalPathNameByHandleA(folder.get(), final, sizeof final,
                                              FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0 || n >= sizeof final)
        return false;
    const char* own = std::strncmp(final, "\\\\?\\", 4) == 0 ? final + 4 : final;
    return samePathText(own, path);
}
