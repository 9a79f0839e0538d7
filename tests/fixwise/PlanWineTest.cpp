// fixwise plan under Wine: it changes nothing, it lists what the following
// run then does (compared with the run's log, the files and the registry),
// and after the run it finds nothing to do. Run by with-drives.sh, which maps
// E: and F: for the anchor found on another drive.
#include "MendexWineSupport.h"
#include "ResultCodes.h"

#include <nlohmann/json.hpp>

#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace wintest;
using namespace mendextest;
using nlohmann::json;

namespace
{

const char kRegKey[] = "Software\\FixwiseTest\\Plan";

struct Outcome {
    DWORD code = 0xFFFFFFFF;
    std::string out;
};

// Runs fixwise.exe (by default the build's) with a command and its args in
// dir and collects its output, with its error output too when asked.
Outcome runTool(const std::string& args, const std::string& dir, const std::string& program,
                bool errors)
{
    Outcome outcome;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    EXPECT_TRUE(CreatePipe(&readEnd, &writeEnd, &inherit, 0));
    UniqueKernelHandle reader(readEnd);
    UniqueKernelHandle writer(writeEnd);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = errors ? writeEnd : GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::string command = "\"" + program + "\" " + args;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, dir.c_str(),
                        &startup, &info)) {
        ADD_FAILURE() << "cannot start " << command;
        return outcome;
    }
    UniqueKernelHandle process(info.hProcess);
    UniqueKernelHandle thread(info.hThread);
    writer.reset();
    char buf[4096];
    DWORD got = 0;
    while (ReadFile(reader.get(), buf, sizeof buf, &got, nullptr) && got > 0)
        outcome.out.append(buf, got);
    WaitForSingleObject(process.get(), INFINITE);
    GetExitCodeProcess(process.get(), &outcome.code);
    std::string lf;
    for (char c : outcome.out)
        if (c != '\r')
            lf += c;
    outcome.out = lf;
    return outcome;
}

// fixwise plan ARGS.
Outcome runFixwise(const std::string& args, const std::string& dir,
                   const std::string& program = exeDir() + "fixwise.exe", bool errors = false)
{
    return runTool("plan " + args, dir, program, errors);
}

// The log's entries that start with prefix, with the prefix taken off.
std::set<std::string> logged(const std::string& log, const std::string& prefix)
{
    std::set<std::string> out;
    std::istringstream lines(log);
    for (std::string line; std::getline(lines, line);)
        if (line.compare(0, prefix.size(), prefix) == 0)
            out.insert(line.substr(prefix.size()));
    return out;
}

// Every file below the folders with its bytes and times, and the test key's values.
std::map<std::string, std::string> snapshot(const std::vector<std::string>& dirs)
{
    std::map<std::string, std::string> out;
    for (const std::string& dir : dirs)
        snapshotTree(dir, out);
    for (const char* name : {"Mode", "Same", "Path"}) {
        const RegValue v = readValue(HKEY_LOCAL_MACHINE, kRegKey, name);
        out[std::string("registry ") + name] =
            v.ok ? std::to_string(v.type) + ":" + v.bytes : "<none>";
    }
    return out;
}

// The paths whose entries differ between two snapshots (the bytes of a
// program file make no readable message).
std::set<std::string> differing(const std::map<std::string, std::string>& a,
                                const std::map<std::string, std::string>& b)
{
    std::set<std::string> out;
    for (const auto& [path, entry] : a)
        if (!b.count(path) || b.at(path) != entry)
            out.insert(path);
    for (const auto& [path, entry] : b)
        if (!a.count(path))
            out.insert(path);
    return out;
}

std::set<std::string> pathsOf(const json& items, const char* field)
{
    std::set<std::string> out;
    for (const json& item : items)
        out.insert(field ? item.at(field).get<std::string>() : item.get<std::string>());
    return out;
}

class Plan : public PatchedInstallation
{
protected:
    Plan() : PatchedInstallation("plan") {}
    ScratchKey reg_{HKEY_LOCAL_MACHINE, kRegKey};

    void writeData(const std::string& records, const std::string& resolve)
    {
        writeScript(records);
        writeResolve(resolve);
    }
    std::string recordArgs(const std::string& toolkit = "") const
    {
        return "--record \"product=Scan Suite\\2.0\" --record programDir=" + program_ +
               " --record toolkitVersion=1.2" +
               (toolkit.empty() ? "" : " --record toolkitDir=" + toolkit);
    }
    int run(const std::string& toolkit = "")
    {
        InstallRecord r = makeRecord(program_, toolkit);
        return PatchedInstallation::run(r);
    }
    // fixwise undo ARGS in the patch's folder, for the installation that
    // recordArgs gives, its error output with the rest.
    Outcome runUndo(const std::string& args) const
    {
        return runTool("undo " + recordArgs() + " " + args, patch_.path(), exeDir() + "fixwise.exe",
                       true);
    }
    std::vector<std::string> keptRuns();
    std::string newRun(const std::vector<std::string>& before);
    void makeSevenChanges();
};

// An installation that a run changes in seven ways: two files replaced
// (B.DLL, C.EXE), one created (D.DLL), two deleted (STRAY.TMP, hidden, and
// OLD.DLL), a value changed (Mode) and one created (Path); Same is right.
void Plan::makeSevenChanges()
{
    std::string script = source("A.DLL", "anchor", "%VEXDIR%\\A.DLL");
    makeFile(toolkit_ + "\\A.DLL", "anchor", 0x01D0000000100000ull + 6);
    script += source("B.DLL", "bbbb", "%VEXDIR%\\B.DLL");
    makeFile(toolkit_ + "\\B.DLL", "BBBB", 0x01D0000000100000ull + 5); // one unit later
    script += source("C.EXE", "cccc", "%APPDIR%\\C.EXE");
    makeFile(program_ + "\\C.EXE", "a longer wrong file");
    script += source("D.DLL", "dd", "%VEXDIR%\\D.DLL"); // missing
    makeFile(toolkit_ + "\\STRAY.TMP", "stray");
    makeFile(toolkit_ + "\\OLD.DLL", "old");
    reg_.setDword("Mode", 7);
    reg_.setString("Same", "kept");
    script += std::string("RegValue=HKLM,") + kRegKey + ",Mode=\"fast\"\n" + "RegValue=HKLM," +
              kRegKey + ",Same=\"kept\"\n" + "RegValue=HKLM," + kRegKey + ",Path=\"%VEXDIR%\"\n";
    writeData(script, "A.DLL=SOURCE\\A.DLL\nB.DLL=SOURCE\\B.DLL\nC.EXE=SOURCE\\C.EXE\n"
                      "D.DLL=SOURCE\\D.DLL\n");
    SetFileAttributesA((toolkit_ + "\\STRAY.TMP").c_str(), FILE_ATTRIBUTE_HIDDEN);
}

