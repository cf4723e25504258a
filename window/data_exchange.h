#pragma once
// Data exchange between a dialog's controls and its members: a member is
// written into its control when the dialog opens and read back when the user
// confirms.

#include <windows.h>

#include <string>

namespace KRVN {

enum class Exchange { ToControls, FromControls };

// A text field (edit control, label) and a string member.
void ExchangeText(HWND dialog, int id, std::wstring& value, Exchange direction);

// A group of radio buttons that starts with control `firstId` and runs in tab
// order up to the next control that is not a radio button or starts a new
// group; the member is the index of the checked button, -1 for none.
void ExchangeRadio(HWND dialog, int firstId, int& value, Exchange direction);

} // namespace KRVN
