// The native (non-Windows) builds have no thread code page; they use
// ISO 8859-1, which maps every byte to one UTF-16 unit and back.
#include "config/ansi_codepage.h"

#include <cstdint>

namespace KRVN {

WString AnsiToWide(const std::string& text) {
    WString wide;
    wide.reserve(text.size());
    for (const char c : text) {
        wide.push_back(static_cast<WChar>(static_cast<unsigned char>(c)));
    }
    return wide;
}

std::string WideToAnsi(const WString& text) {
    std::string narrow;
    narrow.reserve(text.size());
    for (const WChar c : text) {
        narrow.push_back(static_cast<std::uint32_t>(c) <= 0xFFu ? static_cast<char>(c) : '?');
    }
    return narrow;
}

} // namespace KRVN
