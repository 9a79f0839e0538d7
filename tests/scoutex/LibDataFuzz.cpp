// Fuzz target for the catalogue grammar: the input is a whole libdata.src.
// Every section's entries are found and taken apart as the lookups do.
#include "LibDataGrammar.h"

#include "ResultCodes.h"
#include "Text.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace
{

void takeApart(const char* value)
{
    char text[128];
    std::int32_t number = 0;
    resolveLiteral("VEXVersion", value, ValueForm::String, text, sizeof text);
    resolveLiteral("Count", value, ValueForm::Number, &number, sizeof number);
    readDecimal(value);
    RegistryRef ref;
    if (parseRegistryRef(value, ref) == kOk)
        equalsNoCase(ref.valueName, ref.expectedText);
    char dir[kLibTextSize];
    char pattern[kLibTextSize];
    if (trimProgramDir(value, dir) == kOk && buildListPattern(dir, pattern))
        if (std::strlen(pattern) >= kLibTextSize)
            __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    LineReader sections(text);
    char key[kLibTextSize];
    static const char* const kEntries[] = {"InstallKey", "ProgramDir", "VEXVersion"};
    for (int n = 0; n < 32 && nextSectionKey(sections, key); ++n) {
        char name[256];
        char version[128];
        splitProductKey(key, name, version);
        for (const char* entry : kEntries) {
            LineReader reader(text);
            SectionReader lines(reader);
            const char* value = nullptr;
            if (scanForEntry(lines, key, entry, value) == kOk)
                takeApart(value);
        }
    }
    return 0;
}
