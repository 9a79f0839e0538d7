// Wine tests of the search engine: helpers and the test program's main().
#include "ScoutexWineSupport.h"

#include "DiagLog.h"

#include <gtest/gtest.h>

#include <cstring>

namespace scoutextest
{

const char kTestRoot[] = "Software\\FixwiseTest\\Scoutex";
const char kToolkitRoot[] = "Software\\Orvantis\\Pixora\\VEX";

void makeKey(HKEY root, const std::string& path, wintest::CallSite at)
{
    wintest::Trace trace(at.file, at.line, "makeKey");
    UniqueHkey key;
    ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.put(),
                              nullptr),
              ERROR_SUCCESS);
}

void putFile(const std::string& path, std::uint64_t t, wintest::CallSite at)
{
    wintest::Trace trace(at.file, at.line, "putFile");
    wintest::writeFile(path, "data", at);
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

} // namespace scoutextest

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
