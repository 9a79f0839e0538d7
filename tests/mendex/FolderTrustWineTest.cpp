// The rule by which a folder is trusted: descriptors made from SDDL (read
// the same under Wine as on Windows) fed to it, and folders as Wine reports
// them.
#include "FolderTrust.h"
#include "MendexWineSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

using namespace wintest;
using namespace mendextest;

namespace
{

// TrustedInstaller, the owner of the system's own folders.
const std::string kInstaller = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
// The account the rule is asked for (the patch's), and a plain user.
const char kSelf[] = "S-1-5-21-7-7-7-1234";
const char kUser[] = "S-1-5-21-1-2-3-1001";

// The rule's verdict on a descriptor given as SDDL, for the account kSelf
// (or none).
std::string verdict(const std::string& sddl, bool withSelf = true)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                                     &sd, nullptr))
        << sddl;
    const UniqueLocal ownedSd(sd);
    PSID self = nullptr;
    EXPECT_TRUE(ConvertStringSidToSidA(kSelf, &self));
    const UniqueLocal ownedSid(self);
    return sd ? whyUntrusted(sd, withSelf ? self : nullptr) : "not made";
}

TEST(FolderTrust, TheRuleOnDescriptors)
{
    struct Row {
        const char* what;
        std::string sddl;
        std::string why;
    };
    const Row rows[] = {
        {"an administrator's folder at C:\\",
         "O:BAD:(A;OICIID;FA;;;BA)(A;OICIID;FA;;;SY)(A;OICIID;0x1200a9;;;BU)"
         "(A;OICIID;0x1301bf;;;AU)(A;OICIIOID;SDGXGWGR;;;AU)",
         "writable by S-1-5-11"},
        {"a folder below Program Files",
         "O:" + kInstaller + "D:(A;OICIID;FA;;;" + kInstaller +
             ")(A;OICIID;FA;;;SY)(A;OICIID;FA;;;BA)(A;OICIID;0x1200a9;;;BU)"
             "(A;OICIIOID;GA;;;CO)(A;OICIID;0x1200a9;;;AC)",
         ""},
        {"owned by SYSTEM", "O:SYD:(A;;FA;;;SY)(A;;FR;;;WD)", ""},
        {"a deny entry grants nothing", "O:BAD:(D;;FA;;;BU)(A;;FA;;;SY)", ""},
        {"an inherit-only entry grants nothing to the folder", "O:BAD:(A;OICIIO;FA;;;BU)", ""},
        {"no access list at all", "O:BA", "no access list: everyone may change it"},
        {"a plain user's folder", std::string("O:") + kUser + "D:(A;;FA;;;SY)",
         std::string("owned by ") + kUser},
        {"Everyone full access, as Wine reports the 'other' write bit",
         "O:BAD:(A;;FA;;;SY)(A;;0x1301ff;;;WD)", "writable by S-1-1-0"},
        {"the running account's own folder",
         std::string("O:") + kSelf + "D:(A;;FA;;;" + kSelf + ")(A;;FA;;;SY)", ""},
        {"the patch's own folders", std::string("O:BA") + kOwnFolderSddl, ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(verdict(row.sddl), row.why) << row.what << ": " << row.sddl;
    // A NULL access list (Wine reads "D:NO_ACCESS_CONTROL" as an empty one,
    // so it is made by hand).
    SECURITY_DESCRIPTOR open;
    ASSERT_TRUE(InitializeSecurityDescriptor(&open, SECURITY_DESCRIPTOR_REVISION));
    PSID admins = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidA("BA", &admins));
    const UniqueLocal ownedAdmins(admins);
    ASSERT_TRUE(SetSecurityDescriptorOwner(&open, admins, FALSE));
    ASSERT_TRUE(SetSecurityDescriptorDacl(&open, TRUE, nullptr, FALSE));
    EXPECT_EQ(whyUntrusted(&open, nullptr), "no access list: everyone may change it");
    // Without the running account, its folder is another user's.
    EXPECT_EQ(verdict(std::string("O:") + kSelf + "D:(A;;FA;;;SY)", false),
              std::string("owned by ") + kSelf);
    // The descriptor the patch makes its folders with, as documented.
    EXPECT_STREQ(kOwnFolderSddl, "D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FR;;;BU)");

    // Each right to change the folder, granted to Users alone, fails it;
    // reading and listing do not.
    const unsigned long rights[] = {
        FILE_WRITE_DATA,   FILE_APPEND_DATA, FILE_WRITE_ATTRIBUTES, FILE_WRITE_EA, DELETE,
        FILE_DELETE_CHILD, WRITE_DAC,        WRITE_OWNER,           GENERIC_WRITE, GENERIC_ALL};
    for (const unsigned long right : rights) {
        char sddl[128];
        std::snprintf(sddl, sizeof sddl, "O:BAD:(A;;FA;;;SY)(A;;0x%lx;;;BU)", right);
        EXPECT_EQ(verdict(sddl), "writable by S-1-5-32-545") << sddl;
    }
    EXPECT_EQ(verdict("O:BAD:(A;;FA;;;SY)(A;;0x1200a9;;;BU)"), "");
}

TEST(FolderTrust, FoldersAsWineReportsThem)
{
    // Made by the patch, or made plainly: the running account's, passes.
    // Changeable by others: fails, and so does every folder below it.
    TempDir dir("trust-folders");
    ASSERT_TRUE(makeOwnFolder(dir / "own"));
    makeDirs(dir / "plain\\below");
    EXPECT_EQ(whyFolderUntrusted(dir / "own"), "");
    EXPECT_EQ(whyFoldersUntrusted(dir.path(), dir / "plain\\below"), "");
    letOthersChange(dir / "plain");
    EXPECT_EQ(whyFolderUntrusted(dir / "plain"), "writable by S-1-1-0");
    EXPECT_EQ(whyFoldersUntrusted(dir.path(), dir / "plain\\below"),
              dir / "plain" + ": writable by S-1-1-0");
    // Above the folders asked for: not looked at.
    EXPECT_EQ(whyFoldersUntrusted(dir / "plain", dir / "plain\\below"), "");
    // Made as the patch's own on the way; one that is there is checked.
    EXPECT_EQ(makeOwnFolders(dir.path(), dir / "own\\a\\b"), "");
    EXPECT_TRUE(dirExists(dir / "own\\a\\b"));
    EXPECT_EQ(makeOwnFolders(dir.path(), dir / "plain\\c"),
              dir / "plain" + ": writable by S-1-1-0");
    EXPECT_EQ(whyFolderUntrusted(dir / "none"), "cannot be opened (error 2)");
    // A missing folder fails, unless there is nothing below it to read.
    EXPECT_EQ(whyFoldersUntrusted(dir.path(), dir / "none\\below"),
              dir / "none" + ": cannot be opened (error 2)");
    EXPECT_EQ(whyFoldersUntrusted(dir.path(), dir / "none\\below", true), "");
}

} // namespace
