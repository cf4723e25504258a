// The virtual red button as the port watcher sees it: a COM port of the Wine
// prefix whose DSR line follows the button while the program raises DTR.
// Runs with the vbutton fixture (tools/virtual_button/vbutton up).

#include "common/unique_handle.h"
#include "tests/support/environment.h"
#include "tests/support/virtual_button.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr DWORD kWaitLimitMs = 5000;
constexpr ULONG_PTR kStatusCancelled = 0xC0000120;

using krvn_test::DosPath;
using krvn_test::Env;
using Button = krvn_test::VirtualButton;

void Press() {
    ASSERT_TRUE(Button::Press()) << ::GetLastError();
}

void Release() {
    ASSERT_TRUE(Button::Release());
}

// Device names are reserved in every folder, so a link is looked up by listing.
bool HasDosDeviceLink(const std::string& port) {
    const std::wstring links = DosPath(Env("KRVN_WINEPREFIX") + "/dosdevices/*");
    const std::wstring wanted(port.begin(), port.end());
    WIN32_FIND_DATAW entry{};
    const HANDLE search = ::FindFirstFileW(links.c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "cannot list " << Env("KRVN_WINEPREFIX") << "/dosdevices";
        return false;
    }
    const auto endSearch = KRVN::scope_exit([search] { ::FindClose(search); });
    do {
        if (::lstrcmpiW(entry.cFileName, wanted.c_str()) == 0) {
            return true;
        }
    } while (::FindNextFileW(search, &entry));
    return false;
}

std::wstring PortPath(const std::string& name) {
    return L"\\\\.\\" + std::wstring(name.begin(), name.end());
}

