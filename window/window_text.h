#pragma once
// Reading a window's text into a string.

#include <windows.h>

#include <string>

namespace KRVN {

// The whole text of the window (a control's contents), empty for no window.
std::wstring GetWindowTextString(HWND window);

} // namespace KRVN
