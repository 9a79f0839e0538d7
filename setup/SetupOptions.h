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

enum class SetupMode {
    Interactive, // windows and message boxes
    Passive,     // the progress window, no message box
    Quiet,       // no window at all
};

struct SetupOptions {
    SetupMode mode = SetupMode::Interactive;
    bool help = false;
    bool undo = false;     // puts back what the newest kept run changed
    std::string logPath;   // empty: no run log
    std::string badSwitch; // the first switch not understood
    bool valid() const { return badSwitch.empty(); }
};

// The usage text of the switches, lines separated by "\n".
extern const char kSetupUsage[];

// Parses the arguments (without the program name). Switches start with "/"
// or "-" and compare without regard to case; a path with blanks is quoted.
SetupOptions parseSetupOptions(const char* commandLine);
