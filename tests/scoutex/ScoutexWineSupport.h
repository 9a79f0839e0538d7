// Helpers for the search engine's Wine tests: registry keys under a test
// root, program directories with known times, the log file's entries.
#pragma once

#include "FindExport.h"
#include "InstallRecord.h"
#include "LogCapture.h"
#include "WinTestSupport.h"

#include <cstdint>
#include <string>

namespace scoutextest
{

// Registry keys of the tests live below this path, in HKLM and in HKCU.
extern const char kTestRoot[];
// The toolkit's keys: this path, a backslash and the toolkit version.
extern const char kToolkitRoot[];

// An export of a loaded library as a function of type F (null when absent).
// Makes a registry key (and the keys on its way) without any value.
void makeKey(HKEY root, const std::string& path, wintest::CallSite at = FW_HERE);

// Writes a file and gives it the creation and last-write time t.
void putFile(const std::string& path, std::uint64_t t, wintest::CallSite at = FW_HERE);

// A record filled with one byte everywhere, to see what is written.
InstallRecord markedRecord(unsigned char mark = 0xAB);
bool isMarked(const InstallRecord& r, unsigned char mark = 0xAB);
bool isZero(const InstallRecord& r);

} // namespace scoutextest
