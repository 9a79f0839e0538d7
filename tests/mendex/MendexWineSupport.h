// Helpers for the update engine's tests under Wine: file stamps (size and
// last-write time) as the update script writes them, script lines, and the
// diagnostic log read back.
#pragma once

#include "FindExport.h"
#include "InstallRecord.h"
#include "LogCapture.h"
#include "Mendex.h"
#include "WinTestSupport.h"

#include <aclapi.h>
#include <sddl.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>

namespace mendextest
{

// Size and last-write time of a file, as the directory listing reports them.
struct Stamp {
    std::uint32_t sizeLow = 0;
    std::uint32_t sizeHigh = 0;
    std::uint32_t timeLow = 0;
    std::uint32_t timeHigh = 0;
};

inline Stamp stampOf(const std::string& path)
{
    Stamp s;
    WIN32_FIND_DATAA data;
    UniqueFind find(FindFirstFileA(path.c_str(), &data));
    EXPECT_TRUE(find) << "no file " << path;
    if (find) {
        s.sizeLow = data.nFileSizeLow;
        s.sizeHigh = data.nFileSizeHigh;
        s.timeLow = data.ftLastWriteTime.dwLowDateTime;
        s.timeHigh = data.ftLastWriteTime.dwHighDateTime;
    }
    return s;
}

// Sets a file's last-write time (100 ns units since 1601).
inline void setWriteTime(const std::string& path, std::uint64_t time)
{
    UniqueFile f(CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                             OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(f) << "cannot open " << path;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(time);
    ft.dwHighDateTime = static_cast<DWORD>(time >> 32);
    ASSERT_TRUE(SetFileTime(f.get(), nullptr, nullptr, &ft));
}

// A file with the given bytes and last-write time.
inline void makeFile(const std::string& path, const std::string& bytes,
                     std::uint64_t time = 0x01D0000012345600ull)
{
    wintest::writeFile(path, bytes);
    setWriteTime(path, time);
}

// The value of a "File" record for path with the stamp s.
inline std::string fileRecord(const std::string& path, const Stamp& s)
{
    char buf[1024];
    std::snprintf(buf, sizeof buf, "File=%s,size:%X-%X,time:%X-%X\n", path.c_str(), s.sizeHigh,
                  s.sizeLow, s.timeHigh, s.timeLow);
    return buf;
}

// The system's default language as a script header, e.g. "[409]".
inline std::string languageHeader()
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "[%x]\n", GetSystemDefaultLangID());
    return buf;
}

// Counts the occurrences of piece in text.
inline int countOf(const std::string& text, const std::string& piece)
{
    int n = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos;
         at = text.find(piece, at + piece.size()))
        ++n;
    return n;
}

// The product whose sections the tests' data files hold.
constexpr const char* kProductName = "Scan Suite";
constexpr const char* kProductVersion = "2.0";
constexpr const char* kProductHeader = "[Scan Suite\\2.0]\n";

// Calls RepairPixoraApp of the built Mendex.dll, loaded for the one call
// with the diagnostic log switched on into logDir (the log is complete when
// the call returns, since the library is unloaded).
class UpdateRunner
{
public:
    explicit UpdateRunner(const std::string& logDir) : logDir_(logDir)
    {
        switch_.setDword("DebugOn", 1);
        switch_.setString("Log Path", logDir_);
    }

    int run(InstallRecord& record)
    {
        UniqueModule lib(LoadLibraryA((wintest::exeDir() + "Mendex.dll").c_str()));
        EXPECT_TRUE(lib) << "Mendex.dll did not load";
        if (!lib)
            return 1;
        auto repair = findExport<RepairPixoraAppFn>(lib.get(), "RepairPixoraApp");
        EXPECT_NE(repair, nullptr);
        if (!repair)
            return 1;
        return repair(&record);
    }

    // Calls RepairPixoraAppEx likewise; its report into report.
    int runEx(InstallRecord& record, int options, RepairCounts& counts, std::string& report)
    {
        UniqueModule lib(LoadLibraryA((wintest::exeDir() + "Mendex.dll").c_str()));
        auto repair = findExport<RepairPixoraAppExFn>(lib.get(), "RepairPixoraAppEx");
        EXPECT_NE(repair, nullptr);
        if (!repair)
            return 1000;
        std::string buffer(65536, '?');
        const int result = repair(&record, options, &counts, &buffer[0], 65536);
        report = buffer.substr(0, buffer.find('\0'));
        return result;
    }

    // Calls VerifyPixoraApp likewise; its report (capacity bytes) into
    // report.
    int verify(const InstallRecord* record, std::string& report, int capacity = 65536)
    {
        report.clear();
        UniqueModule lib(LoadLibraryA((wintest::exeDir() + "Mendex.dll").c_str()));
        EXPECT_TRUE(lib) << "Mendex.dll did not load";
        auto verify = findExport<VerifyPixoraAppFn>(lib.get(), "VerifyPixoraApp");
        EXPECT_NE(verify, nullptr);
        if (!verify)
            return 1000;
        std::string buffer(static_cast<std::size_t>(capacity > 0 ? capacity : 1), '?');
        const int result = verify(record, capacity > 0 ? &buffer[0] : nullptr, capacity);
        if (capacity > 0)
            report = buffer.substr(0, buffer.find('\0'));
        return result;
    }

