#pragma once
// The values an organisation's Group Policy writes for the service under
// HKLM\SOFTWARE\Policies\Corvane\Alarm (setting_names.h), read as they are;
// policy_value.h decides what each says.

#include <optional>

#include "config/policy_value.h"

namespace KRVN {

// The value name under the policy key, type and bytes; nothing when the key
// or the value is not there. A value that cannot be read reads as one of
// type REG_NONE, which no setting takes.
std::optional<RegistryData> ReadPolicyData(const wchar_t* name);

} // namespace KRVN
