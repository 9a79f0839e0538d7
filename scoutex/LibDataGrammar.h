// The grammar of the catalogue libdata.src, free of any platform call.
//
// The catalogue holds one section per product release, headed by a line
// "[" product key "]". Each entry of a section is a line name "=" value; the
// value is either a literal (a quoted text or a decimal number) or a
// registry reference: hive "," key path ["," value name ["=" expected]].
#pragma once

#include "SectionReader.h"

#include <cstddef>
#include <cstdint>

class ReadDiagnostics;

// The way an entry is resolved.
enum class LookupKind : int {
    Test = 8,     // registry reference: the key opens (and the value matches)
    Read = 15,    // registry reference: the value read
    Literal = 16, // the value written in the file
};

// The form of the value delivered.
enum class ValueForm : int {
    String = 0x1100000, // text, terminated, at most the output size less one
    Number = 0x1000000, // 32-bit integer in the first 4 bytes of the output
};

constexpr std::size_t kLibTextSize = 512;

// Decimal reading: white space skipped, an optional sign, digits up to the
// first other character; no digits give 0. A number outside the signed
// 32-bit range is held at its nearest end.
std::int32_t readDecimal(const char* text);

// Reads lines until the next section header and delivers its product key
// (after the "[" up to the first "]" or the end of the line).
// Returns false at the end of the file.
bool nextSectionKey(LineReader& reader, char (&key)[kLibTextSize]);

// Finds the entry entryName in the section(s) headed productKey. On success
// value points into the line sections holds, at the text after the entry's
// "=". Results:
//   kOk found; kFailed no (further) section with that key before the end;
//   kMalformed a line without "=" inside the section before the entry.
// With a sink (diagnostics), a line without "=" that ends the scan is
// reported; the result stays the same.
int scanForEntry(SectionReader& sections, const char* productKey, const char* entryName,
                 const char*& value, ReadDiagnostics* diagnostics = nullptr);

// Resolves a literal value in the given form into out (outSize bytes) and
// writes its log entries. Results: kOk; kFailed text without an opening double
// quote, or an empty number.
int resolveLiteral(const char* entryName, const char* value, ValueForm form, void* out,
                   int outSize);

enum class Hive { LocalMachine, CurrentUser };

// What a Test compares the registry value with.
enum class Expected {
    None,   // no "=" after the value name
    Empty,  // "=" with nothing after it
    Text,   // "=" and a double quote: text compare
    Number, // "=" and anything else: number compare
};

struct RegistryRef {
    Hive hive = Hive::LocalMachine;
    char keyPath[kLibTextSize] = {};
    bool hasValueName = false;
    char valueName[kLibTextSize] = {}; // empty: the key's default value
    Expected expected = Expected::None;
    char expectedText[kLibTextSize] = {};
    std::int32_t expectedNumber = 0;
};

// Splits a registry reference. Results: kOk; kMalformed a hive other than "HKLM" or
// "HKCU", or no "," after the hive.
// With why, a kMalformed also gives its reason there (a static text).
int parseRegistryRef(const char* value, RegistryRef& ref, const char** why = nullptr);

// Splits a product key at its first backslash into name and version.
// Returns false (and writes nothing) when there is no backslash or a part
// does not fit its field (255 and 127 characters).
bool splitProductKey(const char* productKey, char (&name)[256], char (&version)[128]);
bool productKeyFits(const char* productKey);

// The program directory from its registry value: when the last path
// component is "handbook.pdf" (any case of A-Z) it is cut after the
// backslash. Returns kOk, or kMalformed when the value holds no backslash.
int trimProgramDir(const char* value, char (&dir)[kLibTextSize]);

// The listing pattern of a directory: the directory, a backslash unless it
// ends in one, and "*.*". Returns false when it does not fit.
bool buildListPattern(const char* dir, char (&pattern)[kLibTextSize]);
