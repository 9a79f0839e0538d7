// The check of a data folder, for the commands that must not go on when it
// has errors.
#pragma once

#include "Findings.h"

#include <string>

struct CheckOptions {
    // The ANSI code page of the customers' Windows, in which the engines read
    // the data; 0 when not given: text outside ASCII is then a warning.
    unsigned codePage = 0;
};

// What fixwise check reports for the data files of dir.
Findings checkFolder(const std::string& dir, const CheckOptions& options);
Findings checkFolder(const std::string& dir);
