// The patch driver's whole sequence without a screen: a recording host in
// place of the progress window, and scripted libraries copied beside the driver
// under the names Scoutex.dll and Mendex.dll, with the real patchres.dll and
// devprobe.exe.
#include "PatchDriver.h"
#include "SetupDlg.h"
#include "WinHandle.h"
#include "WinTestSupport.h"
#include "resource.h"
#include "Text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

using namespace wintest;

namespace
{

// The progress window as the run sees it, recording every call.
class FakeHost : public PatchHost
{
public:
    std::vector<int> answers; // buttons pressed in the message boxes, in order
    // When set, every box signals boxUp and stays up until boxAnswered.
    UniqueKernelHandle boxUp;
    UniqueKernelHandle boxAnswered;
    // When set, called as the closing message box (caption "Pixora Update",
    // information icon) is answered.
    std::function<void()> onClosingBox;

    int ShowMessage(const char* text, const char* caption, UINT type) override
    {
        record("box " + std::string(caption) + "|" + std::to_string(type) + "|" + text);
        if (boxUp) {
            SetEvent(boxUp.get());
            WaitForSingleObject(boxAnswered.get(), INFINITE);
        }
        if (onClosingBox && type == MB_ICONINFORMATION)
            onClosingBox();
        std::lock_guard<std::mutex> lock(mutex_);
        if (answers.empty())
            return IDOK;
        const int answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    }
    void SetProgress(int pos) override
    {
        std::string status;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            status = status_;
        }
        record("progress " + std::to_string(pos) + " " + status);
    }
    void SetStatus(const char* text) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        status_ = text;
    }
    void Close(int result) override { record("end " + std::to_string(result)); }

    std::vector<std::string> events()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    bool saw(const std::string& event)
    {
        for (const std::string& e : events())
            if (e == event)
                return true;
        return false;
    }
    std::vector<std::string> withPrefix(const std::string& prefix)
    {
        std::vector<std::string> out;
        for (const std::string& e : events())
            if (e.compare(0, prefix.size(), prefix) == 0)
                out.push_back(e);
        return out;
    }

private:
    void record(const std::string& e)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(e);
    }
    std::mutex mutex_;
    std::string status_;
    std::vector<std::string> events_;
};

// One run with its host and its log.
struct Harness {
    explicit Harness(const std::string& setupDir, const std::string& logPath = "")
    {
        if (!logPath.empty())
            log.Open(logPath.c_str());
        copyText(run.m_szSetupDir, setupDir.c_str());
        run.m_pauseMs = 0;
    }
    RunLog log;
    FakeHost host;
    PatchRun run{host, log};
};

