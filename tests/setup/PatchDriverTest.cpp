// The patch driver's whole sequence without a screen: a recording stand-in
// for the progress window, and scripted libraries copied beside the driver
// under the names Scoutex.dll and Mendex.dll, with the real patchres.dll and
// devprobe.exe.
#include "SetupDlg.h"
#include "WinHandle.h"
#include "WinTestSupport.h"
#include "resource.h"
#include "Text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

using namespace wintest;

namespace
{

// The progress window as the driver sees it, recording every call.
class RecordingDlg : public CSetupDlg
{
public:
    std::vector<int> answers; // buttons pressed in the message boxes, in order
    bool realWait = false;

    // When set, every box signals boxUp and stays up until boxAnswered.
    UniqueKernelHandle boxUp;
    UniqueKernelHandle boxAnswered;

    int ShowMessage(const char* text, const char* caption, UINT type) override
    {
        record("box " + std::string(caption) + "|" + std::to_string(type) + "|" + text);
        if (boxUp) {
            SetEvent(boxUp.get());
            WaitForSingleObject(boxAnswered.get(), INFINITE);
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (answers.empty())
            return IDOK;
        const int answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    }
    void SetProgress(int pos) override
    {
        char status[FwText::kCapacity];
        GetStatus(status, sizeof status);
        record("progress " + std::to_string(pos) + " " + status);
    }
    // With realWait the pause lasts a minute (ended early by a Cancel), so
    // that a test can cancel inside it however slowly its own thread gets
    // there.
    void Wait(DWORD ms) override
    {
        record("wait " + std::to_string(ms));
        if (realWait)
            CSetupDlg::Wait(60000);
    }
    void EndModalLoop(int result) override { record("end " + std::to_string(result)); }

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
    std::vector<std::string> events_;
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

class PatchDriver : public ::testing::Test
{
protected:
    TempDir dir_{"setup driver"}; // a directory with a blank in its name
    RecordingDlg dlg_;

    void SetUp() override
    {
        copyIn("patchres.dll", dir_ / "patchres.dll");
        copyIn("devprobe.exe", dir_ / "devprobe.exe");
        copyIn("ScriptedLibrary.dll", dir_ / "Scoutex.dll");
        copyIn("ScriptedLibrary.dll", dir_ / "Mendex.dll");
        copyText(dlg_.m_szSetupDir, (dir_.path() + "\\").c_str());
    }

    // A run that ends early keeps its libraries, as the program does until it
    // exits; release them so that the test folder can be removed.
    void TearDown() override
    {
        FwSetResourceHandle(nullptr);
        for (const char* name : {"patchres.dll", "Scoutex.dll", "Mendex.dll"})
            for (int i = 0; i < 8; ++i) {
                HMODULE module = GetModuleHandleA((dir_ / name).c_str());
                if (!module)
                    break;
                FreeLibrary(module);
            }
    }

    void search(const std::string& script) { writeFile(dir_ / "search.txt", script); }
    void repair(const std::string& script) { writeFile(dir_ / "repair.txt", script); }
    std::vector<std::string> calls()
    {
        return fileExists(dir_ / "calls.txt") ? lines(readFile(dir_ / "calls.txt"))
                                              : std::vector<std::string>{};
    }
    UINT run() { return PatchThreadProc(&dlg_); }

    std::vector<std::string> progress()
    {
        std::vector<std::string> out;
        for (const std::string& e : dlg_.withPrefix("progress "))
            out.push_back(e.substr(9, e.find(' ', 9) - 9));
        return out;
    }
    std::string statusAt(int pos)
    {
        const std::string prefix = "progress " + std::to_string(pos) + " ";
        for (const std::string& e : dlg_.withPrefix(prefix))
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
        const auto boxes = dlg_.withPrefix("box ");
        ASSERT_FALSE(boxes.empty());
        EXPECT_EQ(boxes.back(), "box Pixora Update|64|" + text(id));
    }
};

TEST_F(PatchDriver, CancelInTheConfirmationLoadsNothingAndClosesTheWindow)
{
    search("0|Pixora Scan|3.0|1|1\n");
    dlg_.answers = {IDCANCEL};
    EXPECT_EQ(run(), static_cast<UINT>(-1));
    EXPECT_EQ(dlg_.m_exitCode, kExitCancelled);
    const std::vector<std::string> expected = {"box Pixora Update|65|" + text(IDS_CONFIRM),
                                               "end 1"};
    EXPECT_EQ(dlg_.events(), expected);
    EXPECT_TRUE(calls().empty());
    EXPECT_FALSE(text(IDS_CONFIRM).empty());
    EXPECT_TRUE(probeNotStarted());
}

TEST_F(PatchDriver, NoProductEndsWithTheErrorNoticeAndTouchesNeitherMendexNorTheProbe)
{
    search("");
    EXPECT_EQ(run(), static_cast<UINT>(-1));
    EXPECT_EQ(dlg_.m_exitCode, kExitNotFound);
    const std::vector<std::string> expected = {"box Pixora Update|65|" + text(IDS_CONFIRM),
                                               "progress 20 " + text(IDS_SEARCHING),
                                               "progress 40 " + text(IDS_SEARCHING),
                                               "progress 80 " + text(IDS_SEARCHING),
                                               "box Pixora Update Error|16|" +
                                                   text(IDS_ERROR_NOTICE),
                                               "end 1"};
    EXPECT_EQ(dlg_.events(), expected);
    const std::vector<std::string> seq = {"load Scoutex.dll", "search zeroed",
                                          "unload Scoutex.dll"};
    EXPECT_EQ(calls(), seq);
    EXPECT_EQ(dlg_.m_hResLib, nullptr);
    EXPECT_TRUE(probeNotStarted());
}

TEST_F(PatchDriver, FullRunOldestFirstChoosesTheNewest)
{
    search("0|Pixora Scan|2.0|1|100\n0|Pixora Scan|3.0|1|200\n");
    repair("0");
    EXPECT_EQ(run(), 0u);
    EXPECT_EQ(dlg_.m_exitCode, kExitUpdated);
    EXPECT_EQ(progress(), kFullProgress);
    EXPECT_EQ(statusAt(100), "...Pixora Scan 3.0");
    EXPECT_EQ(statusAt(160), "...Pixora Scan 3.0");
    EXPECT_EQ(statusAt(180), text(IDS_UPDATE_DONE));
    EXPECT_TRUE(dlg_.saw("wait 1500"));
    expectFinalBox(IDS_UPDATE_DONE);
    EXPECT_EQ(dlg_.events().back(), "end 1");
    const std::vector<std::string> seq = {"load Scoutex.dll",
                                          "search zeroed",
                                          "search zeroed",
                                          "search zeroed",
                                          "unload Scoutex.dll",
                                          "load Mendex.dll",
                                          "repair Pixora Scan|3.0|C:\\Pixora Scan\\3.0|1:200|"
                                          "scoutex loaded=0",
                                          "unload Mendex.dll"};
    EXPECT_EQ(calls(), seq);
    // Every field of the chosen record is the newest one's.
    EXPECT_STREQ(dlg_.m_chosen.toolkitDir, "tk-3.0");
    EXPECT_STREQ(dlg_.m_chosen.pluginDir, "pl-3.0");
    EXPECT_STREQ(dlg_.m_chosen.toolkitVersion, "tv-3.0");
    EXPECT_STREQ(dlg_.m_chosen.ocrPath, "ocr-3.0");
    EXPECT_EQ(dlg_.m_chosen.ocrLanguage, 7u);
    EXPECT_EQ(dlg_.m_chosen.toolkitBuild, 8u);
    EXPECT_EQ(dlg_.m_chosen.usageCount, 9u);
    EXPECT_EQ(dlg_.m_hResLib, nullptr);
    EXPECT_EQ(dlg_.m_hScoutex, nullptr);
    EXPECT_EQ(dlg_.m_hMendex, nullptr);
    EXPECT_TRUE(probeStarted());
}

TEST_F(PatchDriver, NewestFirstKeepsTheNewestAndAnOlderOneChangesNothing)
{
    // High words compare first, both unsigned: 2:0 is newer than 1:FFFFFFFF.
    search("0|Pixora Scan|3.0|2|0\n0|Pixora Scan|2.0|1|0xFFFFFFFF\n");
    repair("0");
    EXPECT_EQ(run(), 0u);
    EXPECT_EQ(statusAt(100), "...Pixora Scan 3.0");
    EXPECT_EQ(calls()[6], "repair Pixora Scan|3.0|C:\\Pixora Scan\\3.0|2:0|scoutex loaded=0");
}

TEST_F(PatchDriver, EqualTimesChooseTheOneReportedLast)
{
    search("0|Pixora Scan|2.0|5|5\n0|Pixora Lite|1.0|5|5\n");
    repair("0");
    EXPECT_EQ(run(), 0u);
    EXPECT_EQ(statusAt(100), "...Pixora Lite 1.0");
    EXPECT_EQ(calls()[6], "repair Pixora Lite|1.0|C:\\Pixora Lite\\1.0|5:5|scoutex loaded=0");
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
    EXPECT_EQ(dlg_.m_exitCode, kExitBusy);
    const auto events = dlg_.events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2],
              "box Scanner Update Error|16|" + text(IDS_PRODUCT_RUNNING));
    EXPECT_EQ(events.back(), "end 1");
    EXPECT_EQ(progress(), (std::vector<std::string>{"20", "40", "80"}));
    const std::vector<std::string> seq = {"load Scoutex.dll", "search zeroed", "search zeroed",
                                          "unload Scoutex.dll"};
    EXPECT_EQ(calls(), seq);
    EXPECT_EQ(dlg_.m_hResLib, nullptr);
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
    EXPECT_TRUE(dlg_.withPrefix("box Scanner Update Error").empty());
    EXPECT_EQ(progress(), kFullProgress);
    EXPECT_TRUE(probeStarted());
}

TEST_F(PatchDriver, RestoreFailureShowsTheErrorNoticeAfterTheProbe)
{
    search("0|Pixora Scan|3.0|1|1\n");
    repair("-15");
    EXPECT_EQ(run(), 0u);
    EXPECT_EQ(dlg_.m_exitCode, kExitIncomplete);
    EXPECT_EQ(progress(), kFullProgress);
    EXPECT_EQ(statusAt(180), text(IDS_UPDATE_FAILED));
    expectFinalBox(IDS_ERROR_NOTICE);
    EXPECT_TRUE(probeStarted());
}

TEST_F(PatchDriver, OtherUpdateFailureShowsTheFailedStatusAndTheClosingText)
{
    search("0|Pixora Scan|3.0|1|1\n");
    repair("-1");
    EXPECT_EQ(run(), 0u);
    EXPECT_EQ(dlg_.m_exitCode, kExitFailed);
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
        RecordingDlg dlg;
        copyText(dlg.m_szSetupDir, dlg_.m_szSetupDir);
        search(std::string("0|Pixora Scan|3.0|1|1\n") + failure + "\n0|Pixora Scan|4.0|1|2\n");
        EXPECT_EQ(PatchThreadProc(&dlg), static_cast<UINT>(-1));
        EXPECT_EQ(dlg.m_exitCode, kExitNotFound);
        const auto boxes = dlg.withPrefix("box ");
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
    EXPECT_EQ(dlg_.m_exitCode, kExitFailed);
    const auto events = dlg_.events();
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
    EXPECT_EQ(dlg_.m_exitCode, kExitFailed);
    EXPECT_TRUE(dlg_.saw("box Error Loading Scoutex.dll|16|" + text(IDS_LOAD_FAILED)));
    EXPECT_EQ(dlg_.m_hScoutex, nullptr);
    EXPECT_EQ(GetModuleHandleA("Scoutex.dll"), nullptr);
    EXPECT_EQ(dlg_.events().back(), "end 1");
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
        RecordingDlg dlg;
        copyText(dlg.m_szSetupDir, dlg_.m_szSetupDir);
        search("0|Pixora Scan|3.0|1|1\n");
        EXPECT_EQ(PatchThreadProc(&dlg), static_cast<UINT>(-1));
        EXPECT_EQ(dlg.m_exitCode, kExitFailed);
        const auto events = dlg.events();
        ASSERT_GE(events.size(), 2u);
        EXPECT_EQ(events[events.size() - 2],
                  "box Error Loading Mendex.dll|16|" + text(IDS_LOAD_FAILED));
        EXPECT_EQ(events.back(), "end 1");
        EXPECT_FALSE(dlg.saw("wait 1500"));
        EXPECT_EQ(dlg.m_hMendex, nullptr);
        EXPECT_EQ(dlg.m_hResLib, nullptr);
        EXPECT_EQ(GetModuleHandleA("Mendex.dll"), nullptr);
    }
    EXPECT_TRUE(probeNotStarted());
}

