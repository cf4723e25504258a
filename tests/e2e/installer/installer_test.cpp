// The package out of process, in a Wine prefix that the fixture makes new for
// each run: msiexec installs it, a script client uses the installed service,
// another build of the same version and then a newer build upgrade it, and
// msiexec removes it; an installation whose switch fails ends and leaves
// nothing; the settings given as properties are written, kept and refused.
// What each step left is read with Wine's reg.exe, the service manager,
// Windows Installer's product list and the file system.

#include <windows.h>

#include <msi.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/e2e/service/program_run.h"
#include "tests/e2e/service/registry_listing.h"
#include "tests/e2e/service/script_run.h"
#include "tests/e2e/service/service_client.h"
#include "tests/e2e/service/tolvane_service.h"

namespace krvn_e2e {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// The package's upgrade code (installer/QuendorAlarm.wxs).
constexpr wchar_t kUpgradeCode[] = L"{5BCA5103-8FD3-42EA-A3ED-5A29D6ADD59B}";
// msiexec's own bound in these tests; a hung switch would hold it for ever.
constexpr DWORD kMsiexecBoundMs = 120000;

constexpr char kServiceKey[] = "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Tolvane";
constexpr char kEventSourceKey[] =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Tolvane";
constexpr char kRunKey[] = "HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kSettingsKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Alarm";
constexpr char kAppIdKey[] = "HKEY_CLASSES_ROOT\\AppID\\{D731F976-9C5E-4E8A-B8D7-9B030B4C90A7}";
constexpr char kServersClassKey[] =
    "HKEY_CLASSES_ROOT\\CLSID\\{B9B4F10E-E56A-4C54-AD6B-B6C9D28548A2}";
// What Tolvane registers besides the AppID: the three classes, their ProgIDs
// and the type library.
const char* const kRegistrationKeys[] = {
    "HKEY_CLASSES_ROOT\\CLSID\\{03CE622A-69AF-4F70-A170-D0A2CB0631F0}",
    "HKEY_CLASSES_ROOT\\CLSID\\{84FCF66D-791D-4245-AA61-B10FF171C2B2}",
    kServersClassKey,
    "HKEY_CLASSES_ROOT\\Tolvane.QNAlarm",
    "HKEY_CLASSES_ROOT\\Tolvane.QNServer",
    "HKEY_CLASSES_ROOT\\Tolvane.QNServers",
    "HKEY_CLASSES_ROOT\\TypeLib\\{74C3D34A-2C32-4987-862B-BC506646A24E}",
    "HKEY_CLASSES_ROOT\\AppID\\Tolvane.EXE",
};

std::string InstallFolder() {
    char folder[MAX_PATH] = {};
    ::GetEnvironmentVariableA("ProgramFiles", folder, MAX_PATH);
    return std::string(folder) + "\\Quendor Alarm";
}

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// The values of the key itself; empty when it does not exist.
RegistryValues Values(const std::string& key) {
    const auto listing = Relative(QueryRegistry(key), key);
    const auto found = listing.find("");
    return found == listing.end() ? RegistryValues() : found->second;
}

std::string ReadText(const std::wstring& path) {
    std::ifstream file(path.c_str(), std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // msiexec writes its log in UTF-16 on Windows and in ANSI under Wine.
    text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
    return text;
}

bool Exists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// properties: public properties for the command line ("COMPORT=COM5 ...").
::testing::AssertionResult Msiexec(const std::wstring& action, const char* package,
                                   const std::wstring& properties = L"") {
    const ProgramResult run =
        RunProgram(L"msiexec.exe " + action + L" \"" + DosPath(package) + L"\" /qn " + properties,
                   kMsiexecBoundMs);
    if (!run.finished || run.exitCode != 0) {
        return ::testing::AssertionFailure()
               << "msiexec " << std::string(action.begin(), action.end()) << " ended with "
               << run.exitCode << "\n"
               << run.output;
    }
    return ::testing::AssertionSuccess();
}

// The installed products of this package, whatever their build.
int InstalledBuilds() {
    int count = 0;
    wchar_t product[39];
    while (::MsiEnumRelatedProductsW(kUpgradeCode, 0, static_cast<DWORD>(count), product) ==
           ERROR_SUCCESS) {
        ++count;
    }
    return count;
}

void ExpectInstalled() {
    const std::string folder = InstallFolder();
    const std::string tolvane = folder + "\\Tolvane.exe";
    const std::string alarm = folder + "\\Alarm.exe";
    EXPECT_TRUE(Exists(tolvane));
    EXPECT_TRUE(Exists(alarm));

    RegistryValues service = Values(kServiceKey);
    EXPECT_EQ((RegistryValue{"REG_DWORD", "0x2"}), service["Start"]) << "automatic start";
    EXPECT_EQ((RegistryValue{"REG_SZ", Quoted(tolvane)}), service["ImagePath"]);
    RegistryValues appId = Values(kAppIdKey);
    EXPECT_EQ((RegistryValue{"REG_SZ", "Tolvane"}), appId["LocalService"]);
    for (const char* key : kRegistrationKeys) {
        EXPECT_FALSE(QueryRegistry(key).empty()) << key;
    }
    EXPECT_EQ((RegistryValue{"REG_SZ", Quoted(tolvane)}),
              Values(std::string(kServersClassKey) + "\\LocalServer32")["(Default)"]);

    EXPECT_EQ((RegistryValue{"REG_SZ", Quoted(alarm)}), Values(kRunKey)["Quendor Alarm"]);
    EXPECT_EQ((RegistryValues{{"EventMessageFile", {"REG_EXPAND_SZ", tolvane}},
                              {"TypesSupported", {"REG_DWORD", "0x7"}}}),
              Values(kEventSourceKey));
}

void ExpectOnlySettingsLeft(const RegistryValues& settings) {
    const std::string folder = InstallFolder();
    EXPECT_FALSE(Exists(folder)) << folder;
    EXPECT_EQ(0u, ServiceState()) << "no service";
    EXPECT_FALSE(FindProcess(L"Tolvane.exe")) << "the service was stopped";
    EXPECT_TRUE(QueryRegistry(kAppIdKey).empty());
    for (const char* key : kRegistrationKeys) {
        EXPECT_TRUE(QueryRegistry(key).empty()) << key;
    }
    EXPECT_EQ(0u, Values(kRunKey).count("Quendor Alarm"));
    EXPECT_TRUE(QueryRegistry(kEventSourceKey).empty());
    EXPECT_EQ(settings, Values(kSettingsKey));
}

TEST(Package, InstallsUpgradesAndRemovesKeepingOnlyTheServerList) {
    ASSERT_TRUE(Msiexec(L"/i", KRVN_PACKAGE));
    ExpectInstalled();
    EXPECT_EQ(1, InstalledBuilds());

    // A server that nothing answers, and a red-button port.
    std::vector<std::string> lines;
    ASSERT_TRUE(
        RunScript(L"list add 127.0.0.9 secret 9 refresh wait-state 2 20 list port COM5", lines));
    EXPECT_THAT(lines, ElementsAre("count 0", "added 127.0.0.9", "refreshed", "state 2", "count 1",
                                   StartsWith("item 0 127.0.0.9 9 "),
                                   StartsWith("each 127.0.0.9 9 "), "port COM5"));
    const RegistryValues settings = Values(kSettingsKey);
    ASSERT_EQ(1u, settings.count("ServerConfig"));
    ASSERT_EQ((RegistryValue{"REG_SZ", "COM5"}), settings.at("COM"));

    // Reinstalling by hand, as the troubleshooting advice says, keeps the
    // automatic start (Wine keeps the start type, not the failure actions).
    const ProgramResult reinstall =
        RunProgram(krvn_test::Wide(Quoted(InstallFolder() + "\\Tolvane.exe")) + L" -Service");
    ASSERT_TRUE(reinstall.finished);
    EXPECT_EQ(0u, reinstall.exitCode) << reinstall.output;
    ExpectInstalled();

    // Another build of the same version replaces the installed one.
    ASSERT_TRUE(Msiexec(L"/i", KRVN_SAME_VERSION_PACKAGE));
    ExpectInstalled();
    EXPECT_EQ(1, InstalledBuilds()) << "two builds side by side";
    EXPECT_EQ(settings, Values(kSettingsKey));
    ASSERT_TRUE(RunScript(L"wait-state 2 20 list", lines));
    EXPECT_THAT(lines, ElementsAre("state 2", "count 1", StartsWith("item 0 127.0.0.9 9 "),
                                   StartsWith("each 127.0.0.9 9 ")));

    ASSERT_TRUE(Msiexec(L"/i", KRVN_NEXT_PACKAGE));
    ExpectInstalled();
    EXPECT_EQ(1, InstalledBuilds());
    EXPECT_EQ(settings, Values(kSettingsKey));
    // The upgraded service reads the list back.
    ASSERT_TRUE(RunScript(L"wait-state 2 20 list", lines));
    EXPECT_THAT(lines, ElementsAre("state 2", "count 1", StartsWith("item 0 127.0.0.9 9 "),
                                   StartsWith("each 127.0.0.9 9 ")));

    ASSERT_TRUE(Msiexec(L"/x", KRVN_NEXT_PACKAGE));
    ExpectOnlySettingsLeft(settings);
    EXPECT_EQ(0, InstalledBuilds());
}

// The service manager refuses a second service whose display name is
// "Tolvane", so -Service fails for real: the installation must end, say why
// and leave nothing of the package behind.
TEST(Package, AnInstallationWhoseSwitchFailsEndsAndLeavesNothing) {
    const RegistryValues settings = Values(kSettingsKey);
    const ProgramResult block =
        RunProgram(L"sc.exe create TolvaneBlocker binpath= C:\\windows\\system32\\cmd.exe "
                   L"displayname= Tolvane");
    ASSERT_EQ(0u, block.exitCode) << block.output;

    const std::wstring log = DosPath(Env("KRVN_TEST_OUTPUT") + "/e2e_installer_failed.log");
    const ProgramResult run =
        RunProgram(L"msiexec.exe /i \"" + DosPath(KRVN_PACKAGE) + L"\" /qn /l*v \"" + log + L"\"",
                   kMsiexecBoundMs);
    EXPECT_TRUE(run.finished) << "msiexec still ran after " << kMsiexecBoundMs << " ms";
    EXPECT_NE(0u, run.exitCode);
    // Tolvane's own words on the standard error it shares with msiexec; the
    // log names the action that failed (on Windows also its exit code,
    // HRESULT_FROM_WIN32(1078)).
    EXPECT_THAT(run.output, HasSubstr("Tolvane: Could not start service (error 1078"));
    EXPECT_THAT(ReadText(log), HasSubstr("RegisterService"));

    ExpectOnlySettingsLeft(settings);
    EXPECT_EQ(0, InstalledBuilds());

    const ProgramResult unblock = RunProgram(L"sc.exe delete TolvaneBlocker");
    EXPECT_EQ(0u, unblock.exitCode) << unblock.output;
}

TEST(Package, WritesTheSettingsGivenAsPropertiesAndKeepsThemWhenNotGivenAgain) {
    const LSTATUS cleared = ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Corvane\\Alarm");
    ASSERT_TRUE(cleared == ERROR_SUCCESS || cleared == ERROR_FILE_NOT_FOUND) << cleared;
    ASSERT_TRUE(Msiexec(L"/i", KRVN_PACKAGE, L"COMPORT=COM5 ADMINONLY=1 CHECKDELAY=30"));
    ExpectInstalled();
    const RegistryValues given{{"COM", {"REG_SZ", "COM5"}},
                               {"AdminOnlyConfiguration", {"REG_DWORD", "0x1"}},
                               {"ConnectCheckDelay", {"REG_DWORD", "0x1e"}}};
    EXPECT_EQ(given, Values(kSettingsKey));
    {
        ServiceClient client;
        ASSERT_EQ(S_OK, client.Connect());
        EXPECT_EQ(L"COM5", client.ComPort()) << "the service watches the port it was given";
    }

    // An upgrade and a removal without the properties keep what the machine has.
    ASSERT_TRUE(Msiexec(L"/i", KRVN_NEXT_PACKAGE));
    EXPECT_EQ(given, Values(kSettingsKey));
    ASSERT_TRUE(Msiexec(L"/x", KRVN_NEXT_PACKAGE));
    EXPECT_EQ(given, Values(kSettingsKey));
    EXPECT_EQ(0, InstalledBuilds());
}

// A value the service would refuse fails the installation before anything is
// registered, with Tolvane's reason on standard error and the action named in
// the log, and the machine's settings stay as they were.
TEST(Package, ARefusedPropertyFailsTheInstallationWithItsReasonAndLeavesNothing) {
    const RegistryValues settings = Values(kSettingsKey);
    const std::wstring log = DosPath(Env("KRVN_TEST_OUTPUT") + "/e2e_installer_refused.log");
    const ProgramResult run =
        RunProgram(L"msiexec.exe /i \"" + DosPath(KRVN_PACKAGE) + L"\" /qn /l*v \"" + log +
                       L"\" COMPORT=COM0 CHECKDELAY=30",
                   kMsiexecBoundMs);
    EXPECT_TRUE(run.finished) << "msiexec still ran after " << kMsiexecBoundMs << " ms";
    EXPECT_NE(0u, run.exitCode);
    EXPECT_THAT(run.output,
                HasSubstr("Tolvane: COMPORT=COM0 is refused: not a serial port of this machine"));
    EXPECT_THAT(ReadText(log), HasSubstr("StoreInstallSettings"));

    ExpectOnlySettingsLeft(settings);
    EXPECT_EQ(0, InstalledBuilds());
}

} // namespace
} // namespace krvn_e2e
