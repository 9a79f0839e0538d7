// The diagnostic log through the real load and unload of both libraries,
// with the switch in the registry.
#include "WinTestSupport.h"

#include <gtest/gtest.h>

#include <string>

using namespace wintest;

namespace
{

const char kSwitchKey[] = "Software\\Orvantis\\Diagnostic";
const std::string kBlock = "---------------- Log Start\r\n\r\n\r\n---------------- Log End\r\n";

void loadAndUnload(const char* library)
{
    UniqueModule lib(LoadLibraryA((exeDir() + library).c_str()));
    ASSERT_TRUE(lib) << library << " did not load";
}

class DiagLogWine : public ::testing::TestWithParam<const char*>
{
protected:
    ScratchKey key_{HKEY_LOCAL_MACHINE, kSwitchKey};
    TempDir dir_{"diaglog"};
};

TEST_P(DiagLogWine, NoFileWithoutTheSwitch)
{
    loadAndUnload(GetParam());
    key_.setString("Log Path", dir_.path());
    loadAndUnload(GetParam());
    key_.setDword("DebugOn", 0);
    loadAndUnload(GetParam());
    EXPECT_TRUE(listDir(dir_.path()).empty());
}

TEST_P(DiagLogWine, PathWithoutTrailingBackslashGetsOne)
{
    key_.setDword("DebugOn", 1);
    key_.setString("Log Path", dir_.path());
    loadAndUnload(GetParam());
    EXPECT_EQ(readFile(dir_ / "OvUpdErr.log"), kBlock);
}

TEST_P(DiagLogWine, PathWithTrailingBackslashGetsNoSecond)
{
    key_.setDword("DebugOn", 1);
    key_.setString("Log Path", dir_.path() + "\\");
    loadAndUnload(GetParam());
    EXPECT_EQ(listDir(dir_.path()), std::vector<std::string>{"OvUpdErr.log"});
    EXPECT_EQ(readFile(dir_ / "OvUpdErr.log"), kBlock);
}

TEST_P(DiagLogWine, MissingDirectoryGivesNoFileAndTheLibraryStillLoads)
{
    key_.setDword("DebugOn", 1);
    key_.setString("Log Path", dir_ / "missing");
    loadAndUnload(GetParam());
    EXPECT_FALSE(dirExists(dir_ / "missing"));
    EXPECT_TRUE(listDir(dir_.path()).empty());
}

TEST_P(DiagLogWine, TwoLoadsLeaveTwoBlocks)
{
    key_.setDword("DebugOn", 1);
    key_.setString("Log Path", dir_.path());
    loadAndUnload(GetParam());
    loadAndUnload(GetParam());
    EXPECT_EQ(readFile(dir_ / "OvUpdErr.log"), kBlock + kBlock);
}

TEST_P(DiagLogWine, OverlongLogPathLeavesTheLogOff)
{
    key_.setDword("DebugOn", 1);
    key_.setString("Log Path", dir_.path() + "\\" + std::string(500, 'x'));
    loadAndUnload(GetParam());
    EXPECT_TRUE(listDir(dir_.path()).empty());
}

INSTANTIATE_TEST_SUITE_P(BothLibraries, DiagLogWine, ::testing::Values("Scoutex.dll", "Mendex.dll"),
                         [](const auto& info) { return std::string(info.param).substr(0, 6); });

TEST(DiagLogWineBoth, SearchBlockThenUpdateBlock)
{
    ScratchKey key(HKEY_LOCAL_MACHINE, kSwitchKey);
    TempDir dir("diaglog-both");
    key.setDword("DebugOn", 1);
    key.setString("Log Path", dir.path());
    loadAndUnload("Scoutex.dll");
    loadAndUnload("Mendex.dll");
    EXPECT_EQ(readFile(dir / "OvUpdErr.log"), kBlock + kBlock);
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
