// fixwise medium --out DIR [--bin BIN] DATA
// Lays out a patch medium: the 32-bit deliverables from BIN (by default the
// folder of fixwise itself) and the data files and SOURCE tree of DATA,
// once the check of DATA reports no error. The medium is checked again as
// laid out.
#include "Check.h"
#include "CodePage.h"
#include "Commands.h"
#include "Digest.h"
#include "FileFacts.h"
#include "ImageFacts.h"
#include "Signing.h"

#include "ResolveList.h"
#include "UpdateScript.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace
{

constexpr const char* kUsage =
    "usage: fixwise medium --out DIR [--bin BIN] [--codepage N]\n"
    "                      [--sign PFX [--password-file FILE] [--timestamp URL]] DATA\n";

const char* const kDataFiles[] = {"libdata.src", kUpdateScriptName, kResolveListName};
constexpr const char* kSourceFolder = "SOURCE";

int usage(const std::string& why)
{
    std::fprintf(stderr, "fixwise medium: %s\n%s", why.c_str(), kUsage);
    return kExitCannotRun;
}

int refuse(const std::string& why)
{
    std::fprintf(stderr, "fixwise medium: %s\n", why.c_str());
    return kExitErrors;
}

// Why the file is no stripped 32-bit x86 Windows image of its kind; "" when
// it is one.
std::string imageProblem(const std::string& path, bool library)
{
    std::string problem;
    const std::optional<ImageFacts> image = readImageFacts(path, problem);
    if (!image)
        return problem;
    if (image->machine != kMachineI386)
        return "is not built for 32-bit x86 (machine is not i386)";
    if (image->magic != 0x10B)
        return "is no PE32 image";
    if (image->symbolCount != 0)
        return "is not stripped (its symbol table holds symbols)";
    if (image->library != library)
        return library ? "is no DLL" : "is a DLL, not a program";
    return "";
}

// The version that every deliverable in bin carries; "" (each problem
// told) when one carries none or they disagree.
std::string deliverablesVersion(const std::string& bin)
{
    std::vector<std::pair<std::string, std::string>> versions;
    for (const Deliverable& d : kDeliverables) {
        std::string problem;
        const std::optional<ImageFacts> image = readImageFacts(hostPath(bin, d.name), problem);
        versions.emplace_back(d.name, image ? image->fileVersion : "");
    }
    return commonVersion(versions, [&bin](const std::string& name, const std::string& text) {
        std::fprintf(stderr, "fixwise medium: %s %s\n", hostPath(bin, name).c_str(), text.c_str());
    });
}

// The deliverables signed, in a temporary folder of their own that goes
// with this object.
class SignedCopies
{
public:
    SignedCopies() = default;
    ~SignedCopies()
    {
        std::error_code ignored;
        if (!folder_.empty())
            std::filesystem::remove_all(folder_, ignored);
    }
    SignedCopies(const SignedCopies&) = delete;
    SignedCopies& operator=(const SignedCopies&) = delete;

    // Signs every deliverable of bin into the folder; why when one fails.
    std::string make(const SigningKey& key, const std::string& bin)
    {
        std::error_code error;
        const std::filesystem::path base = std::filesystem::temp_directory_path(error);
        for (int attempt = 0; attempt < 100 && folder_.empty() && !error; ++attempt) {
            const std::filesystem::path candidate =
                base /
                ("fixwise-signing-" + std::to_string(std::rand()) + "-" + std::to_string(attempt));
            if (std::filesystem::create_directory(candidate, error))
                folder_ = candidate.string();
        }
        if (folder_.empty())
            return "cannot make a temporary folder to sign in";
        for (const Deliverable& d : kDeliverables) {
            std::string why;
            if (!signImage(key, hostPath(bin, d.name), hostPath(folder_, d.name), why))
                return std::string("cannot sign ") + d.name + ": " + why;
        }
        return "";
    }
    const std::string& folder() const { return folder_; }

private:
    std::string folder_;
};

bool emptyOrMissing(const std::string& dir)
{
    if (!isDirectory(dir))
        return !fileFacts(dir);
    std::optional<std::vector<std::string>> files = filesBelow(dir);
    return files && files->empty();
}

bool copyInto(const std::string& from, const std::string& toDir, const std::string& relative)
{
    std::string to = hostPath(toDir, relative);
    std::size_t cut = to.find_last_of("\\/");
    return makeFolders(to.substr(0, cut)) && copyKeepingTime(from, to);
}

} // namespace