std::string text(UINT id)
{
    static HMODULE texts =
        LoadLibraryExA((exeDir() + "patchres.dll").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    char buf[1024] = {};
    LoadStringA(texts, id, buf, sizeof buf);
    return buf;
}

std::vector<std::string> lines(const std::string& bytes)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            end = bytes.size();
        out.push_back(bytes.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

// Waits up to 30 s for a line that a started program writes (a busy
// machine can be slow to start one). The file exists a moment before its
// line is in it.
bool appears(const std::string& path)
{
    for (int i = 0; i < 600; ++i) {
        if (fileExists(path)) {
            const std::string text = readFile(path);
            if (!text.empty() && text.back() == '\n')
                return true;
        }
        Sleep(50);
    }
    return false;
}

void copyIn(const std::string& from, const std::string& to)
{
    ASSERT_TRUE(CopyFileA((exeDir() + from).c_str(), to.c_str(), FALSE)) << from;
}

const std::vector<std::string> kFullProgress = {"20",  "40",  "80",  "100",
                                                "160", "180", "220", "250"};

// The lines of a run log without their time stamps.
std::vector<std::string> logLines(const std::string& path)
{
    std::vector<std::string> out;
    for (std::string line : lines(fileExists(path) ? readFile(path) : "")) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        out.push_back(line.size() > 24 ? line.substr(24) : line); // "YYYY-MM-DD hh:mm:ss.mmm "
    }
    return out;
}

// The status line that the run showed at progress 180.
std::string statusAt180(FakeHost& host)
{
    std::string status = "<not reached>";
    for (const std::string& e : host.withPrefix("progress 180 "))
        status = e.substr(13);
    return status;
}

// The run log holds the lines of logged in this order, and its outcome.
template <typename Lines>
void expectLogged(const std::vector<std::string>& log, const Lines& logged, const char* outcome,
                  int exitCode)
{
    std::size_t at = 0;
    for (const std::string& wanted : logged) {
        while (at < log.size() && log[at] != wanted)
            ++at;
        EXPECT_LT(at, log.size()) << "no \"" << wanted << "\" in its place in the log";
    }
    const std::string line =
        std::string("outcome: ") + outcome + ", exit code " + std::to_string(exitCode);
    EXPECT_NE(std::find(log.begin(), log.end(), line), log.end()) << line;
}

// The run on a thread of its own, as the window starts it.
std::unique_ptr<FwThread> startRun(PatchRun& run)
{
    std::unique_ptr<FwThread> thread(FwBeginThread(&PatchThreadProc, &run));
    EXPECT_NE(thread, nullptr);
    return thread;
}

DWORD threadResult(const FwThread& thread)
{
    DWORD code = 0;
    GetExitCodeThread(thread.Handle(), &code);
    return code;
}

// Waits up to 30 s for the log at path to hold a line that begins with
// prefix.
bool logShows(const std::string& path, const std::string& prefix)
{
    for (int i = 0; i < 3000; ++i) {
        for (const std::string& line : logLines(path))
            if (line.compare(0, prefix.size(), prefix) == 0)
                return true;
        Sleep(10);
    }
    return false;
}

class PatchDriver : public ::testing::Test
{
protected:
    TempDir dir_{"setup driver"}; // a directory with a blank in its name
    Harness h_{setupDir(), dir_ / "run.log"};
    FakeHost& host_ = h_.host;
    PatchRun& run_ = h_.run;

    std::string setupDir() { return dir_.path() + "\\"; }

    void SetUp() override
    {
        copyIn("patchres.dll", dir_ / "patchres.dll");
        copyIn("devprobe.exe", dir_ / "devprobe.exe");
        copyIn("ScriptedLibrary.dll", dir_ / "Scoutex.dll");
        copyIn("ScriptedLibrary.dll", dir_ / "Mendex.dll");
    }

    void search(const std::string& script) { writeFile(dir_ / "search.txt", script); }
    void repair(const std::string& script) { writeFile(dir_ / "repair.txt", script); }
    std::vector<std::string> calls()
    {
        return fileExists(dir_ / "calls.txt") ? lines(readFile(dir_ / "calls.txt"))
                                              : std::vector<std::string>{};
    }
    UINT run() { return run_.Run(); }

    std::vector<std::string> progress(FakeHost& host)
    {
        std::vector<std::string> out;
        for (const std::string& e : host.withPrefix("progress "))
            out.push_back(e.substr(9, e.find(' ', 9) - 9));
        return out;
    }
    std::vector<std::string> progress() { return progress(host_); }
    std::string statusAt(int pos)
    {
        const std::string prefix = "progress " + std::to_string(pos) + " ";
        for (const std::string& e : host_.withPrefix(prefix))
            return e.substr(prefix.size());
        return "<not reached>";
    }
    bool probeStarted() { return appears(dir_ / "devprobe.log"); }
    bool probeNotStarted()
    {
        Sleep(300);
        return !fileExists(dir_ / "devprobe.log");
    }
    void expectFinalBox(UINT id)
    {
        const auto boxes = host_.withPrefix("box ");
        ASSERT_FALSE(boxes.empty());
        EXPECT_EQ(boxes.back(), "box Pixora Update|64|" + text(id));
    }
    // The run was cancelled: thread result -1, exit code 1602, the window
    // closed with the Cancel result, and no step begun after the request.
    void expectCancelled(Harness& h, DWORD result, const std::string& logPath)
    {
        EXPECT_EQ(result, static_cast<DWORD>(-1));
        EXPECT_EQ(h.run.m_exitCode, kExitCancelled);
        EXPECT_EQ(h.host.events().back(), "end 2");
        const std::vector<std::string> log = logLines(logPath);
        std::size_t i = 0;
        while (i < log.size() && log[i] != "cancel requested")
            ++i;
        ASSERT_LT(i, log.size()) << "no cancel request in the log";
        // A step that had begun may still log its result; none begins.
        for (std::size_t j = i + 1; j < log.size(); ++j)
            EXPECT_NE(log[j].rfind("step: ", 0), 0u) << "after the request: " << log[j];
        EXPECT_EQ(log.back(), "cancelled, exit code 1602");
    }
};

TEST_F(PatchDriver, CancelInTheConfirmationLoadsNothingAndClosesTheWindow)
{
    search("0|Pixora Scan|3.0|1|1\n");
    host_.answers = {IDCANCEL};
    EXPECT_EQ(run(), static_cast<UINT>(-1));
    EXPECT_EQ(run_.m_exitCode, kExitCancelled);
    const std::vector<std::string> expected = {"box Pixora Update|65|" + text(IDS_CONFIRM),
                                               "end 1"};
    EXPECT_EQ(host_.events(), expected);
    EXPECT_TRUE(calls().empty());
    EXPECT_FALSE(text(IDS_CONFIRM).empty());
    EXPECT_TRUE(probeNotStarted());
}

TEST_F(PatchDriver, NoProductEndsWithTheErrorNoticeAndTouchesNeitherMendexNorTheProbe)
{
    search("");
    EXPECT_EQ(run(), static_cast<UINT>(-1));
    EXPECT_EQ(run_.m_exitCode, kExitNotFound);
    const std::vector<std::string> expected = {"box Pixora Update|65|" + text(IDS_CONFIRM),
                                               "progress 20 " + text(IDS_SEARCHING),
                                               "progress 40 " + text(IDS_SEARCHING),
                                               "progress 80 " + text(IDS_SEARCHING),
                                               "box Pixora Update Error|16|" +
                                                   text(IDS_ERROR_NOTICE),
                                               "end 1"};
    EXPECT_EQ(host_.events(), expected);
    const std::vector<std::string> seq = {"load Scoutex.dll", "search zeroed",
                                          "unload Scoutex.dll"};
    EXPECT_EQ(calls(), seq);
    EXPECT_FALSE(run_.m_hResLib);
    EXPECT_TRUE(probeNotStarted());
}

TEST_F(PatchDriver, FullRunOldestFirstChoosesTheNewest)
{
    search("0|Pixora Scan|2.0|1|100\n0|Pixora Scan|3.0|1|200\n");
    repair("0");
    run_.m_pauseMs = kUpdatePauseMs;
    const DWORD start = GetTickCount();
    EXPECT_EQ(run(), 0u);
    EXPECT_GE(GetTickCount() - start, kUpdatePauseMs - 50); // the pause before the update
    EXPECT_EQ(run_.m_exitCode, kExitUpdated);
    EXPECT_EQ(progress(), kFullProgress);
    EXPECT_EQ(statusAt(100), "...Pixora Scan 3.0");
    EXPECT_EQ(statusAt(160), "...Pixora Scan 3.0");
    EXPECT_EQ(statusAt(180), text(IDS_UPDATE_DONE));
    expectFinalBox(IDS_UPDATE_DONE);
    EXPECT_EQ(host_.events().back(), "end 1");
    const std::vector<std::string> seq = {"load Scoutex.dll",
                                          "search zeroed",
                                          "search zeroed",
                                          "search zeroed",
                                          "unload Scoutex.dll",
                                          "load Mendex.dll",
                                          "repairex options=1|Pixora Scan|3.0|C:\\Pixora "
                                          "Scan\\3.0|1:200|capacity=65536|scoutex loaded=0",
                                          "repairex options=2|Pixora Scan|3.0|C:\\Pixora "
                                          "Scan\\3.0|1:200|capacity=65536|scoutex loaded=0",
                                          "verify Pixora Scan|3.0|C:\\Pixora Scan\\3.0|"
                                          "capacity=65536",
                                          "unload Mendex.dll"};
    EXPECT_EQ(calls(), seq);
    // Every field of the chosen record is the newest one's.
    EXPECT_STREQ(run_.m_chosen.toolkitDir, "tk-3.0");
    EXPECT_STREQ(run_.m_chosen.pluginDir, "pl-3.0");
    EXPECT_STREQ(run_.m_chosen.toolkitVersion, "tv-3.0");
    EXPECT_STREQ(run_.m_chosen.ocrPath, "ocr-3.0");
    EXPECT_EQ(run_.m_chosen.ocrLanguage, 7u);
    EXPECT_EQ(run_.m_chosen.toolkitBuild, 8u);
    EXPECT_EQ(run_.m_chosen.usageCount, 9u);
    EXPECT_FALSE(run_.m_hResLib);
    EXPECT_FALSE(run_.m_hScoutex);
    EXPECT_FALSE(run_.m_hMendex);
    EXPECT_TRUE(probeStarted());
}

TEST_F(PatchDriver, NewestFirstKeepsTheNewestAndAnOlderOneChangesNothing)
{
    // High words compare first, both unsigned: 2:0 is newer than 1:FFFFFFFF.
    search("0|Pixora Scan|3.0|2|0\n0|Pixora Scan|2.0|1|0xFFFFFFFF\n");
    repair("0");
    EXPECT_EQ(run(), 0u);
    EXPECT_EQ(statusAt(100), "...Pixora Scan 3.0");
    EXPECT_EQ(calls()[7], "repairex options=2|Pixora Scan|3.0|C:\\Pixora Scan\\3.0|2:0|"
                          "capacity=65536|scoutex loaded=0");
}

TEST_F(PatchDriver, EqualTimesChooseTheOneReportedLast)
{
    search("0|Pixora Scan|2.0|5|5\n0|Pixora Lite|1.0|5|5\n");
    repair("0");
    EXPECT_EQ(run(), 0u);
    EXPECT_EQ(statusAt(100), "...Pixora Lite 1.0");
    EXPECT_EQ(calls()[7], "repairex options=2|Pixora Lite|1.0|C:\\Pixora Lite\\1.0|5:5|"
                          "capacity=65536|scoutex loaded=0");
}

TEST_F(PatchDriver, ProductWindowOpenStopsBeforeTheUpdate)
{
    search("0|Pixora Scan|3.0|1|1\n");
    // Any window class; titles compare without regard to case.
    HWND window = CreateWindowExA(0, "STATIC", "PIXORA SCAN", WS_POPUP, 0, 0, 10, 10, nullptr,
                                  nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    const UINT result = run();
    DestroyWindow(window);
    EXPECT_EQ(result, static_cast<UINT>(-1));
    EXPECT_EQ(run_.m_exitCode, kExitBusy);
    const auto events = host_.events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2],
              "box Scanner Update Error|16|" + text(IDS_PRODUCT_RUNNING));
    EXPECT_EQ(events.back(), "end 1");
    EXPECT_EQ(progress(), (std::vector<std::string>{"20", "40", "80"}));
    const std::vector<std::string> seq = {"load Scoutex.dll", "search zeroed", "search zeroed",
                                          "unload Scoutex.dll"};
    EXPECT_EQ(calls(), seq);
    EXPECT_FALSE(run_.m_hResLib);
    EXPECT_TRUE(probeNotStarted());
}

TEST_F(PatchDriver, EmptyProductNameIsNotTakenForAnUntitledWindow)
{
    search("0||3.0|1|1\n");
    repair("0");
    HWND untitled = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                    nullptr, nullptr);
    ASSERT_NE(untitled, nullptr);
    const UINT result = run();
    DestroyWindow(untitled);
    EXPECT_EQ(result, 0u);
    EXPECT_TRUE(host_.withPrefix("box Scanner Update Error").empty());
    EXPECT_EQ(progress(), kFullProgress);
    EXPECT_TRUE(probeStarted());
}

