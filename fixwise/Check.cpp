// fixwise check [DIR] [--json] [--codepage N]: reads libdata.src,
// Update.src and Resolve.src of DIR with the engines' readers and reports
// every line they will drop, misread or stop at, and what the three files
// disagree about; and text that the ANSI code page of the customers'
// Windows does not read as meant.
#include "Check.h"
#include "CodePage.h"
#include "Commands.h"
#include "FileFacts.h"
#include "Findings.h"

#include "LibDataGrammar.h"
#include "LineReader.h"
#include "PathMacros.h"
#include "ResolveList.h"
#include "SectionReader.h"
#include "Text.h"
#include "UpdateScript.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace
{

constexpr const char* kLibDataName = "libdata.src";

// A language x product section of the update script, by its headers.
struct ScriptSection {
    std::string language;
    std::uint16_t langId;
    std::string product;
    bool underItsHeader; // the product header stands under this language header
};

// The taken lines of a reader, in the order it took them.
class TakenLines : public FindingSink
{
public:
    using FindingSink::FindingSink;
    void taken(std::size_t line) override { lines.push_back(line); }
    void passed(std::size_t line, const char*) override { passedLines.push_back(line); }
    std::vector<std::size_t> lines;
    std::vector<std::size_t> passedLines;
};

// The file name of a script path as the run looks it up once the macros are
// expanded: the text after its last backslash, or after a leading macro
// whose value ends in one ("%APPDIR%NAME").
std::string fileNameOf(const char* path)
{
    const char* slash = std::strrchr(path, '\\');
    const char* macroEnd = std::strrchr(path, '%');
    const char* cut = slash > macroEnd ? slash : macroEnd;
    return cut ? cut + 1 : path;
}

std::vector<ScriptSection> scriptSections(const std::string& text)
{
    std::vector<ScriptSection> sections;
    LineReader reader(text);
    SectionReader headers(reader);
    char name[LineReader::kBufSize];
    std::vector<std::pair<std::string, std::uint16_t>> languages;
    std::vector<std::string> products;
    while (headers.nextHeader()) {
        copyText(name, headers.headerName());
        if (isLanguageHeaderName(name)) {
            languages.emplace_back(name, static_cast<std::uint16_t>(parseHex(name)));
        } else if (!languages.empty()) {
            sections.push_back({languages.back().first, languages.back().second, name, true});
            products.push_back(name);
        }
    }
    // The reader for one language passes over later language headers, so
    // every language may read every product: try each pair.
    std::size_t own = sections.size();
    for (const auto& [language, langId] : languages)
        for (const std::string& product : products) {
            bool listed = false;
            for (std::size_t i = 0; i < own; ++i)
                listed = listed || (sections[i].langId == langId && sections[i].product == product);
            if (!listed)
                sections.push_back({language, langId, product, false});
        }
    return sections;
}

// The run of text around the first byte outside ASCII: the name it is in.
std::string nameAroundFirstNonAscii(const std::string& line)
{
    constexpr const char* kEnds = "\\,=%\"[]";
    std::size_t at = 0;
    while (at < line.size() && static_cast<unsigned char>(line[at]) < 0x80)
        ++at;
    std::size_t from = line.find_last_of(kEnds, at);
    std::size_t to = line.find_first_of(kEnds, at);
    from = from == std::string::npos ? 0 : from + 1;
    return line.substr(from, to == std::string::npos ? std::string::npos : to - from);
}

// Text of a code page as this program prints text (UTF-8 natively), quoted;
// bytes outside ASCII as \xNN when it cannot be or the code page is not
// known (0).
std::string shownText(const std::string& text, unsigned codePage)
{
    std::optional<std::string> shown;
    if (codePage && (shown = convertText(text, codePage, hostCodePage())))
        return "\"" + *shown + "\"";
    std::string escaped = "\"";
    for (char c : text) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
        escaped += static_cast<unsigned char>(c) < 0x80 ? std::string(1, c) : std::string(hex);
    }
    return escaped + "\"";
}

// "1252, 1250" of the code pages that pass; "" when none does.
template <typename Passes> std::string codePagesWhere(Passes passes)
{
    std::string list;
    for (unsigned page : windowsCodePages())
        if (passes(page))
            list += (list.empty() ? "" : ", ") + std::to_string(page);
    return list;
}

