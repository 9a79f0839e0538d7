#include "ResolveList.h"

#include "DiagLog.h"
#include "LineReader.h"
#include "ResultCodes.h"
#include "Text.h"
#include "UpdateScript.h"

#include <cstring>

namespace
{

char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// text[0..len) equals word, letter case ignored.
bool equalNoCaseN(const char* text, std::size_t len, const char* word)
{
    std::size_t i = 0;
    for (; i < len; ++i)
        if (word[i] == '\0' || lowerAscii(text[i]) != lowerAscii(word[i]))
            return false;
    return word[i] == '\0';
}

} // namespace

int lookupResolveSource(LineReader& reader, const char* productKey, const char* fileName, char* out,
                        std::size_t capacity)
{
    if (out && capacity > 0)
        out[0] = '\0';
    if (isBlank(productKey))
        return kFailed;
    if (!fileName)
        fileName = "";

    char line[LineReader::kBufSize];
    const std::size_t keyLen = std::strlen(productKey);

    // The product's section: the header's name runs to the first "]".
    for (;;) {
        if (reader.atEnd())
            return kFailed;
        reader.readLine(line);
        if (line[0] != '[')
            continue;
        const char* close = std::strchr(line + 1, ']');
        std::size_t nameLen =
            close ? static_cast<std::size_t>(close - (line + 1)) : std::strlen(line + 1);
        if (nameLen == keyLen && std::strncmp(line + 1, productKey, keyLen) == 0)
            break;
    }

    for (;;) {
        if (reader.atEnd())
            return kFailed;
        reader.readLine(line);
        if (line[0] == '[' || line[0] == '\0')
            return kFailed;
        if (line[0] == ';')
            continue;
        const char* eq = std::strchr(line, '=');
        std::size_t nameLen = eq ? static_cast<std::size_t>(eq - line) : std::strlen(line);
        if (equalNoCaseN(line, nameLen, fileName)) {
            if (out && capacity > 0)
                copyText(out, capacity, eq ? eq + 1 : "");
            return kOk;
        }
    }
}

int lookupResolveSource(const char* productKey, const char* fileName, char* out,
                        std::size_t capacity)
{
    if (out && capacity > 0)
        out[0] = '\0';
    if (isBlank(productKey))
        return kFailed;
    UniqueStdFile file = openDataFile(kResolveListName);
    if (!file) {
        DiagLog("\n>Error opening file %s.", kResolveListName);
        return kDataFileOpen;
    }
    DiagLog("\n>Resolve Data: File opened.");
    LineReader reader(file.get());
    return lookupResolveSource(reader, productKey, fileName, out, capacity);
}

bool samePathText(const char* a, const char* b)
{
    if (!a || !b)
        return false;
    // A leading run of backslashes counts as two when it is two or more
    // (a UNC path), as one when it is one; every later run counts as one.
    auto leading = [](const char*& p) {
        int n = 0;
        while (*p == '\\') {
            ++p;
            ++n;
        }
        return n > 2 ? 2 : n;
    };
    if (leading(a) != leading(b))
        return false;
    for (;;) {
        if (*a == '\\' && *b == '\\') {
            while (*a == '\\')
                ++a;
            while (*b == '\\')
                ++b;
            continue;
        }
        if (lowerAscii(*a) != lowerAscii(*b))
            return false;
        if (*a == '\0')
            return true;
        ++a;
        ++b;
    }
}

bool isListedFile(const FileEntry* fileList, const char* fullPath)
{
    for (const FileEntry* e = fileList; e; e = e->next)
        if (samePathText(e->path, fullPath))
            return true;
    return false;
}
