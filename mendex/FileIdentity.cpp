#include "FileIdentity.h"

#include "WinHandle.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

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

namespace
{

// The identity of what path names, opened with flags, sharing everything.
bool identityByOpen(const char* path, DWORD flags, FileIdentity& out)
{
    UniqueFile file(CreateFileA(path, FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, flags, nullptr));
    return file && identityOf(file.get(), out);
}

} // namespace

bool identityOf(const char* path, FileIdentity& out)
{
    return identityByOpen(path, FILE_FLAG_BACKUP_SEMANTICS, out);
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

namespace
{

// A folder's open: its contents listed (so that the handle takes part in
// sharing: no deletion shared, nobody renames it), never through a link.
UniqueFile openFolder(const char* dir)
{
    return UniqueFile(CreateFileA(dir, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                  nullptr));
}

// True when the open handle is a folder's.
bool isFolder(HANDLE handle)
{
    FILE_ATTRIBUTE_TAG_INFO tag{};
    return GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) &&
           (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

// True when the open folder, or the name it was opened by, is a reparse
// point: Windows opens a link itself and tells it by the handle; Wine
// follows a link all the same and tells it only by the name.
bool isReparsePoint(HANDLE folder, const char* dir)
{
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(folder, FileAttributeTagInfo, &tag, sizeof tag) ||
        (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return true;
    const DWORD attributes = GetFileAttributesA(dir);
    return attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The final path of an open file or folder ("\\?\C:\..."); "" when it
// cannot be had.
std::wstring finalPathOf(HANDLE handle)
{
    std::wstring path(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD n =
            GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0)
            return std::wstring();
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.assign(n + 1, L'\0');
    }
    return std::wstring();
}

bool sameText(const wchar_t* a, int aLength, const wchar_t* b, int bLength)
{
    return CompareStringOrdinal(a, aLength, b, bLength, TRUE) == CSTR_EQUAL;
}

std::wstring wideOf(const std::string& text)
{
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (n <= 0)
        return std::wstring();
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, out.data(), n);
    out.resize(static_cast<std::size_t>(n - 1));
    return out;
}

} // namespace

bool folderIdentityOf(const char* dir, FileIdentity& out, bool& reparse)
{
    UniqueFile folder(openFolder(dir));
    if (!folder || !isFolder(folder.get()) || !identityOf(folder.get(), out))
        return false;
    reparse = isReparsePoint(folder.get(), dir);
    return true;
}

bool entryIdentityOf(const char* path, FileIdentity& out)
{
    return identityByOpen(path, FILE_FLAG_OPEN_REPARSE_POINT, out);
}

bool HeldFolder::open(const char* dir, const FileIdentity* planned)
{
    close();
    UniqueFile folder(openFolder(dir));
    if (!folder || !isFolder(folder.get()) || !identityOf(folder.get(), identity_) ||
        isReparsePoint(folder.get(), dir) || (planned && !identity_.sameFileAs(*planned)))
        return false;
    try {
        final_ = finalPathOf(folder.get());
    } catch (...) {
        return false;
    }
    if (final_.empty())
        return false;
    handle_ = std::move(folder);
    return true;
}

bool HeldFolder::holds(HANDLE file) const noexcept
{
    if (!handle_)
        return false;
    std::wstring path;
    try {
        path = finalPathOf(file);
    } catch (...) {
        return false;
    }
    // The folder's path and one separator (a drive's root ends in one).
    std::size_t prefix = final_.size();
    if (final_.back() != L'\\')
        ++prefix;
    if (path.size() <= prefix || path[prefix - 1] != L'\\' ||
        path.find(L'\\', prefix) != std::wstring::npos)
        return false;
    return sameText(path.c_str(), static_cast<int>(final_.size()), final_.c_str(),
                    static_cast<int>(final_.size()));
}

UniqueFile openInFolder(const char* path, DWORD access, const FileIdentity& planned,
                        const HeldFolder& folder)
{
    UniqueFile file(CreateFileA(path, access | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file)
        return file;
    FileIdentity identity;
    if (!identityOf(file.get(), identity) || !identity.sameFileAs(planned) ||
        !folder.holds(file.get())) {
        file.reset();
        SetLastError(kNotAsPlanned);
    }
    return file;
}

bool moveByHandle(HANDLE file, const std::string& to) noexcept
{
    try {
        // The new name as the system's own (NT) path.
        std::wstring name = wideOf(to);
        if (name.empty())
            return false;
        if (name.compare(0, 2, L"\\\\") == 0)
            name = L"\\??\\UNC\\" + name.substr(2);
        else
            name = L"\\??\\" + name;
        const std::size_t bytes = name.size() * sizeof(wchar_t);
        std::string buffer(sizeof(FILE_RENAME_INFO) + bytes, '\0');
        auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
        rename->ReplaceIfExists = FALSE;
        rename->RootDirectory = nullptr;
        rename->FileNameLength = static_cast<DWORD>(bytes);
        std::memcpy(rename->FileName, name.data(), bytes);
        return SetFileInformationByHandle(file, FileRenameInfo, rename,
                                          static_cast<DWORD>(buffer.size())) != FALSE;
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
}

bool deleteByHandle(HANDLE file)
{
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition))
        return true;
    if (GetLastError() != ERROR_ACCESS_DENIED)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info) ||
        !(info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) || info.nNumberOfLinks > 1) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic) &&
           SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
}

bool copyByHandle(HANDLE file, const std::string& to)
{
    UniqueFile source(ReOpenFile(file, GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 FILE_FLAG_SEQUENTIAL_SCAN));
    BY_HANDLE_FILE_INFORMATION info;
    if (!source || !GetFileInformationByHandle(source.get(), &info))
        return false;
    UniqueFile copy(CreateFileA(to.c_str(), GENERIC_WRITE | FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!copy)
        return false;
    static constexpr DWORD kChunk = 1 << 16;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kChunk]);
    bool whole = buffer != nullptr;
    for (DWORD read = 0; whole;) {
        whole = ReadFile(source.get(), buffer.get(), kChunk, &read, nullptr) != FALSE;
        if (!whole || read == 0)
            break;
        DWORD written = 0;
        whole = WriteFile(copy.get(), buffer.get(), read, &written, nullptr) && written == read;
    }
    LARGE_INTEGER size{};
    whole = whole && GetFileSizeEx(copy.get(), &size) &&
            static_cast<std::uint64_t>(size.QuadPart) ==
                ((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow) &&
            SetFileTime(copy.get(), &info.ftCreationTime, nullptr, &info.ftLastWriteTime) &&
            FlushFileBuffers(copy.get());
    if (whole) {
        // The old file's attributes, kept as they were (read-only included).
        FILE_BASIC_INFO basic{};
        basic.FileAttributes =
            info.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                     FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
        if (basic.FileAttributes)
            SetFileInformationByHandle(copy.get(), FileBasicInfo, &basic, sizeof basic);
    }
    copy.reset();
    if (!whole) {
        const DWORD error = GetLastError();
        DeleteFileA(to.c_str());
        SetLastError(error);
    }
    return whole;
}

bool isFolderItself(const char* path)
{
    UniqueFile folder(openFolder(path));
    if (!folder || !isFolder(folder.get()) || isReparsePoint(folder.get(), path))
        return false;
    try {
        const std::wstring final = finalPathOf(folder.get());
        const std::wstring own = L"\\\\?\\" + wideOf(path);
        return !final.empty() && sameText(final.c_str(), static_cast<int>(final.size()),
                                          own.c_str(), static_cast<int>(own.size()));
    } catch (...) {
        return false;
    }
}
