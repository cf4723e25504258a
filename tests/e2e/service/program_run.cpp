#include "tests/e2e/service/program_run.h"

#include <atomic>

#include "common/unique_handle.h"

namespace krvn_e2e {

namespace {

std::wstring OutputPath() {
    static std::atomic<int> counter{0};
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"krvn-run-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
           std::to_wstring(++counter) + L".txt";
}

std::string ReadAll(HANDLE file) {
    ::SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    std::string text;
    char buffer[8192];
    DWORD read = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
        text.append(buffer, read);
    }
    return text;
}

} // namespace

ProgramResult RunProgram(const std::wstring& commandLine, DWORD timeoutMs, HANDLE token) {
    ProgramResult result;
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    const KRVN::unique_hfile output(
        ::CreateFileW(OutputPath().c_str(), GENERIC_READ | GENERIC_WRITE,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, CREATE_ALWAYS,
                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    const KRVN::unique_hfile input(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ,
                                                 &inheritable, OPEN_EXISTING, 0, nullptr));
    if (!output || !input) {
        result.output = "cannot make the output file";
        return result;
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input.get();
    startup.hStdOutput = output.get();
    startup.hStdError = output.get();
    PROCESS_INFORMATION info{};
    std::wstring line = commandLine;
    const BOOL started = token
                             ? ::CreateProcessAsUserW(token, nullptr, line.data(), nullptr, nullptr,
                                                      TRUE, 0, nullptr, nullptr, &startup, &info)
                             : ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0,
                                                nullptr, nullptr, &startup, &info);
    if (!started) {
        result.output = "CreateProcessW failed: " + std::to_string(::GetLastError());
        return result;
    }
    const KRVN::unique_handle process(info.hProcess);
    const KRVN::unique_handle thread(info.hThread);
    result.finished = ::WaitForSingleObject(process.get(), timeoutMs) == WAIT_OBJECT_0;
    if (!result.finished) {
        ::TerminateProcess(process.get(), 1);
        ::WaitForSingleObject(process.get(), 5000);
    }
    ::GetExitCodeProcess(process.get(), &result.exitCode);
    result.output = ReadAll(output.get());
    return result;
}

} // namespace krvn_e2e