TEST_F(Plan, ListsWhatTheRunThenDoesAndChangesNothing)
{
    makeSevenChanges();
    const auto before = snapshot({inst_.path(), patch_.path()});
    const Outcome text = runFixwise(recordArgs(), patch_.path());
    const Outcome planned = runFixwise("--json " + recordArgs(), patch_.path());
    EXPECT_EQ(snapshot({inst_.path(), patch_.path()}), before);
    EXPECT_EQ(text.code, 1u) << text.out;
    ASSERT_EQ(planned.code, 1u) << planned.out;
    const json doc = json::parse(planned.out);

    EXPECT_EQ(doc["installation"]["toolkitDir"], toolkit_);
    EXPECT_EQ(doc["toolkitDerived"], true);
    const std::set<std::string> restores = pathsOf(doc["restores"], "path");
    EXPECT_EQ(restores, (std::set<std::string>{toolkit_ + "\\B.DLL", program_ + "\\C.EXE",
                                               toolkit_ + "\\D.DLL"}));
    const std::set<std::string> deletes = pathsOf(doc["cleanup"]["deletes"], nullptr);
    EXPECT_EQ(deletes, (std::set<std::string>{toolkit_ + "\\STRAY.TMP", toolkit_ + "\\OLD.DLL"}));
    std::set<std::string> values;
    for (const json& v : doc["registry"])
        values.insert(v["name"].get<std::string>() + "=" + v["new"]["text"].get<std::string>());
    EXPECT_EQ(values,
              (std::set<std::string>{"Mode=REG_SZ \"fast\"", "Path=REG_SZ \"" + toolkit_ + "\""}));
    EXPECT_EQ(doc["changes"], 7);
    // The text says the same, one line per change.
    for (const std::string& path : restores)
        EXPECT_NE(text.out.find(" " + path + "\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find(">f+++ " + toolkit_ + "\\D.DLL\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find(">f.t. " + toolkit_ + "\\B.DLL\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find(">fst. " + program_ + "\\C.EXE\n"), std::string::npos) << text.out;
    for (const std::string& path : deletes)
        EXPECT_NE(text.out.find("*deleting " + path + "\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find(">rc   HKLM\\" + std::string(kRegKey) + "\\Mode\n"), std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("7 change(s)\n"), std::string::npos) << text.out;

    EXPECT_EQ(run(), kOk);
    const std::string log = runner_.log();
    EXPECT_EQ(logged(log, ">Restoring file "), restores);
    EXPECT_EQ(logged(log, ">Deleting file "), deletes);
    EXPECT_EQ(readFile(toolkit_ + "\\B.DLL"), "bbbb");
    EXPECT_EQ(readFile(toolkit_ + "\\D.DLL"), "dd");
    EXPECT_FALSE(fileExists(toolkit_ + "\\STRAY.TMP"));
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, kRegKey, "Mode").bytes, std::string("fast", 5));

    // The run's verification: nothing left to do, and still nothing changed.
    const auto after = snapshot({inst_.path(), patch_.path()});
    const Outcome again = runFixwise("--json " + recordArgs(), patch_.path());
    EXPECT_EQ(again.code, 0u) << again.out;
    const json verified = json::parse(again.out);
    EXPECT_TRUE(verified["restores"].empty());
    EXPECT_TRUE(verified["cleanup"]["deletes"].empty());
    EXPECT_TRUE(verified["registry"].empty());
    EXPECT_EQ(verified["changes"], 0);
    const Outcome textAgain = runFixwise(recordArgs(), patch_.path());
    EXPECT_EQ(textAgain.code, 0u);
    EXPECT_NE(textAgain.out.find("nothing to do"), std::string::npos) << textAgain.out;
    EXPECT_EQ(snapshot({inst_.path(), patch_.path()}), after);
}

// Where the runs are kept.
std::string runsFolderPath()
{
    char programData[MAX_PATH];
    EXPECT_EQ(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, programData), S_OK);
    return std::string(programData) + "\\Orvantis\\Pixora Patch\\Runs";
}

// The runs kept on this machine, newest first, as fixwise undo lists them.
std::vector<std::string> Plan::keptRuns()
{
    std::vector<std::string> ids;
    const Outcome list = runUndo("--list --json");
    EXPECT_EQ(list.code, 0u) << list.out;
    const json doc = json::parse(list.out);
    for (const json& run : doc["runs"])
        ids.push_back(run["id"]);
    return ids;
}

// The newest kept run that was not there before.
std::string Plan::newRun(const std::vector<std::string>& before)
{
    for (const std::string& id : keptRuns())
        if (std::find(before.begin(), before.end(), id) == before.end())
            return id;
    return "";
}

TEST_F(Plan, UndoPutsBackWhatTheRunChanged)
{
    ScratchKey settings(HKEY_LOCAL_MACHINE, "Software\\Orvantis\\Pixora Patch");
    makeSevenChanges();
    const auto before = snapshot({inst_.path(), patch_.path()});
    const Outcome planned = runFixwise("--json " + recordArgs(), patch_.path());
    EXPECT_NE(runFixwise(recordArgs(), patch_.path())
                  .out.find("keeps:        what it changes, in a new run folder of "),
              std::string::npos);
    EXPECT_EQ(json::parse(planned.out)["keeps"]["on"], true);

    std::vector<std::string> older = keptRuns();
    ASSERT_EQ(run(), kOk);
    const auto after = snapshot({inst_.path(), patch_.path()});
    const std::string id = newRun(older);
    ASSERT_FALSE(id.empty());
    const json listed = json::parse(runUndo("--list --json").out)["runs"][0];
    EXPECT_EQ(listed["id"], id);
    EXPECT_EQ(listed["replaced"], 2);
    EXPECT_EQ(listed["deleted"], 2);
    EXPECT_EQ(listed["created"], 1);
    EXPECT_EQ(listed["values"], 2);
    EXPECT_EQ(listed["state"], "completed");

    // A dry run says what it would do and does nothing.
    const Outcome dry = runUndo("--dry-run " + id);
    EXPECT_EQ(dry.code, 0u) << dry.out;
    EXPECT_NE(dry.out.find("would put back  " + toolkit_ + "\\B.DLL"), std::string::npos)
        << dry.out;
    EXPECT_NE(dry.out.find("would remove    " + toolkit_ + "\\D.DLL"), std::string::npos);
    EXPECT_EQ(snapshot({inst_.path(), patch_.path()}), after);

    // Undone: every file (bytes, time, attributes) and value as before the
    // run, and the plan as before it.
    const Outcome undone = runUndo(id);
    EXPECT_EQ(undone.code, 0u) << undone.out;
    EXPECT_EQ(snapshot({inst_.path(), patch_.path()}), before);
    EXPECT_EQ(runFixwise("--json " + recordArgs(), patch_.path()).out, planned.out);
    const Outcome again = runUndo(id);
    EXPECT_EQ(again.code, 0u);
    EXPECT_NE(again.out.find("already undone"), std::string::npos) << again.out;
    EXPECT_EQ(json::parse(runUndo("--list --json").out)["runs"][0]["state"], "undone");
    EXPECT_EQ(runUndo("20000101T000000Z-1").code, 2u);
    EXPECT_EQ(runUndo("--bogus").code, 2u);

    // A file changed since the run is kept; forced, it is put aside and
    // the file before the run put back.
    older = keptRuns();
    ASSERT_EQ(run(), kOk);
    const std::string second = newRun(older);
    makeFile(toolkit_ + "\\B.DLL", "mine", 0x01D0000000900000ull);
    const Outcome kept = runUndo("--json");
    EXPECT_EQ(kept.code, 1u) << kept.out;
    const json keptDoc = json::parse(kept.out);
    EXPECT_EQ(keptDoc["run"], second);
    EXPECT_EQ(keptDoc["kept"], 1);
    EXPECT_EQ(readFile(toolkit_ + "\\B.DLL"), "mine");
    EXPECT_FALSE(fileExists(toolkit_ + "\\D.DLL"));
    const Outcome forced = runUndo("--force " + second);
    EXPECT_EQ(forced.code, 0u) << forced.out;
    EXPECT_EQ(snapshot({inst_.path(), patch_.path()}), before);

    // KeepRuns 0: nothing kept, and the plan says so.
    settings.setDword("KeepRuns", 0);
    EXPECT_NE(runFixwise(recordArgs(), patch_.path()).out.find("keeps:        nothing"),
              std::string::npos);
    older = keptRuns();
    ASSERT_EQ(run(), kOk);
    EXPECT_EQ(keptRuns(), older);

    // KeepRuns 2: a run removes the oldest runs beyond the newest two; an
    // old run whose kept files are a link to another folder is pruned
    // without going through it.
    settings.setDword("KeepRuns", 2);
    TempDir elsewhere("plan-elsewhere");
    makeDirs(elsewhere / "0");
    for (const char* name : {"1", "0\\2", "3.changed"})
        writeFile(elsewhere / name, "not a run's");
    const std::string linkedId = "20000101T000000Z-1";
    const std::string linked = runsFolderPath() + "\\" + linkedId;
    makeDirs(linked);
    writeFile(linked + "\\run.own", "a run");
    writeFile(linked + "\\run.json", R"({"changes":[]})");
    std::vector<std::string> ours;
    {
        const UnixLink files(elsewhere.path(), linked + "\\files");
        for (int i = 0; i < 3; ++i) {
            makeFile(toolkit_ + "\\B.DLL", "BBBB");
            older = keptRuns();
            ASSERT_EQ(run(), kOk);
            ours.push_back(newRun(older));
        }
        // The linked run stays, with what it leads to.
        EXPECT_EQ(keptRuns(), (std::vector<std::string>{ours[2], ours[1], linkedId}));
        EXPECT_EQ(listDir(elsewhere.path()), (std::vector<std::string>{"0", "1", "3.changed"}));
        EXPECT_EQ(readFile(elsewhere / "0\\2"), "not a run's");
    }
    removeTree(linked);
    EXPECT_EQ(keptRuns(), (std::vector<std::string>{ours[2], ours[1]}));

    // Where nothing can be kept, nothing is changed: failed copies,
    // deletions and writes, logged as such.
    const std::string runs = runsFolderPath();
    ASSERT_TRUE(MoveFileA(runs.c_str(), (runs + ".aside").c_str()));
    writeFile(runs, "not a folder");
    makeFile(toolkit_ + "\\B.DLL", "BBBB");
    makeFile(toolkit_ + "\\STRAY.TMP", "stray");
    reg_.setDword("Mode", 7);
    const auto unkept = snapshot({inst_.path(), patch_.path()});
    runner_.clearLog();
    EXPECT_EQ(run(), kRestoreFailed);
    EXPECT_EQ(snapshot({inst_.path(), patch_.path()}), unkept);
    const std::string log = runner_.log();
    EXPECT_EQ(logged(log, ">Restoring file "), std::set<std::string>{toolkit_ + "\\B.DLL"});
    EXPECT_EQ(logged(log, ">Error deleting file "),
              std::set<std::string>{toolkit_ + "\\STRAY.TMP"});
    EXPECT_EQ(logged(log, ">Error restoring: "),
              std::set<std::string>{std::string(kRegKey) + ",Mode"});
    DeleteFileA(runs.c_str());
    EXPECT_TRUE(MoveFileA((runs + ".aside").c_str(), runs.c_str()));

    // The patch's folder changeable by others: a genuine run's record in it
    // is not undone, by fixwise or by Setup, and a run keeps and changes
    // nothing there. Each says why and what to do.
    const std::string own = runs.substr(0, runs.rfind('\\'));
    ASSERT_TRUE(MoveFileA(own.c_str(), (own + ".aside").c_str()));
    older = keptRuns();
    ASSERT_EQ(run(), kOk);
    const std::string genuine = newRun(older);
    ASSERT_FALSE(genuine.empty());
    letOthersChange(own);
    const std::string why = own + ": writable by S-1-1-0; the patch keeps its runs only in "
                                  "folders that administrators alone can change: remove that "
                                  "folder (a run makes it anew)";
    const auto left = snapshot({inst_.path(), patch_.path()});
    for (const std::string& args : {genuine, std::string("--list"), std::string()}) {
        const Outcome refused = runUndo(args);
        EXPECT_EQ(refused.code, 1u) << refused.out;
        EXPECT_EQ(refused.out, "the kept runs are not read: " + why + "\n");
    }
    EXPECT_EQ(json::parse(runUndo("--json").out)["result"], -1);
    const std::string setupLog = patch_ / "undo.log";
    const Outcome setup =
        runTool("/undo /quiet /log \"" + setupLog + "\"", exeDir(), exeDir() + "Setup.exe", false);
    EXPECT_EQ(setup.code, 1603u);
    const std::string logText = readFile(setupLog);
    EXPECT_NE(logText.find("undo: the kept runs are not read: " + why), std::string::npos)
        << logText;
    DeleteFileA(setupLog.c_str());
    EXPECT_EQ(snapshot({inst_.path(), patch_.path()}), left);

    makeFile(toolkit_ + "\\B.DLL", "BBBB");
    makeFile(toolkit_ + "\\STRAY.TMP", "stray");
    reg_.setDword("Mode", 7);
    const Outcome plannedOpen = runFixwise(recordArgs(), patch_.path());
    EXPECT_NE(plannedOpen.out.find("keeps:        nothing, and so the run changes nothing: " + why +
                                   "\n"),
              std::string::npos)
        << plannedOpen.out;
    const json keepsOpen =
        json::parse(runFixwise("--json " + recordArgs(), patch_.path()).out)["keeps"];
    EXPECT_EQ(keepsOpen["on"], false);
    EXPECT_EQ(keepsOpen["refused"], why);
    const auto opened = snapshot({inst_.path(), patch_.path()});
    const std::vector<std::string> inOwn = listDir(own + "\\Runs");
    runner_.clearLog();
    EXPECT_EQ(run(), kRestoreFailed);
    EXPECT_EQ(snapshot({inst_.path(), patch_.path()}), opened);
    EXPECT_EQ(listDir(own + "\\Runs"), inOwn);
    EXPECT_EQ(logged(runner_.log(), ">Error keeping what the run changes: "),
              std::set<std::string>{why});
    removeTree(own);
    EXPECT_TRUE(MoveFileA((own + ".aside").c_str(), own.c_str()));
}

// A record that this patch did not write for this installation, planted in
// the runs folder as the newest run: refused whole, whatever it names, and
// nothing of it applied; a genuine run beside it is not undone past it. A
// record that cannot be read is passed over, and named, is no run.
TEST_F(Plan, UndoRefusesARecordThatReachesBeyondTheInstallation)
{
    ScratchKey settings(HKEY_LOCAL_MACHINE, "Software\\Orvantis\\Pixora Patch");
    makeSevenChanges();
    const std::vector<std::string> older = keptRuns();
    ASSERT_EQ(run(), kOk);
    const std::string genuine = newRun(older);
    ASSERT_FALSE(genuine.empty());

    TempDir victim("plan-victim");
    const std::string target = victim / "win.ini";
    makeFile(target, "the user's own", 0x01D0000000700000ull);
    const std::string folder = runsFolderPath() + "\\29991231T235959Z-1";
    const std::string planted = folder.substr(folder.rfind('\\') + 1);
    const json record = {{"productName", "Scan Suite"},
                         {"productVersion", "2.0"},
                         {"programDir", program_},
                         {"toolkitDir", toolkit_},
                         {"toolkitVersion", "1.2"},
                         {"ocrPath", ""},
                         {"pluginDir", ""},
                         {"installTime", 0}};
    auto stampOf = [](const std::string& path) {
        WIN32_FILE_ATTRIBUTE_DATA d{};
        GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &d);
        return json{{"size", d.nFileSizeLow},
                    {"time", (static_cast<std::uint64_t>(d.ftLastWriteTime.dwHighDateTime) << 32) |
                                 d.ftLastWriteTime.dwLowDateTime},
                    {"attributes", d.dwFileAttributes}};
    };
    // A replacement that the undo of today would put back, as it would
    // find it: the kept file planted, the file there as the run "left" it.
    auto replaced = [&](const std::string& path, const std::string& backup) {
        return json{{"kind", "replaced"},     {"path", path},
                    {"made", true},           {"before", stampOf(folder + "\\files\\0\\1")},
                    {"after", stampOf(path)}, {"backup", backup},
                    {"copied", false},        {"identity", nullptr}};
    };
    auto value = [&](const std::string& key, const std::string& name) {
        return json{{"kind", "value"},
                    {"path", "HKLM\\" + key + "\\" + name},
                    {"made", true},
                    {"hive", 2147483650u},
                    {"key", key},
                    {"name", name},
                    {"old", {{"type", 2}, {"data", "433a5c752e65786500"}}},
                    {"new", {{"type", 1}, {"data", "00"}}},
                    {"createdKey", ""}};
    };
    auto plant = [&](const json& changes) {
        makeDirs(folder + "\\files\\0");
        writeFile(folder + "\\run.own", "planted");
        makeFile(folder + "\\files\\0\\1", "planted bytes", 0x01D0000000500000ull);
        writeFile(folder + "\\run.json", json{{"product", "Scan Suite\\2.0"},
                                              {"record", record},
                                              {"started", "2999-12-31 23:59:59"},
                                              {"ended", "2999-12-31 23:59:59"},
                                              {"completed", true},
                                              {"undone", false},
                                              {"undoneAt", ""},
                                              {"changes", changes}}
                                             .dump());
    };
    const struct {
        const char* what;
        json changes;
        const char* why;
    } rows[] = {
        {"a file outside", json::array({replaced(target, "files\\0\\1")}),
         "not a file of the installation"},
        {"a path that climbs out",
         json::array(
             {replaced(toolkit_ + "\\..\\..\\..\\" +
                           victim.path().substr(victim.path().rfind('\\') + 1) + "\\win.ini",
                       "files\\0\\1")}),
         "not a file of the installation"},
        {"a kept file that climbs out",
         json::array({replaced(toolkit_ + "\\B.DLL", "files\\0\\..\\..\\..\\..\\x")}),
         "is not one that the patch keeps"},
        {"a good step, then a value the script does not write",
         json::array({replaced(toolkit_ + "\\B.DLL", "files\\0\\1"),
                      value("Software\\FixwiseTest\\Service", "ImagePath")}),
         "not a value that the update script writes"},
        {"a key made on the way that is not", json::array({[&] {
             json v = value(kRegKey, "Mode");
             v["createdKey"] = "Software\\FixwiseTest\\Elsewhere";
             return v;
         }()}),
         "is not on the way to its key"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        plant(row.changes);
        const auto before = snapshot({inst_.path(), victim.path()});
        const Outcome named = runUndo("--json " + planted);
        EXPECT_EQ(named.code, 1u) << named.out;
        const json doc = json::parse(named.out);
        EXPECT_EQ(doc["state"], "refused");
        EXPECT_NE(doc["why"].get<std::string>().find(row.why), std::string::npos) << named.out;
        // The newest run refused: the genuine one is not undone past it.
        EXPECT_EQ(runUndo("").code, 1u);
        const json listed = json::parse(runUndo("--list --json").out)["runs"];
        EXPECT_EQ(listed[0]["state"], "refused");
        EXPECT_EQ(listed[1]["id"], genuine);
        EXPECT_EQ(listed[1]["state"], "completed");
        EXPECT_EQ(snapshot({inst_.path(), victim.path()}), before);
        EXPECT_EQ(readFile(target), "the user's own");
    }

    // A member of the wrong type: unreadable, passed over, and named no run.
    writeFile(folder + "\\run.json", R"({"changes":[{"kind":"replaced","path":5}]})");
    const json listed = json::parse(runUndo("--list --json").out)["runs"];
    EXPECT_EQ(listed[0]["state"], "unreadable");
    EXPECT_NE(listed[0]["why"].get<std::string>().find("wrong type"), std::string::npos);
    EXPECT_EQ(runUndo(planted).code, 2u);
    const Outcome undone = runUndo("--json");
    EXPECT_EQ(undone.code, 0u) << undone.out;
    EXPECT_EQ(json::parse(undone.out)["run"], genuine);
    removeTree(folder);
}

// The run killed at instants spread over its length, then undone: every
// time, the installation and the registry are as they were before it.
TEST_F(Plan, AKilledRunIsPutBackByUndo)
{
    ScratchKey settings(HKEY_LOCAL_MACHINE, "Software\\Orvantis\\Pixora Patch");
    settings.setDword("KeepRuns", 3);
    const int kFiles = 40;
    std::string script = source("A.DLL", "anchor", "%VEXDIR%\\A.DLL");
    std::string resolve = "A.DLL=SOURCE\\A.DLL\n";
    const std::string filler(20000, 'n');
    for (int i = 0; i < kFiles; ++i) {
        const std::string name = "F" + std::to_string(i) + ".DLL";
        script += source(name, filler + std::to_string(i), "%VEXDIR%\\" + name);
        resolve += name + "=SOURCE\\" + name + "\n";
    }
    for (const char* name : {"Mode", "Path"})
        script += std::string("RegValue=HKLM,") + kRegKey + "," + name + "=\"%VEXDIR%\"\n";
    writeData(script, resolve);
    auto reset = [&] {
        removeTree(inst_.path());
        makeDirs(toolkit_);
        makeDirs(program_);
        makeFile(toolkit_ + "\\A.DLL", "anchor", 0x01D0000000100000ull + 6);
        for (int i = 0; i < kFiles; i += 2)
            makeFile(toolkit_ + "\\F" + std::to_string(i) + ".DLL", "old", 0x01D0000000300000ull);
        for (int i = 0; i < 8; ++i)
            makeFile(toolkit_ + "\\STRAY" + std::to_string(i) + ".TMP", "stray");
        reg_.remove();
        reg_.setDword("Mode", 1);
    };
    auto start = [&] {
        PROCESS_INFORMATION info{};
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        char self[MAX_PATH];
        GetModuleFileNameA(nullptr, self, sizeof self);
        std::string command = "\"" + std::string(self) + "\" --repair-child " + program_;
        EXPECT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                   patch_.path().c_str(), &startup, &info));
        CloseHandle(info.hThread);
        return info.hProcess;
    };
    reset();
    const auto before = snapshot({inst_.path()});

    // A whole run, to know its length; undone like the others.
    std::vector<std::string> older = keptRuns();
    const DWORD t0 = GetTickCount();
    UniqueKernelHandle whole(start());
    WaitForSingleObject(whole.get(), INFINITE);
    const DWORD length = GetTickCount() - t0;
    ASSERT_NE(snapshot({inst_.path()}), before);
    const std::string id = newRun(older);
    ASSERT_FALSE(id.empty());
    EXPECT_EQ(runUndo(id).code, 0u);
    EXPECT_EQ(snapshot({inst_.path()}), before);

    const int kInstants = 24;
    for (int k = 0; k < kInstants; ++k) {
        reset();
        older = keptRuns();
        UniqueKernelHandle child(start());
        // The program's start takes about the first third: most instants
        // fall after it.
        const DWORD delay =
            length / 4 + length * 3 / 4 * static_cast<DWORD>(k) / kInstants + (k * 7) % 5;
        Sleep(delay);
        TerminateProcess(child.get(), 9);
        WaitForSingleObject(child.get(), INFINITE);
        const std::string killed = newRun(older);
        if (!killed.empty()) {
            const Outcome undone = runUndo(killed);
            EXPECT_NE(undone.code, 1u) << undone.out;
        }
        const auto after = snapshot({inst_.path()});
        std::string changes;
        for (const std::string& path : differing(after, before)) {
            auto entry = [&](const std::map<std::string, std::string>& s) {
                return s.count(path) ? s.at(path).substr(0, 40) : std::string("<none>");
            };
            changes += "\n  " + path + ": " + entry(before) + " -> " + entry(after);
        }
        EXPECT_TRUE(changes.empty()) << "killed " << delay << " ms after the start, of " << length
                                     << " ms, run '" << killed << "':" << changes;
    }
}