TEST_F(PatchDriver, ProbeCommandGetsExactlyOneBackslash)
{
    search("0|Pixora Scan|3.0|1|1\n");
    repair("0");
    copyText(dlg_.m_szSetupDir, dir_.path().c_str()); // no trailing backslash
    EXPECT_EQ(run(), 0u);
    EXPECT_EQ(std::string(dlg_.m_szProbeCmd), dir_ / "devprobe.exe");
    EXPECT_TRUE(probeStarted());

    RecordingDlg again;
    copyText(again.m_szSetupDir, (dir_.path() + "\\").c_str());
    DeleteFileA((dir_ / "calls.txt").c_str());
    EXPECT_EQ(PatchThreadProc(&again), 0u);
    EXPECT_EQ(std::string(again.m_szProbeCmd), dir_ / "devprobe.exe");
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
    dlg_.answers = {IDCANCEL};
    EXPECT_EQ(run(), static_cast<UINT>(-1));
    EXPECT_EQ(dlg_.events().front(), "box Pixora Update|65|");
}

TEST_F(PatchDriver, ExceptionInTheSearchEndsTheRunSilently)
{
    search("throw\n");
    EXPECT_EQ(run(), static_cast<UINT>(-1));
    EXPECT_EQ(dlg_.m_exitCode, kExitFailed);
    EXPECT_EQ(dlg_.withPrefix("box ").size(), 1u);
    EXPECT_EQ(dlg_.events().back(), "end 1");
    EXPECT_EQ(progress(), (std::vector<std::string>{"20", "40"}));
    EXPECT_EQ(dlg_.m_hScoutex, nullptr);
    EXPECT_EQ(dlg_.m_hResLib, nullptr);
    EXPECT_EQ(calls().back(), "unload Scoutex.dll");
}

