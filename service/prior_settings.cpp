#include "service/prior_settings.h"

#include <algorithm>
#include <string_view>

#include "config/setting_names.h"
#include "service/install_settings.h"

namespace {

// Each package property and the registry value it sets.
struct PropertyValue {
    std::wstring_view property;
    std::wstring_view value;
};
constexpr PropertyValue kWritten[] = {{kComPortProperty, KRVN::kComPortValue},
                                      {kAdminOnlyProperty, KRVN::kAdminOnlyValue},
                                      {kCheckDelayProperty, KRVN::kCheckDelayValue}};

const SettingToken* Find(const std::vector<SettingToken>& pairs, std::wstring_view name) {
    const auto found = std::find_if(pairs.begin(), pairs.end(),
                                    [&](const SettingToken& pair) { return pair.name == name; });
    return found == pairs.end() ? nullptr : &*found;
}

// A REG_DWORD as RegLocator writes it: '#', an optional sign, digits.
std::optional<DWORD> RawNumber(std::wstring_view raw) {
    std::wstring_view digits = raw.substr(1);
    const bool negative = !digits.empty() && digits.front() == L'-';
    if (!digits.empty() && (digits.front() == L'-' || digits.front() == L'+')) {
        digits.remove_prefix(1);
    }
    if (digits.empty() || digits.size() > 10 ||
        !std::all_of(digits.begin(), digits.end(),
                     [](wchar_t c) { return c >= L'0' && c <= L'9'; })) {
        return std::nullopt;
    }
    unsigned long long number = 0;
    for (const wchar_t digit : digits) {
        number = number * 10 + static_cast<unsigned>(digit - L'0');
    }
    if (number > 0xFFFFFFFFull) {
        return std::nullopt;
    }
    const auto word = static_cast<DWORD>(number);
    return negative ? static_cast<DWORD>(0u - word) : word;
}

} // namespace

bool ParsePriorSettings(const std::vector<std::wstring>& tokens, std::vector<PriorValue>& prior,
                        std::wstring& refusal) {
    std::vector<std::wstring_view> known;
    for (const PropertyValue& written : kWritten) {
        known.push_back(written.property);
        known.push_back(written.value);
    }
    std::vector<SettingToken> pairs;
    if (!SplitSettingTokens(tokens, known, pairs, refusal)) {
        return false;
    }
    std::vector<PriorValue> values;
    for (const PropertyValue& written : kWritten) {
        const SettingToken* given = Find(pairs, written.property);
        if (!given || given->value.empty()) {
            continue;
        }
        PriorValue value{std::wstring(written.value), std::nullopt, std::nullopt};
        const SettingToken* raw = Find(pairs, written.value);
        if (!raw || raw->value.empty()) {
            values.push_back(std::move(value));
            continue;
        }
        if (raw->value.front() != L'#') {
            value.text = raw->value;
        } else if (raw->value.size() > 1 && raw->value[1] == L'#') {
            value.text = raw->value.substr(1);
        } else {
            value.number = RawNumber(raw->value);
            if (!value.number) {
                refusal = raw->name + L"=" + raw->value +
                          L" is refused: only a REG_DWORD or a REG_SZ can be put back";
                return false;
            }
        }
        values.push_back(std::move(value));
    }
    prior = std::move(values);
    return true;
}
