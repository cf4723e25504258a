#pragma once
// Placing a dialog when it opens.

#include <windows.h>

namespace KRVN {

// Centres the window over its owner when the owner is visible and not
// minimised, otherwise in the work area of the screen it is on.
void CenterWindow(HWND window);

} // namespace KRVN
