// The file system questions of fixwise, natively and on Windows alike.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

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
