#include "tests/chaos/tray_client_process.h"

#include <sstream>

#include "tests/chaos/disk_fleet.h"

namespace krvn_chaos {

namespace {

constexpr DWORD kKillWaitMs = 10000;

std::wstring EventName(int id, const wchar_t* what) {
    return L"Local\\krvn-chaos-client-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
           std::to_wstring(id) + L"-" + what;
}

std::wstring Wide(const char* text) {
    std::wstring wide;
    for (; *text; ++text) {
        wide += static_cast<wchar_t>(*text);
    }
    return wide;
}

} // namespace

TrayClientProcess::TrayClientProcess(int id, IconMode icon, ButtonMode button)
    : m_id(id), m_icon(icon), m_button(button) {}

TrayClientProcess::~TrayClientProcess() {
    Kill();
}

::testing::AssertionResult TrayClientProcess::Start(const std::wstring& logPath,
                                                    const std::wstring& removed,
                                                    DWORD readyBoundMs) {
    const std::wstring readyName = EventName(m_id, L"ready");
    const std::wstring quitName = EventName(m_id, L"quit");
    const KRVN::unique_handle ready(::CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
    m_quit.reset(::CreateEventW(nullptr, TRUE, FALSE, quitName.c_str()));
    if (!ready || !m_quit) {
        return ::testing::AssertionFailure() << "CreateEventW: " << ::GetLastError();
    }
    std::wstring commandLine = L"\"" KRVN_CHAOS_TRAY_CLIENT L"\" \"" + logPath + L"\" " +
                               readyName + L" " + quitName + L" " + Wide(IconModeName(m_icon)) +
                               L" " + Wide(ButtonModeName(m_button)) + L" " + removed;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &info)) {
        return ::testing::AssertionFailure() << "CreateProcessW: " << ::GetLastError();
    }
    m_process.reset(info.hProcess);
    const KRVN::unique_handle thread(info.hThread);
    m_log = std::make_unique<krvn_test::LogTail>(logPath);
    const HANDLE handles[] = {ready.get(), m_process.get()};
    const DWORD woken = ::WaitForMultipleObjects(2, handles, FALSE, readyBoundMs);
    if (woken == WAIT_OBJECT_0) {
        return ::testing::AssertionSuccess();
    }
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(m_process.get(), &code);
    return ::testing::AssertionFailure() << "client " << m_id << " was not advised within "
                                         << readyBoundMs << " ms (exit code " << code << ")";
}

bool TrayClientProcess::Quit(DWORD boundMs) {
    if (!Alive()) {
        return false;
    }
    ::SetEvent(m_quit.get());
    if (::WaitForSingleObject(m_process.get(), boundMs) == WAIT_OBJECT_0) {
        m_endedUtc = UtcMs();
        return true;
    }
    Kill();
    return false;
}

void TrayClientProcess::Kill() {
    if (m_process && Alive()) {
        ::TerminateProcess(m_process.get(), 9);
        ::WaitForSingleObject(m_process.get(), kKillWaitMs);
        m_endedUtc = UtcMs();
    }
}

bool TrayClientProcess::Alive() const {
    return m_process && ::WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT;
}

void TrayClientProcess::Poll() {
    if (!m_log) {
        return;
    }
    for (const std::string& line : m_log->Read()) {
        std::istringstream words(line);
        long long at = 0;
        std::string event;
        std::string proc;
        words >> at >> event >> proc;
        proc = proc.compare(0, 5, "proc=") == 0 ? proc.substr(5) : std::string();
        if (event == "pressed") {
            ++m_presses;
        } else if (event == "call") {
            Call call;
            call.startedUtc = at;
            m_calls[proc] = call;
        } else if (event == "returned") {
            Call& call = m_calls[proc];
            std::string field;
            while (words >> field) {
                if (field.compare(0, 3, "hr=") == 0) {
                    call.result = field.substr(3);
                } else if (field.compare(0, 3, "ms=") == 0) {
                    call.ms = std::stoll(field.substr(3));
                }
            }
            call.returned = true;
        }
    }
}

bool TrayClientProcess::Succeeded(const std::string& proc) const {
    const auto found = m_calls.find(proc);
    return found != m_calls.end() && found->second.returned && found->second.result == "0x00000000";
}

std::vector<std::string> TrayClientProcess::TakeSlowCalls(DWORD boundMs) {
    std::vector<std::string> slow;
    const long long now = m_endedUtc != 0 ? m_endedUtc : UtcMs();
    for (auto& [proc, call] : m_calls) {
        if (call.told) {
            continue;
        }
        if (call.returned && call.ms > boundMs) {
            slow.push_back(proc + " answered after " + std::to_string(call.ms) + " ms");
            call.told = true;
        } else if (!call.returned && now - call.startedUtc > boundMs) {
            slow.push_back(proc + " unanswered after " + std::to_string(now - call.startedUtc) +
                           " ms");
            call.told = true;
        }
    }
    return slow;
}

} // namespace krvn_chaos
