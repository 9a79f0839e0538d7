// Fuzz target: expandMacro with an arbitrary text, value, selector and
// capacity. Input: selector byte, capacity byte, then value NUL text.
#include "PathMacros.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    static const int kSelectors[] = {kMacroVexDir, kMacroAppDir, kMacroOcrDir, kMacroWinDir, 0};
    int selector = kSelectors[data[0] % 5];
    // Capacities 0..511: the run's 511 and everything smaller.
    std::size_t capacity = data[1] == 0xFF ? 511 : static_cast<std::size_t>(data[1]) * 2;
    std::string rest(reinterpret_cast<const char*>(data + 2), size - 2);
    std::size_t nul = rest.find('\0');
    std::string value = nul == std::string::npos ? std::string() : rest.substr(0, nul);
    std::string text = nul == std::string::npos ? rest : rest.substr(nul + 1);
    text = text.substr(0, text.find('\0'));

    // An exact-size heap buffer, so any write past capacity is caught.
    char* out = new char[capacity ? capacity : 1];
    int r = expandMacro(text.c_str(), out, capacity, selector, value.c_str());
    if (r == 0) {
        if (capacity == 0 || strnlen(out, capacity) >= capacity)
            __builtin_trap();
        // The result never holds more than the text and the value together.
        if (std::strlen(out) > text.size() + value.size())
            __builtin_trap();
    } else if (r != -1) {
        __builtin_trap();
    }
    delete[] out;
    return 0;
}
