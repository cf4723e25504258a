#include "tests/support/substitute_server_process.h"

#include <atomic>
#include <sstream>

#include "tests/support/wait.h"

namespace krvn_test {

namespace {

constexpr DWORD kStartTimeoutMs = 20000;
constexpr DWORD kStopTimeoutMs = 10000;
// A server left behind by a crashed test ends by itself.
constexpr int kLifetimeSeconds = 180;

std::wstring UniqueName(const wchar_t* prefix) {
    static std::atomic<int> counter{0};
    return std::wstring(prefix) + std::to_wstring(::GetCurrentProcessId()) + L"-" +
           std::to_wstring(++counter);
}

} // namespace

std::string LogEvent::Field(const std::string& key) const {
    const auto found = fields.find(key);
    return found == fields.end() ? std::string() : found->second;
}

LogEvent ParseLogEvent(const std::string& line) {
    std::istringstream tokens(line);
    LogEvent event;
    tokens >> event.time >> event.where >> event.event;
    std::string field;
    while (tokens >> field) {
        const size_t equals = field.find('=');
        event.fields[field.substr(0, equals)] =
            equals == std::string::npos ? std::string() : field.substr(equals + 1);
    }
    return event;
}

SubstituteServerProcess::~SubstituteServerProcess() {
    Stop();
    if (!m_logPath.empty() && !m_keepLog) {
        ::DeleteFileW(m_logPath.c_str());
    }
}

::testing::AssertionResult SubstituteServerProcess::Start(const std::wstring& options) {
    return Start(options, std::wstring(), kLifetimeSeconds);
}

::testing::AssertionResult SubstituteServerProcess::Start(const std::wstring& options,
                                                          const std::wstring& logPath,
                                                          int lifetimeSeconds) {
    m_keepLog = !logPath.empty();
    if (m_keepLog) {
        m_logPath = logPath;
    } else {
        wchar_t temp[MAX_PATH];
        ::GetTempPathW(MAX_PATH, temp);
        m_logPath = std::wstring(temp) + UniqueName(L"substitute-") + L".log";
    }
    const std::wstring stopName = UniqueName(L"Local\\krvn-substitute-stop-");
    m_stopEvent.reset(::CreateEventW(nullptr, TRUE, FALSE, stopName.c_str()));
    if (!m_stopEvent) {
        return ::testing::AssertionFailure() << "CreateEventW: " << ::GetLastError();
    }

    std::wstring commandLine = L"\"" KRVN_SUBSTITUTE_SERVER L"\" --log \"" + m_logPath +
                               L"\" --stop-event " + stopName + L" --lifetime " +
                               std::to_wstring(lifetimeSeconds) + L" " + options;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    // Wine now and then fails a process creation with ERROR_INTERNAL_ERROR
    // that succeeds when made again.
    bool created = false;
    DWORD error = 0;
    for (int attempt = 0; attempt < 3 && !created; ++attempt) {
        created = ::CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                   nullptr, &startup, &info) != FALSE;
        error = created ? 0 : ::GetLastError();
        if (error != ERROR_INTERNAL_ERROR) {
            break;
        }
        PauseFor(200);
    }
    if (!created) {
        return ::testing::AssertionFailure() << "CreateProcessW: " << error;
    }
    m_process.reset(info.hProcess);
    const KRVN::unique_handle thread(info.hThread);
    m_processId = info.dwProcessId;

    bool ended = false;
    const bool settled = WaitUntil(
        [&] {
            if (!Events("ready").empty()) {
                return true;
            }
            ended = ::WaitForSingleObject(m_process.get(), 0) == WAIT_OBJECT_0;
            return ended;
        },
        kStartTimeoutMs, 20);
    if (settled && !ended) {
        return ::testing::AssertionSuccess();
    }
    if (ended) {
        DWORD exitCode = 0;
        ::GetExitCodeProcess(m_process.get(), &exitCode);
        m_process.reset();
        return ::testing::AssertionFailure()
               << "the substitute server ended with " << exitCode << "\n"
               << LogText();
    }
    return ::testing::AssertionFailure() << "the substitute server is not ready\n" << LogText();
}

::testing::AssertionResult SubstituteServerProcess::Stop() {
    if (!m_process) {
        return ::testing::AssertionSuccess();
    }
    ::SetEvent(m_stopEvent.get());
    const bool ended = ::WaitForSingleObject(m_process.get(), kStopTimeoutMs) == WAIT_OBJECT_0;
    if (!ended) {
        ::TerminateProcess(m_process.get(), 1);
        ::WaitForSingleObject(m_process.get(), kStopTimeoutMs);
    }
    m_process.reset();
    if (!ended) {
        return ::testing::AssertionFailure() << "the substitute server did not stop\n" << LogText();
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult SubstituteServerProcess::Kill() {
    if (!m_process) {
        return ::testing::AssertionSuccess();
    }
    const bool ended = ::TerminateProcess(m_process.get(), 9) &&
                       ::WaitForSingleObject(m_process.get(), kStopTimeoutMs) == WAIT_OBJECT_0;
    m_process.reset();
    if (!ended) {
        return ::testing::AssertionFailure() << "the substitute server could not be killed";
    }
    return ::testing::AssertionSuccess();
}

std::uint16_t SubstituteServerProcess::Port() const {
    for (const LogEvent& line : Events("listening")) {
        const size_t colon = line.where.rfind(':');
        if (line.where.compare(0, 9, "ncacn_np:") != 0 && colon != std::string::npos) {
            return static_cast<std::uint16_t>(std::stoi(line.where.substr(colon + 1)));
        }
    }
    return 0;
}

std::string SubstituteServerProcess::LogText() const {
    const KRVN::unique_hfile file(::CreateFileW(
        m_logPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string text;
    if (!file) {
        return text;
    }
    char buffer[8192];
    DWORD read = 0;
    while (::ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr) && read > 0) {
        text.append(buffer, read);
    }
    return text;
}

std::vector<LogEvent> SubstituteServerProcess::Events() const {
    std::vector<LogEvent> events;
    std::istringstream lines(LogText());
    std::string line;
    // Only whole lines: the server may be writing the last one.
    while (std::getline(lines, line) && !lines.eof()) {
        events.push_back(ParseLogEvent(line));
    }
    return events;
}

std::vector<LogEvent> SubstituteServerProcess::Events(const std::string& event) const {
    std::vector<LogEvent> matching;
    for (LogEvent& line : Events()) {
        if (line.event == event) {
            matching.push_back(std::move(line));
        }
    }
    return matching;
}

bool SubstituteServerProcess::WaitForEvents(const std::string& event, size_t count,
                                            DWORD timeoutMs) const {
    return WaitUntil([&] { return Events(event).size() >= count; }, timeoutMs, 20);
}

} // namespace krvn_test
