#pragma once
// Which port names the service may open. It opens the red-button port as
// LocalSystem, read and write, every few seconds while it fails, so a name
// must be a serial port: a disk, a volume or a tape would be opened as the
// service, a UNC name would hand the machine's credentials to another host,
// a pipe name would let the pipe's owner act as the service.

#include <string>
#include <string_view>
#include <vector>

// "COMn" (any letter case, n a number from 1 without leading zeros),
// "\\.\COMn", "\\.\NAME" with NAME one of machinePorts (any letter case), or
// the empty name (no port).
bool IsSerialPortName(std::wstring_view name, const std::vector<std::wstring>& machinePorts);

// The same against the ports the machine lists under
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, read when the name needs them.
bool IsSerialPortName(std::wstring_view name);
