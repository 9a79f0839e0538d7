#include "FolderTrust.h"

#include "Text.h"
#include "WinHandle.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstring>

const char kOwnFolderSddl[] = "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FR;;;BU)";

namespace
{

// The rights by which a principal could change a folder, its entries or
// who may: granted to anyone but the trusted, the folder is not the
// administrators' alone.
constexpr ACCESS_MASK kChangeRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_ATTRIBUTES |
                                      FILE_WRITE_EA | DELETE | FILE_DELETE_CHILD | WRITE_DAC |
                                      WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;

// NT SERVICE\TrustedInstaller: S-1-5-80-956008885-3418522649-1831038044-
// 1853292631-2271478464, the owner of the system's own folders.
bool isTrustedInstaller(PSID sid)
{
    static const DWORD kSubAuthorities[] = {80u,         956008885u,  3418522649u,
                                            1831038044u, 1853292631u, 2271478464u};
    static const BYTE kNtAuthority[6] = {0, 0, 0, 0, 0, 5};
    const PSID_IDENTIFIER_AUTHORITY authority = GetSidIdentifierAuthority(sid);
    if (!authority || std::memcmp(authority->Value, kNtAuthority, sizeof kNtAuthority) != 0 ||
        *GetSidSubAuthorityCount(sid) != 6)
        return false;
    for (DWORD i = 0; i < 6; ++i)
        if (*GetSidSubAuthority(sid, i) != kSubAuthorities[i])
            return false;
    return true;
}

bool isTrusted(PSID sid, PSID self)
{
    if (!sid || !IsValidSid(sid))
        return false;
    return (self && IsValidSid(self) && EqualSid(sid, self)) ||
           IsWellKnownSid(sid, WinLocalSystemSid) ||
           IsWellKnownSid(sid, WinBuiltinAdministratorsSid) || isTrustedInstaller(sid);
}

std::string sidText(PSID sid)
{
    char* text = nullptr;
    if (!sid || !IsValidSid(sid) || !ConvertSidToStringSidA(sid, &text))
        return "an unreadable account";
    const UniqueLocal owned(text);
    return text;
}

// The SID of an allow entry, and the rights it grants; null for any other
// entry.
PSID allowedSid(const ACE_HEADER* ace, ACCESS_MASK& mask)
{
    switch (ace->AceType) {
    case ACCESS_ALLOWED_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {
        // The same layout: header, mask, SID (and a callback's data after it).
        auto* allowed = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(ace);
        mask = allowed->Mask;
        return const_cast<DWORD*>(&allowed->SidStart);
    }
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
    case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE: {
        // The SID follows the object types that are present.
        auto* allowed = reinterpret_cast<const ACCESS_ALLOWED_OBJECT_ACE*>(ace);
        mask = allowed->Mask;
        auto* at = reinterpret_cast<const BYTE*>(&allowed->ObjectType);
        if (allowed->Flags & ACE_OBJECT_TYPE_PRESENT)
            at += sizeof(GUID);
        if (allowed->Flags & ACE_INHERITED_OBJECT_TYPE_PRESENT)
            at += sizeof(GUID);
        return reinterpret_cast<PSID>(const_cast<BYTE*>(at));
    }
    default:
        return nullptr;
    }
}

// Each folder below above on the way to folder, folder included, top down;
// made with the patch's descriptor first when make and missing. A missing
// one ends the check with missingEnds.
std::string checkFolders(const std::string& above, const std::string& folder, bool make,
                         bool missingEnds)
{
    if (folder.size() <= above.size())
        return "";
    if (!equalsNoCase(folder.substr(0, above.size()).c_str(), above.c_str()) ||
        (above.back() != '\\' && folder[above.size()] != '\\'))
        return folder + ": not below " + above;
    for (std::size_t at = folder.find('\\', above.size() + 1);; at = folder.find('\\', at + 1)) {
        const std::string part = at == std::string::npos ? folder : folder.substr(0, at);
        if (make && !makeOwnFolder(part) && GetLastError() != ERROR_ALREADY_EXISTS)
            return part + ": cannot be made (error " + std::to_string(GetLastError()) + ")";
        if (missingEnds && GetFileAttributesA(part.c_str()) == INVALID_FILE_ATTRIBUTES &&
            (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND))
            return "";
        const std::string why = whyFolderUntrusted(part);
        if (!why.empty())
            return part + ": " + why;
        if (at == std::string::npos)
            return "";
    }
}

} // namespace

std::string whyUntrusted(PSECURITY_DESCRIPTOR sd, PSID self)
{
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    if (!sd || !GetSecurityDescriptorOwner(sd, &owner, &defaulted) || !owner)
        return "no owner";
    if (!isTrusted(owner, self))
        return "owned by " + sidText(owner);
    BOOL present = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted))
        return "its access list cannot be read";
    if (!present || !dacl)
        return "no access list: everyone may change it";
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        if (!GetAce(dacl, i, &entry))
            return "its access list cannot be read";
        const auto* ace = static_cast<const ACE_HEADER*>(entry);
        if (ace->AceFlags & INHERIT_ONLY_ACE)
            continue;
        ACCESS_MASK mask = 0;
        const PSID sid = allowedSid(ace, mask);
        if (sid && (mask & kChangeRights) && !isTrusted(sid, self))
            return "writable by " + sidText(sid);
    }
    return "";
}

std::vector<unsigned char> selfSid()
{
    UniqueKernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
        return {};
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size);
    if (size == 0 || !GetTokenInformation(token.get(), TokenUser, user.data(), size, &size))
        return {};
    const PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
    if (!IsValidSid(sid))
        return {};
    std::vector<unsigned char> out(GetLengthSid(sid));
    if (!CopySid(static_cast<DWORD>(out.size()), out.data(), sid))
        return {};
    return out;
}

std::string whyFolderUntrusted(const std::string& folder)
{
    // The folder itself, never what a link in its place points to.
    const UniqueFile dir(
        CreateFileA(folder.c_str(), READ_CONTROL | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!dir)
        return "cannot be opened (error " + std::to_string(GetLastError()) + ")";
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(dir.get(), &info))
        return "cannot be read (error " + std::to_string(GetLastError()) + ")";
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return "a link (reparse point)";
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return "not a folder";
    PSECURITY_DESCRIPTOR sd = nullptr;
    const DWORD error = GetSecurityInfo(dir.get(), SE_FILE_OBJECT,
                                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                        nullptr, nullptr, nullptr, nullptr, &sd);
    const UniqueLocal owned(sd);
    if (error != ERROR_SUCCESS)
        return "its security cannot be read (error " + std::to_string(error) + ")";
    std::vector<unsigned char> self = selfSid();
    return whyUntrusted(sd, self.empty() ? nullptr : self.data());
}

std::string whyFoldersUntrusted(const std::string& above, const std::string& folder,
                                bool missingEnds)
{
    return checkFolders(above, folder, false, missingEnds);
}

bool makeOwnFolder(const std::string& path)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(kOwnFolderSddl, SDDL_REVISION_1, &sd,
                                                              nullptr))
        return false;
    const UniqueLocal owned(sd);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, sd, FALSE};
    return CreateDirectoryA(path.c_str(), &attributes) != 0;
}

std::string makeOwnFolders(const std::string& above, const std::string& folder)
{
    return checkFolders(above, folder, true, false);
}
