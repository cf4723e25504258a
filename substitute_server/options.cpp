#include "substitute_server/options.h"

#include <cstring>
#include <cwchar>
#include <cwctype>

const wchar_t* const kUsage =
    L"usage: substitute_server --log FILE [--echo]\n"
    L"         [--listen FIRST[-LAST]:PORT]...\n"
    L"         [--password TEXT] [--also-accept TEXT]... [--refuse]\n"
    L"         [--reply yes|yes-crlf|YES|ye|none|split|silent] [--reply-delay MS]\n"
    L"         [--extra TEXT] [--extra-after MS]\n"
    L"         [--close-after MS] [--reset-after MS]\n"
    L"         [--rpc] [--open-result N] [--rpc-hang open|alarm] [--rpc-hang-after N]\n"
    L"         [--stop-event NAME] [--lifetime SECONDS]\n";

namespace {

bool ParseNumber(const std::wstring& text, long long low, long long high, long long& value) {
    if (text.empty()) {
        return false;
    }
    wchar_t* end = nullptr;
    const long long parsed = std::wcstoll(text.c_str(), &end, 10);
    if (*end != L'\0' || parsed < low || parsed > high) {
        return false;
    }
    value = parsed;
    return true;
}

bool ParseAddress(const std::wstring& text, std::uint32_t& address) {
    std::uint32_t result = 0;
    size_t position = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (position >= text.size() || text[position] != L'.') {
                return false;
            }
            ++position;
        }
        const size_t start = position;
        while (position < text.size() && std::iswdigit(text[position])) {
            ++position;
        }
        long long octet = 0;
        if (position - start > 3 ||
            !ParseNumber(text.substr(start, position - start), 0, 255, octet)) {
            return false;
        }
        result = (result << 8) | static_cast<std::uint32_t>(octet);
    }
    if (position != text.size()) {
        return false;
    }
    address = result;
    return true;
}

bool ParseListen(const std::wstring& text, ListenRange& range) {
    const size_t colon = text.rfind(L':');
    long long port = 0;
    if (colon == std::wstring::npos || !ParseNumber(text.substr(colon + 1), 0, 65535, port)) {
        return false;
    }
    const std::wstring addresses = text.substr(0, colon);
    const size_t dash = addresses.find(L'-');
    if (!ParseAddress(addresses.substr(0, dash), range.first)) {
        return false;
    }
    range.last = range.first;
    if (dash != std::wstring::npos && !ParseAddress(addresses.substr(dash + 1), range.last)) {
        return false;
    }
    range.port = static_cast<std::uint16_t>(port);
    return range.first <= range.last;
}

// The names --reply takes, which the log's reply= field shows too.
constexpr struct {
    const char* name;
    ReplyMode mode;
} kReplyModes[] = {{"yes", ReplyMode::Yes},      {"yes-crlf", ReplyMode::YesCrlf},
                   {"YES", ReplyMode::Upper},    {"ye", ReplyMode::Short},
                   {"none", ReplyMode::None},    {"split", ReplyMode::Split},
                   {"silent", ReplyMode::Silent}};

// Text with %XX escapes (as the log writes bytes) as the bytes it stands for;
// false for anything but printable ASCII and well-formed escapes.
bool ParseEscaped(const std::wstring& text, std::string& bytes) {
    bytes.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L'%') {
            if (i + 2 >= text.size() || !std::iswxdigit(text[i + 1]) ||
                !std::iswxdigit(text[i + 2])) {
                return false;
            }
            bytes += static_cast<char>(std::wcstol(text.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else if (c > L' ' && c <= L'~') {
            bytes += static_cast<char>(c);
        } else {
            return false;
        }
    }
    return true;
}

bool ParseReply(const std::wstring& text, ReplyMode& mode) {
    for (const auto& entry : kReplyModes) {
        if (text == std::wstring(entry.name, entry.name + std::strlen(entry.name))) {
            mode = entry.mode;
            return true;
        }
    }
    return false;
}

} // namespace

const char* ReplyName(ReplyMode mode) {
    for (const auto& entry : kReplyModes) {
        if (entry.mode == mode) {
            return entry.name;
        }
    }
    return "?";
}

