#pragma once
// A port name read back from the registry at the service's start, from the
// settings key or from the earlier layout's subkey, passes the check a
// client's name passes: one that names no serial port of this machine is
// reported and never opened.

#include <string>

class EventReporter;

// True when name may be watched; otherwise reports it (where it was found,
// its control characters shown as "<U+XXXX>") and returns false. keyPath
// is below HKEY_LOCAL_MACHINE.
bool IsUsableStoredPortName(const std::wstring& name, const std::wstring& keyPath,
                            EventReporter& reporter);