    // The entries of the log, between its banners.
    std::string log() const { return readLogEntries(logDir_ + "\\OvUpdErr.log"); }
    // The whole log file, banners included.
    std::string rawLog() const { return wintest::readFile(logDir_ + "\\OvUpdErr.log"); }

    void clearLog() const { DeleteFileA((logDir_ + "\\OvUpdErr.log").c_str()); }

private:
    wintest::ScratchKey switch_{HKEY_LOCAL_MACHINE, "Software\\Orvantis\\Diagnostic"};
    std::string logDir_;
};

// A record for the tests' product with the given directories.
inline InstallRecord makeRecord(const std::string& programDir, const std::string& toolkitDir,
                                const std::string& ocrPath = "",
                                const std::string& toolkitVersion = "1.2")
{
    InstallRecord r;
    std::memset(&r, 0, sizeof r);
    std::snprintf(r.productName, sizeof r.productName, "%s", kProductName);
    std::snprintf(r.productVersion, sizeof r.productVersion, "%s", kProductVersion);
    std::snprintf(r.programDir, sizeof r.programDir, "%s", programDir.c_str());
    std::snprintf(r.toolkitDir, sizeof r.toolkitDir, "%s", toolkitDir.c_str());
    std::snprintf(r.ocrPath, sizeof r.ocrPath, "%s", ocrPath.c_str());
    std::snprintf(r.toolkitVersion, sizeof r.toolkitVersion, "%s", toolkitVersion.c_str());
    r.usageCount = 7;
    return r;
}

// Every file below dir with its bytes and last-write time ("<dir>" for a
// folder), by path, added to out: what a step must leave as it was.
inline void snapshotTree(const std::string& dir, std::map<std::string, std::string>& out)
{
    for (const std::string& name : wintest::listDir(dir)) {
        const std::string path = dir + "\\" + name;
        if (wintest::dirExists(path)) {
            out[path] = "<dir>";
            snapshotTree(path, out);
            continue;
        }
        const Stamp s = stampOf(path);
        const DWORD attributes =
            GetFileAttributesA(path.c_str()) &
            (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
        out[path] = wintest::readFile(path) + "|" + std::to_string(s.timeHigh) + "-" +
                    std::to_string(s.timeLow) + "|" + std::to_string(attributes);
    }
}

// Lets every user change folder: Everyone granted full control, which Wine
// keeps as the Unix 'other' write bit (and reports back as Everyone's full
// access).
inline void letOthersChange(const std::string& folder)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        "D:(A;OICI;FA;;;WD)", SDDL_REVISION_1, &sd, nullptr));
    const UniqueLocal owned(sd);
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted));
    std::string name = folder;
    ASSERT_EQ(SetNamedSecurityInfoA(name.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                    nullptr, dacl, nullptr),
              static_cast<DWORD>(ERROR_SUCCESS))
        << folder;
}

// A test of whole runs: the patch folder (the current directory of a run:
// data files and SOURCE), the installation with its program and toolkit
// folders, and the diagnostic log switched on for the built library.
class PatchedInstallation : public ::testing::Test
{
protected:
    explicit PatchedInstallation(const std::string& name)
        : patch_(name + "-patch"), inst_(name + "-inst"), logs_(name + "-log"),
          runner_(logs_.path())
    {
    }

    void SetUp() override
    {
        wintest::makeDirs(patch_ / "SOURCE");
        wintest::makeDirs(toolkit_);
        wintest::makeDirs(program_);
    }

    // A good source in the patch and the script line for it at where.
    std::string source(const std::string& name, const std::string& bytes, const std::string& where)
    {
        makeFile(patch_ / ("SOURCE\\" + name), bytes, 0x01D0000000100000ull + bytes.size());
        return fileRecord(where, stampOf(patch_ / ("SOURCE\\" + name)));
    }
    void writeScript(const std::string& records)
    {
        wintest::writeFile(patch_ / "Update.src", languageHeader() + kProductHeader + records);
    }
    void writeResolve(const std::string& lines)
    {
        wintest::writeFile(patch_ / "Resolve.src", kProductHeader + lines);
    }
    int run(InstallRecord& record)
    {
        wintest::CurrentDir cd(patch_.path());
        return runner_.run(record);
    }
    int runEx(InstallRecord& record, int options, RepairCounts& counts, std::string& report)
    {
        wintest::CurrentDir cd(patch_.path());
        return runner_.runEx(record, options, counts, report);
    }
    // The check after a run, on a fresh log: it writes none of its own, and
    // leaves the log on (its closing banner is written at the unload).
    int verify(const InstallRecord& record, std::string& report, int capacity = 65536)
    {
        wintest::CurrentDir cd(patch_.path());
        runner_.clearLog();
        const int result = runner_.verify(&record, report, capacity);
        EXPECT_EQ(runner_.rawLog(),
                  "---------------- Log Start\r\n\r\n\r\n---------------- Log End\r\n");
        return result;
    }

    wintest::TempDir patch_;
    wintest::TempDir inst_;
    wintest::TempDir logs_;
    UpdateRunner runner_;
    std::string toolkit_ = inst_ / "VEXsoft\\PLUGINS12";
    std::string program_ = inst_ / "Scanner";
};

} // namespace mendextest
