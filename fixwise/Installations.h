// The installations that fixwise's machine commands (plan, undo) work on:
// those that Scoutex.dll beside the tool finds, as Setup finds them, or one
// given by hand with --record FIELD=VALUE.
#pragma once

#include "InstallRecord.h"

#include <cstddef>
#include <string>
#include <vector>

// The usage lines of --record.
extern const char kRecordFields[];

// Takes one --record FIELD=VALUE into record; false (said on the error
// output, under the command's name) when it is no such assignment.
bool takeRecordField(const char* command, const std::string& assignment, InstallRecord& record);

// True when a record given by hand names its product; else says so.
bool recordHasProduct(const char* command, const InstallRecord& record);

// Every installation that Scoutex finds with the data of the current
// folder, in its order; chosen is the newest (a later one wins on equal
// times), as Setup chooses. False with a message when the search cannot
// run or finds nothing.
bool findInstallations(const char* command, std::vector<InstallRecord>& found, std::size_t& chosen);
