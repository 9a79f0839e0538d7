// Directory texts of the update run: the product key, the derived toolkit and
// OCR directories, and the path pieces that the file phase works with.
//
// Pure text handling on fixed buffers (no file system): every copy is bounded
// by the buffer's capacity and cut, never overrun.
#pragma once

#include <cstddef>

// productName, one backslash, productVersion.
void buildProductKey(char* out, std::size_t cap, const char* productName,
                     const char* productVersion);

// The toolkit directory that belongs to a program directory: the program
// directory's parent (a last component "plugins", any case, is passed over
// first), then "VEXsoft\PLUGINS", then "11" for toolkit version "1.1" or "12"
// for "1.2". Returns false and leaves toolkitDir unchanged when the program
// directory holds no backslash to cut at.
bool deriveToolkitDir(char* toolkitDir, std::size_t cap, const char* programDir,
                      const char* toolkitVersion);

// The OCR directory beside the toolkit directory: toolkitDir cut after its
// last backslash, then "Ocr". Returns false and leaves ocrPath unchanged when
// toolkitDir holds no backslash.
bool deriveOcrDir(char* ocrPath, std::size_t cap, const char* toolkitDir);

// Cuts path at its last backslash, so that a file's path names its directory
// (without a trailing backslash). Returns false and leaves the path unchanged
// when it holds no backslash.
bool cutAtLastBackslash(char* path);

// The text after the last backslash (the whole text if there is none).
const char* fileNameOf(const char* path);

// True when path lies below dir: dir (with or without a trailing backslash),
// then a backslash, then at least one character. ASCII letters compare
// without regard to case. A blank dir contains nothing.
bool pathIsInside(const char* path, const char* dir);
