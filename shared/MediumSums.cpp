#include "MediumSums.h"

#include "FileNames.h"
#include "Text.h"

#include <cctype>

namespace
{

std::string backslashed(std::string path)
{
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

} // namespace

std::string whyNotInMedium(const std::string& path)
{
    if (path.empty())
        return "is empty";
    const std::string parts = backslashed(path);
    if (parts[0] == '\\')
        return "is an absolute path";
    if (parts.size() >= 2 && parts[1] == ':')
        return "is a path on a drive";
    for (std::size_t at = 0; at <= parts.size();) {
        std::size_t end = parts.find('\\', at);
        if (end == std::string::npos)
            end = parts.size();
        const std::string part = parts.substr(at, end - at);
        if (part == "..")
            return "climbs out of the medium (\"..\")";
        if (!isPlainName(part))
            return part.empty() ? "has an empty part"
                                : "has a part that names no file: \"" + part + "\"";
        at = end + 1;
    }
    return "";
}

std::vector<SumsEntry> parseSums(const std::string& text, std::vector<SumsProblem>& problems)
{
    std::vector<SumsEntry> entries;
    std::size_t at = 0;
    std::size_t number = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        bool hex = line.size() > 66 && (line[64] == ' ') && (line[65] == ' ' || line[65] == '*');
        for (std::size_t i = 0; hex && i < 64; ++i)
            hex = std::isxdigit(static_cast<unsigned char>(line[i])) != 0;
        if (!hex) {
            problems.push_back({number, "is no line of sha256sum (a digest, two spaces, a path)"});
            continue;
        }
        SumsEntry entry;
        entry.line = number;
        entry.digest = line.substr(0, 64);
        for (char& c : entry.digest)
            c = lowerAscii(c);
        const std::string named = line.substr(66);
        if (std::string why = whyNotInMedium(named); !why.empty()) {
            problems.push_back(
                {number, "names " + named + ", which is no file of the medium: it " + why});
            continue;
        }
        entry.path = backslashed(named);
        entries.push_back(std::move(entry));
    }
    return entries;
}

const SumsEntry* listedEntry(const std::vector<SumsEntry>& entries, const std::string& path)
{
    const std::string wanted = backslashed(path);
    for (const SumsEntry& e : entries)
        if (equalsNoCase(e.path.c_str(), wanted.c_str()))
            return &e;
    return nullptr;
}