// A user waits for the run's scratch folder in the toolkit folder and, while
// the run copies there, swaps the folder for a link to a folder of theirs
// holding files of the same names; in a second run, a stray for another
// file of its name. The run touches nothing outside the folder, and nothing
// that is not what it planned: those files stay, reported as not deleted.
TEST_F(Plan, WhatIsSwappedDuringTheRunIsLeftAlone)
{
    std::string script = source("A.DLL", "anchor", "%VEXDIR%\\A.DLL");
    makeFile(toolkit_ + "\\A.DLL", "anchor", 0x01D0000000100000ull + 6);
    // A copy that lasts, so that the run is caught while it copies.
    script += source("BIG.DLL", std::string(24 << 20, 'b'), "%VEXDIR%\\BIG.DLL");
    writeData(script, "A.DLL=SOURCE\\A.DLL\nBIG.DLL=SOURCE\\BIG.DLL\n");
    TempDir victim("plan-victim");
    for (const char* name : {"A.DLL", "BIG.DLL", "STRAY.TMP", "OLD.DLL"})
        makeFile(victim / name, std::string("the user's ") + name);
    std::map<std::string, std::string> victimBefore;
    snapshotTree(victim.path(), victimBefore);
    const std::string stray = toolkit_ + "\\STRAY.TMP";
    const std::string old = toolkit_ + "\\OLD.DLL";
    const std::string real = toolkit_ + ".real";

    // Starts the run in a child and stops it once it copies into the
    // toolkit folder; what then comes is the caller's, until resume.
    PROCESS_INFORMATION info{};
    auto catchRun = [&] {
        makeFile(toolkit_ + "\\BIG.DLL", "old big");
        makeFile(stray, "stray");
        makeFile(old, "old");
        runner_.clearLog();
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        char self[MAX_PATH];
        GetModuleFileNameA(nullptr, self, sizeof self);
        std::string command = "\"" + std::string(self) + "\" --repair-child " + program_;
        info = PROCESS_INFORMATION{};
        if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            patch_.path().c_str(), &startup, &info))
            return false;
        const std::string copy = toolkit_ + "\\~mdx.dir\\~mdx.tmp";
        while (!fileExists(copy) && WaitForSingleObject(info.hProcess, 1) == WAIT_TIMEOUT)
            ;
        SuspendThread(info.hThread);
        return fileExists(copy) && fileExists(stray);
    };
    auto resume = [&] {
        ResumeThread(info.hThread);
        WaitForSingleObject(info.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(info.hProcess, &code);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
        return code;
    };

    ASSERT_TRUE(catchRun()) << "the run was not caught while it copied";
    {
        // Held by the run, the folder is renamed only from the Linux side.
        EXPECT_FALSE(MoveFileA(toolkit_.c_str(), real.c_str()));
        const bool moved = renameFromLinux(toolkit_, real);
        std::optional<UnixLink> link;
        if (moved)
            link.emplace(victim.path(), toolkit_);
        const DWORD code = resume();
        if (!moved || !link->made())
            GTEST_SKIP() << "folders cannot be swapped from the Linux side here";
        // The copy under way failed or was put in place: both are the run's.
        EXPECT_TRUE(code == static_cast<DWORD>(kOk) || code == static_cast<DWORD>(kRestoreFailed))
            << code;
        const Outcome planned = runFixwise(recordArgs(), patch_.path());
        EXPECT_NE(planned.out.find("clean-up refused: the folder is a link"), std::string::npos)
            << planned.out;
    }
    std::map<std::string, std::string> victimAfter;
    snapshotTree(victim.path(), victimAfter);
    EXPECT_EQ(differing(victimAfter, victimBefore), std::set<std::string>{});
    std::string log = runner_.log();
    EXPECT_EQ(logged(log, ">Error deleting file "), (std::set<std::string>{old, stray})) << log;
    EXPECT_EQ(logged(log, ">Deleting file "), std::set<std::string>{});
    EXPECT_EQ(countOf(log, "\n>Error cleaning up file in " + toolkit_), 1) << log;
    ASSERT_TRUE(MoveFileA(real.c_str(), toolkit_.c_str()));
    EXPECT_EQ(readFile(stray), "stray");
    EXPECT_EQ(readFile(old), "old");
    const Outcome after = runFixwise(recordArgs(), patch_.path());
    EXPECT_NE(after.out.find("*deleting " + stray + "\n"), std::string::npos) << after.out;
    // What the stopped copy left in the folder's scratch folder.
    removeTree(toolkit_ + "\\~mdx.dir");

    // A stray replaced by another file of its name (made before the old one
    // goes, so that it is another file on disk).
    ASSERT_TRUE(catchRun()) << "the run was not caught while it copied";
    writeFile(toolkit_ + "\\STRAY.NEW", "another file");
    EXPECT_TRUE(
        MoveFileExA((toolkit_ + "\\STRAY.NEW").c_str(), stray.c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(resume(), static_cast<DWORD>(kOk));
    EXPECT_EQ(readFile(stray), "another file");
    EXPECT_FALSE(fileExists(old));
    EXPECT_EQ(readFile(toolkit_ + "\\BIG.DLL").size(), std::size_t{24} << 20);
    log = runner_.log();
    EXPECT_EQ(logged(log, ">Error deleting file "), std::set<std::string>{stray}) << log;
    EXPECT_EQ(logged(log, ">Deleting file "), std::set<std::string>{old});
    EXPECT_EQ(countOf(log, "Error cleaning up"), 0);
}

TEST_F(Plan, WhatCannotBeDoneShowsAsTheRunWillMeetIt)
{
    std::string script = source("A.DLL", "anchor", "%VEXDIR%\\A.DLL");
    makeFile(toolkit_ + "\\A.DLL", "anchor", 0x01D0000000100000ull + 6);
    script += source("NOLINE.DLL", "n", "%VEXDIR%\\NOLINE.DLL");
    script += fileRecord("%VEXDIR%\\GONE.DLL", Stamp{4, 0, 0x100, 0x01D00000});
    script += source("ODD.DLL", "odd", "%VEXDIR%\\ODD.DLL");
    setWriteTime(patch_ / "SOURCE\\ODD.DLL", 0x01D0000000200000ull); // source no longer matches
    makeFile(toolkit_ + "\\ODD.DLL", "old odd");
    script += source("HELD.DLL", "held", "%VEXDIR%\\HELD.DLL");
    makeFile(toolkit_ + "\\HELD.DLL", "wrong");
    writeData(script, "A.DLL=SOURCE\\A.DLL\nGONE.DLL=SOURCE\\GONE.DLL\nODD.DLL=SOURCE\\ODD.DLL\n"
                      "HELD.DLL=SOURCE\\HELD.DLL\n");
    UniqueFile held(CreateFileA((toolkit_ + "\\HELD.DLL").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);

    const Outcome text = runFixwise(recordArgs(), patch_.path());
    const Outcome planned = runFixwise("--json " + recordArgs(), patch_.path());
    EXPECT_EQ(text.code, 1u);
    ASSERT_EQ(planned.code, 1u) << planned.out;
    std::map<std::string, std::string> why;
    const json doc = json::parse(planned.out);
    for (const json& f : doc["restores"])
        why[f["path"]] = f["inUse"] ? "in use" : f["sourceState"].get<std::string>();
    EXPECT_EQ(why,
              (std::map<std::string, std::string>{{toolkit_ + "\\NOLINE.DLL", "no-resolve-line"},
                                                  {toolkit_ + "\\GONE.DLL", "missing"},
                                                  {toolkit_ + "\\ODD.DLL", "differs"},
                                                  {toolkit_ + "\\HELD.DLL", "in use"}}));
    for (const char* reason : {"cannot be restored: no resolve line",
                               "cannot be restored: source missing, " /* then its path */,
                               "cannot be restored: source does not match the script",
                               "HELD.DLL in use by another program\n"})
        EXPECT_NE(text.out.find(reason), std::string::npos) << reason << "\n" << text.out;

    // The run meets each as planned: no line logged as such, the missing
    // source and the held file as failed copies.
    EXPECT_EQ(run(), kRestoreFailed);
    const std::string log = runner_.log();
    EXPECT_EQ(logged(log, "> Error restoring file "),
              std::set<std::string>{toolkit_ + "\\NOLINE.DLL"});
    std::set<std::string> failedCopies;
    for (const std::string& rest : logged(log, ">Error copying file "))
        failedCopies.insert(rest.substr(rest.find(" to ") + 4));
    EXPECT_EQ(failedCopies, (std::set<std::string>{toolkit_ + "\\GONE.DLL", toolkit_ + "\\ODD.DLL",
                                                   toolkit_ + "\\HELD.DLL"}));
    // A source that is not the script's file is not copied: the old file stays.
    EXPECT_EQ(readFile(toolkit_ + "\\ODD.DLL"), "old odd");
    held.reset();
    const Outcome afterwards = runFixwise(recordArgs(), patch_.path());
    EXPECT_EQ(afterwards.code, 1u);
    EXPECT_NE(afterwards.out.find("cannot be restored: source does not match the script"),
              std::string::npos)
        << afterwards.out;
}

// The session manager's pending renames, read and written as UTF-16, for a
// test that seeds other programs' entries and puts the value back after.
const wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingRenames[] = L"PendingFileRenameOperations";

// The value's bytes; "<none>" when there is no value.
std::string pendingBytes()
{
    UniqueHkey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, key.put()) !=
        ERROR_SUCCESS)
        return "<none>";
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.get(), kPendingRenames, nullptr, &type, nullptr, &size) !=
        ERROR_SUCCESS)
        return "<none>";
    std::string bytes(size, '\0');
    EXPECT_EQ(RegQueryValueExW(key.get(), kPendingRenames, nullptr, &type,
                               reinterpret_cast<BYTE*>(bytes.data()), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
    bytes.resize(size);
    return bytes;
}

// Writes the value ("<none>": removes it).
void setPendingBytes(const std::string& bytes)
{
    UniqueHkey key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, key.put()),
              ERROR_SUCCESS);
    if (bytes == "<none>") {
        RegDeleteValueW(key.get(), kPendingRenames);
        return;
    }
    ASSERT_EQ(RegSetValueExW(key.get(), kPendingRenames, 0, REG_MULTI_SZ,
                             reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
}

// UTF-16 strings, each with its terminator, as the value's bytes.
std::string utf16(const std::vector<std::wstring>& strings)
{
    std::string bytes;
    for (const std::wstring& text : strings)
        bytes.append(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * 2);
    return bytes;
}

// The value's strings whose pairs (source, target) are not the one whose
// target ends in tail, as the value's bytes (closing empty string kept).
std::string withoutPairTo(const std::string& bytes, const std::wstring& tail)
{
    std::wstring units(bytes.size() / 2, L'\0');
    std::memcpy(units.data(), bytes.data(), units.size() * 2);
    std::vector<std::wstring> strings;
    for (std::size_t at = 0; at < units.size();) {
        const std::size_t end = std::min(units.find(L'\0', at), units.size());
        strings.push_back(units.substr(at, end - at));
        at = end + 1;
    }
    std::vector<std::wstring> kept;
    for (std::size_t i = 0; i + 1 < strings.size(); i += 2) {
        const std::wstring& target = strings[i + 1];
        if (target.size() >= tail.size() &&
            target.compare(target.size() - tail.size(), tail.size(), tail) == 0)
            continue;
        kept.push_back(strings[i]);
        kept.push_back(target);
    }
    kept.emplace_back();
    return utf16(kept);
}

// Puts the value back as it was when made.
struct PendingRestorer {
    std::string before = pendingBytes();
    ~PendingRestorer() { setPendingBytes(before); }
};

// A file that another program holds is replaced, and a stray one deleted,
// at the next start of the machine: planned, run, shown as waiting, carried
// out by the restart of the prefix, and undone.
TEST_F(Plan, FilesInUseFinishAtTheNextRestart)
{
    ScratchKey settings(HKEY_LOCAL_MACHINE, "Software\\Orvantis\\Pixora Patch");
    const PendingRestorer restorer;
    std::string script = source("A.DLL", "anchor", "%VEXDIR%\\A.DLL");
    makeFile(toolkit_ + "\\A.DLL", "anchor", 0x01D0000000100000ull + 6);
    script += source("FREE.DLL", "free", "%VEXDIR%\\FREE.DLL");
    makeFile(toolkit_ + "\\FREE.DLL", "old free");
    script += source("HELD.DLL", "the good held library", "%VEXDIR%\\HELD.DLL");
    // The installed HELD.DLL is a real library, so that its holder has it
    // loaded and can be named.
    ASSERT_TRUE(
        CopyFileA((exeDir() + "patchres.dll").c_str(), (toolkit_ + "\\HELD.DLL").c_str(), FALSE));
    makeFile(toolkit_ + "\\STRAY.TMP", "stray");
    writeData(script,
              "A.DLL=SOURCE\\A.DLL\nFREE.DLL=SOURCE\\FREE.DLL\nHELD.DLL=SOURCE\\HELD.DLL\n");
    const auto before = snapshot({inst_.path()});
    const std::string held = toolkit_ + "\\HELD.DLL";
    const std::string stray = toolkit_ + "\\STRAY.TMP";

    UniqueKernelHandle ready(CreateEventA(nullptr, TRUE, FALSE, "FwPlanHoldReady"));
    PROCESS_INFORMATION info{};
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string command = "\"" + std::string(self) + "\" --hold-child +" + held + " " + stray;
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &info));
    UniqueKernelHandle holder(info.hProcess);
    CloseHandle(info.hThread);
    struct Ender {
        HANDLE process;
        ~Ender() { TerminateProcess(process, 0); }
    } ender{holder.get()};
    ASSERT_EQ(WaitForSingleObject(ready.get(), 20000), WAIT_OBJECT_0);
    char name[MAX_PATH];
    const char* base = std::strrchr(self, '\\') + 1;
    std::snprintf(name, sizeof name, "%s (pid %lu)", base, info.dwProcessId);

    // Asked first: both files, the library with its holder by name.
    InstallRecord record = makeRecord(program_, "");
    RepairCounts counts{};
    std::string report;
    EXPECT_EQ(runEx(record, kRepairFindBusy, counts, report), 2);
    EXPECT_EQ(report, "busy\t" + held + "\t" + name + "\nbusy\t" + stray + "\tanother program\n");
    const Outcome planned = runFixwise(recordArgs(), patch_.path());
    EXPECT_EQ(planned.code, 1u);
    EXPECT_NE(planned.out.find("!f    " + held + " in use by " + name + "\n"), std::string::npos)
        << planned.out;
    EXPECT_NE(planned.out.find("*deleting " + stray + " in use by another program"),
              std::string::npos);

    // Other programs' renames wait already: deletions of files whose names
    // the code page cannot hold, and a rename of the stray file elsewhere.
    // They stay byte for byte whatever becomes of this patch's own.
    const std::wstring lodz = L"C:\\Apps\\\u0141\u00F3d\u017A\\";
    const std::string foreign =
        utf16({L"\\??\\C:\\Apps\\\u65E5\u672C\u8A9E\\a.dll", L"", L"\\??\\" + lodz + L"old.log",
               L"", L"\\??\\" + std::wstring(stray.begin(), stray.end()),
               L"!\\??\\" + lodz + L"stray.bak", L""});
    setPendingBytes(foreign);

    // Run: the free file now, the held ones at the next start.
    std::vector<std::string> older = keptRuns();
    record = makeRecord(program_, "");
    EXPECT_EQ(runEx(record, kRepairBusyAtRestart, counts, report), kOk);
    EXPECT_EQ(counts.restored, 1);
    EXPECT_EQ(counts.deleted, 0);
    EXPECT_EQ(counts.scheduled, 2);
    EXPECT_EQ(counts.failed, 0);
    EXPECT_EQ(report,
              "restart\t" + held + "\t" + name + "\nrestart\t" + stray + "\tanother program\n");
    const std::string log = runner_.log();
    EXPECT_NE(log.find(">File in use, replaced at the next restart: " + held), std::string::npos)
        << log;
    EXPECT_NE(log.find(">File in use, deleted at the next restart: " + stray), std::string::npos);
    EXPECT_TRUE(fileExists(stray));
    EXPECT_EQ(readFile(toolkit_ + "\\FREE.DLL"), "free");
    const std::string id = newRun(older);
    ASSERT_FALSE(id.empty());
    const Outcome waiting = runFixwise(recordArgs(), patch_.path());
    EXPECT_EQ(waiting.code, 1u);
    EXPECT_NE(waiting.out.find(">f~   " + held + " replaced at the next restart\n"),
              std::string::npos)
        << waiting.out;
    EXPECT_NE(waiting.out.find(">f~   " + stray + " deleted at the next restart\n"),
              std::string::npos);
    std::string verified;
    EXPECT_EQ(verify(record, verified), 2) << verified;
    EXPECT_NE(verified.find(", replaced at the next restart\n"), std::string::npos) << verified;
    EXPECT_EQ(waiting.out.find("~md"), std::string::npos) << "the waiting copy stays";
    const Outcome dry = runUndo("--dry-run " + id);
    EXPECT_EQ(countOf(dry.out, "would cancel its change at the next restart"), 2) << dry.out;

    // The held file's replacement no longer waits (taken back by something
    // else): the undo says so, and cancels the deletion that still waits.
    setPendingBytes(withoutPairTo(pendingBytes(), L"\\HELD.DLL"));
    // Undone before the restart: nothing of this patch waits any more, the
    // other programs' entries are as they were, the waiting copy is gone,
    // the folder holds what it held.
    const Outcome cancelled = runUndo(id);
    EXPECT_EQ(cancelled.code, 0u) << cancelled.out;
    EXPECT_NE(cancelled.out.find(stray + " (deleted by the clean-up; as before the run; its change "
                                         "at the next restart cancelled)"),
              std::string::npos)
        << cancelled.out;
    EXPECT_NE(cancelled.out.find(held + " (replaced by the run; as before the run; its change at "
                                        "the next restart no longer waits)"),
              std::string::npos)
        << cancelled.out;
    EXPECT_TRUE(pendingBytes() == foreign) << "other programs' pending renames changed";
    EXPECT_EQ(listDir(toolkit_),
              (std::vector<std::string>{"A.DLL", "FREE.DLL", "HELD.DLL", "STRAY.TMP"}));
    EXPECT_EQ(runFixwise(recordArgs(), patch_.path()).out.find(">f~"), std::string::npos);
    // The restart below carries out this patch's renames only.
    setPendingBytes(restorer.before);

    // Run again, both left for the restart; the holder ends, and a third
    // run replaces and deletes them now, taking the second run's changes at
    // the restart back: one replacement per file.
    older = keptRuns();
    record = makeRecord(program_, "");
    EXPECT_EQ(runEx(record, kRepairBusyAtRestart, counts, report), kOk);
    EXPECT_EQ(counts.scheduled, 2);
    const std::string again = newRun(older);
    TerminateProcess(holder.get(), 0);
    WaitForSingleObject(holder.get(), INFINITE);
    const std::string original = readFile(held);
    older = keptRuns();
    record = makeRecord(program_, "");
    EXPECT_EQ(runEx(record, kRepairBusyAtRestart, counts, report), kOk);
    EXPECT_EQ(counts.restored, 1);
    EXPECT_EQ(counts.deleted, 1);
    EXPECT_EQ(counts.scheduled, 0);
    const std::string third = newRun(older);
    auto ours = [] {
        return readValue(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                         "PendingFileRenameOperations")
                   .bytes.find("plan-inst") != std::string::npos;
    };
    EXPECT_FALSE(ours());
    EXPECT_EQ(listDir(toolkit_), (std::vector<std::string>{"A.DLL", "FREE.DLL", "HELD.DLL"}));
    EXPECT_EQ(runFixwise(recordArgs(), patch_.path()).code, 0u);
    EXPECT_NE(runner_.log().find(">Earlier change at the next restart taken back: " + held),
              std::string::npos);

    // The third run undone, and the machine started again: nothing of the
    // second comes back.
    const Outcome third_undone = runUndo(third);
    EXPECT_EQ(third_undone.code, 0u) << third_undone.out;
    EXPECT_FALSE(ours());
    char system[MAX_PATH];
    GetSystemDirectoryA(system, sizeof system);
    const Outcome restart = runTool("-r", exeDir(), std::string(system) + "\\wineboot.exe", false);
    EXPECT_EQ(restart.code, 0u);
    EXPECT_TRUE(readFile(held) == original);
    EXPECT_TRUE(fileExists(stray));

    // The second undone too: as before the first run.
    const Outcome undone = runUndo(again);
    EXPECT_EQ(undone.code, 0u) << undone.out;
    EXPECT_EQ(differing(snapshot({inst_.path()}), before), std::set<std::string>{});
}

