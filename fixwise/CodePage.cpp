#include "CodePage.h"

#include <algorithm>
#include <cerrno>

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>

#include <memory>
#endif

namespace
{

// A character that no name means: the C1 controls (where the single-byte
// code pages leave a byte undefined, Windows reads it as one) and the
// private use area (where some of them put one).
bool isStrayCharacter(unsigned long c)
{
    return (c >= 0x80 && c <= 0x9F) || (c >= 0xE000 && c <= 0xF8FF);
}

#ifdef _WIN32
using Characters = std::wstring;

std::optional<Characters> decode(const std::string& text, unsigned codePage)
{
    if (text.empty())
        return Characters();
    const int size = static_cast<int>(text.size());
    const int wide =
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (wide <= 0)
        return std::nullopt;
    Characters chars(static_cast<std::size_t>(wide), L'\0');
    MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, chars.data(), wide);
    return chars;
}

std::optional<std::string> encode(const Characters& chars, unsigned codePage)
{
    if (chars.empty())
        return std::string();
    const int wide = static_cast<int>(chars.size());
    // UTF-8 takes neither flag nor default character.
    const bool utf8 = codePage == kUtf8CodePage;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* used = utf8 ? nullptr : &usedDefault;
    const int bytes =
        WideCharToMultiByte(codePage, flags, chars.data(), wide, nullptr, 0, nullptr, used);
    if (bytes <= 0 || usedDefault)
        return std::nullopt;
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(codePage, flags, chars.data(), wide, out.data(), bytes, nullptr, used);
    if (usedDefault)
        return std::nullopt;
    // What reads back as other characters is no exact encoding.
    std::optional<Characters> back = decode(out, codePage);
    if (!back || *back != chars)
        return std::nullopt;
    return out;
}
#else
using Characters = std::u32string;

std::string iconvName(unsigned codePage)
{
    return codePage == kUtf8CodePage ? "UTF-8" : "CP" + std::to_string(codePage);
}

// All of text through a converter; none on a sequence it cannot take.
std::optional<std::string> throughIconv(const char* from, const char* to, const std::string& text)
{
    std::unique_ptr<void, int (*)(iconv_t)> cd(iconv_open(to, from), iconv_close);
    if (cd.get() == reinterpret_cast<void*>(-1)) {
        cd.release();
        return std::nullopt;
    }
    std::string in = text;
    std::string out(text.size() * 4 + 16, '\0');
    char* inAt = in.data();
    std::size_t inLeft = in.size();
    char* outAt = out.data();
    std::size_t outLeft = out.size();
    while (inLeft > 0) {
        if (iconv(cd.get(), &inAt, &inLeft, &outAt, &outLeft) != static_cast<std::size_t>(-1))
            continue;
        if (errno != E2BIG)
            return std::nullopt;
        const std::size_t done = static_cast<std::size_t>(outAt - out.data());
        out.resize(out.size() * 2);
        outAt = out.data() + done;
        outLeft = out.size() - done;
    }
    // The end of the input: a converter may have state to close.
    if (iconv(cd.get(), nullptr, nullptr, &outAt, &outLeft) == static_cast<std::size_t>(-1))
        return std::nullopt;
    out.resize(static_cast<std::size_t>(outAt - out.data()));
    return out;
}

std::optional<Characters> decode(const std::string& text, unsigned codePage)
{
    std::optional<std::string> bytes = throughIconv(iconvName(codePage).c_str(), "UTF-32LE", text);
    if (!bytes)
        return std::nullopt;
    Characters chars;
    for (std::size_t at = 0; at + 4 <= bytes->size(); at += 4) {
        char32_t c = 0;
        for (std::size_t b = 0; b < 4; ++b)
            c |= static_cast<char32_t>(static_cast<unsigned char>((*bytes)[at + b])) << (8 * b);
        chars += c;
    }
    return chars;
}

std::optional<std::string> encode(const Characters& chars, unsigned codePage)
{
    std::string bytes;
    for (char32_t c : chars)
        for (std::size_t b = 0; b < 4; ++b)
            bytes += static_cast<char>((c >> (8 * b)) & 0xFF);
    return throughIconv("UTF-32LE", iconvName(codePage).c_str(), bytes);
}
#endif

// The characters of text, none when one of them is no character of the code
// page or a stray one.
std::optional<Characters> characters(const std::string& text, unsigned codePage)
{
    if (isAscii(text))
        return Characters(text.begin(), text.end());
    std::optional<Characters> chars = decode(text, codePage);
    if (!chars || std::any_of(chars->begin(), chars->end(), [](auto c) {
            return isStrayCharacter(static_cast<unsigned long>(c));
        }))
        return std::nullopt;
    return chars;
}

} // namespace

const std::vector<unsigned>& windowsCodePages()
{
    static const std::vector<unsigned> pages = {1252, 1250, 1251, 1253, 1254, 1255, 1256,
                                                1257, 1258, 874,  932,  936,  949,  950};
    return pages;
}

bool isKnownCodePage(unsigned codePage)
{
    const std::vector<unsigned>& pages = windowsCodePages();
    return codePage == kUtf8CodePage ||
           std::find(pages.begin(), pages.end(), codePage) != pages.end();
}

std::string parseCodePage(const std::string& text, unsigned& codePage)
{
    unsigned long value = 0;
    bool digits =
        !text.empty() && text.size() <= 5 &&
        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits)
        value = std::stoul(text);
    if (!digits || !isKnownCodePage(static_cast<unsigned>(value))) {
        std::string known;
        for (unsigned page : windowsCodePages())
            known += std::to_string(page) + ", ";
        return "--codepage " + text + " is none of the ANSI code pages of Windows (" + known +
               "or 65001 for UTF-8)";
    }
    codePage = static_cast<unsigned>(value);
    return "";
}

unsigned hostCodePage()
{
#ifdef _WIN32
    return GetACP();
#else
    return kUtf8CodePage;
#endif
}

bool isAscii(const std::string& text)
{
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

std::optional<std::string> convertText(const std::string& text, unsigned from, unsigned to)
{
    if (isAscii(text))
        return text;
    std::optional<Characters> chars = characters(text, from);
    if (!chars)
        return std::nullopt;
    return encode(*chars, to);
}

bool validIn(const std::string& text, unsigned codePage)
{
    return characters(text, codePage).has_value();
}
