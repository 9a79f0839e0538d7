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

// The file offset of an RVA, by the section that holds it; 0 when none does.
std::size_t offsetOf(const std::string& b, std::size_t sections, unsigned count, std::uint32_t rva)
{
    for (unsigned i = 0; i < count; ++i) {
        const std::size_t at = sections + 40 * static_cast<std::size_t>(i);
        if (at + 40 > b.size())
            return 0;
        const std::uint32_t virtualAddress = little(b, at + 12, 4);
        const std::uint32_t rawSize = little(b, at + 16, 4);
        const std::uint32_t raw = little(b, at + 20, 4);
        if (rva >= virtualAddress && rva - virtualAddress < rawSize)
            return raw + (rva - virtualAddress);
    }
    return 0;
}

// The first entry of a resource directory at dir (offsets from the resource
// section's start root) whose id is id (any id when id is 0): its offset,
// with the subdirectory bit still set; none when there is none.
std::optional<std::uint32_t> resourceEntry(const std::string& b, std::size_t root, std::size_t dir,
                                           std::uint32_t id)
{
    if (root + dir + 16 > b.size())
        return std::nullopt;
    const unsigned named = little(b, root + dir + 12, 2);
    const unsigned ids = little(b, root + dir + 14, 2);
    for (unsigned i = 0; i < named + ids; ++i) {
        const std::size_t entry = root + dir + 16 + 8 * static_cast<std::size_t>(i);
        if (entry + 8 > b.size())
            return std::nullopt;
        const std::uint32_t name = little(b, entry, 4);
        if (id == 0 || (!(name & 0x80000000u) && name == id))
            return little(b, entry + 4, 4);
    }
    return std::nullopt;
}

// The file version of the image's first version resource; "" without one.
std::string versionOf(const std::string& b, std::size_t sections, unsigned count,
                      std::uint32_t resourceRva)
{
    const std::size_t root = offsetOf(b, sections, count, resourceRva);
    if (root == 0)
        return "";
    // Type 16 (version), then its first name, then its first language.
    std::optional<std::uint32_t> next = resourceEntry(b, root, 0, 16);
    for (int level = 0; level < 2 && next && (*next & 0x80000000u); ++level)
        next = resourceEntry(b, root, *next & 0x7FFFFFFFu, 0);
    if (!next || (*next & 0x80000000u) || root + *next + 8 > b.size())
        return "";
    const std::uint32_t dataRva = little(b, root + *next, 4);
    const std::uint32_t dataSize = little(b, root + *next + 4, 4);
    const std::size_t data = offsetOf(b, sections, count, dataRva);
    if (data == 0 || data + dataSize > b.size())
        return "";
    // VS_FIXEDFILEINFO, found by its signature on a 4-byte boundary.
    for (std::size_t at = data; at + 16 <= data + dataSize; at += 4)
        if (little(b, at, 4) == 0xFEEF04BDu) {
            const std::uint32_t ms = little(b, at + 8, 4);
            const std::uint32_t ls = little(b, at + 12, 4);
            char text[48];
            std::snprintf(text, sizeof text, "%u.%u.%u.%u", ms >> 16, ms & 0xFFFF, ls >> 16,
                          ls & 0xFFFF);
            return text;
        }
    return "";
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
    // The data directories: the resources (2) and the certificate table (4).
    const std::size_t optional = coff + 20;
    const std::size_t optionalSize = little(b, coff + 16, 2);
    const std::size_t dirs = optional + (facts.magic == 0x20B ? 112 : 96);
    const std::size_t dirCount = optional + (facts.magic == 0x20B ? 108 : 92);
    const unsigned sectionCount = little(b, coff + 2, 2);
    const std::size_t sections = optional + optionalSize;
    if (dirs + 5 * 8 <= b.size() && dirCount + 4 <= b.size() && little(b, dirCount, 4) > 4) {
        facts.signedImage = little(b, dirs + 4 * 8 + 4, 4) != 0;
        const std::uint32_t resources = little(b, dirs + 2 * 8, 4);
        if (resources != 0)
            facts.fileVersion = versionOf(b, sections, sectionCount, resources);
    }
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

std::string
commonVersion(const std::vector<std::pair<std::string, std::string>>& versions,
              const std::function<void(const std::string&, const std::string&)>& problem)
{
    const std::pair<std::string, std::string>* first = nullptr;
    bool agree = true;
    for (const auto& image : versions) {
        if (image.second.empty()) {
            problem(image.first, "carries no version");
            agree = false;
        } else if (!first) {
            first = &image;
        } else if (image.second != first->second) {
            problem(image.first,
                    "is version " + image.second + ", " + first->first + " is " + first->second);
            agree = false;
        }
    }
    return agree && first ? first->second : "";
}
