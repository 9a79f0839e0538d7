// The registry writer of the update run: one value per registry entry.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

struct RegistryEntry;

// The predefined root key of a hive number (kHiveCurrentUser,
// kHiveLocalMachine); the numbers are sign-extended on 64-bit builds.
HKEY registryRoot(std::uint32_t hive);

// The short name of a hive number ("HKCU", "HKLM"; "?" for any other).
const char* hiveName(std::uint32_t hive);

// The value that entry names, for people: "HKLM\key\name", "(default)" for
// the unnamed value.
std::string valuePathOf(const RegistryEntry& entry);

// The type and bytes that writeRegistryEntry sets for entry (allocates:
// throws std::bad_alloc when memory runs out).
struct RegistryData {
    DWORD type = 0;
    std::string bytes;
};
RegistryData registryDataOf(const RegistryEntry& entry);

// Opens the entry's key below its hive with all access rights, or creates it
// (with every missing key on the way), and sets the value: a string value
// with its terminating zero, or a DWORD of four bytes, least significant
// first. An existing value of the name is overwritten whatever its type. The
// key is closed on every path. kOk when the value was set, kFailed otherwise;
// throws std::bad_alloc when memory runs out.
int writeRegistryEntry(const RegistryEntry& entry);
