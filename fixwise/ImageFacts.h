// What the headers of a Windows image (a program or a DLL) say about it,
// read as plain bytes, natively and on Windows alike.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct ImageFacts {
    std::uint16_t machine = 0;     // 0x14C: 32-bit x86 (i386); 0x8664: x86-64
    std::uint16_t magic = 0;       // optional header: 0x10B PE32, 0x20B PE32+
    std::uint32_t symbolCount = 0; // COFF symbols left in the image
    bool library = false;          // a DLL
    bool signedImage = false;      // it carries an Authenticode signature (certificate table)
    // The file version of its version resource ("1.4.0.0"); "" when it has none.
    std::string fileVersion;
};

const std::uint16_t kMachineI386 = 0x14C;
const std::uint16_t kMachineX64 = 0x8664;

// The facts of the image at path; none when it cannot be read or is no
// Windows image, with why in problem ("is missing", "is no Windows image (no
// MZ header)", ...).
std::optional<ImageFacts> readImageFacts(const std::string& path, std::string& problem);

// "32-bit x86" or "64-bit x86-64", or the machine number in hexadecimal.
std::string machineName(std::uint16_t machine);

// The binaries of a patch medium, and whether each is a DLL.
struct Deliverable {
    const char* name;
    bool library;
};
inline constexpr Deliverable kDeliverables[] = {
    {"Setup.exe", false},   {"Scoutex.dll", true},   {"Mendex.dll", true},
    {"patchres.dll", true}, {"devprobe.exe", false},
};

// The one version that images carry, given as (name, file version) in
// order; "" when one carries none or another than the first, each such
// image told to problem(name, "carries no version" or "is version V, FIRST
// is W").
std::string
commonVersion(const std::vector<std::pair<std::string, std::string>>& versions,
              const std::function<void(const std::string&, const std::string&)>& problem);
