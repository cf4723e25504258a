#include "substitute_server/event_log.h"

#include <cstdio>

EventLog::EventLog(const std::wstring& path, bool echo) : m_echo(echo) {
    if (!path.empty()) {
        m_file.reset(::CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    }
}

void EventLog::Write(const std::string& where, const std::string& event,
                     const std::string& details) {
    SYSTEMTIME now;
    ::GetSystemTime(&now);
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", now.wYear, now.wMonth,
                  now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds);
    std::string line = std::string(stamp) + ' ' + where + ' ' + event;
    if (!details.empty()) {
        line += ' ' + details;
    }
    line += '\n';

    std::lock_guard<std::mutex> hold(m_lock);
    if (m_file) {
        DWORD written = 0;
        ::WriteFile(m_file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }
    if (m_echo) {
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    }
}

std::string EventLog::Hex(const void* data, size_t size) {
    static const char kDigits[] = "0123456789abcdef";
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::string text;
    text.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0xF];
    }
    return text;
}

std::string EventLog::Escape(const std::string& text) {
    std::string escaped;
    for (const unsigned char c : text) {
        if (c > ' ' && c <= '~' && c != '%') {
            escaped += static_cast<char>(c);
        } else {
            char code[4];
            std::snprintf(code, sizeof code, "%%%02X", c);
            escaped += code;
        }
    }
    return escaped;
}
