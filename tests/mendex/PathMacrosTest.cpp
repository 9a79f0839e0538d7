// Path macros: the four macros, the "?cut?" filter and the output bound.
#include "PathMacros.h"

#include "ResultCodes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace
{

const char kToolkit[] = "C:\\Apps\\VEXsoft\\PLUGINS12";
const char kProgram[] = "C:\\Apps\\Scanner";
const char kWindows[] = "C:\\WINDOWS";

// Expands as the run does: a 512-byte output with a capacity of 511.
struct Expansion {
    int result;
    std::string text;
};
Expansion expand(const std::string& text, int selector, const char* value)
{
    char out[512];
    std::memset(out, 'Z', sizeof out);
    int r = expandMacro(text.c_str(), out, 511, selector, value);
    return {r, r == 0 ? std::string(out) : std::string()};
}

TEST(ExpandMacro, ExampleTable)
{
    auto e = expand("%VEXDIR%\\FILTER32.DLL", kMacroVexDir, kToolkit);
    EXPECT_EQ(e.result, 0);
    EXPECT_EQ(e.text, "C:\\Apps\\VEXsoft\\PLUGINS12\\FILTER32.DLL");

    e = expand("%VEXDIR%?\\plugins12?\\Ocr\\ENGINE.DLL", kMacroVexDir, kToolkit);
    EXPECT_EQ(e.result, 0);
    EXPECT_EQ(e.text, "C:\\Apps\\VEXsoft\\Ocr\\ENGINE.DLL");

    e = expand("%VEXDIR%?\\NOTTHERE?\\A.DLL", kMacroVexDir, kToolkit);
    EXPECT_EQ(e.result, 0);
    EXPECT_EQ(e.text, "C:\\Apps\\VEXsoft\\PLUGINS12\\A.DLL");

    e = expand("%APPDIR%\\SCANAPP.EXE", kMacroAppDir, kProgram);
    EXPECT_EQ(e.result, 0);
    EXPECT_EQ(e.text, "C:\\Apps\\Scanner\\SCANAPP.EXE");

    e = expand("%WINDIR%\\TWAIN_32\\B.DS", kMacroWinDir, kWindows);
    EXPECT_EQ(e.result, 0);
    EXPECT_EQ(e.text, "C:\\WINDOWS\\TWAIN_32\\B.DS");

    e = expand("%APPDIR%\\X.DLL;%APPDIR%\\Y.DLL", kMacroAppDir, kProgram);
    EXPECT_EQ(e.result, 0);
    EXPECT_EQ(e.text, "C:\\Apps\\Scanner\\X.DLL;%APPDIR%\\Y.DLL");

    for (int sel : {kMacroVexDir, kMacroAppDir, kMacroOcrDir, kMacroWinDir})
        EXPECT_EQ(expand("%TEMP%\\C.DLL", sel, kToolkit).result, kFailed);
}

TEST(ExpandMacro, SelectorsAndNames)
{
    EXPECT_EQ(expand("%OCRDIR%\\O.DLL", kMacroOcrDir, "D:\\Ocr").text, "D:\\Ocr\\O.DLL");
    // Exact names with case; each selector only its own macro.
    EXPECT_EQ(expand("%vexdir%\\A", kMacroVexDir, kToolkit).result, kFailed);
    EXPECT_EQ(expand("%VEXDIR%\\A", kMacroAppDir, kProgram).result, kFailed);
    EXPECT_EQ(expand("%VEXDIR%\\A", 0, kToolkit).result, kFailed);
    EXPECT_EQ(expand("%VEXDIR%\\A", 0x11, kToolkit).result, kFailed);
    EXPECT_EQ(expand("%VEXDIR%\\A", 2, kToolkit).result, kFailed);
    EXPECT_EQ(expand("", kMacroVexDir, kToolkit).result, kFailed);
    EXPECT_EQ(expand("   ", kMacroVexDir, kToolkit).result, kFailed);
    // Text before the macro stays; the value is inserted as it is.
    EXPECT_EQ(expand("pre%APPDIR%post", kMacroAppDir, "C:\\X\\").text, "preC:\\X\\post");
    EXPECT_EQ(expand("%APPDIR%", kMacroAppDir, kProgram).text, kProgram);
}

TEST(ExpandMacro, Filters)
{
    // No closing "?": the rest is the cut text and nothing follows the value.
    auto e = expand("%VEXDIR%?\\PLUGINS12", kMacroVexDir, kToolkit);
    EXPECT_EQ(e.result, 0);
    EXPECT_EQ(e.text, "C:\\Apps\\VEXsoft");
    e = expand("%VEXDIR%?NOPE", kMacroVexDir, kToolkit);
    EXPECT_EQ(e.text, kToolkit);
    // "??" inserts the whole value and drops both question marks.
    EXPECT_EQ(expand("%VEXDIR%??\\A", kMacroVexDir, kToolkit).text, std::string(kToolkit) + "\\A");
    // A blank cut text cuts nothing.
    EXPECT_EQ(expand("%VEXDIR%?  ?\\A", kMacroVexDir, kToolkit).text,
              std::string(kToolkit) + "\\A");
    // Only the first occurrence is cut, from the middle as well.
    EXPECT_EQ(expand("%APPDIR%?a?", kMacroAppDir, "xAyaz").text, "xyaz");
    EXPECT_EQ(expand("%APPDIR%?apps\\?!", kMacroAppDir, kProgram).text, "C:\\Scanner!");
    // A blank value removes the macro and inserts nothing.
    EXPECT_EQ(expand("%VEXDIR%\\A.DLL", kMacroVexDir, "").text, "\\A.DLL");
    EXPECT_EQ(expand("%VEXDIR%?x?\\A.DLL", kMacroVexDir, nullptr).text, "\\A.DLL");
    // A long cut text is handled like any other.
    std::string value(300, 'v');
    EXPECT_EQ(expand("%APPDIR%?" + std::string(280, 'V') + "?", kMacroAppDir, value.c_str()).text,
              std::string(20, 'v'));
}

TEST(ExpandMacro, OutputIsCutAtCapacityLessOne)
{
    std::string text = "%VEXDIR%" + std::string(392, 't');
    ASSERT_EQ(text.size(), 400u);
    std::string value(300, 'v');
    auto e = expand(text, kMacroVexDir, value.c_str());
    EXPECT_EQ(e.result, 0);
    EXPECT_EQ(e.text.size(), 510u);
    EXPECT_EQ(e.text, value + std::string(210, 't'));

    // Small capacities: cut inside the prefix, the value and the rest.
    char out[8];
    EXPECT_EQ(expandMacro("abcdef%APPDIR%", out, 4, kMacroAppDir, "X"), 0);
    EXPECT_STREQ(out, "abc");
    EXPECT_EQ(expandMacro("%APPDIR%rest", out, 1, kMacroAppDir, "X"), 0);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(expandMacro("%APPDIR%", out, 0, kMacroAppDir, "X"), kFailed);
}

TEST(FindNoCase, LettersIgnoreCaseOtherBytesExact)
{
    const char* text = "C:\\Apps\\VEXsoft";
    EXPECT_EQ(findNoCase(text, "vexSOFT"), text + 8);
    EXPECT_EQ(findNoCase(text, "\\apps"), text + 2);
    EXPECT_EQ(findNoCase(text, "/apps"), nullptr);
    EXPECT_EQ(findNoCase(text, "VEXsoftX"), nullptr);
    EXPECT_EQ(findNoCase(text, ""), text);
    EXPECT_EQ(findNoCase("", "a"), nullptr);
    EXPECT_EQ(findNoCase("\xC4", "\xE4"), nullptr); // not ASCII: exact
    EXPECT_EQ(findNoCase("[", "{"), nullptr);
    EXPECT_EQ(findNoCase(nullptr, "a"), nullptr);
}

} // namespace
