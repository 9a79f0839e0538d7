#include "RegistryWriter.h"

#include "ResultCodes.h"
#include "UpdateScript.h"
#include "WinHandle.h"

#include <cstring>

namespace
{

// The predefined root key of a hive number. The numbers are those of the
// predefined handles, which are sign-extended on 64-bit builds.
HKEY rootKey(std::uint32_t hive)
{
    return reinterpret_cast<HKEY>(
        static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<std::int32_t>(hive))));
}

} // namespace

int writeRegistryEntry(const RegistryEntry& entry)
{
    if (entry.hive != kHiveCurrentUser && entry.hive != kHiveLocalMachine)
        return kFailed;
    const HKEY root = rootKey(entry.hive);

    UniqueHkey key;
    if (RegOpenKeyExA(root, entry.keyPath, 0, KEY_ALL_ACCESS, key.put()) != ERROR_SUCCESS) {
        if (RegCreateKeyExA(root, entry.keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, key.put(), nullptr) != ERROR_SUCCESS)
            return kFailed;
    }

    LONG status;
    if (entry.valueType == RegValueType::String) {
        const DWORD size =
            static_cast<DWORD>(strnlen(entry.stringData, sizeof entry.stringData - 1) + 1);
        char data[sizeof entry.stringData];
        std::memcpy(data, entry.stringData, size - 1);
        data[size - 1] = '\0';
        status = RegSetValueExA(key.get(), entry.valueName, 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(data), size);
    } else {
        const std::uint32_t v = entry.dwordValue;
        const BYTE bytes[4] = {static_cast<BYTE>(v), static_cast<BYTE>(v >> 8),
                               static_cast<BYTE>(v >> 16), static_cast<BYTE>(v >> 24)};
        status = RegSetValueExA(key.get(), entry.valueName, 0, REG_DWORD, bytes, sizeof bytes);
    }
    return status == ERROR_SUCCESS ? kOk : kFailed;
}
