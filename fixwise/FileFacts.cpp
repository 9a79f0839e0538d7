#include "FileFacts.h"

#include "LineReader.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace
{
#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
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
