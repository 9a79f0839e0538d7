// fwauto: drives Setup's windows as a user would, for the window tests and
// the demonstration. Runs in the same Wine prefix as Setup.exe.
//
//   fwauto box CAPTION BUTTON [MS]     waits for a message box with that
//                                      caption, prints its text, presses the
//                                      button (OK, Cancel, TryAgain, Continue,
//                                      Yes, No; none: leaves it up); the
//                                      caption * takes any message box
//   fwauto wait TITLE [MS]             waits for the progress window
//   fwauto gone TITLE [MS]             waits until the progress window is gone
//   fwauto progress TITLE              prints the progress bar's position
//   fwauto about TITLE [OK|none [MS]]  chooses the About item of the system
//                                      menu, prints the About box, presses OK
//   fwauto cancel TITLE                presses the progress window's Cancel
//   fwauto close TITLE                 the close box (system menu Close)
//   fwauto escape TITLE                the Esc key on the focused Cancel
//   fwauto regdump HKLM|HKCU PATH      prints a registry key's tree
//   fwauto ok TITLE                    sends the Enter command (IDOK) to the
//                                      progress window
//   fwauto hold TITLE MS               keeps a window of that title open
//   fwauto run MS PROGRAM [ARGS...]    starts PROGRAM, watches every
//                                      top-level window of its process until
//                                      it ends (at most MS), prints "exit N"
//                                      (or "still running") and "windows N"
//                                      with a line per window seen
//
// Exit status 0 on success, 1 on a time-out or a missing window.
#include <windows.h>

