// The switches of Setup and the exit codes it ends with. Free of windows.h.
#pragma once

#include <string>

// Exit codes of Setup, as deployment systems read them.
const int kExitUpdated = 0;
const int kExitCancelled = 1602;
const int kExitFailed = 1603;
const int kExitIncomplete = 1604; // completed, but the installation does not match;
                                  // undone, but files changed since were kept
const int kExitNotFound = 1605;   // no installed release, or no run to undo
const int kExitBusy = 1618;       // product running or another Setup running: retry
const int kExitLogFailed = 1622;  // the run log named by /log cannot be written
const int kExitBadSwitch = 1639;
const int kExitRestartStarted = 1641; // updated; Setup started the restart that finishes it
const int kExitRestartNeeded = 3010;  // updated; a restart finishes it (files were in use)

enum class SetupMode {
    Interactive, // windows and message boxes
    Passive,     // the progress window, no message box
    Quiet,       // no window at all
};

// Whether Setup restarts the computer when files in use are replaced at the
// next restart. Setup never restarts by itself.
enum class SetupRestart {
    Default, // interactive: asks; unattended: never
    Never,   // /norestart
    Force,   // /forcerestart: restarts without asking
};

struct SetupOptions {
    SetupMode mode = SetupMode::Interactive;
    SetupRestart restart = SetupRestart::Default;
    bool help = false;
    bool undo = false;        // puts back what the newest kept run changed
    std::string logPath;      // empty: no run log
    std::string badSwitch;    // the first switch not understood, or that contradicts an earlier one
    bool contradicts = false; // badSwitch is understood but contradicts an earlier switch
    bool valid() const { return badSwitch.empty(); }
};

// The usage text of the switches, lines separated by "\n".
extern const char kSetupUsage[];

// Parses the arguments (without the program name). Switches start with "/"
// or "-" and compare without regard to case; a path with blanks is quoted.
SetupOptions parseSetupOptions(const char* commandLine);
