#pragma once
// The serial ports of the machine as its drivers publish them under
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM: one value per port, named after the
// device (\Device\Serial0, of no use to a user), with the port's name
// ("COM12") as its data. The tray program lists them; the service takes no
// other \\.\NAME for the red button.

#include <windows.h>

#include <string>
#include <vector>

// The port names in the data of the key's REG_SZ values, in the order the
// registry gives them; empty names and values of other types are skipped.
// The key needs KEY_QUERY_VALUE.
std::vector<std::wstring> ReadSerialCommPorts(HKEY key);

// The same for the machine's SERIALCOMM key; empty when it does not exist
// (a machine without serial ports) or cannot be read.
std::vector<std::wstring> MachineSerialPorts();
