#pragma once
// The system's message text for a Win32 or COM result code.

#include <windows.h>

#include <string>

// The text without the line end the system appends; "error code=%u" when the
// system has no text for the code. Never fails.
std::wstring ErrorText(DWORD code);
