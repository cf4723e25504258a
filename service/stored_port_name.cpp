#include "service/stored_port_name.h"

#include <cwchar>
#include <iterator>

#include "service/event_reporter.h"
#include "service/serial_port_name.h"

namespace {

// Whatever the registry held, the event's text stays one line of visible
// characters.
std::wstring Printable(const std::wstring& text) {
    std::wstring shown;
    shown.reserve(text.size());
    for (const wchar_t c : text) {
        if (c < L' ' || c == 0x7F) {
            wchar_t code[12];
            std::swprintf(code, std::size(code), L"<U+%04X>", static_cast<unsigned>(c));
            shown += code;
        } else {
            shown += c;
        }
    }
    return shown;
}

} // namespace

bool IsUsableStoredPortName(const std::wstring& name, const std::wstring& keyPath,
                            EventReporter& reporter) {
    if (IsSerialPortName(name)) {
        return true;
    }
    reporter.Report(
        {EventType::Warning, MSG_STORED_PORT_REFUSED, {Printable(name), L"HKLM\\" + keyPath}});
    return false;
}
