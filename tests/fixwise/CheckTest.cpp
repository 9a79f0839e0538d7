// fixwise check over small data folders, each with one fault: the finding
// must name the file, the line and the severity; the demonstration's data
// has no error.
#include "FixwiseRunner.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace
{

constexpr long long kGoodTime = 1700000000; // seconds since 1970

std::string goodTimeWords()
{
    unsigned long long ft = (kGoodTime + 11644473600ull) * 10000000ull;
    char text[40];
    std::snprintf(text, sizeof text, "%llX-%llX", ft >> 32, ft & 0xFFFFFFFFull);
    return text;
}

struct CheckRun {
    int exitCode;
    nlohmann::json doc;
    std::string text;
};

CheckRun runFixwise(const std::string& args)
{
    fixwisetest::ProgramRun run = fixwisetest::runFixwise(args);
    return CheckRun{run.exitCode, {}, run.text};
}

class CheckTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/fixwise-check-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        files_["libdata.src"] = "[Scan\\1.0]\n"
                                "InstallKey=HKLM,Software\\Vendor\\Scan\n"
                                "ProgramDir=HKLM,Software\\Vendor\\Scan,Dir\n"
                                "VEXVersion=\"1.2\"\n";
        files_["Update.src"] = "[409]\n"
                               "[Scan\\1.0]\n"
                               "File=%APPDIR%SCAN.EXE,size:0-5,time:" +
                               goodTimeWords() + "\n";
        files_["Resolve.src"] = "[Scan\\1.0]\nSCAN.EXE=SOURCE\\SCAN.EXE\n";
        source_ = "12345";
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    void write()
    {
        for (const auto& [name, text] : files_)
            std::ofstream(dir_ + "/" + name, std::ios::binary) << text;
        mkdir((dir_ + "/SOURCE").c_str(), 0755);
        std::string source = dir_ + "/SOURCE/" + sourceName_;
        if (!source_.empty()) {
            std::ofstream(source, std::ios::binary) << source_;
            std::system(("touch -d @" + std::to_string(sourceTime_) + " '" + source + "'").c_str());
        }
    }

    static CheckRun runCheck(const std::string& args) { return runFixwise("check " + args); }

    CheckRun check(const std::string& options = "")
    {
        write();
        CheckRun run = runCheck("'" + dir_ + "' --json " + options);
        run.doc = nlohmann::json::parse(run.text);
        return run;
    }

    // The run has exactly one finding, at file:line with that severity.
    void expectOnly(const std::string& file, std::size_t line, const char* severity)
    {
        CheckRun run = check();
        ASSERT_EQ(run.doc["findings"].size(), 1u) << run.text;
        const nlohmann::json& f = run.doc["findings"][0];
        EXPECT_EQ(f["file"], file) << run.text;
        EXPECT_EQ(f["line"], line) << run.text;
        EXPECT_EQ(f["severity"], severity) << run.text;
        EXPECT_EQ(run.exitCode, std::string(severity) == "error" ? 1 : 0) << run.text;
    }

    // The run has a finding at file:line with that severity (among others).
    void expectAmong(const std::string& file, std::size_t line, const char* severity)
    {
        CheckRun run = check();
        bool found = false;
        for (const nlohmann::json& f : run.doc["findings"])
            found = found || (f["file"] == file && f["line"] == line && f["severity"] == severity);
        EXPECT_TRUE(found) << run.text;
    }

    void addScriptLine(const std::string& line) { files_["Update.src"] += line + "\n"; }

    std::string dir_;
    std::map<std::string, std::string> files_;
    std::string source_;
    std::string sourceName_ = "SCAN.EXE"; // as the file system here spells it
    long long sourceTime_ = kGoodTime;
};

TEST_F(CheckTest, GoodDataHasNoFinding)
{
    CheckRun run = check();
    EXPECT_EQ(run.exitCode, 0) << run.text;
    EXPECT_EQ(run.doc["findings"].size(), 0u) << run.text;
    EXPECT_EQ(run.doc["errors"], 0);
}

TEST_F(CheckTest, TextOutputIsGccStyleWithSummary)
{
    addScriptLine("Bogus=1");
    write();
    CheckRun run = runCheck("'" + dir_ + "'");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.text.find("Update.src:4: error: "), std::string::npos) << run.text;
    EXPECT_NE(run.text.find("1 error(s), 0 warning(s)\n"), std::string::npos) << run.text;
}

TEST_F(CheckTest, CannotRunGivesTwo)
{
    EXPECT_EQ(runCheck("'" + dir_ + "/missing' 2>/dev/null").exitCode, 2);
    EXPECT_EQ(runCheck("--frobnicate 2>/dev/null").exitCode, 2);
    EXPECT_EQ(runCheck("'" + dir_ + "' --codepage 1200 2>/dev/null").exitCode, 2);
}

TEST_F(CheckTest, RecordBreakingTheGrammar)
{
    addScriptLine("File=%APPDIR%OTHER.EXE,size:0-5");
    expectOnly("Update.src", 4, "error");
}

