#include "UpdateScript.h"

#include "DiagLog.h"
#include "LineReader.h"
#include "ReadDiagnostics.h"
#include "ResultCodes.h"
#include "SectionReader.h"
#include "Text.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace
{

std::uint32_t pieceHex(const TextPiece& piece, bool* exact = nullptr)
{
    char buf[LineReader::kBufSize];
    copyText(buf, piece);
    if (exact && !isExactHex(buf))
        *exact = false;
    return parseHex(buf);
}

// Records why a record is dropped and gives the result that drops it.
int dropped(RecordNotes* notes, const char* why)
{
    if (notes)
        notes->dropped = why;
    return kMalformed;
}

void misread(RecordNotes* notes, const char* how)
{
    if (notes && !notes->misread)
        notes->misread = how;
}

void remark(RecordNotes* notes, const char* what)
{
    if (notes && !notes->remark)
        notes->remark = what;
}

const char kNotHex[] = "a number holds a character that is not a hexadecimal digit (read as 0) "
                       "or more than eight digits (only the last eight count)";

// Puts entry at the end of list; false when memory is exhausted (the list
// is then as it was).
template <typename Entry> bool append(std::vector<Entry>& list, const Entry& entry)
{
    try {
        list.push_back(entry);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace

bool isExactHex(const char* text)
{
    if (!text)
        return true;
    if (text[0] == '0' && text[1] == 'x')
        text += 2;
    else if (text[0] == 'x')
        text += 1;
    std::size_t digits = 0;
    for (; *text; ++text, ++digits) {
        const char c = *text;
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return digits <= 8;
}

bool isLanguageHeaderName(const char* name)
{
    if (!name)
        return false;
    const char* digits = name;
    if (digits[0] == '0' && digits[1] == 'x')
        digits += 2;
    else if (digits[0] == 'x')
        digits += 1;
    return digits[0] != '\0' && isExactHex(name);
}

std::uint32_t parseHex(const char* text)
{
    if (!text)
        return 0;
    if (text[0] == '0' && text[1] == 'x')
        text += 2;
    else if (text[0] == 'x')
        text += 1;
    std::uint32_t value = 0;
    for (; *text; ++text) {
        char c = *text;
        std::uint32_t digit = 0;
        if (c >= '0' && c <= '9')
            digit = static_cast<std::uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<std::uint32_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<std::uint32_t>(c - 'A' + 10);
        value = (value << 4) | digit;
    }
    return value;
}

int parseFileEntry(const char* value, UpdateScript* script, RecordNotes* notes)
{
    if (isBlankText(value))
        return kFailed;
    if (!script)
        return kFailed;

    // path "," "size" ":" high "-" low "," "time" ":" high "-" low: each piece
    // ends at its delimiter, and a word piece must be that word.
    static const struct {
        char end;
        const char* word;
        const char* dropReason;
    } kPieces[] = {
        {',', nullptr, "File record without \",\" after the path"},
        {':', "size", "File record: \"size:\" must follow the path's \",\""},
        {'-', nullptr, "File record: the size has no \"-\" between its halves"},
        {',', nullptr, "File record without \",\" after the size"},
        {':', "time", "File record: \"time:\" must follow the size's \",\""},
        {'-', nullptr, "File record: the time has no \"-\" between its halves"},
    };
    TextPiece pieces[7];
    const char* rest = value;
    for (std::size_t i = 0; i < 6; ++i) {
        pieces[i] = upTo(rest, kPieces[i].end);
        if (!pieces[i].delimited || (kPieces[i].word && !pieceIs(pieces[i], kPieces[i].word)))
            return dropped(notes, kPieces[i].dropReason);
        rest = pieces[i].rest();
    }
    pieces[6] = upTo(rest, '\0');
    const TextPiece& path = pieces[0];
    const TextPiece& sizeHigh = pieces[2];
    const TextPiece& sizeLow = pieces[3];
    const TextPiece& timeHigh = pieces[5];
    const TextPiece& timeLow = pieces[6];

    FileEntry entry{};
    copyText(entry.path, path);
    bool exact = true;
    entry.sizeHigh = pieceHex(sizeHigh, &exact);
    entry.sizeLow = pieceHex(sizeLow, &exact);
    entry.timeHigh = pieceHex(timeHigh, &exact);
    entry.timeLow = pieceHex(timeLow, &exact);
    if (!append(script->fileList, entry))
        return kNoMemory;
    if (!exact)
        misread(notes, kNotHex);
    return kOk;
}

int parseRegistryEntry(const char* value, UpdateScript* script, std::uint16_t langId,
                       RecordNotes* notes)
{
    if (isBlankText(value))
        return kFailed;
    if (!script)
        return kFailed;

    TextPiece hiveWord = upTo(value, ',');
    std::uint32_t hive = 0;
    if (pieceIs(hiveWord, "HKCU"))
        hive = kHiveCurrentUser;
    else if (pieceIs(hiveWord, "HKLM"))
        hive = kHiveLocalMachine;
    else
        return dropped(notes, "the hive must be \"HKLM\" or \"HKCU\", in capitals");
    if (!hiveWord.delimited)
        return dropped(notes, "no \",\" after the hive");

    RegistryEntry entry{};
    entry.hive = hive;
    entry.dwordValue = kStringMarker;
    entry.valueType = RegValueType::String;

    TextPiece keyPath = upTo(hiveWord.rest(), ',');
    copyText(entry.keyPath, keyPath);
    if (keyPath.delimited) {
        // A value name without "=" writes an empty string under that name.
        TextPiece valueName = upTo(keyPath.rest(), '=');
        copyText(entry.valueName, valueName);
        if (valueName.delimited) {
            const char* data = valueName.rest();
            if (data[0] == '"') {
                TextPiece text = upTo(data + 1, '"');
                copyText(entry.stringData, text);
                if (text.delimited && text.rest()[0] != '\0')
                    remark(notes, "text after the closing double quote is ignored");
            } else if (data[0] == '%') {
                if (std::strcmp(data, kLangIdMacro) != 0)
                    return dropped(notes, "a value starting with \"%\" must be exactly %LANGID%");
                entry.dwordValue = langId;
                entry.valueType = RegValueType::Dword;
            } else {
                TextPiece typeWord = upTo(data, ':');
                if (!typeWord.delimited || !pieceIs(typeWord, "dword"))
                    return dropped(notes, "after \"=\" must come a double quote, %LANGID% or "
                                          "dword:NUMBER");
                if (!isExactHex(typeWord.rest()))
                    misread(notes, kNotHex);
                entry.dwordValue = parseHex(typeWord.rest());
                if (entry.dwordValue == kStringMarker)
                    remark(notes, "dword:80000000 equals the string marker: this engine writes "
                                  "the DWORD, earlier engines wrote an empty string");
                entry.valueType = RegValueType::Dword;
            }
        }
    }

    if (!append(script->registryList, entry))
        return kNoMemory;
    return kOk;
}

void freeUpdateScript(UpdateScript* script)
{
    if (!script)
        return;
    RegistryList().swap(script->registryList);
    FileList().swap(script->fileList);
}

namespace
{

// Reports a record's notes at the line it stands on.
void reportNotes(ReadDiagnostics* diagnostics, std::size_t line, const RecordNotes& notes,
                 int result)
{
    if (!diagnostics)
        return;
    if (notes.dropped)
        diagnostics->report(line, Severity::Error, notes.dropped);
    else if (result == kFailed)
        diagnostics->report(line, Severity::Error, "a record with a blank value is dropped");
    if (notes.misread)
        diagnostics->report(line, Severity::Error, notes.misread);
    if (notes.remark)
        diagnostics->report(line, Severity::Warning, notes.remark);
}

} // namespace

int readUpdateScript(LineReader& reader, const char* productKey, std::uint16_t langId,
                     UpdateScript* script, ReadDiagnostics* diagnostics)
{
    DiagLog("\n>Update Data: File opened.");
    DiagLog("\n>Updating %s", productKey ? productKey : "");
    DiagLog("\n>System Language: %x", static_cast<unsigned>(langId));
    if (isBlankText(productKey) || !script)
        return kFailed;

    SectionReader sections(reader);
    char name[LineReader::kBufSize];
    char text[LineReader::kBufSize + 160];

    // The language header: any header whose name, read as a hexadecimal
    // number, has the language's low 8 bits.
    std::size_t languageLine = 0;
    for (;;) {
        if (!sections.nextHeader())
            return kFailed;
        copyText(name, sections.headerName());
        if ((parseHex(name) & 0xFFu) == (langId & 0xFFu))
            break;
    }
    languageLine = sections.lineNumber();
    if (diagnostics && !isLanguageHeaderName(name)) {
        std::snprintf(text, sizeof text,
                      "header [%s] reads as the language header of language %x: it stands "
                      "before that language's own header",
                      name, static_cast<unsigned>(langId));
        diagnostics->report(languageLine, Severity::Error, text);
    }

    // The product header, exactly; later language headers are passed over.
    std::size_t otherLanguageLine = 0;
    char otherLanguage[LineReader::kBufSize] = "";
    for (;;) {
        if (!sections.nextHeader())
            return kFailed;
        if (pieceIs(sections.headerName(), productKey))
            break;
        copyText(name, sections.headerName());
        if (diagnostics && isLanguageHeaderName(name) &&
            (parseHex(name) & 0xFFu) != (langId & 0xFFu) && otherLanguageLine == 0) {
            otherLanguageLine = sections.lineNumber();
            copyText(otherLanguage, name);
        }
    }
    if (diagnostics && otherLanguageLine != 0) {
        std::snprintf(text, sizeof text,
                      "product section [%s] stands under language header [%s] (line %zu) but "
                      "is read for language %x (header on line %zu)",
                      productKey, otherLanguage, otherLanguageLine, static_cast<unsigned>(langId),
                      languageLine);
        diagnostics->report(sections.lineNumber(), Severity::Error, text);
    }

    // The records, up to an empty line, a header or the end of the file;
    // a line that begins with ";" is a comment, and "=" may be missing.
    for (;;) {
        const LineKind line = sections.next();
        if (line == LineKind::End || line == LineKind::Header)
            return kOk;
        if (line == LineKind::Empty) {
            if (diagnostics)
                reportHiddenLines(sections, *diagnostics, "product section");
            return kOk;
        }
        if (sections.line()[0] == ';')
            continue;
        const TextPiece kind = sections.recordName();
        const char* value = sections.recordValue();
        RecordNotes notes;
        int result = kOk;
        const std::size_t filesBefore = script->fileList.size();
        if (pieceIs(kind, "RegKey") || pieceIs(kind, "RegValue")) {
            result = parseRegistryEntry(value, script, langId, diagnostics ? &notes : nullptr);
        } else if (pieceIs(kind, "File")) {
            result = parseFileEntry(value, script, diagnostics ? &notes : nullptr);
        } else {
            if (diagnostics) {
                copyTextN(name, 64, kind.begin, kind.length);
                std::snprintf(text, sizeof text,
                              "record kind \"%s\" is not File, RegKey or RegValue: the reading "
                              "stops here and the whole update is refused",
                              name);
                diagnostics->report(sections.lineNumber(), Severity::Error, text);
            }
            return kMalformed;
        }
        if (diagnostics) {
            reportNotes(diagnostics, sections.lineNumber(), notes, result);
            if (script->fileList.size() != filesBefore)
                diagnostics->taken(sections.lineNumber());
        }
    }
}

int readUpdateScriptFile(const char* fileName, const char* productKey, std::uint16_t langId,
                         UpdateScript* script)
{
    UniqueStdFile file = openDataFile(fileName);
    if (!file) {
        DiagLog("\n>Error opening file %s.", fileName);
        return kDataFileOpen;
    }
    LineReader reader(file.get());
    return readUpdateScript(reader, productKey, langId, script);
}
