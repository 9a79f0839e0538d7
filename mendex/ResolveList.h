// The resolve list "Resolve.src" (where a good copy of each program file can
// be had) and the text side of the clean-up of the toolkit directory.
// Free of windows.h; the directory walk itself is in CleanUp.h.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "UpdateScript.h"

class LineReader;
class ReadDiagnostics;

// The bare name of the resolve list in the current directory.
constexpr const char* kResolveListName = "Resolve.src";

// Looks up fileName (letter case ignored) in the section productKey (exact,
// with case) of lines already opened. The first matching line wins; a section
// ends at a header line, an empty line or the end of the file.
// Returns kOk with the source path (the text after the first "=", cut at
// capacity - 1 characters) in out; kFailed when productKey is blank, the section is
// missing or has no line for fileName. Logs nothing.
// With a sink (diagnostics), it also tells each line it compares (passed),
// the line that answers (taken), and an empty line that hides later lines of
// the section; the answer stays the same.
int lookupResolveSource(LineReader& reader, const char* productKey, const char* fileName, char* out,
                        std::size_t capacity, ReadDiagnostics* diagnostics = nullptr);

// The form under which the resolve list knows a file name: A-Z in lower
// case. Two file names of one product collide when their keys are equal:
// the list holds one source for both.
std::string resolveNameKey(const char* fileName);

// Why no resolve line can name fileName (a static text), or null when one
// can: the name of a line is the text before its first "=", a line that
// begins with ";" is a comment, one that begins with "[" a header, and an
// empty one ends the section.
const char* resolveNameProblem(const char* fileName);

// The lookups of one section answered from memory: the same answers as
// lookupResolveSource over the same text, from one pass over it.
class ResolveIndex
{
public:
    explicit ResolveIndex(std::string text) : text_(std::move(text)) {}

    // As lookupResolveSource(reader, ...) over the text. Logs nothing.
    int lookup(const char* productKey, const char* fileName, char* out, std::size_t capacity);

private:
    // Source by file name (A-Z in lower case) of the first section headed
    // by the key; the first line of a name holds its place.
    using Section = std::unordered_map<std::string, std::string>;
    const Section& section(const char* productKey);

    std::string text_;
    std::unordered_map<std::string, Section> sections_;
};

// "Resolve.src" of the current directory for the lookups of one update run:
// read at the first lookup that can open it, and then answered from memory
// (line by line from the file when memory is short). A list that cannot be
// opened is tried again at the next lookup.
class ResolveList
{
public:
    // Looks fileName up as lookupResolveSource does. Returns kFailed (without
    // opening) when productKey is blank. Logs "\n>Resolve Data: File opened."
    // once the list is open; when it cannot be opened, logs
    // "\n>Error opening file %s." with "Resolve.src" and returns kDataFileOpen.
    int lookup(const char* productKey, const char* fileName, char* out, std::size_t capacity);
    // The same answer, logging nothing (for plans, which show the source
    // that a later lookup gives). Throws std::bad_alloc when memory runs out.
    int peek(const char* productKey, const char* fileName, char* out, std::size_t capacity);

private:
    int answer(const char* productKey, const char* fileName, char* out, std::size_t capacity,
               bool logged);

    std::optional<ResolveIndex> index_;
};

// Compares two paths: ASCII letters without regard to case, and every run of
// backslashes counted as one (a leading "\\" of a UNC path stays two).
// Returns true when they name the same text path.
bool samePathText(const char* a, const char* b);

// The form of a path in which samePathText-equal paths are equal texts: A-Z
// in lower case, every run of backslashes as one, a leading run of two or
// more as two. Replaces out's text; empty for a null path.
void normalPathText(const char* path, std::string& out);

// The paths of a file list, for many questions in turn.
class ListedPaths
{
public:
    explicit ListedPaths(const FileList& fileList);
    // True when some entry of the list has a path that samePathText-equals
    // fullPath: such a file is listed by the script and must be kept.
    bool contains(const char* fullPath);

private:
    std::unordered_set<std::string> paths_;
    std::string probe_;
};