int runMedium(int argc, char** argv)
{
    std::string out;
    std::string bin;
    std::string data;
    CheckOptions options;
    SigningKey key;
    for (int i = 0; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--out" || arg == "--bin" || arg == "--sign" || arg == "--password-file" ||
            arg == "--timestamp" || arg == "--codepage") {
            if (i + 1 >= argc)
                return usage(arg + " needs a value");
            const std::string value = argv[++i];
            if (arg == "--codepage") {
                if (std::string why = parseCodePage(value, options.codePage); !why.empty())
                    return usage(why);
                continue;
            }
            (arg == "--out"             ? out
             : arg == "--bin"           ? bin
             : arg == "--sign"          ? key.pfx
             : arg == "--password-file" ? key.passwordFile
                                        : key.timestampUrl) = value;
        } else if (arg[0] == '-' || !data.empty()) {
            return usage("unknown argument " + arg);
        } else {
            data = arg;
        }
    }
    if (out.empty() || data.empty())
        return usage("--out and DATA are needed");
    if (key.pfx.empty() && (!key.passwordFile.empty() || !key.timestampUrl.empty()))
        return usage("--password-file and --timestamp go with --sign");
    if (bin.empty())
        bin = programFolder();
    if (!isDirectory(data))
        return usage("no folder " + data);
    if (!emptyOrMissing(out))
        return usage("the folder " + out + " is not empty: a medium holds nothing else");

    Findings findings = checkFolder(data, options);
    findings.printText(stdout);
    if (findings.errors())
        return refuse("the check of " + data + " reports errors: no medium is laid out");

    bool bad = false;
    for (const Deliverable& d : kDeliverables) {
        std::string why = imageProblem(hostPath(bin, d.name), d.library);
        if (!why.empty()) {
            std::fprintf(stderr, "fixwise medium: %s %s\n", hostPath(bin, d.name).c_str(),
                         why.c_str());
            bad = true;
        }
    }
    if (bad)
        return refuse("the deliverables in " + bin + " are not the 32-bit release builds");
    // One build: every deliverable of the same version.
    const std::string version = deliverablesVersion(bin);
    if (version.empty())
        return refuse("the deliverables in " + bin + " are not of one version");

    // Signed, every binary is signed before anything is laid out: a key
    // that cannot sign writes nothing.
    SignedCopies signedCopies;
    if (!key.pfx.empty()) {
        if (std::string why = signingKeyProblem(key); !why.empty())
            return refuse(why + ": nothing is signed, no medium is laid out");
        if (std::string why = signedCopies.make(key, bin); !why.empty())
            return refuse(why + ": no medium is laid out");
        bin = signedCopies.folder();
    }

    if (!makeFolders(out))
        return usage("cannot make the folder " + out);
    std::size_t count = 0;
    for (const Deliverable& d : kDeliverables) {
        if (!copyInto(hostPath(bin, d.name), out, d.name))
            return refuse(std::string("cannot copy ") + d.name);
        ++count;
    }
    for (const char* name : kDataFiles) {
        if (!copyInto(hostPath(data, name), out, name))
            return refuse(std::string("cannot copy ") + name);
        ++count;
    }
    const std::vector<std::string> sources =
        filesBelow(hostPath(data, kSourceFolder)).value_or(std::vector<std::string>{});
    for (const std::string& relative : sources) {
        std::string inTree = std::string(kSourceFolder) + "\\" + relative;
        if (!copyInto(hostPath(data, inTree), out, inTree))
            return refuse("cannot copy " + inTree + " with its last-write time");
        ++count;
    }
    // The copies must serve as the sources did: same sizes, same times.
    if (checkFolder(out, options).errors())
        return refuse("the laid-out medium " + out + " does not check clean");
    // What a copy of the medium is checked against.
    std::string failed;
    const std::optional<std::vector<std::string>> files = filesBelow(out);
    const std::optional<std::string> sums =
        files ? sumsOf(out, *files, failed) : std::optional<std::string>();
    if (!sums || !writeWholeFile(hostPath(out, kSumsName), *sums))
        return refuse("cannot write " + std::string(kSumsName) +
                      (failed.empty() ? "" : ": cannot read " + failed));
    std::printf("medium %s: version %s%s, %zu files, listed with their SHA-256 in %s\n",
                out.c_str(), version.c_str(), key.pfx.empty() ? "" : ", signed", count, kSumsName);
    return kExitClean;
}
