// The update run in two halves: planRun decides every step from the script,
// the resolve list and what is on disk and in the registry; applyRun carries
// the decisions out. The steps, as the run's overview in UpdateRun.cpp
// numbers them:
//   2. the whole script section is read before anything changes (planning);
//   3. file phase: toolkit and OCR directories, the anchor entry (searched
//      for across drives when it is not where expected), every other entry,
//      clean-up of the toolkit directory;
//   4. the plug-in directory falls back to the toolkit directory;
//   5. registry phase.
#include "RunPlan.h"

#include "CleanUp.h"
#include "DiagLog.h"
#include "Directories.h"
#include "DriveSearch.h"
#include "FileIdentity.h"
#include "FolderTrust.h"
#include "PathMacros.h"
#include "ProtectedDirs.h"
#include "RegistryWriter.h"
#include "ReportText.h"
#include "ResultCodes.h"
#include "RunRecord.h"
#include "ScriptFiles.h"
#include "Text.h"
#include "WinHandle.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace
{

// Expands one macro in text (512 bytes) in place; true when it was found.
bool expandInPlace(char (&text)[512], int selector, const char* value)
{
    char out[512];
    if (expandMacro(text, out, sizeof out - 1, selector, value) != kOk)
        return false;
    copyText(text, out);
    return true;
}

void expandFilePath(char (&path)[512], const InstallRecord& record, const char* windowsDir)
{
    expandInPlace(path, kMacroVexDir, record.toolkitDir);
    expandInPlace(path, kMacroAppDir, record.programDir);
    expandInPlace(path, kMacroOcrDir, record.ocrPath);
    expandInPlace(path, kMacroWinDir, windowsDir);
}

// Step 3, the OCR directory: ocrPath names the OCR component's directory
// afterwards. True when it was derived.
bool settleOcrDir(InstallRecord& record)
{
    char before[sizeof record.ocrPath];
    copyText(before, record.ocrPath);

    bool isFile = false;
    if (!isBlankText(record.ocrPath)) {
        WIN32_FIND_DATAA data;
        UniqueFind find(FindFirstFileA(record.ocrPath, &data));
        isFile = find && !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    }
    if (isFile) {
        // A file's path without a backslash has no directory to reduce to.
        if (!cutAtLastBackslash(record.ocrPath) || !isBlankText(record.ocrPath))
            return false;
    }
    if (deriveOcrDir(record.ocrPath, sizeof record.ocrPath, record.toolkitDir))
        return true;
    copyText(record.ocrPath, before);
    return false;
}

std::uint64_t joined(std::uint32_t high, std::uint32_t low)
{
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

// The size and last-write time that the script wants for entry.
FileStamp wantedStamp(const FileEntry& entry)
{
    return {joined(entry.sizeHigh, entry.sizeLow), joined(entry.timeHigh, entry.timeLow)};
}

bool stampOf(const char* path, FileStamp& stamp, std::uint32_t* attributes = nullptr)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    if (attributes)
        *attributes = data.dwFileAttributes;
    stamp.size = joined(data.nFileSizeHigh, data.nFileSizeLow);
    stamp.time = joined(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime);
    return true;
}

// The full path of a resolve source as the copy would open it.
std::string fullPathOf(const char* source)
{
    char full[512];
    const DWORD n = GetFullPathNameA(source, sizeof full, full, nullptr);
    return n == 0 || n >= sizeof full ? std::string(source) : std::string(full);
}

// Where a restore of file would copy from, and whether that copy could pass.
void planSource(PlannedFile& file, const char* productKey, RestoreSession& session)
{
    char source[512];
    if (session.resolveList().peek(productKey, fileNameOf(file.entry.path), source,
                                   sizeof source) != kOk) {
        file.sourceState = SourceState::NoLine;
        return;
    }
    file.source = fullPathOf(source);
    FileStamp stamp;
    FileIdentity sourceFile;
    FileIdentity targetFile;
    // Only a source with the target's numbers can be the target itself:
    // for any other no file needs opening.
    if (!stampOf(source, stamp))
        file.sourceState = SourceState::Missing;
    else if (file.exists && stamp == file.actual && identityOf(source, sourceFile) &&
             identityOf(file.entry.path, targetFile) && sourceFile.sameFileAs(targetFile))
        file.sourceState = SourceState::IsTarget;
    else if (!(stamp == file.expected()))
        file.sourceState = SourceState::Differs;
    else
        file.sourceState = SourceState::Good;
}

// True when a file entry's path (as the script writes it) lies in the
// toolkit directory.
bool usesToolkitDir(const FileEntry& entry)
{
    return std::strstr(entry.path, macroName(kMacroVexDir)) != nullptr;
}

// The last part of a directory's path, trailing backslashes aside.
std::string folderNameOf(const char* dir)
{
    std::string text(dir);
    while (!text.empty() && text.back() == '\\')
        text.pop_back();
    return fileNameOf(text.c_str());
}

// Whether the folder where a copy of the anchor was found can be this
// installation's toolkit folder: it has the expected folder's own name, and
// no file that the script lists in the toolkit folder is there in another
// size or time (that folder is another release's, or an old copy), and it
// and every folder above it but its drive's root pass the rule of
// FolderTrust.h (no other user can change them).
std::string toolkitFolderCheck(const char* folder, const InstallRecord& record,
                               const std::vector<FileEntry>& toolkitEntries, const char* windowsDir)
{
    const std::string expected = folderNameOf(record.toolkitDir);
    if (expected.empty() || !equalsNoCase(folderNameOf(folder).c_str(), expected.c_str()))
        return "its folder is not named " +
               (expected.empty() ? std::string("as expected") : expected);
    InstallRecord there = record;
    copyText(there.toolkitDir, folder);
    copyText(there.ocrPath, folder);
    for (const FileEntry& listed : toolkitEntries) {
        FileEntry entry = listed;
        expandFilePath(entry.path, there, windowsDir);
        FileStamp actual;
        if (stampOf(entry.path, actual) && !(actual == wantedStamp(entry)))
            return std::string("holds ") + fileNameOf(entry.path) +
                   " in another size or time: another release's folder or an old copy";
    }
    // The run would load the product's plug-ins from it: only a folder that
    // administrators alone can change, up to its drive's root.
    const std::string untrusted = whyFoldersUntrusted(std::string(folder).substr(0, 3), folder);
    if (!untrusted.empty())
        return "not only administrators can change " + untrusted;
    return "";
}

// Step 3: the directories, every listed file, the clean-up.
void planFiles(RunPlan& plan, FileList& fileList, RestoreSession& session, bool searchDrives,
               bool noteHolders, RecordDirs dirs)
{
    InstallRecord& record = plan.record;
    if (isBlankText(record.toolkitDir) &&
        deriveToolkitDir(record.toolkitDir, sizeof record.toolkitDir, record.programDir,
                         record.toolkitVersion)) {
        plan.derivedToolkit = true;
        DiagLog("\n\n>Formated VEX Dir: %s", record.toolkitDir);
    }
    // A run leaves ocrPath naming the directory it used; only a blank one
    // (its derivation failed) is derived again, with the same outcome.
    const bool ocrDerived =
        dirs == RecordDirs::AsFound
            ? settleOcrDir(record)
            : isBlankText(record.ocrPath) &&
                  deriveOcrDir(record.ocrPath, sizeof record.ocrPath, record.toolkitDir);
    if (ocrDerived) {
        plan.derivedOcr = true;
        DiagLog("\n>Formated OCR Dir: %s\n", record.ocrPath);
    }

    // The entries of the toolkit folder, as the script writes them.
    std::vector<FileEntry> toolkitEntries;
    for (const FileEntry& entry : fileList)
        if (usesToolkitDir(entry))
            toolkitEntries.push_back(entry);

    // Replacements that earlier runs left for the next start: their waiting
    // copies are the runs' own, not files for the clean-up.
    const std::vector<PendingRename> renames = pendingRenames();
    std::vector<std::string> waiting;
    for (const PendingRename& rename : renames)
        if (!rename.to.empty())
            waiting.push_back(rename.from);
    InUseFinder finder;
    // Files that earlier runs of the patch created: such a file tells
    // nothing of the folder it is in.
    std::vector<std::string> created;
    if (keepRunsSetting() > 0)
        created = filesCreatedByKeptRuns(runsFolder());
    auto createdByPatch = [&created](const char* path) {
        std::string key;
        normalPathText(path, key);
        return std::find(created.begin(), created.end(), key) != created.end();
    };

    // The first entry is the anchor: searched for across drives when wrong.
    bool anchor = searchDrives;
    bool relocated = false;
    bool heldListedFile = false;
    bool heldPatchFile = false;
    // The folder of the last restore, seen once for the restores after it.
    std::string lastFolder;
    FileIdentity lastIdentity;
    bool lastLink = false;
    for (FileEntry& entry : fileList) {
        const bool inToolkit = usesToolkitDir(entry);
        PlannedFile file;
        file.entry = entry;
        expandFilePath(file.entry.path, record, plan.windowsDir);
        if (checkFile(file.entry) == kOk) {
            // Correct (its numbers are the script's) or a blank path: no
            // second look at the file.
            file.exists = !isBlankText(file.entry.path);
            if (file.exists)
                file.actual = file.expected();
        } else {
            AnchorSearch search;
            if (anchor) {
                search.productKey = plan.productKey;
                search.resolveList = &session.resolveList();
                search.programDir = record.programDir;
                const InstallRecord expected = record;
                search.folderCheck = [&](const char* folder) {
                    return toolkitFolderCheck(folder, expected, toolkitEntries, plan.windowsDir);
                };
            }
            // Whether the folder held it before the run, in any size or time.
            const bool heldHere = stampOf(file.entry.path, file.actual, &file.attributes);
            if (anchor && searchDrivesForFile(file.entry, search) == kOk) {
                // The installation lives where the intact copy is.
                char dir[sizeof file.entry.path];
                copyText(dir, file.entry.path);
                cutAtLastBackslash(dir);
                copyText(record.toolkitDir, dir);
                copyText(record.ocrPath, dir);
                file.relocatesToolkit = true;
                relocated = true;
                file.exists = true; // the copy found passed the check
                file.actual = file.expected();
            } else {
                file.exists = heldHere;
                file.restore = true;
                file.inUse = noteHolders && file.exists && finder.isHeldOpen(file.entry.path);
                if (file.inUse)
                    file.holders = finder.holdersOf(file.entry.path);
                planSource(file, plan.productKey, session);
            }
            if (anchor)
                plan.passedOver = std::move(search.passed);
        }
        for (const PendingRename& rename : renames)
            if (!rename.to.empty() && samePathText(rename.to.c_str(), file.entry.path)) {
                file.pending = true;
                plan.pending.push_back(rename);
            }
        char dir[sizeof file.entry.path];
        copyText(dir, file.entry.path);
        if (file.restore && cutAtLastBackslash(dir)) {
            if (lastFolder.empty() || !samePathText(lastFolder.c_str(), dir)) {
                lastFolder = dir;
                lastIdentity = FileIdentity();
                lastLink = false;
                folderIdentityOf(dir, lastIdentity, lastLink);
            }
            file.folder = lastIdentity;
            file.folderLink = lastLink;
        }
        if (inToolkit && file.exists && !file.relocatesToolkit) {
            const bool patchFile = createdByPatch(file.entry.path);
            heldListedFile = heldListedFile || !patchFile;
            heldPatchFile = heldPatchFile || patchFile;
        }
        // The clean-up keeps the listed files by these final paths.
        copyText(entry.path, file.entry.path);
        plan.files.push_back(std::move(file));
        anchor = false;
    }

    plan.cleanup.directory = record.toolkitDir;
    // A folder that held none of the files listed in it is not known to be
    // a toolkit folder (a stale record, another program's folder): nothing
    // in it is deleted. (A protected place is refused as such.)
    plan.cleanup.toolkitFolder =
        relocated || heldListedFile || isProtectedDir(record.toolkitDir, record.programDir);
    plan.cleanup.onlyPatchFiles = !plan.cleanup.toolkitFolder && heldPatchFile;
    for (const PlannedFile& file : plan.files) {
        std::string dir = file.entry.path;
        dir.resize(dir.size() - std::strlen(fileNameOf(file.entry.path)));
        if (file.restore && dir.size() > 1 &&
            samePathText(dir.substr(0, dir.size() - 1).c_str(), record.toolkitDir))
            ++plan.cleanup.restoresInto;
    }
    if (!plan.cleanup.toolkitFolder)
        plan.cleanup.result = kFailed;
    else
        plan.cleanup.result = planCleanup(record.toolkitDir, fileList, record.programDir,
                                          plan.cleanup.deletes, &waiting, &plan.cleanup.seen);
    for (const std::string& path : plan.cleanup.deletes) {
        bool pending = false;
        for (const PendingRename& rename : renames)
            if (rename.to.empty() && samePathText(rename.from.c_str(), path.c_str())) {
                pending = true;
                plan.pending.push_back(rename);
            }
        plan.cleanup.pending.push_back(pending);
        plan.cleanup.holders.push_back(noteHolders && finder.isHeldOpen(path.c_str())
                                           ? finder.holdersOf(path.c_str())
                                           : std::vector<std::string>());
    }
}

// The value as the registry holds it now; nothing when it cannot be read.
RegistryNow currentValue(const RegistryEntry& entry)
{
    RegistryNow now;
    if (entry.hive != kHiveCurrentUser && entry.hive != kHiveLocalMachine)
        return now;
    UniqueHkey key;
    if (RegOpenKeyExA(registryRoot(entry.hive), entry.keyPath, 0, KEY_QUERY_VALUE, key.put()) !=
        ERROR_SUCCESS)
        return now;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key.get(), entry.valueName, nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS)
        return now;
    std::string bytes(size, '\0');
    if (RegQueryValueExA(key.get(), entry.valueName, nullptr, &type,
                         reinterpret_cast<BYTE*>(bytes.data()), &size) != ERROR_SUCCESS)
        return now;
    bytes.resize(size);
    now.exists = true;
    now.type = type;
    now.bytes = std::move(bytes);
    return now;
}

