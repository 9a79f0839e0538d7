// Fuzz target: the update script reader over arbitrary text. The first byte
// chooses the language; the product key is fixed, as in the seed scripts.
#include "LineReader.h"
#include "UpdateScript.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    std::uint16_t lang = static_cast<std::uint16_t>(0x400 | data[0]);
    std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    LineReader reader(text);
    UpdateScript script;
    readUpdateScript(reader, "Scan Suite\\2.0", lang, &script);
    for (const FileEntry& e : script.fileList)
        if (strnlen(e.path, sizeof e.path) >= sizeof e.path)
            __builtin_trap();
    for (const RegistryEntry& e : script.registryList) {
        if (strnlen(e.keyPath, sizeof e.keyPath) >= sizeof e.keyPath ||
            strnlen(e.valueName, sizeof e.valueName) >= sizeof e.valueName ||
            strnlen(e.stringData, sizeof e.stringData) >= sizeof e.stringData)
            __builtin_trap();
        if (e.valueType == RegValueType::String && e.dwordValue != kStringMarker)
            __builtin_trap();
    }
    freeUpdateScript(&script);
    return 0;
}
