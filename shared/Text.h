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
