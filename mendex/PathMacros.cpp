#include "PathMacros.h"

#include "Text.h"
#include "UpdateScript.h"

#include <cstring>

namespace
{

// The first occurrence of the len bytes at piece in text, letter case ignored.
const char* findNoCaseN(const char* text, const char* piece, std::size_t len)
{
    for (const char* t = text;; ++t) {
        std::size_t i = 0;
        while (i < len && t[i] != '\0' && lowerAscii(t[i]) == lowerAscii(piece[i]))
            ++i;
        if (i == len)
            return t;
        if (*t == '\0')
            return nullptr;
    }
}

bool blankN(const char* text, std::size_t len)
{
    for (std::size_t i = 0; i < len; ++i)
        if (text[i] != ' ')
            return false;
    return true;
}

} // namespace

const char* macroName(int selector)
{
    switch (selector) {
    case kMacroVexDir:
        return "%VEXDIR%";
    case kMacroAppDir:
        return "%APPDIR%";
    case kMacroOcrDir:
        return "%OCRDIR%";
    case kMacroWinDir:
        return "%WINDIR%";
    default:
        return nullptr;
    }
}

namespace
{

// Output that takes at most capacity - 1 characters and stays terminated.
class BoundedOut
{
public:
    BoundedOut(char* out, std::size_t capacity) : out_(out), cap_(capacity) { out_[0] = '\0'; }
    void append(const char* text, std::size_t len)
    {
        while (len > 0 && *text != '\0' && n_ + 1 < cap_) {
            out_[n_++] = *text++;
            --len;
        }
        out_[n_] = '\0';
    }
    void append(const char* text) { append(text, std::strlen(text)); }

private:
    char* out_;
    std::size_t cap_;
    std::size_t n_ = 0;
};

} // namespace

const char* findNoCase(const char* text, const char* piece)
{
    if (!text || !piece)
        return nullptr;
    return findNoCaseN(text, piece, std::strlen(piece));
}

int expandMacro(const char* text, char* out, std::size_t capacity, int selector, const char* value)
{
    if (!out || capacity == 0)
        return -1;
    out[0] = '\0';
    const char* name = macroName(selector);
    if (isBlankText(text) || !name)
        return -1;
    const char* at = std::strstr(text, name);
    if (!at)
        return -1;
    if (!value)
        value = "";

    BoundedOut result(out, capacity);
    result.append(text, static_cast<std::size_t>(at - text));

    // The filter "?cut?" right after the name; the closing "?" may be missing.
    const char* rest = at + std::strlen(name);
    const char* cut = nullptr;
    std::size_t cutLen = 0;
    if (*rest == '?') {
        cut = rest + 1;
        const char* close = std::strchr(cut, '?');
        cutLen = close ? static_cast<std::size_t>(close - cut) : std::strlen(cut);
        rest = close ? close + 1 : cut + cutLen;
    }

    const char* found = (cut && !blankN(cut, cutLen)) ? findNoCaseN(value, cut, cutLen) : nullptr;
    if (found) {
        result.append(value, static_cast<std::size_t>(found - value));
        result.append(found + cutLen);
    } else {
        result.append(value);
    }
    result.append(rest);
    return 0;
}