class Checker
{
public:
    Checker(std::string dir, const CheckOptions& options) : dir_(std::move(dir)), options_(options)
    {
    }

    void run()
    {
        std::set<std::string> scriptProducts = checkScript();
        std::set<std::string> libProducts = checkLibData();
        if (haveScript_ && haveLibData_) {
            for (const auto& [product, line] : scriptProductLines_)
                if (!libProducts.count(product))
                    findings.add(kUpdateScriptName, line, Severity::Warning,
                                 "product [" + product +
                                     "] has no section in libdata.src: it is "
                                     "never found, so never updated");
            for (const auto& [product, line] : libProductLines_)
                if (!scriptProducts.count(product))
                    findings.add(kLibDataName, line, Severity::Warning,
                                 "product [" + product + "] has no section in Update.src");
        }
        for (const char* name : {kLibDataName, kUpdateScriptName, kResolveListName})
            if (std::optional<std::string> text = readWholeFile(hostPath(dir_, name)))
                checkCodePage(name, *text);
    }

    Findings findings;

private:
    void missingFile(const char* name)
    {
        findings.add(name, 0, Severity::Error, std::string("cannot read ") + name);
    }

    std::set<std::string> checkScript()
    {
        std::set<std::string> products;
        std::optional<std::string> script = readWholeFile(hostPath(dir_, kUpdateScriptName));
        std::optional<std::string> resolve = readWholeFile(hostPath(dir_, kResolveListName));
        if (!script) {
            missingFile(kUpdateScriptName);
            return products;
        }
        haveScript_ = true;
        if (!resolve)
            missingFile(kResolveListName);
        {
            // Line length is a property of the file, told once.
            FindingSink sink(findings, kUpdateScriptName);
            LineReader reader(*script);
            reader.setDiagnostics(&sink);
            SectionReader lines(reader);
            for (LineKind line; (line = lines.next()) != LineKind::End;)
                if (line != LineKind::Header)
                    checkMacroNames(lines.line(), lines.lineNumber());
        }
        for (const ScriptSection& section : scriptSections(*script)) {
            products.insert(section.product);
            checkScriptSection(*script, resolve ? &*resolve : nullptr, section);
        }
        if (resolve)
            checkUnneededResolveLines(*resolve);
        return products;
    }

    // Every "%NAME%" of a record that is none of the run's macros stays in
    // the text as written.
    void checkMacroNames(const char* line, std::size_t at)
    {
        for (const char* p = std::strchr(line, '%'); p; p = std::strchr(p + 1, '%')) {
            const char* end = p + 1;
            while (std::isalnum(static_cast<unsigned char>(*end)) || *end == '_')
                ++end;
            if (*end != '%' || end == p + 1)
                continue;
            std::string name(p + 1, end);
            const std::string written = "%" + name + "%";
            bool known = written == kLangIdMacro;
            for (int selector : kFilePathMacros)
                known = known || written == macroName(selector);
            if (!known)
                findings.add(kUpdateScriptName, at, Severity::Error,
                             "unknown macro %" + name + "%: it is never expanded");
            p = end;
        }
    }

    void checkScriptSection(const std::string& script, const std::string* resolve,
                            const ScriptSection& section)
    {
        TakenLines sink(findings, kUpdateScriptName);
        LineReader reader(script);
        UpdateScript entries;
        int result =
            readUpdateScript(reader, section.product.c_str(), section.langId, &entries, &sink);
        std::size_t productLine = headerLine(script, section.product);
        if (!scriptProductLines_.count(section.product))
            scriptProductLines_[section.product] = productLine;
        if (!section.underItsHeader)
            return freeUpdateScript(&entries);
        if (result != 0 && result != -10) {
            findings.add(kUpdateScriptName, productLine, Severity::Error,
                         "section [" + section.product + "] cannot be read for language " +
                             section.language);
        }
        if (resolve)
            checkResolve(*resolve, section, entries, sink.lines);
        freeUpdateScript(&entries);
    }

    // The first line whose header names product.
    static std::size_t headerLine(const std::string& text, const std::string& product)
    {
        LineReader reader(text);
        SectionReader headers(reader);
        return headers.seekSection(product.c_str()) ? headers.lineNumber() : 0;
    }

