// SHA-256 of files, with the platform's own implementation: OpenSSL's
// libcrypto natively, the system's CNG (bcrypt.dll) on Windows.
#pragma once

#include <optional>
#include <string>

// The SHA-256 of the file's bytes as 64 lower-case hexadecimal digits; none
// when the file cannot be read.
std::optional<std::string> sha256OfFile(const std::string& path);

#include <cstddef>
#include <vector>

// The checksum list at a medium's root, in the format of sha256sum: one line
// per file, "DIGEST  PATH" with the path relative to the medium written
// with "/".
constexpr const char* kSumsName = "SHA256SUMS";

struct SumsEntry {
    std::size_t line = 0;
    std::string path;   // relative, with backslashes (as filesBelow gives it)
    std::string digest; // lower-case hexadecimal
};

// The list's text for the files (relative paths with backslashes) of dir;
// none when one of them cannot be read (its path in failed).
std::optional<std::string> sumsOf(const std::string& dir, const std::vector<std::string>& files,
                                  std::string& failed);

// The entries of a list's text; the numbers of lines that are no entry go
// to bad. sha256sum's binary form ("DIGEST *PATH") is read as well.
std::vector<SumsEntry> parseSums(const std::string& text, std::vector<std::size_t>& bad);
