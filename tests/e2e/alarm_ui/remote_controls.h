#pragma once
// Reading common controls that belong to another process: their messages
// carry pointers, so the structures and text buffers are placed in the
// owning process's memory and read back from there.

#include <windows.h>

#include <string>
#include <vector>

namespace krvn_e2e {

// The text of one cell of another process's list view.
std::wstring RemoteListText(HWND list, int row, int column);
int RemoteListCount(HWND list);
// Selects and focuses one row of another process's list view, as a click does.
bool RemoteListSelect(HWND list, int row);

// The texts of the balloons (tooltip windows with the balloon style) shown
// on the desktop. Their titles cannot be read this way under Wine.
std::vector<std::wstring> VisibleBalloons();

} // namespace krvn_e2e
