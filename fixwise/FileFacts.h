// The file system questions of fixwise, natively and on Windows alike.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct FileFacts {
    std::uint64_t size = 0;
    std::uint64_t writeTime = 0; // FILETIME: 100-ns units since 1601-01-01 UTC
};

// Size and last-write time of a regular file; none when it is missing or a
// folder. Natively the time is the modification time converted exactly.
std::optional<FileFacts> fileFacts(const std::string& path);
bool isDirectory(const std::string& path);
// The whole file; none when it cannot be read.
std::optional<std::string> readWholeFile(const std::string& path);
// dir joined with a path written with backslashes, as the host spells it.
std::string hostPath(const std::string& dir, const std::string& relative);

// The regular files below dir, each as its path relative to dir written
// with backslashes, in byte order; none when dir cannot be listed.
std::optional<std::vector<std::string>> filesBelow(const std::string& dir);
// Makes dir and every folder on the way to it; false when one cannot be made.
bool makeFolders(const std::string& dir);
// Copies a file and gives the copy the source's last-write time exactly;
// false when the copy cannot be made or does not report the source's size
// and time afterwards.
bool copyKeepingTime(const std::string& from, const std::string& to);
// Replaces the file with text (written to a new name beside it first);
// false when it cannot be written.
bool writeWholeFile(const std::string& path, const std::string& text);
// The folder that holds the running program; "." when it cannot be told.
std::string programFolder();