// A completed update (0, or -15: some copies failed) is checked before the
// library is unloaded. The exit code, the outcome, the status after the update
// and the closing text follow the update's result and the check's findings,
// which the run log lists. A check that cannot be made (an older library
// without it, or its -1) leaves the update's own outcome; a failed update is
// not checked.
TEST_F(PatchDriver, CompletedUpdateIsCheckedAndEndsAsTheCheckFinds)
{
    struct Row {
        const char* repair;  // repair.txt
        const char* verify;  // verify.txt; null: none
        const char* library; // the stand-in for Mendex.dll
        bool checked;        // VerifyPixoraApp is called
        int exitCode;
        const char* outcome;
        UINT status;                     // the status line after the update
        UINT closing;                    // the closing message
        std::vector<std::string> logged; // run log lines, in this order
    };
    const char* scripted = "ScriptedLibrary.dll";
    const Row rows[] = {
        {"-15",
         nullptr,
         scripted,
         true,
         kExitIncomplete,
         "some files could not be restored",
         IDS_UPDATE_FAILED,
         IDS_ERROR_NOTICE,
         {"update result -15", "step: verify", "verify result 0", "step: progress 160"}},
        {"0",
         "2\nfile C:\\Scan\\PXOCR.DLL: missing\nunlisted file C:\\Kit\\STRAY.TMP\n",
         scripted,
         true,
         kExitIncomplete,
         "the installation does not match",
         IDS_UPDATE_FAILED,
         IDS_ERROR_NOTICE,
         {"update result 0", "step: verify", "verify result 2",
          "does not match: file C:\\Scan\\PXOCR.DLL: missing",
          "does not match: unlisted file C:\\Kit\\STRAY.TMP", "step: progress 160"}},
        {"0",
         "-1",
         scripted,
         true,
         kExitUpdated,
         "updated",
         IDS_UPDATE_DONE,
         IDS_UPDATE_DONE,
         {"update result 0", "step: verify", "verify result -1", "step: progress 160"}},
        {"0",
         nullptr,
         "ScriptedOldLibrary.dll",
         false,
         kExitUpdated,
         "updated",
         IDS_UPDATE_DONE,
         IDS_UPDATE_DONE,
         {"update result 0", "verify not available", "step: progress 160"}},
        {"-15",
         "1\nfile C:\\Scan\\PXOCR.DLL: missing\n",
         scripted,
         true,
         kExitIncomplete,
         "some files could not be restored",
         IDS_UPDATE_FAILED,
         IDS_ERROR_NOTICE,
         {"verify result 1", "does not match: file C:\\Scan\\PXOCR.DLL: missing"}},
        {"-1",
         "3\n",
         scripted,
         false,
         kExitFailed,
         "the update failed",
         IDS_UPDATE_FAILED,
         IDS_UPDATE_FAILED,
         {"update result -1", "step: progress 160"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string("repair ") + row.repair + ", verify " +
                     (row.verify ? row.verify : "<none>") + ", " + row.library);
        TempDir dir("outcome");
        for (const char* file : {"patchres.dll", "devprobe.exe"})
            copyIn(file, dir / file);
        copyIn("ScriptedLibrary.dll", dir / "Scoutex.dll");
        copyIn(row.library, dir / "Mendex.dll");
        writeFile(dir / "search.txt", "0|Pixora Scan|3.0|1|1\n0|Pixora Scan|2.5|0|1\n");
        writeFile(dir / "repair.txt", row.repair);
        if (row.verify)
            writeFile(dir / "verify.txt", row.verify);
        Harness h(dir.path() + "\\", dir / "run.log");
        EXPECT_EQ(h.run.Run(), 0u);
        EXPECT_EQ(h.run.m_exitCode, row.exitCode);
        EXPECT_EQ(progress(h.host), kFullProgress);
        const std::string status = statusAt180(h.host);
        EXPECT_EQ(status, text(row.status));
        const auto boxes = h.host.withPrefix("box ");
        ASSERT_FALSE(boxes.empty());
        EXPECT_EQ(boxes.back(), "box Pixora Update|64|" + text(row.closing));
        EXPECT_EQ(h.host.events().back(), "end 1");
        const std::vector<std::string> log = logLines(dir / "run.log");
        expectLogged(log, row.logged, row.outcome, row.exitCode);
        const std::string calls = readFile(dir / "calls.txt");
        EXPECT_EQ(calls.find("verify Pixora Scan|3.0|C:\\Pixora Scan\\3.0|capacity=65536\n") !=
                      std::string::npos,
                  row.checked);
        // The check comes before the library goes.
        if (row.checked) {
            EXPECT_LT(calls.find("verify "), calls.find("unload Mendex.dll"));
        }
        EXPECT_TRUE(appears(dir / "devprobe.log"));
        EXPECT_FALSE(h.run.m_hMendex);
    }
}

// Files in use, with a Mendex.dll that has RepairPixoraAppEx: before the
// first change it is asked which files that the update must replace or
// delete are in use. Interactively the box lists each program that holds one
// once: Try Again looks again, Continue and unattended runs leave them for
// the restart, Cancel changes nothing. Files left for the restart end the run
// with 3010 (the check counts them as not matching: only findings beyond
// them are 1604), or 1641 once Setup has started the restart: asked for
// interactively, without asking by /forcerestart, never by /norestart or
// unattended. An older library updates as before.
TEST_F(PatchDriver, FilesInUseAreAskedAboutAndLeftForTheRestart)
{
    const std::string kit = "C:\\Kit\\PXOCR.DLL";
    const std::string stray = "C:\\Kit\\STRAY.TMP";
    const std::string busyKit = "busy\t" + kit + "\tPXSCAN.EXE (pid 42)\tPXTWAIN.EXE (pid 7)\n";
    const std::string busyBoth = "busy\t" + kit + "\tPXSCAN.EXE (pid 42)\nbusy\t" + stray +
                                 "\tanother program\tPXSCAN.EXE (pid 42)\n";
    auto busyBox = [](const std::string& holders) {
        return "box Pixora Update|310|" + text(IDS_FILES_IN_USE) + "\n\n" + holders + "\n\n" +
               text(IDS_CLOSE_PROGRAMS);
    };
    const std::string askBox =
        "box Pixora Update|36|" + text(IDS_RESTART_NEEDED) + "\n\n" + text(IDS_RESTART_QUESTION);
    const std::string leftBox = "box Pixora Update|64|" + text(IDS_RESTART_NEEDED);
    const std::string forceBox = leftBox + "\n\n" + text(IDS_RESTARTING);
    const std::string failedBox = "box Pixora Update|48|" + text(IDS_RESTART_FAILED);
    const std::string doneBox = "box Pixora Update|64|" + text(IDS_UPDATE_DONE);
    const std::string noticeBox = "box Pixora Update|64|" + text(IDS_ERROR_NOTICE);
    const std::string restartLine = "restart\t" + kit + "\tPXSCAN.EXE (pid 42)\n";
    const std::string atRestart = "at restart: " + kit + " (in use by PXSCAN.EXE (pid 42))";
    const char* scripted = "ScriptedLibrary.dll";
    struct Row {
        const char* what;
        std::string repairex; // repairex.txt
        const char* verify;   // verify.txt; null: none
        const char* library;  // the stand-in for Mendex.dll
        SetupMode mode;
        SetupRestart restart;
        std::vector<int> answers; // after the confirmation
        DWORD restartError;       // what starting the restart returns
        int exitCode;
        const char* outcome;
        std::vector<std::string> boxes;  // after the confirmation
        int restarts;                    // restarts started
        std::vector<int> options;        // of the calls of RepairPixoraAppEx, in order
        std::vector<std::string> logged; // run log lines, in this order
    };
    const Row rows[] = {
        {"busy, Try Again, free",
         "find 1\n" + busyKit + "find 0\nrun 0 2 1 0 0\n",
         nullptr,
         scripted,
         SetupMode::Interactive,
         SetupRestart::Default,
         {IDTRYAGAIN},
         0,
         kExitUpdated,
         "updated",
         {busyBox("PXSCAN.EXE (pid 42)\nPXTWAIN.EXE (pid 7)"), doneBox},
         0,
         {1, 1, 2},
         {"step: look for files in use", "files in use: 1",
          "in use: " + kit + " (in use by PXSCAN.EXE (pid 42), PXTWAIN.EXE (pid 7))",
          "files in use: try again", "step: look for files in use", "files in use: 0",
          "step: update", "update result 0",
          "update counts: restored 2, deleted 1, scheduled 0, failed 0"}},
        {"busy, Continue, no restart now",
         "find 2\n" + busyBoth + "run 0 1 0 2 0\n" + restartLine + "restart\t" + stray +
             "\tanother program\n",
         "2\nfile C:\\Kit\\PXOCR.DLL: expected size 1 time 2, found size 3 time 4\nunlisted file "
         "C:\\Kit\\STRAY.TMP\n",
         scripted,
         SetupMode::Interactive,
         SetupRestart::Default,
         {IDCONTINUE, IDNO},
         0,
         kExitRestartNeeded,
         "updated, a restart finishes it",
         {busyBox("PXSCAN.EXE (pid 42)\nanother program"), askBox},
         0,
         {1, 2},
         {"files in use: 2",
          "in use: " + stray + " (in use by another program, PXSCAN.EXE (pid 42))",
          "files in use: continue, left for the restart", "update result 0",
          "update counts: restored 1, deleted 0, scheduled 2, failed 0", atRestart,
          "at restart: " + stray + " (in use by another program)", "verify result 2",
          "the check's 2 finding(s) are within the 2 file(s) left for the restart",
          "restart now: no"}},
        {"busy, Cancel",
         "find 1\n" + busyKit + "run 0 1 0 0 0\n",
         nullptr,
         scripted,
         SetupMode::Interactive,
         SetupRestart::Default,
         {IDCANCEL},
         0,
         kExitCancelled,
         "cancelled, files in use",
         {busyBox("PXSCAN.EXE (pid 42)\nPXTWAIN.EXE (pid 7)")},
         0,
         {1},
         {"files in use: 1", "files in use: cancel", "step: unload Mendex.dll"}},
        {"/quiet: no box, left for the restart",
         "find 1\n" + busyKit + "run 0 0 0 1 0\n" + restartLine,
         "1\nfile C:\\Kit\\PXOCR.DLL: missing\n",
         scripted,
         SetupMode::Quiet,
         SetupRestart::Default,
         {},
         0,
         kExitRestartNeeded,
         "updated, a restart finishes it",
         {leftBox},
         0,
         {1, 2},
         {"files in use: 1", "files in use: left for the restart", atRestart}},
        {"in use only during the run, restart now",
         "run 0 0 0 1 0\n" + restartLine,
         nullptr,
         scripted,
         SetupMode::Interactive,
         SetupRestart::Default,
         {IDYES},
         0,
         kExitRestartStarted,
         "updated, the restart that finishes it has begun",
         {askBox},
         1,
         {1, 2},
         {"files in use: 0", atRestart, "restart now: yes", "restart the computer"}},
        {"/passive /forcerestart",
         "find 1\n" + busyKit + "run 0 0 0 1 0\n" + restartLine,
         nullptr,
         scripted,
         SetupMode::Passive,
         SetupRestart::Force,
         {},
         0,
         kExitRestartStarted,
         "updated, the restart that finishes it has begun",
         {forceBox},
         1,
         {1, 2},
         {"files in use: left for the restart", "restart the computer"}},
        {"/quiet /forcerestart, the restart cannot be started",
         "run 0 0 0 1 0\n" + restartLine,
         nullptr,
         scripted,
         SetupMode::Quiet,
         SetupRestart::Force,
         {},
         ERROR_ACCESS_DENIED,
         kExitRestartNeeded,
         "updated, a restart finishes it",
         {forceBox, failedBox},
         1,
         {1, 2},
         {"restart the computer", "the restart could not be started (error 5)"}},
        {"/norestart, the look cannot be made",
         "find -1\nrun 0 0 0 1 0\n" + restartLine,
         nullptr,
         scripted,
         SetupMode::Interactive,
         SetupRestart::Never,
         {},
         0,
         kExitRestartNeeded,
         "updated, a restart finishes it",
         {leftBox},
         0,
         {1, 2},
         {"files in use: -1", "step: update", atRestart}},
        {"the check finds more than the files left for the restart",
         "run 0 0 0 1 0\n" + restartLine,
         "2\nfile C:\\Kit\\PXOCR.DLL: missing\nfile C:\\Scan\\PXSCAN.EXE: missing\n",
         scripted,
         SetupMode::Interactive,
         SetupRestart::Default,
         {},
         0,
         kExitIncomplete,
         "the installation does not match",
         {noticeBox},
         0,
         {1, 2},
         {atRestart, "verify result 2", "does not match: file C:\\Scan\\PXSCAN.EXE: missing"}},
        {"a file in use neither replaced nor left for the restart",
         "run -15 0 0 1 1\n" + restartLine + "failed\t" + stray + "\tPXTWAIN.EXE (pid 7)\n",
         nullptr,
         scripted,
         SetupMode::Quiet,
         SetupRestart::Force,
         {},
         0,
         kExitIncomplete,
         "some files could not be restored",
         {noticeBox},
         0,
         {1, 2},
         {"update result -15", atRestart,
          "failed, in use: " + stray + " (in use by PXTWAIN.EXE (pid 7))"}},
        {"an older library",
         "find 1\n" + busyKit + "run 0 0 0 1 0\n",
         nullptr,
         "ScriptedOldLibrary.dll",
         SetupMode::Interactive,
         SetupRestart::Force,
         {},
         0,
         kExitUpdated,
         "updated",
         {doneBox},
         0,
         {},
         {"Mendex.dll without RepairPixoraAppEx: files in use are not looked for", "step: update",
          "update result 0"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir("in use");
        for (const char* file : {"patchres.dll", "devprobe.exe"})
            copyIn(file, dir / file);
        copyIn("ScriptedLibrary.dll", dir / "Scoutex.dll");
        copyIn(row.library, dir / "Mendex.dll");
        writeFile(dir / "search.txt", "0|Pixora Scan|3.0|1|1\n0|Pixora Scan|2.5|0|1\n");
        writeFile(dir / "repair.txt", "0");
        writeFile(dir / "repairex.txt", row.repairex);
        if (row.verify)
            writeFile(dir / "verify.txt", row.verify);
        Harness h(dir.path() + "\\", dir / "run.log");
        h.run.m_mode = row.mode;
        h.run.m_restart = row.restart;
        h.host.answers = {IDOK};
        h.host.answers.insert(h.host.answers.end(), row.answers.begin(), row.answers.end());
        int restarts = 0;
        const DWORD restartError = row.restartError;
        h.run.m_startRestart = [&restarts, restartError] {
            ++restarts;
            return restartError;
        };
        const bool cancelled = row.exitCode == kExitCancelled;
        EXPECT_EQ(h.run.Run(), cancelled ? static_cast<UINT>(-1) : 0u);
        EXPECT_EQ(h.run.m_exitCode, row.exitCode);
        EXPECT_EQ(restarts, row.restarts);
        std::vector<std::string> boxes = h.host.withPrefix("box ");
        ASSERT_FALSE(boxes.empty());
        boxes.erase(boxes.begin()); // the confirmation
        EXPECT_EQ(boxes, row.boxes);
        EXPECT_EQ(h.host.events().back(), "end 1");
        const std::string restartStatus = text(IDS_RESTART_STATUS);
        const std::string status = statusAt180(h.host);
        EXPECT_EQ(status, cancelled                         ? "<not reached>"
                          : row.exitCode == kExitUpdated    ? text(IDS_UPDATE_DONE)
                          : row.exitCode == kExitIncomplete ? text(IDS_UPDATE_FAILED)
                                                            : restartStatus);
        const std::vector<std::string> cancelledProgress = {"20", "40", "80", "100"};
        EXPECT_EQ(progress(h.host), cancelled ? cancelledProgress : kFullProgress);
        const std::vector<std::string> log = logLines(dir / "run.log");
        expectLogged(log, row.logged, row.outcome, row.exitCode);
        std::vector<int> options;
        bool older = false;
        for (const std::string& call : lines(readFile(dir / "calls.txt"))) {
            if (call.rfind("repairex options=", 0) == 0)
                options.push_back(std::atoi(call.c_str() + 17));
            older = older || call.rfind("repair Pixora Scan|", 0) == 0;
        }
        EXPECT_EQ(options, row.options);
        EXPECT_EQ(older, row.options.empty());
        if (cancelled) {
            Sleep(300);
            EXPECT_FALSE(fileExists(dir / "devprobe.log"));
        } else {
            EXPECT_TRUE(appears(dir / "devprobe.log"));
        }
        EXPECT_FALSE(h.run.m_hMendex);
    }
}

// /undo: after the confirmation the installations are searched for, and
// then Mendex is loaded and its undo called for the newest kept run, with
// every installation found; its result gives the exit code, the status line
// and the closing message, and every line of its report goes on the run
// log. Nothing updated, no hardware check started. Cancel in the
// confirmation calls nothing.
TEST_F(PatchDriver, UndoEndsAsTheUndoOfTheNewestKeptRunSays)
{
    struct Row {
        const char* undo; // undo.txt
        int exitCode;
        const char* outcome;
        UINT closing;                    // the status line and the closing message
        std::vector<std::string> logged; // run log lines, in this order
    };
    const Row rows[] = {
        {"0\nput back file C:\\Scan\\PXSCAN.EXE\n",
         kExitUpdated,
         "undone",
         IDS_UNDO_DONE,
         {"step: undo", "undo result 0", "undo: put back file C:\\Scan\\PXSCAN.EXE",
          "step: progress 160"}},
        {"1\nput back file C:\\Scan\\PXSCAN.EXE\n\nkept file C:\\Kit\\PXOCR.DLL: changed since the "
         "run\nput back registry HKLM\\Software\\Orvantis\\Pixora Scan\\3.0\\PluginPath\n",
         kExitIncomplete,
         "undone, files changed since the run were kept",
         IDS_UNDO_KEPT,
         {"undo result 1", "undo: put back file C:\\Scan\\PXSCAN.EXE",
          "undo: kept file C:\\Kit\\PXOCR.DLL: changed since the run",
          "undo: put back registry HKLM\\Software\\Orvantis\\Pixora Scan\\3.0\\PluginPath"}},
        {"2\n", kExitNotFound, "no run to undo", IDS_UNDO_NOTHING, {"undo result 2"}},
        {nullptr, kExitNotFound, "no run to undo", IDS_UNDO_NOTHING, {"undo result 2"}},
        {"-1\nrestore of C:\\Scan\\PXSCAN.EXE failed\n",
         kExitFailed,
         "the undo failed",
         IDS_UNDO_FAILED,
         {"undo result -1", "undo: restore of C:\\Scan\\PXSCAN.EXE failed"}},
        {"7\n", kExitFailed, "the undo failed", IDS_UNDO_FAILED, {"undo result 7"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string("undo ") + (row.undo ? row.undo : "<none>"));
        TempDir dir("undo");
        for (const char* file : {"patchres.dll", "devprobe.exe"})
            copyIn(file, dir / file);
        copyIn("ScriptedLibrary.dll", dir / "Scoutex.dll");
        copyIn("ScriptedLibrary.dll", dir / "Mendex.dll");
        writeFile(dir / "search.txt", "0|Pixora Scan|3.0|1|1\n0|Pixora Scan|2.5|0|1\n");
        writeFile(dir / "repair.txt", "0");
        if (row.undo)
            writeFile(dir / "undo.txt", row.undo);
        Harness h(dir.path() + "\\", dir / "run.log");
        h.run.m_undo = true;
        EXPECT_EQ(h.run.Run(), 0u);
        EXPECT_EQ(h.run.m_exitCode, row.exitCode);
        const std::vector<std::string> events = {"box Pixora Update|65|" + text(IDS_UNDO_CONFIRM),
                                                 "progress 20 " + text(IDS_UNDOING),
                                                 "progress 100 " + text(IDS_UNDOING),
                                                 "progress 160 " + text(IDS_UNDOING),
                                                 "progress 180 " + text(row.closing),
                                                 "progress 250 " + text(row.closing),
                                                 "box Pixora Update|64|" + text(row.closing),
                                                 "end 1"};
        EXPECT_EQ(h.host.events(), events);
        const std::vector<std::string> log = logLines(dir / "run.log");
        expectLogged(log, row.logged, row.outcome, row.exitCode);
        for (const std::string& line : log)
            EXPECT_NE(line, "undo: ") << "an empty report line is not logged";
        // The newest kept run, without options, into the whole buffer,
        // within both installations found.
        const std::vector<std::string> seq = {
            "load Scoutex.dll",
            "search zeroed",
            "search zeroed",
            "search zeroed",
            "unload Scoutex.dll",
            "load Mendex.dll",
            "undoex <null>|options=0|capacity=" + std::to_string(kUndoReportSize) +
                "|count=2|Pixora Scan\\3.0 in C:\\Pixora Scan\\3.0|Pixora Scan\\2.5 in "
                "C:\\Pixora Scan\\2.5|scoutex loaded=0",
            "unload Mendex.dll"};
        EXPECT_EQ(lines(readFile(dir / "calls.txt")), seq);
        EXPECT_FALSE(h.run.m_hMendex);
        EXPECT_FALSE(h.run.m_hResLib);
        EXPECT_FALSE(fileExists(dir / "devprobe.log"));
    }

    writeFile(dir_ / "undo.txt", "0\n");
    run_.m_undo = true;
    host_.answers = {IDCANCEL};
    EXPECT_EQ(run(), static_cast<UINT>(-1));
    EXPECT_EQ(run_.m_exitCode, kExitCancelled);
    const std::vector<std::string> cancelled = {"box Pixora Update|65|" + text(IDS_UNDO_CONFIRM),
                                                "end 1"};
    EXPECT_EQ(host_.events(), cancelled);
    EXPECT_TRUE(calls().empty());
    EXPECT_TRUE(logShows(dir_ / "run.log", "outcome: not confirmed, exit code 1602"));
}

// /undo with a Mendex.dll that is missing, older (without the undo) or
// without any export: 1603 with the loading error, nothing called.
TEST_F(PatchDriver, UndoWithoutMendexOrItsExportIsReportedAndNothingIsUndone)
{
    writeFile(dir_ / "undo.txt", "0\n");
    for (const char* library : {"", "ScriptedOldLibrary.dll", "NoExports.dll"}) {
        SCOPED_TRACE(*library ? library : "missing");
        DeleteFileA((dir_ / "calls.txt").c_str());
        DeleteFileA((dir_ / "Mendex.dll").c_str());
        if (*library)
            copyIn(library, dir_ / "Mendex.dll");
        const std::string logPath = dir_ / (std::string(*library ? library : "missing") + ".log");
        Harness h(setupDir(), logPath);
        h.run.m_undo = true;
        EXPECT_EQ(h.run.Run(), static_cast<UINT>(-1));
        EXPECT_EQ(h.run.m_exitCode, kExitFailed);
        const std::vector<std::string> events = {
            "box Pixora Update|65|" + text(IDS_UNDO_CONFIRM), "progress 20 " + text(IDS_UNDOING),
            "box Error Loading Mendex.dll|16|" + text(IDS_LOAD_FAILED), "end 1"};
        EXPECT_EQ(h.host.events(), events);
        EXPECT_TRUE(logShows(logPath, "outcome: Mendex.dll or its export missing, exit code 1603"));
        for (const std::string& call : calls())
            EXPECT_EQ(call.rfind("undo ", 0), std::string::npos) << call;
        EXPECT_FALSE(h.run.m_hMendex);
        EXPECT_FALSE(h.run.m_hResLib);
        EXPECT_EQ(GetModuleHandleA("Mendex.dll"), nullptr);
    }
}

TEST_F(PatchDriver, OtherUpdateFailureShowsTheFailedStatusAndTheClosingText)
{
    search("0|Pixora Scan|3.0|1|1\n");
    repair("-1");
    EXPECT_EQ(run(), 0u);
    EXPECT_EQ(run_.m_exitCode, kExitFailed);
    EXPECT_EQ(statusAt(180), text(IDS_UPDATE_FAILED));
    // The closing message tells of the failure, not that all is up to date.
    expectFinalBox(IDS_UPDATE_FAILED);
    EXPECT_TRUE(probeStarted());
}

TEST_F(PatchDriver, SearchErrorEndsTheEnumerationAtOnceWithNothingChosen)
{
    // A found installation followed by a failing search: the found mark is
    // cleared and the loop does not call again.
    for (const char* failure : {"-11", "-8", "-1"}) {
        SCOPED_TRACE(failure);
        DeleteFileA((dir_ / "calls.txt").c_str());
        Harness h(setupDir());
        search(std::string("0|Pixora Scan|3.0|1|1\n") + failure + "\n0|Pixora Scan|4.0|1|2\n");
        EXPECT_EQ(h.run.Run(), static_cast<UINT>(-1));
        EXPECT_EQ(h.run.m_exitCode, kExitNotFound);
        const auto boxes = h.host.withPrefix("box ");
        ASSERT_EQ(boxes.size(), 2u);
        EXPECT_EQ(boxes[1], "box Pixora Update Error|16|" + text(IDS_ERROR_NOTICE));
        const std::vector<std::string> seq = {"load Scoutex.dll", "search zeroed", "search zeroed",
                                              "unload Scoutex.dll"};
        EXPECT_EQ(calls(), seq);
    }
}

TEST_F(PatchDriver, MissingScoutexIsReportedAndOneElsewhereOnTheSearchPathIsNotLoaded)
{
    DeleteFileA((dir_ / "Scoutex.dll").c_str());
    // A library of that name in the current directory must not be taken.
    TempDir planted("planted");
    copyIn("ScriptedLibrary.dll", planted / "Scoutex.dll");
    CurrentDir cwd(planted.path());
    EXPECT_EQ(run(), static_cast<UINT>(-1));
    EXPECT_EQ(run_.m_exitCode, kExitFailed);
    const auto events = host_.events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2],
              "box Error Loading Scoutex.dll|16|" + text(IDS_LOAD_FAILED));
    EXPECT_EQ(events.back(), "end 1");
    EXPECT_EQ(progress(), (std::vector<std::string>{"20"}));
    EXPECT_FALSE(fileExists(planted / "calls.txt"));
    EXPECT_TRUE(calls().empty());
}

TEST_F(PatchDriver, ScoutexWithoutItsExportIsReportedLikeAMissingOne)
{
    copyIn("NoExports.dll", dir_ / "Scoutex.dll");
    EXPECT_EQ(run(), static_cast<UINT>(-1));
    EXPECT_EQ(run_.m_exitCode, kExitFailed);
    EXPECT_TRUE(host_.saw("box Error Loading Scoutex.dll|16|" + text(IDS_LOAD_FAILED)));
    EXPECT_FALSE(run_.m_hScoutex);
    EXPECT_EQ(GetModuleHandleA("Scoutex.dll"), nullptr);
    EXPECT_EQ(host_.events().back(), "end 1");
}

TEST_F(PatchDriver, MissingMendexOrItsExportIsReportedAndNothingIsUpdated)
{
    for (bool present : {false, true}) {
        SCOPED_TRACE(present ? "without export" : "missing");
        DeleteFileA((dir_ / "calls.txt").c_str());
        if (present)
            copyIn("NoExports.dll", dir_ / "Mendex.dll");
        else
            DeleteFileA((dir_ / "Mendex.dll").c_str());
        const std::string logPath = dir_ / (present ? "noexport.log" : "missing.log");
        Harness h(setupDir(), logPath);
        search("0|Pixora Scan|3.0|1|1\n");
        EXPECT_EQ(h.run.Run(), static_cast<UINT>(-1));
        EXPECT_EQ(h.run.m_exitCode, kExitFailed);
        const auto events = h.host.events();
        ASSERT_GE(events.size(), 2u);
        EXPECT_EQ(events[events.size() - 2],
                  "box Error Loading Mendex.dll|16|" + text(IDS_LOAD_FAILED));
        EXPECT_EQ(events.back(), "end 1");
        for (const std::string& line : logLines(logPath))
            EXPECT_NE(line.rfind("step: wait", 0), 0u) << line;
        EXPECT_FALSE(h.run.m_hMendex);
        EXPECT_FALSE(h.run.m_hResLib);
        EXPECT_EQ(GetModuleHandleA("Mendex.dll"), nullptr);
    }
    EXPECT_TRUE(probeNotStarted());
}

TEST_F(PatchDriver, ProbeCommandGetsExactlyOneBackslash)
{
    search("0|Pixora Scan|3.0|1|1\n");
    repair("0");
    copyText(run_.m_szSetupDir, dir_.path().c_str()); // no trailing backslash
    EXPECT_EQ(run(), 0u);
    EXPECT_EQ(std::string(run_.m_szProbeCmd), dir_ / "devprobe.exe");
    EXPECT_TRUE(probeStarted());

    Harness again(setupDir());
    DeleteFileA((dir_ / "calls.txt").c_str());
    EXPECT_EQ(again.run.Run(), 0u);
    EXPECT_EQ(std::string(again.run.m_szProbeCmd), dir_ / "devprobe.exe");
}

TEST_F(PatchDriver, ProbeInADirectoryWithABlankStartsNoOtherProgram)
{
    // The setup directory is C:\fwtest\setup driver-...: a program planted
    // as C:\fwtest\setup.exe would be started by an unquoted command line.
    const std::string planted = "C:\\fwtest\\setup.exe";
    copyIn("devprobe.exe", planted);
    search("0|Pixora Scan|3.0|1|1\n");
    repair("0");
    EXPECT_EQ(run(), 0u);
    EXPECT_TRUE(probeStarted());
    EXPECT_EQ(readFile(dir_ / "devprobe.log"), "started: \"" + (dir_ / "devprobe.exe") + "\"\r\n");
    Sleep(200);
    EXPECT_FALSE(fileExists("C:\\fwtest\\devprobe.log"));
    DeleteFileA(planted.c_str());
    DeleteFileA("C:\\fwtest\\devprobe.log");
}

TEST_F(PatchDriver, MissingResourceLibraryGivesEmptyTexts)
{
    DeleteFileA((dir_ / "patchres.dll").c_str());
    host_.answers = {IDCANCEL};
    EXPECT_EQ(run(), static_cast<UINT>(-1));
    EXPECT_EQ(host_.events().front(), "box Pixora Update|65|");
}

// A library that breaks down in its call, in every way it can: the run ends
// with exit code 1603, the failure text and what happened in the log, on the
// worker's own thread, and the next run in the same process is guarded as
// well. "terminate" throws where no handler can be found, as every throw of a
// library does on the 32-bit build (each module has its own unwinder). A
// library whose thread was abandoned stays loaded and is never unloaded.
TEST_F(PatchDriver, LibraryThatBreaksDownEndsTheRunWithTheFailureTextInEveryWay)
{
    // On the 32-bit build a throw ends as an abort, and the library stays.
#if defined(__i386__)
    const bool throwUnwinds = false;
#else
    const bool throwUnwinds = true;
#endif
    struct Row {
        const char* call;   // "search", "busy" (the look for files in use), "repair",
                            // "verify" or "undo"
        const char* how;    // the scripted breakdown
        const char* logged; // what the log tells of it
        bool unloaded;      // the library is unloaded afterwards
    };
    const Row rows[] = {
        {"search", "throw",
         throwUnwinds ? "Scoutex.dll threw a C++ exception" : "Scoutex.dll aborted", throwUnwinds},
        {"search", "fault", "Scoutex.dll raised exception 0xC0000005 at Scoutex.dll+0x", false},
        {"search", "abort", "Scoutex.dll aborted", false},
        {"search", "terminate", "Scoutex.dll aborted", false},
        {"busy", "fault", "Mendex.dll raised exception 0xC0000005 at Mendex.dll+0x", false},
        {"repair", "throw",
         throwUnwinds ? "Mendex.dll threw a C++ exception" : "Mendex.dll aborted", throwUnwinds},
        {"repair", "fault", "Mendex.dll raised exception 0xC0000005 at Mendex.dll+0x", false},
        {"repair", "abort", "Mendex.dll aborted", false},
        {"repair", "terminate", "Mendex.dll aborted", false},
        {"verify", "throw",
         throwUnwinds ? "Mendex.dll threw a C++ exception" : "Mendex.dll aborted", throwUnwinds},
        {"verify", "fault", "Mendex.dll raised exception 0xC0000005 at Mendex.dll+0x", false},
        {"verify", "abort", "Mendex.dll aborted", false},
        {"verify", "terminate", "Mendex.dll aborted", false},
        {"undo", "throw", throwUnwinds ? "Mendex.dll threw a C++ exception" : "Mendex.dll aborted",
         throwUnwinds},
        {"undo", "fault", "Mendex.dll raised exception 0xC0000005 at Mendex.dll+0x", false},
        {"undo", "abort", "Mendex.dll aborted", false},
        {"undo", "terminate", "Mendex.dll aborted", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.call) + " " + row.how);
        const bool inSearch = std::string(row.call) == "search";
        const char* library = inSearch ? "Scoutex.dll" : "Mendex.dll";
        TempDir dir(std::string("breakdown ") + row.call + " " + row.how);
        for (const char* file : {"patchres.dll", "devprobe.exe"})
            copyIn(file, dir / file);
        copyIn("ScriptedLibrary.dll", dir / "Scoutex.dll");
        copyIn("ScriptedLibrary.dll", dir / "Mendex.dll");
        writeFile(dir / "search.txt",
                  inSearch ? std::string(row.how) + "\n" : "0|Pixora Scan|3.0|1|1\n");
        const bool inVerify = std::string(row.call) == "verify";
        const bool inUndo = std::string(row.call) == "undo";
        const bool inBusy = std::string(row.call) == "busy";
        writeFile(dir / "repair.txt", inSearch || inVerify || inBusy ? "0" : row.how);
        if (inBusy)
            writeFile(dir / "repairex.txt", std::string("find ") + row.how + "\n");
        if (inVerify)
            writeFile(dir / "verify.txt", row.how);
        if (inUndo)
            writeFile(dir / "undo.txt", row.how);
        HMODULE broken = nullptr;
        {
            Harness h(dir.path() + "\\", dir / "run.log");
            h.run.m_undo = inUndo;
            const auto worker = startRun(h.run);
            ASSERT_EQ(WaitForSingleObject(worker->Handle(), 30000), WAIT_OBJECT_0);
            EXPECT_EQ(threadResult(*worker), inSearch || inBusy ? static_cast<DWORD>(-1) : 0u);
            EXPECT_EQ(h.run.m_exitCode, kExitFailed);
            const auto boxes = h.host.withPrefix("box ");
            ASSERT_EQ(boxes.size(), 2u);
            EXPECT_EQ(boxes.back(), "box Pixora Update Error|16|" +
                                        text(inUndo ? IDS_UNDO_FAILED : IDS_UPDATE_FAILED));
            EXPECT_EQ(h.host.events().back(), "end 1");
            EXPECT_EQ(progress(h.host).size(), inSearch || inUndo ? 2u : 4u);
            EXPECT_FALSE(h.run.m_hScoutex);
            EXPECT_FALSE(h.run.m_hMendex);
            EXPECT_FALSE(h.run.m_hResLib);
            bool told = false;
            for (const std::string& line : logLines(dir / "run.log"))
                told = told || line.rfind(row.logged, 0) == 0;
            EXPECT_TRUE(told) << "no \"" << row.logged << "\" in the log";
            EXPECT_TRUE(logShows(dir / "run.log", std::string("outcome: ") + library +
                                                      " did not return, exit code 1603"));
            broken = h.run.m_brokenLibrary;
            EXPECT_EQ(broken != nullptr, !row.unloaded);
        }
        const std::string calls = readFile(dir / "calls.txt");
        EXPECT_EQ(calls.find(std::string("unload ") + library) != std::string::npos, row.unloaded);
        EXPECT_EQ(calls.find("load Mendex.dll") != std::string::npos, !inSearch);
        // The undo searches (its run is undone only within the installations
        // found), but never updates.
        EXPECT_NE(calls.find("load Scoutex.dll"), std::string::npos);
        // Nothing is changed after the look for files in use broke down.
        EXPECT_EQ(calls.find("repairex options=2|") != std::string::npos,
                  !inSearch && !inUndo && !inBusy);
        EXPECT_FALSE(fileExists(dir / "devprobe.log"));
        if (broken)
            FreeLibrary(broken); // the test's own clean-up: the folder goes
    }
}

// Cancel while the update library runs: the cancel waits for the call to
// return, then the run ends without another step.
TEST_F(PatchDriver, CancelDuringTheUpdateCallWaitsForItThenEnds)
{
    search("0|Pixora Scan|3.0|1|1\n");
    repair("0 block");
    UniqueKernelHandle entered(CreateEventA(nullptr, TRUE, FALSE, "FwTestRepairEntered"));
    UniqueKernelHandle release(CreateEventA(nullptr, TRUE, FALSE, "FwTestRepairRelease"));
    ResetEvent(entered.get());
    ResetEvent(release.get());
    const auto worker = startRun(run_);
    ASSERT_EQ(WaitForSingleObject(entered.get(), 10000), WAIT_OBJECT_0);

    run_.RequestCancel();
    EXPECT_TRUE(worker->IsRunning()); // not stopped inside the library
    EXPECT_FALSE(host_.saw("end 2"));
    SetEvent(release.get());
    ASSERT_EQ(WaitForSingleObject(worker->Handle(), 10000), WAIT_OBJECT_0);
    expectCancelled(h_, threadResult(*worker), dir_ / "run.log");
    EXPECT_EQ(progress(), (std::vector<std::string>{"20", "40", "80", "100"}));
    EXPECT_EQ(calls().back(), "repair returns");
    EXPECT_TRUE(probeNotStarted());
}

// A Cancel while a message box is up waits for the box; the run then ends
// without another step.
TEST_F(PatchDriver, CancelWhileAMessageBoxIsShownWaitsForTheBoxThenEnds)
{
    search("0|Pixora Scan|3.0|1|1\n");
    repair("0");
    host_.boxUp.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    host_.boxAnswered.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    const auto worker = startRun(run_);
    ASSERT_EQ(WaitForSingleObject(host_.boxUp.get(), 30000), WAIT_OBJECT_0);

    run_.RequestCancel();
    EXPECT_TRUE(worker->IsRunning());
    SetEvent(host_.boxAnswered.get()); // the user presses OK
    ASSERT_EQ(WaitForSingleObject(worker->Handle(), 30000), WAIT_OBJECT_0);
    expectCancelled(h_, threadResult(*worker), dir_ / "run.log");
    const std::vector<std::string> expected = {"box Pixora Update|65|" + text(IDS_CONFIRM),
                                               "end 2"};
    EXPECT_EQ(host_.events(), expected);
    EXPECT_TRUE(calls().empty());
}

// A Cancel during the pause before the update ends the pause at once; the
// run then ends before its next step.
TEST_F(PatchDriver, CancelDuringTheWaitEndsTheRunBeforeTheUpdate)
{
    search("0|Pixora Scan|3.0|1|1\n");
    repair("0");
    run_.m_pauseMs = 60000;
    const auto worker = startRun(run_);
    ASSERT_TRUE(logShows(dir_ / "run.log", "step: wait 60000 ms"));
    run_.RequestCancel();
    EXPECT_EQ(WaitForSingleObject(worker->Handle(), 5000), WAIT_OBJECT_0);
    expectCancelled(h_, threadResult(*worker), dir_ / "run.log");
    EXPECT_EQ(calls().back(), "load Mendex.dll"); // never called
    EXPECT_TRUE(probeNotStarted());
}

// Cancel at random instants across whole runs, from before the first step to
// after the last message box: every run ends within 5 s, either cancelled
// (no step after the request, nothing further loaded or called) or, when the
// request came too late, completed with its own result.
TEST_F(PatchDriver, CancelAtFiftyRandomInstantsAlwaysEndsTheRun)
{
    search("0|Pixora Scan|2.0|1|100\n0|Pixora Scan|3.0|1|200\n");
    repair("0");
    // A whole run, timed: the instants are drawn from half as much again, so
    // that some come too late.
    LARGE_INTEGER frequency, begin, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&begin);
    ASSERT_EQ(run(), 0u);
    QueryPerformanceCounter(&end);
    const LONGLONG span = (end.QuadPart - begin.QuadPart) * 3 / 2;

    const unsigned seed = static_cast<unsigned>(GetTickCount());
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<LONGLONG> instant(0, span);
    int cancelled = 0;
    int completed = 0;
    for (int i = 0; i < 50; ++i) {
        DeleteFileA((dir_ / "calls.txt").c_str());
        const std::string logPath = dir_ / ("random-" + std::to_string(i) + ".log");
        Harness h(setupDir(), logPath);
        // The first one before the run begins, the second as the closing
        // message is answered; the others anywhere.
        const LONGLONG wait = i == 0 ? 0 : instant(random);
        if (i == 1)
            h.host.onClosingBox = [&h] { h.run.RequestCancel(); };
        QueryPerformanceCounter(&begin);
        const auto worker = startRun(h.run);
        ASSERT_NE(worker, nullptr);
        if (i != 1) {
            do
                QueryPerformanceCounter(&end);
            while (end.QuadPart - begin.QuadPart < wait);
            h.run.RequestCancel();
        }
        const std::size_t callsAtRequest = calls().size();
        ASSERT_EQ(WaitForSingleObject(worker->Handle(), 5000), WAIT_OBJECT_0)
            << "run " << i << " still going 5 s after the cancel";
        const DWORD result = threadResult(*worker);
        SCOPED_TRACE("run " + std::to_string(i) + ", cancel after " +
                     std::to_string(wait * 1000 / frequency.QuadPart) + " ms");
        if (result == 0) {
            ++completed;
            EXPECT_EQ(h.run.m_exitCode, kExitUpdated);
            EXPECT_EQ(progress(h.host), kFullProgress);
            EXPECT_EQ(h.host.events().back(), "end 1");
        } else {
            ++cancelled;
            expectCancelled(h, result, logPath);
            // A library step that had begun may still note itself; nothing
            // after it.
            EXPECT_LE(calls().size(), callsAtRequest + 1);
        }
    }
    std::printf("cancelled runs: %d, completed runs: %d\n", cancelled, completed);
    EXPECT_GT(cancelled, 0);
    EXPECT_GT(completed, 0);
}

