#pragma once
// Base of the tests that drive the service through a C++ client and the
// virtual red button: the button starts and ends released, and the client
// lets go of its objects before the service is cleaned away.

#include <windows.h>

#include <future>

#include <gtest/gtest.h>

#include "tests/e2e/service/service_client.h"
#include "tests/e2e/service/service_test.h"
#include "tests/support/virtual_button.h"
#include "tests/support/wait.h"

namespace krvn_e2e {

using krvn_test::VirtualButton;

// Long enough that no check runs while a test presses the button.
inline constexpr DWORD kQuietCheckDelaySeconds = 600;
// A change of the line that comes while the watcher is still busy with the
// last one can be missed: the next change waits until that one took effect.
inline constexpr DWORD kLineSettleMs = 300;

class ButtonServiceTest : public ServiceTest {
protected:
    void SetUp() override {
        ServiceTest::SetUp();
        VirtualButton::Release();
        VirtualButton::ForgetDtr();
    }

    void TearDown() override {
        m_client.Disconnect();
        VirtualButton::Release();
        ServiceTest::TearDown();
    }

    ::testing::AssertionResult Connect() {
        if (const HRESULT hr = m_client.Connect(); FAILED(hr)) {
            return ::testing::AssertionFailure() << "Connect: 0x" << std::hex << hr;
        }
        return ::testing::AssertionSuccess();
    }

    // Stops the service under the client's objects; the next Connect starts it.
    ::testing::AssertionResult Restart() {
        m_client.Disconnect();
        if (auto stopped = StopService(); !stopped) {
            return stopped;
        }
        VirtualButton::ForgetDtr();
        return Connect();
    }

    // The service installed with the stored settings, the client connected.
    ::testing::AssertionResult Install() {
        if (auto installed = Tolvane(L"-Service"); !installed) {
            return installed;
        }
        return Connect();
    }

    // The service installed, checking every checkDelaySeconds and watching
    // the button's port, the client connected.
    ::testing::AssertionResult InstallWatching(DWORD checkDelaySeconds) {
        SetConnectCheckDelay(checkDelaySeconds);
        SetComPortSetting(VirtualButton::Port());
        if (auto installed = Install(); !installed) {
            return installed;
        }
        if (!VirtualButton::WaitForDtr(kButtonWaitMs)) {
            return ::testing::AssertionFailure() << "the service does not watch the button";
        }
        return ::testing::AssertionSuccess();
    }

    // Tolvane.exe started by hand as the plain local server, watching the
    // button's port (the stored one unless the policy sets it), the client
    // connected to it. It prints its event texts on its console and ends by
    // itself once its last client has gone (a killed one would leave its
    // class objects registered).
    ::testing::AssertionResult
    StartPlainServer(const std::wstring& storedPort = VirtualButton::Port()) {
        if (auto registered = Tolvane(L"-RegServer"); !registered) {
            return registered;
        }
        SetComPortSetting(storedPort);
        m_plain = std::async(std::launch::async, [] { return RunTolvane(L""); });
        if (!VirtualButton::WaitForDtr(kButtonWaitMs)) {
            return ::testing::AssertionFailure() << "the server does not watch the button";
        }
        // The watched button tells the program runs; a moment later its class
        // objects are surely registered, so COM finds this process and starts
        // no second one.
        krvn_test::SettleFor(1000);
        return Connect();
    }

    // The client lets go, the plain local server ends; what it printed.
    ProgramResult EndPlainServer() {
        m_client.Disconnect();
        const ProgramResult run = m_plain.get();
        RecordProperty("console", run.output);
        return run;
    }

    static constexpr DWORD kButtonWaitMs = 10000;

    ServiceClient m_client;
    std::future<ProgramResult> m_plain;
};

} // namespace krvn_e2e
