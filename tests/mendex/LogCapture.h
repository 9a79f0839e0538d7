// Captures the diagnostic log of a native test in a scratch file, so tests
// can assert the exact entries written (line feeds as written by the code).
#pragma once

#include "DiagLog.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

class LogCapture
{
public:
    LogCapture()
    {
        char tmpl[] = "/tmp/mendexlogXXXXXX";
        int fd = mkstemp(tmpl);
        if (fd >= 0)
            close(fd);
        path_ = tmpl;
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

    // The entries written so far, without the banners, with "\n" line ends.
    std::string entries() const
    {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        std::string text = s.str();
        const std::string banner = "---------------- Log Start\r\n";
        if (text.compare(0, banner.size(), banner) == 0)
            text.erase(0, banner.size());
        std::string out;
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                continue;
            out += text[i];
        }
        return out;
    }

private:
    std::string path_;
};
