// The directory texts of the update run: toolkit and OCR derivation, file
// names, containment and the product key.
#include "Directories.h"
#include "StepForms.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace
{

std::string derive(const char* programDir, const char* version)
{
    char dir[512] = "untouched";
    if (!deriveToolkitDir(dir, sizeof dir, programDir, version))
        return std::string("unchanged:") + dir;
    return dir;
}

TEST(ToolkitDir, ParentOfTheProgramDirectoryWithVersionSuffix)
{
    EXPECT_EQ(derive("C:\\Apps\\Scanner", "1.2"), "C:\\Apps\\VEXsoft\\PLUGINS12");
    EXPECT_EQ(derive("C:\\Apps\\Scanner", "1.1"), "C:\\Apps\\VEXsoft\\PLUGINS11");
    EXPECT_EQ(derive("C:\\Apps\\Scanner", "2.0"), "C:\\Apps\\VEXsoft\\PLUGINS");
    EXPECT_EQ(derive("C:\\Apps\\Scanner", ""), "C:\\Apps\\VEXsoft\\PLUGINS");
}

TEST(ToolkitDir, VersionMustMatchExactly)
{
    EXPECT_EQ(derive("C:\\Apps\\Scanner", "1.10"), "C:\\Apps\\VEXsoft\\PLUGINS");
    EXPECT_EQ(derive("C:\\Apps\\Scanner", "1.2 "), "C:\\Apps\\VEXsoft\\PLUGINS");
    EXPECT_EQ(derive("C:\\Apps\\Scanner", "1"), "C:\\Apps\\VEXsoft\\PLUGINS");
}

TEST(ToolkitDir, PluginsComponentIsPassedOverInAnyCase)
{
    EXPECT_EQ(derive("C:\\Apps\\Scanner\\Plugins", "1.2"), "C:\\Apps\\VEXsoft\\PLUGINS12");
    EXPECT_EQ(derive("C:\\Apps\\Scanner\\PLUGINS", "1.2"), "C:\\Apps\\VEXsoft\\PLUGINS12");
    // Only a whole last component counts.
    EXPECT_EQ(derive("C:\\Apps\\MyPlugins", "1.2"), "C:\\Apps\\VEXsoft\\PLUGINS12");
    EXPECT_EQ(derive("C:\\Apps\\Plugins\\Scanner", "1.2"), "C:\\Apps\\Plugins\\VEXsoft\\PLUGINS12");
}

TEST(ToolkitDir, TrailingBackslashKeepsTheWholeDirectory)
{
    EXPECT_EQ(derive("C:\\Apps\\Scanner\\", "1.2"), "C:\\Apps\\Scanner\\VEXsoft\\PLUGINS12");
    EXPECT_EQ(derive("C:\\", "2.0"), "C:\\VEXsoft\\PLUGINS");
}

TEST(ToolkitDir, NoBackslashLeavesTheFieldUnchanged)
{
    EXPECT_EQ(derive("", "1.2"), "unchanged:untouched");
    EXPECT_EQ(derive("Scanner", "1.2"), "unchanged:untouched");
    // "plugins" passed over leaves nothing to cut at.
    EXPECT_EQ(derive("C:Plugins\\plugins", "1.2"), "unchanged:untouched");
    EXPECT_EQ(derive("\\Plugins", "1.2"), "unchanged:untouched");
}

TEST(ToolkitDir, OverlongResultIsCutToTheBuffer)
{
    std::string program = "C:\\" + std::string(505, 'a') + "\\b";
    char dir[512];
    std::memset(dir, 'z', sizeof dir);
    ASSERT_TRUE(deriveToolkitDir(dir, sizeof dir, program.c_str(), "1.2"));
    EXPECT_EQ(std::strlen(dir), 511u);
    EXPECT_EQ(std::string(dir).substr(0, 509), "C:\\" + std::string(505, 'a') + "\\");

    char small[8];
    ASSERT_TRUE(deriveToolkitDir(small, sizeof small, "C:\\Apps\\Scanner", "1.2"));
    EXPECT_STREQ(small, "C:\\Apps");
}

TEST(OcrDir, BesideTheToolkitDirectory)
{
    char ocr[512] = "old";
    ASSERT_TRUE(deriveOcrDir(ocr, sizeof ocr, "C:\\Apps\\VEXsoft\\PLUGINS12"));
    EXPECT_STREQ(ocr, "C:\\Apps\\VEXsoft\\Ocr");
    ASSERT_TRUE(deriveOcrDir(ocr, sizeof ocr, "C:\\Apps\\VEXsoft\\PLUGINS12\\"));
    EXPECT_STREQ(ocr, "C:\\Apps\\VEXsoft\\PLUGINS12\\Ocr");
}

TEST(OcrDir, ToolkitDirectoryWithoutBackslashLeavesTheFieldUnchanged)
{
    char ocr[512] = "old";
    EXPECT_FALSE(deriveOcrDir(ocr, sizeof ocr, ""));
    EXPECT_FALSE(deriveOcrDir(ocr, sizeof ocr, "PLUGINS"));
    EXPECT_STREQ(ocr, "old");
}

TEST(OcrDir, ItsOwnTextMayBeTheToolkitDirectory)
{
    // The run passes distinct buffers, but a cut copy must not depend on it.
    char dir[512] = "C:\\Apps\\VEXsoft\\PLUGINS";
    ASSERT_TRUE(deriveOcrDir(dir, sizeof dir, dir));
    EXPECT_STREQ(dir, "C:\\Apps\\VEXsoft\\Ocr");
}

TEST(PathPieces, CutAtLastBackslash)
{
    char p[512] = "C:\\Ocr\\OCR.EXE";
    EXPECT_TRUE(cutAtLastBackslash(p));
    EXPECT_STREQ(p, "C:\\Ocr");
    char root[512] = "\\OCR.EXE";
    EXPECT_TRUE(cutAtLastBackslash(root));
    EXPECT_STREQ(root, "");
    char bare[512] = "OCR.EXE";
    EXPECT_FALSE(cutAtLastBackslash(bare));
    EXPECT_STREQ(bare, "OCR.EXE");
}

TEST(PathPieces, FileName)
{
    EXPECT_STREQ(fileNameOf("C:\\a\\FILTER32.DLL"), "FILTER32.DLL");
    EXPECT_STREQ(fileNameOf("FILTER32.DLL"), "FILTER32.DLL");
    EXPECT_STREQ(fileNameOf("C:\\a\\"), "");
    EXPECT_STREQ(fileNameOf(""), "");
}

TEST(PathPieces, InsideADirectory)
{
    EXPECT_TRUE(pathIsInside("C:\\Patch\\SOURCE\\A.DLL", "C:\\Patch"));
    EXPECT_TRUE(pathIsInside("c:\\patch\\A.DLL", "C:\\PATCH\\"));
    EXPECT_TRUE(pathIsInside("D:\\SOURCE\\A.DLL", "D:\\"));
    EXPECT_FALSE(pathIsInside("C:\\Patch2\\A.DLL", "C:\\Patch"));
    EXPECT_FALSE(pathIsInside("C:\\Patch", "C:\\Patch"));
    EXPECT_FALSE(pathIsInside("C:\\Patch\\", "C:\\Patch"));
    EXPECT_FALSE(pathIsInside("C:\\Pa", "C:\\Patch"));
    EXPECT_FALSE(pathIsInside("C:\\A.DLL", ""));
    EXPECT_FALSE(pathIsInside("C:\\A.DLL", "  "));
    EXPECT_FALSE(pathIsInside("\\A.DLL", "\\"));
}

TEST(ProductKey, NameBackslashVersionCutToTheBuffer)
{
    char key[512];
    buildProductKey(key, sizeof key, "Scan Suite", "2.0");
    EXPECT_STREQ(key, "Scan Suite\\2.0");
    buildProductKey(key, sizeof key, std::string(255, 'n').c_str(), std::string(300, 'v').c_str());
    EXPECT_EQ(std::strlen(key), 511u);
    EXPECT_EQ(key[255], '\\');
}

} // namespace