// What writeRegistryEntry sets for entry.
RegistryNow wantedValue(const RegistryEntry& entry)
{
    RegistryData data = registryDataOf(entry);
    RegistryNow wanted;
    wanted.exists = true;
    wanted.type = data.type;
    wanted.bytes = std::move(data.bytes);
    return wanted;
}

// Step 5: every registry value, string data expanded first.
void planRegistry(RunPlan& plan, const RegistryList& registryList)
{
    const InstallRecord& record = plan.record;
    for (const RegistryEntry& entry : registryList) {
        PlannedValue value;
        value.entry = entry;
        if (value.entry.stringData[0] != '\0') {
            const struct {
                int selector;
                const char* text;
            } macros[] = {{kMacroVexDir, record.toolkitDir},
                          {kMacroAppDir, record.programDir},
                          {kMacroOcrDir, record.ocrPath}};
            for (const auto& macro : macros)
                if (expandInPlace(value.entry.stringData, macro.selector, macro.text))
                    value.expansions.emplace_back(value.entry.stringData);
        }
        value.current = currentValue(value.entry);
        value.wanted = wantedValue(value.entry);
        value.changes = !value.current.exists || value.current.type != value.wanted.type ||
                        value.current.bytes != value.wanted.bytes;
        plan.registry.push_back(std::move(value));
    }
}

} // namespace

