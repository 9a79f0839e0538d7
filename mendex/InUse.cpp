#include "InUse.h"

#include "ResolveList.h"
#include "Text.h"
#include "WinHandle.h"

#include <windows.h>

#include <restartmanager.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <utility>

const char kAnotherProgram[] = "another program";

namespace
{

const wchar_t kSessionManagerW[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingValueW[] = L"PendingFileRenameOperations";

std::string holderOf(const char* name, unsigned long pid)
{
    return std::string(name) + " (pid " + std::to_string(pid) + ")";
}

std::wstring wide(const char* text)
{
    const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (n <= 0)
        return std::wstring();
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, out.data(), n);
    out.resize(static_cast<std::size_t>(n - 1));
    return out;
}

std::string narrow(const wchar_t* text)
{
    const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return std::string();
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(n - 1));
    return out;
}

// The Restart Manager's holders of path; none when it cannot tell. The
// library is the system's own, loaded from the system folder only.
std::vector<std::string> restartManagerHolders(const char* path)
{
    std::vector<std::string> holders;
    UniqueModule rm(LoadLibraryExA("rstrtmgr.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
    if (!rm)
        return holders;
    using StartFn = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
    using RegisterFn =
        DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT, LPCWSTR*);
    using ListFn = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, DWORD*);
    using EndFn = DWORD(WINAPI*)(DWORD);
    const auto start = reinterpret_cast<StartFn>(
        reinterpret_cast<void*>(GetProcAddress(rm.get(), "RmStartSession")));
    const auto add = reinterpret_cast<RegisterFn>(
        reinterpret_cast<void*>(GetProcAddress(rm.get(), "RmRegisterResources")));
    const auto list =
        reinterpret_cast<ListFn>(reinterpret_cast<void*>(GetProcAddress(rm.get(), "RmGetList")));
    const auto end =
        reinterpret_cast<EndFn>(reinterpret_cast<void*>(GetProcAddress(rm.get(), "RmEndSession")));
    if (!start || !add || !list || !end)
        return holders;
    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
    if (start(&session, 0, key) != ERROR_SUCCESS)
        return holders;
    const std::wstring file = wide(path);
    LPCWSTR files[] = {file.c_str()};
    if (!file.empty() && add(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS) {
        std::vector<RM_PROCESS_INFO> info(8);
        for (int attempt = 0; attempt < 3; ++attempt) {
            UINT needed = 0;
            UINT count = static_cast<UINT>(info.size());
            DWORD reasons = 0;
            const DWORD result = list(session, &needed, &count, info.data(), &reasons);
            if (result == ERROR_MORE_DATA) {
                info.resize(needed + 4);
                continue;
            }
            if (result == ERROR_SUCCESS)
                for (UINT i = 0; i < count && i < info.size(); ++i) {
                    info[i].strAppName[CCH_RM_MAX_APP_NAME] = L'\0';
                    holders.push_back(
                        holderOf(narrow(info[i].strAppName).c_str(), info[i].Process.dwProcessId));
                }
            break;
        }
    }
    end(session);
    return holders;
}

// The file opened for deletion only, sharing everything: refused with a
// sharing violation when another handle shares no deletion.
UniqueFile openForDeletion(const char* path)
{
    return UniqueFile(CreateFileA(path, DELETE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

} // namespace

bool isInUseFailure(unsigned long error, const char* path)
{
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
        error == ERROR_USER_MAPPED_FILE)
        return true;
    if (error != ERROR_ACCESS_DENIED)
        return false;
    // Denied, yet the file opens for deletion: no lack of rights but a
    // mapped image, which cannot be replaced while it is mapped. Or it does
    // not open for deletion because another handle shares nothing.
    return static_cast<bool>(openForDeletion(path)) || GetLastError() == ERROR_SHARING_VIOLATION;
}

const InUseFinder::Loaded& InUseFinder::loaded()
{
    if (listed_)
        return loaded_;
    listed_ = true;
    UniqueFile processes(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!processes)
        return loaded_;
    const DWORD self = GetCurrentProcessId();
    PROCESSENTRY32 process;
    process.dwSize = sizeof process;
    for (BOOL more = Process32First(processes.get(), &process); more;
         more = Process32Next(processes.get(), &process)) {
        if (process.th32ProcessID == self || process.th32ProcessID == 0)
            continue;
        UniqueFile modules(CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32,
                                                    process.th32ProcessID));
        if (!modules)
            continue;
        process.szExeFile[sizeof process.szExeFile - 1] = '\0';
        const std::string holder = holderOf(process.szExeFile, process.th32ProcessID);
        MODULEENTRY32 module;
        module.dwSize = sizeof module;
        std::string key;
        for (BOOL m = Module32First(modules.get(), &module); m;
             m = Module32Next(modules.get(), &module)) {
            module.szExePath[sizeof module.szExePath - 1] = '\0';
            normalPathText(module.szExePath, key);
            std::vector<std::string>& holders = loaded_[key];
            if (holders.empty() || holders.back() != holder)
                holders.push_back(holder);
        }
    }
    return loaded_;
}

std::vector<std::string> InUseFinder::loadedBy(const char* path)
{
    char full[MAX_PATH + 1];
    const DWORD n = GetFullPathNameA(path, sizeof full, full, nullptr);
    std::string key;
    normalPathText(n == 0 || n >= sizeof full ? path : full, key);
    const Loaded& images = loaded();
    const auto found = images.find(key);
    return found == images.end() ? std::vector<std::string>() : found->second;
}

bool InUseFinder::isHeldOpen(const char* path)
{
    UniqueFile file = openForDeletion(path);
    if (!file)
        return GetLastError() == ERROR_SHARING_VIOLATION;
    file.reset();
    return !loadedBy(path).empty();
}

std::vector<std::string> InUseFinder::holdersOf(const char* path)
{
    std::vector<std::string> holders = restartManagerHolders(path);
    if (holders.empty())
        holders = loadedBy(path);
    if (holders.empty())
        holders.emplace_back(kAnotherProgram);
    return holders;
}

std::string holderText(const std::vector<std::string>& holders)
{
    std::string text;
    for (const std::string& h : holders)
        text += (text.empty() ? "" : ", ") + h;
    return text;
}

namespace
{

// The session manager's value, as the wide registry calls give it: UTF-16
// strings, so that names outside the code page (another program's entries)
// are read and written as they are.
struct PendingValue {
    std::wstring units;  // the whole value, its last odd byte (if any) aside
    std::string oddByte; // a last byte that is no whole unit, kept as it is
    // The strings, as (start, length) in units: pairs of source and
    // target, an empty target for a deletion. The list's closing empty
    // string is no string of its own.
    std::vector<std::pair<std::size_t, std::size_t>> strings;
};

// Reads the value; true (with no strings) when there is none.
bool readPending(PendingValue& value)
{
    value = PendingValue();
    UniqueHkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerW, 0, KEY_QUERY_VALUE, key.put()) !=
        ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    DWORD size = 0;
    const LONG first = RegQueryValueExW(key.get(), kPendingValueW, nullptr, &type, nullptr, &size);
    if (first == ERROR_FILE_NOT_FOUND)
        return true;
    if (first != ERROR_SUCCESS || type != REG_MULTI_SZ)
        return false;
    std::string bytes(size, '\0');
    if (RegQueryValueExW(key.get(), kPendingValueW, nullptr, &type,
                         reinterpret_cast<BYTE*>(bytes.data()), &size) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ)
        return false;
    bytes.resize(size);
    value.units.assign(bytes.size() / 2, L'\0');
    std::memcpy(value.units.data(), bytes.data(), value.units.size() * 2);
    value.oddByte = bytes.substr(value.units.size() * 2);
    std::size_t at = 0;
    while (at < value.units.size()) {
        const std::size_t end = value.units.find(L'\0', at);
        const std::size_t stop = end == std::wstring::npos ? value.units.size() : end;
        value.strings.emplace_back(at, stop - at);
        at = stop + 1;
    }
    if (value.strings.size() % 2 != 0 && value.strings.back().second == 0)
        value.strings.pop_back();
    return true;
}

// A path as the session manager writes it ("\??\C:\...", a target to
// replace marked by "!"), as a plain path in the code page. False when the
// code page cannot hold it exactly: then it names no file of this patch,
// whose paths are all in the code page.
bool plainPath(const wchar_t* text, std::size_t length, std::string& out)
{
    out.clear();
    std::wstring path(text, length);
    if (!path.empty() && path[0] == L'!')
        path.erase(0, 1);
    if (path.compare(0, 4, L"\\??\\") == 0)
        path.erase(0, 4);
    if (path.empty())
        return true;
    out = narrow(path.c_str());
    // Back to the same units: no character was left out or mapped to a
    // look-alike (an L with stroke to L) or to the default character.
    return !out.empty() && wide(out.c_str()) == path;
}

// The i-th string of the value as a plain path; false as plainPath.
bool pendingPath(const PendingValue& value, std::size_t i, std::string& out)
{
    return plainPath(value.units.data() + value.strings[i].first, value.strings[i].second, out);
}

} // namespace

