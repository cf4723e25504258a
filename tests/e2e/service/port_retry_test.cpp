// The red-button port watcher against a port that goes away, out of process:
// the button's adapter unplugged under the running program and plugged back,
// and a port that never opens. The plain local server prints its event-log
// texts on its console, where the test reads them (Wine's event log keeps
// nothing that can be read back).

#include <windows.h>

#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/e2e/service/button_service_test.h"
#include "tests/e2e/service/disk_server.h"
#include "tests/e2e/service/program_run.h"
#include "tests/support/scripted_alarm_server.h"
#include "tests/support/substitute_server_process.h"
#include "tests/support/wait.h"

namespace krvn_e2e {
namespace {

using ::testing::HasSubstr;

// The watcher's pause between two tries of a failed port.
constexpr DWORD kRetryMs = 3000;
constexpr DWORD kWaitMs = 10000;
// Longest answer to a client call while the watcher retries.
constexpr ULONGLONG kPromptAnswerMs = 1000;

size_t Count(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

class PortRetryTest : public ButtonServiceTest {
protected:
    void SetUp() override {
        ButtonServiceTest::SetUp();
        ASSERT_TRUE(m_disk.Start(Listen(L"127.0.0.2")));
        SetConnectCheckDelay(kQuietCheckDelaySeconds);
    }

    void TearDown() override {
        // Whatever the test left, the next one finds the button plugged in.
        EXPECT_TRUE(VirtualButton::PlugIn());
        ButtonServiceTest::TearDown();
    }

    // The service or server answers at once while its watcher retries.
    void ExpectPromptAnswers(const std::wstring& port) {
        const ULONGLONG asked = ::GetTickCount64();
        EXPECT_EQ(port, m_client.ComPort());
        EXPECT_EQ(1, m_client.Count());
        EXPECT_LT(::GetTickCount64() - asked, kPromptAnswerMs);
    }

    SubstituteServerProcess m_disk;
};

TEST_F(PortRetryTest, AnUnpluggedButtonIsWatchedAgainOnceItIsBack) {
    ASSERT_TRUE(StartPlainServer());
    ASSERT_EQ(0, m_client.TryConnect(SocketServer(L"127.0.0.2", m_disk)));

    ASSERT_TRUE(VirtualButton::Unplug());
    krvn_test::QuietFor(3 * kRetryMs);
    ExpectPromptAnswers(VirtualButton::Port());
    EXPECT_TRUE(m_disk.Events("unmount").empty()) << "a failed wait is no press";

    VirtualButton::ForgetDtr();
    const ULONGLONG plugged = ::GetTickCount64();
    ASSERT_TRUE(VirtualButton::PlugIn());
    ASSERT_TRUE(VirtualButton::WaitForDtr(kWaitMs));
    ASSERT_TRUE(VirtualButton::Press());
    EXPECT_TRUE(m_disk.WaitForEvents("unmount", 1, kWaitMs)) << m_disk.LogText();
    EXPECT_LE(::GetTickCount64() - plugged, kWaitMs);

    // A listed server is an object of the process that keeps it alive.
    EXPECT_EQ(S_OK, m_client.Remove(L"127.0.0.2"));
    const ProgramResult run = EndPlainServer();
    EXPECT_TRUE(run.finished);
    // The failed wait and then the missing port: one warning for each error
    // however many tries, then one line for the port back.
    const std::wstring wide = VirtualButton::Port();
    const std::string port(wide.begin(), wide.end());
    const std::string failed = "Red-button port " + port + " cannot be used: error ";
    EXPECT_THAT(run.output, HasSubstr(failed + "2 ("));
    EXPECT_LE(Count(run.output, failed), 2u) << run.output;
    EXPECT_EQ(1u, Count(run.output, "Red-button port " + port + " works again.")) << run.output;
}

TEST_F(PortRetryTest, APortThatNeverOpensLeavesTheServiceAnsweringWithoutAlarm) {
    SetComPortSetting(L"COM9");
    ASSERT_TRUE(Install());
    ASSERT_EQ(0, m_client.TryConnect(SocketServer(L"127.0.0.2", m_disk)));
    for (int round = 0; round < 3; ++round) {
        ExpectPromptAnswers(L"COM9");
        krvn_test::QuietFor(kRetryMs);
    }
    EXPECT_TRUE(m_disk.Events("unmount").empty()) << m_disk.LogText();
}

// A stop that comes while a press's pass is still sending waits for the
// pass: the order of a server that answers slowly is not lost with the
// process.
TEST_F(PortRetryTest, AStopDuringAPressFinishesThePassFirst) {
    krvn_test::ScriptedAlarmServer slow;
    ASSERT_TRUE(slow.Start("127.0.0.3"));
    ASSERT_TRUE(InstallWatching(kQuietCheckDelaySeconds));
    ASSERT_EQ(0, m_client.TryConnect({L"127.0.0.3", L"secret", slow.Port()}));
    // It restarts and answers the next handshake after three seconds.
    slow.SetScript({3000, "yes", "", 0});
    slow.CloseConnections();

    ASSERT_TRUE(VirtualButton::Press());
    krvn_test::PauseFor(500);
    m_client.Disconnect();
    EXPECT_TRUE(StopService());
    EXPECT_TRUE(slow.WaitForOrders(1, 2000)) << "the stop ended the pass";
}

} // namespace
} // namespace krvn_e2e
