#pragma once
// Finds running processes by the file name of their program, ignoring letter
// case ("Alarm.exe" for the service's stop, "explorer.exe" for the desktop
// user's token). The names come from a snapshot of the system's process list,
// so no process is opened to learn its name: only one that matches is opened,
// and only with the access the caller needs (opening every process with all
// access, the system's own among them, is what security software flags).

#include <windows.h>

#include <string>
#include <vector>

#include "common/unique_handle.h"

// OpenProcess, so that a test can see what is opened and with what access.
using OpenProcessCall = HANDLE(WINAPI*)(DWORD, BOOL, DWORD);

// The ids of every process whose program is named name; empty when none is
// or the snapshot cannot be taken.
std::vector<DWORD> FindProcessIds(const std::wstring& name);

// The first process of that name in the logon session sessionId, opened with
// access; an empty handle when there is none that can be opened.
KRVN::unique_handle FindProcessByName(const std::wstring& name, DWORD sessionId, DWORD access,
                                      OpenProcessCall open = &::OpenProcess);
