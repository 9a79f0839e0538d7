// Helpers for tests that run under Wine against the real file system and
// registry: scratch folders, scratch registry keys and small file helpers.
#pragma once

#include "WinHandle.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace wintest
{

// The directory of the running test program (where the deliverables are),
// with a trailing backslash.
std::string exeDir();

// A scratch folder C:\fwtest\<name>-<pid>-<n>, made empty on construction and
// removed with everything in it on destruction.
class TempDir
{
public:
    explicit TempDir(const std::string& name);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder, without a trailing backslash.
    const std::string& path() const { return path_; }
    // path() + "\\" + relative
    std::string operator/(const std::string& relative) const;

private:
    std::string path_;
};

// Deletes a directory tree (read-only files included). Missing is fine. A
// link to a folder is never followed: it is left to its UnixLink.
void removeTree(const std::string& path);
// Makes every directory on the way to path.
void makeDirs(const std::string& path);

// Where a helper was called from: its failures name the caller's line. A
// helper takes a CallSite as its last parameter, defaulted to HERE, and opens
// its body with a Trace of it.
struct CallSite {
    const char* file;
    int line;
};
#define FW_HERE (wintest::CallSite{__builtin_FILE(), __builtin_LINE()})
using Trace = ::testing::ScopedTrace;

void writeFile(const std::string& path, const std::string& bytes, CallSite at = FW_HERE);
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);
bool dirExists(const std::string& path);
// A symbolic link made from the Linux side, which Wine follows like a
// junction (a folder's link) or a plain file (a file's link); removed on
// destruction, never what it points to. made() is false when the link could
// not be made (not under Wine, no ln).
class UnixLink
{
public:
    UnixLink(const std::string& target, const std::string& link);
    ~UnixLink();
    UnixLink(const UnixLink&) = delete;
    UnixLink& operator=(const UnixLink&) = delete;

    bool made() const { return made_; }

private:
    std::string link_;
    std::string unixLink_;
    bool made_ = false;
};

// Renames from to to from the Linux side, where no Windows program's hold
// on the name stops it (as a user swapping folders on another system
// would); false when it was not done (not under Wine, no mv).
bool renameFromLinux(const std::string& from, const std::string& to);

// Names in a directory (no "." or ".."), sorted.
std::vector<std::string> listDir(const std::string& path);

// A registry key that the test owns: deleted (with its subkeys) before and
// after. The root must be a key path reserved for the test.
class ScratchKey
{
public:
    ScratchKey(HKEY root, std::string path);
    ~ScratchKey();
    ScratchKey(const ScratchKey&) = delete;
    ScratchKey& operator=(const ScratchKey&) = delete;

    const std::string& path() const { return path_; }
    void setString(const std::string& name, const std::string& value,
                   const std::string& subkey = "", CallSite at = FW_HERE);
    void setDword(const std::string& name, std::uint32_t value, const std::string& subkey = "",
                  CallSite at = FW_HERE);
    void setRaw(const std::string& name, DWORD type, const std::string& bytes,
                const std::string& subkey = "", CallSite at = FW_HERE);
    void remove();

private:
    HKEY root_;
    std::string path_;
};

// A registry value as stored: type and raw bytes. ok is false when absent.
struct RegValue {
    bool ok = false;
    DWORD type = 0;
    std::string bytes;
};
RegValue readValue(HKEY root, const std::string& key, const std::string& name);

// Changes the process's current directory for the lifetime of the object.
class CurrentDir
{
public:
    explicit CurrentDir(const std::string& path);
    ~CurrentDir();
    CurrentDir(const CurrentDir&) = delete;
    CurrentDir& operator=(const CurrentDir&) = delete;

private:
    std::string previous_;
};

} // namespace wintest
