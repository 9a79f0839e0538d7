// GetLibDataValue: one entry of libdata.src, resolved against the registry.
#include "LibData.h"

#include "DiagLog.h"
#include "ResultCodes.h"
#include "Text.h"
#include "WinHandle.h"

#include <cstring>

namespace
{

const char kLibDataFile[] = "libdata.src";

// Resolves a registry reference: a test of the key (and value) or a read.
int resolveRegistry(const char* entryName, const char* value, LookupKind kind, ValueForm form,
                    void* out, int outSize)
{
    RegistryRef ref;
    if (parseRegistryRef(value, ref) != kOk)
        return kMalformed;
    if (kind == LookupKind::Test && ref.expected == Expected::Empty)
        return kMalformed;

    // A test without expected content checks that the value can be read,
    // whatever its size up to the text limit: it is read as text.
    const bool readText =
        kind == LookupKind::Test ? ref.expected != Expected::Number : form != ValueForm::Number;

    DiagLog("\n>%s Path: %s", entryName, ref.keyPath);
    DiagLog("\n>%s Key: %s", entryName, ref.valueName);

    UniqueHkey key;
    HKEY hive = ref.hive == Hive::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
    if (RegOpenKeyExA(hive, ref.keyPath, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return kFailed;
    if (!ref.hasValueName)
        return kOk;

    char text[kLibTextSize];
    std::memset(text, 0, sizeof text);
    DWORD number = 0;
    DWORD size = readText ? sizeof text - 1 : sizeof number;
    BYTE* data = readText ? reinterpret_cast<BYTE*>(text) : reinterpret_cast<BYTE*>(&number);
    if (RegQueryValueExA(key.get(), ref.valueName, nullptr, nullptr, data, &size) != ERROR_SUCCESS)
        return kRegistryRead;

    if (readText)
        DiagLog("\n>%s Key Value: %s", entryName, text);
    else
        DiagLog("\n>%s Key value: %ld", entryName, static_cast<long>(static_cast<LONG>(number)));
    DiagLog("\n>---Operation successful.");

    if (kind == LookupKind::Read) {
        if (readText && out && outSize > 0)
            copyText(static_cast<char*>(out), static_cast<std::size_t>(outSize), text);
        else if (!readText && out && outSize >= static_cast<int>(sizeof number))
            std::memcpy(out, &number, sizeof number);
        return kOk;
    }
    switch (ref.expected) {
    case Expected::Text:
        return equalsNoCase(text, ref.expectedText) ? kOk : kFailed;
    case Expected::Number:
        return number == static_cast<DWORD>(ref.expectedNumber) ? kOk : kFailed;
    default:
        return kOk;
    }
}

} // namespace

int GetLibDataValue(const char* productKey, const char* entryName, LookupKind kind, ValueForm form,
                    void* out, int outSize)
{
    UniqueStdFile file = openDataFile(kLibDataFile);
    if (!file) {
        DiagLog("\n>Error opening file %s.", kLibDataFile);
        return kDataFileOpen;
    }
    LineReader reader(file.get());
    reader.rewind();

    SectionReader sections(reader);
    const char* value = nullptr;
    const int found = scanForEntry(sections, productKey, entryName, value);
    if (found != kOk)
        return found;

    if (kind == LookupKind::Literal)
        return resolveLiteral(entryName, value, form, out, outSize);
    return resolveRegistry(entryName, value, kind, form, out, outSize);
}
