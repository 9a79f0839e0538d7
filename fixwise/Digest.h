// SHA-256 of files, and the checksum list of a medium made from them.
#pragma once

#include "MediumSums.h"

#include <optional>
#include <string>
#include <vector>

// The SHA-256 of the file's bytes as 64 lower-case hexadecimal digits; none
// when the file cannot be read.
std::optional<std::string> sha256OfFile(const std::string& path);

// The list's text for the files (relative paths with backslashes) of dir;
// none when one of them cannot be read (its path in failed).
std::optional<std::string> sumsOf(const std::string& dir, const std::vector<std::string>& files,
                                  std::string& failed);
