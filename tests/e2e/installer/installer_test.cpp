// The package out of process, in a Wine prefix that the fixture makes new for
// each run: msiexec installs it, a script client uses the installed service,
// a newer build upgrades it and msiexec removes it. What each step left is
// read with Wine's reg.exe, the service manager and the file system.

#include <windows.h>

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/e2e/service/program_run.h"
#include "tests/e2e/service/registry_listing.h"
#include "tests/e2e/service/script_run.h"
#include "tests/e2e/service/tolvane_service.h"

namespace krvn_e2e {
namespace {

using ::testing::ElementsAre;
using ::testing::StartsWith;

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

bool Exists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

::testing::AssertionResult Msiexec(const std::wstring& action, const char* package) {
    const ProgramResult run =
        RunProgram(L"msiexec.exe " + action + L" \"" + DosPath(package) + L"\" /qn", 120000);
    if (!run.finished || run.exitCode != 0) {
        return ::testing::AssertionFailure()
               << "msiexec " << std::string(action.begin(), action.end()) << " ended with "
               << run.exitCode << "\n"
               << run.output;
    }
    return ::testing::AssertionSuccess();
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

    ASSERT_TRUE(Msiexec(L"/i", KRVN_NEXT_PACKAGE));
    ExpectInstalled();
    EXPECT_EQ(settings, Values(kSettingsKey));
    // The upgraded service reads the list back.
    ASSERT_TRUE(RunScript(L"wait-state 2 20 list", lines));
    EXPECT_THAT(lines, ElementsAre("state 2", "count 1", StartsWith("item 0 127.0.0.9 9 "),
                                   StartsWith("each 127.0.0.9 9 ")));

    ASSERT_TRUE(Msiexec(L"/x", KRVN_NEXT_PACKAGE));
    ExpectOnlySettingsLeft(settings);
}

} // namespace
} // namespace krvn_e2e
