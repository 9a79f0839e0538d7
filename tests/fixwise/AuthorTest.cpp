// fixwise author from a generated reference installation, and fixwise
// medium over checked and broken data folders.
#include "FixwiseRunner.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using fixwisetest::ProgramRun;
using fixwisetest::runFixwise;

namespace
{

constexpr const char* kProduct = "Pixora Scan\\3.0";
constexpr const char* kSourceBase = "SOURCE/Pixora Scan/3.0/";

std::string shellWord(const std::string& text)
{
    return "'" + text + "'";
}

void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// Size and modification time in the Windows form, computed here on their own.
struct Stamp {
    std::uint64_t size = 0;
    std::uint64_t time = 0;
};

Stamp stampOf(const std::string& path)
{
    struct stat st;
    Stamp s;
    if (stat(path.c_str(), &st) == 0) {
        s.size = static_cast<std::uint64_t>(st.st_size);
        s.time = (static_cast<std::uint64_t>(st.st_mtim.tv_sec) + 11644473600ull) * 10000000ull +
                 static_cast<std::uint64_t>(st.st_mtim.tv_nsec) / 100;
    }
    return s;
}

std::string recordOf(const std::string& scriptPath, const Stamp& s)
{
    char text[64];
    std::snprintf(text, sizeof text, ",size:%X-%X,time:%X-%X", static_cast<unsigned>(s.size >> 32),
                  static_cast<unsigned>(s.size), static_cast<unsigned>(s.time >> 32),
                  static_cast<unsigned>(s.time));
    return "File=" + scriptPath + text;
}

void setTime(const std::string& path, long long seconds, long nanoseconds)
{
    const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

class Folder : public ::testing::Test
{
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/fixwise-author-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf " + shellWord(root_)).c_str()); }

    std::string path(const std::string& relative) const { return root_ + "/" + relative; }

    void makeDirs(const std::string& relative) const
    {
        ASSERT_EQ(std::system(("mkdir -p " + shellWord(path(relative))).c_str()), 0);
    }

    void file(const std::string& relative, const std::string& bytes, long long seconds = 1700000000,
              long nanoseconds = 0)
    {
        std::size_t cut = relative.rfind('/');
        if (cut != std::string::npos)
            makeDirs(relative.substr(0, cut));
        writeBytes(path(relative), bytes);
        setTime(path(relative), seconds, nanoseconds);
    }

    ProgramRun author(const std::string& args)
    {
        return runFixwise("author --product " + shellWord(kProduct) + " --out " +
                          shellWord(path("out")) + " " + args + " 2>&1");
    }

    ProgramRun check(const std::string& relative, const std::string& options = "")
    {
        return runFixwise("check " + shellWord(path(relative)) + " --json " + options);
    }

    // A catalogue section for the product, which author leaves to the
    // patch's builder.
    void catalogue(const std::string& relative)
    {
        writeBytes(path(relative + "/libdata.src"),
                   "[Pixora Scan\\3.0]\n"
                   "InstallKey=HKLM,Software\\Orvantis\\Pixora Scan\\3.0\n"
                   "ProgramDir=HKLM,Software\\Orvantis\\Pixora Scan\\3.0,ProgramDir\n"
                   "VEXVersion=\"1.2\"\n");
    }

    std::string root_;
};

// A name outside ASCII: UTF-8 in the file system here, code page 1252 in the
// data files.
constexpr const char* kAccented = "R\xC3\xA9sum\xC3\xA9.DLL";
constexpr const char* kAccented1252 = "R\xE9sum\xE9.DLL";

// A reference installation of a few hundred files in nested folders: sizes
// from empty to 64 KiB, whole-second and sub-second times, and one name
// outside ASCII.
class AuthorTest : public Folder
{
protected:
    struct RefFile {
        std::string hostRelative; // below root_
        std::string scriptPath;   // as the script must name it
        std::string source;       // below out/, host form
    };

    void makeReference()
    {
        const char* macros[] = {"VEXDIR", "APPDIR", "OCRDIR"};
        int n = 0;
        for (const char* macro : macros) {
            for (int i = 0; i < 100; ++i, ++n) {
                std::string folder;
                for (int depth = 0; depth < i % 4; ++depth)
                    folder += "lvl" + std::to_string(depth) + "_" + std::to_string(i % 3) + "/";
                char name[32];
                std::snprintf(name, sizeof name, "F%03d.%s", n, i % 2 ? "DLL" : "dat");
                std::string relative = folder + name;
                std::string bytes;
                std::size_t size = (static_cast<std::size_t>(n) * 7919u) % 65537u;
                for (std::size_t b = 0; b < size; ++b)
                    bytes += static_cast<char>((b * 31 + static_cast<std::size_t>(n)) & 0xFF);
                file(std::string("ref/") + macro + "/" + relative, bytes, 1600000000 + n * 977,
                     n % 3 == 0 ? 0 : (n * 123456789L) % 1000000000L);
                std::string windows = relative;
                for (char& c : windows)
                    c = c == '/' ? '\\' : c;
                refs_.push_back({std::string("ref/") + macro + "/" + relative,
                                 std::string("%") + macro + "%\\" + windows,
                                 std::string(kSourceBase) + macro + "/" + relative});
            }
        }
        file(std::string("ref/VEXDIR/lvl0_1/") + kAccented, "accented", 1600000000, 4200);
        refs_.push_back({std::string("ref/VEXDIR/lvl0_1/") + kAccented,
                         std::string("%VEXDIR%\\lvl0_1\\") + kAccented1252,
                         std::string(kSourceBase) + "VEXDIR/lvl0_1/" + kAccented});
    }

    std::string mappings() const
    {
        return "%VEXDIR%=" + shellWord(path("ref/VEXDIR")) +
               " APPDIR=" + shellWord(path("ref/APPDIR")) +
               " OCRDIR=" + shellWord(path("ref/OCRDIR"));
    }

    std::vector<std::string> scriptLines()
    {
        std::vector<std::string> lines;
        std::istringstream in(readBytes(path("out/Update.src")));
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }

    std::vector<RefFile> refs_;
};

TEST_F(AuthorTest, ReferenceTreeGivesExactRecordsSourcesAndACleanCheck)
{
    makeReference();
    // Not without the code page the names outside ASCII are for.
    ProgramRun ascii = author("--lang 409 " + mappings());
    EXPECT_EQ(ascii.exitCode, 1) << ascii.text;
    EXPECT_NE(ascii.text.find(std::string(kAccented) + ": its path holds characters outside ASCII"),
              std::string::npos)
        << ascii.text;
    EXPECT_FALSE(exists(path("out/Update.src")));

    ProgramRun run = author("--lang 409 --codepage 1252 --anchor f051.dll " + mappings());
    ASSERT_EQ(run.exitCode, 0) << run.text;
    catalogue("out");
    ProgramRun checked = check("out", "--codepage 1252");
    nlohmann::json doc = nlohmann::json::parse(checked.text);
    EXPECT_EQ(checked.exitCode, 0) << checked.text;
    EXPECT_EQ(doc["errors"], 0) << checked.text;
    EXPECT_EQ(doc["warnings"], 0) << checked.text;

    std::vector<std::string> lines = scriptLines();
    ASSERT_EQ(lines.size(), refs_.size() + 2);
    EXPECT_EQ(lines[0], "[409]");
    EXPECT_EQ(lines[1], "[Pixora Scan\\3.0]");
    // The anchor first, then every file of each folder in order.
    std::map<std::string, std::size_t> lineOf;
    for (std::size_t i = 2; i < lines.size(); ++i)
        lineOf[lines[i]] = i;
    for (const RefFile& r : refs_) {
        std::string record = recordOf(r.scriptPath, stampOf(path(r.hostRelative)));
        ASSERT_TRUE(lineOf.count(record)) << record;
        if (r.scriptPath == "%VEXDIR%\\lvl0_0\\lvl1_0\\lvl2_0\\F051.DLL") {
            EXPECT_EQ(lineOf[record], 2u);
        }
        // The good copy: the same bytes, the same time to the 100 ns.
        EXPECT_EQ(readBytes(path("out/" + r.source)), readBytes(path(r.hostRelative))) << r.source;
        EXPECT_EQ(stampOf(path("out/" + r.source)).time, stampOf(path(r.hostRelative)).time);
    }
    std::string resolve = readBytes(path("out/Resolve.src"));
    EXPECT_EQ(resolve.compare(0, 18, "[Pixora Scan\\3.0]\n"), 0) << resolve;
    EXPECT_NE(
        resolve.find("\nF299.DLL=SOURCE\\Pixora Scan\\3.0\\OCRDIR\\lvl0_0\\lvl1_0\\lvl2_0\\F299."
                     "DLL\n"),
        std::string::npos)
        << resolve;
    EXPECT_NE(resolve.find(std::string("\n") + kAccented1252 +
                           "=SOURCE\\Pixora Scan\\3.0\\VEXDIR\\lvl0_1\\" + kAccented1252 + "\n"),
              std::string::npos)
        << resolve;
}

TEST_F(AuthorTest, TheFirstToolkitFileIsTheAnchorUnlessOneIsNamed)
{
    file("ref/app/A.EXE", "a");
    file("ref/vex/sub/Z.DLL", "z");
    file("ref/vex/M.DLL", "m");
    ASSERT_EQ(author("--lang 409 APPDIR=" + shellWord(path("ref/app")) +
                     " VEXDIR=" + shellWord(path("ref/vex")))
                  .exitCode,
              0);
    std::vector<std::string> lines = scriptLines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[2].compare(0, 20, "File=%VEXDIR%\\M.DLL,"), 0) << lines[2];
    EXPECT_EQ(lines[3].compare(0, 20, "File=%APPDIR%\\A.EXE,"), 0) << lines[3];
}

TEST_F(AuthorTest, RefusalsWriteNothing)
{
    const std::string vex = " VEXDIR=" + shellWord(path("ref/vex"));
    struct Case {
        const char* what;
        const char* hostRelative;
        int exitCode;
        const char* options = "";
    } cases[] = {
        {"file names that collide in the resolve list", "ref/vex/deep/a.dll", 1},
        {"a comma in a path", "ref/vex/x,y/B.DLL", 1},
        {"a macro name in a path", "ref/vex/%APPDIR%/B.DLL", 1},
        {"a name that reads as a resolve comment", "ref/vex/;B.DLL", 1},
        {"a name with an equal sign", "ref/vex/B=1.DLL", 1},
        {"a path longer than the engine opens", nullptr, 1},
        {"a name outside ASCII without a code page", "ref/vex/R\xC3\xA9sum\xC3\xA9.DLL", 1},
        {"a name that the code page cannot hold", "ref/vex/R\xC3\xA9sum\xC3\xA9.DLL", 1,
         " --codepage 1251"},
        {"a name with a backslash byte inside a character", "ref/vex/\xE3\x82\xBD.DLL", 1,
         " --codepage 932"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::system(("rm -rf " + shellWord(path("ref")) + " " + shellWord(path("out"))).c_str());
        file("ref/vex/A.DLL", "a");
        if (c.hostRelative) {
            file(c.hostRelative, "b");
        } else {
            std::string deep = "ref/vex";
            for (int i = 0; i < 7; ++i)
                deep += "/" + std::string(40, static_cast<char>('a' + i));
            file(deep + "/B.DLL", "b");
        }
        ProgramRun run = author("--lang 409" + std::string(c.options) + vex);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.text;
        EXPECT_FALSE(exists(path("out/Update.src"))) << run.text;
        EXPECT_FALSE(exists(path("out/Resolve.src")));
        EXPECT_FALSE(exists(path("out/SOURCE")));
    }
}

TEST_F(AuthorTest, UsageErrorsGiveTwo)
{
    file("ref/vex/A.DLL", "a");
    const std::string vex = " VEXDIR=" + shellWord(path("ref/vex"));
    EXPECT_EQ(author("--lang 40g" + vex).exitCode, 2);
    EXPECT_EQ(author("--lang 409 TEMP=" + shellWord(path("ref/vex"))).exitCode, 2);
    EXPECT_EQ(author("--lang 409" + vex + vex).exitCode, 2);
    EXPECT_EQ(author("--lang 409 --codepage 1200" + vex).exitCode, 2);
    EXPECT_EQ(author("--lang 409").exitCode, 2);
    EXPECT_EQ(author("--lang 409 VEXDIR=" + shellWord(path("nothere"))).exitCode, 2);
    EXPECT_EQ(runFixwise("author --product 'NoVersion' --lang 409 --out " + shellWord(path("out")) +
                         vex + " 2>/dev/null")
                  .exitCode,
              1);
}

TEST_F(AuthorTest, AppendingKeepsOtherSectionsAndAddsLanguages)
{
    file("out/SOURCE/OLD.EXE", "o");
    const std::string otherScript = "[409]\n"
                                    "; the older release\n"
                                    "[Pixora Scan\\2.0]\n" +
                                    recordOf("%APPDIR%\\OLD.EXE",
                                             stampOf(path("out/SOURCE/OLD.EXE"))); // no line feed
    const std::string otherResolve = "[Pixora Scan\\2.0]\nOLD.EXE=SOURCE\\OLD.EXE\n";
    writeBytes(path("out/Update.src"), otherScript);
    writeBytes(path("out/Resolve.src"), otherResolve);
    file("ref/vex/A.DLL", "a", 1700000000, 500);
    file("ref/vex/B.DLL", "b");
    const std::string vex = " VEXDIR=" + shellWord(path("ref/vex"));
    ASSERT_EQ(author("--lang 409" + vex).exitCode, 0);

    std::string script = readBytes(path("out/Update.src"));
    std::string resolve = readBytes(path("out/Resolve.src"));
    EXPECT_EQ(script.compare(0, otherScript.size() + 1, otherScript + "\n"), 0) << script;
    EXPECT_EQ(resolve.compare(0, otherResolve.size(), otherResolve), 0) << resolve;

    // The same product and language again would never be read.
    ProgramRun again = author("--lang 409" + vex);
    EXPECT_EQ(again.exitCode, 1) << again.text;
    EXPECT_EQ(readBytes(path("out/Update.src")), script);

    // Another language shares the resolve section: a new name goes right
    // under its header, a known one keeps its line.
    file("ref/vex407/A.DLL", "a", 1700000000, 500);
    file("ref/vex407/C.DLL", "c");
    ASSERT_EQ(author("--lang 407 VEXDIR=" + shellWord(path("ref/vex407"))).exitCode, 0);
    resolve = readBytes(path("out/Resolve.src"));
    EXPECT_EQ(resolve, otherResolve + "[Pixora Scan\\3.0]\n"
                                      "C.DLL=SOURCE\\Pixora Scan\\3.0\\VEXDIR\\C.DLL\n"
                                      "A.DLL=SOURCE\\Pixora Scan\\3.0\\VEXDIR\\A.DLL\n"
                                      "B.DLL=SOURCE\\Pixora Scan\\3.0\\VEXDIR\\B.DLL\n");
    EXPECT_EQ(readBytes(path("out/Update.src")).compare(0, script.size(), script), 0);

    // A known name whose file differs cannot share the one source.
    file("ref/vex40c/A.DLL", "a", 1700000000, 600);
    ProgramRun differs = author("--lang 40c VEXDIR=" + shellWord(path("ref/vex40c")));
    EXPECT_EQ(differs.exitCode, 1) << differs.text;

    // Each language's section needs its own lines of the shared section;
    // the older release is not catalogued.
    catalogue("out");
    ProgramRun checked = check("out");
    nlohmann::json doc = nlohmann::json::parse(checked.text);
    EXPECT_EQ(doc["errors"], 0) << checked.text;
    EXPECT_EQ(doc["warnings"], 1) << checked.text;
}

// Minimal images: the headers that tell a 32-bit x86 program or DLL, and a
// resource section holding a version (none when version is 0).
std::string fakeImage(bool library, std::uint16_t machine = 0x14C, bool symbols = false,
                      std::uint16_t magic = 0x10B, std::uint32_t version = 0x00010000)
{
    std::string b(0x300, '\0');
    auto put = [&b](std::size_t at, std::uint32_t value, int width) {
        for (int i = 0; i < width; ++i)
            b[at + static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
    };
    b[0] = 'M';
    b[1] = 'Z';
    put(0x3C, 0x80, 4);
    b.replace(0x80, 4, std::string("PE\0\0", 4));
    put(0x84, machine, 2);
    put(0x86, 1, 2); // one section
    put(0x8C, symbols ? 0x180 : 0, 4);
    put(0x90, symbols ? 12 : 0, 4);
    put(0x94, 0xE0, 2);
    put(0x96, 0x0102 | (library ? 0x2000 : 0), 2);
    put(0x98, magic, 2);
    if (version != 0 && magic == 0x10B) {
        put(0x98 + 92, 16, 4);          // data directories
        put(0x98 + 96 + 16, 0x1000, 4); // resources at RVA 0x1000
        put(0x98 + 96 + 20, 0x100, 4);
        const std::size_t section = 0x98 + 0xE0;
        b.replace(section, 5, ".rsrc");
        put(section + 12, 0x1000, 4); // its RVA, raw size and file offset
        put(section + 16, 0x100, 4);
        put(section + 20, 0x200, 4);
        // Type 16, name 1, language 0x409, each a directory of one id entry.
        const std::size_t r = 0x200;
        put(r + 14, 1, 2);
        put(r + 16, 16, 4);
        put(r + 20, 0x80000000u | 0x18, 4);
        put(r + 0x18 + 14, 1, 2);
        put(r + 0x18 + 16, 1, 4);
        put(r + 0x18 + 20, 0x80000000u | 0x30, 4);
        put(r + 0x30 + 14, 1, 2);
        put(r + 0x30 + 16, 0x409, 4);
        put(r + 0x30 + 20, 0x48, 4);
        put(r + 0x48, 0x1000 + 0x60, 4); // the data: RVA and size
        put(r + 0x48 + 4, 0x40, 4);
        put(r + 0x60 + 8, 0xFEEF04BDu, 4); // VS_FIXEDFILEINFO
        put(r + 0x60 + 16, version, 4);
        put(r + 0x60 + 20, 2, 4);
    }
    return b;
}

class MediumTest : public Folder
{
protected:
    void SetUp() override
    {
        Folder::SetUp();
        makeDirs("bin");
        for (const char* name : kPrograms)
            writeBytes(path(std::string("bin/") + name), fakeImage(false));
        for (const char* name : kLibraries)
            writeBytes(path(std::string("bin/") + name), fakeImage(true));
        file("ref/vex/A.DLL", "aaaa", 1700000000, 1234500);
        file("ref/app/sub/P.EXE", "pp");
        ASSERT_EQ(runFixwise("author --product " + shellWord(kProduct) + " --lang 409 --out " +
                             shellWord(path("data")) + " VEXDIR=" + shellWord(path("ref/vex")) +
                             " APPDIR=" + shellWord(path("ref/app")) + " >/dev/null")
                      .exitCode,
                  0);
        catalogue("data");
    }

    ProgramRun medium()
    {
        return runFixwise("medium --out " + shellWord(path("medium")) + " --bin " +
                          shellWord(path("bin")) + " " + shellWord(path("data")) + " 2>&1");
    }

    static constexpr const char* kPrograms[] = {"Setup.exe", "devprobe.exe"};
    static constexpr const char* kLibraries[] = {"Scoutex.dll", "Mendex.dll", "patchres.dll"};
};

TEST_F(MediumTest, HoldsExactlyTheDeliverablesAndTheData)
{
    ProgramRun run = medium();
    ASSERT_EQ(run.exitCode, 0) << run.text;
    EXPECT_NE(run.text.find("version 1.0.0.2,"), std::string::npos) << run.text;
    ProgramRun listed = runFixwise("check " + shellWord(path("medium")) + " --json");
    EXPECT_EQ(nlohmann::json::parse(listed.text)["errors"], 0) << listed.text;
    FILE* find =
        popen(("cd " + shellWord(path("medium")) + " && find . -type f | sort").c_str(), "r");
    ASSERT_NE(find, nullptr);
    std::string files;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, find)) > 0)
        files.append(buffer, n);
    pclose(find);
    EXPECT_EQ(files, "./Mendex.dll\n"
                     "./Resolve.src\n"
                     "./SHA256SUMS\n"
                     "./SOURCE/Pixora Scan/3.0/APPDIR/sub/P.EXE\n"
                     "./SOURCE/Pixora Scan/3.0/VEXDIR/A.DLL\n"
                     "./Scoutex.dll\n"
                     "./Setup.exe\n"
                     "./Update.src\n"
                     "./devprobe.exe\n"
                     "./libdata.src\n"
                     "./patchres.dll\n");
    EXPECT_EQ(readBytes(path("medium/Mendex.dll")), fakeImage(true));
    // Every other file listed, as sha256sum checks it.
    EXPECT_EQ(std::system(("cd " + shellWord(path("medium")) +
                           " && sha256sum --quiet -c SHA256SUMS && test $(wc -l <SHA256SUMS) = 10")
                              .c_str()),
              0);
    EXPECT_EQ(stampOf(path("medium/SOURCE/Pixora Scan/3.0/VEXDIR/A.DLL")).time,
              stampOf(path("ref/vex/A.DLL")).time);
}

