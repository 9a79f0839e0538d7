// The registry writer of the update run: one value per registry entry.
#pragma once

struct RegistryEntry;

// Opens the entry's key below its hive with all access rights, or creates it
// (with every missing key on the way), and sets the value: a string value
// with its terminating zero, or a DWORD of four bytes, least significant
// first. An existing value of the name is overwritten whatever its type. The
// key is closed on every path. kOk when the value was set, kFailed otherwise.
int writeRegistryEntry(const RegistryEntry& entry);