    void checkResolve(const std::string& resolve, const ScriptSection& section,
                      const UpdateScript& entries, const std::vector<std::size_t>& entryLines)
    {
        const std::string& product = section.product;
        std::map<std::string, std::size_t> firstLineOfName;
        std::set<std::size_t> needed;
        for (std::size_t index = 0; index < entries.fileList.size(); ++index) {
            const FileEntry& entry = entries.fileList[index];
            std::size_t line = index < entryLines.size() ? entryLines[index] : 0;
            std::string name = fileNameOf(entry.path);
            auto [first, fresh] = firstLineOfName.emplace(resolveNameKey(name.c_str()), line);
            if (!fresh) {
                findings.add(kUpdateScriptName, line, Severity::Error,
                             "file name " + name + " is also that of the File entry on line " +
                                 std::to_string(first->second) +
                                 ": the resolve list holds one source per name, so only the "
                                 "first can be restored");
            }
            TakenLines sink(findings, kResolveListName);
            LineReader reader(resolve);
            char source[LineReader::kBufSize];
            if (lookupResolveSource(reader, product.c_str(), name.c_str(), source, sizeof source,
                                    &sink) != 0) {
                findings.add(kUpdateScriptName, line, Severity::Warning,
                             "no resolve line for " + name + " in section [" + product +
                                 "] of Resolve.src: a wrong or missing file cannot be restored");
                continue;
            }
            if (!sink.lines.empty())
                needed.insert(sink.lines.back());
            if (fresh)
                checkSource(sink.lines.empty() ? 0 : sink.lines.back(), source, entry);
        }
        neededResolveLines_[product].insert(needed.begin(), needed.end());
    }

    // The resolve section serves the product's sections of every language:
    // a line is needed when one of them needs it.
    void checkUnneededResolveLines(const std::string& resolve)
    {
        for (const auto& [product, needed] : neededResolveLines_) {
            // A name that never matches walks the whole section.
            TakenLines walk(findings, kResolveListName);
            LineReader reader(resolve);
            char unused[LineReader::kBufSize];
            lookupResolveSource(reader, product.c_str(), "=", unused, sizeof unused, &walk);
            for (std::size_t line : walk.passedLines)
                if (!needed.count(line))
                    findings.add(kResolveListName, line, Severity::Warning,
                                 "no File entry of [" + product + "] needs this resolve line");
        }
    }

    void checkSource(std::size_t line, const char* dataSource, const FileEntry& entry)
    {
        // The SOURCE tree spells the names as the file system here does.
        // Without the code page a name outside ASCII cannot be told, and
        // one that it cannot read is told by checkCodePage.
        std::optional<std::string> hostSource;
        if (options_.codePage)
            hostSource = convertText(dataSource, options_.codePage, hostCodePage());
        else if (isAscii(dataSource))
            hostSource = dataSource;
        if (!hostSource)
            return;
        const char* source = hostSource->c_str();
        std::optional<FileFacts> facts = fileFacts(hostPath(dir_, source));
        if (!facts) {
            findings.add(kResolveListName, line, Severity::Error,
                         std::string("resolve source ") + source + " is missing");
            return;
        }
        std::uint64_t size = (std::uint64_t{entry.sizeHigh} << 32) | entry.sizeLow;
        std::uint64_t time = (std::uint64_t{entry.timeHigh} << 32) | entry.timeLow;
        char text[1200];
        if (facts->size != size) {
            std::snprintf(text, sizeof text,
                          "resolve source %s has size %" PRIX64 ", the script wants %" PRIX64
                          ": a restore copies a file that fails its own check",
                          source, facts->size, size);
            findings.add(kResolveListName, line, Severity::Error, text);
        }
        if (facts->writeTime != time) {
            std::snprintf(
                text, sizeof text,
                "resolve source %s has time %" PRIX32 "-%" PRIX32 ", the script wants %" PRIX32
                "-%" PRIX32 ": a restore copies a file that fails its own check",
                source, static_cast<std::uint32_t>(facts->writeTime >> 32),
                static_cast<std::uint32_t>(facts->writeTime), entry.timeHigh, entry.timeLow);
            findings.add(kResolveListName, line, Severity::Error, text);
        }
    }