std::vector<PendingRename> pendingRenames()
{
    std::vector<PendingRename> renames;
    PendingValue value;
    if (!readPending(value))
        return renames;
    PendingRename rename;
    for (std::size_t i = 0; i + 1 < value.strings.size(); i += 2)
        if (value.strings[i].second != 0 && pendingPath(value, i, rename.from) &&
            pendingPath(value, i + 1, rename.to))
            renames.push_back(rename);
    return renames;
}

bool scheduleAtRestart(const char* from, const char* target)
{
    return MoveFileExA(from, target,
                       MOVEFILE_DELAY_UNTIL_REBOOT | (target ? MOVEFILE_REPLACE_EXISTING : 0)) != 0;
}

namespace
{

// The value's units without the entries that scheduleAtRestart(from,
// target) makes, into kept: everything else, and the layout between the
// entries, as it was. True when there was such an entry.
bool withoutEntry(const PendingValue& value, const char* from, const char* target,
                  std::wstring& kept)
{
    kept.clear();
    std::size_t copiedTo = 0;
    bool found = false;
    std::string source;
    std::string destination;
    for (std::size_t i = 0; i + 1 < value.strings.size(); i += 2) {
        const bool ours =
            value.strings[i].second != 0 && pendingPath(value, i, source) &&
            pendingPath(value, i + 1, destination) && samePathText(source.c_str(), from) &&
            (target ? samePathText(destination.c_str(), target) : value.strings[i + 1].second == 0);
        if (!ours)
            continue;
        found = true;
        const std::size_t begin = value.strings[i].first;
        const std::size_t end = value.strings[i + 1].first + value.strings[i + 1].second + 1;
        kept.append(value.units, copiedTo, begin - copiedTo);
        copiedTo = std::min(end, value.units.size());
    }
    kept.append(value.units, copiedTo, std::wstring::npos);
    return found;
}

} // namespace

