// Wine tests of the search engine: helpers and the test program's main().
#include "ScoutexWineSupport.h"

#include "DiagLog.h"

#include <gtest/gtest.h>

#include <cstring>

namespace scoutextest
{

const char kTestRoot[] = "Software\\FixwiseTest\\Scoutex";
const char kToolkitRoot[] = "Software\\Orvantis\\Pixora\\VEX";

void makeKey(HKEY root, const std::string& path)
{
    UniqueHkey key;
    ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                              nullptr),
              ERROR_SUCCESS);
}

void putFile(const std::string& path, std::uint64_t t)
{
    wintest::writeFile(path, "data");
    UniqueFile f(
        CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(f);
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(t);
    ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
    ASSERT_TRUE(SetFileTime(f.get(), &ft, &ft, &ft));
}

InstallRecord markedRecord(unsigned char mark)
{
    InstallRecord r;
    std::memset(&r, mark, sizeof r);
    return r;
}

bool isMarked(const InstallRecord& r, unsigned char mark)
{
    const auto* p = reinterpret_cast<const unsigned char*>(&r);
    for (std::size_t i = 0; i < sizeof r; ++i)
        if (p[i] != mark)
            return false;
    return true;
}

bool isZero(const InstallRecord& r)
{
    return isMarked(r, 0);
}

std::string logEntries(const std::string& path)
{
    std::string text = wintest::readFile(path);
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

LogCapture::LogCapture(const std::string& dir) : path_(dir + "\\capture.log")
{
    DiagLogStart(path_.c_str());
}

LogCapture::~LogCapture()
{
    DiagLogClose();
}

std::string LogCapture::entries()
{
    DiagLogClose();
    return logEntries(path_);
}

} // namespace scoutextest

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
