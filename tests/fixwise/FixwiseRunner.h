// Runs the built fixwise program as a shell command and takes its output.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace fixwisetest
{

struct ProgramRun {
    int exitCode;
    std::string text;
};

// Runs fixwise with args (shell words, redirections included) and takes its
// standard output.
inline ProgramRun runFixwise(const std::string& args)
{
    ProgramRun run{-1, ""};
    std::string command = std::string(FIXWISE_PROGRAM) + " " + args;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.text.append(buffer, n);
    int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

} // namespace fixwisetest