// A listed file that the run could not replace (read-only) is no step of
// its undo: nothing kept of it shares its data, and a later change to it by
// its program is neither reported nor, forced, moved away.
TEST_F(Plan, UndoTakesBackOnlyWhatTheRunMade)
{
    ScratchKey settings(HKEY_LOCAL_MACHINE, "Software\\Orvantis\\Pixora Patch");
    makeSevenChanges();
    const std::string locked = program_ + "\\C.EXE";
    SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_READONLY);
    const std::vector<std::string> older = keptRuns();
    ASSERT_EQ(run(), kRestoreFailed);
    const std::string id = newRun(older);
    ASSERT_FALSE(id.empty());
    {
        UniqueFile file(CreateFileA(locked.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
        BY_HANDLE_FILE_INFORMATION info{};
        ASSERT_TRUE(GetFileInformationByHandle(file.get(), &info));
        EXPECT_EQ(info.nNumberOfLinks, 1u) << "a kept link shares the file's data";
    }
    // Its program updates it in place.
    SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_NORMAL);
    writeFile(locked, "updated by its program");

    const Outcome dry = runUndo("--dry-run " + id);
    EXPECT_EQ(dry.code, 0u) << dry.out;
    EXPECT_EQ(dry.out.find(locked), std::string::npos) << dry.out;
    const Outcome forced = runUndo("--force " + id);
    EXPECT_EQ(forced.code, 0u) << forced.out;
    EXPECT_EQ(readFile(locked), "updated by its program");
    EXPECT_EQ(readFile(toolkit_ + "\\B.DLL"), "BBBB");
    EXPECT_FALSE(fileExists(toolkit_ + "\\D.DLL"));
}

