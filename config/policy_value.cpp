#include "config/policy_value.h"

#include <algorithm>

namespace KRVN {

PolicyValue<std::uint32_t> DwordPolicy(const std::optional<RegistryData>& data, std::uint32_t min,
                                       std::uint32_t max) {
    if (!data) {
        return {};
    }
    PolicyValue<std::uint32_t> policy{PolicyState::Bad};
    if (data->type != kRegistryDword || data->bytes.size() != 4) {
        return policy;
    }
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = (value << 8) | data->bytes[i];
    }
    if (value >= min && value <= max) {
        policy = {PolicyState::Set, value};
    }
    return policy;
}

PolicyValue<WString> TextPolicy(const std::optional<RegistryData>& data,
                                const std::function<bool(const WString&)>& accepted) {
    if (!data) {
        return {};
    }
    PolicyValue<WString> policy{PolicyState::Bad};
    if (data->type != kRegistryText || data->bytes.size() % 2 != 0) {
        return policy;
    }
    WString text;
    for (size_t i = 0; i < data->bytes.size(); i += 2) {
        text += static_cast<WChar>(data->bytes[i] | (data->bytes[i + 1] << 8));
    }
    const size_t end = text.find(WChar(0));
    if (end != WString::npos) {
        if (std::any_of(text.begin() + end, text.end(), [](WChar c) { return c != 0; })) {
            return policy;
        }
        text.resize(end);
    }
    if (accepted(text)) {
        policy = {PolicyState::Set, text};
    }
    return policy;
}

} // namespace KRVN
