#include "tests/chaos/plain_server.h"

namespace krvn_chaos {

namespace {

constexpr DWORD kEndWaitMs = 10000;

} // namespace

PlainServer::~PlainServer() {
    End();
}

::testing::AssertionResult PlainServer::Start(const std::wstring& consolePath) {
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    const KRVN::unique_hfile console(::CreateFileW(consolePath.c_str(), GENERIC_WRITE,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    const KRVN::unique_hfile input(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ,
                                                 &inheritable, OPEN_EXISTING, 0, nullptr));
    if (!console || !input) {
        return ::testing::AssertionFailure()
               << "cannot make the console file: " << ::GetLastError();
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.get();
    startup.hStdOutput = console.get();
    startup.hStdError = console.get();
    PROCESS_INFORMATION info{};
    std::wstring line = L"\"" KRVN_TOLVANE L"\"";
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                          &startup, &info)) {
        return ::testing::AssertionFailure() << "cannot start Tolvane.exe: " << ::GetLastError();
    }
    m_process.reset(info.hProcess);
    const KRVN::unique_handle thread(info.hThread);
    m_processId = info.dwProcessId;
    return ::testing::AssertionSuccess();
}

void PlainServer::End() {
    if (m_process) {
        ::TerminateProcess(m_process.get(), 1);
        ::WaitForSingleObject(m_process.get(), kEndWaitMs);
        m_process.reset();
    }
}

bool PlainServer::Running() const {
    return m_process && ::WaitForSingleObject(m_process.get(), 0) == WAIT_TIMEOUT;
}

} // namespace krvn_chaos