TEST_F(CheckTest, UnknownKindEndsTheReading)
{
    addScriptLine("Registry=HKLM,Software\\Vendor,V=\"1\"");
    expectOnly("Update.src", 4, "error");
}

TEST_F(CheckTest, EmptyLineHidesTheRest)
{
    addScriptLine("");
    addScriptLine("RegValue=HKLM,Software\\Vendor,V=\"1\"");
    expectOnly("Update.src", 4, "error");
}

TEST_F(CheckTest, ProductHeaderReadAsLanguageHeader)
{
    files_["Update.src"] = "[407]\n[Ed 09]\n" + files_["Update.src"];
    expectAmong("Update.src", 2, "error");
}

TEST_F(CheckTest, ProductSectionAfterLaterLanguageHeader)
{
    files_["Update.src"] =
        "[409]\n[407]\n[Scan\\1.0]\nFile=%APPDIR%SCAN.EXE,size:0-5,time:" + goodTimeWords() + "\n";
    expectAmong("Update.src", 3, "error");
}

TEST_F(CheckTest, LowerCaseHive)
{
    addScriptLine("RegValue=hklm,Software\\Vendor,V=\"1\"");
    expectOnly("Update.src", 4, "error");
}

TEST_F(CheckTest, DwordEqualToStringMarker)
{
    addScriptLine("RegValue=HKLM,Software\\Vendor,V=dword:80000000");
    expectAmong("Update.src", 4, "warning");
}

TEST_F(CheckTest, NonHexadecimalCharacterReadAsZero)
{
    addScriptLine("RegValue=HKLM,Software\\Vendor,V=dword:12G4");
    expectAmong("Update.src", 4, "error");
}

TEST_F(CheckTest, LineOverMaximumIsSplit)
{
    addScriptLine("RegValue=HKLM,Software\\Vendor,V=\"" + std::string(600, 'x') + "\"");
    expectAmong("Update.src", 4, "error");
}

TEST_F(CheckTest, UnknownMacro)
{
    addScriptLine("RegValue=HKLM,Software\\Vendor,V=\"%NOSUCHDIR%\\x\"");
    expectAmong("Update.src", 4, "error");
}

TEST_F(CheckTest, FileEntryWithoutResolveLine)
{
    files_["Resolve.src"] = "[Scan\\1.0]\n";
    expectOnly("Update.src", 3, "warning");
}

TEST_F(CheckTest, ResolveLineNothingNeeds)
{
    files_["Resolve.src"] += "OLD.DLL=SOURCE\\OLD.DLL\n";
    expectOnly("Resolve.src", 3, "warning");
}

TEST_F(CheckTest, CollidingFileNames)
{
    addScriptLine("File=%VEXDIR%\\scan.exe,size:0-5,time:" + goodTimeWords());
    expectOnly("Update.src", 4, "error");
}

TEST_F(CheckTest, ResolveSourceMissing)
{
    source_.clear();
    expectOnly("Resolve.src", 2, "error");
}

TEST_F(CheckTest, ResolveSourceSizeDiffers)
{
    source_ = "123456";
    expectOnly("Resolve.src", 2, "error");
}

TEST_F(CheckTest, ResolveSourceTimeDiffers)
{
    sourceTime_ = kGoodTime + 2;
    expectOnly("Resolve.src", 2, "error");
}

TEST_F(CheckTest, ScriptProductWithoutCatalogueSection)
{
    files_["libdata.src"] = "[Other\\1.0]\n"
                            "InstallKey=HKLM,Software\\Vendor\\Other\n"
                            "ProgramDir=HKLM,Software\\Vendor\\Other,Dir\n"
                            "VEXVersion=\"1.2\"\n";
    expectAmong("Update.src", 2, "warning");
    expectAmong("libdata.src", 1, "warning");
}

TEST_F(CheckTest, CatalogueLineWithoutEqualSign)
{
    files_["libdata.src"] = "[Scan\\1.0]\n"
                            "InstallKey HKLM\n"
                            "ProgramDir=HKLM,Software\\Vendor\\Scan,Dir\n"
                            "VEXVersion=\"1.2\"\n";
    expectAmong("libdata.src", 2, "error");
}

TEST_F(CheckTest, CatalogueUnknownHive)
{
    files_["libdata.src"] = "[Scan\\1.0]\n"
                            "InstallKey=HKCR,Software\\Vendor\\Scan\n"
                            "ProgramDir=HKLM,Software\\Vendor\\Scan,Dir\n"
                            "VEXVersion=\"1.2\"\n";
    expectOnly("libdata.src", 2, "error");
}

TEST_F(CheckTest, ProgramDirThatIsNoRead)
{
    files_["libdata.src"] = "[Scan\\1.0]\n"
                            "InstallKey=HKLM,Software\\Vendor\\Scan\n"
                            "ProgramDir=\"C:\\Scan\"\n"
                            "VEXVersion=\"1.2\"\n";
    expectOnly("libdata.src", 3, "error");
}

