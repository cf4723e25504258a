#pragma once
// The serial ports of the machine as its drivers publish them under
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM: one value per port, named after the
// device (\Device\Serial0), with the port's name ("COM12") as its data. The
// service's own reader: the tray program has one of its own, in a layer the
// service may not use.

#include <windows.h>

#include <string>
#include <vector>

// The port names in the data of the key's REG_SZ values, read up to the
// first zero whether or not the data ends with one; empty names and values
// of other types are left out. The key needs KEY_QUERY_VALUE.
std::vector<std::wstring> SerialCommPortNames(HKEY key);

// The same for the machine's SERIALCOMM key; none when it does not exist
// (a machine without serial ports) or cannot be read.
std::vector<std::wstring> MachineSerialCommPortNames();
