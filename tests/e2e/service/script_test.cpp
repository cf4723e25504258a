// Script clients run by Wine's cscript against the running service. The
// VBScript client lists, adds and removes servers, indexes by position (its
// loop variable) and by address, enumerates with For Each, reads the state
// and sends the alarm, which the substitute disk servers log; a JScript
// client tries input that must be refused and enumerates with Enumerator.
// The test program stays alive meanwhile, so Wine keeps the service up.

#include <windows.h>

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/unique_handle.h"
#include "tests/e2e/service/script_run.h"
#include "tests/e2e/service/service_test.h"
#include "tests/support/substitute_server_process.h"

namespace krvn_e2e {
namespace {

using krvn_test::SubstituteServerProcess;
using ::testing::ElementsAre;

using ScriptClient = ServiceTest;

TEST_F(ScriptClient, ManagesAndAlarmsTheServerList) {
    SubstituteServerProcess disks;
    ASSERT_TRUE(disks.Start(L"--listen 127.0.0.2-127.0.0.3:0 --password secret --rpc"));
    const std::wstring port = std::to_wstring(disks.Port());
    const std::string portText(port.begin(), port.end());
    SetConnectCheckDelay(1);
    ASSERT_TRUE(Tolvane(L"-Service"));

    std::vector<std::string> lines;
    ASSERT_TRUE(RunScript(L"list add 127.0.0.3 secret " + port + L" add 127.0.0.2 secret " + port +
                              L" add Quendor-RPC secret 0 wait-state 1 20 list",
                          lines));
    ASSERT_THAT(lines,
                ElementsAre("count 0", "added 127.0.0.3", "added 127.0.0.2", "added Quendor-RPC",
                            "state 1", "count 3", "item 0 127.0.0.2 " + portText + " 0",
                            "item 1 127.0.0.3 " + portText + " 0", "item 2 Quendor-RPC 0 0",
                            "each 127.0.0.2 " + portText + " 0",
                            "each 127.0.0.3 " + portText + " 0", "each Quendor-RPC 0 0"));

    // Addresses are found in any letter case; the listed spelling comes back.
    ASSERT_TRUE(RunScript(L"find quendor-rpc find 127.0.0.3 state alarm port COM9", lines));
    ASSERT_THAT(lines, ElementsAre("found Quendor-RPC 0 0", "found 127.0.0.3 " + portText + " 0",
                                   "state 1", "alarm 0", "port COM9"));
    EXPECT_TRUE(disks.WaitForEvents("unmount", 2, 10000)) << disks.LogText();
    EXPECT_TRUE(disks.WaitForEvents("RemoteAlarm", 1, 10000)) << disks.LogText();
    std::vector<std::string> unmounted;
    for (const auto& event : disks.Events("unmount")) {
        unmounted.push_back(event.where);
    }
    EXPECT_THAT(unmounted, ElementsAre("127.0.0.2:" + portText, "127.0.0.3:" + portText));

    ASSERT_TRUE(RunScript(L"remove 127.0.0.3 remove QUENDOR-RPC list", lines));
    ASSERT_THAT(lines, ElementsAre("removed 127.0.0.3", "removed QUENDOR-RPC", "count 1",
                                   "item 0 127.0.0.2 " + portText + " 0",
                                   "each 127.0.0.2 " + portText + " 0"));
}

TEST_F(ScriptClient, BadInputChangesNothingAndJScriptEnumerates) {
    ASSERT_TRUE(Tolvane(L"-Service"));
    std::vector<std::string> lines;
    ASSERT_TRUE(RunScript(L"add keep.test pw 0 add other.test pw 0 port COM5", lines));
    ASSERT_TRUE(RunScriptFile(KRVN_BAD_INPUT_CLIENT, L"keep.test other.test", lines));
    // E_INVALIDARG for strings with a zero inside and for addresses with
    // control characters or beyond 255 characters; E_ACCESSDENIED for a new
    // address of a listed server and for its state, which is the service's.
    EXPECT_THAT(lines,
                ElementsAre("address 80070057", "password 80070057", "remove 80070057",
                            "port 80070057", "rename 80070005", "address-cr 80070057",
                            "address-lf 80070057", "address-tab 80070057", "address-256 80070057",
                            "address-255 accepted", "state 80070005", "own-state accepted",
                            "port COM5", "each keep.test", "each other.test", "count 2"));
}

// This process's token with Administrators for deny only: a standard user.
KRVN::unique_handle StandardUserToken() {
    KRVN::unique_handle own;
    KRVN::unique_handle restricted;
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof sid;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, own.put()) &&
        ::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &size)) {
        SID_AND_ATTRIBUTES administrators{sid, 0};
        ::CreateRestrictedToken(own.get(), 0, 1, &administrators, 0, nullptr, 0, nullptr,
                                restricted.put());
    }
    return restricted;
}

TEST_F(ScriptClient, AdministratorsOnlyKeepsAStandardUserFromTheConfigurationNotTheAlarm) {
    SubstituteServerProcess disk;
    ASSERT_TRUE(disk.Start(L"--listen 127.0.0.2:0 --password secret"));
    const std::wstring port = std::to_wstring(disk.Port());
    ASSERT_TRUE(Tolvane(L"-Service"));
    std::vector<std::string> lines;
    ASSERT_TRUE(RunScript(L"try 127.0.0.2 secret " + port + L" port COM5", lines));
    const StoredValue image = ReadServerListSetting();
    ASSERT_TRUE(WriteAdminOnly(1));
    const KRVN::unique_handle user = StandardUserToken();
    ASSERT_TRUE(user);

    ASSERT_TRUE(
        RunScriptFile(KRVN_STANDARD_USER_CLIENT, L"127.0.0.2 COM6", lines, 60000, user.get()));
    EXPECT_THAT(lines, ElementsAre("add 80070005", "try 80070005", "password 80070005",
                                   "server-port 80070005", "reads password []", "alarm accepted",
                                   "remove 80070005", "port 80070005", "count 1"));
    EXPECT_TRUE(disk.WaitForEvents("unmount", 1, 10000)) << disk.LogText();
    EXPECT_EQ(image.bytes, ReadServerListSetting().bytes);
    ASSERT_TRUE(RunScript(L"list", lines));
    EXPECT_THAT(lines, ::testing::Contains("item 0 127.0.0.2 " +
                                           std::string(port.begin(), port.end()) + " 0"));

    // Off again: the same user changes what it likes.
    ASSERT_TRUE(WriteAdminOnly(0));
    ASSERT_TRUE(
        RunScriptFile(KRVN_STANDARD_USER_CLIENT, L"127.0.0.2 COM6", lines, 60000, user.get()));
    EXPECT_THAT(lines, ::testing::Contains("remove accepted"));
    EXPECT_THAT(lines, ::testing::Contains("port accepted"));
}

TEST_F(ScriptClient, RuntimeErrorsDoNotPassForSuccess) {
    ASSERT_TRUE(Tolvane(L"-Service"));
    std::vector<std::string> lines;
    // Item of an address that is not listed gives no object.
    EXPECT_FALSE(RunScript(L"find nowhere", lines));
}

} // namespace
} // namespace krvn_e2e
