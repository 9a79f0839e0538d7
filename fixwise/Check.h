// The check of a data folder, for the commands that must not go on when it
// has errors.
#pragma once

#include "Findings.h"

#include <string>

// What fixwise check reports for the data files of dir.
Findings checkFolder(const std::string& dir);
