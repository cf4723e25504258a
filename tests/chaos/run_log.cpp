#include "tests/chaos/run_log.h"

#include <cstdio>
#include <iostream>

namespace krvn_chaos {

RunLog::RunLog(const std::wstring& path)
    : m_file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr)) {}

void RunLog::Write(const std::string& line) {
    // UTC, as the substitute servers' logs: a step's lines sort in with theirs.
    SYSTEMTIME now;
    ::GetSystemTime(&now);
    char stamp[16];
    std::snprintf(stamp, sizeof stamp, "%02u:%02u:%02u.%03u ", now.wHour, now.wMinute, now.wSecond,
                  now.wMilliseconds);
    const std::string text = stamp + line + "\n";
    std::lock_guard<std::mutex> hold(m_lock);
    DWORD written = 0;
    ::WriteFile(m_file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void RunLog::Show(const std::string& line) {
    Write(line);
    std::cout << line << std::endl;
}

} // namespace krvn_chaos