bool ParseOptions(int argc, const wchar_t* const* argv, Options& options, std::wstring& error) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring name = argv[i];
        const auto needValue = [&](std::wstring& value) {
            if (i + 1 >= argc) {
                error = name + L" needs a value";
                return false;
            }
            value = argv[++i];
            return true;
        };
        if (name == L"--echo") {
            options.echo = true;
            continue;
        }
        if (name == L"--refuse") {
            options.refuse = true;
            continue;
        }
        if (name == L"--rpc") {
            options.rpc = true;
            continue;
        }
        static const wchar_t* const kValueOptions[] = {
            L"--log",         L"--password",    L"--stop-event",     L"--listen",
            L"--reply",       L"--close-after", L"--reset-after",    L"--open-result",
            L"--lifetime",    L"--rpc-hang",    L"--rpc-hang-after", L"--also-accept",
            L"--reply-delay", L"--extra",       L"--extra-after"};
        bool known = false;
        for (const wchar_t* option : kValueOptions) {
            known = known || name == option;
        }
        if (!known) {
            error = L"unknown option " + name;
            return false;
        }
        std::wstring value;
        long long number = 0;
        if (!needValue(value)) {
            return false;
        }
        if (name == L"--log") {
            options.logPath = value;
        } else if (name == L"--password") {
            options.password = value;
        } else if (name == L"--also-accept") {
            options.alsoAccepted.push_back(value);
        } else if (name == L"--extra") {
            if (!ParseEscaped(value, options.extra) || options.extra.empty()) {
                error = L"bad --extra " + value + L" (printable ASCII, %XX for other bytes)";
                return false;
            }
        } else if (name == L"--stop-event") {
            options.stopEvent = value;
        } else if (name == L"--listen") {
            ListenRange range;
            if (!ParseListen(value, range)) {
                error = L"bad --listen " + value + L" (FIRST[-LAST]:PORT, IPv4)";
                return false;
            }
            options.listen.push_back(range);
        } else if (name == L"--reply") {
            if (!ParseReply(value, options.reply)) {
                error = L"bad --reply " + value;
                return false;
            }
        } else if (name == L"--close-after" || name == L"--reset-after" ||
                   name == L"--reply-delay" || name == L"--extra-after") {
            if (!ParseNumber(value, 0, 3600000, number)) {
                error = L"bad " + name + L" " + value + L" (milliseconds)";
                return false;
            }
            int& field = name == L"--close-after"   ? options.closeAfterMs
                         : name == L"--reset-after" ? options.resetAfterMs
                         : name == L"--reply-delay" ? options.replyDelayMs
                                                    : options.extraAfterMs;
            field = static_cast<int>(number);
        } else if (name == L"--rpc-hang") {
            if (value != L"open" && value != L"alarm") {
                error = L"bad --rpc-hang " + value + L" (open or alarm)";
                return false;
            }
            options.rpcHang = value == L"open" ? RpcHang::Open : RpcHang::Alarm;
        } else if (name == L"--rpc-hang-after") {
            if (!ParseNumber(value, 0, INT32_MAX, number)) {
                error = L"bad --rpc-hang-after " + value;
                return false;
            }
            options.rpcHangAfter = static_cast<int>(number);
        } else if (name == L"--open-result") {
            if (!ParseNumber(value, INT32_MIN, INT32_MAX, number)) {
                error = L"bad --open-result " + value;
                return false;
            }
            options.openResultGiven = true;
            options.openResult = static_cast<long>(number);
        } else {
            if (!ParseNumber(value, 1, 86400, number)) {
                error = L"bad --lifetime " + value + L" (seconds)";
                return false;
            }
            options.lifetimeSeconds = static_cast<int>(number);
        }
    }
    if (options.logPath.empty() && !options.echo) {
        error = L"give --log FILE or --echo";
        return false;
    }
    if (options.rpcHang != RpcHang::None && !options.rpc) {
        error = L"--rpc-hang needs --rpc";
        return false;
    }
    if (options.listen.empty() && !options.rpc) {
        error = L"nothing to serve: give --listen or --rpc";
        return false;
    }
    return true;
}
