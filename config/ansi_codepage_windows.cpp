#include "config/ansi_codepage.h"

#include <windows.h>

#include <climits>
#include <new>

namespace KRVN {

WString AnsiToWide(const std::string& text) {
    if (text.empty()) {
        return WString();
    }
    if (text.size() > static_cast<std::size_t>(INT_MAX)) {
        throw std::bad_alloc();
    }
    const int length = static_cast<int>(text.size());
    const int needed = MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), length, nullptr, 0);
    if (needed <= 0) {
        return WString();
    }
    WString wide(static_cast<std::size_t>(needed), L'\0');
    const int written =
        MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), length, wide.data(), needed);
    wide.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
    return wide;
}

std::string WideToAnsi(const WString& text) {
    if (text.empty()) {
        return std::string();
    }
    if (text.size() > static_cast<std::size_t>(INT_MAX)) {
        throw std::bad_alloc();
    }
    const int length = static_cast<int>(text.size());
    const int needed =
        WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        return std::string();
    }
    std::string narrow(static_cast<std::size_t>(needed), '\0');
    const int written = WideCharToMultiByte(CP_THREAD_ACP, 0, text.data(), length, narrow.data(),
                                            needed, nullptr, nullptr);
    narrow.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
    return narrow;
}

} // namespace KRVN
