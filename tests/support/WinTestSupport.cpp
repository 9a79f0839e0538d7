#include "WinTestSupport.h"

#include <algorithm>
#include <cstdio>

namespace wintest
{

std::string exeDir()
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, sizeof path - 1);
    std::string s(path);
    return s.substr(0, s.find_last_of('\\') + 1);
}

static int g_tempCounter = 0;

TempDir::TempDir(const std::string& name)
{
    CreateDirectoryA("C:\\fwtest", nullptr);
    path_ = "C:\\fwtest\\" + name + "-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(++g_tempCounter);
    removeTree(path_);
    makeDirs(path_);
}

TempDir::~TempDir()
{
    // A program that a test started may still be ending and hold its file:
    // give it a moment before giving up on the folder.
    for (int i = 0; i < 40 && dirExists(path_); ++i) {
        if (i > 0)
            Sleep(50);
        removeTree(path_);
    }
}

std::string TempDir::operator/(const std::string& relative) const
{
    return path_ + "\\" + relative;
}

void removeTree(const std::string& path)
{
    WIN32_FIND_DATAA fd;
    UniqueFind find(FindFirstFileA((path + "\\*").c_str(), &fd));
    if (find) {
        do {
            const std::string name = fd.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string child = path + "\\" + name;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                continue;
            } else if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                removeTree(child);
            } else {
                SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(child.c_str());
            }
        } while (FindNextFileA(find.get(), &fd));
    }
    find.reset();
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryA(path.c_str());
}

namespace
{

// The Linux path of a Windows path whose folder exists; "" when Wine does
// not say (not under Wine).
std::string unixPathOf(const std::string& path)
{
    using UnixName = char*(CDECL*)(LPCWSTR);
    const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!unixName)
        return {};
    std::wstring wide(path.begin(), path.end());
    char* name = unixName(wide.c_str());
    if (!name)
        return {};
    std::string out(name);
    HeapFree(GetProcessHeap(), 0, name);
    return out;
}

// Starts a Linux program of the prefix's drive A: (Wine starts one like a
// Windows program, without a handle to wait on), then waits until the name
// exists or not as wanted: true when it came to that within a few seconds.
bool runUnixUntil(std::string commandLine, const std::string& name, bool exists)
{
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
        return false;
    UniqueKernelHandle process(info.hProcess);
    UniqueKernelHandle thread(info.hThread);
    for (int i = 0; i < 100; ++i) {
        if ((GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES) == exists)
            return true;
        Sleep(50);
    }
    return false;
}

} // namespace

UnixLink::UnixLink(const std::string& target, const std::string& link) : link_(link)
{
    const std::string unixTarget = unixPathOf(target);
    unixLink_ = unixPathOf(link);
    made_ = !unixTarget.empty() && !unixLink_.empty() &&
            runUnixUntil("A:\\ln -sn \"" + unixTarget + "\" \"" + unixLink_ + "\"", link_, true);
}

UnixLink::~UnixLink()
{
    if (made_)
        runUnixUntil("A:\\rm -f \"" + unixLink_ + "\"", link_, false);
}

bool renameFromLinux(const std::string& from, const std::string& to)
{
    const std::string unixFrom = unixPathOf(from);
    const std::string unixTo = unixPathOf(to);
    return !unixFrom.empty() && !unixTo.empty() &&
           runUnixUntil("A:\\mv -T \"" + unixFrom + "\" \"" + unixTo + "\"", to, true);
}

void makeDirs(const std::string& path)
{
    for (std::size_t i = 3; i <= path.size(); ++i)
        if (i == path.size() || path[i] == '\\')
            CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
}

void writeFile(const std::string& path, const std::string& bytes, CallSite at)
{
    Trace trace(at.file, at.line, "writeFile");
    UniqueFile f(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(f) << "cannot write " << path;
    DWORD written = 0;
    ASSERT_TRUE(
        WriteFile(f.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    ASSERT_EQ(written, bytes.size());
}

std::string readFile(const std::string& path)
{
    UniqueFile f(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr));
    if (!f)
        return {};
    std::string out;
    char buf[65536];
    DWORD got = 0;
    while (ReadFile(f.get(), buf, sizeof buf, &got, nullptr) && got > 0)
        out.append(buf, got);
    return out;
}

bool fileExists(const std::string& path)
{
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool dirExists(const std::string& path)
{
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::vector<std::string> listDir(const std::string& path)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    UniqueFind find(FindFirstFileA((path + "\\*").c_str(), &fd));
    if (!find)
        return names;
    do {
        const std::string name = fd.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(find.get(), &fd));
    std::sort(names.begin(), names.end());
    return names;
}

ScratchKey::ScratchKey(HKEY root, std::string path) : root_(root), path_(std::move(path))
{
    remove();
}

ScratchKey::~ScratchKey()
{
    remove();
}

void ScratchKey::remove()
{
    RegDeleteTreeA(root_, path_.c_str());
    RegDeleteKeyA(root_, path_.c_str());
}

void ScratchKey::setRaw(const std::string& name, DWORD type, const std::string& bytes,
                        const std::string& subkey, CallSite at)
{
    Trace trace(at.file, at.line, "ScratchKey::setRaw");
    const std::string full = subkey.empty() ? path_ : path_ + "\\" + subkey;
    UniqueHkey key;
    ASSERT_EQ(RegCreateKeyExA(root_, full.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              key.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key.get(), name.c_str(), 0, type,
                             reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
}

void ScratchKey::setString(const std::string& name, const std::string& value,
                           const std::string& subkey, CallSite at)
{
    setRaw(name, REG_SZ, std::string(value.c_str(), value.size() + 1), subkey, at);
}

void ScratchKey::setDword(const std::string& name, std::uint32_t value, const std::string& subkey,
                          CallSite at)
{
    setRaw(name, REG_DWORD, std::string(reinterpret_cast<const char*>(&value), 4), subkey, at);
}

RegValue readValue(HKEY root, const std::string& key, const std::string& name)
{
    RegValue v;
    UniqueHkey k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_QUERY_VALUE, k.put()) != ERROR_SUCCESS)
        return v;
    DWORD size = 0;
    if (RegQueryValueExA(k.get(), name.c_str(), nullptr, &v.type, nullptr, &size) != ERROR_SUCCESS)
        return v;
    v.bytes.resize(size);
    if (RegQueryValueExA(k.get(), name.c_str(), nullptr, &v.type,
                         reinterpret_cast<BYTE*>(v.bytes.data()), &size) != ERROR_SUCCESS)
        return v;
    v.bytes.resize(size);
    v.ok = true;
    return v;
}

CurrentDir::CurrentDir(const std::string& path)
{
    char prev[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof prev, prev);
    previous_ = prev;
    SetCurrentDirectoryA(path.c_str());
}

CurrentDir::~CurrentDir()
{
    SetCurrentDirectoryA(previous_.c_str());
}

} // namespace wintest