#include "WinHandle.h"
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace
{

const int kProgressId = 1000;

std::string windowText(HWND w)
{
    char buf[2048] = {};
    GetWindowTextA(w, buf, sizeof buf);
    return buf;
}

std::string className(HWND w)
{
    char buf[256] = {};
    GetClassNameA(w, buf, sizeof buf);
    return buf;
}

struct Search {
    std::string title;
    bool wantProgress; // the progress window, or else a dialog without a progress bar
    HWND found = nullptr;
};

BOOL CALLBACK matchTopLevel(HWND w, LPARAM param)
{
    Search& s = *reinterpret_cast<Search*>(param);
    if (!IsWindowVisible(w) || className(w) != "#32770" ||
        (s.title != "*" ? windowText(w) != s.title : windowText(w).empty()))
        return TRUE;
    const bool hasProgress = GetDlgItem(w, kProgressId) != nullptr;
    if (hasProgress == s.wantProgress) {
        s.found = w;
        return FALSE;
    }
    return TRUE;
}

HWND findDialog(const std::string& title, bool progressWindow)
{
    Search s{title, progressWindow};
    EnumWindows(&matchTopLevel, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

HWND waitDialog(const std::string& title, bool progressWindow, DWORD ms)
{
    const DWORD start = GetTickCount();
    for (;;) {
        if (HWND w = findDialog(title, progressWindow))
            return w;
        if (GetTickCount() - start > ms)
            return nullptr;
        Sleep(50);
    }
}

BOOL CALLBACK collectStatic(HWND w, LPARAM param)
{
    auto& texts = *reinterpret_cast<std::vector<std::string>*>(param);
    const LONG type = GetWindowLongA(w, GWL_STYLE) & SS_TYPEMASK;
    if (className(w) == "Static" && type != SS_ICON && type != SS_BITMAP) {
        const std::string t = windowText(w);
        if (!t.empty())
            texts.push_back(t);
    }
    return TRUE;
}

std::vector<std::string> staticTexts(HWND dialog)
{
    std::vector<std::string> texts;
    EnumChildWindows(dialog, &collectStatic, reinterpret_cast<LPARAM>(&texts));
    return texts;
}

void press(HWND dialog, int id)
{
    HWND button = GetDlgItem(dialog, id);
    if (button)
        PostMessageA(button, BM_CLICK, 0, 0);
    else
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
}

DWORD timeout(int argc, char** argv, int index, DWORD fallback)
{
    return argc > index ? static_cast<DWORD>(std::strtoul(argv[index], nullptr, 10)) : fallback;
}

int box(const std::string& caption, const std::string& button, DWORD ms)
{
    HWND w = waitDialog(caption, false, ms);
    if (!w) {
        std::printf("no message box \"%s\"\n", caption.c_str());
        return 1;
    }
    Sleep(200); // let it finish drawing, as a reader would
    std::printf("[%s]\n", windowText(w).c_str());
    for (const std::string& t : staticTexts(w))
        std::printf("%s\n", t.c_str());
    if (button == "none")
        return 0;
    const struct {
        const char* name;
        int id;
    } buttons[] = {{"Cancel", IDCANCEL},
                   {"TryAgain", IDTRYAGAIN},
                   {"Continue", IDCONTINUE},
                   {"Yes", IDYES},
                   {"No", IDNO}};
    int id = IDOK;
    for (const auto& b : buttons)
        if (button == b.name)
            id = b.id;
    press(w, id);
    // Gone before the next command looks for a box of the same caption.
    for (DWORD start = GetTickCount(); IsWindow(w) && GetTickCount() - start < ms;)
        Sleep(20);
    return IsWindow(w) ? 1 : 0;
}

void dumpKey(HKEY root, const std::string& path, const std::string& shown)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    std::printf("[%s]\n", shown.c_str());
    for (DWORD i = 0;; ++i) {
        char name[512];
        DWORD nameLen = sizeof name;
        BYTE data[2048] = {};
        DWORD dataLen = sizeof data - 1;
        DWORD type = 0;
        if (RegEnumValueA(key, i, name, &nameLen, nullptr, &type, data, &dataLen) != ERROR_SUCCESS)
            break;
        const char* shownName = name[0] ? name : "@";
        if (type == REG_DWORD && dataLen == 4) {
            DWORD v;
            std::memcpy(&v, data, 4);
            std::printf("  %s = dword:%08lx\n", shownName, static_cast<unsigned long>(v));
        } else {
            std::printf("  %s = \"%s\"\n", shownName, reinterpret_cast<char*>(data));
        }
    }
    std::vector<std::string> subkeys;
    for (DWORD i = 0;; ++i) {
        char name[512];
        DWORD nameLen = sizeof name;
        if (RegEnumKeyExA(key, i, name, &nameLen, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        subkeys.push_back(name);
    }
    RegCloseKey(key);
    for (const std::string& sub : subkeys)
        dumpKey(root, path + "\\" + sub, shown + "\\" + sub);
}

struct Watch {
    DWORD pid;
    std::vector<HWND> seen;
};

// Every top-level window of the process, shown or not (the input method's
// per-thread helper window excepted).
BOOL CALLBACK collectProcessWindows(HWND w, LPARAM param)
{
    Watch& watch = *reinterpret_cast<Watch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid != watch.pid || className(w) == "IME")
        return TRUE;
    for (HWND s : watch.seen)
        if (s == w)
            return TRUE;
    watch.seen.push_back(w);
    std::printf("window [%s] %s\n", className(w).c_str(), windowText(w).c_str());
    std::fflush(stdout);
    return TRUE;
}

std::string quoted(const char* arg)
{
    return std::strchr(arg, ' ') ? "\"" + std::string(arg) + "\"" : std::string(arg);
}

int runWatched(DWORD ms, int argc, char** argv, int first)
{
    std::string line;
    for (int i = first; i < argc; ++i)
        line += (i > first ? " " : "") + quoted(argv[i]);
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(argv[first], buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::printf("not started: %lu\n", GetLastError());
        return 1;
    }
    UniqueKernelHandle thread(process.hThread);
    UniqueKernelHandle child(process.hProcess);
    Watch watch{process.dwProcessId, {}};
    const DWORD start = GetTickCount();
    bool ended = false;
    for (;;) {
        EnumWindows(&collectProcessWindows, reinterpret_cast<LPARAM>(&watch));
        if (WaitForSingleObject(process.hProcess, 5) == WAIT_OBJECT_0) {
            ended = true;
            break;
        }
        if (GetTickCount() - start > ms)
            break;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    if (ended)
        std::printf("exit %lu\n", code);
    else
        std::printf("still running\n");
    std::printf("windows %u\n", static_cast<unsigned>(watch.seen.size()));
    return ended ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: fwauto COMMAND ARGS (see the source)\n");
        return 2;
    }
    const std::string cmd = argv[1];
    const std::string title = argv[2];
    if (cmd == "box" && argc >= 4)
        return box(title, argv[3], timeout(argc, argv, 4, 20000));
    if (cmd == "wait")
        return waitDialog(title, true, timeout(argc, argv, 3, 20000)) ? 0 : 1;
    if (cmd == "gone") {
        const DWORD ms = timeout(argc, argv, 3, 20000);
        const DWORD start = GetTickCount();
        while (findDialog(title, true)) {
            if (GetTickCount() - start > ms)
                return 1;
            Sleep(50);
        }
        return 0;
    }
    if (cmd == "run" && argc >= 4)
        return runWatched(timeout(argc, argv, 2, 60000), argc, argv, 3);
    if (cmd == "hold" && argc >= 4) {
        HWND held = CreateWindowExA(0, "STATIC", title.c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 100, 50,
                                    nullptr, nullptr, nullptr, nullptr);
        const DWORD start = GetTickCount();
        MSG msg;
        while (GetTickCount() - start < timeout(argc, argv, 3, 10000)) {
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageA(&msg);
            Sleep(20);
        }
        DestroyWindow(held);
        return 0;
    }
    if (cmd == "lock" && argc >= 4) {
        // fwauto lock MS PATH...: holds the files open, sharing nothing,
        // for MS milliseconds (or until ended); says "locked N" once held.
        std::vector<UniqueFile> files;
        for (int i = 3; i < argc; ++i) {
            files.emplace_back(
                CreateFileA(argv[i], GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            if (!files.back()) {
                std::printf("cannot lock %s\n", argv[i]);
                return 1;
            }
        }
        std::printf("locked %zu\n", files.size());
        std::fflush(stdout);
        Sleep(timeout(argc, argv, 2, 20000));
        return 0;
    }
    if (cmd == "regdump" && argc >= 4) {
        HKEY root = title == "HKCU" ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
        dumpKey(root, argv[3], title + "\\" + argv[3]);
        return 0;
    }
    HWND w = findDialog(title, true);
    if (!w) {
        std::printf("no window \"%s\"\n", title.c_str());
        return 1;
    }
    if (cmd == "progress") {
        std::printf("%ld\n",
                    static_cast<long>(SendMessageA(GetDlgItem(w, kProgressId), PBM_GETPOS, 0, 0)));
        return 0;
    }
    if (cmd == "close") {
        PostMessageA(w, WM_SYSCOMMAND, SC_CLOSE, 0);
        return 0;
    }
    if (cmd == "escape") {
        HWND focus = GetDlgItem(w, IDCANCEL);
        PostMessageA(focus ? focus : w, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageA(focus ? focus : w, WM_KEYUP, VK_ESCAPE, 0xC0010001);
        return 0;
    }
    if (cmd == "ok") {
        PostMessageA(w, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return 0;
    }
    if (cmd == "cancel") {
        press(w, IDCANCEL);
        return 0;
    }
    if (cmd == "about") {
        PostMessageA(w, WM_SYSCOMMAND, 0x10, 0);
        return box("About Fixwise", argc > 3 ? argv[3] : "OK", timeout(argc, argv, 4, 20000));
    }
    std::fprintf(stderr, "unknown command %s\n", cmd.c_str());
    return 2;
}
