// Path macros of the update script: "%VEXDIR%", "%APPDIR%", "%OCRDIR%" and
// "%WINDIR%", each optionally followed by a filter "?cut?" that removes the
// first occurrence of the cut text (letter case ignored) from the value before
// it is inserted. Free of windows.h.
#pragma once

#include <cstddef>

// The selectors by which the run names a macro to expandMacro.
enum MacroSelector : int {
    kMacroVexDir = 0x1,    // "%VEXDIR%": toolkitDir
    kMacroAppDir = 0x10,   // "%APPDIR%": programDir
    kMacroOcrDir = 0x100,  // "%OCRDIR%": ocrPath
    kMacroWinDir = 0x1000, // "%WINDIR%": the Windows directory
};

// The selectors in the order in which the run expands a file path.
constexpr int kFilePathMacros[] = {kMacroVexDir, kMacroAppDir, kMacroOcrDir, kMacroWinDir};

// The name of the selected macro ("%VEXDIR%", ...), percent signs included;
// null for any other selector.
const char* macroName(int selector);

// The longest path that the run's file calls take (the system's MAX_PATH
// less its terminator): a longer one can be neither checked nor restored.
constexpr std::size_t kMaxFilePath = 259;

// Expands the first occurrence of the selected macro (name matched exactly,
// with case) in text, inserting value (null counts as empty) through the
// macro's filter if it has one, and writes the result to out. The output
// holds at most capacity - 1 characters and is terminated: what would go
// beyond is cut. out must have room for capacity bytes; text and out must
// not overlap. Returns kOk when the macro was found and out holds the result;
// kFailed when text is blank, the selector is not one of the four, the macro does
// not occur, or capacity is 0 (out then holds nothing useful; keep the text).
int expandMacro(const char* text, char* out, std::size_t capacity, int selector, const char* value);

// The first occurrence of piece in text, ASCII letters compared without regard
// to case and every other byte exactly; null when there is none (or either is
// null). An empty piece is found at the start of text.
const char* findNoCase(const char* text, const char* piece);
