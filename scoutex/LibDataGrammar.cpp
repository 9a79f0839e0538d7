#include "LibDataGrammar.h"

#include "DiagLog.h"
#include "ReadDiagnostics.h"
#include "ResultCodes.h"
#include "SectionReader.h"
#include "Text.h"

#include <algorithm>
#include <cstring>

namespace
{

bool isWhiteSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The quoted text after an opening double quote: up to the next double
// quote or the end of the line.
TextPiece quoted(const char* text)
{
    return upTo(text, '"');
}

} // namespace

std::int32_t readDecimal(const char* text)
{
    const char* p = text;
    while (isWhiteSpace(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
    std::int64_t n = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (n < limit)
            n = n * 10 + (*p - '0');
        if (n > limit)
            n = limit;
    }
    return static_cast<std::int32_t>(negative ? -n : n);
}

bool nextSectionKey(LineReader& reader, char (&key)[kLibTextSize])
{
    SectionReader sections(reader);
    if (!sections.nextHeader())
        return false;
    copyText(key, sections.headerName());
    return true;
}

int scanForEntry(SectionReader& sections, const char* productKey, const char* entryName,
                 const char*& value, ReadDiagnostics* diagnostics)
{
    // A header ends a section without the entry; a later section with the
    // same key is searched as well.
    while (sections.seekSection(productKey)) {
        // Every line before the entry must hold an "=". The end of the file
        // reads as an empty line; there are no comments.
        while (sections.next() != LineKind::Header) {
            const TextPiece name = sections.recordName();
            if (!name.delimited) {
                if (diagnostics)
                    diagnostics->report(sections.lineNumber(), Severity::Error,
                                        sections.line()[0] == '\0' && sections.atEnd()
                                            ? "the file ends inside the section: a lookup of an "
                                              "entry not above this line fails (-10)"
                                            : "a line without \"=\" inside a section ends every "
                                              "lookup of an entry below it (-10)");
                return kMalformed;
            }
            if (pieceIs(name, entryName)) {
                value = name.rest();
                return kOk;
            }
        }
    }
    return kFailed;
}

int resolveLiteral(const char* entryName, const char* value, ValueForm form, void* out, int outSize)
{
    if (form == ValueForm::Number) {
        if (value[0] == '\0')
            return kFailed;
        const std::int32_t n = readDecimal(value);
        if (out && outSize >= static_cast<int>(sizeof n))
            std::memcpy(out, &n, sizeof n);
        DiagLog("\n>%s = %ld", entryName, static_cast<long>(n));
    } else {
        if (value[0] != '"')
            return kFailed;
        const char* text = value + 1;
        char delivered[kLibTextSize];
        const std::size_t cap =
            outSize <= 0
                ? 0
                : std::min<std::size_t>(static_cast<std::size_t>(outSize), sizeof delivered);
        if (cap == 0)
            delivered[0] = '\0';
        else
            copyTextN(delivered, cap, text, quoted(text).length);
        if (out && cap > 0)
            copyText(static_cast<char*>(out), cap, delivered);
        DiagLog("\n>%s = %s", entryName, delivered);
    }
    DiagLog("\n>---Operation successful.");
    return kOk;
}

int parseRegistryRef(const char* value, RegistryRef& ref, const char** why)
{
    if (std::strncmp(value, "HKLM", 4) == 0)
        ref.hive = Hive::LocalMachine;
    else if (std::strncmp(value, "HKCU", 4) == 0)
        ref.hive = Hive::CurrentUser;
    else {
        if (why)
            *why = "the hive must be \"HKLM\" or \"HKCU\", in capitals";
        return kMalformed;
    }
    if (value[4] != ',') {
        if (why)
            *why = "no \",\" after the hive";
        return kMalformed;
    }

    const TextPiece path = upTo(value + 5, ',');
    copyText(ref.keyPath, path);
    ref.hasValueName = path.delimited;
    ref.valueName[0] = '\0';
    ref.expected = Expected::None;
    ref.expectedText[0] = '\0';
    ref.expectedNumber = 0;
    if (!path.delimited)
        return kOk;

    const TextPiece name = upTo(path.rest(), '=');
    copyText(ref.valueName, name);
    if (!name.delimited)
        return kOk;

    const char* expected = name.rest();
    if (expected[0] == '\0') {
        ref.expected = Expected::Empty;
    } else if (expected[0] == '"') {
        ref.expected = Expected::Text;
        copyText(ref.expectedText, quoted(expected + 1));
    } else {
        ref.expected = Expected::Number;
        ref.expectedNumber = readDecimal(expected);
    }
    return kOk;
}

bool productKeyFits(const char* productKey)
{
    const TextPiece name = upTo(productKey, '\\');
    return name.delimited && name.length <= 255 && std::strlen(name.rest()) <= 127;
}

bool splitProductKey(const char* productKey, char (&name)[256], char (&version)[128])
{
    if (!productKeyFits(productKey))
        return false;
    const TextPiece namePiece = upTo(productKey, '\\');
    copyText(name, namePiece);
    copyText(version, namePiece.rest());
    return true;
}

int trimProgramDir(const char* value, char (&dir)[kLibTextSize])
{
    copyText(dir, value);
    char* slash = std::strrchr(dir, '\\');
    if (!slash)
        return kMalformed;
    if (equalsNoCase(slash + 1, "handbook.pdf"))
        slash[1] = '\0';
    return kOk;
}

bool buildListPattern(const char* dir, char (&pattern)[kLibTextSize])
{
    return joinPath(pattern, dir, "*.*");
}
