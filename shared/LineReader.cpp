#include "LineReader.h"

#include "ReadDiagnostics.h"

#if defined(_WIN32)
#include <share.h>
#endif

namespace
{
constexpr int kCtrlZ = 0x1A;
constexpr int kNone = -2;
} // namespace

LineReader::LineReader(std::string_view text) : text_(text) {}

LineReader::LineReader(std::FILE* file) : file_(file) {}

int LineReader::rawByte()
{
    if (file_)
        return std::fgetc(file_);
    if (pos_ >= text_.size())
        return EOF;
    return static_cast<unsigned char>(text_[pos_++]);
}

int LineReader::rawPeek()
{
    if (file_) {
        int c = std::fgetc(file_);
        if (c != EOF)
            std::ungetc(c, file_);
        return c;
    }
    if (pos_ >= text_.size())
        return EOF;
    return static_cast<unsigned char>(text_[pos_]);
}

int LineReader::peekByte()
{
    if (pending_ != kNone)
        return pending_;
    if (ended_)
        return EOF;
    int c = rawByte();
    if (c == kCtrlZ) {
        ended_ = true;
        c = EOF;
    } else if (c == '\r' && rawPeek() == '\n') {
        c = rawByte();
    }
    pending_ = c;
    return c;
}

int LineReader::takeByte()
{
    int c = peekByte();
    pending_ = kNone;
    return c;
}

bool LineReader::atEnd()
{
    return peekByte() == EOF;
}

std::size_t LineReader::readLine(char* out)
{
    const bool continued = midLine_;
    pieceLine_ = linesDone_ + 1;
    std::size_t n = 0;
    bool ended = false;
    while (n < kMaxLine) {
        int c = peekByte();
        if (c == EOF)
            break;
        takeByte();
        if (c == '\n') {
            ++linesDone_;
            ended = true;
            break;
        }
        out[n++] = static_cast<char>(c);
    }
    out[n] = '\0';
    midLine_ = !ended && n == kMaxLine && peekByte() != EOF;
    if (sink_ && midLine_ && !continued) {
        if (peekByte() == '\n')
            sink_->report(pieceLine_, Severity::Error,
                          "line of exactly 511 characters: its line feed reads as an empty line");
        else
            sink_->report(pieceLine_, Severity::Error,
                          "line longer than 511 characters: the rest is read as a line of its own");
    }
    return n;
}

void LineReader::rewind()
{
    pos_ = 0;
    pending_ = kNone;
    ended_ = false;
    linesDone_ = 0;
    pieceLine_ = 0;
    midLine_ = false;
    if (file_)
        std::rewind(file_);
}

UniqueStdFile openDataFile(const char* name)
{
#if defined(_WIN32)
    return UniqueStdFile(_fsopen(name, "rb", _SH_DENYNO));
#else
    return UniqueStdFile(std::fopen(name, "rb"));
#endif
}
