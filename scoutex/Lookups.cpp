// The three lookups of one release: install test, toolkit, program directory.
#include "Lookups.h"

#include "LibData.h"
#include "Scoutex.h"

#include "ResultCodes.h"
#include "Text.h"
#include "WinHandle.h"

#include <cstring>

namespace
{

const char kToolkitRoot[] = "Software\\Orvantis";
const char kToolkitKey[] = "\\Pixora\\VEX";

// Reads a registry text into a record field (512 bytes, at most 511 read).
// A value that cannot be read, or does not fit, leaves the field as it was.
void readToolkitText(HKEY key, const char* name, char (&field)[512])
{
    char text[512];
    std::memset(text, 0, sizeof text);
    DWORD size = sizeof text - 1;
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size) ==
        ERROR_SUCCESS)
        std::memcpy(field, text, sizeof field);
}

// Reads a 4-byte registry number into a record field; as above.
void readToolkitNumber(HKEY key, const char* name, std::uint32_t& field)
{
    DWORD number = 0;
    DWORD size = sizeof number;
    if (RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&number), &size) ==
        ERROR_SUCCESS)
        field = number;
}

// A text entry of the release's section into a zeroed buffer of N bytes.
template <std::size_t N>
int readTextEntry(const char* productKey, const char* entryName, LookupKind kind, char (&text)[N])
{
    std::memset(text, 0, N);
    return GetLibDataValue(productKey, entryName, kind, ValueForm::String, text,
                           static_cast<int>(N));
}

} // namespace

extern "C" int FindOVPixoraAppInstalled(const char* productKey, InstallRecord* record)
{
    // A key that has no backslash, or whose parts do not fit the record,
    // cannot describe a release.
    if (!productKey || !productKeyFits(productKey))
        return kFailed;
    if (GetLibDataValue(productKey, "InstallKey", LookupKind::Test, ValueForm{}, nullptr, 0) != kOk)
        return kFailed;
    if (!record)
        return kOk;
    splitProductKey(productKey, record->productName, record->productVersion);
    FindOVVEXInstalled(productKey, record);
    return kOk;
}

extern "C" int FindOVVEXInstalled(const char* productKey, InstallRecord* record)
{
    if (!productKey)
        return kFailed;
    char version[128];
    if (readTextEntry(productKey, "VEXVersion", LookupKind::Literal, version) != kOk)
        return kFailed;
    if (record)
        copyText(record->toolkitVersion, version);

    char path[256];
    copyText(path, kToolkitRoot);
    appendText(path, kToolkitKey);
    appendText(path, "\\");
    appendText(path, version);
    UniqueHkey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return kOk;
    if (record) {
        readToolkitText(key.get(), "VEXDir", record->toolkitDir);
        readToolkitText(key.get(), "PlugInDir", record->pluginDir);
        readToolkitText(key.get(), "OCR Path", record->ocrPath);
        readToolkitNumber(key.get(), "OCR Language", record->ocrLanguage);
        readToolkitNumber(key.get(), "Toolkit Version", record->toolkitBuild);
        readToolkitNumber(key.get(), "Usage Count", record->usageCount);
    }
    return kOk;
}

extern "C" int FindOVPxoraSWPath(const char* productKey, char* /*path*/, unsigned /*pathSize*/,
                                 InstallRecord* record)
{
    if (!productKey)
        return kFailed;
    char value[512];
    if (readTextEntry(productKey, "ProgramDir", LookupKind::Read, value) != kOk)
        return kFailed;
    if (!record)
        return CheckProgramDir(value, nullptr, 0, nullptr);
    return CheckProgramDir(value, record->programDir, 511, record);
}

int CheckProgramDir(const char* value, char* out, unsigned outSize, InstallRecord* record)
{
    char dir[kLibTextSize];
    if (trimProgramDir(value, dir) != kOk)
        return kMalformed;
    if (out)
        copyText(out, outSize, dir);

    // A directory whose pattern does not fit cannot be listed.
    char pattern[kLibTextSize];
    if (!buildListPattern(dir, pattern))
        return kNotOnDisk;

    WIN32_FIND_DATAA entry;
    UniqueFind listing(FindFirstFileA(pattern, &entry));
    if (!listing)
        return kNotOnDisk;
    // The directory's own entry and its parent's come first: the third entry
    // is the first thing installed in it.
    for (int i = 0; i < 2; ++i) {
        if (!FindNextFileA(listing.get(), &entry))
            return GetLastError() == ERROR_NO_MORE_FILES ? kNotOnDisk : kOk;
    }
    if (record) {
        record->installTimeLow = entry.ftCreationTime.dwLowDateTime;
        record->installTimeHigh = entry.ftCreationTime.dwHighDateTime;
    }
    return kOk;
}
