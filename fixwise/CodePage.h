// The code pages of the data files' text. The engines read libdata.src,
// Update.src and Resolve.src in the ANSI code page of the customer's Windows
// and hand the names to the A-functions, which take them in that code page
// too; fixwise writes and checks them in the code page the patch is for.
// Natively the text is converted by iconv, on Windows by the system.
#pragma once

#include <optional>
#include <string>
#include <vector>

constexpr unsigned kUtf8CodePage = 65001;

// The ANSI code pages of Windows, the most common first: those that
// --codepage takes (with 65001, UTF-8 as the ANSI code page) and that the
// check tries on non-ASCII text.
const std::vector<unsigned>& windowsCodePages();

// True for one of windowsCodePages() or kUtf8CodePage.
bool isKnownCodePage(unsigned codePage);

// The value of --codepage: "" when it is a known code page (then in
// codePage), else what is wrong with it.
std::string parseCodePage(const std::string& text, unsigned& codePage);

// The code page of the text that this program gets from the file system and
// its command line: UTF-8 natively, the ANSI code page on Windows.
unsigned hostCodePage();

bool isAscii(const std::string& text);

// text of code page from as text of code page to; none when a byte sequence
// is not a character of from (control characters 0x80-0x9F included), or a
// character cannot be held by to exactly (no best-fit replacements).
std::optional<std::string> convertText(const std::string& text, unsigned from, unsigned to);

// True when every byte sequence of text is a character of the code page.
bool validIn(const std::string& text, unsigned codePage);
