// The subcommands of fixwise, one file each. Each takes the arguments after
// its name and returns the process exit code: 0 fine, 1 the data has
// errors (plan: a run would change something), 2 the command cannot run
// (usage, a folder missing).
#pragma once

int runCheck(int argc, char** argv);
int runAuthor(int argc, char** argv);
int runMedium(int argc, char** argv);
int runVerify(int argc, char** argv);
int runPlan(int argc, char** argv);
int runUndo(int argc, char** argv);

constexpr int kExitClean = 0;
constexpr int kExitErrors = 1;
constexpr int kExitCannotRun = 2;
