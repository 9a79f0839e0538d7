#include "RunRecord.h"

#include "AnsiText.h"
#include "DiagLog.h"
#include "FileIdentity.h"
#include "FolderTrust.h"
#include "InUse.h"
#include "RegistryWriter.h"
#include "ResolveList.h"
#include "ResultCodes.h"
#include "RunPlan.h"
#include "Text.h"
#include "WinHandle.h"

#include <nlohmann/json.hpp>

#include <windows.h>

#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace
{

using json = nlohmann::json;

const char kPatchKey[] = "Software\\Orvantis\\Pixora Patch";
const char kKeepRunsValue[] = "KeepRuns";
const char kRunsBelowProgramData[] = "\\Orvantis\\Pixora Patch\\Runs";
// What a run's folder holds: the marker, the record, the notes made after
// each change, and the folder of kept files.
const char kMarkerName[] = "run.own";
const char kMarkerText[] = "A run of the Pixora patch: what it changed, kept so that it can be "
                           "put back.\r\n";
const char kRecordName[] = "run.json";
const char kRecordTemp[] = "run.json.new";
const char kNotesName[] = "changes.log";
const char kFilesName[] = "files";
// Kept files go into numbered folders of this many below kFilesName: a new
// name in a folder costs a look through its names, so no folder grows big.
constexpr std::size_t kFilesPerFolder = 200;

std::string joined(const std::string& folder, const std::string& name)
{
    return folder + "\\" + name;
}

bool isPlainDir(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool isPlainFile(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

bool flushFile(const std::string& path)
{
    UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && FlushFileBuffers(file.get());
}

bool writeAll(HANDLE file, const std::string& text)
{
    DWORD written = 0;
    return WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

// Writes path whole: a new name, flushed, then moved over path.
bool writeWhole(const std::string& path, const std::string& temp, const std::string& text)
{
    UniqueFile file(CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    const bool written = file && writeAll(file.get(), text) && FlushFileBuffers(file.get());
    file.reset();
    if (!written || !MoveFileExA(temp.c_str(), path.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(temp.c_str());
        return false;
    }
    return true;
}

bool readWhole(const std::string& path, std::string& text)
{
    UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > (64 << 20))
        return false;
    text.assign(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    return text.empty() ||
           (ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr) &&
            read == text.size());
}

std::string hexOf(const std::string& bytes)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

std::string bytesOfHex(const std::string& hex)
{
    auto digit = [](char c) { return c >= 'a' ? c - 'a' + 10 : c >= 'A' ? c - 'A' + 10 : c - '0'; };
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>((digit(hex[i]) << 4) | digit(hex[i + 1]));
    return out;
}

ChangeKind kindOf(const std::string& name)
{
    return name == "replaced"  ? ChangeKind::Replaced
           : name == "deleted" ? ChangeKind::Deleted
           : name == "created" ? ChangeKind::Created
                               : ChangeKind::Value;
}

KeptFile fileOf(const json& j)
{
    KeptFile f;
    if (!j.is_object())
        return f;
    f.exists = true;
    f.size = j.value("size", std::uint64_t{0});
    f.time = j.value("time", std::uint64_t{0});
    f.attributes = j.value("attributes", std::uint32_t{0});
    return f;
}

void takeIdentity(KeptChange& c, const json& j)
{
    if (!j.is_array() || j.size() != 3)
        return;
    c.identityKnown = true;
    c.identity.volume = j[0].get<DWORD>();
    c.identity.indexHigh = j[1].get<DWORD>();
    c.identity.indexLow = j[2].get<DWORD>();
}

// The record is written as text, member by member: a run's record must be
// writable when memory is short, and a JSON tree frees its members with
// allocations of its own (so it cannot be let go of then). Only texts go
// through the library, for their escapes; a text value frees nothing more.
class JsonText
{
public:
    JsonText& member(const char* name)
    {
        comma();
        out_ += '"';
        out_ += name;
        out_ += "\":";
        fresh_ = true;
        return *this;
    }
    JsonText& text(const std::string& value)
    {
        comma();
        out_ += json(value).dump(-1, ' ', false, json::error_handler_t::replace);
        return *this;
    }
    JsonText& number(std::uint64_t value)
    {
        comma();
        out_ += std::to_string(value);
        return *this;
    }
    JsonText& boolean(bool value)
    {
        comma();
        out_ += value ? "true" : "false";
        return *this;
    }
    JsonText& null()
    {
        comma();
        out_ += "null";
        return *this;
    }
    JsonText& open(char bracket)
    {
        comma();
        out_ += bracket;
        fresh_ = true;
        return *this;
    }
    JsonText& close(char bracket)
    {
        out_ += bracket;
        fresh_ = false;
        return *this;
    }
    std::string& str() { return out_; }

private:
    // A comma before every value but the first of its object or array (a
    // member's value follows its name).
    void comma()
    {
        if (!fresh_)
            out_ += ',';
        fresh_ = false;
    }
    std::string out_;
    bool fresh_ = true;
};

void writeFile(JsonText& j, const char* name, const KeptFile& f)
{
    j.member(name);
    if (!f.exists) {
        j.null();
        return;
    }
    j.open('{');
    j.member("size").number(f.size).member("time").number(f.time);
    j.member("attributes").number(f.attributes).close('}');
}

void writeIdentity(JsonText& j, const KeptChange& c)
{
    j.member("identity");
    if (!c.identityKnown) {
        j.null();
        return;
    }
    j.open('[').number(c.identity.volume).number(c.identity.indexHigh);
    j.number(c.identity.indexLow).close(']');
}

// A change left to the next start: "atRestart", and the waiting copy.
void writeRestart(JsonText& j, const KeptChange& c)
{
    if (c.atRestart)
        j.member("atRestart").boolean(true).member("waiting").text(utf8(c.waiting));
}

void takeRestart(KeptChange& c, const json& j)
{
    c.atRestart = j.value("atRestart", false);
    c.waiting = ansiText(j.value("waiting", ""));
}

void writeData(JsonText& j, const char* name, std::uint32_t type, const std::string& bytes)
{
    j.member(name).open('{').member("type").number(type);
    j.member("data").text(hexOf(bytes)).close('}');
}

void writeChange(JsonText& j, const KeptChange& c)
{
    j.open('{');
    j.member("kind").text(kindName(c.kind)).member("path").text(utf8(c.path));
    j.member("made").boolean(c.made);
    if (c.kind == ChangeKind::Value) {
        j.member("hive").number(c.hive).member("key").text(utf8(c.key));
        j.member("name").text(utf8(c.name));
        if (c.hadValue)
            writeData(j, "old", c.oldType, c.oldBytes);
        else
            j.member("old").null();
        writeData(j, "new", c.newType, c.newBytes);
        j.member("createdKey").text(utf8(c.createdKey));
    } else {
        writeFile(j, "before", c.before);
        writeFile(j, "after", c.after);
        j.member("backup").text(c.backup).member("copied").boolean(c.copied);
        writeIdentity(j, c);
        writeRestart(j, c);
        if (!c.tookBack.empty())
            j.member("tookBack").text(utf8(c.tookBack));
    }
    j.close('}');
}

KeptChange changeOf(const json& j)
{
    KeptChange c;
    c.kind = kindOf(j.value("kind", ""));
    c.path = ansiText(j.value("path", ""));
    c.made = j.value("made", false);
    if (c.kind == ChangeKind::Value) {
        c.hive = j.value("hive", std::uint32_t{0});
        c.key = ansiText(j.value("key", ""));
        c.name = ansiText(j.value("name", ""));
        const json& old = j.contains("old") ? j["old"] : json(nullptr);
        c.hadValue = old.is_object();
        if (c.hadValue) {
            c.oldType = old.value("type", std::uint32_t{0});
            c.oldBytes = bytesOfHex(old.value("data", ""));
        }
        if (j.contains("new") && j["new"].is_object()) {
            c.newType = j["new"].value("type", std::uint32_t{0});
            c.newBytes = bytesOfHex(j["new"].value("data", ""));
        }
        c.createdKey = ansiText(j.value("createdKey", ""));
        return c;
    }
    c.before = fileOf(j.contains("before") ? j["before"] : json(nullptr));
    c.after = fileOf(j.contains("after") ? j["after"] : json(nullptr));
    c.backup = j.value("backup", "");
    c.copied = j.value("copied", false);
    if (j.contains("identity"))
        takeIdentity(c, j["identity"]);
    takeRestart(c, j);
    c.tookBack = ansiText(j.value("tookBack", ""));
    return c;
}

// The record's text fields, by their names in the document.
struct RecordField {
    const char* name;
    char* text;
    std::size_t cap;
};

std::vector<RecordField> recordFields(InstallRecord& r)
{
    return {{"productName", r.productName, sizeof r.productName},
            {"productVersion", r.productVersion, sizeof r.productVersion},
            {"programDir", r.programDir, sizeof r.programDir},
            {"toolkitDir", r.toolkitDir, sizeof r.toolkitDir},
            {"toolkitVersion", r.toolkitVersion, sizeof r.toolkitVersion},
            {"ocrPath", r.ocrPath, sizeof r.ocrPath},
            {"pluginDir", r.pluginDir, sizeof r.pluginDir}};
}

std::string runDocument(const KeptRun& run)
{
    JsonText j;
    j.open('{');
    j.member("product").text(
        utf8(std::string(run.record.productName) + "\\" + run.record.productVersion));
    j.member("record").open('{');
    InstallRecord fields = run.record;
    for (const RecordField& f : recordFields(fields))
        j.member(f.name).text(utf8(f.text));
    j.member("installTime").number(installTime(run.record)).close('}');
    if (!run.adopted.empty())
        j.member("adopted").text(utf8(run.adopted));
    j.member("started").text(run.started).member("ended").text(run.ended);
    j.member("completed").boolean(run.completed).member("undone").boolean(run.undone);
    j.member("undoneAt").text(run.undoneAt);
    j.member("changes").open('[');
    for (const KeptChange& c : run.changes) {
        j.str() += "\n";
        writeChange(j, c);
    }
    j.close(']').close('}');
    return j.str() + "\n";
}

bool parseRunDocument(const std::string& text, KeptRun& run)
{
    const json doc = json::parse(text, nullptr, false);
    if (!doc.is_object() || !doc.contains("changes") || !doc["changes"].is_array())
        return false;
    if (doc.contains("record") && doc["record"].is_object()) {
        const json& record = doc["record"];
        for (const RecordField& f : recordFields(run.record))
            copyText(f.text, f.cap, ansiText(record.value(f.name, "")).c_str());
        const std::uint64_t time = record.value("installTime", std::uint64_t{0});
        run.record.installTimeLow = static_cast<std::uint32_t>(time);
        run.record.installTimeHigh = static_cast<std::uint32_t>(time >> 32);
    }
    run.adopted = ansiText(doc.value("adopted", ""));
    run.started = doc.value("started", "");
    run.ended = doc.value("ended", "");
    run.completed = doc.value("completed", false);
    run.undone = doc.value("undone", false);
    run.undoneAt = doc.value("undoneAt", "");
    for (const json& c : doc["changes"])
        if (c.is_object())
            run.changes.push_back(changeOf(c));
    return true;
}

// The notes of an interrupted run: one line per change made, as it was
// made; a line cut short by the interruption is not read.
void applyNotes(const std::string& text, KeptRun& run)
{
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            break;
        const json note = json::parse(text.substr(at, end - at), nullptr, false);
        at = end + 1;
        if (!note.is_object() || !note.contains("made") || !note["made"].is_number_unsigned())
            continue;
        const auto n = note["made"].get<std::size_t>();
        if (n >= run.changes.size())
            continue;
        run.changes[n].made = true;
        if (note.contains("identity"))
            takeIdentity(run.changes[n], note["identity"]);
        takeRestart(run.changes[n], note);
    }
}

std::string utcText(const SYSTEMTIME& t, bool forName)
{
    char buf[40];
    std::snprintf(buf, sizeof buf,
                  forName ? "%04u%02u%02uT%02u%02u%02uZ" : "%04u-%02u-%02u %02u:%02u:%02u", t.wYear,
                  t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    return buf;
}

std::string nowText()
{
    SYSTEMTIME now;
    GetSystemTime(&now);
    return utcText(now, false);
}

// Orders run names "<time>-<n>" by time, then by n as a number.
bool runBefore(const std::string& a, const std::string& b)
{
    const std::size_t da = a.rfind('-');
    const std::size_t db = b.rfind('-');
    const std::string ta = a.substr(0, da);
    const std::string tb = b.substr(0, db);
    if (ta != tb)
        return ta < tb;
    const long na = da == std::string::npos ? 0 : std::strtol(a.c_str() + da + 1, nullptr, 10);
    const long nb = db == std::string::npos ? 0 : std::strtol(b.c_str() + db + 1, nullptr, 10);
    return na < nb;
}

// A kept file's name: digits, and ".changed" for a file that an undo
// found changed and put aside.
bool isKeptFileName(const char* name)
{
    std::size_t n = 0;
    while (name[n] >= '0' && name[n] <= '9')
        ++n;
    return n > 0 && (name[n] == '\0' || std::strcmp(name + n, ".changed") == 0);
}

// Removes the kept files in folder (plain files of a kept file's name) and
// the numbered folders of them below it, then folder when that empties it.
// A folder reached through a link is left as it is: what it leads to is no
// run's.
void removeKeptFiles(const std::string& folder, bool below)
{
    if (!isFolderItself(folder.c_str()))
        return;
    WIN32_FIND_DATAA data;
    UniqueFind find(FindFirstFileA(joined(folder, "*").c_str(), &data));
    if (find) {
        do {
            const DWORD attributes = data.dwFileAttributes;
            if (attributes & FILE_ATTRIBUTE_REPARSE_POINT || !isKeptFileName(data.cFileName))
                continue;
            if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
                removeFileEntry(joined(folder, data.cFileName).c_str());
            else if (below)
                removeKeptFiles(joined(folder, data.cFileName), false);
        } while (FindNextFileA(find.get(), &data));
    }
    find.reset();
    if (isPlainDir(folder))
        RemoveDirectoryA(folder.c_str());
}

// Removes a run's folder: what a run writes there, then the folder; any
// other entry keeps it, and so does a folder reached through a link.
void removeRunFolder(const std::string& folder)
{
    if (!isFolderItself(folder.c_str()))
        return;
    removeKeptFiles(joined(folder, kFilesName), true);
    for (const char* name : {kRecordName, kRecordTemp, kNotesName})
        if (isPlainFile(joined(folder, name)))
            DeleteFileA(joined(folder, name).c_str());
    if (RemoveDirectoryA(folder.c_str()))
        return;
    // Something that no run writes is in it: the marker stays with it.
    WIN32_FIND_DATAA left;
    UniqueFind rest(FindFirstFileA(joined(folder, "*").c_str(), &left));
    bool others = false;
    if (rest) {
        do {
            others = others || (std::strcmp(left.cFileName, ".") != 0 &&
                                std::strcmp(left.cFileName, "..") != 0 &&
                                std::strcmp(left.cFileName, kMarkerName) != 0);
        } while (FindNextFileA(rest.get(), &left));
    }
    rest.reset();
    if (!others && isPlainFile(joined(folder, kMarkerName))) {
        DeleteFileA(joined(folder, kMarkerName).c_str());
        RemoveDirectoryA(folder.c_str());
    }
}

// The first key on the way to keyPath below root that does not exist; ""
// when every key does.
std::string firstMissingKey(HKEY root, const std::string& keyPath)
{
    for (std::size_t at = 0;;) {
        const std::size_t end = keyPath.find('\\', at);
        const std::string part = keyPath.substr(0, end);
        UniqueHkey key;
        if (RegOpenKeyExA(root, part.c_str(), 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
            return part;
        if (end == std::string::npos)
            return "";
        at = end + 1;
    }
}

// A copy of path at copy, a name that does not exist yet, on the disk and
// whole. Nothing is left at copy when it fails.
bool copyFlushed(const std::string& path, const std::string& copy)
{
    if (!CopyFileA(path.c_str(), copy.c_str(), TRUE))
        return false;
    const DWORD attributes = GetFileAttributesA(copy.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesA(copy.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    const KeptFile from = keptFileOf(path);
    const KeptFile to = keptFileOf(copy);
    if (!from.exists || !to.exists || from.size != to.size || !flushFile(copy)) {
        DeleteFileA(copy.c_str());
        return false;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        SetFileAttributesA(copy.c_str(), attributes);
    return true;
}

} // namespace

const char* kindName(ChangeKind kind)
{
    switch (kind) {
    case ChangeKind::Replaced:
        return "replaced";
    case ChangeKind::Deleted:
        return "deleted";
    case ChangeKind::Created:
        return "created";
    case ChangeKind::Value:
        break;
    }
    return "value";
}

KeptFile keptFileOf(const std::string& path)
{
    KeptFile f;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return f;
    f.exists = true;
    f.size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    f.time = (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
             data.ftLastWriteTime.dwLowDateTime;
    f.attributes = data.dwFileAttributes;
    return f;
}

std::string runsFolder()
{
    char programData[MAX_PATH + 1];
    if (SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, programData) !=
            S_OK ||
        isBlankText(programData))
        return "";
    return std::string(programData) + kRunsBelowProgramData;
}

namespace
{

// The folder above the patch's own ones: ProgramData, or (runs elsewhere)
// the folder above runs.
std::string programDataOf(const std::string& runs)
{
    const std::size_t below = std::strlen(kRunsBelowProgramData);
    if (runs.size() > below &&
        equalsNoCase(runs.substr(runs.size() - below).c_str(), kRunsBelowProgramData))
        return runs.substr(0, runs.size() - below);
    return runs.substr(0, runs.rfind('\\'));
}

} // namespace

std::string whyRunsUntrusted(const std::string& runs)
{
    return runs.empty() ? std::string() : whyFoldersUntrusted(programDataOf(runs), runs, true);
}

std::string refusalText(const std::string& why)
{
    return why + "; the patch keeps its runs only in folders that administrators alone can "
                 "change: remove that folder (a run makes it anew)";
}

std::uint32_t keepRunsSetting()
{
    UniqueHkey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPatchKey, 0, KEY_QUERY_VALUE, key.put()) !=
        ERROR_SUCCESS)
        return kDefaultKeepRuns;
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExA(key.get(), kKeepRunsValue, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                         &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof value)
        return kDefaultKeepRuns;
    return value;
}

std::vector<std::string> keptRunIds(const std::string& runs)
{
    std::vector<std::string> ids;
    if (runs.empty())
        return ids;
    WIN32_FIND_DATAA data;
    UniqueFind find(FindFirstFileA(joined(runs, "*").c_str(), &data));
    if (!find)
        return ids;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
            (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || data.cFileName[0] == '.')
            continue;
        if (isPlainFile(joined(joined(runs, data.cFileName), kMarkerName)))
            ids.emplace_back(data.cFileName);
    } while (FindNextFileA(find.get(), &data));
    std::sort(ids.begin(), ids.end(), runBefore);
    return ids;
}

bool readKeptRun(const std::string& runs, const std::string& id, KeptRun& run, std::string* why)
{
    run = KeptRun();
    run.id = id;
    run.folder = joined(runs, id);
    std::string text;
    auto refuse = [why](const std::string& reason) {
        if (why)
            *why = reason;
        return false;
    };
    const std::string untrusted = whyFolderUntrusted(run.folder);
    if (!untrusted.empty())
        return refuse("its folder is not the patch's own: " + untrusted);
    if (!isPlainFile(joined(run.folder, kMarkerName)))
        return refuse("no marker of a run");
    if (!readWhole(joined(run.folder, kRecordName), text))
        return refuse(std::string("its ") + kRecordName + " cannot be read");
    try {
        if (!parseRunDocument(text, run))
            return refuse(std::string("its ") + kRecordName + " is not a run's record");
        if (!run.completed && readWhole(joined(run.folder, kNotesName), text))
            applyNotes(text, run);
    } catch (const json::exception& e) {
        // A member of another type than the record's own.
        run.changes.clear();
        return refuse(std::string("its ") + kRecordName + " holds a value of the wrong type (" +
                      e.what() + ")");
    }
    return true;
}

namespace
{

// The files that one run's record says the run created, read without a
// JSON tree: the planning of a run reads the kept records, and a tree frees
// its members with allocations of its own, which cannot be let go of when
// memory runs out. Paths are kept with the identity noted, when noted.
class CreatedFiles : public json::json_sax_t
{
public:
    struct File {
        std::string path;
        bool identityKnown = false;
        FileIdentity identity;
    };
    std::vector<File> files;
    bool undone = false;

    bool null() override { return true; }
    bool boolean(bool value) override
    {
        if (depth_ == 1 && top_ == "undone")
            undone = value;
        else if (inChange() && key_ == "made")
            made_ = value;
        return true;
    }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t value) override
    {
        if (depth_ == 4 && inIdentity_ && numbers_ < 3)
            parts_[numbers_++] = static_cast<DWORD>(value);
        return true;
    }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t& value) override
    {
        if (inChange() && key_ == "kind")
            kind_ = value;
        else if (inChange() && key_ == "path")
            path_ = value;
        return true;
    }
    bool binary(binary_t&) override { return true; }
    bool start_object(std::size_t) override
    {
        if (++depth_ == 3 && top_ == "changes") {
            kind_.clear();
            path_.clear();
            made_ = false;
            numbers_ = 0;
        }
        return true;
    }
    bool key(string_t& name) override
    {
        if (depth_ == 1)
            top_ = name;
        else if (inChange())
            key_ = name;
        return true;
    }
    bool end_object() override
    {
        if (inChange() && kind_ == "created" && made_ && !path_.empty()) {
            File file;
            file.path = ansiText(path_);
            file.identityKnown = numbers_ == 3;
            file.identity.volume = parts_[0];
            file.identity.indexHigh = parts_[1];
            file.identity.indexLow = parts_[2];
            files.push_back(std::move(file));
        }
        --depth_;
        return true;
    }
    bool start_array(std::size_t) override
    {
        inIdentity_ = ++depth_ == 4 && inChangeAt(3) && key_ == "identity";
        return true;
    }
    bool end_array() override
    {
        inIdentity_ = false;
        --depth_;
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override
    {
        return false;
    }

private:
    bool inChange() const { return inChangeAt(depth_); }
    bool inChangeAt(int depth) const { return depth == 3 && top_ == "changes"; }

    int depth_ = 0;
    std::string top_;
    std::string key_;
    std::string kind_;
    std::string path_;
    bool made_ = false;
    bool inIdentity_ = false;
    int numbers_ = 0;
    DWORD parts_[3] = {0, 0, 0};
};

} // namespace

std::vector<std::string> filesCreatedByKeptRuns(const std::string& runs)
{
    std::vector<std::string> created;
    for (const std::string& id : keptRunIds(runs)) {
        const std::string folder = joined(runs, id);
        std::string text;
        if (!whyFolderUntrusted(folder).empty() || !readWhole(joined(folder, kRecordName), text))
            continue;
        CreatedFiles record;
        if (!json::sax_parse(text, &record) || record.undone)
            continue;
        for (const CreatedFiles::File& file : record.files) {
            FileIdentity now;
            if (file.identityKnown &&
                !(identityOf(file.path.c_str(), now) && now.sameFileAs(file.identity)))
                continue;
            created.emplace_back();
            normalPathText(file.path.c_str(), created.back());
        }
    }
    return created;
}

bool writeKeptRun(const KeptRun& run)
{
    return writeWhole(joined(run.folder, kRecordName), joined(run.folder, kRecordTemp),
                      runDocument(run));
}

void pruneKeptRuns(const std::string& runs, std::size_t keep)
{
    if (!whyRunsUntrusted(runs).empty())
        return;
    std::vector<std::string> ids = keptRunIds(runs);
    for (std::size_t i = 0; i + keep < ids.size(); ++i)
        removeRunFolder(joined(runs, ids[i]));
}

std::string keptFileName(std::size_t n)
{
    return std::string(kFilesName) + "\\" + std::to_string(n / kFilesPerFolder) + "\\" +
           std::to_string(n + 1);
}

bool makeKeptFolder(const KeptRun& run, std::size_t n)
{
    const std::string name = keptFileName(n);
    const std::string folder = joined(run.folder, name.substr(0, name.rfind('\\')));
    return makeOwnFolder(folder) || isPlainDir(folder);
}

std::string backupPath(const KeptRun& run, const KeptChange& change)
{
    return change.backup.empty() ? std::string() : joined(run.folder, change.backup);
}

namespace
{

std::string volumeOf(const std::string& path)
{
    char root[MAX_PATH + 1];
    if (!GetVolumePathNameA(path.c_str(), root, sizeof root))
        return "";
    return root;
}

} // namespace

std::vector<BackupCopies> backupCopies(const RunPlan& plan, const std::string& runs)
{
    std::vector<BackupCopies> copies;
    const std::string home = volumeOf(runs);
    auto add = [&](const std::string& path, std::uint64_t size) {
        const std::string volume = volumeOf(path);
        if (!home.empty() && equalsNoCase(volume.c_str(), home.c_str()))
            return;
        for (BackupCopies& c : copies)
            if (equalsNoCase(c.volume.c_str(), volume.c_str())) {
                ++c.files;
                c.bytes += size;
                return;
            }
        copies.push_back({volume, 1, size});
    };
    for (const PlannedFile& f : plan.files)
        if (f.restore && f.exists)
            add(f.entry.path, f.actual.size);
    for (const std::string& path : plan.cleanup.deletes)
        add(path, keptFileOf(path).size);
    return copies;
}

struct RunKeeper::State {
    const RunPlan& plan;
    std::uint32_t keep = 0;
    bool on = false;     // keeping what the run changes
    bool failed = false; // on, and the run's record cannot be had
    std::string runs;
    KeptRun run;
    // For each planned restore, deletion and value: its change, or -1.
    std::vector<int> fileChange;
    std::vector<int> deleteChange;
    std::vector<int> valueChange;
    UniqueFile notes;

    explicit State(const RunPlan& p) : plan(p) {}

    int add(KeptChange change)
    {
        if (change.kind != ChangeKind::Created && change.kind != ChangeKind::Value)
            change.backup = keptFileName(run.changes.size());
        run.changes.push_back(std::move(change));
        return static_cast<int>(run.changes.size() - 1);
    }

    void note(int n, const FileIdentity* placed, bool atRestart = false,
              const std::string& waiting = std::string())
    {
        KeptChange& change = run.changes[static_cast<std::size_t>(n)];
        change.made = true;
        change.atRestart = atRestart;
        change.waiting = waiting;
        if (placed) {
            change.identityKnown = true;
            change.identity = *placed;
        }
        if (!notes)
            return;
        try {
            JsonText line;
            line.open('{').member("made").number(static_cast<std::uint64_t>(n));
            writeIdentity(line, change);
            writeRestart(line, change);
            line.close('}');
            writeAll(notes.get(), line.str() + "\n");
        } catch (...) {
            // Without its note the change is still undone: by what is there.
        }
    }

    bool makeFolder()
    {
        if (runs.empty())
            return false;
        // Only in folders of the patch's own: none that another user
        // could have planted a record in.
        const std::string refusal = makeOwnFolders(programDataOf(runs), runs);
        if (!refusal.empty()) {
            DiagLog("\n>Error keeping what the run changes: %s", refusalText(refusal).c_str());
            return false;
        }
        SYSTEMTIME now;
        GetSystemTime(&now);
        const std::string stamp = utcText(now, true);
        // Numbered after every run of the same second, so that the names
        // keep the order of the runs.
        long first = 1;
        WIN32_FIND_DATAA data;
        UniqueFind find(FindFirstFileA(joined(runs, stamp + "-*").c_str(), &data));
        if (find) {
            do {
                first = std::max(first,
                                 std::strtol(data.cFileName + stamp.size() + 1, nullptr, 10) + 1);
            } while (FindNextFileA(find.get(), &data));
        }
        find.reset();
        for (long n = first; n < first + 100 && run.folder.empty(); ++n) {
            const std::string id = stamp + "-" + std::to_string(n);
            const std::string folder = joined(runs, id);
            if (makeOwnFolder(folder)) {
                run.id = id;
                run.folder = folder;
            } else if (GetLastError() != ERROR_ALREADY_EXISTS) {
                return false;
            }
        }
        if (run.folder.empty())
            return false;
        run.started = utcText(now, false);
        UniqueFile marker(CreateFileA(joined(run.folder, kMarkerName).c_str(), GENERIC_WRITE, 0,
                                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!marker || !writeAll(marker.get(), kMarkerText))
            return false;
        marker.reset();
        if (!makeOwnFolder(joined(run.folder, kFilesName)))
            return false;
        notes.reset(CreateFileA(joined(run.folder, kNotesName).c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
        return notes && writeKeptRun(run);
    }
};

RunKeeper::RunKeeper(const RunPlan& plan) : state_(new State(plan))
{
    State& s = *state_;
    s.keep = keepRunsSetting();
    s.on = s.keep > 0 && plan.changeCount() > 0;
    if (!s.on)
        return;
    s.runs = runsFolder();
    s.run.record = plan.record;
    for (const PlannedFile& f : plan.files)
        if (f.relocatesToolkit)
            s.run.adopted = plan.record.toolkitDir;
    for (const PlannedFile& f : plan.files) {
        int n = -1;
        if (f.restore) {
            KeptChange change;
            change.kind = f.exists ? ChangeKind::Replaced : ChangeKind::Created;
            change.path = f.entry.path;
            change.before = {f.exists, f.actual.size, f.actual.time, f.attributes};
            change.after = {true, f.expected().size, f.expected().time, 0};
            n = s.add(std::move(change));
        }
        s.fileChange.push_back(n);
    }
    for (const std::string& path : plan.cleanup.deletes) {
        KeptChange change;
        change.kind = ChangeKind::Deleted;
        change.path = path;
        change.before = keptFileOf(path);
        s.deleteChange.push_back(s.add(std::move(change)));
    }
    for (const PlannedValue& v : plan.registry) {
        int n = -1;
        if (v.changes) {
            KeptChange change;
            change.kind = ChangeKind::Value;
            change.path = valuePathOf(v.entry);
            change.hive = v.entry.hive;
            change.key = v.entry.keyPath;
            change.name = v.entry.valueName;
            change.hadValue = v.current.exists;
            change.oldType = v.current.type;
            change.oldBytes = v.current.bytes;
            change.newType = v.wanted.type;
            change.newBytes = v.wanted.bytes;
            if (!v.current.exists)
                change.createdKey = firstMissingKey(registryRoot(v.entry.hive), change.key);
            n = s.add(std::move(change));
        }
        s.valueChange.push_back(n);
    }
}

RunKeeper::~RunKeeper() = default;

bool RunKeeper::begin()
{
    State& s = *state_;
    if (!s.on)
        return true;
    try {
        // This run will be one of those kept.
        pruneKeptRuns(s.runs, s.keep - 1);
        if (!s.makeFolder()) {
            s.notes.reset();
            if (!s.run.folder.empty())
                removeRunFolder(s.run.folder);
            s.failed = true;
        }
    } catch (...) {
        s.failed = true;
    }
    // A folder made before memory ran out, still empty: no run's.
    if (s.failed && !s.run.folder.empty())
        RemoveDirectoryA(s.run.folder.c_str());
    return !s.failed;
}

bool RunKeeper::beforeRestore(std::size_t index)
{
    State& s = *state_;
    if (!s.on)
        return true;
    if (s.failed || index >= s.fileChange.size() || s.fileChange[index] < 0)
        return false;
    try {
        KeptChange& change = s.run.changes[static_cast<std::size_t>(s.fileChange[index])];
        if (change.kind != ChangeKind::Replaced)
            return true;
        // The old file itself, by a second name in the run's folder: the
        // replace then only moves the target's name to the new copy.
        const std::string backup = backupPath(s.run, change);
        makeKeptFolder(s.run, static_cast<std::size_t>(s.fileChange[index]));
        if (CreateHardLinkA(backup.c_str(), change.path.c_str(), nullptr))
            return true;
        change.copied = copyFlushed(change.path, backup);
        return change.copied;
    } catch (...) {
        return false;
    }
}

namespace
{

// Removes a kept second name of the live file at path (or a kept copy of
// it). A read-only file's names share that attribute: it is cleared for the
// removal and given back to the file.
void dropKeptLink(const std::string& backup, const std::string& path)
{
    if (DeleteFileA(backup.c_str()) || GetLastError() != ERROR_ACCESS_DENIED)
        return;
    const DWORD attributes = GetFileAttributesA(backup.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY))
        return;
    SetFileAttributesA(backup.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    const bool gone = DeleteFileA(backup.c_str()) != FALSE;
    SetFileAttributesA(gone ? path.c_str() : backup.c_str(), attributes);
}

} // namespace

void RunKeeper::afterRestore(std::size_t index, Restored restored, const FileIdentity* placed,
                             const std::string& waiting)
{
    State& s = *state_;
    const bool made = restored == Restored::now || restored == Restored::atRestart;
    if (!s.on || s.failed || index >= s.fileChange.size() || s.fileChange[index] < 0)
        return;
    if (made) {
        s.note(s.fileChange[index], placed, restored == Restored::atRestart, waiting);
        return;
    }
    // Not replaced: the old file kept for it goes at once, so that no kept
    // file shares its data with a live file that the run did not change.
    const KeptChange& change = s.run.changes[static_cast<std::size_t>(s.fileChange[index])];
    if (change.kind == ChangeKind::Replaced) {
        try {
            dropKeptLink(backupPath(s.run, change), change.path);
        } catch (...) {
            // Short of memory: the record says it was not made all the same.
        }
    }
}

namespace
{

// Deletes a file in use at the next start; Restored::inUse when that
// cannot be asked for. Only the file planned, still in the folder held: an
// open that needs no sharing tells it. With a backup name, it is kept
// first as it is now, by a second name (or a flushed copy, copied then
// set); the backup goes again when the deletion cannot be asked for.
Restored deleteAtRestart(const std::string& path, const FileIdentity& planned,
                         const HeldFolder& folder, const std::string& backup, bool* copied)
{
    UniqueFile file(openInFolder(path.c_str(), 0, planned, folder));
    if (!file)
        return GetLastError() == kNotAsPlanned ? Restored::no : Restored::inUse;
    if (!backup.empty() && !CreateHardLinkA(backup.c_str(), path.c_str(), nullptr)) {
        *copied = copyByHandle(file.get(), backup);
        if (!*copied)
            return Restored::inUse;
    }
    if (scheduleAtRestart(path.c_str(), nullptr))
        return Restored::atRestart;
    if (!backup.empty())
        DeleteFileA(backup.c_str());
    return Restored::inUse;
}

} // namespace

Restored RunKeeper::removeStray(std::size_t index, const HeldFolder& folder, bool atRestart)
{
    State& s = *state_;
    const std::string& path = s.plan.cleanup.deletes[index];
    const std::vector<FileIdentity>& seen = s.plan.cleanup.seen.files;
    // Only the file that the plan listed, still in the folder held: the
    // move or deletion then goes through its handle, never by its path.
    const FileIdentity planned = index < seen.size() ? seen[index] : FileIdentity();
    UniqueFile file(openInFolder(path.c_str(), DELETE | FILE_WRITE_ATTRIBUTES, planned, folder));
    DWORD error = file ? ERROR_SUCCESS : GetLastError();
    if (!s.on) {
        if (file && deleteByHandle(file.get()))
            return Restored::now;
        if (file)
            error = GetLastError();
        file.reset();
        if (!isInUseFailure(error, path.c_str()))
            return Restored::no;
        return atRestart ? deleteAtRestart(path, planned, folder, std::string(), nullptr)
                         : Restored::inUse;
    }
    if (s.failed || index >= s.deleteChange.size())
        return Restored::no;
    const int n = s.deleteChange[index];
    KeptChange& change = s.run.changes[static_cast<std::size_t>(n)];
    std::string backup;
    try {
        backup = backupPath(s.run, change);
        makeKeptFolder(s.run, static_cast<std::size_t>(n));
    } catch (...) {
        return Restored::no;
    }
    bool gone = file && moveByHandle(file.get(), backup);
    if (file && !gone)
        error = GetLastError();
    if (file && !gone && error == ERROR_NOT_SAME_DEVICE) {
        change.copied = copyByHandle(file.get(), backup);
        error = GetLastError();
        if (change.copied) {
            gone = deleteByHandle(file.get());
            error = GetLastError();
            if (!gone)
                DeleteFileA(backup.c_str());
        }
    }
    file.reset();
    if (gone) {
        s.note(n, nullptr);
        return Restored::now;
    }
    if (!isInUseFailure(error, path.c_str()))
        return Restored::no;
    if (!atRestart)
        return Restored::inUse;
    const Restored done = deleteAtRestart(path, planned, folder, backup, &change.copied);
    if (done == Restored::atRestart)
        s.note(n, nullptr, true);
    return done;
}

void RunKeeper::tookBack(std::size_t index, bool deletion, const std::string& from)
{
    State& s = *state_;
    const std::vector<int>& changes = deletion ? s.deleteChange : s.fileChange;
    if (!s.on || s.failed || index >= changes.size() || changes[index] < 0)
        return;
    try {
        s.run.changes[static_cast<std::size_t>(changes[index])].tookBack = from;
    } catch (...) {
        // Short of memory: only the record's note of it is lost.
    }
}

bool RunKeeper::beforeValue(std::size_t index)
{
    // A value that already holds its data is written as ever: that
    // changes nothing.
    const State& s = *state_;
    return !s.on || !s.failed || index >= s.valueChange.size() || s.valueChange[index] < 0;
}

void RunKeeper::afterValue(std::size_t index, bool made)
{
    State& s = *state_;
    if (s.on && !s.failed && made && index < s.valueChange.size() && s.valueChange[index] >= 0)
        s.note(s.valueChange[index], nullptr);
}

void RunKeeper::finish()
{
    State& s = *state_;
    if (!s.on || s.failed || s.run.folder.empty())
        return;
    try {
        s.run.completed = true;
        s.run.ended = nowText();
        if (writeKeptRun(s.run)) {
            s.notes.reset();
            DeleteFileA(joined(s.run.folder, kNotesName).c_str());
        }
    } catch (...) {
        // The notes stay: the record is read as an interrupted run's.
    }
}
