#pragma once
// The process of the client whose call this thread serves.

#include <windows.h>

#include "common/unique_handle.h"

// 0 when there is no local client call on this thread, the runtime cannot
// tell its process, or the caller is this process.
DWORD CallingProcessId();

// Opened only to tell when it has ended; empty when CallingProcessId is 0.
KRVN::unique_handle CallingProcess();
