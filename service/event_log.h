#pragma once
// The service's reports of its own start and stop: information events under
// the event source named like the service, and, while the program does not
// run as a service, the same text on the console.

#include <string>
#include <string_view>

class EventLog {
public:
    // Longest text written, in characters.
    static constexpr size_t kMaxText = 255;

    explicit EventLog(std::wstring source) : m_source(std::move(source)) {}

    void SetConsole(bool on) noexcept { m_console = on; }
    // Texts longer than kMaxText are cut.
    void Log(std::wstring_view text) const;

private:
    std::wstring m_source;
    bool m_console = false;
};
