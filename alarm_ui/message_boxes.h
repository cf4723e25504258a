#pragma once
// The program's message boxes: modal, captioned "Quendor Alarm", owned by
// the given window (none when null). Each returns the button pressed.
//
// Flags in use: MB_ICONERROR for failed service calls, MB_ICONWARNING for
// rejected input, MB_YESNO | MB_ICONQUESTION for confirmations.

#include <windows.h>

#include <string>

// "<prefix>Ошибка : <ErrorText(code)>(<code as %#x>)"; the prefix is as a
// rule the name of the failed call.
std::wstring CallErrorText(const std::wstring& prefix, HRESULT code);

// CallErrorText in a box.
int ShowCallError(HWND owner, const std::wstring& prefix, HRESULT code, UINT flags);

// A string-table entry; with an owner and a control id (non-zero) the
// keyboard focus moves to that control once the box is closed.
int ShowStringBox(HWND owner, UINT stringId, int focusControl, UINT flags);

// The same with a ready text.
int ShowTextBox(HWND owner, const std::wstring& text, int focusControl, UINT flags);

// A string-table entry used as the format, with ErrorText(code) and the code.
int ShowCodeBox(HWND owner, UINT stringId, HRESULT code, UINT flags);