    // Every line of a data file is read in the ANSI code page of the
    // customers' Windows, and its names are taken in it by the A-functions.
    void checkCodePage(const char* file, const std::string& text)
    {
        LineReader reader(text);
        char piece[LineReader::kBufSize];
        while (!reader.atEnd()) {
            reader.readLine(piece);
            const std::string line = piece;
            if (isAscii(line))
                continue;
            const std::string name = nameAroundFirstNonAscii(line);
            const std::size_t at = reader.lineNumber();
            if (options_.codePage)
                checkInCodePage(file, at, line, name);
            else if (validIn(line, kUtf8CodePage))
                findings.add(file, at, Severity::Warning,
                             shownText(name, kUtf8CodePage) +
                                 " holds non-ASCII bytes in UTF-8, but the engines read it in "
                                 "the ANSI code page of the customers' Windows: " +
                                 canHold(line) +
                                 "; write it in that code page and pass --codepage N");
            else
                findings.add(file, at, Severity::Warning,
                             shownText(name, 0) + " holds non-ASCII bytes: " + validInList(line) +
                                 "; pass --codepage N with the ANSI code page of the "
                                 "customers' Windows");
        }
    }

    void checkInCodePage(const char* file, std::size_t at, const std::string& line,
                         const std::string& name)
    {
        const unsigned page = options_.codePage;
        const std::string pageName = "code page " + std::to_string(page);
        std::optional<std::string> utf8 = convertText(line, page, kUtf8CodePage);
        if (!utf8) {
            findings.add(file, at, Severity::Error,
                         shownText(name, 0) + " holds bytes that are not valid in " + pageName +
                             ": the engines cannot read it as meant (" + validInList(line) + ")");
            return;
        }
        // The engines cut paths at every byte of a backslash, also at the
        // second byte of a character.
        if (std::count(line.begin(), line.end(), '\\') !=
            std::count(utf8->begin(), utf8->end(), '\\'))
            findings.add(file, at, Severity::Error,
                         shownText(name, page) +
                             " holds the byte of \"\\\" inside a character of " + pageName +
                             ": the engines cut the path there");
        if (page != kUtf8CodePage && validIn(line, kUtf8CodePage))
            findings.add(file, at, Severity::Warning,
                         shownText(name, page) + " in " + pageName + " is also valid UTF-8 (" +
                             shownText(name, kUtf8CodePage) +
                             "): if it was written as UTF-8, the engines read another name");
    }

    static std::string canHold(const std::string& utf8)
    {
        std::string list = codePagesWhere(
            [&utf8](unsigned page) { return convertText(utf8, kUtf8CodePage, page).has_value(); });
        return list.empty() ? "no ANSI code page of Windows can hold it"
                            : "code pages " + list + " can hold it";
    }

    static std::string validInList(const std::string& bytes)
    {
        std::string list = codePagesWhere([&bytes](unsigned page) { return validIn(bytes, page); });
        return list.empty() ? "valid in none of the ANSI code pages of Windows"
                            : "valid in code pages " + list;
    }

    std::set<std::string> checkLibData()
    {
        std::set<std::string> products;
        std::optional<std::string> text = readWholeFile(hostPath(dir_, kLibDataName));
        if (!text) {
            missingFile(kLibDataName);
            return products;
        }
        haveLibData_ = true;
        FindingSink lengths(findings, kLibDataName);
        LineReader walk(*text);
        walk.setDiagnostics(&lengths);
        char key[kLibTextSize];
        while (nextSectionKey(walk, key)) {
            if (!products.insert(key).second)
                continue;
            libProductLines_[key] = walk.lineNumber();
            checkLibEntry(*text, key, "InstallKey", LookupKind::Test);
            checkLibEntry(*text, key, "ProgramDir", LookupKind::Read);
            checkLibEntry(*text, key, "VEXVersion", LookupKind::Literal);
        }
        return products;
    }

