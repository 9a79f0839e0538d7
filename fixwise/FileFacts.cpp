#include "FileFacts.h"

#include "LineReader.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#ifdef _WIN32
#include "WinHandle.h"

#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace
{
#ifdef _WIN32
constexpr char kSeparator = '\\';
constexpr const char* kSeparators = "\\/";
#else
constexpr char kSeparator = '/';
constexpr const char* kSeparators = "/";
constexpr std::uint64_t kSecondsFrom1601To1970 = 11644473600ull;
#endif
} // namespace

std::optional<FileFacts> fileFacts(const std::string& path)
{
#ifdef _WIN32
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    FileFacts facts;
    facts.size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    facts.writeTime = (std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
                      data.ftLastWriteTime.dwLowDateTime;
    return facts;
#else
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    FileFacts facts;
    facts.size = static_cast<std::uint64_t>(st.st_size);
    facts.writeTime =
        (static_cast<std::uint64_t>(st.st_mtim.tv_sec) + kSecondsFrom1601To1970) * 10000000ull +
        static_cast<std::uint64_t>(st.st_mtim.tv_nsec) / 100;
    return facts;
#endif
}

bool isDirectory(const std::string& path)
{
#ifdef _WIN32
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
#else
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
#endif
}

std::optional<std::string> readWholeFile(const std::string& path)
{
    UniqueStdFile file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return std::nullopt;
    std::string text;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0)
        text.append(buffer, n);
    if (std::ferror(file.get()))
        return std::nullopt;
    return text;
}

std::string hostPath(const std::string& dir, const std::string& relative)
{
    std::string path = dir;
    if (!path.empty() && path.back() != '/' && path.back() != kSeparator)
        path += kSeparator;
    for (char c : relative)
        path += (c == '\\' || c == '/') ? kSeparator : c;
    return path;
}

namespace
{

bool listInto(const std::string& dir, const std::string& prefix, std::vector<std::string>& out)
{
#ifdef _WIN32
    WIN32_FIND_DATAA data;
    UniqueFind find(FindFirstFileA(hostPath(dir, "*").c_str(), &data));
    if (!find)
        return false;
    do {
        std::string name = data.cFileName;
        if (name == "." || name == "..")
            continue;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!listInto(hostPath(dir, name), prefix + name + "\\", out))
                return false;
        } else {
            out.push_back(prefix + name);
        }
    } while (FindNextFileA(find.get(), &data));
    return GetLastError() == ERROR_NO_MORE_FILES;
#else
    std::unique_ptr<DIR, int (*)(DIR*)> folder(opendir(dir.c_str()), closedir);
    if (!folder)
        return false;
    while (const dirent* entry = readdir(folder.get())) {
        std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        std::string path = dir + "/" + name;
        if (isDirectory(path)) {
            if (!listInto(path, prefix + name + "\\", out))
                return false;
        } else if (fileFacts(path)) {
            out.push_back(prefix + name);
        }
    }
    return true;
#endif
}

} // namespace

std::optional<std::vector<std::string>> filesBelow(const std::string& dir)
{
    std::vector<std::string> files;
    if (!isDirectory(dir) || !listInto(dir, "", files))
        return std::nullopt;
    std::sort(files.begin(), files.end());
    return files;
}

bool makeFolders(const std::string& dir)
{
    if (dir.empty() || isDirectory(dir))
        return true;
    std::size_t cut = dir.find_last_of(kSeparators);
    if (cut != std::string::npos && cut > 0 && !makeFolders(dir.substr(0, cut)))
        return false;
#ifdef _WIN32
    return CreateDirectoryA(dir.c_str(), nullptr) || isDirectory(dir);
#else
    return mkdir(dir.c_str(), 0755) == 0 || isDirectory(dir);
#endif
}

bool copyKeepingTime(const std::string& from, const std::string& to)
{
    std::optional<FileFacts> source = fileFacts(from);
    if (!source)
        return false;
#ifdef _WIN32
    if (!CopyFileA(from.c_str(), to.c_str(), FALSE))
        return false;
    UniqueFile file(CreateFileA(to.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(source->writeTime);
    time.dwHighDateTime = static_cast<DWORD>(source->writeTime >> 32);
    if (!file || !SetFileTime(file.get(), nullptr, nullptr, &time))
        return false;
    file.reset();
#else
    struct stat st;
    std::optional<std::string> bytes = readWholeFile(from);
    if (!bytes || stat(from.c_str(), &st) != 0)
        return false;
    {
        UniqueStdFile out(std::fopen(to.c_str(), "wb"));
        if (!out || std::fwrite(bytes->data(), 1, bytes->size(), out.get()) != bytes->size() ||
            std::fflush(out.get()) != 0)
            return false;
    }
    const timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
    if (utimensat(AT_FDCWD, to.c_str(), times, 0) != 0)
        return false;
#endif
    std::optional<FileFacts> copy = fileFacts(to);
    return copy && copy->size == source->size && copy->writeTime == source->writeTime;
}

bool writeWholeFile(const std::string& path, const std::string& text)
{
    const std::string fresh = path + ".new";
    {
        UniqueStdFile out(std::fopen(fresh.c_str(), "wb"));
        if (!out || std::fwrite(text.data(), 1, text.size(), out.get()) != text.size() ||
            std::fflush(out.get()) != 0)
            return false;
    }
#ifdef _WIN32
    return MoveFileExA(fresh.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return std::rename(fresh.c_str(), path.c_str()) == 0;
#endif
}

std::string programFolder()
{
#ifdef _WIN32
    char path[MAX_PATH + 1];
    DWORD len = GetModuleFileNameA(nullptr, path, sizeof path);
    std::string program = len > 0 && len < sizeof path ? std::string(path, len) : "";
#else
    char path[4096];
    ssize_t len = readlink("/proc/self/exe", path, sizeof path);
    std::string program =
        len > 0 && static_cast<std::size_t>(len) < sizeof path ? std::string(path, len) : "";
#endif
    std::size_t cut = program.find_last_of(kSeparators);
    return cut == std::string::npos ? "." : program.substr(0, cut);
}