// A stale toolkit folder naming a folder of the user's documents: refused
// for the clean-up on the first run, which restores the listed files into
// it all the same and says so; the second run finds only the files that
// the first created there, and refuses it again.
TEST_F(Plan, AFolderOnlyThePatchFilledIsNotCleaned)
{
    ScratchKey settings(HKEY_LOCAL_MACHINE, "Software\\Orvantis\\Pixora Patch");
    const std::string data = inst_ / "Ledgers";
    makeDirs(data);
    makeFile(data + "\\report.docx", "a report");
    makeFile(data + "\\budget.xlsx", "a budget");
    std::string script = source("C.EXE", "cccc", "%APPDIR%\\C.EXE");
    makeFile(program_ + "\\C.EXE", "cccc", 0x01D0000000100000ull + 4);
    script += source("B.DLL", "bbbb", "%VEXDIR%\\B.DLL");
    writeData(script, "C.EXE=SOURCE\\C.EXE\nB.DLL=SOURCE\\B.DLL\n");

    for (int n = 1; n <= 2; ++n) {
        SCOPED_TRACE("run " + std::to_string(n));
        const json planned =
            json::parse(runFixwise("--json " + recordArgs(data), patch_.path()).out)["cleanup"];
        EXPECT_EQ(planned["toolkitFolder"], false);
        EXPECT_EQ(planned["onlyPatchFiles"], n == 2);
        EXPECT_EQ(planned["restoresInto"], n == 1 ? 1 : 0);
        runner_.clearLog();
        EXPECT_EQ(run(data), kOk);
        EXPECT_EQ(listDir(data), (std::vector<std::string>{"B.DLL", "budget.xlsx", "report.docx"}));
        EXPECT_EQ(runner_.log().find(">Restored into a folder that is not cleaned up") !=
                      std::string::npos,
                  n == 1)
            << runner_.log();
    }
    const Outcome text = runFixwise(recordArgs(data), patch_.path());
    EXPECT_NE(text.out.find("earlier runs of the patch created there"), std::string::npos)
        << text.out;
}

