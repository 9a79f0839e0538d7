// Result codes shared by every operation of the two libraries.
// 0 is success; failures are small negative numbers.
#pragma once

enum ResultCode : int {
    kOk = 0,
    kFailed = -1,          // general failure, or nothing found
    kNotOnDisk = -8,       // file or directory missing, or too few entries
    kRegistryRead = -9,    // a registry value cannot be read
    kMalformed = -10,      // malformed line or value, or a path without '\'
    kDataFileOpen = -11,   // a data file cannot be opened
    kNoMoreProducts = -12, // enumeration has returned every release
    kNoMemory = -14,       // memory exhausted
    kRestoreFailed = -15,  // at least one restore copy failed
};
