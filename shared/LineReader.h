// Line reader for the data files (libdata.src, Update.src, Resolve.src).
//
// The files are single-byte text read as the C runtime's text mode does:
//   - a line ends at a line feed, which is consumed and not stored;
//   - a carriage return right before a line feed is dropped;
//   - a Ctrl-Z (0x1A) ends the file;
//   - a line is delivered in pieces of at most kMaxLine characters: a longer
//     line is cut there and its remainder is read as the next line, so a line
//     of exactly kMaxLine characters is followed by an empty one.
// atEnd() answers before each read whether another line is there, so a last
// line without a line feed is still read, and nothing follows a final one.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string_view>

class ReadDiagnostics;

class LineReader
{
public:
    static constexpr std::size_t kMaxLine = 511;
    static constexpr std::size_t kBufSize = kMaxLine + 1;

    // Reads from text held in memory (the text must outlive the reader).
    explicit LineReader(std::string_view text);
    // Reads from an open file, not owned; the file should be opened in
    // binary mode, since the reader does the text-mode translation itself.
    explicit LineReader(std::FILE* file);

    // True when no further line can be read.
    bool atEnd();
    // Reads the next line into out (kBufSize bytes), terminated; returns its
    // length. At the end it stores an empty line and returns 0.
    std::size_t readLine(char* out);
    // Starts again from the beginning.
    void rewind();

    // The line (1-based) of the file that the last piece read came from.
    std::size_t lineNumber() const { return pieceLine_; }
    // With a sink, every line of more than kMaxLine characters (and every
    // line of exactly kMaxLine, whose line feed reads as an empty line) is
    // reported as it is read. What is read does not change.
    void setDiagnostics(ReadDiagnostics* sink) { sink_ = sink; }

private:
    int peekByte(); // translated byte, or EOF
    int takeByte();
    int rawByte();
    int rawPeek();

    std::string_view text_;
    std::size_t pos_ = 0;
    std::FILE* file_ = nullptr;
    int pending_ = -2;          // translated byte looked at but not taken (-2: none)
    bool ended_ = false;        // Ctrl-Z seen
    std::size_t linesDone_ = 0; // line feeds taken
    std::size_t pieceLine_ = 0;
    bool midLine_ = false; // the last piece was cut: the next continues its line
    ReadDiagnostics* sink_ = nullptr;
};

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using UniqueStdFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens a data file by name for reading only, shared with other readers and
// writers, never creating it. Returns null when it cannot be opened.
UniqueStdFile openDataFile(const char* name);
