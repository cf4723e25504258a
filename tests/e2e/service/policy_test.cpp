// The organisation's policy against the plain local server, out of process:
// a policy value wins over the stored setting at start and while the
// program runs, a managed port takes no put, and a removed value brings the
// stored setting back. The program prints its policy events on its console.

#include <windows.h>

#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "config/setting_names.h"
#include "tests/e2e/service/button_service_test.h"
#include "tests/e2e/service/disk_server.h"
#include "tests/e2e/service/program_run.h"
#include "tests/support/wait.h"

namespace krvn_e2e {
namespace {

constexpr DWORD kWaitMs = 10000;
const std::string kPolicyKey = "HKLM\\SOFTWARE\\Policies\\Corvane\\Alarm";

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

using PolicyTest = ButtonServiceTest;

TEST_F(PolicyTest, APolicyPortIsWatchedFromStartTakesNoPutAndGivesWayToTheStoredOne) {
    const std::wstring button = VirtualButton::Port();
    ASSERT_TRUE(WritePolicyText(KRVN::kComPortValue, button));
    // The button's line goes up only when the policy's port is watched.
    ASSERT_TRUE(StartPlainServer(L"COM9"));
    EXPECT_EQ(button, m_client.ComPort());
    EXPECT_EQ(E_ACCESSDENIED, m_client.SetComPort(L"COM7"));
    EXPECT_EQ(E_ACCESSDENIED, m_client.SetComPort(button));
    EXPECT_EQ(L"COM9", StoredComPort());
    EXPECT_EQ(button, m_client.ComPort());

    ASSERT_TRUE(DeletePolicyValue(KRVN::kComPortValue));
    EXPECT_TRUE(krvn_test::WaitUntil([&] { return m_client.ComPort() == L"COM9"; }, kWaitMs));
    EXPECT_EQ(S_OK, m_client.SetComPort(L"COM8"));

    VirtualButton::ForgetDtr();
    ASSERT_TRUE(WritePolicyText(KRVN::kComPortValue, button));
    EXPECT_TRUE(VirtualButton::WaitForDtr(kWaitMs));
    EXPECT_EQ(button, m_client.ComPort());
    EXPECT_EQ(L"COM8", StoredComPort());

    const ProgramResult run = EndPlainServer();
    EXPECT_TRUE(run.finished);
    const std::string port(button.begin(), button.end());
    EXPECT_EQ(2u, Count(run.output, "Policy: COM is " + port +
                                        ", set by the organisation's policy under " + kPolicyKey))
        << run.output;
    EXPECT_EQ(1u, Count(run.output, "Policy: COM is no longer set under " + kPolicyKey +
                                        "; the service's own setting applies: COM9."))
        << run.output;
    // Only the put that was taken changed the port.
    EXPECT_EQ(1u, Count(run.output, "The red-button port was changed from ")) << run.output;
}

TEST_F(PolicyTest, APolicyCheckPeriodAppliesAtOnceAndEachBadValueIsReportedOnce) {
    SubstituteServerProcess disk;
    ASSERT_TRUE(disk.Start(Listen(L"127.0.0.7")));
    SetConnectCheckDelay(kQuietCheckDelaySeconds);
    ASSERT_TRUE(WritePolicyDword(KRVN::kAdminOnlyValue, 7));
    ASSERT_TRUE(StartPlainServer());
    ASSERT_EQ(0, m_client.TryConnect(SocketServer(L"127.0.0.7", disk)));

    // The checker starts again on the new period and checks at once; a lost
    // server then shows within a period, where the stored one would take
    // ten minutes.
    ASSERT_TRUE(WritePolicyDword(KRVN::kCheckDelayValue, 1));
    EXPECT_TRUE(m_client.WaitForState(AllConnected, kWaitMs));
    ASSERT_TRUE(disk.Stop());
    EXPECT_TRUE(m_client.WaitForState(AllDisconnected, kWaitMs));

    // The same bad value written again is no change; another one is.
    ASSERT_TRUE(WritePolicyDword(KRVN::kAdminOnlyValue, 7));
    ASSERT_TRUE(WritePolicyText(KRVN::kAdminOnlyValue, L"1"));
    ASSERT_TRUE(DeletePolicyValue(KRVN::kCheckDelayValue));
    EXPECT_EQ(S_OK, m_client.Remove(L"127.0.0.7"));

    // The program outlives its last client by seconds: the watch has read
    // the last changes by then.
    const ProgramResult run = EndPlainServer();
    EXPECT_TRUE(run.finished);
    const std::string ignored =
        "Policy: the value AdminOnlyConfiguration under " + kPolicyKey + " is ignored: it holds ";
    EXPECT_EQ(1u, Count(run.output, ignored + "REG_DWORD 7, where a REG_DWORD, 0 or 1 is "
                                              "expected. The service's own setting applies: 0."))
        << run.output;
    EXPECT_EQ(1u, Count(run.output, ignored + "REG_SZ \"1\", where")) << run.output;
    EXPECT_EQ(1u, Count(run.output, "Policy: ConnectCheckDelay is 1, set by")) << run.output;
    EXPECT_EQ(1u, Count(run.output, "Policy: ConnectCheckDelay is no longer set under " +
                                        kPolicyKey + "; the service's own setting applies: 600."))
        << run.output;
}

} // namespace
} // namespace krvn_e2e
