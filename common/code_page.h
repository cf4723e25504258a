#pragma once
// Conversions between UTF-16 and a narrow code page: CP_THREAD_ACP (the ANSI
// code page of the calling thread's locale), CP_ACP or CP_UTF8. Characters
// that the code page cannot express are replaced, never dropped.

#include <windows.h>

#include <climits>
#include <new>
#include <string>
#include <string_view>

namespace KRVN {

// Into `narrow`, sized once, so that a secret leaves no stray copy behind.
inline void WideToCodePage(UINT codePage, std::wstring_view text, std::string& narrow) {
    narrow.clear();
    if (text.empty()) {
        return;
    }
    if (text.size() > static_cast<std::size_t>(INT_MAX)) {
        throw std::bad_alloc();
    }
    const int length = static_cast<int>(text.size());
    const int needed =
        ::WideCharToMultiByte(codePage, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        return;
    }
    narrow.resize(static_cast<std::size_t>(needed));
    const int written = ::WideCharToMultiByte(codePage, 0, text.data(), length, narrow.data(),
                                              needed, nullptr, nullptr);
    narrow.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
}

inline std::string WideToCodePage(UINT codePage, std::wstring_view text) {
    std::string narrow;
    WideToCodePage(codePage, text, narrow);
    return narrow;
}

inline std::wstring CodePageToWide(UINT codePage, std::string_view text) {
    if (text.empty()) {
        return std::wstring();
    }
    if (text.size() > static_cast<std::size_t>(INT_MAX)) {
        throw std::bad_alloc();
    }
    const int length = static_cast<int>(text.size());
    const int needed = ::MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    if (needed <= 0) {
        return std::wstring();
    }
    std::wstring wide(static_cast<std::size_t>(needed), L'\0');
    const int written =
        ::MultiByteToWideChar(codePage, 0, text.data(), length, wide.data(), needed);
    wide.resize(written > 0 ? static_cast<std::size_t>(written) : 0);
    return wide;
}

} // namespace KRVN
