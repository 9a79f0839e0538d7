// The update run: RepairPixoraApp brings one installation back to what the
// update script describes. Order of the run:
//   1. blank product name: nothing to do;
//   2. the whole script section is read before anything changes;
//   3. file phase: toolkit and OCR directories, the anchor entry (searched
//      for across drives when it is not where expected), every other entry,
//      clean-up of the toolkit directory;
//   4. the plug-in directory falls back to the toolkit directory;
//   5. registry phase.
// The caller's record gets toolkitDir, ocrPath and pluginDir written back.
#include "CleanUp.h"
#include "DiagLog.h"
#include "Directories.h"
#include "DriveSearch.h"
#include "FileRestore.h"
#include "InstallRecord.h"
#include "PathMacros.h"
#include "RegistryWriter.h"
#include "ResultCodes.h"
#include "ScriptFiles.h"
#include "Text.h"
#include "UpdateScript.h"
#include "WinHandle.h"

#include <windows.h>

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

// Step 3, before the entries: ocrPath names the OCR component's directory
// afterwards.
void settleOcrDir(InstallRecord& record)
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
            return;
    }
    if (deriveOcrDir(record.ocrPath, sizeof record.ocrPath, record.toolkitDir))
        DiagLog("\n>Formated OCR Dir: %s\n", record.ocrPath);
    else
        copyText(record.ocrPath, before);
}

// Step 3: checks and restores every listed file, then cleans up the toolkit
// directory.
void filePhase(InstallRecord& record, const char* productKey, const char* windowsDir,
               FileList& fileList, int& runResult)
{
    if (isBlankText(record.toolkitDir) &&
        deriveToolkitDir(record.toolkitDir, sizeof record.toolkitDir, record.programDir,
                         record.toolkitVersion))
        DiagLog("\n\n>Formated VEX Dir: %s", record.toolkitDir);
    settleOcrDir(record);

    RestoreSession session;
    FileEntry work;
    bool anchor = true;
    for (FileEntry& entry : fileList) {
        work = entry;
        expandFilePath(work.path, record, windowsDir);
        // Memory running out in one entry's step is that step's failure;
        // the run goes on with the next.
        try {
            session.visit(work.path);
            if (checkFile(work) != kOk) {
                if (anchor && searchDrivesForFile(work, productKey, session.resolveList()) == kOk) {
                    // The installation lives where the intact copy is.
                    char dir[sizeof work.path];
                    copyText(dir, work.path);
                    cutAtLastBackslash(dir);
                    copyText(record.toolkitDir, dir);
                    copyText(record.ocrPath, dir);
                } else {
                    restoreFile(productKey, work.path, runResult, session);
                }
            }
        } catch (const std::bad_alloc&) {
            DiagLog("\n> Error restoring file %s", work.path);
            runResult = kRestoreFailed;
        }
        copyText(entry.path, work.path);
        anchor = false;
    }
    session.close();

    int cleanResult = kFailed;
    try {
        cleanResult = cleanPluginDirectory(record.toolkitDir, fileList, record.programDir);
    } catch (const std::bad_alloc&) {
        cleanResult = kFailed;
    }
    if (cleanResult != kOk)
        DiagLog("\n>Error cleaning up file in %s", record.toolkitDir);
    DiagLog("\n\n>File check done...\n");
}

// Step 5: writes every registry value, string data expanded first.
void registryPhase(const InstallRecord& record, RegistryList& registryList)
{
    for (RegistryEntry& entry : registryList) {
        if (entry.stringData[0] != '\0') {
            const struct {
                int selector;
                const char* value;
            } macros[] = {{kMacroVexDir, record.toolkitDir},
                          {kMacroAppDir, record.programDir},
                          {kMacroOcrDir, record.ocrPath}};
            for (const auto& macro : macros)
                if (expandInPlace(entry.stringData, macro.selector, macro.value))
                    DiagLog("\n>Replacing string: %s", entry.stringData);
        }
        int written = kFailed;
        try {
            written = writeRegistryEntry(entry);
        } catch (const std::bad_alloc&) {
            written = kFailed;
        }
        if (written != kOk)
            DiagLog("\n>Error restoring: %s,%s", entry.keyPath, entry.valueName);
    }
    DiagLog("\n\n>Registry check done...\n");
}

int runUpdate(InstallRecord& record)
{
    if (isBlankText(record.productName))
        return kOk;

    char productKey[512];
    buildProductKey(productKey, sizeof productKey, record.productName, record.productVersion);
    char windowsDir[MAX_PATH];
    UINT n = GetWindowsDirectoryA(windowsDir, sizeof windowsDir);
    if (n == 0 || n >= sizeof windowsDir)
        windowsDir[0] = '\0';

    DiagLog("\n\n>Update Start.....");

    // Both lists are freed on every way out of the run.
    UpdateScript script;
    if (readUpdateScript(productKey, &script) != kOk)
        return kFailed;

    int runResult = kOk;
    if (!script.fileList.empty())
        filePhase(record, productKey, windowsDir, script.fileList, runResult);
    if (isBlankText(record.pluginDir))
        copyText(record.pluginDir, record.toolkitDir);
    if (!script.registryList.empty())
        registryPhase(record, script.registryList);
    return runResult;
}

// Ends a text field of the record inside its width.
template <std::size_t N> void endInsideWidth(char (&field)[N])
{
    field[N - 1] = '\0';
}

} // namespace

// The run works on its own copy of the record, every text field terminated
// inside its width, and writes the three fields that it owns back at the end.
// A script that cannot be used leaves the caller's record as it was.
extern "C" int RepairPixoraApp(InstallRecord* record)
{
    if (!record)
        return kOk;
    try {
        InstallRecord run;
        std::memcpy(&run, record, sizeof run);
        endInsideWidth(run.productName);
        endInsideWidth(run.programDir);
        endInsideWidth(run.productVersion);
        endInsideWidth(run.toolkitDir);
        endInsideWidth(run.pluginDir);
        endInsideWidth(run.toolkitVersion);
        endInsideWidth(run.ocrPath);
        const int result = runUpdate(run);
        if (result != kFailed) {
            std::memcpy(record->toolkitDir, run.toolkitDir, sizeof run.toolkitDir);
            std::memcpy(record->ocrPath, run.ocrPath, sizeof run.ocrPath);
            std::memcpy(record->pluginDir, run.pluginDir, sizeof run.pluginDir);
        }
        return result;
    } catch (...) {
        return kFailed;
    }
}
