#include "RegistryWriter.h"

#include "ResultCodes.h"
#include "UpdateScript.h"
#include "WinHandle.h"

#include <cstring>

HKEY registryRoot(std::uint32_t hive)
{
    return reinterpret_cast<HKEY>(
        static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<std::int32_t>(hive))));
}

const char* hiveName(std::uint32_t hive)
{
    return hive == kHiveCurrentUser ? "HKCU" : hive == kHiveLocalMachine ? "HKLM" : "?";
}

std::string valuePathOf(const RegistryEntry& entry)
{
    return std::string(hiveName(entry.hive)) + "\\" + entry.keyPath + "\\" +
           (entry.valueName[0] ? entry.valueName : "(default)");
}

RegistryData registryDataOf(const RegistryEntry& entry)
{
    RegistryData data;
    if (entry.valueType == RegValueType::String) {
        data.type = REG_SZ;
        data.bytes.assign(entry.stringData, strnlen(entry.stringData, sizeof entry.stringData - 1));
        data.bytes.push_back('\0');
    } else {
        data.type = REG_DWORD;
        for (int shift = 0; shift < 32; shift += 8)
            data.bytes.push_back(static_cast<char>((entry.dwordValue >> shift) & 0xFF));
    }
    return data;
}

int writeRegistryEntry(const RegistryEntry& entry)
{
    if (entry.hive != kHiveCurrentUser && entry.hive != kHiveLocalMachine)
        return kFailed;
    const HKEY root = registryRoot(entry.hive);

    UniqueHkey key;
    if (RegOpenKeyExA(root, entry.keyPath, 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS) {
        if (RegCreateKeyExA(root, entry.keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
            return kFailed;
    }

    const RegistryData data = registryDataOf(entry);
    const LONG status = RegSetValueExA(key.get(), entry.valueName, 0, data.type,
                                       reinterpret_cast<const BYTE*>(data.bytes.data()),
                                       static_cast<DWORD>(data.bytes.size()));
    return status == ERROR_SUCCESS ? kOk : kFailed;
}
