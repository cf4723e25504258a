#include "service/settings_policy.h"

#include <utility>

#include "config/policy_key.h"
#include "config/setting_names.h"
#include "service/alarm_manager.h"
#include "service/event_text.h"
#include "service/serial_port_name.h"

namespace {

const std::wstring kPolicyKey = L"HKLM\\" + std::wstring(KRVN::kPolicyKeyPath);

std::wstring Shown(std::uint32_t value) {
    return std::to_wstring(value);
}

std::wstring Shown(const std::wstring& port) {
    return port.empty() ? L"(none)" : EventText(port);
}

// What a value holds, as a report shows it.
std::wstring Described(const KRVN::RegistryData& data) {
    const size_t size = data.bytes.size();
    if (data.type == REG_DWORD && size == 4) {
        return L"REG_DWORD " + std::to_wstring(data.bytes[0] | data.bytes[1] << 8 |
                                               data.bytes[2] << 16 |
                                               static_cast<std::uint32_t>(data.bytes[3]) << 24);
    }
    if (data.type == REG_SZ && size % 2 == 0) {
        std::wstring text;
        for (size_t i = 0; i < size; i += 2) {
            text += static_cast<wchar_t>(data.bytes[i] | data.bytes[i + 1] << 8);
        }
        text.erase(text.find_last_not_of(L'\0') + 1);
        return L"REG_SZ \"" + EventText(text) + L"\"";
    }
    return L"registry type " + std::to_wstring(data.type) + L", " + std::to_wstring(size) +
           L" bytes";
}

// Keeps what the policy says of one setting now and reports it when it
// changed: a value rewritten as it was is no change, another value the
// setting cannot take is.
template <class T>
void Update(SettingsPolicy::Reading<T>& last, SettingsPolicy::Reading<T> now, const wchar_t* name,
            const wchar_t* expected, const std::wstring& own,
            const SettingsPolicy::Report& report) {
    const bool sameBad =
        now.value.state == KRVN::PolicyState::Bad && last.value.state == KRVN::PolicyState::Bad;
    if (now.value == last.value && (!sameBad || now.data == last.data)) {
        return;
    }
    last = std::move(now);
    switch (last.value.state) {
    case KRVN::PolicyState::Set:
        report(
            {EventType::Information, MSG_POLICY_SET, {name, kPolicyKey, Shown(last.value.value)}});
        break;
    case KRVN::PolicyState::NotConfigured:
        report({EventType::Information, MSG_POLICY_REMOVED, {name, kPolicyKey, own}});
        break;
    case KRVN::PolicyState::Bad:
        report({EventType::Warning,
                MSG_POLICY_BAD,
                {name, kPolicyKey, Described(*last.data), expected, own}});
        break;
    }
}

// The policy's port name when it is one a client could set.
KRVN::PolicyValue<std::wstring> PortPolicy(const std::optional<KRVN::RegistryData>& data) {
    return KRVN::TextPolicy(data, [](const std::wstring& name) { return IsSerialPortName(name); });
}

const std::wstring kDelayExpected = L"a REG_DWORD from " +
                                    std::to_wstring(AlarmManager::kMinConnectCheckDelay) + L" to " +
                                    std::to_wstring(AlarmManager::kMaxConnectCheckDelay);

} // namespace

void SettingsPolicy::Refresh(const OwnValues& own, const Report& report) {
    auto adminOnly = KRVN::ReadPolicyData(KRVN::kAdminOnlyValue);
    Update(m_adminOnly, {adminOnly, KRVN::DwordPolicy(adminOnly, 0, 1)}, KRVN::kAdminOnlyValue,
           L"a REG_DWORD, 0 or 1", own.adminOnly, report);
    auto delay = KRVN::ReadPolicyData(KRVN::kCheckDelayValue);
    Update(m_checkDelay,
           {delay, KRVN::DwordPolicy(delay, AlarmManager::kMinConnectCheckDelay,
                                     AlarmManager::kMaxConnectCheckDelay)},
           KRVN::kCheckDelayValue, kDelayExpected.c_str(), own.checkDelay, report);
    auto port = KRVN::ReadPolicyData(KRVN::kComPortValue);
    Update(m_port, {port, PortPolicy(port)}, KRVN::kComPortValue,
           L"a REG_SZ naming a serial port of this machine", own.port, report);
}

KRVN::PolicyValue<std::uint32_t> AdminOnlyPolicy() {
    return KRVN::DwordPolicy(KRVN::ReadPolicyData(KRVN::kAdminOnlyValue), 0, 1);
}
