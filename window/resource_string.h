#pragma once
// Strings of a module's string table.

#include <windows.h>

#include <string>

namespace KRVN {

// The entry's text, empty when the module has no such entry.
std::wstring LoadResourceString(HINSTANCE module, UINT id);

} // namespace KRVN
