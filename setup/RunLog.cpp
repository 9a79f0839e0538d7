// Setup's run log.
#include "RunLog.h"

#include <cstdarg>
#include <cstdio>

bool RunLog::Open(const char* path)
{
    m_file.reset(CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return IsOpen();
}

void RunLog::Line(const char* format, ...)
{
    if (!m_file)
        return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    char line[2048];
    int n =
        std::snprintf(line, sizeof line, "%04u-%02u-%02u %02u:%02u:%02u.%03u ", now.wYear,
                      now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    if (n < 0)
        return;
    va_list args;
    va_start(args, format);
    const int m =
        std::vsnprintf(line + n, sizeof line - static_cast<std::size_t>(n) - 2, format, args);
    va_end(args);
    if (m < 0)
        return;
    std::size_t length = static_cast<std::size_t>(n);
    while (length < sizeof line - 3 && line[length] != '\0') {
        if (line[length] == '\r' || line[length] == '\n')
            line[length] = ' ';
        ++length;
    }
    line[length++] = '\r';
    line[length++] = '\n';
    DWORD written = 0;
    std::lock_guard<std::mutex> writing(m_writing);
    WriteFile(m_file.get(), line, static_cast<DWORD>(length), &written, nullptr);
    FlushFileBuffers(m_file.get());
}