// Entries that the lookup cannot take, each an error on its own line: a
// toolkit version that is no quoted text (a registry reference, a number,
// a blank before the quote) and an entry name with blanks around its "=".
TEST_F(CheckTest, CatalogueEntriesTheLookupCannotTake)
{
    const struct {
        const char* programDir;
        const char* vexVersion;
        std::size_t line;
    } rows[] = {
        {"ProgramDir=HKLM,Software\\Vendor\\Scan,Dir",
         "VEXVersion=HKLM,Software\\Vendor\\Scan,Version", 4},
        {"ProgramDir=HKLM,Software\\Vendor\\Scan,Dir", "VEXVersion=1.2", 4},
        {"ProgramDir=HKLM,Software\\Vendor\\Scan,Dir", "VEXVersion= \"1.2\"", 4},
        {"ProgramDir =HKLM,Software\\Vendor\\Scan,Dir", "VEXVersion=\"1.2\"", 3},
        {"ProgramDir=HKLM,Software\\Vendor\\Scan,Dir", " VEXVersion = \"1.2\"", 4},
    };
    for (const auto& row : rows) {
        files_["libdata.src"] = std::string("[Scan\\1.0]\n"
                                            "InstallKey=HKLM,Software\\Vendor\\Scan\n") +
                                row.programDir + "\n" + row.vexVersion + "\n";
        SCOPED_TRACE(files_["libdata.src"]);
        // (A name not found also leaves the section's end as a finding.)
        expectAmong("libdata.src", row.line, "error");
    }
}

// A file name outside ASCII, in the data as written and in SOURCE as UTF-8:
// the engines read it in the ANSI code page of the customers' Windows.
TEST_F(CheckTest, NamesOutsideAsciiInTheCodePage)
{
    const std::string utf8 = "R\xC3\xA9sum\xC3\xA9.DLL";
    const std::string cp1252 = "R\xE9sum\xE9.DLL";
    struct Finding { // in the order they are printed: by file, line and text
        const char* file;
        std::size_t line;
        const char* severity;
        const char* text; // a part of it
    };
    const struct {
        const char* what;
        std::string name; // in the data files
        const char* options;
        std::vector<Finding> findings;
    } rows[] = {
        {"UTF-8 without a code page",
         utf8,
         "",
         {{"Resolve.src", 2, "warning", "code pages 1252, 1250, "},
          {"Update.src", 3, "warning", "in UTF-8, but the engines read it in the ANSI code page"}}},
        {"code page 1252 without a code page",
         cp1252,
         "",
         {{"Resolve.src", 2, "warning", "; pass --codepage N"},
          {"Update.src", 3, "warning", "valid in code pages 1252, 1250, "}}},
        {"code page 1252 in it", cp1252, "--codepage 1252", {}},
        {"a byte that code page 1252 leaves undefined",
         "R\x81sum\xE9.DLL",
         "--codepage 1252",
         {{"Resolve.src", 2, "error", "not valid in code page 1252"},
          {"Update.src", 3, "error", "not valid in code page 1252"}}},
        {"UTF-8 read in code page 1252",
         utf8,
         "--codepage 1252",
         {{"Resolve.src", 2, "warning", "is also valid UTF-8"},
          {"Resolve.src", 2, "error", "is missing"},
          {"Update.src", 3, "warning", "is also valid UTF-8"}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        files_["Update.src"] = "[409]\n[Scan\\1.0]\nFile=%APPDIR%" + row.name +
                               ",size:0-5,time:" + goodTimeWords() + "\n";
        files_["Resolve.src"] = "[Scan\\1.0]\n" + row.name + "=SOURCE\\" + row.name + "\n";
        sourceName_ = utf8;
        CheckRun run = check(row.options);
        ASSERT_EQ(run.doc["findings"].size(), row.findings.size()) << run.text;
        bool error = false;
        for (std::size_t i = 0; i < row.findings.size(); ++i) {
            const nlohmann::json& f = run.doc["findings"][i];
            const Finding& want = row.findings[i];
            EXPECT_EQ(f["file"], want.file) << run.text;
            EXPECT_EQ(f["line"], want.line) << run.text;
            EXPECT_EQ(f["severity"], want.severity) << run.text;
            EXPECT_NE(f["text"].get<std::string>().find(want.text), std::string::npos) << run.text;
            error = error || std::string(want.severity) == "error";
        }
        EXPECT_EQ(run.exitCode, error ? 1 : 0) << run.text;
    }
}

TEST(CheckExampleTest, DemonstrationDataHasNoError)
{
    char pattern[] = "/tmp/fixwise-example-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::string dir = pattern;
    ASSERT_EQ(std::system(("sh " EXAMPLE_INSTALL " '" + dir + "' '' >/dev/null").c_str()), 0);
    CheckRun run = runFixwise("check '" + dir + "/Pixora Patch' --json");
    std::system(("rm -rf '" + dir + "'").c_str());
    EXPECT_EQ(run.exitCode, 0) << run.text;
    nlohmann::json doc = nlohmann::json::parse(run.text);
    EXPECT_EQ(doc["errors"], 0) << run.text;
    // Its oddities: two files without a good copy, two catalogued releases
    // the script does not update.
    EXPECT_EQ(doc["warnings"], 4) << run.text;
}

} // namespace
