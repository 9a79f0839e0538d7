// fixwise verify [MEDIUM] [--json] [--ca FILE] [--codepage N]: checks a
// copied patch medium before it is deployed: every file of SHA256SUMS there
// with its digest and no other file, the deliverables' signatures (when
// they are signed: all by one certificate) and versions, and check's
// findings on the data (which include every SOURCE file's size and
// last-write time against the script).
#include "Check.h"
#include "CodePage.h"
#include "Commands.h"
#include "Digest.h"
#include "FileFacts.h"
#include "ImageFacts.h"
#include "Signing.h"

#include <cstdio>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace
{

constexpr const char* kUsage =
    "usage: fixwise verify [MEDIUM] [--json] [--ca FILE] [--codepage N]\n";

std::string slashed(std::string path)
{
    for (char& c : path)
        if (c == '\\')
            c = '/';
    return path;
}

// Every file against SHA256SUMS, and SHA256SUMS against the files.
void checkSums(const std::string& medium, Findings& findings)
{
    const std::optional<std::string> text = readWholeFile(hostPath(medium, kSumsName));
    if (!text) {
        findings.add(kSumsName, 0, Severity::Error,
                     "is missing: the medium's files cannot be checked against their digests");
        return;
    }
    std::vector<SumsProblem> problems;
    const std::vector<SumsEntry> entries = parseSums(*text, problems);
    for (const SumsProblem& p : problems)
        findings.add(kSumsName, p.line, Severity::Error, p.text);
    std::set<std::string> listed;
    for (const SumsEntry& e : entries) {
        listed.insert(e.path);
        const std::string shown = slashed(e.path);
        if (!fileFacts(hostPath(medium, e.path))) {
            findings.add(kSumsName, e.line, Severity::Error, shown + " is missing");
            continue;
        }
        const std::optional<std::string> digest = sha256OfFile(hostPath(medium, e.path));
        if (!digest)
            findings.add(kSumsName, e.line, Severity::Error, shown + " cannot be read");
        else if (*digest != e.digest)
            findings.add(kSumsName, e.line, Severity::Error,
                         shown + " has another SHA-256: it changed or was cut short in the copy");
    }
    const std::optional<std::vector<std::string>> files = filesBelow(medium);
    for (const std::string& file : files.value_or(std::vector<std::string>{}))
        if (file != kSumsName && !listed.count(file))
            findings.add(slashed(file), 0, Severity::Error,
                         std::string("is not listed in ") + kSumsName +
                             ": a medium holds nothing else");
}

// The deliverables' versions agree; signed, they are all signed, validly,
// by one certificate.
void checkBinaries(const std::string& medium, const std::string& caFile, Findings& findings)
{
    std::vector<std::pair<std::string, std::string>> versions; // (name, version)
    std::vector<std::string> signedOnes;
    std::vector<std::string> unsignedOnes;
    std::string signer;
    std::string signerOf;
    for (const Deliverable& d : kDeliverables) {
        const char* name = d.name;
        const std::string path = hostPath(medium, name);
        std::string problem;
        const std::optional<ImageFacts> image = readImageFacts(path, problem);
        if (!image) {
            findings.add(name, 0, Severity::Error, problem);
            continue;
        }
        versions.emplace_back(name, image->fileVersion);
        if (!image->signedImage) {
            unsignedOnes.push_back(name);
            continue;
        }
        signedOnes.push_back(name);
        const SignatureCheck check = checkSignature(path, caFile);
        if (!check.valid)
            findings.add(name, 0, Severity::Error, check.why);
        if (check.signer.empty())
            continue;
        if (signer.empty()) {
            signer = check.signer;
            signerOf = name;
        } else if (check.signer != signer) {
            findings.add(name, 0, Severity::Error,
                         "is signed by " + check.signer + ", " + signerOf + " by " + signer);
        }
    }
    commonVersion(versions, [&findings](const std::string& name, const std::string& text) {
        findings.add(name, 0, Severity::Error, text);
    });
    if (!signedOnes.empty())
        for (const std::string& name : unsignedOnes)
            findings.add(name, 0, Severity::Error,
                         "is not signed, but " + signedOnes.front() + " is");
}

} // namespace

int runVerify(int argc, char** argv)
{
    std::string medium = ".";
    std::string caFile;
    bool json = false;
    bool haveMedium = false;
    CheckOptions options;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--json") {
            json = true;
        } else if (arg == "--ca" && i + 1 < argc) {
            caFile = argv[++i];
        } else if (arg == "--codepage" && i + 1 < argc) {
            if (std::string why = parseCodePage(argv[++i], options.codePage); !why.empty()) {
                std::fprintf(stderr, "fixwise verify: %s\n", why.c_str());
                return kExitCannotRun;
            }
        } else if (arg[0] == '-' || haveMedium) {
            std::fprintf(stderr, "%s", kUsage);
            return kExitCannotRun;
        } else {
            medium = arg;
            haveMedium = true;
        }
    }
    if (!isDirectory(medium)) {
        std::fprintf(stderr, "fixwise verify: no folder %s\n", medium.c_str());
        return kExitCannotRun;
    }
    if (!caFile.empty() && !fileFacts(caFile)) {
        std::fprintf(stderr, "fixwise verify: cannot read %s\n", caFile.c_str());
        return kExitCannotRun;
    }
#ifdef _WIN32
    if (!caFile.empty())
        std::fprintf(stderr, "fixwise verify: --ca is not used on Windows: the machine's trusted "
                             "roots decide\n");
#endif
    Findings findings = checkFolder(medium, options);
    checkSums(medium, findings);
    checkBinaries(medium, caFile, findings);
    if (json)
        findings.printJson(stdout, medium);
    else
        findings.printText(stdout);
    return findings.errors() ? kExitErrors : kExitClean;
}
