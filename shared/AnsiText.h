// Texts of the system's ANSI code page (paths, registry names and data) as
// UTF-8 and back: JSON holds UTF-8, the engines work in the code page.
#pragma once

#include <windows.h>

#include <string>

// text converted from code page from to code page to; text itself when it
// cannot be converted.
inline std::string convertCodePage(const std::string& text, UINT from, UINT to)
{
    if (text.empty())
        return text;
    const int size = static_cast<int>(text.size());
    const int wide = MultiByteToWideChar(from, 0, text.data(), size, nullptr, 0);
    if (wide <= 0)
        return text;
    std::wstring chars(static_cast<std::size_t>(wide), L'\0');
    MultiByteToWideChar(from, 0, text.data(), size, chars.data(), wide);
    const int bytes = WideCharToMultiByte(to, 0, chars.data(), wide, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return text;
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(to, 0, chars.data(), wide, out.data(), bytes, nullptr, nullptr);
    return out;
}

inline std::string utf8(const std::string& ansi)
{
    return convertCodePage(ansi, CP_ACP, CP_UTF8);
}

inline std::string ansiText(const std::string& utf8Text)
{
    return convertCodePage(utf8Text, CP_UTF8, CP_ACP);
}
