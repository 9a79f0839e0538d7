// The resolve list "Resolve.src" (where a good copy of each program file can
// be had) and the text side of the clean-up of the toolkit directory.
// Free of windows.h; the directory walk itself is in ScriptFiles.h.
#pragma once

#include <cstddef>

class LineReader;
struct FileEntry;

// The bare name of the resolve list in the current directory.
constexpr const char* kResolveListName = "Resolve.src";

// Looks up fileName (letter case ignored) in the section productKey (exact,
// with case) of lines already opened. The first matching line wins; a section
// ends at a header line, an empty line or the end of the file.
// Returns 0 with the source path (the text after the first "=", cut at
// capacity - 1 characters) in out; -1 when productKey is blank, the section is
// missing or has no line for fileName. Logs nothing.
int lookupResolveSource(LineReader& reader, const char* productKey, const char* fileName, char* out,
                        std::size_t capacity);

// Opens "Resolve.src" in the current directory and looks fileName up as above.
// Logs "\n>Resolve Data: File opened." after opening; when it cannot be
// opened, logs "\n>Error opening file %s." with "Resolve.src" and returns -11.
// Returns -1 (without opening) when productKey is blank.
int lookupResolveSource(const char* productKey, const char* fileName, char* out,
                        std::size_t capacity);

// Compares two paths: ASCII letters without regard to case, and every run of
// backslashes counted as one (a leading "\\" of a UNC path stays two).
// Returns true when they name the same text path.
bool samePathText(const char* a, const char* b);

// True when some entry of the file list has a path that samePathText-equals
// fullPath: such a file is listed by the script and must be kept.
bool isListedFile(const FileEntry* fileList, const char* fullPath);
