// Bounded text helpers for fixed character buffers.
//
// Every copy into a fixed buffer stops at the buffer's size less one and
// terminates the text: what does not fit is cut, never overrun.
#pragma once

#include <cstddef>
#include <cstring>

// Copies at most cap - 1 bytes of src into dst and terminates it.
// Returns the number of bytes copied. cap == 0 writes nothing.
inline std::size_t copyText(char* dst, std::size_t cap, const char* src)
{
    if (cap == 0)
        return 0;
    std::size_t n = 0;
    if (src)
        while (n + 1 < cap && src[n] != '\0') {
            dst[n] = src[n];
            ++n;
        }
    dst[n] = '\0';
    return n;
}

// Copies at most min(len, cap - 1) bytes of src into dst and terminates it.
inline std::size_t copyTextN(char* dst, std::size_t cap, const char* src, std::size_t len)
{
    if (cap == 0)
        return 0;
    std::size_t n = 0;
    while (n < len && n + 1 < cap && src[n] != '\0') {
        dst[n] = src[n];
        ++n;
    }
    dst[n] = '\0';
    return n;
}

// Appends src to the text in dst, within cap bytes in all.
// Returns the new length.
inline std::size_t appendText(char* dst, std::size_t cap, const char* src)
{
    if (cap == 0)
        return 0;
    std::size_t len = strnlen(dst, cap - 1);
    return len + copyText(dst + len, cap - len, src);
}

template <std::size_t N> inline std::size_t copyText(char (&dst)[N], const char* src)
{
    return copyText(dst, N, src);
}

template <std::size_t N> inline std::size_t appendText(char (&dst)[N], const char* src)
{
    return appendText(dst, N, src);
}

// The piece of a text from its start up to the first delim, or to the end of
// the text when there is none: how every record and header is split.
struct TextPiece {
    const char* begin;
    std::size_t length;
    bool delimited; // the delimiter is there; rest() is the text after it
    // The text after the delimiter, or the end of the text without one.
    const char* rest() const { return begin + length + (delimited ? 1 : 0); }
};

inline TextPiece upTo(const char* text, char delim)
{
    const char* d = std::strchr(text, delim);
    if (d)
        return {text, static_cast<std::size_t>(d - text), true};
    return {text, std::strlen(text), false};
}

// The piece is exactly word (letter case counts).
inline bool pieceIs(const TextPiece& piece, const char* word)
{
    return std::strlen(word) == piece.length && std::strncmp(piece.begin, word, piece.length) == 0;
}

template <std::size_t N> inline std::size_t copyText(char (&dst)[N], const TextPiece& piece)
{
    return copyTextN(dst, N, piece.begin, piece.length);
}

// Letter case is compared for A-Z only: every other byte of the ANSI code
// page stands for itself.
inline char lowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// a equals b, letter case ignored.
inline bool equalsNoCase(const char* a, const char* b)
{
    for (; *a != '\0' && *b != '\0'; ++a, ++b)
        if (lowerAscii(*a) != lowerAscii(*b))
            return false;
    return *a == *b;
}

// The len bytes at text equal word, letter case ignored.
inline bool equalsNoCaseN(const char* text, std::size_t len, const char* word)
{
    std::size_t i = 0;
    for (; i < len; ++i)
        if (word[i] == '\0' || lowerAscii(text[i]) != lowerAscii(word[i]))
            return false;
    return word[i] == '\0';
}

// A text is blank when it is empty or holds only spaces (a null text too).
inline bool isBlankText(const char* text)
{
    if (!text)
        return true;
    while (*text == ' ')
        ++text;
    return *text == '\0';
}

// Writes dir, one backslash unless dir already ends in one (an empty dir gets
// one), and name into out, within cap bytes. False when the whole path does
// not fit; out then holds it cut at cap - 1 bytes.
inline bool joinPath(char* out, std::size_t cap, const char* dir, const char* name)
{
    const std::size_t dirLen = std::strlen(dir);
    const bool needSlash = dirLen == 0 || dir[dirLen - 1] != '\\';
    const std::size_t total = dirLen + (needSlash ? 1 : 0) + std::strlen(name);
    copyText(out, cap, dir);
    if (needSlash)
        appendText(out, cap, "\\");
    appendText(out, cap, name);
    return total < cap;
}

template <std::size_t N> inline bool joinPath(char (&out)[N], const char* dir, const char* name)
{
    return joinPath(out, N, dir, name);
}
