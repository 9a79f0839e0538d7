#include "UpdateScript.h"

#include "DiagLog.h"
#include "LineReader.h"
#include "ReadDiagnostics.h"
#include "ResultCodes.h"
#include "Text.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace
{

// The piece of text from p up to the first delim (or the end of the text).
struct Piece {
    const char* begin;
    std::size_t length;
    bool delimited; // the delimiter is there; rest() is the text after it
    const char* rest() const { return begin + length + (delimited ? 1 : 0); }
};

Piece upTo(const char* p, char delim)
{
    const char* d = std::strchr(p, delim);
    if (d)
        return {p, static_cast<std::size_t>(d - p), true};
    return {p, std::strlen(p), false};
}

bool pieceIs(const Piece& piece, const char* word)
{
    return std::strlen(word) == piece.length && std::strncmp(piece.begin, word, piece.length) == 0;
}

std::uint32_t pieceHex(const Piece& piece, bool* exact = nullptr)
{
    char buf[LineReader::kBufSize];
    copyTextN(buf, sizeof buf, piece.begin, piece.length);
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

// Puts entry at the end of the list that head and tail hold.
template <typename Entry> void appendEntry(Entry*& head, Entry*& tail, Entry* entry)
{
    entry->next = nullptr;
    if (tail)
        tail->next = entry;
    else
        head = entry;
    tail = entry;
}

void appendRegistryEntry(UpdateScript* script, RegistryEntry* entry)
{
    appendEntry(script->registryList, script->registryTail, entry);
}

void appendFileEntry(UpdateScript* script, FileEntry* entry)
{
    appendEntry(script->fileList, script->fileTail, entry);
}

// Reads on to the next header line (line, LineReader::kBufSize bytes) and
// puts its name into name; false at the end of the file.
bool readToHeader(LineReader& reader, char* line, char* name, std::size_t cap)
{
    while (!reader.atEnd()) {
        reader.readLine(line);
        if (line[0] == '[') {
            scriptHeaderName(line, name, cap);
            return true;
        }
    }
    return false;
}

} // namespace

void scriptHeaderName(const char* line, char* name, std::size_t cap)
{
    Piece p = upTo(line + 1, ']');
    copyTextN(name, cap, p.begin, p.length);
}

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
    Piece pieces[7];
    const char* rest = value;
    for (std::size_t i = 0; i < 6; ++i) {
        pieces[i] = upTo(rest, kPieces[i].end);
        if (!pieces[i].delimited || (kPieces[i].word && !pieceIs(pieces[i], kPieces[i].word)))
            return dropped(notes, kPieces[i].dropReason);
        rest = pieces[i].rest();
    }
    pieces[6] = upTo(rest, '\0');
    const Piece& path = pieces[0];
    const Piece& sizeHigh = pieces[2];
    const Piece& sizeLow = pieces[3];
    const Piece& timeHigh = pieces[5];
    const Piece& timeLow = pieces[6];

    FileEntry* entry = new (std::nothrow) FileEntry();
    if (!entry)
        return kNoMemory;
    copyTextN(entry->path, sizeof entry->path, path.begin, path.length);
    bool exact = true;
    entry->sizeHigh = pieceHex(sizeHigh, &exact);
    entry->sizeLow = pieceHex(sizeLow, &exact);
    entry->timeHigh = pieceHex(timeHigh, &exact);
    entry->timeLow = pieceHex(timeLow, &exact);
    if (!exact)
        misread(notes, kNotHex);
    appendFileEntry(script, entry);
    return kOk;
}