TEST_F(MediumTest, RefusesDataWithErrors)
{
    // A source that no longer matches the script.
    file("data/SOURCE/Pixora Scan/3.0/VEXDIR/A.DLL", "aaaa", 1700000001);
    ProgramRun run = medium();
    EXPECT_EQ(run.exitCode, 1) << run.text;
    EXPECT_NE(run.text.find("Resolve.src:2: error: "), std::string::npos) << run.text;
    EXPECT_FALSE(exists(path("medium")));
}

TEST_F(MediumTest, RefusesBinariesThatAreNoStripped32BitBuilds)
{
    struct Case {
        const char* what;
        std::string image;
    } cases[] = {
        {"64-bit", fakeImage(true, 0x8664, false, 0x20B)},
        {"with symbols", fakeImage(true, 0x14C, true)},
        {"a program for a DLL", fakeImage(false)},
        {"no image", "plain text"},
        {"another version", fakeImage(true, 0x14C, false, 0x10B, 0x00020000)},
        {"no version", fakeImage(true, 0x14C, false, 0x10B, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeBytes(path("bin/Mendex.dll"), c.image);
        ProgramRun run = medium();
        EXPECT_EQ(run.exitCode, 1) << run.text;
        EXPECT_NE(run.text.find("Mendex.dll"), std::string::npos) << run.text;
        EXPECT_FALSE(exists(path("medium")));
    }
    std::remove(path("bin/Mendex.dll").c_str());
    EXPECT_EQ(medium().exitCode, 1);
}

TEST_F(MediumTest, RefusesAnOutputFolderThatHoldsAnything)
{
    file("medium/old.txt", "x");
    EXPECT_EQ(medium().exitCode, 2);
    EXPECT_EQ(readBytes(path("medium/old.txt")), "x");
}

} // namespace
