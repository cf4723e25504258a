#pragma once
// One substitute disk server process for a test or a benchmark: started with CreateProcess
// on its own log file and stop event, ready once it logged "ready", and ended
// by its handle (stop event first, TerminateProcess if it does not obey).

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/unique_handle.h"

namespace krvn_test {

// One line of the server's log: <time> <where> <event> [key=value ...].
struct LogEvent {
    std::string time; // <date>T<hh:mm:ss.mmm>Z, UTC
    std::string where;
    std::string event;
    std::map<std::string, std::string> fields;

    std::string Field(const std::string& key) const;
};

// One line of a server's log, without its line end.
LogEvent ParseLogEvent(const std::string& line);

class SubstituteServerProcess {
public:
    SubstituteServerProcess() = default;
    ~SubstituteServerProcess();
    SubstituteServerProcess(const SubstituteServerProcess&) = delete;
    SubstituteServerProcess& operator=(const SubstituteServerProcess&) = delete;

    // Starts the server with these options (log, stop event and a lifetime
    // are added) and waits until it is ready.
    ::testing::AssertionResult Start(const std::wstring& options);
    // As Start, with the log at logPath, kept after the server has gone, and
    // a lifetime of the caller's (a run longer than a test's).
    ::testing::AssertionResult Start(const std::wstring& options, const std::wstring& logPath,
                                     int lifetimeSeconds);
    // Asks the server to stop and waits for it to end.
    ::testing::AssertionResult Stop();
    // Ends the server at once, as a crash would: calls in flight get no answer.
    ::testing::AssertionResult Kill();

    DWORD ProcessId() const noexcept { return m_processId; }
    // The port of the first TCP address the server listens on.
    std::uint16_t Port() const;
    const std::wstring& LogPath() const noexcept { return m_logPath; }

    std::vector<LogEvent> Events() const;
    std::vector<LogEvent> Events(const std::string& event) const;
    // Waits (at most timeoutMs) until at least count lines of this event are logged.
    bool WaitForEvents(const std::string& event, size_t count, DWORD timeoutMs = 5000) const;
    std::string LogText() const;

private:
    std::wstring m_logPath;
    bool m_keepLog = false;
    KRVN::unique_handle m_process;
    KRVN::unique_handle m_stopEvent;
    DWORD m_processId = 0;
};

} // namespace krvn_test
