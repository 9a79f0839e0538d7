// The report buffer of a caller of the engine's exports, filled with bounded
// copies: what does not fit is cut, and the text is always terminated.
// Nothing is written when the buffer is null or its capacity is not above 0.
// Also: the diagnostic log silenced for the length of a question.
#pragma once

#include "DiagLog.h"
#include "Text.h"

#include <cstddef>
#include <string>

class ReportText
{
public:
    ReportText(char* text, int capacity)
        : text_(text && capacity > 0 ? text : nullptr),
          capacity_(text_ ? static_cast<std::size_t>(capacity) : 0)
    {
        clear();
    }
    void clear()
    {
        length_ = 0;
        copyText(text_, capacity_, "");
    }
    void put(const char* text)
    {
        if (text_)
            length_ += copyText(text_ + length_, capacity_ - length_, text);
    }
    void line(const std::string& text)
    {
        put(text.c_str());
        put("\n");
    }

private:
    char* text_;
    std::size_t capacity_;
    std::size_t length_ = 0;
};

// The diagnostic log is off while it lives, and as it was afterwards.
class DiagLogSilenced
{
public:
    DiagLogSilenced() : saved_(g_diagLogOn) { g_diagLogOn = 0; }
    ~DiagLogSilenced() { g_diagLogOn = saved_; }
    DiagLogSilenced(const DiagLogSilenced&) = delete;
    DiagLogSilenced& operator=(const DiagLogSilenced&) = delete;

private:
    int saved_;
};
