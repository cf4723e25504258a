#pragma once
// The module that holds the program's strings, dialogs, menus and icons: its
// own executable.

#include <windows.h>

inline HINSTANCE ResourceInstance() {
    return ::GetModuleHandleW(nullptr);
}
