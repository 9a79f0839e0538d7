// Diagnostic log, compiled into each library that carries it.
//
// Off unless the registry switch turns it on when the library is loaded.
// When on, every entry is appended to "OvUpdErr.log" and flushed at once.
// Each library has its own copy of this state.
#pragma once

#include <cstddef>

extern int g_diagLogOn;
extern char g_diagLogBuf[512];

// Reads the registry switch and opens the log file (library load).
void DiagLogOpen();
// Writes text if it is present and the file is open, then flushes.
void DiagLogWrite(const char* text);
// Writes the closing banner and closes the file (library unload).
void DiagLogClose();

// The one way to write an entry: when the log is on, formats the entry into
// g_diagLogBuf (cut at 511 characters, never overrun) and writes it.
void DiagLog(const char* format, ...)
#if defined(__clang__)
    __attribute__((format(printf, 1, 2)))
#elif defined(__GNUC__)
    __attribute__((format(gnu_printf, 1, 2)))
#endif
    ;

// Switches the log on with the given file path: the part of DiagLogOpen that
// follows the registry read. Also lets the text-handling code be tested
// without a registry.
void DiagLogStart(const char* filePath);
