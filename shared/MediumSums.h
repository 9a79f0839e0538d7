// The checksum list at a medium's root, in the format of sha256sum: one line
// per file, "DIGEST  PATH" with the path relative to the medium written
// with "/", and its detached signature beside it. Pure text handling, free
// of windows.h: the console tool and Setup read the list alike.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

constexpr const char* kSumsName = "SHA256SUMS";
constexpr const char* kSumsSignatureName = "SHA256SUMS.p7s";

struct SumsEntry {
    std::size_t line = 0;
    std::string path;   // relative, with backslashes
    std::string digest; // lower-case hexadecimal
};

struct SumsProblem {
    std::size_t line = 0;
    std::string text; // what is wrong with the line
};

// Why path is no file of the medium in its normal form: a relative path
// whose parts (separated by single slashes or backslashes) are each a plain
// name: no "." or "..", no empty part, no absolute or drive-letter path,
// no device name or stream. "" when it is one.
std::string whyNotInMedium(const std::string& path);

// The entries of a list's text. A line that is no entry, or names a path
// that is not in the medium (whyNotInMedium), goes to problems instead,
// with its number. sha256sum's binary form ("DIGEST *PATH") is read as well.
std::vector<SumsEntry> parseSums(const std::string& text, std::vector<SumsProblem>& problems);

// The entry for the relative path (either slash, letter case of ASCII
// aside); null when the list has none.
const SumsEntry* listedEntry(const std::vector<SumsEntry>& entries, const std::string& path);