FileStamp PlannedFile::expected() const
{
    return wantedStamp(entry);
}

std::size_t RunPlan::changeCount() const
{
    std::size_t n = cleanup.deletes.size();
    for (const PlannedFile& file : files)
        n += file.restore ? 1 : 0;
    for (const PlannedValue& value : registry)
        n += value.changes ? 1 : 0;
    return n;
}

bool RunPlan::matches() const
{
    return changeCount() == 0 && pending.empty() && (!hasFiles || cleanup.result == kOk);
}

std::size_t RunPlan::busyCount() const
{
    std::size_t n = 0;
    for (const PlannedFile& file : files)
        n += file.inUse ? 1 : 0;
    for (const std::vector<std::string>& holders : cleanup.holders)
        n += holders.empty() ? 0 : 1;
    return n;
}

void planRun(const InstallRecord& record, RunPlan& plan, RestoreSession& session, bool searchDrives,
             bool noteHolders, RecordDirs dirs)
{
    plan = RunPlan();
    plan.record = record;
    if (isBlankText(plan.record.productName))
        return;

    buildProductKey(plan.productKey, sizeof plan.productKey, plan.record.productName,
                    plan.record.productVersion);
    const UINT n = GetWindowsDirectoryA(plan.windowsDir, sizeof plan.windowsDir);
    if (n == 0 || n >= sizeof plan.windowsDir)
        plan.windowsDir[0] = '\0';

    DiagLog("\n\n>Update Start.....");

    // Both lists are freed on every way out of the planning.
    UpdateScript script;
    if (readUpdateScript(plan.productKey, &script) != kOk) {
        plan.scriptResult = kFailed;
        return;
    }
    plan.hasFiles = !script.fileList.empty();
    if (plan.hasFiles)
        planFiles(plan, script.fileList, session, searchDrives, noteHolders, dirs);
    if (isBlankText(plan.record.pluginDir))
        copyText(plan.record.pluginDir, plan.record.toolkitDir);
    plan.hasRegistry = !script.registryList.empty();
    planRegistry(plan, script.registryList);
}

