#include "InUse.h"

#include "ResolveList.h"
#include "Text.h"
#include "WinHandle.h"

#include <windows.h>

#include <restartmanager.h>
#include <tlhelp32.h>

#include <cstring>

const char kAnotherProgram[] = "another program";

namespace
{

const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kPendingValue[] = "PendingFileRenameOperations";

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

// A path as the session manager writes it ("\??\C:\...", a target to
// replace marked by "!"), as a plain path.
std::string plainPath(std::string path)
{
    if (!path.empty() && path[0] == '!')
        path.erase(0, 1);
    if (path.compare(0, 4, "\\??\\") == 0)
        path.erase(0, 4);
    return path;
}

// The value's strings, by its length: an empty string (a deletion's
// target) does not end the list.
bool readPending(std::vector<std::string>& strings)
{
    strings.clear();
    UniqueHkey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, key.put()) !=
        ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    DWORD size = 0;
    const LONG first = RegQueryValueExA(key.get(), kPendingValue, nullptr, &type, nullptr, &size);
    if (first == ERROR_FILE_NOT_FOUND)
        return true;
    if (first != ERROR_SUCCESS || type != REG_MULTI_SZ)
        return false;
    std::string bytes(size, '\0');
    if (RegQueryValueExA(key.get(), kPendingValue, nullptr, &type,
                         reinterpret_cast<BYTE*>(bytes.data()), &size) != ERROR_SUCCESS)
        return false;
    bytes.resize(size);
    // The list ends in an empty string of its own, after the last pair.
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::size_t end = bytes.find('\0', at);
        const std::size_t stop = end == std::string::npos ? bytes.size() : end;
        strings.emplace_back(bytes, at, stop - at);
        at = stop + 1;
    }
    if (strings.size() % 2 != 0 && strings.back().empty())
        strings.pop_back();
    return true;
}

} // namespace

std::vector<PendingRename> pendingRenames()
{
    std::vector<PendingRename> renames;
    std::vector<std::string> strings;
    if (!readPending(strings))
        return renames;
    for (std::size_t i = 0; i + 1 < strings.size(); i += 2)
        if (!strings[i].empty())
            renames.push_back({plainPath(strings[i]), plainPath(strings[i + 1])});
    return renames;
}

bool scheduleAtRestart(const char* from, const char* target)
{
    return MoveFileExA(from, target,
                       MOVEFILE_DELAY_UNTIL_REBOOT | (target ? MOVEFILE_REPLACE_EXISTING : 0)) != 0;
}

bool cancelAtRestart(const char* from)
{
    std::vector<std::string> strings;
    if (!readPending(strings))
        return false;
    std::string kept;
    bool found = false;
    for (std::size_t i = 0; i + 1 < strings.size(); i += 2) {
        if (samePathText(plainPath(strings[i]).c_str(), from)) {
            found = true;
            continue;
        }
        kept += strings[i];
        kept += '\0';
        kept += strings[i + 1];
        kept += '\0';
    }
    if (!found)
        return true;
    UniqueHkey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, key.put()) !=
        ERROR_SUCCESS)
        return false;
    if (kept.empty())
        return RegDeleteValueA(key.get(), kPendingValue) == ERROR_SUCCESS;
    kept += '\0';
    return RegSetValueExA(key.get(), kPendingValue, 0, REG_MULTI_SZ,
                          reinterpret_cast<const BYTE*>(kept.data()),
                          static_cast<DWORD>(kept.size())) == ERROR_SUCCESS;
}