// The forms of a kept run's steps that an undo takes: anything else in a
// record was not written by the patch.
TEST(StepForms, OnlyWhatTheKeeperWritesPasses)
{
    const struct {
        const char* path;
        bool plain;
    } paths[] = {
        {"C:\\Scan Kit\\VEXsoft\\PLUGINS12\\PXCORE.DLL", true},
        {"z:\\a", true},
        {"C:\\", false},                          // a drive's root
        {"C:\\Kit\\..\\Windows\\win.ini", false}, // climbs out
        {"C:\\Kit\\.\\A.DLL", false},
        {"C:\\Kit\\\\A.DLL", false}, // an empty part
        {"C:\\Kit\\", false},        // a trailing backslash
        {"C:\\Kit\\A.DLL.", false},  // the file system drops the dot
        {"C:\\Kit\\A.DLL ", false},
        {"C:\\Kit/A.DLL", false},
        {"C:\\Kit\\A.DLL:stream", false},
        {"C:\\Kit\\*.DLL", false},
        {"C:\\Kit\\nul.txt", false}, // a device in any folder
        {"C:\\Kit\\COM1", false},
        {"C:\\Kit\\COM0", true},
        {"\\\\server\\share\\A.DLL", false}, // not local
        {"\\\\?\\C:\\Kit\\A.DLL", false},
        {"Kit\\A.DLL", false}, // relative
        {"1:\\Kit", false},
    };
    for (const auto& row : paths)
        EXPECT_EQ(isPlainLocalPath(row.path), row.plain) << row.path;
    EXPECT_FALSE(isPlainLocalPath("C:\\" + std::string(257, 'a')));
    EXPECT_TRUE(isPlainLocalPath("C:\\" + std::string(255, 'a')));

    for (const char* kept : {"files\\0\\1", "files\\12\\2401"})
        EXPECT_TRUE(isKeptFileForm(kept)) << kept;
    for (const char* other : {"", "files\\0", "files\\0\\", "files\\..\\1", "files\\0\\1\\2",
                              "files\\0\\..\\..\\..\\win.ini", "C:\\files\\0\\1", "FILES\\0\\1",
                              "files\\0\\1.changed", "files\\-1\\1", "files\\0\\1 "})
        EXPECT_FALSE(isKeptFileForm(other)) << other;

    EXPECT_TRUE(isKeyOnTheWay("Software\\Vendor", "Software\\Vendor\\Kit"));
    EXPECT_TRUE(isKeyOnTheWay("software\\VENDOR\\Kit", "Software\\Vendor\\Kit"));
    EXPECT_FALSE(isKeyOnTheWay("Software\\Vend", "Software\\Vendor\\Kit"));
    EXPECT_FALSE(isKeyOnTheWay("Software\\Vendor\\Kit\\Deeper", "Software\\Vendor\\Kit"));
    EXPECT_FALSE(isKeyOnTheWay("", "Software"));

    EXPECT_TRUE(isDirectlyIn("C:\\Kit\\A.DLL.~mdx", "c:\\kit"));
    EXPECT_FALSE(isDirectlyIn("C:\\Kit\\Sub\\A.DLL", "C:\\Kit"));
    EXPECT_FALSE(isDirectlyIn("C:\\Kits\\A.DLL", "C:\\Kit"));
    EXPECT_FALSE(isDirectlyIn("C:\\Kit\\", "C:\\Kit"));
}