bool waitsAtRestart(const char* from, const char* target)
{
    PendingValue value;
    std::wstring kept;
    return readPending(value) && withoutEntry(value, from, target, kept);
}

RestartCancel cancelAtRestart(const char* from, const char* target)
{
    PendingValue value;
    if (!readPending(value))
        return RestartCancel::failed;
    std::wstring kept;
    if (!withoutEntry(value, from, target, kept))
        return RestartCancel::notWaiting;
    const bool othersLeft = kept.find_first_not_of(L'\0') != std::wstring::npos;
    UniqueHkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerW, 0, KEY_SET_VALUE, key.put()) !=
        ERROR_SUCCESS)
        return RestartCancel::failed;
    if (!othersLeft)
        return RegDeleteValueW(key.get(), kPendingValueW) == ERROR_SUCCESS
                   ? RestartCancel::cancelled
                   : RestartCancel::failed;
    std::string bytes(kept.size() * 2, '\0');
    std::memcpy(bytes.data(), kept.data(), bytes.size());
    bytes += value.oddByte;
    return RegSetValueExW(key.get(), kPendingValueW, 0, REG_MULTI_SZ,
                          reinterpret_cast<const BYTE*>(bytes.data()),
                          static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS
               ? RestartCancel::cancelled
               : RestartCancel::failed;
}
