#pragma once
// The ports the button test offers: COM1 to COM4, which it has always
// offered, and every serial port the machine lists, each once.

#include <string>
#include <vector>

// COM1 to COM4 and then `machinePorts`, without a name met before (letter
// case ignored; the first spelling stays), COMn by their number (COM2
// before COM12), any other name after them.
std::vector<std::wstring> OfferedPorts(const std::vector<std::wstring>& machinePorts);

// Whether two port names are the same port: equal but for letter case.
bool SamePortName(const std::wstring& left, const std::wstring& right);
