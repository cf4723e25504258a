#pragma once
// The organisation's policy for the service's settings: under
// HKLM\SOFTWARE\Policies\Corvane\Alarm, a value with a setting's own name
// (AdminOnlyConfiguration, COM, ConnectCheckDelay) wins over the service's
// setting. A value the setting cannot take (another type, out of range, a
// port name the service refuses) is ignored, and the service's own applies.
// Each change of what the policy says is reported once: set (event 60),
// removed (61), or ignored (62).

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "config/policy_value.h"
#include "service/event_reporter.h"

class SettingsPolicy {
public:
    // The service's own values, as the reports show what applies without the
    // policy.
    struct OwnValues {
        std::wstring adminOnly;
        std::wstring checkDelay;
        std::wstring port;
    };
    using Report = std::function<void(Event)>;

    // Reads the policy again and reports each setting whose policy changed
    // since the last read; the first read reports each value there is.
    void Refresh(const OwnValues& own, const Report& report);

    const KRVN::PolicyValue<std::uint32_t>& CheckDelay() const noexcept {
        return m_checkDelay.value;
    }
    const KRVN::PolicyValue<std::wstring>& Port() const noexcept { return m_port.value; }

    template <class T> struct Reading {
        std::optional<KRVN::RegistryData> data;
        KRVN::PolicyValue<T> value;
    };

private:
    Reading<std::uint32_t> m_adminOnly;
    Reading<std::uint32_t> m_checkDelay;
    Reading<std::wstring> m_port;
};

// What the policy says of AdminOnlyConfiguration now (0 or 1), read at every
// call, as the stored setting is.
KRVN::PolicyValue<std::uint32_t> AdminOnlyPolicy();
