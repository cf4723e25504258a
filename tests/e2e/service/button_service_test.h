#pragma once
// Base of the tests that drive the service through a C++ client and the
// virtual red button: the button starts and ends released, and the client
// lets go of its objects before the service is cleaned away.

#include <windows.h>

#include <gtest/gtest.h>

#include "tests/e2e/service/service_client.h"
#include "tests/e2e/service/service_test.h"
#include "tests/e2e/service/virtual_button.h"

namespace krvn_e2e {

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

    static constexpr DWORD kButtonWaitMs = 10000;

    ServiceClient m_client;
};

} // namespace krvn_e2e
