// fixwise author --product KEY --lang LANG --out DIR [--anchor NAME]
//                [--codepage N] MACRO=FOLDER...
// Writes the update script section, the resolve section and the SOURCE
// copies of a reference installation: one File entry per file below the
// folders that the macros stand for, with its exact size and last-write
// time. Nothing is written unless every file can be listed and restored.
// The data files hold the names in the ANSI code page of the customer's
// Windows (--codepage; ASCII only without it), the SOURCE tree holds them
// as the file system here spells them: the same names once the engine's
// A-functions have read the data in that code page.
#include "CodePage.h"
#include "Commands.h"
#include "FileFacts.h"

#include "LineReader.h"
#include "PathMacros.h"
#include "ResolveList.h"
#include "SectionReader.h"
#include "Text.h"
#include "UpdateScript.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace
{

constexpr const char* kUsage = "usage: fixwise author --product KEY --lang LANG --out DIR "
                               "[--anchor NAME] [--codepage N] MACRO=FOLDER...\n";
// The folder of the medium that holds the good copies.
constexpr const char* kSourceFolder = "SOURCE";
// A line of exactly the reader's limit is followed by an empty line, which
// ends the section: every written line stays below it.
constexpr std::size_t kMaxWrittenLine = LineReader::kMaxLine - 1;

struct Mapping {
    int selector;
    std::string folder;
};

// The texts that go into the data files are in the data's code page; the
// host forms are as the file system here and the command line spell them.
struct AuthoredFile {
    std::string scriptPath; // "%VEXDIR%\sub\NAME.DLL"
    std::string hostFile;   // the reference file
    std::string name;       // the file name, as the resolve list looks it up
    std::string source;     // the source path of its resolve line
    std::string hostName;   // the file name, host form
    std::string hostSource; // the source path, host form
    std::string shownPath;  // the script path, host form
    FileFacts facts;
    bool newResolveLine = true;
};

struct Options {
    std::string product;
    std::string language;
    std::string out;
    std::string anchor;
    unsigned codePage = 0; // 0: ASCII names only
    std::vector<Mapping> mappings;
};

// Prints why the authoring is refused; returns the exit code for it.
int refuse(const std::string& why)
{
    std::fprintf(stderr, "fixwise author: %s\n", why.c_str());
    return kExitErrors;
}

int usage(const std::string& why)
{
    std::fprintf(stderr, "fixwise author: %s\n%s", why.c_str(), kUsage);
    return kExitCannotRun;
}

// The selector of a macro written with or without its percent signs.
int selectorOf(const std::string& written)
{
    for (int selector : kFilePathMacros) {
        std::string name = macroName(selector);
        if (written == name || written == name.substr(1, name.size() - 2))
            return selector;
    }
    return 0;
}

// "" when the parse went well, else what is wrong with the command line.
std::string parseOptions(int argc, char** argv, Options& o)
{
    for (int i = 0; i < argc; ++i) {
        std::string arg = argv[i];
        std::string* value = arg == "--product"  ? &o.product
                             : arg == "--lang"   ? &o.language
                             : arg == "--out"    ? &o.out
                             : arg == "--anchor" ? &o.anchor
                                                 : nullptr;
        if (value) {
            if (i + 1 >= argc)
                return arg + " needs a value";
            *value = argv[++i];
            continue;
        }
        if (arg == "--codepage") {
            if (i + 1 >= argc)
                return arg + " needs a value";
            if (std::string why = parseCodePage(argv[++i], o.codePage); !why.empty())
                return why;
            continue;
        }
        std::size_t eq = arg.find('=');
        int selector = eq == std::string::npos ? 0 : selectorOf(arg.substr(0, eq));
        if (!selector)
            return "unknown argument " + arg;
        for (const Mapping& m : o.mappings)
            if (m.selector == selector)
                return std::string(macroName(selector)) + " is mapped twice";
        o.mappings.push_back({selector, arg.substr(eq + 1)});
    }
    if (o.product.empty() || o.language.empty() || o.out.empty())
        return "--product, --lang and --out are needed";
    if (o.mappings.empty())
        return "no MACRO=FOLDER given";
    if (!isLanguageHeaderName(o.language.c_str()))
        return "--lang " + o.language + " is no hexadecimal language identifier";
    return "";
}

// What keeps the product key from heading its sections and naming its
// SOURCE folder; "" when nothing does.
std::string productKeyProblem(const std::string& key)
{
    if (isBlankText(key.c_str()))
        return "the product key is blank";
    std::size_t slash = key.find('\\');
    if (slash == std::string::npos || slash == 0 || slash + 1 == key.size() ||
        key.find('\\', slash + 1) != std::string::npos)
        return "the product key must be NAME\\VERSION, with one backslash";
    if (key.find(']') != std::string::npos)
        return "a product key with \"]\" is cut at it in its header";
    if (key.size() > kMaxWrittenLine - 2)
        return "the product key is too long for its header line";
    for (char c : key)
        if (static_cast<unsigned char>(c) < ' ' || std::strchr("/:*?\"<>|", c))
            return std::string("the product key holds '") + c +
                   "', which no folder name of the SOURCE tree can hold";
    return "";
}

std::string fileRecord(const AuthoredFile& f)
{
    char text[80];
    std::snprintf(text, sizeof text, ",size:%X-%X,time:%X-%X",
                  static_cast<unsigned>(f.facts.size >> 32), static_cast<unsigned>(f.facts.size),
                  static_cast<unsigned>(f.facts.writeTime >> 32),
                  static_cast<unsigned>(f.facts.writeTime));
    return "File=" + f.scriptPath + text;
}

std::string resolveLine(const AuthoredFile& f)
{
    return f.name + "=" + f.source;
}

// What keeps the engine from checking or restoring the file; "" if nothing.
std::string pathProblem(const AuthoredFile& f, const std::string& relative)
{
    if (f.scriptPath.find(',') != std::string::npos)
        return "its path holds a comma, where the File record's path ends";
    for (char c : f.scriptPath)
        if (c == '\n' || c == '\r')
            return "its path holds a line break";
    for (int selector : kFilePathMacros)
        if (relative.find(macroName(selector)) != std::string::npos)
            return std::string("its path holds ") + macroName(selector) +
                   ", which the run would expand";
    if (const char* why = resolveNameProblem(f.name.c_str()))
        return "no resolve line can name it: " + std::string(why);
    // The shortest folder a macro can stand for is a drive ("C:").
    if (2 + 1 + relative.size() > kMaxFilePath)
        return "its path below the macro is longer than a path the engine can open (" +
               std::to_string(kMaxFilePath) + " characters)";
    if (fileRecord(f).size() > kMaxWrittenLine)
        return "its File record is longer than a line the engine reads (" +
               std::to_string(kMaxWrittenLine) + " characters)";
    if (resolveLine(f).size() > kMaxWrittenLine)
        return "its resolve line is longer than a line the engine reads (" +
               std::to_string(kMaxWrittenLine) + " characters)";
    return "";
}

// The text with a line feed after its last line (none added to an empty one).
std::string endedText(std::string text)
{
    if (!text.empty() && text.back() != '\n')
        text += '\n';
    return text;
}

class Author
{
public:
    explicit Author(Options options) : o_(std::move(options)) {}

    int run()
    {
        if (std::string why = productKeyProblem(o_.product); !why.empty())
            return refuse(why);
        std::string why;
        std::optional<std::string> product = dataForm(o_.product, "the product key", why);
        if (!product)
            return refuse(why);
        product_ = *product;
        if (product_.find(']') != std::string::npos)
            return refuse(codePageName() +
                          " writes the product key with the byte of \"]\", where its header is "
                          "cut");
        if (product_.size() > kMaxWrittenLine - 2)
            return refuse("the product key is too long for its header line");
        if (int code = collectFiles())
            return code;
        if (int code = placeAnchor())
            return code;
        if (!isDirectory(o_.out) && !makeFolders(o_.out))
            return usage("cannot make the folder " + o_.out);
        std::optional<std::string> script = readWholeFile(hostPath(o_.out, kUpdateScriptName));
        std::optional<std::string> resolve = readWholeFile(hostPath(o_.out, kResolveListName));
        if (int code = script ? refuseExistingSection(*script) : kExitClean)
            return code;
        if (int code = resolve ? matchExistingResolveLines(*resolve) : kExitClean)
            return code;
        for (AuthoredFile& f : files_) {
            if (!f.newResolveLine)
                continue;
            std::string copy = hostPath(o_.out, f.hostSource);
            std::size_t cut = copy.find_last_of("\\/");
            if (!makeFolders(copy.substr(0, cut)) || !copyKeepingTime(f.hostFile, copy))
                return refuse("cannot copy " + f.hostFile + " to " + copy +
                              " with its last-write time");
        }
        if (!writeWholeFile(hostPath(o_.out, kResolveListName), resolveText(resolve)))
            return refuse(std::string("cannot write ") + kResolveListName);
        if (!writeWholeFile(hostPath(o_.out, kUpdateScriptName), scriptText(script)))
            return refuse(std::string("cannot write ") + kUpdateScriptName);
        std::printf("%zu File entries of [%s] for language %s in %s, anchor %s\n", files_.size(),
                    o_.product.c_str(), o_.language.c_str(), o_.out.c_str(),
                    files_.front().shownPath.c_str());
        return kExitClean;
    }

private:
    std::string codePageName() const { return "code page " + std::to_string(o_.codePage); }

    // A name or path in the data's code page; none, with why set, when the
    // data cannot hold it as the engines will read it.
    std::optional<std::string> dataForm(const std::string& host, const std::string& what,
                                        std::string& why) const
    {
        if (!o_.codePage) {
            if (isAscii(host))
                return host;
            why = what +
                  " holds characters outside ASCII: the engines read the data in the ANSI "
                  "code page of the customers' Windows; pass --codepage N with that code page";
            return std::nullopt;
        }
        if (!validIn(host, hostCodePage())) {
            why = what + " is no valid text of code page " + std::to_string(hostCodePage()) +
                  ", the code page of the file names here";
            return std::nullopt;
        }
        std::optional<std::string> data = convertText(host, hostCodePage(), o_.codePage);
        if (!data) {
            why = codePageName() + " cannot hold " + what;
            return std::nullopt;
        }
        // The engines cut a path at every byte of a backslash, also at the
        // second byte of a character.
        if (std::count(data->begin(), data->end(), '\\') !=
            std::count(host.begin(), host.end(), '\\')) {
            why = codePageName() + " writes " + what +
                  " with the byte of \"\\\" inside a character, where the engines cut it";
            return std::nullopt;
        }
        return data;
    }

    int collectFiles()
    {
        const std::string sourceBase = std::string(kSourceFolder) + "\\" + product_;
        const std::string hostSourceBase = std::string(kSourceFolder) + "\\" + o_.product;
        std::map<std::string, std::size_t> byName; // resolve name key -> index
        std::vector<std::string> problems;
        for (const Mapping& m : o_.mappings) {
            std::optional<std::vector<std::string>> found = filesBelow(m.folder);
            if (!found) {
                std::fprintf(stderr, "fixwise author: cannot list the folder %s\n",
                             m.folder.c_str());
                return kExitCannotRun;
            }
            std::string macro = macroName(m.selector);
            const std::string macroFolder = "\\" + macro.substr(1, macro.size() - 2) + "\\";
            for (const std::string& hostRelative : *found) {
                AuthoredFile f;
                f.hostFile = hostPath(m.folder, hostRelative);
                f.shownPath = macro + "\\" + hostRelative;
                std::size_t cut = hostRelative.rfind('\\');
                f.hostName = cut == std::string::npos ? hostRelative : hostRelative.substr(cut + 1);
                f.hostSource = hostSourceBase + macroFolder + hostRelative;
                std::string why;
                std::optional<std::string> data = dataForm(hostRelative, "its path", why);
                if (!data) {
                    problems.push_back(f.hostFile + ": " + why);
                    continue;
                }
                const std::string& relative = *data;
                f.scriptPath = macro + "\\" + relative;
                cut = relative.rfind('\\');
                f.name = cut == std::string::npos ? relative : relative.substr(cut + 1);
                f.source = sourceBase + macroFolder + relative;
                std::optional<FileFacts> facts = fileFacts(f.hostFile);
                if (!facts) {
                    problems.push_back(f.hostFile + ": cannot be read");
                    continue;
                }
                f.facts = *facts;
                if (std::string why = pathProblem(f, relative); !why.empty()) {
                    problems.push_back(f.hostFile + ": " + why);
                    continue;
                }
                auto [first, fresh] = byName.emplace(resolveNameKey(f.name.c_str()), files_.size());
                if (!fresh) {
                    problems.push_back(f.hostFile + ": its file name is also that of " +
                                       files_[first->second].hostFile +
                                       ": the resolve list holds one source per name");
                    continue;
                }
                files_.push_back(std::move(f));
            }
        }
        for (const std::string& p : problems)
            std::fprintf(stderr, "fixwise author: %s\n", p.c_str());
        if (!problems.empty())
            return refuse(std::to_string(problems.size()) + " file(s) cannot be authored");
        if (files_.empty())
            return refuse("the folders hold no file");
        return kExitClean;
    }

    // The anchor first: the named one, or else the first file of %VEXDIR%
    // (the folder the run locates by it), or else the first file.
    int placeAnchor()
    {
        std::size_t at = 0;
        bool found = false;
        for (std::size_t i = 0; i < files_.size() && !found; ++i) {
            if (o_.anchor.empty())
                found = files_[i].scriptPath.compare(0, std::strlen(macroName(kMacroVexDir)),
                                                     macroName(kMacroVexDir)) == 0;
            else
                found = equalsNoCase(files_[i].hostName.c_str(), o_.anchor.c_str()) ||
                        equalsNoCase(files_[i].shownPath.c_str(), o_.anchor.c_str());
            if (found)
                at = i;
        }
        if (!found && !o_.anchor.empty())
            return refuse("no file " + o_.anchor + " to be the anchor");
        std::rotate(files_.begin(), files_.begin() + static_cast<std::ptrdiff_t>(at),
                    files_.begin() + static_cast<std::ptrdiff_t>(at) + 1);
        return kExitClean;
    }

    // The run reads only the first section of the product for a language:
    // one that is there already would hide the new one.
    int refuseExistingSection(const std::string& script)
    {
        LineReader reader(script);
        UpdateScript entries;
        const auto langId = static_cast<std::uint16_t>(parseHex(o_.language.c_str()));
        int result = readUpdateScript(reader, product_.c_str(), langId, &entries);
        freeUpdateScript(&entries);
        if (result == -1)
            return kExitClean;
        return refuse(std::string(kUpdateScriptName) + " already has a section [" + o_.product +
                      "] that language " + o_.language +
                      " reads: the run would never read a second one");
    }

    // The resolve list has one section per product for every language: a
    // name it already holds must have a source equal to the file.
    int matchExistingResolveLines(const std::string& resolve)
    {
        {
            LineReader reader(resolve);
            SectionReader sections(reader);
            if (!sections.seekSection(product_.c_str()))
                return kExitClean;
            resolveHeaderLine_ = sections.lineNumber();
        }
        for (AuthoredFile& f : files_) {
            LineReader reader(resolve);
            char source[LineReader::kBufSize];
            if (lookupResolveSource(reader, product_.c_str(), f.name.c_str(), source,
                                    sizeof source) != 0)
                continue;
            std::optional<std::string> hostSource =
                o_.codePage ? convertText(source, o_.codePage, hostCodePage()) : source;
            std::optional<FileFacts> there =
                hostSource ? fileFacts(hostPath(o_.out, *hostSource)) : std::nullopt;
            if (!there || there->size != f.facts.size || there->writeTime != f.facts.writeTime)
                return refuse(f.hostFile + ": section [" + o_.product + "] of " + kResolveListName +
                              " names the source " + hostSource.value_or(source) + " for " +
                              f.hostName +
                              ", which is missing or differs from it: one source serves every "
                              "language");
            f.source = source;
            f.hostSource = *hostSource;
            f.newResolveLine = false;
        }
        return kExitClean;
    }

    // The new lines go right below the section's header, so that no empty
    // line in the section can hide them; a new section goes at the end.
    std::string resolveText(const std::optional<std::string>& existing)
    {
        std::string lines;
        for (const AuthoredFile& f : files_)
            if (f.newResolveLine)
                lines += resolveLine(f) + "\n";
        std::string text = endedText(existing.value_or(""));
        if (!resolveHeaderLine_)
            return text + "[" + product_ + "]\n" + lines;
        std::size_t at = 0;
        for (std::size_t line = 0; line < resolveHeaderLine_ && at != std::string::npos; ++line) {
            at = text.find('\n', at);
            at = at == std::string::npos ? at : at + 1;
        }
        return text.substr(0, at) + lines + text.substr(at);
    }

    std::string scriptText(const std::optional<std::string>& existing)
    {
        std::string text = endedText(existing.value_or(""));
        text += "[" + o_.language + "]\n[" + product_ + "]\n";
        for (const AuthoredFile& f : files_)
            text += fileRecord(f) + "\n";
        return text;
    }

    Options o_;
    std::string product_; // the product key in the data's code page
    std::vector<AuthoredFile> files_;
    std::size_t resolveHeaderLine_ = 0; // line of the product's resolve header; 0: none
};

} // namespace

int runAuthor(int argc, char** argv)
{
    Options options;
    if (std::string why = parseOptions(argc, argv, options); !why.empty())
        return usage(why);
    return Author(std::move(options)).run();
}
