// File list entries for the tests that call the update engine's pieces
// directly rather than through the library's export.
#pragma once

#include "MendexWineSupport.h"
#include "UpdateScript.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace mendextest
{

// A file list entry for path with the stamp s.
inline FileEntry entryFor(const std::string& path, const Stamp& s)
{
    FileEntry e;
    std::memset(&e, 0, sizeof e);
    std::snprintf(e.path, sizeof e.path, "%s", path.c_str());
    e.sizeLow = s.sizeLow;
    e.sizeHigh = s.sizeHigh;
    e.timeLow = s.timeLow;
    e.timeHigh = s.timeHigh;
    return e;
}

// An entry for path that wants exactly the file at source (its size and
// time; nothing when source is missing).
inline FileEntry entryServedBy(const std::string& path, const std::string& source)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    Stamp s;
    if (GetFileAttributesExA(source.c_str(), GetFileExInfoStandard, &data)) {
        s.sizeLow = data.nFileSizeLow;
        s.sizeHigh = data.nFileSizeHigh;
        s.timeLow = data.ftLastWriteTime.dwLowDateTime;
        s.timeHigh = data.ftLastWriteTime.dwHighDateTime;
    }
    return entryFor(path, s);
}

} // namespace mendextest
