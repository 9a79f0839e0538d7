// Setup's run log: plain text appended to a file, one line per entry, each
// written through at once so that a run that ends abruptly keeps every line.
// The window's thread and the worker both write it: one line at a time.
#pragma once

#include "FwDialog.h"
#include "WinHandle.h"

#include <mutex>

class RunLog
{
public:
    // Opens path for appending; a log that cannot be opened stays silent.
    bool Open(const char* path);
    bool IsOpen() const { return static_cast<bool>(m_file); }
    // One line, prefixed with the local time; "\n" in the text become blanks.
    void Line(const char* format, ...) FW_PRINTF(2, 3);

private:
    UniqueFile m_file;
    // Appends of two threads to one handle may land on the same end of the
    // file: each line is written whole before the next.
    std::mutex m_writing;
};