KRVN::unique_hfile OpenPort(const std::string& name) {
    return KRVN::unique_hfile(::CreateFileW(PortPath(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                            nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
}

void SetDtrControl(HANDLE port, DWORD control) {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(::GetCommState(port, &dcb)) << ::GetLastError();
    dcb.fDtrControl = control;
    ASSERT_TRUE(::SetCommState(port, &dcb)) << ::GetLastError();
}

bool DsrOn(HANDLE port) {
    DWORD status = 0;
    EXPECT_TRUE(::GetCommModemStatus(port, &status)) << ::GetLastError();
    return (status & MS_DSR_ON) != 0;
}

// One overlapped WaitCommEvent; its OVERLAPPED and event outlive the wait.
class PendingWait {
public:
    explicit PendingWait(HANDLE port) : m_port(port), m_event(KRVN::unique_event::create()) {
        m_overlapped.hEvent = m_event.get();
        m_started =
            ::WaitCommEvent(port, &m_mask, &m_overlapped) || ::GetLastError() == ERROR_IO_PENDING;
    }
    PendingWait(const PendingWait&) = delete;
    PendingWait& operator=(const PendingWait&) = delete;

    ~PendingWait() {
        // A wait still pending would write into freed memory: end it first.
        if (m_started && !m_event.is_signaled()) {
            ::SetCommMask(m_port, 0);
            ::WaitForSingleObject(m_event.get(), kWaitLimitMs);
        }
    }

    bool Started() const { return m_started; }
    bool CompletedWithin(DWORD ms) const {
        return ::WaitForSingleObject(m_event.get(), ms) == WAIT_OBJECT_0;
    }

    // The events that ended the wait, or the error that ended it.
    DWORD Events() const { return m_mask; }
    DWORD Error() {
        DWORD transferred = 0;
        if (::GetOverlappedResult(m_port, &m_overlapped, &transferred, FALSE)) {
            return 0;
        }
        return ::GetLastError();
    }
    // Status of a wait whose handle is already closed.
    ULONG_PTR Status() const { return m_overlapped.Internal; }

private:
    HANDLE m_port;
    KRVN::unique_event m_event;
    OVERLAPPED m_overlapped{};
    DWORD m_mask = 0;
    bool m_started = false;
};

class VirtualButton : public ::testing::Test {
protected:
    void SetUp() override {
        m_portName = Env("KRVN_VBUTTON_PORT");
        ASSERT_FALSE(m_portName.empty()) << "run with the vbutton fixture";
        ASSERT_FALSE(Env("KRVN_VBUTTON_STATE").empty());
        Release();
        m_port = OpenPort(m_portName);
        ASSERT_TRUE(m_port) << "CreateFileW " << m_portName << ": " << ::GetLastError();
    }

    void TearDown() override { Release(); }

    HANDLE Port() const { return m_port.get(); }

    std::string m_portName;
    KRVN::unique_hfile m_port;
};

} // namespace

TEST_F(VirtualButton, DtrFollowsTheProgramAndDsrFollowsTheButtonWhileDtrIsRaised) {
    SetDtrControl(Port(), DTR_CONTROL_DISABLE);
    EXPECT_FALSE(Button::DtrRaised());
    SetDtrControl(Port(), DTR_CONTROL_ENABLE);
    EXPECT_TRUE(Button::DtrRaised());

    EXPECT_FALSE(DsrOn(Port()));
    Press();
    EXPECT_TRUE(DsrOn(Port()));

    // Without DTR the closed button carries nothing to DSR.
    ASSERT_TRUE(::EscapeCommFunction(Port(), CLRDTR));
    EXPECT_FALSE(Button::DtrRaised());
    EXPECT_FALSE(DsrOn(Port()));
    ASSERT_TRUE(::EscapeCommFunction(Port(), SETDTR));
    EXPECT_TRUE(Button::DtrRaised());
    EXPECT_TRUE(DsrOn(Port()));

    Release();
    EXPECT_FALSE(DsrOn(Port()));
}

TEST_F(VirtualButton, WaitCommEventCompletesOnEveryPressAndRelease) {
    SetDtrControl(Port(), DTR_CONTROL_ENABLE);
    ASSERT_TRUE(::SetCommMask(Port(), EV_DSR));

    for (int press = 0; press < 2; ++press) {
        for (const bool pressed : {true, false}) {
            PendingWait wait(Port());
            ASSERT_TRUE(wait.Started()) << ::GetLastError();
            EXPECT_FALSE(wait.CompletedWithin(50)) << "completed with no change of DSR";
            if (pressed) {
                Press();
            } else {
                Release();
            }
            ASSERT_TRUE(wait.CompletedWithin(kWaitLimitMs)) << "press " << press << " " << pressed;
            EXPECT_EQ(0u, wait.Error());
            EXPECT_EQ(static_cast<DWORD>(EV_DSR), wait.Events());
            EXPECT_EQ(pressed, DsrOn(Port()));
        }
    }
}

TEST_F(VirtualButton, ClearingTheMaskOrClosingThePortEndsAPendingWait) {
    SetDtrControl(Port(), DTR_CONTROL_ENABLE);
    ASSERT_TRUE(::SetCommMask(Port(), EV_DSR));
    {
        PendingWait wait(Port());
        ASSERT_TRUE(wait.Started()) << ::GetLastError();
        EXPECT_FALSE(wait.CompletedWithin(50));
        ASSERT_TRUE(::SetCommMask(Port(), 0));
        ASSERT_TRUE(wait.CompletedWithin(kWaitLimitMs));
        EXPECT_EQ(static_cast<DWORD>(ERROR_OPERATION_ABORTED), wait.Error());
    }

    ASSERT_TRUE(::SetCommMask(Port(), EV_DSR));
    PendingWait wait(Port());
    ASSERT_TRUE(wait.Started()) << ::GetLastError();
    m_port.reset();
    ASSERT_TRUE(wait.CompletedWithin(kWaitLimitMs));
    EXPECT_EQ(kStatusCancelled, wait.Status());

    // The port is free again.
    m_port = OpenPort(m_portName);
    EXPECT_TRUE(m_port) << ::GetLastError();
}

TEST_F(VirtualButton, AClickOfTheShellCommandEndsAPendingWait) {
    // Wine's own way for a Windows program to run a Unix one.
    using SpawnFn = LONG(WINAPI*)(char* const argv[], int wait);
    const auto spawn = reinterpret_cast<SpawnFn>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "__wine_unix_spawnvp")));
    ASSERT_NE(nullptr, spawn);

    SetDtrControl(Port(), DTR_CONTROL_ENABLE);
    ASSERT_TRUE(::SetCommMask(Port(), EV_DSR));
    PendingWait wait(Port());
    ASSERT_TRUE(wait.Started()) << ::GetLastError();

    std::string command = Env("KRVN_SOURCE_DIR") + "/tools/virtual_button/vbutton";
    std::string click = "click";
    char* argv[] = {command.data(), click.data(), nullptr};
    EXPECT_EQ(0, spawn(argv, 1));
    ASSERT_TRUE(wait.CompletedWithin(kWaitLimitMs));
    EXPECT_EQ(static_cast<DWORD>(EV_DSR), wait.Events());
    EXPECT_FALSE(DsrOn(Port()));
}

TEST(VirtualButtonPort, APortWithoutALinkIsNotFound) {
    EXPECT_TRUE(HasDosDeviceLink(Env("KRVN_VBUTTON_PORT")));
    ASSERT_FALSE(HasDosDeviceLink("COM9"));

    const KRVN::unique_hfile port = OpenPort("COM9");
    EXPECT_FALSE(port);
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), ::GetLastError());
}
