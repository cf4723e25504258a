#include "service/install_settings.h"

#include <algorithm>

#include "service/alarm_manager.h"

namespace {

bool IsDecimal(std::wstring_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

// Decimal digits whose number lies in [low, high]; no sign, no blanks.
std::optional<DWORD> NumberIn(std::wstring_view text, DWORD low, DWORD high) {
    if (!IsDecimal(text)) {
        return std::nullopt;
    }
    DWORD number = 0;
    for (const wchar_t digit : text) {
        number = number * 10 + static_cast<DWORD>(digit - L'0');
        if (number > high) {
            return std::nullopt;
        }
    }
    if (number < low) {
        return std::nullopt;
    }
    return number;
}

std::wstring Refused(const SettingToken& token, const wchar_t* why) {
    return token.name + L"=" + token.value + L" is refused: " + why;
}

} // namespace

bool SplitSettingTokens(const std::vector<std::wstring>& tokens,
                        const std::vector<std::wstring_view>& known,
                        std::vector<SettingToken>& split, std::wstring& refusal) {
    std::vector<SettingToken> pairs;
    for (const std::wstring& token : tokens) {
        const std::size_t equals = token.find(L'=');
        if (equals == std::wstring::npos) {
            refusal = L"\"" + token + L"\" is refused: not NAME=value";
            return false;
        }
        SettingToken pair{token.substr(0, equals), token.substr(equals + 1)};
        if (std::find(known.begin(), known.end(), pair.name) == known.end()) {
            refusal = L"\"" + token + L"\" is refused: no setting is called " + pair.name;
            return false;
        }
        const auto same = [&](const SettingToken& other) { return other.name == pair.name; };
        if (std::any_of(pairs.begin(), pairs.end(), same)) {
            refusal = pair.name + L" is refused: given twice";
            return false;
        }
        pairs.push_back(std::move(pair));
    }
    split = std::move(pairs);
    return true;
}

bool ParseInstallSettings(const std::vector<std::wstring>& tokens, const PortNameRule& isPortName,
                          InstallSettings& settings, std::wstring& refusal) {
    std::vector<SettingToken> pairs;
    if (!SplitSettingTokens(tokens, {kComPortProperty, kAdminOnlyProperty, kCheckDelayProperty},
                            pairs, refusal)) {
        return false;
    }
    InstallSettings given;
    for (const SettingToken& pair : pairs) {
        if (pair.value.empty()) {
            continue;
        }
        if (pair.name == kComPortProperty) {
            if (!isPortName(pair.value)) {
                refusal = Refused(pair, L"not a serial port of this machine (COMn, \\\\.\\COMn, or "
                                        L"\\\\.\\NAME for a port listed under "
                                        L"HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM)");
                return false;
            }
            given.comPort = pair.value;
        } else if (pair.name == kAdminOnlyProperty) {
            if (pair.value != L"0" && pair.value != L"1") {
                refusal = Refused(pair, L"0 or 1 only");
                return false;
            }
            given.adminOnly = pair.value == L"1" ? 1 : 0;
        } else {
            given.checkDelay = NumberIn(pair.value, AlarmManager::kMinConnectCheckDelay,
                                        AlarmManager::kMaxConnectCheckDelay);
            if (!given.checkDelay) {
                refusal = Refused(pair, L"seconds from 1 to 86400, in digits");
                return false;
            }
        }
    }
    settings = std::move(given);
    return true;
}
