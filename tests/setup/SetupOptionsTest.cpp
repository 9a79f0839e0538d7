// The switches of Setup.
#include "SetupOptions.h"

#include <gtest/gtest.h>

namespace
{

TEST(SetupOptions, NoArgumentsRunInteractively)
{
    const SetupOptions o = parseSetupOptions("");
    EXPECT_TRUE(o.valid());
    EXPECT_EQ(o.mode, SetupMode::Interactive);
    EXPECT_FALSE(o.help);
    EXPECT_TRUE(o.logPath.empty());
    EXPECT_FALSE(o.undo);
    EXPECT_EQ(o.restart, SetupRestart::Default);
    EXPECT_TRUE(parseSetupOptions(nullptr).valid());
}

TEST(SetupOptions, SwitchesIgnoreCaseAndTakeSlashOrDash)
{
    EXPECT_EQ(parseSetupOptions("/QUIET").mode, SetupMode::Quiet);
    EXPECT_EQ(parseSetupOptions("-Passive").mode, SetupMode::Passive);
    // Quiet wins over passive, in either order.
    EXPECT_EQ(parseSetupOptions("/quiet /passive").mode, SetupMode::Quiet);
    EXPECT_EQ(parseSetupOptions("/passive /quiet").mode, SetupMode::Quiet);
    EXPECT_TRUE(parseSetupOptions("-?").help);
}

TEST(SetupOptions, UndoCombinesWithTheModesAndTheLogAsTheUpdateDoes)
{
    struct Row {
        const char* line;
        SetupMode mode;
        const char* logPath;
    };
    const Row rows[] = {
        {"/undo", SetupMode::Interactive, ""},
        {"/UNDO", SetupMode::Interactive, ""},
        {"-Undo /quiet", SetupMode::Quiet, ""},
        {"/quiet /undo /log \"C:\\My Logs\\undo.log\"", SetupMode::Quiet, "C:\\My Logs\\undo.log"},
        {"/undo /passive /log:C:\\undo.log", SetupMode::Passive, "C:\\undo.log"},
        {"/log u.log /PASSIVE /undo", SetupMode::Passive, "u.log"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        const SetupOptions o = parseSetupOptions(row.line);
        EXPECT_TRUE(o.valid());
        EXPECT_TRUE(o.undo);
        EXPECT_EQ(o.mode, row.mode);
        EXPECT_EQ(o.logPath, row.logPath);
    }
    EXPECT_FALSE(parseSetupOptions("/quiet /log x.log").undo);
    EXPECT_EQ(parseSetupOptions("/undone").badSwitch, "/undone");
    EXPECT_EQ(parseSetupOptions("/undo:all").badSwitch, "/undo:all");
}

// The restart switches combine with every other; the two together
// contradict each other: the later one is the bad switch.
TEST(SetupOptions, NoRestartOrForceRestartButNotBoth)
{
    struct Row {
        const char* line;
        SetupRestart restart;
        const char* badSwitch;
        bool contradicts;
    };
    const Row rows[] = {
        {"/norestart", SetupRestart::Never, "", false},
        {"/quiet -NoRestart /norestart", SetupRestart::Never, "", false},
        {"/ForceRestart /passive /log x.log", SetupRestart::Force, "", false},
        {"/norestart /quiet /forcerestart", SetupRestart::Force, "/forcerestart", true},
        {"-forcerestart /NORESTART /bogus", SetupRestart::Never, "/NORESTART", true},
        {"/bogus /norestart /forcerestart", SetupRestart::Force, "/bogus", false},
        {"/norestarts", SetupRestart::Default, "/norestarts", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        const SetupOptions o = parseSetupOptions(row.line);
        EXPECT_EQ(o.restart, row.restart);
        EXPECT_EQ(o.badSwitch, row.badSwitch);
        EXPECT_EQ(o.contradicts, row.contradicts);
    }
}

TEST(SetupOptions, LogTakesTheNextArgumentOrTheTextAfterTheColon)
{
    EXPECT_EQ(parseSetupOptions("/log \"C:\\My Logs\\run.log\" /quiet").logPath,
              "C:\\My Logs\\run.log");
    EXPECT_EQ(parseSetupOptions("/LOG:C:\\run.log").logPath, "C:\\run.log");
    EXPECT_EQ(parseSetupOptions("/log:\"C:\\a b.log\"").logPath, "C:\\a b.log");
    // A log switch without its file is not understood.
    EXPECT_FALSE(parseSetupOptions("/log").valid());
    EXPECT_FALSE(parseSetupOptions("/log:").valid());
}

TEST(SetupOptions, AnUnknownArgumentIsReportedAndALaterLogStillNamed)
{
    const SetupOptions o = parseSetupOptions("/quiet /silent /bad /log x.log");
    EXPECT_FALSE(o.valid());
    EXPECT_EQ(o.badSwitch, "/silent");
    EXPECT_EQ(o.logPath, "x.log");
    EXPECT_EQ(parseSetupOptions("quiet").badSwitch, "quiet");
    EXPECT_EQ(parseSetupOptions("/").badSwitch, "/");
    EXPECT_EQ(parseSetupOptions("/quietly").badSwitch, "/quietly");
}

} // namespace
