#include "key_permission.h"

#include <gtest/gtest.h>

#include "fake_system_setup.h"

namespace tessaly::removal {
namespace {

using testing::ExpectNoLeaks;
using winsys::fake::Acl;
using winsys::fake::FakeWindows;

constexpr char kKey[] = "HKLM\\SYSTEM\\Test";

TEST(ParseKeyRights, CombinesKnownPairsAndFlagsTheRest) {
    struct Case {
        const char* text;
        DWORD error;
        DWORD mask;
    };
    for (const Case& c : {Case{"Fc", 0, 0xF003F}, Case{"fC", 0, 0xF003F}, Case{"RdWr", 0, 0x2003F},
                          Case{"Rdx", 87, 0}, Case{"RdXy", 87, 0x20019}, Case{"XyRd", 87, 0x20019},
                          Case{"", 0, 0}}) {
        const KeyRights rights = ParseKeyRights(c.text);
        EXPECT_EQ(rights.error, c.error) << c.text;
        EXPECT_EQ(rights.mask, c.mask) << c.text;
    }
}

class ApplyKeyPermissionTest : public ::testing::Test {
  protected:
    ApplyKeyPermissionTest() {
        win.SetKeyDacl(kKey, Acl{{"SYSTEM", 0xF003F, false, 0, false}});
        win.CreateKey(std::string(kKey) + "\\Child");
        win.SetKeyDacl(std::string(kKey) + "\\Child", Acl{});
        win.journal().Clear();
    }

    // The one entry the call built, as the journal shows it.
    std::string BuiltEntry() const {
        const auto lines = win.journal().Matching("BuildExplicitAccessWithNameA");
        return lines.size() == 1 ? lines[0] : "none";
    }