TEST_F(Plan, RefusedCleanUpShowsAsSuch)
{
    // The anchor is a correct program file, so the toolkit directory stays
    // the user's Desktop, where the clean-up refuses to work.
    writeData(source("MAIN.EXE", "main", "%APPDIR%\\MAIN.EXE") +
                  source("B.DLL", "bbbb", "%VEXDIR%\\B.DLL"),
              "B.DLL=SOURCE\\B.DLL\n");
    makeFile(program_ + "\\MAIN.EXE", "main", 0x01D0000000100000ull + 4);
    char desktop[MAX_PATH];
    ASSERT_EQ(
        SHGetFolderPathA(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, desktop),
        S_OK);
    const Outcome text = runFixwise(recordArgs(desktop), patch_.path());
    EXPECT_NE(text.out.find("!d    " + std::string(desktop) +
                            "\n      clean-up refused: not a toolkit folder\n"),
              std::string::npos)
        << text.out;
    const Outcome planned = runFixwise("--json " + recordArgs(desktop), patch_.path());
    const json doc = json::parse(planned.out);
    EXPECT_EQ(doc["cleanup"]["refused"], true);
    EXPECT_EQ(doc["cleanup"]["directory"], desktop);
    EXPECT_EQ(pathsOf(doc["restores"], "path"),
              std::set<std::string>{std::string(desktop) + "\\B.DLL"});
    EXPECT_EQ(doc["matches"], false);

    // Every listed file right: nothing to change, but the refused clean-up
    // leaves unlisted files, so the installation does not match.
    const std::string good = std::string(desktop) + "\\B.DLL";
    makeFile(good, "bbbb", 0x01D0000000100000ull + 4);
    const Outcome right = runFixwise(recordArgs(desktop), patch_.path());
    DeleteFileA(good.c_str());
    EXPECT_EQ(right.code, 1u);
    EXPECT_NE(right.out.find("the installation does not match"), std::string::npos) << right.out;
}