TEST_F(PatchDriver, ExceptionInTheUpdateEndsTheRunWithResultZero)
{
    search("0|Pixora Scan|3.0|1|1\n");
    repair("throw");
    EXPECT_EQ(run(), 0u);
    EXPECT_EQ(dlg_.m_exitCode, kExitFailed);
    EXPECT_EQ(dlg_.withPrefix("box ").size(), 1u);
    EXPECT_EQ(dlg_.events().back(), "end 1");
    EXPECT_EQ(dlg_.m_hMendex, nullptr);
    EXPECT_EQ(calls().back(), "unload Mendex.dll");
    EXPECT_TRUE(probeNotStarted());
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
    dlg_.StartWorker();
    ASSERT_NE(dlg_.m_pWorker, nullptr);
    ASSERT_EQ(WaitForSingleObject(entered.get(), 10000), WAIT_OBJECT_0);

    dlg_.OnCancel();
    EXPECT_TRUE(dlg_.m_pWorker->IsRunning()); // not stopped inside the library
    EXPECT_FALSE(dlg_.saw("end 2"));
    SetEvent(release.get());
    ASSERT_EQ(WaitForSingleObject(dlg_.m_pWorker->Handle(), 10000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(dlg_.m_pWorker->Handle(), &code);
    EXPECT_EQ(code, static_cast<DWORD>(-1));
    EXPECT_EQ(dlg_.m_exitCode, kExitCancelled);
    EXPECT_EQ(dlg_.events().back(), "end 2");
    EXPECT_EQ(progress(), (std::vector<std::string>{"20", "40", "80", "100"}));
    EXPECT_EQ(calls().back(), "repair returns");
    EXPECT_TRUE(probeNotStarted());
    // The run ended without unloading; the process would end now.
    FreeLibrary(dlg_.m_hMendex);
    if (dlg_.m_hResLib)
        FreeLibrary(dlg_.m_hResLib);
}

// A Cancel that comes while a message box is being shown (the window is
// only disabled once the box is up) waits for the box: the worker is not
// stopped while it builds a window. The run then ends without another step.
TEST_F(PatchDriver, CancelWhileAMessageBoxIsShownWaitsForTheBoxThenEnds)
{
    search("0|Pixora Scan|3.0|1|1\n");
    repair("0");
    dlg_.boxUp.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    dlg_.boxAnswered.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    dlg_.StartWorker();
    ASSERT_NE(dlg_.m_pWorker, nullptr);
    ASSERT_EQ(WaitForSingleObject(dlg_.boxUp.get(), 30000), WAIT_OBJECT_0);

    dlg_.OnCancel();
    EXPECT_TRUE(dlg_.m_pWorker->IsRunning());
    SetEvent(dlg_.boxAnswered.get()); // the user presses OK
    ASSERT_EQ(WaitForSingleObject(dlg_.m_pWorker->Handle(), 30000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(dlg_.m_pWorker->Handle(), &code);
    EXPECT_EQ(code, static_cast<DWORD>(-1));
    EXPECT_EQ(dlg_.m_exitCode, kExitCancelled);
    const std::vector<std::string> expected = {"box Pixora Update|65|" + text(IDS_CONFIRM),
                                               "end 2"};
    EXPECT_EQ(dlg_.events(), expected);
    EXPECT_TRUE(calls().empty());
    dlg_.ReleaseWorker();
    dlg_.boxUp.reset();
    dlg_.boxAnswered.reset();
}

// A Cancel during the wait ends the wait at once; the run then ends before
// its next step, with the status "Cancelling..." shown meanwhile.
TEST_F(PatchDriver, CancelDuringTheWaitEndsTheRunBeforeTheUpdate)
{
    search("0|Pixora Scan|3.0|1|1\n");
    repair("0");
    dlg_.realWait = true;
    dlg_.StartWorker();
    ASSERT_NE(dlg_.m_pWorker, nullptr);
    for (int i = 0; i < 3000 && !dlg_.saw("wait 1500"); ++i)
        Sleep(10);
    ASSERT_TRUE(dlg_.saw("wait 1500"));
    dlg_.OnCancel();
    char status[FwText::kCapacity];
    dlg_.GetStatus(status, sizeof status);
    EXPECT_STREQ(status, "Cancelling...");
    EXPECT_EQ(WaitForSingleObject(dlg_.m_pWorker->Handle(), 5000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(dlg_.m_pWorker->Handle(), &code);
    EXPECT_EQ(code, static_cast<DWORD>(-1));
    EXPECT_EQ(dlg_.m_exitCode, kExitCancelled);
    EXPECT_EQ(dlg_.events().back(), "end 2");
    EXPECT_EQ(calls().back(), "load Mendex.dll"); // never called
    EXPECT_TRUE(probeNotStarted());
    dlg_.ReleaseWorker();
}

// Setup's own directory unknown: no library is looked for anywhere; text 33
// from Setup's own resources (here: none, the test has no such texts).
TEST_F(PatchDriver, UnknownSetupDirectoryLoadsNothingAndFails)
{
    dlg_.m_setupDirKnown = false;
    CurrentDir cwd(dir_.path()); // the libraries would be found here
    EXPECT_EQ(run(), static_cast<UINT>(-1));
    EXPECT_EQ(dlg_.m_exitCode, kExitFailed);
    const std::vector<std::string> expected = {"box Error Loading patchres.dll|16|", "end 1"};
    EXPECT_EQ(dlg_.events(), expected);
    EXPECT_TRUE(calls().empty());
    EXPECT_EQ(dlg_.m_hResLib, nullptr);
}

TEST(PatchTexts, EveryTextTheDriverShowsIsInTheResourceLibrary)
{
    for (UINT id : {IDS_UPDATE_DONE, IDS_SEARCHING, IDS_CONFIRM, IDS_PRODUCT_RUNNING,
                    IDS_LOAD_FAILED, IDS_ERROR_NOTICE, IDS_UPDATE_FAILED, IDS_ALREADY_RUNNING})
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
