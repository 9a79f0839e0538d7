// fixwise COMMAND ...: dispatches to the subcommand.
#include "Commands.h"

#include <cstdio>
#include <cstring>

namespace
{

struct Command {
    const char* name;
    int (*run)(int, char**);
    const char* usage;
};

const Command kCommands[] = {
    {"check", runCheck,
     "check [DIR] [--json] [--codepage N]\n"
     "                         report what the engines will drop, misread or stop at"},
    {"author", runAuthor,
     "author --product KEY --lang LANG --out DIR [--anchor NAME] [--codepage N]\n"
     "                 MACRO=FOLDER...\n"
     "                         write the data of a reference installation"},
    {"medium", runMedium,
     "medium --out DIR [--bin BIN] DATA\n"
     "                         lay out a patch medium from checked data"},
    {"verify", runVerify,
     "verify [MEDIUM] [--json] [--ca FILE] [--codepage N]\n"
     "                         check a copied medium: digests, signatures, versions, data"},
    {"plan", runPlan,
     "plan [--json] [--record FIELD=VALUE]...\n"
     "                         show what an update run would do here (Windows)"},
    {"undo", runUndo,
     "undo [--list] [--json] [--dry-run] [--force] [RUN]\n"
     "                         put back what a kept update run changed (Windows)"},
};

void printUsage()
{
    std::fprintf(stderr, "usage: fixwise COMMAND ... | fixwise --version\n");
    for (const Command& c : kCommands)
        std::fprintf(stderr, "  fixwise %s\n", c.usage);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        printUsage();
        return kExitCannotRun;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("fixwise %s\n", FIXWISE_VERSION);
        return kExitClean;
    }
    for (const Command& c : kCommands) {
        if (std::strcmp(argv[1], c.name) == 0)
            return c.run(argc - 2, argv + 2);
    }
    std::fprintf(stderr, "fixwise: unknown command '%s'\n", argv[1]);
    printUsage();
    return kExitCannotRun;
}