void planCheck(const InstallRecord& record, RunPlan& plan, bool noteHolders, RecordDirs dirs)
{
    const InstallRecord copy = terminatedCopy(record);
    RestoreSession session;
    const DiagLogSilenced quiet;
    planRun(copy, plan, session, false, noteHolders, dirs);
}

namespace
{

// True when waiting is a copy that a run of the patch left beside target
// for the next start: a name of the run's own in target's folder, holding
// the script's file.
bool isWaitingCopyOf(const std::string& waiting, const FileEntry& target)
{
    const char* name = fileNameOf(target.path);
    const std::string dir(target.path, static_cast<std::size_t>(name - target.path));
    if (waiting.size() <= dir.size() || !equalsNoCaseN(waiting.c_str(), dir.size(), dir.c_str()) ||
        waiting.find('\\', dir.size()) != std::string::npos)
        return false;
    const std::string own = waiting.substr(dir.size());
    const std::string stem = std::string(name) + ".~md";
    const bool ours =
        (own.size() > stem.size() && equalsNoCaseN(own.c_str(), stem.size(), stem.c_str())) ||
        equalsNoCase(own.c_str(), "~mdx.tmp") ||
        (own.size() == 2 && own[0] == '~' && own[1] >= '0' && own[1] <= '9');
    FileEntry copy = target;
    copyText(copy.path, waiting.c_str());
    return ours && checkFile(copy) == kOk;
}

// A replacement of file (or a deletion of path) that an earlier run left
// for the next start, taken back now that this run has made its own
// change: one replacement per file. A waiting copy goes with it when it is
// one that a run of the patch left.
void takeBackEach(const RunPlan& plan, const FileEntry* file, const std::string& path,
                  RunKeeper& keeper, std::size_t index)
{
    for (const PendingRename& rename : plan.pending) {
        const bool same =
            file ? !rename.to.empty() && samePathText(rename.to.c_str(), file->path)
                 : rename.to.empty() && samePathText(rename.from.c_str(), path.c_str());
        if (!same || cancelAtRestart(rename.from.c_str(), file ? file->path : nullptr) !=
                         RestartCancel::cancelled)
            continue;
        DiagLog("\n>Earlier change at the next restart taken back: %s", path.c_str());
        if (file && isWaitingCopyOf(rename.from, *file))
            DeleteFileA(rename.from.c_str());
        keeper.tookBack(index, file == nullptr, rename.from);
    }
}

void takeBackEarlier(const RunPlan& plan, const FileEntry* file, const std::string& path,
                     RunKeeper& keeper, std::size_t index) noexcept
{
    try {
        takeBackEach(plan, file, path, keeper, index);
    } catch (...) {
        // Short of memory: the earlier change waits on; it puts the same
        // file in place.
    }
}

} // namespace

