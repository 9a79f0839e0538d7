// The headers of a Windows image: the DOS stub's pointer, the PE signature,
// the COFF header (machine, number of symbols, characteristics) and the
// optional header's magic.
#include "ImageFacts.h"

#include "FileFacts.h"

#include <cstdio>

namespace
{

std::uint32_t little(const std::string& bytes, std::size_t at, int width)
{
    std::uint32_t value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
    return value;
}

} // namespace

std::optional<ImageFacts> readImageFacts(const std::string& path, std::string& problem)
{
    std::optional<std::string> bytes = readWholeFile(path);
    if (!bytes) {
        problem = "is missing";
        return std::nullopt;
    }
    const std::string& b = *bytes;
    if (b.size() < 0x40 || b.compare(0, 2, "MZ") != 0) {
        problem = "is no Windows image (no MZ header)";
        return std::nullopt;
    }
    const std::size_t pe = little(b, 0x3C, 4);
    const std::size_t coff = pe + 4;
    if (pe > b.size() || b.size() - pe < 4 + 20 + 2 ||
        b.compare(pe, 4, std::string("PE\0\0", 4)) != 0) {
        problem = "is no Windows image (no PE signature)";
        return std::nullopt;
    }
    ImageFacts facts;
    facts.machine = static_cast<std::uint16_t>(little(b, coff, 2));
    facts.symbolCount = little(b, coff + 12, 4);
    facts.library = (little(b, coff + 18, 2) & 0x2000) != 0;
    facts.magic = static_cast<std::uint16_t>(little(b, coff + 20, 2));
    return facts;
}

std::string machineName(std::uint16_t machine)
{
    if (machine == kMachineI386)
        return "32-bit x86";
    if (machine == kMachineX64)
        return "64-bit x86-64";
    char hex[16];
    std::snprintf(hex, sizeof hex, "machine 0x%X", machine);
    return hex;
}
