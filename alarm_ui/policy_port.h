#pragma once
// The red-button port an organisation's policy sets: the value COM under the
// policy key, which Group Policy writes and every user may read. The service
// applies it and refuses changes to the port while it is set; the program
// only shows that the port is managed.

#include <windows.h>

#include <string>

// The port name in the key's REG_SZ value COM, up to its first null or the
// end of its data; empty when the value is missing, empty or of another type.
// The key needs KEY_QUERY_VALUE.
std::wstring ReadPolicyPort(HKEY policyKey);

// The same for the machine's policy key, opened with `open`; empty when no
// policy sets the port or the key cannot be read.
std::wstring MachinePolicyPort(decltype(&::RegOpenKeyExW) open = &::RegOpenKeyExW);