TEST_F(Plan, AnchorFoundOnAnotherDriveMovesTheInstallationThere)
{
    ASSERT_TRUE(dirExists("E:\\")) << "run this test through with-drives.sh";
    const std::string name = "PLANANC" + std::to_string(GetCurrentProcessId()) + ".DLL";
    const std::string elsewhere = "E:\\plan-kit\\PLUGINS12";
    removeTree("E:\\plan-kit");
    makeDirs(elsewhere);
    // Met first, on C:: another release's folder and an old copy.
    TempDir decoys("plan-decoys");
    makeDirs(decoys / "PLUGINS11");
    makeDirs(decoys / "old\\PLUGINS12");
    makeFile(decoys / ("PLUGINS11\\" + name), "the anchor", 0x01D0000000100000ull + 10);
    makeFile(decoys / ("old\\PLUGINS12\\" + name), "the anchor", 0x01D0000000100000ull + 10);
    makeFile(decoys / "old\\PLUGINS12\\B.DLL", "old b");
    // And one in a folder that others can change.
    makeDirs(decoys / "shared\\PLUGINS12");
    makeFile(decoys / ("shared\\PLUGINS12\\" + name), "the anchor", 0x01D0000000100000ull + 10);
    letOthersChange(decoys / "shared");
    std::string script = source(name, "the anchor", "%VEXDIR%\\" + name);
    makeFile(elsewhere + "\\" + name, "the anchor", 0x01D0000000100000ull + 10);
    script += source("B.DLL", "bbbb", "%VEXDIR%\\B.DLL");
    makeFile(elsewhere + "\\B.DLL", "bbbb", 0x01D0000000100000ull + 4);
    makeFile(elsewhere + "\\STRAY.TMP", "stray");
    // The OCR folder moves with the anchor, to a folder that no derivation
    // gives.
    script += std::string("RegValue=HKLM,") + kRegKey + ",Path=\"%OCRDIR%\"\n";
    writeData(script, name + "=SOURCE\\" + name + "\nB.DLL=SOURCE\\B.DLL\n");

    const Outcome planned = runFixwise("--json " + recordArgs(), patch_.path());
    ASSERT_EQ(planned.code, 1u) << planned.out;
    const json doc = json::parse(planned.out);
    EXPECT_EQ(doc["toolkitRelocated"], true);
    EXPECT_EQ(doc["installation"]["toolkitDir"], elsewhere);
    EXPECT_TRUE(doc["restores"].empty());
    EXPECT_EQ(pathsOf(doc["cleanup"]["deletes"], nullptr),
              std::set<std::string>{elsewhere + "\\STRAY.TMP"});
    std::set<std::string> passed;
    for (const json& copy : doc["passedOver"])
        passed.insert(copy["path"].get<std::string>() + ": " + copy["why"].get<std::string>());
    EXPECT_EQ(
        passed,
        (std::set<std::string>{
            decoys / ("PLUGINS11\\" + name) + ": its folder is not named PLUGINS12",
            decoys / ("old\\PLUGINS12\\" + name) +
                ": holds B.DLL in another size or time: another release's folder or an "
                "old copy",
            decoys / ("shared\\PLUGINS12\\" + name) + ": not only administrators can change " +
                decoys / "shared" + ": writable by S-1-1-0"}));
    const Outcome text = runFixwise(recordArgs(), patch_.path());
    EXPECT_NE(text.out.find("~a    " + decoys / ("PLUGINS11\\" + name) +
                            "\n      passed over: its folder is not named PLUGINS12\n"),
              std::string::npos)
        << text.out;

    InstallRecord r = makeRecord(program_, "");
    {
        CurrentDir cd(patch_.path());
        EXPECT_EQ(runner_.run(r), kOk);
    }
    EXPECT_EQ(std::string(r.toolkitDir), elsewhere);
    EXPECT_EQ(std::string(r.ocrPath), elsewhere);
    EXPECT_EQ(readValue(HKEY_LOCAL_MACHINE, kRegKey, "Path").bytes, elsewhere + '\0');
    EXPECT_EQ(logged(runner_.log(), ">Deleting file "),
              std::set<std::string>{elsewhere + "\\STRAY.TMP"});
    // The check after the run (with the record as the run left it) and the
    // plan afterwards (with the record as found) agree: nothing to do, in
    // the folders where the run worked.
    std::string report = "x";
    EXPECT_EQ(verify(r, report), 0) << report;
    EXPECT_EQ(report, "");
    const Outcome after = runFixwise("--json " + recordArgs(), patch_.path());
    EXPECT_EQ(after.code, 0u) << after.out;
    const json afterDoc = json::parse(after.out);
    EXPECT_EQ(afterDoc["installation"]["toolkitDir"], r.toolkitDir);
    EXPECT_EQ(afterDoc["installation"]["ocrPath"], r.ocrPath);
    EXPECT_EQ(afterDoc["installation"]["pluginDir"], r.pluginDir);
    removeTree("E:\\plan-kit");
}

