// The installation record: one installed release of the scanner suite.
//
// This block crosses all three deliverables by pointer, so its layout is a
// binary interface: 2580 bytes, no padding, fixed offsets. Setup owns the
// memory and zeroes it, Scoutex fills it, Mendex reads it and writes back
// toolkitDir, ocrPath and pluginDir.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

struct InstallRecord {
    char productName[256];         // product key up to its first backslash
    char programDir[512];          // program directory (at most 510 characters)
    char productVersion[128];      // product key after its first backslash
    char toolkitDir[512];          // registry "VEXDir"
    char pluginDir[512];           // registry "PlugInDir"
    char toolkitVersion[128];      // catalogue "VEXVersion"
    char ocrPath[512];             // registry "OCR Path"
    std::uint32_t ocrLanguage;     // registry "OCR Language"
    std::uint32_t toolkitBuild;    // registry "Toolkit Version"
    std::uint32_t usageCount;      // registry "Usage Count"
    std::uint32_t installTimeLow;  // creation time of the program directory's
    std::uint32_t installTimeHigh; // third listing entry, low half first
};

static_assert(offsetof(InstallRecord, productName) == 0, "record layout");
static_assert(offsetof(InstallRecord, programDir) == 256, "record layout");
static_assert(offsetof(InstallRecord, productVersion) == 768, "record layout");
static_assert(offsetof(InstallRecord, toolkitDir) == 896, "record layout");
static_assert(offsetof(InstallRecord, pluginDir) == 1408, "record layout");
static_assert(offsetof(InstallRecord, toolkitVersion) == 1920, "record layout");
static_assert(offsetof(InstallRecord, ocrPath) == 2048, "record layout");
static_assert(offsetof(InstallRecord, ocrLanguage) == 2560, "record layout");
static_assert(offsetof(InstallRecord, toolkitBuild) == 2564, "record layout");
static_assert(offsetof(InstallRecord, usageCount) == 2568, "record layout");
static_assert(offsetof(InstallRecord, installTimeLow) == 2572, "record layout");
static_assert(offsetof(InstallRecord, installTimeHigh) == 2576, "record layout");
static_assert(sizeof(InstallRecord) == 2580, "record layout");
static_assert(alignof(InstallRecord) == 4, "record layout");

// The installation time as one 64-bit file time (100 ns units since 1601).
inline std::uint64_t installTime(const InstallRecord& r)
{
    return (static_cast<std::uint64_t>(r.installTimeHigh) << 32) | r.installTimeLow;
}

// A copy of a caller's record with every text field terminated inside its
// width: what a library works on, whatever the caller's buffers hold.
inline InstallRecord terminatedCopy(const InstallRecord& record)
{
    InstallRecord copy;
    std::memcpy(&copy, &record, sizeof copy);
    copy.productName[sizeof copy.productName - 1] = '\0';
    copy.programDir[sizeof copy.programDir - 1] = '\0';
    copy.productVersion[sizeof copy.productVersion - 1] = '\0';
    copy.toolkitDir[sizeof copy.toolkitDir - 1] = '\0';
    copy.pluginDir[sizeof copy.pluginDir - 1] = '\0';
    copy.toolkitVersion[sizeof copy.toolkitVersion - 1] = '\0';
    copy.ocrPath[sizeof copy.ocrPath - 1] = '\0';
    return copy;
}
