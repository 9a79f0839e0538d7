// The registry writer against the real registry (main is in FileRestoreWineTest.cpp).
#include "MendexWineSupport.h"
#include "RegistryWriter.h"
#include "UpdateScript.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using namespace wintest;

namespace
{

const char kKey[] = "Software\\FixwiseTest\\RegistryWriter";

RegistryEntry stringEntry(std::uint32_t hive, const std::string& key, const std::string& name,
                          const std::string& data)
{
    RegistryEntry e;
    std::memset(&e, 0, sizeof e);
    e.hive = hive;
    std::snprintf(e.keyPath, sizeof e.keyPath, "%s", key.c_str());
    std::snprintf(e.valueName, sizeof e.valueName, "%s", name.c_str());
    std::snprintf(e.stringData, sizeof e.stringData, "%s", data.c_str());
    e.dwordValue = kStringMarker;
    e.valueType = RegValueType::String;
    return e;
}

RegistryEntry dwordEntry(std::uint32_t hive, const std::string& key, const std::string& name,
                         std::uint32_t value)
{
    RegistryEntry e = stringEntry(hive, key, name, "");
    e.dwordValue = value;
    e.valueType = RegValueType::Dword;
    return e;
}

class RegistryWriter : public ::testing::TestWithParam<std::uint32_t>
{
protected:
    HKEY root() const
    {
        return GetParam() == kHiveLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    }
    ScratchKey lm_{HKEY_LOCAL_MACHINE, kKey};
    ScratchKey cu_{HKEY_CURRENT_USER, kKey};
};

TEST_P(RegistryWriter, DwordIsFourBytesLeastSignificantFirst)
{
    ASSERT_EQ(writeRegistryEntry(dwordEntry(GetParam(), kKey, "Retries", 3)), 0);
    RegValue v = readValue(root(), kKey, "Retries");
    ASSERT_TRUE(v.ok);
    EXPECT_EQ(v.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(v.bytes, std::string("\x03\x00\x00\x00", 4));
}

TEST_P(RegistryWriter, DwordOfTheStringMarkerIsStillADword)
{
    ASSERT_EQ(writeRegistryEntry(dwordEntry(GetParam(), kKey, "Count", 0x80000000u)), 0);
    RegValue v = readValue(root(), kKey, "Count");
    EXPECT_EQ(v.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(v.bytes, std::string("\x00\x00\x00\x80", 4));
}

TEST_P(RegistryWriter, StringCarriesItsTerminatingZero)
{
    ASSERT_EQ(writeRegistryEntry(stringEntry(GetParam(), kKey, "Path", "C:\\Apps")), 0);
    RegValue v = readValue(root(), kKey, "Path");
    EXPECT_EQ(v.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(v.bytes, std::string("C:\\Apps\0", 8));

    ASSERT_EQ(writeRegistryEntry(stringEntry(GetParam(), kKey, "Empty", "")), 0);
    v = readValue(root(), kKey, "Empty");
    EXPECT_EQ(v.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(v.bytes, std::string("\0", 1));
}

TEST_P(RegistryWriter, ExistingValueIsOverwrittenWhateverItsType)
{
    (GetParam() == kHiveLocalMachine ? lm_ : cu_).setDword("Mode", 7);
    ASSERT_EQ(writeRegistryEntry(stringEntry(GetParam(), kKey, "Mode", "fast")), 0);
    RegValue v = readValue(root(), kKey, "Mode");
    EXPECT_EQ(v.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(v.bytes, std::string("fast\0", 5));

    ASSERT_EQ(writeRegistryEntry(dwordEntry(GetParam(), kKey, "Mode", 1)), 0);
    v = readValue(root(), kKey, "Mode");
    EXPECT_EQ(v.type, static_cast<DWORD>(REG_DWORD));
}

TEST_P(RegistryWriter, MissingKeysAreCreatedAlongThePath)
{
    const std::string deep = std::string(kKey) + "\\One\\Two\\Three";
    ASSERT_EQ(writeRegistryEntry(stringEntry(GetParam(), deep, "", "")), 0);
    RegValue v = readValue(root(), deep, "");
    ASSERT_TRUE(v.ok);
    EXPECT_EQ(v.type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(v.bytes, std::string("\0", 1));
}

INSTANTIATE_TEST_SUITE_P(BothHives, RegistryWriter,
                         ::testing::Values(kHiveLocalMachine, kHiveCurrentUser),
                         [](const auto& info) {
                             return std::string(info.param == kHiveLocalMachine ? "HKLM" : "HKCU");
                         });

TEST(RegistryWriterFailure, KeyThatCannotBeOpenedOrCreatedFails)
{
    // A key path that the registry refuses (a name over 255 characters).
    const std::string bad = std::string(kKey) + "\\" + std::string(300, 'k');
    EXPECT_EQ(writeRegistryEntry(stringEntry(kHiveCurrentUser, bad, "X", "y")), -1);
    EXPECT_EQ(writeRegistryEntry(stringEntry(0x80000003u, kKey, "X", "y")), -1);
}

} // namespace
