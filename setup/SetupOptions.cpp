// The switches of Setup.
#include "SetupOptions.h"

#include <vector>

const char kSetupUsage[] =
    "Usage: Setup [/undo] [/quiet | /passive] [/norestart | /forcerestart]\n"
    "             [/log FILE | /log:FILE] [/?]\n"
    "  /undo          puts back what the last update changed; no update\n"
    "  /quiet         no window; the update runs without asking\n"
    "  /passive       the progress window only; the update runs without asking\n"
    "  /norestart     never restarts and does not ask to (unattended: the default)\n"
    "  /forcerestart  restarts without asking when a restart finishes the update\n"
    "  /log FILE      appends a run log to FILE\n"
    "  /?             shows this text\n"
    "Exit codes: 0 updated (or undone), 1602 cancelled, 1603 failed,\n"
    "1604 some files not restored or the installation does not match\n"
    "(undo: files changed since the update were kept), 1605 no installed\n"
    "release, or no run to undo, 1618 busy (retry later), 1622 log file\n"
    "cannot be written, 1639 unknown or contradicting switch, 1641 updated\n"
    "and restarting, 3010 updated, a restart finishes it";

namespace
{

// Splits a command line into arguments: blanks separate, double quotes group
// and are dropped.
std::vector<std::string> splitArguments(const char* line)
{
    std::vector<std::string> args;
    const char* p = line ? line : "";
    for (;;) {
        while (*p == ' ' || *p == '\t')
            ++p;
        if (*p == '\0')
            break;
        std::string arg;
        bool quoted = false;
        for (; *p != '\0' && (quoted || (*p != ' ' && *p != '\t')); ++p) {
            if (*p == '"')
                quoted = !quoted;
            else
                arg += *p;
        }
        args.push_back(arg);
    }
    return args;
}

bool sameWord(const std::string& a, const char* b)
{
    std::size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (x != y)
            return false;
    }
    return i == a.size() && b[i] == '\0';
}

} // namespace

SetupOptions parseSetupOptions(const char* commandLine)
{
    SetupOptions options;
    const std::vector<std::string> args = splitArguments(commandLine);
    // Read to the end, so that a log named after a bad switch still gets the
    // usage.
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) {
            if (options.valid())
                options.badSwitch = arg;
            continue;
        }
        const std::string name = arg.substr(1);
        const std::size_t colon = name.find(':');
        if (sameWord(name, "quiet")) {
            options.mode = SetupMode::Quiet;
        } else if (sameWord(name, "passive")) {
            if (options.mode != SetupMode::Quiet)
                options.mode = SetupMode::Passive;
        } else if (sameWord(name, "norestart") || sameWord(name, "forcerestart")) {
            const SetupRestart restart =
                sameWord(name, "norestart") ? SetupRestart::Never : SetupRestart::Force;
            if (options.restart != SetupRestart::Default && options.restart != restart &&
                options.valid()) {
                options.badSwitch = arg;
                options.contradicts = true;
            }
            options.restart = restart;
        } else if (sameWord(name, "undo")) {
            options.undo = true;
        } else if (sameWord(name, "?")) {
            options.help = true;
        } else if (sameWord(name, "log") && i + 1 < args.size() && !args[i + 1].empty()) {
            options.logPath = args[++i];
        } else if (colon != std::string::npos && sameWord(name.substr(0, colon), "log") &&
                   colon + 1 < name.size()) {
            options.logPath = name.substr(colon + 1);
        } else if (options.valid()) {
            options.badSwitch = arg;
        }
    }
    return options;
}
