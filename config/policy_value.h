#pragma once
// What an organisation's policy says of one setting. A value under the policy
// key is either not there (the setting is not managed), one the setting takes
// (it wins over the service's own), or one it does not take (reported, and
// the service's own applies). Plain standard C++: the registry's type code
// and bytes come in as read, so the decision also runs under the sanitizers.

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "config/wide_string.h"

namespace KRVN {

// The registry's type codes (winnt.h's REG_SZ, REG_DWORD) of the values a
// policy template writes.
inline constexpr std::uint32_t kRegistryText = 1;
inline constexpr std::uint32_t kRegistryDword = 4;

// A registry value as it is: its type and its bytes.
struct RegistryData {
    std::uint32_t type = 0;
    std::vector<std::uint8_t> bytes;

    bool operator==(const RegistryData& other) const {
        return type == other.type && bytes == other.bytes;
    }
};

enum class PolicyState { NotConfigured, Set, Bad };

template <class T> struct PolicyValue {
    PolicyState state = PolicyState::NotConfigured;
    // Only when Set.
    T value{};

    bool operator==(const PolicyValue& other) const {
        return state == other.state && value == other.value;
    }
    bool operator!=(const PolicyValue& other) const { return !(*this == other); }
};

// A REG_DWORD of exactly four bytes, from min to max.
PolicyValue<std::uint32_t> DwordPolicy(const std::optional<RegistryData>& data, std::uint32_t min,
                                       std::uint32_t max);

// A REG_SZ: UTF-16LE text up to its first zero, with nothing but zeros after
// it (a name cut at a zero would be another name), that accepted takes. The
// terminating zero may be missing, as the registry allows.
PolicyValue<WString> TextPolicy(const std::optional<RegistryData>& data,
                                const std::function<bool(const WString&)>& accepted);

} // namespace KRVN
