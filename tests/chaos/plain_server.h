#pragma once
// Tolvane.exe run by hand as the plain local server (registered with
// -RegServer, no service). The campaign runs the service this way rather
// than under the service manager because the alarm passes' events are its
// oracle's view of what the service believes it sent: under the service
// manager they go to the event log, which Wine keeps nothing of, while the
// plain local server prints each of them on its console, one line each,
// here into a file the campaign reads as it grows.

#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "common/unique_handle.h"

namespace krvn_chaos {

class PlainServer {
public:
    PlainServer() = default;
    ~PlainServer();
    PlainServer(const PlainServer&) = delete;
    PlainServer& operator=(const PlainServer&) = delete;

    // Starts Tolvane.exe with its console going to consolePath.
    ::testing::AssertionResult Start(const std::wstring& consolePath);
    // Ends the process if it still runs.
    void End();

    bool Running() const;
    DWORD ProcessId() const noexcept { return m_processId; }

private:
    KRVN::unique_handle m_process;
    DWORD m_processId = 0;
};

} // namespace krvn_chaos
