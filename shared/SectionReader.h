// Sections of the data files (libdata.src, Update.src, Resolve.src).
//
// A line that begins with "[" is a header; its name runs from after the "["
// to the first "]", or to the end of the line. The lines after a header are
// the section's record lines: a name up to the first "=" and a value after
// it. The reader knows nothing more: comments, what ends a section and
// whether a record needs its "=" are each grammar's own rules.
#pragma once

#include "LineReader.h"
#include "Text.h"

#include <cstddef>

class ReadDiagnostics;

// What a line read is.
enum class LineKind {
    End,    // the file had ended: the line is empty
    Header, // it begins with "["
    Empty,  // an empty line
    Record, // any other line
};

class SectionReader
{
public:
    explicit SectionReader(LineReader& lines) : lines_(lines) {}
    SectionReader(const SectionReader&) = delete;
    SectionReader& operator=(const SectionReader&) = delete;

    // Reads the next line and tells what it is.
    LineKind next();
    // The line last read, terminated.
    const char* line() const { return line_; }
    // The name of the header last read.
    TextPiece headerName() const { return upTo(line_ + 1, ']'); }
    // A record's name: the line up to its first "=" (delimited: there is one).
    TextPiece recordName() const { return upTo(line_, '='); }
    // A record's value: the text after its first "=", empty without one.
    const char* recordValue() const { return recordName().rest(); }

    // Reads on to the next header; false at the end of the file. A header
    // that next() has just delivered (it ended a section) is that header.
    bool nextHeader();
    // Reads on with nextHeader to the first header whose name is exactly
    // name (letter case counts); false at the end of the file.
    bool seekSection(const char* name);

    // The line (1-based) of the file the last line read came from; after
    // End, the line after the last line feed.
    std::size_t lineNumber() const { return lines_.lineNumber(); }
    // True when no further line can be read.
    bool atEnd() { return lines_.atEnd(); }

private:
    LineReader& lines_;
    char line_[LineReader::kBufSize] = "";
    bool headerPending_ = false; // next() delivered a header nextHeader has not taken
};

// Called right after sections delivered an empty line that ends a section
// (what names it): reads on and reports that empty line when lines other
// than headers follow it before the next header or the end of the file,
// since the grammar never reaches them.
void reportHiddenLines(SectionReader& sections, ReadDiagnostics& diagnostics, const char* what);
