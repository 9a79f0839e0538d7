#include "RunScope.h"

#include "Directories.h"
#include "FolderTrust.h"
#include "ProtectedDirs.h"
#include "ResolveList.h"
#include "ResultCodes.h"
#include "RunPlan.h"
#include "RunRecord.h"
#include "StepForms.h"
#include "Text.h"
#include "UpdateScript.h"

#include <windows.h>

#include <vector>

namespace
{

// What a run of the patch may change in one installation.
struct Scope {
    std::vector<std::string> folders; // program, toolkit, OCR, the adopted toolkit folder
    std::vector<std::string> files;   // the script's files, their macros expanded
    std::vector<RegistryEntry> values;
};

void addFolder(Scope& scope, const std::string& folder)
{
    std::string dir = folder;
    while (dir.size() > 3 && dir.back() == '\\')
        dir.pop_back();
    // A folder that is not a plain path (a drive's root among them) holds
    // nothing of the installation's own.
    if (isPlainLocalPath(dir))
        scope.folders.push_back(dir);
}

// The installation's folders as a run finds them now, its files and values.
bool scopeOf(const InstallRecord& installation, const std::string& adopted, Scope& scope)
{
    RunPlan plan;
    planCheck(installation, plan, false, RecordDirs::AsFound);
    if (plan.scriptResult != kOk)
        return false;
    addFolder(scope, plan.record.programDir);
    addFolder(scope, plan.record.toolkitDir);
    addFolder(scope, plan.record.ocrPath);
    addFolder(scope, plan.record.pluginDir);
    // The folder the run adopted counts only as the drive search would
    // adopt it: named as the toolkit folder, no protected place, and only
    // administrators can change it and the folders above it.
    if (!adopted.empty() && isPlainLocalPath(adopted) &&
        equalsNoCase(fileNameOf(adopted.c_str()), fileNameOf(plan.record.toolkitDir)) &&
        !isProtectedDir(adopted.c_str(), plan.record.programDir) &&
        whyFoldersUntrusted(adopted.substr(0, 3), adopted).empty())
        addFolder(scope, adopted);
    for (const PlannedFile& file : plan.files)
        if (!isBlankText(file.entry.path))
            scope.files.emplace_back(file.entry.path);
    for (const PlannedValue& value : plan.registry)
        scope.values.push_back(value.entry);
    return true;
}

// True when no folder from inside dir down to path's own folder is a link:
// a link there would lead the undo out of the installation.
bool noLinkBelow(const std::string& dir, const std::string& path)
{
    for (std::size_t at = path.find('\\', dir.size() + 1); at != std::string::npos;
         at = path.find('\\', at + 1)) {
        const DWORD attributes = GetFileAttributesA(path.substr(0, at).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            return false;
    }
    return true;
}

bool fileInScope(const Scope& scope, const std::string& path)
{
    if (!isPlainLocalPath(path))
        return false;
    for (const std::string& listed : scope.files)
        if (samePathText(listed.c_str(), path.c_str()))
            return true;
    for (const std::string& folder : scope.folders)
        if (pathIsInside(path.c_str(), folder.c_str()) && noLinkBelow(folder, path))
            return true;
    return false;
}

bool valueInScope(const Scope& scope, const KeptChange& c)
{
    if (c.hive != kHiveLocalMachine && c.hive != kHiveCurrentUser)
        return false;
    for (const RegistryEntry& entry : scope.values)
        if (entry.hive == c.hive && equalsNoCase(entry.keyPath, c.key.c_str()) &&
            equalsNoCase(entry.valueName, c.name.c_str()))
            return true;
    return false;
}

// "" when change n of a run lies within scope, else why not.
std::string whyStepOutOfScope(const Scope& scope, const KeptChange& c, std::size_t n)
{
    const std::string step =
        "step " + std::to_string(n + 1) + " (" + kindName(c.kind) + " " + c.path + "): ";
    if (c.kind == ChangeKind::Value) {
        if (!valueInScope(scope, c))
            return step + "not a value that the update script writes for the product";
        if (!c.createdKey.empty() && !isKeyOnTheWay(c.createdKey, c.key))
            return step + "the key it made, " + c.createdKey + ", is not on the way to its key";
        return "";
    }
    if (!fileInScope(scope, c.path))
        return step + "not a file of the installation";
    const bool keeps = c.kind != ChangeKind::Created;
    if (keeps ? !isKeptFileForm(c.backup) : !c.backup.empty())
        return step + "its kept file \"" + c.backup + "\" is not one that the patch keeps";
    const std::string folder = c.path.substr(0, c.path.rfind('\\'));
    if (!c.waiting.empty() && (c.kind != ChangeKind::Replaced || !isPlainLocalPath(c.waiting) ||
                               !isDirectlyIn(c.waiting, folder)))
        return step + "its waiting copy " + c.waiting + " is not beside it";
    return "";
}

} // namespace

std::string whyOutOfScope(const KeptRun& run, const InstallRecord* installations, std::size_t count)
{
    const InstallRecord* installation = nullptr;
    for (std::size_t i = 0; installations && i < count && !installation; ++i)
        if (equalsNoCase(installations[i].productName, run.record.productName) &&
            equalsNoCase(installations[i].productVersion, run.record.productVersion))
            installation = &installations[i];
    const std::string product =
        std::string(run.record.productName) + "\\" + run.record.productVersion;
    if (!installation)
        return "no installation of " + product + " is found on this machine";
    Scope scope;
    if (!scopeOf(*installation, run.adopted, scope))
        return "the update script has no section for " + product + " to check it against";
    for (std::size_t n = 0; n < run.changes.size(); ++n) {
        std::string why = whyStepOutOfScope(scope, run.changes[n], n);
        if (!why.empty())
            return why;
    }
    return "";
}
