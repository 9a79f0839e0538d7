#include "SectionReader.h"

#include "ReadDiagnostics.h"

#include <cstdio>

LineKind SectionReader::next()
{
    const bool ended = lines_.atEnd();
    lines_.readLine(line_);
    headerPending_ = false;
    if (ended)
        return LineKind::End;
    if (line_[0] == '[') {
        headerPending_ = true;
        return LineKind::Header;
    }
    return line_[0] == '\0' ? LineKind::Empty : LineKind::Record;
}

bool SectionReader::nextHeader()
{
    if (headerPending_) {
        headerPending_ = false;
        return true;
    }
    for (;;) {
        switch (next()) {
        case LineKind::End:
            return false;
        case LineKind::Header:
            headerPending_ = false;
            return true;
        default:
            break;
        }
    }
}

bool SectionReader::seekSection(const char* name)
{
    while (nextHeader())
        if (pieceIs(headerName(), name))
            return true;
    return false;
}

void reportHiddenLines(SectionReader& sections, ReadDiagnostics& diagnostics, const char* what)
{
    const std::size_t emptyLine = sections.lineNumber();
    LineKind kind = sections.next();
    while (kind == LineKind::Empty)
        kind = sections.next();
    if (kind != LineKind::Record)
        return;
    char text[160];
    std::snprintf(text, sizeof text,
                  "empty line ends the %s: the lines after it, from line %zu, are never read", what,
                  sections.lineNumber());
    diagnostics.report(emptyLine, Severity::Error, text);
}