// The window's thread and the worker write the run log at once: every line
// arrives whole (appends of two threads to one handle can otherwise land on
// the same end of the file and overwrite each other).
TEST(RunLogLines, TwoThreadsLoseNoLine)
{
    TempDir dir("runlog");
    RunLog log;
    ASSERT_TRUE(log.Open((dir / "run.log").c_str()));
    auto write = [&log](char tag) {
        for (int i = 0; i < 500; ++i)
            log.Line("%c line %d", tag, i);
    };
    std::thread other(write, 'b');
    write('a');
    other.join();
    int a = 0;
    int b = 0;
    for (const std::string& line : logLines(dir / "run.log")) {
        a += line.rfind("a line ", 0) == 0 ? 1 : 0;
        b += line.rfind("b line ", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(a, 500);
    EXPECT_EQ(b, 500);
}

// The progress window as the host: a Cancel shows "Cancelling..." until the
// window closes, and the run ends cancelled.
TEST_F(PatchDriver, TheWindowAsHostShowsCancellingUntilTheRunEnds)
{
    search("0|Pixora Scan|3.0|1|1\n");
    repair("0");
    CSetupDlg dlg;
    dlg.m_run.m_mode = SetupMode::Passive; // no message boxes
    ASSERT_TRUE(dlg.m_log.Open((dir_ / "window.log").c_str()));
    copyText(dlg.m_run.m_szSetupDir, setupDir().c_str());
    dlg.m_run.m_pauseMs = 60000;
    dlg.StartWorker();
    ASSERT_NE(dlg.m_pWorker, nullptr);
    ASSERT_TRUE(logShows(dir_ / "window.log", "step: wait 60000 ms"));
    dlg.OnCancel();
    char status[FwText::kCapacity];
    dlg.GetStatus(status, sizeof status);
    EXPECT_STREQ(status, "Cancelling...");
    ASSERT_EQ(WaitForSingleObject(dlg.m_pWorker->Handle(), 5000), WAIT_OBJECT_0);
    EXPECT_EQ(threadResult(*dlg.m_pWorker), static_cast<DWORD>(-1));
    EXPECT_EQ(dlg.m_run.m_exitCode, kExitCancelled);
    dlg.SetStatus("late text");
    dlg.GetStatus(status, sizeof status);
    EXPECT_STREQ(status, "Cancelling...");
    dlg.ReleaseWorker();
}

// Setup's own directory unknown: no library is looked for anywhere; text 33
// from Setup's own resources (here: none, the test has no such texts).
TEST_F(PatchDriver, UnknownSetupDirectoryLoadsNothingAndFails)
{
    run_.m_setupDirKnown = false;
    CurrentDir cwd(dir_.path()); // the libraries would be found here
    EXPECT_EQ(run(), static_cast<UINT>(-1));
    EXPECT_EQ(run_.m_exitCode, kExitFailed);
    const std::vector<std::string> expected = {"box Error Loading patchres.dll|16|", "end 1"};
    EXPECT_EQ(host_.events(), expected);
    EXPECT_TRUE(calls().empty());
    EXPECT_FALSE(run_.m_hResLib);
}

TEST(PatchTexts, EveryTextTheDriverShowsIsInTheResourceLibrary)
{
    for (UINT id :
         {IDS_UPDATE_DONE,    IDS_SEARCHING,      IDS_CONFIRM,          IDS_PRODUCT_RUNNING,
          IDS_LOAD_FAILED,    IDS_ERROR_NOTICE,   IDS_UPDATE_FAILED,    IDS_ALREADY_RUNNING,
          IDS_LOG_FAILED,     IDS_UNDO_CONFIRM,   IDS_UNDOING,          IDS_UNDO_DONE,
          IDS_UNDO_KEPT,      IDS_UNDO_NOTHING,   IDS_UNDO_FAILED,      IDS_FILES_IN_USE,
          IDS_CLOSE_PROGRAMS, IDS_RESTART_NEEDED, IDS_RESTART_QUESTION, IDS_RESTARTING,
          IDS_RESTART_FAILED, IDS_RESTART_STATUS})
        EXPECT_FALSE(text(id).empty()) << "text " << id;
}

// Setup.exe names Common Controls 6 (so no comctl32.dll beside it is taken),
// the administrator rights and the supported systems in its manifest: this
// build's, and the 32-bit build's when it is there (the full test run builds
// it first).
void expectManifest(const std::string& exe)
{
    SCOPED_TRACE(exe);
    UniqueModule module(LoadLibraryExA(exe.c_str(), nullptr,
                                       LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    ASSERT_TRUE(module);
    HRSRC found = FindResourceA(module.get(), MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(found, nullptr);
    HGLOBAL loaded = LoadResource(module.get(), found);
    ASSERT_NE(loaded, nullptr);
    const std::string manifest(static_cast<const char*>(LockResource(loaded)),
                               SizeofResource(module.get(), found));
    for (const char* part :
         {"name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
          "level=\"requireAdministrator\"", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
          "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"})
        EXPECT_NE(manifest.find(part), std::string::npos) << part;
}

TEST(SetupManifest, IsResourceOneOfTypeTwentyFour)
{
    expectManifest(exeDir() + "Setup.exe");
    const std::string other = exeDir() + "..\\..\\win32\\bin\\Setup.exe";
    if (fileExists(other))
        expectManifest(other);
}

TEST(SetupDirectory, ProgramPathIsCutBackToItsDirectory)
{
    char path[512];
    copyText(path, "C:\\patch\\Setup.exe");
    CutToDirectory(path);
    EXPECT_STREQ(path, "C:\\patch\\");
    copyText(path, "C:Setup.exe");
    CutToDirectory(path);
    EXPECT_STREQ(path, "C:");
    copyText(path, "a.e");
    CutToDirectory(path);
    EXPECT_STREQ(path, "a.e");
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
