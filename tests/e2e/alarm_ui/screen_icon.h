#pragma once
// Finding a program's icon on the screen, as a user looks at the
// notification area: the icon is drawn the way the system draws it, and its
// opaque pixels are searched for in a band of the screen. A balloon's stem
// may cover a corner of the icon, so three quarters of them must match.

#include <windows.h>

#include <string>

namespace krvn_e2e {

// Whether the 16-pixel icon `iconId` of the program file shows anywhere in
// the bottom `band` rows of the screen.
bool IconOnScreen(const std::wstring& programPath, int iconId, int band);

} // namespace krvn_e2e
