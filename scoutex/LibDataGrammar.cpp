#include "LibDataGrammar.h"

#include "DiagLog.h"
#include "ReadDiagnostics.h"
#include "ResultCodes.h"
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
std::size_t quotedLength(const char* text)
{
    const char* end = std::strchr(text, '"');
    return end ? static_cast<std::size_t>(end - text) : std::strlen(text);
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

bool sectionKeyOf(const char* line, char (&key)[kLibTextSize])
{
    if (line[0] != '[')
        return false;
    const char* start = line + 1;
    const char* close = std::strchr(start, ']');
    const std::size_t len = close ? static_cast<std::size_t>(close - start) : std::strlen(start);
    copyTextN(key, sizeof key, start, len);
    return true;
}

bool nextSectionKey(LineReader& reader, char (&key)[kLibTextSize])
{
    char line[LineReader::kBufSize];
    while (!reader.atEnd()) {
        reader.readLine(line);
        if (sectionKeyOf(line, key))
            return true;
    }
    return false;
}

int scanForEntry(LineReader& reader, const char* productKey, const char* entryName,
                 char (&line)[LineReader::kBufSize], const char*& value,
                 ReadDiagnostics* diagnostics)
{
    const std::size_t nameLen = std::strlen(entryName);
    char key[kLibTextSize];
    bool haveLine = false; // a header that ended the previous section
    for (;;) {
        // Section scan: a header with the wanted product key.
        if (!haveLine) {
            if (reader.atEnd())
                return kFailed;
            reader.readLine(line);
        }
        haveLine = false;
        if (!sectionKeyOf(line, key) || std::strcmp(key, productKey) != 0)
            continue;

        // Entry scan: every line before the entry must hold an "=". The end
        // of the file reads as an empty line.
        for (;;) {
            reader.readLine(line);
            if (line[0] == '[') {
                // The section ended without the entry; a later section with
                // the same key is searched as well.
                haveLine = true;
                break;
            }
            const char* eq = std::strchr(line, '=');
            if (!eq) {
                if (diagnostics)
                    diagnostics->report(reader.lineNumber(), Severity::Error,
                                        line[0] == '\0' && reader.atEnd()
                                            ? "the file ends inside the section: a lookup of an "
                                              "entry not above this line fails (-10)"
                                            : "a line without \"=\" inside a section ends every "
                                              "lookup of an entry below it (-10)");
                return kMalformed;
            }
            if (static_cast<std::size_t>(eq - line) == nameLen &&
                std::memcmp(line, entryName, nameLen) == 0) {
                value = eq + 1;
                return kOk;
            }
        }
    }
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
            copyTextN(delivered, cap, text, quotedLength(text));
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

    const char* path = value + 5;
    const char* comma = std::strchr(path, ',');
    const std::size_t pathLen = comma ? static_cast<std::size_t>(comma - path) : std::strlen(path);
    copyTextN(ref.keyPath, sizeof ref.keyPath, path, pathLen);
    ref.hasValueName = comma != nullptr;
    ref.valueName[0] = '\0';
    ref.expected = Expected::None;
    ref.expectedText[0] = '\0';
    ref.expectedNumber = 0;
    if (!comma)
        return kOk;

    const char* name = comma + 1;
    const char* eq = std::strchr(name, '=');
    const std::size_t nameLen = eq ? static_cast<std::size_t>(eq - name) : std::strlen(name);
    copyTextN(ref.valueName, sizeof ref.valueName, name, nameLen);
    if (!eq)
        return kOk;

    const char* expected = eq + 1;
    if (expected[0] == '\0') {
        ref.expected = Expected::Empty;
    } else if (expected[0] == '"') {
        ref.expected = Expected::Text;
        copyTextN(ref.expectedText, sizeof ref.expectedText, expected + 1,
                  quotedLength(expected + 1));
    } else {
        ref.expected = Expected::Number;
        ref.expectedNumber = readDecimal(expected);
    }
    return kOk;
}

bool productKeyFits(const char* productKey)
{
    const char* slash = std::strchr(productKey, '\\');
    if (!slash)
        return false;
    const std::size_t nameLen = static_cast<std::size_t>(slash - productKey);
    return nameLen <= 255 && std::strlen(slash + 1) <= 127;
}

bool splitProductKey(const char* productKey, char (&name)[256], char (&version)[128])
{
    if (!productKeyFits(productKey))
        return false;
    const char* slash = std::strchr(productKey, '\\');
    copyTextN(name, sizeof name, productKey, static_cast<std::size_t>(slash - productKey));
    copyText(version, slash + 1);
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