    void checkLibEntry(const std::string& text, const char* product, const char* entry,
                       LookupKind kind)
    {
        FindingSink sink(findings, kLibDataName);
        LineReader reader(text);
        SectionReader sections(reader);
        const char* value = nullptr;
        std::string where = std::string("[") + product + "] " + entry;
        int result = scanForEntry(sections, product, entry, value, &sink);
        if (result != 0) {
            if (std::size_t line = blankedEntryLine(text, product, entry)) {
                findings.add(kLibDataName, line, Severity::Error,
                             where + " is written with blanks around its \"=\": the lookup "
                                     "compares the name exactly and does not find it");
                return;
            }
            findings.add(kLibDataName, libProductLines_[product],
                         result == -10 ? Severity::Error : Severity::Warning,
                         where + " is not found: the lookup fails");
            return;
        }
        std::size_t at = sections.lineNumber();
        if (kind == LookupKind::Literal) {
            // Read as text: nothing but an opening double quote will do,
            // not even a blank before it.
            if (*value != '"')
                findings.add(kLibDataName, at, Severity::Error,
                             where + " must be a quoted text (\"...\"): it is read as text, "
                                     "and without its opening double quote the lookup fails");
            return;
        }
        while (*value == ' ' || *value == '\t')
            ++value;
        RegistryRef ref;
        const char* why = nullptr;
        if (parseRegistryRef(value, ref, &why) != 0) {
            findings.add(kLibDataName, at, Severity::Error,
                         where + " is not a registry reference: " + (why ? why : "bad value"));
            return;
        }
        if (kind == LookupKind::Read && (!ref.hasValueName || ref.expected != Expected::None))
            findings.add(kLibDataName, at, Severity::Error,
                         where + " must read a registry value: hive, key and value name, "
                                 "no \"=\"");
    }

    // The line of the product's sections whose entry name is entry once
    // the blanks around it are taken off (0: none).
    static std::size_t blankedEntryLine(const std::string& text, const char* product,
                                        const char* entry)
    {
        LineReader reader(text);
        char line[LineReader::kBufSize];
        bool inside = false;
        while (!reader.atEnd()) {
            reader.readLine(line);
            if (line[0] == '[') {
                const char* name = line + 1;
                const char* end = std::strchr(name, ']');
                const std::string key(name, end ? end : name + std::strlen(name));
                inside = key == product;
                continue;
            }
            const char* equals = std::strchr(line, '=');
            if (!inside || !equals)
                continue;
            const char* from = line;
            const char* to = equals;
            while (from < to && (*from == ' ' || *from == '\t'))
                ++from;
            while (to > from && (to[-1] == ' ' || to[-1] == '\t'))
                --to;
            if (to - from != equals - line && std::string(from, to) == entry)
                return reader.lineNumber();
        }
        return 0;
    }

    std::string dir_;
    CheckOptions options_;
    bool haveScript_ = false;
    bool haveLibData_ = false;
    std::map<std::string, std::size_t> scriptProductLines_;
    std::map<std::string, std::size_t> libProductLines_;
    std::map<std::string, std::set<std::size_t>> neededResolveLines_; // by product
};

} // namespace

Findings checkFolder(const std::string& dir, const CheckOptions& options)
{
    Checker checker(dir, options);
    checker.run();
    return std::move(checker.findings);
}

Findings checkFolder(const std::string& dir)
{
    return checkFolder(dir, CheckOptions{});
}

int runCheck(int argc, char** argv)
{
    std::string dir = ".";
    bool json = false;
    bool haveDir = false;
    CheckOptions options;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) {
            json = true;
        } else if (std::strcmp(argv[i], "--codepage") == 0 && i + 1 < argc) {
            if (std::string why = parseCodePage(argv[++i], options.codePage); !why.empty()) {
                std::fprintf(stderr, "fixwise check: %s\n", why.c_str());
                return kExitCannotRun;
            }
        } else if (argv[i][0] == '-' || haveDir) {
            std::fprintf(stderr, "usage: fixwise check [DIR] [--json] [--codepage N]\n");
            return kExitCannotRun;
        } else {
            dir = argv[i];
            haveDir = true;
        }
    }
    if (!isDirectory(dir)) {
        std::fprintf(stderr, "fixwise: no folder %s\n", dir.c_str());
        return kExitCannotRun;
    }
    Findings findings = checkFolder(dir, options);
    if (json)
        findings.printJson(stdout, dir);
    else
        findings.printText(stdout);
    return findings.errors() ? kExitErrors : kExitClean;
}