int parseRegistryEntry(const char* value, UpdateScript* script, std::uint16_t langId,
                       RecordNotes* notes)
{
    if (isBlankText(value))
        return kFailed;
    if (!script)
        return kFailed;

    Piece hiveWord = upTo(value, ',');
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

    Piece keyPath = upTo(hiveWord.rest(), ',');
    copyTextN(entry.keyPath, sizeof entry.keyPath, keyPath.begin, keyPath.length);
    if (keyPath.delimited) {
        // A value name without "=" writes an empty string under that name.
        Piece valueName = upTo(keyPath.rest(), '=');
        copyTextN(entry.valueName, sizeof entry.valueName, valueName.begin, valueName.length);
        if (valueName.delimited) {
            const char* data = valueName.rest();
            if (data[0] == '"') {
                Piece text = upTo(data + 1, '"');
                copyTextN(entry.stringData, sizeof entry.stringData, text.begin, text.length);
                if (text.delimited && text.rest()[0] != '\0')
                    remark(notes, "text after the closing double quote is ignored");
            } else if (data[0] == '%') {
                if (std::strcmp(data, kLangIdMacro) != 0)
                    return dropped(notes, "a value starting with \"%\" must be exactly %LANGID%");
                entry.dwordValue = langId;
                entry.valueType = RegValueType::Dword;
            } else {
                Piece typeWord = upTo(data, ':');
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

    RegistryEntry* added = new (std::nothrow) RegistryEntry(entry);
    if (!added)
        return kNoMemory;
    appendRegistryEntry(script, added);
    return kOk;
}

void freeUpdateScript(UpdateScript* script)
{
    if (!script)
        return;
    for (RegistryEntry* e = script->registryList; e;) {
        RegistryEntry* next = e->next;
        delete e;
        e = next;
    }
    for (FileEntry* e = script->fileList; e;) {
        FileEntry* next = e->next;
        delete e;
        e = next;
    }
    *script = UpdateScript{};
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

    char line[LineReader::kBufSize];
    char name[LineReader::kBufSize];
    char text[LineReader::kBufSize + 160];

    // The language header: any header whose name, read as a hexadecimal
    // number, has the language's low 8 bits.
    std::size_t languageLine = 0;
    for (;;) {
        if (!readToHeader(reader, line, name, sizeof name))
            return kFailed;
        if ((parseHex(name) & 0xFFu) == (langId & 0xFFu))
            break;
    }
    languageLine = reader.lineNumber();
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
        if (!readToHeader(reader, line, name, sizeof name))
            return kFailed;
        if (std::strcmp(name, productKey) == 0)
            break;
        if (diagnostics && isLanguageHeaderName(name) &&
            (parseHex(name) & 0xFFu) != (langId & 0xFFu) && otherLanguageLine == 0) {
            otherLanguageLine = reader.lineNumber();
            copyText(otherLanguage, sizeof otherLanguage, name);
        }
    }
    if (diagnostics && otherLanguageLine != 0) {
        std::snprintf(text, sizeof text,
                      "product section [%s] stands under language header [%s] (line %zu) but "
                      "is read for language %x (header on line %zu)",
                      productKey, otherLanguage, otherLanguageLine, static_cast<unsigned>(langId),
                      languageLine);
        diagnostics->report(reader.lineNumber(), Severity::Error, text);
    }

    // The records, up to an empty line, a header or the end of the file.
    for (;;) {
        if (reader.atEnd())
            return kOk;
        reader.readLine(line);
        if (line[0] == '[')
            return kOk;
        if (line[0] == '\0') {
            if (diagnostics)
                reportHiddenLines(reader, *diagnostics, line, "product section");
            return kOk;
        }
        if (line[0] == ';')
            continue;
        Piece kind = upTo(line, '=');
        const char* value = kind.rest();
        RecordNotes notes;
        int result = kOk;
        const FileEntry* lastFile = script->fileTail;
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
                diagnostics->report(reader.lineNumber(), Severity::Error, text);
            }
            return kMalformed;
        }
        if (diagnostics) {
            reportNotes(diagnostics, reader.lineNumber(), notes, result);
            if (script->fileTail != lastFile)
                diagnostics->taken(reader.lineNumber());
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
