// The diagnostic log of a test program captured in a file of its own, so
// tests can assert the exact entries written. Free of windows.h: native and
// Windows tests use the same capture.
#pragma once

#include "DiagLog.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

// The entries of a log file's text: CR LF read as LF, without the banners
// that open and close a block.
inline std::string logEntries(std::string text)
{
    std::string lf;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            lf += text[i];
    const std::string start = "---------------- Log Start\n";
    const std::string end = "\n\n---------------- Log End\n";
    if (lf.compare(0, start.size(), start) == 0)
        lf.erase(0, start.size());
    if (lf.size() >= end.size() && lf.compare(lf.size() - end.size(), end.size(), end) == 0)
        lf.erase(lf.size() - end.size());
    return lf;
}

// The entries of the log file at path (empty when there is none).
inline std::string readLogEntries(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return logEntries(s.str());
}

// The entries one by one (each its text after "\n>"), sorted: for a walk
// whose order the file system decides.
inline std::vector<std::string> sortedLogEntries(const std::string& entries)
{
    std::vector<std::string> v;
    const std::string sep = "\n>";
    for (std::size_t at = entries.find(sep); at != std::string::npos;) {
        const std::size_t next = entries.find(sep, at + sep.size());
        v.push_back(entries.substr(at + sep.size(), next == std::string::npos
                                                        ? std::string::npos
                                                        : next - at - sep.size()));
        at = next;
    }
    std::sort(v.begin(), v.end());
    return v;
}

// The log switched on to a file while the capture lives: a fresh file in the
// system's temporary folder, or the path given. The file is removed at the end.
class LogCapture
{
public:
    LogCapture() : LogCapture(freshPath()) {}
    explicit LogCapture(std::string path) : path_(std::move(path))
    {
        std::remove(path_.c_str());
        DiagLogStart(path_.c_str());
    }
    ~LogCapture()
    {
        DiagLogClose();
        std::remove(path_.c_str());
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // The entries written so far, with "\n" line ends.
    std::string entries() const { return readLogEntries(path_); }
    std::vector<std::string> sortedEntries() const { return sortedLogEntries(entries()); }
    const std::string& path() const { return path_; }

private:
    static std::string freshPath()
    {
        static std::atomic<unsigned> count{0};
        static const unsigned run = std::random_device{}();
        return (std::filesystem::temp_directory_path() /
                ("fwlog-" + std::to_string(run) + "-" + std::to_string(count++) + ".txt"))
            .string();
    }

    std::string path_;
};
