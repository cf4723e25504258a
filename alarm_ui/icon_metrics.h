#pragma once
// The sizes of icons the system wants for a window: its small-icon (tray,
// list rows, caption) and icon metrics at the DPI of the window's monitor,
// so that pictures stay sharp above 100 %.

#include <windows.h>

// SM_CXSMICON at the window's DPI.
int SmallIconSize(HWND window);
// SM_CXICON at the window's DPI.
int LargeIconSize(HWND window);
