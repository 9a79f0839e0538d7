// The Windows side of the script reader and the resolve list, against the
// real file system under Wine.
#include "LogCapture.h"
#include "ResolveList.h"
#include "ResultCodes.h"
#include "ScriptFiles.h"
#include "UpdateScript.h"
#include "WinTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using namespace wintest;

namespace
{

std::string langHeader()
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "[%x]", static_cast<unsigned>(GetSystemDefaultLangID()));
    return buf;
}

TEST(ReadUpdateScriptWine, ReadsUpdateSrcFromTheCurrentDirectory)
{
    TempDir dir("update");
    TempDir logDir("updatelog");
    CurrentDir here(dir.path());
    UpdateScript script;
    {
        LogCapture log(logDir / "log.txt");
        EXPECT_EQ(readUpdateScript("Scan Suite\\2.0", &script), kDataFileOpen);
        EXPECT_EQ(log.entries(), "\n>Error opening file Update.src.");
    }
    writeFile(dir / "Update.src", "[1]\r\n" + langHeader() +
                                      "\r\n[Scan Suite\\2.0]\r\n"
                                      "File=%VEXDIR%\\A.DLL,size:0-1A2C0,time:1C0873E-5D3A9F00\r\n"
                                      "RegValue=HKCU,Software\\X,Language=%LANGID%\r\n");
    {
        LogCapture log(logDir / "log.txt");
        EXPECT_EQ(readUpdateScript("Scan Suite\\2.0", &script), kOk);
        char lang[64];
        std::snprintf(lang, sizeof lang, "\n>System Language: %x",
                      static_cast<unsigned>(GetSystemDefaultLangID()));
        EXPECT_EQ(log.entries(), std::string("\n>Update Data: File opened."
                                             "\n>Updating Scan Suite\\2.0") +
                                     lang);
    }
    ASSERT_FALSE(script.fileList.empty());
    EXPECT_STREQ(script.fileList.front().path, "%VEXDIR%\\A.DLL");
    EXPECT_EQ(script.fileList.front().sizeLow, 0x1A2C0u);
    ASSERT_FALSE(script.registryList.empty());
    EXPECT_EQ(script.registryList.front().dwordValue, GetSystemDefaultLangID());
    EXPECT_EQ(script.registryList.front().valueType, RegValueType::Dword);
    freeUpdateScript(&script);
}

TEST(ResolveListWine, ReadsResolveSrcFromTheCurrentDirectory)
{
    TempDir dir("resolve");
    CurrentDir here(dir.path());
    writeFile(dir / "Resolve.src",
              "[Scan Suite\\2.0]\r\nFILTER32.DLL=SOURCE\\LIB\\FILTER32.DLL\r\n");
    char out[512];
    EXPECT_EQ(ResolveList().lookup("Scan Suite\\2.0", "Filter32.dll", out, sizeof out), kOk);
    EXPECT_STREQ(out, "SOURCE\\LIB\\FILTER32.DLL");
    DeleteFileA((dir / "Resolve.src").c_str());
    EXPECT_EQ(ResolveList().lookup("Scan Suite\\2.0", "Filter32.dll", out, sizeof out),
              kDataFileOpen);
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