TEST_F(Plan, FindsTheInstallationsAsSetupDoes)
{
    // Two releases installed at the same time: the later in the catalogue
    // is chosen, the other is listed.
    const std::string root = std::string(kRegKey) + "\\Catalogue";
    TempDir older("plan-older");
    const std::uint64_t installed = 0x01D6000000000002ull;
    makeFile(older / "scan.exe", "scan", installed);
    makeFile(program_ + "\\scan.exe", "scan", installed);
    std::string catalogue;
    for (const auto& [version, dir] :
         {std::pair<std::string, std::string>{"1.0", older.path()}, {"2.0", program_}}) {
        reg_.setString("here", dir, "Catalogue\\Dirs\\" + version);
        catalogue += "[Scan Suite\\" + version + "]\nInstallKey=HKLM," + root + "\\Dirs\\" +
                     version + "\nProgramDir=HKLM," + root + "\\Dirs\\" + version + ",here\n";
    }
    writeFile(patch_ / "libdata.src", catalogue);
    writeData(source("A.DLL", "anchor", "%VEXDIR%\\A.DLL"), "A.DLL=SOURCE\\A.DLL\n");

    const Outcome planned = runFixwise("--json", patch_.path());
    ASSERT_EQ(planned.code, 1u) << planned.out;
    const json doc = json::parse(planned.out);
    EXPECT_EQ(doc["installation"]["product"], "Scan Suite\\2.0");
    EXPECT_EQ(doc["installation"]["programDir"], program_);
    ASSERT_EQ(doc["others"].size(), 1u);
    EXPECT_EQ(doc["others"][0]["product"], "Scan Suite\\1.0");
    // No toolkit version in the catalogue: the derived folder has no suffix.
    EXPECT_EQ(pathsOf(doc["restores"], "path"),
              std::set<std::string>{inst_ / "VEXsoft\\PLUGINS\\A.DLL"});
}

// Names in the system's code page come out of --json as UTF-8.
TEST_F(Plan, NonAsciiNamesAreUtf8InJson)
{
    const std::string name = "\xC4PFEL.DLL"; // A with diaeresis in the Western code pages
    writeData(source("A.DLL", "anchor", "%VEXDIR%\\A.DLL") +
                  source(name, "apple", "%VEXDIR%\\" + name),
              "A.DLL=SOURCE\\A.DLL\n" + name + "=SOURCE\\" + name + "\n");
    makeFile(toolkit_ + "\\A.DLL", "anchor", 0x01D0000000100000ull + 6);
    makeFile(toolkit_ + "\\STRAY\xE9.TMP", "stray");
    const Outcome planned = runFixwise("--json " + recordArgs(), patch_.path());
    ASSERT_EQ(planned.code, 1u) << planned.out;
    const json doc = json::parse(planned.out);
    auto utf8 = [](const std::string& ansi) {
        wchar_t wide[MAX_PATH];
        const int n = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, wide, MAX_PATH);
        char out[3 * MAX_PATH];
        WideCharToMultiByte(CP_UTF8, 0, wide, n, out, sizeof out, nullptr, nullptr);
        return std::string(out);
    };
    EXPECT_EQ(pathsOf(doc["restores"], "path"),
              std::set<std::string>{utf8(toolkit_ + "\\" + name)});
    EXPECT_EQ(pathsOf(doc["cleanup"]["deletes"], nullptr),
              std::set<std::string>{utf8(toolkit_ + "\\STRAY\xE9.TMP")});
}

TEST_F(Plan, CannotRunWithoutAnInstallationOrAScript)
{
    // No catalogue in the folder: the search cannot run.
    Outcome o = runFixwise("", patch_.path());
    EXPECT_EQ(o.code, 2u);
    EXPECT_EQ(runFixwise("--bogus", patch_.path()).code, 2u);
    EXPECT_EQ(runFixwise("--record toolkitDir=C:\\x", patch_.path()).code, 2u);
    // No script section for the product.
    writeFile(patch_ / "Update.src", languageHeader() + "[Other\\1.0]\n");
    EXPECT_EQ(runFixwise(recordArgs(), patch_.path()).code, 2u);

    // Scoutex.dll of the other architecture beside the tool (a 64-bit
    // fixwise.exe copied onto a 32-bit medium): said as such.
    TempDir tool("plan other architecture");
    ASSERT_TRUE(
        CopyFileA((exeDir() + "fixwise.exe").c_str(), (tool / "fixwise.exe").c_str(), FALSE));
    std::string image(0x200, '\0');
    image.replace(0, 2, "MZ");
    image[0x3C] = 0x40;
    image.replace(0x40, 4, std::string("PE\0\0", 4));
    const bool own32 = sizeof(void*) == 4;
    image[0x44] = static_cast<char>(own32 ? 0x64 : 0x4C); // machine: 0x8664 or 0x14C
    image[0x45] = static_cast<char>(own32 ? 0x86 : 0x01);
    writeFile(tool / "Scoutex.dll", image);
    o = runFixwise("", patch_.path(), tool / "fixwise.exe", true);
    EXPECT_EQ(o.code, 2u);
    EXPECT_NE(o.out.find(own32 ? "is a 64-bit x86-64 library and this fixwise.exe is 32-bit x86"
                               : "is a 32-bit x86 library and this fixwise.exe is 64-bit x86-64"),
              std::string::npos)
        << o.out;
}

} // namespace

int main(int argc, char** argv)
{
    // The child of the kill test: one update run of the installation in
    // argv[2], from the current folder.
    if (argc == 3 && std::string(argv[1]) == "--repair-child") {
        UniqueModule lib(LoadLibraryA((exeDir() + "Mendex.dll").c_str()));
        const auto repair = findExport<RepairPixoraAppFn>(lib.get(), "RepairPixoraApp");
        InstallRecord record = makeRecord(argv[2], "");
        return repair ? repair(&record) : 100;
    }
    // The holder of the files test: holds every file named open, sharing
    // nothing; one named with a "+" is loaded as a library first.
    if (argc >= 3 && std::string(argv[1]) == "--hold-child") {
        std::vector<UniqueFile> files;
        for (int i = 2; i < argc; ++i) {
            const char* path = argv[i][0] == '+' ? argv[i] + 1 : argv[i];
            if (argv[i][0] == '+' && !LoadLibraryA(path))
                return 101;
            files.emplace_back(
                CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
            if (!files.back())
                return 102;
        }
        UniqueKernelHandle ready(OpenEventA(EVENT_MODIFY_STATE, FALSE, "FwPlanHoldReady"));
        SetEvent(ready.get());
        Sleep(INFINITE);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
