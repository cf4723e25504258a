#pragma once
// Which port names the service may open. It opens the red-button port as
// LocalSystem, so a name must be a serial device: a UNC name would hand
// the machine's credentials to another host, a pipe name would let the
// pipe's owner act as the service.

#include <string_view>

// "COMn" (any letter case, n decimal digits), "\\.\NAME" with a NAME that
// holds no path separator, or the empty name (no port).
bool IsSerialPortName(std::wstring_view name);
