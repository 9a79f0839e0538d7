#include "ResolveList.h"

#include "DiagLog.h"
#include "LineReader.h"
#include "ReadDiagnostics.h"
#include "ResultCodes.h"
#include "SectionReader.h"
#include "Text.h"
#include "UpdateScript.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace
{

// Every lookup starts with an empty answer; a blank product key has none.
bool startLookup(const char* productKey, char* out, std::size_t capacity)
{
    if (out && capacity > 0)
        out[0] = '\0';
    return !isBlankText(productKey);
}

// The answer: the source path, cut at capacity - 1 characters.
void giveSource(char* out, std::size_t capacity, const char* source)
{
    if (out && capacity > 0)
        copyText(out, capacity, source);
}

void lowerInto(std::string& out, const char* text, std::size_t len)
{
    out.assign(text, len);
    for (char& c : out)
        c = lowerAscii(c);
}

} // namespace

std::string resolveNameKey(const char* fileName)
{
    std::string key;
    if (fileName)
        lowerInto(key, fileName, std::strlen(fileName));
    return key;
}

const char* resolveNameProblem(const char* fileName)
{
    if (!fileName || fileName[0] == '\0')
        return "an empty name ends the section";
    if (std::strchr(fileName, '='))
        return "the name ends at its first \"=\"";
    if (fileName[0] == ';')
        return "a line that begins with \";\" is a comment";
    if (fileName[0] == '[')
        return "a line that begins with \"[\" is a header";
    return nullptr;
}

int lookupResolveSource(LineReader& reader, const char* productKey, const char* fileName, char* out,
                        std::size_t capacity, ReadDiagnostics* diagnostics)
{
    if (!startLookup(productKey, out, capacity))
        return kFailed;
    if (!fileName)
        fileName = "";

    // The first section headed by the key, up to a header, an empty line or
    // the end; a line that begins with ";" is a comment, and "=" may be
    // missing (the source is then empty).
    SectionReader sections(reader);
    if (!sections.seekSection(productKey))
        return kFailed;
    for (;;) {
        const LineKind line = sections.next();
        if (line == LineKind::Empty && diagnostics)
            reportHiddenLines(sections, *diagnostics, "resolve section");
        if (line != LineKind::Record)
            return kFailed;
        if (sections.line()[0] == ';')
            continue;
        const TextPiece name = sections.recordName();
        if (diagnostics) {
            std::string text(name.begin, name.length);
            diagnostics->passed(sections.lineNumber(), text.c_str());
        }
        if (equalsNoCaseN(name.begin, name.length, fileName)) {
            giveSource(out, capacity, sections.recordValue());
            if (diagnostics)
                diagnostics->taken(sections.lineNumber());
            return kOk;
        }
    }
}

namespace
{

// The lookup of one file name from "Resolve.src" read line by line, logging
// as ResolveList::lookup does.
int lookupInFile(const char* productKey, const char* fileName, char* out, std::size_t capacity)
{
    UniqueStdFile file = openDataFile(kResolveListName);
    if (!file) {
        DiagLog("\n>Error opening file %s.", kResolveListName);
        return kDataFileOpen;
    }
    DiagLog("\n>Resolve Data: File opened.");
    LineReader reader(file.get());
    return lookupResolveSource(reader, productKey, fileName, out, capacity);
}

} // namespace

bool samePathText(const char* a, const char* b)
{
    if (!a || !b)
        return false;
    // A leading run of backslashes counts as two when it is two or more
    // (a UNC path), as one when it is one; every later run counts as one.
    auto leading = [](const char*& p) {
        int n = 0;
        while (*p == '\\') {
            ++p;
            ++n;
        }
        return n > 2 ? 2 : n;
    };
    if (leading(a) != leading(b))
        return false;
    for (;;) {
        if (*a == '\\' && *b == '\\') {
            while (*a == '\\')
                ++a;
            while (*b == '\\')
                ++b;
            continue;
        }
        if (lowerAscii(*a) != lowerAscii(*b))
            return false;
        if (*a == '\0')
            return true;
        ++a;
        ++b;
    }
}

const ResolveIndex::Section& ResolveIndex::section(const char* productKey)
{
    auto known = sections_.find(productKey);
    if (known != sections_.end())
        return known->second;
    Section& entries = sections_[productKey];

    // The same walk as the sequential lookup.
    LineReader reader(text_);
    SectionReader sections(reader);
    if (!sections.seekSection(productKey))
        return entries;
    std::string name;
    while (sections.next() == LineKind::Record) {
        if (sections.line()[0] == ';')
            continue;
        const TextPiece piece = sections.recordName();
        lowerInto(name, piece.begin, piece.length);
        entries.emplace(name, piece.rest()); // an earlier line of the name stays
    }
    return entries;
}

int ResolveIndex::lookup(const char* productKey, const char* fileName, char* out,
                         std::size_t capacity)
{
    if (!startLookup(productKey, out, capacity))
        return kFailed;
    if (!fileName)
        fileName = "";
    const Section& entries = section(productKey);
    std::string name;
    lowerInto(name, fileName, std::strlen(fileName));
    auto found = entries.find(name);
    if (found == entries.end())
        return kFailed;
    giveSource(out, capacity, found->second.c_str());
    return kOk;
}

int ResolveList::lookup(const char* productKey, const char* fileName, char* out,
                        std::size_t capacity)
{
    return answer(productKey, fileName, out, capacity, true);
}

int ResolveList::peek(const char* productKey, const char* fileName, char* out, std::size_t capacity)
{
    return answer(productKey, fileName, out, capacity, false);
}

int ResolveList::answer(const char* productKey, const char* fileName, char* out,
                        std::size_t capacity, bool logged)
{
    if (!startLookup(productKey, out, capacity))
        return kFailed;
    int result = kFailed;
    try {
        if (!index_) {
            UniqueStdFile file = openDataFile(kResolveListName);
            if (!file) {
                if (logged)
                    DiagLog("\n>Error opening file %s.", kResolveListName);
                return kDataFileOpen;
            }
            std::string text;
            char chunk[16384];
            std::size_t got;
            while ((got = std::fread(chunk, 1, sizeof chunk, file.get())) > 0)
                text.append(chunk, got);
            index_.emplace(std::move(text));
        }
        result = index_->lookup(productKey, fileName, out, capacity);
    } catch (...) {
        // Short of memory: the list is read line by line for this lookup.
        index_.reset();
        if (!logged)
            throw;
        return lookupInFile(productKey, fileName, out, capacity);
    }
    if (logged)
        DiagLog("\n>Resolve Data: File opened.");
    return result;
}

void normalPathText(const char* path, std::string& out)
{
    out.clear();
    if (!path)
        return;
    std::size_t lead = 0;
    while (*path == '\\') {
        ++path;
        ++lead;
    }
    out.append(lead > 2 ? 2 : lead, '\\');
    while (*path) {
        if (*path == '\\') {
            out.push_back('\\');
            while (*path == '\\')
                ++path;
            continue;
        }
        out.push_back(lowerAscii(*path));
        ++path;
    }
}

ListedPaths::ListedPaths(const FileList& fileList)
{
    std::string path;
    for (const FileEntry& entry : fileList) {
        normalPathText(entry.path, path);
        paths_.insert(path);
    }
    probe_.reserve(1024);
}

bool ListedPaths::contains(const char* fullPath)
{
    if (!fullPath)
        return false;
    normalPathText(fullPath, probe_);
    return paths_.count(probe_) != 0;
}
