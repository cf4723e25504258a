#pragma once
// printf-style formatting into a wide string, with the Windows meaning of
// %s in wide formats (a wide string).

#include <windows.h>

#include <string>

#include "com/bstr.h"

std::wstring FormatText(const wchar_t* format, ...);

// A server's port as the program shows it: decimal, empty for port 0 (the
// authorised connection).
std::wstring PortText(ULONG port);

// The text a BSTR holds, empty for none.
std::wstring BstrText(const KRVN::unique_bstr& text);
