#pragma once
// A tray-style client (tray_client.cpp) as the campaign runs it: started and
// advised, asked to let go and end, or killed while advised; and what its
// log tells: the presses its sink took, and the calls it made into the
// service, each with how long the service took to answer.

#include <windows.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/unique_handle.h"
#include "tests/chaos/tray_client_mode.h"
#include "tests/support/log_tail.h"

namespace krvn_chaos {

class TrayClientProcess {
public:
    TrayClientProcess(int id, IconMode icon, ButtonMode button);
    ~TrayClientProcess();
    TrayClientProcess(const TrayClientProcess&) = delete;
    TrayClientProcess& operator=(const TrayClientProcess&) = delete;

    // Starts it with its log at logPath and waits up to readyBoundMs until
    // it has advised its sinks. removed: the address its Remove mode removes.
    ::testing::AssertionResult Start(const std::wstring& logPath, const std::wstring& removed,
                                     DWORD readyBoundMs);
    // Asks it to let go of its sinks and end; true when it ended within
    // boundMs (it is killed otherwise).
    bool Quit(DWORD boundMs);
    void Kill();
    bool Alive() const;

    int Id() const noexcept { return m_id; }
    IconMode Icon() const noexcept { return m_icon; }
    ButtonMode Button() const noexcept { return m_button; }

    // Reads what its log gained.
    void Poll();
    long Presses() const noexcept { return m_presses; }
    // Whether the client's call of proc was answered with S_OK.
    bool Succeeded(const std::string& proc) const;
    // Its calls into the service that took longer than boundMs, or are still
    // unanswered after it, each told once: "RefreshState unanswered after
    // 15000 ms".
    std::vector<std::string> TakeSlowCalls(DWORD boundMs);

private:
    struct Call {
        long long startedUtc = 0;
        bool returned = false;
        long long ms = 0;
        std::string result;
        bool told = false;
    };

    const int m_id;
    const IconMode m_icon;
    const ButtonMode m_button;
    KRVN::unique_handle m_process;
    KRVN::unique_handle m_quit;
    std::unique_ptr<krvn_test::LogTail> m_log;
    long m_presses = 0;
    // When it ended (UTC ms), 0 while it runs: a call cut off by its end
    // says nothing about the service.
    long long m_endedUtc = 0;
    // Each procedure is called at most once by a client.
    std::map<std::string, Call> m_calls;
};

} // namespace krvn_chaos
