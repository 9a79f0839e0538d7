// What a data-file reader can tell about the lines it drops, misreads or
// stops at. Readers take an optional sink: without one they behave, return
// and log exactly as they always do; with one they also report, for the
// patch author's checking tool, why a line does not read as it looks.
#pragma once

#include <cstddef>

enum class Severity { Warning, Error };

class ReadDiagnostics
{
public:
    // A line of the file (1-based, as an editor counts) and what is wrong.
    virtual void report(std::size_t line, Severity severity, const char* text) = 0;
    // The reader took this line as a record: the update script for each File
    // entry it added, the resolve lookup for the line that answered.
    virtual void taken(std::size_t /*line*/) {}
    // The resolve lookup compared this line's file name with the wanted one.
    virtual void passed(std::size_t /*line*/, const char* /*name*/) {}

protected:
    ~ReadDiagnostics() = default;
};
