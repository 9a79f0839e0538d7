#include "UpdateScript.h"

#include "DiagLog.h"
#include "LineReader.h"
#include "ResultCodes.h"
#include "Text.h"

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

std::uint32_t pieceHex(const Piece& piece)
{
    char buf[LineReader::kBufSize];
    copyTextN(buf, sizeof buf, piece.begin, piece.length);
    return parseHex(buf);
}

void appendRegistryEntry(UpdateScript* script, RegistryEntry* entry)
{
    entry->next = nullptr;
    if (script->registryTail)
        script->registryTail->next = entry;
    else
        script->registryList = entry;
    script->registryTail = entry;
}

void appendFileEntry(UpdateScript* script, FileEntry* entry)
{
    entry->next = nullptr;
    if (script->fileTail)
        script->fileTail->next = entry;
    else
        script->fileList = entry;
    script->fileTail = entry;
}

// The name of a header line: after the "[" up to the first "]" or the end.
void headerName(const char* line, char* name, std::size_t cap)
{
    Piece p = upTo(line + 1, ']');
    copyTextN(name, cap, p.begin, p.length);
}

} // namespace

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

int parseFileEntry(const char* value, UpdateScript* script)
{
    if (isBlankText(value))
        return kFailed;
    if (!script)
        return kFailed;

    // path "," "size" ":" high "-" low "," "time" ":" high "-" low
    Piece path = upTo(value, ',');
    if (!path.delimited)
        return kMalformed;
    Piece sizeWord = upTo(path.rest(), ':');
    if (!sizeWord.delimited || !pieceIs(sizeWord, "size"))
        return kMalformed;
    Piece sizeHigh = upTo(sizeWord.rest(), '-');
    if (!sizeHigh.delimited)
        return kMalformed;
    Piece sizeLow = upTo(sizeHigh.rest(), ',');
    if (!sizeLow.delimited)
        return kMalformed;
    Piece timeWord = upTo(sizeLow.rest(), ':');
    if (!timeWord.delimited || !pieceIs(timeWord, "time"))
        return kMalformed;
    Piece timeHigh = upTo(timeWord.rest(), '-');
    if (!timeHigh.delimited)
        return kMalformed;
    Piece timeLow = upTo(timeHigh.rest(), '\0');

    FileEntry* entry = new (std::nothrow) FileEntry();
    if (!entry)
        return kNoMemory;
    copyTextN(entry->path, sizeof entry->path, path.begin, path.length);
    entry->sizeHigh = pieceHex(sizeHigh);
    entry->sizeLow = pieceHex(sizeLow);
    entry->timeHigh = pieceHex(timeHigh);
    entry->timeLow = pieceHex(timeLow);
    appendFileEntry(script, entry);
    return kOk;
}

int parseRegistryEntry(const char* value, UpdateScript* script, std::uint16_t langId)
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
        return kMalformed;
    if (!hiveWord.delimited)
        return kMalformed;

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
            } else if (data[0] == '%') {
                if (std::strcmp(data, "%LANGID%") != 0)
                    return kMalformed;
                entry.dwordValue = langId;
                entry.valueType = RegValueType::Dword;
            } else {
                Piece typeWord = upTo(data, ':');
                if (!typeWord.delimited || !pieceIs(typeWord, "dword"))
                    return kMalformed;
                entry.dwordValue = parseHex(typeWord.rest());
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

int readUpdateScript(LineReader& reader, const char* productKey, std::uint16_t langId,
                     UpdateScript* script)
{
    DiagLog("\n>Update Data: File opened.");
    DiagLog("\n>Updating %s", productKey ? productKey : "");
    DiagLog("\n>System Language: %x", static_cast<unsigned>(langId));
    if (isBlankText(productKey) || !script)
        return kFailed;

    char line[LineReader::kBufSize];
    char name[LineReader::kBufSize];

    // The language header: any header whose name, read as a hexadecimal
    // number, has the language's low 8 bits.
    for (;;) {
        if (reader.atEnd())
            return kFailed;
        reader.readLine(line);
        if (line[0] != '[')
            continue;
        headerName(line, name, sizeof name);
        if ((parseHex(name) & 0xFFu) == (langId & 0xFFu))
            break;
    }

    // The product header, exactly; later language headers are passed over.
    for (;;) {
        if (reader.atEnd())
            return kFailed;
        reader.readLine(line);
        if (line[0] != '[')
            continue;
        headerName(line, name, sizeof name);
        if (std::strcmp(name, productKey) == 0)
            break;
    }

    // The records, up to an empty line, a header or the end of the file.
    for (;;) {
        if (reader.atEnd())
            return kOk;
        reader.readLine(line);
        if (line[0] == '[' || line[0] == '\0')
            return kOk;
        if (line[0] == ';')
            continue;
        Piece kind = upTo(line, '=');
        const char* value = kind.rest();
        if (pieceIs(kind, "RegKey") || pieceIs(kind, "RegValue"))
            parseRegistryEntry(value, script, langId);
        else if (pieceIs(kind, "File"))
            parseFileEntry(value, script);
        else
            return kMalformed;
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
