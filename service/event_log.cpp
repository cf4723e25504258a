#include "service/event_log.h"

#include <cstdio>

#include "com/result.h"
#include "common/unique_handle.h"

namespace {

using unique_event_source = KRVN::unique_any<KRVN::close_with<HANDLE, ::DeregisterEventSource>>;

constexpr wchar_t kSourcesKey[] = L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
constexpr DWORD kTypesSupported =
    EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;

WORD NativeType(EventType type) noexcept {
    switch (type) {
    case EventType::Error:
        return EVENTLOG_ERROR_TYPE;
    case EventType::Warning:
        return EVENTLOG_WARNING_TYPE;
    default:
        return EVENTLOG_INFORMATION_TYPE;
    }
}

HRESULT FromStatus(LSTATUS status) noexcept {
    return KRVN::HResultFromStatus(static_cast<std::int32_t>(status));
}

} // namespace

void EventLog::Report(const Event& event) {
    if (m_console) {
        // One write per event: several threads report.
        std::fwprintf(stdout, L"%ls\n", Format(event).c_str());
        std::fflush(stdout);
    }
    const unique_event_source source(::RegisterEventSourceW(nullptr, m_source.c_str()));
    if (source) {
        std::vector<const wchar_t*> strings;
        strings.reserve(event.inserts.size());
        for (const std::wstring& insert : event.inserts) {
            strings.push_back(insert.c_str());
        }
        ::ReportEventW(source.get(), NativeType(event.type), 0, event.id, nullptr,
                       static_cast<WORD>(strings.size()), 0, strings.data(), nullptr);
    }
}

std::wstring EventLog::Format(const Event& event) {
    std::vector<DWORD_PTR> arguments;
    arguments.reserve(event.inserts.size());
    for (const std::wstring& insert : event.inserts) {
        arguments.push_back(reinterpret_cast<DWORD_PTR>(insert.c_str()));
    }
    KRVN::unique_hlocal_string text;
    // A null module is this program, whose resources hold the table.
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
                             FORMAT_MESSAGE_ARGUMENT_ARRAY,
                         nullptr, event.id, 0, reinterpret_cast<wchar_t*>(text.put()), 0,
                         reinterpret_cast<va_list*>(arguments.data()));
    if (length == 0 || !text) {
        return std::wstring();
    }
    std::wstring line(text.get(), length);
    while (!line.empty() && (line.back() == L'\n' || line.back() == L'\r')) {
        line.pop_back();
    }
    return line;
}

HRESULT EventLog::RegisterSource(const std::wstring& source, const std::wstring& modulePath) {
    try {
        KRVN::unique_hkey key;
        KRVN_RETURN_IF_FAILED(
            FromStatus(::RegCreateKeyExW(HKEY_LOCAL_MACHINE, (kSourcesKey + source).c_str(), 0,
                                         nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr)));
        const auto bytes = static_cast<DWORD>((modulePath.size() + 1) * sizeof(wchar_t));
        KRVN_RETURN_IF_FAILED(
            FromStatus(::RegSetValueExW(key.get(), L"EventMessageFile", 0, REG_EXPAND_SZ,
                                        reinterpret_cast<const BYTE*>(modulePath.c_str()), bytes)));
        return FromStatus(::RegSetValueExW(key.get(), L"TypesSupported", 0, REG_DWORD,
                                           reinterpret_cast<const BYTE*>(&kTypesSupported),
                                           sizeof kTypesSupported));
    }
    KRVN_CATCH_RETURN()
}

HRESULT EventLog::UnregisterSource(const std::wstring& source) {
    try {
        const LSTATUS status = ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, (kSourcesKey + source).c_str());
        return status == ERROR_FILE_NOT_FOUND ? S_OK : FromStatus(status);
    }
    KRVN_CATCH_RETURN()
}
