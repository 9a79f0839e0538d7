#include "Installations.h"

#ifdef _WIN32

#include "FileFacts.h"
#include "FindExport.h"
#include "ImageFacts.h"
#include "ResultCodes.h"
#include "Scoutex.h"
#include "Text.h"
#include "WinHandle.h"

#include <windows.h>

#include <cstdio>
#include <optional>

const char kRecordFields[] = "  FIELD: product (NAME\\VERSION), programDir, toolkitDir,\n"
                             "         toolkitVersion, ocrPath, pluginDir\n";

namespace
{

bool setField(InstallRecord& r, const std::string& field, const std::string& value)
{
    if (field == "product") {
        const std::size_t slash = value.find('\\');
        if (slash == std::string::npos || slash == 0 || slash + 1 == value.size())
            return false;
        copyText(r.productName, value.substr(0, slash).c_str());
        copyText(r.productVersion, value.substr(slash + 1).c_str());
        return true;
    }
    struct {
        const char* name;
        char* text;
        std::size_t cap;
    } const fields[] = {
        {"programDir", r.programDir, sizeof r.programDir},
        {"toolkitDir", r.toolkitDir, sizeof r.toolkitDir},
        {"toolkitVersion", r.toolkitVersion, sizeof r.toolkitVersion},
        {"ocrPath", r.ocrPath, sizeof r.ocrPath},
        {"pluginDir", r.pluginDir, sizeof r.pluginDir},
    };
    for (const auto& f : fields)
        if (field == f.name) {
            copyText(f.text, f.cap, value.c_str());
            return true;
        }
    return false;
}

} // namespace

bool takeRecordField(const char* command, const std::string& assignment, InstallRecord& record)
{
    const std::size_t eq = assignment.find('=');
    if (eq != std::string::npos &&
        setField(record, assignment.substr(0, eq), assignment.substr(eq + 1)))
        return true;
    std::fprintf(stderr, "fixwise %s: bad --record '%s'\n", command, assignment.c_str());
    return false;
}

bool recordHasProduct(const char* command, const InstallRecord& record)
{
    if (record.productName[0] != '\0')
        return true;
    std::fprintf(stderr, "fixwise %s: --record needs product=NAME\\VERSION\n", command);
    return false;
}

bool findInstallations(const char* command, std::vector<InstallRecord>& found, std::size_t& chosen)
{
    const std::string path = hostPath(programFolder(), "Scoutex.dll");
    UniqueModule scoutex(LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
    auto next = findExport<IsOVPixoraSWInstalledFn>(scoutex.get(), "IsOVPixoraSWInstalled");
    if (!next) {
        // A library of the other architecture cannot be loaded at all: say
        // which fixwise.exe is needed instead of a bare failure.
        std::string problem;
        const std::optional<ImageFacts> image = readImageFacts(path, problem);
        const std::uint16_t own = sizeof(void*) == 4 ? kMachineI386 : kMachineX64;
        if (image && image->machine != own)
            std::fprintf(stderr,
                         "fixwise %s: %s is a %s library and this fixwise.exe is %s: use "
                         "the fixwise.exe built for %s\n",
                         command, path.c_str(), machineName(image->machine).c_str(),
                         machineName(own).c_str(), machineName(image->machine).c_str());
        else
            std::fprintf(stderr, "fixwise %s: cannot use %s\n", command, path.c_str());
        return false;
    }
    std::uint64_t best = 0;
    for (;;) {
        InstallRecord record{};
        const int result = next(&record);
        if (result == kNoMoreProducts)
            break;
        if (result != kOk) {
            std::fprintf(stderr, "fixwise %s: the search failed (%d)%s\n", command, result,
                         result == kDataFileOpen ? ": no libdata.src in the current folder" : "");
            return false;
        }
        found.push_back(record);
        if (found.size() == 1 || installTime(record) >= best) {
            best = installTime(record);
            chosen = found.size() - 1;
        }
    }
    if (found.empty()) {
        std::fprintf(stderr, "fixwise %s: no installed release found\n", command);
        return false;
    }
    return true;
}

#endif