int applyRun(RunPlan& plan, RestoreSession& session, RunKeeper& keeper, RunCounts* counts)
{
    RunCounts none;
    RunCounts& count = counts ? *counts : none;
    InUseFinder finder;
    // What a file in use came to, and who held it.
    auto busy = [&](const std::string& path, Restored done) {
        try {
            count.busy.push_back(
                {path, finder.holdersOf(path.c_str()), done == Restored::atRestart});
        } catch (const std::bad_alloc&) {
            // Counted all the same.
        }
    };
    auto tally = [&](Restored done, int& made) {
        if (done == Restored::now)
            ++made;
        else if (done == Restored::atRestart)
            ++count.scheduled;
        else
            ++count.failed;
    };
    int runResult = kOk;
    if (plan.hasFiles) {
        for (std::size_t i = 0; i < plan.files.size(); ++i) {
            PlannedFile& file = plan.files[i];
            // Memory running out in one entry's step is that step's failure;
            // the run goes on with the next.
            try {
                session.visit(file.entry.path);
                if (file.restore) {
                    FileIdentity placed;
                    std::string waiting;
                    // A file without a resolve line is not restored, and is
                    // no failed copy either: it counts as neither.
                    int stepResult = kOk;
                    const Restored done = restoreFile(
                        plan.productKey, file.entry, stepResult, session,
                        [&keeper, i] { return keeper.beforeRestore(i); }, &placed, &waiting,
                        &file.folder);
                    if (stepResult != kOk)
                        runResult = stepResult;
                    keeper.afterRestore(
                        i, done,
                        placed.volume || placed.indexLow || placed.indexHigh ? &placed : nullptr,
                        waiting);
                    if (done != Restored::no || stepResult != kOk)
                        tally(done, count.restored);
                    if (file.pending && (done == Restored::now || done == Restored::atRestart))
                        takeBackEarlier(plan, &file.entry, file.entry.path, keeper, i);
                    if (done == Restored::inUse || done == Restored::atRestart)
                        busy(file.entry.path, done);
                }
            } catch (const std::bad_alloc&) {
                DiagLog("\n> Error restoring file %s", file.entry.path);
                runResult = kRestoreFailed;
                ++count.failed;
            }
        }
        session.close();

        // The folder, held from the first deletion to the last: the one
        // listed, never a link, and nobody renames it meanwhile.
        HeldFolder folder;
        const bool held = plan.cleanup.deletes.empty() ||
                          folder.open(plan.cleanup.directory.c_str(), &plan.cleanup.seen.folder);
        for (std::size_t i = 0; i < plan.cleanup.deletes.size(); ++i) {
            const std::string& path = plan.cleanup.deletes[i];
            const Restored done = keeper.removeStray(i, folder, session.busyAtRestart);
            if (done == Restored::now && i < plan.cleanup.pending.size() && plan.cleanup.pending[i])
                takeBackEarlier(plan, nullptr, path, keeper, i);
            if (done == Restored::atRestart)
                DiagLog("\n>File in use, deleted at the next restart: %s", path.c_str());
            else
                logDeletion(path.c_str(), done == Restored::now);
            tally(done, count.deleted);
            if (done == Restored::inUse || done == Restored::atRestart)
                busy(path, done);
        }
        folder.close();
        if (plan.cleanup.result != kOk || !held)
            DiagLog("\n>Error cleaning up file in %s", plan.record.toolkitDir);
        if (!plan.cleanup.toolkitFolder && plan.cleanup.restoresInto > 0)
            DiagLog("\n>Restored into a folder that is not cleaned up (it held no listed file "
                    "before the run): %s",
                    plan.record.toolkitDir);
        DiagLog("\n\n>File check done...\n");
    }

    if (plan.hasRegistry) {
        for (std::size_t i = 0; i < plan.registry.size(); ++i) {
            PlannedValue& value = plan.registry[i];
            for (const std::string& expansion : value.expansions)
                DiagLog("\n>Replacing string: %s", expansion.c_str());
            int written = kFailed;
            try {
                if (keeper.beforeValue(i))
                    written = writeRegistryEntry(value.entry);
            } catch (const std::bad_alloc&) {
                written = kFailed;
            }
            keeper.afterValue(i, written == kOk);
            if (written != kOk)
                DiagLog("\n>Error restoring: %s,%s", value.entry.keyPath, value.entry.valueName);
        }
        DiagLog("\n\n>Registry check done...\n");
    }
    return runResult;
}
