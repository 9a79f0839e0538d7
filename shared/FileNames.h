// The names that a file system keeps as spelt: what a plain path is made
// of. Pure text handling, free of windows.h.
#pragma once

#include <string>

// True when part names a file or folder as the file system keeps it: not
// empty, no "." or "..", no trailing dot or space, no wildcard, colon or
// other character that a file name cannot hold, no device name such as
// "NUL" or "COM1" (with or without an extension).
bool isPlainName(const std::string& part);
