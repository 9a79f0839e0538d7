// The update script "Update.src": the section for one system language and one
// product, read into two lists (registry entries and file entries) in file
// order before anything is applied. Also parseHex, the script's hexadecimal
// numbers.
//
// Free of windows.h: the lines come from the line reader and the language
// identifier is passed in as a value. The Windows side that asks the system
// for its default language is declared in ScriptFiles.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class LineReader;
class ReadDiagnostics;

// Predefined registry roots as the script names them ("HKCU", "HKLM"); the
// numbers are those of HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE.
constexpr std::uint32_t kHiveCurrentUser = 0x80000001u;
constexpr std::uint32_t kHiveLocalMachine = 0x80000002u;

// dwordValue of a string entry. A script may still ask for the DWORD
// 0x80000000: the entry's valueType, not this number, tells the two apart.
constexpr std::uint32_t kStringMarker = 0x80000000u;

enum class RegValueType : std::uint32_t {
    String = 0, // write stringData as a string value (REG_SZ)
    Dword = 1,  // write dwordValue as a DWORD value (REG_DWORD)
};

// One "File" record: a file that must exist with this size and last-write time.
struct FileEntry {
    char path[512];         // as written in the script; the run expands it in place
    std::uint32_t sizeLow;  // expected size, low 32 bits
    std::uint32_t sizeHigh; // expected size, high 32 bits
    std::uint32_t timeLow;  // expected last-write time (FILETIME), low 32 bits
    std::uint32_t timeHigh; // expected last-write time, high 32 bits
};

// One "RegKey" or "RegValue" record: a value to write.
struct RegistryEntry {
    std::uint32_t hive;       // kHiveCurrentUser or kHiveLocalMachine
    char keyPath[512];        // subkey below the hive; never expanded
    char valueName[512];      // empty: the key's default value; never expanded
    char stringData[512];     // data of a string value (the run expands macros); empty for DWORDs
    std::uint32_t dwordValue; // the DWORD to write; kStringMarker for a string value
    RegValueType valueType;   // the type to write: decides, never dwordValue alone
};

using FileList = std::vector<FileEntry>;
using RegistryList = std::vector<RegistryEntry>;

// The section read for one product: both lists in file order. Starts empty;
// freeUpdateScript (or the end of its life) frees both lists.
struct UpdateScript {
    RegistryList registryList;
    FileList fileList;
};

// The value of a registry record that stands for the system's default
// language identifier, written as a DWORD.
constexpr const char* kLangIdMacro = "%LANGID%";

// The bare name of the script in the current directory.
constexpr const char* kUpdateScriptName = "Update.src";

// Reads the section of the script for the language langId (only its low 8 bits
// are compared with the language headers) and the product productKey from
// lines already opened. Logs "\n>Update Data: File opened.", "\n>Updating %s"
// and "\n>System Language: %x" first. Appends to script.
// Returns kOk when the section was read (it ends at an empty line, a header line
// or the end of the file), kFailed when productKey is blank or the file ends before
// the language header or the product header, kMalformed when a record line of a kind
// other than "File", "RegKey", "RegValue" is met (reading stops there).
// Records whose values break the grammar are dropped and reading goes on.
// On any result but 0 the caller frees what was read and applies nothing.
// With a sink (diagnostics), it also reports every line of what it reads
// that it drops, misreads or stops at, and the lines an empty line hides;
// results, entries and log entries stay the same.
int readUpdateScript(LineReader& reader, const char* productKey, std::uint16_t langId,
                     UpdateScript* script, ReadDiagnostics* diagnostics = nullptr);

// As above, but opens fileName (by the name as given, so a bare name is looked
// up in the current directory). When it cannot be opened, logs
// "\n>Error opening file %s." with fileName and returns kDataFileOpen.
int readUpdateScriptFile(const char* fileName, const char* productKey, std::uint16_t langId,
                         UpdateScript* script);

// Why a record was dropped, how it was misread though added, or what is odd
// about it. Each text is static; null when there is nothing to tell.
struct RecordNotes {
    const char* dropped = nullptr;
    const char* misread = nullptr;
    const char* remark = nullptr;
};

// Parses the value of one "File" record and appends a FileEntry.
// Returns kOk when added, kFailed for a blank value, kMalformed when the value breaks the
// grammar (nothing added), kNoMemory when memory is exhausted (nothing added).
int parseFileEntry(const char* value, UpdateScript* script, RecordNotes* notes = nullptr);

// Parses the value of one "RegKey"/"RegValue" record and appends a
// RegistryEntry; "%LANGID%" gives langId as a DWORD.
// Returns kOk when added, kFailed for a blank value, kMalformed when the value breaks the
// grammar (nothing added), kNoMemory when memory is exhausted (nothing added).
int parseRegistryEntry(const char* value, UpdateScript* script, std::uint16_t langId,
                       RecordNotes* notes = nullptr);

// Frees both lists (registry list first) and leaves the script empty.
// Safe on an empty script and on null.
void freeUpdateScript(UpdateScript* script);

// Hexadecimal number: a leading "0x" or a single "x" is skipped, then every
// character is one digit ('0'-'9', 'a'-'f', 'A'-'F'; any other character
// counts as 0), accumulated in 32 bits (only the last eight digits count).
// Empty or null gives 0.
std::uint32_t parseHex(const char* text);

// True when parseHex reads text as written: nothing but hexadecimal digits
// after its prefix (other characters count as 0) and at most eight of them.
bool isExactHex(const char* text);

// True when a header name is a language identifier as written: one to eight
// hexadecimal digits (after an optional "0x" or "x"). The reader tries every
// header as a language header; only these are meant as one.
bool isLanguageHeaderName(const char* name);
