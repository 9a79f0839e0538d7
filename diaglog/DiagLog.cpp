// The parts of the diagnostic log that need no registry: state, file, entries.
#include "DiagLog.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <share.h>
#endif

int g_diagLogOn = 0;
char g_diagLogBuf[512];

namespace
{

// The log file. It is a text file: each line feed reaches the disk as CR LF.
// Opened for appending without sharing restrictions, so another process may
// read it while it is written.
class DiagLogFile
{
public:
    ~DiagLogFile() { close(); }

    void open(const char* path)
    {
        close();
#if defined(_WIN32)
        file_ = _fsopen(path, "a+b", _SH_DENYNO);
#else
        file_ = std::fopen(path, "a+b");
#endif
    }
    bool isOpen() const
    {
        return file_ != nullptr;
    }

    void write(const char* text)
    {
        if (!file_)
            return;
        // Text-mode translation: LF becomes CR LF.
        const char* run = text;
        for (const char* p = text; *p; ++p) {
            if (*p == '\n') {
                std::fwrite(run, 1, static_cast<std::size_t>(p - run), file_);
                std::fwrite("\r\n", 1, 2, file_);
                run = p + 1;
            }
        }
        std::fwrite(run, 1, std::strlen(run), file_);
    }
    void flush()
    {
        if (file_)
            std::fflush(file_);
    }
    void close()
    {
        if (file_) {
            std::fflush(file_);
            std::fclose(file_);
            file_ = nullptr;
        }
    }

private:
    std::FILE* file_ = nullptr;
};

DiagLogFile g_diagLogFile;

} // namespace

void DiagLogStart(const char* filePath)
{
    g_diagLogOn = 1;
    std::memset(g_diagLogBuf, 0, sizeof g_diagLogBuf);
    g_diagLogFile.open(filePath);
    if (g_diagLogFile.isOpen()) {
        g_diagLogFile.write("---------------- Log Start\n");
        g_diagLogFile.flush();
    }
}

void DiagLogWrite(const char* text)
{
    if (!text || !g_diagLogFile.isOpen())
        return;
    g_diagLogFile.write(text);
    g_diagLogFile.flush();
}

void DiagLogClose()
{
    if (!g_diagLogOn)
        return;
    g_diagLogOn = 0;
    if (g_diagLogFile.isOpen())
        g_diagLogFile.write("\n\n---------------- Log End\n");
    g_diagLogFile.close();
}

void DiagLog(const char* format, ...)
{
    if (!g_diagLogOn)
        return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(g_diagLogBuf, sizeof g_diagLogBuf, format, args);
    va_end(args);
    DiagLogWrite(g_diagLogBuf);
}