    FakeWindows win;
};

TEST_F(ApplyKeyPermissionTest, GrantMergesOneInheritableEntryAndReleasesEverything) {
    EXPECT_EQ(ApplyKeyPermission(win, "HKLM\\SYSTEM\\Test", "/PG:Everyone:Fc"), 0u);
    EXPECT_EQ(BuiltEntry(), "BuildExplicitAccessWithNameA(\"Everyone\", 0xF003F, 1, 2)");
    // Opened with the rights a DACL rewrite needs.
    EXPECT_TRUE(
        win.journal().Contains("RegOpenKeyExA(HKEY_LOCAL_MACHINE, \"SYSTEM\\Test\", 0, 0x60000)"));
    const Acl acl = *win.KeyDacl(kKey);
    ASSERT_EQ(acl.size(), 2u);
    EXPECT_EQ(acl[1].trustee, "Everyone");
    EXPECT_EQ(acl[1].mask, 0xF003Fu);
    EXPECT_EQ(acl[1].inheritance, 2u);
    // Only the key itself is rewritten; its subkey gets the entry by inheritance.
    const Acl child = *win.KeyDacl(std::string(kKey) + "\\Child");
    ASSERT_EQ(child.size(), 1u);
    EXPECT_TRUE(child[0].inherited);
    ExpectNoLeaks(win);
}

TEST_F(ApplyKeyPermissionTest, SwitchAndRightsAreCaseInsensitive) {
    EXPECT_EQ(ApplyKeyPermission(win, kKey, "/pg:Everyone:fc"), 0u);
    EXPECT_EQ(BuiltEntry(), "BuildExplicitAccessWithNameA(\"Everyone\", 0xF003F, 1, 2)");
}

TEST_F(ApplyKeyPermissionTest, RightsFieldGivesTheMaskEvenWhenPartlyMalformed) {
    struct Case {
        const char* permission;
        const char* entry;
    };
    for (const Case& c : {Case{"/PG:Users:RdWr", "(\"Users\", 0x2003F, 1, 2)"},
                          Case{"/PG:Users:Rdx", "(\"Users\", 0x0, 1, 2)"},
                          Case{"/PG:Users:RdXy", "(\"Users\", 0x20019, 1, 2)"},
                          Case{"/PS:Users::Wr", "(\"Users\", 0x20026, 2, 2)"},
                          Case{"/PD:Users:Wr", "(\"Users\", 0x20026, 3, 2)"},
                          Case{"/XG:Everyone:Fc", "(\"Everyone\", 0x0, 0, 2)"}}) {
        win.journal().Clear();
        EXPECT_EQ(ApplyKeyPermission(win, kKey, c.permission), 0u) << c.permission;
        EXPECT_EQ(BuiltEntry(), std::string("BuildExplicitAccessWithNameA") + c.entry)
            << c.permission;
        EXPECT_TRUE(win.journal().Contains("SetSecurityInfo")) << c.permission;
    }
    ExpectNoLeaks(win);
}

TEST_F(ApplyKeyPermissionTest, RevokeNeedsNoRightsAndRemovesTheTrustee) {
    ASSERT_EQ(ApplyKeyPermission(win, kKey, "/PG:Everyone:Rd"), 0u);
    EXPECT_EQ(ApplyKeyPermission(win, kKey, "/PR:Everyone"), 0u);
    const Acl acl = *win.KeyDacl(kKey);
    ASSERT_EQ(acl.size(), 1u);
    EXPECT_EQ(acl[0].trustee, "SYSTEM");
}

TEST_F(ApplyKeyPermissionTest, MalformedSpecificationsFailBeforeAnyKeyIsOpened) {
    for (const char* permission :
         {"/PG:Everyone", "/PG:Everyone:", "/PX:Everyone:Fc", "/P:Everyone:Fc", "/PG", ""}) {
        win.journal().Clear();
        EXPECT_EQ(ApplyKeyPermission(win, kKey, permission), 87u) << permission;
        EXPECT_EQ(win.journal().Size(), 0u) << permission;
    }
}

TEST_F(ApplyKeyPermissionTest, KeyPathsSelectRootAndMachine) {
    // The root alone is the key itself.
    EXPECT_EQ(ApplyKeyPermission(win, "HKLM", "/PG:Everyone:Rd"), 0u);
    EXPECT_FALSE(win.journal().Contains("RegOpenKeyExA"));
    EXPECT_TRUE(win.journal().Contains("GetSecurityInfo(HKEY_LOCAL_MACHINE, 4, 4)"));

    for (const char* path :
         {"HKXX\\SOFTWARE", "\\\\HOST\\HKCU\\Software", "\\\\HOST\\HKCR\\x", ""}) {
        win.journal().Clear();
        EXPECT_EQ(ApplyKeyPermission(win, path, "/PG:Everyone:Fc"), 87u) << path;
        EXPECT_EQ(win.journal().Size(), 0u) << path;
    }

    FakeWindows host(winsys::fake::FakeConfig{.computerName = "HOST"});
    EXPECT_EQ(ApplyKeyPermission(host, "\\\\HOST\\HKU\\.DEFAULT", "/PG:Everyone:Rd"), 0u);
    EXPECT_TRUE(host.journal().Contains("RegConnectRegistryA(\"\\\\HOST\", HKEY_USERS)"));
    EXPECT_TRUE(host.journal().Contains("RegOpenKeyExA(#"));
    EXPECT_EQ(host.KeyDacl("HKU\\.DEFAULT")->size(), 1u);
    ExpectNoLeaks(host);
}

TEST_F(ApplyKeyPermissionTest, RegistryAndSecurityErrorsAreReturnedWithNothingLeaked) {
    EXPECT_EQ(ApplyKeyPermission(win, "\\\\ELSEWHERE\\HKLM\\SOFTWARE", "/PG:Everyone:Fc"), 53u);
    EXPECT_EQ(ApplyKeyPermission(win, "\\\\DESK-01\\HKLM\\SOFTWARE\\Missing", "/PG:Everyone:Fc"),
              2u);
    EXPECT_EQ(ApplyKeyPermission(win, kKey, "/PG:Nobody:Fc"), 1332u);
    win.FailCall("GetSecurityInfo", 5, {}, 1);
    EXPECT_EQ(ApplyKeyPermission(win, kKey, "/PG:Everyone:Fc"), 5u);
    win.FailCall("SetSecurityInfo", 1722, {}, 1);
    EXPECT_EQ(ApplyKeyPermission(win, kKey, "/PG:Everyone:Fc"), 1722u);
    EXPECT_EQ(win.KeyDacl(kKey)->size(), 1u);
    ExpectNoLeaks(win);
}

constexpr char kUsbPrintRemote[] =
    "\\\\DESK-01\\HKLM\\SYSTEM\\CurrentControlSet\\Enum\\USBPRINT\\Vantreel_R-3";
constexpr char kUsbPrintSubKey[] = "SYSTEM\\CurrentControlSet\\Enum\\USBPRINT\\Vantreel_R-3";

TEST(GrantEveryoneAndDeleteKey, OpensUpAProtectedKeyAndDeletesIt) {
    FakeWindows win;
    testing::AddProtectedEnumKey(win, testing::kUsbPrintKey);
    // Without the grant the key cannot be deleted.
    ASSERT_EQ(win.RegDeleteKeyExA(winsys::HKEY_LOCAL_MACHINE, kUsbPrintSubKey,
                                  winsys::KEY_WOW64_64KEY, 0),
              5u);
    RemovalReport report;
    GrantEveryoneAndDeleteKey(win, kUsbPrintRemote, kUsbPrintSubKey, report);
    EXPECT_FALSE(win.KeyExists(testing::kUsbPrintKey));
    EXPECT_TRUE(report.Empty());
    ExpectNoLeaks(win);
}

TEST(GrantEveryoneAndDeleteKey, AKeyThatStaysGetsItsPermissionsBack) {
    FakeWindows win;
    testing::AddProtectedEnumKey(win, testing::kUsbPrintKey);
    testing::AddProtectedEnumKey(win, testing::kUsbPrintInstance);
    RemovalReport report;
    GrantEveryoneAndDeleteKey(win, kUsbPrintRemote, kUsbPrintSubKey, report);
    // The device instance under it keeps the key; nobody gained a right on either.
    ASSERT_TRUE(win.KeyExists(testing::kUsbPrintKey));
    EXPECT_EQ(win.KeyDacl(testing::kUsbPrintKey), testing::kEnumKeyDacl);
    const Acl instance = win.KeyDacl(testing::kUsbPrintInstance).value_or(Acl{});
    for (const auto& ace : instance) EXPECT_FALSE(ace.trustee == "Everyone" && ace.mask == 0xF003F);
    EXPECT_TRUE(report.Empty());
    ExpectNoLeaks(win);

    // Should the old permissions not go back, the report says so.
    win.FailCall("SetSecurityInfo", winsys::ERROR_ACCESS_DENIED, {}, 1, 1);
    GrantEveryoneAndDeleteKey(win, kUsbPrintRemote, kUsbPrintSubKey, report);
    EXPECT_EQ(report.Text(win, false),
              "The permissions of registry key "
              "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\USBPRINT\\Vantreel_R-3 could "
              "not be put back, so everyone may change it: Access is denied.");
    ExpectNoLeaks(win);
}

TEST(GrantEveryoneAndDeleteKey, AKeyTheAdministratorsDoNotOwnIsLeftAsItWas) {
    FakeWindows win;
    testing::AddProtectedEnumKey(win, testing::kUsbPrintKey);
    win.SetKeyOwner(testing::kUsbPrintKey, "SYSTEM");
    RemovalReport report;
    GrantEveryoneAndDeleteKey(win, kUsbPrintRemote, kUsbPrintSubKey, report);
    EXPECT_TRUE(win.journal().Contains(
        "\"SYSTEM\\CurrentControlSet\\Enum\\USBPRINT\\Vantreel_R-3\", 0, 0x60000) -> 5"));
    EXPECT_TRUE(win.KeyExists(testing::kUsbPrintKey));
    EXPECT_EQ(win.KeyDacl(testing::kUsbPrintKey), testing::kEnumKeyDacl);
    EXPECT_TRUE(report.Empty());
    ExpectNoLeaks(win);
}

TEST(GrantEveryoneAndDeleteKey, MissingKeyEndsSilently) {
    FakeWindows win;
    RemovalReport report;
    GrantEveryoneAndDeleteKey(win, "\\\\DESK-01\\HKLM\\SYSTEM\\Nothing", "SYSTEM\\Nothing", report);
    EXPECT_EQ(win.journal().Matching("RegDeleteKeyExA").at(0),
              "RegDeleteKeyExA(HKEY_LOCAL_MACHINE, \"SYSTEM\\Nothing\", 0x100, 0) -> 2");
    EXPECT_TRUE(win.Messages().empty());
    EXPECT_TRUE(report.Empty());
    ExpectNoLeaks(win);
}

}  // namespace
}  // namespace tessaly::removal
